#include "net/worker.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sched.h>

namespace {

// A call waiting for the GUI thread; it lives on the waiting worker's stack.
struct GuiCall {
    GuiCall(GuiCallFunction f, void* a) : fn(f), arg(a) {}
    GuiCallFunction fn;
    void* arg;
    GuiCall* next = nullptr;
    bool done = false;           // under the queue's lock
    std::condition_variable cv;  // notified under the lock, so the caller
                                 // cannot return and free it first
};

struct GuiQueue {
    std::mutex m;
    std::condition_variable guiCv;  // the GUI thread: a call arrived or a worker exited
    std::condition_variable exitCv; // other threads waiting for a worker to exit
    bool open = false;
    bool hasGuiThread = false;
    pthread_t guiThread{};
    GuiWakeFunction wake = nullptr;
    void* wakeData = nullptr;
    GuiCall* head = nullptr;
    GuiCall* tail = nullptr;
};

// Never destroyed: a detached worker may still be finishing while the
// program's static objects go away.
GuiQueue& Queue() {
    static GuiQueue* queue = new GuiQueue;
    return *queue;
}

thread_local WorkerThread* tCurrentWorker = nullptr;

bool OnGuiThreadLocked(const GuiQueue& q) {
    return q.hasGuiThread && pthread_equal(q.guiThread, pthread_self());
}

// Runs (or, once the queue is closed, drops) every queued call, in order.
int RunPendingCalls(GuiQueue& q) {
    int ran = 0;
    std::unique_lock lk(q.m);
    GuiCall* call = q.head;
    q.head = q.tail = nullptr;
    while (call) {
        GuiCall* next = call->next;
        if (q.open) {
            lk.unlock();
            call->fn(call->arg);
            lk.lock();
            ++ran;
        }
        call->done = true;
        call->cv.notify_one();
        call = next;
    }
    return ran;
}

void RunCompletion(void* arg) {
    auto* thread = static_cast<WorkerThread*>(arg);
    thread->completion(thread);
}

void* ThreadProc(void* arg) {
    auto* thread = static_cast<WorkerThread*>(arg);
    tCurrentWorker = thread;
    thread->exited = false;
    if (thread->routine) thread->routine(thread);
    thread->routineDone = true;
    if (thread->completion) RunOnGuiThread(RunCompletion, thread);
    if (thread->autoRelease) ReleaseWorkerThread(thread);
    tCurrentWorker = nullptr;
    GuiQueue& q = Queue();
    {
        // Set under the lock: a waiter that sees it may free the record at
        // once, and nothing of the record is touched after the unlock.
        std::lock_guard lk(q.m);
        thread->exited = true;
        q.guiCv.notify_all();
        q.exitCv.notify_all();
    }
    return nullptr;
}

} // namespace

int StartWorkerThread(WorkerThread* thread, int priority, bool autoRelease, WorkerRoutine routine,
                      void* data, WorkerRoutine completion) {
    if (!thread) return 0;
    thread->exited = false;
    thread->stopRequested = false;
    thread->routineDone = false;
    thread->autoRelease = autoRelease;
    thread->routine = routine;
    thread->data = data;
    thread->completion = completion;
    thread->priority = priority;

    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return 0;
    pthread_attr_setstacksize(&attr, kWorkerStackSize);
    // Applied at creation, before the routine runs. Only the normal level has
    // a meaning under SCHED_OTHER; other values are kept in the record.
    bool explicitSched = false;
    if (priority == 0) {
        sched_param param{};
        param.sched_priority = 0;
        explicitSched = pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED) == 0 &&
                        pthread_attr_setschedpolicy(&attr, SCHED_OTHER) == 0 &&
                        pthread_attr_setschedparam(&attr, &param) == 0;
    }
    // Set before the thread can run: with auto-release it clears it itself.
    thread->hasHandle = true;
    pthread_t handle{};
    int rc = pthread_create(&handle, &attr, ThreadProc, thread);
    if (rc != 0 && explicitSched) {
        // A policy the system refuses is no reason not to run the work.
        pthread_attr_setinheritsched(&attr, PTHREAD_INHERIT_SCHED);
        rc = pthread_create(&handle, &attr, ThreadProc, thread);
    }
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        thread->hasHandle = false;
        return 0;
    }
    thread->handle = handle;
    return 1;
}

