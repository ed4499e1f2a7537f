// A line of 32 x 32 glyphs running left on a sine wave, weaving in front of and behind a banner
// that the scroller draws itself in 32-pixel strips, one strip per text position.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ScrollSlot {
    float x;            // screen x of the glyph's left edge and of its banner strip
    float spare;        // never read or written
    float phase;        // degrees, grows by 8 per frame
    float wave;         // vertical offset, sin(phase) * 40
    float previousWave; // the wave of the frame before: decides the weave order
};

struct Scroller {
    std::u16string scrollText; // position i of the text is scrollText[i - 1]
    int32_t scrollLength;
    std::vector<ScrollSlot> scrollSlots; // scrollLength + 1 slots
    float layoutPhase;
    int32_t drawIndex;
};

extern Scroller scroller;

constexpr int32_t scrollFontSprite = 3000;
constexpr int32_t bannerSprite = 2000;
constexpr int32_t scrollSpeed = 4;

// Builds the shown text from the stored one (22 blanks appended, upper-cased) and makes the slots.
void setUpScroller(const char16_t* storedText, int32_t length);
// Lays the slots out for the first time, with the layout phase starting at 360.
void startScroller();
// Places slots 1 to scrollLength - 1 at x = 32n with phases stepping down from layoutPhase.
void layoutScrollText();
// Draws the whole scroller into the frame and advances it by one frame.
void drawScroller();
// Advances slot `position` and draws the glyph and banner strip of that position at slot
// drawIndex (position - 1).
void stepScrollSlot(int32_t position);
