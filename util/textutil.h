// Text, path, number, date and random-text helpers over zero-terminated
// 8-bit strings in caller buffers with explicit sizes. No allocation, no state.
#pragma once

#include <cstdint>

// '/' separates folders; a drive letter exists only on Windows builds.
constexpr char kPathSep = '/';
// Longest path the platform accepts (PATH_MAX less its terminator).
constexpr int kPathMaxLen = 4095;
// A path buffer: StrCopyN keeps size - 1 characters, StrAppendN size - 2.
// Sized so that every path the platform accepts fits whole.
constexpr int kPathBufSize = kPathMaxLen + 2;

// Text
// Copies at most size - 1 characters and terminates (nothing is written when
// size <= 0). Returns the count copied; with a null dest, the bounded length.
int StrCopyN(char* dest, const char* src, int size);
// Appends while dest holds fewer than size - 2 characters; returns the new length.
int StrAppendN(char* dest, const char* src, int size);
// Copies at most n characters and terminates: writes up to n + 1 bytes.
int StrCopyMax(char* dest, const char* src, int n);
// mode 1 leading, 2 trailing, 3 both, 4 every white space; dest may be src.
void StrTrim(int mode, const char* src, char* dest);
// Next token of src from *pos; returns its first character, 0 when none is left.
char StrNextToken(char* token, int tokenSize, const char* src, int* pos, const char* delims);
int StrReplaceChar(char* buf, char from, char to);
// The array ends with an entry pointing at "" and holds at least one entry
// before it. Returns the index of the longest entry (the first of equals).
int StrArrayLongest(const char* const* array, int* longest, int* count);
int TextDropSpacesBeforeBreaks(char* dest, const char* src);
int TextJoinWrappedLines(char* dest, const char* src);

// Paths. Each part buffer holds at least kPathBufSize bytes; parts are cut at
// kPathMaxLen characters (callers that read or write the result check the
// length first and refuse instead).
void PathSplit(const char* path, char* drive, char* folder, char* name, char* ext);
void PathMake(char* out, const char* drive, const char* folder, const char* name, const char* ext);
void PathWithNameOf(char* out, const char* folderSource, const char* nameSource);
void PathInSubfolder(char* out, const char* path, const char* subfolder);
// folder is a kPathBufSize buffer; an empty folder gives just the name.
void PathAddName(char* folder, const char* name);
void PathSplitFolder(const char* path, char* folder, char* file);

// Numbers and dates
int RangeFit(int value, int first, int count, bool wrap);
int IndexMove(int* index, int count, int how, int step);
void SecondsToHms(int* hours, int* minutes, int* seconds, uint32_t total);
int32_t DayNumber(int day, int month, int year);
int TodayDate(int* day, int* month, int* year);
int32_t TodayDayNumber();
// Milliseconds from a monotonic clock, wrapping at 2^32 like a tick count.
uint32_t TickCount();

// Random text
uint32_t TimeSeed();
uint32_t RandomNext(uint32_t* z, uint32_t* w);
// 0 for n == 0 (the state still advances).
uint32_t RandomBelow(uint32_t* z, uint32_t* w, uint32_t n);
void RandomText(char* buf, int length, uint32_t seed, int kind);
