// The block alphabet that every lettering of the pictures is drawn from, and the shapes made of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace artmaker {

// A one-bit shape, top row first.
struct Mask {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> bits;

    Mask() = default;
    Mask(int32_t w, int32_t h) : width(w), height(h), bits(size_t(w) * size_t(h), 0) {}
    bool at(int32_t x, int32_t y) const {
        return x >= 0 && y >= 0 && x < width && y < height &&
               bits[size_t(y) * size_t(width) + size_t(x)];
    }
    void set(int32_t x, int32_t y, bool on = true) {
        if (x >= 0 && y >= 0 && x < width && y < height)
            bits[size_t(y) * size_t(width) + size_t(x)] = on ? 1 : 0;
    }
};

// Rows of the block glyph for a character (7 rows; '#' a full block, '.' empty, and half blocks
// cut on a diagonal: 'a' lacks its top-left corner, 'b' top-right, 'c' bottom-left, 'd'
// bottom-right). Returns nullptr for a character that has no glyph.
const std::vector<std::string>* blockGlyph(char c);

// Number of block columns of a glyph (0 when it has none).
int32_t glyphColumns(char c);

// Renders a glyph with each block column `blockWidth` pixels wide and block row r `rowHeights[r]`
// pixels tall (7 entries).
Mask renderGlyph(char c, int32_t blockWidth, const std::vector<int32_t>& rowHeights);

// Square blocks: renderGlyph(c, k, {k, k, k, k, k, k, k}).
Mask renderGlyph(char c, int32_t blockSize);

// Sets the pixels of `src` in `dst` with src's top-left corner at (x, y).
void stamp(Mask& dst, const Mask& src, int32_t x, int32_t y);

// A line of text in proportional spacing: each glyph is followed by `gap` pixels, a blank takes
// `blankWidth` pixels.
Mask renderText(const std::string& text, int32_t blockWidth, const std::vector<int32_t>& rowHeights,
                int32_t gap, int32_t blankWidth);

} // namespace artmaker
