// Finding and adding video files: the extension list, folder search and the
// probe that decides whether a file joins the job list. Shared by the window
// and the console tool.
#pragma once

#include <functional>
#include <string>

struct AppSettings;
struct JobStore;

// Extensions accepted from drops, folders and the command line.
extern const char* const SupportedExtensions;
// The open-file dialog's groups.
extern const char* const VideoFileExtensions;
extern const char* const WindowsMediaExtensions;
extern const char* const DvdExtensions;
extern const char* const AudioFileExtensions;
extern const char* const RealMediaExtensions;

// Case-insensitive; one leading point is ignored.
bool IsSupportedExtension(const std::string& extension);
bool HasSupportedExtension(const std::string& path);

// Visits every file below folder at every depth, in the order the file system
// gives, calling onFile for those with a supported extension. A folder that
// cannot be read is passed to onError with its errno. Symbolic links to
// folders are followed once: a folder already visited is skipped.
// onFile returns false to stop the walk.
void ScanFolderForVideos(const std::string& folder,
                         const std::function<bool(const std::string& path)>& onFile,
                         const std::function<void(const std::string& folder, int err)>& onError);

enum class AddOutcome {
    Added,
    InvalidVideo, // the converter said it is not a usable video or audio file
    Refused,      // the probe could not run (no converter, no progress slot)
    PathTooLong,
};

// Probes path with the converter and appends a Ready job with the current
// profile on success (dropping the oldest entries beyond the limit). With
// reason, the converter's own words on a refusal are kept there (maybe "")
// instead of going to stderr.
AddOutcome AddVideoFile(JobStore* store, const AppSettings& settings,
                        const std::string& converterPath, const std::string& path,
                        std::string* reason = nullptr);
