#include "util/textutil.h"

#include <cstring>
#include <ctime>

namespace {

// Drive letters ("C:") exist only on Windows; this build keeps them out of
// every path it splits or composes.
constexpr bool kPathDrives = false;

// The C library's white space in the default locale; bytes 0x80 and above never are.
bool IsWhite(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDelim(char c, const char* delims) {
    if (c == 0 || delims == nullptr) return false;
    for (const char* d = delims; *d; ++d)
        if (*d == c) return true;
    return false;
}

// Copies len characters of src into a part buffer, cut at the path limit.
void CopyPart(char* dest, const char* src, size_t len) {
    if (dest == nullptr) return;
    if (len > static_cast<size_t>(kPathMaxLen)) len = kPathMaxLen;
    std::memmove(dest, src, len);
    dest[len] = 0;
}

// Length of the drive prefix ("C:") of path, 0 when it has none.
size_t DriveLength(const char* path) {
    if (!kPathDrives) return 0;
    return (path[0] != 0 && path[0] != ':' && path[1] == ':') ? 2 : 0;
}

// Position of the last separator, or -1.
long LastSep(const char* path) {
    const char* last = std::strrchr(path, kPathSep);
    return last ? static_cast<long>(last - path) : -1;
}

int FitInt64(int64_t value, int64_t first, int64_t last, bool wrap) {
    if (value < first) return static_cast<int>(wrap ? last : first);
    if (value > last) return static_cast<int>(wrap ? first : last);
    return static_cast<int>(value);
}

} // namespace

int StrCopyN(char* dest, const char* src, int size) {
    if (src == nullptr) src = "";
    if (size <= 0) return 0;
    int n = 0;
    while (n < size - 1 && src[n] != 0) {
        if (dest) dest[n] = src[n];
        ++n;
    }
    if (dest) dest[n] = 0;
    return n;
}

int StrAppendN(char* dest, const char* src, int size) {
    if (dest == nullptr) return 0;
    if (src == nullptr) src = "";
    int len = static_cast<int>(std::strlen(dest));
    if (len >= size - 2) return len;
    while (len < size - 2 && *src != 0)
        dest[len++] = *src++;
    dest[len] = 0;
    return len;
}

int StrCopyMax(char* dest, const char* src, int n) {
    if (src == nullptr) src = "";
    if (n < 0) n = 0;
    int i = 0;
    while (i < n && src[i] != 0) {
        if (dest) dest[i] = src[i];
        ++i;
    }
    if (dest) dest[i] = 0;
    return i;
}

void StrTrim(int mode, const char* src, char* dest) {
    if (src == nullptr || dest == nullptr || mode < 1 || mode > 4) return;
    if (mode == 4) {
        size_t j = 0;
        for (size_t i = 0; src[i] != 0; ++i)
            if (!IsWhite(src[i])) dest[j++] = src[i];
        dest[j] = 0;
        return;
    }
    size_t start = 0;
    size_t end = std::strlen(src);
    if (mode & 1)
        while (start < end && IsWhite(src[start]))
            ++start;
    if (mode & 2)
        while (end > start && IsWhite(src[end - 1]))
            --end;
    std::memmove(dest, src + start, end - start);
    dest[end - start] = 0;
}

char StrNextToken(char* token, int tokenSize, const char* src, int* pos, const char* delims) {
    if (token == nullptr || tokenSize <= 0) return 0;
    token[0] = 0;
    if (src == nullptr || pos == nullptr || *pos < 0) return 0;
    int p = *pos;
    if (src[p] == 0) return 0;
    while (src[p] != 0 && (IsWhite(src[p]) || IsDelim(src[p], delims)))
        ++p;
    int len = 0;
    while (src[p] != 0 && !IsDelim(src[p], delims) && len < tokenSize - 1)
        token[len++] = src[p++];
    token[len] = 0;
    // A full token leaves the rest of the word for the next call.
    if (IsDelim(src[p], delims)) ++p;
    *pos = p;
    return token[0];
}

int StrReplaceChar(char* buf, char from, char to) {
    if (buf == nullptr) return 0;
    int len = static_cast<int>(std::strlen(buf));
    for (int i = 0; i < len; ++i)
        if (buf[i] == from) buf[i] = to;
    return len;
}

int StrArrayLongest(const char* const* array, int* longest, int* count) {
    int best = 0;
    size_t bestLen = 0;
    int i = 0;
    if (array != nullptr && array[0] != nullptr) {
        bestLen = std::strlen(array[0]);
        for (i = 1; array[i] != nullptr && array[i][0] != 0; ++i) {
            size_t len = std::strlen(array[i]);
            if (len > bestLen) {
                best = i;
                bestLen = len;
            }
        }
    }
    if (longest) *longest = static_cast<int>(bestLen);
    if (count) *count = i;
    return best;
}

int TextDropSpacesBeforeBreaks(char* dest, const char* src) {
    if (dest == nullptr || src == nullptr) return 0;
    size_t held = 0;
    size_t j = 0;
    for (size_t i = 0; src[i] != 0; ++i) {
        char c = src[i];
        if (c == ' ') {
            ++held;
            continue;
        }
        if (c != '\n')
            for (; held > 0; --held)
                dest[j++] = ' ';
        held = 0;
        dest[j++] = c;
    }
    dest[j] = 0;
    return 1;
}

int TextJoinWrappedLines(char* dest, const char* src) {
    if (dest == nullptr || src == nullptr) return 0;
    size_t j = 0;
    char before = 0; // the source character before i, kept apart in case dest == src
    for (size_t i = 0; src[i] != 0; ++i) {
        char c = src[i];
        char after = src[i + 1];
        bool soft = c == '\n' && i > 0 && before != '\n' && after != 0 && after != '\n';
        if (!soft)
            dest[j++] = c;
        else if (!IsWhite(before))
            dest[j++] = ' ';
        before = c;
    }
    dest[j] = 0;
    return static_cast<int>(j);
}

void PathSplit(const char* path, char* drive, char* folder, char* name, char* ext) {
    if (path == nullptr) path = "";
    size_t driveLen = DriveLength(path);
    long last = LastSep(path);
    size_t fileStart = driveLen;
    size_t folderStart = driveLen, folderEnd = driveLen;
    if (last >= 0) {
        size_t l = static_cast<size_t>(last);
        folderStart = l < driveLen ? 0 : driveLen;
        folderEnd = l + 1;
        fileStart = l + 1;
    }
    const char* file = path + fileStart;
    const char* dot = std::strrchr(file, '.');
    size_t fileLen = std::strlen(file);
    size_t nameLen = dot ? static_cast<size_t>(dot - file) : fileLen;
    CopyPart(drive, path, driveLen);
    CopyPart(folder, path + folderStart, folderEnd - folderStart);
    CopyPart(name, file, nameLen);
    CopyPart(ext, file + nameLen, fileLen - nameLen);
}

void PathMake(char* out, const char* drive, const char* folder, const char* name, const char* ext) {
    if (out == nullptr) return;
    out[0] = 0;
    if (kPathDrives && drive != nullptr && drive[0] != 0) {
        StrAppendN(out, drive, kPathBufSize);
        if (out[1] != ':') {
            out[1] = ':';
            out[2] = 0;
        }
    }
    if (folder != nullptr && folder[0] != 0) {
        int len = StrAppendN(out, folder, kPathBufSize);
        if (len > 0 && out[len - 1] != kPathSep) StrAppendN(out, "/", kPathBufSize);
    }
    if (name != nullptr && name[0] != 0) StrAppendN(out, name, kPathBufSize);
    if (ext != nullptr && ext[0] != 0) {
        if (ext[0] != '.') StrAppendN(out, ".", kPathBufSize);
        StrAppendN(out, ext, kPathBufSize);
    }
}

void PathWithNameOf(char* out, const char* folderSource, const char* nameSource) {
    char drive[kPathBufSize], folder[kPathBufSize], name[kPathBufSize], ext[kPathBufSize];
    PathSplit(nameSource, nullptr, nullptr, name, ext);
    PathSplit(folderSource, drive, folder, nullptr, nullptr);
    PathMake(out, drive, folder, name, ext);
}

void PathInSubfolder(char* out, const char* path, const char* subfolder) {
    if (out == nullptr) return;
    char drive[kPathBufSize], folder[kPathBufSize], name[kPathBufSize], ext[kPathBufSize];
    PathSplit(path, drive, folder, name, ext);
    StrCopyN(out, drive, kPathBufSize);
    int len = StrAppendN(out, folder, kPathBufSize);
    // A relative pattern stays relative: no separator in front of the subfolder.
    if (len > 0 && out[len - 1] != kPathSep) len = StrAppendN(out, "/", kPathBufSize);
    if (subfolder != nullptr && subfolder[0] != 0) {
        len = StrAppendN(out, subfolder, kPathBufSize);
        if (out[len - 1] != kPathSep) StrAppendN(out, "/", kPathBufSize);
    }
    StrAppendN(out, name, kPathBufSize);
    StrAppendN(out, ext, kPathBufSize);
}

void PathAddName(char* folder, const char* name) {
    if (folder == nullptr) return;
    size_t len = std::strlen(folder);
    if (len > 0 && folder[len - 1] != kPathSep) StrAppendN(folder, "/", kPathBufSize);
    StrAppendN(folder, name, kPathBufSize);
}

void PathSplitFolder(const char* path, char* folder, char* file) {
    if (path == nullptr) path = "";
    long last = LastSep(path);
    size_t folderEnd = last >= 0 ? static_cast<size_t>(last) + 1 : DriveLength(path);
    CopyPart(file, path + folderEnd, std::strlen(path + folderEnd));
    CopyPart(folder, path, folderEnd);
}

int RangeFit(int value, int first, int count, bool wrap) {
    if (count <= 0) return first;
    int64_t last = static_cast<int64_t>(first) + count - 1;
    return FitInt64(value, first, last, wrap);
}

int IndexMove(int* index, int count, int how, int step) {
    if (index == nullptr) return 0;
    int old = *index;
    int x = 0;
    if (count > 0) {
        x = RangeFit(old, 0, count, false);
        int64_t moved = how == 0 ? 0 : how == 1 ? count - 1 : static_cast<int64_t>(x) + step;
        x = FitInt64(moved, 0, count - 1, false);
    }
    *index = x;
    return x != old ? 1 : 0;
}

void SecondsToHms(int* hours, int* minutes, int* seconds, uint32_t total) {
    if (hours) *hours = static_cast<int>(total / 3600);
    if (minutes) *minutes = static_cast<int>(total % 3600 / 60);
    if (seconds) *seconds = static_cast<int>(total % 3600 % 60);
}

int32_t DayNumber(int day, int month, int year) {
    if (day == 0 && month == 0 && year == 0) return 0;
    int64_t m = static_cast<int64_t>(month) + 9;
    int64_t y = year + m / 12 + 399;
    m %= 12;
    int64_t n = 365 * y + y / 4 - y / 100 + y / 400 + (153 * m + 2) / 5 + day - 146037;
    return static_cast<int32_t>(n);
}

int TodayDate(int* day, int* month, int* year) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    if (day) *day = local.tm_mday;
    if (month) *month = local.tm_mon + 1;
    if (year) *year = local.tm_year + 1900;
    return 1;
}

