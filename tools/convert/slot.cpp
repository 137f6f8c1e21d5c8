#include "tools/convert/slot.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

namespace {

void Store(double& field, double value) {
    std::atomic_ref<double>(field).store(value, std::memory_order_relaxed);
}

} // namespace

std::unique_ptr<SlotLink> SlotLink::Open(const std::string& digits, int index) {
    if (digits.empty() || index < 0 || index >= kProgressSlotCount) return nullptr;
    const std::string name = std::string(kProgressNamePrefix) + digits;
    const int fd = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    struct stat st {};
    void* base = MAP_FAILED;
    if (fstat(fd, &st) == 0 && static_cast<size_t>(st.st_size) >= kProgressChannelSize)
        base = mmap(nullptr, kProgressChannelSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (base == MAP_FAILED) return nullptr;
    auto* slot = reinterpret_cast<ProgressSlot*>(static_cast<char*>(base) +
                                                 static_cast<size_t>(index) * kProgressSlotSize);
    return std::unique_ptr<SlotLink>(new SlotLink(base, slot));
}

SlotLink::~SlotLink() {
    munmap(base_, kProgressChannelSize);
}

void SlotLink::SetPercent(double value) { Store(slot_->percent, value); }
void SlotLink::SetAmount(double bytes) { Store(slot_->amount, bytes); }
void SlotLink::SetSpeed(double value) { Store(slot_->speed, value); }
void SlotLink::SetDuration(double seconds) { Store(slot_->duration, seconds); }

bool SlotLink::StopRequested() const {
    return std::atomic_ref<uint8_t>(slot_->stop).load(std::memory_order_relaxed) != 0;
}
