#include "util/binfile.h"
#include "util/ptrlist.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

class BinFileTest : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/movenna-binfile-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string PathOf(const char* name) const { return dir + "/" + name; }

    static Bytes Load(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void Store(const std::string& path, const Bytes& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    static off_t SizeOnDisk(const std::string& path) {
        struct stat info {};
        return stat(path.c_str(), &info) == 0 ? info.st_size : -1;
    }

    std::string dir;
};

Bytes Le(uint64_t value, int size) {
    Bytes out;
    for (int i = 0; i < size; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes Chars(size_t count, unsigned char c = 'c') {
    return Bytes(count, c);
}

// Element of the lists below: an id and a short name.
struct Item {
    uint32_t id = 0;
    char name[32] = {};
};

std::vector<int64_t> itemEnds; // stream position after each written item
int readCalls = 0;

int WriteItem(BinFile* file, void* element) {
    const auto* item = static_cast<const Item*>(element);
    BinFileWriteU32(file, item->id);
    BinFileWriteStr16(file, item->name);
    itemEnds.push_back(BinFileTell(file));
    return 1;
}

void* ReadItem(BinFile* file) {
    ++readCalls;
    auto* item = new Item;
    BinFileReadU32(file, &item->id);
    BinFileReadStr16(file, item->name, sizeof item->name);
    return item;
}

// Every id divisible by 10 is a record the reader chooses to leave out.
void* ReadItemSkippingTens(BinFile* file) {
    auto* item = static_cast<Item*>(ReadItem(file));
    if (item->id % 10 == 0) {
        delete item;
        return nullptr;
    }
    return item;
}

// A reader that gives null once the stream has nothing left.
void* ReadItemOrNull(BinFile* file) {
    auto* item = static_cast<Item*>(ReadItem(file));
    if (file->damaged) {
        delete item;
        return nullptr;
    }
    return item;
}

void FreeItem(void* element) {
    delete static_cast<Item*>(element);
}

std::vector<uint32_t> Ids(const PtrList* list) {
    std::vector<uint32_t> ids;
    for (int i = 0; i < ListCount(list); ++i)
        ids.push_back(static_cast<const Item*>(ListGet(list, i))->id);
    return ids;
}

TEST_F(BinFileTest, EncodesLittleEndianAndLengthPrefixes) {
    struct Case {
        const char* what;
        std::function<int(BinFile*)> write;
        int result;
        Bytes want;
    };
    const std::string huge(40000, 'x');
    const Case cases[] = {
        {"u16", [](BinFile* f) { return BinFileWriteU16(f, 0x1234); }, 2, {0x34, 0x12}},
        {"u32",
         [](BinFile* f) { return BinFileWriteU32(f, 0x12345678); },
         4,
         {0x78, 0x56, 0x34, 0x12}},
        {"u64",
         [](BinFile* f) { return BinFileWriteU64(f, 0x0102030405060708ull); },
         8,
         {8, 7, 6, 5, 4, 3, 2, 1}},
        {"str16", [](BinFile* f) { return BinFileWriteStr16(f, "abc"); }, 1, {3, 0, 'a', 'b', 'c'}},
        {"str16 null", [](BinFile* f) { return BinFileWriteStr16(f, nullptr); }, 1, {0, 0}},
        {"str16 too long", [&](BinFile* f) { return BinFileWriteStr16(f, huge.c_str()); }, 0,
         Cat({{0xFF, 0x7F}, Chars(32767, 'x')})},
        {"str32",
         [](BinFile* f) { return BinFileWriteStr32(f, "abc"); },
         1,
         {3, 0, 0, 0, 'a', 'b', 'c'}},
        {"str32 empty", [](BinFile* f) { return BinFileWriteStr32(f, ""); }, 1, {0, 0, 0, 0}},
        {"text", [](BinFile* f) { return BinFileWriteText(f, "SIG"); }, 3, {'S', 'I', 'G'}},
        {"empty list",
         [](BinFile* f) {
             PtrListPtr list(ListCreate(0, 0, FreeItem, WriteItem, ReadItem));
             return ListWrite(list.get(), f);
         },
         0,
         {0, 0}},
        {"nothing", [](BinFile*) { return 0; }, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = PathOf("enc.bin");
        Store(path, {'o', 'l', 'd'}); // an existing file is truncated
        BinFile* file = BinFileOpen(path.c_str(), 1);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(c.write(file), c.result);
        EXPECT_TRUE(BinFileClose(file));
        EXPECT_EQ(Load(path), c.want);
    }
}

// A file holding every kind of item once.
constexpr const char* kSignature = "SIG1";
constexpr uint16_t kU16 = 0xBEEF;
constexpr uint32_t kU32 = 0xDEADBEEF;
constexpr uint64_t kU64 = 0x0123456789ABCDEFull;
constexpr const char* kShort = "hello";
const std::string kLong = "a longer text";
constexpr uint16_t kTrailer = 0x7777;

void WriteSample(const std::string& path) {
    Item items[3] = {{1, "first"}, {2, ""}, {3, "third item"}};
    PtrListPtr list(ListCreate(0, 0, nullptr, WriteItem, nullptr));
    for (Item& item : items)
        ListAppend(list.get(), &item);
    itemEnds.clear();
    BinFilePtr file(BinFileOpen(path.c_str(), 1));
    ASSERT_TRUE(file);
    BinFileWriteText(file.get(), kSignature);
    BinFileWriteU16(file.get(), kU16);
    BinFileWriteU32(file.get(), kU32);
    BinFileWriteU64(file.get(), kU64);
    BinFileWriteStr16(file.get(), kShort);
    BinFileWriteStr32(file.get(), kLong);
    EXPECT_EQ(ListWrite(list.get(), file.get()), 3);
    BinFileWriteU16(file.get(), kTrailer);
}

struct Sample {
    bool signature = false;
    uint16_t u16 = 0;
    uint32_t u32 = 0;
    uint64_t u64 = 0;
    char shortText[64] = "untouched";
    int shortResult = -1;
    std::string longText = "untouched";
    bool longResult = false;
    int listResult = -1;
    std::vector<uint32_t> ids;
    std::vector<std::string> names;
    uint16_t trailer = 0;
    bool damaged = false;
    bool failed = false;
};

Sample ReadSample(const std::string& path) {
    Sample s;
    BinFilePtr file(BinFileOpen(path.c_str(), 0));
    EXPECT_TRUE(file);
    if (!file) return s;
    s.signature = BinFileExpectText(file.get(), kSignature) == 1;
    if (!s.signature) return s;
    BinFileReadU16(file.get(), &s.u16);
    BinFileReadU32(file.get(), &s.u32);
    BinFileReadU64(file.get(), &s.u64);
    s.shortResult = BinFileReadStr16(file.get(), s.shortText, sizeof s.shortText);
    s.longResult = BinFileReadStr32(file.get(), 1000, s.longText);
    PtrListPtr list(ListCreate(0, 0, FreeItem, nullptr, ReadItem));
    s.listResult = ListRead(list.get(), file.get());
    for (int i = 0; i < ListCount(list.get()); ++i) {
        const auto* item = static_cast<const Item*>(ListGet(list.get(), i));
        s.ids.push_back(item->id);
        s.names.push_back(item->name);
    }
    BinFileReadU16(file.get(), &s.trailer);
    s.damaged = file->damaged;
    s.failed = file->failed;
    return s;
}

TEST_F(BinFileTest, EveryItemKindRoundTrips) {
    const std::string path = PathOf("sample.bin");
    WriteSample(path);
    Sample s = ReadSample(path);
    EXPECT_TRUE(s.signature);
    EXPECT_EQ(s.u16, kU16);
    EXPECT_EQ(s.u32, kU32);
    EXPECT_EQ(s.u64, kU64);
    EXPECT_EQ(s.shortResult, 1);
    EXPECT_STREQ(s.shortText, kShort);
    EXPECT_TRUE(s.longResult);
    EXPECT_EQ(s.longText, kLong);
    EXPECT_EQ(s.listResult, 3);
    EXPECT_EQ(s.ids, (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(s.names, (std::vector<std::string>{"first", "", "third item"}));
    EXPECT_EQ(s.trailer, kTrailer);
    EXPECT_FALSE(s.damaged);
    EXPECT_FALSE(s.failed);
}

TEST_F(BinFileTest, TruncatedAtEveryOffsetIsDamagedNeverMisread) {
    const std::string path = PathOf("sample.bin");
    WriteSample(path);
    const Bytes whole = Load(path);
    const std::vector<int64_t> ends = itemEnds;
    ASSERT_EQ(ends.size(), 3u);
    const size_t signatureLength = std::strlen(kSignature);
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        SCOPED_TRACE(testing::Message() << "cut at " << cut << " of " << whole.size());
        const std::string cutPath = PathOf("cut.bin");
        Store(cutPath, Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)));
        Sample s = ReadSample(cutPath);
        EXPECT_FALSE(s.failed);
        if (cut < signatureLength) {
            EXPECT_FALSE(s.signature);
            continue;
        }
        EXPECT_TRUE(s.damaged);
        // Fields wholly before the cut read back right; cut ones stay as they were.
        EXPECT_EQ(s.u16, cut >= 6 ? kU16 : 0);
        EXPECT_EQ(s.u32, cut >= 10 ? kU32 : 0);
        EXPECT_EQ(s.u64, cut >= 18 ? kU64 : 0);
        EXPECT_EQ(s.shortResult, cut >= 25 ? 1 : 0);
        if (cut < 42) {
            EXPECT_FALSE(s.longResult);
            EXPECT_EQ(s.longText, "");
        }
        // Only the elements that lie wholly before the cut reach the list.
        size_t whole_items = 0;
        for (int64_t end : ends)
            if (static_cast<size_t>(end) <= cut) ++whole_items;
        EXPECT_EQ(s.ids.size(), whole_items);
        EXPECT_EQ(s.listResult < 0 ? 0 : s.listResult, static_cast<int>(whole_items));
        EXPECT_EQ(s.trailer, 0);
    }
}

TEST_F(BinFileTest, ChunkedWriteReachesTheFileInBufferLoads) {
    Bytes data(25000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 7 % 251);
    const std::string path = PathOf("big.bin");
    BinFile* file = BinFileOpen(path.c_str(), 1);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(BinFileWrite(file, data.data(), 25000), 25000);
    EXPECT_EQ(BinFileTell(file), 25000);
    // Chunks of 9998, 9998 and 5004: the first two went out, the last one waits.
    EXPECT_EQ(SizeOnDisk(path), 19996);
    EXPECT_TRUE(BinFileClose(file));
    EXPECT_EQ(Load(path), data);

    file = BinFileOpen(path.c_str(), 0);
    ASSERT_NE(file, nullptr);
    Bytes back(30000, 0);
    EXPECT_EQ(BinFileRead(file, back.data(), 3), 3);
    EXPECT_EQ(BinFileRead(file, back.data() + 3, 29997), 24997);
    back.resize(25000);
    EXPECT_EQ(back, data);
    EXPECT_EQ(BinFileRead(file, back.data(), 10), 0);
    EXPECT_FALSE(file->damaged); // raw reads at the end are not damage
    EXPECT_TRUE(BinFileClose(file));
}

TEST_F(BinFileTest, TellCountsWaitingBytesAndCloseTruncates) {
    const std::string path = PathOf("tell.bin");
    Store(path, Chars(100));
    BinFile* file = BinFileOpen(path.c_str(), 1);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(BinFileTell(file), 0);
    EXPECT_EQ(SizeOnDisk(path), 0);
    BinFileWrite(file, "12345", 5);
    EXPECT_EQ(BinFileTell(file), 5);
    EXPECT_EQ(SizeOnDisk(path), 0);
    BinFileFlush(file);
    EXPECT_EQ(SizeOnDisk(path), 5);
    EXPECT_TRUE(BinFileClose(file));

    file = BinFileOpen(path.c_str(), 1);
    EXPECT_TRUE(BinFileClose(file));
    EXPECT_EQ(SizeOnDisk(path), 0);
}

TEST_F(BinFileTest, SignatureTriesWithTellAndSeek) {
    const std::string path = PathOf("sig.bin");
    Store(path, Cat({Bytes{'H', 'E', 'A', 'D'}, Bytes{'M', 'O', 'V', '-', '1'}, Le(0x4321, 2)}));
    BinFilePtr file(BinFileOpen(path.c_str(), 0));
    ASSERT_TRUE(file);
    EXPECT_EQ(BinFileExpectText(file.get(), "HEAD"), 1);
    const int64_t mark = BinFileTell(file.get());
    EXPECT_EQ(mark, 4);
    EXPECT_EQ(BinFileExpectText(file.get(), "MOV-2"), 0);
    EXPECT_EQ(BinFileTell(file.get()), 9); // consumed although it did not match
    EXPECT_EQ(BinFileSeek(file.get(), mark), 4);
    EXPECT_EQ(BinFileExpectText(file.get(), "MOV-1"), 1);
    uint16_t value = 0;
    EXPECT_EQ(BinFileReadU16(file.get(), &value), 2);
    EXPECT_EQ(value, 0x4321);
    EXPECT_EQ(BinFileExpectText(file.get(), "MORE"), 0); // at the end
    EXPECT_EQ(BinFileExpectText(file.get(), ""), 1);
    EXPECT_FALSE(file->damaged);
}

TEST_F(BinFileTest, SeekAndFlushKeepTheLogicalPosition) {
    const std::string path = PathOf("seek.bin");
    BinFile* file = BinFileOpen(path.c_str(), 1);
    ASSERT_NE(file, nullptr);
    BinFileWrite(file, "0123456789", 10);
    EXPECT_EQ(BinFileSeek(file, 2), 2);
    BinFileWrite(file, "ab", 2);
    EXPECT_EQ(BinFileTell(file), 4);
    EXPECT_TRUE(BinFileClose(file));
    EXPECT_EQ(Load(path), (Bytes{'0', '1', 'a', 'b', '4', '5', '6', '7', '8', '9'}));

    file = BinFileOpen(path.c_str(), 0);
    char got[4] = {};
    EXPECT_EQ(BinFileRead(file, got, 3), 3);
    EXPECT_EQ(BinFileTell(file), 3);
    BinFileFlush(file); // drops the read-ahead, not the unread bytes
    EXPECT_EQ(BinFileTell(file), 3);
    EXPECT_EQ(BinFileRead(file, got, 2), 2);
    EXPECT_EQ(std::string(got, 2), "b4");
    EXPECT_EQ(BinFileSeek(file, 0), 0);
    EXPECT_EQ(BinFileRead(file, got, 3), 3);
    EXPECT_EQ(std::string(got, 3), "01a");
    EXPECT_TRUE(BinFileClose(file));
}

TEST_F(BinFileTest, ShortStringLimitsAndAlignment) {
    struct Case {
        int stored;  // the length prefix as written
        int present; // characters really in the file
        int size;    // destination buffer
        int result;
        size_t kept;
        bool damaged;
    };
    const Case cases[] = {
        {260, 260, 262, 1, 260, false}, {261, 261, 262, 0, 0, false}, {48, 48, 50, 1, 48, false},
        {49, 49, 50, 0, 0, false},      {0, 0, 2, 1, 0, false},       {0, 0, 1, 0, 0, false},
        {5000, 5000, 262, 0, 0, false}, {10, 4, 262, 0, 4, true},     {261, 100, 262, 0, 0, true},
        {-2, 0, 262, 0, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "stored " << c.stored << " present " << c.present << " size " << c.size);
        const bool whole = c.stored == c.present;
        const std::string path = PathOf("s16.bin");
        Store(path, Cat({Le(static_cast<uint16_t>(c.stored), 2), Chars(c.present),
                         whole ? Le(0x4242, 2) : Bytes{}}));
        BinFilePtr file(BinFileOpen(path.c_str(), 0));
        ASSERT_TRUE(file);
        std::vector<char> dest(static_cast<size_t>(c.size) + 8, 'X');
        EXPECT_EQ(BinFileReadStr16(file.get(), dest.data(), c.size), c.result);
        EXPECT_EQ(std::strlen(dest.data()), c.kept);
        EXPECT_EQ(dest[static_cast<size_t>(c.size)], 'X');
        EXPECT_EQ(file->damaged, c.damaged);
        if (whole) {
            uint16_t next = 0;
            EXPECT_EQ(BinFileReadU16(file.get(), &next), 2);
            EXPECT_EQ(next, 0x4242); // a refused string is stepped over
        }
    }
}

long PeakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Feeds bytes through a pipe, so the stream cannot seek.
std::string PipeOf(const Bytes& bytes, int* readEnd) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    EXPECT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fds[1]);
    *readEnd = fds[0];
    return "/proc/self/fd/" + std::to_string(fds[0]);
}

TEST_F(BinFileTest, LongStringLimitsSkipsAndHugeLengths) {
    struct Case {
        int32_t stored;
        int present;
        int32_t limit;
        bool ok;
        size_t kept;
    };
    const Case cases[] = {
        {300, 300, 258, true, 257},
        {257, 257, 258, true, 257},
        {258, 258, 258, true, 257},
        {3, 3, 258, true, 3},
        {5, 5, 1, true, 0},
        {5, 5, 0, true, 0},
        {300, 100, 258, false, 0},
        {300, 280, 258, false, 0},
        {-1, 0, 258, false, 0},
        {INT32_MIN, 4, 258, false, 0},
        {INT32_MAX, 10, 258, false, 0},
        {INT32_MAX, 10, INT32_MAX, false, 0},
        {70000, 70000, INT32_MAX, true, 70000},
    };
    const long peakBefore = PeakResidentKiB();
    for (bool throughPipe : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << "stored " << c.stored << " present " << c.present << " limit "
                         << c.limit << (throughPipe ? " pipe" : " file"));
            const Bytes bytes = Cat({Le(static_cast<uint32_t>(c.stored), 4), Chars(c.present),
                                     c.ok ? Le(0x4242, 2) : Bytes{}});
            if (throughPipe && bytes.size() > 60000) continue; // beyond what a pipe holds unread
            std::string path = PathOf("s32.bin");
            int readEnd = -1;
            if (throughPipe)
                path = PipeOf(bytes, &readEnd);
            else
                Store(path, bytes);
            BinFilePtr file(BinFileOpen(path.c_str(), 0));
            if (readEnd >= 0) close(readEnd);
            ASSERT_TRUE(file);
            std::string out = "previous";
            EXPECT_EQ(BinFileReadStr32(file.get(), c.limit, out), c.ok);
            EXPECT_EQ(out.size(), c.kept);
            EXPECT_EQ(file->damaged, !c.ok);
            if (c.ok) {
                EXPECT_EQ(out, std::string(c.kept, 'c'));
                uint16_t next = 0;
                EXPECT_EQ(BinFileReadU16(file.get(), &next), 2);
                EXPECT_EQ(next, 0x4242); // the surplus was skipped
            }
        }
    }
    // A stored length of 2^31 - 1 must not turn into a 2 GiB buffer.
    EXPECT_LT(PeakResidentKiB() - peakBefore, 64 * 1024);
}

