#include "converter/process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

class SpawnSetup {
public:
    // errorFd >= 0: the child's stderr goes there instead of ours.
    explicit SpawnSetup(int errorFd = -1) {
        ok_ = posix_spawn_file_actions_init(&actions_) == 0;
        if (!ok_) return;
        if (posix_spawnattr_init(&attr_) != 0) {
            posix_spawn_file_actions_destroy(&actions_);
            ok_ = false;
            return;
        }
        // The converter reads nothing and has nothing to say on stdout; its
        // errors still reach our stderr. Nothing else of ours leaks into it.
        ok_ = posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0) == 0 &&
              posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0) == 0 &&
              (errorFd < 0 || posix_spawn_file_actions_adddup2(&actions_, errorFd, 2) == 0) &&
              posix_spawn_file_actions_addclosefrom_np(&actions_, 3) == 0;
        // A worker thread may have signals blocked or ignored (SIGPIPE under
        // libcurl); the child starts with the defaults.
        sigset_t none;
        sigemptyset(&none);
        sigset_t all;
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        ok_ = ok_ && posix_spawnattr_setsigmask(&attr_, &none) == 0 &&
              posix_spawnattr_setsigdefault(&attr_, &all) == 0 &&
              posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
        inited_ = true;
    }
    ~SpawnSetup() {
        if (inited_) {
            posix_spawnattr_destroy(&attr_);
            posix_spawn_file_actions_destroy(&actions_);
        }
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // glibc reports a failed exec in the child as posix_spawn's own error
    // (ENOENT, EACCES, ENOEXEC...), so "could not start" is known here.
    bool Spawn(const CommandLine& cmd, pid_t* pid) {
        if (!ok_ || cmd.argv.empty() || cmd.argv[0].empty()) return false;
        std::vector<char*> args;
        args.reserve(cmd.argv.size() + 1);
        for (const std::string& a : cmd.argv) {
            // An argument with a NUL inside would reach the child cut.
            if (a.find('\0') != std::string::npos) return false;
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        return posix_spawn(pid, args[0], &actions_, &attr_, args.data(), environ) == 0;
    }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attr_;
    bool ok_ = false;
    bool inited_ = false;
};

class FdGuard {
public:
    explicit FdGuard(int fd) : fd_(fd) {}
    ~FdGuard() {
        if (fd_ >= 0) close(fd_);
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Through syscall(): glibc 2.36's <sys/pidfd.h> lacks C linkage for C++.
int PidfdOpen(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

int DecodeStatus(int status) {
    // POSIX keeps only the low 8 bits; the converter's -20 and -25 come back
    // as 236 and 231 and are turned back into negatives here.
    if (WIFEXITED(status)) return static_cast<int8_t>(static_cast<uint8_t>(WEXITSTATUS(status)));
    if (WIFSIGNALED(status)) return kExitBySignal - WTERMSIG(status);
    return kExitBySignal;
}

int WaitBlocking(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return kExitBySignal;
    }
    return DecodeStatus(status);
}

// The read end of the pipe that receives a child's stderr, kept as a
// bounded tail. Reads never block: the wait loop stays on time.
class ErrorPipe {
public:
    ErrorPipe() = default;
    ~ErrorPipe() { CloseBoth(); }
    ErrorPipe(const ErrorPipe&) = delete;
    ErrorPipe& operator=(const ErrorPipe&) = delete;

    bool Open() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        // Only our end: the child's stderr must keep blocking writes.
        if (fcntl(fds[0], F_SETFL, O_NONBLOCK) != 0) {
            close(fds[0]);
            close(fds[1]);
            return false;
        }
        read_ = fds[0];
        write_ = fds[1];
        return true;
    }
    int writeEnd() const { return write_; }
    // Once the child has its copy; our copy would keep the pipe from ending.
    void CloseWriteEnd() {
        if (write_ >= 0) close(write_);
        write_ = -1;
    }
    // -1 once the pipe has ended.
    int readEnd() const { return read_; }

    // Takes what is waiting, without blocking.
    void Drain() {
        char buf[4096];
        while (read_ >= 0) {
            ssize_t n = read(read_, buf, sizeof buf);
            if (n > 0) {
                text_.append(buf, static_cast<size_t>(n));
                if (text_.size() > 2 * kErrorTextMax) text_.erase(0, text_.size() - kErrorTextMax);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                close(read_);
                read_ = -1;
            }
            return;
        }
    }
    std::string Take() {
        if (text_.size() > kErrorTextMax) text_.erase(0, text_.size() - kErrorTextMax);
        return std::move(text_);
    }

private:
    void CloseBoth() {
        CloseWriteEnd();
        if (read_ >= 0) close(read_);
        read_ = -1;
    }
    int read_ = -1;
    int write_ = -1;
    std::string text_;
};

// Waits up to ms for the child, reading its stderr meanwhile; true when it
// has ended (or the wait broke).
bool WaitSlicePidfd(int pidfd, int ms, ErrorPipe* errors) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        int timeout = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        pollfd p[2] = {{.fd = pidfd, .events = POLLIN, .revents = 0},
                       {.fd = errors ? errors->readEnd() : -1, .events = POLLIN, .revents = 0}};
        int r = poll(p, 2, timeout);
        if (r < 0) {
            if (errno != EINTR) return true;
            continue;
        }
        if (p[1].revents != 0) errors->Drain();
        if (p[0].revents != 0) return true;
        if (r == 0) return false;
    }
}

