#include "net/worker.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A door that holds routines until the test opens it.
struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    void Open() {
        std::lock_guard lk(m);
        open = true;
        cv.notify_all();
    }
    void Wait() {
        std::unique_lock lk(m);
        cv.wait(lk, [this] { return open; });
    }
};

// Waits (without running GUI calls) until pred holds; false after 20 s.
template <class Pred> bool WaitUntil(Pred pred) {
    for (int i = 0; i < 20000; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(1ms);
    }
    return pred();
}

// Runs GUI calls, as a front end's loop does, until pred holds; false after 60 s.
template <class Pred> bool PumpUntil(Pred pred) {
    for (int i = 0; i < 12000; ++i) {
        if (pred()) return true;
        GuiCallWait(5);
    }
    return pred();
}

// What a test's routine and completion saw.
struct Seen {
    std::atomic<int> guiCalls{0};
    std::atomic<int> guiCallsOffGuiThread{0};
    std::atomic<int> completions{0};
    std::atomic<int> completionsOffGuiThread{0};
    std::atomic<bool> sawStop{false};
    Gate gate;
};

Seen* SeenOf(WorkerThread* t) { return static_cast<Seen*>(t->data); }

void CountGuiCall(void* arg) {
    auto* seen = static_cast<Seen*>(arg);
    if (!IsGuiThread()) ++seen->guiCallsOffGuiThread;
    ++seen->guiCalls;
}

void CountCompletion(WorkerThread* t) {
    if (!IsGuiThread()) ++SeenOf(t)->completionsOffGuiThread;
    ++SeenOf(t)->completions;
}

void RoutineUntilStopped(WorkerThread* t) {
    while (!t->stopRequested) std::this_thread::sleep_for(1ms);
    SeenOf(t)->sawStop = true;
}

void RoutineQuick(WorkerThread*) {}

void RoutineCallsGuiFiveTimes(WorkerThread* t) {
    for (int i = 0; i < 5; ++i) RunOnGuiThread(CountGuiCall, t->data);
}

void RoutineBehindGate(WorkerThread* t) { SeenOf(t)->gate.Wait(); }

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override { CreateGuiCallWindow(); }
    void TearDown() override { CloseGuiCallWindow(); }
};

TEST_F(WorkerTest, ReleaseAndWaitWithoutHandleChangeNothing) {
    WorkerThread t;
    ReleaseWorkerThread(&t);
    WaitForWorkerThread(&t);
    EXPECT_FALSE(t.hasHandle);
    EXPECT_FALSE(t.stopRequested);
    EXPECT_FALSE(t.exited);
    ReleaseWorkerThread(nullptr);
    WaitForWorkerThread(nullptr);
}

TEST_F(WorkerTest, ReleaseStopsARunningRoutineAndReturnsAfterItsExit) {
    for (bool fromGuiThread : {true, false}) {
        SCOPED_TRACE(fromGuiThread ? "released on the GUI thread" : "released on another thread");
        Seen seen;
        WorkerThread t;
        ASSERT_EQ(StartWorkerThread(&t, -1, false, RoutineUntilStopped, &seen, CountCompletion), 1);
        EXPECT_TRUE(t.hasHandle);
        if (fromGuiThread) {
            // The completion needs the GUI thread while it waits: no dead-lock.
            ReleaseWorkerThread(&t);
        } else {
            std::atomic<bool> released{false};
            std::thread other([&] {
                ReleaseWorkerThread(&t);
                released = true;
            });
            EXPECT_TRUE(PumpUntil([&] { return released.load(); }));
            other.join();
        }
        EXPECT_TRUE(t.stopRequested);
        EXPECT_TRUE(seen.sawStop);
        EXPECT_TRUE(t.exited);
        EXPECT_FALSE(t.hasHandle);
        EXPECT_EQ(seen.completions, 1);
        EXPECT_EQ(seen.completionsOffGuiThread, 0);
    }
}

TEST_F(WorkerTest, ReleaseAfterTheRoutineOnlyLetsGoOfTheHandle) {
    Seen seen;
    WorkerThread t;
    ASSERT_EQ(StartWorkerThread(&t, -1, false, RoutineQuick, &seen, CountCompletion), 1);
    // The thread now waits for the GUI thread to run its completion.
    ASSERT_TRUE(WaitUntil([&] { return t.routineDone.load(); }));
    ReleaseWorkerThread(&t);
    EXPECT_FALSE(t.hasHandle);
    EXPECT_FALSE(t.stopRequested);
    EXPECT_EQ(seen.completions, 0); // it did not wait, so nothing ran
    EXPECT_TRUE(PumpUntil([&] { return t.exited.load(); }));
    EXPECT_EQ(seen.completions, 1);
}

TEST_F(WorkerTest, GuiThreadWaitRunsTheWorkersCallsInsteadOfDeadlocking) {
    Seen seen;
    WorkerThread t;
    ASSERT_EQ(StartWorkerThread(&t, 0, false, RoutineCallsGuiFiveTimes, &seen, CountCompletion), 1);
    WaitForWorkerThread(&t);
    EXPECT_TRUE(t.exited);
    EXPECT_EQ(seen.guiCalls, 5);
    EXPECT_EQ(seen.guiCallsOffGuiThread, 0);
    EXPECT_EQ(seen.completions, 1);
    EXPECT_EQ(seen.completionsOffGuiThread, 0);
    EXPECT_TRUE(t.hasHandle);
    ReleaseWorkerThread(&t);
    EXPECT_FALSE(t.hasHandle);
}

