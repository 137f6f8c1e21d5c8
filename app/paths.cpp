#include "app/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "settings/datafiles.h"
#include "util/files.h"

namespace {

std::string ProgramFolderIfWritable() {
    std::string folder;
    if (ProgramFolder(folder) && access(folder.c_str(), W_OK) == 0) return folder;
    return {};
}

std::string HomeFolder() {
    const char* home = getenv("HOME");
    return home != nullptr && *home != '\0' ? home : "/tmp";
}

} // namespace

bool FolderExists(const std::string& path) {
    struct stat st{};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string DataFilePath(const std::string& name) {
    std::string folder = ProgramFolderIfWritable();
    if (folder.empty()) {
        const char* config = getenv("XDG_CONFIG_HOME");
        folder = config != nullptr && *config == '/' ? config : HomeFolder() + "/.config";
        PathJoin(folder, "movenna");
        CreateFolderTree(folder);
    }
    PathJoin(folder, name);
    return folder;
}

std::string DefaultDestFolder() {
    std::string folder = ProgramFolderIfWritable();
    if (folder.empty()) {
        folder = HomeFolder();
        PathJoin(folder, "Videos");
    }
    PathJoin(folder, kDefaultDestSubfolder);
    return folder;
}
