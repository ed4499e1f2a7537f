// Malformed images: each is refused, or loaded with the bad table ignored, and none makes the
// loader read outside the input (the input sits in an exactly sized heap block, so AddressSanitizer
// sees any such read) or outside the mapped range. The preferred base is taken beforehand so that
// the relocation pass always runs.
#include <gtest/gtest.h>

#include <functional>

#include "test_support.h"

using namespace loadertest;
using petest::Bytes;
using petest::PeWriter;
using petest::putAt;

namespace {

// loadsWithoutExports: the image maps, and looking up "alpha" (the broken entry) finds nothing.
enum class Expect { refused, loads, loadsWithoutExports };

// Offsets into a standard image; all computed before any change is made.
struct Image {
    Bytes& b;
    const StandardImage& s;
    bool pe64;

    std::uint32_t optionalSize() const { return pe64 ? 240 : 224; }
    std::size_t section(unsigned i) const { return PeWriter::kOptional + optionalSize() + i * 40; }
    std::size_t directory(unsigned i) const {
        return PeWriter::kOptional + (pe64 ? 112 : 96) + i * 8;
    }
    std::size_t file(std::uint32_t rva) const { return rvaToFileOffset(b, rva); }
    std::uint32_t sizeOfImage() const {
        return petest::getAt<std::uint32_t>(b, PeWriter::kOptional + 56);
    }
    std::size_t exportField(unsigned offset) const { return file(s.edataRva) + offset; }
};

struct Case {
    const char* name;
    Expect expect;
    std::function<void(Image&)> change;
    bool lookupTable = false;
};

const unsigned kData = 1, kReloc = 4; // section indices of the standard image
const unsigned kSizeOfImage = PeWriter::kOptional + 56, kSizeOfHeaders = PeWriter::kOptional + 60;

const Case kCases[] = {
    // Headers.
    {"empty input", Expect::refused, [](Image& i) { i.b.clear(); }},
    {"cut inside the DOS header", Expect::refused, [](Image& i) { i.b.resize(0x30); }},
    {"cut inside the file header", Expect::refused, [](Image& i) { i.b.resize(0x50); }},
    {"cut inside the optional header", Expect::refused,
     [](Image& i) { i.b.resize(PeWriter::kOptional + 40); }},
    {"cut inside the section table", Expect::refused,
     [](Image& i) { i.b.resize(i.section(2) + 10); }},
    {"cut inside the last section's raw data", Expect::refused,
     [](Image& i) { i.b.resize(i.file(i.s.relocRva) + 4); }},
    {"e_lfanew far past the end", Expect::refused,
     [](Image& i) { putAt<std::uint32_t>(i.b, pe::kLfanewOffset, 0xFFFFFF00u); }},
    {"unknown optional header magic", Expect::refused,
     [](Image& i) { putAt<std::uint16_t>(i.b, PeWriter::kOptional, 0x107); }},
    {"optional header shorter than its fixed part", Expect::refused,
     [](Image& i) { putAt<std::uint16_t>(i.b, PeWriter::kFileHeader + 16, 0x40); }},
    {"SizeOfHeaders past the end of the file", Expect::refused,
     [](Image& i) {
         putAt<std::uint32_t>(i.b, kSizeOfImage, 0x100000);
         putAt<std::uint32_t>(i.b, kSizeOfHeaders, static_cast<std::uint32_t>(i.b.size() + 0x200));
     }},
    {"SizeOfHeaders past SizeOfImage", Expect::refused,
     [](Image& i) { putAt<std::uint32_t>(i.b, kSizeOfHeaders, i.sizeOfImage() + 0x200); }},
    {"SizeOfImage 0", Expect::refused,
     [](Image& i) { putAt<std::uint32_t>(i.b, kSizeOfImage, 0); }},
    {"section table past SizeOfHeaders", Expect::refused,
     [](Image& i) { putAt<std::uint16_t>(i.b, PeWriter::kFileHeader + 2, 60); }},
    // Sections.
    {"raw data past the end of the file", Expect::refused,
     [](Image& i) {
         putAt<std::uint32_t>(i.b, i.section(kData) + 20,
                              static_cast<std::uint32_t>(i.b.size() - 0x10));
     }},
    {"raw data offset that wraps", Expect::refused,
     [](Image& i) { putAt<std::uint32_t>(i.b, i.section(kData) + 20, 0xFFFFFFF0u); }},
    {"section past SizeOfImage", Expect::refused,
     [](Image& i) { putAt<std::uint32_t>(i.b, i.section(kData) + 12, i.sizeOfImage() - 0x10); }},
    {"section address that wraps", Expect::refused,
     [](Image& i) { putAt<std::uint32_t>(i.b, i.section(kData) + 12, 0xFFFFF000u); }},
    {"section without raw data past SizeOfImage", Expect::refused,
     [](Image& i) {
         putAt<std::uint32_t>(i.b, i.section(kData) + 16, 0);
         putAt<std::uint32_t>(i.b, i.section(kData) + 12, i.sizeOfImage() - 0x800);
     }},
    // Base relocations.
    {"relocation block of size 0", Expect::refused,
     [](Image& i) { putAt<std::uint32_t>(i.b, i.file(i.s.relocRva) + 4, 0); }},
    {"relocation block of size 7", Expect::refused,
     [](Image& i) { putAt<std::uint32_t>(i.b, i.file(i.s.relocRva) + 4, 7); }},
    {"relocation block running past its directory", Expect::refused,
     [](Image& i) {
         auto size = petest::getAt<std::uint32_t>(i.b, i.directory(pe::kDirectoryBaseReloc) + 4);
         putAt<std::uint32_t>(i.b, i.file(i.s.relocRva) + 4, size + 8);
     }},
    {"relocation directory past the image", Expect::refused,
     [](Image& i) {
         putAt<std::uint32_t>(i.b, i.directory(pe::kDirectoryBaseReloc), i.sizeOfImage() - 8);
     }},
    {"relocation target past the image", Expect::refused,
     [](Image& i) { putAt<std::uint32_t>(i.b, i.file(i.s.relocRva), i.sizeOfImage() - 2); }},
    {"relocation directory smaller than a block header", Expect::loads,
     [](Image& i) { putAt<std::uint32_t>(i.b, i.directory(pe::kDirectoryBaseReloc) + 4, 4); }},
    {"relocation walk ends at the directory's end", Expect::loads,
     [](Image& i) {
         // A bogus block right after the directory would be refused if the walk read it.
         auto size = petest::getAt<std::uint32_t>(i.b, i.directory(pe::kDirectoryBaseReloc) + 4);
         putAt<std::uint32_t>(i.b, i.file(i.s.relocRva) + size, i.s.dataRva);
         putAt<std::uint32_t>(i.b, i.file(i.s.relocRva) + size + 4, 0);
     }},
    // Imports.
    {"library name past the image", Expect::refused,
     [](Image& i) {
         putAt<std::uint32_t>(i.b, i.file(i.s.idataRva) + 12, i.sizeOfImage() + 0x10);
     }},
    {"hint/name entry past the image", Expect::refused,
     [](Image& i) {
         putAt<std::uint32_t>(i.b, i.file(i.s.imports.addressRvas[0]), i.sizeOfImage() + 0x40);
     }},
    {"hint/name entry cut by the end of the image", Expect::refused,
     [](Image& i) {
         putAt<std::uint32_t>(i.b, i.file(i.s.imports.addressRvas[0]), i.sizeOfImage() - 1);
     }},
    {"import address table past the image", Expect::refused,
     [](Image& i) { putAt<std::uint32_t>(i.b, i.file(i.s.idataRva) + 16, i.sizeOfImage() - 2); }},
    {"import lookup table past the image", Expect::refused,
     [](Image& i) { putAt<std::uint32_t>(i.b, i.file(i.s.idataRva), i.sizeOfImage() + 0x100); },
     true},
    {"import directory past the image", Expect::refused,
     [](Image& i) {
         putAt<std::uint32_t>(i.b, i.directory(pe::kDirectoryImport), i.sizeOfImage() - 4);
     }},
    {"import descriptors ending at the end of the image", Expect::loads,
     [](Image& i) {
         putAt<std::uint32_t>(i.b, i.directory(pe::kDirectoryImport), i.sizeOfImage() - 20);
         putAt<std::uint32_t>(i.b, i.directory(pe::kDirectoryImport) + 4, 20);
     }},
    // Exports: the image loads, the lookups find nothing.
    {"export directory past the image", Expect::loadsWithoutExports,
     [](Image& i) {
         putAt<std::uint32_t>(i.b, i.directory(pe::kDirectoryExport), i.sizeOfImage() - 8);
     }},
    {"export function table past the image", Expect::loadsWithoutExports,
     [](Image& i) { putAt<std::uint32_t>(i.b, i.exportField(28), i.sizeOfImage() - 4); }},
    {"export name table past the image", Expect::loadsWithoutExports,
     [](Image& i) { putAt<std::uint32_t>(i.b, i.exportField(32), i.sizeOfImage() - 4); }},
    {"export ordinal table past the image", Expect::loadsWithoutExports,
     [](Image& i) { putAt<std::uint32_t>(i.b, i.exportField(36), i.sizeOfImage() - 2); }},
    {"export name past the image", Expect::loadsWithoutExports,
     [](Image& i) {
         putAt<std::uint32_t>(i.b, i.file(i.s.exports.namesRva), i.sizeOfImage() + 5);
     }},
    {"export name cut by the end of the image", Expect::loadsWithoutExports,
     [](Image& i) {
         putAt<std::uint32_t>(i.b, i.file(i.s.exports.namesRva), i.sizeOfImage() - 3);
     }},
    {"export function address past the image", Expect::loadsWithoutExports,
     [](Image& i) {
         putAt<std::uint32_t>(i.b, i.file(i.s.exports.functionsRva), i.sizeOfImage());
     }},
    {"headers made inaccessible by a section laid over them", Expect::loadsWithoutExports,
     [](Image& i) {
         // Section 0 maps the header bytes onto themselves, then takes away all access.
         putAt<std::uint32_t>(i.b, i.section(0) + 12, 0);
         putAt<std::uint32_t>(i.b, i.section(0) + 16, 0x200);
         putAt<std::uint32_t>(i.b, i.section(0) + 20, 0);
         putAt<std::uint32_t>(i.b, i.section(0) + 36, 0x00000020);
     }},
    {"huge export name count", Expect::loadsWithoutExports,
     [](Image& i) { putAt<std::uint32_t>(i.b, i.exportField(24), 0x40000000u); }},
};

class LoaderMalformed : public testing::TestWithParam<bool> {};

TEST_P(LoaderMalformed, EachImageIsRefusedOrHandledWithinItsBounds) {
    const bool pe64 = GetParam();
    registerTestLibraries();
    const Snapshot before = snapshot();
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        StandardOptions o;
        o.pe64 = pe64;
        o.lookupTable = c.lookupTable;
        StandardImage img = makeStandardImage(o);
        void* blocker = winsvc::VirtualAlloc(reinterpret_cast<void*>(img.imageBase), 0x10000,
                                             winsvc::MEM_RESERVE, winsvc::PAGE_READWRITE);
        ASSERT_NE(blocker, nullptr);
        Image view{img.bytes, img, pe64};
        c.change(view);
        ExactCopy copy(img.bytes);
        ModuleHandle* m = loadModuleFromMemory(copy.data, copy.size, LoadMode::mapOnly);
        if (c.expect == Expect::refused) {
            EXPECT_EQ(m, nullptr);
        } else {
            ASSERT_NE(m, nullptr);
            EXPECT_NE(m->mappedBase, blocker);
            void* alpha = findModuleExport(m, "alpha");
            EXPECT_EQ(alpha != nullptr, c.expect == Expect::loads);
            if (c.expect == Expect::loads) {
                EXPECT_NE(findModuleExport(m, "gamma"), nullptr);
            }
        }
        freeModule(m);
        winsvc::VirtualFree(blocker, 0, winsvc::MEM_RELEASE);
        EXPECT_EQ(snapshot(), before);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, LoaderMalformed, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "Pe32Plus" : "Pe32";
                         });

} // namespace
