// The embedded data: the blob's order, the six pictures' headers, palettes and layouts, the texts,
// the colour records and the icon.
#include "bmp_decode.h"
#include "embedded.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

uint32_t read16(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8);
}
uint32_t read32(const uint8_t* p) {
    return read16(p) | (read16(p + 2) << 16);
}
constexpr uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) {
    return r | (g << 8) | (b << 16);
}

struct FileRow {
    const char* name;
    const uint8_t* data;
    size_t size;
    int32_t width, height;
    uint32_t bitsPerPixel, paletteEntries, fileSize, pixelOffset, stride, imageSize, resolution;
};

const FileRow fileTable[] = {
    {"launcherFontImage", launcherFontImage, launcherFontImageSize, 160, 96, 4, 16, 7798, 118, 80,
     7680, 7874},
    {"bandImage", bandImage, bandImageSize, 640, 201, 1, 2, 16142, 62, 80, 16080, 7874},
    {"logoImage", logoImage, logoImageSize, 1282, 130, 1, 2, 21382, 62, 164, 21320, 7874},
    {"scrollFontImage", scrollFontImage, scrollFontImageSize, 2400, 32, 4, 16, 38518, 118, 1200,
     38400, 7874},
    {"bannerImage", bannerImage, bannerImageSize, 640, 45, 24, 0, 86454, 54, 1920, 86400, 15744},
    {"splashImage", splashImage, splashImageSize, 388, 212, 8, 256, 83334, 1078, 388, 82256, 7874},
};

assets::DecodedImage decode(const uint8_t* data, size_t size) {
    assets::DecodedImage img;
    EXPECT_TRUE(assets::decodeBmp(data, size, img));
    return img;
}

uint32_t pixel(const assets::DecodedImage& img, int32_t x, int32_t y) {
    return img.pixels[size_t(y) * size_t(img.width) + size_t(x)];
}

std::vector<uint32_t> palette(const uint8_t* file, uint32_t entries) {
    std::vector<uint32_t> p;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* e = file + 54 + 4 * i;
        p.push_back(rgb(e[2], e[1], e[0]));
    }
    return p;
}

// Whether every pixel of the rectangle is black.
bool allBlack(const assets::DecodedImage& img, int32_t x, int32_t y, int32_t w, int32_t h) {
    for (int32_t v = y; v < y + h; ++v)
        for (int32_t u = x; u < x + w; ++u)
            if (pixel(img, u, v) != 0) return false;
    return true;
}

// Stored palette index of pixel (x, y) of a 4-bit file (y counted from the top).
uint32_t nibbleAt(const FileRow& f, int32_t x, int32_t y) {
    const uint8_t b =
        f.data[f.pixelOffset + f.stride * uint32_t(f.height - 1 - y) + uint32_t(x / 2)];
    return x % 2 ? b & 15u : b >> 4u;
}

TEST(EmbeddedBlob, ItemsLieBackToBackInOrder) {
    const uint8_t* items[] = {launcherTune, launcherFontImage, bandImage,
                              logoImage,    scrollFontImage,   bannerImage,
                              splashImage,  mainTune,          colourRecordBytes};
    const size_t sizes[] = {launcherTuneSize, launcherFontImageSize, bandImageSize,
                            logoImageSize,    scrollFontImageSize,   bannerImageSize,
                            splashImageSize,  mainTuneSize,          33 * 4};
    EXPECT_EQ(items[0], embeddedBlob);
    size_t total = 0;
    for (size_t i = 0; i < std::size(items); ++i) {
        EXPECT_EQ(items[i], embeddedBlob + total) << "item " << i;
        total += sizes[i];
    }
    EXPECT_EQ(total, embeddedBlobSize);
    EXPECT_EQ(assets::embeddedItemSize(launcherFontImage + 1), 0u);
    EXPECT_EQ(assets::embeddedItemSize(nullptr), 0u);
}

