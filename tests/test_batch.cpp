// movenna-batch as a user runs it, against the scripted fake converter.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "jobs/job.h"
#include "settings/datafiles.h"
#include "tests/fake/fake_log.h"

namespace fs = std::filesystem;

namespace {

std::string BatchPath() { return std::string(MOVENNA_BIN_DIR) + "/movenna-batch"; }

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
    return n;
}

// Whether sig waits to be delivered to the process pid as a whole.
bool SignalPending(pid_t pid, int sig) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("ShdPnd:", 0) != 0) continue;
        return (std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1u;
    }
    return false;
}

struct Launch {
    std::vector<std::string> args;
    std::string cwd;
    bool asNobody = false; // root reads every folder: drop to an ordinary user
    bool ownGroup = false;  // a process group of its own, as a terminal's job
};

class BatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/movenna-batch-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        src_ = dir_ + "/src";
        dest_ = dir_ + "/dest";
        data_ = dir_ + "/data";
        log_ = dir_ + "/fake.log";
        for (const std::string& d : {src_, dest_, data_}) fs::create_directories(d);
        setenv("FAKE_CONVERT_LOG", log_.c_str(), 1);
        unsetenv("FAKE_CONVERT_SCRIPT");
        unsetenv("FAKE_CONVERT_COUNTER");
    }
    void TearDown() override {
        unsetenv("FAKE_CONVERT_LOG");
        unsetenv("FAKE_CONVERT_SCRIPT");
        unsetenv("FAKE_CONVERT_COUNTER");
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(dir_, ec); it != fs::recursive_directory_iterator(); ++it)
            fs::permissions(it->path(), fs::perms::owner_all, ec);
        fs::remove_all(dir_, ec);
    }

    // A source file; "fake-script:" content makes the fake follow it.
    std::string Source(const std::string& relative, const std::string& script = "") {
        std::string path = src_ + "/" + relative;
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << (script.empty() ? "plain source" : "fake-script:" + script) << "\n";
        return path;
    }

    // The usual options, then args.
    std::vector<std::string> Args(std::vector<std::string> args) {
        std::vector<std::string> all{"--converter", FakeConvertPath(), "--data-dir", data_, "--dest", dest_};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }

    pid_t Start(const Launch& launch) {
        std::string out = dir_ + "/stdout", err = dir_ + "/stderr";
        pid_t pid = fork();
        if (pid == 0) {
            int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            dup2(o, 1);
            dup2(e, 2);
            if (!launch.cwd.empty() && chdir(launch.cwd.c_str()) != 0) _exit(120);
            if (launch.asNobody && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(121);
            if (launch.ownGroup && setpgid(0, 0) != 0) _exit(123);
            std::vector<char*> argv;
            std::string program = BatchPath();
            argv.push_back(program.data());
            std::vector<std::string> copy = launch.args;
            for (std::string& a : copy) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(122);
        }
        return pid;
    }
    int Wait(pid_t pid) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        out_ = ReadText(dir_ + "/stdout");
        err_ = ReadText(dir_ + "/stderr");
        if (WIFSIGNALED(status)) return 1000 + WTERMSIG(status);
        return WEXITSTATUS(status);
    }
    int Run(const std::vector<std::string>& args) { return Wait(Start({args, "", false, false})); }
    int Run(const Launch& launch) { return Wait(Start(launch)); }

    // The sources the fake was asked to probe (the run's -i arguments, once each).
    std::vector<std::string> ProbedSources() {
        std::vector<std::string> sources;
        for (const FakeCall& call : ReadFakeLog(log_)) {
            if (call.argv.size() < 2 || call.argv[call.argv.size() - 2] != "-i") continue;
            sources.push_back(call.argv.back());
        }
        std::sort(sources.begin(), sources.end());
        return sources;
    }
    std::vector<std::string> DestFiles() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dest_)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    void ExpectNoConverterLeft() {
        for (const FakeCall& call : ReadFakeLog(log_)) {
            std::ifstream cmdline("/proc/" + std::to_string(call.pid) + "/cmdline");
            std::string text;
            std::getline(cmdline, text, '\0');
            EXPECT_FALSE(cmdline.good() && text.find("fake-convert") != std::string::npos)
                << "fake-convert " << call.pid << " still runs";
        }
    }
    void ExpectNoDataFilesWritten() {
        EXPECT_FALSE(fs::exists(data_ + "/" + kSettingsFileName));
        EXPECT_FALSE(fs::exists(data_ + "/" + kHistoryFileName));
        EXPECT_FALSE(fs::exists(std::string(MOVENNA_BIN_DIR) + "/" + kHistoryFileName));
    }

    std::string dir_, src_, dest_, data_, log_;
    std::string out_, err_;
};

