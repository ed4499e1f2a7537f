#include "ice/ice.h"
#include "shared_data.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using replay::ice::depackToVector;
using replay::ice::pack;

std::vector<uint8_t> iceFile(uint32_t unpacked, std::vector<uint8_t> streamInFileOrder) {
    const uint32_t packed = static_cast<uint32_t>(12 + streamInFileOrder.size());
    std::vector<uint8_t> f = {'I', 'C', 'E', '!'};
    for (uint32_t v : {packed, unpacked})
        for (int s = 24; s >= 0; s -= 8) f.push_back(static_cast<uint8_t>(v >> s));
    f.insert(f.end(), streamInFileOrder.begin(), streamInFileOrder.end());
    return f;
}

// Streams written by hand from the format: they pin the bit order, the marker bit, the
// backwards reading and the distance-1 copy independently of our packer.
TEST(IceDepack, HandWrittenStreams) {
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        std::string expected;
    } cases[] = {
        // control byte 1010_0000: literal run, count 1, marker; then the literal.
        {"one literal", iceFile(1, {'Z', 0xA0}), "Z"},
        // literal 'a', then a 3-byte copy at distance 1; the second control byte is loaded
        // after the first one's seven bits are used up.
        {"run by distance-1 copy", iceFile(4, {0x00, 'a', 0xA9}), "aaaa"},
    };
    for (const Case& c : cases) {
        int status = 1;
        std::vector<uint8_t> out = depackToVector(c.file.data(), c.file.size(), &status);
        EXPECT_EQ(status, replay::ice::kOk) << c.what;
        EXPECT_EQ(std::string(out.begin(), out.end()), c.expected) << c.what;
    }
}

TEST(IceRoundTrip, GeneratedData) {
    std::mt19937 rng(7);
    struct Shape {
        const char* what;
        size_t size;
        int alphabet; // 0: one repeated byte, 256: uniform noise
    } shapes[] = {
        {"single byte", 1, 256},      {"two bytes", 2, 256},    {"one value", 5000, 0},
        {"small alphabet", 20000, 3}, {"text-like", 30000, 40}, {"noise", 70000, 256},
        {"noise, long", 200000, 256},
    };
    for (const Shape& s : shapes) {
        std::vector<uint8_t> data(s.size);
        for (auto& b : data) b = s.alphabet == 0 ? 0x42 : static_cast<uint8_t>(rng() % s.alphabet);
        std::vector<uint8_t> packed = pack(data.data(), data.size());
        ASSERT_FALSE(packed.empty()) << s.what;
        replay::ice::Header h;
        ASSERT_EQ(replay::ice::readHeader(packed.data(), packed.size(), h), replay::ice::kOk);
        EXPECT_EQ(h.packedSize, packed.size()) << s.what;
        EXPECT_EQ(h.unpackedSize, data.size()) << s.what;
        EXPECT_EQ(depackToVector(packed.data(), packed.size()), data) << s.what;
        if (s.alphabet == 0) {
            EXPECT_LT(packed.size(), 60u) << "runs must pack by long copies";
        }
    }
}

TEST(IceRoundTrip, RealPackedTunes) {
    auto files = testdata::sndhFiles("ice__");
    SKIP_WITHOUT_SHARED_TUNES(files);
    for (const auto& path : files) {
        std::vector<uint8_t> file = testdata::readFile(path);
        int status = 1;
        std::vector<uint8_t> tune = depackToVector(file.data(), file.size(), &status);
        ASSERT_EQ(status, replay::ice::kOk) << path;
        ASSERT_GT(tune.size(), 16u);
        EXPECT_EQ(std::string(tune.begin() + 12, tune.begin() + 16), "SNDH") << path;
        std::vector<uint8_t> repacked = pack(tune.data(), tune.size());
        EXPECT_LT(repacked.size(), file.size() * 11 / 10) << path;
        EXPECT_EQ(depackToVector(repacked.data(), repacked.size()), tune) << path;
    }
}

TEST(IceDepack, RejectsBadHeaders) {
    const std::vector<uint8_t> good = iceFile(1, {'Z', 0xA0});
    auto with = [&](size_t at, uint8_t v) {
        auto f = good;
        f[at] = v;
        return f;
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        int status;
    } cases[] = {
        {"empty", {}, replay::ice::kNotPacked},
        {"header cut", std::vector<uint8_t>(good.begin(), good.begin() + 11),
         replay::ice::kNotPacked},
        {"wrong magic", with(3, '?'), replay::ice::kNotPacked},
        {"packed size past the data", with(7, 15), replay::ice::kBadHeader},
        {"packed size inside the header", with(7, 12), replay::ice::kBadHeader},
        {"unpacked size zero", with(11, 0), replay::ice::kBadHeader},
        {"unpacked size huge", with(8, 0x7f), replay::ice::kBadHeader},
        {"stream shorter than its claims", with(11, 9), replay::ice::kCorrupt},
    };
    for (const Case& c : cases) {
        int status = 0;
        EXPECT_TRUE(depackToVector(c.file.data(), c.file.size(), &status).empty()) << c.what;
        EXPECT_EQ(status, c.status) << c.what;
    }
    uint8_t small[1];
    EXPECT_EQ(replay::ice::depack(good.data(), good.size(), small, 0),
              replay::ice::kOutputTooSmall);
}

// Truncated and bit-flipped real streams: the depacker must fail cleanly or produce exactly the
// claimed size, never touch memory outside its buffers (the sanitizer build checks that).
TEST(IceDepack, DamagedStreamsStayInBounds) {
    std::mt19937 rng(3);
    std::vector<uint8_t> data(40000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>((i * i / 7) ^ (rng() % 4));
    const std::vector<uint8_t> packed = pack(data.data(), data.size());
    ASSERT_FALSE(packed.empty());
    int failures = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> f = packed;
        if (round % 2) {
            // Drop the stream's last-read bytes (they sit right after the header) and make
            // the header agree, so that the decoder itself runs dry.
            size_t cut = 1 + rng() % (f.size() - 13);
            f.erase(f.begin() + 12, f.begin() + 12 + static_cast<std::ptrdiff_t>(cut));
            const uint32_t n = static_cast<uint32_t>(f.size());
            for (int i = 0; i < 4; ++i) f[4 + i] = static_cast<uint8_t>(n >> (24 - 8 * i));
        } else {
            for (int e = 0; e < 4; ++e)
                f[12 + rng() % (f.size() - 12)] ^= static_cast<uint8_t>(1 + rng() % 255);
        }
        int status = 0;
        std::vector<uint8_t> out = depackToVector(f.data(), f.size(), &status);
        if (status < 0) {
            ++failures;
            EXPECT_TRUE(out.empty());
        } else {
            EXPECT_EQ(out.size(), data.size());
        }
    }
    EXPECT_GT(failures, 150) << "every truncated stream must be refused";
}

} // namespace