void ReleaseWorkerThread(WorkerThread* thread) {
    if (!thread || !thread->hasHandle) return;
    if (tCurrentWorker == thread) {
        // The thread lets go of itself (auto-release): it cannot wait for its own end.
        pthread_detach(pthread_self());
        thread->hasHandle = false;
        return;
    }
    if (!thread->routineDone) {
        thread->stopRequested = true;
        WaitForWorkerThread(thread);
    }
    // Joined when it has exited (it is within a few instructions of its end);
    // still busy with its completion, it finishes on its own.
    if (thread->exited) {
        pthread_join(thread->handle, nullptr);
    } else {
        pthread_detach(thread->handle);
    }
    thread->hasHandle = false;
}

void WaitForWorkerThread(WorkerThread* thread) {
    if (!thread || !thread->hasHandle || thread->exited) return;
    if (tCurrentWorker == thread) return; // would wait for itself for ever
    GuiQueue& q = Queue();
    std::unique_lock lk(q.m);
    if (OnGuiThreadLocked(q)) {
        while (!thread->exited) {
            if (q.head) {
                lk.unlock();
                RunPendingCalls(q);
                lk.lock();
                continue;
            }
            q.guiCv.wait(lk);
        }
    } else {
        q.exitCv.wait(lk, [thread] { return thread->exited.load(); });
    }
}

void CreateGuiCallWindow(GuiWakeFunction wake, void* wakeData) {
    GuiQueue& q = Queue();
    std::lock_guard lk(q.m);
    q.guiThread = pthread_self();
    q.hasGuiThread = true;
    q.open = true;
    q.wake = wake;
    q.wakeData = wakeData;
}

void RunOnGuiThread(GuiCallFunction fn, void* arg) {
    if (!fn) return;
    GuiQueue& q = Queue();
    std::unique_lock lk(q.m);
    if (!q.open) return;
    if (OnGuiThreadLocked(q)) {
        lk.unlock();
        fn(arg);
        return;
    }
    GuiCall call(fn, arg);
    const bool wasEmpty = q.head == nullptr;
    if (q.tail) {
        q.tail->next = &call;
    } else {
        q.head = &call;
    }
    q.tail = &call;
    // One wake per batch: the GUI thread takes the whole queue when woken.
    // Called under the lock so that it never runs after CloseGuiCallWindow.
    if (wasEmpty && q.wake) q.wake(q.wakeData);
    q.guiCv.notify_all();
    call.cv.wait(lk, [&call] { return call.done; });
}

void CloseGuiCallWindow() {
    GuiQueue& q = Queue();
    std::lock_guard lk(q.m);
    q.open = false;
    q.wake = nullptr;
    q.wakeData = nullptr;
    for (GuiCall* call = q.head; call;) {
        GuiCall* next = call->next;
        call->done = true;
        call->cv.notify_one();
        call = next;
    }
    q.head = q.tail = nullptr;
    q.guiCv.notify_all();
}

bool GuiCallWindowOpen() {
    GuiQueue& q = Queue();
    std::lock_guard lk(q.m);
    return q.open;
}

bool IsGuiThread() {
    GuiQueue& q = Queue();
    std::lock_guard lk(q.m);
    return OnGuiThreadLocked(q);
}

int GuiCallRunPending() {
    GuiQueue& q = Queue();
    if (!IsGuiThread()) return 0;
    return RunPendingCalls(q);
}

int GuiCallWait(int timeoutMs) {
    GuiQueue& q = Queue();
    {
        std::unique_lock lk(q.m);
        if (!OnGuiThreadLocked(q)) return 0;
        auto ready = [&q] { return q.head != nullptr || !q.open; };
        if (timeoutMs < 0) {
            q.guiCv.wait(lk, ready);
        } else {
            q.guiCv.wait_for(lk, std::chrono::milliseconds(timeoutMs), ready);
        }
    }
    return RunPendingCalls(q);
}
