#include "util/binfile.h"

#include "util/ptrlist.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kModeRead = 0;
constexpr int kModeWrite = 1;
constexpr int32_t kStr16Max = 32767;
constexpr int kListMaxStored = 32767;
// Long strings are taken in slices so that a damaged length costs memory only
// for the bytes the file really holds.
constexpr int kStr32Slice = 65536;

void WriteAll(BinFile* file, const unsigned char* data, size_t count) {
    while (count > 0) {
        ssize_t done = write(file->descriptor, data, count);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            file->failed = true;
            return;
        }
        data += done;
        count -= static_cast<size_t>(done);
    }
}

void WriteWaiting(BinFile* file) {
    if (file->position > 0) WriteAll(file, file->buffer, static_cast<size_t>(file->position));
    file->position = 0;
}

int WriteChunk(BinFile* file, const unsigned char* data, int count) {
    if (file->position + count > file->bufferSize - 1) WriteWaiting(file);
    std::memcpy(file->buffer + file->position, data, static_cast<size_t>(count));
    file->position += count;
    return count;
}

int ReadChunk(BinFile* file, unsigned char* dest, int count) {
    int available = file->filled - file->position;
    if (available < count) {
        std::memmove(file->buffer, file->buffer + file->position, static_cast<size_t>(available));
        file->filled = available;
        file->position = 0;
        // A pipe may answer in pieces: keep reading until the chunk is there or the file ends.
        while (file->filled < count) {
            ssize_t got = read(file->descriptor, file->buffer + file->filled,
                               static_cast<size_t>(file->bufferSize - file->filled));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                file->failed = true;
                if (file->filled == 0) return -1;
                break;
            }
            if (got == 0) break;
            file->filled += static_cast<int32_t>(got);
        }
        if (file->filled < count) count = file->filled;
    }
    std::memcpy(dest, file->buffer + file->position, static_cast<size_t>(count));
    file->position += count;
    return count;
}

// Steps over count bytes; false when the file ends first.
bool Skip(BinFile* file, int64_t count) {
    int64_t buffered = std::min<int64_t>(count, file->filled - file->position);
    file->position += static_cast<int32_t>(buffered);
    count -= buffered;
    if (count == 0) return true;
    // The buffer is empty now, so the descriptor sits at the logical position.
    struct stat info {};
    if (fstat(file->descriptor, &info) == 0 && S_ISREG(info.st_mode)) {
        off_t here = lseek(file->descriptor, 0, SEEK_CUR);
        if (here >= 0) {
            file->filled = file->position = 0;
            if (here + count <= info.st_size) return lseek(file->descriptor, count, SEEK_CUR) >= 0;
            lseek(file->descriptor, 0, SEEK_END);
            return false;
        }
    }
    unsigned char scratch[4096];
    while (count > 0) {
        int part = static_cast<int>(std::min<int64_t>(count, sizeof scratch));
        if (BinFileRead(file, scratch, part) != part) return false;
        count -= part;
    }
    return true;
}

// Reads a whole integer of size bytes; a short read marks the stream damaged.
int ReadInteger(BinFile* file, unsigned char* bytes, int size) {
    int got = BinFileRead(file, bytes, size);
    if (got >= 0 && got < size && file != nullptr) file->damaged = true;
    return got;
}

uint64_t DecodeLittle(const unsigned char* bytes, int size) {
    uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

int WriteLittle(BinFile* file, uint64_t value, int size) {
    unsigned char bytes[8];
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    return BinFileWrite(file, bytes, size);
}

} // namespace

BinFile* BinFileOpen(const char* path, int mode) {
    if (path == nullptr || (mode != kModeRead && mode != kModeWrite)) return nullptr;
    int fd;
    do {
        fd = mode == kModeWrite ? open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)
                                : open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    BinFile* file = new (MemAlloc(sizeof(BinFile))) BinFile{};
    file->buffer = static_cast<unsigned char*>(MemAlloc(kBinFileBufferSize));
    file->bufferSize = kBinFileBufferSize;
    file->mode = mode;
    file->descriptor = fd;
    return file;
}

