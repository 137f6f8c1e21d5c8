#include "net/update.h"

#include "local_http_server.h"
#include "util/textutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

namespace {

// Answers the question from a queue (Cancel when empty) and records what the
// check asked of the window, in order.
class RecordingFrontEnd : public UpdateFrontEnd {
public:
    void ShowWait() override { events.push_back("wait"); }
    void CloseWait() override { events.push_back("close"); }
    int Ask(const std::string& title, const std::string& question) override {
        events.push_back("ask " + title + ": " + question);
        if (answers.empty()) return 2;
        const int a = answers.front();
        answers.pop_front();
        return a;
    }
    int OpenPage(const std::string& url) override {
        events.push_back("open " + url);
        return 1;
    }
    std::deque<int> answers;
    std::vector<std::string> events;
};

class UpdateCheck : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
        today = TodayDayNumber();
    }
    // Serves body as the version text and runs the check against current.
    int Check(const std::string& current, int32_t& lastDay, const std::string& path = "/version.txt") {
        return CheckForUpdate(server.Url(path), current, "Movenna", "Newer?", "https://movenna.org/download", lastDay,
                              kUpdateIntervalDays, ui);
    }
    void Serve(int status, const std::string& body) { server.Add("/version.txt", LocalHttpServer::Page(status, body)); }
    size_t Fetches() const { return server.Requests().size(); }

    LocalHttpServer server;
    RecordingFrontEnd ui;
    int32_t today = 0;
};

}  // namespace

TEST(VersionText, ExtractKeepsOnlyDigitsAndPoints) {
    struct Case {
        std::string src;
        int capacity;
        std::string out;
    };
    const Case cases[] = {
        {"1.2.3\r\n", 50, "1.2.3"},
        {"2.0 beta 3", 50, "2.03"},
        {"version: v10.4", 50, "10.4"},
        {"no digits", 50, ""},
        {"1.2.3.4.5", 5, "1.2."},  // room for the terminator as in a C buffer
        {std::string("1\0" "2", 3), 50, "12"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src);
        std::string out = "old";
        EXPECT_EQ(ExtractVersionDigits(out, c.capacity, c.src), static_cast<int>(c.out.size()));
        EXPECT_EQ(out, c.out);
    }
}

