// The copy measurement against the real program: Quorbel.exe (started with
// "/CMD" in a folder of its own, once as Server, once as Client) receives a
// 20 MB file from this program ("FD", 1000-byte "FR" blocks, each
// acknowledged, the end record) and sends it back ("FC", "FB" blocks
// acknowledged by this program). The same number of bare 1008-byte / 3-byte
// exchanges between this program and a second process of it over the same
// loopback is the yardstick. Prints the times, their ratios, which copy of
// a round came back different (each message is read by its length), and
// the peak working sets.
//
// Usage: win_copy.exe [path of Quorbel.exe] (default: beside this one)
//        win_copy.exe --echo PORT (the second process of the yardstick)
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "win_bench_support.h"

namespace {

using bench::Ansi;
using bench::MakeTempFolder;
using bench::RemoveFolder;

constexpr int kCopyPort = 33990;
constexpr int kEchoPort = 33991;
constexpr size_t kFileBytes = 20000000;
constexpr int kBlocks = static_cast<int>(kFileBytes / 1000);
constexpr int kExchanges = kBlocks + 1;  // the blocks and the request
constexpr int kRounds = 5;

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string ReadAll(const std::wstring& path) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    std::string out;
    if (f == INVALID_HANDLE_VALUE) return out;
    static char buf[1 << 16];
    DWORD n = 0;
    while (ReadFile(f, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
    CloseHandle(f);
    return out;
}

uint64_t SizeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

SOCKET ConnectTo(int port, int timeoutMs) {
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const DWORD end = GetTickCount() + static_cast<DWORD>(timeoutMs);
    for (;;) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            DWORD timeout = 10000;
            setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
            return s;
        }
        closesocket(s);
        if (GetTickCount() >= end) return INVALID_SOCKET;
        Sleep(100);
    }
}

// One recv as one message, as the program itself reads them: the listing
// of the handshake, a message at a time.
std::string ReceiveMessage(SOCKET s) {
    char buf[1024];
    int n = recv(s, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

bool ReceiveExactly(SOCKET s, char* buf, int n) {
    for (int got = 0; got < n;) {
        int r = recv(s, buf + got, n - got, 0);
        if (r <= 0) return false;
        got += r;
    }
    return true;
}

bool SendAll(SOCKET s, const char* data, int n) { return send(s, data, n, 0) == n; }

// ---- The yardstick ---------------------------------------------------------

int EchoMain(int port) {
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener, 1) != 0) return 1;
    SOCKET s = accept(listener, nullptr, nullptr);
    char block[1008];
    while (ReceiveExactly(s, block, sizeof block) && SendAll(s, "ACK", 3)) {
    }
    closesocket(s);
    closesocket(listener);
    return 0;
}

PROCESS_INFORMATION Start(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder) {
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                   folder.empty() ? nullptr : folder.c_str(), &si, &pi);
    return pi;
}

double BareExchanges(const std::wstring& self) {
    PROCESS_INFORMATION echo = Start(self, L"--echo " + std::to_wstring(kEchoPort), L"");
    SOCKET s = ConnectTo(kEchoPort, 10000);
    if (s == INVALID_SOCKET) return -1;
    char block[1008];
    std::memset(block, 'x', sizeof block);
    char ack[3];
    const double start = Now();
    for (int i = 0; i < kExchanges; ++i) {
        if (!SendAll(s, block, sizeof block) || !ReceiveExactly(s, ack, sizeof ack)) return -1;
    }
    const double t = Now() - start;
    closesocket(s);
    WaitForSingleObject(echo.hProcess, 5000);
    CloseHandle(echo.hProcess);
    CloseHandle(echo.hThread);
    return t;
}

// ---- Against Quorbel.exe ---------------------------------------------------

// The Client's first listing of the Server's folder and the Server's one
// request for this side's folder, answered with an empty listing.
bool Handshake(SOCKET s, const std::wstring& folder) {
    std::string dd = "DD" + Ansi(folder);
    if (!SendAll(s, dd.data(), static_cast<int>(dd.size()))) return false;
    for (int i = 0; i < 1100; ++i) {
        std::string m = ReceiveMessage(s);
        if (m.compare(0, 8, "DR999999") == 0) break;
        if (m.compare(0, 2, "DR") != 0 || !SendAll(s, "ACK", 3)) return false;
    }
    std::string request = ReceiveMessage(s);
    return request.compare(0, 2, "DD") == 0 && SendAll(s, "DR999999", 8);
}

