// The shared-memory block through which a converter reports progress and
// receives a stop request. Shared by the program and movenna-convert, which
// must agree on every byte: the offsets are fixed below.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kProgressSlotCount = 1000;
constexpr size_t kProgressSlotSize = 48;
constexpr size_t kProgressChannelSize = 48100; // 1000 slots + 100 unused bytes
constexpr int kProgressNameDigits = 12;
// Shared-memory object name: this prefix followed by the 12 digits.
constexpr const char* kProgressNamePrefix = "/movenna-";

struct ProgressSlot {
    uint8_t inUse;          // program: 1 while a job or probe owns the slot
    uint8_t pad1[7];
    double percent;         // converter: 0.0 to 100.0 done
    uint8_t stop;           // program: 1 asks the converter to end the run
    uint8_t pad2[7];
    double amount;          // converter: bytes written so far
    double speed;           // converter: encoding speed (x real time)
    double duration;        // converter: source duration in seconds (probe)
};

static_assert(sizeof(ProgressSlot) == kProgressSlotSize);
static_assert(offsetof(ProgressSlot, inUse) == 0);
static_assert(offsetof(ProgressSlot, percent) == 8);
static_assert(offsetof(ProgressSlot, stop) == 16);
static_assert(offsetof(ProgressSlot, amount) == 24);
static_assert(offsetof(ProgressSlot, speed) == 32);
static_assert(offsetof(ProgressSlot, duration) == 40);
static_assert(kProgressSlotCount * kProgressSlotSize + 100 == kProgressChannelSize);
