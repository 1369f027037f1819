// Threads, events, waits and the lock on POSIX. A thread or event handle is
// a waitable object: signalled, or not yet. A thread's is signalled when the
// thread ends, and lives until both its handle is closed and its thread has
// ended, so that a handle may be closed while its thread runs on.
#include <windows.h>

#include <errno.h>
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>

#include "Waitables.h"

namespace {

struct Waitable {
    std::mutex mutex;
    std::condition_variable signalled;
    bool isSignalled;
    bool manualReset;  // an auto-reset event lets one wait through, then is reset
    int owners;        // the handle, and the thread while it runs
};

struct ThreadStart {
    LPTHREAD_START_ROUTINE routine;
    LPVOID parameter;
    Waitable* ending;
};

// The handles given out and not closed, so that a file handle (or a stale
// one) is never taken for one of these.
std::mutex handlesMutex;
std::set<Waitable*> openHandles;
std::atomic<DWORD> threadsCreated(0);

Waitable* NewWaitable(bool manualReset, bool isSignalled, int owners) {
    Waitable* waitable = new Waitable;
    waitable->isSignalled = isSignalled;
    waitable->manualReset = manualReset;
    waitable->owners = owners;
    return waitable;
}

void AddHandle(Waitable* waitable) {
    std::lock_guard<std::mutex> lock(handlesMutex);
    openHandles.insert(waitable);
}

Waitable* FindHandle(HANDLE handle) {
    std::lock_guard<std::mutex> lock(handlesMutex);
    auto found = openHandles.find(static_cast<Waitable*>(handle));
    return found == openHandles.end() ? nullptr : *found;
}

void Release(Waitable* waitable) {
    bool last;
    {
        std::lock_guard<std::mutex> lock(waitable->mutex);
        last = --waitable->owners == 0;
    }
    if (last) delete waitable;
}

void Signal(Waitable* waitable) {
    std::lock_guard<std::mutex> lock(waitable->mutex);
    waitable->isSignalled = true;
    waitable->signalled.notify_all();
}

void* RunThread(void* argument) {
    ThreadStart start = *static_cast<ThreadStart*>(argument);
    delete static_cast<ThreadStart*>(argument);
    start.routine(start.parameter);
    Signal(start.ending);
    Release(start.ending);
    return nullptr;
}

}  // namespace

bool CloseWaitableHandle(HANDLE handle) {
    {
        std::lock_guard<std::mutex> lock(handlesMutex);
        if (openHandles.erase(static_cast<Waitable*>(handle)) == 0) return false;
    }
    Release(static_cast<Waitable*>(handle));
    return true;
}

extern "C" HANDLE WINAPI CreateThread(void*, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD,
                                      LPDWORD lpThreadId) {
    Waitable* ending = NewWaitable(true, false, 2);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    auto* start = new ThreadStart{lpStartAddress, lpParameter, ending};
    int error = pthread_create(&thread, &attributes, RunThread, start);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        delete start;
        delete ending;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (lpThreadId != nullptr) *lpThreadId = ++threadsCreated;
    AddHandle(ending);
    return ending;
}

extern "C" HANDLE WINAPI CreateEventA(void*, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName) {
    if (lpName != nullptr) {  // named events are shared between processes: none here
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Waitable* event = NewWaitable(bManualReset != FALSE, bInitialState != FALSE, 1);
    AddHandle(event);
    return event;
}

extern "C" BOOL WINAPI SetEvent(HANDLE hEvent) {
    Waitable* event = FindHandle(hEvent);
    if (event == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Signal(event);
    return TRUE;
}

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    Waitable* waitable = FindHandle(hHandle);
    if (waitable == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> lock(waitable->mutex);
    auto isSignalled = [waitable] { return waitable->isSignalled; };
    if (dwMilliseconds == INFINITE) {
        waitable->signalled.wait(lock, isSignalled);
    } else if (!waitable->signalled.wait_for(lock, std::chrono::milliseconds(dwMilliseconds), isSignalled)) {
        return WAIT_TIMEOUT;
    }
    if (!waitable->manualReset) waitable->isSignalled = false;
    return WAIT_OBJECT_0;
}

extern "C" void WINAPI Sleep(DWORD dwMilliseconds) {
    struct timespec left = {static_cast<time_t>(dwMilliseconds / 1000),
                            static_cast<long>(dwMilliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

extern "C" void WINAPI AcquireSRWLockExclusive(PSRWLOCK SRWLock) { pthread_mutex_lock(&SRWLock->mutex); }

extern "C" void WINAPI ReleaseSRWLockExclusive(PSRWLOCK SRWLock) { pthread_mutex_unlock(&SRWLock->mutex); }
