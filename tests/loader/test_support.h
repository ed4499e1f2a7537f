// Shared pieces of the loader tests: the built-in test libraries, a standard synthetic image, leak
// snapshots and protection read-back from the process's memory map.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "module_loader.h"
#include "pe_writer.h"
#include "winsvc/winsvc.h"

namespace loadertest {

// "LOADERTEST.DLL" (64-bit addresses, callable): entryHook, alpha, beta (also ordinal 5), gamma.
// "LOW32.DLL" (addresses below 4 GiB, never called): the same names and ordinal.
inline constexpr const char* kTestLib = "LOADERTEST.DLL";
inline constexpr const char* kLowLib = "LOW32.DLL";
void registerTestLibraries();

struct EntryCall {
    void* instance;
    winsvc::DWORD reason;
    void* reserved;
};
// Calls seen by entryHook, and what it answers.
std::vector<EntryCall>& entryCalls();
void setEntryResult(winsvc::BOOL result);

void* testExport(const char* name);
void* lowExport(const char* name);

// Counts of what the loader can leave behind.
struct Snapshot {
    std::size_t reservations;
    std::size_t heapBlocks;
    int testRefs;
    int lowRefs;
    bool operator==(const Snapshot&) const = default;
};
Snapshot snapshot();

// Permissions ("r-xp" etc.) of the mapping that holds `address`, read from /proc/self/maps.
std::string mapsPermissions(const void* address);

struct StandardImage {
    petest::Bytes bytes;
    std::uint64_t imageBase = 0;
    std::uint32_t textRva = 0, dataRva = 0, idataRva = 0, edataRva = 0, relocRva = 0;
    petest::ImportTable imports;
    petest::ExportTable exports;
    // Data locations that hold image addresses and carry a pointer-sized relocation.
    std::vector<std::uint32_t> pointerSites;
    // Data locations with relocation entries of other types, to be left alone.
    std::vector<std::uint32_t> untouchedSites;
};

struct StandardOptions {
    bool pe64 = true;
    bool entry = true; // entry point that forwards to entryHook (PE32+ only)
    bool lookupTable = false;
    std::vector<petest::ImportLibrary> extraImports;
};

// A complete image: .text (entry stub), .data (pointer sites), .idata, .edata ("alpha", "beta",
// "gamma" exported at code RVAs), .reloc (discardable).
StandardImage makeStandardImage(const StandardOptions& options);

// File offset of an RVA inside a section's raw data of the image file `file`; 0 if none holds it.
std::size_t rvaToFileOffset(const petest::Bytes& file, std::uint32_t rva);
// Data directory `index` of the image file `file`.
pe::DataDirectory fileDirectory(const petest::Bytes& file, unsigned index);
// RVAs of the pointer-sized relocation entries (DIR64 or HIGHLOW) of the image file `file`.
std::vector<std::uint32_t> relocationSites(const petest::Bytes& file);

// Copies `bytes` to an exactly sized heap block so that reads past the end are caught.
struct ExactCopy {
    explicit ExactCopy(const petest::Bytes& b);
    ~ExactCopy();
    ExactCopy(const ExactCopy&) = delete;
    ExactCopy& operator=(const ExactCopy&) = delete;
    std::uint8_t* data;
    std::size_t size;
};

} // namespace loadertest
