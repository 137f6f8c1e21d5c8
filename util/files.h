// Files beside the executable, folder trees, the main window's size rule and
// the file-dialog filter text. No Qt: the dialogs themselves are in ui/Shell.h.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The given file name (its folder part ignored) in the executable's folder.
// Empty when the executable's path cannot be read or the result would be
// longer than kPathMaxLen.
std::string ModuleFilePath(std::string_view name);

// The executable's folder. 1 on success; 0 with an empty folder when the
// executable's path cannot be read.
int ProgramFolder(std::string& folder);

// folder = path without its last part. The separator is dropped, except when it
// is the first character ("/app" gives "/"); a path without one is copied
// whole. Returns the separator's position, or -1 when there is none.
int PathParentFolder(std::string& folder, std::string_view path);

// Appends name to folder with exactly one '/' between them (one trailing '/'
// of folder and a leading '/' of name do not double). An empty folder gives
// just the name. Returns false, folder unchanged, when the result would be
// longer than kPathMaxLen.
bool PathJoin(std::string& folder, std::string_view name);

// True when something other than a folder stands at path (a file to open,
// play or delete); false for an empty path.
bool FileExists(const std::string& path);

// Creates every missing folder of path from the top down. 1 when the folder
// exists afterwards, 0 when a creation failed, the path is empty or longer
// than kPathMaxLen, or a file stands where the folder should be.
int CreateFolderTree(std::string_view path);

// The main window's size rule: width clamped to 400..1600, height 3/4 of it.
int WindowWidthFit(int width);
int WindowHeightForWidth(int width);

// Filter text for the open-file dialog: groups of "description|patterns|".
// The extension list holds extensions without dots, separated by spaces and
// commas. Both functions append their group to filter.
//   FilterAddGroup: "Videos (*.avi;*.mp4)|*.AVI;*.MP4|"
//   FilterAddAll:   "All supported files|*.AVI;*.MP4|"
void FilterAddGroup(std::string& filter, std::string_view description, std::string_view extensions);
void FilterAddAll(std::string& filter, std::string_view description, std::string_view extensions);

// The filter text as Qt's name filters, one "Description (*.a *.b)" entry per
// group. Linux file names are case-sensitive, so every pattern comes in lower
// and upper case; "*.*" (every file on Windows) becomes "*". A trailing
// "(...)" in the description is replaced by the pattern list.
std::vector<std::string> FilterToNameFilters(std::string_view filter);
