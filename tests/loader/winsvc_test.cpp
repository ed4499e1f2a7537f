// The Windows-services layer on Linux: virtual memory, readability probe, library registry and
// threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

#include "test_support.h"
#include "winsvc/winsvc.h"

using namespace winsvc;

namespace {

const std::size_t kPage = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));

TEST(WinsvcMemory, ReservationNeverReplacesAnExistingMapping) {
    // A mapping that the layer knows nothing about.
    void* foreign =
        mmap(nullptr, 0x20000, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(foreign, MAP_FAILED);
    std::memset(foreign, 0x5A, 0x20000);
    auto at = (reinterpret_cast<std::uintptr_t>(foreign) + 0xFFFF) & ~std::uintptr_t(0xFFFF);
    EXPECT_EQ(VirtualAlloc(reinterpret_cast<void*>(at), 0x1000, MEM_RESERVE, PAGE_READWRITE),
              nullptr);
    EXPECT_EQ(VirtualAlloc(foreign, 0x1000, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE), nullptr);
    EXPECT_EQ(static_cast<unsigned char*>(foreign)[0x1FFFF], 0x5A);
    munmap(foreign, 0x20000);

    // Where nothing is mapped, the reservation lands exactly on the (granularity-rounded) address.
    void* anywhere = VirtualAlloc(nullptr, 0x30000, MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(anywhere, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(anywhere) % ALLOCATION_GRANULARITY, 0u);
    ASSERT_TRUE(VirtualFree(anywhere, 0, MEM_RELEASE));
    void* again =
        VirtualAlloc(static_cast<char*>(anywhere) + 0x10010, 0x100, MEM_RESERVE, PAGE_READWRITE);
    EXPECT_EQ(again, static_cast<char*>(anywhere) + 0x10000);
    EXPECT_TRUE(VirtualFree(again, 0, MEM_RELEASE));

    void* low = VirtualAlloc(nullptr, 0x20000, MEM_RESERVE | MEM_BELOW_4GB, PAGE_READWRITE);
    ASSERT_NE(low, nullptr);
    EXPECT_LE(reinterpret_cast<std::uintptr_t>(low) + 0x20000, std::uintptr_t(1) << 32);
    EXPECT_TRUE(VirtualFree(low, 0, MEM_RELEASE));
}

TEST(WinsvcMemory, CommitDecommitProtectAndRelease) {
    const std::size_t before = liveReservationCount();
    auto* base =
        static_cast<unsigned char*>(VirtualAlloc(nullptr, 4 * kPage, MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(liveReservationCount(), before + 1);
    MEMORY_BASIC_INFORMATION info{};
    ASSERT_NE(VirtualQuery(base, &info, sizeof info), 0u);
    EXPECT_EQ(info.State, MEM_RESERVE);
    EXPECT_EQ(info.RegionSize, 4 * kPage);
    DWORD old = 0;
    EXPECT_FALSE(VirtualProtect(base, kPage, PAGE_READONLY, &old)); // not committed

    // Fresh commits read as zero; committing again keeps the contents.
    ASSERT_EQ(VirtualAlloc(base + 10, 2 * kPage, MEM_COMMIT, PAGE_READWRITE), base);
    for (std::size_t i = 0; i < 3 * kPage; i += 97) ASSERT_EQ(base[i], 0) << i;
    base[5] = 7;
    ASSERT_NE(VirtualAlloc(base, kPage, MEM_COMMIT, PAGE_READWRITE), nullptr);
    EXPECT_EQ(base[5], 7);

    EXPECT_TRUE(VirtualProtect(base + 1, 1, PAGE_EXECUTE_READ | PAGE_NOCACHE, &old));
    EXPECT_EQ(old, PAGE_READWRITE);
    EXPECT_EQ(loadertest::mapsPermissions(base), "r-xp");
    ASSERT_NE(VirtualQuery(base, &info, sizeof info), 0u);
    EXPECT_EQ(info.Protect, PAGE_EXECUTE_READ | PAGE_NOCACHE);
    EXPECT_EQ(info.RegionSize, kPage);
    EXPECT_TRUE(VirtualProtect(base, kPage, PAGE_READWRITE, &old));
    EXPECT_EQ(old, PAGE_EXECUTE_READ | PAGE_NOCACHE);

    // A decommitted page drops its contents and comes back as zeros.
    EXPECT_TRUE(VirtualFree(base + 3, 1, MEM_DECOMMIT));
    ASSERT_NE(VirtualQuery(base, &info, sizeof info), 0u);
    EXPECT_EQ(info.State, MEM_RESERVE);
    EXPECT_EQ(loadertest::mapsPermissions(base), "---p");
    ASSERT_NE(VirtualAlloc(base, kPage, MEM_COMMIT, PAGE_READWRITE), nullptr);
    EXPECT_EQ(base[5], 0);

    // Outside the reservation, and releases that are not whole reservations, are refused.
    EXPECT_EQ(VirtualAlloc(base + 3 * kPage, 2 * kPage, MEM_COMMIT, PAGE_READWRITE), nullptr);
    EXPECT_FALSE(VirtualFree(base, kPage, MEM_RELEASE));
    EXPECT_FALSE(VirtualFree(base + kPage, 0, MEM_RELEASE));
    EXPECT_EQ(VirtualAlloc(base, kPage, MEM_COMMIT, 0x3), nullptr); // not a protection value
    EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
    EXPECT_EQ(liveReservationCount(), before);
    EXPECT_EQ(VirtualQuery(base, &info, sizeof info), 0u);
}

TEST(WinsvcMemory, ProcessHeapCountsBlocksAndZeroes) {
    const std::size_t before = liveHeapBlockCount();
    auto* p = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 64));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(p[i], 0);
    EXPECT_EQ(liveHeapBlockCount(), before + 1);
    EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, p));
    EXPECT_EQ(liveHeapBlockCount(), before);
    EXPECT_EQ(HeapAlloc(nullptr, 0, 8), nullptr);
}

