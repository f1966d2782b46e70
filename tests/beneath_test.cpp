// Resolving paths beneath the shared folder: the walk one name at a time, which serves
// where openat2 is missing or refused, answers every case as openat2 does. The expected
// answers below are openat2's; each case runs through OpenBeneath (openat2 in a plain
// run, the walk under corvane_no_openat2) and through the walk itself.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <linux/openat2.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include "platform/posix/beneath.h"
#include "platform/posix/namewalk.h"
#include "platform/share.h"
#include "tests/daemon_proc.h"
#include "tests/test_bytes.h"
#include "tests/test_session.h"
#include "tests/test_util.h"

namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUid = 65534;  // nobody: the owner of a link another user planted

// What a case answers: a descriptor of what lies at pszReaches below the shared folder
// (the link itself where a link is named), or the error.
struct Case {
    const char* pszPath;
    int nFlags;
    int nError;               // 0: opens
    const char* pszReaches;   // with nError 0; null: anything
};

// One way to resolve: OpenBeneath as this process resolves, or the walk itself.
using Resolver = std::function<int(const std::string& strRoot, const std::string& strRel, int nFlags)>;

int ByOpenBeneath(const std::string& strRoot, const std::string& strRel, int nFlags)
{
    return plat::OpenBeneath(plat::CShare{strRoot}, strRoot + "/" + strRel, nFlags, 0644);
}

int ByNames(const std::string& strRoot, const std::string& strRel, int nFlags)
{
    plat::CFd root(open(strRoot.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root.Ok())
        return -errno;
    return plat::OpenByNames(root.Get(), strRel, nFlags | O_CLOEXEC, 0644);
}

// Whether openat2 answers in this process (it does not under corvane_no_openat2).
bool Openat2Answers()
{
    struct open_how how = {};
    how.flags = O_PATH | O_CLOEXEC;
    const long r = syscall(SYS_openat2, AT_FDCWD, "/", &how, sizeof(how));
    if (r >= 0)
        close(static_cast<int>(r));
    return r >= 0;
}

// fs.protected_symlinks is on.
bool LinksProtected()
{
    const std::string s = ReadLocalFile("/proc/sys/fs/protected_symlinks");
    return s.empty() || s[0] != '0';
}

void Link(const std::string& strTarget, const std::string& strAt) { ASSERT_EQ(symlink(strTarget.c_str(), strAt.c_str()), 0) << strAt; }

// The tree every case runs on; outside is a folder beside the shared folder.
void MakeTree(const CTempShare& share, const std::string& strOutside, bool& bPlanted)
{
    fs::create_directories(strOutside);
    WriteLocalFile(strOutside + "/secret.txt", "outside");
    share.WriteFile("in/file.txt", "inside");
    share.WriteFile("in/trunc.txt", "cut");
    fs::create_directories(share.Path("in/sub"));
    Link("in", share.Path("inlink"));
    Link("in/file.txt", share.Path("filelink"));
    Link("in/", share.Path("dirslash"));
    Link("in/file.txt/", share.Path("fileslash"));
    Link("../outside", share.Path("out"));
    Link(strOutside, share.Path("abs"));
    Link("..", share.Path("in/up"));
    Link("../..", share.Path("in/up2"));
    Link("in/sub", share.Path("sublink"));
    Link("loop", share.Path("loop"));
    Link("in/new.txt", share.Path("dangling"));
    Link("../outside/new.txt", share.Path("danglingout"));
    // c0 -> c1 -> ... -> c40 -> in/file.txt: 40 links from c1, 41 from c0.
    for (int i = 0; i < 40; ++i)
        Link("c" + std::to_string(i + 1), share.Path("c" + std::to_string(i)));
    Link("in/file.txt", share.Path("c40"));
    ASSERT_EQ(mkfifo(share.Path("pipe").c_str(), 0666), 0);
    Link("pipe", share.Path("pipelink"));
    // A drop folder anyone may write in, sticky, with links another user planted.
    fs::create_directories(share.Path("drop"));
    ASSERT_EQ(chmod(share.Path("drop").c_str(), 01777), 0);
    Link("../in/file.txt", share.Path("drop/theirs"));
    Link("../in", share.Path("drop/theirsdir"));
    bPlanted = lchown(share.Path("drop/theirs").c_str(), kOtherUid, kOtherUid) == 0 &&
               lchown(share.Path("drop/theirsdir").c_str(), kOtherUid, kOtherUid) == 0;
}

// The errno's name ("EXDEV"), or "a descriptor" for an answer that is none.
std::string Answer(int r)
{
    if (r >= 0)
        return "a descriptor";
    const char* psz = strerrorname_np(-r);
    return psz != nullptr ? psz : std::to_string(r);
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Runs the cases in order against the resolver; strRoot holds what pszReaches names.
void RunCases(const std::vector<Case>& cases, const std::string& strRoot, const Resolver& resolve)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pszPath) + " with flags 0" + std::to_string(c.nFlags));
        plat::CFd fd(resolve(strRoot, c.pszPath, c.nFlags));
        if (c.nError != 0) {
            EXPECT_EQ(Answer(fd.Get()), Answer(-c.nError));
            continue;
        }
        ASSERT_TRUE(fd.Ok()) << Answer(fd.Get());
        if (c.pszReaches == nullptr)
            continue;
        struct stat got, want;
        ASSERT_EQ(fstat(fd.Get(), &got), 0);
        ASSERT_EQ(lstat((strRoot + "/" + c.pszReaches).c_str(), &want), 0) << c.pszReaches;
        EXPECT_TRUE(SameFile(got, want)) << "did not reach " << c.pszReaches;
    }
}

