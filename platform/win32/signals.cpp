#include "platform/signals.h"

#include <csignal>

#include "platform/win32/win.h"

namespace plat {

namespace {

// What the console's control handler, which the system runs on a thread of its own and
// which takes no argument, hands to the main thread: an event that is set when the end
// is asked for, and the signal that stands for the request.
struct CConsoleEnd {
    HANDLE hEvent = nullptr;
    volatile LONG lSignal = 0;
};

CConsoleEnd& ConsoleEnd()
{
    static CConsoleEnd s_end;
    return s_end;
}

BOOL WINAPI OnConsoleControl(DWORD dwType)
{
    CConsoleEnd& end = ConsoleEnd();
    switch (dwType) {
    case CTRL_C_EVENT:
        InterlockedExchange(&end.lSignal, SIGINT);
        break;
    case CTRL_BREAK_EVENT:
        InterlockedExchange(&end.lSignal, SIGBREAK);
        break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        InterlockedExchange(&end.lSignal, SIGTERM);
        break;
    default:
        return FALSE;
    }
    SetEvent(end.hEvent);
    if (dwType == CTRL_CLOSE_EVENT || dwType == CTRL_LOGOFF_EVENT || dwType == CTRL_SHUTDOWN_EVENT) {
        // The system ends the process as soon as this handler returns: it waits here
        // while the main thread shuts the sessions down and the process exits.
        Sleep(INFINITE);
    }
    return TRUE;
}

}  // namespace

void SetupProcessSignals()
{
    CConsoleEnd& end = ConsoleEnd();
    if (end.hEvent == nullptr)
        end.hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // auto-reset: one wait takes one request
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

int WaitForTerminationSignal()
{
    CConsoleEnd& end = ConsoleEnd();
    if (end.hEvent == nullptr)
        SetupProcessSignals();
    WaitForSingleObject(end.hEvent, INFINITE);
    const LONG lSignal = InterlockedCompareExchange(&end.lSignal, 0, 0);
    return lSignal != 0 ? static_cast<int>(lSignal) : SIGTERM;
}

// The handle is the event the console's control handler sets; it belongs to the process.
CTerminationNotifier::CTerminationNotifier()
{
    CConsoleEnd& end = ConsoleEnd();
    if (end.hEvent != nullptr)
        m_hHandle = reinterpret_cast<TerminationHandle>(end.hEvent);
}

CTerminationNotifier::~CTerminationNotifier() {}

bool TakeTerminationRequest(TerminationHandle hHandle)
{
    if (hHandle == kNoTerminationHandle)
        return false;
    return WaitForSingleObject(reinterpret_cast<HANDLE>(hHandle), 0) == WAIT_OBJECT_0;
}

}  // namespace plat
