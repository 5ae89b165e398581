// The listing measurement against the real program: Quorbel.exe (started
// as Server with "/CMD" in a folder of its own) lists a folder of 1023
// entries to this program, which acknowledges every record; a Quorbel.exe
// started as Client serves the same listing; and a second process of this
// program answers 1024 bare 3/256-byte exchanges over the same loopback.
// Prints the times and the ratios, round by round interleaved.
//
// Usage: win_listing.exe [path of Quorbel.exe] (default: beside this one);
// "--echo PORT" is the bare exchanges' other end, started by the bench.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "win_bench_support.h"

namespace {

using bench::Ansi;
using bench::MakeTempFolder;
using bench::RemoveFolder;

// Fixed ports: run one bench at a time.
constexpr int kPort = 32990;
constexpr int kEntries = 1023;  // "." and ".." included
constexpr int kExchanges = 1024;
constexpr int kRounds = 21;

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ::WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
}

std::string Utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

bool Listening(int port) {
    ULONG size = 0;
    GetTcpTable(nullptr, &size, FALSE);
    std::vector<char> buffer(size + 4096);
    size = static_cast<ULONG>(buffer.size());
    auto* table = reinterpret_cast<MIB_TCPTABLE*>(buffer.data());
    if (GetTcpTable(table, &size, FALSE) != NO_ERROR) return false;
    for (DWORD i = 0; i < table->dwNumEntries; ++i)
        if (table->table[i].dwState == MIB_TCP_STATE_LISTEN &&
            ntohs(static_cast<u_short>(table->table[i].dwLocalPort)) == port)
            return true;
    return false;
}

SOCKET ConnectLoopback(int port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

double Ms(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(f.QuadPart);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Process {
    HANDLE handle = nullptr;
    ~Process() {
        if (!handle) return;
        TerminateProcess(handle, 0);
        WaitForSingleObject(handle, 10000);
        CloseHandle(handle);
    }
};

int RecvOne(SOCKET s, std::string& out) {
    char buffer[1024];
    int n = recv(s, buffer, sizeof buffer, 0);
    out.assign(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    return n;
}

// One listing: "DD" + folder, then one "ACK" per record until "DR999999".
// False unless all records came. `first` is the time to the first record
// (the building of the table), `total` the whole listing.
bool ListOnce(SOCKET peer, const std::string& request, double& first, double& total) {
    std::string message, firstMessage;
    int records = 0;
    const LARGE_INTEGER start = Now();
    send(peer, request.data(), static_cast<int>(request.size()), 0);
    for (;;) {
        if (RecvOne(peer, message) <= 0) return false;
        if (records == 0) {
            first = Ms(start, Now());
            firstMessage = message;
        }
        if (message == "DR999999") break;
        if (message.rfind("DR", 0) != 0 || message.size() < 8) {
            std::fprintf(stderr, "unexpected after %d records: %.40s (%zu bytes), first record was %.60s\n",
                         records, message.c_str(), message.size(), firstMessage.c_str());
            return false;
        }
        ++records;
        send(peer, "ACK", 3, 0);
    }
    total = Ms(start, Now());
    if (records != kEntries) std::fprintf(stderr, "got %d records\n", records);
    return records == kEntries;
}

// 1024 exchanges of 3 bytes one way and 256 bytes back, with the echo
// process on the other end.
double BareExchanges(SOCKET asker) {
    const LARGE_INTEGER start = Now();
    char reply[256];
    for (int i = 0; i < kExchanges; ++i) {
        send(asker, "ACK", 3, 0);
        if (recv(asker, reply, sizeof reply, MSG_WAITALL) != 256) break;
    }
    return Ms(start, Now());
}

// The other end of the bare exchanges, in a process of its own like
// Quorbel.exe: 256 bytes for every 3 until the connection ends.
int Echo(int port) {
    SOCKET s = ConnectLoopback(port);
    if (s == INVALID_SOCKET) return 1;
    char in[8], out[256];
    memset(out, 'r', sizeof out);
    while (recv(s, in, 3, MSG_WAITALL) == 3) send(s, out, sizeof out, 0);
    closesocket(s);
    return 0;
}

SOCKET ListenLoopback(int port) {
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    BOOL on = TRUE;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener, 1);
    return listener;
}

SOCKET AcceptWithin(SOCKET listener, int seconds) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(listener, &set);
    timeval wait = {seconds, 0};
    return select(0, &set, nullptr, nullptr, &wait) == 1 ? accept(listener, nullptr, nullptr) : INVALID_SOCKET;
}

void SetReceiveTimeout(SOCKET s) {
    DWORD timeout = 10000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
}

bool StartProgram(Process& process, const std::wstring& home) {
    const std::wstring program = home + L"\\Quorbel.exe";
    std::wstring commandLine = L"\"" + program + L"\" /CMD";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, home.c_str(),
                        &startup, &info))
        return false;
    process.handle = info.hProcess;
    CloseHandle(info.hThread);
    return true;
}

