#include "headless_fixture.h"
#include "show/band.h"
#include "show/logo.h"
#include "show/scroller.h"

#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr int32_t records[33] = {224, 0,   64,  224, 224, 0,   0,   224, 32,  96,  224,
                                 160, 128, 224, 0,   0,   192, 224, 0,   32,  224, 32,
                                 224, 192, 224, 160, 64,  224, 0,   224, 224, 0,   64};

class EffectsTest : public HeadlessTest {
  protected:
    void SetUp() override {
        HeadlessTest::SetUp();
        scroller = Scroller{};
        swingingLogo = SwingingLogo{};
        colourBand = ColourBand{};
        openScreen(640, 480);
    }
};

TEST_F(EffectsTest, LogoFirstFramesLandOnTheirPlaces) {
    createSprite(logoSprite, 1282, 130);
    const std::pair<int32_t, int32_t> expected[] = {
        {-310, 220}, {-300, 211}, {-290, 201}, {-280, 192}};
    for (const auto& [ex, ey] : expected) {
        drawLogo();
        int32_t x = 0, y = 0;
        logoPosition(x, y);
        EXPECT_EQ(x, ex);
        EXPECT_EQ(y, ey);
    }
    EXPECT_EQ(swingingLogo.logoPhase, 28.0f);
}

TEST_F(EffectsTest, LogoIsTintedBlueAndItsPhaseAdvancesWithoutTheSprite) {
    drawLogo(); // no sprite: nothing drawn, the phase still moves
    EXPECT_EQ(swingingLogo.logoPhase, 7.0f);
    createSprite(logoSprite, 1282, 130);
    beginDrawing(spriteTarget(logoSprite));
    drawBox(0, 2, 1280, 128, rgb(255, 255, 255));
    endDrawing();
    clearScreen(0);
    drawLogo(); // phase 14: left edge -300, top 211
    EXPECT_EQ(pixel(0, 213), static_cast<uint32_t>(rgb(0, 0, 224)));
    EXPECT_EQ(pixel(0, 212), 0u); // row 1 of the sprite is black: transparent
    EXPECT_EQ(pixel(639, 340), static_cast<uint32_t>(rgb(0, 0, 224))); // bottom row 211 + 129
    EXPECT_EQ(pixel(639, 341), 0u);
}

TEST_F(EffectsTest, LogoPhaseStaysExactForHoursOfFrames) {
    swingingLogo.logoPhase = 16777216.0f - 7.0f * 3;
    for (int i = 0; i < 3; ++i) drawLogo();
    EXPECT_EQ(swingingLogo.logoPhase, 16777216.0f);
}

TEST_F(EffectsTest, ColourTableHoldsTheGradientsTellingEntries) {
    buildColourTable(records);
    struct Entry {
        int index, r, g, b;
    };
    const Entry entries[] = {
        {1, 224, 6, 62},      {2, 224, 13, 60},    {31, 224, 216, 2},   {32, 224, 224, 0},
        {64, 0, 224, 32},     {96, 96, 224, 160},  {128, 128, 224, 0},  {160, 0, 192, 224},
        {192, 0, 32, 224},    {224, 32, 224, 192}, {256, 224, 160, 64}, {288, 224, 0, 224},
        {315, 224, 0, 74},    {316, 224, 0, 68},   {317, 225, 15, 75},  {318, 235, 95, 135},
        {319, 245, 175, 195}, {320, 0, 0, 0},
    };
    for (const auto& e : entries)
        EXPECT_EQ(colourBand.colourTable[e.index], rgb(e.r, e.g, e.b)) << "entry " << e.index;
    EXPECT_EQ(colourBand.colourTable[0], 0);
    EXPECT_EQ(colourBand.colourTable[321], 0);
}

