#include "converter/cmdline.h"

#include "converter/progress.h"
#include "jobs/job.h"

#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <strings.h>
#include <sys/stat.h>

namespace {

struct CodecMapEntry {
    const char* tag;
    const char* name;
};

constexpr CodecMapEntry kCodecMap[] = {
    {.tag = "MP4", .name = "mpeg4"},        {.tag = "MPEG-4", .name = "mpeg4"},
    {.tag = "WMV1", .name = "wmv1"},        {.tag = "WMV2", .name = "wmv2"},
    {.tag = "H264", .name = "libx264"},     {.tag = "H263", .name = "h263"},
    {.tag = "MPG1", .name = "mpeg1video"},  {.tag = "MPG2", .name = "mpeg2video"},
    {.tag = "MPEG1", .name = "mpeg1video"}, {.tag = "MPEG2", .name = "mpeg2video"},
    {.tag = "MSV2", .name = "msmpeg4v2"},   {.tag = "MJPG", .name = "mjpeg"},
    {.tag = "AAC", .name = "libfaac"},      {.tag = "MP3", .name = "libmp3lame"},
    {.tag = "PCM", .name = "pcm_s16le"},    {.tag = "WMA", .name = "wmav1"},
    {.tag = "AMR", .name = "libamr_nb"},    {.tag = "AC3", .name = "ac3"},
    {.tag = "PCM8", .name = "pcm_s8"},      {.tag = "ACC", .name = "libfaac"},
};

constexpr const char* kMpegVideoTags[] = {"MPG1", "MPG2", "MPEG1", "MPEG2"};

// Builds the shell-like text and the argument vector side by side. The text
// pieces keep their own blanks; the arguments are the same words, but a path
// is always exactly one argument, whatever it holds.
class Builder {
  public:
    explicit Builder(CommandLine& cmd) : cmd_(cmd) {
        cmd_.text.clear();
        cmd_.argv.clear();
    }

    void Add(const std::string& piece, std::initializer_list<std::string> args) {
        cmd_.text += piece;
        for (const std::string& arg : args)
            cmd_.argv.push_back(arg);
    }

    // Words separated by blanks, as a shell would split them.
    void AddWords(const char* text) {
        cmd_.text += text;
        cmd_.text += ' ';
        std::string word;
        for (const char* p = text;; ++p) {
            if (*p == '\0' || std::isspace(static_cast<unsigned char>(*p))) {
                if (!word.empty()) cmd_.argv.push_back(word);
                word.clear();
                if (*p == '\0') break;
            } else {
                word.push_back(*p);
            }
        }
    }

    bool Finish() {
        if (cmd_.text.size() < static_cast<size_t>(kCmdBufSize)) return true;
        cmd_.text.clear();
        cmd_.argv.clear();
        return false;
    }

  private:
    CommandLine& cmd_;
};

bool Present(const char* text) {
    return text != nullptr && text[0] != '\0';
}

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

void BuildCodecs(Builder& b, const std::string& videoTag, const std::string& audioTag,
                 const char* container) {
    if (!videoTag.empty()) {
        const std::string name = CodecMapName(videoTag.c_str());
        if (name == "divx")
            b.Add("-vcodec mpeg4 -vtag divx ", {"-vcodec", "mpeg4", "-vtag", "divx"});
        else if (name == "xvid")
            b.Add("-vcodec mpeg4 -vtag xvid ", {"-vcodec", "mpeg4", "-vtag", "xvid"});
        else
            b.Add("-vcodec " + name + " ", {"-vcodec", name});
    }
    if (!audioTag.empty()) {
        const std::string name = CodecMapName(audioTag.c_str());
        b.Add("-acodec " + name + " ", {"-acodec", name});
    }
    if (Present(container)) b.Add(std::string("-f ") + container + " ", {"-f", container});
}

void BuildQuality(Builder& b, const AppSettings& snapshot, float frameRate, bool retry) {
    int w = snapshot.width;
    int h = snapshot.height;
    if (snapshot.aspect != 0) {
        w = -1;
        h = -1;
    }
    float r = frameRate;
    const int vb = snapshot.videoBitrate;
    float ab = snapshot.audioBitrate;
    int c = snapshot.channels;
    long s = snapshot.sampleRate;
    if (strcasecmp(snapshot.audioCodec.c_str(), "AMR") == 0) {
        ab = 12.2f;
        c = 1;
        s = 8000;
    }
    char value[64];
    if (w != -1) {
        std::snprintf(value, sizeof value, "%dx%d", w, h);
        b.Add(std::string("-s ") + value + " ", {"-s", value});
    }
    // Original (or nonsense) means 20 frames per second: a run always carries a rate.
    if (!(r > 0.0f)) r = 20.0f;
    // Times 1000 in double and truncated: the stored 29.976 must give 29975.
    double thousandths = std::trunc(static_cast<double>(r) * 1000.0);
    if (thousandths > 9.0e18) // an absurd stored rate must not overflow the count
        thousandths = 9.0e18;
    std::snprintf(value, sizeof value, "%lld/1001", static_cast<long long>(thousandths));
    b.Add(std::string("-r ") + value + " ", {"-r", value});
    if (vb != -1) {
        std::snprintf(value, sizeof value, "%dkb", vb);
        b.Add(std::string("-b ") + value + " ", {"-b", value});
    }
    if (w == -1 && vb == -1) b.Add("-sameq ", {"-sameq"});
    if (!retry) {
        if (ab != -1.0f) {
            std::snprintf(value, sizeof value, "%.1fkb", static_cast<double>(ab));
            b.Add(std::string("-ab ") + value + " ", {"-ab", value});
        }
        if (c != -1) {
            std::snprintf(value, sizeof value, "%d", c);
            b.Add(std::string("-ac ") + value + " ", {"-ac", value});
        }
        if (s != -1) {
            std::snprintf(value, sizeof value, "%ld", s);
            b.Add(std::string("-ar ") + value + " ", {"-ar", value});
        }
    }
    std::snprintf(value, sizeof value, "%ld", static_cast<long>(snapshot.volume) * 256 / 100);
    b.Add(std::string(" -vol ") + value + " ", {"-vol", value});
}

bool IsMpegVideoTag(const std::string& tag) {
    for (const char* mpeg : kMpegVideoTags) {
        if (strcasecmp(tag.c_str(), mpeg) == 0) return true;
    }
    return false;
}

bool PathTaken(const std::string& candidate, const JobStore* store) {
    if (store != nullptr) {
        const int count = JobCount(store);
        for (int i = 0; i < count; ++i) {
            const ConversionJob* job = JobAt(store, i);
            if (job == nullptr || job->status.load() >= Cancelled) continue;
            if (strcasecmp(job->outputPath.c_str(), candidate.c_str()) == 0) return true;
        }
    }
    // lstat: a dangling link also counts as taken, writing through it would
    // create a file somewhere else.
    struct stat info {};
    return ::lstat(candidate.c_str(), &info) == 0;
}

} // namespace

