#include "converter/cmdline.h"
#include "converter/progress.h"
#include "jobs/job.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string kConv = "/opt/movenna/movenna-convert";
const std::string kSource = "/videos/in.avi";
const std::string kOutput = "/out/in.mp4";

// Splits a command text the way a shell would for these texts: blanks
// separate words, double quotes group.
std::vector<std::string> ShellSplit(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (c == ' ' && !quoted) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

// The command from the slot's options to the output, where the piece tests look.
std::string AfterSlot(const std::string& text) {
    const size_t at = text.find(" -brind ");
    return at == std::string::npos ? std::string() : text.substr(text.find(' ', at + 8) + 1);
}

class CmdLine : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ProgressOpen());
        channel_ = ProgressChannelName();
        SettingsReset(snap_);
        job_.progressSlot = 0;
    }
    void TearDown() override { ProgressClose(); }

    void Apply(int row) { ProfileApplyDefaults(snap_, row); }

    std::string Convert(bool retry = false) {
        CommandLine cmd;
        EXPECT_TRUE(CmdBuildConvert(cmd, kConv, kSource, kOutput, job_, snap_, retry));
        EXPECT_EQ(cmd.argv, ShellSplit(cmd.text)) << cmd.text;
        return cmd.text;
    }

    std::string channel_;
    AppSettings snap_;
    ConversionJob job_;
};

TEST_F(CmdLine, WorkedExampleAndItsRetry) {
    Apply(0);
    const std::string head =
        "\"" + kConv + "\" -y -i \"" + kSource + "\"  -brmap " + channel_ +
        "  -brind 0 -vcodec mpeg4 -acodec libfaac -s 320x240 -r 20000/1001 -b 1500kb ";
    const std::string tail = " -vol 256 \"" + kOutput + "\"";
    EXPECT_EQ(Convert(false), head + "-ab 128.0kb -ac 2 -ar 44100 " + tail);
    EXPECT_EQ(Convert(true), head + tail) << "the retry leaves out -ab, -ac and -ar";

    CommandLine cmd;
    ASSERT_TRUE(CmdBuildConvert(cmd, kConv, kSource, kOutput, job_, snap_, false));
    const std::vector<std::string> argv = {
        kConv,   "-y",      "-i",      kSource, "-brmap",  channel_, "-brind",     "0",   "-vcodec",
        "mpeg4", "-acodec", "libfaac", "-s",    "320x240", "-r",     "20000/1001", "-b",  "1500kb",
        "-ab",   "128.0kb", "-ac",     "2",     "-ar",     "44100",  "-vol",       "256", kOutput};
    EXPECT_EQ(cmd.argv, argv);
}

TEST_F(CmdLine, DisableFlagsComeBeforeTheSource) {
    Apply(0);
    snap_.disableAudio = 1;
    std::string text = Convert();
    EXPECT_EQ(text.rfind("\"" + kConv + "\" -y  -an -i \"", 0), 0u) << text;
    // The audio options are still written.
    EXPECT_NE(text.find("-acodec libfaac "), std::string::npos);
    EXPECT_NE(text.find("-ab 128.0kb -ac 2 -ar 44100 "), std::string::npos);
    EXPECT_NE(text.find(" -vol 256 "), std::string::npos);

    snap_.disableVideo = 1;
    text = Convert();
    EXPECT_EQ(text.rfind("\"" + kConv + "\" -y  -an  -vn -i \"", 0), 0u) << text;
    EXPECT_NE(text.find("-vcodec mpeg4 "), std::string::npos) << "the codec is still named";
}

TEST_F(CmdLine, AudioOnlyProfileGetsNoVideoAndSameQuality) {
    Apply(12);
    const std::string text = Convert();
    EXPECT_EQ(text.rfind("\"" + kConv + "\" -y  -vn -i \"", 0), 0u) << text;
    EXPECT_EQ(AfterSlot(text),
              "-acodec libmp3lame -r 20000/1001 -sameq -ab 192.0kb -ac 2 -ar 48000  -vol 256 \"" +
                  kOutput + "\"");
}