TEST_F(BinFileTest, ListsRoundTripInStoredOrder) {
    const std::string path = PathOf("list.bin");
    Item items[5] = {{7, "a"}, {20, "dropped"}, {8, "b"}, {9, "c"}, {30, "dropped too"}};
    {
        PtrListPtr list(ListCreate(0, 0, nullptr, WriteItem, nullptr));
        for (Item& item : items)
            ListAppend(list.get(), &item);
        BinFilePtr file(BinFileOpen(path.c_str(), 1));
        EXPECT_EQ(ListWrite(list.get(), file.get()), 5);
    }
    {
        PtrListPtr list(ListCreate(0, 0, FreeItem, nullptr, ReadItem));
        BinFilePtr file(BinFileOpen(path.c_str(), 0));
        EXPECT_EQ(ListRead(list.get(), file.get()), 5);
        EXPECT_EQ(Ids(list.get()), (std::vector<uint32_t>{7, 20, 8, 9, 30}));
    }
    {
        // Null results insert nothing and leave no hole.
        PtrListPtr list(ListCreate(0, 0, FreeItem, nullptr, ReadItemSkippingTens));
        BinFilePtr file(BinFileOpen(path.c_str(), 0));
        EXPECT_EQ(ListRead(list.get(), file.get()), 3);
        EXPECT_EQ(Ids(list.get()), (std::vector<uint32_t>{7, 8, 9}));
        EXPECT_FALSE(file->damaged);
    }
}

