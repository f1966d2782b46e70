// The Windows side of the program starter (the Linux one is daemon_proc.cpp): CreateProcessW
// with the standard handles on files or a pipe, a console Ctrl-Break for Stop, which the
// daemon's console control handler takes as the end of the run, TerminateProcess for Kill.
#ifdef _WIN32

#include "tests/daemon_proc.h"
#include "tests/daemon_proc_wait.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

// The exit code a child ended by Kill (TerminateProcess) gets, as SIGKILL would report it.
constexpr UINT kKilledCode = 9;

std::wstring Wide(const std::string& s)
{
    if (s.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string LastError()
{
    return "error " + std::to_string(GetLastError());
}

// One argument quoted as CommandLineToArgvW and the C runtime's start-up take it apart:
// backslashes double only where a quote follows them.
void AppendQuoted(std::wstring& cmd, const std::wstring& arg)
{
    if (!cmd.empty())
        cmd += L' ';
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        cmd += arg;
        return;
    }
    cmd += L'"';
    size_t nSlashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++nSlashes;
            continue;
        }
        cmd.append(c == L'"' ? 2 * nSlashes + 1 : nSlashes, L'\\');
        nSlashes = 0;
        cmd += c;
    }
    cmd.append(2 * nSlashes, L'\\');
    cmd += L'"';
}

// A handle the child inherits: a file opened for writing (replaced), or NUL for reading.
HANDLE InheritableFile(const std::string& strPath, bool bWrite)
{
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    return CreateFileW(Wide(strPath).c_str(), bWrite ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                       bWrite ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void CloseIfOpen(HANDLE h)
{
    if (h != nullptr && h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
}

// The sockets library, held for as long as the call that needs it runs (it counts).
class CWinsock {
public:
    CWinsock() { m_bUp = WSAStartup(MAKEWORD(2, 2), &m_data) == 0; }
    ~CWinsock()
    {
        if (m_bUp)
            WSACleanup();
    }
    CWinsock(const CWinsock&) = delete;
    CWinsock& operator=(const CWinsock&) = delete;

private:
    WSADATA m_data{};
    bool m_bUp = false;
};


// The file's text with the C runtime's line ends ("\r\n") read as '\n', as on Linux.
std::string ReadTextFile(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    std::string s = out.str(), text;
    text.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i] != '\r' || i + 1 >= s.size() || s[i + 1] != '\n')
            text += s[i];
    return text;
}

// This process's answer to the Ctrl-Break it sends through a child's console: ignored.
BOOL WINAPI IgnoreConsoleControl(DWORD) { return TRUE; }

}  // namespace

bool Connects(const char* pszAddr, uint16_t port)
{
    CWinsock winsock;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, pszAddr, &sa.sin_addr) != 1)
        return false;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return false;
    const bool bConnected = connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0;
    closesocket(s);
    return bConnected;
}

CDaemonProcess::CDaemonProcess(const std::string& strFolder, const std::string& strTag, const std::string& strProgram)
    : m_strFolder(strFolder), m_strProgram(strProgram.empty() ? CORVANE_BIN : strProgram),
      m_strOut(strFolder + "/" + strTag + ".out"), m_strErr(strFolder + "/" + strTag + ".err")
{
}

CDaemonProcess::~CDaemonProcess()
{
    Kill();
    ClosePipe();
    CloseIfOpen(static_cast<HANDLE>(m_hProcess));
}

