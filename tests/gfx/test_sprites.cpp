#include "headless_fixture.h"

#include <vector>

namespace {

using SpriteTest = HeadlessTest;

// A sprite filled with one colour through the drawing services.
void makeFilledSprite(SpriteId id, int32_t w, int32_t h, Colour c) {
    createSprite(id, w, h);
    beginDrawing(spriteTarget(id));
    drawBox(0, 0, w, h, c);
    endDrawing();
}

TEST_F(SpriteTest, ClipRectangleIsClampedInsideTheSprite) {
    struct Case {
        int32_t x, y, w, h;
        ClipRect expected;
    };
    const Case cases[] = {
        {-20, 0, 32, 44, {0, 0, 32, 44}},   // x below 0 becomes 0, width kept
        {620, 0, 32, 44, {620, 0, 20, 44}}, // cut at the right edge
        {700, 0, 32, 44, {640, 0, 0, 44}},  // beyond the sprite: empty
        {-1, -1, -1, -1, {0, 0, 640, 45}},  // -1 means "all"
        {5, 50, -7, 10, {5, 45, 0, 0}},     // negative width 0, y clamped to the height
        {0, 40, 640, 44, {0, 40, 640, 5}},
        {2147483000, 0, 2147483000, 1, {640, 0, 0, 1}}, // no overflow in x + width
    };
    makeFilledSprite(2000, 640, 45, rgb(10, 20, 30));
    for (const auto& c : cases) {
        clipSprite(2000, c.x, c.y, c.w, c.h);
        int32_t fw = 0, fh = 0;
        ClipRect r;
        ASSERT_TRUE(spriteInfo(2000, fw, fh, r));
        EXPECT_EQ(r.x, c.expected.x) << c.x << "," << c.y << "," << c.w << "," << c.h;
        EXPECT_EQ(r.y, c.expected.y);
        EXPECT_EQ(r.width, c.expected.width);
        EXPECT_EQ(r.height, c.expected.height);
        EXPECT_EQ(spriteWidth(2000), c.expected.width);
        EXPECT_EQ(spriteHeight(2000), c.expected.height);
    }
}

TEST_F(SpriteTest, EmptyClipDrawsNothing) {
    openScreen(640, 480);
    makeFilledSprite(2000, 640, 45, rgb(10, 20, 30));
    clipSprite(2000, 700, 0, 32, 44);
    drawOpaque(2000, 0, 0);
    drawKeyed(2000, 0, 0);
    drawTinted(2000, 0, 0, 255, rgb(1, 2, 3));
    for (int32_t x = 0; x < 640; ++x) ASSERT_EQ(pixel(x, 0), 0u);
}

TEST_F(SpriteTest, DrawsClipTheScreenEdgesExactly) {
    openScreen(640, 480);
    createSprite(7, 640, 4);
    beginDrawing(spriteTarget(7));
    for (int32_t x = 0; x < 640; ++x) drawBox(x, 0, 1, 4, rgb(x & 255, x >> 8, 1));
    endDrawing();

    drawKeyed(7, -640, 10); // wholly left of the screen
    for (int32_t x = 0; x < 640; ++x) ASSERT_EQ(pixel(x, 10), 0u);

    drawKeyed(7, -639, 10); // only column 0, from the sprite's column 639
    EXPECT_EQ(pixel(0, 10), static_cast<uint32_t>(rgb(639 & 255, 639 >> 8, 1)));
    for (int32_t x = 1; x < 640; ++x) ASSERT_EQ(pixel(x, 10), 0u);

    drawOpaque(7, 637, 478); // bottom-right corner: 3 columns, 2 rows
    EXPECT_EQ(pixel(639, 479), static_cast<uint32_t>(rgb(2, 0, 1)));
    EXPECT_EQ(pixel(637, 478), static_cast<uint32_t>(rgb(0, 0, 1)));
    EXPECT_EQ(pixel(636, 478), 0u);

    for (auto [x, y] : {std::pair{640, 0}, {0, 480}, {-2147483647, 0}, {2147483647, 2147483647}})
        drawOpaque(7, x, y); // misses: no change, no out-of-bounds access
}

TEST_F(SpriteTest, BlankSpriteIsTransparentWhenKeyedAndBlackWhenOpaque) {
    openScreen(64, 64);
    paintScreen(rgb(50, 60, 70));
    createSprite(3600, 16, 8);
    drawKeyed(3600, 4, 4);
    drawTinted(3600, 4, 4, 255, rgb(255, 0, 0));
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 64; ++x) ASSERT_EQ(pixel(x, y), 0x463C32u);
    drawOpaque(3600, 4, 4);
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 64; ++x) {
            bool inside = x >= 4 && x < 20 && y >= 4 && y < 12;
            ASSERT_EQ(pixel(x, y), inside ? 0u : 0x463C32u) << x << "," << y;
        }
}

