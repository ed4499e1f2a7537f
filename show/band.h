// A page of credit lines drawn as a one-colour silhouette whose colour cycles through a table read
// back from a vertical gradient.
#pragma once

#include "gfx/gfx.h"

#include <cstdint>

struct ColourBand {
    Colour colourTable[322]; // entries 1-320 filled; 0 and 321 never used
    int32_t bandIndex;
};

extern ColourBand colourBand;

constexpr int32_t bandSprite = 3001;
constexpr ImageId colourTableImage = 100;

// Paints the gradient of the eleven colour records (33 values: red, green, blue each) into image
// 100 and reads one pixel of each row back into the table.
void buildColourTable(const int32_t* colourRecords);
void drawColourBand();
