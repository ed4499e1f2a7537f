// The module loader on synthetic images, both kinds. 32-bit images cannot run on this host, so
// they are mapped with LoadMode::mapOnly; 64-bit images run their entry stub, which forwards to
// the test library's entryHook.
#include <gtest/gtest.h>

#include <cstring>

#include "test_support.h"

using namespace loadertest;
using petest::Bytes;
using petest::getAt;
using petest::putAt;

namespace {

StandardOptions kind(bool pe64, bool entry = true) {
    StandardOptions o;
    o.pe64 = pe64;
    o.entry = entry;
    return o;
}

StandardOptions withImports(bool pe64, std::vector<petest::ImportLibrary> extra) {
    StandardOptions o = kind(pe64);
    o.extraImports = std::move(extra);
    return o;
}

const char* kindName(const testing::TestParamInfo<bool>& info) {
    return info.param ? "Pe32Plus" : "Pe32";
}

class LoaderImage : public testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        registerTestLibraries();
        entryCalls().clear();
        setEntryResult(1);
        before_ = snapshot();
    }
    void TearDown() override { EXPECT_EQ(snapshot(), before_) << "the loader left something"; }

    bool pe64() const { return GetParam(); }
    LoadMode mode() const { return pe64() ? LoadMode::run : LoadMode::mapOnly; }
    std::uint32_t optional() const { return petest::PeWriter::kOptional; }
    std::uint64_t pointerAt(const std::uint8_t* p) const {
        return pe64() ? getAt<std::uint64_t>(Bytes(p, p + 8), 0)
                      : getAt<std::uint32_t>(Bytes(p, p + 4), 0);
    }
    ModuleHandle* load(const Bytes& b, LoadMode m) {
        ExactCopy copy(b);
        return loadModuleFromMemory(copy.data, copy.size, m);
    }
    ModuleHandle* load(const Bytes& b) { return load(b, mode()); }

    Snapshot before_{};
};

TEST_P(LoaderImage, RefusesImagesWithoutMzOrPeSignature) {
    StandardImage img = makeStandardImage(kind(pe64()));
    Bytes noMz = img.bytes;
    noMz[0] = 'X';
    Bytes noPe = img.bytes;
    noPe[petest::PeWriter::kLfanew + 1] = 'Q';
    std::size_t reservations = winsvc::liveReservationCount();
    EXPECT_EQ(load(noMz), nullptr);
    EXPECT_EQ(load(noPe), nullptr);
    EXPECT_EQ(winsvc::liveReservationCount(), reservations);
    EXPECT_TRUE(entryCalls().empty());
}

TEST_P(LoaderImage, MapsAtImageBaseThenRelocatesASecondCopyByTheBaseDistance) {
    StandardImage img = makeStandardImage(kind(pe64()));
    const std::size_t dataFile = rvaToFileOffset(img.bytes, img.dataRva);
    auto fileValue = [&](std::uint32_t rva) {
        return pointerAt(img.bytes.data() + dataFile + (rva - img.dataRva));
    };
    ModuleHandle* first = load(img.bytes);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first->mappedBase), img.imageBase);
    for (std::uint32_t site : img.pointerSites)
        EXPECT_EQ(pointerAt(first->mappedBase + site), fileValue(site)) << site;

    ModuleHandle* second = load(img.bytes);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(second->mappedBase, first->mappedBase);
    std::uint64_t delta = reinterpret_cast<std::uintptr_t>(second->mappedBase) - img.imageBase;
    std::uint64_t mask = pe64() ? ~0ull : 0xFFFFFFFFull;
    for (std::uint32_t site : img.pointerSites)
        EXPECT_EQ((pointerAt(second->mappedBase + site) - fileValue(site)) & mask, delta & mask)
            << site;
    // Type 0 and the types that do not belong to this image kind change nothing.
    for (std::uint32_t site : img.untouchedSites)
        for (ModuleHandle* m : {first, second})
            EXPECT_EQ(
                getAt<std::uint64_t>(Bytes(m->mappedBase + site, m->mappedBase + site + 8), 0),
                getAt<std::uint64_t>(img.bytes, dataFile + (site - img.dataRva)))
                << site;

    // The mapped headers carry the real base, and each section entry its section's address.
    std::uint64_t mappedImageBase =
        pe64() ? getAt<std::uint64_t>(Bytes(second->mappedBase + optional() + 24,
                                            second->mappedBase + optional() + 32),
                                      0)
               : getAt<std::uint32_t>(Bytes(second->mappedBase + optional() + 28,
                                            second->mappedBase + optional() + 32),
                                      0);
    EXPECT_EQ(mappedImageBase, reinterpret_cast<std::uintptr_t>(second->mappedBase));
    EXPECT_EQ(second->peHeaders, second->mappedBase + petest::PeWriter::kLfanew);
    std::uint32_t table = optional() + (pe64() ? 240 : 224);
    for (unsigned i = 0; i < 5; ++i) {
        pe::SectionHeader s;
        std::memcpy(&s, second->mappedBase + table + i * 40, 40);
        EXPECT_EQ(s.VirtualSize, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(
                                     second->mappedBase + s.VirtualAddress)));
    }
    freeModule(second);
    freeModule(first);
}

