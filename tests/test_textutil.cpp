#include "util/textutil.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// A buffer filled with a guard byte, to see exactly which bytes a call wrote.
struct Guarded {
    char bytes[64];
    Guarded() { std::memset(bytes, 'X', sizeof bytes); }
    explicit Guarded(const char* start) : Guarded() { std::strcpy(bytes, start); }
    bool untouchedFrom(int index) const {
        for (int i = index; i < static_cast<int>(sizeof bytes); ++i)
            if (bytes[i] != 'X') return false;
        return true;
    }
};

TEST(StrCopyN, KeepsSizeLessOneAndNeverWritesPastSize) {
    struct Case {
        const char* src;
        int size;
        const char* want;
        int result;
    };
    const Case cases[] = {
        {"hello", 10, "hello", 5}, {"hello", 6, "hello", 5}, {"hello", 5, "hell", 4},
        {"hello", 3, "he", 2},     {"hello", 1, "", 0},      {"", 5, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.src) + " size " + std::to_string(c.size));
        Guarded buf;
        EXPECT_EQ(StrCopyN(buf.bytes, c.src, c.size), c.result);
        EXPECT_STREQ(buf.bytes, c.want);
        EXPECT_TRUE(buf.untouchedFrom(c.size));
    }
}

TEST(StrCopyN, SizeZeroWritesNothing) {
    Guarded buf;
    EXPECT_EQ(StrCopyN(buf.bytes, "abc", 0), 0);
    EXPECT_EQ(StrCopyN(buf.bytes, "abc", -3), 0);
    EXPECT_TRUE(buf.untouchedFrom(0));
}

TEST(StrCopyN, NullDestinationGivesBoundedLength) {
    EXPECT_EQ(StrCopyN(nullptr, "hello", 3), 2);
    EXPECT_EQ(StrCopyN(nullptr, "hello", 100), 5);
    EXPECT_EQ(StrCopyN(nullptr, "hello", 0), 0);
}

TEST(StrAppendN, StopsAtSizeLessTwo) {
    struct Case {
        const char* start;
        const char* add;
        int size;
        const char* want;
        int result;
    };
    const Case cases[] = {
        {"abc", "defghij", 10, "abcdefgh", 8},
        {"abc", "de", 10, "abcde", 5},
        {"abcdefgh", "x", 10, "abcdefgh", 8},   // already at size - 2
        {"abcdefghi", "x", 10, "abcdefghi", 9}, // beyond it: unchanged
        {"", "ab", 2, "", 0},
        {"", "ab", 3, "a", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.start) + "+" + c.add);
        Guarded buf(c.start);
        EXPECT_EQ(StrAppendN(buf.bytes, c.add, c.size), c.result);
        EXPECT_STREQ(buf.bytes, c.want);
        EXPECT_TRUE(buf.untouchedFrom(std::max<int>(c.size - 1, std::strlen(c.start) + 1)));
    }
    EXPECT_EQ(StrAppendN(nullptr, "abc", 10), 0);
}

TEST(StrCopyMax, WritesAtMostNPlusOneBytes) {
    Guarded buf;
    EXPECT_EQ(StrCopyMax(buf.bytes, "abcdef", 3), 3);
    EXPECT_STREQ(buf.bytes, "abc");
    EXPECT_TRUE(buf.untouchedFrom(4));
    Guarded whole;
    EXPECT_EQ(StrCopyMax(whole.bytes, "ab", 10), 2);
    EXPECT_STREQ(whole.bytes, "ab");
    EXPECT_EQ(StrCopyMax(nullptr, "abcdef", 4), 4);
}

TEST(StrTrim, Modes) {
    struct Case {
        int mode;
        const char* src;
        const char* want;
    };
    const Case cases[] = {
        {1, " \t a b \r\n", "a b \r\n"},
        {2, " \t a b \r\n", " \t a b"},
        {3, " \t a b \r\n", "a b"},
        {4, " \t a b \r\n", "ab"},
        {3, "\v\fx\v\f", "x"},
        {3, "\xA0x\xA0", "\xA0x\xA0"}, // high bytes are never white space
        {1, " \t\n\v\f\r", ""},
        {2, " \t\n\v\f\r", ""},
        {3, " \t\n\v\f\r", ""},
        {4, " \t\n\v\f\r", ""},
        {3, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " '" << c.src << "'");
        char out[64] = "previous";
        StrTrim(c.mode, c.src, out);
        EXPECT_STREQ(out, c.want);
        char inPlace[64];
        std::strcpy(inPlace, c.src);
        StrTrim(c.mode, inPlace, inPlace);
        EXPECT_STREQ(inPlace, c.want);
    }
}