TEST_F(EffectsTest, BandIndexCyclesThroughEntries2To317) {
    buildColourTable(records);
    std::vector<int32_t> seen;
    for (int frame = 0; frame < 1000; ++frame) {
        drawColourBand();
        seen.push_back(colourBand.bandIndex);
    }
    EXPECT_EQ(seen[0], 1);
    EXPECT_EQ(seen[1], 2);
    EXPECT_EQ(seen[316], 317);
    EXPECT_EQ(seen[317], 2);
    for (size_t i = 1; i < seen.size(); ++i) {
        ASSERT_GE(seen[i], 2);
        ASSERT_LE(seen[i], 317);
    }
}

TEST_F(EffectsTest, BandIsTintedWithTheFramesColour) {
    buildColourTable(records);
    createSprite(bandSprite, 640, 201);
    beginDrawing(spriteTarget(bandSprite));
    drawBox(10, 10, 4, 4, rgb(255, 255, 255));
    endDrawing();
    drawColourBand();
    EXPECT_EQ(pixel(10, 210), static_cast<uint32_t>(rgb(224, 6, 62)));
    EXPECT_EQ(pixel(9, 210), 0u);
}

std::u16string storedText(size_t n) {
    std::u16string t(30, u' ');
    while (t.size() < n - 1) t += u"Hello world ";
    t.resize(n - 1);
    t += u'!';
    return t;
}

TEST_F(EffectsTest, ScrollerLayoutPhasesStepAndResetEvery14thSlot) {
    const std::u16string text = storedText(411);
    setUpScroller(text.data(), static_cast<int32_t>(text.size()));
    ASSERT_EQ(scroller.scrollLength, 433);
    ASSERT_EQ(scroller.scrollSlots.size(), 434u);
    EXPECT_EQ(scroller.scrollText.substr(30, 5), u"HELLO");
    EXPECT_EQ(scroller.scrollText.substr(411), std::u16string(22, u' '));
    startScroller();
    const auto& s = scroller.scrollSlots;
    EXPECT_NEAR(s[1].phase, 333.667, 1e-3);
    EXPECT_NEAR(s[2].phase, 307.334, 1e-3);
    EXPECT_NEAR(s[3].phase, 281.001, 1e-3);
    EXPECT_NEAR(s[13].phase, 17.671, 1e-3);
    EXPECT_EQ(s[14].phase, 360.0f);
    EXPECT_EQ(s[28].phase, 360.0f);
    EXPECT_EQ(s[15].phase, s[1].phase);
    EXPECT_EQ(s[432].x, 432 * 32.0f);
    EXPECT_EQ(s[0].x, 0.0f);
    EXPECT_EQ(s[433].x, 0.0f); // the last slot is never placed
    EXPECT_NEAR(scroller.layoutPhase, 44.004, 1e-3);
    layoutScrollText(); // a relayout carries the phase on
    EXPECT_NEAR(s[1].phase, 17.671, 1e-3);
    EXPECT_EQ(s[2].phase, 360.0f);
}

TEST_F(EffectsTest, ScrollerRelayoutFiresAtFrame3280AndSlotZeroNeverMoves) {
    const std::u16string text = storedText(411);
    setUpScroller(text.data(), static_cast<int32_t>(text.size()));
    startScroller();
    int relayoutFrame = 0;
    for (int frame = 1; frame <= 3400 && relayoutFrame == 0; ++frame) {
        clearScreen(0);
        drawScroller();
        if (scroller.scrollSlots[1].x == 32.0f) relayoutFrame = frame;
        ASSERT_EQ(scroller.scrollSlots[0].x, 0.0f);
        ASSERT_EQ(scroller.scrollSlots[0].wave, 0.0f);
    }
    EXPECT_EQ(relayoutFrame, 3280);
    EXPECT_EQ(scroller.scrollSlots[433].x, -4.0f * 3280);
}

