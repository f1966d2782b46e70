// What the corvane-stb suites share: the client run as a child process, a scripted
// stand-in for the daemon that answers with the frames a test gives it, and local trees
// and sparse files to move.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "tests/daemon_proc.h"
#include "tests/test_bytes.h"
#include "tests/test_files.h"
#include "tests/test_util.h"

namespace stbtest {

struct CRunResult {
    int nExit = -1;  // the exit status; -1 when the process did not end normally
    std::string strOut;
    std::string strErr;
};

// Runs corvane-stb with the arguments in strCwd, its output in files below strScratch (or
// its standard error on strErrPath, which is then not read back), and waits for it (killed
// after 3 minutes).
inline CRunResult RunStb(const std::vector<std::string>& args, const std::string& strCwd,
                         const std::string& strScratch, const std::string& strErrPath = "")
{
    static int s_nRun = 0;
    CDaemonProcess stb(strScratch, "stb-run-" + std::to_string(++s_nRun), CORVANE_STB_BIN);
    CRunResult result;
    if (!stb.Start(args, strCwd, strErrPath)) {
        ADD_FAILURE() << stb.Error();
        return result;
    }
    if (!stb.Exited(180000))
        ADD_FAILURE() << "corvane-stb did not end";
    result.nExit = std::max(stb.ExitCode(), -1);
    result.strOut = stb.Out();
    if (strErrPath.empty())
        result.strErr = stb.Err();
    return result;
}

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

    void Write(const std::string& strPath) const { MakeSparse(strPath, ullSize, marks); }
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
