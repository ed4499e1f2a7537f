#include "files.h"

namespace artmaker {
namespace {

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

uint32_t rowStride(int32_t width, uint16_t bitsPerPixel) {
    return (uint32_t(width) * bitsPerPixel + 31) / 32 * 4;
}

void putInfoHeader(std::vector<uint8_t>& out, const Picture& p, int32_t storedHeight,
                   uint32_t imageSize, int32_t resolution) {
    put32(out, 40);
    put32(out, uint32_t(p.width));
    put32(out, uint32_t(storedHeight));
    put16(out, 1);
    put16(out, p.bitsPerPixel);
    put32(out, 0); // uncompressed
    put32(out, imageSize);
    put32(out, uint32_t(resolution));
    put32(out, uint32_t(resolution));
    put32(out, 0); // colours used: the full palette
    put32(out, 0); // colours important: all
}

void putPalette(std::vector<uint8_t>& out, const Picture& p) {
    for (uint32_t c : p.palette) {
        out.push_back(uint8_t(c >> 16)); // blue
        out.push_back(uint8_t(c >> 8));  // green
        out.push_back(uint8_t(c));       // red
        out.push_back(0);
    }
}

// Rows bottom-up, each padded with zero bytes to the stride.
void putPixels(std::vector<uint8_t>& out, const Picture& p) {
    const uint32_t stride = rowStride(p.width, p.bitsPerPixel);
    for (int32_t y = p.height - 1; y >= 0; --y) {
        std::vector<uint8_t> row(stride, 0);
        for (int32_t x = 0; x < p.width; ++x) {
            const size_t i = size_t(y) * size_t(p.width) + size_t(x);
            switch (p.bitsPerPixel) {
            case 1:
                row[size_t(x) / 8] |= uint8_t((p.indices[i] & 1) << (7 - x % 8));
                break;
            case 4:
                row[size_t(x) / 2] |= uint8_t((p.indices[i] & 15) << (x % 2 ? 0 : 4));
                break;
            case 8:
                row[size_t(x)] = p.indices[i];
                break;
            default:
                row[3 * size_t(x)] = uint8_t(p.colours[i] >> 16);
                row[3 * size_t(x) + 1] = uint8_t(p.colours[i] >> 8);
                row[3 * size_t(x) + 2] = uint8_t(p.colours[i]);
                break;
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
}

} // namespace

std::vector<uint8_t> encodeBmp(const Picture& p) {
    const uint32_t paletteBytes = 4 * uint32_t(p.palette.size());
    const uint32_t imageSize = rowStride(p.width, p.bitsPerPixel) * uint32_t(p.height);
    const uint32_t pixelOffset = 14 + 40 + paletteBytes;
    std::vector<uint8_t> out{'B', 'M'};
    put32(out, pixelOffset + imageSize);
    put16(out, 0);
    put16(out, 0);
    put32(out, pixelOffset);
    putInfoHeader(out, p, p.height, imageSize, p.pixelsPerMetre);
    putPalette(out, p);
    putPixels(out, p);
    return out;
}

std::vector<uint8_t> encodeIco(const std::vector<IconImage>& images) {
    std::vector<std::vector<uint8_t>> bodies;
    for (const IconImage& im : images) {
        const Picture& p = im.picture;
        const uint32_t maskStride = rowStride(p.width, 1);
        const uint32_t size = rowStride(p.width, p.bitsPerPixel) * uint32_t(p.height) +
                              maskStride * uint32_t(p.height);
        std::vector<uint8_t> body;
        // An icon image stores the colour rows and then the mask rows, so its header counts
        // twice the height.
        putInfoHeader(body, p, 2 * p.height, size, 0);
        putPalette(body, p);
        putPixels(body, p);
        for (int32_t y = p.height - 1; y >= 0; --y) {
            std::vector<uint8_t> row(maskStride, 0);
            for (int32_t x = 0; x < p.width; ++x)
                if (im.transparent[size_t(y) * size_t(p.width) + size_t(x)])
                    row[size_t(x) / 8] |= uint8_t(0x80 >> (x % 8));
            body.insert(body.end(), row.begin(), row.end());
        }
        bodies.push_back(std::move(body));
    }
    std::vector<uint8_t> out;
    put16(out, 0);
    put16(out, 1); // icon
    put16(out, uint32_t(images.size()));
    uint32_t offset = 6 + 16 * uint32_t(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        const Picture& p = images[i].picture;
        out.push_back(uint8_t(p.width));
        out.push_back(uint8_t(p.height));
        out.push_back(p.bitsPerPixel < 8 ? uint8_t(1u << p.bitsPerPixel) : 0);
        out.push_back(0);
        put16(out, 1);
        put16(out, p.bitsPerPixel);
        put32(out, uint32_t(bodies[i].size()));
        put32(out, offset);
        offset += uint32_t(bodies[i].size());
    }
    for (const auto& b : bodies) out.insert(out.end(), b.begin(), b.end());
    return out;
}

} // namespace artmaker