TEST_P(LoaderImage, SectionWithoutRawDataGetsSectionAlignmentZeros) {
    // Section A's raw data runs 0x1000 bytes into the page of section B, which has none: B's
    // zero fill must cover A's tail.
    petest::PeWriter w(pe64());
    std::uint32_t a = w.addSection(".a", 0xC0000040, Bytes(0x2000, 0xAB));
    w.addSection(".b", 0xC0000080, {}, 0x1000);
    w.sections[1].rva = a + 0x1000;
    w.sizeOfImage = a + 0x3000;
    Bytes bytes = w.build();
    ModuleHandle* m = load(bytes);
    ASSERT_NE(m, nullptr);
    const std::uint8_t* p = m->mappedBase + a;
    EXPECT_EQ(p[0], 0xAB);
    EXPECT_EQ(p[0xFFF], 0xAB);
    for (std::uint32_t i = 0x1000; i < 0x2000; ++i) ASSERT_EQ(p[i], 0) << i;
    freeModule(m);
}

TEST_P(LoaderImage, BindsImportsInPlaceAndThroughALookupTable) {
    const char* lib = pe64() ? kTestLib : kLowLib;
    auto resolve = pe64() ? testExport : lowExport;
    StandardImage img = makeStandardImage(withImports(
        pe64(), {{lib, {std::string("gamma"), std::uint16_t(5)}, /*lookupTable=*/true}}));
    ModuleHandle* m = load(img.bytes);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->libraryCount, 2);
    EXPECT_EQ(winsvc::libraryReferenceCount(lib), 2);
    const std::uint32_t slot = pe64() ? 8 : 4;
    auto slotValue = [&](std::uint32_t rva) { return pointerAt(m->mappedBase + rva); };
    auto addr = [&](const char* name) { return reinterpret_cast<std::uintptr_t>(resolve(name)); };
    // First descriptor: no lookup table, the address table was read and overwritten in place.
    std::uint32_t iat = img.imports.addressRvas[0];
    EXPECT_EQ(img.imports.lookupRvas[0], 0u);
    EXPECT_EQ(slotValue(iat), addr("entryHook"));
    EXPECT_EQ(slotValue(iat + slot), addr("alpha"));
    EXPECT_EQ(slotValue(iat + 2 * slot), addr("beta")); // by ordinal 5
    EXPECT_EQ(slotValue(iat + 3 * slot), 0u);
    // Second descriptor: the lookup table keeps its entries, the address table gets addresses.
    std::uint32_t ilt = img.imports.lookupRvas[1];
    iat = img.imports.addressRvas[1];
    EXPECT_EQ(slotValue(iat), addr("gamma"));
    EXPECT_EQ(slotValue(iat + slot), addr("beta"));
    std::uint64_t ordinalFlag = pe64() ? pe::kOrdinalFlag64 : pe::kOrdinalFlag32;
    EXPECT_LT(slotValue(ilt), m->mappedSize); // still a hint/name RVA
    EXPECT_EQ(slotValue(ilt + slot), ordinalFlag | 5);
    freeModule(m);
    EXPECT_EQ(winsvc::libraryReferenceCount(lib), 0);
}

TEST_P(LoaderImage, UnresolvedImportsLeaveNothingAndNeverCallTheEntry) {
    const char* lib = pe64() ? kTestLib : kLowLib;
    const std::vector<petest::ImportLibrary> cases[] = {
        {{lib, {std::string("delta")}}},          // missing name
        {{lib, {std::string("Alpha")}}},          // names are case-sensitive
        {{lib, {std::uint16_t(99)}}},             // missing ordinal
        {{lib, {std::uint16_t(0)}}},              // ordinal 0 names nothing
        {{"NOSUCH.DLL", {std::string("alpha")}}}, // missing library
    };
    for (const auto& extra : cases) {
        StandardImage img = makeStandardImage(withImports(pe64(), extra));
        EXPECT_EQ(load(img.bytes), nullptr);
        EXPECT_EQ(snapshot(), before_);
    }
    EXPECT_TRUE(entryCalls().empty());
}

TEST_P(LoaderImage, WithoutEntryPointNothingIsCalled) {
    StandardImage img = makeStandardImage(kind(pe64(), false));
    ModuleHandle* m = load(img.bytes, LoadMode::run);
    if (!pe64()) { // a 32-bit image cannot run here at all
        EXPECT_EQ(m, nullptr);
        m = load(img.bytes, LoadMode::mapOnly);
    }
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->attached, 0);
    freeModule(m);
    EXPECT_TRUE(entryCalls().empty());
}

