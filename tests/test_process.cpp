#include "converter/process.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/fake/fake_log.h"

namespace fs = std::filesystem;

namespace {

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/movenna-process-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        log_ = dir_ + "/fake.log";
        setenv("FAKE_CONVERT_LOG", log_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("FAKE_CONVERT_LOG");
        unsetenv("FAKE_CONVERT_SCRIPT");
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    static CommandLine Fake(std::vector<std::string> args = {}) {
        CommandLine cmd;
        cmd.argv.push_back(FakeConvertPath());
        for (std::string& a : args) cmd.argv.push_back(std::move(a));
        return cmd;
    }
    static void Script(const char* script) { setenv("FAKE_CONVERT_SCRIPT", script, 1); }

    std::string dir_;
    std::string log_;
};

struct ExitCase {
    const char* script;
    int expected;
};

TEST_F(ProcessTest, ExitStatusIsReadAsSigned8BitAndSignalsAreFailures) {
    const ExitCase cases[] = {
        {"exit:0", 0},
        {"exit:3", 3},
        {"exit:-20", -20},
        {"exit:-25", -25},
        {"exit:127", 127},
        {"exit:-128", -128},
        {"crash", kExitBySignal - SIGSEGV},
        {"signal:9", kExitBySignal - SIGKILL},
        {"signal:15", kExitBySignal - SIGTERM},
    };
    for (const ExitCase& c : cases) {
        SCOPED_TRACE(c.script);
        Script(c.script);
        int code = 12345;
        ASSERT_EQ(ProcessRunPolled(Fake(), &code, 10, nullptr, nullptr), 1);
        EXPECT_EQ(code, c.expected);
    }
}

TEST_F(ProcessTest, ProgramThatCannotStartGivesZeroAndLeavesExitCode) {
    const std::string notExecutable = dir_ + "/plain.txt";
    std::ofstream(notExecutable) << "#!/bin/sh\nexit 0\n";
    const std::string noInterpreter = dir_ + "/badscript";
    std::ofstream(noInterpreter) << "#!/nonexistent/interpreter\n";
    chmod(noInterpreter.c_str(), 0755);

    const std::vector<std::vector<std::string>> commands = {
        {dir_ + "/missing-converter"},
        {notExecutable},
        {noInterpreter},
        {dir_}, // a folder
        {""},
        {},
        {FakeConvertPath(), std::string("nul\0inside", 10)},
    };
    for (const auto& argv : commands) {
        SCOPED_TRACE(argv.empty() ? "(no argv)" : argv[0]);
        CommandLine cmd;
        cmd.argv = argv;
        int code = 12345;
        int calls = 0;
        auto count = [](void* data) { ++*static_cast<int*>(data); };
        EXPECT_EQ(ProcessRunPolled(cmd, &code, 10, count, &calls), 0);
        EXPECT_EQ(code, 12345);
        EXPECT_EQ(calls, 0);
        EXPECT_EQ(ProcessLaunch(cmd), 0);
    }
    EXPECT_TRUE(ReadFakeLog(log_).empty());
}

TEST_F(ProcessTest, CallbackRunsAfterEverySliceIncludingTheLast) {
    struct Seen {
        int calls = 0;
    } seen;
    auto count = [](void* data) { ++static_cast<Seen*>(data)->calls; };

    // The child sleeps 250 ms: the slices at 100 and 200 ms end without it,
    // the third sees it end.
    Script("sleep:250;exit:0");
    int code = -1;
    ASSERT_EQ(ProcessRunPolled(Fake(), &code, 100, count, &seen), 1);
    EXPECT_EQ(code, 0);
    EXPECT_GE(seen.calls, 3);

    // A child that ends at once ends the first slice early: one call only.
    seen.calls = 0;
    Script("exit:4");
    ASSERT_EQ(ProcessRunPolled(Fake(), &code, 600000, count, &seen), 1);
    EXPECT_EQ(code, 4);
    EXPECT_EQ(seen.calls, 1);

    // No callback and no exit-code variable are both allowed.
    EXPECT_EQ(ProcessRunPolled(Fake(), nullptr, 0, nullptr, nullptr), 1);
}

TEST_F(ProcessTest, HostileArgumentsReachTheChildUnchanged) {
    const std::string marker = dir_ + "/pwned";
    const std::vector<std::string> hostile = {
        "",
        " ",
        "two words",
        "\"quoted\"",
        "'single'",
        "$(touch " + marker + ")",
        "`touch " + marker + "`",
        "; touch " + marker,
        "| touch " + marker,
        "-brmap",
        "back\\slash\\",
        "new\nline",
        "tab\there",
        "*",
        "~",
        "%s%n%x",
        "\xc3\xbcnic\xc3\xb8" "de",
        std::string(4000, 'a'),
        "-i",
    };
    Script("exit:0");
    CommandLine cmd = Fake(hostile);
    cmd.text = "this text is never run; touch " + marker;
    int code = -1;
    ASSERT_EQ(ProcessRunPolled(cmd, &code, 10, nullptr, nullptr), 1);
    EXPECT_EQ(code, 0);
    std::vector<FakeCall> calls = ReadFakeLog(log_);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].argv, cmd.argv);
    EXPECT_FALSE(fs::exists(marker));
}