int Run(const std::wstring& exe, const std::wstring& listed, const std::wstring& serverHome,
        const std::wstring& clientHome) {
    for (const std::wstring& home : {serverHome, clientHome}) {
        if (!CopyFileW(exe.c_str(), (home + L"\\Quorbel.exe").c_str(), FALSE)) {
            std::fprintf(stderr, "cannot copy %s\n", Utf8(exe).c_str());
            return 1;
        }
    }
    const std::string common = "[Quorbel_setting]\r\ndoui_mode=1\r\n";
    WriteBytes(serverHome + L"\\Quorbel.ini", common + "ip_mode=1\r\nport_no=" + std::to_string(kPort) +
                                                 "\r\ncurrentdirectory_r=" + Utf8(serverHome) + "\r\n");
    WriteBytes(clientHome + L"\\Quorbel.ini", common + "ip_mode=0\r\nport_no=" + std::to_string(kPort + 1) +
                                                 "\r\nip_no1=127\r\nip_no2=0\r\nip_no3=0\r\nip_no4=1\r\n" +
                                                 "currentdirectory_r=" + Utf8(clientHome) + "\r\n");
    // Boxes are logged, never shown.
    SetEnvironmentVariableW(L"QUORBEL_BOX_LOG", (serverHome + L"\\boxes.log").c_str());

    // Quorbel.exe as Server: its select loop serves our requests.
    Process server;
    if (!StartProgram(server, serverHome)) return 1;
    for (int i = 0; i < 600 && !Listening(kPort); ++i) Sleep(50);
    SOCKET toServer = ConnectLoopback(kPort);
    if (toServer == INVALID_SOCKET) {
        std::fprintf(stderr, "Quorbel.exe does not listen\n");
        return 1;
    }
    SetReceiveTimeout(toServer);
    if (!bench::LogIn(toServer)) {
        std::fprintf(stderr, "Quorbel.exe refused the login\n");
        return 1;
    }
    // Quorbel.exe as Client: its receive thread serves our requests.
    SOCKET clientListener = ListenLoopback(kPort + 1);
    Process client;
    if (!StartProgram(client, clientHome)) return 1;
    SOCKET toClient = AcceptWithin(clientListener, 30);
    closesocket(clientListener);
    if (toClient == INVALID_SOCKET) {
        std::fprintf(stderr, "Quorbel.exe did not connect\n");
        return 1;
    }
    SetReceiveTimeout(toClient);
    // The bare exchanges go to a second process of this program.
    SOCKET bareListener = ListenLoopback(kPort + 2);
    Process echo;
    {
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --echo " + std::to_wstring(kPort + 2);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
            return 1;
        echo.handle = info.hProcess;
        CloseHandle(info.hThread);
    }
    SOCKET asker = AcceptWithin(bareListener, 30);
    closesocket(bareListener);
    if (asker == INVALID_SOCKET) return 1;
    SetReceiveTimeout(asker);

    const std::string request = "DD" + Ansi(listed);
    std::string message;
    // The Client's first request (our folder) gets an empty listing.
    if (RecvOne(toClient, message) <= 0 || message.rfind("DD", 0) != 0) return 1;
    send(toClient, "DR999999", 8, 0);
    double first = 0, total = 0;
    // The Server's first listing is followed by its one request for ours.
    if (!ListOnce(toServer, request, first, total)) return 1;
    if (RecvOne(toServer, message) <= 0 || message.rfind("DD", 0) != 0) return 1;
    send(toServer, "DR999999", 8, 0);
    Sleep(200);

    // The three measurements interleaved, so that a busy machine weighs on
    // each of them alike; the ratios are taken round by round.
    std::vector<double> bare, serverTotal, serverFirst, clientTotal, clientFirst, serverRatio, clientRatio;
    for (int round = 0; round < kRounds; ++round) {
        const double b = BareExchanges(asker);
        if (!ListOnce(toServer, request, first, total)) {
            std::fprintf(stderr, "Server, round %d\n", round);
            return 1;
        }
        serverTotal.push_back(total);
        serverFirst.push_back(first);
        serverRatio.push_back(total / b);
        if (!ListOnce(toClient, request, first, total)) {
            std::fprintf(stderr, "Client, round %d\n", round);
            return 1;
        }
        clientTotal.push_back(total);
        clientFirst.push_back(first);
        clientRatio.push_back(total / b);
        bare.push_back(b);
    }
    for (SOCKET s : {toServer, toClient, asker}) closesocket(s);

    std::printf("Quorbel.exe: %d bare 3/256-byte exchanges: %.2f ms (median of %d rounds)\n", kExchanges,
                Median(bare), kRounds);
    std::printf("Quorbel.exe as Server: listing of %d entries (%d exchanges): %.2f ms, first record after %.2f ms; "
                "ratio listing / bare = %.2f\n",
                kEntries, kExchanges, Median(serverTotal), Median(serverFirst), Median(serverRatio));
    std::printf("Quorbel.exe as Client: listing of %d entries (%d exchanges): %.2f ms, first record after %.2f ms; "
                "ratio listing / bare = %.2f\n",
                kEntries, kExchanges, Median(clientTotal), Median(clientFirst), Median(clientRatio));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    if (argc > 2 && wcscmp(argv[1], L"--echo") == 0) return Echo(_wtoi(argv[2]));
    std::wstring exe;
    if (argc > 1) {
        exe = argv[1];
    } else {
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        exe = self;
        exe = exe.substr(0, exe.find_last_of(L'\\') + 1) + L"Quorbel.exe";
    }
    const std::wstring listed = MakeTempFolder(L"listed");
    for (int i = 0; i < kEntries - 2; ++i) {
        wchar_t name[64];
        swprintf(name, 64, L"\\file_%04d_with_a_longer_name.txt", i);
        WriteBytes(listed + name, std::to_string(i));
    }
    const std::wstring serverHome = MakeTempFolder(L"server"), clientHome = MakeTempFolder(L"client");
    const int status = Run(exe, listed, serverHome, clientHome);
    Sleep(300);  // the programs have ended; their files can go
    for (const std::wstring& folder : {listed, serverHome, clientHome}) RemoveFolder(folder);
    WSACleanup();
    return status;
}
