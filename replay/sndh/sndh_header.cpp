#include "sndh/sndh_header.h"

#include <algorithm>
#include <cstring>

namespace replay::sndh {
namespace {

constexpr size_t kTagStart = 16;
constexpr size_t kMaxHeaderScan = 64 * 1024;
constexpr size_t kMaxText = 1024;
constexpr int kMaxRate = 20000;

uint16_t be16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
uint32_t be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
bool isDigit(uint8_t c) {
    return c >= '0' && c <= '9';
}

// The tag walk over [0, limit): nothing here reads at or past limit.
class Walker {
  public:
    Walker(const uint8_t* data, size_t limit) : d_(data), limit_(limit) {}

    bool has(size_t pos, size_t n) const { return pos <= limit_ && n <= limit_ - pos; }
    bool is(size_t pos, const char* tag) const {
        size_t n = std::strlen(tag);
        return has(pos, n) && std::memcmp(d_ + pos, tag, n) == 0;
    }
    uint8_t at(size_t pos) const { return pos < limit_ ? d_[pos] : 0; }

    // Text up to its NUL (or the limit); pos moves past the NUL.
    std::string text(size_t& pos) const {
        std::string s;
        while (pos < limit_ && d_[pos] != 0) {
            if (s.size() < kMaxText) s.push_back(static_cast<char>(d_[pos]));
            ++pos;
        }
        if (pos < limit_) ++pos;
        return s;
    }

    // Up to maxDigits decimal digits; -1 when there is none.
    int number(size_t& pos, int maxDigits) const {
        int value = -1;
        for (int i = 0; i < maxDigits && pos < limit_ && isDigit(d_[pos]); ++i, ++pos)
            value = (value < 0 ? 0 : value * 10) + (d_[pos] - '0');
        return value;
    }

    // A table of 16-bit offsets, relative to the tag, each to a NUL-terminated text. pos is at
    // the table; it moves past the table and past the farthest text.
    std::vector<std::string> textTable(size_t tagStart, size_t& pos, int count) const {
        std::vector<std::string> out;
        size_t end = pos;
        for (int i = 0; i < count && has(pos + 2 * static_cast<size_t>(i), 2); ++i) {
            size_t entry = pos + 2 * static_cast<size_t>(i);
            size_t at = tagStart + be16(d_ + entry);
            end = std::max(end, entry + 2);
            if (at >= limit_ || at < pos) {
                out.emplace_back();
                continue;
            }
            out.push_back(text(at));
            end = std::max(end, at);
        }
        pos = end;
        return out;
    }

