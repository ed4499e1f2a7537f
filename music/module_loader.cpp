#include "module_loader.h"

#include <cstdlib>
#include <cstring>

#include "pe_format.h"

using namespace winsvc;

namespace {

template <class T> T get(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T> void put(std::uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// True when [offset, offset + size) lies inside [0, limit).
bool fits(std::uint64_t offset, std::uint64_t size, std::uint64_t limit) {
    return offset <= limit && size <= limit - offset;
}

// Where the headers of an image sit, checked against a byte limit.
struct HeaderLayout {
    bool pe64 = false;
    std::uint16_t machine = 0;
    std::uint32_t optional = 0;     // offset of the optional header
    std::uint32_t sectionTable = 0; // offset of the first section table entry
    std::uint16_t sectionCount = 0;
    std::uint32_t directoryCount = 0; // data directories present in the optional header
};

// Reads the header layout from `bytes`, whose PE signature is at `lfanew`; every part must end
// at or before `limit`. With `probe`, every part must also be readable (once the sections are
// protected, a section laid over the headers may have taken that away).
bool readLayout(const std::uint8_t* bytes, std::uint64_t limit, std::uint32_t lfanew,
                HeaderLayout& out, bool probe = false) {
    if (!fits(lfanew, 4 + sizeof(pe::FileHeader), limit)) return false;
    if (probe && IsBadReadPtr(bytes + lfanew, 4 + sizeof(pe::FileHeader))) return false;
    if (get<std::uint32_t>(bytes + lfanew) != pe::kPeSignature) return false;
    auto fh = get<pe::FileHeader>(bytes + lfanew + 4);
    std::uint64_t optional = std::uint64_t(lfanew) + 4 + sizeof(pe::FileHeader);
    if (!fits(optional, fh.SizeOfOptionalHeader, limit) || fh.SizeOfOptionalHeader < 2)
        return false;
    if (probe && IsBadReadPtr(bytes + optional, fh.SizeOfOptionalHeader)) return false;
    std::uint16_t magic = get<std::uint16_t>(bytes + optional);
    std::uint32_t fixedPart, countOffset;
    if (magic == pe::kMagicPe32) {
        fixedPart = offsetof(pe::OptionalHeader32, Directories);
        countOffset = offsetof(pe::OptionalHeader32, NumberOfRvaAndSizes);
    } else if (magic == pe::kMagicPe32Plus) {
        fixedPart = offsetof(pe::OptionalHeader64, Directories);
        countOffset = offsetof(pe::OptionalHeader64, NumberOfRvaAndSizes);
    } else {
        return false;
    }
    if (fh.SizeOfOptionalHeader < fixedPart) return false;
    std::uint32_t count = get<std::uint32_t>(bytes + optional + countOffset);
    std::uint32_t room = (fh.SizeOfOptionalHeader - fixedPart) / sizeof(pe::DataDirectory);
    if (count > room) count = room;
    if (count > pe::kMaxDirectories) count = pe::kMaxDirectories;
    std::uint64_t table = optional + fh.SizeOfOptionalHeader;
    const std::uint64_t tableSize = std::uint64_t(fh.NumberOfSections) * sizeof(pe::SectionHeader);
    if (!fits(table, tableSize, limit)) return false;
    if (probe && tableSize != 0 && IsBadReadPtr(bytes + table, tableSize)) return false;
    out.pe64 = magic == pe::kMagicPe32Plus;
    out.machine = fh.Machine;
    out.optional = static_cast<std::uint32_t>(optional);
    out.sectionTable = static_cast<std::uint32_t>(table);
    out.sectionCount = fh.NumberOfSections;
    out.directoryCount = count;
    return true;
}

// Layout of a mapped image's own headers, checked against its mapped range.
bool mappedLayout(const ModuleHandle* m, HeaderLayout& out, bool probe = false) {
    auto lfanew = static_cast<std::uint32_t>(m->peHeaders - m->mappedBase);
    return readLayout(m->mappedBase, m->mappedSize, lfanew, out, probe);
}

pe::DataDirectory directory(const ModuleHandle* m, const HeaderLayout& l, unsigned index) {
    if (index >= l.directoryCount) return {0, 0};
    std::uint32_t first = l.pe64 ? offsetof(pe::OptionalHeader64, Directories)
                                 : offsetof(pe::OptionalHeader32, Directories);
    return get<pe::DataDirectory>(m->mappedBase + l.optional + first +
                                  index * sizeof(pe::DataDirectory));
}

std::uint32_t optionalField(const ModuleHandle* m, const HeaderLayout& l, std::size_t offset) {
    return get<std::uint32_t>(m->mappedBase + l.optional + offset);
}

std::uint8_t* sectionEntry(const ModuleHandle* m, const HeaderLayout& l, unsigned i) {
    return m->mappedBase + l.sectionTable + i * sizeof(pe::SectionHeader);
}

// True when a NUL-terminated string starts at `rva` and ends inside the mapped range.
bool stringFits(const ModuleHandle* m, std::uint64_t rva) {
    if (rva >= m->mappedSize) return false;
    return std::memchr(m->mappedBase + rva, 0, m->mappedSize - rva) != nullptr;
}

bool runnableHere(const HeaderLayout& l) {
#if defined(__x86_64__) || defined(_M_X64)
    return l.pe64 && l.machine == pe::kMachineAmd64;
#elif defined(__i386__) || defined(_M_IX86)
    return !l.pe64 && l.machine == pe::kMachineI386;
#else
    (void)l;
    return false;
#endif
}

using EntryPoint = BOOL(INTRO_WINAPI*)(void* instance, DWORD reason, void* reserved);

BOOL callEntry(const ModuleHandle* m, std::uint32_t entryRva, DWORD reason) {
    auto entry = reinterpret_cast<EntryPoint>(m->mappedBase + entryRva);
    return entry(m->mappedBase, reason, nullptr);
}

// Lays the sections out: raw data copied to base + VirtualAddress, sections without raw data given
// SectionAlignment bytes of zeros. Each entry's VirtualSize field then records the low 32 bits of
// the section's address (the whole address for images below 4 GiB).
bool mapSections(ModuleHandle* m, const HeaderLayout& l, const std::uint8_t* image,
                 std::size_t length, std::uint32_t sectionAlignment) {
    for (unsigned i = 0; i < l.sectionCount; ++i) {
        std::uint8_t* entry = sectionEntry(m, l, i);
        auto s = get<pe::SectionHeader>(entry);
        std::uint8_t* dest;
        if (s.SizeOfRawData != 0) {
            if (!fits(s.PointerToRawData, s.SizeOfRawData, length) ||
                !fits(s.VirtualAddress, s.SizeOfRawData, m->mappedSize))
                return false;
            dest = m->mappedBase + s.VirtualAddress;
            VirtualAlloc(dest, s.SizeOfRawData, MEM_COMMIT, PAGE_READWRITE);
            std::memcpy(dest, image + s.PointerToRawData, s.SizeOfRawData);
        } else if (static_cast<std::int32_t>(sectionAlignment) > 0) {
            if (!fits(s.VirtualAddress, sectionAlignment, m->mappedSize)) return false;
            dest = m->mappedBase + s.VirtualAddress;
            VirtualAlloc(dest, sectionAlignment, MEM_COMMIT, PAGE_READWRITE);
            std::memset(dest, 0, sectionAlignment);
        } else {
            continue;
        }
        put<std::uint32_t>(entry + offsetof(pe::SectionHeader, VirtualSize),
                           static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(dest)));
    }
    return true;
}

// Applies the base relocations for a move by `delta`: HIGHLOW entries in 32-bit images, DIR64
// entries in 64-bit ones; every other type is skipped. The walk ends at a block whose page RVA is
// 0 or at the end of the directory. Blocks shorter than their header, blocks running past the
// directory and targets outside the image refuse the image.
bool rebaseImage(ModuleHandle* m, const HeaderLayout& l, std::uint64_t delta) {
    pe::DataDirectory dir = directory(m, l, pe::kDirectoryBaseReloc);
    if (dir.Size == 0) return true;
    if (!fits(dir.VirtualAddress, dir.Size, m->mappedSize)) return false;
    std::uint64_t pos = dir.VirtualAddress;
    const std::uint64_t end = pos + dir.Size;
    while (end - pos >= sizeof(pe::BaseRelocationBlock)) {
        auto block = get<pe::BaseRelocationBlock>(m->mappedBase + pos);
        if (block.VirtualAddress == 0) break;
        if (block.SizeOfBlock < sizeof(pe::BaseRelocationBlock) || block.SizeOfBlock > end - pos)
            return false;
        std::uint32_t count = (block.SizeOfBlock - sizeof(pe::BaseRelocationBlock)) / 2;
        const std::uint8_t* entries = m->mappedBase + pos + sizeof(pe::BaseRelocationBlock);
        for (std::uint32_t k = 0; k < count; ++k) {
            auto e = get<std::uint16_t>(entries + 2 * k);
            unsigned type = e >> 12;
            std::uint64_t target = std::uint64_t(block.VirtualAddress) + (e & 0xFFF);
            if (type == pe::kRelBasedHighLow && !l.pe64) {
                if (!fits(target, 4, m->mappedSize)) return false;
                std::uint8_t* at = m->mappedBase + target;
                put<std::uint32_t>(at, get<std::uint32_t>(at) + static_cast<std::uint32_t>(delta));
            } else if (type == pe::kRelBasedDir64 && l.pe64) {
                if (!fits(target, 8, m->mappedSize)) return false;
                std::uint8_t* at = m->mappedBase + target;
                put<std::uint64_t>(at, get<std::uint64_t>(at) + delta);
            }
        }
        pos += block.SizeOfBlock;
    }
    return true;
}

// Resolves one import slot value against `library`; null when it cannot be resolved.
FARPROC resolveSlot(const ModuleHandle* m, const HeaderLayout& l, HMODULE library,
                    std::uint64_t value) {
    bool byOrdinal = l.pe64 ? (value & pe::kOrdinalFlag64) != 0 : (value & pe::kOrdinalFlag32) != 0;
    if (byOrdinal) {
        auto ordinal = static_cast<std::uintptr_t>(value & 0xFFFF);
        if (ordinal == 0) return nullptr;
        return GetProcAddress(library, reinterpret_cast<const char*>(ordinal));
    }
    // The slot holds the RVA of a 16-bit hint followed by the name; the hint is not used.
    if (!fits(value, 2, m->mappedSize) || !stringFits(m, value + 2)) return nullptr;
    return GetProcAddress(library, reinterpret_cast<const char*>(m->mappedBase + value + 2));
}

// Loads each imported library and fills its import address table. Libraries loaded before a
// failure stay recorded for freeModule.
bool bindImports(ModuleHandle* m, const HeaderLayout& l) {
    pe::DataDirectory dir = directory(m, l, pe::kDirectoryImport);
    if (dir.Size == 0) return true;
    if (!fits(dir.VirtualAddress, dir.Size, m->mappedSize)) return false;
    const std::uint32_t slotSize = l.pe64 ? 8 : 4;
    for (std::uint64_t pos = dir.VirtualAddress;; pos += sizeof(pe::ImportDescriptor)) {
        if (!fits(pos, sizeof(pe::ImportDescriptor), m->mappedSize)) return false; // no terminator
        if (IsBadReadPtr(m->mappedBase + pos, sizeof(pe::ImportDescriptor))) return true;
        auto d = get<pe::ImportDescriptor>(m->mappedBase + pos);
        if (d.Name == 0) return true;
        if (!stringFits(m, d.Name)) return false;
        HMODULE library = LoadLibraryA(reinterpret_cast<const char*>(m->mappedBase + d.Name));
        if (library == nullptr) return false;
        auto* grown = static_cast<HMODULE*>(
            std::realloc(m->libraryHandles, (std::size_t(m->libraryCount) + 1) * sizeof(HMODULE)));
        if (grown == nullptr) { // the new reference is not recorded anywhere: drop it now
            FreeLibrary(library);
            return false;
        }
        m->libraryHandles = grown;
        m->libraryHandles[m->libraryCount++] = library;

        std::uint64_t readTable = d.OriginalFirstThunk != 0 ? d.OriginalFirstThunk : d.FirstThunk;
        std::uint64_t writeTable = d.FirstThunk;
        for (std::uint64_t i = 0;; ++i) {
            std::uint64_t r = readTable + i * slotSize, w = writeTable + i * slotSize;
            if (!fits(r, slotSize, m->mappedSize) || !fits(w, slotSize, m->mappedSize))
                return false;
            std::uint64_t value = l.pe64 ? get<std::uint64_t>(m->mappedBase + r)
                                         : get<std::uint32_t>(m->mappedBase + r);
            if (value == 0) break;
            FARPROC f = resolveSlot(m, l, library, value);
            if (f == nullptr) return false;
            auto address = reinterpret_cast<std::uintptr_t>(f);
            if (l.pe64) {
                put<std::uint64_t>(m->mappedBase + w, address);
            } else {
                if (address > 0xFFFFFFFFu) return false; // cannot be reached from 32-bit code
                put<std::uint32_t>(m->mappedBase + w, static_cast<std::uint32_t>(address));
            }
        }
    }
}

constexpr DWORD kProtection[8] = {
    PAGE_NOACCESS, PAGE_WRITECOPY,         PAGE_READONLY,     PAGE_READWRITE,
    PAGE_EXECUTE,  PAGE_EXECUTE_WRITECOPY, PAGE_EXECUTE_READ, PAGE_EXECUTE_READWRITE,
};

// Decommits discardable sections and gives every other section the protection that its
// characteristics ask for. A recorded address outside the image is passed over, as a failed
// protection change would be; sizes are clipped to the image. The section table and the two data
// sizes are read before any change, since a section may lie over the headers.
bool protectSections(ModuleHandle* m, const HeaderLayout& l) {
    const auto base32 = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(m->mappedBase));
    const std::uint32_t initializedSize =
        optionalField(m, l, offsetof(pe::OptionalHeader32, SizeOfInitializedData));
    const std::uint32_t uninitializedSize =
        optionalField(m, l, offsetof(pe::OptionalHeader32, SizeOfUninitializedData));
    const std::size_t tableSize = std::size_t(l.sectionCount) * sizeof(pe::SectionHeader);
    auto* table = static_cast<std::uint8_t*>(HeapAlloc(GetProcessHeap(), 0, tableSize));
    if (table == nullptr) return false;
    if (tableSize != 0) std::memcpy(table, sectionEntry(m, l, 0), tableSize);
    for (unsigned i = 0; i < l.sectionCount; ++i) {
        auto s = get<pe::SectionHeader>(table + i * sizeof(pe::SectionHeader));
        std::uint32_t rva = s.VirtualSize - base32; // the recorded address, back to an offset
        if (rva >= m->mappedSize) continue;
        std::uint32_t room = m->mappedSize - rva;
        std::uint8_t* at = m->mappedBase + rva;
        if (s.Characteristics & pe::kScnMemDiscardable) {
            if (s.SizeOfRawData != 0)
                VirtualFree(at, s.SizeOfRawData < room ? s.SizeOfRawData : room, MEM_DECOMMIT);
            continue;
        }
        unsigned index = ((s.Characteristics & pe::kScnMemExecute) ? 4 : 0) |
                         ((s.Characteristics & pe::kScnMemRead) ? 2 : 0) |
                         ((s.Characteristics & pe::kScnMemWrite) ? 1 : 0);
        DWORD protection = kProtection[index];
        if (s.Characteristics & pe::kScnMemNotCached) protection |= PAGE_NOCACHE;
        std::uint32_t size = s.SizeOfRawData;
        if (size == 0) {
            if (s.Characteristics & pe::kScnCntInitializedData)
                size = initializedSize;
            else if (s.Characteristics & pe::kScnCntUninitializedData)
                size = uninitializedSize;
        }
        if (size > room) size = room;
        if (size != 0) {
            DWORD previous;
            VirtualProtect(at, size, protection, &previous);
        }
    }
    HeapFree(GetProcessHeap(), 0, table);
    return true;
}

} // namespace

