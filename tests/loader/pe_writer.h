// A small writer of PE32 and PE32+ images for the loader tests, plus builders for the tables that
// go into sections (imports, exports, base relocations). Sections are laid out one after another
// at SectionAlignment steps, so that a table can be built for the RVA that nextRva() reports
// before its section is added.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "pe_format.h"

namespace petest {

using Bytes = std::vector<std::uint8_t>;

template <class T> void putAt(Bytes& b, std::size_t offset, T value) {
    if (b.size() < offset + sizeof(T)) b.resize(offset + sizeof(T));
    std::memcpy(b.data() + offset, &value, sizeof(T));
}

template <class T> T getAt(const Bytes& b, std::size_t offset) {
    T v{};
    std::memcpy(&v, b.data() + offset, sizeof(T));
    return v;
}

inline std::uint32_t alignUp(std::uint32_t v, std::uint32_t a) {
    return (v + a - 1) / a * a;
}

struct SectionSpec {
    std::string name;
    std::uint32_t characteristics = 0;
    Bytes data; // raw data; empty gives SizeOfRawData 0
    std::uint32_t virtualSize = 0;
    std::uint32_t rva = 0;        // assigned by addSection
    std::uint32_t fileOffset = 0; // assigned by build
};

class PeWriter {
  public:
    static constexpr std::uint32_t kLfanew = 0x40;
    static constexpr std::uint32_t kFileHeader = kLfanew + 4;
    static constexpr std::uint32_t kOptional = kFileHeader + sizeof(pe::FileHeader);

    explicit PeWriter(bool pe64) : pe64_(pe64) {
        machine = pe64 ? pe::kMachineAmd64 : pe::kMachineI386;
        imageBase = pe64 ? 0x20000000u : 0x30000000u;
    }

    bool pe64() const { return pe64_; }
    std::uint32_t optionalSize() const {
        return pe64_ ? sizeof(pe::OptionalHeader64) : sizeof(pe::OptionalHeader32);
    }
    std::uint32_t sectionTableOffset() const { return kOptional + optionalSize(); }
    std::uint32_t sectionEntryOffset(unsigned i) const {
        return sectionTableOffset() + i * sizeof(pe::SectionHeader);
    }
    std::uint32_t nextRva() const {
        std::uint32_t rva = alignUp(headerSize(), sectionAlignment);
        for (const auto& s : sections) {
            std::uint32_t span = std::max<std::uint32_t>(
                std::max<std::uint32_t>(s.virtualSize, static_cast<std::uint32_t>(s.data.size())),
                1);
            rva = std::max(rva, alignUp(s.rva + span, sectionAlignment));
        }
        return rva;
    }

    std::uint32_t addSection(const std::string& name, std::uint32_t characteristics, Bytes data,
                             std::uint32_t virtualSize = 0) {
        SectionSpec s;
        s.name = name;
        s.characteristics = characteristics;
        s.data = std::move(data);
        s.virtualSize = virtualSize != 0 ? virtualSize : static_cast<std::uint32_t>(s.data.size());
        s.rva = nextRva();
        sections.push_back(std::move(s));
        return sections.back().rva;
    }

    void setDirectory(unsigned index, std::uint32_t rva, std::uint32_t size) {
        directories[index] = {rva, size};
    }

    std::uint32_t headerSize() const {
        return alignUp(sectionTableOffset() +
                           static_cast<std::uint32_t>(sections.size()) * sizeof(pe::SectionHeader),
                       fileAlignment);
    }

