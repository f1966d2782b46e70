// The parts of the suites' shared fixtures that need no system call of their own, for the
// Linux and the Windows build alike (test_util.cpp and win32_test.cpp hold the rest).
#include "tests/test_util.h"
#include "tests/test_files.h"

#include "net/memsess.h"
#include "platform/memory.h"
#include "platform/socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r");
    size_t e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

}  // namespace

int RemainingMs(Clock::time_point deadline)
{
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return ms < 0 ? 0 : static_cast<int>(ms);
}

void CTempShare::WriteFile(const std::string& rel, const std::string& bytes) const
{
    const fs::path path = LocalFsPath(Path(rel));
    fs::create_directories(path.parent_path());
    WriteLocalFile(LocalFsString(path), bytes);
}

std::string CTempShare::ReadFile(const std::string& rel) const { return ReadLocalFile(Path(rel)); }

std::string ReadLocalFile(const std::string& strPath)
{
    std::ifstream in(LocalFsPath(strPath), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteLocalFile(const std::string& strPath, const std::string& bytes)
{
    std::ofstream out(LocalFsPath(strPath), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good()) << "cannot write " << strPath;
}

std::string IniValue(const std::string& strFile, const std::string& section, const std::string& key)
{
    std::istringstream in(ReadLocalFile(strFile));
    std::string line, current;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (!line.empty() && line[0] == '[' && line.back() == ']') {
            current = line.substr(1, line.size() - 2);
        } else if (current == section) {
            size_t eq = line.find('=');
            if (eq != std::string::npos && Trim(line.substr(0, eq)) == key)
                return Trim(line.substr(eq + 1));
        }
    }
    return "\x01missing";
}

std::string MakeFrame(uint8_t cmd, const std::string& payload)
{
    size_t nLen = payload.size() + 2;
    EXPECT_LE(nLen, 0xFFFFu) << "payload too long for one frame";
    unsigned sum = 0x3E + cmd;
    for (unsigned char c : payload)
        sum += c;
    std::string frame;
    frame += '\xA5';
    frame += static_cast<char>(nLen & 0xFF);
    frame += static_cast<char>((nLen >> 8) & 0xFF);
    frame += static_cast<char>(cmd);
    frame += payload;
    frame += static_cast<char>(sum & 0xFF);
    return frame;
}

CTestServer::~CTestServer() { m_Man.Destroy(); }

CSessMan& CTestServer::Man()
{
    ListenPort();
    return m_Man;
}

int CTestServer::SessionCount()
{
    ListenPort();
    int n = 0;
    for (const CSess* p = m_Man.m_pHead; p != nullptr; p = p->m_pNext)
        ++n;
    return n;
}

CTestClient::CTestClient(uint16_t port) : CTestClient(port, nullptr) {}

void CTestClient::SendRaw(const std::string& bytes) { EXPECT_TRUE(TrySend(bytes)) << "send failed"; }

bool CTestClient::RecvFrame(uint8_t& cmd, std::string& payload, int timeoutMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string head = RecvBytes(3, timeoutMs);
    if (head.size() < 3)
        return false;
    EXPECT_EQ(static_cast<uint8_t>(head[0]), 0xA5) << "frame does not start with the sync byte";
    size_t nLen = static_cast<uint8_t>(head[1]) | (static_cast<uint8_t>(head[2]) << 8);
    EXPECT_GE(nLen, 2u) << "LEN below 2";
    if (static_cast<uint8_t>(head[0]) != 0xA5 || nLen < 2)
        return false;
    std::string body = RecvBytes(nLen, RemainingMs(deadline));
    if (body.size() < nLen)
        return false;
    unsigned sum = 0x3E;
    for (size_t i = 0; i + 1 < nLen; ++i)
        sum += static_cast<uint8_t>(body[i]);
    EXPECT_EQ(sum & 0xFF, static_cast<uint8_t>(body.back())) << "bad checksum";
    if ((sum & 0xFF) != static_cast<uint8_t>(body.back()))
        return false;
    cmd = static_cast<uint8_t>(body[0]);
    payload = body.substr(1, nLen - 2);
    return true;
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (pred())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return pred();
}

std::map<std::string, std::string> Tree(const std::string& root)
{
    std::map<std::string, std::string> tree;
    std::error_code ec;
    const fs::path base = LocalFsPath(root);
    for (auto it = fs::recursive_directory_iterator(base, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        // Relative by the text: fs::relative would resolve links, and name a link by its target.
        std::string rel = LocalFsString(it->path().lexically_relative(base));
        const fs::file_status st = it->symlink_status(ec);
        if (fs::is_symlink(st))
            tree[rel] = "-> " + LocalFsString(fs::read_symlink(it->path(), ec));
        else if (fs::is_directory(st))
            tree[rel] = "<dir>";
        else if (fs::is_regular_file(st))
            tree[rel] = ReadLocalFile(LocalFsString(it->path()));
        else
            tree[rel] = "<special>";
    }
    return tree;
}

CTestServer::CTestServer(int waitMs, int bodyMs)
    : CTestServer([=](CSessMan& man) {
          man.m_nWaitTimeoutMs = waitMs;
          man.m_nBodyTimeoutMs = bodyMs;
      })
{
}

CTestServer::CTestServer(const std::function<void(CSessMan&)>& setup)
{
    m_Man.m_usPort = 0;
    m_Man.m_nMaxSessions = kTestSessionCap;
    m_Man.m_nMaxSessionsPerHost = kTestSessionCap;
    setup(m_Man);
}

uint16_t CTestServer::ListenPort()
{
    if (m_Man.m_nState != 0)
        return m_usPort;  // started (or failed to) before
    // On this thread before any session thread exists: the first release sets up the C
    // library's allocator, and sessions that end side by side would otherwise race to set
    // it up (a failed assertion of the C library at thread exit in sanitizer builds, whose
    // allocator leaves the library's own unused until then).
    plat::ReleaseFreeMemory();
    EXPECT_EQ(m_Man.Create(), 0);
    int nPort = plat::SockLocalPort(m_Man.m_hServSock);
    EXPECT_GT(nPort, 0);
    m_usPort = static_cast<uint16_t>(nPort > 0 ? nPort : 0);
    return m_usPort;
}

std::unique_ptr<CMemSession> CTestServer::NewMemSession()
{
    auto pSession = std::make_unique<CMemSession>();
    m_Man.ApplyOptions(pSession->Sess());
    return pSession;
}

CServerPort::operator uint16_t() const { return m_Server.ListenPort(); }
