#include "eeprom/corvane_ee.h"
