#include "util/browser.h"

#include "converter/process.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <string_view>

namespace {

std::atomic<ShellOpenVerbFunction> g_shellOpenVerb{XdgOpenVerb};

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::vector<std::string> SplitList(const std::string& text, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(sep, start);
        if (end == std::string::npos) end = text.size();
        if (end > start) parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string Trim(const std::string& s) {
    size_t a = 0;
    size_t b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

// An XDG base-directory list: the user's folder first, then the system's.
// Relative entries are ignored, as the base-directory rules ask.
std::vector<std::string> BaseDirs(const char* homeVar, const char* homeDefault, const char* listVar,
                                  const char* listDefault) {
    std::vector<std::string> dirs;
    std::string home = Env(homeVar);
    if (home.empty() || home[0] != '/') {
        const std::string user = Env("HOME");
        home = user.empty() ? "" : user + homeDefault;
    }
    if (!home.empty()) dirs.push_back(home);
    std::string list = Env(listVar);
    if (list.empty()) list = listDefault;
    for (const std::string& d : SplitList(list, ':'))
        if (d[0] == '/') dirs.push_back(d);
    return dirs;
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Value escapes of the desktop-entry format; the Exec quoting comes after.
std::string DecodeValue(const std::string& raw) {
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 == raw.size()) {
            out += raw[i];
            continue;
        }
        const char c = raw[++i];
        switch (c) {
        case 's': out += ' '; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        default:
            out += '\\';
            out += c;
        }
    }
    return out;
}

// The value of key in [group] of an ini-style file; false when absent.
bool ReadKey(const std::string& path, const std::string& group, const std::string& key, std::string& value) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    bool inGroup = false;
    while (std::getline(in, line)) {
        const std::string t = Trim(line);
        if (t.empty() || t[0] == '#') continue;
        if (t[0] == '[') {
            inGroup = t == "[" + group + "]";
            continue;
        }
        if (!inGroup) continue;
        const size_t eq = t.find('=');
        if (eq == std::string::npos || Trim(t.substr(0, eq)) != key) continue;
        value = Trim(t.substr(eq + 1));
        return true;
    }
    return false;
}

// A desktop id names a file in an applications folder; "a-b.desktop" may
// also be "a/b.desktop" there.
std::string FindDesktopFile(const std::string& id, const std::vector<std::string>& dataDirs) {
    if (id.find('/') != std::string::npos || id.size() <= 8 || id.compare(id.size() - 8, 8, ".desktop") != 0)
        return "";
    std::string nested = id;
    const size_t dash = nested.find('-');
    if (dash != std::string::npos) nested[dash] = '/';
    for (const std::string& dir : dataDirs) {
        for (const std::string& name : {id, nested}) {
            const std::string path = dir + "/applications/" + name;
            if (IsRegularFile(path)) return path;
        }
    }
    return "";
}

// The list files that name default handlers, most important first.
std::vector<std::pair<std::string, const char*>> HandlerLists(const std::vector<std::string>& configDirs,
                                                              const std::vector<std::string>& dataDirs) {
    std::vector<std::string> desktops;
    for (std::string d : SplitList(Env("XDG_CURRENT_DESKTOP"), ':')) {
        for (char& c : d) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        desktops.push_back(d);
    }
    std::vector<std::pair<std::string, const char*>> lists;
    auto addMimeApps = [&](const std::string& dir) {
        for (const std::string& d : desktops) lists.emplace_back(dir + "/" + d + "-mimeapps.list", "Default Applications");
        lists.emplace_back(dir + "/mimeapps.list", "Default Applications");
    };
    for (const std::string& dir : configDirs) addMimeApps(dir);
    for (const std::string& dir : dataDirs) addMimeApps(dir + "/applications");
    for (const std::string& dir : dataDirs) lists.emplace_back(dir + "/applications/defaults.list", "Default Applications");
    // Without any default, the first program that says it can open the type.
    for (const std::string& dir : dataDirs) lists.emplace_back(dir + "/applications/mimeinfo.cache", "MIME Cache");
    return lists;
}

int StartProgram(std::vector<std::string> words) {
    if (words.empty() || words[0].empty()) return 0;
    std::string program = FindProgramInPath(words[0]);
    if (program.empty()) return 0;
    CommandLine cmd;
    words[0] = program;
    cmd.argv = std::move(words);
    for (const std::string& w : cmd.argv) cmd.text += (cmd.text.empty() ? "" : " ") + w;
    return ProcessLaunch(cmd);
}

}  // namespace