TEST(StrTrim, UnknownModeLeavesDestination) {
    for (int mode : {0, 5, -1}) {
        char out[16] = "keep";
        StrTrim(mode, "  x  ", out);
        EXPECT_STREQ(out, "keep");
    }
}

std::vector<std::string> Tokens(const char* src, const char* delims, int size) {
    std::vector<std::string> out;
    char token[128];
    int pos = 0;
    for (int guard = 0; guard < 100; ++guard) {
        char first = StrNextToken(token, size, src, &pos, delims);
        if (first == 0) {
            EXPECT_STREQ(token, "");
            break;
        }
        EXPECT_EQ(first, token[0]);
        EXPECT_LT(static_cast<int>(std::strlen(token)), size);
        out.push_back(token);
    }
    return out;
}

TEST(StrNextToken, Splits) {
    using V = std::vector<std::string>;
    struct Case {
        const char* src;
        const char* delims;
        int size;
        V want;
    };
    const Case cases[] = {
        {"avi, mpg  wmv", " ,", 100, V{"avi", "mpg", "wmv"}},
        {"abcdefg", " ,", 4, V{"abc", "def", "g"}},
        {" , ,, ", " ,", 10, V{}},
        {"", " ,", 10, V{}},
        {"a b;c", ";", 10, V{"a b", "c"}}, // white space outside the set stays in the token
        {"  1.2..3 ", ".", 50, V{"1", "2", "3 "}},
        {"x", ",", 1, V{}}, // a token of size 1 holds nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src);
        EXPECT_EQ(Tokens(c.src, c.delims, c.size), c.want);
    }
}

TEST(StrNextToken, PositionStaysAtTheEnd) {
    char token[8] = "old";
    int pos = 3;
    EXPECT_EQ(StrNextToken(token, sizeof token, "abc", &pos, ","), 0);
    EXPECT_EQ(pos, 3);
    EXPECT_STREQ(token, "");
}

TEST(StrReplaceChar, ReplacesByZeroAcrossTheWholeText) {
    char filter[] = "Video|*.AVI|";
    EXPECT_EQ(StrReplaceChar(filter, '|', 0), 12);
    EXPECT_EQ(std::memcmp(filter, "Video\0*.AVI\0", 13), 0);
}

TEST(StrArrayLongest, FirstOfEqualsAndCountUpToTheEmptyEntry) {
    struct Case {
        std::vector<const char*> array;
        int index;
        int longest;
        int count;
    };
    const Case cases[] = {
        {{"ab", "abcd", "wxyz", "a", ""}, 1, 4, 4},
        {{"", "abc", ""}, 1, 3, 2}, // entry 0 counts even when empty
        {{"abc", "", "zzzzzz", ""}, 0, 3, 1},
        {{"abcdef", "x", ""}, 0, 6, 2},
    };
    for (const Case& c : cases) {
        int longest = -1, count = -1;
        EXPECT_EQ(StrArrayLongest(c.array.data(), &longest, &count), c.index);
        EXPECT_EQ(longest, c.longest);
        EXPECT_EQ(count, c.count);
    }
}

TEST(TextCleanup, JoinWrappedLines) {
    struct Case {
        const char* src;
        const char* want;
    };
    const Case cases[] = {
        {"a\n\nb", "a\n\nb"},
        {"a\nb", "a b"},
        {"a \nb", "a b"},
        {"a\r\nb", "a\rb"},
        {"\na", "\na"},
        {"a\n", "a\n"},
        {"one\ntwo\nthree", "one two three"},
        {"p1\n\n\np2", "p1\n\n\np2"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src);
        char out[64];
        EXPECT_EQ(TextJoinWrappedLines(out, c.src), static_cast<int>(std::strlen(c.want)));
        EXPECT_STREQ(out, c.want);
        char inPlace[64];
        std::strcpy(inPlace, c.src);
        TextJoinWrappedLines(inPlace, inPlace);
        EXPECT_STREQ(inPlace, c.want);
    }
}

