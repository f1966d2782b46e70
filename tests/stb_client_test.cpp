// corvane-stb end to end: the client as a child process against the real daemon on
// loopback, and against a scripted stand-in for the faults a healthy daemon never makes.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>  // posix_openpt, ptsname
#include <unistd.h>
#endif

#include "tests/stb_client_util.h"

namespace fs = std::filesystem;
using namespace stbtest;

namespace {

std::string Joined(const std::vector<std::string>& args)
{
    std::string str;
    for (const std::string& s : args)
        str += s + " ";
    return str;
}

size_t Count(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class StbClient : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(m_Daemon.StartListening({"--headless", "--share", m_Share.Share()}), 0)
            << m_Daemon.Error() << "\n"
            << m_Daemon.Err();
        fs::create_directory(Local());
    }
    void TearDown() override
    {
        // The daemon served every request of the test without a fault its checks would see.
        m_Daemon.Stop();
        EXPECT_FALSE(Contains(m_Daemon.Err(), "Sanitizer")) << m_Daemon.Err();
        EXPECT_FALSE(Contains(m_Daemon.Err(), "runtime error")) << m_Daemon.Err();
    }
    std::string Local(const std::string& rel = "") const
    {
        return m_Share.Root() + "/local" + (rel.empty() ? "" : "/" + rel);
    }
    CRunResult Stb(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--port", std::to_string(m_Daemon.Port())});
        return RunStb(args, Local(), m_Share.Root());
    }
    // Runs a command that must succeed quietly; its standard output.
    std::string Ok(const std::vector<std::string>& args)
    {
        CRunResult r = Stb(args);
        EXPECT_EQ(r.nExit, 0) << Joined(args) << "\n" << r.strErr;
        EXPECT_EQ(r.strErr, "") << Joined(args);
        return r.strOut;
    }

    CTempShare m_Share;
    CDaemonProcess m_Daemon{m_Share.Root()};
};

TEST_F(StbClient, VerPrintsTheDaemonVersion) { EXPECT_EQ(Ok({"ver"}), "3.04\n"); }

TEST_F(StbClient, LsListsInTheDaemonsOrderWithFolderSlashes)
{
    for (const char* pszName : {"b.txt", "A.txt", "_u", ".hidden", "sub/x"})
        m_Share.WriteFile(pszName, "x");
    EXPECT_EQ(Ok({"ls"}), ".hidden\nA.txt\nb.txt\nsub/\n_u\n");
    EXPECT_EQ(Ok({"ls", "-a", "/"}), "./\n../\n.hidden\nA.txt\nb.txt\nsub/\n_u\n");
    EXPECT_EQ(Ok({"ls", "/sub"}), "x\n");

    // A listing of many frames, in both frame sizes.
    std::string strExpected;
    for (int i = 0; i < 300; ++i) {
        char sz[16];
        snprintf(sz, sizeof(sz), "f%03d-", i);
        const std::string strName = sz + std::string(60, 'n');
        m_Share.WriteFile("many/" + strName, "");
        strExpected += strName + "\n";
    }
    EXPECT_EQ(Ok({"ls", "/many"}), strExpected);
    EXPECT_EQ(Ok({"ls", "/many", "--small-frames"}), strExpected);
}

TEST_F(StbClient, StatPrintsSizesOfBothWidths)
{
    m_Share.WriteFile("empty", "");
    m_Share.WriteFile("some", Pattern(12345));
    CSparse{k4GiB + 3, {}}.Write(m_Share.Path("huge"));
    EXPECT_EQ(Ok({"stat", "/empty"}), "0\n");
    EXPECT_EQ(Ok({"stat", "/some"}), "12345\n");
    EXPECT_EQ(Ok({"stat", "/huge"}), std::to_string(k4GiB + 3) + "\n");
}