// The walk answers as openat2 does: links inside followed, links out and absolute links
// refused as ".." is, ".." taken from where a link leads (and refused above the shared
// folder), link loops and chains past 40, dangling links with O_CREAT, O_NOFOLLOW and
// O_EXCL on a last link, a trailing '/', FIFOs, a leased file, and a link another user
// planted in a sticky folder.
TEST(PathResolution, NameWalkAnswersAsOpenat2)
{
    const bool bProtected = LinksProtected() && geteuid() != kOtherUid;
    std::vector<Case> cases = {
        {"in/file.txt", O_RDONLY, 0, "in/file.txt"},
        {"inlink/file.txt", O_RDONLY, 0, "in/file.txt"},
        {"filelink", O_RDONLY, 0, "in/file.txt"},
        {"filelink", O_PATH, 0, "in/file.txt"},
        {"filelink", O_RDONLY | O_NOFOLLOW, ELOOP, nullptr},
        {"filelink", O_PATH | O_NOFOLLOW, 0, "filelink"},
        {"out/secret.txt", O_RDONLY, EXDEV, nullptr},
        {"out", O_PATH, EXDEV, nullptr},
        {"out", O_PATH | O_NOFOLLOW, 0, "out"},
        {"abs/secret.txt", O_RDONLY, EXDEV, nullptr},
        {"abs", O_RDONLY | O_DIRECTORY, EXDEV, nullptr},
        {"../outside/secret.txt", O_RDONLY, EXDEV, nullptr},
        {"in/../in/file.txt", O_RDONLY, 0, "in/file.txt"},
        {"in/..", O_RDONLY | O_DIRECTORY, 0, "."},
        {"in/../..", O_PATH, EXDEV, nullptr},
        {"in/up/in/file.txt", O_RDONLY, 0, "in/file.txt"},
        {"in/up", O_PATH, 0, "."},
        {"in/up/../outside/secret.txt", O_RDONLY, EXDEV, nullptr},
        {"in/up2/outside/secret.txt", O_RDONLY, EXDEV, nullptr},
        {"in/up2", O_PATH, EXDEV, nullptr},
        {"sublink/../file.txt", O_RDONLY, 0, "in/file.txt"},
        {"sublink/..", O_PATH, 0, "in"},
        {"loop", O_RDONLY, ELOOP, nullptr},
        {"loop/x", O_RDONLY, ELOOP, nullptr},
        {"c1", O_RDONLY, 0, "in/file.txt"},
        {"c0", O_RDONLY, ELOOP, nullptr},
        {"c0", O_PATH | O_NOFOLLOW, 0, "c0"},
        {"dangling", O_RDONLY, ENOENT, nullptr},
        {"dangling", O_WRONLY | O_CREAT | O_EXCL, EEXIST, nullptr},
        {"dangling", O_WRONLY | O_CREAT | O_NOFOLLOW, ELOOP, nullptr},
        {"dangling", O_WRONLY | O_CREAT, 0, "in/new.txt"},
        {"danglingout", O_WRONLY | O_CREAT, EXDEV, nullptr},
        {"in/made.txt", O_WRONLY | O_CREAT | O_EXCL, 0, "in/made.txt"},
        {"in/made.txt", O_WRONLY | O_CREAT | O_EXCL, EEXIST, nullptr},
        {"in/trunc.txt", O_WRONLY | O_TRUNC, 0, "in/trunc.txt"},
        {"missing/x", O_RDONLY, ENOENT, nullptr},
        {"in/missing", O_RDONLY, ENOENT, nullptr},
        {"in/file.txt/x", O_RDONLY, ENOTDIR, nullptr},
        {"in/file.txt/", O_RDONLY, ENOTDIR, nullptr},
        {"in/file.txt", O_RDONLY | O_DIRECTORY, ENOTDIR, nullptr},
        {"in/sub", O_WRONLY, EISDIR, nullptr},
        {"in/", O_WRONLY | O_CREAT, EISDIR, nullptr},
        {"in/new/", O_WRONLY | O_CREAT, EISDIR, nullptr},
        {"inlink/", O_RDONLY, 0, "in"},
        {"inlink/", O_PATH | O_NOFOLLOW, 0, "in"},
        {"inlink", O_RDONLY | O_DIRECTORY, 0, "in"},
        {"inlink", O_PATH | O_DIRECTORY | O_NOFOLLOW, ENOTDIR, nullptr},
        {"filelink/", O_RDONLY, ENOTDIR, nullptr},
        {"dirslash", O_RDONLY, 0, "in"},
        {"fileslash", O_RDONLY, ENOTDIR, nullptr},
        {"pipe", O_RDONLY | O_NONBLOCK, 0, "pipe"},
        {"pipe", O_WRONLY | O_NONBLOCK, ENXIO, nullptr},
        {"pipelink", O_RDONLY | O_NONBLOCK, 0, "pipe"},
        {".", O_RDONLY | O_DIRECTORY, 0, "."},
        {"./in/./file.txt", O_RDONLY, 0, "in/file.txt"},
        {"in//sub///", O_PATH, 0, "in/sub"},
    };
    for (const char* pszName : {"OpenBeneath", "the walk"}) {
        SCOPED_TRACE(pszName);
        CTempShare share;
        const std::string strOutside = share.Root() + "/outside";
        bool bPlanted = false;
        MakeTree(share, strOutside, bPlanted);
        std::vector<Case> all = cases;
        // A read lease of ours (whose break signals nobody): opening the file to write
        // without waiting answers EAGAIN at once, however long the lease is held.
        plat::CFd leased(open(share.Path("in/leased.txt").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644));
        ASSERT_TRUE(leased.Ok());
        ASSERT_EQ(fcntl(leased.Get(), F_SETLEASE, F_RDLCK), 0) << strerror(errno);
        ASSERT_EQ(fcntl(leased.Get(), F_SETOWN, 0), 0);
        all.push_back({"in/leased.txt", O_WRONLY | O_NONBLOCK, EAGAIN, nullptr});
        if (bPlanted) {
            // fs.protected_symlinks guards the last name only.
            all.push_back({"drop/theirs", O_RDONLY, bProtected ? EACCES : 0, bProtected ? nullptr : "in/file.txt"});
            all.push_back({"drop/theirs", O_PATH | O_NOFOLLOW, 0, "drop/theirs"});
            all.push_back({"drop/theirsdir/file.txt", O_RDONLY, 0, "in/file.txt"});
        }
        RunCases(all, share.Share(), std::string(pszName) == "OpenBeneath" ? Resolver(ByOpenBeneath) : Resolver(ByNames));
        EXPECT_FALSE(fs::exists(strOutside + "/new.txt"));
        EXPECT_EQ(ReadLocalFile(strOutside + "/secret.txt"), "outside");
        EXPECT_EQ(share.ReadFile("in/trunc.txt"), "");
    }
}

