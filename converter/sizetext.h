// Size and time-left texts of the job list, and file sizes.
#pragma once

#include <cstdint>
#include <string>

void FormatSize(std::string& out, uint64_t bytes);
// Time left from the elapsed time since startTick and the percent done.
void FormatTimeLeft(std::string& out, uint32_t startTick, double percent);
void FormatTimeLeftAt(std::string& out, uint32_t startTick, double percent, uint32_t nowTick);
// 0 when the file cannot be opened or its size cannot be read.
uint64_t FileSize64(const char* path);
