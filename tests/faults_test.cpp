// Faults met in the field: connections cut at any frame boundary of an upload or left dead
// while the STB retries, a volume that fills up, a burst of connections dropped at random
// moments and a process out of descriptors (through an in-process listener on loopback), and
// the daemon's program file replaced while it runs. A session thread that cannot be created
// is covered by SessMan.FailedSessionThreadClosesOnlyThatConnection.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include "tests/daemon_proc.h"
#include "tests/test_bytes.h"
#include "tests/test_files.h"
#include "tests/test_session.h"
#include "tests/test_util.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kSmallestDirect = 10485761;  // one byte more than is collected in memory
constexpr uint8_t kFolderType = 0x44;
constexpr uint8_t kFileType = 0x46;

int OpenDescriptors()
{
    return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

int ThreadCount()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("Threads:", 0) == 0)
            return std::stoi(line.substr(8));
    return -1;
}

class Faults : public ::testing::Test {
protected:
    CTempShare share;
    CTestServer server;
    unsigned connections = 0;  // connections this test has made to the server

    std::unique_ptr<CStbSession> Connect()
    {
        ++connections;
        return std::make_unique<CStbSession>(server.ListenPort());  // over TCP: the faults are the connection's
    }

    // True once the accept thread has taken every connection and every session has ended.
    // The list is read while the accept thread waits, so no connection may come meanwhile.
    bool SessionsEnded(int timeoutMs = 10000)
    {
        if (!server.WaitIdle(connections, timeoutMs))
            return false;
        return WaitFor(
            [&] {
                for (const CSess* p = server.Man().m_pHead; p != nullptr; p = p->m_pNext)
                    if (p->m_nState != -1 || p->m_hThread.load() != nullptr)
                        return false;
                return true;
            },
            timeoutMs);
    }

    struct Step {
        std::string what;
        std::function<void(CStbSession&)> run;  // one request and its checked reply (or several)
        bool fileThere;                  // the file exists once the step is answered
        bool complete;                   // its last block has been answered
    };

    // For each step, a new connection runs the steps up to it and is cut right after its
    // reply. The session notices on its next receive; the file must then be gone, unless
    // its last block came before the cut: then it stays, whole. afterCut(i) checks the
    // rest of the shared folder.
    void CutAfterEveryStep(const std::vector<Step>& steps, const std::string& rel, const std::string& bytes,
                           const std::function<void(size_t)>& afterCut = nullptr)
    {
        const std::string path = share.Path(rel);
        const std::string top = share.Path(rel.substr(0, rel.find('/')));
        for (size_t cut = 0; cut < steps.size(); ++cut) {
            SCOPED_TRACE("cut after " + steps[cut].what);
            {
                auto stb = Connect();
                ASSERT_TRUE(stb->Connected());
                for (size_t i = 0; i <= cut; ++i)
                    steps[i].run(*stb);
                ASSERT_EQ(Exists(path), steps[cut].fileThere) << "before the cut";
            }
            if (steps[cut].complete) {
                ASSERT_TRUE(SessionsEnded());
                EXPECT_TRUE(SameBytes(ReadLocalFile(path), bytes)) << "the finished file did not stay whole";
            } else {
                EXPECT_TRUE(WaitFor([&] { return !Exists(path); })) << "the cut-off upload left its file";
                ASSERT_TRUE(SessionsEnded());
            }
            if (afterCut)
                afterCut(cut);
            fs::remove_all(top);
        }
    }

