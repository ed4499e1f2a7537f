#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/mman.h>

using namespace winsvc;

namespace loadertest {
namespace {

std::vector<EntryCall> gEntryCalls;
BOOL gEntryResult = 1;

BOOL INTRO_WINAPI entryHook(void* instance, DWORD reason, void* reserved) {
    gEntryCalls.push_back({instance, reason, reserved});
    return gEntryResult;
}
int INTRO_WINAPI alpha() {
    return 1;
}
int INTRO_WINAPI beta() {
    return 2;
}
int INTRO_WINAPI gamma() {
    return 3;
}

const BuiltinExport kTestExports[] = {
    {"entryHook", 0, reinterpret_cast<void*>(&entryHook)},
    {"alpha", 0, reinterpret_cast<void*>(&alpha)},
    {"beta", 5, reinterpret_cast<void*>(&beta)},
    {"gamma", 0, reinterpret_cast<void*>(&gamma)},
};
const BuiltinLibrary kTestLibrary{kTestLib, kTestExports, 4};

BuiltinExport gLowExports[4];
BuiltinLibrary gLowLibrary{kLowLib, gLowExports, 4};

void* findIn(const BuiltinExport* table, const char* name) {
    for (int i = 0; i < 4; ++i)
        if (std::strcmp(table[i].name, name) == 0) return table[i].address;
    return nullptr;
}

} // namespace

void registerTestLibraries() {
    static bool done = false;
    if (done) return;
    done = true;
    // Stand-ins for functions of a 32-bit library: distinct addresses below 4 GiB.
    void* page = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (page == MAP_FAILED) std::abort();
    auto* low = static_cast<std::uint8_t*>(page);
    for (int i = 0; i < 4; ++i) {
        gLowExports[i] = kTestExports[i];
        gLowExports[i].address = low + 16 * (i + 1);
    }
    if (!registerBuiltinLibrary(&kTestLibrary) || !registerBuiltinLibrary(&gLowLibrary))
        std::abort();
}

std::vector<EntryCall>& entryCalls() {
    return gEntryCalls;
}
void setEntryResult(BOOL result) {
    gEntryResult = result;
}
void* testExport(const char* name) {
    return findIn(kTestExports, name);
}
void* lowExport(const char* name) {
    return findIn(gLowExports, name);
}

Snapshot snapshot() {
    return {liveReservationCount(), liveHeapBlockCount(), libraryReferenceCount(kTestLib),
            libraryReferenceCount(kLowLib)};
}

std::string mapsPermissions(const void* address) {
    auto a = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::uintptr_t lo = 0, hi = 0;
        char perms[8] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %7s", &lo, &hi, perms) != 3) continue;
        if (a >= lo && a < hi) return perms;
    }
    return "unmapped";
}

StandardImage makeStandardImage(const StandardOptions& o) {
    using namespace petest;
    StandardImage img;
    PeWriter w(o.pe64);
    img.imageBase = w.imageBase;
    const std::uint32_t ptr = o.pe64 ? 8 : 4;

    img.textRva = w.nextRva();
    img.dataRva = img.textRva + 0x1000;
    img.idataRva = img.dataRva + 0x1000;
    img.edataRva = img.idataRva + 0x1000;
    img.relocRva = img.edataRva + 0x1000;

    std::vector<ImportLibrary> libs;
    libs.push_back({o.pe64 ? kTestLib : kLowLib,
                    {std::string("entryHook"), std::string("alpha"), std::uint16_t(5)},
                    o.lookupTable});
    for (const auto& extra : o.extraImports) libs.push_back(extra);
    img.imports = buildImports(img.idataRva, o.pe64, libs);

    Bytes text(0x40, 0xCC);
    if (o.entry) {
        // jmp qword [rip + disp32] to the entryHook slot: the hook receives the entry's arguments.
        std::uint32_t slot = img.imports.addressRvas[0];
        auto disp = static_cast<std::int32_t>(slot - (img.textRva + 6));
        text[0] = 0xFF;
        text[1] = 0x25;
        std::memcpy(&text[2], &disp, 4);
        w.entryRva = img.textRva;
    }
    for (int f = 1; f <= 3; ++f) text[0x10 * f] = 0xC3; // ret
    if (w.addSection(".text", 0x60000020, text) != img.textRva) std::abort();

    Bytes data(0x100, 0);
    std::vector<std::uint16_t> entries;
    const unsigned own = o.pe64 ? pe::kRelBasedDir64 : pe::kRelBasedHighLow;
    const unsigned other = o.pe64 ? pe::kRelBasedHighLow : pe::kRelBasedDir64;
    for (std::uint32_t k = 0; k < 4; ++k) {
        std::uint32_t at = k * 0x10;
        std::uint64_t value = img.imageBase + img.textRva + 0x10 * (k % 3 + 1);
        if (ptr == 8)
            putAt<std::uint64_t>(data, at, value);
        else
            putAt<std::uint32_t>(data, at, static_cast<std::uint32_t>(value));
        entries.push_back(static_cast<std::uint16_t>(own << 12 | at));
        img.pointerSites.push_back(img.dataRva + at);
    }
    const unsigned otherTypes[] = {pe::kRelBasedAbsolute, 1, 2, other, 5, 9};
    for (std::uint32_t k = 0; k < 6; ++k) {
        std::uint32_t at = 0x80 + k * 0x10;
        putAt<std::uint64_t>(data, at, 0x1122334455667788ull + k);
        entries.push_back(static_cast<std::uint16_t>(otherTypes[k] << 12 | at));
        img.untouchedSites.push_back(img.dataRva + at);
    }
    if (w.addSection(".data", 0xC0000040, data) != img.dataRva) std::abort();

    if (w.addSection(".idata", 0xC0000040, img.imports.bytes) != img.idataRva) std::abort();
    w.setDirectory(pe::kDirectoryImport, img.idataRva, img.imports.directorySize);

    img.exports = buildExports(img.edataRva, {"alpha", "beta", "gamma"}, {0, 1, 2},
                               {img.textRva + 0x10, img.textRva + 0x20, img.textRva + 0x30});
    if (w.addSection(".edata", 0x40000040, img.exports.bytes) != img.edataRva) std::abort();
    w.setDirectory(pe::kDirectoryExport, img.edataRva,
                   static_cast<std::uint32_t>(img.exports.bytes.size()));

    Bytes relocs = buildRelocations({{img.dataRva, entries}});
    relocs.resize(relocs.size() + 8, 0); // zero bytes after the last block
    if (w.addSection(".reloc", 0x42000040, relocs) != img.relocRva) std::abort();
    w.setDirectory(pe::kDirectoryBaseReloc, img.relocRva,
                   static_cast<std::uint32_t>(relocs.size() - 8));

    img.bytes = w.build();
    return img;
}

