// Names in the STB's code page (--charset, the stored Charset key): paths decoded before
// they are mapped, names encoded on their way out, local names the code page cannot hold
// kept from the STB; and the settings file named by --config.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/cmdline.h"
#include "app/corvaneapp.h"
#include "app/settings.h"
#include "fs/names.h"
#include "net/protocol.h"
#include "platform/dir.h"
#include "platform/profile.h"
#include "tests/daemon_proc.h"
#include "tests/test_bytes.h"
#include "tests/test_files.h"
#include "tests/test_session.h"
#include "tests/test_util.h"

namespace {

// A server whose code page the command line fixed (empty: names unchanged).
std::unique_ptr<CTestServer> FixedCharsetServer(const std::string& strCharset)
{
    return std::make_unique<CTestServer>([&](CSessMan&, CDaemonOptions& options) {
        options.bFixedCharset = true;
        options.strCharset = strCharset;
    });
}

std::string Rec(bool bDir, const std::string& name) { return std::string(1, bDir ? '\1' : '\0') + name + '\0'; }

// A path as a diagnostic line writes it: each backslash as \x5c.
std::string AsLogged(const std::string& strPath)
{
    std::string str;
    for (char c : strPath)
        str += c == '\\' ? std::string("\\x5c") : std::string(1, c);
    return str;
}

// The records of a listing block, each as Rec gives it.
std::vector<std::string> Records(const std::string& block)
{
    std::vector<std::string> records;
    for (size_t at = 0; at < block.size();) {
        const size_t end = block.find('\0', at + 1);
        if (end == std::string::npos) {
            ADD_FAILURE() << "a record without its end";
            break;
        }
        records.push_back(block.substr(at, end + 1 - at));
        at = end + 1;
    }
    return records;
}

std::string Repeat(const std::string& str, size_t n)
{
    std::string out;
    while (n-- > 0)
        out += str;
    return out;
}

// A firmware header of the model and version (big-endian at 16 and 22).
std::string Firmware(uint16_t model, uint16_t version)
{
    std::string h(32, '\0');
    h[16] = static_cast<char>(model >> 8);
    h[17] = static_cast<char>(model);
    h[22] = static_cast<char>(version >> 8);
    h[23] = static_cast<char>(version);
    return h;
}

// The listing block of the folder: fetched whole, its size checked against the reply.
std::string Listing(CStbSession& stb, const std::string& path)
{
    const std::string reply = stb.Ask(0x07, PathPayload(path), 0xF7);
    if (reply.size() != 5 || reply[0] != 0) {
        ADD_FAILURE() << "listing of " << path << " not ready";
        return "";
    }
    const uint32_t size = GetU32(reply, 1);
    return stb.Fetch(0x03, 0, size, size);
}

// The status of a reply of a status byte and a 32-bit size, and the size.
std::pair<int, uint32_t> Sized(CStbSession& stb, uint8_t req, const std::string& payload)
{
    const std::string reply = stb.Ask(req, payload, ReplyByte(req));
    if (reply.size() != 5)
        return {-1, 0};
    return {static_cast<uint8_t>(reply[0]), GetU32(reply, 1)};
}

struct CName {
    const char* pszCharset;
    std::string strLocal;  // on disk (UTF-8, or any bytes when unchanged)
    std::string strStb;    // on the wire
};

const CName kNames[] = {
    {"CP1252", "caf\xC3\xA9", "caf\xE9"},
    {"CP949", "\xED\x95\x9C\xEA\xB8\x80", "\xC7\xD1\xB1\xDB"},  // Hangul
    // Its trail bytes are 0x5C: split there, the path would name "\x95/\x83/".
    {"CP932", "\xE8\xA1\xA8\xE3\x82\xBD", "\x95\x5C\x83\x5C"},
#ifdef _WIN32
    {"", "caf\xC3\xA9", "caf\xC3\xA9"},  // no code page: the bytes as they are (Windows names are Unicode)
#else
    {"", "caf\xE9", "caf\xE9"},  // no code page: the bytes as they are
#endif
};

// Whether a local name may be bytes that are no UTF-8. Windows keeps names in UTF-16, so
// such a name cannot stand in a folder there (nor can a control character).
#ifdef _WIN32
constexpr bool kRawNames = false;
#else
constexpr bool kRawNames = true;
#endif

}  // namespace

