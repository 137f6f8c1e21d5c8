// Asking the system to power off, shut down or restart once the conversions
// are done. The request goes through a replaceable backend, so that tests
// (and anything else that must not end the session) can stand in for it.
#pragma once

// Exit request flags; other bits pass through to the backend unchanged.
inline constexpr int kExitLogOff = 0;
inline constexpr int kExitShutdown = 1;
inline constexpr int kExitReboot = 2;
inline constexpr int kExitForce = 4;
inline constexpr int kExitPowerOff = 8;

enum class ExitAction { LogOff, Shutdown, Reboot, PowerOff };

class ShutdownBackend {
public:
    virtual ~ShutdownBackend() = default;
    // true when the system accepted the request.
    virtual bool Request(ExitAction action, int flags) = 0;
};

// The real one: systemd-logind over D-Bus (no password prompt), then
// systemctl. Shut down means halt; log off is not offered (false).
class SystemShutdownBackend : public ShutdownBackend {
public:
    bool Request(ExitAction action, int flags) override;
};

// Installs backend (not owned; it must outlive its use); nullptr restores
// the system's. Returns the one it replaces.
ShutdownBackend* SetShutdownBackend(ShutdownBackend* backend);

// The action a set of flags asks for: power off before restart before shut down.
ExitAction ExitActionOf(int flags);

// Non-zero when the system accepted the request. The program asks for power
// off (8) first and for shut down (1) only when that returned 0.
int ExitWindowsRequest(int flags);