namespace {
struct FileLayout {
    bool pe64;
    std::uint32_t optional, table;
    std::uint16_t sections;
};
FileLayout fileLayout(const petest::Bytes& file) {
    auto lfanew = petest::getAt<std::uint32_t>(file, pe::kLfanewOffset);
    auto fh = petest::getAt<pe::FileHeader>(file, lfanew + 4);
    FileLayout l;
    l.optional = lfanew + 24;
    l.pe64 = petest::getAt<std::uint16_t>(file, l.optional) == pe::kMagicPe32Plus;
    l.table = l.optional + fh.SizeOfOptionalHeader;
    l.sections = fh.NumberOfSections;
    return l;
}
} // namespace

std::size_t rvaToFileOffset(const petest::Bytes& file, std::uint32_t rva) {
    FileLayout l = fileLayout(file);
    for (unsigned i = 0; i < l.sections; ++i) {
        auto s = petest::getAt<pe::SectionHeader>(file, l.table + i * sizeof(pe::SectionHeader));
        if (rva >= s.VirtualAddress && rva - s.VirtualAddress < s.SizeOfRawData)
            return s.PointerToRawData + (rva - s.VirtualAddress);
    }
    return 0;
}

pe::DataDirectory fileDirectory(const petest::Bytes& file, unsigned index) {
    FileLayout l = fileLayout(file);
    return petest::getAt<pe::DataDirectory>(file, l.optional + (l.pe64 ? 112 : 96) + index * 8);
}

std::vector<std::uint32_t> relocationSites(const petest::Bytes& file) {
    FileLayout l = fileLayout(file);
    auto dir = fileDirectory(file, pe::kDirectoryBaseReloc);
    const unsigned wanted = l.pe64 ? pe::kRelBasedDir64 : pe::kRelBasedHighLow;
    std::vector<std::uint32_t> sites;
    std::size_t pos = rvaToFileOffset(file, dir.VirtualAddress);
    std::size_t end = pos + dir.Size;
    while (pos + 8 <= end) {
        auto block = petest::getAt<pe::BaseRelocationBlock>(file, pos);
        if (block.VirtualAddress == 0 || block.SizeOfBlock < 8) break;
        for (std::size_t k = 0; k < (block.SizeOfBlock - 8) / 2; ++k) {
            auto e = petest::getAt<std::uint16_t>(file, pos + 8 + 2 * k);
            if ((e >> 12) == wanted) sites.push_back(block.VirtualAddress + (e & 0xFFF));
        }
        pos += block.SizeOfBlock;
    }
    return sites;
}

ExactCopy::ExactCopy(const petest::Bytes& b)
    : data(static_cast<std::uint8_t*>(std::malloc(b.empty() ? 1 : b.size()))), size(b.size()) {
    if (!b.empty()) std::memcpy(data, b.data(), b.size());
}
ExactCopy::~ExactCopy() {
    std::free(data);
}

} // namespace loadertest