TEST_F(BatchTest, ConvertsEverythingAndExitsZero) {
    std::string a = Source("first.avi");
    std::string b = Source("second clip.mkv");
    ASSERT_EQ(Run(Args({"--jobs", "2", a, b})), 0) << err_;
    EXPECT_EQ(DestFiles(), (std::vector<std::string>{"first.mp4", "second clip.mp4"}));
    EXPECT_EQ(fs::file_size(dest_ + "/first.mp4"), 4096u);
    std::vector<std::string> lines = Lines(out_);
    ASSERT_EQ(lines.size(), 2u) << out_;
    EXPECT_EQ(lines[0], "OK     (4.00 KB)\t" + a + "\t" + dest_ + "/first.mp4");
    EXPECT_EQ(lines[1], "OK     (4.00 KB)\t" + b + "\t" + dest_ + "/second clip.mp4");
    ExpectNoDataFilesWritten();
}

TEST_F(BatchTest, AnyFailureExitsOne) {
    std::string good = Source("good.avi");
    // A probe ignores the output step; the conversion leaves an empty file.
    std::string bad = Source("bad.avi", "output:0");
    ASSERT_EQ(Run(Args({good, bad})), 1) << err_;
    EXPECT_NE(out_.find("Conversion Error\t" + bad), std::string::npos) << out_;
    EXPECT_NE(err_.find("movenna-batch: " + bad + ": the converter wrote no output\n"), std::string::npos) << err_;
    EXPECT_NE(out_.find("OK     (4.00 KB)\t" + good), std::string::npos) << out_;
    EXPECT_EQ(DestFiles(), (std::vector<std::string>{"good.mp4"}));
}

TEST_F(BatchTest, UsageErrorsExitTwo) {
    std::string a = Source("a.avi");
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus", a},       {"--jobs", "0", a},    {"--jobs", "21", a},  {"--jobs", "two", a},
        {"--profile", "9999", a}, {"--profile", "x", a}, {"--jobs"},        {"--dest"},
        {},                   {"-", a},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const std::string& s : args) shown += s + " ";
        SCOPED_TRACE(shown);
        std::vector<std::string> all{"--converter", FakeConvertPath(), "--data-dir", data_};
        all.insert(all.end(), args.begin(), args.end());
        EXPECT_EQ(Run(all), 2);
        // The error and a pointer to the help, not the help itself.
        std::vector<std::string> lines = Lines(err_);
        ASSERT_EQ(lines.size(), 2u) << err_;
        EXPECT_EQ(lines[0].rfind("movenna-batch: ", 0), 0u) << err_;
        EXPECT_EQ(lines[1], "Try 'movenna-batch --help' for more information.");
        EXPECT_EQ(out_, "");
    }
    EXPECT_TRUE(ReadFakeLog(log_).empty());
    EXPECT_TRUE(DestFiles().empty());
    // Asked for, the help goes to standard output whole.
    for (const char* help : {"--help", "-h"}) {
        EXPECT_EQ(Run({help}), 0);
        EXPECT_EQ(out_.rfind("usage: movenna-batch", 0), 0u) << out_;
        EXPECT_NE(out_.find("Exit status:"), std::string::npos) << out_;
        EXPECT_EQ(err_, "");
    }
}

