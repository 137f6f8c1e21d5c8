#include "converter/convrun.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "converter/profiles.h"
#include "converter/progress.h"
#include "jobs/job.h"
#include "tests/fake/fake_log.h"

namespace fs = std::filesystem;

namespace {

class ConvRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/movenna-convrun-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        log_ = dir_ + "/fake.log";
        source_ = dir_ + "/holiday clip.avi";
        output_ = dir_ + "/holiday clip.mp4";
        std::ofstream(source_) << "not a real video";
        setenv("FAKE_CONVERT_LOG", log_.c_str(), 1);
        setenv("FAKE_CONVERT_COUNTER", (dir_ + "/counter").c_str(), 1);
        ASSERT_TRUE(ProgressOpen());
        SettingsReset(snapshot_);
        job_.sourcePath = source_;
        job_.progressSlot = -1;
    }
    void TearDown() override {
        ProgressClose();
        unsetenv("FAKE_CONVERT_LOG");
        unsetenv("FAKE_CONVERT_COUNTER");
        unsetenv("FAKE_CONVERT_SCRIPT");
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    static void Script(const std::string& script) {
        setenv("FAKE_CONVERT_SCRIPT", script.c_str(), 1);
    }
    int Run(const std::string& converter, int* ticks) {
        auto count = [](void* data) { ++*static_cast<int*>(data); };
        return ConverterRun(converter, source_, output_, job_, snapshot_, count, ticks);
    }
    std::vector<FakeCall> Calls() const { return ReadFakeLog(log_); }

    std::string dir_, log_, source_, output_;
    AppSettings snapshot_;
    ConversionJob job_;
};

bool Has(const std::vector<std::string>& argv, const char* option) {
    return std::find(argv.begin(), argv.end(), option) != argv.end();
}

struct RunCase {
    const char* name;
    const char* script;
    int result;
    int64_t outputSize; // -1: no output file afterwards
    size_t runs;
};

TEST_F(ConvRunTest, ResultCodesAndOutputCleanUp) {
    const RunCase cases[] = {
        {"success", "output:1000;exit:0", 0, 1000, 1},
        {"empty output is deleted", "output:0;exit:0", kRunNoOutput, -1, 1},
        {"no output", "exit:0", kRunNoOutput, -1, 1},
        {"partial output of a failure is deleted", "output:500;exit:3", 3, -1, 1},
        {"failure without output", "exit:3", kRunNoOutput, -1, 1},
        {"audio refused, retry succeeds", "output:10;exit:-25|output:800;exit:0", 0, 800, 2},
        {"audio refused twice", "output:100;exit:-25|output:100;exit:-25", -25, -1, 2},
        {"retry leaves no output", "exit:-25|exit:0", kRunNoOutput, -1, 2},
        {"crash", "output:100;crash", kExitBySignal - SIGSEGV, -1, 1},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(log_);
        fs::remove(dir_ + "/counter");
        Script(c.script);
        int ticks = 0;
        EXPECT_EQ(Run(FakeConvertPath(), &ticks), c.result);
        if (c.outputSize < 0) {
            EXPECT_FALSE(fs::exists(output_));
        } else {
            ASSERT_TRUE(fs::exists(output_));
            EXPECT_EQ(static_cast<int64_t>(fs::file_size(output_)), c.outputSize);
        }
        EXPECT_EQ(Calls().size(), c.runs);
        EXPECT_GE(ticks, static_cast<int>(c.runs)); // at least one slice per run
        fs::remove(output_);
    }
}

TEST_F(ConvRunTest, RetryDropsOnlyTheAudioRateChannelAndSampleRateOptions) {
    Script("exit:-25|output:800;exit:0");
    int ticks = 0;
    ASSERT_EQ(Run(FakeConvertPath(), &ticks), 0);
    std::vector<FakeCall> calls = Calls();
    ASSERT_EQ(calls.size(), 2u);
    const std::vector<std::string>& first = calls[0].argv;
    const std::vector<std::string>& retry = calls[1].argv;
    for (const char* option : {"-ab", "-ac", "-ar"}) {
        EXPECT_TRUE(Has(first, option)) << option;
        EXPECT_FALSE(Has(retry, option)) << option;
    }
    // Take the three options and their values out of the first: the rest is the retry.
    std::vector<std::string> expected;
    for (size_t i = 0; i < first.size(); ++i) {
        if (first[i] == "-ab" || first[i] == "-ac" || first[i] == "-ar") {
            ++i;
            continue;
        }
        expected.push_back(first[i]);
    }
    EXPECT_EQ(retry, expected);
    EXPECT_EQ(retry.back(), output_);
}