TEST(TextCleanup, DropSpacesBeforeBreaks) {
    struct Case {
        const char* src;
        const char* want;
    };
    const Case cases[] = {
        {"a  \nb  ", "a\nb"}, {"a  b", "a  b"}, {"  \n", "\n"}, {"a\t \nb", "a\t\nb"}, {"   ", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src);
        char out[64];
        EXPECT_EQ(TextDropSpacesBeforeBreaks(out, c.src), 1);
        EXPECT_STREQ(out, c.want);
    }
}

struct SplitCase {
    const char* path;
    const char* folder;
    const char* name;
    const char* ext;
};

TEST(PathSplit, Parts) {
    const SplitCase cases[] = {
        {"/a/b.tar.gz", "/a/", "b.tar", ".gz"},
        {"//server/share/x", "//server/share/", "x", ""},
        {"readme", "", "readme", ""},
        {".cfg", "", "", ".cfg"},
        {"file:name", "", "file:name", ""},
        {"C:", "", "C:", ""}, // no drives here: just a name
        {"C:\\a\\b.txt", "", "C:\\a\\b", ".txt"},
        {"/a.b/c", "/a.b/", "c", ""},
        {"dir/", "dir/", "", ""},
        {"/", "/", "", ""},
        {"", "", "", ""},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.path);
        char drive[kPathBufSize] = "x", folder[kPathBufSize], name[kPathBufSize], ext[kPathBufSize];
        PathSplit(c.path, drive, folder, name, ext);
        EXPECT_STREQ(drive, "");
        EXPECT_STREQ(folder, c.folder);
        EXPECT_STREQ(name, c.name);
        EXPECT_STREQ(ext, c.ext);
        char only[kPathBufSize];
        PathSplit(c.path, nullptr, nullptr, nullptr, only);
        EXPECT_STREQ(only, c.ext);
    }
}

TEST(PathSplit, CutsPartsAtThePathLimit) {
    std::string path = "/" + std::string(kPathMaxLen + 100, 'f') + ".ext";
    std::string folder(kPathMaxLen + 100, 'd');
    folder += "/x";
    char a[kPathBufSize], b[kPathBufSize], c[kPathBufSize];
    PathSplit(path.c_str(), nullptr, a, b, c);
    EXPECT_STREQ(a, "/");
    EXPECT_EQ(std::strlen(b), static_cast<size_t>(kPathMaxLen));
    EXPECT_STREQ(c, ".ext");
    PathSplit(folder.c_str(), nullptr, a, b, nullptr);
    EXPECT_EQ(std::strlen(a), static_cast<size_t>(kPathMaxLen));
    EXPECT_STREQ(b, "x");
}

TEST(PathMake, Composes) {
    struct Case {
        const char* drive;
        const char* folder;
        const char* name;
        const char* ext;
        const char* want;
    };
    const Case cases[] = {
        {"", "x", "f", "txt", "x/f.txt"},
        {"D", "x", "f", "txt", "x/f.txt"}, // a drive has no meaning here
        {nullptr, "/x/", "f", ".txt", "/x/f.txt"},
        {nullptr, "", "f", "txt", "f.txt"}, // no folder, no leading separator
        {nullptr, "/x", nullptr, nullptr, "/x/"},
        {nullptr, nullptr, "f", nullptr, "f"},
        {nullptr, nullptr, nullptr, nullptr, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.want);
        char out[kPathBufSize];
        PathMake(out, c.drive, c.folder, c.name, c.ext);
        EXPECT_STREQ(out, c.want);
    }
}

TEST(PathMake, ResultNeverExceedsTheLimit) {
    std::string folder(kPathMaxLen - 1, 'd');
    char out[kPathBufSize];
    PathMake(out, nullptr, folder.c_str(), "name", "ext");
    EXPECT_EQ(std::strlen(out), static_cast<size_t>(kPathMaxLen));
}