TEST_F(BatchTest, ListsTheSeventeenProfiles) {
    ASSERT_EQ(Run({"--list-profiles"}), 0);
    std::vector<std::string> lines = Lines(out_);
    ASSERT_EQ(lines.size(), 17u);
    for (const std::string& line : lines) EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 3) << line;
    EXPECT_EQ(lines[0].substr(0, 2), "0\t");
}

TEST_F(BatchTest, KnownProfileIsUsed) {
    ASSERT_EQ(Run({"--list-profiles"}), 0);
    // Pick an audio profile: its extension names the output.
    std::string id, ext;
    for (const std::string& line : Lines(out_)) {
        std::istringstream in(line);
        std::string row, pid, name, e;
        std::getline(in, row, '\t');
        std::getline(in, pid, '\t');
        std::getline(in, name, '\t');
        std::getline(in, e, '\t');
        if (e == ".mp3") id = pid, ext = e;
    }
    ASSERT_FALSE(id.empty());
    std::string a = Source("song.wav");
    ASSERT_EQ(Run(Args({"--profile", id, a})), 0) << err_;
    EXPECT_EQ(DestFiles(), (std::vector<std::string>{"song" + ext}));
}

TEST_F(BatchTest, PrintsTheHistoryAsTabSeparatedRows) {
    JobStore* store = JobStoreCreate();
    const int16_t statuses[] = {Done, Cancelled, ConvertError, Ready};
    for (int i = 0; i < 4; ++i) {
        ConversionJob* job = JobCreate("/videos/clip " + std::to_string(i) + ".avi");
        job->origin = 1;
        job->profileId = 500;
        job->displayName = "clip " + std::to_string(i);
        job->outputPath = "/out/clip " + std::to_string(i) + ".mp4";
        job->status = statuses[i];
        job->duration = 3725 + i;
        job->outputSize = 5242880;
        job->sourceSize = 2048;
        JobStoreAppend(store, job);
    }
    std::string path = data_ + "/" + kHistoryFileName;
    ASSERT_TRUE(HistorySave(store, path));
    JobStoreRelease(store);
    // The rows as the window would show the file's entries.
    store = JobStoreCreate();
    ASSERT_TRUE(HistoryLoad(store, path));
    ASSERT_EQ(JobCount(store), 4);
    std::vector<std::string> expected;
    for (int i = 0; i < 4; ++i) {
        std::string row, cell;
        for (int column = 0; column < kJobColumnCount; ++column) {
            JobCellText(*JobAt(store, i), column, cell);
            row += (column ? "\t" : "") + cell;
        }
        expected.push_back(row);
    }
    JobStoreRelease(store);
    auto before = fs::last_write_time(path);
    ASSERT_EQ(Run({"--data-dir", data_, "--history"}), 0) << err_;
    EXPECT_EQ(Lines(out_), expected);
    EXPECT_EQ(expected[0], "/videos/clip 0.avi\t01:02:05\tclip 0 (.mp4)\tOK     (5.00 MB)");
    EXPECT_EQ(fs::last_write_time(path), before);
    // Without a history file: an empty list, and a word naming the file
    // looked for (the folder may be mistyped).
    fs::remove(path);
    for (const std::string& folder : {data_, data_ + "/mistyped"}) {
        EXPECT_EQ(Run({"--history", "--data-dir", folder}), 0);
        EXPECT_EQ(out_, "");
        EXPECT_EQ(err_, "movenna-batch: no history file at " + folder + "/" + kHistoryFileName + "\n");
    }
}

