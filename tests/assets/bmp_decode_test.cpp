// The BMP decoder against small hand-made files: every depth, row order and padding, and a table of
// malformed files that must all be refused.
#include "bmp_decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using assets::decodeBmp;
using assets::DecodedImage;

void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

// A BMP file with the given header values, palette (blue, green, red, 0 per entry) and stored rows
// (already padded, in stored order).
std::vector<uint8_t> makeBmp(int32_t width, int32_t height, uint16_t bpp,
                             const std::vector<uint8_t>& palette,
                             const std::vector<uint8_t>& rows) {
    std::vector<uint8_t> b(54 + palette.size() + rows.size(), 0);
    b[0] = 'B';
    b[1] = 'M';
    const uint32_t offset = 54 + uint32_t(palette.size());
    put32(b, 2, offset + uint32_t(rows.size()));
    put32(b, 10, offset);
    put32(b, 14, 40);
    put32(b, 18, uint32_t(width));
    put32(b, 22, uint32_t(height));
    put16(b, 26, 1);
    put16(b, 28, bpp);
    put32(b, 34, uint32_t(rows.size()));
    std::copy(palette.begin(), palette.end(), b.begin() + 54);
    std::copy(rows.begin(), rows.end(), b.begin() + 54 + long(palette.size()));
    return b;
}

// Palette: 0 black, 1 red, 2 green, 3 blue, rest grey (128) to the given count.
std::vector<uint8_t> fixturePalette(int entries) {
    std::vector<uint8_t> p;
    for (int i = 0; i < entries; ++i) {
        static const uint8_t first[4][3] = {{0, 0, 0}, {0, 0, 255}, {0, 255, 0}, {255, 0, 0}};
        if (i < 4)
            p.insert(p.end(), {first[i][0], first[i][1], first[i][2], 0});
        else
            p.insert(p.end(), {128, 128, 128, 0});
    }
    return p;
}

constexpr uint32_t black = 0x000000, red = 0x0000FF, green = 0x00FF00, blue = 0xFF0000,
                   grey = 0x808080, white = 0xFFFFFF;

struct DepthCase {
    std::string name;
    std::vector<uint8_t> file;
    std::vector<uint32_t> expected; // top row first
};

// Three pixels wide and two tall, so that every depth needs row padding. Stored bottom row first.
std::vector<DepthCase> depthCases() {
    std::vector<uint8_t> mono = {0, 0, 0, 0, 255, 255, 255, 0};
    return {
        // 1 bit: most significant bit leftmost. Bottom row 1,0,1; top row 0,1,1. Padding bits set
        // in the stored bytes must not turn into pixels.
        {"1 bit",
         makeBmp(3, 2, 1, mono, {0xBF, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0}),
         {black, white, white, white, black, white}},
        // 4 bits: high nibble left. Bottom row 1,2,3; top row 4,0,1.
        {"4 bits",
         makeBmp(3, 2, 4, fixturePalette(16), {0x12, 0x3F, 0, 0, 0x40, 0x10, 0, 0}),
         {grey, black, red, red, green, blue}},
        // 8 bits: bottom row 3,2,1; top row 0,5,3.
        {"8 bits",
         makeBmp(3, 2, 8, fixturePalette(256), {3, 2, 1, 0, 0, 5, 3, 0}),
         {black, grey, blue, blue, green, red}},
        // 24 bits: blue, green, red per pixel; rows of 9 bytes padded to 12.
        {"24 bits",
         makeBmp(3, 2, 24, {},
                 {255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0}),
         {0x010203, 0x040506, 0x070809, blue, green, red}},
        // Negative height: rows stored top row first.
        {"top-down 8 bits",
         makeBmp(3, -2, 8, fixturePalette(256), {3, 2, 1, 0, 0, 5, 3, 0}),
         {blue, green, red, black, grey, blue}},
    };
}

TEST(BmpDecode, DecodesEveryDepthRowOrderAndPadding) {
    for (const DepthCase& c : depthCases()) {
        SCOPED_TRACE(c.name);
        DecodedImage out;
        ASSERT_TRUE(decodeBmp(c.file.data(), c.file.size(), out));
        EXPECT_EQ(out.width, 3);
        EXPECT_EQ(out.height, 2);
        EXPECT_EQ(out.pixels, c.expected);
    }
}

