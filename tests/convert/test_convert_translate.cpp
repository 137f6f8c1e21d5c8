// movenna-convert's pure parts: reading its command line, translating it for
// ffmpeg 5.1, and reading what ffmpeg prints.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/convert/profile_lines.h"
#include "tools/convert/ffmpeg_output.h"
#include "tools/convert/options.h"
#include "tools/convert/translate.h"

namespace {

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

std::vector<std::string> Cat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<std::string> kFfmpegHead = {
    "-hide_banner", "-y", "-nostats", "-progress", "pipe:1", "-stats_period", "0.2",
};

ConvertRequest Parse(const std::vector<std::string>& args) {
    ConvertRequest request;
    std::string error;
    EXPECT_TRUE(ParseConvertArgs(args, request, error)) << error;
    return request;
}

// The options that follow "-i SOURCE" in the translation, up to the output.
std::vector<std::string> TranslatedMiddle(const std::vector<std::string>& args) {
    const std::vector<std::string> all = TranslateForFfmpeg(Parse(args));
    std::vector<std::string> middle;
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i] == "-i") {
            middle.assign(all.begin() + static_cast<std::ptrdiff_t>(i) + 2, all.end() - 1);
            break;
        }
    }
    return middle;
}

} // namespace

TEST(ConvertArgs, ProbeLineNamesSourceAndSlot) {
    const ConvertRequest r =
        Parse({"-y", "-brmap", "123456789012", "-brind", "7", "-i", "/media/my clip.avi"});
    EXPECT_TRUE(r.IsProbe());
    EXPECT_TRUE(r.HasSlot());
    EXPECT_EQ(r.channelName, "123456789012");
    EXPECT_EQ(r.slotIndex, 7);
    EXPECT_EQ(r.source, "/media/my clip.avi");
    EXPECT_TRUE(r.extra.empty());
}

TEST(ConvertArgs, ConversionLineFillsEveryField) {
    const ConvertRequest r = Parse(Words(
        "-y -an -vn -i SRC -brmap 000000000001 -brind 0 -vcodec mpeg4 -vtag divx -acodec mp2 "
        "-f avi -s 320x240 -r 20000/1001 -b 1500kb -sameq -ab 12.2kb -ac 1 -ar 8000 -vol 64 "
        "-aspect 16:9 OUT"));
    EXPECT_TRUE(r.overwrite && r.noAudio && r.noVideo && r.sameQuality);
    EXPECT_EQ(r.source, "SRC");
    EXPECT_EQ(r.slotIndex, 0);
    EXPECT_EQ(r.videoCodec, "mpeg4");
    EXPECT_EQ(r.videoTag, "divx");
    EXPECT_EQ(r.audioCodec, "mp2");
    EXPECT_EQ(r.format, "avi");
    EXPECT_EQ(r.frameSize, "320x240");
    EXPECT_EQ(r.frameRate, "20000/1001");
    EXPECT_EQ(r.videoBitrate, "1500kb");
    EXPECT_EQ(r.audioBitrate, "12.2kb");
    EXPECT_EQ(r.channels, "1");
    EXPECT_EQ(r.sampleRate, "8000");
    EXPECT_EQ(r.volume, "64");
    EXPECT_EQ(r.aspect, "16:9");
    EXPECT_EQ(r.output, "OUT");
    EXPECT_TRUE(r.extra.empty());
}

TEST(ConvertArgs, OutputIsLastEvenWithLeadingDashAndExtrasPassThrough) {
    const ConvertRequest r =
        Parse({"-y", "-i", "-in.mp4", "-threads", "1", "-vcodec", "mpeg4", "-shortest", "-out.avi"});
    EXPECT_EQ(r.source, "-in.mp4");
    EXPECT_EQ(r.output, "-out.avi");
    EXPECT_EQ(r.extra, (std::vector<std::string>{"-threads", "1", "-shortest"}));
}