// The links of /proc/<pid> stand for open objects, not for their text: refused as
// openat2 refuses them (RESOLVE_NO_MAGICLINKS), while the plain links of /proc lead on.
TEST(PathResolution, NameWalkRefusesProcLinksAsOpenat2)
{
    plat::CFd held(open("/proc/self/status", O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(held.Ok());
    const std::string strFd = "self/fd/" + std::to_string(held.Get());
    const std::vector<Case> cases = {
        {"self/status", O_RDONLY, 0, nullptr},
        {"thread-self/status", O_RDONLY, 0, nullptr},
        {strFd.c_str(), O_RDONLY, ELOOP, nullptr},
        {strFd.c_str(), O_PATH | O_NOFOLLOW, 0, nullptr},
        {"self/cwd/x", O_RDONLY, ELOOP, nullptr},
        {"self/root", O_PATH, ELOOP, nullptr},
    };
    RunCases(cases, "/proc", ByOpenBeneath);
    RunCases(cases, "/proc", ByNames);
}

// The daemon says at start which way it resolves paths, and serves a path either way
// (a kernel without openat2 once answered every path request with its failure status).
TEST(PathResolution, DaemonSaysWhichWayItResolvesPathsAndServesThem)
{
    const std::string strLine = Openat2Answers() ? "paths resolved by openat2\n"
                                                 : "paths resolved one name at a time (no openat2)\n";
    EXPECT_EQ("paths resolved " + std::string(plat::PathResolutionName()) + "\n", strLine);
    CTempShare share;
    share.WriteFile("a/b/c/d/e/file.bin", "12345");
    CDaemonProcess daemon(share.Root(), "d");
    const uint16_t port = daemon.StartListening({"--headless", "--share", share.Share()});
    ASSERT_NE(port, 0) << daemon.Error() << "\n" << daemon.Err();
    EXPECT_TRUE(WaitFor([&] { return Contains(daemon.Out(), strLine); })) << daemon.Out();
    CStbSession client(port);
    EXPECT_EQ(client.Ask(0x10, PathPayload("/a/b/c/d/e/file.bin"), 0xE0), std::string(1, '\0') + U32(5));
    EXPECT_EQ(client.Ask(0x07, PathPayload("/"), 0xF7)[0], '\0');
}

}  // namespace
