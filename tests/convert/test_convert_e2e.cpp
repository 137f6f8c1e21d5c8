// movenna-convert run for real: tiny clips made here with ffmpeg's synthetic
// sources, a real shared-memory channel, and every output checked with
// libavformat.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include "converter/progress_slot.h"
#include "tests/convert/profile_lines.h"

namespace fs = std::filesystem;

void PrintTo(const ProfileLine& line, std::ostream* os) {
    *os << "profile " << line.id;
}
using namespace std::chrono_literals;

namespace {

const std::string kConverter = std::string(MOVENNA_BIN_DIR) + "/movenna-convert";
constexpr int kInvalidSource = -20;
constexpr int kAudioRefused = -25;

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

// A child process with its standard error kept in a file.
class Child {
public:
    struct Options {
        std::string cwd;
        std::optional<std::string> path; // PATH for the child
        std::string stderrFile;
    };

    Child(const std::string& program, const std::vector<std::string>& args, const Options& opts) {
        std::vector<std::string> argvText = {program};
        argvText.insert(argvText.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : argvText) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> envText;
        for (char** e = environ; *e; ++e)
            if (!opts.path || std::strncmp(*e, "PATH=", 5) != 0) envText.push_back(*e);
        if (opts.path) envText.push_back("PATH=" + *opts.path);
        std::vector<char*> envp;
        for (std::string& e : envText) envp.push_back(e.data());
        envp.push_back(nullptr);

        pid_ = fork();
        if (pid_ == 0) {
            if (!opts.cwd.empty() && chdir(opts.cwd.c_str()) != 0) _exit(126);
            const int devnull = open("/dev/null", O_RDWR);
            dup2(devnull, 0);
            dup2(devnull, 1);
            if (!opts.stderrFile.empty()) {
                const int fd = open(opts.stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                dup2(fd, 2);
            }
            execve(program.c_str(), argv.data(), envp.data());
            _exit(125);
        }
    }
    ~Child() {
        if (pid_ > 0 && !done_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }

    // The exit code as the program reads it (signed 8 bits); nullopt when
    // it did not end in time (it is then killed) or ended by a signal.
    std::optional<int> Wait(std::chrono::milliseconds limit = 60s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        for (;;) {
            int status = 0;
            const pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                done_ = true;
                status_ = status;
                if (WIFEXITED(status)) return static_cast<int8_t>(WEXITSTATUS(status));
                return std::nullopt;
            }
            if (std::chrono::steady_clock::now() > until) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status_, 0);
                done_ = true;
                ADD_FAILURE() << "process did not end in time";
                return std::nullopt;
            }
            std::this_thread::sleep_for(10ms);
        }
    }
    int status() const { return status_; }

private:
    pid_t pid_ = -1;
    bool done_ = false;
    int status_ = 0;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The program's progress channel, made the way the program makes it.
class Channel {
public:
    Channel() {
        static int counter = 0;
        char digits[32];
        std::snprintf(digits, sizeof digits, "%06d%06d", static_cast<int>(getpid() % 1000000),
                      ++counter % 1000000);
        digits_ = digits;
        name_ = std::string(kProgressNamePrefix) + digits_;
        const int fd = shm_open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd < 0 || ftruncate(fd, kProgressChannelSize) != 0) {
            ADD_FAILURE() << "cannot create " << name_;
            if (fd >= 0) close(fd);
            return;
        }
        base_ = mmap(nullptr, kProgressChannelSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        if (base_ == MAP_FAILED) base_ = nullptr;
    }
    ~Channel() {
        if (base_) munmap(base_, kProgressChannelSize);
        shm_unlink(name_.c_str());
    }
    const std::string& digits() const { return digits_; }
    ProgressSlot& slot(int index) {
        return reinterpret_cast<ProgressSlot*>(base_)[index];
    }
    double Percent(int index) {
        return std::atomic_ref<double>(slot(index).percent).load(std::memory_order_relaxed);
    }
    void RequestStop(int index) {
        std::atomic_ref<uint8_t>(slot(index).stop).store(1, std::memory_order_relaxed);
    }

private:
    std::string digits_;
    std::string name_;
    void* base_ = nullptr;
};

struct StreamFacts {
    std::string codec;
    int width = 0;
    int height = 0;
    uint32_t tag = 0;
    AVRational frameRate{0, 1};
    int channels = 0;
    int sampleRate = 0;
};

struct MediaFacts {
    bool opened = false;
    std::string container;
    double duration = -1.0;
    std::optional<StreamFacts> video;
    std::optional<StreamFacts> audio;
};

MediaFacts Inspect(const std::string& path) {
    MediaFacts facts;
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, ("file:" + path).c_str(), nullptr, nullptr) < 0) return facts;
    if (avformat_find_stream_info(ctx, nullptr) >= 0) {
        facts.opened = true;
        facts.container = ctx->iformat->name;
        if (ctx->duration != AV_NOPTS_VALUE)
            facts.duration = static_cast<double>(ctx->duration) / AV_TIME_BASE;
        for (unsigned i = 0; i < ctx->nb_streams; ++i) {
            const AVStream* s = ctx->streams[i];
            const AVCodecParameters* par = s->codecpar;
            StreamFacts sf;
            sf.codec = avcodec_get_name(par->codec_id);
            if (par->codec_type == AVMEDIA_TYPE_VIDEO && !facts.video) {
                sf.width = par->width;
                sf.height = par->height;
                sf.tag = par->codec_tag;
                sf.frameRate = s->r_frame_rate;
                facts.video = sf;
            } else if (par->codec_type == AVMEDIA_TYPE_AUDIO && !facts.audio) {
                sf.channels = par->ch_layout.nb_channels;
                sf.sampleRate = par->sample_rate;
                facts.audio = sf;
            }
        }
    }
    avformat_close_input(&ctx);
    return facts;
}