TEST_F(ConvRunTest, ConverterThatCannotStartTouchesNoFile) {
    std::ofstream(output_) << "somebody else's file";
    int ticks = 0;
    EXPECT_EQ(Run(dir_ + "/no-such-converter", &ticks), kRunNotStarted);
    EXPECT_EQ(ticks, 0);
    ASSERT_TRUE(fs::exists(output_));
    EXPECT_EQ(fs::file_size(output_), 20u);
}

TEST_F(ConvRunTest, RetryThatCannotStartGivesMinus25AndRemovesThePartialOutput) {
    // A copy of the converter that removes itself during the first run.
    const std::string converter = dir_ + "/convert-once";
    fs::copy_file(FakeConvertPath(), converter);
    Script("output:300;unlink:" + converter + ";exit:-25");
    int ticks = 0;
    EXPECT_EQ(Run(converter, &ticks), -25);
    EXPECT_EQ(Calls().size(), 1u);
    EXPECT_FALSE(fs::exists(output_));
}

TEST_F(ConvRunTest, ConverterReportsThroughItsSlotAndEndsOnAStopRequest) {
    job_.progressSlot = ProgressAllocSlot();
    ASSERT_GE(job_.progressSlot, 0);
    Script("progress:42;output:64;stopexit:0;hang");
    struct Tick {
        int slot;
        int ticks = 0;
        double percent = -1.0;
    } tick{job_.progressSlot};
    // Once the converter's percentage shows in the slot, ask it to stop.
    auto onTick = [](void* data) {
        auto* t = static_cast<Tick*>(data);
        ++t->ticks;
        if (ProgressRead(t->slot, &t->percent, nullptr) && t->percent == 42.0)
            ProgressRequestStop(t->slot);
    };
    EXPECT_EQ(ConverterRun(FakeConvertPath(), source_, output_, job_, snapshot_, onTick, &tick), 0);
    EXPECT_EQ(tick.percent, 42.0);
    EXPECT_GE(tick.ticks, 2);
    EXPECT_EQ(fs::file_size(output_), 64u);
    ProgressReleaseSlot(job_.progressSlot);
}

struct ProbeCase {
    const char* name;
    const char* script;
    ProbeResult result;
    uint32_t duration; // when accepted
};

TEST_F(ConvRunTest, ProbeReadsTheDurationOrRejects) {
    const ProbeCase cases[] = {
        {"duration truncated", "duration:12.9;exit:0", ProbeResult::Accepted, 12},
        {"zero duration", "duration:0;exit:0", ProbeResult::Accepted, 0},
        {"huge duration clamped", "duration:1e12;exit:0", ProbeResult::Accepted, UINT32_MAX},
        {"other exit codes still read the slot", "duration:7.5;exit:3", ProbeResult::Accepted, 7},
        {"invalid source", "exit:-20", ProbeResult::Invalid, 0},
        {"negative duration", "duration:-5;exit:0", ProbeResult::Invalid, 0},
        {"duration not a number", "duration:nan;exit:0", ProbeResult::Invalid, 0},
        {"converter crashed", "duration:30;crash", ProbeResult::Failed, 0},
    };
    for (const ProbeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Script(c.script);
        fs::remove(log_);
        job_.duration = 4321;
        EXPECT_EQ(ConverterProbe(FakeConvertPath(), source_, job_), c.result);
        if (c.result == ProbeResult::Accepted) {
            EXPECT_EQ(job_.duration, c.duration);
        } else {
            EXPECT_EQ(job_.duration, 4321u);
        }
        // The slot is back, whatever happened.
        EXPECT_EQ(job_.progressSlot, -1);
        double average = -1.0;
        EXPECT_EQ(ProgressAverage(&average), 0);
        std::vector<FakeCall> calls = Calls();
        ASSERT_EQ(calls.size(), 1u);
        const std::vector<std::string>& argv = calls[0].argv;
        ASSERT_GE(argv.size(), 2u);
        EXPECT_EQ(argv[argv.size() - 2], "-i");
        EXPECT_EQ(argv.back(), source_);
    }
}