    // nSteps steps that send the bytes in blocks, each taken whole; the last one sends every
    // block left. The file is complete once the bytes sent reach its size.
    static void AddBlocks(std::vector<Step>& steps, bool bDir, const std::string& bytes, size_t block, size_t nSteps,
                          uint64_t size)
    {
        for (size_t k = 0; k < nSteps; ++k) {
            const size_t from = k * block, to = k + 1 == nSteps ? bytes.size() : from + block;
            const auto send = [=, &bytes](CStbSession& stb) {
                for (size_t at = from; at < to; at += block) {
                    const std::string b = bytes.substr(at, std::min(block, to - at));
                    const uint32_t off = static_cast<uint32_t>(at);
                    const uint64_t taken = bDir ? stb.DirUpBlock(off, b) : stb.UploadBlock(14, off, b);
                    ASSERT_EQ(taken, b.size()) << "block at " << at;
                }
            };
            steps.push_back({"the block at " + std::to_string(from) + (to - from > block ? " and the rest" : ""), send,
                             true, to == size});
        }
    }
};

// ---- Connections cut at every frame boundary ----

TEST_F(Faults, CutDuringAnUploadLeavesNoPartialFile)
{
    struct Case {
        const char* what;
        uint32_t size;
        size_t sent, block, nBlockSteps;
    } cases[] = {{"buffered", 30000, 30000, 10000, 3}, {"direct", kSmallestDirect, 130000, 65000, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string bytes = RandomBytes(c.sent, c.size);
        const auto open = [&](CStbSession& stb) { EXPECT_EQ(stb.UploadOpen(13, c.size, "/up.ts"), 0); };
        std::vector<Step> steps{{"the open", open, true, false}};
        AddBlocks(steps, false, bytes, c.block, c.nBlockSteps, c.size);
        CutAfterEveryStep(steps, "up.ts", bytes);
    }
}

// The folder made by an entry stays; the file of the entry goes unless it was finished.
TEST_F(Faults, CutDuringADirectoryUploadLeavesNoPartialFile)
{
    struct Case {
        const char* what;
        uint32_t size;
        size_t block;
    } cases[] = {{"buffered", 150000, 50000}, {"direct", kSmallestDirect, 60000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string bytes = RandomBytes(c.size, c.size);
        std::vector<Step> steps{
            {"0xE4", [](CStbSession& stb) { EXPECT_EQ(stb.BeginDirUp("/", 20000000, 2), 0); }, false, false},
            {"the folder entry",
             [](CStbSession& stb) { EXPECT_EQ(stb.DirUpEntry(kFolderType, 0, "Cut"), std::make_pair(0, 0u)); }, false,
             false},
            {"the file entry",
             [&](CStbSession& stb) {
                 EXPECT_EQ(stb.DirUpEntry(kFileType, c.size, "Cut/x.ts"), std::make_pair(0, c.size));
             },
             true, false}};
        AddBlocks(steps, true, bytes, c.block, 3, c.size);
        CutAfterEveryStep(steps, "Cut/x.ts", bytes, [&](size_t cut) {
            if (cut == 0)
                EXPECT_TRUE(fs::is_empty(share.Share()));
            else
                EXPECT_TRUE(fs::is_directory(share.Path("Cut"))) << "the folder of a finished entry was taken away";
        });
    }
}

// A connection that died without a word leaves its session waiting, while the STB uploads
// the same file again on a new connection. When the old session ends at last, it must not
// take away the file the retry has finished since.
TEST_F(Faults, StaleSessionEndingLeavesTheRetriedUploadAlone)
{
    const std::string bytes = RandomBytes(30000, 6);
    auto stale = Connect();
    ASSERT_EQ(stale->UploadOpen(13, 30000, "/retry.bin"), 0);
    ASSERT_EQ(stale->UploadBlock(14, 0, bytes.substr(0, 10000)), 10000u);
    auto retry = Connect();
    const int status = retry->UploadOpen(13, 30000, "/retry.bin");
    if (status == 0) {  // the retry takes the file over...
        for (uint32_t off = 0; off < 30000; off += 10000)
            ASSERT_EQ(retry->UploadBlock(14, off, bytes.substr(off, 10000)), 10000u);
        retry.reset();
        ASSERT_TRUE(SameBytes(share.ReadFile("retry.bin"), bytes));
        stale.reset();
        ASSERT_TRUE(SessionsEnded());
        EXPECT_TRUE(SameBytes(share.ReadFile("retry.bin"), bytes)) << "the old session took the finished retry away";
    } else {  // ...or is refused while the old session holds it
        EXPECT_EQ(status, 1);
        stale.reset();
        EXPECT_TRUE(WaitFor([&] { return !Exists(share.Path("retry.bin")); }));
    }
}

// ---- A volume that fills up ----

// The block that cannot be written is answered with 0 taken; the last block is taken but
// completes nothing, and the file is gone once the next entry begins or the connection
// has ended.
TEST_F(Faults, VolumeFullDuringADirectoryUploadLeavesNoFile)
{
    constexpr uint32_t kBlock = 60000;
    FileSizeLimit limit;
    for (bool bLastBlockComes : {true, false}) {
        SCOPED_TRACE(bLastBlockComes ? "the last block comes" : "the connection ends");
        const std::string name = bLastBlockComes ? "full1.ts" : "full2.ts";
        auto stb = Connect();
        ASSERT_EQ(stb->BeginDirUp("/", 20000000, 2), 0);
        ASSERT_EQ(stb->DirUpEntry(kFileType, kSmallestDirect, name), std::make_pair(0, kSmallestDirect));
        EXPECT_EQ(stb->DirUpBlock(0, RandomBytes(kBlock, 1)), kBlock);
        limit.Lower(kBlock);  // nothing at or past the end of the first block fits any more
        EXPECT_EQ(stb->DirUpBlock(kBlock, RandomBytes(kBlock, 2)), 0u) << "a block that was not written was taken";
        limit.Lift();
        if (bLastBlockComes) {
            EXPECT_EQ(stb->DirUpBlock(kSmallestDirect - 1000, RandomBytes(1000, 3)), 1000u);
            // The transaction goes on with the next entry, which gives the incomplete one up.
            const std::string after = RandomBytes(5000, 4);
            ASSERT_EQ(stb->DirUpEntry(kFileType, 5000, "after.bin"), std::make_pair(0, 5000u));
            EXPECT_FALSE(Exists(share.Path(name))) << "the file that lost a block stayed";
            EXPECT_EQ(stb->DirUpBlock(0, after), 5000u);
            EXPECT_TRUE(SameBytes(share.ReadFile("after.bin"), after));
        } else {
            stb.reset();
            EXPECT_TRUE(WaitFor([&] { return !Exists(share.Path(name)); })) << "the file that lost a block stayed";
        }
    }
}

// ---- Many connections dropped at random moments ----

TEST_F(Faults, ThousandConnectionsDroppedAtRandomLeakNothing)
{
    const std::string seed = RandomBytes(300000, 5);
    share.WriteFile("seed.bin", seed);
    ASSERT_TRUE(server.WaitIdle(0));
    const int nFds = OpenDescriptors(), nThreads = ThreadCount();
    std::mt19937 gen(2008);
    std::vector<std::unique_ptr<CStbSession>> open;
    for (int i = 0; i < 1000; ++i) {
        SCOPED_TRACE(i);
        auto stb = Connect();
        ASSERT_TRUE(stb->Connected());
        CStbSession& c = *stb;
        const std::string name = "/churn" + std::to_string(i) + ".bin";
        switch (gen() % 6) {
        case 0:  // right after connecting
            break;
        case 1: {  // in the middle of a frame, possibly of its sync byte and LEN
            const std::string frame = MakeFrame(14, LE(0, 4) + RandomBytes(1 + gen() % 3000, i));
            c.SendRaw(frame.substr(0, 1 + gen() % (frame.size() - 1)));
            break;
        }
        case 2:  // after a whole request and its reply
            ASSERT_TRUE(stb->Version());
            break;
        case 3:  // after a request whose reply is never read
            c.SendFrame(7, std::string("\x01/\0", 3));
            break;
        case 4:  // in the middle of an upload, possibly with a block unanswered
            ASSERT_EQ(stb->UploadOpen(13, 100000, name), 0);
            ASSERT_EQ(stb->UploadBlock(14, 0, RandomBytes(20000, i)), 20000u);
            if (gen() % 2)
                c.SendFrame(14, LE(20000, 4) + RandomBytes(20000, i + 1));
            break;
        default:  // in the middle of a directory upload or of a download stream
            if (gen() % 2) {
                ASSERT_EQ(stb->BeginDirUp("/", 100000, 1), 0);
                ASSERT_EQ(stb->DirUpEntry(kFileType, 50000, name), std::make_pair(0, 50000u));
                ASSERT_EQ(stb->DirUpBlock(0, RandomBytes(10000, i)), 10000u);
            } else {
                ASSERT_EQ(stb->Ask(2, std::string("\x01/seed.bin\0", 11), 0xF2), std::string(1, '\0') + LE(300000, 4));
                c.SendFrame(0x23, LE(0, 4) + LE(300000, 4));
                ASSERT_EQ(c.RecvBytes(100).size(), 100u);
            }
            break;
        }
        // Half of them go at once, the others at a random later moment; at most 50 stay open.
        if (gen() % 2 == 0)
            continue;
        open.push_back(std::move(stb));
        if (open.size() > 50)
            open.erase(open.begin() + static_cast<long>(gen() % open.size()));
    }
    open.clear();

    EXPECT_TRUE(Connect()->Version()) << "the daemon stopped answering";
    ASSERT_TRUE(SessionsEnded());
    Connect();  // its accept frees the ended sessions
    ASSERT_TRUE(SessionsEnded());
    EXPECT_LE(server.SessionCount(), 1);
    EXPECT_TRUE(WaitFor([&] { return OpenDescriptors() <= nFds + 1 && ThreadCount() <= nThreads + 1; }, 10000))
        << "descriptors " << nFds << " -> " << OpenDescriptors() << ", threads " << nThreads << " -> "
        << ThreadCount();
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(share.Share()))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"seed.bin"}) << "cut-off uploads left files";
}

