// This run's slot in the program's shared progress channel.
#pragma once

#include <memory>
#include <string>

#include "converter/progress_slot.h"

class SlotLink {
public:
    // Maps the channel named by the 12 digits and points at one slot; null
    // when the channel does not exist or the index is out of range.
    static std::unique_ptr<SlotLink> Open(const std::string& digits, int index);
    ~SlotLink();
    SlotLink(const SlotLink&) = delete;
    SlotLink& operator=(const SlotLink&) = delete;

    // Each value is one aligned 8-byte store: the program reads without a lock.
    void SetPercent(double value);
    void SetAmount(double bytes);
    void SetSpeed(double value);
    void SetDuration(double seconds);
    bool StopRequested() const;

private:
    SlotLink(void* base, ProgressSlot* slot) : base_(base), slot_(slot) {}
    void* base_;
    ProgressSlot* slot_;
};
