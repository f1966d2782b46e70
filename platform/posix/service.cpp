#include "platform/service.h"

#include <cstdint>
#include <systemd/sd-daemon.h>

namespace plat {

// libsystemd's sd_notify sends one datagram to the AF_UNIX socket that NOTIFY_SOCKET
// names, and does nothing (0) when it names none. A message that cannot be sent is of no
// consequence to the STBs: the result is not looked at.

void ServiceNotifyReady() { sd_notify(0, "READY=1"); }

void ServiceNotifyStopping() { sd_notify(0, "STOPPING=1"); }

void ServiceNotifyStatus(const std::string& strStatus)
{
    // One line: a line break would end the field and start another.
    std::string strMessage = "STATUS=";
    for (char c : strStatus)
        strMessage += c == '\n' ? ' ' : c;
    sd_notify(0, strMessage.c_str());
}

long long ServiceWatchdogIntervalMs()
{
    uint64_t ullUsec = 0;
    // > 0 when WATCHDOG_USEC is set for this process (WATCHDOG_PID, when present, is ours).
    if (sd_watchdog_enabled(0, &ullUsec) <= 0)
        return 0;
    const long long llMs = static_cast<long long>(ullUsec / 1000);
    return llMs > 0 ? llMs : 1;
}

void ServiceNotifyWatchdog() { sd_notify(0, "WATCHDOG=1"); }

}  // namespace plat