TEST(EmbeddedImages, HeadersMatchTheFileTable) {
    for (const FileRow& f : fileTable) {
        SCOPED_TRACE(f.name);
        const uint8_t* d = f.data;
        ASSERT_EQ(f.size, f.fileSize);
        EXPECT_EQ(d[0], 'B');
        EXPECT_EQ(d[1], 'M');
        EXPECT_EQ(read32(d + 2), f.fileSize);
        EXPECT_EQ(read16(d + 6), 0u);
        EXPECT_EQ(read16(d + 8), 0u);
        EXPECT_EQ(read32(d + 10), f.pixelOffset);
        EXPECT_EQ(read32(d + 14), 40u);
        EXPECT_EQ(int32_t(read32(d + 18)), f.width);
        EXPECT_EQ(int32_t(read32(d + 22)), f.height); // positive: bottom-up rows
        EXPECT_EQ(read16(d + 26), 1u);
        EXPECT_EQ(read16(d + 28), f.bitsPerPixel);
        EXPECT_EQ(read32(d + 30), 0u);
        EXPECT_EQ(read32(d + 34), f.imageSize);
        EXPECT_EQ(read32(d + 38), f.resolution);
        EXPECT_EQ(read32(d + 42), f.resolution);
        EXPECT_EQ(read32(d + 46), 0u);
        EXPECT_EQ(read32(d + 50), 0u);
        EXPECT_EQ(54 + 4 * f.paletteEntries, f.pixelOffset);
        EXPECT_EQ(f.stride * uint32_t(f.height), f.imageSize);
        EXPECT_EQ(f.stride, (uint32_t(f.width) * f.bitsPerPixel + 31) / 32 * 4);
        for (uint32_t i = 0; i < f.paletteEntries; ++i) EXPECT_EQ(d[54 + 4 * i + 3], 0) << i;
        // Row padding is zero: every bit past the last pixel of each stored row.
        const uint32_t usedBits = uint32_t(f.width) * f.bitsPerPixel;
        for (int32_t row = 0; row < f.height; ++row)
            for (uint32_t bit = usedBits; bit < 8 * f.stride; ++bit) {
                const uint8_t byte = d[f.pixelOffset + f.stride * uint32_t(row) + bit / 8];
                ASSERT_EQ((byte >> (7 - bit % 8)) & 1, 0) << "row " << row << " bit " << bit;
            }
        EXPECT_EQ(assets::embeddedItemSize(f.data), f.fileSize);
        const assets::DecodedImage img = decode(f.data, f.size);
        EXPECT_EQ(img.width, f.width);
        EXPECT_EQ(img.height, f.height);
    }
}

TEST(EmbeddedImages, PalettesAreExact) {
    EXPECT_EQ(palette(launcherFontImage, 16),
              (std::vector<uint32_t>{
                  rgb(0, 0, 0), rgb(153, 68, 68), rgb(102, 34, 34), rgb(34, 0, 0), rgb(68, 68, 102),
                  rgb(34, 34, 68), rgb(68, 0, 0), rgb(187, 102, 102), rgb(221, 153, 153),
                  rgb(102, 102, 153), rgb(153, 153, 187), rgb(255, 187, 187), rgb(187, 187, 221),
                  rgb(0, 0, 0), rgb(221, 221, 255), rgb(221, 255, 255)}));
    const std::vector<uint32_t> mono = {rgb(0, 0, 0), rgb(255, 255, 255)};
    EXPECT_EQ(palette(bandImage, 2), mono);
    EXPECT_EQ(palette(logoImage, 2), mono);
    std::vector<uint32_t> scroll = {rgb(0, 0, 0), rgb(0, 0, 132), rgb(99, 99, 99),
                                    rgb(165, 165, 165), rgb(198, 198, 198)};
    scroll.resize(16, rgb(255, 255, 255));
    EXPECT_EQ(palette(scrollFontImage, 16), scroll);
    std::vector<uint32_t> splash = {
        rgb(0, 0, 0),       rgb(64, 32, 0),     rgb(96, 0, 0),      rgb(96, 64, 32),
        rgb(96, 96, 64),    rgb(128, 0, 0),     rgb(160, 0, 0),     rgb(128, 96, 64),
        rgb(224, 0, 0),     rgb(224, 64, 64),   rgb(160, 128, 96),  rgb(192, 160, 128),
        rgb(224, 128, 128), rgb(224, 192, 160), rgb(224, 192, 192), rgb(224, 224, 224)};
    splash.resize(256, rgb(0, 0, 0));
    EXPECT_EQ(palette(splashImage, 256), splash);
}