bool BinFileClose(BinFile* file) {
    if (file == nullptr) return false;
    if (file->mode == kModeWrite) WriteWaiting(file);
    // A failing close can be the first report of a lost write (network file systems).
    if (close(file->descriptor) != 0) file->failed = true;
    bool ok = !file->failed;
    std::free(file->buffer);
    file->~BinFile();
    std::free(file);
    return ok;
}

int BinFileWrite(BinFile* file, const void* data, int count) {
    if (file == nullptr || data == nullptr || count <= 0) return 0;
    if (file->mode != kModeWrite) {
        file->failed = true;
        return 0;
    }
    const int chunk = file->bufferSize - 2;
    const auto* bytes = static_cast<const unsigned char*>(data);
    // 64-bit offset: the last step past a count near INT_MAX must not overflow.
    for (int64_t offset = 0; offset < count; offset += chunk)
        WriteChunk(file, bytes + offset,
                   static_cast<int>(std::min<int64_t>(chunk, count - offset)));
    return count;
}

int BinFileRead(BinFile* file, void* dest, int count) {
    if (file == nullptr || dest == nullptr || count <= 0) return 0;
    if (file->mode != kModeRead) return -1;
    const int chunk = file->bufferSize - 2;
    auto* bytes = static_cast<unsigned char*>(dest);
    int total = 0;
    for (int64_t offset = 0; offset < count; offset += chunk) {
        int want = static_cast<int>(std::min<int64_t>(chunk, count - offset));
        int got = ReadChunk(file, bytes + offset, want);
        if (got < 0) return total > 0 ? total : -1;
        total += got;
        // A short chunk means the end of the file: later chunks would leave a gap.
        if (got < want) break;
    }
    return total;
}

int BinFileWriteU16(BinFile* file, uint16_t value) {
    return WriteLittle(file, value, 2);
}

int BinFileWriteU32(BinFile* file, uint32_t value) {
    return WriteLittle(file, value, 4);
}

int BinFileWriteU64(BinFile* file, uint64_t value) {
    return WriteLittle(file, value, 8);
}

int BinFileReadU16(BinFile* file, uint16_t* dest) {
    unsigned char bytes[2];
    int got = ReadInteger(file, bytes, 2);
    if (got == 2 && dest) *dest = static_cast<uint16_t>(DecodeLittle(bytes, 2));
    return got;
}

int BinFileReadU32(BinFile* file, uint32_t* dest) {
    unsigned char bytes[4];
    int got = ReadInteger(file, bytes, 4);
    if (got == 4 && dest) *dest = static_cast<uint32_t>(DecodeLittle(bytes, 4));
    return got;
}

int BinFileReadU64(BinFile* file, uint64_t* dest) {
    unsigned char bytes[8];
    int got = ReadInteger(file, bytes, 8);
    if (got == 8 && dest) *dest = DecodeLittle(bytes, 8);
    return got;
}

int BinFileWriteText(BinFile* file, const char* text) {
    if (text == nullptr) return 0;
    return BinFileWrite(file, text, static_cast<int>(std::strlen(text)));
}

int BinFileExpectText(BinFile* file, const char* text) {
    if (file == nullptr || text == nullptr) return 0;
    size_t left = std::strlen(text);
    bool same = true;
    unsigned char part[256];
    while (left > 0) {
        int want = static_cast<int>(std::min(left, sizeof part));
        int got = BinFileRead(file, part, want);
        if (got != want) return 0;
        if (std::memcmp(part, text, static_cast<size_t>(want)) != 0) same = false;
        text += want;
        left -= static_cast<size_t>(want);
    }
    return same ? 1 : 0;
}

int BinFileWriteStr16(BinFile* file, const char* text) {
    if (text == nullptr) text = "";
    size_t length = std::strlen(text);
    // A longer length would read back as negative and lose every later field.
    int stored = static_cast<int>(std::min<size_t>(length, kStr16Max));
    BinFileWriteU16(file, static_cast<uint16_t>(stored));
    BinFileWrite(file, text, stored);
    return static_cast<size_t>(stored) == length ? 1 : 0;
}