TEST_F(StbClient, DfCountsTheSharedVolume)
{
    CVolumeFigures vol;
    ASSERT_TRUE(QueryVolume(m_Share.Share(), vol));
    const uint64_t ullTotalMiB = vol.ullTotalBytes >> 20;
    const std::string strOut = Ok({"df", "--unit", "1048576"});
    EXPECT_TRUE(Contains(strOut, "unit  1048576 bytes\n")) << strOut;
    EXPECT_TRUE(Contains(strOut, "total " + std::to_string(ullTotalMiB) + " units")) << strOut;
    // Without a unit the volume's cluster size is used, the counts fitting in 32 bits.
    const std::string strDefault = Ok({"df"});
    EXPECT_TRUE(Contains(strDefault, "unit  " + std::to_string(vol.ullClusterBytes) + " bytes\n")) << strDefault;
    EXPECT_TRUE(Contains(strDefault, "total " + std::to_string(vol.ullTotalBytes / vol.ullClusterBytes) + " units"))
        << strDefault;
}

TEST_F(StbClient, GetFetchesWholeFiles)
{
    struct {
        size_t nSize;
        bool bSmall;
        bool bStdout;
    } const cases[] = {
        {0, false, false},     {1, false, false},      {4096, true, false},          {32768, false, false},
        {32769, false, true},  {100000, true, false},  {11u << 20, false, false},  // two ranges, read from disk
    };
    int i = 0;
    for (const auto& c : cases) {
        const std::string strName = 'f' + std::to_string(++i);
        SCOPED_TRACE(strName);
        const std::string strContent = Pattern(c.nSize, static_cast<unsigned>(i));
        m_Share.WriteFile(strName, strContent);
        std::vector<std::string> args{"get", "/" + strName};
        if (c.bStdout)
            args.push_back("-");
        if (c.bSmall)
            args.push_back("--small-frames");
        const std::string strOut = Ok(args);
        if (c.bStdout) {
            EXPECT_TRUE(strOut == strContent);
        } else {
            EXPECT_TRUE(fs::exists(Local(strName)));
            EXPECT_TRUE(ReadLocalFile(Local(strName)) == strContent);
            EXPECT_FALSE(fs::exists(Local(strName + ".part")));
        }
    }
    // LOCAL may name a folder, and the file arrives in it under its name.
    fs::create_directory(Local("into"));
    Ok({"get", "/f2", "into"});
    EXPECT_TRUE(ReadLocalFile(Local("into/f2")) == m_Share.ReadFile("f2"));
}

TEST_F(StbClient, GetResumesAtAnOffset)
{
    const std::string strContent = Pattern(150000, 7);
    m_Share.WriteFile("r.bin", strContent);
    // LOCAL holds a prefix and bytes that do not belong: they are cut, the rest appended.
    WriteLocalFile(Local("r1"), strContent.substr(0, 70000) + "garbage");
    Ok({"get", "/r.bin", "r1", "--offset", "70000"});
    EXPECT_TRUE(ReadLocalFile(Local("r1")) == strContent);
    // LOCAL.part of an interrupted download is continued and then renamed.
    WriteLocalFile(Local("r2.part"), strContent.substr(0, 50000));
    Ok({"get", "/r.bin", "r2", "--offset", "50000", "--small-frames"});
    EXPECT_TRUE(ReadLocalFile(Local("r2")) == strContent);
    EXPECT_FALSE(fs::exists(Local("r2.part")));
    // Nothing is left to fetch at the end.
    Ok({"get", "/r.bin", "r1", "--offset", "150000"});
    EXPECT_TRUE(ReadLocalFile(Local("r1")) == strContent);
    // A range to standard output.
    const std::string strRange = Ok({"get", "/r.bin", "-", "--offset", "40000", "--length", "33000"});
    EXPECT_TRUE(strRange == strContent.substr(40000, 33000));

    // A partial file shorter than the offset, a missing one, an offset past the end: all
    // fail and change nothing.
    WriteLocalFile(Local("r3"), strContent.substr(0, 10));
    CRunResult r = Stb({"get", "/r.bin", "r3", "--offset", "11"});
    EXPECT_EQ(r.nExit, 1);
    EXPECT_TRUE(Contains(r.strErr, "holds only 10 bytes")) << r.strErr;
    EXPECT_TRUE(ReadLocalFile(Local("r3")) == strContent.substr(0, 10));
    r = Stb({"get", "/r.bin", "r4", "--offset", "5"});
    EXPECT_EQ(r.nExit, 1);
    EXPECT_TRUE(Contains(r.strErr, "nothing to resume")) << r.strErr;
    r = Stb({"get", "/r.bin", "-", "--offset", "150001"});
    EXPECT_EQ(r.nExit, 1);
    EXPECT_TRUE(Contains(r.strErr, "past the end")) << r.strErr;
    EXPECT_EQ(r.strOut, "");
}

