// The PNG writer: its checksums against published check values, and its zlib streams and PNG files
// read back by a small independent inflater (stored and fixed-Huffman blocks).
#include "png_writer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using namespace intro::png;

// Reads deflate data; refuses dynamic-Huffman blocks, which the writer never makes.
class Inflater {
  public:
    Inflater(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool run(std::vector<uint8_t>& out) {
        bool last = false;
        while (!last) {
            last = bits(1);
            const uint32_t type = bits(2);
            if (type == 0) {
                bitPos_ = (bitPos_ + 7) / 8 * 8;
                const uint32_t len = bits(16), nlen = bits(16);
                if (failed_ || (len ^ 0xFFFF) != nlen) return false;
                for (uint32_t i = 0; i < len; ++i) out.push_back(uint8_t(bits(8)));
            } else if (type == 1) {
                if (!fixedBlock(out)) return false;
            } else {
                return false;
            }
            if (failed_) return false;
        }
        consumed = (bitPos_ + 7) / 8;
        return true;
    }
    size_t consumed = 0;

  private:
    uint32_t bits(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++bitPos_) {
            if (bitPos_ / 8 >= size_) {
                failed_ = true;
                return 0;
            }
            v |= uint32_t((data_[bitPos_ / 8] >> (bitPos_ % 8)) & 1) << i;
        }
        return v;
    }
    uint32_t code(int n) { // Huffman codes arrive most significant bit first
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = (v << 1) | bits(1);
        return v;
    }
    int literal() {
        uint32_t c = code(7);
        if (c <= 0x17) return int(256 + c);
        c = (c << 1) | bits(1);
        if (c >= 0x30 && c <= 0xBF) return int(c - 0x30);
        if (c >= 0xC0 && c <= 0xC7) return int(280 + c - 0xC0);
        c = (c << 1) | bits(1);
        return int(144 + c - 0x190);
    }
    bool fixedBlock(std::vector<uint8_t>& out) {
        static const int lbase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                      15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                      67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const int lextra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        static const int dbase[30] = {
            1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
            193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
        static const int dextra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                       6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
        for (;;) {
            const int sym = literal();
            if (failed_) return false;
            if (sym < 256) {
                out.push_back(uint8_t(sym));
                continue;
            }
            if (sym == 256) return true;
            if (sym > 285) return false;
            const int len = lbase[sym - 257] + int(bits(lextra[sym - 257]));
            const uint32_t dsym = code(5);
            if (dsym > 29) return false;
            const size_t dist = size_t(dbase[dsym]) + bits(dextra[dsym]);
            if (failed_ || dist > out.size()) return false;
            for (int i = 0; i < len; ++i) out.push_back(out[out.size() - dist]);
        }
    }

    const uint8_t* data_;
    size_t size_;
    size_t bitPos_ = 0;
    bool failed_ = false;
};

uint32_t be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Unpacks a zlib stream, checking its header and Adler-32.
bool unzlib(const std::vector<uint8_t>& z, std::vector<uint8_t>& out) {
    if (z.size() < 6 || (z[0] & 15) != 8 || ((z[0] << 8) | z[1]) % 31 != 0) return false;
    Inflater inf(z.data() + 2, z.size() - 6);
    if (!inf.run(out) || inf.consumed != z.size() - 6) return false;
    return be32(z.data() + z.size() - 4) == adler32(out.data(), out.size());
}

TEST(PngWriter, ChecksumsMatchPublishedCheckValues) {
    const std::string digits = "123456789";
    const auto* d = reinterpret_cast<const uint8_t*>(digits.data());
    EXPECT_EQ(crc32(d, digits.size()), 0xCBF43926u);
    EXPECT_EQ(crc32(d + 4, 5, crc32(d, 4)), 0xCBF43926u); // continued in two parts
    const std::string word = "Wikipedia";
    EXPECT_EQ(adler32(reinterpret_cast<const uint8_t*>(word.data()), word.size()), 0x11E60398u);
    EXPECT_EQ(adler32(nullptr, 0), 1u);
}

TEST(PngWriter, ZlibStreamsReadBack) {
    std::mt19937 rng(7);
    std::vector<std::pair<std::string, std::vector<uint8_t>>> inputs;
    inputs.push_back({"empty", {}});
    inputs.push_back({"one byte", {42}});
    std::vector<uint8_t> runs(100000);
    for (size_t i = 0; i < runs.size(); ++i) runs[i] = uint8_t((i / 300) % 7);
    inputs.push_back({"long runs", runs});
    std::vector<uint8_t> text;
    for (int i = 0; i < 5000; ++i) text.push_back(uint8_t("pixel art "[rng() % 10]));
    inputs.push_back({"small alphabet", text});
    std::vector<uint8_t> noise(140000); // incompressible: stored blocks, more than two of them
    for (auto& b : noise) b = uint8_t(rng());
    inputs.push_back({"noise", noise});
    for (const auto& [name, data] : inputs) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> z = zlibCompress(data.data(), data.size());
        std::vector<uint8_t> back;
        ASSERT_TRUE(unzlib(z, back));
        EXPECT_EQ(back, data);
        EXPECT_LE(z.size(), data.size() + 6 + 5 * (data.size() / 65535 + 1));
    }
    EXPECT_LT(zlibCompress(runs.data(), runs.size()).size(), runs.size() / 20);
}

