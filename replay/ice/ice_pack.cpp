// Packer for the "ICE!" format. The depacker fills its output from the end backwards, so the
// packer works on the reversed data, where every match copies from bytes already produced
// (an ordinary LZ77 parse), and writes the stream in the depacker's reading order; the file
// holds that stream reversed.
#include "ice/ice.h"

#include <algorithm>

namespace replay::ice {
namespace {

constexpr unsigned kMinMatch = 2;
constexpr unsigned kMaxMatch = 1033;
constexpr unsigned kMaxShortDistance = 576;  // matches of two bytes
constexpr unsigned kMaxExtraDistance = 4382; // longer matches: distance - length
constexpr unsigned kMaxLiteralRun = 33037;
constexpr int kHashBits = 15;
constexpr int kMaxChain = 96;

// Builds the stream in reading order: literal bytes go where the depacker will fetch them, and
// a control byte is reserved at the moment its first bit is written, which is when the
// depacker will load it.
class StreamWriter {
  public:
    StreamWriter() {
        stream_.push_back(0x01); // first control byte: seven bits above the end marker
        slot_ = 0;
        mask_ = 0x80;
    }

    void bit(unsigned b) {
        if (mask_ == 0 || (slot_ == 0 && mask_ == 0x01)) {
            slot_ = stream_.size();
            stream_.push_back(0);
            mask_ = 0x80;
        }
        if (b) stream_[slot_] |= mask_;
        mask_ >>= 1;
    }

    void bits(unsigned value, int count) {
        for (int i = count - 1; i >= 0; --i) bit((value >> i) & 1u);
    }

    void byte(uint8_t b) { stream_.push_back(b); }

    const std::vector<uint8_t>& stream() const { return stream_; }

  private:
    std::vector<uint8_t> stream_;
    size_t slot_;
    unsigned mask_;
};

void writeLiterals(StreamWriter& w, const uint8_t* bytes, unsigned count) {
    if (count == 0) {
        w.bit(0);
        return;
    }
    w.bit(1);
    if (count == 1) {
        w.bit(0);
    } else {
        w.bit(1);
        struct Class {
            int bits;
            unsigned escape;
            unsigned first; // smallest run in this class
        };
        constexpr Class classes[] = {
            {2, 3, 2}, {2, 3, 5}, {3, 7, 8}, {8, 255, 15}, {15, 32767, 270}};
        for (size_t i = 0; i < std::size(classes); ++i) {
            unsigned v = count - classes[i].first;
            if (v < classes[i].escape || i + 1 == std::size(classes)) {
                w.bits(v, classes[i].bits);
                break;
            }
            w.bits(classes[i].escape, classes[i].bits);
        }
    }
    for (unsigned i = 0; i < count; ++i) w.byte(bytes[i]);
}

void writeMatch(StreamWriter& w, unsigned length, unsigned distance) {
    unsigned code = length - 2;
    if (code == 0) {
        w.bit(0);
    } else if (code == 1) {
        w.bits(0b10, 2);
    } else if (code < 4) {
        w.bits(0b110, 3);
        w.bits(code - 2, 1);
    } else if (code < 8) {
        w.bits(0b1110, 4);
        w.bits(code - 4, 2);
    } else {
        w.bits(0b1111, 4);
        w.bits(code - 8, 10);
    }
    if (code == 0) {
        int field = static_cast<int>(distance) - 2;
        if (field < 63) {
            w.bit(0);
            w.bits(static_cast<unsigned>(field + 1), 6);
        } else {
            w.bit(1);
            w.bits(static_cast<unsigned>(field - 63), 9);
        }
        return;
    }
    int field = distance == 1 ? -1 : static_cast<int>(distance - length);
    if (field < 31) {
        w.bits(0b10, 2);
        w.bits(static_cast<unsigned>(field + 1), 5);
    } else if (field < 287) {
        w.bit(0);
        w.bits(static_cast<unsigned>(field - 31), 8);
    } else {
        w.bits(0b11, 2);
        w.bits(static_cast<unsigned>(field - 287), 12);
    }
}

// Whether a match of this length at this distance can be written.
bool encodable(unsigned length, unsigned distance) {
    if (length == 2) return distance >= 1 && distance <= kMaxShortDistance;
    return distance == 1 || (distance >= length && distance - length <= kMaxExtraDistance);
}

class MatchFinder {
  public:
    explicit MatchFinder(const std::vector<uint8_t>& data)
        : data_(data), head_(size_t{1} << kHashBits, -1), prev_(data.size(), -1) {}

