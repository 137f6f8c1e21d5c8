// Opening an address in the desktop's default web browser: the handler of
// x-scheme-handler/http named by the XDG mimeapps.list files, started with
// the address as its one argument.
#pragma once

#include <string>
#include <vector>

// Opens a file or an address with the desktop; 1 when that was started.
// Used when the browser command cannot take the address.
using ShellOpenVerbFunction = int (*)(const std::string& fileOrAddress);

// The default: xdg-open, started and not waited for.
int XdgOpenVerb(const std::string& fileOrAddress);
// Replaces the function (the window installs the Qt one); nullptr restores
// XdgOpenVerb. Returns the one it replaces.
ShellOpenVerbFunction SetShellOpenVerb(ShellOpenVerbFunction function);
int ShellOpenVerbCall(const std::string& fileOrAddress);

// The browser command and the address together may be this long; a longer
// address goes to the shell-open function instead.
inline constexpr size_t kBrowserLineMax = 254;

// 1 when a browser was started, 0 otherwise.
int OpenUrlInBrowser(const std::string& address);

// The program part of the default browser's command: the Exec line of its
// .desktop file cut at its first '%' or '-' and with trailing white space
// removed. Returns its first character, 0 (command empty) when there is none.
char DefaultBrowserCommand(std::string& command);

// Starts command (split into words as a .desktop Exec line is: white space,
// double and single quotes, backslash escapes; no shell) with argument added
// as one more word; 1 when it was started. When the two joined by a space are
// longer than kBrowserLineMax, the argument goes to the shell-open function
// instead and its result is returned.
int LaunchWithArgument(const std::string& command, const std::string& argument);

// The .desktop file of the default handler of mimeType, "" when none is found.
// Its Exec line goes to exec (escapes of the file format decoded).
std::string DefaultHandlerDesktopFile(const std::string& mimeType, std::string& exec);

// Splits a command into words; false on an unclosed quote.
bool SplitCommandWords(const std::string& command, std::vector<std::string>& words);

// name itself when it holds a '/', else the first executable file of that
// name in $PATH; "" when there is none.
std::string FindProgramInPath(const std::string& name);