TEST_F(CmdLine, CodecPiecesForEveryProfile) {
    const struct {
        int row;
        const char* codecs;
    } cases[] = {
        {0, "-vcodec mpeg4 -acodec libfaac "},
        {1, "-vcodec mpeg4 -acodec libfaac "},
        {2, "-vcodec mpeg4 -acodec libfaac "},
        {3, "-vcodec mpeg4 -acodec libfaac "},
        {4, "-vcodec mpeg4 -acodec libfaac "},
        {5, "-vcodec mpeg4 -acodec libfaac "},
        {6, "-vcodec mpeg1video -acodec libmp3lame "},
        {7, "-vcodec mpeg2video -acodec libmp3lame "},
        {8, "-vcodec wmv1 -acodec libmp3lame "},
        {9, "-vcodec msmpeg4v2 -acodec libmp3lame "},
        {10, "-vcodec mpeg4 -vtag divx -acodec libmp3lame "},
        {11, "-vcodec mpeg4 -vtag xvid -acodec libmp3lame "},
        {12, "-acodec libmp3lame "},
        {13, "-acodec pcm_s16le "},
        {14, "-acodec wmav1 "},
        {15, "-acodec mp2 "},
        {16, "-acodec libfaac "},
    };
    for (const auto& c : cases) {
        SettingsReset(snap_);
        Apply(c.row);
        const std::string text = Convert();
        const std::string rest = AfterSlot(text);
        EXPECT_EQ(rest.rfind(c.codecs, 0), 0u) << "row " << c.row << ": " << text;
        const std::string next = rest.substr(std::string(c.codecs).size(), 3);
        EXPECT_TRUE(next == "-s " || next == "-r ") << "row " << c.row << ": " << text;
        const bool audioOnly = c.row >= 12;
        EXPECT_EQ(text.find(" -vn ") != std::string::npos, audioOnly) << c.row;
        EXPECT_EQ(text.find("-sameq ") != std::string::npos, audioOnly) << c.row;
    }
    SettingsReset(snap_);
    Apply(5);
    snap_.videoCodec = "H264";
    EXPECT_EQ(AfterSlot(Convert()).rfind("-vcodec libx264 -acodec libfaac ", 0), 0u);
}

TEST_F(CmdLine, FrameRateIsThousandthsOver1001) {
    const struct {
        float rate;
        const char* piece;
    } cases[] = {
        {-1.0f, "-r 20000/1001 "},
        {0.0f, "-r 20000/1001 "},
        {NAN, "-r 20000/1001 "},
        {25.0f, "-r 25000/1001 "},
        {12.0f, "-r 12000/1001 "},
        {std::bit_cast<float>(uint32_t{0x41EFCED9}), "-r 29975/1001 "},
        {std::bit_cast<float>(uint32_t{0x41BFCED9}), "-r 23975/1001 "},
        {3.0e38f, "-r 9000000000000000000/1001 "},
    };
    for (const auto& c : cases) {
        Apply(8); // WMV: no MPEG rule, size Original
        snap_.frameRate = c.rate;
        const std::string text = Convert();
        EXPECT_NE(text.find(std::string(" ") + c.piece), std::string::npos)
            << c.rate << ": " << text;
    }
}

TEST_F(CmdLine, SameQualityOnlyWithOriginalSizeAndBitrate) {
    Apply(5);
    snap_.videoBitrate = -1;
    EXPECT_NE(Convert().find(" -r 29975/1001 -sameq -ab "), std::string::npos);
    snap_.videoBitrate = 1200;
    const std::string text = Convert();
    EXPECT_EQ(text.find("-sameq"), std::string::npos);
    EXPECT_NE(text.find(" -b 1200kb -ab "), std::string::npos);
    // Profile 500 with frame rate Original keeps its 320x240: no -sameq.
    SettingsReset(snap_);
    Apply(0);
    EXPECT_EQ(Convert().find("-sameq"), std::string::npos);
}

