// Threads for DLL code over pthreads: CreateThread, WaitForSingleObject, GetExitCodeThread,
// CloseHandle, GetCurrentThreadId and Sleep.
#include "winsvc/winsvc.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <pthread.h>
#include <set>
#include <thread>

namespace winsvc {
namespace {

// One object per thread, shared by the running thread and the handle; freed when both are done.
struct ThreadObject {
    LPTHREAD_START_ROUTINE start = nullptr;
    void* parameter = nullptr;
    DWORD id = 0;
    std::mutex lock;
    std::condition_variable finishedSignal;
    bool finished = false;
    DWORD exitCode = STILL_ACTIVE;
    int owners = 2;
};

std::mutex gHandlesLock;
std::set<ThreadObject*> gHandles; // thread objects whose handle is still open
std::atomic<DWORD> gNextThreadId{1};
thread_local DWORD tThreadId = 0;

void dropOwner(ThreadObject* t) {
    bool last;
    {
        std::lock_guard<std::mutex> g(t->lock);
        last = --t->owners == 0;
    }
    if (last) delete t;
}

void* threadMain(void* arg) {
    auto* t = static_cast<ThreadObject*>(arg);
    tThreadId = t->id;
    DWORD code = t->start(t->parameter);
    {
        std::lock_guard<std::mutex> g(t->lock);
        t->exitCode = code;
        t->finished = true;
    }
    t->finishedSignal.notify_all();
    dropOwner(t);
    return nullptr;
}

ThreadObject* openHandle(HANDLE h) {
    std::lock_guard<std::mutex> g(gHandlesLock);
    auto* t = static_cast<ThreadObject*>(h);
    return gHandles.count(t) != 0 ? t : nullptr;
}

} // namespace

HANDLE INTRO_WINAPI CreateThread(void*, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                                 void* parameter, DWORD flags, DWORD* threadId) {
    const DWORD stackIsReservation = 0x10000;
    if (start == nullptr || (flags & ~stackIsReservation) != 0) return nullptr;
    auto* t = new ThreadObject;
    t->start = start;
    t->parameter = parameter;
    t->id = gNextThreadId.fetch_add(1);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0) {
        std::size_t size = stackSize < (1u << 20) ? (1u << 20) : stackSize;
        pthread_attr_setstacksize(&attr, size);
    }
    {
        std::lock_guard<std::mutex> g(gHandlesLock);
        gHandles.insert(t);
    }
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, threadMain, t);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        std::lock_guard<std::mutex> g(gHandlesLock);
        gHandles.erase(t);
        delete t;
        return nullptr;
    }
    if (threadId != nullptr) *threadId = t->id;
    return t;
}

DWORD INTRO_WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    ThreadObject* t = openHandle(handle);
    if (t == nullptr) return WAIT_FAILED;
    std::unique_lock<std::mutex> g(t->lock);
    if (milliseconds == INFINITE) {
        t->finishedSignal.wait(g, [t] { return t->finished; });
        return WAIT_OBJECT_0;
    }
    bool done = t->finishedSignal.wait_for(g, std::chrono::milliseconds(milliseconds),
                                           [t] { return t->finished; });
    return done ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL INTRO_WINAPI GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    ThreadObject* t = openHandle(thread);
    if (t == nullptr || exitCode == nullptr) return 0;
    std::lock_guard<std::mutex> g(t->lock);
    *exitCode = t->exitCode;
    return 1;
}

BOOL INTRO_WINAPI CloseHandle(HANDLE handle) {
    auto* t = static_cast<ThreadObject*>(handle);
    {
        std::lock_guard<std::mutex> g(gHandlesLock);
        if (gHandles.erase(t) == 0) return 0;
    }
    dropOwner(t);
    return 1;
}

DWORD INTRO_WINAPI GetCurrentThreadId() {
    if (tThreadId == 0) tThreadId = gNextThreadId.fetch_add(1);
    return tThreadId;
}

void INTRO_WINAPI Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace winsvc
