#include "size_measure.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sched.h>
#include <string>

#include "bench_conn.h"
#include "bench_daemon.h"
#include "bench_util.h"
#include "cpu_pin.h"
#include "net/protocol.h"
#include "net/wire.h"
#include "proc_figures.h"

namespace {

constexpr const char* kProgram = "bench_size";
constexpr int kRecvTimeoutMs = 5000;
constexpr int kWarmupRoundTrips = 500;

enum class Ask { Ver, Size };

// The folders of kDeepStbPath under the shared folder, and its file.
bool MakeDeepFile(const std::string& strShare)
{
    const std::filesystem::path file = strShare + kDeepStbPath;
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    std::ofstream out(file, std::ios::binary);
    const std::string strBytes(kDeepFileBytes, 'x');
    out.write(strBytes.data(), static_cast<std::streamsize>(strBytes.size()));
    out.close();
    return (!ec && out) || Fail("the test file", "cannot create " + file.string());
}

// One daemon with a connection for each of the two requests.
class CRatioDaemon {
public:
    // Starts the daemon (through strWrapper when given) with all its threads on nCpu,
    // connects and warms up.
    bool Start(const std::string& strBinary, const std::string& strWrapper, int nCpu)
    {
        m_strBinary = strWrapper.empty() ? strBinary : strWrapper + " " + strBinary;
        if (!strWrapper.empty())
            m_Daemon.SetWrapper(strWrapper);
        if (!StartDaemon(m_Daemon, strBinary, false, kProgram) || !MakeDeepFile(m_Daemon.ShareDir()))
            return false;
        if (!PinProcess(m_Daemon.Pid(), nCpu))
            return Fail(m_strBinary.c_str(), "cannot hold the daemon to one CPU");
        m_SizePayload = PathPayload(kDeepStbPath);
        if (!ConnectLoopback(m_Ver, m_Daemon.Port(), kRecvTimeoutMs))
            return Fail(m_strBinary.c_str(), m_Ver.Error());
        if (!ConnectLoopback(m_Size, m_Daemon.Port(), kRecvTimeoutMs))
            return Fail(m_strBinary.c_str(), m_Size.Error());
        for (int i = 0; i < kWarmupRoundTrips; ++i) {
            if (!RoundTrip(Ask::Ver) || !RoundTrip(Ask::Size))
                return false;
        }
        return true;
    }

    // nCount round trips of one kind, one after the other. dRate receives their rate,
    // dCpuUs the daemon's CPU time per round trip.
    bool Block(Ask eAsk, int nCount, double& dRate, double& dCpuUs)
    {
        const double dCpu0 = ProcThreadsCpuSeconds(m_Daemon.Pid());
        const auto t0 = Clock::now();
        for (int i = 0; i < nCount; ++i) {
            if (!RoundTrip(eAsk))
                return false;
        }
        const auto t1 = Clock::now();
        const double dCpu1 = ProcThreadsCpuSeconds(m_Daemon.Pid());
        dRate = nCount / Seconds(t1 - t0);
        dCpuUs = (dCpu1 - dCpu0) * 1e6 / nCount;
        return (dCpu0 >= 0 && dCpu1 >= 0) || Fail(m_strBinary.c_str(), "no CPU times in /proc");
    }

private:
    bool RoundTrip(Ask eAsk)
    {
        const bool bVer = eAsk == Ask::Ver;
        CStbConn& conn = bVer ? m_Ver : m_Size;
        const std::vector<uint8_t>& payload = bVer ? m_NoPayload : m_SizePayload;
        const uint8_t ucRequest = bVer ? FC_VER_REQ : FC_FILE_SIZE_REQ;
        CFrameView f;
        if (conn.Send(ucRequest, payload.data(), payload.size()) != 0 || conn.Receive(f) != 0)
            return Fail(m_strBinary.c_str(), conn.Error());
        // FC_FILE_SIZE_REQ's short form: status 0 and the 32-bit size.
        const bool bRight = bVer ? IsVerReply(f)
                                 : f.ucCommand == FC_FILE_SIZE_REP && f.nPayload == 5 && f.pPayload[0] == kStatusDone &&
                                       GetU32LE(f.pPayload + 1) == kDeepFileBytes;
        if (bRight)
            return true;
        char sz[160];
        snprintf(sz, sizeof(sz), "%s: reply %02X with %zu payload bytes, status %u", bVer ? "FC_VER_REQ" : "FC_FILE_SIZE_REQ",
                 f.ucCommand, f.nPayload, f.nPayload > 0 ? f.pPayload[0] : 0u);
        return Fail(m_strBinary.c_str(), sz);
    }