TEST_F(CmdLine, MpegRuleRaisesTheRateInTheSnapshot) {
    const struct {
        const char* tag;
        float rate;
        float after;
    } cases[] = {
        {"MPEG1", 15.0f, 20.0f}, {"mpg2", 12.0f, 20.0f},  {"Mpg1", -1.0f, 20.0f},
        {"MPEG2", 25.0f, 25.0f}, {"MPEG1", 20.0f, 20.0f}, {"H264", 15.0f, 15.0f},
    };
    for (const auto& c : cases) {
        Apply(6);
        snap_.videoCodec = c.tag;
        snap_.frameRate = c.rate;
        Convert();
        EXPECT_EQ(snap_.frameRate, c.after) << c.tag << " " << c.rate;
    }
    // Every later job of the batch sees the raised rate.
    Apply(6);
    snap_.frameRate = 15.0f;
    EXPECT_NE(Convert().find(" -r 20000/1001 "), std::string::npos);
    job_.progressSlot = 1;
    EXPECT_NE(Convert().find(" -r 20000/1001 "), std::string::npos);
    EXPECT_EQ(snap_.frameRate, 20.0f);
}

TEST_F(CmdLine, AmrForcesNarrowbandAudio) {
    for (const char* tag : {"AMR", "amr", "Amr"}) {
        Apply(0);
        snap_.audioCodec = tag;
        snap_.audioBitrate = 320;
        snap_.channels = 2;
        snap_.sampleRate = 48000;
        const std::string text = Convert();
        EXPECT_NE(text.find("-acodec libamr_nb "), std::string::npos) << text;
        EXPECT_NE(text.find(" -ab 12.2kb -ac 1 -ar 8000  -vol "), std::string::npos) << text;
    }
}

TEST_F(CmdLine, AudioValuesNotPassedWhenMinusOne) {
    Apply(0);
    snap_.audioBitrate = -1;
    snap_.channels = -1;
    snap_.sampleRate = -1;
    EXPECT_NE(Convert().find(" -b 1500kb  -vol 256 "), std::string::npos);
}

TEST_F(CmdLine, VolumeIsScaledTo256) {
    const struct {
        int16_t percent;
        const char* piece;
    } cases[] = {{100, " -vol 256 "},
                 {25, " -vol 64 "},
                 {500, " -vol 1280 "},
                 {0, " -vol 0 "},
                 {110, " -vol 281 "}};
    for (const auto& c : cases) {
        Apply(0);
        snap_.volume = c.percent;
        EXPECT_NE(Convert().find(c.piece), std::string::npos) << c.percent;
    }
}

TEST_F(CmdLine, AspectReplacesTheFrameSize) {
    Apply(0);
    snap_.aspect = 1;
    std::string text = Convert();
    EXPECT_EQ(text.find("-s "), std::string::npos);
    EXPECT_NE(text.find(" -vol 256  -aspect 4:3 \"" + kOutput + "\""), std::string::npos) << text;
    snap_.aspect = 2;
    text = Convert();
    EXPECT_NE(text.find(" -vol 256  -aspect 16:9 \"" + kOutput + "\""), std::string::npos) << text;
    snap_.videoBitrate = -1;
    EXPECT_NE(Convert().find("-sameq "), std::string::npos);
}

TEST_F(CmdLine, ProbeCommand) {
    job_.progressSlot = 3;
    CommandLine cmd;
    ASSERT_TRUE(CmdBuildProbe(cmd, kConv, kSource, job_));
    EXPECT_EQ(cmd.text,
              "\"" + kConv + "\" -y  -brmap " + channel_ + "  -brind 3 -i \"" + kSource + "\" ");
    const std::vector<std::string> argv = {kConv,    "-y", "-brmap", channel_,
                                           "-brind", "3",  "-i",     kSource};
    EXPECT_EQ(cmd.argv, argv);
}

TEST_F(CmdLine, HostilePathsStayWholeArguments) {
    const std::string conv = "/opt/my tools/\"conv\"";
    const std::string source = "-rf \"a b\".avi";
    const std::string output = "-i evil.mp4";
    Apply(0);
    CommandLine cmd;
    ASSERT_TRUE(CmdBuildConvert(cmd, conv, source, output, job_, snap_, false));
    ASSERT_EQ(cmd.argv.size(), 27u);
    EXPECT_EQ(cmd.argv[0], conv);
    EXPECT_EQ(cmd.argv[2], "-i");
    EXPECT_EQ(cmd.argv[3], source);
    EXPECT_EQ(cmd.argv.back(), output);
    EXPECT_EQ(cmd.text.rfind("\"" + conv + "\" -y -i \"" + source + "\" ", 0), 0u);

    job_.progressSlot = -1;
    ASSERT_TRUE(CmdBuildProbe(cmd, conv, source, job_));
    const std::vector<std::string> argv = {conv,     "-y", "-brmap", channel_,
                                           "-brind", "-1", "-i",     source};
    EXPECT_EQ(cmd.argv, argv);
}