TEST_F(SpriteTest, KeyedAndTintedDrawsUseTheKeyColour) {
    openScreen(32, 8);
    paintScreen(rgb(9, 9, 9));
    createSprite(5, 4, 1);
    beginDrawing(spriteTarget(5));
    drawBox(1, 0, 1, 1, rgb(255, 255, 255));
    drawBox(3, 0, 1, 1, rgb(0, 0, 200));
    endDrawing();
    drawKeyed(5, 0, 0);
    EXPECT_EQ(pixel(0, 0), 0x090909u);
    EXPECT_EQ(pixel(1, 0), 0xFFFFFFu);
    EXPECT_EQ(pixel(2, 0), 0x090909u);
    EXPECT_EQ(pixel(3, 0), 0xC80000u);

    drawTinted(5, 0, 1, 255, rgb(0, 0, 224)); // the sprite is only a mask
    EXPECT_EQ(pixel(0, 1), 0x090909u);
    EXPECT_EQ(pixel(1, 1), 0xE00000u);
    EXPECT_EQ(pixel(3, 1), 0xE00000u);

    drawTinted(5, 0, 2, 255, noColour); // no colour: exactly the keyed draw
    for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(pixel(x, 2), pixel(x, 0));

    setKeyColour(5, rgb(255, 255, 255)); // white becomes transparent, black opaque
    drawKeyed(5, 8, 3);
    EXPECT_EQ(pixel(8, 3), 0u);
    EXPECT_EQ(pixel(9, 3), 0x090909u);
    EXPECT_EQ(pixel(11, 3), 0xC80000u);
}

TEST_F(SpriteTest, GrabKeepsToTheScreen) {
    openScreen(340, 120);
    paintScreen(rgb(1, 2, 3));
    EXPECT_NE(grabSprite(40, 0, 96, 16, 16), 0);
    EXPECT_EQ(spriteWidth(40), 16);
    uint32_t c = 0;
    bool opaque = false;
    ASSERT_TRUE(spritePixel(40, 15, 15, c, opaque));
    EXPECT_EQ(c, 0x030201u);
    EXPECT_TRUE(opaque);

    paintScreen(rgb(9, 9, 9));
    EXPECT_EQ(grabSprite(40, 0, 110, 16, 16), 0); // past the bottom: the sprite stays as it was
    EXPECT_EQ(grabSprite(41, 0, 110, 16, 16), 0);
    EXPECT_EQ(spriteExists(41), 0);
    ASSERT_TRUE(spritePixel(40, 0, 0, c, opaque));
    EXPECT_EQ(c, 0x030201u);
    EXPECT_EQ(grabSprite(40, -1, 0, 16, 16), 0);
    EXPECT_EQ(grabSprite(40, 325, 0, 16, 16), 0);

    // A grab of another size remakes the sprite and resets its key colour to black.
    setKeyColour(40, rgb(9, 9, 9));
    EXPECT_NE(grabSprite(40, 0, 0, 340, 120), 0);
    EXPECT_EQ(spriteWidth(40), 340);
    ASSERT_TRUE(spritePixel(40, 5, 5, c, opaque));
    EXPECT_TRUE(opaque);
}

TEST_F(SpriteTest, MissingSpritesDoNothing) {
    openScreen(64, 64);
    EXPECT_EQ(spriteExists(99), 0);
    EXPECT_EQ(spriteWidth(99), 0);
    EXPECT_EQ(spriteHeight(99), 0);
    clipSprite(99, 0, 0, 1, 1);
    setKeyColour(99, 0);
    drawOpaque(99, 0, 0);
    drawKeyed(99, 0, 0);
    drawTinted(99, 0, 0, 255, 0);
    EXPECT_EQ(spriteTarget(99), 0);
    EXPECT_EQ(createSprite(-3, 4, 4), 0);
    EXPECT_EQ(createSprite(3, 0, 4), 0);
}

TEST_F(SpriteTest, ClosingTheScreenFreesEverySprite) {
    openScreen(64, 64);
    createSprite(1, 4, 4);
    createSprite(2, 4, 4);
    createImage(100, 2, 2);
    closeScreen();
    EXPECT_EQ(spriteExists(1), 0);
    EXPECT_EQ(spriteExists(2), 0);
    EXPECT_NE(imageTarget(100), 0); // images stay
}

TEST_F(SpriteTest, BoxesWithNegativeSizesAndClipping) {
    openScreen(340, 120);
    struct Case {
        int32_t x, y, w, h;
        int32_t x0, y0, x1, y1; // covered area, inclusive-exclusive; x0 == x1: nothing
    };
    const Case cases[] = {
        {0, 120, 100, -7, 0, 113, 100, 120},      {0, 120, 100, 0, 0, 0, 0, 0},
        {10, 10, -5, 3, 5, 10, 10, 13},           {-10, -10, 15, 12, 0, 0, 5, 2},
        {330, 110, 100, 100, 330, 110, 340, 120}, {400, 0, 10, 10, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        clearScreen(0);
        beginDrawing(screenTarget());
        drawBox(c.x, c.y, c.w, c.h, rgb(255, 255, 255));
        endDrawing();
        for (int32_t y = 0; y < 120; ++y)
            for (int32_t x = 0; x < 340; ++x) {
                bool in = x >= c.x0 && x < c.x1 && y >= c.y0 && y < c.y1;
                ASSERT_EQ(pixel(x, y), in ? 0xFFFFFFu : 0u)
                    << "box " << c.x << "," << c.y << "," << c.w << "," << c.h << " at " << x << ","
                    << y;
            }
    }
}

TEST_F(SpriteTest, DrawingIntoASpriteMakesItsPixelsOpaque) {
    openScreen(16, 16);
    createSprite(3, 8, 8);
    beginDrawing(spriteTarget(3));
    drawBox(2, 2, 2, 2, rgb(64, 64, 64));
    drawBox(6, 6, 2, 2); // front colour: white
    endDrawing();
    drawKeyed(3, 0, 0);
    EXPECT_EQ(pixel(2, 2), 0x404040u);
    EXPECT_EQ(pixel(7, 7), 0xFFFFFFu);
    EXPECT_EQ(pixel(0, 0), 0u);
}

} // namespace
