#include "copy_measure.h"

#include <cerrno>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "bench_conn.h"
#include "bench_util.h"
#include "net/protocol.h"
#include "proc_figures.h"

extern char** environ;

namespace {

constexpr int kRecvTimeoutMs = 10000;
// Between two polls of the copy's status: short beside a copy of a GiB.
constexpr auto kPollPause = std::chrono::milliseconds(1);

// Runs the program with its arguments and waits for it. True when it exited with 0.
bool RunProgram(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& s : args)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return Fail(argv[0], "cannot be started");
    int nStatus = 0;
    while (waitpid(pid, &nStatus, 0) < 0) {
        if (errno != EINTR)
            return Fail(argv[0], strerror(errno));
    }
    return WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0 ? true : Fail(argv[0], "failed");
}

}  // namespace

bool DaemonCopy(const CBenchDaemon& daemon, const std::string& strFrom, const std::string& strTo, CopyRun& run)
{
    const char* pszWhat = "copy with FC_FILE_CPY_REQ";
    CStbConn conn(0);
    if (!ConnectLoopback(conn, daemon.Port(), kRecvTimeoutMs))
        return Fail(pszWhat, conn.Error());
    std::vector<uint8_t> payload{0x07};
    AppendCString(payload, strFrom);
    AppendCString(payload, strTo);
    CFrameView f;
    run = CopyRun{};
    const double dCpu0 = ProcCpuSeconds(daemon.Pid());
    const auto t0 = Clock::now();
    uint8_t ucStatus = kStatusRunning;
    // The first request starts the copy; every later one of the session asks how it is.
    while (ucStatus == kStatusRunning) {
        if (conn.Exchange(FC_FILE_CPY_REQ, payload, FC_FILE_CPY_REP, 1, f) != 0)
            return Fail(pszWhat, conn.Error());
        ucStatus = f.pPayload[0];
        if (ucStatus == kStatusRunning)
            std::this_thread::sleep_for(kPollPause);
    }
    run.dSeconds = Seconds(Clock::now() - t0);
    run.dServerCpu = ProcCpuSeconds(daemon.Pid()) - dCpu0;
    conn.Close(true);
    return ucStatus == kStatusDone ? true : Fail(pszWhat, "ended with status " + std::to_string(ucStatus));
}

bool FloorCopy(const std::string& strFrom, const std::string& strTo, double& dSeconds)
{
    const auto t0 = Clock::now();
    if (!RunProgram({"cp", "--reflink=never", strFrom, strTo}) || !RunProgram({"sync", "-f", strTo}))
        return false;
    dSeconds = Seconds(Clock::now() - t0);
    return true;
}
