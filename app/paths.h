// Where the program keeps its data: beside the executables, or in the user's
// folders for an installed copy.
#pragma once

#include <string>

// settings.dat / history.dat: beside the executable, except for an installed
// copy: then in $XDG_CONFIG_HOME/movenna (~/.config/movenna), created on demand.
std::string DataFilePath(const std::string& name);
// The default destination: "Converted" beside the executable, except for an
// installed copy: then "Converted" in the user's Videos folder.
std::string DefaultDestFolder();
bool FolderExists(const std::string& path);

// An installed copy keeps nothing beside itself: its folder cannot be written,
// or it is a system program folder (root can write /usr/bin, but must not).
bool IsInstalledCopy(const std::string& programFolder);
// The desktop's Videos folder: XDG_VIDEOS_DIR of user-dirs.dirs in
// configHome when it names one (it may be translated), else home/Videos.
std::string UserVideosFolder(const std::string& home, const std::string& configHome);
