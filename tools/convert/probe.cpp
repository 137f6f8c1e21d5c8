#include "tools/convert/probe.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include "tools/convert/translate.h"

namespace {

// libavformat pulls in some 140 shared libraries, whose loading costs more
// than the probe itself. Loaded on first use, a conversion can start ffmpeg
// first and pay for the libraries while ffmpeg is busy starting up too.
struct LibAv {
    bool loaded = false;
    decltype(&avformat_open_input) openInput = nullptr;
    decltype(&avformat_find_stream_info) findStreamInfo = nullptr;
    decltype(&avformat_close_input) closeInput = nullptr;
    decltype(&av_strerror) strError = nullptr;
    decltype(&av_log_set_level) logSetLevel = nullptr;
};

template <typename Fn>
bool Bind(void* library, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(dlsym(library, name));
    return fn != nullptr;
}

const LibAv& Lib() {
    static const LibAv lib = [] {
        LibAv av;
        // The sonames of the headers built against: the same ABI.
        void* format = dlopen("libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR),
                              RTLD_LAZY | RTLD_LOCAL);
        void* util = dlopen("libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR),
                            RTLD_LAZY | RTLD_LOCAL);
        if (!format || !util) return av;
        av.loaded = Bind(format, "avformat_open_input", av.openInput) &&
                    Bind(format, "avformat_find_stream_info", av.findStreamInfo) &&
                    Bind(format, "avformat_close_input", av.closeInput) &&
                    Bind(util, "av_strerror", av.strError) &&
                    Bind(util, "av_log_set_level", av.logSetLevel);
        // Its messages would only clutter ours.
        if (av.loaded) av.logSetLevel(AV_LOG_QUIET);
        return av;
    }();
    return lib;
}

struct InputCloser {
    AVFormatContext* context = nullptr;
    ~InputCloser() {
        if (context) Lib().closeInput(&context);
    }
};

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    Lib().strError(code, text, sizeof text);
    return text;
}

// The stream kinds and the duration are known without reading frames.
bool HeaderTellsEnough(const AVFormatContext* context) {
    if (context->duration == AV_NOPTS_VALUE || context->duration <= 0 || context->nb_streams == 0) return false;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVCodecParameters* par = context->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_UNKNOWN || par->codec_id == AV_CODEC_ID_NONE) return false;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && (par->width <= 0 || par->height <= 0)) return false;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO && (par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0))
            return false;
    }
    return true;
}

} // namespace

SourceInfo ProbeSource(const std::string& path) {
    SourceInfo info;
    // Only regular files: a folder, a pipe or a device is no video, and a
    // FIFO would block the probe.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        info.error = std::strerror(errno);
        return info;
    }
    if (!S_ISREG(st.st_mode)) {
        info.error = S_ISDIR(st.st_mode) ? "is a folder" : "is not a regular file";
        return info;
    }
    if (st.st_size == 0) {
        info.error = "is empty";
        return info;
    }

    if (!Lib().loaded) {
        info.libraryMissing = true;
        info.error = "libavformat cannot be loaded";
        return info;
    }
    InputCloser input;
    const std::string url = FfmpegFileArg(path);
    int rc = Lib().openInput(&input.context, url.c_str(), nullptr, nullptr);
    if (rc < 0) {
        input.context = nullptr;
        info.error = AvError(rc);
        return info;
    }
    // Most containers say in their header what each stream is and how long
    // the whole lasts; only the others need frames read (the slow part).
    if (!HeaderTellsEnough(input.context)) {
        rc = Lib().findStreamInfo(input.context, nullptr);
        if (rc < 0) {
            info.error = AvError(rc);
            return info;
        }
    }
    info.opened = true;

    double longestStream = -1.0;
    for (unsigned i = 0; i < input.context->nb_streams; ++i) {
        const AVStream* stream = input.context->streams[i];
        char kind = 'o';
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            kind = 'a';
        // A cover picture is not a video.
        else if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                 !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            kind = 'v';
        info.streamKinds.push_back(kind);
        if (kind == 'o') continue;
        info.hasAudioOrVideo = true;
        if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
            longestStream = std::max(longestStream, stream->duration * av_q2d(stream->time_base));
    }
    if (!info.hasAudioOrVideo) {
        info.error = "has no audio or video stream";
        return info;
    }

    if (input.context->duration != AV_NOPTS_VALUE && input.context->duration >= 0)
        info.duration = static_cast<double>(input.context->duration) / AV_TIME_BASE;
    else if (longestStream >= 0.0)
        info.duration = longestStream;
    else
        info.error = "has no known duration";
    return info;
}