// ---- Out of descriptors ----

// Lowers the soft descriptor limit to just above the highest open descriptor and takes
// every free number below it, so that the next descriptor asked for fails with EMFILE.
// Undone at the end of the scope.
class DescriptorsExhausted {
public:
    explicit DescriptorsExhausted(int nDupOf)
    {
        EXPECT_EQ(getrlimit(RLIMIT_NOFILE, &m_Old), 0);
        int nHighest = 0;
        for (const auto& e : fs::directory_iterator("/proc/self/fd"))
            nHighest = std::max(nHighest, std::stoi(e.path().filename().string()));
        const rlimit r{static_cast<rlim_t>(nHighest + 1), m_Old.rlim_max};
        EXPECT_EQ(setrlimit(RLIMIT_NOFILE, &r), 0);
        for (int fd; (fd = dup(nDupOf)) >= 0;)
            m_Fillers.push_back(fd);
        EXPECT_EQ(errno, EMFILE);
    }
    ~DescriptorsExhausted()
    {
        for (int fd : m_Fillers)
            close(fd);
        setrlimit(RLIMIT_NOFILE, &m_Old);
    }

private:
    rlimit m_Old{};
    std::vector<int> m_Fillers;
};

// The first number of a /proc syscall line, re-read through an open descriptor.
long SyscallOf(int fd)
{
    char buf[256];
    const ssize_t n = pread(fd, buf, sizeof(buf) - 1, 0);
    if (n <= 0)
        return -2;
    buf[n] = '\0';
    return strtol(buf, nullptr, 10);
}

