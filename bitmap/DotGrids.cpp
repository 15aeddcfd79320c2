#include "bitmap/DotGrids.h"

uint8_t UserCharColumns[UserCharColumnCount] = {};
uint8_t BitmapColumns[BitmapColumnCount] = {};
