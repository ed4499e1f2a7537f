// Decoding of uncompressed Windows BMP files held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace assets {

// A decoded picture, top row first. Each pixel is a colour with red in bits 0-7, green in 8-15,
// blue in 16-23 and bits 24-31 zero.
struct DecodedImage {
    int32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

// Largest width or height, and largest pixel count, that decodeBmp accepts.
inline constexpr int32_t maxBmpDimension = 16384;
inline constexpr int64_t maxBmpPixels = int64_t(1) << 26;

// Decodes a BMP file of `size` bytes: 1, 4 and 8 bits per pixel through the palette, 24 bits per
// pixel as blue, green, red; bottom-up rows (positive height) or top-down rows (negative height);
// info headers of 40 bytes or more. Returns false, leaving `out` empty, for a file it refuses:
// wrong signature, reserved words not 0, headers, palette or pixel rows reaching past `size`, a
// width or height that is 0 or beyond the limits above, planes other than 1, another depth, or any
// compression. Palette indices beyond the palette's entries decode as black.
bool decodeBmp(const uint8_t* data, size_t size, DecodedImage& out);

} // namespace assets
