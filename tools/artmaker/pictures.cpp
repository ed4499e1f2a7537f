#include "pictures.h"

#include "glyphs.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace artmaker {
namespace {

constexpr uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) {
    return r | (g << 8) | (b << 16);
}

Picture blankPicture(int32_t w, int32_t h, uint16_t bpp, std::vector<uint32_t> palette) {
    Picture p;
    p.width = w;
    p.height = h;
    p.bitsPerPixel = bpp;
    p.palette = std::move(palette);
    if (bpp == 24)
        p.colours.assign(size_t(w) * size_t(h), 0);
    else
        p.indices.assign(size_t(w) * size_t(h), 0);
    return p;
}

void setIndex(Picture& p, int32_t x, int32_t y, uint8_t index) {
    if (x >= 0 && y >= 0 && x < p.width && y < p.height)
        p.indices[size_t(y) * size_t(p.width) + size_t(x)] = index;
}

void setColour(Picture& p, int32_t x, int32_t y, uint32_t c) {
    if (x >= 0 && y >= 0 && x < p.width && y < p.height)
        p.colours[size_t(y) * size_t(p.width) + size_t(x)] = c;
}

// Whether any of the listed offsets from (x, y) falls outside the mask's set pixels.
bool touchesEmpty(const Mask& m, int32_t x, int32_t y,
                  std::initializer_list<std::array<int, 2>> d) {
    for (const auto& o : d)
        if (!m.at(x + o[0], y + o[1])) return true;
    return false;
}

// Whether a set pixel of the mask lies within a square of radius r around (x, y).
bool nearSet(const Mask& m, int32_t x, int32_t y, int32_t r) {
    for (int32_t v = -r; v <= r; ++v)
        for (int32_t u = -r; u <= r; ++u)
            if (m.at(x + u, y + v)) return true;
    return false;
}

// 2 x 2 ordered dither between the neighbouring entries of a ramp, t from 0 to 1.
uint8_t ditherRamp(const std::vector<uint8_t>& ramp, double t, int32_t x, int32_t y) {
    static const double threshold[4] = {0.125, 0.625, 0.875, 0.375};
    const double pos = std::clamp(t, 0.0, 1.0) * double(ramp.size() - 1);
    const size_t lo = size_t(pos);
    if (lo + 1 >= ramp.size()) return ramp.back();
    return (pos - double(lo)) > threshold[(y & 1) * 2 + (x & 1)] ? ramp[lo + 1] : ramp[lo];
}

// Small deterministic generator so that every run draws the same picture.
struct Lcg {
    uint32_t state;
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    int32_t range(int32_t lo, int32_t hi) { return lo + int32_t(next() % uint32_t(hi - lo + 1)); }
};

// Block rows of the 16-pixel-tall lettering: thicker top and bottom strokes.
const std::vector<int32_t> tallRows = {3, 2, 2, 2, 2, 2, 3};

uint32_t mix(uint32_t a, uint32_t b, double t) {
    auto ch = [&](int s) {
        double v = double((a >> s) & 255) * (1.0 - t) + double((b >> s) & 255) * t;
        return uint32_t(std::lround(v)) << s;
    };
    return ch(0) | ch(8) | ch(16);
}

// Colour at t (0 to 1) along a list of evenly spaced colours.
uint32_t gradient(const std::vector<uint32_t>& stops, double t) {
    const double pos = std::clamp(t, 0.0, 1.0) * double(stops.size() - 1);
    const size_t lo = std::min(size_t(pos), stops.size() - 2);
    return mix(stops[lo], stops[lo + 1], pos - double(lo));
}

} // namespace

