// What the suites share: a temporary shared folder with its own settings and runtime
// folders, frames as bytes, an in-process session manager (whose sessions a test reaches
// over memory links, or over a free loopback port) and a blocking loopback client.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "net/sessman.h"

// Where a CTempShare puts the daemon's own files (its settings file and its lock).
enum class OwnFilesPlace {
    Beside,   // beside the shared folder: <root>/cfg and <root>/run
    InShare,  // in it: <share>/.config, <share>/run, <share>/.local/state (a home folder shared)
};

class CMemSession;

// A temporary folder tree for one test: <root>/share is the shared folder, <root>/cfg is
// XDG_CONFIG_HOME, <root>/run is XDG_RUNTIME_DIR and <root>/state holds the daemon's state
// folder (XDG_STATE_HOME, on Windows LOCALAPPDATA) (set by the constructor, restored by
// the destructor, which also removes the tree). The constructor stores <root>/share as the
// shared folder through StoreSharedFolder(). With OwnFilesPlace::InShare the settings,
// runtime and state folders are <share>/.config, <share>/run and <share>/.local/state
// (on Windows <share>/AppData/Local) instead; on Windows, whose settings
// live in the registry, the settings file <share>/.config/Corvane/<app name>.ini is then
// named as --config names one.
class CTempShare {
public:
    CTempShare() : CTempShare(OwnFilesPlace::Beside) {}
    explicit CTempShare(OwnFilesPlace ePlace);
    ~CTempShare();
    CTempShare(const CTempShare&) = delete;
    CTempShare& operator=(const CTempShare&) = delete;

    const std::string& Root() const { return m_strRoot; }
    const std::string& Share() const { return m_strShare; }
    std::string Path(const std::string& rel) const { return m_strShare + "/" + rel; }  // Share() + "/" + rel
    // Writes (creating or replacing) a file below the shared folder; parent folders are made.
    void WriteFile(const std::string& rel, const std::string& bytes) const;
    // The whole file below the shared folder; empty when it cannot be read.
    std::string ReadFile(const std::string& rel) const;

private:
    std::string m_strRoot;
    std::string m_strShare;
    std::string m_strOldConfig, m_strOldRuntime, m_strOldState;
    bool m_bHadConfig = false, m_bHadRuntime = false, m_bHadState = false;
    bool m_bNamedSettings = false;  // the settings file is named as --config names one
};

// A local path as the tests' file-system calls take it: its bytes read as UTF-8 on
// Windows, as the daemon reads them there (a plain std::string would be read in the ANSI
// code page), the bytes unchanged elsewhere.
std::filesystem::path LocalFsPath(const std::string& strPath);
// The reverse: the path in its generic form (separators '/') as bytes, UTF-8 on Windows.
std::string LocalFsString(const std::filesystem::path& path);

// The path in a form in which the system keeps every name byte for byte: on Windows the
// extended-length form ("\\?\C:\..."), in which names that end in '.' or ' ' are not cut
// (the daemon's own form); elsewhere the path itself.
std::string ExactLocalPath(const std::string& strPath);

// A frame as bytes: A5, LEN little-endian, command, payload, checksum. The checksum is
// computed here independently of the daemon's own code.
std::string MakeFrame(uint8_t cmd, const std::string& payload);

// Reads and writes whole files by local path (empty string when the file cannot be read).
std::string ReadLocalFile(const std::string& strPath);
void WriteLocalFile(const std::string& strPath, const std::string& bytes);

// The value of key in [section] of an INI file, spaces around '=' trimmed; "\x01missing"
// when the file, section or key is absent.
std::string IniValue(const std::string& strFile, const std::string& section, const std::string& key);

// A socket listening on a free loopback port (to make a port taken); its port in port.
// (A port merely free, FreeLoopbackPort, comes with the program starter, daemon_proc.h.)
int ListenLoopback(uint16_t& port);

// Session caps of the in-process manager that no test meets unless it asks for lower ones:
// every test's connections come from 127.0.0.1.
constexpr int kTestSessionCap = 100000;

class CTestServer;

// Where a client reaches an in-process server. A CStbSession made from it is a session
// of the server over a memory link, served on the test's own thread: no port, no
// session thread. Taken as a number it is the server's loopback port (the listener
// starts the first time): a CTestClient, or a CStbSession made from the number, connects
// there over TCP.
class CServerPort {
public:
    explicit CServerPort(CTestServer& server) : m_Server(server) {}
    operator uint16_t() const;
    CTestServer& Server() const { return m_Server; }

private:
    CTestServer& m_Server;
};

// An in-process session manager (CSessMan) with both session caps at kTestSessionCap.
// Its options are set by the constructor; its listener (m_usPort = 0: any free port)
// starts only when a port is asked for. Destroy() in the destructor.
class CTestServer {
public:
    explicit CTestServer(int waitMs = 10000, int bodyMs = 5000);
    // setup sets any other option of the manager.
    explicit CTestServer(const std::function<void(CSessMan&)>& setup);
    ~CTestServer();
    CTestServer(const CTestServer&) = delete;
    CTestServer& operator=(const CTestServer&) = delete;

