#include "net/update.h"

#include "net/fetch.h"
#include "util/browser.h"
#include "util/textutil.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace {

// The start-up waits for the check: a slow server must not hold it long.
constexpr FetchLimits kUpdateFetchLimits{.connectMs = 10000, .idleSeconds = 10, .totalMs = 20000};

int LeadingNumber(const char* token) {
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(token, &end, 10);
    if (end == token) return 0;
    if (errno == ERANGE || value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace

int UpdateFrontEnd::OpenPage(const std::string& url) { return OpenUrlInBrowser(url); }

int ExtractVersionDigits(std::string& out, int capacity, std::string_view src) {
    out.clear();
    for (char c : src) {
        if (static_cast<int>(out.size()) >= capacity - 1) break;
        if ((c >= '0' && c <= '9') || c == '.') out += c;
    }
    return static_cast<int>(out.size());
}

int SplitVersion(const std::string& text, std::array<int, kVersionMaxNumbers>& numbers) {
    numbers.fill(0);
    char token[kVersionTextSize];
    int pos = 0;
    int found = 0;
    while (found < kVersionMaxNumbers && StrNextToken(token, kVersionTextSize, text.c_str(), &pos, ".") != 0)
        numbers[found++] = LeadingNumber(token);
    return found;
}

int CompareVersions(const std::string& a, const std::string& b) {
    std::array<int, kVersionMaxNumbers> na{};
    std::array<int, kVersionMaxNumbers> nb{};
    const int ca = SplitVersion(a, na);
    const int cb = SplitVersion(b, nb);
    for (int i = 0; i < ca && i < cb; ++i) {
        if (na[i] != nb[i]) return na[i] > nb[i] ? 1 : -1;
    }
    if (ca != cb) return ca > cb ? 1 : -1;
    return 0;
}

int CheckForUpdate(const std::string& versionUrl, const std::string& currentVersion, const std::string& title,
                   const std::string& question, const std::string& downloadUrl, int32_t& lastCheckDay,
                   int interval, UpdateFrontEnd& frontEnd) {
    const int32_t today = TodayDayNumber();
    int64_t elapsed = int64_t{today} - lastCheckDay;
    if (elapsed < 0) {
        // The clock was set back: count from today.
        lastCheckDay = today;
        elapsed = 0;
    }
    if (lastCheckDay != 0 && elapsed < interval) return 1;

    std::vector<char> answer(kUpdateAnswerSize);
    unsigned count = 0;
    frontEnd.ShowWait();
    const int result = FetchUrl(versionUrl, answer.data(), &count, kUpdateAnswerSize, kUpdateFetchLimits);
    frontEnd.CloseWait();
    // Anything else is not our version text; the next start tries again.
    if (result != 2 || count >= kUpdateAnswerLimit) return 1;

    std::string remote;
    ExtractVersionDigits(remote, kVersionTextSize, std::string_view(answer.data(), count));
    if (CompareVersions(remote, currentVersion) == 1 && frontEnd.Ask(title, question) == 1)
        frontEnd.OpenPage(downloadUrl);
    lastCheckDay = today;
    return 1;
}
