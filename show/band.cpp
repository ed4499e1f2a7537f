#include "show/band.h"

ColourBand colourBand;

namespace {

constexpr float stopPositions[11] = {0.00001f, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f,
                                     0.6f,     0.7f, 0.8f, 0.9f, 0.99f};
constexpr int32_t firstEntry = 2;
constexpr int32_t lastEntry = 317;

} // namespace

void buildColourTable(const int32_t* colourRecords) {
    createImage(colourTableImage, 10, 322);
    beginDrawing(imageTarget(colourTableImage));
    setDrawingMode(gradientMode);
    const int32_t* record = colourRecords;
    for (float position : stopPositions) {
        const int32_t red = *record++;
        const int32_t green = *record++;
        const int32_t blue = *record++;
        addGradientStop(position, rgb(red, green, blue));
    }
    setLinearGradient(5, 0, 5, 320);
    drawBox(0, 0, 10, 320);
    for (int32_t y = 1; y <= 320; ++y) colourBand.colourTable[y] = readPixel(2, y);
    endDrawing();
}

void drawColourBand() {
    colourBand.bandIndex += 1;
    if (colourBand.bandIndex > lastEntry) colourBand.bandIndex = firstEntry;
    drawTinted(bandSprite, 0, 200, 255, colourBand.colourTable[colourBand.bandIndex]);
}