// Every way a name travels: listed, downloaded, uploaded, created, copied, walked by a
// directory download and written by a directory upload, each in the STB's code page.
TEST(StbCharset, NamesRoundTripThroughTheCodePage)
{
    for (const CName& c : kNames) {
        SCOPED_TRACE(c.pszCharset);
        CTempShare share;
        std::unique_ptr<CTestServer> server = FixedCharsetServer(c.pszCharset);
        const std::string &L = c.strLocal, &S = c.strStb;
        const std::string data = RandomBytes(5000, 7);
        share.WriteFile(L + "/" + L + ".txt", data);
        {
            CStbSession stb(server->Port());
            EXPECT_EQ(Listing(stb, "/"), Rec(true, ".") + Rec(true, "..") + Rec(true, S));
            EXPECT_EQ(Listing(stb, "/" + S), Rec(true, ".") + Rec(true, "..") + Rec(false, S + ".txt"));
            EXPECT_EQ(Sized(stb, 0x02, PathPayload("/" + S + "/" + S + ".txt")), std::make_pair(0, 5000u));
            EXPECT_TRUE(SameBytes(stb.Fetch(0x03, 0, 5000, 5000), data));
            EXPECT_EQ(stb.UploadOpen(13, 3, "/" + S + "/up" + S), 0);
            EXPECT_EQ(stb.UploadBlock(14, 0, "up!"), 3u);
            EXPECT_EQ(stb.Status(0x09, PathPayload("/" + S + "/m" + S), 0xF9), 0);
            const std::string op = '\x01' + ("/" + S + "/" + S + ".txt") + '\0' + ("/c" + S) + '\0';
            EXPECT_TRUE(WaitFor([&] { return stb.Status(0x0B, op, 0xFB) == 0; }));
        }
        EXPECT_EQ(share.ReadFile(L + "/up" + L), "up!");
        EXPECT_TRUE(IsDir(share.Path(L + "/m" + L)));
        EXPECT_EQ(share.ReadFile("c" + L), data);
        {
            CStbSession stb(server->Port());
            share.WriteFile("T" + L + "/" + L, "tree");
            const std::string reply = stb.Ask(0x13, PathPayload("/T" + S), 0xE3);
            ASSERT_EQ(reply.size(), 13u);
            EXPECT_EQ(GetU32(reply, 1), 2u);
            EXPECT_EQ(GetLE(reply, 5, 8), 4u);
            EXPECT_EQ(stb.Exchange(0x01, LE(0, 4)), CReply(0x10, std::string(5, '\0') + "T" + S + "/" + '\0'));
            EXPECT_EQ(stb.Exchange(0x01, LE(1, 4)),
                      CReply(0x10, std::string(1, '\0') + LE(4, 4) + "T" + S + "/" + S + '\0'));
            EXPECT_EQ(stb.Fetch(0x02, 0, 4, 4), "tree");
        }
        {
            CStbSession stb(server->Port());
            ASSERT_EQ(stb.BeginDirUp("/" + S + "/", 5), 0);
            EXPECT_EQ(stb.DirUpEntry(0x44, 0, "d" + S), std::make_pair(0, 0u));
            EXPECT_EQ(stb.DirUpEntry(0x46, 5, "d" + S + "/" + S), std::make_pair(0, 5u));
            EXPECT_EQ(stb.DirUpBlock(0, "ready"), 5u);
        }
        EXPECT_EQ(share.ReadFile(L + "/d" + L + "/" + L), "ready");
    }
}