TEST_F(CmdLine, TooLongForTheBufferIsRefused) {
    Apply(0);
    const std::string full(kPathMaxLen, 'p');
    CommandLine cmd;
    EXPECT_TRUE(CmdBuildConvert(cmd, full, full, full, job_, snap_, false))
        << "three paths of the platform's full length fit";
    const std::string huge(kCmdBufSize, 'p');
    cmd.text = "old";
    cmd.argv = {"old"};
    EXPECT_FALSE(CmdBuildConvert(cmd, kConv, huge, kOutput, job_, snap_, false));
    EXPECT_TRUE(cmd.text.empty());
    EXPECT_TRUE(cmd.argv.empty());
    EXPECT_FALSE(CmdBuildProbe(cmd, kConv, huge, job_));
    EXPECT_TRUE(cmd.text.empty());
    EXPECT_TRUE(cmd.argv.empty());
}

TEST(CmdLineWithoutChannel, EmptyChannelNameStaysAnArgument) {
    ASSERT_FALSE(ProgressIsOpen());
    ConversionJob job;
    job.progressSlot = -1;
    CommandLine cmd;
    ASSERT_TRUE(CmdBuildProbe(cmd, kConv, kSource, job));
    EXPECT_EQ(cmd.text, "\"" + kConv + "\" -y  -brmap   -brind -1 -i \"" + kSource + "\" ");
    const std::vector<std::string> argv = {kConv,    "-y", "-brmap", "",
                                           "-brind", "-1", "-i",     kSource};
    EXPECT_EQ(cmd.argv, argv);
}