TEST_F(WorkerTest, OtherThreadsWaitWithoutRunningGuiCalls) {
    Seen seen;
    WorkerThread t;
    ASSERT_EQ(StartWorkerThread(&t, -1, false, RoutineBehindGate, &seen, CountCompletion), 1);
    std::atomic<bool> waited{false};
    std::thread other([&] {
        WaitForWorkerThread(&t);
        waited = true;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(waited); // the routine cannot have ended yet
    seen.gate.Open();
    // The completion runs only when the GUI thread runs calls.
    EXPECT_TRUE(PumpUntil([&] { return waited.load(); }));
    other.join();
    EXPECT_TRUE(t.exited);
    EXPECT_EQ(seen.completions, 1);
    EXPECT_EQ(GuiCallRunPending(), 0);
    ReleaseWorkerThread(&t);
}

TEST_F(WorkerTest, CallFromTheGuiThreadRunsAtOnce) {
    Seen seen;
    RunOnGuiThread(CountGuiCall, &seen);
    EXPECT_EQ(seen.guiCalls, 1);
    RunOnGuiThread(nullptr, &seen);
    EXPECT_EQ(GuiCallWait(1), 0);
    int fromOther = -1;
    std::thread([&] { fromOther = GuiCallRunPending(); }).join();
    EXPECT_EQ(fromOther, 0);
}

TEST_F(WorkerTest, WithoutAnOpenQueueCallsAndCompletionsAreSkipped) {
    CloseGuiCallWindow();
    EXPECT_FALSE(GuiCallWindowOpen());
    Seen seen;
    RunOnGuiThread(CountGuiCall, &seen);
    EXPECT_EQ(seen.guiCalls, 0);

    WorkerThread t;
    ASSERT_EQ(StartWorkerThread(&t, -1, false, RoutineCallsGuiFiveTimes, &seen, CountCompletion), 1);
    WaitForWorkerThread(&t);
    EXPECT_TRUE(t.exited);
    EXPECT_EQ(seen.guiCalls, 0);
    EXPECT_EQ(seen.completions, 0);
    ReleaseWorkerThread(&t);
}

struct WakeCounter {
    std::mutex m;
    std::condition_variable cv;
    int wakes = 0;
    int handled = 0;
};

void CountWake(void* data) {
    auto* w = static_cast<WakeCounter*>(data);
    std::lock_guard lk(w->m);
    ++w->wakes;
    w->cv.notify_all();
}

TEST_F(WorkerTest, CloseReleasesAWorkerBlockedInACall) {
    WakeCounter wake;
    CreateGuiCallWindow(CountWake, &wake);
    Seen seen;
    WorkerThread t;
    ASSERT_EQ(StartWorkerThread(&t, -1, false, RoutineCallsGuiFiveTimes, &seen, CountCompletion), 1);
    {
        std::unique_lock lk(wake.m);
        ASSERT_TRUE(wake.cv.wait_for(lk, 20s, [&] { return wake.wakes > 0; }));
    }
    CloseGuiCallWindow();
    WaitForWorkerThread(&t);
    EXPECT_TRUE(t.exited);
    EXPECT_EQ(seen.guiCalls, 0);
    EXPECT_EQ(seen.completions, 0);
    ReleaseWorkerThread(&t);
}

TEST_F(WorkerTest, WakeFunctionLetsAFrontEndLoopRunTheCalls) {
    WakeCounter wake;
    CreateGuiCallWindow(CountWake, &wake);
    Seen seen;
    WorkerThread t;
    ASSERT_EQ(StartWorkerThread(&t, -1, true, RoutineCallsGuiFiveTimes, &seen, CountCompletion), 1);
    // An event loop that sleeps until woken, as the window's does.
    while (!t.exited) {
        {
            std::unique_lock lk(wake.m);
            if (!wake.cv.wait_for(lk, 20ms, [&] { return wake.wakes > wake.handled; })) continue;
            wake.handled = wake.wakes;
        }
        GuiCallRunPending();
    }
    EXPECT_EQ(seen.guiCalls, 5);
    EXPECT_EQ(seen.completions, 1);
    EXPECT_EQ(seen.guiCallsOffGuiThread + seen.completionsOffGuiThread, 0);
    EXPECT_GE(wake.wakes, 1);
    EXPECT_LE(wake.wakes, 6);
}

TEST_F(WorkerTest, AutoReleasedRecordCanBeStartedAgain) {
    Seen seen;
    WorkerThread t;
    for (int round = 1; round <= 2; ++round) {
        ASSERT_EQ(StartWorkerThread(&t, 0, true, RoutineCallsGuiFiveTimes, &seen, CountCompletion), 1);
        EXPECT_TRUE(PumpUntil([&] { return t.exited.load(); }));
        EXPECT_FALSE(t.hasHandle);
        EXPECT_TRUE(t.routineDone);
        EXPECT_FALSE(t.stopRequested);
        EXPECT_EQ(seen.completions, round);
        EXPECT_EQ(seen.guiCalls, 5 * round);
    }
}

TEST_F(WorkerTest, TwoThousandWorkersStartWaitAndFinishOnTheGuiThread) {
    constexpr int kWorkers = 2000;
    Seen seen;
    auto threads = std::make_unique<WorkerThread[]>(kWorkers);
    int started = 0;
    while (started < kWorkers &&
           StartWorkerThread(&threads[started], 0, true, RoutineBehindGate, &seen, CountCompletion))
        ++started;
    EXPECT_EQ(started, kWorkers);
    seen.gate.Open();
    auto allExited = [&] {
        for (int i = 0; i < started; ++i) {
            if (!threads[i].exited) return false;
        }
        return true;
    };
    EXPECT_TRUE(PumpUntil(allExited));
    EXPECT_EQ(seen.completions, started);
    EXPECT_EQ(seen.completionsOffGuiThread, 0);
}

} // namespace
