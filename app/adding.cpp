#include "app/adding.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

#include "converter/convrun.h"
#include "converter/profiles.h"
#include "converter/sizetext.h"
#include "jobs/job.h"
#include "jobs/scheduler.h"
#include "util/textutil.h"

const char* const SupportedExtensions =
    "avi mpg mpeg mpe m1v m2v vob mp4 m4v mov qt 3gp 3g2 mkv webm flv f4v ogv divx xvid dv ts "
    "m2ts mts wmv asf rm rmvb mp3 mp2 wav wma aac m4a ac3 flac ogg oga opus amr";
const char* const VideoFileExtensions =
    "avi mp4 m4v mov qt mkv webm flv f4v 3gp 3g2 ogv divx xvid dv ts m2ts mts";
const char* const WindowsMediaExtensions = "wmv asf wma";
const char* const DvdExtensions = "vob mpg mpeg mpe m1v m2v";
const char* const AudioFileExtensions = "mp3 mp2 wav wma aac m4a ac3 flac ogg oga opus amr";
const char* const RealMediaExtensions = "rm rmvb";

bool IsSupportedExtension(const std::string& extension) {
    const char* e = extension.c_str();
    if (*e == '.') ++e;
    if (*e == '\0') return false;
    char token[kPathBufSize];
    int pos = 0;
    while (StrNextToken(token, sizeof token, SupportedExtensions, &pos, " ") != 0) {
        if (strcasecmp(token, e) == 0) return true;
    }
    return false;
}

bool HasSupportedExtension(const std::string& path) {
    size_t slash = path.rfind(kPathSep);
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    return IsSupportedExtension(path.substr(dot));
}

namespace {

struct FolderWalk {
    const std::function<bool(const std::string&)>& onFile;
    const std::function<void(const std::string&, int)>& onError;
    std::set<std::pair<dev_t, ino_t>> visited;
    bool stopped = false;

    void Walk(const std::string& folder) {
        struct stat st{};
        if (stat(folder.c_str(), &st) != 0) {
            onError(folder, errno);
            return;
        }
        if (!visited.insert({st.st_dev, st.st_ino}).second) return;
        DIR* dir = opendir(folder.c_str());
        if (dir == nullptr) {
            onError(folder, errno);
            return;
        }
        std::string base = folder;
        if (base.empty() || base.back() != kPathSep) base += kPathSep;
        while (!stopped) {
            errno = 0;
            dirent* entry = readdir(dir);
            if (entry == nullptr) {
                if (errno != 0) onError(folder, errno);
                break;
            }
            const char* name = entry->d_name;
            if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
            std::string path = base + name;
            bool isDir = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
                struct stat target{};
                isDir = stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
            }
            if (isDir) {
                Walk(path);
            } else if (HasSupportedExtension(path)) {
                stopped = !onFile(path);
            }
        }
        closedir(dir);
    }
};

} // namespace

void ScanFolderForVideos(const std::string& folder,
                         const std::function<bool(const std::string&)>& onFile,
                         const std::function<void(const std::string&, int)>& onError) {
    FolderWalk walk{onFile, onError, {}};
    walk.Walk(folder);
}

AddOutcome AddVideoFile(JobStore* store, const AppSettings& settings,
                        const std::string& converterPath, const std::string& path,
                        std::string* reason) {
    if (reason) reason->clear();
    if (path.size() > static_cast<size_t>(kPathMaxLen)) return AddOutcome::PathTooLong;
    ConversionJob* job = JobCreate(path);
    job->origin = 1;
    job->profileId = settings.profileId;
    job->status = Ready;
    job->sourceSize = FileSize64(path.c_str());
    ProbeResult probe = ConverterProbe(converterPath, path, *job, reason);
    if (probe != ProbeResult::Accepted) {
        JobFree(job);
        return probe == ProbeResult::Invalid ? AddOutcome::InvalidVideo : AddOutcome::Refused;
    }
    job->displayName = JobNameFromSource(path);
    // Workers of a running conversion read the list under the job lock; a
    // full list would drop its oldest entry, which may be converting.
    JobLockGuard lock;
    if (Busy && JobCount(store) >= MaxJobs) {
        JobFree(job);
        return AddOutcome::Refused;
    }
    JobStoreAppend(store, job);
    return AddOutcome::Added;
}
