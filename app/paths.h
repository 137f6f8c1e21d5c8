// Where the program keeps its data: beside the executables, or in the user's
// folders when that folder cannot be written (an installed copy).
#pragma once

#include <string>

// settings.dat / history.dat: beside the executable when that folder is
// writable, else in $XDG_CONFIG_HOME/movenna (~/.config/movenna), created on demand.
std::string DataFilePath(const std::string& name);
// The default destination: "Converted" beside the executable when that folder
// is writable, else "Converted" in the user's Videos folder.
std::string DefaultDestFolder();
bool FolderExists(const std::string& path);