    CServerPort Port() { return CServerPort(*this); }
    // The loopback port of the running listener; the first call starts it.
    uint16_t ListenPort();
    // A new session over a memory link with the manager's options, as the accept thread
    // would give a connection's session.
    std::unique_ptr<CMemSession> NewMemSession();

    // The calls below look at the running manager: each starts the listener first.
    CSessMan& Man();
    // True once the accept thread has taken at least nAccepted connections (m_nAccepted)
    // and waits in accept again: it has finished with them, reaping included, and leaves
    // the session list alone until the next connection arrives.
    bool WaitIdle(unsigned nAccepted, int timeoutMs = 5000);
    // The number of sessions in the manager's list. Only safe while the accept thread is
    // idle (WaitIdle).
    int SessionCount();

private:
    CSessMan m_Man;
    uint16_t m_usPort = 0;  // 0 until the listener runs
};

// A blocking loopback client. A derived client may carry its bytes another way (the
// three virtual calls).
class CTestClient {
public:
    explicit CTestClient(uint16_t port);
    // Connects to pszTo:port from the local address pszFrom (dotted IPv4; any of 127/8 is
    // this computer's; null: any), as a host of that address would. A receive buffer of
    // nRecvBufBytes (0: the system's) is set before the connection is made, so that the
    // window the client offers is never larger: a peer with little room.
    CTestClient(uint16_t port, const char* pszFrom, const char* pszTo = "127.0.0.1", int nRecvBufBytes = 0);
    virtual ~CTestClient();
    CTestClient(const CTestClient&) = delete;
    CTestClient& operator=(const CTestClient&) = delete;

    virtual bool Connected() const { return m_nFd >= 0; }
    int Fd() const { return m_nFd; }

    // Sends every byte; a failed send is a test failure.
    void SendRaw(const std::string& bytes);
    // Sends every byte; false when the connection refused them (no test failure).
    virtual bool TrySend(const std::string& bytes);
    void SendFrame(uint8_t cmd, const std::string& payload) { SendRaw(MakeFrame(cmd, payload)); }

    // Reads one whole frame; sync byte, LEN and checksum are checked with test assertions.
    // False on time-out, close, or a malformed frame.
    bool RecvFrame(uint8_t& cmd, std::string& payload, int timeoutMs = 5000);
    // Exactly n bytes, or fewer when the connection closed or the time ran out.
    virtual std::string RecvBytes(size_t n, int timeoutMs = 5000);
    // True once the server has closed the connection (bytes arriving before are dropped).
    virtual bool WaitClosed(int timeoutMs = 5000);

protected:
    CTestClient() = default;  // no connection: the derived client carries the bytes

private:
    int m_nFd = -1;
};

// Polls pred every few milliseconds until it holds or the time runs out; returns pred().
bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 5000);
// Milliseconds left until the deadline; 0 once it has passed.
int RemainingMs(std::chrono::steady_clock::time_point deadline);

// Lowers this process's file-size limit, which an in-process daemon shares, the way a full
// volume refuses bytes. SIGXFSZ is ignored as the daemon ignores it, so a write past the
// limit fails with EFBIG instead of ending the process. Lift() (and the destructor)
// restore the limit.
class FileSizeLimit {
public:
    FileSizeLimit();
    ~FileSizeLimit() { Lift(); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    void Lower(uint64_t ullBytes);
    void Lift();

private:
    uint64_t m_ullOldCur = 0, m_ullOldMax = 0;
};

// The volume that holds the path as the system reports it: the size of its clusters (the
// unit of a disk-size request that names none), and its free and total bytes. False when
// the volume cannot be queried.
struct CVolumeFigures {
    uint64_t ullClusterBytes = 0;
    uint64_t ullFreeBytes = 0;
    uint64_t ullTotalBytes = 0;
};
bool QueryVolume(const std::string& strPath, CVolumeFigures& figures);

// The bytes the volume has set aside for the file (a sparse file's holes take none); -1
// when the file cannot be queried.
int64_t AllocatedBytes(const std::string& strPath);

// True when some opener holds the file so that nobody else may read it beside it right
// now: an exclusive flock, on Windows an opening that shares no reading.
bool HeldExclusively(const std::string& strPath);

// The file held open the way another program holds it against every other opener (an
// exclusive flock; on Windows an opening that shares nothing) from construction until
// destruction. Held() says whether that worked.
class CHeldFile {
public:
    explicit CHeldFile(const std::string& strPath);
    ~CHeldFile();
    CHeldFile(const CHeldFile&) = delete;
    CHeldFile& operator=(const CHeldFile&) = delete;
    bool Held() const { return m_bHeld; }

private:
    intptr_t m_nHandle = -1;  // a descriptor, on Windows a HANDLE
    bool m_bHeld = false;
};

// True when the tests run under Wine, which lacks a few of the calls that the Windows
// layer makes (a test then leaves out what it cannot check there, and says so).
bool UnderWine();

// The bytes that have arrived on the socket and wait to be received; -1 when the socket
// cannot say.
int UnreadBytes(plat::Socket s);
// Gives the socket the smallest send and receive buffers the system allows, so that a
// frame passes through it in many pieces.
void ShrinkSocketBuffers(plat::Socket s);
