// The program's side of the progress channel: one shared-memory block per
// program run, one slot per running converter or probe.
#pragma once

#include <cstdint>

// Creates the channel under a fresh random name; false leaves it absent.
bool ProgressOpen();
void ProgressClose();
bool ProgressIsOpen();
// The 12 digits passed to the converter with -brmap ("" when absent).
const char* ProgressChannelName();
int ProgressAllocSlot();
void ProgressReleaseSlot(int index);
void ProgressResetSlots();
int ProgressRead(int index, double* percent, int64_t* amountKb);
int ProgressAverage(double* average);
int ProgressReadDuration(int index, double* duration);
void ProgressRequestStop(int index);