bool CDaemonProcess::Start(const std::vector<std::string>& args, const std::string& strCwd,
                           const std::string& strErrTo)
{
    Kill();
    ClosePipe();
    CloseIfOpen(static_cast<HANDLE>(m_hProcess));
    m_hProcess = nullptr;
    m_pid = -1;
    m_strError.clear();
    std::wstring wstrCmd;
    AppendQuoted(wstrCmd, Wide(m_strProgram));
    for (const std::string& arg : args)
        AppendQuoted(wstrCmd, Wide(arg));

    // The child inherits exactly the three standard handles.
    HANDLE hIn = InheritableFile("NUL", false);
    HANDLE hOut = INVALID_HANDLE_VALUE, hPipeRead = INVALID_HANDLE_VALUE;
    if (m_bOutPipe) {
        SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
        if (CreatePipe(&hPipeRead, &hOut, &sa, 0))
            SetHandleInformation(hPipeRead, HANDLE_FLAG_INHERIT, 0);
    } else {
        hOut = InheritableFile(m_strOut, true);
    }
    HANDLE hErr = InheritableFile(strErrTo.empty() ? m_strErr : strErrTo, true);
    if (hIn == INVALID_HANDLE_VALUE || hOut == INVALID_HANDLE_VALUE || hErr == INVALID_HANDLE_VALUE) {
        m_strError = "cannot open the standard handles for " + m_strProgram + ": " + LastError();
        for (HANDLE h : {hIn, hOut, hErr, hPipeRead})
            CloseIfOpen(h);
        return false;
    }
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = hIn;
    si.hStdOutput = hOut;
    si.hStdError = hErr;
    PROCESS_INFORMATION pi{};
    const std::wstring wstrCwd = Wide(strCwd);
    // A console of its own, without a window, for Stop's Ctrl-Break, and a process group
    // of its own, so that the event reaches the child alone.
    const BOOL bStarted = CreateProcessW(nullptr, wstrCmd.data(), nullptr, nullptr, TRUE,
                                         CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP,
                                         nullptr, wstrCwd.empty() ? nullptr : wstrCwd.c_str(), &si, &pi);
    if (!bStarted)
        m_strError = "cannot start " + m_strProgram + ": " + LastError();
    for (HANDLE h : {hIn, hOut, hErr})
        CloseHandle(h);
    if (m_bOutPipe) {
        if (bStarted)
            m_fdOutPipe = _open_osfhandle(reinterpret_cast<intptr_t>(hPipeRead), _O_RDONLY | _O_BINARY);
        else
            CloseHandle(hPipeRead);
    }
    if (!bStarted)
        return false;
    CloseHandle(pi.hThread);
    m_hProcess = pi.hProcess;
    m_pid = static_cast<pid_t>(pi.dwProcessId);
    m_bExited = false;
    m_nStatus = 0;
    return true;
}

void CDaemonProcess::ClosePipe()
{
    if (m_fdOutPipe >= 0)
        _close(m_fdOutPipe);
    m_fdOutPipe = -1;
}

bool CDaemonProcess::Exited(int timeoutMs)
{
    if (m_hProcess == nullptr || m_bExited)
        return true;
    if (WaitForSingleObject(static_cast<HANDLE>(m_hProcess), static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0)
        return false;
    DWORD dwCode = 0;
    GetExitCodeProcess(static_cast<HANDLE>(m_hProcess), &dwCode);
    m_nStatus = static_cast<int>(dwCode);
    m_bExited = true;
    return true;
}

int CDaemonProcess::ExitCode() const
{
    if (!m_bExited)
        return -1;
    return m_nStatus;
}

int CDaemonProcess::Stop(int timeoutMs)
{
    // Where no console event can be sent (Wine), the child is ended at once.
    if (Running() && (!SendConsoleBreak() || !Exited(timeoutMs)))
        Kill();
    return ExitCode();
}

// Every request to end (SIGINT, SIGTERM, SIGBREAK) is a Ctrl-Break, the one console
// event that a process group of its own receives.
void CDaemonProcess::Signal(int nSig) const
{
    if (nSig == SIGINT || nSig == SIGTERM || nSig == SIGBREAK)
        SendConsoleBreak();
}

// The event goes through the child's console: this process joins it for the call, with
// its own answer to the event in place, and then returns to its own console, if it had one.
bool CDaemonProcess::SendConsoleBreak() const
{
    if (!Running())
        return false;
    const bool bHadConsole = GetConsoleWindow() != nullptr;
    FreeConsole();
    bool bSent = false;
    if (AttachConsole(static_cast<DWORD>(m_pid))) {
        SetConsoleCtrlHandler(IgnoreConsoleControl, TRUE);
        bSent = GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(m_pid)) != FALSE;
        FreeConsole();
        SetConsoleCtrlHandler(IgnoreConsoleControl, FALSE);
    }
    if (bHadConsole)
        AttachConsole(ATTACH_PARENT_PROCESS);
    return bSent;
}

void CDaemonProcess::Kill()
{
    if (!Running())
        return;
    TerminateProcess(static_cast<HANDLE>(m_hProcess), kKilledCode);
    WaitForSingleObject(static_cast<HANDLE>(m_hProcess), INFINITE);
    m_nStatus = -1000 - static_cast<int>(kKilledCode);
    m_bExited = true;
}

std::string CDaemonProcess::Out() const { return ReadTextFile(m_strOut); }

std::string CDaemonProcess::Err() const { return ReadTextFile(m_strErr); }

#endif  // _WIN32
