#include "util/files.h"

#include "util/textutil.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace {

// The executable's own path, or empty.
std::string ExecutablePath() {
    std::string buf(kPathBufSize, '\0');
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    // A full buffer may mean a cut path: refuse it.
    if (n < 1 || n > kPathMaxLen) return {};
    buf.resize(static_cast<size_t>(n));
    return buf;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Cased(std::string_view s, bool upper) {
    std::string out(s);
    for (char& c : out) c = upper ? AsciiUpper(c) : AsciiLower(c);
    return out;
}

// Splits text at any of the delimiters, skipping empty pieces.
std::vector<std::string_view> Tokens(std::string_view text, std::string_view delims) {
    std::vector<std::string_view> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t start = text.find_first_not_of(delims, pos);
        if (start == std::string_view::npos) break;
        size_t end = text.find_first_of(delims, start);
        if (end == std::string_view::npos) end = text.size();
        out.push_back(text.substr(start, end - start));
        pos = end;
    }
    return out;
}

// "*.a;*.b" (one case) from the extension list.
std::string PatternList(std::string_view extensions, bool upper) {
    std::string out;
    for (std::string_view ext : Tokens(extensions, " ,")) {
        if (!out.empty()) out += ';';
        out += "*.";
        out += Cased(ext, upper);
    }
    return out;
}

std::string_view TrimSpaces(std::string_view s) {
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string_view::npos) return {};
    size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

}  // namespace

std::string ModuleFilePath(std::string_view name) {
    std::string path = ExecutablePath();
    if (path.empty()) return {};
    size_t slash = name.rfind('/');
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    std::string folder;
    PathParentFolder(folder, path);
    if (!PathJoin(folder, name)) return {};
    return folder;
}

int ProgramFolder(std::string& folder) {
    folder.clear();
    std::string path = ExecutablePath();
    if (path.empty()) return 0;
    PathParentFolder(folder, path);
    return 1;
}

int PathParentFolder(std::string& folder, std::string_view path) {
    size_t slash = path.rfind(kPathSep);
    if (slash == std::string_view::npos) {
        folder.assign(path);
        return -1;
    }
    // A leading separator is the root and stays.
    folder.assign(path.substr(0, slash == 0 ? 1 : slash));
    return static_cast<int>(slash);
}

bool PathJoin(std::string& folder, std::string_view name) {
    std::string out = folder;
    if (!out.empty()) {
        if (out.back() == kPathSep) out.pop_back();
        if (name.empty() || name.front() != kPathSep) out += kPathSep;
    }
    out += name;
    if (out.size() > static_cast<size_t>(kPathMaxLen)) return false;
    folder = std::move(out);
    return true;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

int CreateFolderTree(std::string_view pathView) {
    if (pathView.empty() || pathView.size() > static_cast<size_t>(kPathMaxLen)) return 0;
    const std::string path(pathView);
    // Below an absolute path's root, the first folder ends at the second '/'.
    int nth = path.front() == kPathSep ? 2 : 1;
    for (;; ++nth) {
        size_t end = std::string::npos;
        int seen = 0;
        for (size_t i = 0; i < path.size(); ++i) {
            if (path[i] == kPathSep && ++seen == nth) {
                end = i;
                break;
            }
        }
        std::string part = end == std::string::npos ? path : path.substr(0, end + 1);
        if (!part.empty() && part.back() == kPathSep) part.pop_back();
        if (!part.empty() && access(part.c_str(), F_OK) != 0) {
            // Another process may create the same folder at the same moment.
            if (mkdir(part.c_str(), 0777) != 0 && !(errno == EEXIST && IsFolder(part))) return 0;
        }
        if (end == std::string::npos) break;
    }
    // A file where the folder should be is no success.
    return IsFolder(path) ? 1 : 0;
}

int WindowWidthFit(int width) {
    if (width < 400) return 400;
    if (width > 1600) return 1600;
    return width;
}

int WindowHeightForWidth(int width) {
    int64_t three = 3 * static_cast<int64_t>(width);
    // Floor division, also below zero.
    int64_t q = three / 4;
    if (three % 4 != 0 && three < 0) --q;
    return static_cast<int>(q);
}

void FilterAddGroup(std::string& filter, std::string_view description, std::string_view extensions) {
    filter += description;
    filter += " (";
    filter += PatternList(extensions, false);
    filter += ")|";
    filter += PatternList(extensions, true);
    filter += '|';
}

void FilterAddAll(std::string& filter, std::string_view description, std::string_view extensions) {
    filter += description;
    filter += '|';
    filter += PatternList(extensions, true);
    filter += '|';
}

std::vector<std::string> FilterToNameFilters(std::string_view filter) {
    std::vector<std::string> result;
    // Split at every bar, keeping empty pieces: they pair up as description, patterns.
    std::vector<std::string_view> parts;
    size_t pos = 0;
    while (pos <= filter.size()) {
        size_t bar = filter.find('|', pos);
        if (bar == std::string_view::npos) {
            if (pos < filter.size()) parts.push_back(filter.substr(pos));
            break;
        }
        parts.push_back(filter.substr(pos, bar - pos));
        pos = bar + 1;
    }
    for (size_t i = 0; i < parts.size(); i += 2) {
        std::string_view description = parts[i];
        std::string_view patterns = i + 1 < parts.size() ? parts[i + 1] : std::string_view{};
        if (description.empty() && patterns.empty()) continue;

        std::vector<std::string_view> sources;
        if (!description.empty() && description.back() == ')') {
            size_t open = description.rfind('(');
            if (open != std::string_view::npos) {
                sources.push_back(description.substr(open + 1, description.size() - open - 2));
                description = description.substr(0, open);
            }
        }
        description = TrimSpaces(description);
        sources.push_back(patterns);

        std::vector<std::string> lower;
        for (std::string_view source : sources) {
            for (std::string_view p : Tokens(source, "; ")) {
                std::string l = p == "*.*" ? std::string("*") : Cased(p, false);
                bool known = false;
                for (const std::string& k : lower) known = known || k == l;
                if (!known) lower.push_back(std::move(l));
            }
        }
        std::string list;
        for (const std::string& l : lower) {
            if (!list.empty()) list += ' ';
            list += l;
        }
        for (const std::string& l : lower) {
            std::string u = Cased(l, true);
            if (u != l) {
                list += ' ';
                list += u;
            }
        }
        std::string entry(description);
        if (!entry.empty()) entry += ' ';
        entry += '(';
        entry += list;
        entry += ')';
        result.push_back(std::move(entry));
    }
    return result;
}
