#include "sonicdisplay.h"