    Bytes build() {
        Bytes out(headerSize(), 0);
        putAt<std::uint16_t>(out, 0, pe::kDosMagic);
        putAt<std::uint32_t>(out, pe::kLfanewOffset, kLfanew);
        putAt<std::uint32_t>(out, kLfanew, pe::kPeSignature);

        std::uint32_t fileOffset = headerSize();
        std::uint32_t imageEnd = alignUp(headerSize(), sectionAlignment);
        for (auto& s : sections) {
            s.fileOffset = s.data.empty() ? 0 : fileOffset;
            fileOffset += alignUp(static_cast<std::uint32_t>(s.data.size()), fileAlignment);
            std::uint32_t span = std::max<std::uint32_t>(
                std::max<std::uint32_t>(s.virtualSize, static_cast<std::uint32_t>(s.data.size())),
                1);
            imageEnd = std::max(imageEnd, alignUp(s.rva + span, sectionAlignment));
        }
        if (sizeOfImage == 0) sizeOfImage = imageEnd;

        pe::FileHeader fh{};
        fh.Machine = machine;
        fh.NumberOfSections = static_cast<std::uint16_t>(sections.size());
        fh.SizeOfOptionalHeader = static_cast<std::uint16_t>(optionalSize());
        fh.Characteristics = 0x2102; // executable, 32-bit words, DLL
        putAt(out, kFileHeader, fh);

        if (pe64_) {
            pe::OptionalHeader64 oh{};
            oh.Magic = pe::kMagicPe32Plus;
            fillCommon(oh);
            oh.ImageBase = imageBase;
            std::memcpy(oh.Directories, directories, sizeof directories);
            putAt(out, kOptional, oh);
        } else {
            pe::OptionalHeader32 oh{};
            oh.Magic = pe::kMagicPe32;
            fillCommon(oh);
            oh.ImageBase = static_cast<std::uint32_t>(imageBase);
            std::memcpy(oh.Directories, directories, sizeof directories);
            putAt(out, kOptional, oh);
        }

        for (std::size_t i = 0; i < sections.size(); ++i) {
            const auto& s = sections[i];
            pe::SectionHeader sh{};
            std::memcpy(sh.Name, s.name.data(), std::min<std::size_t>(s.name.size(), 8));
            sh.VirtualSize = s.virtualSize;
            sh.VirtualAddress = s.rva;
            sh.SizeOfRawData = static_cast<std::uint32_t>(s.data.size());
            sh.PointerToRawData = s.fileOffset;
            sh.Characteristics = s.characteristics;
            putAt(out, sectionEntryOffset(static_cast<unsigned>(i)), sh);
            if (!s.data.empty()) {
                if (out.size() < s.fileOffset + s.data.size())
                    out.resize(alignUp(s.fileOffset + static_cast<std::uint32_t>(s.data.size()),
                                       fileAlignment));
                std::memcpy(out.data() + s.fileOffset, s.data.data(), s.data.size());
            }
        }
        return out;
    }

    std::uint16_t machine;
    std::uint64_t imageBase;
    std::uint32_t sectionAlignment = 0x1000;
    std::uint32_t fileAlignment = 0x200;
    std::uint32_t entryRva = 0;
    std::uint32_t sizeOfImage = 0; // 0: computed
    std::uint32_t sizeOfInitializedData = 0;
    std::uint32_t sizeOfUninitializedData = 0;
    std::vector<SectionSpec> sections;
    pe::DataDirectory directories[pe::kMaxDirectories] = {};

  private:
    template <class OH> void fillCommon(OH& oh) const {
        oh.SizeOfInitializedData = sizeOfInitializedData;
        oh.SizeOfUninitializedData = sizeOfUninitializedData;
        oh.AddressOfEntryPoint = entryRva;
        oh.SectionAlignment = sectionAlignment;
        oh.FileAlignment = fileAlignment;
        oh.SizeOfImage = sizeOfImage;
        oh.SizeOfHeaders = headerSize();
        oh.Subsystem = 2;
        oh.NumberOfRvaAndSizes = pe::kMaxDirectories;
    }