TEST_F(StbClient, GetFetchesRangesOfAFileAbove4GiB)
{
    const CSparse big{k4GiB + (1u << 30) + 100,
                      {{0, "head"},
                       {k4GiB - 4, "across-4G"},
                       {k4GiB + 30000, Pattern(5000, 9)},
                       {k4GiB + (1u << 30) + 90, "0123456789"}}};
    big.Write(m_Share.Path("big.img"));
    struct {
        uint64_t ullAt;
        uint64_t ullCount;
        bool bSmall;
    } const cases[] = {
        {0, 4, false},          {k4GiB - 4, 9, false},           {k4GiB - 40000, 120000, false},
        {k4GiB - 40000, 120000, true}, {big.ullSize - 10, 100, true}, {k4GiB + 29000, 7000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ullAt);
        std::vector<std::string> args{"get", "/big.img", "-", "--offset", std::to_string(c.ullAt), "--length",
                                      std::to_string(c.ullCount)};
        if (c.bSmall)
            args.push_back("--small-frames");
        const std::string strOut = Ok(args);
        EXPECT_EQ(strOut.size(), std::min(c.ullCount, big.ullSize - c.ullAt));
        EXPECT_TRUE(strOut == big.Range(c.ullAt, c.ullCount));
    }
    EXPECT_EQ(big.Range(k4GiB - 4, 9), "across-4G");  // the marks are where the cases look
}

TEST_F(StbClient, ProgressBarOnlyOnATerminal)
{
#ifdef _WIN32
    GTEST_SKIP() << "gives the client a pseudo-terminal (posix_openpt), which Windows has not";
#else
    m_Share.WriteFile("long.bin", Pattern(20u << 20, 5));  // long enough for the bar to show
    const int nMaster = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(nMaster, 0);
    ASSERT_EQ(grantpt(nMaster), 0);
    ASSERT_EQ(unlockpt(nMaster), 0);
    const std::string strTerminal = ptsname(nMaster);
    auto drain = [&] {
        std::string str;
        char buf[4096];
        pollfd pfd{nMaster, POLLIN, 0};
        for (ssize_t n = 1; n > 0 && poll(&pfd, 1, 0) > 0;)
            if ((n = read(nMaster, buf, sizeof(buf))) > 0)
                str.append(buf, static_cast<size_t>(n));
        return str;
    };
    for (bool bQuiet : {false, true}) {
        std::vector<std::string> args{"--port", std::to_string(m_Daemon.Port()), "get", "/long.bin"};
        if (bQuiet)
            args.push_back("--quiet");
        EXPECT_EQ(RunStb(args, Local(), m_Share.Root(), strTerminal).nExit, 0);
        const std::string strBar = drain();
        if (bQuiet) {
            EXPECT_EQ(strBar, "");
        } else {
            EXPECT_TRUE(Contains(strBar, "20.0 MiB / 20.0 MiB   100%")) << strBar;
            EXPECT_TRUE(Contains(strBar, "MiB/s")) << strBar;
        }
    }
    close(nMaster);
    // Not a terminal: nothing on standard error.
    EXPECT_EQ(Ok({"get", "/long.bin", "again"}), "");
    EXPECT_TRUE(ReadLocalFile(Local("again")) == Pattern(20u << 20, 5));
#endif
}