TEST_F(BinFileTest, EmptyStoredListLeavesTheListAlone) {
    const std::string path = PathOf("empty.bin");
    Store(path, {0, 0});
    PtrListPtr list(ListCreate(0, 0, FreeItem, nullptr, ReadItem));
    ListAppend(list.get(), new Item{5, "kept"});
    BinFilePtr file(BinFileOpen(path.c_str(), 0));
    EXPECT_EQ(ListRead(list.get(), file.get()), 0);
    EXPECT_EQ(Ids(list.get()), (std::vector<uint32_t>{5}));
    EXPECT_FALSE(file->damaged);
}

TEST_F(BinFileTest, ImpossibleListCounts) {
    struct Case {
        const char* what;
        Bytes bytes;
        ReadElement reader;
        int result;
        int maxCalls;
    };
    const Bytes oneItem = Cat({Le(4, 4), Le(1, 2), Bytes{'z'}});
    const Case cases[] = {
        {"negative count", Cat({Le(0x8000, 2), oneItem}), ReadItem, 0, 0},
        {"count beyond the data", Cat({Le(32767, 2), oneItem}), ReadItem, 1, 2},
        {"count beyond the data, null reader", Cat({Le(32767, 2), oneItem}), ReadItemOrNull, 1, 2},
        {"count cut short", Bytes{0x05}, ReadItem, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = PathOf("count.bin");
        Store(path, c.bytes);
        PtrListPtr list(ListCreate(0, 0, FreeItem, nullptr, c.reader));
        BinFilePtr file(BinFileOpen(path.c_str(), 0));
        readCalls = 0;
        EXPECT_EQ(ListRead(list.get(), file.get()), c.result);
        EXPECT_EQ(Ids(list.get()), std::vector<uint32_t>(static_cast<size_t>(c.result), 4u));
        EXPECT_LE(readCalls, c.maxCalls);
        EXPECT_TRUE(file->damaged);
    }
}

TEST_F(BinFileTest, ListWriteStopsAtTheStoredCountLimit) {
    const std::string path = PathOf("many.bin");
    PtrListPtr list(ListCreate(
        0, 1000, nullptr, [](BinFile*, void*) { return 0; }, nullptr));
    for (int i = 0; i < 40000; ++i)
        ListAppend(list.get(), nullptr);
    BinFilePtr file(BinFileOpen(path.c_str(), 1));
    EXPECT_EQ(ListWrite(list.get(), file.get()), 32767);
    file.reset();
    EXPECT_EQ(Load(path), (Bytes{0xFF, 0x7F}));
}

TEST_F(BinFileTest, WriteFailuresReachClose) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    for (int count : {5, 25000}) {
        BinFile* file = BinFileOpen("/dev/full", 1);
        ASSERT_NE(file, nullptr);
        Bytes data(static_cast<size_t>(count), 'x');
        EXPECT_EQ(BinFileWrite(file, data.data(), count), count); // the count, as before
        EXPECT_FALSE(BinFileClose(file)) << count << " bytes";
    }
}

