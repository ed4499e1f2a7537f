// Byte layouts of the files the maker writes: BMP pictures and the application icon.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace artmaker {

// A picture as its pixels are stored: palette indices (1, 4 or 8 bits per pixel, `indices` used)
// or direct colours (24 bits per pixel, `colours` used). Pixels run top row first; colours are
// red in bits 0-7, green 8-15, blue 16-23.
struct Picture {
    int32_t width = 0, height = 0;
    uint16_t bitsPerPixel = 8;
    std::vector<uint32_t> palette; // full 2^bpp entries for indexed pictures
    std::vector<uint8_t> indices;
    std::vector<uint32_t> colours;
    int32_t pixelsPerMetre = 7874;

    uint32_t colourAt(int32_t x, int32_t y) const {
        size_t i = size_t(y) * size_t(width) + size_t(x);
        return bitsPerPixel == 24 ? colours[i] : palette[indices[i]];
    }
};

// A complete BMP file: 14-byte file header, 40-byte info header, palette, bottom-up rows padded
// to four bytes.
std::vector<uint8_t> encodeBmp(const Picture& p);

// One image of an icon file: indexed pixels (4 or 8 bits), top row first, and a transparency mask
// (1 = transparent), top row first.
struct IconImage {
    Picture picture;
    std::vector<uint8_t> transparent;
};

// A complete icon file holding the given images in order.
std::vector<uint8_t> encodeIco(const std::vector<IconImage>& images);

} // namespace artmaker
