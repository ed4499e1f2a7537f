#include "headless_fixture.h"

namespace {

using ImageTest = HeadlessTest;

uint32_t colourOf(int r, int g, int b) {
    return static_cast<uint32_t>(rgb(r, g, b));
}

TEST_F(ImageTest, FreshImageIsBlack) {
    ASSERT_NE(createImage(7, 10, 4), 0);
    ASSERT_NE(beginDrawing(imageTarget(7)), 0);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 10; ++x) EXPECT_EQ(readPixel(x, y), 0);
    EXPECT_EQ(readPixel(10, 0), 0); // outside: 0, no access
    endDrawing();
    EXPECT_EQ(imageTarget(8), 0);
}

TEST_F(ImageTest, StopsAtAnEqualPositionReplaceTheColour) {
    createImage(1, 4, 3);
    beginDrawing(imageTarget(1));
    setDrawingMode(gradientMode);
    addGradientStop(0.5f, rgb(10, 0, 0));
    addGradientStop(0.5f, rgb(0, 20, 0)); // replaces the first
    setLinearGradient(0, 0, 0, 2);
    drawBox(0, 0, 4, 3);
    // Row 1 lies exactly on the one stop; row 2 at t = 1 blends fully into white.
    EXPECT_EQ(static_cast<uint32_t>(readPixel(0, 1)), colourOf(0, 20, 0));
    EXPECT_EQ(static_cast<uint32_t>(readPixel(3, 2)), colourOf(255, 255, 255));
    EXPECT_EQ(readPixel(0, 0), 0);
    endDrawing();
}

TEST_F(ImageTest, BackdropGradientRows) {
    const Colour c1 = rgb(200, 100, 50), c2 = rgb(20, 40, 240);
    createImage(1000, 340, 120);
    beginDrawing(imageTarget(1000));
    drawBox(0, 0, 340, 120, 0);
    setDrawingMode(gradientMode);
    addGradientStop(0.5f, c1);
    addGradientStop(0.99f, c2);
    setLinearGradient(170, 0, 170, 120);
    drawBox(0, 0, 340, 120);
    EXPECT_EQ(readPixel(0, 0), 0);
    EXPECT_EQ(readPixel(339, 60), c1);
    // Row 118: t = 0.98333, between the two stops.
    const double f118 =
        static_cast<float>((static_cast<double>(static_cast<float>(118.0 / 120.0)) - 0.5f) /
                           (static_cast<double>(0.99f) - 0.5f));
    const uint32_t r118 = static_cast<uint32_t>(20 * f118 + 200 * (1 - f118));
    EXPECT_EQ(static_cast<uint32_t>(readPixel(5, 118)) & 0xFF, r118);
    // Row 119: t = 0.99167, beyond the last stop, towards white.
    const uint32_t p119 = static_cast<uint32_t>(readPixel(5, 119));
    EXPECT_GE(p119 & 0xFF, 20u);
    EXPECT_GT((p119 >> 16) & 0xFF, 240u);
    endDrawing();
}

TEST_F(ImageTest, DrawImageCopiesAndClips) {
    openScreen(8, 8);
    createImage(3, 4, 4);
    beginDrawing(imageTarget(3));
    drawBox(0, 0, 4, 4, rgb(1, 2, 3));
    endDrawing();
    beginDrawing(screenTarget());
    drawImage(imageHandle(3), 6, -2);
    endDrawing();
    EXPECT_EQ(pixel(6, 0), colourOf(1, 2, 3));
    EXPECT_EQ(pixel(7, 1), colourOf(1, 2, 3));
    EXPECT_EQ(pixel(7, 2), 0u);
    EXPECT_EQ(pixel(5, 0), 0u);
}

TEST_F(ImageTest, StopsDoNothingOnTheScreenTarget) {
    openScreen(4, 4);
    beginDrawing(screenTarget());
    setDrawingMode(gradientMode);
    addGradientStop(0.5f, rgb(255, 0, 0));
    setLinearGradient(0, 0, 0, 4);
    drawBox(0, 0, 4, 4);
    endDrawing();
    // No stops: from the back colour (black) to the front colour (white).
    EXPECT_EQ(pixel(0, 0), 0u);
    EXPECT_EQ(pixel(0, 2) & 0xFF, 127u);
}

} // namespace