// A name the code page cannot hold (or that is not UTF-8 at all) is kept from the STB with
// one line; every other entry is there and every count agrees with what is sent.
TEST(StbCharset, NameTheCodePageCannotHoldIsLeftOutAndNothingElse)
{
    CTempShare share;
    std::unique_ptr<CTestServer> server = FixedCharsetServer("CP1252");
    const std::string kCyrillic = "\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC\xD1\x8B";  // "Films"
    const std::string kBad = "bad\x01\xFF";                                           // not UTF-8
    share.WriteFile("T/a.txt", "abc");
    share.WriteFile("T/caf\xC3\xA9.txt", "1234");
    share.WriteFile("T/" + kCyrillic + "/x.bin", "hidden");
    if (kRawNames)
        share.WriteFile("T/" + kBad, "hidden too");
    share.WriteFile(kCyrillic + ".stb", Firmware(0x1234, 0x0900));
    share.WriteFile("fw.stb", Firmware(0x1234, 0x0200));

    testing::internal::CaptureStdout();
    CStbSession stb(server->Port());
    EXPECT_EQ(Listing(stb, "/T"),
              Rec(true, ".") + Rec(true, "..") + Rec(false, "a.txt") + Rec(false, "caf\xE9.txt"));
    // The firmware query passes over the newer file whose name could not be asked for.
    EXPECT_EQ(stb.Ask(0x12, std::string("\x09\x34\x12\x01\x00\0", 6), 0xE2), std::string("\0fw.stb\0", 8));
    const std::string reply = stb.Ask(0x13, PathPayload("/T"), 0xE3);
    ASSERT_EQ(reply.size(), 13u);
    EXPECT_EQ(GetU32(reply, 1), 3u);      // T/, T/a.txt, T/café.txt
    EXPECT_EQ(GetLE(reply, 5, 8), 7u);    // their sizes only
    EXPECT_EQ(stb.Exchange(0x01, LE(2, 4)), CReply(0x10, std::string(1, '\0') + LE(4, 4) + "T/caf\xE9.txt" + '\0'));
    EXPECT_EQ(stb.Exchange(0x01, LE(3, 4)), CReply(0x03, LE(3, 4) + '\0'));
    const std::string out = testing::internal::GetCapturedStdout();

    for (const std::string& shown : {share.Path("T/" + kCyrillic), share.Path("T/bad\\x01\xFF"),
                                     share.Path(kCyrillic + ".stb")}) {
        if (!kRawNames && shown == share.Path("T/bad\\x01\xFF"))
            continue;
        // The listing's and the walk's lines name local paths in their generic form
        // (separators '/'); the firmware query's names the file below the folder as stored
        // (on Windows with '\' between the names, which the line writes as \x5c).
        const bool bFirmware = shown == share.Path(kCyrillic + ".stb");
        const std::string line =
            "name not shown: " + (bFirmware ? AsLogged(shown) : LocalFsString(LocalFsPath(shown))) + "\n";
        size_t n = 0;
        for (size_t at = out.find(line); at != std::string::npos; at = out.find(line, at + 1))
            ++n;
        EXPECT_EQ(n, shown == share.Path(kCyrillic + ".stb") ? 1u : 2u) << line;  // listing and walk
    }
    if (!kRawNames)
        GTEST_SKIP() << "the name that is no UTF-8 (\"bad\\x01\\xFF\") is not made: Windows keeps names in UTF-16";
}