Picture makeLauncherFont() {
    Picture p = blankPicture(160, 96, 4,
                             {rgb(0, 0, 0), rgb(153, 68, 68), rgb(102, 34, 34), rgb(34, 0, 0),
                              rgb(68, 68, 102), rgb(34, 34, 68), rgb(68, 0, 0), rgb(187, 102, 102),
                              rgb(221, 153, 153), rgb(102, 102, 153), rgb(153, 153, 187),
                              rgb(255, 187, 187), rgb(187, 187, 221), rgb(0, 0, 0),
                              rgb(221, 221, 255), rgb(221, 255, 255)});
    // Upper half in pinks, lower half in blue-greys, light at the top of each half: the
    // chrome look. Entry 13 is a second black, used for the background of the empty cells.
    static const uint8_t face[14] = {11, 11, 8, 8, 7, 1, 2, 15, 14, 14, 12, 12, 10, 9};
    auto darker = [](uint8_t i) -> uint8_t {
        switch (i) {
        case 11:
            return 8;
        case 8:
            return 7;
        case 7:
            return 1;
        case 1:
            return 2;
        case 2:
            return 6;
        case 15:
            return 14;
        case 14:
            return 12;
        case 12:
            return 10;
        case 10:
            return 9;
        default:
            return 4;
        }
    };
    for (int code = 32; code <= 91; ++code) {
        const int32_t cx = 16 * ((code - 32) % 10), cy = 16 * ((code - 32) / 10);
        const Mask m = renderGlyph(char(code), 2);
        if (m.width == 0) {
            for (int32_t y = 0; y < 16; ++y)
                for (int32_t x = 0; x < 16; ++x) setIndex(p, cx + x, cy + y, 13);
            continue;
        }
        const int32_t x0 = (16 - (m.width + 1)) / 2, y0 = 1;
        for (int32_t v = 0; v < 15; ++v) {
            for (int32_t u = -1; u < 15; ++u) {
                uint8_t index = 0;
                if (m.at(u, v)) {
                    index = face[v];
                    if (!m.at(u, v - 1))
                        index = v < 7 ? 11 : 15;
                    else if (!m.at(u + 1, v) || !m.at(u, v + 1))
                        index = darker(face[v]);
                } else if (m.at(u - 1, v - 1)) {
                    index = 5; // drop shadow
                }
                if (index) setIndex(p, cx + x0 + u, cy + y0 + v, index);
            }
        }
    }
    return p;
}

Picture makeScrollFont() {
    std::vector<uint32_t> palette = {rgb(0, 0, 0), rgb(0, 0, 132), rgb(99, 99, 99),
                                     rgb(165, 165, 165), rgb(198, 198, 198)};
    palette.resize(16, rgb(255, 255, 255));
    Picture p = blankPicture(2400, 32, 4, palette);
    for (int code = 32; code <= 106; ++code) {
        if (code == '%' || code == '/') continue; // not part of this font
        const Mask m = renderGlyph(char(code), 4);
        if (m.width == 0) continue;
        const int32_t x0 = 32 * (code - 32) + (32 - m.width) / 2, y0 = 2;
        // Bevel: light on the upper-left edges, dark on the lower-right, mid grey face.
        for (int32_t v = 0; v < m.height; ++v) {
            for (int32_t u = 0; u < m.width; ++u) {
                if (!m.at(u, v)) continue;
                const bool light =
                    touchesEmpty(m, u, v, {{-1, 0}, {0, -1}, {-2, 0}, {0, -2}, {-1, -1}});
                const bool dark = touchesEmpty(m, u, v, {{1, 0}, {0, 1}, {2, 0}, {0, 2}, {1, 1}});
                setIndex(p, x0 + u, y0 + v, light == dark ? 3 : light ? 4 : 2);
            }
        }
    }
    return p;
}

