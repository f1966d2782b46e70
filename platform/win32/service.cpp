#include "platform/service.h"

namespace plat {

// Windows services speak to the service control manager instead; Corvane is not one
// (it runs at log-on in the user's session), so there is no one to tell.

void ServiceNotifyReady() {}

void ServiceNotifyStopping() {}

void ServiceNotifyStatus(const std::string&) {}

long long ServiceWatchdogIntervalMs() { return 0; }

void ServiceNotifyWatchdog() {}

}  // namespace plat
