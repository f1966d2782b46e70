// Copies and moves that lose nothing: a crash in the middle of a copy leaves the old
// destination whole, the STB hears status 0 only once the copy (or the move) is on the
// disk, and the files that other sessions hold are treated as share modes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>
#ifndef _WIN32
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "net/sess.h"
#include "platform/flush.h"
#include "platform/shellop.h"
#include "tests/copymove_fixture.h"
#include "tests/daemon_proc.h"
#include "tests/test_bytes.h"

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kSmallestDirect = 10485761;  // a download of this size holds its file open
#ifdef _WIN32
constexpr bool kFoldersFlushed = false;
#else
constexpr bool kFoldersFlushed = true;
#endif

// The tree with each long file told by its length and a hash of its bytes, so that a
// difference between two trees that hold recordings reads in a few lines.
TreeMap Summary(const TreeMap& tree)
{
    TreeMap out;
    for (const auto& [rel, content] : tree)
        out[rel] = content.size() <= 64 ? content
                                        : std::to_string(content.size()) + " bytes, hash " +
                                              std::to_string(std::hash<std::string>{}(content));
    return out;
}

// A file held by another STB's session, as a direct download or an upload holds it.
enum class Hold { Download, Upload };

// The openings of other sessions are share modes: a file a download holds may be copied,
// not moved nor copied or moved over; a file an upload holds may be neither copied,
// moved nor replaced; nor may a folder be moved that holds either. A refused operation
// answers 1 and changes nothing.
TEST_F(CopyMove, OpeningsOfOtherSessionsActAsShareModes)
{
    struct Case {
        const char* what;
        Hold hold;
        const char* held;
        uint8_t req;
        const char *src, *dst;
        int outcome;
    } cases[] = {
        {"a download's file copied", Hold::Download, "held.ts", kCopy, "/held.ts", "/copy.ts", 0},
        {"a download's file moved", Hold::Download, "held.ts", kMove, "/held.ts", "/moved.ts", 1},
        {"a file copied over a download's", Hold::Download, "held.ts", kCopy, "/a.ts", "/held.ts", 1},
        {"a file moved over a download's", Hold::Download, "held.ts", kMove, "/a.ts", "/held.ts", 1},
        {"an upload's file copied", Hold::Upload, "held.ts", kCopy, "/held.ts", "/copy.ts", 1},
        {"an upload's file moved", Hold::Upload, "held.ts", kMove, "/held.ts", "/moved.ts", 1},
        {"a file copied over an upload's", Hold::Upload, "held.ts", kCopy, "/a.ts", "/held.ts", 1},
        {"a folder moved with a download's file", Hold::Download, "movies/sub/held.ts", kMove, "/movies", "/archive", 1},
        {"a folder moved with an upload's file", Hold::Upload, "movies/sub/held.ts", kMove, "/movies", "/archive", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string held = share.Path(c.held);
        {
            CStbSession holder(server.Port());
            if (c.hold == Hold::Download) {
                MakeSparse(held, kSmallestDirect, {{0, "a recording"}});
                const CReply open = holder.Exchange(0x02, PathPayload(std::string("/") + c.held));
                ASSERT_TRUE(open.first == 0xF2 && !open.second.empty() && open.second[0] == 0) << "download open";
            } else {
                ASSERT_EQ(holder.UploadOpen(13, 5000, std::string("/") + c.held), 0);
                ASSERT_EQ(holder.UploadBlock(14, 0, RandomBytes(1000, 5)), 1000u);
            }
            NewSession();
            const TreeMap before = Summary(Tree(share.Share()));
            EXPECT_EQ(Run(c.req, c.src, c.dst), c.outcome);
            const std::string from = std::string(c.src).substr(1), to = std::string(c.dst).substr(1);
            EXPECT_EQ(Summary(Tree(share.Share())), c.outcome == 0 ? WithCopy(before, from, to, c.req == kCopy) : before);
        }
        // The holder's session has ended once the file is free again.
        EXPECT_TRUE(WaitFor([&] { return !Exists(held) || CHeldFile(held).Held(); }));
        std::error_code ec;
        for (const char* rel : {"copy.ts", "moved.ts", c.held})
            fs::remove(LocalFsPath(share.Path(rel)), ec);
    }
}

// What stood at a watched path, and what the session's operation said, at each flush the
// platform layer made while an operation ran.
class CFlushLog {
public:
    struct Event {
        plat::FlushKind eKind;
        int nStatus;      // the session's operation status at that moment
        int64_t llLength; // the length of the file at the watched path; -1: nothing there
    };

    CFlushLog(const CSess& sess, std::string strWatched) : m_sess(sess), m_strWatched(std::move(strWatched))
    {
        plat::SetFlushObserver(&CFlushLog::Observe, this);
    }
    ~CFlushLog() { plat::SetFlushObserver(nullptr, nullptr); }
    CFlushLog(const CFlushLog&) = delete;
    CFlushLog& operator=(const CFlushLog&) = delete;

    std::vector<Event> Events()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    // True when a flush of that kind came with the watched path at that length.
    bool Saw(plat::FlushKind eKind, int64_t llLength)
    {
        for (const Event& e : Events())
            if (e.eKind == eKind && e.llLength == llLength)
                return true;
        return false;
    }

private:
    static void Observe(plat::FlushKind eKind, void* pContext)
    {
        CFlushLog& log = *static_cast<CFlushLog*>(pContext);
        const int64_t llLength = Exists(log.m_strWatched) ? LengthOf(log.m_strWatched) : -1;
        std::lock_guard<std::mutex> lock(log.m_mutex);
        log.m_events.push_back({eKind, log.m_sess.m_nOpStatus.load(), llLength});
    }

    const CSess& m_sess;
    std::string m_strWatched;
    std::mutex m_mutex;
    std::vector<Event> m_events;
};

// A copy or a move answers status 0 only once it is on the disk: a copied file's data is
// flushed while its name still leads to nothing or to the old file, the folder after the
// name leads to the copy; a move's folder is flushed after the rename; a move across
// volumes flushes its copy while the source is still there, and removes the source
// before it reports. No flush comes after the status has turned to 0.
TEST(CopySafety, StatusZeroComesOnlyOnceTheOperationIsOnTheDisk)
{
    using plat::FlushKind;
    CTempShare share;
    const std::string bytes = RandomBytes(3 << 20, 11);
    const int64_t n = static_cast<int64_t>(bytes.size());
    // A folder on another volume, reached through a link that wide links let a path follow.
    std::string other;
#ifndef _WIN32
    std::string strTemplate = "/dev/shm/corvane-test-XXXXXX";
    struct stat shareSt = {}, otherSt = {};
    if (mkdtemp(strTemplate.data()) != nullptr) {
        if (stat(share.Share().c_str(), &shareSt) == 0 && stat(strTemplate.c_str(), &otherSt) == 0 &&
            shareSt.st_dev != otherSt.st_dev && MakeLink(strTemplate, share.Path("other"), true).empty())
            other = strTemplate;
        else
            fs::remove_all(strTemplate);
    }
#endif
    struct Case {
        const char* what;
        uint8_t req;
        const char *src, *dst, *watched;
        const char* before;  // the watched file's content before; null: none
        bool bCrossesVolumes;
    } cases[] = {
        {"a copy onto a new name", kCopy, "/src.bin", "/new.bin", "new.bin", nullptr, false},
        {"a copy over a file", kCopy, "/src.bin", "/old.bin", "old.bin", "the old file", false},
        {"a move within the volume", kMove, "/src.bin", "/moved.bin", "moved.bin", nullptr, false},
        {"a move across volumes", kMove, "/src.bin", "/other/moved.bin", "src.bin", nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.bCrossesVolumes && other.empty()) {
            printf("[   NOTE   ] no second volume (/dev/shm) to move across: not checked\n");
            continue;
        }
        share.WriteFile("src.bin", bytes);
        if (c.before != nullptr)
            share.WriteFile(c.watched, c.before);
        CTestServer server([](CSessMan&, CDaemonOptions& options) { options.bWideLinks = true; });
        // Over TCP: the session runs on a thread of its own, which the test can watch.
        CStbSession stb(server.ListenPort());
        ASSERT_TRUE(stb.Version());
        ASSERT_TRUE(server.WaitIdle(1));
        ASSERT_NE(server.Man().m_pHead, nullptr);
        const int64_t before = c.before != nullptr ? static_cast<int64_t>(std::string(c.before).size()) : -1;
        {
            CFlushLog log(*server.Man().m_pHead, share.Path(c.watched));
            int status = stb.Status(c.req, OpPayload(c.src, c.dst), c.req == kCopy ? 0xFB : 0xFC);
            EXPECT_TRUE(WaitFor([&] {
                return status != 2 ||
                       (status = stb.Status(c.req, OpPayload(c.src, c.dst), c.req == kCopy ? 0xFB : 0xFC)) != 2;
            }));
            ASSERT_EQ(status, 0);
            for (const CFlushLog::Event& e : log.Events())
                EXPECT_EQ(e.nStatus, 2) << "a flush came after the operation had ended";
            // Windows has no flush of a folder's entries: the file's flush commits them.
            const bool bFolders = kFoldersFlushed;
            if (c.req == kCopy) {
                EXPECT_TRUE(log.Saw(FlushKind::File, before)) << "the data was not flushed before the rename";
                EXPECT_TRUE(!bFolders || log.Saw(FlushKind::Folder, n)) << "the folder was not flushed after the rename";
            } else if (!c.bCrossesVolumes) {
                EXPECT_TRUE(!bFolders || log.Saw(FlushKind::Folder, n)) << "the folder was not flushed after the rename";
            } else {
                EXPECT_TRUE(log.Saw(FlushKind::File, n)) << "the copy was not flushed while the source was there";
                EXPECT_FALSE(log.Saw(FlushKind::File, -1)) << "the source was gone before the copy was flushed";
            }
        }
        const std::string landed = c.bCrossesVolumes ? other + "/moved.bin" : share.Path(std::string(c.dst).substr(1));
        EXPECT_TRUE(SameBytes(ReadLocalFile(landed), bytes));
        EXPECT_EQ(Exists(share.Path("src.bin")), c.req == kCopy);
        std::error_code ec;
        fs::remove(LocalFsPath(landed), ec);
    }
    if (!other.empty())
        fs::remove_all(other);
}

#ifndef _WIN32
// The copies' temporaries that stand in the folder.
std::vector<std::string> Temporaries(const std::string& strFolder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(LocalFsPath(strFolder), ec)) {
        const std::string strName = LocalFsString(entry.path().filename());
        if (plat::IsCopyTemporaryName(strName))
            names.push_back(strName);
    }
    return names;
}

