#include "util/shutdown.h"

#include "converter/process.h"
#include "util/browser.h"

#include <atomic>
#include <string>
#include <vector>

namespace {

SystemShutdownBackend g_systemBackend;
std::atomic<ShutdownBackend*> g_backend{&g_systemBackend};

// Runs a program to its end; true when it exited with 0.
bool RunQuietly(std::vector<std::string> words) {
    const std::string program = FindProgramInPath(words[0]);
    if (program.empty()) return false;
    CommandLine cmd;
    words[0] = program;
    cmd.argv = std::move(words);
    int code = -1;
    return ProcessRunPolled(cmd, &code, 200, nullptr, nullptr) == 1 && code == 0;
}

}  // namespace

bool SystemShutdownBackend::Request(ExitAction action, int /*flags*/) {
    const char* method = nullptr;
    const char* verb = nullptr;
    switch (action) {
    case ExitAction::PowerOff: method = "PowerOff"; verb = "poweroff"; break;
    case ExitAction::Reboot: method = "Reboot"; verb = "reboot"; break;
    case ExitAction::Shutdown: method = "Halt"; verb = "halt"; break;
    case ExitAction::LogOff: return false;
    }
    // interactive = false: no password dialog at the end of an unattended run.
    const std::string manager = "org.freedesktop.login1.Manager";
    const bool accepted =
        FindProgramInPath("busctl").empty()
            ? RunQuietly({"dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.login1",
                          "/org/freedesktop/login1", manager + "." + method, "boolean:false"})
            : RunQuietly({"busctl", "--system", "call", "org.freedesktop.login1", "/org/freedesktop/login1",
                          manager, method, "b", "false"});
    if (accepted) return true;
    return RunQuietly({"systemctl", "--no-ask-password", verb});
}

ShutdownBackend* SetShutdownBackend(ShutdownBackend* backend) {
    return g_backend.exchange(backend != nullptr ? backend : &g_systemBackend);
}

ExitAction ExitActionOf(int flags) {
    if (flags & kExitPowerOff) return ExitAction::PowerOff;
    if (flags & kExitReboot) return ExitAction::Reboot;
    if (flags & kExitShutdown) return ExitAction::Shutdown;
    return ExitAction::LogOff;
}

int ExitWindowsRequest(int flags) { return g_backend.load()->Request(ExitActionOf(flags), flags) ? 1 : 0; }
