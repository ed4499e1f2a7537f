// Virtual memory, process heap and readability probe over mmap/mprotect.
//
// Every reservation is recorded with one protection word per page (0 while the page is only
// reserved), so that commits, protection changes, queries and releases can be checked against
// what was really handed out, and so that readability of our own ranges is answered without a
// system call.
#include "winsvc/winsvc.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace winsvc {
namespace {

struct Reservation {
    std::uintptr_t base = 0;
    std::size_t size = 0;
    std::vector<DWORD> pageProtect; // 0: reserved only
};

std::mutex gMemoryLock;
std::map<std::uintptr_t, Reservation> gReservations; // by base
std::atomic<std::size_t> gHeapBlocks{0};

std::size_t pageSize() {
    static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

std::uintptr_t roundDown(std::uintptr_t v, std::size_t a) {
    return v & ~(std::uintptr_t(a) - 1);
}

bool roundUp(std::uintptr_t v, std::size_t a, std::uintptr_t& out) {
    std::uintptr_t mask = std::uintptr_t(a) - 1;
    if (v > UINTPTR_MAX - mask) return false;
    out = (v + mask) & ~mask;
    return true;
}

bool validProtection(DWORD protect) {
    switch (protect & ~(PAGE_NOCACHE | PAGE_GUARD)) {
    case PAGE_NOACCESS:
    case PAGE_READONLY:
    case PAGE_READWRITE:
    case PAGE_WRITECOPY:
    case PAGE_EXECUTE:
    case PAGE_EXECUTE_READ:
    case PAGE_EXECUTE_READWRITE:
    case PAGE_EXECUTE_WRITECOPY:
        return true;
    default:
        return false;
    }
}

// Caching attributes have no user-space equivalent on Linux; they are recorded but not applied.
// Guard pages are treated as inaccessible.
int linuxProtection(DWORD protect) {
    if (protect & PAGE_GUARD) return PROT_NONE;
    switch (protect & ~PAGE_NOCACHE) {
    case PAGE_READONLY:
        return PROT_READ;
    case PAGE_READWRITE:
    case PAGE_WRITECOPY:
        return PROT_READ | PROT_WRITE;
    case PAGE_EXECUTE:
        return PROT_EXEC;
    case PAGE_EXECUTE_READ:
        return PROT_READ | PROT_EXEC;
    case PAGE_EXECUTE_READWRITE:
    case PAGE_EXECUTE_WRITECOPY:
        return PROT_READ | PROT_WRITE | PROT_EXEC;
    default:
        return PROT_NONE;
    }
}

bool readableProtection(DWORD protect) {
    int p = linuxProtection(protect);
    return (p & PROT_READ) != 0;
}

// The reservation that holds all of [begin, end), or null. Caller holds gMemoryLock.
Reservation* findReservation(std::uintptr_t begin, std::uintptr_t end) {
    auto it = gReservations.upper_bound(begin);
    if (it == gReservations.begin()) return nullptr;
    --it;
    Reservation& r = it->second;
    if (begin < r.base || end > r.base + r.size || end < begin) return nullptr;
    return &r;
}

// Page index range [first, last) of the pages touched by [address, address + size).
bool pageRange(const Reservation& r, std::uintptr_t address, std::size_t size, std::size_t& first,
               std::size_t& last) {
    std::uintptr_t end;
    if (size == 0 || address > UINTPTR_MAX - size) return false;
    if (!roundUp(address + size, pageSize(), end)) return false;
    std::uintptr_t begin = roundDown(address, pageSize());
    if (begin < r.base || end > r.base + r.size) return false;
    first = (begin - r.base) / pageSize();
    last = (end - r.base) / pageSize();
    return true;
}

void* mapAt(void* hint, std::size_t size, int extraFlags) {
    void* p = mmap(hint, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | extraFlags,
                   -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

// Reserves `size` bytes at exactly `address`, never replacing an existing mapping.
void* reserveAt(std::uintptr_t address, std::size_t size) {
    void* want = reinterpret_cast<void*>(address);
    void* p = mapAt(want, size, MAP_FIXED_NOREPLACE);
    if (p != nullptr && p != want) { // a kernel without MAP_FIXED_NOREPLACE took it as a hint
        munmap(p, size);
        return nullptr;
    }
    return p;
}

// Reserves `size` bytes anywhere (below 4 GiB if asked), aligned to the allocation granularity.
void* reserveAnywhere(std::size_t size, bool below4GiB) {
    std::size_t span = size + ALLOCATION_GRANULARITY;
    if (span < size) return nullptr;
    int flags = 0;
    if (below4GiB) {
#if defined(MAP_32BIT)
        flags |= MAP_32BIT;
#endif
    }
    void* p = mapAt(nullptr, span, flags);
    if (p == nullptr) return nullptr;
    auto raw = reinterpret_cast<std::uintptr_t>(p);
    std::uintptr_t aligned = (raw + (ALLOCATION_GRANULARITY - 1)) & ~(ALLOCATION_GRANULARITY - 1);
    if (aligned > raw) munmap(p, aligned - raw);
    std::size_t tail = (raw + span) - (aligned + size);
    if (tail != 0) munmap(reinterpret_cast<void*>(aligned + size), tail);
    if (below4GiB && aligned + size > (std::uintptr_t(1) << 32)) {
        munmap(reinterpret_cast<void*>(aligned), size);
        return nullptr;
    }
    return reinterpret_cast<void*>(aligned);
}

bool commitPages(Reservation& r, std::size_t first, std::size_t last, DWORD protect) {
    bool unchanged = true;
    for (std::size_t i = first; i < last && unchanged; ++i) unchanged = r.pageProtect[i] == protect;
    if (unchanged) return true; // already committed with this protection: no system call
    void* at = reinterpret_cast<void*>(r.base + first * pageSize());
    if (mprotect(at, (last - first) * pageSize(), linuxProtection(protect)) != 0) return false;
    for (std::size_t i = first; i < last; ++i) r.pageProtect[i] = protect;
    return true;
}

} // namespace

void* VirtualAlloc(void* address, SIZE_T size, DWORD allocationType, DWORD protect) {
    const DWORD known = MEM_COMMIT | MEM_RESERVE | MEM_BELOW_4GB;
    if (size == 0 || (allocationType & ~known) != 0 || !validProtection(protect)) return nullptr;
    if ((allocationType & (MEM_COMMIT | MEM_RESERVE)) == 0) return nullptr;
    auto addr = reinterpret_cast<std::uintptr_t>(address);
    std::lock_guard<std::mutex> lock(gMemoryLock);

    bool reserve = (allocationType & MEM_RESERVE) != 0 || address == nullptr;
    if (!reserve) {
        Reservation* r = findReservation(addr, addr);
        std::size_t first, last;
        if (r == nullptr || !pageRange(*r, addr, size, first, last)) return nullptr;
        if (!commitPages(*r, first, last, protect)) return nullptr;
        return reinterpret_cast<void*>(r->base + first * pageSize());
    }

    std::uintptr_t begin = roundDown(addr, ALLOCATION_GRANULARITY);
    std::uintptr_t end;
    if (addr > UINTPTR_MAX - size || !roundUp(addr + size, pageSize(), end)) return nullptr;
    std::size_t length = end - begin;
    bool below4GiB = (allocationType & MEM_BELOW_4GB) != 0;
    void* p;
    if (address != nullptr) {
        if (below4GiB && end > (std::uintptr_t(1) << 32)) return nullptr;
        p = reserveAt(begin, length);
    } else {
        p = reserveAnywhere(length, below4GiB);
    }
    if (p == nullptr) return nullptr;
    Reservation r;
    r.base = reinterpret_cast<std::uintptr_t>(p);
    r.size = length;
    r.pageProtect.assign(length / pageSize(), 0);
    auto [it, inserted] = gReservations.emplace(r.base, std::move(r));
    if (!inserted) { // cannot happen: the kernel never hands out a range twice
        munmap(p, length);
        return nullptr;
    }
    if (allocationType & MEM_COMMIT) {
        if (!commitPages(it->second, 0, it->second.pageProtect.size(), protect)) {
            munmap(p, length);
            gReservations.erase(it);
            return nullptr;
        }
    }
    return p;
}

BOOL VirtualFree(void* address, SIZE_T size, DWORD freeType) {
    auto addr = reinterpret_cast<std::uintptr_t>(address);
    std::lock_guard<std::mutex> lock(gMemoryLock);
    if (freeType == MEM_RELEASE) {
        auto it = gReservations.find(addr);
        if (size != 0 || it == gReservations.end()) return 0;
        munmap(address, it->second.size);
        gReservations.erase(it);
        return 1;
    }
    if (freeType != MEM_DECOMMIT) return 0;
    Reservation* r = findReservation(addr, addr);
    if (r == nullptr) return 0;
    std::size_t first, last;
    if (size == 0) { // the whole reservation from its base
        if (addr != r->base) return 0;
        first = 0;
        last = r->pageProtect.size();
    } else if (!pageRange(*r, addr, size, first, last)) {
        return 0;
    }
    // A fresh inaccessible mapping over our own pages drops their contents and their charge.
    void* at = reinterpret_cast<void*>(r->base + first * pageSize());
    if (mmap(at, (last - first) * pageSize(), PROT_NONE,
             MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0) == MAP_FAILED)
        return 0;
    for (std::size_t i = first; i < last; ++i) r->pageProtect[i] = 0;
    return 1;
}

BOOL VirtualProtect(void* address, SIZE_T size, DWORD newProtect, DWORD* oldProtect) {
    if (!validProtection(newProtect) || oldProtect == nullptr) return 0;
    auto addr = reinterpret_cast<std::uintptr_t>(address);
    std::lock_guard<std::mutex> lock(gMemoryLock);
    Reservation* r = findReservation(addr, addr);
    std::size_t first, last;
    if (r == nullptr || !pageRange(*r, addr, size, first, last)) return 0;
    for (std::size_t i = first; i < last; ++i)
        if (r->pageProtect[i] == 0) return 0; // not committed
    DWORD previous = r->pageProtect[first];
    if (!commitPages(*r, first, last, newProtect)) return 0;
    *oldProtect = previous;
    return 1;
}

SIZE_T VirtualQuery(const void* address, MEMORY_BASIC_INFORMATION* info, SIZE_T length) {
    if (info == nullptr || length < sizeof(MEMORY_BASIC_INFORMATION)) return 0;
    auto addr = reinterpret_cast<std::uintptr_t>(address);
    std::lock_guard<std::mutex> lock(gMemoryLock);
    Reservation* r = findReservation(addr, addr);
    if (r == nullptr || addr >= r->base + r->size) return 0;
    std::size_t first = (addr - r->base) / pageSize();
    std::size_t last = first + 1;
    while (last < r->pageProtect.size() && r->pageProtect[last] == r->pageProtect[first]) ++last;
    info->BaseAddress = reinterpret_cast<void*>(r->base + first * pageSize());
    info->AllocationBase = reinterpret_cast<void*>(r->base);
    info->AllocationProtect = PAGE_READWRITE;
    info->RegionSize = (last - first) * pageSize();
    info->State = r->pageProtect[first] != 0 ? MEM_COMMIT : MEM_RESERVE;
    info->Protect = r->pageProtect[first];
    info->Type = MEM_PRIVATE;
    return sizeof(MEMORY_BASIC_INFORMATION);
}

HANDLE GetProcessHeap() {
    static int heapToken;
    return &heapToken;
}

void* HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    if (heap != GetProcessHeap()) return nullptr;
    std::size_t n = bytes != 0 ? bytes : 1;
    void* p = (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, n) : std::malloc(n);
    if (p != nullptr) gHeapBlocks.fetch_add(1, std::memory_order_relaxed);
    return p;
}

BOOL HeapFree(HANDLE heap, DWORD, void* block) {
    if (heap != GetProcessHeap()) return 0;
    if (block != nullptr) {
        std::free(block);
        gHeapBlocks.fetch_sub(1, std::memory_order_relaxed);
    }
    return 1;
}

BOOL IsBadReadPtr(const void* address, std::uintptr_t size) {
    if (size == 0) return 0;
    auto addr = reinterpret_cast<std::uintptr_t>(address);
    if (addr > UINTPTR_MAX - (size - 1)) return 1;
    {
        std::lock_guard<std::mutex> lock(gMemoryLock);
        if (Reservation* r = findReservation(addr, addr + size)) {
            std::size_t first, last;
            if (!pageRange(*r, addr, size, first, last)) return 1;
            for (std::size_t i = first; i < last; ++i)
                if (!readableProtection(r->pageProtect[i])) return 1;
            return 0;
        }
    }
    // Elsewhere ask the kernel: a read of our own memory through process_vm_readv fails with
    // EFAULT instead of faulting. Probe one byte per page.
    std::uintptr_t page = roundDown(addr, pageSize());
    std::uintptr_t last = addr + (size - 1);
    for (;;) {
        std::uintptr_t probe = page < addr ? addr : page;
        char byte;
        iovec local{&byte, 1};
        iovec remote{reinterpret_cast<void*>(probe), 1};
        if (process_vm_readv(getpid(), &local, 1, &remote, 1, 0) != 1) return 1;
        if (last - page < pageSize()) break;
        page += pageSize();
    }
    return 0;
}

std::size_t liveReservationCount() {
    std::lock_guard<std::mutex> lock(gMemoryLock);
    return gReservations.size();
}

std::size_t liveHeapBlockCount() {
    return gHeapBlocks.load(std::memory_order_relaxed);
}

} // namespace winsvc