TEST(ConvertArgs, MalformedSlotOptionsMeanNoSlot) {
    struct Case {
        const char* map;
        const char* index;
        bool hasSlot;
    };
    const Case cases[] = {
        {"123456789012", "0", true},   {"123456789012", "999", true},
        {"123456789012", "-1", false}, {"123456789012", "1000", false},
        {"123456789012", "3x", false}, {"12345678901", "3", false},
        {"12345678901a", "3", false},  {"1234567890123", "3", false},
    };
    for (const Case& c : cases) {
        const ConvertRequest r = Parse({"-brmap", c.map, "-brind", c.index, "-i", "a.mp4", "b.avi"});
        EXPECT_EQ(r.HasSlot(), c.hasSlot) << c.map << " " << c.index;
        EXPECT_EQ(r.output, "b.avi");
    }
}

TEST(ConvertArgs, RefusesLinesThatCannotRun) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"-y", "out.mp4"},
        {"-i"},
        {"-i", "a.mp4", "-b"},
        {"-i", "a.mp4", "-i", "b.mp4", "c.avi"},
    };
    for (const auto& args : bad) {
        ConvertRequest r;
        std::string error;
        EXPECT_FALSE(ParseConvertArgs(args, r, error)) << ::testing::PrintToString(args);
        EXPECT_FALSE(error.empty());
    }
}

