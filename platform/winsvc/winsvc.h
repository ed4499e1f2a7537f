// Windows services used by code that runs Windows DLL images inside this process: virtual memory,
// the process heap, a readability probe and library loading.
//
// The names, argument orders and numeric constants are those of the Windows API, so that a Windows
// build can forward each call to the system's own function without touching the callers. On Linux
// the memory calls sit on mmap/mprotect and the library calls on a registry of built-in libraries
// that the program registers itself (there are no DLL files on disk to load).
#pragma once

#include <cstddef>
#include <cstdint>

// Calling convention of the functions handed to a DLL and of the DLL's own entry point.
#if defined(_WIN32)
#define INTRO_WINAPI __stdcall
#define INTRO_DLLCALL __cdecl
#elif defined(__x86_64__)
#define INTRO_WINAPI __attribute__((ms_abi))
#define INTRO_DLLCALL __attribute__((ms_abi))
#elif defined(__i386__)
#define INTRO_WINAPI __attribute__((stdcall))
#define INTRO_DLLCALL __attribute__((cdecl))
#else
#define INTRO_WINAPI
#define INTRO_DLLCALL
#endif

#if defined(_WIN32)
// On Windows the layer is the system itself.
#include <windows.h>

namespace winsvc {
using ::BOOL;
using ::DWORD;
using ::FARPROC;
using ::HANDLE;
using ::HMODULE;
using ::LPTHREAD_START_ROUTINE;
using ::MEMORY_BASIC_INFORMATION;
using ::SIZE_T;

using ::CloseHandle;
using ::CreateThread;
using ::FreeLibrary;
using ::GetCurrentThreadId;
using ::GetExitCodeThread;
using ::GetProcAddress;
using ::GetProcessHeap;
using ::HeapAlloc;
using ::HeapFree;
using ::IsBadReadPtr;
using ::LoadLibraryA;
using ::Sleep;
using ::VirtualAlloc;
using ::VirtualFree;
using ::VirtualProtect;
using ::VirtualQuery;
using ::WaitForSingleObject;

// The system has no such flag: reservations of a 32-bit process lie below 4 GiB anyway.
inline constexpr DWORD MEM_BELOW_4GB = 0;
inline constexpr SIZE_T ALLOCATION_GRANULARITY = 0x10000;
} // namespace winsvc

#else

namespace winsvc {

using DWORD = std::uint32_t; // 32 bits on every platform, unlike Linux's long
using BOOL = std::int32_t;
using SIZE_T = std::size_t;
using HANDLE = void*;
using HMODULE = void*;
using FARPROC = void*;

// VirtualAlloc / VirtualFree operation types.
inline constexpr DWORD MEM_COMMIT = 0x1000;
inline constexpr DWORD MEM_RESERVE = 0x2000;
inline constexpr DWORD MEM_DECOMMIT = 0x4000;
inline constexpr DWORD MEM_RELEASE = 0x8000;
inline constexpr DWORD MEM_FREE = 0x10000;
inline constexpr DWORD MEM_PRIVATE = 0x20000;
// This layer's own addition for reservations: place the range below 4 GiB, so that 32-bit images
// can be mapped on a 64-bit host. Not a Windows flag; a Windows build maps it onto a low search.
inline constexpr DWORD MEM_BELOW_4GB = 0x00000100;

// Page protections.
inline constexpr DWORD PAGE_NOACCESS = 0x01;
inline constexpr DWORD PAGE_READONLY = 0x02;
inline constexpr DWORD PAGE_READWRITE = 0x04;
inline constexpr DWORD PAGE_WRITECOPY = 0x08;
inline constexpr DWORD PAGE_EXECUTE = 0x10;
inline constexpr DWORD PAGE_EXECUTE_READ = 0x20;
inline constexpr DWORD PAGE_EXECUTE_READWRITE = 0x40;
inline constexpr DWORD PAGE_EXECUTE_WRITECOPY = 0x80;
inline constexpr DWORD PAGE_GUARD = 0x100;
inline constexpr DWORD PAGE_NOCACHE = 0x200;

inline constexpr DWORD HEAP_ZERO_MEMORY = 0x08;

inline constexpr DWORD INFINITE = 0xFFFFFFFF;
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 0x102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
inline constexpr DWORD STILL_ACTIVE = 0x103;

// Reservations are placed on this granularity; commits and protections work on whole pages.
inline constexpr SIZE_T ALLOCATION_GRANULARITY = 0x10000;

struct MEMORY_BASIC_INFORMATION {
    void* BaseAddress;
    void* AllocationBase;
    DWORD AllocationProtect;
    SIZE_T RegionSize;
    DWORD State;
    DWORD Protect;
    DWORD Type;
};

// --- virtual memory -------------------------------------------------------------------------
// Reserve (MEM_RESERVE) at `address` (rounded down to the allocation granularity) or, when it is
// null, anywhere; commit (MEM_COMMIT) pages inside an existing reservation, or reserve and commit
// at once. A reservation never replaces memory that is already mapped. Freshly committed pages
// read as zero; committing pages that are already committed keeps their contents.
void* VirtualAlloc(void* address, SIZE_T size, DWORD allocationType, DWORD protect);
// MEM_DECOMMIT a page range inside a reservation (its contents are dropped), or MEM_RELEASE a whole
// reservation given its base and size 0.
BOOL VirtualFree(void* address, SIZE_T size, DWORD freeType);
// Changes the protection of committed pages of one reservation; reports the previous protection
// of the first page.
BOOL VirtualProtect(void* address, SIZE_T size, DWORD newProtect, DWORD* oldProtect);
// Describes the run of pages from `address` that share state and protection. Only ranges made by
// VirtualAlloc are known on Linux; for other addresses the result is 0.
SIZE_T VirtualQuery(const void* address, MEMORY_BASIC_INFORMATION* info, SIZE_T length);

// --- process heap ---------------------------------------------------------------------------
HANDLE GetProcessHeap();
void* HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, void* block);