    void insert(size_t pos) {
        if (pos + 3 > data_.size()) return;
        uint32_t h = hash(pos);
        prev_[pos] = head_[h];
        head_[h] = static_cast<int32_t>(pos);
    }

    // Longest encodable match at pos; length 0 when there is none.
    void find(size_t pos, unsigned& bestLength, unsigned& bestDistance) const {
        bestLength = 0;
        bestDistance = 0;
        const size_t limit = std::min<size_t>(kMaxMatch, data_.size() - pos);
        if (limit < kMinMatch) return;
        auto consider = [&](size_t from) {
            unsigned distance = static_cast<unsigned>(pos - from);
            unsigned n = 0;
            while (n < limit && data_[from + n] == data_[pos + n]) ++n;
            if (distance > 1 && n > distance) n = distance; // overlapping copies repeat only by 1
            while (n >= kMinMatch && !encodable(n, distance)) --n;
            if (n >= kMinMatch && n > bestLength) {
                bestLength = n;
                bestDistance = distance;
            }
        };
        if (pos >= 1) consider(pos - 1);
        if (pos + 3 <= data_.size()) {
            int chain = 0;
            for (int32_t c = head_[hash(pos)]; c >= 0 && chain < kMaxChain; c = prev_[c], ++chain) {
                if (pos - static_cast<size_t>(c) > kMaxExtraDistance + kMaxMatch) break;
                consider(static_cast<size_t>(c));
                if (bestLength == limit) return;
            }
        }
        if (bestLength < 3) {
            // Two-byte matches only reach back a little way; look for one directly.
            for (size_t d = 2; d <= kMaxShortDistance && d <= pos; ++d) {
                if (data_[pos - d] == data_[pos] && data_[pos - d + 1] == data_[pos + 1]) {
                    if (bestLength < 2) {
                        bestLength = 2;
                        bestDistance = static_cast<unsigned>(d);
                    }
                    break;
                }
            }
        }
    }

  private:
    uint32_t hash(size_t pos) const {
        uint32_t v =
            (uint32_t{data_[pos]} << 16) | (uint32_t{data_[pos + 1]} << 8) | data_[pos + 2];
        return (v * 2654435761u) >> (32 - kHashBits);
    }

    const std::vector<uint8_t>& data_;
    std::vector<int32_t> head_;
    std::vector<int32_t> prev_;
};

} // namespace

std::vector<uint8_t> pack(const uint8_t* data, size_t size) {
    if (data == nullptr || size == 0 || size > kMaxUnpackedSize) return {};
    std::vector<uint8_t> r(data, data + size);
    std::reverse(r.begin(), r.end());

    MatchFinder finder(r);
    StreamWriter w;
    size_t pos = 0;
    size_t literalStart = 0;
    while (pos < r.size()) {
        unsigned length = 0;
        unsigned distance = 0;
        finder.find(pos, length, distance);
        const size_t pending = pos - literalStart;
        if (length == 0) {
            if (pending == kMaxLiteralRun) return {}; // no match to break the run with
            finder.insert(pos);
            ++pos;
            continue;
        }
        writeLiterals(w, r.data() + literalStart, static_cast<unsigned>(pending));
        writeMatch(w, length, distance);
        for (unsigned i = 0; i < length; ++i) finder.insert(pos + i);
        pos += length;
        literalStart = pos;
    }
    writeLiterals(w, r.data() + literalStart, static_cast<unsigned>(pos - literalStart));

    const std::vector<uint8_t>& stream = w.stream();
    const size_t packedSize = kHeaderSize + stream.size();
    std::vector<uint8_t> file(packedSize);
    const uint32_t fields[2] = {static_cast<uint32_t>(packedSize), static_cast<uint32_t>(size)};
    file[0] = 'I';
    file[1] = 'C';
    file[2] = 'E';
    file[3] = '!';
    for (int f = 0; f < 2; ++f)
        for (int i = 0; i < 4; ++i)
            file[4 + 4 * f + i] = static_cast<uint8_t>(fields[f] >> (24 - 8 * i));
    std::reverse_copy(stream.begin(), stream.end(), file.begin() + kHeaderSize);
    return file;
}

} // namespace replay::ice