TEST_F(BatchTest, DamagedHistoryIsShownAsFarAsItGoesAndLeftAlone) {
    JobStore* store = JobStoreCreate();
    for (const char* name : {"/videos/a.avi", "/videos/b.avi"}) JobStoreAppend(store, JobCreate(name));
    std::string path = data_ + "/" + kHistoryFileName;
    ASSERT_TRUE(HistorySave(store, path));
    JobStoreRelease(store);
    std::string whole = ReadText(path);
    struct Case {
        const char* what;
        std::string bytes;
        std::string shown;
    };
    const Case cases[] = {
        {"cut inside the second entry", whole.substr(0, whole.size() - 3), "/videos/a.avi"},
        {"not a history file", "something else entirely", ""},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;
        EXPECT_EQ(Run({"--history", "--data-dir", data_}), 1);
        std::vector<std::string> lines = Lines(out_);
        if (c.shown.empty()) {
            EXPECT_TRUE(lines.empty()) << out_;
        } else {
            ASSERT_EQ(lines.size(), 1u) << out_;
            EXPECT_EQ(lines[0].substr(0, lines[0].find('\t')), c.shown);
        }
        EXPECT_NE(err_.find(path), std::string::npos) << err_;
        // Read only: no copy kept aside, the file as it was.
        std::vector<std::string> files;
        for (const auto& e : fs::directory_iterator(data_)) files.push_back(e.path().filename().string());
        EXPECT_EQ(files, (std::vector<std::string>{kHistoryFileName}));
        EXPECT_EQ(ReadText(path), c.bytes);
    }
}

TEST_F(BatchTest, InvalidVideoIsReportedAndCounts) {
    std::string bad = Source("broken.avi", "exit:-20");
    std::string good = Source("fine.avi");
    EXPECT_EQ(Run(Args({bad})), 1);
    EXPECT_NE(err_.find(bad + " Invalid video\n"), std::string::npos) << err_;
    EXPECT_TRUE(DestFiles().empty());
    // The good one converts, the refusal still shows in the status.
    EXPECT_EQ(Run(Args({bad, good})), 1);
    EXPECT_NE(err_.find(bad + " Invalid video\n"), std::string::npos) << err_;
    EXPECT_EQ(DestFiles(), (std::vector<std::string>{"fine.mp4"}));
}

TEST_F(BatchTest, MissingInputsAndConverterAreReported) {
    EXPECT_EQ(Run(Args({src_ + "/nothing here.avi"})), 1);
    EXPECT_NE(err_.find(src_ + "/nothing here.avi: No such file"), std::string::npos) << err_;
    std::string a = Source("a.avi");
    EXPECT_EQ(Run({"--converter", dir_ + "/no-converter", "--data-dir", data_, "--dest", dest_, a}), 1);
    EXPECT_NE(err_.find(a + ": could not be probed"), std::string::npos) << err_;
}

TEST_F(BatchTest, FoldersAreSearchedDeeplyForKnownExtensionsOnly) {
    std::string deep = Source("tree/a/b/c/deep.mp4");
    std::string top = Source("tree/top.AVI");
    std::string audio = Source("tree/a/tune.flac");
    Source("tree/notes.txt");
    Source("tree/a/b/cover.jpg");
    Source("tree/a/noextension");
    // Named directly, a file is probed whatever its extension.
    std::string named = Source("named.weird");
    ASSERT_EQ(Run(Args({src_ + "/tree", named})), 0) << err_;
    std::vector<std::string> expected{audio, deep, named, top};
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> probed = ProbedSources();
    EXPECT_EQ(probed, expected);
    EXPECT_EQ(DestFiles(), (std::vector<std::string>{"deep.mp4", "named.mp4", "top.mp4", "tune.mp4"}));
}

TEST_F(BatchTest, UnreadableFolderIsReportedOnce) {
    Source("tree/ok.avi");
    Source("tree/locked/hidden.avi");
    fs::permissions(src_ + "/tree/locked", fs::perms::none);
    Launch launch{Args({src_ + "/tree"}), "", geteuid() == 0, false};
    if (launch.asNobody) {
        // The unprivileged run must reach everything else.
        for (const std::string& d : {dir_, src_, src_ + "/tree", dest_, data_})
            fs::permissions(d, fs::perms::all);
        fs::permissions(src_ + "/tree/ok.avi", fs::perms::all);
        std::ofstream(log_).close();
        fs::permissions(log_, fs::perms::all);
    }
    EXPECT_EQ(Run(launch), 1) << err_;
    EXPECT_EQ(Occurrences(err_, src_ + "/tree/locked"), 1u) << err_;
    EXPECT_EQ(DestFiles(), (std::vector<std::string>{"ok.mp4"}));
}

