// What the benchmarks of quorbel-peer share: child processes with their
// peak memory, the Server and Client runs, loopback connections to a forked
// child, test files and trees, and the median of the rounds.
#pragma once

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

[[noreturn]] inline void Die(const std::string& why) {
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, why.c_str());
    std::exit(1);
}

// A child process; its peak memory comes back with its exit.
struct Child {
    pid_t pid = -1;
    long peakKiB = 0;
    int status = 0;
};

inline Child Spawn(const std::vector<std::string>& args, int stderrFd = -1, int stdoutFd = -1) {
    Child c;
    c.pid = ::fork();
    if (c.pid == 0) {
        if (stderrFd >= 0) ::dup2(stderrFd, STDERR_FILENO);
        if (stdoutFd >= 0) ::dup2(stdoutFd, STDOUT_FILENO);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    return c;
}

inline void Wait(Child& c) {
    rusage usage{};
    ::wait4(c.pid, &c.status, 0, &usage);
    c.peakKiB = usage.ru_maxrss;
}

// A file the Server received: it takes its final name after the Client,
// whose end record is not answered, has already ended.
inline bool Arrived(const std::string& path, long bytes) {
    struct stat st{};
    for (int i = 0; i < 2000; ++i, ::usleep(5000))
        if (::stat(path.c_str(), &st) == 0 && st.st_size == bytes) return true;
    return false;
}

inline bool SameFiles(const std::string& a, const std::string& b) {
    FILE* fa = std::fopen(a.c_str(), "rb");
    FILE* fb = std::fopen(b.c_str(), "rb");
    bool same = fa && fb;
    static char ba[1 << 16], bb[1 << 16];
    while (same) {
        const size_t na = std::fread(ba, 1, sizeof ba, fa), nb = std::fread(bb, 1, sizeof bb, fb);
        same = na == nb && std::memcmp(ba, bb, na) == 0;
        if (na == 0) break;
    }
    if (fa) std::fclose(fa);
    if (fb) std::fclose(fb);
    return same;
}

inline void MakeFile(const std::string& path, long bytes, unsigned seed) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) Die("cannot write " + path);
    std::mt19937_64 random(seed);
    static uint64_t chunk[1 << 13];
    for (long left = bytes; left > 0;) {
        for (auto& word : chunk) word = random();
        const size_t n = std::min<long>(left, sizeof chunk);
        std::fwrite(chunk, 1, n, f);
        left -= long(n);
    }
    std::fclose(f);
}

// The Server for one round, on a port of its choosing.
struct Server {
    Child child;
    int port = 0;
};

inline Server StartServer(const std::string& peer, const std::string& root) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) Die("pipe");
    Server s;
    s.child = Spawn({peer, "serve", "--root", root, "--port", "0", "--id", "bench", "--pw", "bench", "--quiet"},
                    pipeFds[1]);
    ::close(pipeFds[1]);
    std::string text;
    char c;
    while (text.find('\n') == std::string::npos && ::read(pipeFds[0], &c, 1) == 1) text.push_back(c);
    ::close(pipeFds[0]);
    const size_t at = text.find("port ");
    if (at == std::string::npos) Die("the server did not start: " + text);
    s.port = std::atoi(text.c_str() + at + 5);
    return s;
}

// One run of the Client; its time from start to exit. Its standard output
// goes to `stdoutFd` when one is given; `expected` is its exit status.
inline std::vector<std::string> ClientArgs(const std::string& peer, int port, bool plain,
                                           const std::vector<std::string>& verb) {
    std::vector<std::string> args = {peer, "--port", std::to_string(port), "--id", "bench", "--pw", "bench", "--quiet"};
    if (plain) args.push_back("--plain");
    args.insert(args.end(), verb.begin(), verb.end());
    return args;
}

inline double RunClient(const std::string& peer, int port, bool plain, const std::vector<std::string>& verb, long& peakKiB,
                 int stdoutFd = -1, int expected = 0) {
    const Clock::time_point start = Clock::now();
    Child c = Spawn(ClientArgs(peer, port, plain, verb), -1, stdoutFd);
    Wait(c);
    const double seconds = Since(start);
    if (!WIFEXITED(c.status) || WEXITSTATUS(c.status) != expected)
        Die("the client failed: " + verb[0] + " " + verb[1]);
    peakKiB = std::max(peakKiB, c.peakKiB);
    return seconds;
}

// A socket listening on a free loopback port (`port`, when asked for).
inline int ListenOnLoopback(int backlog, int* port = nullptr) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, backlog) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        Die("listen on loopback");
    if (port) *port = ntohs(address.sin_port);
    return listener;
}

// A loopback connection between this process and a forked one that runs
// `serve` on its end.
template <typename Serve>
inline int ConnectToChild(pid_t& pid, Serve serve) {
    int port = 0;
    const int listener = ListenOnLoopback(1, &port);
    pid = ::fork();
    if (pid == 0) {
        const int s = ::accept(listener, nullptr, nullptr);
        serve(s);
        _exit(0);
    }
    ::close(listener);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Die("connect");
    return s;
}

inline bool ReceiveExactly(int s, char* buffer, size_t n) {
    for (size_t got = 0; got < n;) {
        const ssize_t r = ::recv(s, buffer + got, n - got, 0);
        if (r <= 0) return false;
        got += size_t(r);
    }
    return true;
}

constexpr int kTreeFolders = 20, kTreeFiles = 1000;
constexpr long kTreeFileBytes = 10 * 1024;

// The top folder and 19 below it, two levels deep, the files spread evenly.
inline void MakeTree(const std::string& top) {
    std::vector<std::string> folders = {top};
    for (int i = 1; i < kTreeFolders; ++i)
        folders.push_back(folders[size_t(i < 10 ? 0 : i - 9)] + "/d" + std::to_string(i));
    for (const std::string& folder : folders) ::mkdir(folder.c_str(), 0700);
    for (int i = 0; i < kTreeFiles; ++i)
        MakeFile(folders[size_t(i % kTreeFolders)] + "/f" + std::to_string(i) + ".bin", kTreeFileBytes, unsigned(i));
}

inline long CountFiles(const std::string& top) {
    long n = 0;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(top, error);
         it != std::filesystem::recursive_directory_iterator(); it.increment(error))
        n += it->is_regular_file();
    return n;
}

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// An emulated link (link_relay) of the given bandwidth and round trip in
// front of the loopback port `target`; the port it listens on.
inline int StartLinkRelay(const std::string& relay, int target, double megabits, double roundTripMs, Child& child) {
    int fds[2];
    if (::pipe(fds) != 0) Die("pipe");
    char rate[32], roundTrip[32];
    std::snprintf(rate, sizeof rate, "%g", megabits);
    std::snprintf(roundTrip, sizeof roundTrip, "%g", roundTripMs);
    child = Spawn({relay, std::to_string(target), rate, roundTrip}, -1, fds[1]);
    ::close(fds[1]);
    std::string text;
    char c;
    while (text.find('\n') == std::string::npos && ::read(fds[0], &c, 1) == 1) text.push_back(c);
    ::close(fds[0]);
    if (text.compare(0, 5, "port ") != 0) Die("the relay did not start");
    return std::atoi(text.c_str() + 5);
}

}  // namespace bench