TEST_F(ConvRunTest, ProbeKeepsTheConvertersReasonForARefusal) {
    const std::string said = "movenna-convert: " + source_ + ": not a usable video or audio file (Invalid data)";
    const struct {
        const char* name;
        std::string body;
        ProbeResult result;
        std::string reason;
    } cases[] = {
        {"invalid source", "echo 'warming up' >&2\necho \"" + said + "\" >&2\necho >&2\nexit 236", ProbeResult::Invalid,
         said},
        {"crashed after a word", "echo 'something broke' >&2\nkill -SEGV $$", ProbeResult::Failed, "something broke"},
        {"silent refusal", "exit 236", ProbeResult::Invalid, ""},
    };
    const std::string converter = dir_ + "/converter.sh";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(converter) << "#!/bin/sh\n" << c.body << "\n";
        fs::permissions(converter, fs::perms::owner_all);
        std::string reason = "stale";
        EXPECT_EQ(ConverterProbe(converter, source_, job_, &reason), c.result);
        EXPECT_EQ(reason, c.reason);
        EXPECT_EQ(job_.progressSlot, -1);
    }
    // Accepted: no reason, whatever was said.
    Script("duration:3;exit:0");
    std::string reason = "stale";
    EXPECT_EQ(ConverterProbe(FakeConvertPath(), source_, job_, &reason), ProbeResult::Accepted);
    EXPECT_EQ(reason, "");
}

TEST_F(ConvRunTest, AFailedRunSaysWhyInOneLine) {
    const std::string converter = dir_ + "/converter.sh";
    const std::string out = "\"$(eval echo \\${$#})\"";  // the last argument: the output path
    const struct {
        const char* name;
        std::string body;
        int result;
        std::string reason;
    } cases[] = {
        {"the converter's last words",
         "echo 'Stream mapping:' >&2\necho 'Output file #0 does not contain any stream' >&2\necho >&2\nexit 1", kRunNoOutput,
         "Output file #0 does not contain any stream"},
        {"silent failure", "exit 3", kRunNoOutput, "the converter wrote no output"},
        {"silent failure with a file", "echo x > " + out + "\nexit 3", 3, "the converter ended with code 3"},
        {"killed", "kill -KILL $$", kRunNoOutput, "the converter wrote no output"},
        {"killed after writing", "echo x > " + out + "\nkill -KILL $$", kExitBySignal - SIGKILL,
         "the converter was ended by signal 9"},
        {"success says nothing", "echo 'all went well' >&2\necho x > " + out + "\nexit 0", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(converter) << "#!/bin/bash\n" << c.body << "\n";
        fs::permissions(converter, fs::perms::owner_all);
        std::string reason = "stale";
        EXPECT_EQ(ConverterRun(converter, source_, output_, job_, snapshot_, nullptr, nullptr, &reason), c.result);
        EXPECT_EQ(reason, c.reason);
        fs::remove(output_);
    }
    std::string reason;
    EXPECT_EQ(ConverterRun(dir_ + "/missing", source_, output_, job_, snapshot_, nullptr, nullptr, &reason),
              kRunNotStarted);
    EXPECT_EQ(reason, "the converter could not be started: " + dir_ + "/missing");
}

TEST_F(ConvRunTest, ProbeWithoutConverterOrChannelRejectsSilently) {
    EXPECT_EQ(ConverterProbe(dir_ + "/no-such-converter", source_, job_), ProbeResult::Failed);
    EXPECT_EQ(job_.progressSlot, -1);
    double average = -1.0;
    EXPECT_EQ(ProgressAverage(&average), 0);

    ProgressClose();
    Script("duration:60;exit:0");
    EXPECT_EQ(ConverterProbe(FakeConvertPath(), source_, job_), ProbeResult::Failed);
    EXPECT_EQ(job_.progressSlot, -1);
    EXPECT_TRUE(Calls().empty()); // no slot, no run
}

} // namespace
