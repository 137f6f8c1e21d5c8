// Ending the window cleanly when the session ends or the program is told to
// stop (logout, kill, Ctrl+C in its terminal): the handler only writes a byte
// to a pipe; the event loop reads it and closes the window.
#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>

#include "app/Main.h"

namespace {

int gQuitPipe[2] = {-1, -1};
bool gCaught = false;

extern "C" void OnQuitSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a request.
    [[maybe_unused]] ssize_t n = write(gQuitPipe[1], &byte, 1);
    errno = saved;
}

bool CatchQuitSignals() {
    if (gCaught) return true;
    struct sigaction action{};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    // The second signal of a kind takes its default course: a clean-up that
    // hangs can still be ended.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    bool ok = true;
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) ok = sigaction(sig, &action, nullptr) == 0 && ok;
    gCaught = ok;
    return ok;
}

} // namespace

bool InstallQuitSignals(TFMain* window) {
    if (gQuitPipe[0] < 0 && pipe2(gQuitPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        gQuitPipe[0] = gQuitPipe[1] = -1;
        return false;
    }
    if (window != nullptr) {
        auto* notifier = new QSocketNotifier(gQuitPipe[0], QSocketNotifier::Read, window);
        QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
            char buf[64];
            while (read(gQuitPipe[0], buf, sizeof buf) > 0) {
            }
            window->CloseWithoutAsking();
        });
    }
    return CatchQuitSignals();
}