int32_t TodayDayNumber() {
    int d = 0, m = 0, y = 0;
    TodayDate(&d, &m, &y);
    return DayNumber(d, m, y);
}

uint32_t TickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

uint32_t TimeSeed() {
    uint32_t t = static_cast<uint32_t>(std::time(nullptr));
    return t != 0 ? t : 129752u;
}

uint32_t RandomNext(uint32_t* z, uint32_t* w) {
    *z = 21723u * (*z & 0xFFFFu) + (*z >> 16);
    *w = 28959u * (*w & 0xFFFFu) + (*w >> 16);
    return (*z << 16) + (*w & 0xFFFFu);
}

uint32_t RandomBelow(uint32_t* z, uint32_t* w, uint32_t n) {
    uint32_t r = RandomNext(z, w);
    return n != 0 ? r % n : 0;
}

void RandomText(char* buf, int length, uint32_t seed, int kind) {
    if (buf == nullptr) return;
    if (length < 0) length = 0;
    uint32_t alphabet = kind == 0 ? 10 : kind == 1 ? 26 : kind == 2 ? 36 : kind == 3 ? 255 : 256;
    uint32_t z = seed;
    uint32_t w = seed % 0x83073291u;
    for (int i = 0; i < length; ++i) {
        uint32_t c = RandomBelow(&z, &w, alphabet);
        unsigned char out;
        switch (kind) {
        case 0:
            out = static_cast<unsigned char>('0' + c);
            break;
        case 1:
            out = static_cast<unsigned char>('A' + c);
            break;
        case 2:
            out = static_cast<unsigned char>(c <= 9 ? '0' + c : 'A' + c - 10);
            break;
        case 3:
            out = static_cast<unsigned char>(c + 1);
            break;
        default:
            out = static_cast<unsigned char>(c);
            break;
        }
        buf[i] = static_cast<char>(out);
    }
    buf[length] = 0;
}
