// Three layers of grey stars drifting right at three speeds behind everything else of the show.
#pragma once

#include <cstdint>

struct StarLayers {
    int32_t starX[3]; // offsets of the far, middle and near layer, 0 to 639
};

extern StarLayers starLayers;

constexpr int32_t starSprites[3] = {3500, 3501, 3502};

// Makes the three 640 x 280 layer sprites and scatters 64 stars of 2 x 2 pixels over each.
int32_t buildStarLayers();
// Draws the layers (each twice, side by side) at rows 160-439 and moves them on.
int32_t drawStarLayers();
