#include "glyphs.h"

#include <map>
#include <numeric>

namespace artmaker {
namespace {

using Rows = std::vector<std::string>;

const std::map<char, Rows>& alphabet() {
    static const std::map<char, Rows> glyphs = {
        {'A', {"a#####b", "##...##", "##...##", "#######", "##...##", "##...##", "##...##"}},
        {'B', {"######b", "##...##", "##...##", "######.", "##...##", "##...##", "######d"}},
        {'C', {"a#####b", "##...##", "##.....", "##.....", "##.....", "##...##", "c#####d"}},
        {'D', {"######b", "##...##", "##...##", "##...##", "##...##", "##...##", "######d"}},
        {'E', {"#######", "##.....", "##.....", "#####..", "##.....", "##.....", "#######"}},
        {'F', {"#######", "##.....", "##.....", "#####..", "##.....", "##.....", "##....."}},
        {'G', {"a#####b", "##...##", "##.....", "##..###", "##...##", "##...##", "c#####d"}},
        {'H', {"##...##", "##...##", "##...##", "#######", "##...##", "##...##", "##...##"}},
        {'I', {"######", "..##..", "..##..", "..##..", "..##..", "..##..", "######"}},
        {'J', {".....##", ".....##", ".....##", ".....##", "##...##", "##...##", "c#####d"}},
        {'K', {"##...##", "##..a#d", "##.a#d.", "####d..", "##.c#b.", "##..c#b", "##...##"}},
        {'L', {"##.....", "##.....", "##.....", "##.....", "##.....", "##.....", "#######"}},
        {'M', {"##...##", "###.###", "#######", "##c#d##", "##...##", "##...##", "##...##"}},
        {'N', {"##...##", "###b.##", "##c#b##", "##.c###", "##..c##", "##...##", "##...##"}},
        {'O', {"a#####b", "##...##", "##...##", "##...##", "##...##", "##...##", "c#####d"}},
        {'P', {"######b", "##...##", "##...##", "######d", "##.....", "##.....", "##....."}},
        {'Q', {"a#####b", "##...##", "##...##", "##...##", "##c#b##", "##.c###", "c######"}},
        {'R', {"######b", "##...##", "##...##", "######d", "##.c#b.", "##..c#b", "##...##"}},
        {'S', {"a#####b", "##...##", "##.....", "c#####b", ".....##", "##...##", "c#####d"}},
        {'T', {"######", "..##..", "..##..", "..##..", "..##..", "..##..", "..##.."}},
        {'U', {"##...##", "##...##", "##...##", "##...##", "##...##", "##...##", "c#####d"}},
        {'V', {"##...##", "##...##", "##...##", "##...##", "c#b.a#d", ".c###d.", "..c#d.."}},
        {'W', {"##...##", "##...##", "##...##", "##a#b##", "#######", "###.###", "##...##"}},
        {'X', {"##...##", "c#b.a#d", ".c###d.", "..###..", ".a###b.", "a#d.c#b", "##...##"}},
        {'Y', {"##...##", "##...##", "c#b.a#d", ".c###d.", "..###..", "..###..", "..###.."}},
        {'Z', {"#######", "....a#d", "...a#d.", "..a#d..", ".a#d...", "a#d....", "#######"}},
        {'0', {"a#####b", "##...##", "##..###", "##.#.##", "###..##", "##...##", "c#####d"}},
        {'1', {".a##..", "a###..", "..##..", "..##..", "..##..", "..##..", "######"}},
        {'2', {"a#####b", "##...##", ".....##", "a#####d", "##.....", "##.....", "#######"}},
        {'3', {"a#####b", "##...##", ".....##", "..####.", ".....##", "##...##", "c#####d"}},
        {'4', {"##...##", "##...##", "##...##", "#######", ".....##", ".....##", ".....##"}},
        {'5', {"#######", "##.....", "##.....", "######b", ".....##", "##...##", "c#####d"}},
        {'6', {"a#####b", "##...##", "##.....", "######b", "##...##", "##...##", "c#####d"}},
        {'7', {"#######", ".....##", "....a#d", "...a#d.", "..##...", "..##...", "..##..."}},
        {'8', {"a#####b", "##...##", "##...##", "a#####b", "##...##", "##...##", "c#####d"}},
        {'9', {"a#####b", "##...##", "##...##", "c######", ".....##", "##...##", "c#####d"}},
        {'!', {"##", "##", "##", "##", "##", "..", "##"}},
        {'"', {"##.##", "##.##", ".....", ".....", ".....", ".....", "....."}},
        {'%', {"##...##", "##..a#d", "...a#d.", "..a#d..", ".a#d...", "a#d..##", "##...##"}},
        {'\'', {"##", "##", "..", "..", "..", "..", ".."}},
        {'(', {".a#", "a#d", "##.", "##.", "##.", "c#b", ".c#"}},
        {')', {"#b.", "c#b", ".##", ".##", ".##", "a#d", "#d."}},
        {',', {"..", "..", "..", "..", "##", "##", "d."}},
        {'-', {".....", ".....", ".....", "#####", ".....", ".....", "....."}},
        {'.', {"..", "..", "..", "..", "..", "##", "##"}},
        {'/', {".....##", "....a#d", "...a#d.", "..a#d..", ".a#d...", "a#d....", "##....."}},
        {':', {"..", "##", "##", "..", "##", "##", ".."}},
        {';', {"..", "##", "##", "..", "##", "##", "d."}},
        {'=', {"......", "######", "......", "......", "######", "......", "......"}},
        {'?', {"a#####b", "##...##", ".....##", "...a##d", "...##..", ".......", "...##.."}},
    };
    return glyphs;
}

// Whether pixel (u, v) of a w x h block of kind `k` is set.
bool blockPixel(char k, int32_t u, int32_t v, int32_t w, int32_t h) {
    if (k == '#') return true;
    if (k == '.') return false;
    // Position of the pixel centre along the block's diagonals, in units of the block.
    const double s = (u + 0.5) / w + (v + 0.5) / h;     // 0 at top-left, 2 at bottom-right
    const double t = (w - u - 0.5) / w + (v + 0.5) / h; // 0 at top-right, 2 at bottom-left
    switch (k) {
    case 'a':
        return s >= 1.0;
    case 'd':
        return s <= 1.0;
    case 'b':
        return t >= 1.0;
    case 'c':
        return t <= 1.0;
    default:
        return false;
    }
}

} // namespace

const std::vector<std::string>* blockGlyph(char c) {
    auto it = alphabet().find(c);
    return it == alphabet().end() ? nullptr : &it->second;
}

int32_t glyphColumns(char c) {
    const Rows* g = blockGlyph(c);
    return g ? static_cast<int32_t>((*g)[0].size()) : 0;
}

Mask renderGlyph(char c, int32_t blockWidth, const std::vector<int32_t>& rowHeights) {
    const Rows* g = blockGlyph(c);
    if (!g) return {};
    const int32_t cols = glyphColumns(c);
    Mask m(cols * blockWidth, std::accumulate(rowHeights.begin(), rowHeights.end(), 0));
    int32_t top = 0;
    for (size_t r = 0; r < g->size(); ++r) {
        const int32_t h = rowHeights[r];
        for (int32_t col = 0; col < cols; ++col)
            for (int32_t v = 0; v < h; ++v)
                for (int32_t u = 0; u < blockWidth; ++u)
                    if (blockPixel((*g)[r][size_t(col)], u, v, blockWidth, h))
                        m.set(col * blockWidth + u, top + v);
        top += h;
    }
    return m;
}

Mask renderGlyph(char c, int32_t blockSize) {
    return renderGlyph(c, blockSize, std::vector<int32_t>(7, blockSize));
}

void stamp(Mask& dst, const Mask& src, int32_t x, int32_t y) {
    for (int32_t v = 0; v < src.height; ++v)
        for (int32_t u = 0; u < src.width; ++u)
            if (src.at(u, v)) dst.set(x + u, y + v);
}

Mask renderText(const std::string& text, int32_t blockWidth, const std::vector<int32_t>& rowHeights,
                int32_t gap, int32_t blankWidth) {
    int32_t width = 0;
    for (char c : text) width += c == ' ' ? blankWidth : glyphColumns(c) * blockWidth + gap;
    if (!text.empty() && text.back() != ' ') width -= gap;
    Mask line(width, std::accumulate(rowHeights.begin(), rowHeights.end(), 0));
    int32_t x = 0;
    for (char c : text) {
        if (c == ' ') {
            x += blankWidth;
            continue;
        }
        stamp(line, renderGlyph(c, blockWidth, rowHeights), x, 0);
        x += glyphColumns(c) * blockWidth + gap;
    }
    return line;
}

} // namespace artmaker