TEST_P(LoaderImage, ProtectionsFollowSectionCharacteristics) {
    petest::PeWriter w(pe64());
    const std::uint32_t exec = 0x20000000, read = 0x40000000, write = 0x80000000;
    struct Expect {
        std::uint32_t characteristics;
        winsvc::DWORD protect;
        const char* perms;
    };
    const Expect table[] = {
        {0x40, winsvc::PAGE_NOACCESS, "---p"},
        {0x40 | write, winsvc::PAGE_WRITECOPY, "rw-p"},
        {0x40 | read, winsvc::PAGE_READONLY, "r--p"},
        {0x40 | read | write, winsvc::PAGE_READWRITE, "rw-p"},
        {0x20 | exec, winsvc::PAGE_EXECUTE, "--xp"},
        {0x20 | exec | write, winsvc::PAGE_EXECUTE_WRITECOPY, "rwxp"},
        {0x20 | exec | read, winsvc::PAGE_EXECUTE_READ, "r-xp"},
        {0x20 | exec | read | write, winsvc::PAGE_EXECUTE_READWRITE, "rwxp"},
        {0x40 | read | 0x04000000, winsvc::PAGE_READONLY | winsvc::PAGE_NOCACHE, "r--p"},
    };
    std::vector<std::uint32_t> rvas;
    for (const auto& e : table) rvas.push_back(w.addSection(".s", e.characteristics, Bytes(64, 1)));
    std::uint32_t discard = w.addSection(".reloc", 0x42000040, Bytes(64, 1));
    // No raw data: the protected size comes from SizeOfUninitializedData.
    std::uint32_t bss = w.addSection(".bss", 0x80 | read, {}, 0x3000);
    w.sizeOfUninitializedData = 0x1800;
    ModuleHandle* m = load(w.build(), LoadMode::mapOnly);
    ASSERT_NE(m, nullptr);
    for (std::size_t i = 0; i < std::size(table); ++i) {
        const std::uint8_t* at = m->mappedBase + rvas[i];
        EXPECT_EQ(mapsPermissions(at), table[i].perms) << i;
        winsvc::MEMORY_BASIC_INFORMATION info{};
        ASSERT_NE(winsvc::VirtualQuery(at, &info, sizeof info), 0u);
        EXPECT_EQ(info.Protect, table[i].protect) << i;
    }
    winsvc::MEMORY_BASIC_INFORMATION info{};
    ASSERT_NE(winsvc::VirtualQuery(m->mappedBase + discard, &info, sizeof info), 0u);
    EXPECT_EQ(info.State, winsvc::MEM_RESERVE); // decommitted
    EXPECT_EQ(mapsPermissions(m->mappedBase + discard), "---p");
    EXPECT_EQ(mapsPermissions(m->mappedBase + bss + 0x1000), "r--p");
    EXPECT_EQ(mapsPermissions(m->mappedBase + bss + 0x2000), "rw-p"); // beyond the given size
    EXPECT_EQ(mapsPermissions(m->mappedBase), "rw-p");                // headers
    freeModule(m);
}

TEST_P(LoaderImage, FindsExportsByExactNameOnly) {
    StandardImage img = makeStandardImage(kind(pe64()));
    ModuleHandle* m = load(img.bytes);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(findModuleExport(m, "alpha"), m->mappedBase + img.textRva + 0x10);
    EXPECT_EQ(findModuleExport(m, "beta"), m->mappedBase + img.textRva + 0x20);
    EXPECT_EQ(findModuleExport(m, "gamma"), m->mappedBase + img.textRva + 0x30);
    for (const char* wrong : {"Alpha", "ALPHA", "alph", "alphaa", "", "delta"})
        EXPECT_EQ(findModuleExport(m, wrong), nullptr) << wrong;
    EXPECT_EQ(findModuleExport(nullptr, "alpha"), nullptr);
    freeModule(m);
    freeModule(nullptr);
}

TEST_P(LoaderImage, ExportWhoseOrdinalEntryIsOutOfRangeIsNotFound) {
    StandardImage img = makeStandardImage(kind(pe64()));
    // "beta" (name index 1) gets function index 3 = NumberOfFunctions, "gamma" a larger one.
    std::size_t ordinals = rvaToFileOffset(img.bytes, img.exports.ordinalsRva);
    putAt<std::uint16_t>(img.bytes, ordinals + 2, 3);
    putAt<std::uint16_t>(img.bytes, ordinals + 4, 0xFFFF);
    ModuleHandle* m = load(img.bytes);
    ASSERT_NE(m, nullptr);
    EXPECT_NE(findModuleExport(m, "alpha"), nullptr);
    EXPECT_EQ(findModuleExport(m, "beta"), nullptr);
    EXPECT_EQ(findModuleExport(m, "gamma"), nullptr);
    freeModule(m);
}