  private:
    const uint8_t* d_;
    size_t limit_;
};

// The first byte of code: the nearest entry target past the magic, bounding the tag walk.
size_t codeStart(const uint8_t* data, size_t size) {
    size_t start = std::min(size, kMaxHeaderScan);
    for (size_t entry : {0, 4, 8}) {
        size_t target = entryTarget(data, size, entry);
        if (target >= kTagStart && target < start) start = target;
    }
    return start;
}

// "##nn" may come after tags whose length depends on it, so it is looked up first.
int findSubtuneCount(const Walker& w, size_t limit) {
    for (size_t pos = kTagStart; pos + 4 <= limit; ++pos) {
        if (w.is(pos, "##") && isDigit(w.at(pos + 2))) {
            size_t p = pos + 2;
            int n = w.number(p, 2);
            if (n >= 1 && n <= kMaxSubtunes) return n;
        }
        if (w.is(pos, "HDNS")) break;
    }
    return 1;
}

bool isTimerTag(const Walker& w, size_t pos) {
    uint8_t c = w.at(pos + 1);
    return w.at(pos) == 'T' && c >= 'A' && c <= 'D' && isDigit(w.at(pos + 2));
}

} // namespace

size_t entryTarget(const uint8_t* data, size_t size, size_t entryOffset) {
    if (data == nullptr || entryOffset + 4 > size) return entryOffset;
    uint16_t op = be16(data + entryOffset);
    if (op == 0x6000) { // BRA.W
        int64_t target = static_cast<int64_t>(entryOffset) + 2 +
                         static_cast<int16_t>(be16(data + entryOffset + 2));
        if (target >= 0 && static_cast<uint64_t>(target) < size) return static_cast<size_t>(target);
    } else if ((op & 0xff00) == 0x6000 && (op & 0xff) != 0xff) { // BRA.S
        int64_t target = static_cast<int64_t>(entryOffset) + 2 + static_cast<int8_t>(op & 0xff);
        if (target >= 0 && static_cast<uint64_t>(target) < size) return static_cast<size_t>(target);
    }
    return entryOffset;
}

int parseHeader(const uint8_t* data, size_t size, Header& header) {
    header = Header{};
    if (data == nullptr || size < kTagStart) return kTooShort;
    if (std::memcmp(data + 12, "SNDH", 4) != 0) return kNoMagic;

    const size_t limit = codeStart(data, size);
    const Walker w(data, limit);
    header.subtuneCount = findSubtuneCount(w, limit);
    const int count = header.subtuneCount;

    size_t pos = kTagStart;
    while (w.has(pos, 4)) {
        if (data[pos] == 0) { // padding to even addresses
            ++pos;
            continue;
        }
        const size_t tagStart = pos;
        if (w.is(pos, "HDNS")) {
            header.hasEndTag = true;
            pos += 4;
            break;
        }
        struct TextTag {
            const char* tag;
            std::string* field;
        } textTags[] = {{"TITL", &header.title},
                        {"COMM", &header.composer},
                        {"RIPP", &header.ripper},
                        {"CONV", &header.converter},
                        {"YEAR", &header.year}};
        bool handled = false;
        for (const TextTag& t : textTags) {
            if (w.is(pos, t.tag)) {
                pos += 4;
                *t.field = w.text(pos);
                handled = true;
                break;
            }
        }
        if (handled) continue;

        if (w.is(pos, "##")) {
            pos += 2;
            w.number(pos, 2); // already taken by findSubtuneCount
        } else if (w.is(pos, "#!SN") || w.is(pos, "!#SN")) {
            pos += 4;
            header.subtuneNames = w.textTable(tagStart, pos, count);
        } else if ((w.is(pos, "#!") || w.is(pos, "!#")) && isDigit(w.at(pos + 2))) {
            pos += 2;
            int n = w.number(pos, 2);
            if (n >= 1) header.defaultSubtune = n;
        } else if (isTimerTag(w, pos) || (w.is(pos, "!V") && isDigit(w.at(pos + 2)))) {
            const uint8_t which = data[pos + 1];
            pos += 2;
            int rate = w.number(pos, 5);
            if (w.at(pos) == 0) ++pos;
            header.clock = which == 'V'   ? Clock::kVbl
                           : which == 'A' ? Clock::kTimerA
                           : which == 'B' ? Clock::kTimerB
                           : which == 'C' ? Clock::kTimerC
                                          : Clock::kTimerD;
            header.rate = rate >= 1 && rate <= kMaxRate ? rate : kDefaultRate;
        } else if (w.is(pos, "TIME")) {
            pos += 4;
            header.seconds.assign(static_cast<size_t>(count), 0);
            for (int i = 0; i < count && w.has(pos, 2); ++i, pos += 2)
                header.seconds[static_cast<size_t>(i)] = be16(data + pos);
        } else if (w.is(pos, "FRMS")) {
            pos += 4;
            header.frames.assign(static_cast<size_t>(count), 0);
            for (int i = 0; i < count && w.has(pos, 4); ++i, pos += 4)
                header.frames[static_cast<size_t>(i)] = be32(data + pos);
        } else if (w.is(pos, "FLAG")) {
            pos += 4;
            uint8_t first = w.at(pos);
            if (first >= 0x20 && first < 0x7f) {
                header.flags.push_back(w.text(pos)); // one set of flags for the whole file
            } else {
                header.flags = w.textTable(tagStart, pos, count);
            }
        } else {
            // Not a tag: the code of an older header without "HDNS", or something unknown.
            header.unknownTags.emplace_back(reinterpret_cast<const char*>(data + pos), 4);
            break;
        }
    }
    while (pos < limit && data[pos] == 0) ++pos;
    header.headerEnd = std::min(pos, limit);
    if (header.defaultSubtune > count) header.defaultSubtune = 1;
    if (!header.subtuneNames.empty()) header.subtuneNames.resize(static_cast<size_t>(count));
    return kOk;
}

double subtuneSeconds(const Header& header, int subtune) {
    if (subtune < 1 || subtune > header.subtuneCount) return 0.0;
    const size_t i = static_cast<size_t>(subtune - 1);
    if (i < header.seconds.size() && header.seconds[i] != 0) return header.seconds[i];
    if (i < header.frames.size() && header.frames[i] != 0)
        return static_cast<double>(header.frames[i]) / header.rate;
    return 0.0;
}

const char* clockName(Clock clock) {
    switch (clock) {
    case Clock::kTimerA:
        return "timer A";
    case Clock::kTimerB:
        return "timer B";
    case Clock::kTimerC:
        return "timer C";
    case Clock::kTimerD:
        return "timer D";
    case Clock::kVbl:
        return "VBL";
    case Clock::kDefault:
        break;
    }
    return "default";
}

} // namespace replay::sndh