// A name is shown only under bytes that decode back to exactly it: CP932 writes some
// characters as the bytes of others ("a¥b.txt" as "a\b.txt", a path into folder a; the
// wave dash U+301C as the fullwidth tilde U+FF5E; the overline as '~'; and so on). Every
// listed name leads to its own file, and deleting what was listed deletes nothing else.
TEST(StbCharset, ListedNameNeverLeadsToAnotherFile)
{
    struct Case {
        std::string strLocal;
        std::string strStb;  // empty: not shown
    };
    const Case cases[] = {
        {"a\xC2\xA5" "b.txt", ""},                     // U+00A5 YEN SIGN: 5C, the '\' of "a\b.txt"
        {"wave\xE3\x80\x9C.txt", ""},                  // U+301C WAVE DASH: 81 60, which is ...
        {"wave\xEF\xBD\x9E.txt", "wave\x81\x60.txt"},  // ... U+FF5E FULLWIDTH TILDE
        {"\xE2\x80\xBE.txt", ""},                      // U+203E OVERLINE: 7E, which is ...
        {"~.txt", "~.txt"},                            // ... the tilde
        {"\xE2\x80\x96.txt", ""},                      // U+2016 DOUBLE VERTICAL LINE: 81 61, which is ...
        {"\xE2\x88\xA5.txt", "\x81\x61.txt"},          // ... U+2225 PARALLEL TO
        {"\xE2\x88\x92.txt", ""},                      // U+2212 MINUS SIGN: 81 7C, which is ...
        {"\xEF\xBC\x8D.txt", "\x81\x7C.txt"},          // ... U+FF0D FULLWIDTH HYPHEN-MINUS
    };
    CTempShare share;
    std::unique_ptr<CTestServer> server = FixedCharsetServer("CP932");
    share.WriteFile("a/b.txt", "the file in a");
    std::map<std::string, std::string> kept{{"a", "<dir>"}, {"a/b.txt", "the file in a"}};
    for (const Case& c : cases) {
        share.WriteFile(c.strLocal, "content of " + c.strLocal);
        if (c.strStb.empty())
            kept[c.strLocal] = "content of " + c.strLocal;
    }

    testing::internal::CaptureStdout();
    CStbSession stb(server->Port());
    std::vector<std::string> listed = Records(Listing(stb, "/"));
    std::vector<std::string> expected{Rec(true, "."), Rec(true, ".."), Rec(true, "a")};
    for (const Case& c : cases) {
        if (!c.strStb.empty())
            expected.push_back(Rec(false, c.strStb));
    }
    std::sort(listed.begin(), listed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);
    // Each name listed leads to the file it stands for, and deleting it deletes that file.
    std::map<std::string, std::string> contents;  // by the name the STB is to see
    for (const Case& c : cases) {
        if (!c.strStb.empty())
            contents[c.strStb] = "content of " + c.strLocal;
    }
    for (const std::string& rec : listed) {
        const std::string strStb = rec.substr(1, rec.size() - 2);
        if (rec[0] != '\0')
            continue;
        SCOPED_TRACE(strStb);
        const auto it = contents.find(strStb);
        const std::string strContent = it != contents.end() ? it->second : "(no file of this name)";
        EXPECT_EQ(Sized(stb, 0x02, PathPayload("/" + strStb)), std::make_pair(0, uint32_t(strContent.size())));
        EXPECT_EQ(stb.Fetch(0x03, 0, strContent.size(), strContent.size()), strContent);
        EXPECT_EQ(stb.Status(0x08, PathPayload("/" + strStb), 0xF8), 0);
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(Tree(share.Share()), kept);
    for (const Case& c : cases) {
        const std::string line = "name not shown: " + LocalFsString(LocalFsPath(share.Path(c.strLocal))) + "\n";
        EXPECT_EQ(Contains(out, line), c.strStb.empty()) << line << out;
    }
}

// After a move, what the STB took is gone; what it was never shown stays, and with it
// the folder that holds it.
TEST(StbCharset, MoveDeletesOnlyWhatTheStbWasShown)
{
    CTempShare share;
    std::unique_ptr<CTestServer> server = FixedCharsetServer("CP1252");
    share.WriteFile("T/a.txt", "abc");
    share.WriteFile("T/\xD0\xA4.txt", "kept");
    CStbSession stb(server->Port());
    const std::string reply = stb.Ask(0x13, PathPayload("/T"), 0xE3);
    ASSERT_EQ(reply.size(), 13u);
    EXPECT_EQ(GetU32(reply, 1), 2u);
    EXPECT_EQ(stb.Ask(0x19, LE(2, 4), 0xE9), std::string("\x02", 1) + LE(2, 4));
    EXPECT_EQ(Tree(share.Path("T")), (std::map<std::string, std::string>{{"\xD0\xA4.txt", "kept"}}));
}

// The stored Charset key is read with the folder at every request; the command line's
// code page, given, wins over it (an empty one: names unchanged).
TEST(StbCharset, StoredCodePageIsReadAfreshUnlessTheCommandLineFixedOne)
{
    struct Case {
        bool bFixed;
        const char* pszFixed;
        const char* pszStored;
        std::string strListed;
    };
    const Case cases[] = {
        {false, "", "CP1252", "caf\xE9"},
        {false, "", "", "caf\xC3\xA9"},
        {true, "", "CP1252", "caf\xC3\xA9"},
        {true, "CP1252", "", "caf\xE9"},
    };
    CTempShare share;
    share.WriteFile("caf\xC3\xA9", "");
    std::unique_ptr<CTestServer> servers[2] = {std::make_unique<CTestServer>(), nullptr};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.bFixed ? "fixed '" : "stored '") + (c.bFixed ? c.pszFixed : c.pszStored) + "'");
        servers[1] = FixedCharsetServer(c.pszFixed);
        CStbSession stb(servers[c.bFixed]->Port());
        ASSERT_EQ(plat::ProfileWriteString(g_pszConfigSection, g_pszCharsetKey, c.pszStored), 0);
        EXPECT_EQ(Listing(stb, "/"), Rec(true, ".") + Rec(true, "..") + Rec(false, c.strListed));
    }
}