TEST(PngWriter, PngFileHasValidChunksAndPixels) {
    for (bool alpha : {false, true}) {
        SCOPED_TRACE(alpha ? "RGBA" : "RGB");
        const int32_t w = 5, h = 3;
        std::vector<uint32_t> px(w * h);
        for (int i = 0; i < w * h; ++i) px[size_t(i)] = 0x01020304u * uint32_t(i + 1);
        const std::vector<uint8_t> png = encodePng(w, h, px.data(), alpha);
        ASSERT_GT(png.size(), 8u);
        EXPECT_EQ(std::vector<uint8_t>(png.begin(), png.begin() + 8),
                  (std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
        std::vector<std::string> types;
        std::vector<uint8_t> idat;
        size_t pos = 8;
        while (pos + 12 <= png.size()) {
            const uint32_t len = be32(&png[pos]);
            ASSERT_LE(pos + 12 + len, png.size());
            const std::string type(png.begin() + long(pos) + 4, png.begin() + long(pos) + 8);
            EXPECT_EQ(crc32(&png[pos + 4], 4 + len), be32(&png[pos + 8 + len])) << type;
            if (type == "IHDR") {
                EXPECT_EQ(be32(&png[pos + 8]), uint32_t(w));
                EXPECT_EQ(be32(&png[pos + 12]), uint32_t(h));
                EXPECT_EQ(png[pos + 16], 8);
                EXPECT_EQ(png[pos + 17], alpha ? 6 : 2);
            }
            if (type == "IDAT") idat.insert(idat.end(), &png[pos + 8], &png[pos + 8 + len]);
            types.push_back(type);
            pos += 12 + len;
        }
        EXPECT_EQ(pos, png.size());
        EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
        std::vector<uint8_t> raw;
        ASSERT_TRUE(unzlib(idat, raw));
        const size_t channels = alpha ? 4 : 3;
        ASSERT_EQ(raw.size(), size_t(h) * (1 + channels * w));
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* row = &raw[size_t(y) * (1 + channels * w)];
            EXPECT_EQ(row[0], 0); // no filter
            for (int32_t x = 0; x < w; ++x)
                for (size_t c = 0; c < channels; ++c)
                    EXPECT_EQ(row[1 + channels * size_t(x) + c],
                              uint8_t(px[size_t(y * w + x)] >> (8 * c)));
        }
    }
    EXPECT_TRUE(encodePng(0, 3, nullptr).empty());
}

} // namespace