TEST(ConvertTranslate, BitRateSuffix) {
    const std::pair<const char*, const char*> cases[] = {
        {"1500kb", "1500k"}, {"128.0kb", "128.0k"}, {"12.2kb", "12.2k"}, {"1500kB", "1500kB"},
        {"1500k", "1500k"},  {"64000b", "64000"},   {"2Mb", "2M"},       {"b", "b"},
        {"", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(StripBitsSuffix(in), out) << in;
}

TEST(ConvertTranslate, MpegFrameRateSnapsToNearestStandard) {
    const std::pair<const char*, const char*> cases[] = {
        {"20000/1001", "24000/1001"}, {"29975/1001", "30000/1001"}, {"25000/1001", "25"},
        {"15", "24000/1001"},         {"12000/1001", "24000/1001"}, {"30", "30"},
        {"49.9", "50"},               {"59940/1000", "60000/1001"}, {"100", "60"},
        {"0/1001", ""},               {"25/0", ""},                 {"abc", ""},
        {"-25", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(SnapMpegFrameRate(in), out) << in;
}

TEST(ConvertTranslate, ContainerFromExtensionOrOldFormatName) {
    struct Case {
        const char* format;
        const char* output;
        const char* muxer;
        bool audioOnly;
    };
    const Case cases[] = {
        {"", "/v/a.wmv", "asf", false},   {"", "/v/a.WMA", "asf", true},
        {"", "/v/a.m4a", "ipod", true},   {"", "/v/a.mp2", "mp2", true},
        {"", "/v/a.mpg", "mpeg", false},  {"", "/v/a.3gp", "3gp", false},
        {"", "/v/a.amr", "amr", true},    {"", "/v/a.mp4", "mp4", false},
        {"wmv", "/v/a.out", "asf", false}, {"wma", "/v/a.out", "asf", true},
        {"m4a", "/v/a.out", "ipod", true}, {"mpg", "/v/a.out", "mpeg", false},
        {"matroska", "/v/a.mp3", "matroska", false}, // a modern name passes as typed
        {"", "/v.d/noext", "", false},
    };
    for (const Case& c : cases) {
        const ContainerInfo info = ContainerFor(c.format, c.output);
        EXPECT_EQ(info.muxer, c.muxer) << c.format << " " << c.output;
        EXPECT_EQ(info.audioOnly, c.audioOnly) << c.format << " " << c.output;
    }
}

TEST(ConvertTranslate, AudioEncoderNames) {
    const ContainerInfo wav = ContainerFor("", "a.wav");
    const ContainerInfo avi = ContainerFor("", "a.avi");
    EXPECT_EQ(ModernAudioEncoder("libfaac", avi), "aac");
    EXPECT_EQ(ModernAudioEncoder("LIBFAAC", avi), "aac");
    EXPECT_EQ(ModernAudioEncoder("libamr_nb", avi), "libopencore_amrnb");
    EXPECT_EQ(ModernAudioEncoder("pcm_s8", wav), "pcm_u8");
    EXPECT_EQ(ModernAudioEncoder("pcm_s8", avi), "pcm_s8");
    EXPECT_EQ(ModernAudioEncoder("libmp3lame", wav), "libmp3lame");
    EXPECT_EQ(ModernAudioEncoder("MP2", avi), "mp2");
}

// Every profile's first-run line, as the program builds it, becomes a
// command that ffmpeg 5.1 accepts.
TEST(ConvertTranslate, EveryProfileLine) {
    for (const ProfileLine& p : kProfileLines) {
        std::vector<std::string> args = {"-y"};
        if (p.audioOnly) args.push_back("-vn");
        args = Cat(args, {"-i", "/in/src clip.mp4", "-brmap", "123456789012", "-brind", "3"});
        args = Cat(args, Words(p.options));
        const std::string output = std::string("/out/-name.") + p.ext;
        args.push_back(output);

        const std::vector<std::string> expected =
            Cat(Cat(kFfmpegHead, {"-i", "file:/in/src clip.mp4"}),
                Cat(Words(p.ffmpeg), {"file:" + output}));
        EXPECT_EQ(TranslateForFfmpeg(Parse(args)), expected) << "profile " << p.id;
    }
}

TEST(ConvertTranslate, RetryLineHasNoAudioValues) {
    EXPECT_EQ(TranslatedMiddle(Words("-y -i s.mp4 -brmap 123456789012 -brind 0 -vcodec mpeg4 "
                                     "-acodec libfaac -s 320x240 -r 20000/1001 -b 1500kb "
                                     "-vol 256 o.mp4")),
              Words("-c:v mpeg4 -s 320x240 -r 20000/1001 -b:v 1500k -c:a aac -f mp4"));
}

TEST(ConvertTranslate, OptionRules) {
    struct Case {
        const char* line;
        const char* expected;
    };
    const Case cases[] = {
        // -sameq: a quality scale without a bit rate; x264 wants -crf.
        {"-i s -vcodec mpeg4 -r 25 -sameq o.avi", "-c:v mpeg4 -r 25 -q:v 2 -f avi"},
        {"-i s -vcodec libx264 -r 25 -sameq o.mp4", "-c:v libx264 -r 25 -crf 18 -f mp4"},
        {"-i s -r 25 -sameq o.mkv", "-r 25 -crf 18 -f matroska"},
        {"-i s -vcodec mpeg4 -b 800kb -sameq o.avi", "-c:v mpeg4 -b:v 800k -f avi"},
        // Volume: 256 is the normal level.
        {"-i s -vol 256 o.mp3", "-vn -f mp3"},
        {"-i s -vol 128 o.mp3", "-vn -af volume=128/256 -f mp3"},
        {"-i s -vol 0 o.mp3", "-vn -af volume=0/256 -f mp3"},
        {"-i s -vol 1280 o.mp3", "-vn -af volume=1280/256 -f mp3"},
        // AMR-NB takes 8000 Hz mono only, with or without the audio values.
        {"-i s -vn -acodec libamr_nb -ab 12.2kb -ac 2 -ar 44100 o.amr",
         "-vn -c:a libopencore_amrnb -b:a 12.2k -ac 1 -ar 8000 -f amr"},
        {"-i s -vn -acodec libamr_nb o.amr", "-vn -c:a libopencore_amrnb -ac 1 -ar 8000 -f amr"},
        {"-i s -vn o.amr", "-vn -ac 1 -ar 8000 -f amr"},
        {"-i s -vcodec h263 -s 176x144 o.3gp", "-c:v h263 -s 176x144 -ac 1 -ar 8000 -f 3gp"},
        // 8-bit WAVE is unsigned.
        {"-i s -acodec pcm_s8 o.wav", "-vn -c:a pcm_u8 -f wav"},
        // Disabled streams drop their options.
        {"-y -an -i s -vcodec mpeg4 -acodec libfaac -ab 128.0kb -ac 2 -ar 44100 -vol 64 o.mp4",
         "-an -c:v mpeg4 -f mp4"},
        {"-y -vn -i s -vcodec mpeg4 -vtag xvid -s 320x240 -r 25 -b 900kb -aspect 4:3 "
         "-acodec libmp3lame o.avi",
         "-vn -c:a libmp3lame -f avi"},
        // An audio-only name gets -vn even without it.
        {"-i s -vcodec mpeg4 -acodec libfaac o.m4a", "-vn -c:a aac -f ipod"},
        // Old -f names and the aspect.
        {"-i s -f wmv -aspect 16:9 o.x", "-aspect 16:9 -f asf"},
        // MPEG-1 by the container's default encoder snaps its rate too.
        {"-i s -r 20000/1001 o.mpg", "-r 24000/1001 -f mpeg"},
        {"-i s -vcodec mpeg4 -r 20000/1001 o.mpg", "-c:v mpeg4 -r 20000/1001 -f mpeg"},
        // Codec names as typed in capitals still name ffmpeg's encoders.
        {"-i s -vcodec MPEG4 -acodec MP2 o.avi", "-c:v mpeg4 -c:a mp2 -f avi"},
        // Extra options go last, before the output.
        {"-i s -threads 2 -vcodec mpeg4 o.avi", "-c:v mpeg4 -f avi -threads 2"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TranslatedMiddle(Words(c.line)), Words(c.expected)) << c.line;
}

TEST(ConvertTranslate, PathsGoThroughTheFileProtocol) {
    const std::vector<std::string> args =
        TranslateForFfmpeg(Parse({"-i", "-x:y.mp4", "-vcodec", "mpeg4", "-o ut.avi"}));
    ASSERT_GE(args.size(), 2u);
    EXPECT_EQ(args.back(), "file:-o ut.avi");
    EXPECT_NE(std::find(args.begin(), args.end(), "file:-x:y.mp4"), args.end());
    // Without -y an existing output is kept.
    EXPECT_EQ(args[1], "-n");
}

TEST(ConvertProgress, BlocksUpdateOnTheProgressLine) {
    ProgressParser parser;
    EXPECT_FALSE(parser.FeedLine("frame=10"));
    EXPECT_FALSE(parser.FeedLine("total_size=48"));
    EXPECT_FALSE(parser.FeedLine("out_time_us=N/A"));
    EXPECT_FALSE(parser.FeedLine("speed=N/A"));
    EXPECT_TRUE(parser.FeedLine("progress=continue"));
    EXPECT_EQ(parser.Latest().totalSize, 48.0);
    EXPECT_EQ(parser.Latest().outTimeUs, -1.0);
    EXPECT_EQ(parser.Latest().speed, -1.0);
    EXPECT_FALSE(parser.Latest().ended);

    parser.FeedLine("total_size=1670");
    parser.FeedLine("out_time_us=1033750");
    parser.FeedLine("speed= 444x");
    EXPECT_TRUE(parser.FeedLine("progress=continue\r"));
    EXPECT_EQ(parser.Latest().outTimeUs, 1033750.0);
    EXPECT_EQ(parser.Latest().speed, 444.0);

    // A later N/A keeps the last known value.
    parser.FeedLine("out_time_us=N/A");
    EXPECT_TRUE(parser.FeedLine("progress=end"));
    EXPECT_EQ(parser.Latest().outTimeUs, 1033750.0);
    EXPECT_TRUE(parser.Latest().ended);
}

TEST(ConvertProgress, PercentIsClampedAndZeroWhenUnknown) {
    struct Case {
        double outTimeUs;
        double duration;
        double percent;
    };
    const Case cases[] = {
        {5e5, 1.0, 50.0}, {3e6, 2.0, 100.0}, {-1.0, 1.0, 0.0}, {5e5, 0.0, 0.0},
        {5e5, -1.0, 0.0}, {0.0, 10.0, 0.0},  {1e6, 4.0, 25.0},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(PercentDone(c.outTimeUs, c.duration), c.percent)
            << c.outTimeUs << " / " << c.duration;
}

namespace {

const char* const kInputListing[] = {
    "Input #0, mov,mp4,m4a,3gp,3g2,mj2, from 'file:src.mp4':",
    "  Duration: 00:00:01.00, start: 0.000000, bitrate: 377 kb/s",
    "  Stream #0:0[0x1](und): Video: mpeg4 (Simple Profile) (mp4v / 0x7634706D), yuv420p, "
    "160x120, 229 kb/s, 25 fps, 25 tbr, 12800 tbn (default)",
    "    Metadata:",
    "      handler_name    : VideoHandler",
    "  Stream #0:1[0x2](und): Audio: aac (LC) (mp4a / 0x6134706D), 44100 Hz, stereo, fltp, "
    "127 kb/s (default)",
};

FfmpegLog LogOf(std::initializer_list<const char*> tail, bool withInput = true) {
    FfmpegLog log;
    if (withInput)
        for (const char* line : kInputListing) log.FeedLine(line);
    for (const char* line : tail) log.FeedLine(line);
    return log;
}

} // namespace

TEST(ConvertLog, AudioRefusalIsToldFromOtherFailures) {
    struct Case {
        const char* what;
        FfmpegLog log;
        bool audio;
    };
    const Case cases[] = {
        {"mp2 with 6 channels, video first",
         LogOf({"Stream mapping:",
                "  Stream #0:0 -> #0:0 (mpeg4 (native) -> mpeg4 (native))",
                "  Stream #0:1 -> #0:1 (aac (native) -> mp2 (native))",
                "Press [q] to stop, [?] for help",
                "[mp2 @ 0x55bb798ec5c0] Specified channel layout '5.1' is not supported",
                "Error initializing output stream 0:1 -- Error while opening encoder for output "
                "stream #0:1 - maybe incorrect parameters such as bit_rate, rate, width or height",
                "Conversion failed!"}),
         true},
        {"ac3 at 22050 Hz, audio only",
         LogOf({"Stream mapping:",
                "  Stream #0:1 -> #0:0 (aac (native) -> ac3 (native))",
                "Press [q] to stop, [?] for help",
                "[ac3 @ 0x5572a49e75c0] Specified sample rate 22050 is not supported",
                "Error initializing output stream 0:0 -- Error while opening encoder for output "
                "stream #0:0 - maybe incorrect parameters such as bit_rate, rate, width or height",
                "Conversion failed!"}),
         true},
        {"no input listing: the encoder name tells",
         LogOf({"Stream mapping:",
                "  Stream #0:1 -> #0:0 (aac (native) -> mp3 (libmp3lame))",
                "Error initializing output stream 0:0 -- Error while opening encoder for output "
                "stream #0:0 - maybe incorrect parameters such as bit_rate, rate, width or height"},
               false),
         true},
        {"h263 refuses the picture size",
         LogOf({"Stream mapping:",
                "  Stream #0:0 -> #0:0 (mpeg4 (native) -> h263 (native))",
                "  Stream #0:1 -> #0:1 (aac (native) -> aac (native))",
                "Press [q] to stop, [?] for help",
                "[h263 @ 0x563bb77785c0] The specified picture size of 100x100 is not valid for "
                "the H.263 codec.",
                "Error initializing output stream 0:0 -- Error while opening encoder for output "
                "stream #0:0 - maybe incorrect parameters such as bit_rate, rate, width or height",
                "Conversion failed!"}),
         false},
        {"unknown encoder", LogOf({"Unknown encoder 'libfaac'"}), false},
        {"option parse error",
         LogOf({"[mp2 @ 0x55] Invalid chars 'b' at the end of expression '128.0kb'",
                "Error parsing option b: 128.0kb"}),
         false},
        {"a plain read error", LogOf({"file:x.mp4: Invalid data found when processing input"}),
         false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.log.AudioRefused({}), c.audio) << c.what;
}

TEST(ConvertLog, ProbeKindsDecideWithoutAListing) {
    const FfmpegLog log = LogOf(
        {"Stream mapping:", "  Stream #0:3 -> #0:1 (pcm_s16le (native) -> weird (native))",
         "Error while opening encoder for output stream #0:1 - maybe incorrect parameters"},
        false);
    EXPECT_FALSE(log.AudioRefused({}));
    EXPECT_TRUE(log.AudioRefused({'v', 'o', 'o', 'a'}));
}

TEST(ConvertLog, ErrorLinesLeaveOutTheInputListing) {
    const FfmpegLog log = LogOf({"Stream mapping:", "  Stream #0:0 -> #0:0 (a -> b)",
                                 "Press [q] to stop, [?] for help", "[x @ 0x1] broken",
                                 "Conversion failed!"});
    EXPECT_EQ(log.ErrorLines(12), (std::vector<std::string>{"[x @ 0x1] broken", "Conversion failed!"}));
    EXPECT_EQ(log.ErrorLines(1), (std::vector<std::string>{"Conversion failed!"}));
    const FfmpegLog early = LogOf({"Unknown encoder 'foo'"}, false);
    EXPECT_EQ(early.ErrorLines(12), (std::vector<std::string>{"Unknown encoder 'foo'"}));
    // Failing before encoding began: the listings, metadata and all, are no error.
    const FfmpegLog beforeStart =
        LogOf({"ffmpeg stats and -progress period set to 0.2.", "  Metadata:",
               "    title           : holiday", "    encoder         : Lavf59",
               "      : a second line of the title", "Unknown encoder 'foo'"});
    EXPECT_EQ(beforeStart.ErrorLines(12), (std::vector<std::string>{"Unknown encoder 'foo'"}));
    const FfmpegLog encoderRefused = LogOf(
        {"Output #0, mp2, to 'out.mp2':", "  Metadata:", "    encoder         : Lavf59.27.100",
         "  Stream #0:0: Audio: mp2, 12000 Hz, stereo, s16, 128 kb/s", "Stream mapping:",
         "  Stream #0:1 -> #0:0 (aac (native) -> mp2 (native))", "Press [q] to stop, [?] for help",
         "[mp2 @ 0x1] Specified sample rate 12000 is not supported",
         "Error initializing output stream 0:0 -- Error while opening encoder for output stream "
         "#0:0 - maybe incorrect parameters such as bit_rate, rate, width or height",
         "Conversion failed!"});
    const std::vector<std::string> lines = encoderRefused.ErrorLines(12);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "[mp2 @ 0x1] Specified sample rate 12000 is not supported");
    EXPECT_EQ(lines[2], "Conversion failed!");
    EXPECT_TRUE(encoderRefused.AudioRefused({}));
    // Nothing but the listing: shown rather than nothing.
    EXPECT_FALSE(LogOf({}).ErrorLines(12).empty());
}

TEST(ConvertLog, DurationComesFromTheFirstInputsListing) {
    struct Case {
        const char* line;
        double seconds; // negative: unknown
    };
    const Case cases[] = {
        {"  Duration: 00:00:01.00, start: 0.000000, bitrate: 377 kb/s", 1.0},
        {"  Duration: 01:02:03.45, start: 0.000000, bitrate: 377 kb/s", 3723.45},
        {"  Duration: 00:00:00.04, start: 0.000000, bitrate: 1 kb/s", 0.04},
        {"  Duration: 123:00:00.00, bitrate: 1 kb/s", 442800.0},
        {"  Duration: N/A, start: 0.000000, bitrate: N/A", -1.0},
        {"  Duration: 00:61:00.00, start: 0.000000", -1.0},
        {"  Duration: 00:00", -1.0},
    };
    for (const Case& c : cases) {
        FfmpegLog log;
        log.FeedLine("Input #0, mov,mp4,m4a,3gp,3g2,mj2, from 'file:src.mp4':");
        log.FeedLine(c.line);
        log.FeedLine("Output #0, mp4, to 'file:out.mp4':");
        // An output's own "Duration:" line never counts.
        log.FeedLine("  Duration: 00:00:09.00, start: 0.000000, bitrate: N/A");
        if (c.seconds < 0)
            EXPECT_LT(log.InputDuration(), 0.0) << c.line;
        else
            EXPECT_NEAR(log.InputDuration(), c.seconds, 1e-9) << c.line;
    }
    EXPECT_LT(FfmpegLog().InputDuration(), 0.0);
}
