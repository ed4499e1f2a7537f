// In-memory module loader: maps a Windows DLL image held in memory into this process (reserve,
// lay out headers and sections, rebase, bind imports, protect, attach), finds its exports by name
// and tears a mapping down again.
//
// Both image kinds are handled: PE32 (i386) and PE32+ (x86-64). An image for another processor
// can be mapped, relocated and bound with LoadMode::mapOnly; its entry point is never called.
#pragma once

#include <cstddef>
#include <cstdint>

#include "winsvc/winsvc.h"

// The record of one mapped image.
struct ModuleHandle {
    std::uint8_t* peHeaders;         // mapped base + e_lfanew: signature, file and optional header
    std::uint8_t* mappedBase;        // base of the reservation that holds the image
    winsvc::HMODULE* libraryHandles; // one per loaded import library, in descriptor order
    std::int32_t libraryCount;       // entries in libraryHandles
    std::int32_t attached;           // 1 once the entry point accepted the process attach
    std::uint32_t mappedSize;        // SizeOfImage as reserved; every later access stays inside
};

enum class LoadMode {
    run,     // map, bind, protect and call the entry point; fails for an image that cannot run here
    mapOnly, // map, bind and protect; never call the entry point
};

// Maps the image of `length` bytes at `image`. Returns a new record, or null with nothing left
// behind. Every header, section, directory and table entry must lie inside the given bytes or the
// mapped range, or the image is refused.
ModuleHandle* loadModuleFromMemory(const void* image, std::size_t length,
                                   LoadMode mode = LoadMode::run);

// Address of the export named exactly `name` (case-sensitive), or null.
void* findModuleExport(const ModuleHandle* module, const char* name);

// Detaches (if attached), drops the import libraries and releases the mapping and the record.
// Null does nothing. The image's own threads must no longer run its code.
void freeModule(ModuleHandle* module);