TEST(CodecMapName, MapsTagsWithoutRegardToCase) {
    const struct {
        const char* tag;
        const char* name;
    } cases[] = {
        {"MP4", "mpeg4"},       {"mpeg-4", "mpeg4"},     {"WMV2", "wmv2"},      {"h263", "h263"},
        {"MPG1", "mpeg1video"}, {"Mpeg2", "mpeg2video"}, {"msv2", "msmpeg4v2"}, {"MJPG", "mjpeg"},
        {"pcm", "pcm_s16le"},   {"PCM8", "pcm_s8"},      {"acc", "libfaac"},    {"AC3", "ac3"},
        {"DivX", "divx"},       {"XVID", "xvid"},        {"FooBar", "foobar"},  {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CodecMapName(c.tag), c.name) << c.tag;
    EXPECT_EQ(CodecMapName(nullptr), "");
    EXPECT_EQ(CodecMapName(std::string(80, 'Q').c_str()), std::string(kCodecTagMaxLen, 'q'));
}

TEST(OutputPathJoin, Composition) {
    const struct {
        const char* folder;
        const char* base;
        const char* ext;
        const char* path;
    } cases[] = {
        {"/out", "video", "mp4", "/out/video.mp4"}, {"/out/", "video", ".mp4", "/out/video.mp4"},
        {"", "video", "mp4", "video.mp4"},          {"/out", "", "mp4", "/out/.mp4"},
        {"/out", "video", "", "/out/video"},        {"/", "a b", ".m4a", "/a b.m4a"},
    };
    for (const auto& c : cases) {
        std::string result = "stale";
        EXPECT_TRUE(OutputPathJoin(result, c.folder, c.base, c.ext));
        EXPECT_EQ(result, c.path);
    }
}

TEST(OutputPathJoin, OverlongPathIsRefusedNotCut) {
    const std::string folder = "/" + std::string(kPathMaxLen - 11, 'f'); // + "/abcde.mp4"
    std::string result;
    EXPECT_TRUE(OutputPathJoin(result, folder, "abcde", "mp4")); // exactly the limit
    EXPECT_EQ(result.size(), static_cast<size_t>(kPathMaxLen));
    EXPECT_FALSE(OutputPathJoin(result, folder, "abcdef", "mp4"));
    EXPECT_TRUE(result.empty());
}

class OutputNames : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/movenna-cmdline-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        store_ = JobStoreCreate();
    }
    void TearDown() override {
        JobStoreRelease(store_);
        const std::string command = "rm -rf '" + dir_ + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    void Touch(const std::string& name) {
        FILE* f = std::fopen((dir_ + "/" + name).c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    ConversionJob* AddJob(const std::string& outputName, JobStatus status) {
        ConversionJob* job = JobCreate("/src/x.avi");
        job->outputPath = dir_ + "/" + outputName;
        job->status = status;
        JobStoreAppend(store_, job);
        return job;
    }
    std::string dir_;
    JobStore* store_ = nullptr;
};

TEST_F(OutputNames, FileOnDiskAndRunningJobAreSkipped) {
    Touch("video.mp4");
    AddJob("VIDEO(1).mp4", Converting);
    std::string result;
    EXPECT_EQ(OutputPathMake(result, dir_, "video", ".mp4", store_), 2);
    EXPECT_EQ(result, dir_ + "/video(2).mp4");
}

TEST_F(OutputNames, OnlyStartedOrFinishedJobsReserveANames) {
    const struct {
        JobStatus status;
        bool reserves;
    } cases[] = {{Starting, true},      {Converting, true}, {Done, true},  {Cancelled, false},
                 {ConvertError, false}, {Pending, false},   {Ready, false}};
    for (const auto& c : cases) {
        ConversionJob* job = AddJob("clip.mp3", c.status);
        std::string result;
        EXPECT_EQ(OutputPathForProfile(result, dir_, "clip", 5000, store_), c.reserves ? 1 : 0)
            << c.status;
        EXPECT_EQ(result, dir_ + (c.reserves ? "/clip(1).mp3" : "/clip.mp3"));
        job->status = Cancelled;
    }
}

TEST_F(OutputNames, FoldersAndDanglingLinksCountAsTaken) {
    ASSERT_EQ(mkdir((dir_ + "/movie.mp4").c_str(), 0700), 0);
    ASSERT_EQ(symlink("/nonexistent/target", (dir_ + "/movie(1).mp4").c_str()), 0);
    std::string result;
    EXPECT_EQ(OutputPathMake(result, dir_, "movie", "mp4", nullptr), 2);
    EXPECT_EQ(result, dir_ + "/movie(2).mp4");
}

TEST_F(OutputNames, ProfileAndJobChooseTheExtension) {
    std::string result;
    EXPECT_EQ(OutputPathForProfile(result, dir_, "song", 5040, store_), 0);
    EXPECT_EQ(result, dir_ + "/song.m4a");
    EXPECT_EQ(OutputPathForProfile(result, dir_, "song", 31000, store_), 0);
    EXPECT_EQ(result, dir_ + "/song.mp4") << "an unknown profile falls back to row 0";
    ConversionJob job;
    job.profileId = 900;
    EXPECT_EQ(OutputPathForJob(result, dir_ + "/", "talk", job, store_), 0);
    EXPECT_EQ(result, dir_ + "/talk.wmv");
}

TEST_F(OutputNames, OverlongNameIsRefused) {
    std::string result = "stale";
    const std::string base(kPathMaxLen - dir_.size() - 1 - 4, 'n'); // fits with ".mp4"
    EXPECT_EQ(OutputPathMake(result, dir_, base, "mp4", store_), 0);
    EXPECT_EQ(result.size(), static_cast<size_t>(kPathMaxLen));

    // Taken, and the suffix would make it too long: refused, never cut.
    AddJob(base + ".mp4", Converting);
    EXPECT_EQ(OutputPathMake(result, dir_, base, "mp4", store_), -1);
    EXPECT_TRUE(result.empty());
    EXPECT_EQ(OutputPathMake(result, dir_, base + "xx", "mp4", store_), -1);
    EXPECT_TRUE(result.empty());
}

} // namespace