TEST_F(StbClient, PutStoresFilesWithEitherWidth)
{
    const size_t sizes[] = {0, 1, 65529, 65530, 11u << 20};
    int i = 0;
    for (bool bBig : {false, true}) {
        for (size_t nSize : sizes) {
            const std::string strName = 'p' + std::to_string(++i);
            SCOPED_TRACE(strName);
            const std::string strContent = Pattern(nSize, static_cast<unsigned>(i));
            WriteLocalFile(Local(strName), strContent);
            std::vector<std::string> args{"put", strName, "/up-" + strName};
            if (bBig)
                args.push_back("--big");
            Ok(args);
            EXPECT_TRUE(fs::exists(m_Share.Path("up-" + strName)));
            EXPECT_TRUE(m_Share.ReadFile("up-" + strName) == strContent);
        }
    }
    // Each width was asked for as often as it was meant to be.
    const std::string strLines = m_Daemon.Out();
    EXPECT_EQ(Count(strLines, "FC_FILE_UP_REQ("), std::size(sizes));
    EXPECT_EQ(Count(strLines, "FC_BIGFILE_UP_REQ("), std::size(sizes));
    // A PATH ending in '/' keeps the local name.
    fs::create_directory(m_Share.Path("dir"));
    Ok({"put", "p2", "/dir/"});
    EXPECT_EQ(m_Share.ReadFile("dir/p2"), ReadLocalFile(Local("p2")));
}

TEST_F(StbClient, CpAndMvWaitForTheOperation)
{
    m_Share.WriteFile("one.txt", "one");
    MakeTree(m_Share.Path("src"));
    const auto src = Tree(m_Share.Path("src"));
    Ok({"cp", "/one.txt", "/two.txt"});
    EXPECT_EQ(m_Share.ReadFile("two.txt"), "one");
    EXPECT_EQ(m_Share.ReadFile("one.txt"), "one");
    Ok({"cp", "/src", "/copy"});
    EXPECT_EQ(Tree(m_Share.Path("copy")), src);
    Ok({"mv", "/two.txt", "/src/three.txt"});
    EXPECT_FALSE(fs::exists(m_Share.Path("two.txt")));
    EXPECT_EQ(m_Share.ReadFile("src/three.txt"), "one");
    Ok({"mv", "/copy", "/moved"});
    EXPECT_FALSE(fs::exists(m_Share.Path("copy")));
    EXPECT_EQ(Tree(m_Share.Path("moved")), src);
}

TEST_F(StbClient, RmMkdirAndRmdirChangeTheShare)
{
    Ok({"mkdir", "/made"});
    EXPECT_TRUE(fs::is_directory(m_Share.Path("made")));
    m_Share.WriteFile("made/f", "x");
    Ok({"rm", "/made/f"});
    EXPECT_FALSE(fs::exists(m_Share.Path("made/f")));
    MakeTree(m_Share.Path("tree"));
    Ok({"rmdir", "/tree"});
    EXPECT_FALSE(fs::exists(m_Share.Path("tree")));
    EXPECT_TRUE(fs::exists(m_Share.Path("made")));
    Ok({"rmdir", "/tree"});  // gone already: nothing left to do

    // The daemon calls these done; what stayed makes them failures.
    MakeTree(m_Share.Path("ro"));
    fs::permissions(m_Share.Path("ro/sub/c"), fs::perms::owner_read | fs::perms::group_read);
    CRunResult r = Stb({"rmdir", "/ro"});
    EXPECT_EQ(r.nExit, 1);
    EXPECT_TRUE(Contains(r.strErr, "rmdir /ro: failed (the daemon could not delete everything")) << r.strErr;
    EXPECT_TRUE(fs::exists(m_Share.Path("ro/sub/c")));
    r = Stb({"rmdir", "/made"});
    EXPECT_EQ(r.nExit, 0) << r.strErr;
    m_Share.WriteFile("plain", "x");
    r = Stb({"rmdir", "/plain"});
    EXPECT_EQ(r.nExit, 1);
    EXPECT_TRUE(Contains(r.strErr, "a file, not a folder")) << r.strErr;
}