TEST_F(BatchTest, UnwritableDestinationIsRefusedClearly) {
    std::string a = Source("a.avi");
    EXPECT_EQ(Run({"--converter", FakeConvertPath(), "--data-dir", data_, "--dest", "/proc", a}), 1);
    EXPECT_NE(err_.find("cannot write to the destination folder /proc"), std::string::npos) << err_;
    EXPECT_TRUE(ReadFakeLog(log_).empty());
}

TEST_F(BatchTest, HostileNamesWork) {
    const std::vector<std::string> names = {
        " leading blank.avi", "it's \"quoted\".avi", "-dash.avi",
        "ünïcödé ✓ 日本.avi", "semi;colon $(echo x) `y` &.avi", "tab\tand\nnewline.avi",
    };
    std::vector<std::string> relative{"--"};
    for (const std::string& n : names) {
        Source(n);
        relative.push_back(n);
    }
    // Relative names from the source folder, after "--" so "-dash" is no option.
    ASSERT_EQ(Run(Launch{Args(relative), src_, false, false}), 0) << err_;
    std::vector<std::string> expected;
    for (const std::string& n : names) expected.push_back(n.substr(0, n.size() - 4) + ".mp4");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(DestFiles(), expected);
    // The converter got every name as one argument, unchanged.
    std::vector<std::string> probed = ProbedSources();
    std::vector<std::string> given(names.begin(), names.end());
    std::sort(given.begin(), given.end());
    EXPECT_EQ(probed, given);
}