// Connections that arrive while the process is out of descriptors wait in the backlog: the
// accept fails, the accept thread pauses and tries again, and takes them once descriptors
// are free again.
TEST_F(Faults, AcceptOutOfDescriptorsRetriesAndRecovers)
{
    ASSERT_TRUE(server.WaitIdle(0));
    // The accept thread is the one blocked in accept on the listener.
    std::string strSyscall;
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        std::istringstream line(ReadLocalFile(task.path().string() + "/syscall"));
        long nCall = -1;
        std::string strFd;
        line >> nCall >> strFd;
        if ((nCall == SYS_accept4 || nCall == SYS_accept) && std::stol(strFd, nullptr, 16) == server.Man().m_hServSock)
            strSyscall = task.path().string() + "/syscall";
    }
    ASSERT_FALSE(strSyscall.empty()) << "no thread waits in accept";
    // Everything the test needs while descriptors are out is opened now: the accept
    // thread's syscall line and the sockets of the connections.
    const int fdSyscall = open(strSyscall.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fdSyscall, 0);
    constexpr int kPending = 3;  // the backlog of 5 holds them
    int socks[kPending];
    for (int& s : socks)
        ASSERT_GE(s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(server.Port());
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    {
        DescriptorsExhausted exhausted(fdSyscall);
        for (int s : socks) {
            ASSERT_EQ(connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)), 0) << strerror(errno);
            ASSERT_EQ(send(s, kVerReq.data(), kVerReq.size(), MSG_NOSIGNAL), static_cast<ssize_t>(kVerReq.size()));
        }
        // Between connections the accept thread is only ever in accept: a pause means one failed.
        EXPECT_TRUE(WaitFor([&] {
            const long n = SyscallOf(fdSyscall);
            return n == SYS_nanosleep || n == SYS_clock_nanosleep;
        })) << "the accept thread never paused";
        // A thread already blocked in accept holds the number of the descriptor it will
        // return, so the first connection may still be taken; the others have to wait.
        EXPECT_LE(server.Man().m_nAccepted.load(), 1u) << "connections were taken without descriptors";
    }
    connections += kPending;
    EXPECT_TRUE(WaitFor([&] { return server.Man().m_nAccepted.load() == kPending; }))
        << "the waiting connections were not taken once descriptors were free";
    for (int s : socks) {
        std::string got;
        char buf[16];
        pollfd pfd{s, POLLIN, 0};
        while (got.size() < kVerReply.size() && poll(&pfd, 1, 5000) == 1) {
            const ssize_t n = recv(s, buf, sizeof(buf), 0);
            if (n <= 0)
                break;
            got.append(buf, static_cast<size_t>(n));
        }
        EXPECT_EQ(got, kVerReply) << "a connection from the backlog was not served";
        close(s);
    }
    EXPECT_TRUE(Connect()->Version()) << "a new connection was not served";
    close(fdSyscall);
}

