// Buffered binary stream over a file descriptor: little-endian integers,
// length-prefixed texts, signatures, and whole PtrLists through their callbacks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct PtrList;

constexpr int32_t kBinFileBufferSize = 10000;

struct BinFile {
    unsigned char* buffer = nullptr;
    int32_t bufferSize = kBinFileBufferSize;
    int32_t filled = 0;
    int32_t position = 0;
    int32_t mode = 0; // 0 read, 1 write
    int32_t descriptor = -1;
    // Sticky: a write or read of the file failed (full disk, I/O error).
    bool failed = false;
    // Read mode: the stream ended inside an item, or an item was impossible
    // (negative length). Lets a reader tell a damaged file from a whole one.
    bool damaged = false;
};

// mode 0 reads an existing file, 1 creates or truncates one. Null on failure.
BinFile* BinFileOpen(const char* path, int mode);
// Returns true when every byte reached the file and the close succeeded
// (always true in read mode unless the stream failed). False for null.
bool BinFileClose(BinFile* file);
// Returns count; a write the file refused sets failed instead.
int BinFileWrite(BinFile* file, const void* data, int count);
// Bytes delivered (fewer at the end of the file), -1 when the file could not
// be read before anything was delivered.
int BinFileRead(BinFile* file, void* dest, int count);
int BinFileWriteU16(BinFile* file, uint16_t value);
int BinFileWriteU32(BinFile* file, uint32_t value);
int BinFileWriteU64(BinFile* file, uint64_t value);
// Bytes read; dest is set only when the whole integer was read, otherwise the
// stream is marked damaged.
int BinFileReadU16(BinFile* file, uint16_t* dest);
int BinFileReadU32(BinFile* file, uint32_t* dest);
int BinFileReadU64(BinFile* file, uint64_t* dest);
int BinFileWriteText(BinFile* file, const char* text);
// 1 when the next strlen(text) bytes equal text. The bytes are consumed either
// way: remember BinFileTell before and BinFileSeek back to try another text.
int BinFileExpectText(BinFile* file, const char* text);
// 16-bit length, then the characters; null is stored as "". A text longer than
// 32767 characters is stored cut to 32767 and the result is 0.
int BinFileWriteStr16(BinFile* file, const char* text);
// 1 when a whole string was read into dest. A stored length >= size - 1 is
// refused (dest empty, result 0) and its characters are skipped.
int BinFileReadStr16(BinFile* file, char* dest, int size);
int BinFileWriteStr32(BinFile* file, const std::string& text);
// Reads a long string, keeping at most limit - 1 characters; the surplus is
// skipped so the following fields stay aligned. Returns false (out empty)
// for a negative length or a stream that ends inside the string.
bool BinFileReadStr32(BinFile* file, int32_t limit, std::string& out);
int64_t BinFileTell(BinFile* file);
int64_t BinFileSeek(BinFile* file, int64_t offset);
void BinFileFlush(BinFile* file);
// 16-bit count (at most 32767 elements are written), then each element
// through list->writeElement. Returns the count written.
int ListWrite(PtrList* list, BinFile* file);
// Reads the count, then each element through list->readElement, inserted at
// index 0, 1, 2 ... in stored order (null results are left out). Stops when the stream is
// damaged or failed; an element whose read ran into the damage is released
// with list->freeElement (kept when there is none). Returns the count inserted.
int ListRead(PtrList* list, BinFile* file);

struct BinFileCloser {
    void operator()(BinFile* file) const { BinFileClose(file); }
};
using BinFilePtr = std::unique_ptr<BinFile, BinFileCloser>;
