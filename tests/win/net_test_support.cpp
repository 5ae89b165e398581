#include "net_test_support.h"

#include <ws2tcpip.h>
#include <commctrl.h>
#include <iphlpapi.h>

#include <atomic>
#include <thread>

#include "app/wintext.h"
#include "core/protocol.h"
#include "net/net.h"
#include "core/settings_rules.h"

namespace testing_support {

WinsockSession::WinsockSession() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}

WinsockSession::~WinsockSession() { WSACleanup(); }

PeerSocket& PeerSocket::operator=(PeerSocket&& other) noexcept {
    if (this != &other) {
        Close();
        socket_ = other.socket_;
        other.socket_ = INVALID_SOCKET;
    }
    return *this;
}

PeerSocket::~PeerSocket() { Close(); }

void PeerSocket::Close() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    socket_ = INVALID_SOCKET;
}

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

bool PeerSocket::Connect(int port, int timeoutMs) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(timeoutMs);
    for (;;) {
        Close();
        socket_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = Loopback(port);
        if (connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return true;
        if (GetTickCount() >= end) {
            Close();
            return false;
        }
        Sleep(100);
    }
}

bool PeerSocket::Listen(int port) {
    Close();
    socket_ = socket(AF_INET, SOCK_STREAM, 0);
    BOOL on = TRUE;
    setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in address = Loopback(port);
    if (bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(socket_, 5) != 0) {
        Close();
        return false;
    }
    return true;
}

PeerSocket PeerSocket::Accept(int timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket_, &set);
    timeval wait = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (select(0, &set, nullptr, nullptr, &wait) != 1) return PeerSocket();
    return PeerSocket(accept(socket_, nullptr, nullptr));
}

bool PeerSocket::Send(const std::string& bytes) {
    return send(socket_, bytes.data(), static_cast<int>(bytes.size()), 0) == static_cast<int>(bytes.size());
}

std::string PeerSocket::Receive(int timeoutMs, bool* closed) {
    DWORD timeout = static_cast<DWORD>(timeoutMs);
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    char buffer[1024];
    int n = recv(socket_, buffer, sizeof buffer, 0);
    if (closed) *closed = n == 0 || (n < 0 && WSAGetLastError() != WSAETIMEDOUT);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

bool PeerSocket::WaitClosed(int timeoutMs) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(timeoutMs);
    while (GetTickCount() < end) {
        bool closed = false;
        Receive(200, &closed);
        if (closed) return true;
    }
    return false;
}

QuorbelProcess::QuorbelProcess(const std::wstring& iniLines, const std::wstring& boxAnswers) {
    wchar_t exe[MAX_PATH] = {};
    std::wstring source;
    if (GetEnvironmentVariableW(L"QUORBEL_EXE", exe, MAX_PATH)) {
        source = exe;
    } else {
        // Run by hand: the program lies beside the test binary.
        GetModuleFileNameW(nullptr, exe, MAX_PATH);
        source = exe;
        source = source.substr(0, source.find_last_of(L'\\') + 1) + L"Quorbel.exe";
    }
    // ctest hands over a Unix path; Wine maps "/" paths through drive Z:.
    if (!source.empty() && source[0] == L'/') {
        source = L"Z:" + source;
        for (auto& c : source)
            if (c == L'/') c = L'\\';
    }
    const std::wstring target = folder_.file(L"Quorbel.exe");
    if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) return;
    WriteConsentedSettings(folder_.path(), iniLines);

    std::wstring log = folder_.file(L"boxes.log");
    // The child inherits this environment: set, start, restore.
    SetEnvironmentVariableW(L"QUORBEL_BOX_LOG", log.c_str());
    SetEnvironmentVariableW(L"QUORBEL_BOX_ANSWERS", boxAnswers.empty() ? nullptr : boxAnswers.c_str());
    std::wstring commandLine = L"\"" + target + L"\" /CMD";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (CreateProcessW(target.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       folder_.path().c_str(), &startup, &info)) {
        process_ = info.hProcess;
        processId_ = info.dwProcessId;
        CloseHandle(info.hThread);
    }
    SetEnvironmentVariableW(L"QUORBEL_BOX_LOG", nullptr);
    SetEnvironmentVariableW(L"QUORBEL_BOX_ANSWERS", nullptr);
}

