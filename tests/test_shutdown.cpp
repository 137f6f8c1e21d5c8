#include "util/shutdown.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Stands in for the system in every test: the real request is never made.
class RecordingBackend : public ShutdownBackend {
public:
    bool Request(ExitAction action, int flags) override {
        calls.push_back({action, flags});
        return accept;
    }
    struct Call {
        ExitAction action;
        int flags;
    };
    std::vector<Call> calls;
    bool accept = true;
};

class Shutdown : public ::testing::Test {
protected:
    void SetUp() override { previous = SetShutdownBackend(&backend); }
    void TearDown() override { EXPECT_EQ(SetShutdownBackend(previous), &backend); }

    RecordingBackend backend;
    ShutdownBackend* previous = nullptr;
};

}  // namespace

TEST_F(Shutdown, EachRequestReachesTheInstalledBackendWithItsAction) {
    struct Case {
        int flags;
        ExitAction action;
    };
    const Case cases[] = {
        {kExitPowerOff, ExitAction::PowerOff},
        {kExitShutdown, ExitAction::Shutdown},
        {kExitReboot, ExitAction::Reboot},
        {kExitLogOff, ExitAction::LogOff},
        {kExitPowerOff | kExitForce, ExitAction::PowerOff},
        {kExitPowerOff | kExitShutdown, ExitAction::PowerOff},
        {kExitReboot | kExitShutdown, ExitAction::Reboot},
        {kExitForce, ExitAction::LogOff},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        backend.calls.clear();
        EXPECT_EQ(ExitWindowsRequest(c.flags), 1);
        ASSERT_EQ(backend.calls.size(), 1u);
        EXPECT_EQ(backend.calls[0].action, c.action);
        // Flags such as force pass through untouched.
        EXPECT_EQ(backend.calls[0].flags, c.flags);
    }
}

TEST_F(Shutdown, ARefusedRequestGivesZeroSoTheCallerCanTryTheNextOne) {
    backend.accept = false;
    EXPECT_EQ(ExitWindowsRequest(kExitPowerOff), 0);
    EXPECT_EQ(ExitWindowsRequest(kExitShutdown), 0);
    ASSERT_EQ(backend.calls.size(), 2u);
    EXPECT_EQ(backend.calls[1].action, ExitAction::Shutdown);
}

TEST_F(Shutdown, ReplacingTheBackendHandsBackTheOneBefore) {
    RecordingBackend second;
    EXPECT_EQ(SetShutdownBackend(&second), &backend);
    EXPECT_EQ(ExitWindowsRequest(kExitPowerOff), 1);
    EXPECT_TRUE(backend.calls.empty());
    EXPECT_EQ(second.calls.size(), 1u);

    // nullptr puts the system's own back; it is not called here.
    EXPECT_EQ(SetShutdownBackend(nullptr), &second);
    ShutdownBackend* system = SetShutdownBackend(&backend);
    EXPECT_NE(dynamic_cast<SystemShutdownBackend*>(system), nullptr);
}