// The program's answer, by its length: a recv may cut a message anywhere.
bool ReceiveAck(SOCKET s) {
    char answer[3];
    return ReceiveExactly(s, answer, sizeof answer) && std::memcmp(answer, "ACK", 3) == 0;
}

// FD, the blocks, the end record; done when the final file has its size.
double CopyToProgram(SOCKET s, const std::string& data, const std::wstring& target) {
    DeleteFileW(target.c_str());
    const double start = Now();
    std::string fd = "FD" + Ansi(target);
    if (!SendAll(s, fd.data(), static_cast<int>(fd.size())) || !ReceiveAck(s)) return -1;
    char block[1008];
    for (int n = 0; n < kBlocks; ++n) {
        std::snprintf(block, 9, "FR%06d", n);
        std::memcpy(block + 8, data.data() + static_cast<size_t>(n) * 1000, 1000);
        if (!SendAll(s, block, sizeof block) || !ReceiveAck(s)) return -1;
    }
    char end[32] = "FR999999";
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    for (int i = 0; i < 3; ++i) std::memcpy(end + 8 + 8 * i, &now, 8);
    if (!SendAll(s, end, sizeof end)) return -1;
    while (SizeOf(target) != data.size()) Sleep(1);
    return Now() - start;
}

// FC, then an ACK per block until the end record. Each message is read by
// its length (a block of the file's next 1000 bytes or fewer, the end
// record's 24 time bytes), wherever the recv calls cut it.
double CopyFromProgram(SOCKET s, const std::wstring& source, std::string& received) {
    received.clear();
    const double start = Now();
    std::string fc = "FC" + Ansi(source);
    if (!SendAll(s, fc.data(), static_cast<int>(fc.size()))) return -1;
    char message[1008];
    for (;;) {
        if (!ReceiveExactly(s, message, 8) || std::memcmp(message, "FB", 2) != 0) return -1;
        if (std::memcmp(message, "FB999999", 8) == 0) return ReceiveExactly(s, message + 8, 24) ? Now() - start : -1;
        const int data = static_cast<int>(std::min<size_t>(1000, kFileBytes - std::min(kFileBytes, received.size())));
        if (data == 0 || !ReceiveExactly(s, message + 8, data)) return -1;
        received.append(message + 8, static_cast<size_t>(data));
        if (!SendAll(s, "ACK", 3)) return -1;
    }
}

uint64_t PeakWorkingSet(HANDLE process) {
    PROCESS_MEMORY_COUNTERS c = {};
    c.cb = sizeof c;
    return GetProcessMemoryInfo(process, &c, sizeof c) ? c.PeakWorkingSetSize : 0;
}

struct Result {
    std::vector<double> toRatio, fromRatio;  // per round, against that round's bare exchanges
    uint64_t serverPeak = 0, benchPeak = 0;
    bool intact = false;
};