TEST_F(ProcessTest, ChildGetsOnlyTheStandardDescriptorsWithNullInput) {
    // A descriptor of ours without close-on-exec must not leak into the child.
    int leaky = open((dir_ + "/leaky").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(leaky, 3);
    Script("exit:0");
    int code = -1;
    ASSERT_EQ(ProcessRunPolled(Fake(), &code, 10, nullptr, nullptr), 1);
    close(leaky);
    std::vector<FakeCall> calls = ReadFakeLog(log_);
    ASSERT_EQ(calls.size(), 1u);
    const std::string& fds = calls[0].fds;
    EXPECT_EQ(fds.rfind("0=/dev/null 1=/dev/null 2=", 0), 0u) << fds;
    EXPECT_EQ(fds.find(" 3="), std::string::npos) << fds;
    EXPECT_EQ(fds.find("leaky"), std::string::npos) << fds;
}

TEST_F(ProcessTest, ChildStartsWithSignalsUnblocked) {
    // A worker thread with SIGTERM blocked must not pass that on.
    sigset_t set, old;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, &old);
    Script("signal:15");
    int code = 0;
    int started = ProcessRunPolled(Fake(), &code, 10, nullptr, nullptr);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ASSERT_EQ(started, 1);
    EXPECT_EQ(code, kExitBySignal - SIGTERM);
}

TEST_F(ProcessTest, ParallelRunsEachGetTheirOwnExitCode) {
    constexpr int kThreads = 8;
    int codes[kThreads];
    int started[kThreads];
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            // Each child takes its script from its own source file.
            std::string source = dir_ + "/src" + std::to_string(i);
            std::ofstream(source) << "fake-script:sleep:" << 10 * i << ";exit:" << i + 10 << "\n";
            codes[i] = -1;
            started[i] = ProcessRunPolled(Fake({"-i", source, dir_ + "/out"}), &codes[i], 5,
                                          nullptr, nullptr);
        });
    }
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(started[i], 1);
        EXPECT_EQ(codes[i], i + 10);
    }
}

CommandLine Shell(const std::string& script) {
    CommandLine cmd;
    cmd.argv = {"/bin/sh", "-c", script};
    return cmd;
}

TEST_F(ProcessTest, CapturedStderrKeepsWhatTheChildSaid) {
    std::string text = "left over";
    int code = 0;
    ASSERT_EQ(ProcessRunPolled(Shell("echo first >&2; echo '  the reason  ' >&2; printf '\\n \\n' >&2; exit 3"),
                               &code, 10, nullptr, nullptr, &text),
              1);
    EXPECT_EQ(code, 3);
    EXPECT_EQ(text, "first\n  the reason  \n\n \n");
    EXPECT_EQ(LastMeaningfulLine(text), "the reason");

    // Silent child: nothing, and the earlier text is not kept.
    ASSERT_EQ(ProcessRunPolled(Shell("exit 0"), &code, 10, nullptr, nullptr, &text), 1);
    EXPECT_EQ(text, "");
}

