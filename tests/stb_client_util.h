// What the corvane-stb suites share: the real daemon started on a free loopback port, the
// client run as a child process, and a scripted stand-in for the daemon that answers with
// the frames a test gives it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <mutex>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/socket.h"
#include "tests/test_util.h"

extern char** environ;

namespace stbtest {

struct CRunResult {
    int nExit = -1;  // the exit status; -1 when the process did not end normally
    std::string strOut;
    std::string strErr;
};

// Starts a program with standard input on /dev/null and the other two streams in the
// files, in strCwd when given. The environment is ours (the test's XDG folders included). -1 on failure.
inline pid_t Spawn(const std::vector<std::string>& args, const std::string& strOut, const std::string& strErr,
                   const std::string& strCwd = "")
{
    std::vector<std::string> copy(args);
    std::vector<char*> argv;
    for (std::string& str : copy)
        argv.push_back(str.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, strOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, strErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!strCwd.empty())
        posix_spawn_file_actions_addchdir_np(&actions, strCwd.c_str());
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0) << "cannot start " << args[0];
    return rc == 0 ? pid : -1;
}

// True once the child has ended within the time; its raw status goes to nStatus.
inline bool Reap(pid_t pid, int timeoutMs, int& nStatus)
{
    return WaitFor([&] { return waitpid(pid, &nStatus, WNOHANG) == pid; }, timeoutMs);
}

// Runs corvane-stb with the arguments in strCwd, its output in files below strScratch (or
// its standard error on strErrPath, which is then not read back), and waits for it (killed
// after 3 minutes).
inline CRunResult RunStb(const std::vector<std::string>& args, const std::string& strCwd,
                         const std::string& strScratch, const std::string& strErrPath = "")
{
    static int s_nRun = 0;
    const std::string strBase = strScratch + "/stb-run-" + std::to_string(++s_nRun);
    std::vector<std::string> argv{CORVANE_STB_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    CRunResult result;
    const std::string strErr = strErrPath.empty() ? strBase + ".err" : strErrPath;
    const pid_t pid = Spawn(argv, strBase + ".out", strErr, strCwd);
    int nStatus = 0;
    if (pid > 0 && !Reap(pid, 180000, nStatus)) {
        ADD_FAILURE() << "corvane-stb did not end";
        kill(pid, SIGKILL);
        Reap(pid, 5000, nStatus);
    }
    result.nExit = pid > 0 && WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    result.strOut = ReadLocalFile(strBase + ".out");
    if (strErrPath.empty())
        result.strErr = ReadLocalFile(strBase + ".err");
    return result;
}

// The real daemon serving share.Share() on a free loopback port, with diagnostic lines in
// a file (they tell which requests arrived). Stopped with SIGTERM by the destructor.
class CStbDaemon {
public:
    explicit CStbDaemon(const CTempShare& share, bool bWithShare = true) : m_strOut(share.Root() + "/daemon.out"), m_strErr(share.Root() + "/daemon.err")
    {
        // A port found free may be taken before the daemon binds it: try another.
        for (int nTry = 0; nTry < 5 && m_pid <= 0; ++nTry) {
            m_usPort = FreeLoopbackPort();
            std::vector<std::string> args{CORVANE_BIN, "--headless", "--port", std::to_string(m_usPort)};
            if (bWithShare)
                args.insert(args.end(), {"--share", share.Share()});
            m_pid = Spawn(args, m_strOut, m_strErr);
            if (m_pid > 0 && !WaitReady())
                Stop();
        }
    }
    ~CStbDaemon() { Stop(); }
    CStbDaemon(const CStbDaemon&) = delete;
    CStbDaemon& operator=(const CStbDaemon&) = delete;

    bool Running() const { return m_pid > 0; }
    uint16_t Port() const { return m_usPort; }
    std::string Out() const { return ReadLocalFile(m_strOut); }
    std::string Err() const { return ReadLocalFile(m_strErr); }
    // Ends the daemon with SIGTERM (SIGKILL when it will not end).
    void Stop()
    {
        if (m_pid <= 0)
            return;
        int nStatus = 0;
        kill(m_pid, SIGTERM);
        if (!Reap(m_pid, 10000, nStatus)) {
            kill(m_pid, SIGKILL);
            Reap(m_pid, 5000, nStatus);
        }
        m_pid = -1;
    }

private:
    bool WaitReady()
    {
        int nStatus = 0;
        bool bEnded = false;
        const bool bReady = WaitFor(
            [&] {
                bEnded = bEnded || waitpid(m_pid, &nStatus, WNOHANG) == m_pid;
                return bEnded || CTestClient(m_usPort).Connected();
            },
            10000);
        if (bEnded)
            m_pid = -1;
        return bReady && !bEnded;
    }

    std::string m_strOut;
    std::string m_strErr;
    uint16_t m_usPort = 0;
    pid_t m_pid = -1;
};

// A stand-in for the daemon on a loopback port: takes one connection and answers the
// i-th frame received with the i-th reply (raw bytes, sent as given), then closes the
// connection. The frames received are kept as command byte and payload.
class CFakeDaemon {
public:
    explicit CFakeDaemon(std::vector<std::string> replies) : m_Replies(std::move(replies))
    {
        m_hListen = plat::SockCreateTcp();
        EXPECT_EQ(plat::SockBindLoopback(m_hListen, 0), 0);
        EXPECT_EQ(plat::SockListen(m_hListen, 4), 0);
        m_usPort = static_cast<uint16_t>(plat::SockLocalPort(m_hListen));
        m_Thread = std::thread([this] { Serve(); });
    }
    ~CFakeDaemon()
    {
        plat::SockShutdown(m_hListen);  // an accept still waiting returns at once
        m_Thread.join();
        plat::SockClose(m_hListen);
    }
    CFakeDaemon(const CFakeDaemon&) = delete;
    CFakeDaemon& operator=(const CFakeDaemon&) = delete;

    uint16_t Port() const { return m_usPort; }
    std::vector<std::pair<uint8_t, std::string>> Requests()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Requests;
    }

private:
    static bool RecvAll(plat::Socket s, uint8_t* p, size_t n)
    {
        while (n > 0) {
            const int nGot = plat::SockRecv(s, p, static_cast<int>(n));
            if (nGot <= 0)
                return false;
            p += nGot;
            n -= static_cast<size_t>(nGot);
        }
        return true;
    }
    void Serve()
    {
        plat::AcceptError eError;
        plat::Socket s = plat::SockAccept(m_hListen, &eError);
        if (s == plat::INVALID_SOCKET)
            return;
        plat::SockSetRecvTimeout(s, 30000);
        for (const std::string& strReply : m_Replies) {
            uint8_t head[3];
            std::vector<uint8_t> body;
            if (!RecvAll(s, head, 3))
                break;
            body.resize(static_cast<size_t>(head[1] | (head[2] << 8)));
            if (body.size() < 2 || !RecvAll(s, body.data(), body.size()))
                break;
            {
                std::lock_guard<std::mutex> lock(m_Mutex);
                m_Requests.emplace_back(body[0], std::string(body.begin() + 1, body.end() - 1));
            }
            if (plat::SockSendAll(s, strReply.data(), strReply.size()) != 0)
                break;
        }
        plat::SockClose(s);
    }

    std::vector<std::string> m_Replies;
    plat::Socket m_hListen = plat::INVALID_SOCKET;
    uint16_t m_usPort = 0;
    std::thread m_Thread;
    std::mutex m_Mutex;
    std::vector<std::pair<uint8_t, std::string>> m_Requests;
};