Picture makeBand() {
    Picture p = blankPicture(640, 201, 1, {rgb(0, 0, 0), rgb(255, 255, 255)});
    static const struct {
        const char* text;
        int32_t top;
    } lines[] = {{"ZOLT PROUDLY PRESENTS", 5},
                 {"GILDED ORRERY TALE", 53},
                 {"CODE AND PIXELS: DERVAN", 101},
                 {"MUSIC: THE ZOLT CHIP CELLAR", 149},
                 {"GREETINGS TO ALL SCENERS!", 181}};
    int32_t ruleLeft = 0, ruleRight = 0;
    for (const auto& line : lines) {
        const Mask m = renderText(line.text, 2, tallRows, 2, 8);
        const int32_t left = (640 - m.width) / 2;
        for (int32_t v = 0; v < m.height; ++v)
            for (int32_t u = 0; u < m.width; ++u)
                if (m.at(u, v)) setIndex(p, left + u, line.top + v, 1);
        if (line.top == 5) {
            ruleLeft = left - 16;
            ruleRight = left + m.width + 16;
        }
    }
    // Dashed rule under the first line: dashes of 12 pixels with gaps of 4.
    for (int32_t x = ruleLeft; x < ruleRight; ++x)
        if ((x - ruleLeft) % 16 < 12)
            for (int32_t y = 27; y <= 30; ++y) setIndex(p, x, y, 1);
    return p;
}

namespace {

// An orrery seen from above, 128 pixels across, with its top-left corner at (left, top).
void drawEmblem(Mask& m, int32_t left, int32_t top, bool mirrored) {
    const double cx = 64.0, cy = 64.0;
    const double pi = 3.14159265358979323846;
    const double armAngle = (mirrored ? 200.0 : -20.0) * pi / 180.0;
    const double innerAngle = (mirrored ? 60.0 : 120.0) * pi / 180.0;
    const double px = cx + 39.5 * std::cos(armAngle), py = cy + 39.5 * std::sin(armAngle);
    const double qx = cx + 25.0 * std::cos(innerAngle), qy = cy + 25.0 * std::sin(innerAngle);
    for (int32_t y = 0; y < 128; ++y) {
        for (int32_t x = 0; x < 128; ++x) {
            const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
            const double d = std::hypot(dx, dy);
            const double angle = std::atan2(dy, dx) * 180.0 / pi;
            const double dp = std::hypot(x + 0.5 - px, y + 0.5 - py);
            const double dq = std::hypot(x + 0.5 - qx, y + 0.5 - qy);
            // Distance from the arm that carries the outer planet.
            const double along = dx * std::cos(armAngle) + dy * std::sin(armAngle);
            const double across = std::fabs(-dx * std::sin(armAngle) + dy * std::cos(armAngle));
            bool on = false;
            on |= d >= 58.0 && d < 64.0;                                          // rim
            on |= d >= 50.0 && d < 55.0 && std::fmod(angle + 375.0, 30.0) < 6.0;  // dial ticks
            on |= d >= 38.0 && d < 41.0 && dp >= 12.0;                            // outer orbit
            on |= d >= 24.0 && d < 26.0 && dq >= 9.0;                             // inner orbit
            on |= d < 15.0;                                                       // sun
            on |= d >= 17.0 && d < 19.0 && std::fmod(angle + 360.0, 45.0) < 22.5; // corona
            on |= along > 0.0 && along < 36.0 && across < 2.0 && d >= 19.0;       // arm
            on |= dp < 9.0;                                                       // outer planet
            on |= dq < 6.0;                                                       // inner planet
            if (on) m.set(left + x, top + y);
        }
    }
}

} // namespace

