#include "xlsxdocument.h"