// Without pidfds (old kernels): look every few milliseconds so that a short
// process is still seen soon after it ends. *status is set when reaped.
bool WaitSliceNoHang(pid_t pid, int ms, int* status, bool* reaped, ErrorPipe* errors) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (errors) errors->Drain();
        pid_t r = waitpid(pid, status, WNOHANG);
        if (r == pid) {
            *reaped = true;
            return true;
        }
        if (r < 0 && errno != EINTR) return true;
        auto now = Clock::now();
        if (now >= deadline) return false;
        auto step = std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(5));
        std::this_thread::sleep_for(step);
    }
}

} // namespace

std::string LastMeaningfulLine(const std::string& text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; };
    size_t end = text.size();
    while (end > 0) {
        while (end > 0 && blank(text[end - 1])) --end;
        if (end == 0) break;
        size_t begin = text.rfind('\n', end - 1);
        begin = begin == std::string::npos ? 0 : begin + 1;
        while (begin < end && blank(text[begin])) ++begin;
        if (begin < end) return text.substr(begin, end - begin);
        end = begin;
    }
    return {};
}

int ProcessRunPolled(const CommandLine& cmd, int* exitCode, int intervalMs,
                     ProcessCallback callback, void* data, std::string* errorText) {
    if (errorText) errorText->clear();
    ErrorPipe errors;
    // Without a pipe the child's messages still reach our own stderr.
    const bool capture = errorText != nullptr && errors.Open();
    pid_t pid = 0;
    {
        SpawnSetup setup(capture ? errors.writeEnd() : -1);
        if (!setup.Spawn(cmd, &pid)) return 0;
    }
    errors.CloseWriteEnd();
    ErrorPipe* reading = capture ? &errors : nullptr;
    // A zero or negative interval would spin; one millisecond is the least.
    const int slice = intervalMs > 0 ? intervalMs : 1;
    FdGuard pidfd(PidfdOpen(pid));
    int status = 0;
    bool reaped = false;
    for (;;) {
        bool ended = pidfd.get() >= 0 ? WaitSlicePidfd(pidfd.get(), slice, reading)
                                      : WaitSliceNoHang(pid, slice, &status, &reaped, reading);
        if (callback) callback(data);
        if (ended) break;
    }
    int code = reaped ? DecodeStatus(status) : WaitBlocking(pid);
    if (exitCode) *exitCode = code;
    // What the child wrote before it ended is in the pipe now; a program it
    // started may still hold the pipe open, so this does not wait for its end.
    if (capture) {
        errors.Drain();
        *errorText = errors.Take();
    }
    return 1;
}

int ProcessLaunch(const CommandLine& cmd) {
    pid_t pid = 0;
    {
        SpawnSetup setup;
        if (!setup.Spawn(cmd, &pid)) return 0;
    }
    // Nobody waits for a launched player: a small thread reaps it so that it
    // leaves no zombie. It waits for this pid only, never for other children.
    try {
        std::thread([pid] { WaitBlocking(pid); }).detach();
    } catch (...) {
        // No thread to be had: the child still runs; it stays a zombie until we exit.
    }
    return 1;
}
