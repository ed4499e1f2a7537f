// The parts of the PE/COFF image format that the module loader reads, written from the published
// format description. Field names follow that description. All values are little-endian and the
// structures carry their natural layout; headers in memory may sit at any address, so they are read
// and written with memcpy.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pe {

inline constexpr std::uint16_t kDosMagic = 0x5A4D;     // "MZ"
inline constexpr std::uint32_t kLfanewOffset = 0x3C;   // file offset of the PE header's offset
inline constexpr std::uint32_t kPeSignature = 0x4550;  // "PE\0\0"
inline constexpr std::uint16_t kMagicPe32 = 0x10B;     // optional header of a 32-bit image
inline constexpr std::uint16_t kMagicPe32Plus = 0x20B; // optional header of a 64-bit image
inline constexpr std::uint16_t kMachineI386 = 0x014C;
inline constexpr std::uint16_t kMachineAmd64 = 0x8664;

struct FileHeader {
    std::uint16_t Machine;
    std::uint16_t NumberOfSections;
    std::uint32_t TimeDateStamp;
    std::uint32_t PointerToSymbolTable;
    std::uint32_t NumberOfSymbols;
    std::uint16_t SizeOfOptionalHeader;
    std::uint16_t Characteristics;
};
static_assert(sizeof(FileHeader) == 20);

struct DataDirectory {
    std::uint32_t VirtualAddress;
    std::uint32_t Size;
};

inline constexpr unsigned kDirectoryExport = 0;
inline constexpr unsigned kDirectoryImport = 1;
inline constexpr unsigned kDirectoryBaseReloc = 5;
inline constexpr unsigned kMaxDirectories = 16;

struct OptionalHeader32 {
    std::uint16_t Magic;
    std::uint8_t MajorLinkerVersion;
    std::uint8_t MinorLinkerVersion;
    std::uint32_t SizeOfCode;
    std::uint32_t SizeOfInitializedData;
    std::uint32_t SizeOfUninitializedData;
    std::uint32_t AddressOfEntryPoint;
    std::uint32_t BaseOfCode;
    std::uint32_t BaseOfData;
    std::uint32_t ImageBase;
    std::uint32_t SectionAlignment;
    std::uint32_t FileAlignment;
    std::uint16_t MajorOperatingSystemVersion;
    std::uint16_t MinorOperatingSystemVersion;
    std::uint16_t MajorImageVersion;
    std::uint16_t MinorImageVersion;
    std::uint16_t MajorSubsystemVersion;
    std::uint16_t MinorSubsystemVersion;
    std::uint32_t Win32VersionValue;
    std::uint32_t SizeOfImage;
    std::uint32_t SizeOfHeaders;
    std::uint32_t CheckSum;
    std::uint16_t Subsystem;
    std::uint16_t DllCharacteristics;
    std::uint32_t SizeOfStackReserve;
    std::uint32_t SizeOfStackCommit;
    std::uint32_t SizeOfHeapReserve;
    std::uint32_t SizeOfHeapCommit;
    std::uint32_t LoaderFlags;
    std::uint32_t NumberOfRvaAndSizes;
    DataDirectory Directories[kMaxDirectories];
};
static_assert(sizeof(OptionalHeader32) == 224);
static_assert(offsetof(OptionalHeader32, Directories) == 96);

struct OptionalHeader64 {
    std::uint16_t Magic;
    std::uint8_t MajorLinkerVersion;
    std::uint8_t MinorLinkerVersion;
    std::uint32_t SizeOfCode;
    std::uint32_t SizeOfInitializedData;
    std::uint32_t SizeOfUninitializedData;
    std::uint32_t AddressOfEntryPoint;
    std::uint32_t BaseOfCode;
    std::uint64_t ImageBase;
    std::uint32_t SectionAlignment;
    std::uint32_t FileAlignment;
    std::uint16_t MajorOperatingSystemVersion;
    std::uint16_t MinorOperatingSystemVersion;
    std::uint16_t MajorImageVersion;
    std::uint16_t MinorImageVersion;
    std::uint16_t MajorSubsystemVersion;
    std::uint16_t MinorSubsystemVersion;
    std::uint32_t Win32VersionValue;
    std::uint32_t SizeOfImage;
    std::uint32_t SizeOfHeaders;
    std::uint32_t CheckSum;
    std::uint16_t Subsystem;
    std::uint16_t DllCharacteristics;
    std::uint64_t SizeOfStackReserve;
    std::uint64_t SizeOfStackCommit;
    std::uint64_t SizeOfHeapReserve;
    std::uint64_t SizeOfHeapCommit;
    std::uint32_t LoaderFlags;
    std::uint32_t NumberOfRvaAndSizes;
    DataDirectory Directories[kMaxDirectories];
};
static_assert(sizeof(OptionalHeader64) == 240);
static_assert(offsetof(OptionalHeader64, Directories) == 112);

