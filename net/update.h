// The update check at start-up: at most every few days, ask Movenna's web
// server for the newest version and offer the download page when it is
// newer than this one.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr char kUpdateVersionUrl[] = "https://movenna.org/version.txt";
inline constexpr char kDownloadPageUrl[] = "https://movenna.org/download";
inline constexpr char kCurrentVersion[] = MOVENNA_VERSION;
inline constexpr char kUpdateQuestion[] =
    "A newer version of Movenna is available.\n\nDo you want to open the download page now?";
inline constexpr int kUpdateIntervalDays = 2;

// The answer is read into this many bytes and used only when shorter than
// kUpdateAnswerLimit; the version text keeps fewer than kVersionTextSize characters.
inline constexpr unsigned kUpdateAnswerSize = 1000;
inline constexpr unsigned kUpdateAnswerLimit = 50;
inline constexpr int kVersionTextSize = 50;
inline constexpr int kVersionMaxNumbers = 4;

// What the check needs from the window.
class UpdateFrontEnd {
public:
    virtual ~UpdateFrontEnd() = default;
    // Around the network request only, so that a skipped check shows nothing
    // and the wait message never covers the question.
    virtual void ShowWait() {}
    virtual void CloseWait() {}
    // The question with OK and Cancel; 1 means OK.
    virtual int Ask(const std::string& title, const std::string& question) = 0;
    // Opens the download page; by default in the web browser (OpenUrlInBrowser).
    virtual int OpenPage(const std::string& url);
};

// lastCheckDay is AppSettings::updateCheckDay (a TodayDayNumber, 0 for never):
// set to today after every check that got a usable answer, and when the clock
// was found set back. Failures are silent. Always returns 1.
int CheckForUpdate(const std::string& versionUrl, const std::string& currentVersion, const std::string& title,
                   const std::string& question, const std::string& downloadUrl, int32_t& lastCheckDay,
                   int interval, UpdateFrontEnd& frontEnd);

// out = the digits and points of src, in order, at most capacity - 1 of them.
// Returns the number kept.
int ExtractVersionDigits(std::string& out, int capacity, std::string_view src);
// The numbers of a point-separated version, at most four; returns how many.
// A part without leading digits counts as 0; numbers too big for an int are
// held at its largest value.
int SplitVersion(const std::string& text, std::array<int, kVersionMaxNumbers>& numbers);
// 1 when a is the higher version, -1 when b is, 0 when they are equal.
// With equal shared numbers the one with more numbers is higher.
int CompareVersions(const std::string& a, const std::string& b);
