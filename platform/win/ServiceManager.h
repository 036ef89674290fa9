// The service manager that started the program, when one did (systemd's
// notification socket, through libsystemd): readiness, a status line and
// watchdog keep-alives. Without NOTIFY_SOCKET every call does nothing.
// GUI thread only (the program tells its state from there).
#pragma once

#include <cstdint>
#include <string>

namespace win {

namespace service {

// Whether a service manager listens (NOTIFY_SOCKET is set).
bool Managed();
// Start-up is done.
void NotifyReady();
// A one-line status shown by the manager (line breaks become spaces).
void NotifyStatus(const std::string& status);
// The program is alive; the manager restarts it when these stop coming.
void NotifyWatchdog();
// The shutdown has begun.
void NotifyStopping();
// The watchdog period the manager asks for, in microseconds; 0 for none.
std::uint64_t WatchdogUsec();

}  // namespace service

}  // namespace win
