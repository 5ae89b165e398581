// Helpers for the connection tests: a scripted peer that speaks raw TCP,
// a Quorbel.exe started in its own folder, and a runner that keeps the
// window thread serving messages while the peer script runs.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "win_test_support.h"

namespace testing_support {

// WSAStartup for the test's own sockets, balanced at the end.
class WinsockSession {
public:
    WinsockSession();
    ~WinsockSession();
};

// One blocking TCP socket of the scripted peer. Every receive waits at most
// its time-out (SO_RCVTIMEO), so no test can hang on it.
class PeerSocket {
public:
    PeerSocket() = default;
    explicit PeerSocket(SOCKET s) : socket_(s) {}
    PeerSocket(PeerSocket&& other) noexcept : socket_(other.socket_) { other.socket_ = INVALID_SOCKET; }
    PeerSocket& operator=(PeerSocket&& other) noexcept;
    PeerSocket(const PeerSocket&) = delete;
    PeerSocket& operator=(const PeerSocket&) = delete;
    ~PeerSocket();

    // Connects to 127.0.0.1:port, trying again every 100 ms until it works
    // or the time-out passes.
    bool Connect(int port, int timeoutMs);
    // Listens on 127.0.0.1:port (SO_REUSEADDR, so a port in TIME_WAIT is fine).
    bool Listen(int port);
    // Accepts one connection within the time-out.
    PeerSocket Accept(int timeoutMs);

    bool Send(const std::string& bytes);
    // One recv (at most 1024 bytes): the message, or empty with `closed`
    // telling whether the other side closed (0) rather than timed out.
    std::string Receive(int timeoutMs, bool* closed = nullptr);
    // True when the other side closes (recv gives 0 or an error) in time.
    bool WaitClosed(int timeoutMs);
    bool valid() const { return socket_ != INVALID_SOCKET; }
    SOCKET get() const { return socket_; }
    void Close();

private:
    SOCKET socket_ = INVALID_SOCKET;
};

// Quorbel.exe copied into its own folder with a prepared Quorbel.ini and
// started with "/CMD"; always ended (TerminateProcess) when destroyed.
class QuorbelProcess {
public:
    // `iniLines` are added to the section after doui_mode=1.
    QuorbelProcess(const std::wstring& iniLines, const std::wstring& boxAnswers = L"");
    ~QuorbelProcess();
    bool started() const { return process_ != nullptr; }
    bool running() const;
    // Waits until the process has ended by itself.
    bool WaitExit(int timeoutMs) const;
    // Its main window ("Main Window"), found within the time-out.
    HWND MainWindow(int timeoutMs = 10000) const;
    // The boxes it logged, one "caption<TAB>text" per line (UTF-8).
    std::vector<std::string> Boxes() const;
    const std::wstring& folder() const { return folder_.path(); }

private:
    TempFolder folder_;
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
};

// Waits until some socket listens on the port (the TCP table of the system).
bool WaitListening(int port, int timeoutMs);

// Runs `script` on a worker thread while this (window) thread keeps serving
// its messages; waits at most `timeoutMs` for it, then joins it anyway (the
// script's own socket time-outs bound it).
void RunWhilePumping(const std::function<void()>& script, int timeoutMs = 30000);

// Text of a right-pane row's column.
std::wstring PaneText(HWND pane, int row, int column);
int PaneRowCount(HWND pane);

// "DR%06d" header number of a record, -1 when it has none.
int RecordNumber(const std::string& record);

// Settings lines of a Client that connects to 127.0.0.1:port.
std::wstring ClientSettings(int port);
std::wstring ServerSettings(int port);

// The Server's default ID and PW for today (an empty dipa / wppa).
std::string DefaultLoginText();

// Puts the program's protocol back to Waiting with no listing or copy
// left from an earlier test of this process.
void ResetProtocolForTest();


}  // namespace testing_support