// Where the copy in the child stops until it is killed, and how it tells the test.
plat::CopyStep g_eStopStep = plat::CopyStep::Written;
int g_fdStopped = -1;

void StopHere(plat::CopyStep eStep, uint64_t ullWritten)
{
    // While the data is written: after its first stretch, well before its end.
    if (eStep != g_eStopStep || (eStep == plat::CopyStep::Written && ullWritten < (8u << 20)))
        return;
    const char c = 'k';
    if (write(g_fdStopped, &c, 1) != 1)
        _exit(3);
    for (;;)
        pause();
}

// A daemon killed (SIGKILL) in the middle of a copy onto an existing file, at a known
// point (a child process serving the STB, its copy stopped there by the copy hook): the
// destination keeps its old content whole, and the next start removes every temporary
// the copy left, each with its line.
TEST(CopyCrash, KilledCopyLeavesTheOldDestinationAndTheNextStartRemovesItsTemporary)
{
    struct Case {
        const char* what;
        plat::CopyStep step;
    } cases[] = {{"while the data is written", plat::CopyStep::Written},
                 {"once the temporary has its name", plat::CopyStep::Named}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CTempShare share;
        const std::string oldBytes = RandomBytes(1 << 20, 21), newBytes = RandomBytes(24 << 20, 22);
        share.WriteFile("src.bin", newBytes);
        share.WriteFile("dst.bin", oldBytes);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // The child: an in-process daemon on the share, its port sent to the test.
            close(fds[0]);
            g_eStopStep = c.step;
            g_fdStopped = fds[1];
            plat::SetCopyHook(StopHere);
            CTestServer server;
            const uint16_t port = server.Port();
            if (port == 0 || write(fds[1], &port, sizeof(port)) != sizeof(port))
                _exit(2);
            for (;;)
                pause();
        }
        close(fds[1]);
        uint16_t port = 0;
        ASSERT_EQ(read(fds[0], &port, sizeof(port)), static_cast<ssize_t>(sizeof(port)));
        {
            CStbSession stb(port);
            EXPECT_EQ(stb.Status(kCopy, OpPayload("/src.bin", "/dst.bin"), 0xFB), 2);
            pollfd pfd{fds[0], POLLIN, 0};
            char k = 0;
            EXPECT_TRUE(poll(&pfd, 1, 20000) == 1 && read(fds[0], &k, 1) == 1 && k == 'k') << "the copy never stopped";
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        close(fds[0]);

        EXPECT_TRUE(SameBytes(share.ReadFile("dst.bin"), oldBytes)) << "the old destination was not kept whole";
        const std::vector<std::string> left = Temporaries(share.Share());
        if (c.step == plat::CopyStep::Named) {
            EXPECT_EQ(left.size(), 1u) << "the temporary with its name";
        }
        CDaemonProcess daemon(share.Root(), "d");
        ASSERT_NE(daemon.StartListening({"--headless", "--share", share.Share()}), 0) << daemon.Error();
        const std::string out = daemon.Out();
        for (const std::string& name : left)
            EXPECT_TRUE(Contains(out, "removed unfinished copy: " + share.Path(name) + "\n")) << name << " in:\n" << out;
        EXPECT_TRUE(Temporaries(share.Share()).empty()) << "a temporary stayed";
        EXPECT_TRUE(SameBytes(share.ReadFile("dst.bin"), oldBytes));
        EXPECT_TRUE(SameBytes(share.ReadFile("src.bin"), newBytes));
    }
}
#endif

}  // namespace
