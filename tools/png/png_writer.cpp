#include "png_writer.h"

#include <algorithm>
#include <array>
#include <fstream>

namespace intro::png {
namespace {

constexpr std::array<uint32_t, 256> makeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}
constexpr auto crcTable = makeCrcTable();

// Deflate's length codes 257-285 and distance codes 0-29: base value and extra bits.
constexpr uint16_t lengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                     15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                     67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t lengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t distBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                   33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                   1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t distExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                   6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

constexpr size_t windowSize = 32768;
constexpr size_t minMatch = 3;
constexpr size_t maxMatch = 258;
constexpr int maxChain = 96;
constexpr int hashBits = 15;

class BitWriter {
  public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    // Writes `count` bits of `value`, least significant bit first.
    void bits(uint32_t value, int count) {
        for (int i = 0; i < count; ++i) {
            acc_ |= ((value >> i) & 1u) << fill_;
            if (++fill_ == 8) flushByte();
        }
    }
    // Writes a Huffman code, most significant bit first.
    void code(uint32_t value, int length) {
        for (int i = length - 1; i >= 0; --i) bits((value >> i) & 1u, 1);
    }
    void alignToByte() {
        if (fill_ > 0) flushByte();
    }

  private:
    void flushByte() {
        out_.push_back(static_cast<uint8_t>(acc_));
        acc_ = 0;
        fill_ = 0;
    }
    std::vector<uint8_t>& out_;
    uint32_t acc_ = 0;
    int fill_ = 0;
};

void writeLiteral(BitWriter& w, unsigned symbol) {
    if (symbol < 144)
        w.code(0x30 + symbol, 8);
    else if (symbol < 256)
        w.code(0x190 + (symbol - 144), 9);
    else if (symbol < 280)
        w.code(symbol - 256, 7);
    else
        w.code(0xC0 + (symbol - 280), 8);
}

void writeMatch(BitWriter& w, size_t length, size_t distance) {
    int li = 28;
    while (lengthBase[li] > length) --li;
    writeLiteral(w, 257 + static_cast<unsigned>(li));
    w.bits(static_cast<uint32_t>(length - lengthBase[li]), lengthExtra[li]);
    int di = 29;
    while (distBase[di] > distance) --di;
    w.code(static_cast<uint32_t>(di), 5);
    w.bits(static_cast<uint32_t>(distance - distBase[di]), distExtra[di]);
}

uint32_t hash3(const uint8_t* p) {
    uint32_t v = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
    return (v * 2654435761u) >> (32 - hashBits);
}

// One final fixed-Huffman block with greedy hash-chain matching.
std::vector<uint8_t> deflateFixed(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    BitWriter w(out);
    w.bits(1, 1); // final block
    w.bits(1, 2); // fixed Huffman codes
    std::vector<int64_t> head(size_t(1) << hashBits, -1);
    std::vector<int64_t> prev(size, -1);
    auto insert = [&](size_t pos) {
        if (pos + minMatch > size) return;
        uint32_t h = hash3(data + pos);
        prev[pos] = head[h];
        head[h] = static_cast<int64_t>(pos);
    };
    size_t pos = 0;
    while (pos < size) {
        size_t bestLen = 0, bestDist = 0;
        if (pos + minMatch <= size) {
            size_t limit = std::min(maxMatch, size - pos);
            int64_t cand = head[hash3(data + pos)];
            for (int chain = 0; cand >= 0 && chain < maxChain; ++chain) {
                size_t c = static_cast<size_t>(cand);
                if (pos - c > windowSize) break;
                size_t len = 0;
                while (len < limit && data[c + len] == data[pos + len]) ++len;
                if (len > bestLen) {
                    bestLen = len;
                    bestDist = pos - c;
                    if (len == limit) break;
                }
                cand = prev[c];
            }
        }
        if (bestLen >= minMatch) {
            writeMatch(w, bestLen, bestDist);
            for (size_t k = 0; k < bestLen; ++k) insert(pos + k);
            pos += bestLen;
        } else {
            writeLiteral(w, data[pos]);
            insert(pos);
            ++pos;
        }
    }
    writeLiteral(w, 256);
    w.alignToByte();
    return out;
}

std::vector<uint8_t> deflateStored(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    size_t pos = 0;
    do {
        size_t n = std::min<size_t>(65535, size - pos);
        bool last = pos + n == size;
        out.push_back(last ? 1 : 0);
        out.push_back(static_cast<uint8_t>(n));
        out.push_back(static_cast<uint8_t>(n >> 8));
        out.push_back(static_cast<uint8_t>(~n));
        out.push_back(static_cast<uint8_t>(~n >> 8));
        out.insert(out.end(), data + pos, data + pos + n);
        pos += n;
    } while (pos < size);
    return out;
}

void putBigEndian(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

void putChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& body) {
    putBigEndian(out, static_cast<uint32_t>(body.size()));
    size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    putBigEndian(out, crc32(out.data() + typeAt, out.size() - typeAt));
}

} // namespace

uint32_t crc32(const uint8_t* data, size_t size, uint32_t previous) {
    uint32_t c = previous ^ 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) c = crcTable[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

uint32_t adler32(const uint8_t* data, size_t size, uint32_t previous) {
    uint32_t a = previous & 0xFFFF, b = previous >> 16;
    for (size_t i = 0; i < size; ++i) {
        a = (a + data[i]) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

std::vector<uint8_t> zlibCompress(const uint8_t* data, size_t size) {
    std::vector<uint8_t> body = deflateFixed(data, size);
    if (body.size() > size + 5 * (size / 65535 + 1)) body = deflateStored(data, size);
    std::vector<uint8_t> out;
    out.reserve(body.size() + 6);
    out.push_back(0x78); // deflate with a 32K window; 0x7801 is a multiple of 31
    out.push_back(0x01);
    out.insert(out.end(), body.begin(), body.end());
    putBigEndian(out, adler32(data, size));
    return out;
}

std::vector<uint8_t> encodePng(int32_t width, int32_t height, const uint32_t* pixels,
                               bool withAlpha) {
    if (width <= 0 || height <= 0 || width > 1 << 16 || height > 1 << 16 || !pixels) return {};
    const size_t channels = withAlpha ? 4 : 3;
    const size_t rowBytes = 1 + channels * static_cast<size_t>(width);
    std::vector<uint8_t> raw;
    raw.reserve(rowBytes * static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y) {
        raw.push_back(0); // filter: none
        for (int32_t x = 0; x < width; ++x) {
            uint32_t p = pixels[static_cast<size_t>(y) * static_cast<size_t>(width) +
                                static_cast<size_t>(x)];
            for (size_t c = 0; c < channels; ++c) raw.push_back(static_cast<uint8_t>(p >> (8 * c)));
        }
    }
    std::vector<uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    putBigEndian(header, static_cast<uint32_t>(width));
    putBigEndian(header, static_cast<uint32_t>(height));
    header.push_back(8);                    // bits per channel
    header.push_back(withAlpha ? 6 : 2);    // colour type: RGBA or RGB
    header.insert(header.end(), {0, 0, 0}); // compression, filter method, no interlace
    putChunk(out, "IHDR", header);
    putChunk(out, "IDAT", zlibCompress(raw.data(), raw.size()));
    putChunk(out, "IEND", {});
    return out;
}

bool writePngFile(const std::string& path, int32_t width, int32_t height, const uint32_t* pixels,
                  bool withAlpha) {
    std::vector<uint8_t> bytes = encodePng(width, height, pixels, withAlpha);
    if (bytes.empty()) return false;
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

} // namespace intro::png
