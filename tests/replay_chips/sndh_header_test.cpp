#include "ice/ice.h"
#include "shared_data.h"
#include "sndh/sndh_header.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using replay::sndh::Clock;
using replay::sndh::Header;
using replay::sndh::parseHeader;

// Builds a header byte by byte: three BRA.W to the code, the magic, then the given tags.
struct Builder {
    std::vector<uint8_t> bytes;
    Builder() { bytes = {0x60, 0, 0, 0, 0x60, 0, 0, 0, 0x60, 0, 0, 0, 'S', 'N', 'D', 'H'}; }
    Builder& raw(std::initializer_list<uint8_t> b) {
        bytes.insert(bytes.end(), b);
        return *this;
    }
    Builder& str(const std::string& s, bool nul = true) {
        bytes.insert(bytes.end(), s.begin(), s.end());
        if (nul) bytes.push_back(0);
        return *this;
    }
    Builder& word(uint16_t w) { return raw({uint8_t(w >> 8), uint8_t(w)}); }
    // Code follows: point the entries at it and add a little code (moveq #0,d0; rts).
    std::vector<uint8_t> finish() {
        const uint16_t code = static_cast<uint16_t>(bytes.size());
        for (int e = 0; e < 3; ++e) {
            uint16_t disp = static_cast<uint16_t>(code - (4 * e + 2));
            bytes[4 * e + 2] = uint8_t(disp >> 8);
            bytes[4 * e + 3] = uint8_t(disp);
        }
        raw({0x70, 0x00, 0x4e, 0x75});
        return bytes;
    }
};

TEST(SndhHeader, EveryTag) {
    Builder b;
    b.str("TITLSong").str("COMMWriter").str("RIPPRipper").str("CONVConverter").str("YEAR1990");
    b.str("##03", false)
        .str("#!02", false)
        .str("TD200")
        .str("TIME", false)
        .word(60)
        .word(0)
        .word(95);
    b.str("FRMS", false).raw({0, 0, 0x0B, 0xB8, 0, 0, 0, 0, 0, 0, 0, 1}).str("FLAG~aey");
    // Name offsets count from the tag: 4 for the tag, 6 for the table, then the texts.
    b.str("#!SN", false).word(10).word(14).word(16).str("One").str("A").str("Bee");
    if (b.bytes.size() % 2) b.raw({0});
    b.str("HDNS", false);
    std::vector<uint8_t> file = b.finish();

    Header h;
    ASSERT_EQ(parseHeader(file.data(), file.size(), h), replay::sndh::kOk);
    EXPECT_EQ(h.title, "Song");
    EXPECT_EQ(h.composer, "Writer");
    EXPECT_EQ(h.ripper, "Ripper");
    EXPECT_EQ(h.converter, "Converter");
    EXPECT_EQ(h.year, "1990");
    EXPECT_EQ(h.subtuneCount, 3);
    EXPECT_EQ(h.defaultSubtune, 2);
    EXPECT_EQ(h.clock, Clock::kTimerD);
    EXPECT_EQ(h.rate, 200);
    EXPECT_EQ(h.seconds, (std::vector<uint16_t>{60, 0, 95}));
    EXPECT_EQ(h.frames, (std::vector<uint32_t>{3000, 0, 1}));
    EXPECT_EQ(h.flags, (std::vector<std::string>{"~aey"}));
    EXPECT_EQ(h.subtuneNames, (std::vector<std::string>{"One", "A", "Bee"}));
    EXPECT_TRUE(h.hasEndTag);
    EXPECT_EQ(h.headerEnd, file.size() - 4);
    EXPECT_DOUBLE_EQ(replay::sndh::subtuneSeconds(h, 1), 60.0);
    EXPECT_DOUBLE_EQ(replay::sndh::subtuneSeconds(h, 2), 0.0);  // neither TIME nor FRMS
    EXPECT_DOUBLE_EQ(replay::sndh::subtuneSeconds(h, 3), 95.0); // TIME wins over FRMS
}

// Clock tags, older spellings and values that make no sense.
TEST(SndhHeader, ClockTagsAndTolerance) {
    struct Case {
        const char* what;
        std::vector<std::string> tags; // each written with its NUL
        Clock clock;
        int rate;
        int count;
        int def;
    } cases[] = {
        {"no clock tag", {"TITLx"}, Clock::kDefault, 50, 1, 1},
        {"timer A", {"TA123"}, Clock::kTimerA, 123, 1, 1},
        {"timer B", {"TB60"}, Clock::kTimerB, 60, 1, 1},
        {"timer C five digits", {"TC12000"}, Clock::kTimerC, 12000, 1, 1},
        {"VBL", {"!V60"}, Clock::kVbl, 60, 1, 1},
        {"rate zero", {"TC0"}, Clock::kTimerC, 50, 1, 1},
        {"rate too high", {"TC99999"}, Clock::kTimerC, 50, 1, 1},
        {"sub-tune count zero", {"##00"}, Clock::kDefault, 50, 1, 1},
        {"default past the count", {"##02", "#!05"}, Clock::kDefault, 50, 2, 1},
        {"reversed default spelling", {"##04", "!#03"}, Clock::kDefault, 50, 4, 3},
        {"count after the tags that use it",
         {"TIME\x01\x02\x03\x04", "##02"},
         Clock::kDefault,
         50,
         2,
         1},
    };
    for (const Case& c : cases) {
        Builder b;
        for (const std::string& t : c.tags) b.str(t);
        b.str("HDNS", false);
        std::vector<uint8_t> file = b.finish();
        Header h;
        ASSERT_EQ(parseHeader(file.data(), file.size(), h), replay::sndh::kOk) << c.what;
        EXPECT_EQ(h.clock, c.clock) << c.what;
        EXPECT_EQ(h.rate, c.rate) << c.what;
        EXPECT_EQ(h.subtuneCount, c.count) << c.what;
        EXPECT_EQ(h.defaultSubtune, c.def) << c.what;
        EXPECT_TRUE(h.hasEndTag) << c.what;
    }
}