std::string FourCC(uint32_t tag) {
    std::string text;
    for (int i = 0; i < 4; ++i) text += static_cast<char>((tag >> (8 * i)) & 0xff);
    return text;
}

bool ProcessGone(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    if (stat.empty()) return true;
    const size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'Z';
}

std::vector<pid_t> ChildrenOf(pid_t pid) {
    std::vector<pid_t> children;
    std::istringstream in(ReadFile("/proc/" + std::to_string(pid) + "/task/" +
                                   std::to_string(pid) + "/children"));
    for (pid_t child; in >> child;) children.push_back(child);
    return children;
}

class ConvertE2E : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        av_log_set_level(AV_LOG_QUIET);
        char pattern[] = "/tmp/movenna-convert-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        clip_ = dir_ + "/clip.mp4";
        longClip_.clear();
        // One second of picture and stereo sound, small and quick to encode.
        MakeClip({"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=1",
                  "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=1",
                  "-ac", "2", "-c:v", "mpeg4", "-c:a", "aac", "-shortest", clip_});
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    static void MakeClip(std::vector<std::string> args) {
        args.insert(args.begin(), {"-hide_banner", "-loglevel", "error", "-y"});
        Child ffmpeg("/usr/bin/ffmpeg", args, {});
        ASSERT_EQ(ffmpeg.Wait(), 0) << "cannot make " << args.back();
    }

    // Runs the converter to its end; the exit code as the program sees it.
    std::optional<int> Run(const std::vector<std::string>& args, Child::Options opts = {}) {
        if (opts.stderrFile.empty()) opts.stderrFile = dir_ + "/stderr.txt";
        Child child(kConverter, args, opts);
        auto rc = child.Wait();
        lastStderr_ = ReadFile(opts.stderrFile);
        return rc;
    }

    std::vector<std::string> ConvertLine(const std::string& source, const std::string& options,
                                         const std::string& output, int slot = 0,
                                         bool audioOnly = false) {
        std::vector<std::string> args = {"-y"};
        if (audioOnly) args.push_back("-vn");
        args.insert(args.end(), {"-i", source, "-brmap", channel_.digits(), "-brind",
                                 std::to_string(slot)});
        for (const std::string& w : Words(options)) args.push_back(w);
        args.push_back(output);
        return args;
    }
    std::vector<std::string> ProbeLine(const std::string& source, int slot = 0) {
        return {"-y", "-brmap", channel_.digits(), "-brind", std::to_string(slot), "-i", source};
    }

    // Starts a slow conversion of the long clip and waits until ffmpeg reports progress.
    std::unique_ptr<Child> StartSlowConversion(const std::string& output, int slot) {
        auto child = std::make_unique<Child>(
            kConverter,
            ConvertLine(LongClip(),
                        "-vcodec libx264 -acodec libfaac -s 1024x768 -r 29975/1001 -b 4000kb "
                        "-ab 128.0kb -ac 2 -ar 44100 -vol 256",
                        output, slot),
            Child::Options{.cwd = "", .path = std::nullopt, .stderrFile = dir_ + "/slow.txt"});
        const auto until = std::chrono::steady_clock::now() + 30s;
        while (!(channel_.Percent(slot) > 0.0) && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(20ms);
        EXPECT_GT(channel_.Percent(slot), 0.0) << "no progress reported";
        return child;
    }

    // Long enough that an upscaled x264 conversion is still running when a
    // test stops or kills it; tiny, so it is made quickly. Made on first use.
    static const std::string& LongClip() {
        if (longClip_.empty()) {
            const std::string path = dir_ + "/long.mp4";
            MakeClip({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=40",
                      "-f", "lavfi", "-i", "sine=sample_rate=8000:duration=40",
                      "-c:v", "mpeg4", "-c:a", "aac", "-shortest", path});
            longClip_ = path;
        }
        return longClip_;
    }

    static inline std::string dir_;
    static inline std::string clip_;
    static inline std::string longClip_;
    Channel channel_;
    std::string lastStderr_;
};