ModuleHandle* loadModuleFromMemory(const void* image, std::size_t length, LoadMode mode) {
    const auto* src = static_cast<const std::uint8_t*>(image);
    if (src == nullptr || length < pe::kLfanewOffset + 4) return nullptr;
    if (get<std::uint16_t>(src) != pe::kDosMagic) return nullptr;
    const auto lfanew = get<std::uint32_t>(src + pe::kLfanewOffset);
    if (!fits(lfanew, 4, length) || get<std::uint32_t>(src + lfanew) != pe::kPeSignature)
        return nullptr;

    // From the source headers: the optional header's kind (to find ImageBase), ImageBase,
    // SizeOfImage, SizeOfHeaders and SectionAlignment.
    const std::uint64_t opt = std::uint64_t(lfanew) + 4 + sizeof(pe::FileHeader);
    if (!fits(opt, 2, length)) return nullptr;
    const auto magic = get<std::uint16_t>(src + opt);
    const bool pe64 = magic == pe::kMagicPe32Plus;
    if (!pe64 && magic != pe::kMagicPe32) return nullptr;
    if (!fits(opt,
              pe64 ? sizeof(pe::OptionalHeader64) - sizeof(pe::OptionalHeader64::Directories)
                   : sizeof(pe::OptionalHeader32) - sizeof(pe::OptionalHeader32::Directories),
              length))
        return nullptr;
    const std::uint64_t imageBase =
        pe64 ? get<std::uint64_t>(src + opt + offsetof(pe::OptionalHeader64, ImageBase))
             : get<std::uint32_t>(src + opt + offsetof(pe::OptionalHeader32, ImageBase));
    const auto sectionAlignment =
        get<std::uint32_t>(src + opt + offsetof(pe::OptionalHeader32, SectionAlignment));
    const auto sizeOfImage =
        get<std::uint32_t>(src + opt + offsetof(pe::OptionalHeader32, SizeOfImage));
    const auto sizeOfHeaders =
        get<std::uint32_t>(src + opt + offsetof(pe::OptionalHeader32, SizeOfHeaders));
    if (sizeOfImage == 0 || sizeOfHeaders == 0 || sizeOfHeaders > sizeOfImage ||
        sizeOfHeaders > length)
        return nullptr;

    // Reserve at ImageBase, else anywhere; a 32-bit image must stay below 4 GiB.
    const DWORD reserve = MEM_RESERVE | (pe64 ? 0 : MEM_BELOW_4GB);
    void* base = nullptr;
    if (imageBase != 0 && imageBase <= UINTPTR_MAX - sizeOfImage)
        base = VirtualAlloc(reinterpret_cast<void*>(static_cast<std::uintptr_t>(imageBase)),
                            sizeOfImage, reserve, PAGE_READWRITE);
    if (base == nullptr) base = VirtualAlloc(nullptr, sizeOfImage, reserve, PAGE_READWRITE);
    if (base == nullptr) return nullptr;

    auto* m = static_cast<ModuleHandle*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ModuleHandle)));
    if (m == nullptr) {
        VirtualFree(base, 0, MEM_RELEASE);
        return nullptr;
    }
    m->mappedBase = static_cast<std::uint8_t*>(base);
    m->mappedSize = sizeOfImage;

    VirtualAlloc(base, sizeOfImage, MEM_COMMIT, PAGE_READWRITE);
    VirtualAlloc(base, sizeOfHeaders, MEM_COMMIT, PAGE_READWRITE);
    std::memcpy(base, src, sizeOfHeaders);
    m->peHeaders = m->mappedBase + lfanew;

    // From here on the headers are read from the mapped copy. The whole PE header and section
    // table must lie inside the copied header bytes.
    HeaderLayout l;
    bool ok = readLayout(m->mappedBase, sizeOfHeaders, lfanew, l) && l.pe64 == pe64;
    if (ok && mode == LoadMode::run && !runnableHere(l)) ok = false;
    if (ok) {
        std::uint8_t* mappedImageBase = m->mappedBase + l.optional +
                                        (pe64 ? offsetof(pe::OptionalHeader64, ImageBase)
                                              : offsetof(pe::OptionalHeader32, ImageBase));
        auto actual = reinterpret_cast<std::uintptr_t>(base);
        if (pe64)
            put<std::uint64_t>(mappedImageBase, actual);
        else
            put<std::uint32_t>(mappedImageBase, static_cast<std::uint32_t>(actual));
        ok = mapSections(m, l, src, length, sectionAlignment);
    }
    // A section copied over the headers may have changed them: every later step reads the mapped
    // headers again, checked against the mapped range.
    if (ok) {
        std::uint64_t delta = reinterpret_cast<std::uintptr_t>(base) - imageBase;
        if (!pe64) delta &= 0xFFFFFFFFu;
        ok = mappedLayout(m, l) && (delta == 0 || rebaseImage(m, l, delta));
    }
    if (ok) ok = mappedLayout(m, l) && bindImports(m, l);
    std::uint32_t entry = 0;
    if (ok) {
        ok = mappedLayout(m, l);
        if (ok) entry = optionalField(m, l, offsetof(pe::OptionalHeader32, AddressOfEntryPoint));
        if (ok) ok = protectSections(m, l);
    }
    if (!ok) {
        freeModule(m);
        return nullptr;
    }
    if (mode == LoadMode::mapOnly || entry == 0) return m;
    if (entry >= m->mappedSize || !runnableHere(l)) {
        freeModule(m);
        return nullptr;
    }
    if (callEntry(m, entry, pe::kDllProcessAttach) == 0) {
        freeModule(m); // attached is still 0: no detach call
        return nullptr;
    }
    m->attached = 1;
    return m;
}

