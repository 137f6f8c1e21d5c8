#include "app/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "settings/datafiles.h"
#include "util/files.h"

#ifndef MOVENNA_INSTALL_BINDIR
#define MOVENNA_INSTALL_BINDIR "/usr/local/bin"
#endif

namespace {

// The program folder when the data may live there, else empty.
std::string ProgramFolderForData() {
    std::string folder;
    if (ProgramFolder(folder) && !IsInstalledCopy(folder)) return folder;
    return {};
}

std::string HomeFolder() {
    const char* home = getenv("HOME");
    return home != nullptr && *home == '/' ? home : "/tmp";
}

std::string ConfigHome() {
    const char* config = getenv("XDG_CONFIG_HOME");
    return config != nullptr && *config == '/' ? config : HomeFolder() + "/.config";
}

} // namespace

bool FolderExists(const std::string& path) {
    struct stat st{};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsInstalledCopy(const std::string& programFolder) {
    for (const char* system : {MOVENNA_INSTALL_BINDIR, "/usr/bin", "/usr/local/bin", "/bin", "/usr/games"})
        if (programFolder == system) return true;
    return access(programFolder.c_str(), W_OK) != 0;
}

std::string UserVideosFolder(const std::string& home, const std::string& configHome) {
    std::ifstream dirs(configHome + "/user-dirs.dirs");
    std::string line;
    const std::string key = "XDG_VIDEOS_DIR=";
    while (std::getline(dirs, line)) {
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
        // "$HOME/" alone means the desktop has no Videos folder: keep our default.
        while (value.size() > 1 && value.back() == '/') value.pop_back();
        if (value.size() > 1 && value.front() == '/' && value != home) return value;
        break;
    }
    return home + "/Videos";
}

std::string DataFilePath(const std::string& name) {
    std::string folder = ProgramFolderForData();
    if (folder.empty()) {
        folder = ConfigHome();
        PathJoin(folder, "movenna");
        CreateFolderTree(folder);
    }
    PathJoin(folder, name);
    return folder;
}

std::string DefaultDestFolder() {
    std::string folder = ProgramFolderForData();
    if (folder.empty()) folder = UserVideosFolder(HomeFolder(), ConfigHome());
    PathJoin(folder, kDefaultDestSubfolder);
    return folder;
}