// ---- The program file replaced while the daemon runs ----

// An upgrade renames a new program file over the running one. The daemon must go on reading
// its settings under its own name, and so go on serving its folder.
TEST(FaultsDaemon, ProgramReplacedWhileRunningKeepsServingTheFolder)
{
    CTempShare share;  // the daemon runs with the settings and runtime folders beside the share
    share.WriteFile("a.txt", "hello");
    const std::string exe = share.Root() + "/corvane";
    fs::copy_file(CORVANE_BIN, exe);
    CDaemonProcess daemon(share.Root(), "daemon", exe);
    const uint16_t port = daemon.StartListening({"--headless", "--quiet", "--share", share.Share()});
    ASSERT_NE(port, 0) << "the daemon did not start: " << daemon.Error() << "\n" << daemon.Err();
    const auto sizeOfA = [&] {
        CStbSession c(port);
        return c.Ask(0x10, std::string("\x01/a.txt\0", 8), 0xE0);
    };
    const std::string sizeReply = std::string(1, '\0') + LE(5, 4);
    EXPECT_EQ(sizeOfA(), sizeReply);
    fs::copy_file(exe, exe + ".new");
    fs::rename(exe + ".new", exe);
    EXPECT_EQ(sizeOfA(), sizeReply) << "the daemon lost its shared folder when its program file was replaced";
    EXPECT_EQ(daemon.Stop(5000), 0) << "SIGTERM did not end the daemon with status 0";
}

}  // namespace