double Median(std::vector<double> v) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Starts Quorbel.exe with "/CMD" in a folder of its own, as Server (this
// program connects) or as Client (it connects to this program), and copies
// the data to it and back kRounds times.
Result RunAgainst(const std::wstring& exe, const std::wstring& self, bool asServer, const std::string& data) {
    Result result;
    const std::wstring exeFolder = MakeTempFolder(asServer ? L"copy_server" : L"copy_client");
    const std::wstring files = MakeTempFolder(asServer ? L"copy_sfiles" : L"copy_cfiles");
    const int port = asServer ? kCopyPort : kCopyPort + 2;
    std::string ini = "[Quorbel_setting]\r\ndoui_mode=1\r\nip_mode=" + std::string(asServer ? "1" : "0") +
                      "\r\nport_no=" + std::to_string(port) +
                      "\r\nip_no1=127\r\nip_no2=0\r\nip_no3=0\r\nip_no4=1\r\ncurrentdirectory_r=" + Ansi(files) +
                      "\r\n";
    HANDLE f = CreateFileW((exeFolder + L"\\Quorbel.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(f, ini.data(), static_cast<DWORD>(ini.size()), &written, nullptr);
    CloseHandle(f);

    SOCKET listener = INVALID_SOCKET;
    if (!asServer) {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<u_short>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(listener, 1);
    }
    SetEnvironmentVariableW(L"QUORBEL_BOX_LOG", (exeFolder + L"\\boxes.log").c_str());
    PROCESS_INFORMATION program = Start(exe, L"/CMD", exeFolder);
    SetEnvironmentVariableW(L"QUORBEL_BOX_LOG", nullptr);
    if (!program.hProcess) {
        std::fprintf(stderr, "cannot start %ls\n", exe.c_str());
        return result;
    }
    SOCKET s = INVALID_SOCKET;
    bool ready = false;
    if (asServer) {
        s = ConnectTo(port, 30000);
        ready = s != INVALID_SOCKET && bench::LogIn(s) && Handshake(s, files);
    } else {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(listener, &set);
        timeval wait = {30, 0};
        if (select(0, &set, nullptr, nullptr, &wait) == 1) s = accept(listener, nullptr, nullptr);
        DWORD timeout = 10000;
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
        // The Client asks for this side's folder at once: an empty listing.
        ready = s != INVALID_SOCKET && ReceiveMessage(s).compare(0, 2, "DD") == 0 && SendAll(s, "DR999999", 8);
    }
    if (ready) {
        bool intact = true;
        const std::wstring target = files + L"\\copy.bin";
        for (int round = 0; round < kRounds; ++round) {
            // The yardstick of this round, then the copies it is set against.
            const double bare = BareExchanges(self);
            const double to = CopyToProgram(s, data, target);
            const bool toIntact = bare > 0 && to > 0 && ReadAll(target) == data;
            std::string back;
            const double from = CopyFromProgram(s, target, back);
            const bool fromIntact = from > 0 && back == data;
            intact = intact && toIntact && fromIntact;
            result.toRatio.push_back(to / bare);
            result.fromRatio.push_back(from / bare);
            std::printf("  round %d: bare %.3f s, to it %.3f s (%.3f)%s, from it %.3f s (%.3f)%s\n", round + 1, bare, to,
                        to / bare, toIntact ? "" : " DIFFERS", from, from / bare, fromIntact ? "" : " DIFFERS");
        }
        result.intact = intact;
    } else {
        std::fprintf(stderr, "no connection with Quorbel.exe\n");
    }
    result.serverPeak = PeakWorkingSet(program.hProcess);
    result.benchPeak = PeakWorkingSet(GetCurrentProcess());
    if (s != INVALID_SOCKET) closesocket(s);
    if (listener != INVALID_SOCKET) closesocket(listener);
    TerminateProcess(program.hProcess, 0);
    WaitForSingleObject(program.hProcess, 10000);
    CloseHandle(program.hProcess);
    CloseHandle(program.hThread);
    Sleep(200);
    RemoveFolder(files);
    RemoveFolder(exeFolder);
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    if (argc == 3 && std::wstring(argv[1]) == L"--echo") return EchoMain(_wtoi(argv[2]));

    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring exe;
    if (argc > 1) {
        exe = argv[1];
    } else {
        exe = self;
        exe = exe.substr(0, exe.find_last_of(L'\\') + 1) + L"Quorbel.exe";
    }

    std::string data(kFileBytes, '\0');
    uint32_t x = 2463534242u;
    for (auto& c : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x >> 24);
    }
    std::printf("file: %zu bytes, %d exchanges against as many bare 1008/3-byte exchanges, %d rounds\n",
                kFileBytes, kExchanges, kRounds);
    bool intact = true;
    for (bool asServer : {true, false}) {
        std::printf("Quorbel.exe as %s:\n", asServer ? "Server" : "Client");
        const Result r = RunAgainst(exe, self, asServer, data);
        intact = intact && r.intact;
        std::printf("  median ratio: copy to it %.3f, copy from it %.3f\n", Median(r.toRatio), Median(r.fromRatio));
        std::printf("  peak working set: Quorbel.exe %.1f MiB, this client %.1f MiB (holds the file twice)\n",
                    r.serverPeak / 1048576.0, r.benchPeak / 1048576.0);
    }
    std::printf("bytes intact: %s\n", intact ? "yes" : "NO");
    WSACleanup();
    return intact ? 0 : 1;
}