// Glyph cells: which codes have a glyph (some non-black pixel) and which are all black.
TEST(EmbeddedImages, FontCellsHoldExactlyTheListedGlyphs) {
    const std::string launcherGlyphs = "!\"%'(),-./0123456789:;=?ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const std::string scrollGlyphs = "!\"'(),-.0123456789:;=?ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const assets::DecodedImage launcher = decode(launcherFontImage, launcherFontImageSize);
    for (int code = 32; code <= 91; ++code) {
        const int32_t x = 16 * ((code - 32) % 10), y = 16 * ((code - 32) / 10);
        const bool glyph = launcherGlyphs.find(char(code)) != std::string::npos;
        EXPECT_NE(allBlack(launcher, x, y, 16, 16), glyph) << "launcher code " << code;
    }
    const assets::DecodedImage scroll = decode(scrollFontImage, scrollFontImageSize);
    for (int code = 32; code <= 106; ++code) {
        const bool glyph = scrollGlyphs.find(char(code)) != std::string::npos;
        EXPECT_NE(allBlack(scroll, 32 * (code - 32), 0, 32, 32), glyph) << "scroll code " << code;
    }
}

TEST(EmbeddedImages, LauncherFontUsesBothBlackEntries) {
    // Entries 0 and 13 are both black: the glyph backgrounds use 0, the empty cells 13, and both
    // decode to black (transparent under the black key colour).
    const FileRow& f = fileTable[0];
    std::set<uint32_t> used;
    for (int32_t y = 0; y < 96; ++y)
        for (int32_t x = 0; x < 160; ++x) used.insert(nibbleAt(f, x, y));
    EXPECT_TRUE(used.count(0));
    EXPECT_TRUE(used.count(13));
    EXPECT_EQ(nibbleAt(f, 0, 0), 13u); // the blank
    const assets::DecodedImage img = decode(f.data, f.size);
    EXPECT_TRUE(allBlack(img, 0, 0, 16, 16));
    for (int32_t y = 0; y < 96; ++y)
        for (int32_t x = 0; x < 160; ++x)
            if (nibbleAt(f, x, y) == 0 || nibbleAt(f, x, y) == 13) {
                ASSERT_EQ(pixel(img, x, y), 0u) << x << "," << y;
            }
}

TEST(EmbeddedImages, ScrollFontUsesOnlyBlackAndItsThreeGreys) {
    const FileRow& f = fileTable[3];
    std::set<uint32_t> used;
    for (int32_t y = 0; y < 32; ++y)
        for (int32_t x = 0; x < 2400; ++x) used.insert(nibbleAt(f, x, y));
    EXPECT_EQ(used, (std::set<uint32_t>{0, 2, 3, 4}));
    const assets::DecodedImage img = decode(f.data, f.size);
    EXPECT_TRUE(allBlack(img, 0, 0, 32, 32)); // the blank: a clip on cell 0 shows nothing
    EXPECT_TRUE(allBlack(img, 32 * 59, 0, 32 * 16, 32)); // cells 59-74
}

