// Starting external programs: the converter (waited for in slices) and the
// internal player (not waited for).
#pragma once

#include <cstddef>
#include <string>

#include "converter/cmdline.h"

// Called after every wait slice with the caller's data.
using ProcessCallback = void (*)(void* data);

// A child killed by signal N reports kExitBySignal - N as its exit code: never
// 0, and outside the -128..127 range that a normal exit can give.
constexpr int kExitBySignal = -1000;

// Runs cmd.argv (argv[0] is the program's path; no shell, cmd.text is not
// used) and waits for it in slices of intervalMs, calling callback(data)
// after every slice, the last one included. Returns 1 when the program was
// started and has ended, with *exitCode set (the status read as a signed
// 8-bit value, so exit(-25) gives -25); returns 0 when it could not be
// started (missing, not executable, exec failed), *exitCode untouched.
// The child gets stdin and stdout on /dev/null, the parent's stderr, and no
// other descriptor. With errorText, its stderr goes to a pipe instead and
// errorText receives what it wrote (the last kErrorTextMax bytes).
int ProcessRunPolled(const CommandLine& cmd, int* exitCode, int intervalMs,
                     ProcessCallback callback, void* data, std::string* errorText = nullptr);

// What ProcessRunPolled keeps of a child's stderr: its end, where the reason is.
constexpr size_t kErrorTextMax = 8192;

// The last line of text that holds more than white space, trimmed; "".
std::string LastMeaningfulLine(const std::string& text);

// Starts cmd.argv and returns at once: 1 when started, 0 otherwise. The
// child is reaped in the background when it ends.
int ProcessLaunch(const CommandLine& cmd);