TEST_F(ProcessTest, CapturedStderrIsBoundedToItsEndAndNeverStallsTheChild) {
    // Far more than a pipe holds: the child would block if nobody read.
    std::string text;
    int code = -1;
    ASSERT_EQ(ProcessRunPolled(Shell("head -c 1000000 /dev/zero | tr '\\0' x >&2; echo >&2; echo the end >&2"), &code,
                               10, nullptr, nullptr, &text),
              1);
    EXPECT_EQ(code, 0);
    EXPECT_LE(text.size(), kErrorTextMax);
    EXPECT_TRUE(LastMeaningfulLine(text) == "the end") << text.substr(text.size() - std::min<size_t>(text.size(), 40));
}

TEST_F(ProcessTest, CapturedStderrIsAPipeAndNothingElseLeaks) {
    Script("exit:0");
    std::string text;
    int code = -1;
    ASSERT_EQ(ProcessRunPolled(Fake(), &code, 10, nullptr, nullptr, &text), 1);
    std::vector<FakeCall> calls = ReadFakeLog(log_);
    ASSERT_EQ(calls.size(), 1u);
    const std::string& fds = calls[0].fds;
    EXPECT_EQ(fds.rfind("0=/dev/null 1=/dev/null 2=pipe:", 0), 0u) << fds;
    EXPECT_EQ(fds.find(" 3="), std::string::npos) << fds;
}

TEST_F(ProcessTest, AProgramLeftRunningByTheChildDoesNotHoldTheWait) {
    // The grandchild keeps the pipe open; the wait ends with the child.
    const std::string pidFile = dir_ + "/grandchild";
    std::string text;
    int code = -1;
    ASSERT_EQ(ProcessRunPolled(Shell("echo said >&2; sleep 60 & echo $! > '" + pidFile + "'; exit 4"), &code, 10,
                               nullptr, nullptr, &text),
              1);
    EXPECT_EQ(code, 4);
    EXPECT_EQ(LastMeaningfulLine(text), "said");
    std::ifstream in(pidFile);
    long grandchild = 0;
    in >> grandchild;
    ASSERT_GT(grandchild, 0);
    EXPECT_EQ(kill(static_cast<pid_t>(grandchild), 0), 0) << "it was still running when the wait ended";
    kill(static_cast<pid_t>(grandchild), SIGKILL);
}

TEST(LastMeaningfulLine, SkipsBlankLinesAndTrims) {
    const struct {
        const char* text;
        const char* line;
    } cases[] = {
        {"", ""},
        {"\n\n", ""},
        {" \t\r\n", ""},
        {"one", "one"},
        {"one\n", "one"},
        {"one\ntwo\n  \n\n", "two"},
        {"  padded  \r\n", "padded"},
        {"first\n\tsecond\t", "second"},
        {"a b c\n", "a b c"},
    };
    for (const auto& c : cases) EXPECT_EQ(LastMeaningfulLine(c.text), c.line) << c.text;
}

bool ProcessGone(long pid) {
    // A reaped child has no /proc entry; a zombie still has one.
    return !fs::exists("/proc/" + std::to_string(pid));
}

TEST_F(ProcessTest, LaunchedProcessIsReapedAndLeavesNoZombie) {
    Script("exit:0");
    ASSERT_EQ(ProcessLaunch(Fake()), 1);
    std::vector<FakeCall> calls;
    for (int i = 0; i < 1000 && calls.empty(); ++i) {
        calls = ReadFakeLog(log_);
        if (calls.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(calls.size(), 1u);
    const long pid = calls[0].pid;
    bool gone = false;
    for (int i = 0; i < 1000 && !gone; ++i) {
        gone = ProcessGone(pid);
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone) << "pid " << pid << " is still there (zombie?)";
}

} // namespace