QuorbelProcess::~QuorbelProcess() {
    if (!process_) return;
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 10000);
    CloseHandle(process_);
    // Let the folder go: the program file is unlocked once the process ended.
    Sleep(100);
}

bool QuorbelProcess::running() const {
    return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

bool QuorbelProcess::WaitExit(int timeoutMs) const {
    return process_ && WaitForSingleObject(process_, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
}

namespace {

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindMainWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, ARRAYSIZE(cls));
    if (pid == search->processId && wcscmp(cls, L"Main Window") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND QuorbelProcess::MainWindow(int timeoutMs) const {
    WindowSearch search{processId_, nullptr};
    const DWORD end = GetTickCount() + static_cast<DWORD>(timeoutMs);
    while (!search.found && GetTickCount() < end) {
        EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&search));
        if (!search.found) Sleep(50);
    }
    return search.found;
}

bool WaitListening(int port, int timeoutMs) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(timeoutMs);
    do {
        ULONG size = 0;
        GetTcpTable(nullptr, &size, FALSE);
        std::vector<char> buffer(size + 4096);
        size = static_cast<ULONG>(buffer.size());
        auto* table = reinterpret_cast<MIB_TCPTABLE*>(buffer.data());
        if (GetTcpTable(table, &size, FALSE) == NO_ERROR) {
            for (DWORD i = 0; i < table->dwNumEntries; ++i)
                if (table->table[i].dwState == MIB_TCP_STATE_LISTEN &&
                    ntohs(static_cast<u_short>(table->table[i].dwLocalPort)) == port)
                    return true;
        }
        Sleep(50);
    } while (GetTickCount() < end);
    return false;
}

std::vector<std::string> QuorbelProcess::Boxes() const {
    std::string bytes = ReadFileBytes(folder_.file(L"boxes.log"));
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find('\n', pos);
        if (end == std::string::npos) end = bytes.size();
        lines.push_back(bytes.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

void RunWhilePumping(const std::function<void()>& script, int timeoutMs) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        script();
        done = true;
    });
    PumpUntil([&] { return done.load(); }, timeoutMs);
    // Still serve messages until the worker ends, so it cannot block on us.
    PumpUntil([&] { return done.load(); }, 60000);
    worker.join();
}

std::wstring PaneText(HWND pane, int row, int column) {
    wchar_t buf[300] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = buf;
    item.cchTextMax = ARRAYSIZE(buf);
    SendMessageW(pane, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return buf;
}

int PaneRowCount(HWND pane) { return static_cast<int>(SendMessageW(pane, LVM_GETITEMCOUNT, 0, 0)); }

int RecordNumber(const std::string& record) {
    if (record.size() < 8 || record.compare(0, 2, "DR") != 0) return -1;
    int value = 0;
    for (int i = 2; i < 8; ++i) {
        if (record[i] < '0' || record[i] > '9') return -1;
        value = value * 10 + (record[i] - '0');
    }
    return value;
}

std::wstring ClientSettings(int port) {
    return L"ip_mode=0\r\nport_no=" + std::to_wstring(port) +
           L"\r\nip_no1=127\r\nip_no2=0\r\nip_no3=0\r\nip_no4=1\r\n";
}

std::wstring ServerSettings(int port) { return L"ip_mode=1\r\nport_no=" + std::to_wstring(port) + L"\r\n"; }

std::string DefaultLoginText() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return Narrow(ToWide(quorbel::DefaultId(now.wYear)) + ToWide(quorbel::DefaultPw(now.wMonth, now.wDay)));
}

void ResetProtocolForTest() {
    auto& state = TheProtocol().state;
    state.operationState = quorbel::Waiting;
    state.autoListing = 0;
    state.stopFlag = 0;
    state.dirCount = 0;
    state.dirSendIndex = 0;
    TheProtocol().OnConnectionLost();
}

}  // namespace testing_support