Picture makeLogo() {
    Mask m(1282, 130);
    drawEmblem(m, 0, 2, false);
    drawEmblem(m, 1152, 2, true);
    // The wordmark, 112 pixels tall, cut by horizontal slits that widen towards its foot.
    const std::string word = "ZOLT";
    const int32_t block = 16, gap = 24, top = 10;
    int32_t width = -gap;
    for (char c : word) width += glyphColumns(c) * block + gap;
    int32_t x = (1280 - width) / 2;
    Mask letters(1282, 130);
    for (char c : word) {
        stamp(letters, renderGlyph(c, block), x, top);
        x += glyphColumns(c) * block + gap;
    }
    static const struct { int32_t row, height; } slits[] = {{60, 1}, {72, 2}, {84, 3}, {96, 4}};
    for (const auto& s : slits)
        for (int32_t y = top + s.row; y < top + s.row + s.height; ++y)
            for (int32_t u = 0; u < 1282; ++u) letters.set(u, y, false);
    stamp(m, letters, 0, 0);
    // Speed lines from each emblem towards the wordmark.
    const int32_t wordLeft = (1280 - width) / 2;
    static const struct {
        int32_t y, start, thickness;
    } streaks[] = {{46, 164, 4}, {64, 140, 6}, {84, 164, 4}};
    for (const auto& s : streaks)
        for (int32_t t = 0; t < s.thickness; ++t)
            for (int32_t u = s.start; u < wordLeft - 16; ++u) {
                m.set(u, s.y + t);
                m.set(1279 - u, s.y + t);
            }
    Picture p = blankPicture(1282, 130, 1, {rgb(0, 0, 0), rgb(255, 255, 255)});
    for (size_t i = 0; i < m.bits.size(); ++i) p.indices[i] = m.bits[i];
    return p;
}

Picture makeBanner() {
    Picture p = blankPicture(640, 45, 24, {});
    p.pixelsPerMetre = 15744;
    static const uint32_t levels[11] = {64, 96, 128, 160, 192, 224, 192, 160, 128, 96, 64};
    for (int32_t y = 1; y < 45; ++y)
        for (int32_t x = 0; x < 640; ++x) setColour(p, x, y, rgb(levels[(y - 1) / 4], 0, 0));

    const Mask text = renderText("GILDED ORRERY TALE", 3, std::vector<int32_t>(7, 3), 3, 12);
    const int32_t left = (640 - text.width) / 2, top = 12;
    // The wordmark and a small gold planet at each end, outlined in dark brown.
    Mask mark(640, 45);
    stamp(mark, text, left, top);
    for (int32_t side = 0; side < 2; ++side) {
        const double cx = side ? left + text.width + 20.5 : left - 20.5, cy = top + 10.5;
        for (int32_t y = 0; y < 45; ++y)
            for (int32_t x = 0; x < 640; ++x)
                if (std::hypot(x + 0.5 - cx, y + 0.5 - cy) < 6.0) mark.set(x, y);
    }
    const std::vector<uint32_t> gold = {rgb(255, 240, 170), rgb(250, 205, 90), rgb(200, 130, 25),
                                        rgb(160, 95, 15),   rgb(225, 165, 50), rgb(255, 215, 110)};
    for (int32_t y = 1; y < 45; ++y) {
        for (int32_t x = 0; x < 640; ++x) {
            if (mark.at(x, y)) {
                uint32_t c = gradient(gold, double(y - top) / 20.0);
                if (!mark.at(x - 1, y - 1) || !mark.at(x, y - 1)) c = rgb(255, 248, 215);
                setColour(p, x, y, c);
            } else if (nearSet(mark, x, y, 1)) {
                setColour(p, x, y, rgb(70, 32, 4));
            }
        }
    }
    return p;
}