int XdgOpenVerb(const std::string& fileOrAddress) {
    if (fileOrAddress.empty()) return 0;
    return StartProgram({"xdg-open", fileOrAddress});
}

ShellOpenVerbFunction SetShellOpenVerb(ShellOpenVerbFunction function) {
    return g_shellOpenVerb.exchange(function != nullptr ? function : XdgOpenVerb);
}

int ShellOpenVerbCall(const std::string& fileOrAddress) { return g_shellOpenVerb.load()(fileOrAddress); }

std::string FindProgramInPath(const std::string& name) {
    if (name.empty()) return "";
    if (name.find('/') != std::string::npos) return name;
    std::string path = Env("PATH");
    if (path.empty()) path = "/usr/local/bin:/usr/bin:/bin";
    for (const std::string& dir : SplitList(path, ':')) {
        // An empty or relative entry would mean the current folder: not for us.
        if (dir[0] != '/') continue;
        const std::string candidate = dir + "/" + name;
        if (IsRegularFile(candidate) && access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

bool SplitCommandWords(const std::string& command, std::vector<std::string>& words) {
    words.clear();
    std::string word;
    bool inWord = false;
    for (size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '"') {
            for (++i;; ++i) {
                if (i >= command.size()) return false;
                if (command[i] == '"') break;
                if (command[i] == '\\' && i + 1 < command.size() &&
                    std::string_view("\"`$\\").find(command[i + 1]) != std::string_view::npos)
                    ++i;
                word += command[i];
            }
        } else if (c == '\'') {
            const size_t end = command.find('\'', i + 1);
            if (end == std::string::npos) return false;
            word.append(command, i + 1, end - i - 1);
            i = end;
        } else if (c == '\\' && i + 1 < command.size()) {
            word += command[++i];
        } else {
            word += c;
        }
    }
    if (inWord) words.push_back(word);
    return true;
}

std::string DefaultHandlerDesktopFile(const std::string& mimeType, std::string& exec) {
    exec.clear();
    const std::vector<std::string> configDirs = BaseDirs("XDG_CONFIG_HOME", "/.config", "XDG_CONFIG_DIRS", "/etc/xdg");
    const std::vector<std::string> dataDirs =
        BaseDirs("XDG_DATA_HOME", "/.local/share", "XDG_DATA_DIRS", "/usr/local/share:/usr/share");
    for (const auto& [list, group] : HandlerLists(configDirs, dataDirs)) {
        std::string ids;
        if (!ReadKey(list, group, mimeType, ids)) continue;
        for (const std::string& raw : SplitList(ids, ';')) {
            const std::string file = FindDesktopFile(Trim(raw), dataDirs);
            if (file.empty()) continue;
            std::string hidden;
            if (ReadKey(file, "Desktop Entry", "Hidden", hidden) && hidden == "true") continue;
            std::string value;
            if (!ReadKey(file, "Desktop Entry", "Exec", value) || value.empty()) continue;
            exec = DecodeValue(value);
            return file;
        }
    }
    return "";
}

char DefaultBrowserCommand(std::string& command) {
    command.clear();
    std::string exec;
    if (DefaultHandlerDesktopFile("x-scheme-handler/http", exec).empty()) return 0;
    // The program part: everything before the first field code or option.
    exec = exec.substr(0, exec.find_first_of("%-"));
    while (!exec.empty() && std::isspace(static_cast<unsigned char>(exec.back()))) exec.pop_back();
    command = exec;
    return command.empty() ? 0 : command[0];
}

int LaunchWithArgument(const std::string& command, const std::string& argument) {
    if (command.size() + 1 + argument.size() > kBrowserLineMax) return ShellOpenVerbCall(argument);
    std::vector<std::string> words;
    if (!SplitCommandWords(command, words) || words.empty()) return 0;
    words.push_back(argument);
    return StartProgram(std::move(words));
}

int OpenUrlInBrowser(const std::string& address) {
    std::string command;
    if (DefaultBrowserCommand(command) == 0) return 0;
    const int started = LaunchWithArgument(command, address);
    if (started == 1 || command.size() + 1 + address.size() > kBrowserLineMax) return started;
    // The cut command need not name a program that exists (firefox-esr
    // becomes "firefox"): let the desktop open the address then.
    return ShellOpenVerbCall(address);
}