TEST_F(BatchTest, StopSignalsStopEveryJobThroughItsSlot) {
    struct Case {
        const char* what;
        int signal;
    };
    const Case cases[] = {
        {"Ctrl+C", SIGINT},
        {"kill", SIGTERM},
        {"terminal closed", SIGHUP},
        {"Ctrl+\\", SIGQUIT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(log_);
        fs::remove(dir_ + "/counter");
        std::vector<std::string> sources;
        for (int i = 0; i < 3; ++i) sources.push_back(Source("long " + std::to_string(i) + ".avi"));
        // Three probes, then conversions that write a finished file and wait
        // for the stop request (exit 0 then: the file stays for the tool to delete).
        setenv("FAKE_CONVERT_COUNTER", (dir_ + "/counter").c_str(), 1);
        setenv("FAKE_CONVERT_SCRIPT",
               "duration:60|duration:60|duration:60|stopexit:0;output:5000;progress:20;hang", 1);
        std::vector<std::string> args = Args({"--jobs", "2"});
        args.insert(args.end(), sources.begin(), sources.end());
        pid_t pid = Start({args, "", false, false});
        // Both conversions have written their file and wait.
        bool converting = false;
        for (int i = 0; i < 3000 && !converting; ++i) {
            converting = ReadFakeLog(log_).size() >= 5 && DestFiles().size() >= 2;
            if (!converting) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(converting);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        kill(pid, c.signal);
        EXPECT_EQ(Wait(pid), 128 + c.signal) << err_;
        // Stopped through the slot (a hang left alone ends with 99 after a
        // minute, a signal would have shown): every converter is gone,
        // nothing is left.
        EXPECT_EQ(ReadFakeLog(log_).size(), 5u);
        ExpectNoConverterLeft();
        EXPECT_TRUE(DestFiles().empty());
        std::vector<std::string> lines = Lines(out_);
        ASSERT_EQ(lines.size(), 3u) << out_;
        for (size_t i = 0; i < lines.size(); ++i) {
            // The output field is empty: the partial file is gone.
            EXPECT_EQ(lines[i], "Cancelled\t" + sources[i] + "\t") << lines[i];
        }
        ExpectNoDataFilesWritten();
    }
}

TEST_F(BatchTest, StopSignalRepeatedAtOnceIsOneRequest) {
    std::vector<std::string> sources;
    for (int i = 0; i < 2; ++i) sources.push_back(Source("long " + std::to_string(i) + ".avi"));
    setenv("FAKE_CONVERT_COUNTER", (dir_ + "/counter").c_str(), 1);
    setenv("FAKE_CONVERT_SCRIPT", "duration:60|duration:60|stopexit:0;output:5000;progress:20;hang", 1);
    std::vector<std::string> args = Args({"--jobs", "2"});
    args.insert(args.end(), sources.begin(), sources.end());
    pid_t pid = Start({args, "", false, true});
    bool converting = false;
    for (int i = 0; i < 3000 && !converting; ++i) {
        converting = ReadFakeLog(log_).size() >= 4 && DestFiles().size() >= 2;
        if (!converting) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(converting);
    // As `timeout -s INT` sends it: to the program, then to its whole group
    // (the converters in it ignore SIGINT). The repeat goes once the first
    // was taken, or the kernel would merge the two into one.
    kill(pid, SIGINT);
    for (int i = 0; i < 20000 && SignalPending(pid, SIGINT); ++i)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    kill(-pid, SIGINT);
    EXPECT_EQ(Wait(pid), 130) << err_;
    // Handled as one Ctrl+C: every job stopped, the partial outputs removed,
    // the summary printed.
    ExpectNoConverterLeft();
    EXPECT_TRUE(DestFiles().empty());
    std::vector<std::string> lines = Lines(out_);
    ASSERT_EQ(lines.size(), 2u) << out_;
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], "Cancelled\t" + sources[i] + "\t");
}

TEST_F(BatchTest, SecondInterruptQuitsAtOnceAndTakesTheConvertersAlong) {
    std::string a = Source("a.avi");
    // A converter that does not hear the stop request: the first Ctrl+C
    // would wait for it for a minute.
    setenv("FAKE_CONVERT_COUNTER", (dir_ + "/counter").c_str(), 1);
    setenv("FAKE_CONVERT_SCRIPT", "duration:60|output:5000;progress:20;deaf;hang", 1);
    pid_t pid = Start({Args({a}), "", false, false});
    std::vector<FakeCall> calls;
    for (int i = 0; i < 3000 && (calls.size() < 2 || DestFiles().empty()); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        calls = ReadFakeLog(log_);
    }
    ASSERT_EQ(calls.size(), 2u);
    kill(pid, SIGINT);
    // Well after the moment in which a repeat counts as the same request.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    kill(pid, SIGINT);
    EXPECT_EQ(Wait(pid), 1000 + SIGINT) << err_;
    // The converter follows its parent; the progress channel is removed.
    bool gone = false;
    for (int i = 0; i < 3000 && !gone; ++i) {
        std::ifstream cmdline("/proc/" + std::to_string(calls[1].pid) + "/cmdline");
        std::string text;
        std::getline(cmdline, text, '\0');
        gone = !(cmdline.good() && text.find("fake-convert") != std::string::npos);
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone) << "fake-convert " << calls[1].pid << " outlived movenna-batch";
    const std::vector<std::string>& argv = calls[1].argv;
    auto map = std::find(argv.begin(), argv.end(), "-brmap");
    ASSERT_NE(map, argv.end());
    ASSERT_NE(map + 1, argv.end());
    EXPECT_FALSE(fs::exists("/dev/shm/movenna-" + *(map + 1)));
}

TEST_F(BatchTest, InterruptWhileAddingReportsNoRefusals) {
    std::vector<std::string> args = Args({});
    for (int i = 0; i < 3; ++i) args.push_back(Source("clip " + std::to_string(i) + ".avi"));
    // A probe that dies of the terminal's SIGINT, as a converter that did not
    // leave it to the tool would.
    setenv("FAKE_CONVERT_SCRIPT", "duration:60;sleep:2000;signal:2", 1);
    pid_t pid = Start({args, "", false, true});
    for (int i = 0; i < 3000 && ReadFakeLog(log_).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(ReadFakeLog(log_).empty());
    kill(-pid, SIGINT); // the whole group, as Ctrl+C on a terminal
    EXPECT_EQ(Wait(pid), 130) << err_;
    EXPECT_EQ(err_.find("could not be probed"), std::string::npos) << err_;
    EXPECT_EQ(err_.find("Invalid video"), std::string::npos) << err_;
    EXPECT_EQ(out_, "");
    EXPECT_TRUE(DestFiles().empty());
}

TEST_F(BatchTest, PlainProgressShowsChangesAndTenthsOnly) {
    const std::vector<std::string> sources{Source("one.avi"), Source("two.avi")};
    // The first conversion to start is stopped, and its converter takes a
    // while to end (but ends well); the other reports progress in steps.
    setenv("FAKE_CONVERT_COUNTER", (dir_ + "/counter").c_str(), 1);
    setenv("FAKE_CONVERT_SCRIPT",
           "duration:60|duration:60|stopexit:0;output:100;progress:20;deaf;sleep:2500|"
           "tick:1200;progress:25,55;output:100",
           1);
    pid_t pid = Start({Args({"--jobs", "2", sources[0], sources[1]}), "", false, false});
    // Stop once the stopped job's progress has shown (a tick after the stop
    // would show it converting again until its converter ends). Either job
    // may have started first: its line tells which one it is.
    std::string stopped, slow;
    const auto progressShown = [&] {
        for (const std::string& line : Lines(ReadText(dir_ + "/stderr"))) {
            if (line.rfind("Convert 20", 0) != 0) continue;
            const bool first = line.find("\t" + sources[0]) != std::string::npos;
            stopped = sources[first ? 0 : 1];
            slow = sources[first ? 1 : 0];
            return true;
        }
        return false;
    };
    for (int i = 0; i < 3000 && !progressShown(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(progressShown()) << ReadText(dir_ + "/stderr");
    ASSERT_EQ(ReadFakeLog(log_).size(), 4u);
    kill(pid, SIGTERM);
    EXPECT_EQ(Wait(pid), 128 + SIGTERM) << err_;
    // Standard error is no terminal: plain lines, one per change.
    EXPECT_EQ(Occurrences(err_, "Cancelled\t" + stopped + "\n"), 1u) << err_;
    std::vector<int> tenths;
    for (const std::string& line : Lines(err_)) {
        if (line.rfind("Convert ", 0) != 0 || line.find("\t" + slow) == std::string::npos) continue;
        tenths.push_back(std::atoi(line.c_str() + 8) / 10);
    }
    ASSERT_FALSE(tenths.empty()) << err_;
    for (size_t i = 1; i < tenths.size(); ++i) EXPECT_LT(tenths[i - 1], tenths[i]) << err_;
}

TEST_F(BatchTest, SettingsAreReadNeverWritten) {
    AppSettings settings;
    SettingsReset(settings);
    settings.maxConversions = 1;
    settings.destFolder = dest_;
    std::string path = data_ + "/" + kSettingsFileName;
    ASSERT_TRUE(SettingsSave(settings, path));
    std::string bytes = ReadText(path);
    // No --dest: the settings' destination is used.
    std::string a = Source("a.avi");
    ASSERT_EQ(Run({"--converter", FakeConvertPath(), "--data-dir", data_, a}), 0) << err_;
    EXPECT_EQ(DestFiles(), (std::vector<std::string>{"a.mp4"}));
    EXPECT_EQ(ReadText(path), bytes);
    EXPECT_FALSE(fs::exists(data_ + "/" + kHistoryFileName));
}

} // namespace