// Every byte from the STB is checked: a path that does not decode, or whose local form
// could not be opened for its length, is refused; a code page that cannot carry names
// (unknown, not ASCII-compatible, with iconv's options) is never used.
TEST(StbNames, PathsDecodeOnlyWhenWholeAndCodePagesOnlyWhenUsable)
{
    struct Case {
        const char* pszCharset;
        std::string strStb;
        int nResult;
        std::string strLocal;
    };
    const Case cases[] = {
        {"CP932", "/\x95\x5C/\x83\x5C", 0, "/\xE8\xA1\xA8/\xE3\x82\xBD"},
        {"CP932", "/a\x95", -1, ""},  // cut inside a character
#ifdef _WIN32
        {"CP1252", "/\x81", 0, "/\xC2\x81"},  // Windows' own table gives it U+0081
#else
        {"CP1252", "/\x81", -1, ""},  // no character at all
#endif
        // One byte longer than the system's limit once decoded: 3 bytes of UTF-8 each.
        {"CP1252", std::string(plat::kMaxPathBytes / 3 + 1, '\x80'), -1, ""},
        {"CP1252", std::string(1000, '\xE9'), 0, Repeat("\xC3\xA9", 1000)},  // 2,000: fine
        {"", "/\x81\xFF", 0, "/\x81\xFF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pszCharset) + " " + c.strStb.substr(0, 8));
        CStbNames names;
        ASSERT_EQ(names.Select(c.pszCharset), 0);
        std::string local = "left over";
        EXPECT_EQ(names.ToLocal(c.strStb.c_str(), local), c.nResult);
        EXPECT_EQ(local, c.strLocal);
    }
    // The ISO-2022 pages shift in and out of their character sets with escape sequences:
    // refused by name and by what they do (escapes in names, and bytes whose meaning
    // depends on those before them).
    for (const char* psz : {"NO-SUCH-PAGE", "UTF-16", "UTF-7", "CP1252//TRANSLIT", "CP1252//IGNORE", "ISO-2022-JP",
                            "csISO2022JP", "ISO-2022-JP-2", "ISO-2022-CN", "CP50220"}) {
        SCOPED_TRACE(psz);
        EXPECT_NE(CheckStbCodePage(psz), 0);
        CStbNames names;
        EXPECT_NE(names.Select(psz), 0);
        std::string local;
        EXPECT_NE(names.ToLocal("/a", local), 0) << "a path went through an unusable code page";
    }
}

// A code page the daemon cannot use stops it at start, from the command line or the
// settings file, as other bad options do.
TEST(StbCharset, UnknownCodePageIsRefusedAtStart)
{
    const std::vector<std::vector<const char*>> bad = {
        {"--charset", "NOPE"}, {"--charset", "UTF-16"}, {"--charset", "ISO-2022-JP"}};
    for (const auto& args : bad) {
        std::vector<const char*> argv{"corvane", args[0], args[1]};
        CCmdLine cmd;
        std::string strError;
        EXPECT_EQ(ParseCmdLine(3, argv.data(), cmd, strError), -1);
        EXPECT_TRUE(Contains(strError, std::string("'") + args[1] + "'")) << strError;
    }
    CTempShare share;
    ASSERT_EQ(plat::ProfileWriteString(g_pszConfigSection, g_pszCharsetKey, "NOPE"), 0);
    const char* argv[] = {"corvane"};
    CCmdLine cmd;
    std::string strError;
    ASSERT_EQ(ParseCmdLine(1, argv, cmd, strError), 0);
    CSessMan man;
    CDaemonOptions options;
    EXPECT_EQ(ApplyNetOptions(cmd, man, options, strError), -1);
    EXPECT_TRUE(Contains(strError, "Charset=NOPE")) << strError;
    const char* argvFixed[] = {"corvane", "--charset", "CP949"};
    ASSERT_EQ(ParseCmdLine(3, argvFixed, cmd, strError), 0);
    EXPECT_EQ(ApplyNetOptions(cmd, man, options, strError), 0) << "the command line wins over the stored key";
    EXPECT_TRUE(man.Options().bFixedCharset);
    EXPECT_EQ(man.Options().strCharset, "CP949");
}

// --config FILE is the settings file the daemon reads (here a bad Charset in it stops the
// start) and the one --share writes, in folders made for it where missing; a file that
// cannot be written is said so.
TEST(ConfigOption, NamedFileIsReadAndWrittenInsteadOfThePerUserOne)
{
    // The daemon names files in the system's own form (on Windows with '\\' between the
    // names) and ends its lines as the system's text does ("\r\n" there).
    auto said = [](std::string str) {
#ifdef _WIN32
        std::replace(str.begin(), str.end(), '/', '\\');
#endif
        return str;
    };
    auto lines = [](const std::string& file) {
        std::string str = ReadLocalFile(file);
        str.erase(std::remove(str.begin(), str.end(), '\r'), str.end());
        return str;
    };
    CTempShare share;
    const std::string ini = share.Root() + "/etc.ini";
    const std::string err = share.Root() + "/stderr";
    WriteLocalFile(ini, "[Config]\nCharset = NOPE\n");
    // The daemon's exit status; -1 when it did not exit by itself.
    auto run = [&](const std::string& file) {
        CDaemonProcess daemon(share.Root(), "config");
        if (!daemon.Start({"--headless", "--quiet", "--port", "1", "--config", file, "--share", share.Share() + "/T"},
                          "", err)) {
            ADD_FAILURE() << daemon.Error();
            return -1;
        }
        return daemon.Exited(30000) && daemon.ExitCode() >= 0 ? daemon.ExitCode() : -1;
    };
    share.WriteFile("T/x", "");
    EXPECT_EQ(run(ini), 2);
    EXPECT_TRUE(Contains(lines(err), "Charset=NOPE in " + said(ini))) << lines(err);
    EXPECT_EQ(IniValue(ini, "Config", "Path"), said(share.Share() + "/T"));
    EXPECT_EQ(GetSharedFolder(), share.Share()) << "the per-user file changed";

    // A file stands where a folder on the way should be.
    EXPECT_EQ(run(ini + "/etc.ini"), 2);
    EXPECT_EQ(lines(err), "corvane: cannot store the shared folder in " + said(ini + "/etc.ini") + "\n");
    // Missing folders on the way are made.
    {
        const std::string made = share.Root() + "/missing/deeper/etc.ini";
        CDaemonProcess daemon(share.Root(), "config");
        ASSERT_NE(daemon.StartListening({"--headless", "--quiet", "--config", made, "--share", share.Share() + "/T"}), 0)
            << daemon.Error() << "\n"
            << daemon.Err();
        EXPECT_EQ(IniValue(made, "Config", "Path"), said(share.Share() + "/T"));
    }

    plat::SetProfilePath(ini);
    EXPECT_EQ(GetShareSetting().strFolder, said(share.Share() + "/T"));
    EXPECT_EQ(GetShareSetting().strCharset, "NOPE");
    plat::SetProfilePath("");
    EXPECT_EQ(GetSharedFolder(), share.Share());
}