TEST(PathCompose, WithNameOfInSubfolderAndAddName) {
    char out[kPathBufSize];
    PathWithNameOf(out, "/prog/app.exe", "settings.dat");
    EXPECT_STREQ(out, "/prog/settings.dat");
    PathWithNameOf(out, "/prog/app.exe", "other/dir/settings.dat");
    EXPECT_STREQ(out, "/prog/settings.dat");
    std::strcpy(out, "/prog/app");
    PathWithNameOf(out, out, "data.bin"); // output aliases the folder source
    EXPECT_STREQ(out, "/prog/data.bin");

    PathInSubfolder(out, "/v/*.*", "sub");
    EXPECT_STREQ(out, "/v/sub/*.*");
    PathInSubfolder(out, "*.*", "sub");
    EXPECT_STREQ(out, "sub/*.*");

    struct AddCase {
        const char* folder;
        const char* name;
        const char* want;
    };
    const AddCase adds[] = {{"/a", "*.*", "/a/*.*"}, {"/a/", "x", "/a/x"}, {"", "x", "x"}};
    for (const AddCase& c : adds) {
        char buf[kPathBufSize];
        std::strcpy(buf, c.folder);
        PathAddName(buf, c.name);
        EXPECT_STREQ(buf, c.want);
    }
    char full[kPathBufSize];
    std::string longFolder(kPathMaxLen - 1, 'd');
    std::strcpy(full, longFolder.c_str());
    PathAddName(full, "abc");
    EXPECT_EQ(std::strlen(full), static_cast<size_t>(kPathMaxLen));
}

TEST(PathSplitFolder, FolderAndFile) {
    struct Case {
        const char* path;
        const char* folder;
        const char* file;
    };
    const Case cases[] = {
        {"/a/b/c.txt", "/a/b/", "c.txt"},
        {"c.txt", "", "c.txt"},
        {"/", "/", ""},
        {"a/", "a/", ""},
    };
    for (const Case& c : cases) {
        char folder[kPathBufSize], file[kPathBufSize];
        PathSplitFolder(c.path, folder, file);
        EXPECT_STREQ(folder, c.folder);
        EXPECT_STREQ(file, c.file);
        PathSplitFolder(c.path, nullptr, file);
        EXPECT_STREQ(file, c.file);
    }
}

TEST(Numbers, RangeFit) {
    struct Case {
        int value, first, count;
        bool wrap;
        int want;
    };
    const Case cases[] = {
        {7, 0, 5, false, 4},   {7, 0, 5, true, 0},
        {-1, 0, 5, false, 0},  {-1, 0, 5, true, 4},
        {3, 0, 5, true, 3},    {9, 2, 0, false, 2},
        {9, 2, -4, true, 2},   {12, 10, 3, false, 12},
        {13, 10, 3, true, 10}, {INT_MAX, INT_MAX - 1, 5, false, INT_MAX}, // last lies beyond int
    };
    for (const Case& c : cases)
        EXPECT_EQ(RangeFit(c.value, c.first, c.count, c.wrap), c.want)
            << c.value << " in " << c.first << "+" << c.count << " wrap " << c.wrap;
}

TEST(Numbers, IndexMove) {
    struct Case {
        int index, count, how, step;
        int want;
        int changed;
    };
    const Case cases[] = {
        {5, 0, 2, 0, 0, 1},       {0, 0, 1, 3, 0, 0},        {7, 5, 2, 0, 4, 1},
        {2, 5, 2, 0, 2, 0},       {2, 5, 0, 0, 0, 1},        {2, 5, 1, 0, 4, 1},
        {2, 5, 2, 1, 3, 1},       {4, 5, 2, 1, 4, 0},        {0, 5, 2, -1, 0, 0},
        {2, 5, 2, INT_MAX, 4, 1}, {-3, 5, 2, INT_MIN, 0, 1},
    };
    for (const Case& c : cases) {
        int index = c.index;
        EXPECT_EQ(IndexMove(&index, c.count, c.how, c.step), c.changed)
            << c.index << " count " << c.count << " how " << c.how << " step " << c.step;
        EXPECT_EQ(index, c.want);
    }
}

TEST(Numbers, SecondsToHms) {
    struct Case {
        uint32_t total;
        int h, m, s;
    };
    const Case cases[] = {
        {3725, 1, 2, 5}, {0, 0, 0, 0}, {86399, 23, 59, 59}, {UINT32_MAX, 1193046, 28, 15}};
    for (const Case& c : cases) {
        int h = -1, m = -1, s = -1;
        SecondsToHms(&h, &m, &s, c.total);
        EXPECT_EQ(h, c.h);
        EXPECT_EQ(m, c.m);
        EXPECT_EQ(s, c.s);
    }
}

