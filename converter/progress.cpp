#include "converter/progress.h"

#include "converter/progress_slot.h"
#include "util/textutil.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The converter writes the doubles while we read them: every access is one
// aligned 8-byte load or store, never torn.
static_assert(std::atomic_ref<double>::is_always_lock_free);
static_assert(std::atomic_ref<uint8_t>::is_always_lock_free);
static_assert(alignof(ProgressSlot) >= std::atomic_ref<double>::required_alignment);

constexpr int kNameTries = 8;

struct Channel {
    std::mutex lock; // allocation, release, reset, open and close
    std::atomic<ProgressSlot*> slots{nullptr};
    int fd = -1;
    std::atomic<int> high{0}; // slot indexes handed out since the last reset; changed under lock
    char digits[kProgressNameDigits + 1] = {};
};

Channel channel;

double LoadDouble(double& value) {
    return std::atomic_ref<double>(value).load(std::memory_order_relaxed);
}

void StoreDouble(double& value, double v) {
    std::atomic_ref<double>(value).store(v, std::memory_order_relaxed);
}

uint8_t LoadByte(uint8_t& value) {
    return std::atomic_ref<uint8_t>(value).load(std::memory_order_acquire);
}

void StoreByte(uint8_t& value, uint8_t v) {
    std::atomic_ref<uint8_t>(value).store(v, std::memory_order_release);
}

void ClearSlot(ProgressSlot& slot) {
    StoreByte(slot.inUse, 0);
    StoreDouble(slot.percent, 0.0);
    StoreByte(slot.stop, 0);
    StoreDouble(slot.amount, 0.0);
    StoreDouble(slot.speed, 0.0);
    StoreDouble(slot.duration, 0.0);
    std::memset(slot.pad1, 0, sizeof slot.pad1);
    std::memset(slot.pad2, 0, sizeof slot.pad2);
}

double ClampPercent(double p) {
    if (!(p >= 0.0)) return 0.0;
    return p > 100.0 ? 100.0 : p;
}

ProgressSlot* SlotAt(int index) {
    if (index < 0 || index >= kProgressSlotCount) return nullptr;
    ProgressSlot* slots = channel.slots.load(std::memory_order_acquire);
    return slots != nullptr ? &slots[index] : nullptr;
}

std::string ObjectName(const char* digits) {
    return std::string(kProgressNamePrefix) + digits;
}

} // namespace

bool ProgressOpen() {
    std::lock_guard<std::mutex> guard(channel.lock);
    if (channel.slots.load() != nullptr) return true;

    // The first name comes from the clock; another program started in the
    // same second would draw the same one, so a clash draws again.
    const uint32_t base = TimeSeed();
    const uint32_t salt = static_cast<uint32_t>(::getpid()) * 2654435761u;
    char digits[kProgressNameDigits + 1] = {};
    int fd = -1;
    for (int attempt = 0; attempt < kNameTries && fd < 0; ++attempt) {
        uint32_t seed = base;
        if (attempt > 0)
            seed = (base ^ salt) + static_cast<uint32_t>(attempt) * 0x9E3779B9u + TickCount();
        RandomText(digits, kProgressNameDigits, seed, 0);
        fd = ::shm_open(ObjectName(digits).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;

    const std::string name = ObjectName(digits);
    if (::ftruncate(fd, static_cast<off_t>(kProgressChannelSize)) != 0) {
        ::close(fd);
        ::shm_unlink(name.c_str());
        return false;
    }
    void* mapping =
        ::mmap(nullptr, kProgressChannelSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapping == MAP_FAILED) {
        ::close(fd);
        ::shm_unlink(name.c_str());
        return false;
    }
    auto* slots = static_cast<ProgressSlot*>(mapping);
    for (int i = 0; i < kProgressSlotCount; ++i)
        ClearSlot(slots[i]);
    channel.fd = fd;
    channel.high.store(0);
    std::memcpy(channel.digits, digits, sizeof digits);
    channel.slots.store(slots, std::memory_order_release);
    return true;
}

void ProgressClose() {
    std::lock_guard<std::mutex> guard(channel.lock);
    ProgressSlot* slots = channel.slots.exchange(nullptr);
    if (slots != nullptr) ::munmap(slots, kProgressChannelSize);
    if (channel.fd >= 0) {
        ::close(channel.fd);
        channel.fd = -1;
        ::shm_unlink(ObjectName(channel.digits).c_str());
    }
    channel.digits[0] = '\0';
    channel.high.store(0);
}

bool ProgressIsOpen() {
    return channel.slots.load(std::memory_order_acquire) != nullptr;
}

const char* ProgressChannelName() {
    return channel.digits;
}

int ProgressAllocSlot() {
    std::lock_guard<std::mutex> guard(channel.lock);
    ProgressSlot* slots = channel.slots.load();
    if (slots == nullptr) return -1;
    const int high = channel.high.load();
    for (int i = 0; i < high; ++i) {
        if (LoadByte(slots[i].inUse) == 0) {
            StoreByte(slots[i].inUse, 1);
            return i;
        }
    }
    // The last index is never handed out: at most 999 slots, 0 to 998.
    const int index = channel.high.load();
    if (index + 1 < kProgressSlotCount) {
        StoreByte(slots[index].inUse, 1);
        channel.high.store(index + 1, std::memory_order_release);
        return index;
    }
    return -1;
}

void ProgressReleaseSlot(int index) {
    std::lock_guard<std::mutex> guard(channel.lock);
    if (ProgressSlot* slot = SlotAt(index)) ClearSlot(*slot);
}

void ProgressResetSlots() {
    std::lock_guard<std::mutex> guard(channel.lock);
    channel.high.store(0);
}

int ProgressRead(int index, double* percent, int64_t* amountKb) {
    ProgressSlot* slot = SlotAt(index);
    if (slot == nullptr) return 0;
    if (percent != nullptr) *percent = ClampPercent(LoadDouble(slot->percent));
    if (amountKb != nullptr) {
        double kb = std::trunc(LoadDouble(slot->amount) / 1024.0);
        // The converter's value is not trusted to fit a 64-bit count.
        if (!(kb >= 0.0)) kb = 0.0;
        if (kb > 9.0e18) kb = 9.0e18;
        *amountKb = static_cast<int64_t>(kb);
    }
    return 1;
}

int ProgressAverage(double* average) {
    // Runs on every display refresh, so it takes no lock: H and the in-use
    // bytes are read atomically.
    ProgressSlot* slots = channel.slots.load(std::memory_order_acquire);
    int count = 0;
    double sum = 0.0;
    if (slots != nullptr) {
        const int high = channel.high.load(std::memory_order_acquire);
        for (int i = 0; i < high; ++i) {
            if (LoadByte(slots[i].inUse) != 0) {
                sum += ClampPercent(LoadDouble(slots[i].percent));
                ++count;
            }
        }
    }
    if (average != nullptr) *average = count > 0 ? sum / count : 0.0;
    return count;
}

int ProgressReadDuration(int index, double* duration) {
    ProgressSlot* slot = SlotAt(index);
    if (slot == nullptr) return 0;
    if (duration != nullptr) *duration = LoadDouble(slot->duration);
    return 1;
}

void ProgressRequestStop(int index) {
    if (ProgressSlot* slot = SlotAt(index)) StoreByte(slot->stop, 1);
}