TEST(BmpDecode, ShortPaletteAndOutOfRangeIndexGiveBlack) {
    // colours-used 2 on an 8-bit file: the pixel data begins right after two entries, and index
    // 3, which has no entry, decodes as black.
    std::vector<uint8_t> f = makeBmp(3, 1, 8, fixturePalette(2), {1, 3, 0, 0});
    put32(f, 46, 2);
    DecodedImage out;
    ASSERT_TRUE(decodeBmp(f.data(), f.size(), out));
    EXPECT_EQ(out.pixels, (std::vector<uint32_t>{red, black, black}));
}

TEST(BmpDecode, RefusesMalformedFiles) {
    const std::vector<uint8_t> good =
        makeBmp(3, 2, 8, fixturePalette(256), {3, 2, 1, 0, 0, 5, 3, 0});
    DecodedImage probe;
    ASSERT_TRUE(decodeBmp(good.data(), good.size(), probe));

    struct Case {
        const char* name;
        size_t at; // byte to change, or SIZE_MAX for none
        int width; // 1, 2 or 4 bytes written at `at`
        uint32_t value;
        size_t keep; // bytes of the file handed over (SIZE_MAX for all)
    };
    const size_t all = SIZE_MAX;
    const Case cases[] = {
        {"bad signature", 0, 1, 'X', all},
        {"second signature byte", 1, 1, 'A', all},
        {"first reserved word set", 6, 2, 1, all},
        {"second reserved word set", 8, 2, 0x8000, all},
        {"no bytes", all, 0, 0, 0},
        {"file header only", all, 0, 0, 14},
        {"info header cut", all, 0, 0, 53},
        {"palette cut", all, 0, 0, 54 + 1023},
        {"last pixel row cut", all, 0, 0, good.size() - 1},
        {"info header size 12", 14, 4, 12, all},
        {"info header size past the end", 14, 4, 0xFFFFFFF0u, all},
        {"zero width", 18, 4, 0, all},
        {"negative width", 18, 4, 0xFFFFFFFDu, all},
        {"huge width", 18, 4, 100000, all},
        {"width that overflows the stride", 18, 4, 0x7FFFFFFFu, all},
        {"zero height", 22, 4, 0, all},
        {"most negative height", 22, 4, 0x80000000u, all},
        {"huge height", 22, 4, 70000, all},
        {"too many pixels", 18, 4, 16384, all}, // 16384 x 2 fits the limits, not the bytes
        {"planes 0", 26, 2, 0, all},
        {"2 bits per pixel", 28, 2, 2, all},
        {"16 bits per pixel", 28, 2, 16, all},
        {"32 bits per pixel", 28, 2, 32, all},
        {"run-length compression", 30, 4, 1, all},
        {"bit-field compression", 30, 4, 3, all},
        {"more colours used than the depth allows", 46, 4, 257, all},
        {"pixel offset past the end", 10, 4, 0xFFFFFFFFu, all},
        {"pixel offset leaves rows short", 10, 4, uint32_t(good.size() - 7), all},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> f = good;
        if (c.at != all) {
            if (c.width == 1) f[c.at] = uint8_t(c.value);
            if (c.width == 2) put16(f, c.at, c.value);
            if (c.width == 4) put32(f, c.at, c.value);
        }
        if (c.keep != all) f.resize(c.keep);
        // An exactly sized copy, so that a read past the end shows under the sanitizers.
        std::vector<uint8_t> exact(f);
        DecodedImage out;
        out.width = 5;
        out.pixels.assign(4, 1);
        EXPECT_FALSE(decodeBmp(exact.empty() ? nullptr : exact.data(), exact.size(), out));
        EXPECT_EQ(out.width, 0);
        EXPECT_EQ(out.height, 0);
        EXPECT_TRUE(out.pixels.empty());
    }
}

TEST(BmpDecode, HugeDimensionsAreRefusedEvenWithEnoughBytes) {
    // 8193 x 8193 at 1 bit stays below the byte count given but above the pixel limit.
    const int32_t side = 8193;
    const size_t stride = (size_t(side) + 31) / 32 * 4;
    std::vector<uint8_t> f = makeBmp(side, side, 1, {0, 0, 0, 0, 255, 255, 255, 0},
                                     std::vector<uint8_t>(stride * size_t(side), 0));
    DecodedImage out;
    EXPECT_FALSE(decodeBmp(f.data(), f.size(), out));
}

} // namespace