TEST(SndhHeader, OlderHeaderEndsWhereTheCodeStarts) {
    Builder b;
    b.str("TITLOld").str("TC50").str("##01");
    std::vector<uint8_t> file = b.finish();
    Header h;
    ASSERT_EQ(parseHeader(file.data(), file.size(), h), replay::sndh::kOk);
    EXPECT_FALSE(h.hasEndTag);
    EXPECT_EQ(h.title, "Old");
    EXPECT_EQ(h.rate, 50);
    EXPECT_EQ(h.headerEnd, file.size() - 4);
}

TEST(SndhHeader, BadInput) {
    Builder good;
    good.str("TITLabc").str("HDNS", false);
    std::vector<uint8_t> file = good.finish();
    Header h;
    EXPECT_EQ(parseHeader(nullptr, 0, h), replay::sndh::kTooShort);
    EXPECT_EQ(parseHeader(file.data(), 15, h), replay::sndh::kTooShort);
    std::vector<uint8_t> noMagic = file;
    noMagic[13] = 'M';
    EXPECT_EQ(parseHeader(noMagic.data(), noMagic.size(), h), replay::sndh::kNoMagic);

    // Every prefix and a string, a name table and an entry point that run off the end.
    for (size_t n = 16; n <= file.size(); ++n) {
        std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(parseHeader(cut.data(), cut.size(), h), replay::sndh::kOk) << n;
    }
    Builder wild;
    wild.str("##02", false).str("#!SN", false).word(0xfff0).word(4).str("TITLno end", false);
    std::vector<uint8_t> w = wild.bytes;
    w[2] = 0x7f; // init branch far past the end
    ASSERT_EQ(parseHeader(w.data(), w.size(), h), replay::sndh::kOk);
    EXPECT_EQ(h.title, "no end");
    ASSERT_EQ(h.subtuneNames.size(), 2u);
    EXPECT_EQ(h.subtuneNames[0], "");
}

std::vector<uint8_t> loadTune(const std::filesystem::path& p) {
    std::vector<uint8_t> file = testdata::readFile(p);
    if (replay::ice::hasMagic(file.data(), file.size()))
        return replay::ice::depackToVector(file.data(), file.size());
    return file;
}

TEST(SndhHeader, RealTunes) {
    auto files = testdata::sndhFiles();
    SKIP_WITHOUT_SHARED_TUNES(files);
    // A few values read off the files by eye.
    const std::map<std::string, std::tuple<int, int, Clock>> known = {
        {"rate__Crowe_Mark__Space_Quest_Chapter_1.sndh", {46, 60, Clock::kTimerC}},
        {"rate__Callet_Charles__La_Affaire.sndh", {8, 100, Clock::kTimerC}},
        {"rate__Herceg_Dorde__Echoing_3.sndh", {1, 71, Clock::kTimerC}},
        {"ice__Demos__Best_In_Galaxy__The_Last_V8.sndh", {1, 50, Clock::kTimerC}},
        {"subtunes__Daglish_Ben__Hotrod.sndh", {6, 50, Clock::kTimerC}},
    };
    int withEndTag = 0;
    for (const auto& path : files) {
        const std::string name = path.filename().string();
        std::vector<uint8_t> tune = loadTune(path);
        Header h;
        ASSERT_EQ(parseHeader(tune.data(), tune.size(), h), replay::sndh::kOk) << name;
        EXPECT_FALSE(h.title.empty()) << name;
        EXPECT_FALSE(h.composer.empty()) << name;
        EXPECT_NE(h.clock, Clock::kDefault) << name;
        EXPECT_GE(h.headerEnd, 20u) << name;
        EXPECT_LE(h.headerEnd, replay::sndh::entryTarget(tune.data(), tune.size(), 0)) << name;
        if (h.hasEndTag) {
            ++withEndTag;
            EXPECT_TRUE(h.unknownTags.empty()) << name << " stopped at " << h.unknownTags[0];
        }
        if (!h.frames.empty()) {
            EXPECT_EQ(h.frames.size(), size_t(h.subtuneCount)) << name;
        }
        if (auto k = known.find(name); k != known.end()) {
            EXPECT_EQ(h.subtuneCount, std::get<0>(k->second)) << name;
            EXPECT_EQ(h.rate, std::get<1>(k->second)) << name;
            EXPECT_EQ(h.clock, std::get<2>(k->second)) << name;
        }
        if (name == "rate__Gotoandplay__Cour-souvra.sndh") {
            EXPECT_EQ(h.subtuneNames, std::vector<std::string>{"n/a"});
        }
    }
    EXPECT_GE(withEndTag, 44);
}

} // namespace
