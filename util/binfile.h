// Buffered binary stream over a file descriptor: little-endian integers,
// length-prefixed texts, signatures, and whole PtrLists through their callbacks.
#pragma once

#include <cstdint>
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

BinFile* BinFileOpen(const char* path, int mode);
// Returns true when every byte reached the file and the close succeeded
// (always true in read mode unless the stream failed).
bool BinFileClose(BinFile* file);
int BinFileWrite(BinFile* file, const void* data, int count);
int BinFileRead(BinFile* file, void* dest, int count);
int BinFileWriteU16(BinFile* file, uint16_t value);
int BinFileWriteU32(BinFile* file, uint32_t value);
int BinFileWriteU64(BinFile* file, uint64_t value);
int BinFileReadU16(BinFile* file, uint16_t* dest);
int BinFileReadU32(BinFile* file, uint32_t* dest);
int BinFileReadU64(BinFile* file, uint64_t* dest);
int BinFileWriteText(BinFile* file, const char* text);
int BinFileExpectText(BinFile* file, const char* text);
int BinFileWriteStr16(BinFile* file, const char* text);
int BinFileReadStr16(BinFile* file, char* dest, int size);
int BinFileWriteStr32(BinFile* file, const std::string& text);
// Reads a long string, keeping at most limit - 1 characters; the surplus is
// skipped so the following fields stay aligned. Returns false (out empty)
// for a negative length or a stream that ends inside the string.
bool BinFileReadStr32(BinFile* file, int32_t limit, std::string& out);
int64_t BinFileTell(BinFile* file);
int64_t BinFileSeek(BinFile* file, int64_t offset);
void BinFileFlush(BinFile* file);
int ListWrite(PtrList* list, BinFile* file);
int ListRead(PtrList* list, BinFile* file);