TEST_F(StbClient, GetdirFetchesANestedTree)
{
    MakeTree(m_Share.Path("tree"));
    const auto tree = Tree(m_Share.Path("tree"));
    Ok({"getdir", "/tree", "out1"});
    EXPECT_EQ(Tree(Local("out1/tree")), tree);
    Ok({"getdir", "/tree/", "out2", "--small-frames"});
    EXPECT_EQ(Tree(Local("out2/tree")), tree);
    // The shared folder itself arrives as LOCALDIR's contents.
    Ok({"getdir", "/", "out3"});
    EXPECT_EQ(Tree(Local("out3")), Tree(m_Share.Share()));
    EXPECT_TRUE(fs::exists(m_Share.Path("tree/a.txt")));  // a plain getdir deletes nothing
}

TEST_F(StbClient, GetdirMoveRemovesTheTreeOnlyWhenAllArrived)
{
    MakeTree(m_Share.Path("tree"));
    m_Share.WriteFile("keep.txt", "k");
    const auto tree = Tree(m_Share.Path("tree"));
    {
        // A file the daemon cannot open (held by another opener): nothing is deleted.
        CRunResult r;
        {
            const CHeldFile held(m_Share.Path("tree/sub/c"));
            ASSERT_TRUE(held.Held());
            r = Stb({"getdir", "/tree", "held", "--move"});
        }
        EXPECT_EQ(r.nExit, 1);
        EXPECT_TRUE(Contains(r.strErr, "sub/c: failed (status 1")) << r.strErr;
        EXPECT_TRUE(Contains(r.strErr, "nothing was deleted")) << r.strErr;
        EXPECT_EQ(Tree(m_Share.Path("tree")), tree);
    }
    Ok({"getdir", "/tree", "out", "--move"});
    EXPECT_EQ(Tree(Local("out/tree")), tree);
    EXPECT_FALSE(fs::exists(m_Share.Path("tree")));
    EXPECT_EQ(m_Share.ReadFile("keep.txt"), "k");
}

TEST_F(StbClient, PutdirUploadsANestedTree)
{
    MakeTree(Local("up/tree"));
    fs::create_directory(m_Share.Path("dst"));
    Ok({"putdir", "up/tree", "/dst/tree2"});
    EXPECT_EQ(Tree(m_Share.Path("dst/tree2")), Tree(Local("up/tree")));
    // Again onto the existing folder: files there are replaced.
    WriteLocalFile(Local("up/tree/a.txt"), "changed");
    Ok({"putdir", "up/tree/", "/dst/tree2/"});
    EXPECT_EQ(Tree(m_Share.Path("dst/tree2")), Tree(Local("up/tree")));
    // Into the shared folder itself.
    Ok({"putdir", "up/tree", "/"});
    EXPECT_EQ(m_Share.ReadFile("a.txt"), "changed");
    EXPECT_TRUE(fs::is_directory(m_Share.Path("emptydir")));
    EXPECT_TRUE(m_Share.ReadFile("sub/deep/b.bin") == Pattern(100000, 2));
    EXPECT_TRUE(fs::exists(m_Share.Path("empty.txt")));
}

TEST_F(StbClient, FwcheckNamesTheNewestFirmware)
{
    auto header = [](uint16_t usModel, uint16_t usVersion) {
        std::string str(32, '\0');
        str[16] = static_cast<char>(usModel >> 8);
        str[17] = static_cast<char>(usModel & 0xFF);
        str[22] = static_cast<char>(usVersion >> 8);
        str[23] = static_cast<char>(usVersion & 0xFF);
        return str + "image";
    };
    m_Share.WriteFile("a.stb", header(0x1234, 5));
    m_Share.WriteFile("B.STB", header(0x1234, 7));
    m_Share.WriteFile("c.stb", header(0x9999, 9));
    m_Share.WriteFile("d.bin", header(0x1234, 99));
    EXPECT_EQ(Ok({"fwcheck", "0x1234", "5"}), "B.STB\n");
    EXPECT_EQ(Ok({"fwcheck", "4660", "1"}), "B.STB\n");
    EXPECT_EQ(Ok({"fwcheck", "0x1234", "7"}), "no newer firmware\n");
    EXPECT_EQ(Ok({"fwcheck", "0x9999", "8"}), "c.stb\n");
}