class ConvertProfiles : public ConvertE2E,
                        public ::testing::WithParamInterface<ProfileLine> {};

TEST_P(ConvertProfiles, OutputMatchesTheProfile) {
    const ProfileLine& p = GetParam();
    const std::string output = dir_ + "/profile " + std::to_string(p.id) + "." + p.ext;
    ASSERT_EQ(Run(ConvertLine(clip_, p.options, output, 5, p.audioOnly)), 0) << lastStderr_;

    ProgressSlot& slot = channel_.slot(5);
    EXPECT_DOUBLE_EQ(slot.percent, 100.0);
    EXPECT_GT(slot.amount, 0.0);
    EXPECT_NEAR(slot.duration, 1.0, 0.1);

    const MediaFacts facts = Inspect(output);
    ASSERT_TRUE(facts.opened);
    EXPECT_EQ(facts.container, p.container);
    if (*p.videoCodec) {
        ASSERT_TRUE(facts.video);
        EXPECT_EQ(facts.video->codec, p.videoCodec);
        EXPECT_EQ(facts.video->width, p.width ? p.width : 160);
        EXPECT_EQ(facts.video->height, p.height ? p.height : 120);
        if (*p.videoTag) {
            EXPECT_EQ(FourCC(facts.video->tag), p.videoTag);
        }
        if (*p.frameRate) {
            EXPECT_EQ(std::to_string(facts.video->frameRate.num) + "/" +
                          std::to_string(facts.video->frameRate.den),
                      p.frameRate);
        }
    } else {
        EXPECT_FALSE(facts.video) << "an audio-only output has a video stream";
    }
    ASSERT_TRUE(facts.audio);
    EXPECT_EQ(facts.audio->codec, p.audioCodec);
    EXPECT_EQ(facts.audio->channels, p.channels);
    EXPECT_EQ(facts.audio->sampleRate, p.sampleRate);
}

INSTANTIATE_TEST_SUITE_P(AllProfiles, ConvertProfiles, ::testing::ValuesIn(kProfileLines),
                         [](const auto& info) { return "Profile" + std::to_string(info.param.id); });

