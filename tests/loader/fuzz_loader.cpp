// Maps arbitrary bytes as a DLL image (never running it), looks up a few exports and releases the
// mapping; nothing may be left behind.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "test_support.h"

namespace {

// Images that ask for more than this are passed over, to keep each run quick.
constexpr std::uint32_t kMaxImageSize = 16u << 20;

bool smallEnough(const std::uint8_t* data, std::size_t size) {
    if (size < 0x40) return true;
    std::uint32_t lfanew;
    std::memcpy(&lfanew, data + 0x3C, 4);
    std::uint64_t field = std::uint64_t(lfanew) + 24 + 56; // SizeOfImage, both header kinds
    if (field + 4 > size) return true;
    std::uint32_t sizeOfImage;
    std::memcpy(&sizeOfImage, data + field, 4);
    return sizeOfImage <= kMaxImageSize;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    loadertest::registerTestLibraries();
    if (!smallEnough(data, size)) return 0;
    const loadertest::Snapshot before = loadertest::snapshot();
    ModuleHandle* m = loadModuleFromMemory(data, size, LoadMode::mapOnly);
    if (m != nullptr) {
        for (const char* name : {"alpha", "beta", "gamma", "fixtureBump", ""})
            (void)findModuleExport(m, name);
        freeModule(m);
    }
    if (!(loadertest::snapshot() == before)) std::abort(); // a leaked reservation or reference
    return 0;
}