    bool pe64_;
};

// --- tables --------------------------------------------------------------------------------

// One import: a function name or an ordinal.
using ImportItem = std::variant<std::string, std::uint16_t>;

struct ImportLibrary {
    std::string dll;
    std::vector<ImportItem> items;
    bool lookupTable = false; // false: OriginalFirstThunk 0, FirstThunk holds the names
};

struct ImportTable {
    Bytes bytes;
    std::uint32_t directorySize = 0;       // descriptors with the terminator
    std::vector<std::uint32_t> lookupRvas; // per library; 0 when it has none
    std::vector<std::uint32_t> addressRvas;
    std::vector<std::uint32_t> nameRvas; // per library, the RVA of its name
};

// Builds descriptors, lookup and address tables, hint/name entries and library names for a section
// that will be placed at `rva`.
inline ImportTable buildImports(std::uint32_t rva, bool pe64,
                                const std::vector<ImportLibrary>& libs) {
    ImportTable t;
    const std::uint32_t slot = pe64 ? 8 : 4;
    std::uint32_t pos =
        static_cast<std::uint32_t>((libs.size() + 1) * sizeof(pe::ImportDescriptor));
    t.directorySize = pos;
    // Tables first, names after.
    std::vector<std::uint32_t> lookup(libs.size()), address(libs.size());
    for (std::size_t i = 0; i < libs.size(); ++i) {
        std::uint32_t tableBytes = static_cast<std::uint32_t>((libs[i].items.size() + 1) * slot);
        lookup[i] = libs[i].lookupTable ? pos : 0;
        if (libs[i].lookupTable) pos += tableBytes;
        address[i] = pos;
        pos += tableBytes;
    }
    t.bytes.assign(pos, 0);
    for (std::size_t i = 0; i < libs.size(); ++i) {
        std::uint32_t nameAt = static_cast<std::uint32_t>(t.bytes.size());
        for (char c : libs[i].dll) t.bytes.push_back(static_cast<std::uint8_t>(c));
        t.bytes.push_back(0);
        pe::ImportDescriptor d{};
        d.OriginalFirstThunk = lookup[i] ? rva + lookup[i] : 0;
        d.Name = rva + nameAt;
        d.FirstThunk = rva + address[i];
        putAt(t.bytes, i * sizeof(pe::ImportDescriptor), d);
        t.lookupRvas.push_back(d.OriginalFirstThunk);
        t.addressRvas.push_back(d.FirstThunk);
        t.nameRvas.push_back(d.Name);
        for (std::size_t k = 0; k < libs[i].items.size(); ++k) {
            std::uint64_t value;
            if (const auto* name = std::get_if<std::string>(&libs[i].items[k])) {
                if (t.bytes.size() % 2) t.bytes.push_back(0);
                value = rva + static_cast<std::uint32_t>(t.bytes.size());
                t.bytes.push_back(0); // hint
                t.bytes.push_back(0);
                for (char c : *name) t.bytes.push_back(static_cast<std::uint8_t>(c));
                t.bytes.push_back(0);
            } else {
                std::uint16_t ordinal = std::get<std::uint16_t>(libs[i].items[k]);
                value = pe64 ? (pe::kOrdinalFlag64 | ordinal) : (pe::kOrdinalFlag32 | ordinal);
            }
            for (std::uint32_t table : {lookup[i], address[i]}) {
                if (table == 0) continue;
                if (pe64)
                    putAt<std::uint64_t>(t.bytes, table + k * slot, value);
                else
                    putAt<std::uint32_t>(t.bytes, table + k * slot,
                                         static_cast<std::uint32_t>(value));
            }
        }
    }
    return t;
}

struct ExportTable {
    Bytes bytes;
    std::uint32_t functionsRva = 0, namesRva = 0, ordinalsRva = 0;
};

// Builds an export directory for a section at `rva`: `names[i]` maps to function index
// `ordinals[i]`; `functions` holds the RVAs of the functions.
inline ExportTable buildExports(std::uint32_t rva, const std::vector<std::string>& names,
                                const std::vector<std::uint16_t>& ordinals,
                                const std::vector<std::uint32_t>& functions) {
    ExportTable t;
    std::uint32_t pos = sizeof(pe::ExportDirectory);
    std::uint32_t functionsAt = pos;
    pos += static_cast<std::uint32_t>(functions.size() * 4);
    std::uint32_t namesAt = pos;
    pos += static_cast<std::uint32_t>(names.size() * 4);
    std::uint32_t ordinalsAt = pos;
    pos += static_cast<std::uint32_t>(names.size() * 2);
    t.bytes.assign(pos, 0);
    pe::ExportDirectory ed{};
    ed.Base = 1;
    ed.NumberOfFunctions = static_cast<std::uint32_t>(functions.size());
    ed.NumberOfNames = static_cast<std::uint32_t>(names.size());
    ed.AddressOfFunctions = rva + functionsAt;
    ed.AddressOfNames = rva + namesAt;
    ed.AddressOfNameOrdinals = rva + ordinalsAt;
    putAt(t.bytes, 0, ed);
    for (std::size_t i = 0; i < functions.size(); ++i)
        putAt<std::uint32_t>(t.bytes, functionsAt + i * 4, functions[i]);
    for (std::size_t i = 0; i < names.size(); ++i) {
        putAt<std::uint32_t>(t.bytes, namesAt + i * 4,
                             rva + static_cast<std::uint32_t>(t.bytes.size()));
        for (char c : names[i]) t.bytes.push_back(static_cast<std::uint8_t>(c));
        t.bytes.push_back(0);
        putAt<std::uint16_t>(t.bytes, ordinalsAt + i * 2, ordinals[i]);
    }
    t.functionsRva = rva + functionsAt;
    t.namesRva = rva + namesAt;
    t.ordinalsRva = rva + ordinalsAt;
    return t;
}

struct RelocBlock {
    std::uint32_t pageRva;
    std::vector<std::uint16_t> entries; // type << 12 | offset
};

// Base relocation blocks, each padded to a multiple of 4 bytes with a type-0 entry.
inline Bytes buildRelocations(const std::vector<RelocBlock>& blocks) {
    Bytes out;
    for (const auto& b : blocks) {
        std::vector<std::uint16_t> e = b.entries;
        if (e.size() % 2) e.push_back(0);
        std::size_t at = out.size();
        putAt<std::uint32_t>(out, at, b.pageRva);
        putAt<std::uint32_t>(out, at + 4, static_cast<std::uint32_t>(8 + e.size() * 2));
        for (std::size_t i = 0; i < e.size(); ++i) putAt<std::uint16_t>(out, at + 8 + i * 2, e[i]);
    }
    return out;
}

} // namespace petest
