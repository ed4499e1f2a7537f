#include "show/stars.h"

#include "gfx/gfx.h"

StarLayers starLayers;

namespace {

constexpr int32_t layerWidth = 640;
constexpr int32_t layerHeight = 280;
constexpr int32_t layerTop = 160;
constexpr int32_t starsPerLayer = 64;
constexpr int32_t speeds[3] = {2, 4, 6};

Colour layerGrey(int layer) {
    static constexpr int32_t levels[3] = {64, 128, 224};
    return rgb(levels[layer], levels[layer], levels[layer]);
}

} // namespace

int32_t buildStarLayers() {
    for (int32_t id : starSprites) createSprite(id, layerWidth, layerHeight);
    for (int layer = 0; layer < 3; ++layer) {
        beginDrawing(spriteTarget(starSprites[layer]));
        for (int n = 0; n < starsPerLayer; ++n) {
            const Colour grey = layerGrey(layer);
            const int32_t y = randomInt(layerHeight); // y is drawn before x
            const int32_t x = randomInt(layerWidth);
            drawBox(x, y, 2, 2, grey);
        }
        endDrawing();
    }
    return 0;
}

int32_t drawStarLayers() {
    for (int layer = 0; layer < 3; ++layer) {
        int32_t& offset = starLayers.starX[layer];
        drawKeyed(starSprites[layer], offset, layerTop);
        drawKeyed(starSprites[layer], offset - layerWidth, layerTop);
    }
    for (int layer = 0; layer < 3; ++layer) {
        int32_t& offset = starLayers.starX[layer];
        offset += speeds[layer];
        if (offset >= layerWidth) offset = 0;
    }
    return 0;
}