void* findModuleExport(const ModuleHandle* module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    HeaderLayout l;
    if (!mappedLayout(module, l, true)) return nullptr;
    const std::uint8_t* base = module->mappedBase;
    const std::uint32_t size = module->mappedSize;
    pe::DataDirectory dir = directory(module, l, pe::kDirectoryExport);
    if (dir.Size == 0) return nullptr;
    if (!fits(dir.VirtualAddress, sizeof(pe::ExportDirectory), size) ||
        IsBadReadPtr(base + dir.VirtualAddress, sizeof(pe::ExportDirectory)))
        return nullptr;
    auto ed = get<pe::ExportDirectory>(base + dir.VirtualAddress);
    if (ed.NumberOfNames == 0 || ed.NumberOfFunctions == 0) return nullptr;
    const std::uint64_t namesSize = std::uint64_t(ed.NumberOfNames) * 4;
    const std::uint64_t ordinalsSize = std::uint64_t(ed.NumberOfNames) * 2;
    const std::uint64_t functionsSize = std::uint64_t(ed.NumberOfFunctions) * 4;
    if (!fits(ed.AddressOfNames, namesSize, size) ||
        !fits(ed.AddressOfNameOrdinals, ordinalsSize, size) ||
        !fits(ed.AddressOfFunctions, functionsSize, size) ||
        IsBadReadPtr(base + ed.AddressOfNames, namesSize) ||
        IsBadReadPtr(base + ed.AddressOfNameOrdinals, ordinalsSize) ||
        IsBadReadPtr(base + ed.AddressOfFunctions, functionsSize))
        return nullptr;

    const std::size_t wanted = std::strlen(name) + 1; // the comparison reads at most this much
    for (std::uint32_t i = 0; i < ed.NumberOfNames; ++i) {
        auto nameRva = get<std::uint32_t>(base + ed.AddressOfNames + 4 * std::uint64_t(i));
        if (nameRva >= size) return nullptr;
        std::size_t span = size - nameRva < wanted ? size - nameRva : wanted;
        if (IsBadReadPtr(base + nameRva, span)) return nullptr;
        const auto* exported = reinterpret_cast<const char*>(base + nameRva);
        std::size_t k = 0;
        while (k < span && exported[k] == name[k] && name[k] != '\0') ++k;
        if (k == span || exported[k] != name[k]) continue; // differs, or runs past the image
        auto index = get<std::uint16_t>(base + ed.AddressOfNameOrdinals + 2 * std::uint64_t(i));
        if (index >= ed.NumberOfFunctions) return nullptr;
        auto rva = get<std::uint32_t>(base + ed.AddressOfFunctions + 4 * std::uint64_t(index));
        if (rva == 0 || rva >= size) return nullptr;
        return const_cast<std::uint8_t*>(base) + rva;
    }
    return nullptr;
}

void freeModule(ModuleHandle* module) {
    if (module == nullptr) return;
    if (module->attached) {
        HeaderLayout l;
        if (mappedLayout(module, l, true)) {
            std::uint32_t entry =
                optionalField(module, l, offsetof(pe::OptionalHeader32, AddressOfEntryPoint));
            if (entry != 0 && entry < module->mappedSize)
                callEntry(module, entry, pe::kDllProcessDetach);
        }
        module->attached = 0;
    }
    if (module->libraryHandles != nullptr) {
        for (std::int32_t i = 0; i < module->libraryCount; ++i)
            FreeLibrary(module->libraryHandles[i]);
        std::free(module->libraryHandles);
    }
    if (module->mappedBase != nullptr) VirtualFree(module->mappedBase, 0, MEM_RELEASE);
    HeapFree(GetProcessHeap(), 0, module);
}