TEST(EmbeddedImages, BandTextSitsInItsRows) {
    const assets::DecodedImage img = decode(bandImage, bandImageSize);
    const int32_t lineTops[] = {5, 53, 101, 149, 181};
    std::vector<bool> expectWhite(201, false);
    for (int32_t top : lineTops)
        for (int32_t y = top; y < top + 16; ++y) expectWhite[size_t(y)] = true;
    for (int32_t y = 27; y <= 30; ++y) expectWhite[size_t(y)] = true;
    for (int32_t y = 0; y < 201; ++y) {
        bool white = false;
        for (int32_t x = 0; x < 640; ++x) {
            const uint32_t p = pixel(img, x, y);
            ASSERT_TRUE(p == 0 || p == 0xFFFFFF);
            white |= p != 0;
        }
        EXPECT_EQ(white, expectWhite[size_t(y)]) << "row " << y;
    }
    // The rule is dashed: each of its rows has gaps between its first and last white pixel.
    int32_t first = -1, last = -1, gaps = 0;
    for (int32_t x = 0; x < 640; ++x)
        if (pixel(img, x, 28)) {
            if (first >= 0 && x != last + 1) ++gaps;
            if (first < 0) first = x;
            last = x;
        }
    EXPECT_GT(gaps, 10);
}

TEST(EmbeddedImages, LogoFillsRows2To129AndColumns0To1279Only) {
    const assets::DecodedImage img = decode(logoImage, logoImageSize);
    int32_t minX = 9999, maxX = -1, minY = 9999, maxY = -1;
    for (int32_t y = 0; y < 130; ++y)
        for (int32_t x = 0; x < 1282; ++x) {
            const uint32_t p = pixel(img, x, y);
            ASSERT_TRUE(p == 0 || p == 0xFFFFFF);
            if (p) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
        }
    EXPECT_EQ(minX, 0);
    EXPECT_EQ(maxX, 1279); // the two rightmost columns stay empty
    EXPECT_EQ(minY, 2);
    EXPECT_EQ(maxY, 129);
}

TEST(EmbeddedImages, BannerHasBlackTopRowAndRedStripes) {
    const assets::DecodedImage img = decode(bannerImage, bannerImageSize);
    const uint32_t levels[11] = {64, 96, 128, 160, 192, 224, 192, 160, 128, 96, 64};
    for (int32_t y = 0; y < 45; ++y)
        for (int32_t x = 0; x < 640; ++x) {
            if (y == 0) {
                ASSERT_EQ(pixel(img, x, y), 0u) << x;
            } else {
                ASSERT_NE(pixel(img, x, y), 0u) << x << "," << y;
            }
        }
    // The left and right ends are plain stripes, four rows each.
    for (int32_t y = 1; y < 45; ++y)
        for (int32_t x : {0, 31, 60, 579, 608, 639})
            EXPECT_EQ(pixel(img, x, y), rgb(levels[(y - 1) / 4], 0, 0)) << x << "," << y;
    // The wordmark in the middle is gold: red above green above blue, green well lit.
    int gold = 0;
    for (int32_t y = 1; y < 45; ++y)
        for (int32_t x = 200; x < 440; ++x) {
            const uint32_t p = pixel(img, x, y);
            const uint32_t r = p & 255, g = (p >> 8) & 255, b = p >> 16;
            if (r >= g && g > b && g >= 90) ++gold;
        }
    EXPECT_GT(gold, 1000);
}

TEST(EmbeddedImages, SplashUsesOnlyTheFirstSixteenEntriesAndUnpaddedRows) {
    const FileRow& f = fileTable[5];
    EXPECT_EQ(f.stride, 388u); // 388 bytes a row: no padding
    std::set<uint8_t> used(f.data + f.pixelOffset, f.data + f.pixelOffset + f.imageSize);
    EXPECT_LE(*used.rbegin(), 15);
    EXPECT_GE(used.size(), 12u); // a painting, not a silhouette
    const assets::DecodedImage img = decode(f.data, f.size);
    // The last pixel of each row comes from that row's own last byte.
    for (int32_t y = 0; y < 212; ++y) {
        const uint8_t index = f.data[f.pixelOffset + 388 * uint32_t(211 - y) + 387];
        EXPECT_EQ(pixel(img, 387, y), palette(splashImage, 256)[index]);
    }
}