// Fields that sit at the same offset in both optional header kinds.
static_assert(offsetof(OptionalHeader32, SizeOfInitializedData) ==
              offsetof(OptionalHeader64, SizeOfInitializedData));
static_assert(offsetof(OptionalHeader32, SizeOfUninitializedData) ==
              offsetof(OptionalHeader64, SizeOfUninitializedData));
static_assert(offsetof(OptionalHeader32, AddressOfEntryPoint) ==
              offsetof(OptionalHeader64, AddressOfEntryPoint));
static_assert(offsetof(OptionalHeader32, SectionAlignment) ==
              offsetof(OptionalHeader64, SectionAlignment));
static_assert(offsetof(OptionalHeader32, SizeOfImage) == offsetof(OptionalHeader64, SizeOfImage));
static_assert(offsetof(OptionalHeader32, SizeOfHeaders) ==
              offsetof(OptionalHeader64, SizeOfHeaders));

struct SectionHeader {
    std::uint8_t Name[8];
    std::uint32_t VirtualSize;
    std::uint32_t VirtualAddress;
    std::uint32_t SizeOfRawData;
    std::uint32_t PointerToRawData;
    std::uint32_t PointerToRelocations;
    std::uint32_t PointerToLinenumbers;
    std::uint16_t NumberOfRelocations;
    std::uint16_t NumberOfLinenumbers;
    std::uint32_t Characteristics;
};
static_assert(sizeof(SectionHeader) == 40);

inline constexpr std::uint32_t kScnCntInitializedData = 0x00000040;
inline constexpr std::uint32_t kScnCntUninitializedData = 0x00000080;
inline constexpr std::uint32_t kScnMemDiscardable = 0x02000000;
inline constexpr std::uint32_t kScnMemNotCached = 0x04000000;
inline constexpr std::uint32_t kScnMemExecute = 0x20000000;
inline constexpr std::uint32_t kScnMemRead = 0x40000000;
inline constexpr std::uint32_t kScnMemWrite = 0x80000000;

struct ImportDescriptor {
    std::uint32_t OriginalFirstThunk; // import lookup table RVA
    std::uint32_t TimeDateStamp;
    std::uint32_t ForwarderChain;
    std::uint32_t Name;
    std::uint32_t FirstThunk; // import address table RVA
};
static_assert(sizeof(ImportDescriptor) == 20);

inline constexpr std::uint32_t kOrdinalFlag32 = 0x80000000u;
inline constexpr std::uint64_t kOrdinalFlag64 = 0x8000000000000000ull;

struct ExportDirectory {
    std::uint32_t Characteristics;
    std::uint32_t TimeDateStamp;
    std::uint16_t MajorVersion;
    std::uint16_t MinorVersion;
    std::uint32_t Name;
    std::uint32_t Base;
    std::uint32_t NumberOfFunctions;
    std::uint32_t NumberOfNames;
    std::uint32_t AddressOfFunctions;
    std::uint32_t AddressOfNames;
    std::uint32_t AddressOfNameOrdinals;
};
static_assert(sizeof(ExportDirectory) == 40);

struct BaseRelocationBlock {
    std::uint32_t VirtualAddress; // page RVA
    std::uint32_t SizeOfBlock;    // including this header
};
static_assert(sizeof(BaseRelocationBlock) == 8);

inline constexpr unsigned kRelBasedAbsolute = 0;
inline constexpr unsigned kRelBasedHighLow = 3;
inline constexpr unsigned kRelBasedDir64 = 10;

inline constexpr std::uint32_t kDllProcessDetach = 0;
inline constexpr std::uint32_t kDllProcessAttach = 1;

} // namespace pe
