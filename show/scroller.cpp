#include "show/scroller.h"

#include "gfx/gfx.h"

#include <cmath>

Scroller scroller;

namespace {

constexpr int32_t trailingBlanks = 22;
constexpr float slotSpacing = 32.0f;
constexpr float layoutStep = -26.333f;
constexpr float phaseStep = 8.0f;
constexpr double waveAmplitude = 40.0;
constexpr double glyphBaseY = 80.0;
constexpr int32_t bannerY = 72;
constexpr int32_t relayoutDistance = 24;

char16_t upperCase(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - u'a' + u'A');
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<char16_t>(c - 0x20);
    return c;
}

// Nearest integer, halves to even (the floating-point unit's default rounding).
int32_t roundEven(double v) {
    return static_cast<int32_t>(std::nearbyint(v));
}

} // namespace

void setUpScroller(const char16_t* storedText, int32_t length) {
    scroller.scrollText.assign(storedText ? storedText : u"",
                               storedText && length > 0 ? length : 0);
    scroller.scrollText.append(trailingBlanks, u' ');
    for (auto& c : scroller.scrollText) c = upperCase(c);
    scroller.scrollLength = static_cast<int32_t>(scroller.scrollText.size());
    scroller.scrollSlots.assign(static_cast<size_t>(scroller.scrollLength) + 1, ScrollSlot{});
}

void startScroller() {
    scroller.layoutPhase = 360.0f;
    layoutScrollText();
    scroller.drawIndex = 0;
}

void layoutScrollText() {
    for (int32_t n = 1; n <= scroller.scrollLength - 1; ++n) {
        ScrollSlot& slot = scroller.scrollSlots[static_cast<size_t>(n)];
        slot.x = static_cast<float>(n * static_cast<double>(slotSpacing));
        scroller.layoutPhase =
            static_cast<float>(static_cast<double>(scroller.layoutPhase) + layoutStep);
        if (!(scroller.layoutPhase > 0.0f)) scroller.layoutPhase = 360.0f;
        slot.phase = scroller.layoutPhase;
    }
}

void stepScrollSlot(int32_t position) {
    ScrollSlot& slot = scroller.scrollSlots[static_cast<size_t>(position)];
    const ScrollSlot& place = scroller.scrollSlots[static_cast<size_t>(scroller.drawIndex)];
    slot.phase = static_cast<float>(static_cast<double>(slot.phase) + phaseStep);
    slot.wave = static_cast<float>(std::sin(static_cast<double>(degreesToRadians(slot.phase))) *
                                   waveAmplitude);
    slot.x = static_cast<float>(static_cast<double>(slot.x) - scrollSpeed);

    const int32_t x = roundEven(place.x);
    clipSprite(bannerSprite, x, 0, 32, 44);
    const bool visible = -32.0f < place.x && place.x <= 640.0f;
    const int32_t y = roundEven(static_cast<double>(place.wave) + glyphBaseY);
    if (slot.previousWave < slot.wave) { // moving down: in front of the banner
        drawKeyed(bannerSprite, x, bannerY);
        if (visible) drawKeyed(scrollFontSprite, x, y);
    } else { // moving up or standing still: behind it
        if (visible) drawKeyed(scrollFontSprite, x, y);
        drawKeyed(bannerSprite, x, bannerY);
    }
    slot.previousWave = slot.wave;
}

void drawScroller() {
    scroller.drawIndex = 0;
    for (int32_t i = 1; i <= scroller.scrollLength; ++i) {
        const int32_t glyph =
            static_cast<int32_t>(scroller.scrollText[static_cast<size_t>(i - 1)]) - 32;
        if (glyph >= 0) {
            clipSprite(scrollFontSprite, glyph * 32, 0, 32, 32);
            stepScrollSlot(i);
        }
        ++scroller.drawIndex;
    }
    const int32_t watched = scroller.scrollLength - relayoutDistance;
    if (watched >= 0 && scroller.scrollSlots[static_cast<size_t>(watched)].x <= -32.0f)
        layoutScrollText();
}