TEST_F(StbClient, FailuresEndWithTheirExitStatus)
{
    m_Share.WriteFile("f", "data");
    fs::create_directory(m_Share.Path("exists"));
    WriteLocalFile(Local("lf"), "local");
    MakeTree(Local("ld"));
    struct {
        std::vector<std::string> args;
        int nExit;
        const char* pszErr;
    } const cases[] = {
        {{"get", "/missing"}, 1, "get /missing: failed (status 1: the daemon could not do it)"},
        {{"get", "../f"}, 1, "failed (status 1"},
        {{"get", "/exists"}, 1, "failed (status 1"},
        {{"stat", "/missing"}, 1, "failed (status 1"},
        {{"ls", "/missing"}, 1, "failed (status 1"},
        {{"ls", "/exists/../.."}, 1, "failed (status 1"},
        {{"rm", "/missing"}, 1, "rm /missing: failed (status 1: the daemon could not do it)"},
        {{"rm", "../f"}, 1, "failed (status 1"},
        {{"mkdir", "/exists"}, 1, "failed (status 1"},
        {{"mkdir", "../x"}, 1, "failed (status 1"},
        {{"rmdir", "/"}, 1, "failed (status 1"},
        {{"rmdir", "../x"}, 1, "failed (status 1"},
        {{"cp", "/missing", "/x"}, 1, "failed (status 1"},
        {{"cp", "/f", "../x"}, 1, "failed (status 1"},
        {{"mv", "/missing", "/x"}, 1, "failed (status 1"},
        {{"mv", "../f", "/x"}, 1, "failed (status 1"},
        {{"put", "nolocal", "/x"}, 1, "cannot read nolocal"},
        {{"put", "lf", "../x"}, 1, "failed (status 1"},
        {{"put", "lf", "/missingdir/x"}, 1, "failed (status 1"},
        {{"getdir", "/missing", "out"}, 1, "no such folder"},
        {{"getdir", "../", "out"}, 1, "no such folder"},
        {{"getdir", "/f", "out"}, 1, "no such folder"},
        {{"putdir", "ld", "../x"}, 1, "failed (status 255"},
        {{"putdir", "ld", "/missingdir/x"}, 1, "x: failed (status 1: the folder could not be made)"},
        {{"putdir", "nolocaldir", "/x"}, 1, "not a folder"},
        {{"get", "/f", "-", "--offset", "5"}, 1, "past the end"},
        {{}, 2, "no command"},
        {{"frobnicate"}, 2, "unknown command"},
        {{"get"}, 2, "wrong number of arguments"},
        {{"rm", "/a", "/b"}, 2, "wrong number of arguments"},
        {{"ls", "--move"}, 2, "ls does not take --move"},
        {{"ver", "--bogus"}, 2, "unknown option '--bogus'"},
        {{"get", "/f", "--offset", "-1"}, 2, "--offset takes a number"},
        {{"get", "/f", "--offset"}, 2, "--offset needs a value"},
        {{"fwcheck", "1"}, 2, "wrong number of arguments"},
        {{"fwcheck", "70000", "1"}, 2, "fwcheck takes a MODEL"},
        {{"get", "/"}, 2, "names no file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Joined(c.args));
        CRunResult r = Stb(c.args);
        EXPECT_EQ(r.nExit, c.nExit) << r.strErr;
        EXPECT_TRUE(Contains(r.strErr, c.pszErr)) << r.strErr;
        EXPECT_EQ(Contains(r.strErr, "usage: corvane-stb"), c.nExit == 2) << r.strErr;
        EXPECT_EQ(r.strOut, "");
    }
    // Nothing reached outside the shared folder, and no failed download left a file.
    EXPECT_FALSE(fs::exists(m_Share.Root() + "/x"));
    EXPECT_FALSE(fs::exists(m_Share.Root() + "/f"));
    EXPECT_FALSE(fs::exists(Local("missing")));
    EXPECT_FALSE(fs::exists(Local("missing.part")));
    EXPECT_EQ(m_Share.ReadFile("f"), "data");
    CRunResult help = Stb({"--help"});
    EXPECT_EQ(help.nExit, 0);
    EXPECT_TRUE(Contains(help.strOut, "exit status:")) << help.strOut;
}

TEST(StbClientNoShare, RequestsFailWithoutASharedFolder)
{
    CTempShare share;
    CDaemonProcess daemon(share.Root());
    ASSERT_NE(daemon.StartListening({"--headless"}), 0) << daemon.Error() << "\n" << daemon.Err();
    const std::string strPort = std::to_string(daemon.Port());
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", strPort});
        return RunStb(args, share.Root(), share.Root());
    };
    EXPECT_EQ(run({"ls"}).nExit, 1);
    EXPECT_EQ(run({"get", "/x"}).nExit, 1);
    CRunResult r = run({"df"});
    EXPECT_EQ(r.nExit, 1);
    EXPECT_TRUE(Contains(r.strErr, "no shared folder")) << r.strErr;
    r = run({"fwcheck", "1", "0"});
    EXPECT_EQ(r.nExit, 0);
    EXPECT_EQ(r.strOut, "no newer firmware\n");
}