// True when some byte of [address, address + size) cannot be read. Never faults.
BOOL IsBadReadPtr(const void* address, std::uintptr_t size);

// --- libraries ------------------------------------------------------------------------------
// Names are matched without regard to letter case; a name without an extension gets ".dll" and a
// trailing dot means "no extension", as on Windows; a directory part is ignored.
HMODULE LoadLibraryA(const char* name);
// `name` is a NUL-terminated function name, or an ordinal in its low 16 bits when the pointer's
// value is below 0x10000.
FARPROC GetProcAddress(HMODULE module, const char* name);
BOOL FreeLibrary(HMODULE module);

// --- Linux only: the built-in library registry and diagnostics ------------------------------
struct BuiltinExport {
    const char* name;      // null for an export reachable only by ordinal
    std::uint16_t ordinal; // 0 for an export reachable only by name
    void* address;         // on x86-64 a function declared INTRO_WINAPI
};

struct BuiltinLibrary {
    const char* name;
    const BuiltinExport* exports;
    std::size_t exportCount;
};

// Adds a library that LoadLibraryA can find. The library and its export table must stay alive
// until it is unregistered. Fails when a library of that name is already registered.
bool registerBuiltinLibrary(const BuiltinLibrary* library);
// Removes a library; refused while it holds references.
bool unregisterBuiltinLibrary(const char* name);
// Current number of LoadLibraryA references on the named library; -1 if it is not registered.
int libraryReferenceCount(const char* name);

// --- threads (exported by the built-in "KERNEL32.DLL") ------------------------------------
using LPTHREAD_START_ROUTINE = DWORD(INTRO_WINAPI*)(void* parameter);
// Flags: 0 or STACK_SIZE_PARAM_IS_A_RESERVATION (no suspended start). The handle is signalled
// when the thread has returned.
HANDLE INTRO_WINAPI CreateThread(void* security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                                 void* parameter, DWORD flags, DWORD* threadId);
DWORD INTRO_WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL INTRO_WINAPI GetExitCodeThread(HANDLE thread, DWORD* exitCode);
BOOL INTRO_WINAPI CloseHandle(HANDLE handle);
DWORD INTRO_WINAPI GetCurrentThreadId();
void INTRO_WINAPI Sleep(DWORD milliseconds);

// Always registered: "KERNEL32.DLL" with CreateThread, WaitForSingleObject, CloseHandle,
// GetExitCodeThread, GetCurrentThreadId and Sleep, over pthreads.
inline constexpr const char* kKernel32Name = "KERNEL32.DLL";

// Number of live reservations and of live process-heap blocks, for leak checks.
std::size_t liveReservationCount();
std::size_t liveHeapBlockCount();

} // namespace winsvc

#endif