int BinFileReadStr16(BinFile* file, char* dest, int size) {
    if (dest != nullptr && size > 0) dest[0] = 0;
    if (file == nullptr) return 0;
    uint16_t raw = 0;
    if (BinFileReadU16(file, &raw) != 2) return 0;
    int length = static_cast<int16_t>(raw);
    if (length < 0) {
        file->damaged = true;
        return 0;
    }
    if (dest == nullptr || length >= size - 1) {
        // Refused, but stepped over so the next field is read from its place.
        if (!Skip(file, length)) file->damaged = true;
        return 0;
    }
    int got = length > 0 ? BinFileRead(file, dest, length) : 0;
    if (got < 0) got = 0;
    dest[got] = 0;
    if (got < length) {
        file->damaged = true;
        return 0;
    }
    return 1;
}

int BinFileWriteStr32(BinFile* file, const std::string& text) {
    size_t stored = std::min<size_t>(text.size(), INT32_MAX);
    BinFileWriteU32(file, static_cast<uint32_t>(stored));
    BinFileWrite(file, text.data(), static_cast<int>(stored));
    return stored == text.size() ? 1 : 0;
}

bool BinFileReadStr32(BinFile* file, int32_t limit, std::string& out) {
    out.clear();
    if (file == nullptr) return false;
    uint32_t raw = 0;
    if (BinFileReadU32(file, &raw) != 4) return false;
    int32_t length = static_cast<int32_t>(raw);
    if (length < 0) {
        file->damaged = true;
        return false;
    }
    int32_t keep = limit > 0 ? std::min(length, limit - 1) : 0;
    while (static_cast<int32_t>(out.size()) < keep) {
        int part = std::min(kStr32Slice, keep - static_cast<int32_t>(out.size()));
        size_t at = out.size();
        out.resize(at + static_cast<size_t>(part));
        if (BinFileRead(file, out.data() + at, part) != part) {
            out.clear();
            file->damaged = true;
            return false;
        }
    }
    if (!Skip(file, static_cast<int64_t>(length) - keep)) {
        out.clear();
        file->damaged = true;
        return false;
    }
    return true;
}

int64_t BinFileTell(BinFile* file) {
    if (file == nullptr) return -1;
    off_t here = lseek(file->descriptor, 0, SEEK_CUR);
    if (here < 0) return -1;
    if (file->mode == kModeWrite) return here + file->position;
    return here - (file->filled - file->position);
}

int64_t BinFileSeek(BinFile* file, int64_t offset) {
    if (file == nullptr) return -1;
    if (file->mode == kModeWrite)
        WriteWaiting(file);
    else
        file->filled = file->position = 0;
    return lseek(file->descriptor, offset, SEEK_SET);
}

void BinFileFlush(BinFile* file) {
    if (file == nullptr) return;
    if (file->mode == kModeWrite) {
        WriteWaiting(file);
        return;
    }
    // Hand the unread bytes back to the descriptor so that nothing is skipped.
    int unread = file->filled - file->position;
    if (unread > 0) lseek(file->descriptor, -static_cast<off_t>(unread), SEEK_CUR);
    file->filled = file->position = 0;
}

int ListWrite(PtrList* list, BinFile* file) {
    if (list == nullptr || file == nullptr) return 0;
    // The stored count is a signed 16-bit value: never write more than it can say.
    int count = list->writeElement != nullptr ? std::min(list->count, kListMaxStored) : 0;
    BinFileWriteU16(file, static_cast<uint16_t>(count));
    for (int i = 0; i < count; ++i)
        list->writeElement(file, list->items[i]);
    return count;
}

int ListRead(PtrList* list, BinFile* file) {
    if (list == nullptr || file == nullptr) return 0;
    uint16_t raw = 0;
    if (BinFileReadU16(file, &raw) != 2) return 0;
    int count = static_cast<int16_t>(raw);
    if (count < 0) {
        file->damaged = true;
        count = 0;
    }
    if (list->readElement == nullptr) return 0;
    int inserted = 0;
    for (int i = 0; i < count; ++i) {
        // A damaged stream has nothing left to give: stop instead of asking count times.
        if (file->damaged || file->failed) break;
        void* element = list->readElement(file);
        if (element == nullptr) continue;
        bool partial = file->damaged || file->failed;
        if (partial && list->freeElement != nullptr) {
            list->freeElement(element);
            break;
        }
        if (ListInsert(list, inserted, element) < 0) {
            if (list->freeElement != nullptr) list->freeElement(element);
            continue;
        }
        ++inserted;
    }
    return inserted;
}
