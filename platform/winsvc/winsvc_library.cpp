// LoadLibraryA / GetProcAddress / FreeLibrary over a registry of libraries built into the program.
#include "winsvc/winsvc.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace winsvc {
namespace {

struct LibraryEntry {
    const BuiltinLibrary* library = nullptr; // null once unregistered
    std::string key;                         // normalised name
    int references = 0;
};

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Lower case, directory part dropped, ".dll" added when the name has no extension, a trailing dot
// (meaning "no extension") removed.
std::string normaliseName(const char* name) {
    const char* start = name;
    for (const char* p = name; *p != '\0'; ++p)
        if (*p == '\\' || *p == '/' || *p == ':') start = p + 1;
    std::string key;
    for (const char* p = start; *p != '\0'; ++p) key.push_back(lowerAscii(*p));
    if (!key.empty() && key.back() == '.') {
        key.pop_back();
    } else if (key.find('.') == std::string::npos) {
        key += ".dll";
    }
    return key;
}

// The functions of the always-present "KERNEL32.DLL" (defined with the thread functions).
#define INTRO_K32(fn)                                                                              \
    BuiltinExport {                                                                                \
#fn, 0, reinterpret_cast < void*>(&fn)                                                     \
    }
const BuiltinExport kKernel32Exports[] = {
    INTRO_K32(CreateThread), INTRO_K32(WaitForSingleObject), INTRO_K32(GetExitCodeThread),
    INTRO_K32(CloseHandle),  INTRO_K32(GetCurrentThreadId),  INTRO_K32(Sleep),
};
#undef INTRO_K32
const std::size_t kKernel32ExportCount = sizeof(kKernel32Exports) / sizeof(kKernel32Exports[0]);

struct Registry {
    std::mutex lock;
    std::vector<std::unique_ptr<LibraryEntry>> entries; // entries are never destroyed

    Registry() {
        static const BuiltinLibrary kernel32{kKernel32Name, kKernel32Exports, kKernel32ExportCount};
        auto e = std::make_unique<LibraryEntry>();
        e->library = &kernel32;
        e->key = normaliseName(kKernel32Name);
        entries.push_back(std::move(e));
    }

    LibraryEntry* find(const std::string& key) {
        for (auto& e : entries)
            if (e->library != nullptr && e->key == key) return e.get();
        return nullptr;
    }

    LibraryEntry* fromHandle(HMODULE h) {
        for (auto& e : entries)
            if (e.get() == h && e->library != nullptr && e->references > 0) return e.get();
        return nullptr;
    }
};

Registry& registry() {
    static Registry r;
    return r;
}

} // namespace

HMODULE LoadLibraryA(const char* name) {
    if (name == nullptr || *name == '\0') return nullptr;
    std::string key = normaliseName(name);
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.lock);
    LibraryEntry* e = r.find(key);
    if (e == nullptr) return nullptr;
    ++e->references;
    return e;
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.lock);
    LibraryEntry* e = r.fromHandle(module);
    if (e == nullptr || name == nullptr) return nullptr;
    auto value = reinterpret_cast<std::uintptr_t>(name);
    const BuiltinLibrary& lib = *e->library;
    for (std::size_t i = 0; i < lib.exportCount; ++i) {
        const BuiltinExport& x = lib.exports[i];
        if (value < 0x10000) {
            if (x.ordinal != 0 && x.ordinal == value) return x.address;
        } else if (x.name != nullptr && std::strcmp(x.name, name) == 0) {
            return x.address;
        }
    }
    return nullptr;
}

BOOL FreeLibrary(HMODULE module) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.lock);
    LibraryEntry* e = r.fromHandle(module);
    if (e == nullptr) return 0;
    --e->references;
    return 1;
}

bool registerBuiltinLibrary(const BuiltinLibrary* library) {
    if (library == nullptr || library->name == nullptr || *library->name == '\0') return false;
    std::string key = normaliseName(library->name);
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.lock);
    if (r.find(key) != nullptr) return false;
    auto e = std::make_unique<LibraryEntry>();
    e->library = library;
    e->key = std::move(key);
    r.entries.push_back(std::move(e));
    return true;
}

bool unregisterBuiltinLibrary(const char* name) {
    if (name == nullptr) return false;
    std::string key = normaliseName(name);
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.lock);
    LibraryEntry* e = r.find(key);
    if (e == nullptr || e->references != 0 || key == normaliseName(kKernel32Name)) return false;
    e->library = nullptr;
    return true;
}

int libraryReferenceCount(const char* name) {
    if (name == nullptr) return -1;
    std::string key = normaliseName(name);
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.lock);
    LibraryEntry* e = r.find(key);
    return e == nullptr ? -1 : e->references;
}

} // namespace winsvc
