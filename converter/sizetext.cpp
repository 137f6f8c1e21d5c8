#include "converter/sizetext.h"

#include "util/textutil.h"

#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int DecimalDigits(uint64_t n) {
    int digits = 1;
    while (n >= 10) {
        n /= 10;
        ++digits;
    }
    return digits;
}

} // namespace

void FormatSize(std::string& out, uint64_t bytes) {
    // The unit follows the count of decimal digits while the divisor is a
    // power of 1024: 1,000,000 bytes read 0.95 MB.
    const int digits = DecimalDigits(bytes);
    const double n = static_cast<double>(bytes);
    char text[64];
    if (digits >= 10)
        std::snprintf(text, sizeof text, "%.2f GB", n / 1073741824.0);
    else if (digits >= 7)
        std::snprintf(text, sizeof text, "%.2f MB", n / 1048576.0);
    else if (bytes >= 1024)
        std::snprintf(text, sizeof text, "%.2f KB", n / 1024.0);
    else
        std::snprintf(text, sizeof text, "%lld Bytes", static_cast<long long>(bytes));
    out = text;
}

void FormatTimeLeft(std::string& out, uint32_t startTick, double percent) {
    FormatTimeLeftAt(out, startTick, percent, TickCount());
}

void FormatTimeLeftAt(std::string& out, uint32_t startTick, double percent, uint32_t nowTick) {
    out.clear();
    if (!(percent > 0.0)) return;
    // Unsigned difference: still right after the tick count wraps.
    const uint32_t elapsed = (nowTick - startTick) / 1000;
    if (elapsed == 0) return;
    double left = std::trunc(static_cast<double>(elapsed) * (100.0 - percent) / percent);
    if (!(left >= 0.0)) left = 0.0;
    // Anything from 100 hours on reads the same, so cap before converting.
    if (left > 1e9) left = 1e9;
    const int64_t total = static_cast<int64_t>(left);
    int64_t h = total / 3600;
    int64_t m = (total % 3600) / 60;
    int64_t s = total % 60;
    char text[64];
    if (h == 0 && m == 0) {
        std::snprintf(text, sizeof text, " %d sec left", static_cast<int>(s));
    } else if (h == 0) {
        std::snprintf(text, sizeof text, " %02d:%02d left", static_cast<int>(m),
                      static_cast<int>(s));
    } else {
        if (h > 99) {
            h = 99;
            m = 0;
            s = 0;
        }
        std::snprintf(text, sizeof text, " %02d:%02d:%02d left", static_cast<int>(h),
                      static_cast<int>(m), static_cast<int>(s));
    }
    out = text;
}

uint64_t FileSize64(const char* path) {
    if (path == nullptr || path[0] == '\0') return 0;
    // Non-blocking so that a FIFO given as a path cannot hang the caller.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat info {};
    uint64_t size = 0;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
        size = static_cast<uint64_t>(info.st_size);
    ::close(fd);
    return size;
}
