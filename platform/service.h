// What the daemon tells the service manager that started it (systemd's notify protocol):
// that it is ready, that it is still alive, one line of status, that it is stopping.
// Without a service manager that listens (NOTIFY_SOCKET unset), and on Windows, every
// call does nothing. Callable from any thread.
#pragma once

#include <string>

namespace plat {

// The listener is up: STBs may connect (READY=1).
void ServiceNotifyReady();
// The daemon has begun its orderly shutdown (STOPPING=1).
void ServiceNotifyStopping();
// The line `systemctl status` shows (STATUS=...), such as "2 STBs". The caller sends it
// only when it changed, and at most about once a second.
void ServiceNotifyStatus(const std::string& strStatus);
// The watchdog's interval, in milliseconds, that the service manager asks this process
// to keep (WatchdogSec=); 0 when it asks for none. Read once at start.
long long ServiceWatchdogIntervalMs();
// The daemon is alive (WATCHDOG=1); sent more often than the interval above, at about
// half of it.
void ServiceNotifyWatchdog();

}  // namespace plat