TEST_F(ConvertE2E, ProbeWritesTheDuration) {
    ASSERT_EQ(Run(ProbeLine(clip_, 998)), 0) << lastStderr_;
    EXPECT_NEAR(channel_.slot(998).duration, 1.0, 0.05);

    // Sound alone is a usable source too.
    const std::string wav = dir_ + "/sound.wav";
    MakeClip({"-f", "lavfi", "-i", "sine=duration=2", wav});
    ASSERT_EQ(Run(ProbeLine(wav, 1)), 0) << lastStderr_;
    EXPECT_NEAR(channel_.slot(1).duration, 2.0, 0.05);
}

TEST_F(ConvertE2E, ProbeRejectsWhatIsNoVideo) {
    WriteFile(dir_ + "/empty.mp4", "");
    WriteFile(dir_ + "/text.mp4", "This is a letter, not a film.\n");
    WriteFile(dir_ + "/subtitles.srt", "1\n00:00:01,000 --> 00:00:02,000\nHello\n\n");
    fs::create_directory(dir_ + "/folder.mp4");
    // An mp4 cut before its index (at the end) cannot be read.
    const std::string whole = ReadFile(clip_);
    WriteFile(dir_ + "/cut.mp4", whole.substr(0, whole.size() / 2));
    const char* names[] = {"missing.mp4", "empty.mp4", "text.mp4", "subtitles.srt",
                           "folder.mp4", "cut.mp4"};
    for (const char* name : names) {
        channel_.slot(2).duration = 0.0;
        EXPECT_EQ(Run(ProbeLine(dir_ + "/" + name, 2)), kInvalidSource) << name;
        EXPECT_EQ(channel_.slot(2).duration, 0.0) << name;
        // For the program: the reason alone, on one line; it names the file itself.
        EXPECT_FALSE(lastStderr_.empty()) << name;
        EXPECT_EQ(lastStderr_.find('\n'), lastStderr_.size() - 1) << name << ": " << lastStderr_;
        EXPECT_EQ(lastStderr_.find(name), std::string::npos) << lastStderr_;
    }
    // Standalone, the converter says it itself.
    EXPECT_EQ(Run({"-i", dir_ + "/text.mp4"}), kInvalidSource);
    EXPECT_NE(lastStderr_.find("text.mp4"), std::string::npos) << lastStderr_;
}

TEST_F(ConvertE2E, HelpPrintsTheUsage) {
    const std::string out = dir_ + "/help.txt";
    Child shell("/bin/sh", {"-c", "exec \"$0\" --help > \"$1\"", kConverter, out}, {});
    EXPECT_EQ(shell.Wait(), 0);
    EXPECT_EQ(ReadFile(out).rfind("usage: movenna-convert", 0), 0u) << ReadFile(out);
}

TEST_F(ConvertE2E, ProbeAndConversionWithoutAChannel) {
    // No such channel, or no slot: the work is still done.
    const std::string output = dir_ + "/nochannel.mp3";
    ASSERT_EQ(Run({"-y", "-vn", "-i", clip_, "-brmap", "999999999999", "-brind", "0", "-acodec",
                   "libmp3lame", output}),
              0)
        << lastStderr_;
    EXPECT_TRUE(Inspect(output).audio);
    ASSERT_EQ(Run({"-y", "-vn", "-i", clip_, "-brmap", channel_.digits(), "-brind", "-1",
                   "-acodec", "libmp3lame", output}),
              0)
        << lastStderr_;
    // Standalone: no private options at all.
    ASSERT_EQ(Run({"-i", clip_, "-vcodec", "mpeg4", "-acodec", "libfaac", dir_ + "/plain.avi"}), 0)
        << lastStderr_;
    EXPECT_TRUE(Inspect(dir_ + "/plain.avi").video);
    EXPECT_EQ(Run({"-y", "-brmap", "999999999999", "-brind", "0", "-i", clip_}), 0);
}