TEST(EmbeddedTexts, LauncherLines) {
    const assets::Text lines[] = {assets::groupLineText, assets::titleLineText,
                                  assets::fullScreenLineText, assets::windowedLineText,
                                  assets::authorLineText};
    const std::u16string expected[] = {u"ZOLT", u"GILDED ORRERY TALE", u"F1:FULLSCREEN",
                                       u"F2:WINDOWED", u"DERVAN "};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(std::u16string(lines[i].units, size_t(lines[i].length)), expected[i]);
        EXPECT_EQ(lines[i].units[lines[i].length], u'\0');
    }
}

TEST(EmbeddedTexts, StoredScrollTextHasTheScrollersForm) {
    const assets::Text t = assets::storedScrollText;
    ASSERT_EQ(t.length, 411);
    const std::u16string s(t.units, 411);
    EXPECT_EQ(s.find_first_not_of(u' '), 30u);
    EXPECT_TRUE(s.back() == u'.' || s.back() == u'!');
    int lower = 0;
    for (char16_t c : s) {
        const bool upper = c >= u'A' && c <= u'Z';
        const bool small = c >= u'a' && c <= u'z';
        lower += small;
        ASSERT_TRUE(upper || small || c == u' ' || c == u'!' || c == u'.') << int(c);
        // Upper-cased, only the blank, "!", "." and A to Y without Q: font cells 0 to 57.
        const char16_t u = small ? char16_t(c - 32) : c;
        ASSERT_TRUE(u != u'Q' && u != u'Z') << int(c);
        ASSERT_LE(u - 32, 57);
    }
    EXPECT_GT(lower, 0);
    EXPECT_LT(lower, 20);
}

TEST(EmbeddedColourRecords, ValuesAndStoredBytes) {
    const int32_t expected[33] = {224, 0,   64,  224, 224, 0,   0,   224, 32,  96,  224,
                                  160, 128, 224, 0,   0,   192, 224, 0,   32,  224, 32,
                                  224, 192, 224, 160, 64,  224, 0,   224, 224, 0,   64};
    for (int i = 0; i < 33; ++i) {
        EXPECT_EQ(colourRecords[i], expected[i]) << i;
        // The blob's copy: 32-bit little-endian integers.
        EXPECT_EQ(int32_t(read32(colourRecordBytes + 4 * i)), expected[i]) << i;
    }
}

TEST(EmbeddedIcon, HoldsFourImagesAndGivesRgbaPixels) {
    ASSERT_GE(appIconFileSize, 6u + 4 * 16);
    EXPECT_EQ(read16(appIconFile), 0u);
    EXPECT_EQ(read16(appIconFile + 2), 1u);
    ASSERT_EQ(read16(appIconFile + 4), 4u);
    const uint32_t sizes[4] = {16, 16, 32, 32}, depths[4] = {4, 8, 4, 8};
    for (int i = 0; i < 4; ++i) {
        const uint8_t* e = appIconFile + 6 + 16 * i;
        EXPECT_EQ(e[0], sizes[i]);
        EXPECT_EQ(e[1], sizes[i]);
        EXPECT_EQ(e[2], depths[i] == 4 ? 16 : 0);
        EXPECT_EQ(read16(e + 6), depths[i]);
        EXPECT_LE(size_t(read32(e + 12)) + read32(e + 8), appIconFileSize);
    }
    uint32_t rgba[32 * 32];
    ASSERT_TRUE(assets::appIconRgba32(rgba));
    EXPECT_EQ(rgba[0] >> 24, 0u); // corner: transparent
    EXPECT_EQ(rgba[0], 0u);
    EXPECT_EQ(rgba[16 * 32 + 16] >> 24, 255u); // centre: opaque
    int opaque = 0;
    for (uint32_t p : rgba) opaque += (p >> 24) == 255;
    EXPECT_GT(opaque, 600);
    EXPECT_LT(opaque, 1024);
}

} // namespace