// A font whose cell n is filled with colour n + 1 and a banner filled with one colour, so that
// every drawn pixel tells which sprite and which cell it came from.
void makeMarkedSprites() {
    createSprite(scrollFontSprite, 2400, 32);
    beginDrawing(spriteTarget(scrollFontSprite));
    for (int n = 0; n < 75; ++n) drawBox(n * 32, 0, 32, 32, rgb(n + 1, 0, 0));
    endDrawing();
    createSprite(bannerSprite, 640, 45);
    beginDrawing(spriteTarget(bannerSprite));
    drawBox(0, 1, 640, 44, rgb(0, 200, 0));
    endDrawing();
}

TEST_F(EffectsTest, ScrollerWeaveOrderOnTheFirstFrame) {
    makeMarkedSprites();
    std::u16string text(20, u'A'); // every position visible within the first 640 pixels
    setUpScroller(text.data(), static_cast<int32_t>(text.size()));
    startScroller();
    clearScreen(0);
    drawScroller();
    // Position i is drawn at slot i - 1; its order follows slot i's first wave (previous 0).
    for (int i = 2; i <= 19; ++i) {
        const ScrollSlot& place = scroller.scrollSlots[static_cast<size_t>(i - 1)];
        const ScrollSlot& own = scroller.scrollSlots[static_cast<size_t>(i)];
        const int32_t x = static_cast<int32_t>(std::nearbyint(place.x));
        const int32_t y = static_cast<int32_t>(std::nearbyint(place.wave + 80.0));
        if (x < 0 || x + 31 >= 640) continue;
        // A row where glyph (rows y..y+31) and banner strip (rows 73..115 opaque) overlap.
        int32_t row = std::max(y, 73);
        if (row > std::min(y + 31, 115)) continue;
        const bool glyphInFront = own.wave > 0.0f;
        const uint32_t shown = pixel(x + 16, row);
        EXPECT_EQ(shown, glyphInFront ? static_cast<uint32_t>(rgb('A' - 32 + 1, 0, 0))
                                      : static_cast<uint32_t>(rgb(0, 200, 0)))
            << "position " << i;
    }
}

TEST_F(EffectsTest, OddCodesClipToNothingOrSkipThePosition) {
    makeMarkedSprites();
    // Position 2 has a code above 106: its clip is empty but its slot advances and its strip is
    // drawn. Position 3 has a code below 32: skipped, its slot stands still.
    std::u16string text = u"B\u00FF\nD";
    setUpScroller(text.data(), static_cast<int32_t>(text.size()));
    startScroller();
    clearScreen(0);
    drawScroller();
    EXPECT_EQ(scroller.scrollSlots[2].x, 64.0f - 4);
    EXPECT_EQ(scroller.scrollSlots[3].x, 96.0f);
    for (int32_t y = 0; y < 480; ++y) {
        const bool banner = y >= 73 && y < 116;
        ASSERT_EQ(pixel(40, y), banner ? static_cast<uint32_t>(rgb(0, 200, 0)) : 0u) << y;
    }
}

TEST_F(EffectsTest, GlyphWindowIsAboveMinus32UpTo640) {
    makeMarkedSprites();
    std::u16string text = u"AAA";
    setUpScroller(text.data(), static_cast<int32_t>(text.size()));
    startScroller();
    // Slot 1 is position 2's drawing place; it is stepped by position 1 earlier in the frame.
    // No other slot crosses the window's edges in these four frames, so the number of draws
    // differs only by position 2's glyph.
    const float places[4] = {-32.0f, -28.0f, 640.0f, 644.0f};
    int64_t draws[4] = {};
    for (int k = 0; k < 4; ++k) {
        scroller.scrollSlots[1].x = places[k] + 4;
        scroller.scrollSlots[2].x = 64.0f;
        const int64_t before = spriteDrawCalls();
        drawScroller();
        draws[k] = spriteDrawCalls() - before;
    }
    EXPECT_EQ(draws[1], draws[0] + 1); // -32 is outside, -28 inside
    EXPECT_EQ(draws[2], draws[1]);     // 640 is inside
    EXPECT_EQ(draws[3], draws[0]);     // 644 is outside
}

} // namespace