TEST(VersionText, SplitTakesAtMostFourNumbers) {
    struct Case {
        std::string text;
        int count;
        std::array<int, 4> numbers;
    };
    const Case cases[] = {
        {"1.2.3.4.5", 4, {1, 2, 3, 4}},
        {"2.03", 2, {2, 3, 0, 0}},
        {"", 0, {0, 0, 0, 0}},
        {"..7..8.", 2, {7, 8, 0, 0}},
        {" 1. 2", 2, {1, 2, 0, 0}},
        {"1.x.3", 3, {1, 0, 3, 0}},
        {"99999999999999999999.1", 2, {INT_MAX, 1, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::array<int, 4> numbers{9, 9, 9, 9};
        EXPECT_EQ(SplitVersion(c.text, numbers), c.count);
        EXPECT_EQ(numbers, c.numbers);
    }
}

TEST(VersionText, CompareNumberByNumberThenByCount) {
    struct Case {
        const char* a;
        const char* b;
        int result;
    };
    const Case cases[] = {
        {"1.10", "1.9", 1},   {"1.2.0", "1.2", 1}, {"1.2", "1.2.0", -1}, {"1.2", "1.2", 0},
        {"0.9.9", "1.0", -1}, {"", "0.0.1", -1},  {"", "", 0},           {"1.2.3.4.5", "1.2.3.4", 0},
        {"2", "10", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(CompareVersions(c.a, c.b), c.result);
        EXPECT_EQ(CompareVersions(c.b, c.a), -c.result);
    }
}

TEST_F(UpdateCheck, RunsAtMostEveryIntervalDays) {
    Serve(200, "0.1");
    struct Case {
        const char* what;
        int32_t lastDay;  // 0 = never
        bool fetches;
        int32_t after;
    };
    const Case cases[] = {
        {"never checked", 0, true, today},
        {"checked today", today, false, today},
        {"checked yesterday", today - 1, false, today - 1},
        {"checked two days ago", today - 2, true, today},
        {"checked long ago", today - 400, true, today},
        // The clock was set back: count from today, no check now.
        {"checked in the future", today + 5, false, today},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t before = Fetches();
        int32_t lastDay = c.lastDay;
        EXPECT_EQ(Check("1.0", lastDay), 1);
        EXPECT_EQ(Fetches() - before, c.fetches ? 1u : 0u);
        EXPECT_EQ(lastDay, c.after);
    }
    // A skipped check shows no wait message at all.
    EXPECT_EQ(std::count(ui.events.begin(), ui.events.end(), "wait"), 3);
}

TEST_F(UpdateCheck, AsksOnlyForANewerVersion) {
    struct Case {
        std::string remote;
        std::string current;
        bool asks;
    };
    const Case cases[] = {
        {"1.10\n", "1.9", true},    {"1.2.0", "1.2", true},        {"1.2", "1.2.0", false},
        {"1.0.0", "1.0.0", false},  {"0.9", "1.0.0", false},       {"<html>oops</html>", "1.0", false},
        {"2.0 beta 3", "2.02", true}, {"2.0 beta 3", "2.03", false}, {"", "0.1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.remote + " vs " + c.current);
        Serve(200, c.remote);
        ui.events.clear();
        int32_t lastDay = 0;
        Check(c.current, lastDay);
        EXPECT_EQ(lastDay, today);
        const std::vector<std::string> expected =
            c.asks ? std::vector<std::string>{"wait", "close", "ask Movenna: Newer?"}
                   : std::vector<std::string>{"wait", "close"};
        EXPECT_EQ(ui.events, expected);
    }
}

TEST_F(UpdateCheck, OpensTheDownloadPageOnlyWhenTheUserAgrees) {
    Serve(200, "99.0");
    ui.answers = {2, 1};
    int32_t lastDay = 0;
    Check("1.0", lastDay);
    EXPECT_EQ(ui.events.back(), "ask Movenna: Newer?");
    EXPECT_EQ(lastDay, today);  // declining still counts as a check

    lastDay = 0;
    Check("1.0", lastDay);
    EXPECT_EQ(ui.events.back(), "open https://movenna.org/download");
    EXPECT_EQ(lastDay, today);
}

TEST_F(UpdateCheck, AnUnusableAnswerLeavesTheDaySoTheNextStartTriesAgain) {
    struct Case {
        const char* what;
        int status;
        std::string body;
        bool usable;
    };
    const Case cases[] = {
        {"not found", 404, "9.9", false},
        {"server error", 500, "9.9", false},
        {"60 bytes", 200, "9.9" + std::string(57, ' '), false},
        {"50 bytes", 200, "9.9" + std::string(47, ' '), false},
        {"49 bytes", 200, "9.9" + std::string(46, ' '), true},
    };
    const int32_t lastWeek = today - 7;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Serve(c.status, c.body);
        ui.events.clear();
        int32_t lastDay = lastWeek;
        Check("1.0", lastDay);
        EXPECT_EQ(lastDay, c.usable ? today : lastWeek);
        EXPECT_EQ(ui.events.size(), c.usable ? 3u : 2u);  // the wait message, and the question when usable
    }

    // No server at all.
    int32_t lastDay = lastWeek;
    CheckForUpdate("http://127.0.0.1:" + std::to_string(LocalHttpServer::ClosedPort()) + "/v", "1.0", "t", "q",
                   "https://movenna.org/download", lastDay, kUpdateIntervalDays, ui);
    EXPECT_EQ(lastDay, lastWeek);
}

TEST(UpdateConstants, TheProgramsOwnVersionIsAVersion) {
    std::array<int, 4> numbers{};
    EXPECT_GE(SplitVersion(kCurrentVersion, numbers), 1);
    std::string digits;
    ExtractVersionDigits(digits, kVersionTextSize, kCurrentVersion);
    EXPECT_EQ(digits, kCurrentVersion);
}