TEST_F(BinFileTest, ReadFailureIsReported) {
    BinFile* file = BinFileOpen(dir.c_str(), 0); // a folder opens but cannot be read
    ASSERT_NE(file, nullptr);
    char byte;
    EXPECT_EQ(BinFileRead(file, &byte, 1), -1);
    EXPECT_TRUE(file->failed);
    uint16_t value = 9;
    EXPECT_EQ(BinFileReadU16(file, &value), -1);
    EXPECT_EQ(value, 9);
    EXPECT_FALSE(BinFileClose(file));
}

TEST_F(BinFileTest, OpenRefusals) {
    struct Case {
        std::string path;
        int mode;
    };
    const Case cases[] = {
        {PathOf("missing.bin"), 0},
        {PathOf("no/such/folder.bin"), 1},
        {PathOf("x.bin"), 2},
        {PathOf("x.bin"), -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BinFileOpen(c.path.c_str(), c.mode), nullptr) << c.path << " mode " << c.mode;
    EXPECT_EQ(BinFileOpen(nullptr, 0), nullptr);
    EXPECT_FALSE(BinFileClose(nullptr));
}

TEST_F(BinFileTest, NewFileGetsReadWriteLessTheUmask) {
    const mode_t old = umask(027);
    const std::string path = PathOf("perm.bin");
    BinFile* file = BinFileOpen(path.c_str(), 1);
    umask(old);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(BinFileClose(file));
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST_F(BinFileTest, DescriptorIsNotInherited) {
    const std::string path = PathOf("exec.bin");
    BinFilePtr file(BinFileOpen(path.c_str(), 1));
    ASSERT_TRUE(file);
    EXPECT_TRUE(fcntl(file->descriptor, F_GETFD) & FD_CLOEXEC);
}

} // namespace