TEST(WinsvcMemory, IsBadReadPtrTellsReadableFromUnreadable) {
    int local = 1;
    EXPECT_FALSE(IsBadReadPtr(&local, sizeof local));
    EXPECT_FALSE(IsBadReadPtr(nullptr, 0));
    EXPECT_TRUE(IsBadReadPtr(nullptr, 1));
    EXPECT_TRUE(IsBadReadPtr(reinterpret_cast<void*>(~std::uintptr_t(0) - 2), 8)); // wraps

    // Memory of the layer: answered from its own records.
    auto* r =
        static_cast<unsigned char*>(VirtualAlloc(nullptr, 3 * kPage, MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(r, nullptr);
    VirtualAlloc(r, 2 * kPage, MEM_COMMIT, PAGE_READWRITE);
    DWORD old;
    VirtualProtect(r + kPage, kPage, PAGE_EXECUTE, &old);
    EXPECT_FALSE(IsBadReadPtr(r, kPage));
    EXPECT_TRUE(IsBadReadPtr(r + kPage - 1, 2)); // runs into the execute-only page
    EXPECT_TRUE(IsBadReadPtr(r + 2 * kPage, 1)); // reserved only
    VirtualFree(r, 0, MEM_RELEASE);

    // Other memory: asked of the kernel.
    auto* m = static_cast<unsigned char*>(
        mmap(nullptr, 2 * kPage, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(m, MAP_FAILED);
    mprotect(m + kPage, kPage, PROT_NONE);
    EXPECT_FALSE(IsBadReadPtr(m, kPage));
    EXPECT_TRUE(IsBadReadPtr(m + kPage - 4, 8));
    munmap(m, 2 * kPage);
    EXPECT_TRUE(IsBadReadPtr(m, 1));
}

int INTRO_WINAPI one() {
    return 1;
}
int INTRO_WINAPI two() {
    return 2;
}
const BuiltinExport kExports[] = {
    {"one", 0, reinterpret_cast<void*>(&one)},
    {"two", 2, reinterpret_cast<void*>(&two)},
    {nullptr, 3, reinterpret_cast<void*>(&one)},
};
const BuiltinLibrary kLibrary{"Sample.Dll", kExports, 3};

TEST(WinsvcLibraries, NamesMatchAsOnWindowsAndReferencesAreCounted) {
    ASSERT_TRUE(registerBuiltinLibrary(&kLibrary));
    EXPECT_FALSE(registerBuiltinLibrary(&kLibrary)); // the name is taken
    HMODULE h = LoadLibraryA("SAMPLE.DLL");
    ASSERT_NE(h, nullptr);
    for (const char* same : {"sample.dll", "sample", "C:\\Windows\\System32\\Sample.dll"})
        EXPECT_EQ(LoadLibraryA(same), h) << same;
    for (const char* other : {"sample.", "sample.dl", "sampl.dll", "", "sample.dll2"})
        EXPECT_EQ(LoadLibraryA(other), nullptr) << other;
    EXPECT_EQ(libraryReferenceCount("sample.dll"), 4);

    EXPECT_EQ(GetProcAddress(h, "one"), reinterpret_cast<void*>(&one));
    EXPECT_EQ(GetProcAddress(h, "two"), reinterpret_cast<void*>(&two));
    EXPECT_EQ(GetProcAddress(h, "One"), nullptr);
    EXPECT_EQ(GetProcAddress(h, "on"), nullptr);
    EXPECT_EQ(GetProcAddress(h, reinterpret_cast<const char*>(2)), reinterpret_cast<void*>(&two));
    EXPECT_EQ(GetProcAddress(h, reinterpret_cast<const char*>(3)), reinterpret_cast<void*>(&one));
    EXPECT_EQ(GetProcAddress(h, reinterpret_cast<const char*>(1)), nullptr);
    EXPECT_EQ(GetProcAddress(h, reinterpret_cast<const char*>(0)), nullptr);

    EXPECT_FALSE(unregisterBuiltinLibrary("sample.dll")); // still referenced
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(FreeLibrary(h));
    EXPECT_FALSE(FreeLibrary(h)); // no reference left
    EXPECT_EQ(GetProcAddress(h, "one"), nullptr);
    EXPECT_TRUE(unregisterBuiltinLibrary("SAMPLE"));
    EXPECT_EQ(LoadLibraryA("sample.dll"), nullptr);
    EXPECT_EQ(libraryReferenceCount("sample.dll"), -1);

    HMODULE k = LoadLibraryA("kernel32");
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(GetProcAddress(k, "CreateThread"), reinterpret_cast<void*>(&CreateThread));
    EXPECT_FALSE(unregisterBuiltinLibrary("kernel32.dll"));
    FreeLibrary(k);
}

std::atomic<bool> gRelease{false};

DWORD INTRO_WINAPI waitForRelease(void* parameter) {
    while (!gRelease.load()) Sleep(1);
    return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(parameter)) + GetCurrentThreadId();
}

TEST(WinsvcThreads, CreateWaitExitCodeAndClose) {
    gRelease = false;
    DWORD id = 0;
    HANDLE t = CreateThread(nullptr, 0, waitForRelease, reinterpret_cast<void*>(100), 0, &id);
    ASSERT_NE(t, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_EQ(WaitForSingleObject(t, 5), WAIT_TIMEOUT);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    gRelease = true;
    EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, 100 + id);
    EXPECT_TRUE(CloseHandle(t));
    EXPECT_FALSE(CloseHandle(t));
    EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_FAILED);
    EXPECT_EQ(CreateThread(nullptr, 0, waitForRelease, nullptr, 0x4 /* suspended */, nullptr),
              nullptr);
}

} // namespace
