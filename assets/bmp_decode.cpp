#include "bmp_decode.h"

namespace assets {
namespace {

constexpr size_t fileHeaderSize = 14;
constexpr uint32_t minInfoHeaderSize = 40;

uint16_t read16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t read32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint32_t colour(uint8_t blue, uint8_t green, uint8_t red) {
    return uint32_t(red) | (uint32_t(green) << 8) | (uint32_t(blue) << 16);
}

} // namespace

bool decodeBmp(const uint8_t* data, size_t size, DecodedImage& out) {
    out = DecodedImage{};
    if (!data || size < fileHeaderSize + minInfoHeaderSize) return false;
    if (data[0] != 'B' || data[1] != 'M' || read16(data + 6) != 0 || read16(data + 8) != 0)
        return false;

    const uint32_t pixelOffset = read32(data + 10);
    const uint32_t infoSize = read32(data + 14);
    const int32_t width = static_cast<int32_t>(read32(data + 18));
    const int32_t rawHeight = static_cast<int32_t>(read32(data + 22));
    const uint16_t planes = read16(data + 26);
    const uint16_t bitsPerPixel = read16(data + 28);
    const uint32_t compression = read32(data + 30);
    const uint32_t coloursUsed = read32(data + 46);

    if (infoSize < minInfoHeaderSize || infoSize > size - fileHeaderSize) return false;
    if (planes != 1 || compression != 0) return false;
    if (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 24)
        return false;
    if (width <= 0 || width > maxBmpDimension) return false;
    if (rawHeight == 0 || rawHeight < -maxBmpDimension || rawHeight > maxBmpDimension) return false;
    const bool bottomUp = rawHeight > 0;
    const int32_t height = bottomUp ? rawHeight : -rawHeight;
    if (int64_t(width) * height > maxBmpPixels) return false;

    // The palette follows the info header: the full 2^bpp entries unless colours-used says fewer.
    uint32_t paletteEntries = 0;
    if (bitsPerPixel <= 8) {
        const uint32_t full = 1u << bitsPerPixel;
        if (coloursUsed > full) return false;
        paletteEntries = coloursUsed == 0 ? full : coloursUsed;
    }
    const uint64_t paletteStart = fileHeaderSize + uint64_t(infoSize);
    if (paletteStart + uint64_t(paletteEntries) * 4 > size) return false;
    uint32_t palette[256] = {};
    for (uint32_t i = 0; i < paletteEntries; ++i) {
        const uint8_t* e = data + paletteStart + 4 * i;
        palette[i] = colour(e[0], e[1], e[2]);
    }

    // Every stored row is padded to a multiple of four bytes.
    const uint64_t stride = (uint64_t(width) * bitsPerPixel + 31) / 32 * 4;
    if (uint64_t(pixelOffset) + stride * uint64_t(height) > size) return false;

    out.width = width;
    out.height = height;
    out.pixels.resize(size_t(width) * size_t(height));
    for (int32_t k = 0; k < height; ++k) {
        const uint8_t* row = data + pixelOffset + stride * uint64_t(k);
        const int32_t y = bottomUp ? height - 1 - k : k;
        uint32_t* dst = out.pixels.data() + size_t(y) * size_t(width);
        switch (bitsPerPixel) {
        case 1:
            for (int32_t x = 0; x < width; ++x)
                dst[x] = palette[(row[x >> 3] >> (7 - (x & 7))) & 1];
            break;
        case 4:
            for (int32_t x = 0; x < width; ++x)
                dst[x] = palette[(x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4];
            break;
        case 8:
            for (int32_t x = 0; x < width; ++x) dst[x] = palette[row[x]];
            break;
        default:
            for (int32_t x = 0; x < width; ++x)
                dst[x] = colour(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
            break;
        }
    }
    return true;
}

} // namespace assets