TEST(StbClientNoDaemon, EveryCommandEndsWithStatus3)
{
    CTempShare scratch;
    WriteLocalFile(scratch.Root() + "/lf", "x");
    const std::string strPort = std::to_string(FreeLoopbackPort());  // nobody listens there
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"ver"}, {"ls"}, {"get", "/x"}, {"put", "lf", "/x"}, {"getdir", "/", "out"}, {"putdir", "share", "/x"}}) {
        SCOPED_TRACE(Joined(args));
        std::vector<std::string> all{"--port", strPort};
        all.insert(all.end(), args.begin(), args.end());
        CRunResult r = RunStb(all, scratch.Root(), scratch.Root());
        EXPECT_EQ(r.nExit, 3);
        EXPECT_TRUE(Contains(r.strErr, "cannot connect to 127.0.0.1:" + strPort)) << r.strErr;
    }
}

TEST(StbClientNoDaemon, ASilentDaemonTimesOut)
{
    CTempShare scratch;
    const plat::Socket hListen = plat::SockCreateTcp();  // connections complete, nothing answers
    ASSERT_EQ(plat::SockBindLoopback(hListen, 0), 0);
    ASSERT_EQ(plat::SockListen(hListen, 4), 0);
    const std::string strPort = std::to_string(plat::SockLocalPort(hListen));
    CRunResult r = RunStb({"--port", strPort, "--timeout", "1", "ver"}, scratch.Root(), scratch.Root());
    plat::SockClose(hListen);
    EXPECT_EQ(r.nExit, 3);
    EXPECT_TRUE(Contains(r.strErr, "no answer from the daemon within 1 s")) << r.strErr;
}