    std::string m_strBinary;
    CBenchDaemon m_Daemon;
    CStbConn m_Ver{0}, m_Size{0};  // one reply at a time: the smallest receive buffers
    std::vector<uint8_t> m_NoPayload, m_SizePayload;
};

struct Samples {
    std::vector<double> verRates, sizeRates, verCpus, sizeCpus;
};

}  // namespace

bool MeasureSizeRatios(std::vector<SizeRatioTarget>& targets, double dSeconds, int nBlock)
{
    // The STB side and every daemon share one CPU. Between two CPUs of a virtual machine
    // each reply costs a wake-up across CPUs whose price changes tenfold with the host's
    // load, so the CPUs that the scheduler happened to give a session would decide the
    // figures; on one CPU a round trip costs what the two sides compute.
    const int nCpu = sched_getcpu();
    if (nCpu < 0 || !PinThread(0, nCpu))
        return Fail(kProgram, "cannot hold the benchmark to one CPU");
    std::vector<std::unique_ptr<CRatioDaemon>> daemons;
    for (const SizeRatioTarget& t : targets) {
        daemons.push_back(std::make_unique<CRatioDaemon>());
        if (!daemons.back()->Start(t.strBinary, t.strWrapper, nCpu))
            return false;
    }
    // A round is one block of each request on each daemon, the order reversed every other
    // round (ver, size, ver', size' then size', ver', size, ver) so that neither gains from
    // where it stands. A block lasts a few milliseconds: one that a busy machine
    // interrupts spoils its round's ratio only, and the median passes over it.
    std::vector<std::pair<size_t, Ask>> order;
    for (size_t i = 0; i < targets.size(); ++i) {
        order.emplace_back(i, Ask::Ver);
        order.emplace_back(i, Ask::Size);
    }
    std::vector<Samples> samples(targets.size());
    for (SizeRatioTarget& t : targets)
        t.ratios.clear();
    const auto tEnd = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(dSeconds));
    while (Clock::now() < tEnd) {
        for (const auto& [i, eAsk] : order) {
            double dRate = 0, dCpuUs = 0;
            if (!daemons[i]->Block(eAsk, nBlock, dRate, dCpuUs))
                return false;
            (eAsk == Ask::Ver ? samples[i].verRates : samples[i].sizeRates).push_back(dRate);
            (eAsk == Ask::Ver ? samples[i].verCpus : samples[i].sizeCpus).push_back(dCpuUs);
        }
        for (size_t i = 0; i < targets.size(); ++i)
            targets[i].ratios.push_back(samples[i].sizeRates.back() / samples[i].verRates.back());
        std::reverse(order.begin(), order.end());
    }
    for (size_t i = 0; i < targets.size(); ++i) {
        SizeRatioFigures& f = targets[i].figures;
        f.dVerRate = Median(samples[i].verRates);
        f.dSizeRate = Median(samples[i].sizeRates);
        f.dRatio = Median(targets[i].ratios);
        f.dVerCpuUs = Median(samples[i].verCpus);
        f.dSizeCpuUs = Median(samples[i].sizeCpus);
        const std::string strWhat =
            targets[i].strWrapper.empty() ? targets[i].strBinary : targets[i].strWrapper + " " + targets[i].strBinary;
        std::vector<double> sorted = targets[i].ratios;
        std::sort(sorted.begin(), sorted.end());
        fprintf(stderr,
                "%s:   %s: FC_VER_REQ %.0f/s, FC_FILE_SIZE_REQ %.0f/s, ratio %.3f (%zu rounds, middle half "
                "%.3f..%.3f); daemon CPU %.1f us and %.1f us a round trip\n",
                kProgram, strWhat.c_str(), f.dVerRate, f.dSizeRate, f.dRatio, sorted.size(),
                sorted[sorted.size() / 4], sorted[sorted.size() * 3 / 4], f.dVerCpuUs, f.dSizeCpuUs);
    }
    return true;
}
