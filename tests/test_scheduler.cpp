#include "jobs/scheduler.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/adding.h"
#include "converter/profiles.h"
#include "converter/progress.h"
#include "jobs/job.h"
#include "net/worker.h"
#include "tests/fake/fake_log.h"

namespace fs = std::filesystem;

namespace {

struct RunProgress {
    int active;
    int workers;
    int percent;
};

// The window as the scheduler sees it: records every call, answers the
// questions as told. Runs on the test's main thread, the GUI thread.
class RecordingFront : public SchedulerFrontEnd {
public:
    JobStore* store = nullptr;
    int maxConversions = 0; // the limit the run must keep to

    std::vector<bool> busyCalls;
    std::vector<RunProgress> progress;
    std::vector<std::string> events; // "start N" and "end N" as first seen
    std::vector<int> startOrder;
    std::map<RunQuestion, bool> answers;
    std::vector<RunQuestion> asked;
    bool confirmAnswer = true;
    int confirmCalls = 0;
    int saveCalls = 0;
    int runStartingCalls = 0;
    int runEndedCalls = 0;
    int requeuedCalls = 0;
    int addDialogCalls = 0;
    int closeCalls = 0;
    int commandStateCalls = 0;
    int focused = -1;
    int maxRunning = 0;
    // Faults found on the way: a job started while an earlier one waited.
    std::vector<std::string> orderFaults;
    std::function<void(ConversionJob*)> onRow;

    void SetBusyState(bool busy) override { busyCalls.push_back(busy); }
    void ShowRunProgress(int active, int workers, int percent) override {
        progress.push_back({active, workers, percent});
    }
    void ShowJobRow(int position) override {
        ConversionJob* job = JobAt(store, position);
        int16_t status = job->status.load();
        bool running = status == Starting || status == Converting;
        if (running && std::find(startOrder.begin(), startOrder.end(), position) == startOrder.end()) {
            // Two jobs starting together may report their rows in either
            // order: an earlier job already past waiting started first
            // (orderFaults checks that a later one never overtakes it).
            for (int i = 0; i < position; ++i) {
                const int16_t earlier = JobAt(store, i)->status.load();
                if (earlier != Pending && earlier != Ready &&
                    std::find(startOrder.begin(), startOrder.end(), i) == startOrder.end() &&
                    JobAt(store, i)->startTick != 0)
                    startOrder.push_back(i);
            }
            startOrder.push_back(position);
            events.push_back("start " + std::to_string(position));
            for (int i = 0; i < position; ++i) {
                if (JobAt(store, i)->status.load() == Pending)
                    orderFaults.push_back(std::to_string(position) + " started while " +
                                          std::to_string(i) + " waited");
            }
        }
        std::string end = "end " + std::to_string(position);
        if ((status == Done || status == ConvertError) &&
            std::find(events.begin(), events.end(), end) == events.end())
            events.push_back(end);
        int now = 0;
        for (int i = 0; i < JobCount(store); ++i) {
            int16_t s = JobAt(store, i)->status.load();
            if (s == Starting || s == Converting) ++now;
        }
        maxRunning = std::max(maxRunning, now);
        if (onRow) onRow(job);
    }
    void UpdateCommandStates() override { ++commandStateCalls; }
    bool Ask(RunQuestion question, int) override {
        asked.push_back(question);
        auto it = answers.find(question);
        return it == answers.end() ? true : it->second;
    }
    bool ConfirmRun(int) override {
        ++confirmCalls;
        return confirmAnswer;
    }
    void SaveSettings() override { ++saveCalls; }
    void RunStarting() override { ++runStartingCalls; }
    void RunEnded() override { ++runEndedCalls; }
    void JobsRequeued() override { ++requeuedCalls; }
    bool AddVideosByDialog() override {
        ++addDialogCalls;
        return false;
    }
    int FocusedJob() override { return focused; }
    void CloseMainWindow() override { ++closeCalls; }