TEST(StbClientFakeDaemon, FramesOutOfStepAreRefused)
{
    const std::string kShortOpen = MakeFrame(0xF2, std::string(1, '\0') + LE(100, 4));
    const std::string kStreamOpen = MakeFrame(0xF2, std::string(1, '\0') + LE(40000, 4));
    std::string strBadSum = MakeFrame(0xE1, "\x03\x04");
    strBadSum.back() = static_cast<char>(strBadSum.back() + 1);
    const std::string strUp = Pattern(10);
    struct {
        const char* pszName;
        std::vector<std::string> args;
        std::vector<std::string> replies;
        int nExit;
        const char* pszErr;
        std::vector<std::pair<uint8_t, std::string>> requests;  // the first ones expected
    } const cases[] = {
        {"bad checksum", {"ver"}, {strBadSum}, 3, "wrong checksum", {{0x11, ""}}},
        {"no sync byte", {"ver"}, {std::string("\x5A\x04\x00\xE1\x03\x04\x26", 7)}, 3, "sync byte", {}},
        {"wrong reply", {"ver"}, {MakeFrame(0xE2, "\x03\x04")}, 3, "unexpected reply 0xe2", {}},
        {"short frame", {"get", "/f", "g1"}, {kShortOpen, MakeFrame(0xD3, LE(0, 4) + std::string(50, 'x'))}, 3,
         "sent 50 bytes at offset 0 where 100 were due",
         {{0x02, std::string("\0/f\0", 4)}, {0x23, LE(0, 4) + LE(100, 4)}}},
        {"wrong offset", {"get", "/f", "g2"}, {kShortOpen, MakeFrame(0xD3, LE(8, 4) + std::string(100, 'x'))}, 3,
         "data for offset 8 where offset 0 was due", {}},
        {"short stream", {"get", "/f", "g3"}, {kStreamOpen, MakeFrame(0xD3, LE(0, 4) + Pattern(32768))}, 3,
         "g3.part keeps the first 32768 bytes (resume with --offset 32768)", {}},
        {"error frame", {"get", "/f", "g4", "--small-frames"}, {kShortOpen, MakeFrame(0xF3, LE(0, 4))}, 1,
         "no data for offset 0", {{0x02, std::string("\0/f\0", 4)}, {0x03, LE(0, 4) + LE(100, 4)}}},
        {"big open", {"get", "/f", "-", "--offset", "4294967296", "--length", "3"},
         {MakeFrame(0xD9, std::string(1, '\0') + LE(k4GiB + 5, 8)), MakeFrame(0xD6, LE(k4GiB, 8) + "abc")}, 0, "",
         {{0x02, std::string("\0/f\0", 4)}, {0x26, LE(k4GiB, 8) + LE(3, 8)}}},
        {"block refused", {"put", "up", "/x"}, {MakeFrame(0xFD, std::string(1, '\0')), MakeFrame(0xFE, LE(0, 8))}, 1,
         "could not store the block at offset 0",
         {{0x0D, std::string(1, '\0') + LE(10, 4) + std::string("/x\0", 3)}, {0x0E, LE(0, 4) + strUp}}},
        {"block misplaced", {"put", "up", "/x", "--big"},
         {MakeFrame(0xDD, std::string(1, '\0')), MakeFrame(0xFE, LE(4, 8) + LE(10, 8))}, 3, "acknowledged offset 4",
         {{0x27, std::string(1, '\0') + LE(10, 8) + std::string("/x\0", 3)}, {0x28, LE(0, 8) + strUp}}},
        {"entry escapes", {"getdir", "/t", "out"},
         {MakeFrame(0xE3, std::string(1, '\0') + LE(1, 4) + LE(0, 8)),
          MakeFrame(0x10, std::string(1, '\0') + LE(0, 4) + std::string("../evil/\0", 9))},
         3, "leaves the folder", {{0x13, std::string("\0/t\0", 4)}, {0x01, LE(0, 4)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        CTempShare scratch;
        WriteLocalFile(scratch.Root() + "/up", strUp);
        CFakeDaemon fake(c.replies);
        std::vector<std::string> args{"--port", std::to_string(fake.Port())};
        args.insert(args.end(), c.args.begin(), c.args.end());
        CRunResult r = RunStb(args, scratch.Root(), scratch.Root());
        EXPECT_EQ(r.nExit, c.nExit) << r.strErr;
        EXPECT_TRUE(Contains(r.strErr, c.pszErr)) << r.strErr;
        const auto got = fake.Requests();
        ASSERT_GE(got.size(), c.requests.size());
        for (size_t i = 0; i < c.requests.size(); ++i) {
            EXPECT_EQ(got[i].first, c.requests[i].first) << i;
            EXPECT_TRUE(got[i].second == c.requests[i].second) << i;
        }
        // A download that failed never leaves LOCAL; only what arrived in order is kept.
        for (const char* pszLocal : {"g1", "g2", "g3", "g4"}) {
            EXPECT_FALSE(fs::exists(scratch.Root() + "/" + pszLocal));
            const bool bKept = std::string(c.pszName) == "short stream" && std::string(pszLocal) == "g3";
            EXPECT_EQ(fs::exists(scratch.Root() + "/" + pszLocal + ".part"), bKept) << pszLocal;
        }
        if (std::string(c.pszName) == "short stream") {
            EXPECT_TRUE(ReadLocalFile(scratch.Root() + "/g3.part") == Pattern(32768));
        }
        if (std::string(c.pszName) == "big open") {
            EXPECT_EQ(r.strOut, "abc");
        }
        EXPECT_FALSE(fs::exists(scratch.Root() + "/evil"));
    }
}

}  // namespace