TEST_F(ConvertE2E, UnknownDurationIsRejectedByTheProbeButStillConverts) {
    // A raw MPEG-4 stream carries no length.
    const std::string raw = dir_ + "/raw.m4v";
    MakeClip({"-i", clip_, "-an", "-c:v", "mpeg4", "-f", "m4v", raw});
    EXPECT_EQ(Run(ProbeLine(raw, 6)), kInvalidSource);
    const std::string output = dir_ + "/fromraw.avi";
    ASSERT_EQ(Run(ConvertLine(raw, "-vcodec mpeg4 -r 25000/1001 -b 500kb -vol 256", output, 6)), 0)
        << lastStderr_;
    EXPECT_TRUE(Inspect(output).video);
}

TEST_F(ConvertE2E, RefusedAudioOptionsAskForTheRetry) {
    struct Case {
        const char* what;
        const char* options;
        const char* ext;
        bool audioOnly;
        int exit;
    };
    const Case cases[] = {
        {"mp2 with six channels", "-acodec mp2 -r 20000/1001 -sameq -ab 128.0kb -ac 6 -ar 44100 -vol 256",
         "mp2", true, kAudioRefused},
        {"the retry of it", "-acodec mp2 -r 20000/1001 -sameq  -vol 256", "mp2", true, 0},
        {"ac3 at 22050 Hz beside video",
         "-vcodec mpeg4 -acodec ac3 -r 25000/1001 -b 500kb -ab 128.0kb -ac 2 -ar 22050 -vol 256",
         "avi", false, kAudioRefused},
        {"mp2 at 12000 Hz", "-acodec mp2 -r 20000/1001 -sameq -ab 128.0kb -ac 2 -ar 12000 -vol 256",
         "mp2", true, kAudioRefused},
        {"a refused video size is no audio matter",
         "-vcodec h263 -acodec libfaac -s 100x100 -r 25000/1001 -b 500kb -vol 256", "avi", false, 1},
        {"an unknown encoder is no audio matter",
         "-vcodec nosuchcodec -acodec libfaac -r 25000/1001 -b 500kb -vol 256", "avi", false, 1},
    };
    for (const Case& c : cases) {
        const std::string output = dir_ + "/refused." + c.ext;
        EXPECT_EQ(Run(ConvertLine(clip_, c.options, output, 3, c.audioOnly)), c.exit) << c.what;
        if (c.exit != 0) {
            EXPECT_NE(lastStderr_.find("ffmpeg failed"), std::string::npos) << c.what;
        }
    }
}

TEST_F(ConvertE2E, StopByteEndsTheRunWithAFinishedFile) {
    const std::string output = dir_ + "/stopped.mp4";
    auto child = StartSlowConversion(output, 7);
    channel_.RequestStop(7);
    EXPECT_EQ(child->Wait(15s), 0);
    const MediaFacts facts = Inspect(output);
    ASSERT_TRUE(facts.opened) << "the stopped output is not playable";
    EXPECT_TRUE(facts.video);
    EXPECT_GT(facts.duration, 0.0);
    EXPECT_LT(facts.duration, 39.0);
    EXPECT_LT(channel_.Percent(7), 100.0);
}

