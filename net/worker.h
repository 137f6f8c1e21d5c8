// Worker threads, and the queue through which they have the GUI thread run
// user-interface work for them.
#pragma once

#include <atomic>
#include <cstddef>
#include <pthread.h>

struct WorkerThread;
using WorkerRoutine = void (*)(WorkerThread* thread);
using GuiCallFunction = void (*)(void* arg);
using GuiWakeFunction = void (*)(void* data);

// One per thread. The caller owns the record, which must stay valid until
// the thread has exited; it may be started again once exited is set.
struct WorkerThread {
    pthread_t handle{};                    // valid while hasHandle is set
    std::atomic<bool> hasHandle{false};
    std::atomic<bool> autoRelease{false};  // the thread releases its own handle at its end
    std::atomic<bool> stopRequested{false}; // set by ReleaseWorkerThread; a routine may poll it
    std::atomic<bool> routineDone{false};
    std::atomic<bool> exited{false};       // the thread's very last step
    WorkerRoutine routine = nullptr;       // may be null
    void* data = nullptr;
    WorkerRoutine completion = nullptr;    // run on the GUI thread after the routine; may be null
    int priority = -1;                     // as asked for; see StartWorkerThread
};

// Room for a waiting worker; tens of thousands of them must fit in memory.
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kWorkerStackSize = 512 * 1024; // sanitizer frames are much larger
#else
constexpr size_t kWorkerStackSize = 64 * 1024;
#endif

// Returns 1 when the thread runs, 0 when it could not be created (then
// neither the routine nor the completion runs and hasHandle stays clear).
// priority -1 leaves the thread as it comes; 0 asks explicitly for the normal
// time-sharing policy; other values are recorded only, since Linux's normal
// policy has no priority levels.
int StartWorkerThread(WorkerThread* thread, int priority, bool autoRelease, WorkerRoutine routine,
                      void* data, WorkerRoutine completion);
// Without a handle: nothing. Otherwise, while the routine has not finished,
// sets stopRequested and waits for the thread to exit; then lets the handle
// go. Not for records started with auto-release.
void ReleaseWorkerThread(WorkerThread* thread);
// Returns at once without a handle or when the thread has exited. On the GUI
// thread the wait keeps running queued GUI calls (and nothing else), so a
// worker blocked in RunOnGuiThread cannot dead-lock against it.
void WaitForWorkerThread(WorkerThread* thread);

// The GUI-call queue. Created once by the GUI thread, which it records as such.
// wake(data), when given, is called (from a worker, with the queue's lock
// held, so it must only post or signal) when a call arrives in an empty
// queue: the front end then calls GuiCallRunPending on its GUI thread.
void CreateGuiCallWindow(GuiWakeFunction wake = nullptr, void* wakeData = nullptr);
// Has fn(arg) run on the GUI thread. On the GUI thread it runs at once; on
// any other thread the caller blocks until the GUI thread has run it. Without
// an open queue (never created, or closed) it does nothing: fn does not run.
void RunOnGuiThread(GuiCallFunction fn, void* arg);
// Closes the queue: calls still waiting are dropped unrun and their callers
// released; later calls from workers return at once without running.
void CloseGuiCallWindow();
bool GuiCallWindowOpen();
bool IsGuiThread();
// On the GUI thread: runs every queued call and returns how many ran (0 on
// other threads).
int GuiCallRunPending();
// On the GUI thread: waits until a call is queued or timeoutMs has passed
// (negative: no limit), then runs the pending calls; returns how many ran.
int GuiCallWait(int timeoutMs);
