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
int StrCopyN(char* dest, const char* src, int size);
int StrAppendN(char* dest, const char* src, int size);
int StrCopyMax(char* dest, const char* src, int n);
void StrTrim(int mode, const char* src, char* dest);
char StrNextToken(char* token, int tokenSize, const char* src, int* pos, const char* delims);
int StrReplaceChar(char* buf, char from, char to);
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
uint32_t RandomBelow(uint32_t* z, uint32_t* w, uint32_t n);
void RandomText(char* buf, int length, uint32_t seed, int kind);
