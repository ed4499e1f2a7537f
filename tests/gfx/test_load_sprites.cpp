#include "assets/embedded.h"
#include "headless_fixture.h"

#include <vector>

namespace {

using LoadSpriteTest = HeadlessTest;

TEST_F(LoadSpriteTest, TheSixEmbeddedPicturesBecomeTheirSprites) {
    struct Picture {
        SpriteId id;
        const uint8_t* file;
        size_t size;
        int32_t width, height;
    };
    const Picture pictures[] = {
        {100, launcherFontImage, launcherFontImageSize, 160, 96},
        {3001, bandImage, bandImageSize, 640, 201},
        {3002, logoImage, logoImageSize, 1282, 130},
        {3000, scrollFontImage, scrollFontImageSize, 2400, 32},
        {2000, bannerImage, bannerImageSize, 640, 45},
        {3700, splashImage, splashImageSize, 388, 212},
    };
    for (const auto& p : pictures) {
        ASSERT_NE(loadSprite(p.id, p.file, p.size), 0) << p.id;
        int32_t w = 0, h = 0;
        ClipRect clip;
        ASSERT_TRUE(spriteInfo(p.id, w, h, clip));
        EXPECT_EQ(w, p.width) << p.id;
        EXPECT_EQ(h, p.height) << p.id;
        EXPECT_EQ(spriteWidth(p.id), p.width);
        // Key colour black: exactly the black pixels are transparent.
        for (int32_t y = 0; y < h; y += 3)
            for (int32_t x = 0; x < w; x += 3) {
                uint32_t c = 0;
                bool opaque = false;
                ASSERT_TRUE(spritePixel(p.id, x, y, c, opaque));
                ASSERT_EQ(opaque, c != 0) << p.id << " at " << x << "," << y;
            }
    }
    // The banner: its top row is transparent, every other pixel opaque.
    for (int32_t y = 0; y < 45; ++y)
        for (int32_t x = 0; x < 640; ++x) {
            uint32_t c = 0;
            bool opaque = false;
            spritePixel(2000, x, y, c, opaque);
            ASSERT_EQ(opaque, y != 0) << x << "," << y;
        }
}

TEST_F(LoadSpriteTest, ARefusedFileLeavesTheSpriteMissing) {
    openScreen(64, 64);
    std::vector<uint8_t> bad(bandImage, bandImage + bandImageSize);
    bad[0] = 'X';
    EXPECT_EQ(loadSprite(3001, bad.data(), bad.size()), 0);
    EXPECT_EQ(loadSprite(3002, logoImage, 100), 0); // truncated
    EXPECT_EQ(loadSprite(3003, nullptr, 0), 0);
    for (SpriteId id : {3001, 3002, 3003}) {
        EXPECT_EQ(spriteExists(id), 0);
        drawOpaque(id, 0, 0);
        clipSprite(id, 0, 0, 1, 1);
    }
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 64; ++x) ASSERT_EQ(pixel(x, y), 0u);
}

} // namespace