TEST(Dates, DayNumberKnownDays) {
    struct Case {
        int d, m, y;
        int32_t want;
    };
    const Case cases[] = {
        {0, 0, 0, 0},          {1, 1, 1970, 719529}, {1, 1, 2000, 730486},
        {29, 2, 2000, 730545}, {1, 3, 2000, 730546}, {1, 1, 0, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DayNumber(c.d, c.m, c.y), c.want) << c.d << "." << c.m << "." << c.y;
}

TEST(Dates, ConsecutiveDatesGiveConsecutiveNumbers) {
    using namespace std::chrono;
    const sys_days start = year{1899} / January / 1;
    const sys_days end = year{2101} / January / 1;
    const int32_t base = DayNumber(1, 1, 1899);
    for (sys_days day = start; day < end; day += days{1}) {
        year_month_day ymd{day};
        int32_t n = DayNumber(static_cast<unsigned>(ymd.day()), static_cast<unsigned>(ymd.month()),
                              static_cast<int>(ymd.year()));
        ASSERT_EQ(n - base, (day - start).count())
            << static_cast<int>(ymd.year()) << "-" << static_cast<unsigned>(ymd.month()) << "-"
            << static_cast<unsigned>(ymd.day());
    }
}

TEST(Dates, TodayIsNearTheSystemClock) {
    using namespace std::chrono;
    const sys_days utcToday = floor<days>(system_clock::now());
    const int32_t utcNumber = 719529 + static_cast<int32_t>(utcToday.time_since_epoch().count());
    // Local time and UTC differ by at most a day.
    EXPECT_LE(std::abs(TodayDayNumber() - utcNumber), 1);
}

TEST(Random, GeneratorSteps) {
    uint32_t z = 1, w = 1;
    EXPECT_EQ(RandomNext(&z, &w), 1423667487u);
    EXPECT_EQ(z, 21723u);
    EXPECT_EQ(w, 28959u);
    z = w = 5;
    EXPECT_EQ(RandomBelow(&z, &w, 0), 0u);
    EXPECT_NE(z, 5u); // the state still moved
}

TEST(Random, TextKindsAndDeterminism) {
    struct Case {
        uint32_t seed;
        int length;
        int kind;
        const char* want;
    };
    const Case known[] = {
        {1, 12, 0, "793914927987"},
        {129752, 12, 0, "964126165705"},
        {0x9abcdef0u, 12, 0, "442819383572"},
        {1, 8, 2, "35FVXCVO"},
        {77, 0, 1, ""},
    };
    for (const Case& c : known) {
        char buf[32];
        std::memset(buf, 'X', sizeof buf);
        RandomText(buf, c.length, c.seed, c.kind);
        EXPECT_STREQ(buf, c.want);
    }

    struct Alphabet {
        int kind;
        bool (*allowed)(unsigned char);
    };
    const Alphabet alphabets[] = {
        {0, [](unsigned char c) { return c >= '0' && c <= '9'; }},
        {1, [](unsigned char c) { return c >= 'A' && c <= 'Z'; }},
        {2, [](unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); }},
        {3, [](unsigned char c) { return c != 0; }},
    };
    for (const Alphabet& a : alphabets) {
        for (uint32_t seed : {1u, 2u, 129752u, 0xFFFFFFFFu}) {
            char first[2001], second[2001];
            RandomText(first, 2000, seed, a.kind);
            RandomText(second, 2000, seed, a.kind);
            EXPECT_EQ(std::memcmp(first, second, sizeof first), 0);
            EXPECT_EQ(first[2000], 0);
            for (int i = 0; i < 2000; ++i)
                ASSERT_TRUE(a.allowed(first[i])) << "kind " << a.kind;
        }
    }
    char a[13], b[13];
    RandomText(a, 12, 1000, 0);
    RandomText(b, 12, 1001, 0);
    EXPECT_STRNE(a, b);
    EXPECT_NE(TimeSeed(), 0u);
}

} // namespace