std::string CodecMapName(const char* tag) {
    if (tag == nullptr) return {};
    const char* name = tag;
    for (const CodecMapEntry& entry : kCodecMap) {
        if (strcasecmp(entry.tag, tag) == 0) {
            name = entry.name;
            break;
        }
    }
    std::string result;
    for (int i = 0; i < kCodecTagMaxLen && name[i] != '\0'; ++i)
        result.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(name[i]))));
    return result;
}

bool CmdBuildConvert(CommandLine& cmd, const std::string& converterPath,
                     const std::string& sourcePath, const std::string& outputPath,
                     const ConversionJob& job, AppSettings& snapshot, bool retry) {
    const OutputProfile& profile = kProfiles[ProfileIndexById(snapshot.profileId)];
    Builder b(cmd);
    b.Add(Quoted(converterPath) + " -y ", {converterPath, "-y"});
    if (snapshot.disableAudio) b.Add(" -an ", {"-an"});
    if (snapshot.disableVideo || profile.audioOnly) b.Add(" -vn ", {"-vn"});
    b.Add("-i " + Quoted(sourcePath) + " ", {"-i", sourcePath});
    const std::string channel = ProgressChannelName();
    b.Add(" -brmap " + channel + " ", {"-brmap", channel});
    const std::string slot = std::to_string(job.progressSlot);
    b.Add(" -brind " + slot + " ", {"-brind", slot});
    if (Present(profile.extraOptions)) b.AddWords(profile.extraOptions);
    BuildCodecs(b, snapshot.videoCodec, snapshot.audioCodec, profile.container);

    // Several workers share the snapshot; the rate is the one field they
    // write, and only ever with the same value.
    std::atomic_ref<float> rate(snapshot.frameRate);
    float frameRate = rate.load(std::memory_order_relaxed);
    if (IsMpegVideoTag(snapshot.videoCodec) && !(frameRate >= 20.0f)) {
        frameRate = 20.0f;
        rate.store(frameRate, std::memory_order_relaxed);
    }
    BuildQuality(b, snapshot, frameRate, retry);

    if (snapshot.aspect == 1)
        b.Add(" -aspect 4:3 ", {"-aspect", "4:3"});
    else if (snapshot.aspect == 2)
        b.Add(" -aspect 16:9 ", {"-aspect", "16:9"});
    b.Add(Quoted(outputPath), {outputPath});
    return b.Finish();
}

bool CmdBuildProbe(CommandLine& cmd, const std::string& converterPath,
                   const std::string& sourcePath, const ConversionJob& job) {
    Builder b(cmd);
    b.Add(Quoted(converterPath) + " -y ", {converterPath, "-y"});
    const std::string channel = ProgressChannelName();
    b.Add(" -brmap " + channel + " ", {"-brmap", channel});
    const std::string slot = std::to_string(job.progressSlot);
    b.Add(" -brind " + slot + " ", {"-brind", slot});
    b.Add("-i " + Quoted(sourcePath) + " ", {"-i", sourcePath});
    return b.Finish();
}

bool OutputPathJoin(std::string& result, const std::string& folder, const std::string& baseName,
                    const std::string& extension) {
    result.clear();
    std::string path;
    if (!folder.empty()) {
        path = folder;
        if (path.back() != kPathSep) path.push_back(kPathSep);
    }
    path += baseName;
    if (!extension.empty()) {
        if (extension.front() != '.') path.push_back('.');
        path += extension;
    }
    if (path.size() > static_cast<size_t>(kPathMaxLen)) return false;
    result = std::move(path);
    return true;
}

int OutputPathMake(std::string& result, const std::string& folder, const std::string& baseName,
                   const std::string& extension, const JobStore* store) {
    std::string candidate;
    for (int n = 0;; ++n) {
        std::string base = baseName;
        if (n > 0) base += "(" + std::to_string(n) + ")";
        if (!OutputPathJoin(candidate, folder, base, extension)) {
            result.clear();
            return -1;
        }
        if (!PathTaken(candidate, store)) {
            result = std::move(candidate);
            return n;
        }
    }
}

int OutputPathForProfile(std::string& result, const std::string& folder,
                         const std::string& baseName, int16_t profileId, const JobStore* store) {
    return OutputPathMake(result, folder, baseName, ProfileExtension(profileId), store);
}

int OutputPathForJob(std::string& result, const std::string& folder, const std::string& baseName,
                     const ConversionJob& job, const JobStore* store) {
    return OutputPathMake(result, folder, baseName, ProfileExtension(job.profileId), store);
}