    int EventIndex(const std::string& event) const {
        auto it = std::find(events.begin(), events.end(), event);
        return it == events.end() ? -1 : static_cast<int>(it - events.begin());
    }
};

// Runs GUI calls, as the window's loop does, until pred holds. The limit is
// only a guard against a hang, never a speed check.
template <class Pred> bool PumpUntil(Pred pred) {
    for (int i = 0; i < 6000; ++i) {
        if (pred()) return true;
        GuiCallWait(10);
    }
    return pred();
}

bool ProcessAlive(long pid) {
    std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline");
    std::string text;
    std::getline(cmdline, text, '\0');
    return cmdline.good() && text.find("fake-convert") != std::string::npos;
}

class SchedulerTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/movenna-sched-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        dest_ = dir_ + "/out";
        fs::create_directories(dest_);
        fs::create_directories(dir_ + "/src");
        log_ = dir_ + "/fake.log";
        setenv("FAKE_CONVERT_LOG", log_.c_str(), 1);
        unsetenv("FAKE_CONVERT_SCRIPT");
        unsetenv("FAKE_CONVERT_COUNTER");
        ASSERT_TRUE(ProgressOpen());
        CreateGuiCallWindow();
        JobLockCreate();
        store_ = JobStoreCreate();
        SettingsReset(settings_);
        settings_.destFolder = dest_;
        settings_.maxConversions = 2;
        front_.store = store_;
        SchedulerInit(&front_, store_, &settings_, FakeConvertPath());
    }

    void TearDown() override {
        // A failed test may leave a run going: end it before the list goes.
        StopAllConversionsNow();
        PumpUntil([] { return CountLiveWorkers() == 0; });
        WaitForAllWorkersExited(store_);
        GuiCallRunPending();
        JobStoreRelease(store_);
        JobLockClose();
        CloseGuiCallWindow();
        ProgressClose();
        unsetenv("FAKE_CONVERT_LOG");
        unsetenv("FAKE_CONVERT_COUNTER");
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, ec);
        fs::remove_all(dir_, ec);
    }

    // A source whose conversion follows script; added Ready as a probe would.
    ConversionJob* AddJob(const std::string& script, const std::string& name = "") {
        std::string base = name.empty() ? "clip" + std::to_string(JobCount(store_)) : name;
        std::string path = dir_ + "/src/" + base + ".avi";
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << "fake-script:" << script << "\n";
        ConversionJob* job = JobCreate(path);
        job->origin = 1;
        job->profileId = settings_.profileId;
        job->displayName = JobNameFromSource(path);
        job->duration = 60;
        job->status = Ready;
        EXPECT_GE(JobStoreAppend(store_, job), 0);
        return job;
    }

    ConversionJob* Job(int i) { return JobAt(store_, i); }
    int16_t StatusOf(int i) { return Job(i)->status.load(); }

    // Starts a run and waits for its end (every completion handled).
    void RunToEnd() {
        int ended = front_.runEndedCalls;
        front_.maxConversions = settings_.maxConversions;
        ASSERT_TRUE(StartConversions());
        WaitForEnd(ended);
    }
    void WaitForEnd(int endedBefore) {
        ASSERT_TRUE(PumpUntil([&] { return front_.runEndedCalls > endedBefore; }))
            << "the run did not end";
        WaitForAllWorkersExited(store_);
        EXPECT_EQ(CountLiveWorkers(), 0);
        EXPECT_EQ(ActiveCount.load(), 0);
        EXPECT_FALSE(Busy.load());
    }
    bool WaitForStatus(int i, int16_t status) {
        return PumpUntil([&] { return StatusOf(i) == status; });
    }
    // The fake has logged a run of job i's source: its process is up.
    bool WaitForProcess(int i) {
        std::string source = Job(i)->sourcePath;
        return PumpUntil([&] {
            for (const FakeCall& call : ReadFakeLog(log_))
                if (std::find(call.argv.begin(), call.argv.end(), source) != call.argv.end())
                    return true;
            return false;
        });
    }
    int RunsOf(int i) {
        int runs = 0;
        for (const FakeCall& call : ReadFakeLog(log_))
            runs += std::count(call.argv.begin(), call.argv.end(), Job(i)->sourcePath) > 0;
        return runs;
    }
    void ExpectNoConverterLeft() {
        for (const FakeCall& call : ReadFakeLog(log_))
            EXPECT_FALSE(ProcessAlive(call.pid)) << "fake-convert " << call.pid << " still runs";
    }
    std::string Ext() const { return ProfileExtension(settings_.profileId); }

    std::string dir_, dest_, log_;
    JobStore* store_ = nullptr;
    AppSettings settings_;
    RecordingFront front_;
};

