#include "ice/ice.h"

namespace replay::ice {
namespace {

uint32_t readBe32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Pulls bytes and bits backwards out of the packed stream [lo, pos). Running dry marks the
// reader as failed and yields zeros, so the caller only has to test failed() at safe points.
class BackwardReader {
  public:
    BackwardReader(const uint8_t* data, size_t lo, size_t end) : data_(data), lo_(lo), pos_(end) {}

    uint8_t byte() {
        if (pos_ <= lo_) {
            failed_ = true;
            return 0;
        }
        return data_[--pos_];
    }

    void startBits() { bits_ = byte(); }

    // One control bit. The bit buffer keeps a marker bit below the unread bits: when the
    // shifted buffer becomes zero the next byte is loaded and the carry becomes its low bit.
    unsigned bit() {
        unsigned carry = bits_ >> 7;
        bits_ = static_cast<uint8_t>(bits_ << 1);
        if (bits_ == 0) {
            uint8_t next = byte();
            unsigned extend = carry;
            carry = next >> 7;
            bits_ = static_cast<uint8_t>((next << 1) | extend);
        }
        return carry;
    }

    unsigned bits(int count) {
        unsigned value = 0;
        for (int i = 0; i < count; ++i) value = (value << 1) | bit();
        return value;
    }

    bool failed() const { return failed_; }
    size_t position() const { return pos_; }

  private:
    const uint8_t* data_;
    size_t lo_;
    size_t pos_;
    uint8_t bits_ = 0;
    bool failed_ = false;
};

// Literal run lengths: a prefix of escape values selects one of five classes.
struct LiteralClass {
    int bits;
    unsigned escape; // all-ones value that moves on to the next class
    unsigned base;   // run length minus one for a field value of 0
};
constexpr LiteralClass kLiteralClasses[] = {
    {2, 3, 1}, {2, 3, 4}, {3, 7, 7}, {8, 255, 14}, {15, 32767, 269},
};

// Reads the count of a literal run (at least one byte). The leading "1" has been read.
unsigned readLiteralCount(BackwardReader& in) {
    if (!in.bit()) return 1;
    for (size_t i = 0; i < std::size(kLiteralClasses); ++i) {
        const LiteralClass& c = kLiteralClasses[i];
        unsigned v = in.bits(c.bits);
        if (v != c.escape || i + 1 == std::size(kLiteralClasses)) return v + c.base + 1;
    }
    return 0; // not reached
}

// Match length minus two: 0, 1, 2-3, 4-7 or 8-1031 by a unary prefix of up to four ones.
unsigned readLengthCode(BackwardReader& in) {
    int ones = 0;
    while (ones < 4 && in.bit()) ++ones;
    switch (ones) {
    case 0:
        return 0;
    case 1:
        return 1;
    case 2:
        return 2 + in.bits(1);
    case 3:
        return 4 + in.bits(2);
    default:
        return 8 + in.bits(10);
    }
}

// Offset field of a match. The copy source ends lengthCode + 2 + field bytes above the write
// position; -1 means "the byte just written" for any length.
int readOffsetField(BackwardReader& in, unsigned lengthCode) {
    if (lengthCode == 0) {
        if (!in.bit()) return static_cast<int>(in.bits(6)) - 1;
        return static_cast<int>(in.bits(9)) + 63;
    }
    int field;
    if (!in.bit()) {
        field = static_cast<int>(in.bits(8)) + 31;
    } else if (!in.bit()) {
        field = static_cast<int>(in.bits(5)) - 1;
    } else {
        field = static_cast<int>(in.bits(12)) + 287;
    }
    if (field < 0) field -= static_cast<int>(lengthCode);
    return field;
}

} // namespace

bool hasMagic(const uint8_t* data, size_t size) {
    return data != nullptr && size >= 4 && data[0] == 'I' && data[1] == 'C' && data[2] == 'E' &&
           data[3] == '!';
}

int readHeader(const uint8_t* data, size_t size, Header& header) {
    if (size < kHeaderSize || !hasMagic(data, size)) return kNotPacked;
    header.packedSize = readBe32(data + 4);
    header.unpackedSize = readBe32(data + 8);
    if (header.packedSize <= kHeaderSize || header.packedSize > size) return kBadHeader;
    if (header.unpackedSize == 0 || header.unpackedSize > kMaxUnpackedSize) return kBadHeader;
    return kOk;
}

int64_t depack(const uint8_t* data, size_t size, uint8_t* out, size_t outCapacity) {
    Header header;
    if (int status = readHeader(data, size, header); status != kOk) return status;
    const size_t outSize = header.unpackedSize;
    if (out == nullptr || outCapacity < outSize) return kOutputTooSmall;

    BackwardReader in(data, kHeaderSize, header.packedSize);
    in.startBits();
    size_t dst = outSize;
    for (;;) {
        if (in.bit()) {
            unsigned count = readLiteralCount(in);
            if (count > dst) return kCorrupt;
            for (unsigned i = 0; i < count; ++i) out[--dst] = in.byte();
        }
        if (in.failed()) return kCorrupt;
        if (dst == 0) break;

        unsigned lengthCode = readLengthCode(in);
        int field = readOffsetField(in, lengthCode);
        if (in.failed()) return kCorrupt;
        const int64_t length = int64_t{lengthCode} + 2;
        const int64_t srcEnd = static_cast<int64_t>(dst) + length + field;
        if (length > static_cast<int64_t>(dst) || srcEnd > static_cast<int64_t>(outSize) ||
            srcEnd - length < 0)
            return kCorrupt;
        size_t src = static_cast<size_t>(srcEnd);
        for (int64_t i = 0; i < length; ++i) out[--dst] = out[--src];
    }
    return static_cast<int64_t>(outSize);
}

std::vector<uint8_t> depackToVector(const uint8_t* data, size_t size, int* status) {
    Header header;
    int result = readHeader(data, size, header);
    std::vector<uint8_t> out;
    if (result == kOk) {
        out.resize(header.unpackedSize);
        int64_t n = depack(data, size, out.data(), out.size());
        if (n < 0) {
            result = static_cast<int>(n);
            out.clear();
        }
    }
    if (status) *status = result;
    return out;
}

} // namespace replay::ice
