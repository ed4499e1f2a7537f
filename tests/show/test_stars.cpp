#include "headless_fixture.h"
#include "show/stars.h"

#include <vector>

namespace {

class StarsTest : public HeadlessTest {
  protected:
    void SetUp() override {
        HeadlessTest::SetUp();
        starLayers = StarLayers{};
        openScreen(640, 480);
    }
    std::vector<uint32_t> layerPixels(SpriteId id) {
        std::vector<uint32_t> v;
        for (int32_t y = 0; y < 280; ++y)
            for (int32_t x = 0; x < 640; ++x) {
                uint32_t c = 0;
                bool opaque = false;
                spritePixel(id, x, y, c, opaque);
                v.push_back(opaque ? c : 0xFF000000u);
            }
        return v;
    }
};

TEST_F(StarsTest, LayersHoldOnlyTheirGreyAndAreOtherwiseTransparent) {
    buildStarLayers();
    const uint32_t greys[3] = {0x404040, 0x808080, 0xE0E0E0};
    for (int layer = 0; layer < 3; ++layer) {
        int opaque = 0;
        for (uint32_t p : layerPixels(starSprites[layer])) {
            if (p == 0xFF000000u) continue;
            ASSERT_EQ(p, greys[layer]);
            ++opaque;
        }
        EXPECT_GT(opaque, 0);
        EXPECT_LE(opaque, 64 * 4);
    }
}

TEST_F(StarsTest, OffsetsWrapAfter320And160And107Frames) {
    buildStarLayers();
    struct Expect {
        int frames;
        int32_t far, middle, near;
    };
    const Expect checks[] = {{1, 2, 4, 6},
                             {106, 212, 424, 636},
                             {107, 214, 428, 0},
                             {160, 320, 0, 318},
                             {320, 0, 0, 636}};
    int done = 0;
    for (const auto& e : checks) {
        for (; done < e.frames; ++done) drawStarLayers();
        EXPECT_EQ(starLayers.starX[0], e.far) << e.frames;
        EXPECT_EQ(starLayers.starX[1], e.middle) << e.frames;
        EXPECT_EQ(starLayers.starX[2], e.near) << e.frames;
    }
}

TEST_F(StarsTest, StarsAtTheSpriteEdgeAreCut) {
    createSprite(3500, 640, 280);
    beginDrawing(spriteTarget(3500));
    drawBox(639, 279, 2, 2, rgb(64, 64, 64));
    drawBox(640, 10, 2, 2, rgb(64, 64, 64));
    drawBox(10, 280, 2, 2, rgb(64, 64, 64));
    endDrawing();
    int opaque = 0;
    for (uint32_t p : layerPixels(3500)) opaque += p != 0xFF000000u;
    EXPECT_EQ(opaque, 1);
    uint32_t c = 0;
    bool isOpaque = false;
    spritePixel(3500, 639, 279, c, isOpaque);
    EXPECT_TRUE(isOpaque);
}

TEST_F(StarsTest, OnlyRows160To439AreTouchedAndTheFieldWraps) {
    buildStarLayers();
    for (int frame = 0; frame < 400; ++frame) {
        paintScreen(rgb(1, 1, 1));
        const int32_t offset = starLayers.starX[0];
        drawStarLayers();
        for (int32_t y = 0; y < 480; ++y) {
            if (y >= 160 && y < 440) continue;
            for (int32_t x = 0; x < 640; ++x) ASSERT_EQ(pixel(x, y), 0x010101u) << frame;
        }
        // The far layer's column k shows at offset + k and offset + k - 640.
        for (int32_t y = 0; y < 280; ++y)
            for (int32_t k = 0; k < 640; ++k) {
                uint32_t c = 0;
                bool opaque = false;
                spritePixel(3500, k, y, c, opaque);
                if (!opaque) continue;
                const int32_t x = (offset + k) % 640;
                const uint32_t shown = pixel(x, 160 + y);
                ASSERT_TRUE(shown == 0x404040u || shown == 0x808080u || shown == 0xE0E0E0u);
            }
    }
}

TEST_F(StarsTest, TwoSeedsGiveTwoStarFields) {
    std::vector<uint32_t> fields[2];
    for (int run = 0; run < 2; ++run) {
        releaseGraphics();
        backend.seed = 1000 + static_cast<uint64_t>(run);
        openScreen(640, 480);
        buildStarLayers();
        fields[run] = layerPixels(3502);
    }
    EXPECT_NE(fields[0], fields[1]);
}

} // namespace
