// The converter's command lines, the codec map and the choice of output paths.
#pragma once

#include <string>
#include <vector>

#include "converter/profiles.h"
#include "util/textutil.h"

struct ConversionJob;
struct JobStore;

// Room for the fixed options and three paths of the platform's full length.
constexpr int kCmdBufSize = 3 * kPathBufSize + 2050;

// The command as text (what a shell would see, quoted paths) and the same
// command as an argument vector, which is what is launched: a path holding
// blanks, quotes or a leading dash stays one argument.
struct CommandLine {
    std::string text;
    std::vector<std::string> argv;
};

std::string CodecMapName(const char* tag);
// Both return false (and an empty command) when the text would not fit kCmdBufSize.
bool CmdBuildConvert(CommandLine& cmd, const std::string& converterPath,
                     const std::string& sourcePath, const std::string& outputPath,
                     const ConversionJob& job, AppSettings& snapshot, bool retry);
bool CmdBuildProbe(CommandLine& cmd, const std::string& converterPath,
                   const std::string& sourcePath, const ConversionJob& job);

// Output paths. Each returns false (or -1) and leaves result empty when the
// path would be longer than the platform allows, instead of cutting it.
bool OutputPathJoin(std::string& result, const std::string& folder, const std::string& baseName,
                    const std::string& extension);
int OutputPathMake(std::string& result, const std::string& folder, const std::string& baseName,
                   const std::string& extension, const JobStore* store);
int OutputPathForProfile(std::string& result, const std::string& folder,
                         const std::string& baseName, int16_t profileId, const JobStore* store);
int OutputPathForJob(std::string& result, const std::string& folder, const std::string& baseName,
                     const ConversionJob& job, const JobStore* store);
