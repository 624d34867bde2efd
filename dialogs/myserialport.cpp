#include "myserialport.h"
