#include "bench_daemon.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "bench_conn.h"

bool CBenchDaemon::s_bPollPages = false;

CBenchDaemon::~CBenchDaemon()
{
    Reap();
    if (!m_strRoot.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_strRoot, ec);
    }
}

void CBenchDaemon::Reap()
{
    m_pPoller.reset();
    m_pProc.reset();  // killed and reaped: the drain sees the end of its pipe
    if (m_Drain.joinable())
        m_Drain.join();
    if (m_fdTrace >= 0) {
        close(m_fdTrace);
        m_fdTrace = -1;
    }
}

int CBenchDaemon::MakeFolders(std::string& strError)
{
    if (!m_strRoot.empty())
        return 0;
    std::string strTemplate = m_strBase + "/corvane-bench.XXXXXX";
    if (mkdtemp(strTemplate.data()) == nullptr) {
        strError = "mkdtemp in " + m_strBase + ": " + strerror(errno);
        return -1;
    }
    m_strRoot = strTemplate;
    // The starter's layout: cfg/ and run/ become XDG_CONFIG_HOME and XDG_RUNTIME_DIR
    // (and state/ XDG_STATE_HOME, which the daemon makes).
    std::error_code ec;
    for (const char* pszSub : {"/cfg", "/run", "/share"})
        std::filesystem::create_directory(m_strRoot + pszSub, ec);
    chmod((m_strRoot + "/run").c_str(), 0700);
    return 0;
}

int CBenchDaemon::Start(const std::string& strBinary, bool bTrace, std::string& strError)
{
    if (MakeFolders(strError) != 0)
        return -1;
    // Every connection of a benchmark comes from 127.0.0.1, one host to the daemon (a
    // thousand idle sessions, say): the session caps are lifted so that they never turn
    // one away, unless SetSessionCaps asked for others.
    std::vector<std::string> args = {"--headless",    "--share",          ShareDir(),
                                     "--max-sessions", m_strMaxSessions, "--max-sessions-per-host",
                                     m_strMaxPerHost};
    if (!bTrace)
        args.push_back("--quiet");
    if (m_bWideLinks)
        args.push_back("--wide-links");
    const uint16_t usStatusPort = FreeLoopbackPort();
    args.insert(args.end(), {"--status-listen", "127.0.0.1:" + std::to_string(usStatusPort)});
    if (!m_strWrapper.empty())
        args.insert(args.begin(), strBinary);
    if (Launch(m_strWrapper.empty() ? strBinary : m_strWrapper, args, bTrace, strError) != 0)
        return -1;
    m_usStatusPort = usStatusPort;
    if (s_bPollPages)
        m_pPoller = std::make_unique<CPagePoller>(usStatusPort);
    return 0;
}

int CBenchDaemon::StartFloor(const std::string& strBinary, std::string& strError)
{
    if (MakeFolders(strError) != 0)
        return -1;
    m_usStatusPort = 0;
    return Launch(strBinary, {"--dir", ShareDir()}, false, strError);
}

int CBenchDaemon::Launch(const std::string& strBinary, const std::vector<std::string>& args, bool bTrace,
                         std::string& strError)
{
    Reap();
    m_pProc = std::make_unique<CDaemonProcess>(m_strRoot, "daemon", strBinary);
    if (bTrace)
        m_pProc->SetOutputPipe();
    if (m_pProc->StartListening(args) == 0) {
        strError = m_pProc->Error();
        const std::string strErr = m_pProc->Err();
        if (!strErr.empty())
            strError += "; its standard error: " + strErr;
        m_pProc.reset();
        return -1;
    }
    if (bTrace) {
        m_fdTrace = m_pProc->TakeOutputPipe();
        m_ullTraceBytes = 0;
        m_Drain = std::thread([this] {
            char buf[65536];
            for (;;) {
                ssize_t n = read(m_fdTrace, buf, sizeof(buf));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break;
                m_ullTraceBytes += static_cast<uint64_t>(n);
            }
        });
    }
    // Listening is not yet serving: the first connection must be answered.
    CStbConn conn(0);
    if (!ConnectLoopback(conn, Port()) || !VerRoundTrip(conn)) {
        strError = "the program listened but did not answer FC_VER_REQ: " + conn.Error();
        Reap();
        return -1;
    }
    return 0;
}

int CBenchDaemon::Stop(int nTimeoutMs, double* pSeconds)
{
    if (!m_pProc || !m_pProc->Running())
        return -1;
    const auto t0 = std::chrono::steady_clock::now();
    const int nResult = m_pProc->Stop(nTimeoutMs);
    if (pSeconds != nullptr)
        *pSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    Reap();
    return nResult;
}