Picture makeSplash() {
    std::vector<uint32_t> palette = {
        rgb(0, 0, 0),       rgb(64, 32, 0),     rgb(96, 0, 0),      rgb(96, 64, 32),
        rgb(96, 96, 64),    rgb(128, 0, 0),     rgb(160, 0, 0),     rgb(128, 96, 64),
        rgb(224, 0, 0),     rgb(224, 64, 64),   rgb(160, 128, 96),  rgb(192, 160, 128),
        rgb(224, 128, 128), rgb(224, 192, 160), rgb(224, 192, 192), rgb(224, 224, 224)};
    palette.resize(256, rgb(0, 0, 0));
    Picture p = blankPicture(388, 212, 8, palette);
    Lcg rng{0x5EED0001u};

    // The big letters with blood running down from their feet.
    const std::string word = "ZOLT";
    const int32_t block = 12, gap = 10, top = 12;
    int32_t width = -gap;
    for (char c : word) width += glyphColumns(c) * block + gap;
    Mask letters(388, 212), drips(388, 212);
    int32_t x = (388 - width) / 2;
    for (char c : word) {
        stamp(letters, renderGlyph(c, block), x, top);
        x += glyphColumns(c) * block + gap;
    }
    for (int32_t u = 0; u < 388; ++u) {
        int32_t foot = -1;
        for (int32_t y = 211; y >= 0 && foot < 0; --y)
            if (letters.at(u, y)) foot = y;
        if (foot < top + 60 || rng.next() % 100 >= 7) continue;
        const int32_t w = rng.range(3, 6), len = rng.range(6, 40);
        bool clear = true; // a drip hangs from a foot at least as wide as itself
        for (int32_t k = 0; k < w; ++k) clear &= letters.at(u + k, foot);
        if (!clear) continue;
        for (int32_t y = foot; y < foot + len; ++y)
            for (int32_t k = 0; k < w; ++k) drips.set(u + k, y);
        const double r = w / 2.0 + 1.0, bx = u + w / 2.0, by = foot + len;
        for (int32_t y = int32_t(by - r) - 1; y <= int32_t(by + r) + 1; ++y)
            for (int32_t xx = int32_t(bx - r) - 1; xx <= int32_t(bx + r) + 1; ++xx)
                if (std::hypot(xx + 0.5 - bx, y + 0.5 - by) < r) drips.set(xx, y);
        u += w + 4;
    }
    // A few splashes around the feet.
    for (int i = 0; i < 24; ++i) {
        const int32_t sx = rng.range(20, 368), sy = rng.range(top + 86, top + 120);
        const double r = 0.8 + (rng.next() % 100) / 60.0;
        for (int32_t y = sy - 3; y <= sy + 3; ++y)
            for (int32_t xx = sx - 3; xx <= sx + 3; ++xx)
                if (std::hypot(xx - sx, y - sy) < r) drips.set(xx, y);
    }
    Mask shape(388, 212);
    stamp(shape, letters, 0, 0);
    stamp(shape, drips, 0, 0);

    const std::vector<uint8_t> blood = {14, 12, 9, 8, 6, 5, 2};
    for (int32_t y = 0; y < 212; ++y) {
        for (int32_t xx = 0; xx < 388; ++xx) {
            uint8_t index = 0;
            if (letters.at(xx, y)) {
                index = ditherRamp(blood, double(y - top) / 84.0, xx, y);
                const bool light =
                    touchesEmpty(letters, xx, y, {{-1, 0}, {0, -1}, {-2, 0}, {0, -2}});
                const bool dark = touchesEmpty(letters, xx, y, {{1, 0}, {0, 1}, {2, 0}, {0, 2}});
                if (light && !dark)
                    index = y - top < 40 ? 15 : 14;
                else if (dark && !light)
                    index = 2;
            } else if (drips.at(xx, y)) {
                index = !drips.at(xx - 1, y) ? 9 : !drips.at(xx + 1, y) ? 5 : 6;
                if (!drips.at(xx, y + 1)) index = 2;
            } else if (nearSet(shape, xx, y, 1)) {
                index = 1; // outline
            } else if (shape.at(xx - 3, y - 3)) {
                index = 3; // cast shadow
            }
            if (index) setIndex(p, xx, y, index);
        }
    }

    // The title in browns, a brush stroke under it, and the author.
    auto paintText = [&](const std::string& s, int32_t blockWidth, const std::vector<int32_t>& rows,
                         int32_t ty, const std::vector<uint8_t>& ramp) {
        const Mask m = renderText(s, blockWidth, rows, blockWidth, 4 * blockWidth);
        const int32_t left = (388 - m.width) / 2;
        for (int32_t v = -1; v <= m.height; ++v)
            for (int32_t u = -1; u <= m.width; ++u) {
                if (m.at(u, v))
                    setIndex(p, left + u, ty + v,
                             ditherRamp(ramp, double(v) / (m.height - 1), u, v));
                else if (nearSet(m, u, v, 1))
                    setIndex(p, left + u, ty + v, 1);
            }
    };
    paintText("GILDED ORRERY TALE", 2, tallRows, 146, {13, 11, 10, 7});
    for (int32_t xx = 40; xx < 348; ++xx) {
        const double t = (xx - 40) / 308.0;
        const double thick = 5.0 * std::sin(t * 3.14159265358979) + 1.5;
        const double mid = 172.0 + 1.5 * std::sin(xx * 0.07);
        for (int32_t y = int32_t(mid - thick) - 1; y <= int32_t(mid + thick) + 1; ++y) {
            const double edge = std::fabs(y + 0.5 - mid) - thick;
            if (edge > 0.0 && (edge > 1.0 || rng.next() % 3 != 0)) continue;
            const uint32_t streak = rng.next() % 16;
            setIndex(p, xx, y, streak == 0 ? 4 : streak < 4 ? 7 : 3);
        }
    }
    paintText("BY DERVAN", 2, std::vector<int32_t>(7, 2), 186, {11, 10, 7});
    return p;
}

