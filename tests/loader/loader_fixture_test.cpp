// The module loader on a real DLL built by the cross compiler (fixture/fixture_dll.cpp): two
// copies, the first at its preferred base and the second relocated, both running their own code
// and data, calling back into the host by name and by ordinal and from a thread of their own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "test_support.h"

extern "C" const unsigned char loaderFixtureDll[];
extern "C" const unsigned char loaderFixtureDllEnd[];

using namespace loadertest;
using winsvc::DWORD;

namespace {

constexpr std::uintptr_t kFixtureBase = 0x10000000; // the DLL's ImageBase

struct Notice {
    void* instance;
    DWORD reason;
};
std::mutex gLock;
std::vector<Notice> gNotices;
std::vector<std::thread::id> gMarkThreads;

int INTRO_WINAPI hostAdd(int a, int b) {
    return a + b;
}
int INTRO_WINAPI hostMark(int value) {
    std::lock_guard<std::mutex> g(gLock);
    gMarkThreads.push_back(std::this_thread::get_id());
    return value * 2;
}
void INTRO_WINAPI hostNotify(void* instance, DWORD reason) {
    std::lock_guard<std::mutex> g(gLock);
    gNotices.push_back({instance, reason});
}

const winsvc::BuiltinExport kHostExports[] = {
    {"hostAdd", 0, reinterpret_cast<void*>(&hostAdd)},
    {"hostNotify", 0, reinterpret_cast<void*>(&hostNotify)},
    {nullptr, 7, reinterpret_cast<void*>(&hostMark)}, // reachable by ordinal only
};
const winsvc::BuiltinLibrary kHost{"TESTHOST.DLL", kHostExports, 3};

petest::Bytes fixtureBytes() {
    return petest::Bytes(loaderFixtureDll, loaderFixtureDllEnd);
}

template <class F> F exportOf(const ModuleHandle* m, const char* name) {
    void* p = findModuleExport(m, name);
    EXPECT_NE(p, nullptr) << name;
    return reinterpret_cast<F>(p);
}

bool inside(const ModuleHandle* m, const void* p) {
    auto a = reinterpret_cast<std::uintptr_t>(p),
         b = reinterpret_cast<std::uintptr_t>(m->mappedBase);
    return a >= b && a - b < m->mappedSize;
}

TEST(LoaderFixtureDll, TwoCopiesMapRelocateAndRunIndependently) {
    static const bool registered = winsvc::registerBuiltinLibrary(&kHost);
    ASSERT_TRUE(registered);
    const int kernelRefs = winsvc::libraryReferenceCount(winsvc::kKernel32Name);
    const std::size_t reservations = winsvc::liveReservationCount();
    petest::Bytes file = fixtureBytes();
    ASSERT_GT(file.size(), 1024u);

    ModuleHandle* first = loadModuleFromMemory(file.data(), file.size());
    ASSERT_NE(first, nullptr);
    ModuleHandle* second = loadModuleFromMemory(file.data(), file.size());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first->mappedBase), kFixtureBase);
    EXPECT_NE(second->mappedBase, first->mappedBase);
    EXPECT_EQ(first->attached, 1);
    EXPECT_EQ(second->attached, 1);
    EXPECT_EQ(winsvc::libraryReferenceCount("TESTHOST.DLL"), 2);
    EXPECT_EQ(winsvc::libraryReferenceCount(winsvc::kKernel32Name), kernelRefs + 2);

    // Relocated locations: untouched in the first copy, moved by the base distance in the second.
    std::vector<std::uint32_t> sites = relocationSites(file);
    EXPECT_GE(sites.size(), 3u);
    const std::uint64_t delta = reinterpret_cast<std::uintptr_t>(second->mappedBase) - kFixtureBase;
    for (std::uint32_t site : sites) {
        auto original = petest::getAt<std::uint64_t>(file, rvaToFileOffset(file, site));
        std::uint64_t v1, v2;
        std::memcpy(&v1, first->mappedBase + site, 8);
        std::memcpy(&v2, second->mappedBase + site, 8);
        EXPECT_EQ(v1, original) << std::hex << site;
        EXPECT_EQ(v2 - original, delta) << std::hex << site;
    }

    using IntFn = int(INTRO_DLLCALL*)(int);
    using Int2Fn = int(INTRO_DLLCALL*)(int, int);
    using PtrFn = void*(INTRO_DLLCALL*)();
    using NameFn = const char*(INTRO_DLLCALL*)(int);
    using CountFn = int(INTRO_DLLCALL*)();
    for (ModuleHandle* m : {first, second}) {
        EXPECT_EQ(exportOf<CountFn>(m, "fixtureAttachCalls")(), 1);
        EXPECT_TRUE(inside(m, exportOf<PtrFn>(m, "fixtureCounterAddress")()));
        const char* name = exportOf<NameFn>(m, "fixtureName")(0);
        EXPECT_TRUE(inside(m, name));
        EXPECT_STREQ(name, "one");
        EXPECT_STREQ(exportOf<NameFn>(m, "fixtureName")(1), "two");
    }
    // Each copy counts in its own data.
    auto bump1 = exportOf<IntFn>(first, "fixtureBump");
    auto bump2 = exportOf<IntFn>(second, "fixtureBump");
    EXPECT_EQ(bump1(5), 5);
    EXPECT_EQ(bump2(7), 7);
    EXPECT_EQ(bump1(1), 6);
    EXPECT_EQ(bump2(0), 7);

    // Imports by name and by ordinal, from this thread and from one the DLL starts.
    gMarkThreads.clear();
    EXPECT_EQ(exportOf<Int2Fn>(first, "fixtureCallHost")(2, 3), 10);
    EXPECT_EQ(exportOf<IntFn>(second, "fixtureRunThread")(5), 2010);
    ASSERT_EQ(gMarkThreads.size(), 2u);
    EXPECT_EQ(gMarkThreads[0], std::this_thread::get_id());
    EXPECT_NE(gMarkThreads[1], std::this_thread::get_id());

    // Code runs from read-execute pages, constants from read-only pages, the counter is writable;
    // the discardable relocation section is gone once it has been used.
    const std::uint32_t relocRva = fileDirectory(file, pe::kDirectoryBaseReloc).VirtualAddress;
    for (ModuleHandle* m : {first, second}) {
        winsvc::MEMORY_BASIC_INFORMATION info{};
        ASSERT_NE(winsvc::VirtualQuery(m->mappedBase + relocRva, &info, sizeof info), 0u);
        EXPECT_EQ(info.State, winsvc::MEM_RESERVE);
        EXPECT_EQ(mapsPermissions(m->mappedBase + relocRva), "---p");
        EXPECT_EQ(mapsPermissions(findModuleExport(m, "fixtureBump")), "r-xp");
        EXPECT_EQ(mapsPermissions(exportOf<NameFn>(m, "fixtureName")(0)), "r--p");
        EXPECT_EQ(mapsPermissions(exportOf<PtrFn>(m, "fixtureCounterAddress")()), "rw-p");
    }

    void* base1 = first->mappedBase;
    void* base2 = second->mappedBase;
    freeModule(second);
    freeModule(first);
    ASSERT_EQ(gNotices.size(), 4u);
    EXPECT_EQ(gNotices[0].instance, base1);
    EXPECT_EQ(gNotices[0].reason, 1u);
    EXPECT_EQ(gNotices[1].instance, base2);
    EXPECT_EQ(gNotices[1].reason, 1u);
    EXPECT_EQ(gNotices[2].instance, base2);
    EXPECT_EQ(gNotices[2].reason, 0u);
    EXPECT_EQ(gNotices[3].instance, base1);
    EXPECT_EQ(gNotices[3].reason, 0u);
    EXPECT_EQ(winsvc::libraryReferenceCount("TESTHOST.DLL"), 0);
    EXPECT_EQ(winsvc::libraryReferenceCount(winsvc::kKernel32Name), kernelRefs);
    EXPECT_EQ(winsvc::liveReservationCount(), reservations);
}

} // namespace