INSTANTIATE_TEST_SUITE_P(Kinds, LoaderImage, testing::Bool(), kindName);

// --- entry point calls: only 64-bit images run here --------------------------------------

class LoaderEntry : public testing::Test {
  protected:
    void SetUp() override {
        registerTestLibraries();
        entryCalls().clear();
        setEntryResult(1);
        before_ = snapshot();
    }
    void TearDown() override {
        setEntryResult(1);
        EXPECT_EQ(snapshot(), before_);
    }
    Snapshot before_{};
};

TEST_F(LoaderEntry, AttachOnLoadAndDetachOnRelease) {
    StandardImage img = makeStandardImage(kind(true));
    ExactCopy copy(img.bytes);
    ModuleHandle* m = loadModuleFromMemory(copy.data, copy.size);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->attached, 1);
    ASSERT_EQ(entryCalls().size(), 1u);
    EXPECT_EQ(entryCalls()[0].instance, m->mappedBase);
    EXPECT_EQ(entryCalls()[0].reason, pe::kDllProcessAttach);
    EXPECT_EQ(entryCalls()[0].reserved, nullptr);
    void* base = m->mappedBase;
    freeModule(m);
    ASSERT_EQ(entryCalls().size(), 2u);
    EXPECT_EQ(entryCalls()[1].instance, base);
    EXPECT_EQ(entryCalls()[1].reason, pe::kDllProcessDetach);
}

TEST_F(LoaderEntry, RefusedAttachLeavesNothingAndGetsNoDetach) {
    setEntryResult(0);
    StandardImage img = makeStandardImage(kind(true));
    ExactCopy copy(img.bytes);
    EXPECT_EQ(loadModuleFromMemory(copy.data, copy.size), nullptr);
    ASSERT_EQ(entryCalls().size(), 1u);
    EXPECT_EQ(entryCalls()[0].reason, pe::kDllProcessAttach);
}

TEST_F(LoaderEntry, MapOnlyNeverCallsTheEntry) {
    StandardImage img = makeStandardImage(kind(true));
    ExactCopy copy(img.bytes);
    ModuleHandle* m = loadModuleFromMemory(copy.data, copy.size, LoadMode::mapOnly);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->attached, 0);
    freeModule(m);
    EXPECT_TRUE(entryCalls().empty());
}

TEST_F(LoaderEntry, ForeignImagesMapButDoNotRun) {
    // An i386 image, and a 64-bit image for another processor.
    StandardImage pe32 = makeStandardImage(kind(false));
    StandardImage other = makeStandardImage(kind(true));
    putAt<std::uint16_t>(other.bytes, petest::PeWriter::kFileHeader, 0xAA64);
    for (const Bytes* b : {&pe32.bytes, &other.bytes}) {
        ExactCopy copy(*b);
        EXPECT_EQ(loadModuleFromMemory(copy.data, copy.size, LoadMode::run), nullptr);
        EXPECT_EQ(snapshot(), before_);
        ModuleHandle* m = loadModuleFromMemory(copy.data, copy.size, LoadMode::mapOnly);
        ASSERT_NE(m, nullptr);
        EXPECT_NE(findModuleExport(m, "gamma"), nullptr);
        freeModule(m);
    }
    EXPECT_TRUE(entryCalls().empty());
}

TEST_F(LoaderEntry, ThirtyTwoBitImageRefusesImportsAbove4GiB) {
    StandardImage img = makeStandardImage(withImports(false, {{kTestLib, {std::string("alpha")}}}));
    ExactCopy copy(img.bytes);
    EXPECT_EQ(loadModuleFromMemory(copy.data, copy.size, LoadMode::mapOnly), nullptr);
}

TEST_F(LoaderEntry, ThirtyTwoBitImageStaysBelow4GiBWhenItsBaseIsTaken) {
    StandardImage img = makeStandardImage(kind(false));
    void* blocker = winsvc::VirtualAlloc(reinterpret_cast<void*>(img.imageBase), 0x10000,
                                         winsvc::MEM_RESERVE, winsvc::PAGE_READWRITE);
    ASSERT_NE(blocker, nullptr);
    ExactCopy copy(img.bytes);
    ModuleHandle* m = loadModuleFromMemory(copy.data, copy.size, LoadMode::mapOnly);
    ASSERT_NE(m, nullptr);
    EXPECT_NE(reinterpret_cast<std::uintptr_t>(m->mappedBase), img.imageBase);
    EXPECT_LE(reinterpret_cast<std::uintptr_t>(m->mappedBase) + m->mappedSize, 1ull << 32);
    freeModule(m);
    winsvc::VirtualFree(blocker, 0, winsvc::MEM_RELEASE);
}

} // namespace