namespace {

// The icon: a dark red disc with a gold rim and a gold Z.
IconImage iconImage(int32_t size, bool rich) {
    std::vector<uint32_t> palette = {rgb(0, 0, 0),      rgb(64, 0, 0),      rgb(112, 0, 0),
                                     rgb(160, 16, 16),  rgb(255, 236, 150), rgb(235, 180, 60),
                                     rgb(175, 110, 20), rgb(60, 28, 0),     rgb(255, 255, 255),
                                     rgb(96, 8, 8)};
    palette.resize(16, rgb(0, 0, 0));
    std::vector<uint8_t> redRamp = {3, 9, 2, 1}, goldRamp = {4, 5, 6};
    if (rich) {
        // The 256-colour version: smooth ramps in entries 16 and up.
        palette.resize(256, rgb(0, 0, 0));
        redRamp.clear();
        goldRamp.clear();
        for (int i = 0; i < 12; ++i) {
            palette[16 + size_t(i)] = mix(rgb(176, 24, 24), rgb(48, 0, 0), i / 11.0);
            redRamp.push_back(uint8_t(16 + i));
        }
        for (int i = 0; i < 12; ++i) {
            palette[32 + size_t(i)] =
                gradient({rgb(255, 244, 180), rgb(240, 190, 70), rgb(170, 100, 15)}, i / 11.0);
            goldRamp.push_back(uint8_t(32 + i));
        }
    }
    IconImage im;
    im.picture = blankPicture(size, size, rich ? 8 : 4, palette);
    im.transparent.assign(size_t(size) * size_t(size), 1);
    const int32_t block = size == 32 ? 3 : 2;
    const Mask z = renderGlyph('Z', block);
    const int32_t z0 = (size - z.width) / 2;
    Mask zm(size, size);
    stamp(zm, z, z0, z0);
    const double c = size / 2.0, radius = size / 2.0;
    const double rim = size == 32 ? 2.5 : 1.5;
    for (int32_t y = 0; y < size; ++y) {
        for (int32_t x = 0; x < size; ++x) {
            const double d = std::hypot(x + 0.5 - c, y + 0.5 - c);
            if (d >= radius && !zm.at(x, y)) continue;
            uint8_t index;
            if (zm.at(x, y))
                index = ditherRamp(goldRamp, double(y - z0) / (z.height - 1), x, y);
            else if (nearSet(zm, x, y, 1))
                index = 7;
            else if (d >= radius - rim)
                index = goldRamp[goldRamp.size() / 2];
            else
                index = ditherRamp(redRamp, d / (radius - rim), x, y);
            setIndex(im.picture, x, y, index);
            im.transparent[size_t(y) * size_t(size) + size_t(x)] = 0;
        }
    }
    return im;
}

} // namespace

std::vector<IconImage> makeIcon() {
    return {iconImage(16, false), iconImage(16, true), iconImage(32, false), iconImage(32, true)};
}

} // namespace artmaker
