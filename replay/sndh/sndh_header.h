// Reader for the tag header of SNDH files (Atari ST music with its own 68000 replay code).
//
// Layout: three 4-byte entry points at offsets 0 (init, sub-tune in D0), 4 (exit) and 8 (play),
// "SNDH" at 12, then tags until "HDNS" (older files have no "HDNS": their tags simply stop
// where the code starts). Every read is bounded by the data's length; values that make no
// sense fall back to defaults instead of failing the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace replay::sndh {

enum Status : int {
    kOk = 0,
    kTooShort = -10, // shorter than the entry points and the magic
    kNoMagic = -11,  // no "SNDH" at offset 12
};

inline constexpr int kDefaultRate = 50;
inline constexpr int kMaxSubtunes = 99;

// Where the tune wants its play routine called from.
enum class Clock : uint8_t { kDefault, kTimerA, kTimerB, kTimerC, kTimerD, kVbl };

struct Header {
    std::string title;
    std::string composer;
    std::string ripper;
    std::string converter;
    std::string year;
    int subtuneCount = 1;   // 1..kMaxSubtunes
    int defaultSubtune = 1; // 1..subtuneCount
    Clock clock = Clock::kDefault;
    int rate = kDefaultRate;               // play calls per second
    std::vector<std::string> subtuneNames; // empty or subtuneCount entries
    std::vector<uint16_t> seconds;         // TIME: empty or subtuneCount entries, 0 = unknown
    std::vector<uint32_t> frames;          // FRMS: empty or subtuneCount entries, 0 = endless
    std::vector<std::string> flags;        // FLAG: one string for all or one per sub-tune
    bool hasEndTag = false;                // "HDNS" seen
    size_t headerEnd = 16;                 // offset just past the last tag read
    std::vector<std::string> unknownTags;  // where the walk stopped early, for diagnostics
};

// Parses the header. Returns kOk or a negative status; on kOk every field is set.
int parseHeader(const uint8_t* data, size_t size, Header& header);

// Target of the entry point at offset 0, 4 or 8 when it is a BRA; otherwise the offset itself.
size_t entryTarget(const uint8_t* data, size_t size, size_t entryOffset);

// Length in seconds of a sub-tune (1-based) from TIME or FRMS, 0 when unknown.
double subtuneSeconds(const Header& header, int subtune);

const char* clockName(Clock clock);

} // namespace replay::sndh
