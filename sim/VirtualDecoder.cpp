#include "sim/VirtualDecoder.h"