TEST_F(ConvertE2E, NoFfmpegIsLeftWhenTheConverterIsKilled) {
    auto child = StartSlowConversion(dir_ + "/killed.mp4", 8);
    const std::vector<pid_t> ffmpeg = ChildrenOf(child->pid());
    ASSERT_EQ(ffmpeg.size(), 1u);
    kill(child->pid(), SIGKILL);
    EXPECT_FALSE(child->Wait(5s));
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (!ProcessGone(ffmpeg[0]) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(ProcessGone(ffmpeg[0])) << "ffmpeg outlived its converter";
}

TEST_F(ConvertE2E, TermSignalIsPassedOnAndEndsBoth) {
    const std::string output = dir_ + "/terminated.mp4";
    auto child = StartSlowConversion(output, 9);
    const std::vector<pid_t> ffmpeg = ChildrenOf(child->pid());
    ASSERT_EQ(ffmpeg.size(), 1u);
    kill(child->pid(), SIGTERM);
    const auto rc = child->Wait(15s);
    ASSERT_TRUE(rc);
    EXPECT_NE(*rc, 0);
    EXPECT_TRUE(ProcessGone(ffmpeg[0]));
    // ffmpeg finalises on SIGTERM: what was written is readable.
    EXPECT_TRUE(Inspect(output).opened);
}

TEST_F(ConvertE2E, TerminalInterruptIsLeftToTheProgram) {
    // The program that gave the slot stops the run through it; Ctrl+C on the
    // terminal reaches the whole process group and is not for the converter.
    const std::string output = dir_ + "/interrupted.mp4";
    auto child = StartSlowConversion(output, 10);
    kill(child->pid(), SIGINT);
    kill(child->pid(), SIGQUIT);
    channel_.RequestStop(10);
    EXPECT_EQ(child->Wait(15s), 0) << ReadFile(dir_ + "/slow.txt");
    EXPECT_TRUE(Inspect(output).opened);
}

TEST_F(ConvertE2E, TheConverterEndsWithTheProgramThatStartedIt) {
    // The death signal follows the thread that started the child: a thread
    // that ends stands for the program dying.
    std::unique_ptr<Child> child;
    std::thread([&] { child = StartSlowConversion(dir_ + "/orphan.mp4", 11); }).join();
    ASSERT_TRUE(child);
    const auto rc = child->Wait(15s);
    ASSERT_TRUE(rc) << "the converter outlived the program";
    EXPECT_NE(*rc, 0);
}

TEST_F(ConvertE2E, HostileFileNames) {
    const char* names[] = {
        "with blank 'single' \"double\"", "-leading dash", "ñandú ünïcødé",
        "semi;colon $(x) back\\slash*?",   "colon:name",
    };
    const std::string whole = ReadFile(clip_);
    for (const char* name : names) {
        const std::string source = dir_ + "/" + name + ".mp4";
        const std::string output = dir_ + "/" + name + ".wav";
        WriteFile(source, whole);
        ASSERT_EQ(Run(ProbeLine(source, 4)), 0) << name << "\n" << lastStderr_;
        EXPECT_EQ(Run(ConvertLine(source, "-acodec pcm_s16le -ab 128.0kb -ac 2 -ar 44100 -vol 256",
                                  output, 4, true)),
                  0)
            << name << "\n" << lastStderr_;
        EXPECT_TRUE(Inspect(output).audio) << name;
    }

    // Relative names that begin with a dash, from the folder that holds them.
    WriteFile(dir_ + "/-rel.mp4", whole);
    Child::Options inDir{.cwd = dir_, .path = std::nullopt, .stderrFile = dir_ + "/rel.txt"};
    EXPECT_EQ(Run({"-y", "-brmap", channel_.digits(), "-brind", "4", "-i", "-rel.mp4"}, inDir), 0)
        << lastStderr_;
    EXPECT_EQ(Run(ConvertLine("-rel.mp4", "-acodec libmp3lame -ab 128.0kb -vol 256", "-rel.mp3",
                              4, true),
                  inDir),
              0)
        << lastStderr_;
    EXPECT_TRUE(Inspect(dir_ + "/-rel.mp3").audio);
}

TEST_F(ConvertE2E, MissingFfmpegIsSaidPlainly) {
    const auto rc = Run(ConvertLine(clip_, "-acodec libmp3lame", dir_ + "/none.mp3", 0, true),
                        Child::Options{.cwd = "", .path = "/nonexistent", .stderrFile = ""});
    ASSERT_TRUE(rc);
    EXPECT_NE(*rc, 0);
    EXPECT_NE(*rc, kInvalidSource);
    EXPECT_NE(*rc, kAudioRefused);
    EXPECT_NE(lastStderr_.find("ffmpeg"), std::string::npos) << lastStderr_;
}

} // namespace