TEST_F(SchedulerTest, FiveJobsTwoPlacesStartInListOrder) {
    AddJob("progress:0;sleep:150;output:10");
    AddJob("progress:0;sleep:1500;output:10");
    for (int i = 0; i < 3; ++i) AddJob("progress:0;sleep:150;output:10");
    front_.onRow = [&](ConversionJob* job) {
        // While the first two convert, the rest wait.
        if (job->position == 0 && job->status.load() == Converting) {
            for (int i = 2; i < 5; ++i) EXPECT_EQ(StatusOf(i), Pending) << i;
        }
    };
    RunToEnd();
    EXPECT_EQ(front_.startOrder, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_TRUE(front_.orderFaults.empty()) << front_.orderFaults.front();
    EXPECT_LE(front_.maxRunning, 2);
    for (const RunProgress& p : front_.progress) EXPECT_LE(p.active, 2);
    // Job 3 took job 1's place, while job 2 still ran.
    EXPECT_LT(front_.EventIndex("end 0"), front_.EventIndex("start 2"));
    EXPECT_LT(front_.EventIndex("start 2"), front_.EventIndex("end 1"));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(StatusOf(i), Done) << i;
    EXPECT_EQ(RunFinished, 5);
    EXPECT_EQ(RunQueued, 5);
    EXPECT_EQ(front_.busyCalls, (std::vector<bool>{true, false}));
    EXPECT_EQ(front_.runStartingCalls, 1);
    EXPECT_EQ(front_.runEndedCalls, 1);
    EXPECT_EQ(front_.saveCalls, 1);
    EXPECT_EQ(front_.closeCalls, 0);
    ASSERT_FALSE(front_.progress.empty());
    EXPECT_EQ(front_.progress.back().percent, 100);
}

TEST_F(SchedulerTest, ManyJobsWithOneNameKeepTheLimitAndGetDistinctOutputs) {
    settings_.maxConversions = 5;
    for (int i = 0; i < 60; ++i) AddJob("output:" + std::to_string(100 + i), "sub" + std::to_string(i) + "/clip");
    RunToEnd();
    EXPECT_TRUE(front_.orderFaults.empty()) << front_.orderFaults.front();
    EXPECT_LE(front_.maxRunning, 5);
    std::set<std::string> outputs;
    for (int i = 0; i < 60; ++i) {
        ASSERT_EQ(StatusOf(i), Done) << i;
        outputs.insert(Job(i)->outputPath);
        // Each output is the job's own (the fake wrote 100 + i bytes).
        EXPECT_EQ(fs::file_size(Job(i)->outputPath), 100u + i) << Job(i)->outputPath;
        EXPECT_EQ(Job(i)->outputSize, 100u + i);
    }
    EXPECT_EQ(outputs.size(), 60u);
    EXPECT_TRUE(outputs.count(dest_ + "/clip" + Ext()));
    EXPECT_TRUE(outputs.count(dest_ + "/clip(1)" + Ext()));
    EXPECT_TRUE(outputs.count(dest_ + "/clip(59)" + Ext()));
}

TEST_F(SchedulerTest, TwoSourcesOfOneNameGetNameAndNameOne) {
    AddJob("output:111", "a/holiday");
    AddJob("output:222", "b/holiday");
    RunToEnd();
    ASSERT_EQ(StatusOf(0), Done);
    ASSERT_EQ(StatusOf(1), Done);
    std::set<std::string> outputs{Job(0)->outputPath, Job(1)->outputPath};
    EXPECT_EQ(outputs, (std::set<std::string>{dest_ + "/holiday" + Ext(), dest_ + "/holiday(1)" + Ext()}));
    EXPECT_EQ(Job(0)->displayName, "holiday");
    EXPECT_EQ(Job(1)->displayName, "holiday");
}

TEST_F(SchedulerTest, OverallPercentCountsFinishedJobsAndSlots) {
    AddJob("progress:100;output:10");
    AddJob("stopexit:0;output:10;progress:50;hang");
    AddJob("stopexit:0;output:10;progress:30;hang");
    AddJob("output:10");
    front_.maxConversions = 2;
    ASSERT_TRUE(StartConversions());
    // One finished, two converting at 50 and 30, one waiting: 2 / 3, 45 %.
    ASSERT_TRUE(PumpUntil([&] {
        const auto& p = front_.progress;
        return !p.empty() && p.back().active == 2 && p.back().workers == 3 && p.back().percent == 45;
    })) << "last: " << front_.progress.back().active << " / " << front_.progress.back().workers << " "
        << front_.progress.back().percent;
    EXPECT_EQ(StatusOf(3), Pending);
    int ended = front_.runEndedCalls;
    StopAllConversionsNow();
    WaitForEnd(ended);
    EXPECT_EQ(StatusOf(0), Done);
    for (int i = 1; i < 4; ++i) EXPECT_EQ(StatusOf(i), Cancelled) << i;
}

struct OutcomeCase {
    const char* name;
    const char* script; // one call per run of the source, by the counter
    int16_t status;
    int64_t size; // -1: no output file
    int runs;
};

TEST_F(SchedulerTest, ConverterOutcomesGiveTheJobStatus) {
    const OutcomeCase cases[] = {
        {"success", "progress:0,50,100;output:4096", Done, 4096, 1},
        {"failure with partial output", "output:500;exit:3", ConvertError, -1, 1},
        {"exit 0 without output", "exit:0", ConvertError, -1, 1},
        {"empty output", "output:0", ConvertError, -1, 1},
        {"crash", "progress:20;output:100;crash", ConvertError, -1, 1},
        {"killed by a signal", "output:100;signal:9", ConvertError, -1, 1},
        {"audio refused, retry succeeds", "output:10;exit:-25|output:800", Done, 800, 2},
        {"audio refused twice", "exit:-25|exit:-25", ConvertError, -1, 2},
    };
    setenv("FAKE_CONVERT_COUNTER", (dir_ + "/counter").c_str(), 1);
    int index = 0;
    for (const OutcomeCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(dir_ + "/counter");
        ConversionJob* job = AddJob(c.script);
        RunToEnd();
        EXPECT_EQ(job->status.load(), c.status);
        EXPECT_EQ(RunsOf(index), c.runs);
        std::string expected = dest_ + "/clip" + std::to_string(index) + Ext();
        EXPECT_EQ(job->outputPath, expected);
        if (c.size < 0) {
            EXPECT_FALSE(fs::exists(expected));
        } else {
            ASSERT_TRUE(fs::exists(expected));
            EXPECT_EQ(static_cast<int64_t>(fs::file_size(expected)), c.size);
            EXPECT_EQ(static_cast<int64_t>(job->outputSize), c.size);
        }
        EXPECT_EQ(front_.busyCalls.back(), false);
        ++index;
    }
    ExpectNoConverterLeft();
}

TEST_F(SchedulerTest, FailedJobDoesNotStopTheRun) {
    settings_.maxConversions = 1;
    AddJob("output:100;crash");
    AddJob("exit:7");
    AddJob("output:300");
    RunToEnd();
    EXPECT_EQ(StatusOf(0), ConvertError);
    EXPECT_EQ(StatusOf(1), ConvertError);
    EXPECT_EQ(StatusOf(2), Done);
    EXPECT_EQ(front_.runEndedCalls, 1);
    EXPECT_GE(front_.commandStateCalls, 3);
    ASSERT_FALSE(front_.progress.empty());
    EXPECT_EQ(front_.progress.back().percent, 100);
}

TEST_F(SchedulerTest, MissingConverterFailsEveryJob) {
    SchedulerInit(&front_, store_, &settings_, dir_ + "/no-such-converter");
    AddJob("output:10");
    AddJob("output:10");
    RunToEnd();
    EXPECT_EQ(StatusOf(0), ConvertError);
    EXPECT_EQ(StatusOf(1), ConvertError);
    EXPECT_TRUE(fs::is_empty(dest_));
}

TEST_F(SchedulerTest, SingleFailingRunEndsIdle) {
    settings_.exitAfter = 1;
    AddJob("exit:1");
    RunToEnd();
    EXPECT_EQ(StatusOf(0), ConvertError);
    EXPECT_EQ(front_.busyCalls, (std::vector<bool>{true, false}));
    EXPECT_EQ(front_.runEndedCalls, 1);
    // A failure is no reason to skip the end-of-run exit.
    EXPECT_EQ(front_.closeCalls, 1);
}

TEST_F(SchedulerTest, StopAllAnsweredCancelLetsEverythingFinishWithoutExit) {
    settings_.exitAfter = 1;
    settings_.shutdownAfter = 1;
    front_.answers[RunQuestion::StopAll] = false;
    AddJob("progress:10;sleep:300;output:10");
    AddJob("progress:10;sleep:300;output:10");
    AddJob("output:10");
    front_.maxConversions = 2;
    ASSERT_TRUE(StartConversions());
    ASSERT_TRUE(WaitForProcess(0));
    StopConversions(true);
    EXPECT_TRUE(StopAllMark);
    WaitForEnd(0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(StatusOf(i), Done) << i;
    EXPECT_EQ(front_.closeCalls, 0);
    EXPECT_FALSE(ShutdownPending);
    EXPECT_EQ(std::count(front_.asked.begin(), front_.asked.end(), RunQuestion::StopAll), 1);
}

TEST_F(SchedulerTest, StopAllWithoutWorkersAsksNothing) {
    StopConversions(true);
    EXPECT_TRUE(front_.asked.empty());
    EXPECT_FALSE(StopAllMark);
}

TEST_F(SchedulerTest, StoppingEveryJobOneByOneStillExits) {
    settings_.exitAfter = 1;
    for (int i = 0; i < 3; ++i) AddJob("stopexit:0;output:10;progress:10;hang");
    front_.maxConversions = 2;
    ASSERT_TRUE(StartConversions());
    ASSERT_TRUE(WaitForStatus(2, Pending));
    front_.focused = 2;
    StopConversions(false);
    EXPECT_EQ(StatusOf(2), Cancelled);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(WaitForProcess(i));
        front_.focused = i;
        StopConversions(false);
        EXPECT_EQ(StatusOf(i), Cancelled);
    }
    WaitForEnd(0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(StatusOf(i), Cancelled) << i;
    EXPECT_FALSE(StopAllMark);
    EXPECT_EQ(front_.closeCalls, 1);
    EXPECT_EQ(RunsOf(2), 0);
    ExpectNoConverterLeft();
}

TEST_F(SchedulerTest, StopOneAnsweredCancelOrOnAFinishedJobChangesNothing) {
    front_.answers[RunQuestion::StopOne] = false;
    AddJob("progress:10;sleep:200;output:10");
    AddJob("output:10");
    ASSERT_TRUE(StartConversions());
    ASSERT_TRUE(WaitForProcess(0));
    front_.focused = 0;
    StopConversions(false);
    EXPECT_NE(StatusOf(0), Cancelled);
    WaitForEnd(0);
    EXPECT_EQ(StatusOf(0), Done);
    size_t asked = front_.asked.size();
    front_.answers[RunQuestion::StopOne] = true;
    StopConversions(false); // Done: not stoppable, no question
    front_.focused = -1;
    StopConversions(false);
    front_.focused = 7;
    StopConversions(false);
    EXPECT_EQ(front_.asked.size(), asked);
    EXPECT_EQ(StatusOf(0), Done);
}

TEST_F(SchedulerTest, ConvertCommandOffersToRetryCancelledJobs) {
    AddJob("output:10")->status = Cancelled;
    AddJob("output:10")->status = Cancelled;
    ConvertCommand();
    WaitForEnd(0);
    EXPECT_EQ(front_.asked, (std::vector<RunQuestion>{RunQuestion::RetryCancelled}));
    EXPECT_EQ(front_.requeuedCalls, 1);
    EXPECT_EQ(front_.addDialogCalls, 0);
    EXPECT_EQ(StatusOf(0), Done);
    EXPECT_EQ(StatusOf(1), Done);
}

TEST_F(SchedulerTest, RetriedJobReplacesTheFileOfItsStoppedRun) {
    // The stopped run left clip0.mp4; a finished entry owns shared.mp4.
    ConversionJob* stopped = AddJob("output:10");
    stopped->status = Cancelled;
    stopped->outputPath = dest_ + "/clip0" + Ext();
    std::ofstream(stopped->outputPath) << "stopped half way";
    ConversionJob* sharing = AddJob("output:10");
    sharing->status = Cancelled;
    sharing->outputPath = dest_ + "/shared" + Ext();
    std::ofstream(sharing->outputPath) << "converted";
    ConversionJob* owner = AddJob("output:10");
    owner->status = Done;
    owner->outputPath = sharing->outputPath;

    ConvertCommand();
    WaitForEnd(0);
    ASSERT_EQ(StatusOf(0), Done);
    // The same name again, not clip0(1): the half file is gone.
    EXPECT_EQ(Job(0)->outputPath, dest_ + "/clip0" + Ext());
    EXPECT_EQ(fs::file_size(Job(0)->outputPath), 10u);
    // A file a finished entry owns stays.
    ASSERT_EQ(StatusOf(1), Done);
    EXPECT_EQ(Job(1)->outputPath, dest_ + "/clip1" + Ext());
    std::ifstream kept(dest_ + "/shared" + Ext());
    std::string text;
    std::getline(kept, text);
    EXPECT_EQ(text, "converted");
}

TEST_F(SchedulerTest, ConvertCommandRetryDeclinedOpensTheAddDialog) {
    front_.answers[RunQuestion::RetryCancelled] = false;
    AddJob("output:10")->status = Cancelled;
    AddJob("output:10")->status = Cancelled;
    ConvertCommand();
    EXPECT_EQ(front_.addDialogCalls, 1);
    EXPECT_EQ(front_.requeuedCalls, 0);
    EXPECT_EQ(front_.confirmCalls, 0);
    EXPECT_EQ(StatusOf(0), Cancelled);
    EXPECT_EQ(StatusOf(1), Cancelled);
    EXPECT_EQ(CountLiveWorkers(), 0);
}

TEST_F(SchedulerTest, ConvertCommandOnAnEmptyListOpensTheAddDialog) {
    ConvertCommand();
    EXPECT_TRUE(front_.asked.empty());
    EXPECT_EQ(front_.addDialogCalls, 1);
    EXPECT_EQ(front_.confirmCalls, 0);
}

TEST_F(SchedulerTest, ShutdownQuestionDeclinedStartsNothing) {
    settings_.shutdownAfter = 1;
    front_.answers[RunQuestion::ShutdownAfter] = false;
    AddJob("output:10");
    EXPECT_FALSE(StartConversions());
    EXPECT_EQ(front_.confirmCalls, 0);
    EXPECT_EQ(front_.saveCalls, 0);
    EXPECT_EQ(StatusOf(0), Ready);
    EXPECT_EQ(CountLiveWorkers(), 0);
    EXPECT_TRUE(front_.busyCalls.empty());
    EXPECT_TRUE(ReadFakeLog(log_).empty());
}

TEST_F(SchedulerTest, SettingsDialogCancelledStartsNothing) {
    front_.confirmAnswer = false;
    AddJob("output:10");
    EXPECT_TRUE(StartConversions());
    EXPECT_EQ(front_.confirmCalls, 1);
    EXPECT_EQ(front_.saveCalls, 0);
    EXPECT_EQ(StatusOf(0), Ready);
    EXPECT_EQ(CountLiveWorkers(), 0);
    EXPECT_TRUE(front_.busyCalls.empty());
}

TEST_F(SchedulerTest, ShutdownAfterARunClosesTheWindowAndMarksThePowerOff) {
    settings_.shutdownAfter = 1;
    AddJob("output:10");
    RunToEnd();
    EXPECT_EQ(front_.asked, (std::vector<RunQuestion>{RunQuestion::ShutdownAfter}));
    EXPECT_TRUE(ShutdownPending);
    EXPECT_EQ(front_.closeCalls, 1);
}

TEST_F(SchedulerTest, RaisingTheLimitLetsTwoMoreStart) {
    settings_.maxConversions = 1;
    for (int i = 0; i < 5; ++i) AddJob("progress:10;hang");
    ASSERT_TRUE(StartConversions());
    ASSERT_TRUE(WaitForProcess(0));
    EXPECT_EQ(StatusOf(1), Pending);
    {
        JobLockGuard lock;
        settings_.maxConversions = 3;
    }
    SchedulerSettingsChanged();
    ASSERT_TRUE(WaitForProcess(1));
    ASSERT_TRUE(WaitForProcess(2));
    EXPECT_EQ(StatusOf(3), Pending);
    EXPECT_EQ(StatusOf(4), Pending);
    EXPECT_EQ(ActiveCount.load(), 3);
    EXPECT_EQ(front_.startOrder, (std::vector<int>{0, 1, 2}));
    // Lowering it lets the running ones finish and holds the rest back.
    {
        JobLockGuard lock;
        settings_.maxConversions = 1;
    }
    SchedulerSettingsChanged();
    front_.focused = 0;
    StopConversions(false);
    ASSERT_TRUE(PumpUntil([] { return ActiveCount.load() == 2; }));
    EXPECT_EQ(StatusOf(3), Pending);
    StopAllConversionsNow();
    WaitForEnd(0);
    EXPECT_EQ(RunsOf(3), 0);
    EXPECT_EQ(RunsOf(4), 0);
}

struct ProbeCase {
    const char* name;
    const char* script;
    AddOutcome outcome;
};

TEST_F(SchedulerTest, ProbeOutcomes) {
    const ProbeCase cases[] = {
        {"accepted", "duration:42.9", AddOutcome::Added},
        {"invalid video", "exit:-20", AddOutcome::InvalidVideo},
        {"crashed probe", "crash", AddOutcome::Refused},
    };
    for (const ProbeCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir_ + "/src/" + c.name + ".xyz";
        std::ofstream(path) << "fake-script:" << c.script << "\n";
        int before = JobCount(store_);
        EXPECT_EQ(AddVideoFile(store_, settings_, FakeConvertPath(), path), c.outcome);
        EXPECT_EQ(JobCount(store_), before + (c.outcome == AddOutcome::Added ? 1 : 0));
    }
    ASSERT_EQ(JobCount(store_), 1);
    EXPECT_EQ(Job(0)->duration, 42u);
    EXPECT_EQ(StatusOf(0), Ready);
    EXPECT_EQ(Job(0)->displayName, "accepted");
}

TEST_F(SchedulerTest, FullListRefusesAddingDuringARun) {
    // Dropping the oldest entry could free a job whose worker still runs.
    for (int i = 0; i < MaxJobs; ++i) {
        ConversionJob* job = JobCreate("/videos/old.avi");
        job->status = Done;
        JobStoreAppend(store_, job);
    }
    ConversionJob* first = Job(0);
    std::string path = dir_ + "/src/new.avi";
    std::ofstream(path) << "fake-script:duration:5\n";
    Busy = true;
    EXPECT_EQ(AddVideoFile(store_, settings_, FakeConvertPath(), path), AddOutcome::Refused);
    Busy = false;
    EXPECT_EQ(JobCount(store_), MaxJobs);
    EXPECT_EQ(Job(0), first);
    // Between runs the oldest entry makes room.
    EXPECT_EQ(AddVideoFile(store_, settings_, FakeConvertPath(), path), AddOutcome::Added);
    EXPECT_EQ(JobCount(store_), MaxJobs);
    EXPECT_EQ(Job(MaxJobs - 1)->sourcePath, path);
}

enum class StopMoment { Pending, RightAfterStart, Converting, ConvertingWithOutput, Finishing };

struct StopCase {
    const char* name;
    StopMoment moment;
    const char* script;
    int16_t status;  // once its converter has ended
    bool outputKept; // a converter that finished its file on the stop keeps it
};

TEST_F(SchedulerTest, StopAtEveryMomentCancelsOnlyThatJob) {
    const StopCase cases[] = {
        {"while pending", StopMoment::Pending, "output:100", Cancelled, false},
        {"right after start", StopMoment::RightAfterStart, "progress:5;output:100;sleep:200", Cancelled,
         false},
        {"stopped converter finalises its file", StopMoment::ConvertingWithOutput,
         "stopexit:0;output:300;progress:40;hang", Cancelled, true},
        {"while finishing", StopMoment::Finishing, "progress:100;output:500;stopexit:0;sleep:30000",
         Cancelled, true},
        // A converter that fails on the stop is an error, not a clean stop,
        // and its partial file goes.
        {"stopped converter fails", StopMoment::Converting, "progress:40;hang", ConvertError, false},
        {"stopped converter fails, partial output", StopMoment::Converting,
         "output:300;progress:40;hang", ConvertError, false},
        {"stopped converter leaves an empty file", StopMoment::Converting,
         "stopexit:0;output:0;progress:40;hang", ConvertError, false},
    };
    int base = 0;
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(log_);
        // A neighbour that finished before, one that converts beside the stopped job.
        ConversionJob* finished = AddJob("output:2048", "done" + std::to_string(base));
        RunToEnd();
        ASSERT_EQ(finished->status.load(), Done);
        bool pending = c.moment == StopMoment::Pending;
        settings_.maxConversions = pending ? 1 : 2;
        ConversionJob* neighbour = AddJob(pending ? "progress:10;sleep:400;output:1000"
                                                  : "progress:10;sleep:100;output:1000");
        ConversionJob* target = AddJob(c.script);
        front_.focused = target->position;
        bool stoppedInRow = false;
        if (c.moment == StopMoment::RightAfterStart) {
            front_.onRow = [&](ConversionJob* job) {
                if (job == target && !stoppedInRow && job->status.load() == Starting) {
                    stoppedInRow = true;
                    StopConversions(false);
                }
            };
        }
        int ended = front_.runEndedCalls;
        ASSERT_TRUE(StartConversions());
        switch (c.moment) {
        case StopMoment::Pending:
            ASSERT_TRUE(WaitForProcess(neighbour->position));
            ASSERT_EQ(target->status.load(), Pending);
            StopConversions(false);
            break;
        case StopMoment::RightAfterStart:
            break;
        case StopMoment::Converting:
        case StopMoment::ConvertingWithOutput:
        case StopMoment::Finishing:
            ASSERT_TRUE(WaitForProcess(target->position));
            ASSERT_TRUE(PumpUntil([&] {
                double percent = 0;
                return ProgressRead(target->progressSlot, &percent, nullptr) == 1 && percent > 0;
            }));
            StopConversions(false);
            break;
        }
        if (c.moment != StopMoment::RightAfterStart) {
            EXPECT_EQ(target->status.load(), Cancelled);
        }
        WaitForEnd(ended);
        front_.onRow = nullptr;
        if (c.moment == StopMoment::RightAfterStart) {
            EXPECT_TRUE(stoppedInRow);
        }
        EXPECT_EQ(target->status.load(), c.status);
        EXPECT_EQ(neighbour->status.load(), Done);
        EXPECT_EQ(fs::file_size(neighbour->outputPath), 1000u);
        EXPECT_EQ(fs::file_size(finished->outputPath), 2048u);
        if (c.moment == StopMoment::Pending || c.moment == StopMoment::RightAfterStart) {
            EXPECT_EQ(RunsOf(target->position), 0);
        }
        bool kept = !target->outputPath.empty() && fs::exists(target->outputPath);
        EXPECT_EQ(kept, c.outputKept) << target->outputPath;
        // Cleaning up after a stop removes only the stopped job's file.
        DeletePartialOutput(store_, *target);
        EXPECT_TRUE(target->outputPath.empty() || !fs::exists(target->outputPath));
        EXPECT_TRUE(fs::exists(neighbour->outputPath));
        EXPECT_TRUE(fs::exists(finished->outputPath));
        ExpectNoConverterLeft();
        base += 3;
    }
}

TEST_F(SchedulerTest, RemovedDestinationIsCreatedAgain) {
    settings_.maxConversions = 1;
    settings_.destFolder = dir_ + "/later/deeper";
    AddJob("output:10");
    AddJob("output:20");
    front_.onRow = [&](ConversionJob* job) {
        if (job->position == 0 && job->status.load() == Done) fs::remove_all(dir_ + "/later");
    };
    RunToEnd();
    EXPECT_EQ(StatusOf(0), Done);
    ASSERT_EQ(StatusOf(1), Done);
    EXPECT_EQ(fs::file_size(Job(1)->outputPath), 20u);
    EXPECT_EQ(fs::path(Job(1)->outputPath).parent_path(), dir_ + "/later/deeper");
}

TEST_F(SchedulerTest, UnusableDestinationFailsTheJobs) {
    // A file where the folder should be: it cannot be created.
    std::ofstream(dir_ + "/blocker") << "x";
    settings_.destFolder = dir_ + "/blocker/out";
    AddJob("output:10");
    RunToEnd();
    EXPECT_EQ(StatusOf(0), ConvertError);
    EXPECT_TRUE(Job(0)->outputPath.empty());
    EXPECT_EQ(RunsOf(0), 0);
    // A folder nobody may write in, root included.
    settings_.destFolder = "/proc";
    AddJob("output:10");
    RunToEnd();
    EXPECT_EQ(StatusOf(1), ConvertError);
    EXPECT_FALSE(fs::exists(Job(1)->outputPath));
}

TEST_F(SchedulerTest, DestinationAndProfileAreReadWhenAJobStarts) {
    settings_.maxConversions = 1;
    AddJob("output:10");
    AddJob("output:10");
    std::string second = dir_ + "/second";
    front_.onRow = [&](ConversionJob* job) {
        if (job->position == 0 && job->status.load() == Converting) {
            JobLockGuard lock;
            settings_.destFolder = second;
        }
    };
    RunToEnd();
    EXPECT_EQ(fs::path(Job(0)->outputPath).parent_path(), dest_);
    EXPECT_EQ(fs::path(Job(1)->outputPath).parent_path(), second);
}

TEST_F(SchedulerTest, EarlierPendingLooksBackFiftyEntries) {
    for (int i = 0; i < 60; ++i) AddJob("output:1")->status = Done;
    Job(3)->status = Pending;
    EXPECT_FALSE(HasEarlierPendingJob(3));
    EXPECT_TRUE(HasEarlierPendingJob(4));
    EXPECT_TRUE(HasEarlierPendingJob(53));
    EXPECT_FALSE(HasEarlierPendingJob(54));
    EXPECT_FALSE(HasEarlierPendingJob(0));
    for (int i = 0; i < 60; ++i) Job(i)->status = Done;
}

TEST_F(SchedulerTest, SecondStartDuringARunIsIgnored) {
    AddJob("progress:10;sleep:300;output:10");
    ASSERT_TRUE(StartConversions());
    {
        // The list grows under the lock while workers read it.
        JobLockGuard lock;
        AddJob("output:10");
    }
    EXPECT_TRUE(StartConversions());
    EXPECT_EQ(front_.confirmCalls, 1);
    EXPECT_EQ(StatusOf(1), Ready);
    WaitForEnd(0);
    EXPECT_EQ(RunQueued, 1);
    EXPECT_EQ(RunFinished, 1);
    EXPECT_EQ(StatusOf(0), Done);
    EXPECT_EQ(StatusOf(1), Ready);
}

TEST_F(SchedulerTest, JobsEndingTogetherEndTheRunOnce) {
    settings_.maxConversions = 8;
    settings_.exitAfter = 1;
    for (int round = 0; round < 5; ++round) {
        for (int i = 0; i < 8; ++i) AddJob("output:10");
        RunToEnd();
    }
    EXPECT_EQ(front_.runEndedCalls, 5);
    EXPECT_EQ(front_.closeCalls, 5);
    EXPECT_EQ(std::count(front_.busyCalls.begin(), front_.busyCalls.end(), false), 5);
}

} // namespace