// A local tree as relative path -> contents ("<dir>" for a folder).
inline std::map<std::string, std::string> Snapshot(const std::string& strRoot)
{
    std::map<std::string, std::string> tree;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(strRoot, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const std::string strRel = std::filesystem::relative(it->path(), strRoot, ec).string();
        tree[strRel] = it->is_directory() ? std::string("<dir>") : ReadLocalFile(it->path().string());
    }
    return tree;
}

// Little-endian bytes of a number, for scripted frames.
inline std::string LE(uint64_t ullValue, int nWidth)
{
    std::string str;
    for (int i = 0; i < nWidth; ++i)
        str += static_cast<char>((ullValue >> (8 * i)) & 0xFF);
    return str;
}

// Bytes that differ from one position to the next, so that a misplaced block shows.
inline std::string Pattern(size_t nSize, unsigned uSeed = 1)
{
    std::string str(nSize, '\0');
    uint32_t x = uSeed * 2654435761u + 1;
    for (size_t i = 0; i < nSize; ++i) {
        x = x * 1103515245u + 12345u;
        str[i] = static_cast<char>(x >> 16);
    }
    return str;
}

// A sparse file of the size with the marks written at their offsets, and what any range
// of it holds.
struct CSparse {
    uint64_t ullSize;
    std::vector<std::pair<uint64_t, std::string>> marks;

    void Write(const std::string& strPath) const
    {
        const int fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(ullSize)), 0);
        for (const auto& [ullAt, bytes] : marks)
            ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(ullAt)),
                      static_cast<ssize_t>(bytes.size()));
        close(fd);
    }
    std::string Range(uint64_t ullAt, uint64_t ullCount) const
    {
        ullCount = std::min(ullCount, ullSize - ullAt);
        std::string str(ullCount, '\0');
        for (const auto& [ullMark, bytes] : marks)
            for (size_t i = 0; i < bytes.size(); ++i)
                if (ullMark + i >= ullAt && ullMark + i < ullAt + ullCount)
                    str[ullMark + i - ullAt] = bytes[i];
        return str;
    }
};

// A nested tree with an empty file and an empty folder.
inline void MakeTree(const std::string& strRoot)
{
    std::filesystem::create_directories(strRoot + "/emptydir");
    std::filesystem::create_directories(strRoot + "/sub/deep");
    WriteLocalFile(strRoot + "/a.txt", "alpha");
    WriteLocalFile(strRoot + "/empty.txt", "");
    WriteLocalFile(strRoot + "/sub/deep/b.bin", Pattern(100000, 2));
    WriteLocalFile(strRoot + "/sub/c", Pattern(70000, 3));  // more than one upload block
}

}  // namespace stbtest
