// quorbel-peer against its yardsticks, peer to peer on loopback, each round
// measuring both sides of every ratio:
//   plain mode: a copy each way against as many bare 1008-byte / 3-byte
//     exchanges between two processes (target: ratio at most 1.10);
//   fast mode: a copy each way against the same copy in the plain mode
//     (target: at least 10 times as fast) and against a bare bulk TCP
//     transfer of the same bytes between two processes (target: at least
//     half as fast);
//   the peak resident memory of each side (target: under 16 MB);
//   folder trees: get -r and put -r of 1,000 files of 10 KB in 20 folders in
//     the fast mode (target: at most 3 s each way), with the plain mode's
//     time beside it in the first round (its 100 ms pause after each end
//     record makes it slow by design), in files per second;
//   large folders in the fast mode, whose listing is exact and paged: ls of
//     a folder of 100,000 entries against the plain listing of the same
//     folder (its first 1,023 entries), per entry, and against reading the
//     folder in this process; get -r of 100 folders of 1,000 empty files,
//     once; the peak resident memory of the Server and of the Client
//     (target: under 20 MB each).
// Nothing here sets a socket option; quorbel-peer's Client sends small
// messages without delay (TCP_NODELAY), which a bulk transfer does not need.
//
//   peer_bench QUORBEL_PEER [rounds=5] [plain_megabytes=100] [fast_megabytes=200]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
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

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

[[noreturn]] void Die(const std::string& why) {
    std::fprintf(stderr, "peer_bench: %s\n", why.c_str());
    std::exit(1);
}

// A child process; its peak memory comes back with its exit.
struct Child {
    pid_t pid = -1;
    long peakKiB = 0;
    int status = 0;
};

Child Spawn(const std::vector<std::string>& args, int stderrFd = -1, int stdoutFd = -1) {
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

void Wait(Child& c) {
    rusage usage{};
    ::wait4(c.pid, &c.status, 0, &usage);
    c.peakKiB = usage.ru_maxrss;
}

// A file the Server received: it takes its final name after the Client,
// whose end record is not answered, has already ended.
bool Arrived(const std::string& path, long bytes) {
    struct stat st{};
    for (int i = 0; i < 2000; ++i, ::usleep(5000))
        if (::stat(path.c_str(), &st) == 0 && st.st_size == bytes) return true;
    return false;
}

bool SameFiles(const std::string& a, const std::string& b) {
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

void MakeFile(const std::string& path, long bytes, unsigned seed) {
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

Server StartServer(const std::string& peer, const std::string& root) {
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
double RunClient(const std::string& peer, int port, bool plain, const std::vector<std::string>& verb, long& peakKiB,
                 int stdoutFd = -1, int expected = 0) {
    std::vector<std::string> args = {peer, "--port", std::to_string(port), "--id", "bench", "--pw", "bench", "--quiet"};
    if (plain) args.push_back("--plain");
    args.insert(args.end(), verb.begin(), verb.end());
    const Clock::time_point start = Clock::now();
    Child c = Spawn(args, -1, stdoutFd);
    Wait(c);
    const double seconds = Since(start);
    if (!WIFEXITED(c.status) || WEXITSTATUS(c.status) != expected)
        Die("the client failed: " + verb[0] + " " + verb[1]);
    peakKiB = std::max(peakKiB, c.peakKiB);
    return seconds;
}

// A loopback connection between this process and a forked one that runs
// `serve` on its end.
template <typename Serve>
int ConnectToChild(pid_t& pid, Serve serve) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        Die("listen");
    pid = ::fork();
    if (pid == 0) {
        const int s = ::accept(listener, nullptr, nullptr);
        serve(s);
        _exit(0);
    }
    ::close(listener);
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Die("connect");
    return s;
}

bool ReceiveExactly(int s, char* buffer, size_t n) {
    for (size_t got = 0; got < n;) {
        const ssize_t r = ::recv(s, buffer + got, n - got, 0);
        if (r <= 0) return false;
        got += size_t(r);
    }
    return true;
}

// Context, not a yardstick: the same file read and written once in this
// process, as any copy of it must.
double LocalCopy(const std::string& from, const std::string& to) {
    static char buffer[1 << 20];
    const Clock::time_point start = Clock::now();
    FILE* in = std::fopen(from.c_str(), "rb");
    FILE* out = std::fopen(to.c_str(), "wb");
    if (!in || !out) Die("local copy");
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) std::fwrite(buffer, 1, n, out);
    std::fclose(in);
    std::fclose(out);
    const double seconds = Since(start);
    std::remove(to.c_str());
    return seconds;
}

// `exchanges` round trips of 1008 bytes answered by 3.
double BareExchanges(long exchanges) {
    pid_t pid;
    const int s = ConnectToChild(pid, [exchanges](int peer) {
        char block[1008];
        for (long i = 0; i < exchanges && ReceiveExactly(peer, block, sizeof block); ++i)
            if (::send(peer, "ACK", 3, 0) != 3) break;
    });
    char block[1008], answer[3];
    std::memset(block, 'x', sizeof block);
    const Clock::time_point start = Clock::now();
    for (long i = 0; i < exchanges; ++i)
        if (::send(s, block, sizeof block, 0) != ssize_t(sizeof block) || !ReceiveExactly(s, answer, 3))
            Die("exchange");
    const double seconds = Since(start);
    ::close(s);
    ::waitpid(pid, nullptr, 0);
    return seconds;
}

// `bytes` sent in one stream; the receiver answers one byte once it has them all.
double BareBulk(long bytes) {
    pid_t pid;
    const int s = ConnectToChild(pid, [bytes](int peer) {
        static char buffer[1 << 20];
        long got = 0;
        while (got < bytes) {
            const ssize_t r = ::recv(peer, buffer, sizeof buffer, 0);
            if (r <= 0) break;
            got += r;
        }
        (void)!::send(peer, "K", 1, 0);
    });
    static char buffer[1 << 20];
    std::memset(buffer, 'y', sizeof buffer);
    const Clock::time_point start = Clock::now();
    for (long sent = 0; sent < bytes;) {
        const ssize_t r = ::send(s, buffer, std::min<long>(sizeof buffer, bytes - sent), 0);
        if (r <= 0) Die("bulk send");
        sent += r;
    }
    char done;
    if (!ReceiveExactly(s, &done, 1)) Die("bulk answer");
    const double seconds = Since(start);
    ::close(s);
    ::waitpid(pid, nullptr, 0);
    return seconds;
}

constexpr int kTreeFolders = 20, kTreeFiles = 1000;
constexpr long kTreeFileBytes = 10 * 1024;

// The top folder and 19 below it, two levels deep, the files spread evenly.
void MakeTree(const std::string& top) {
    std::vector<std::string> folders = {top};
    for (int i = 1; i < kTreeFolders; ++i)
        folders.push_back(folders[size_t(i < 10 ? 0 : i - 9)] + "/d" + std::to_string(i));
    for (const std::string& folder : folders) ::mkdir(folder.c_str(), 0700);
    for (int i = 0; i < kTreeFiles; ++i)
        MakeFile(folders[size_t(i % kTreeFolders)] + "/f" + std::to_string(i) + ".bin", kTreeFileBytes, unsigned(i));
}

long CountFiles(const std::string& top) {
    long n = 0;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(top, error);
         it != std::filesystem::recursive_directory_iterator(); it.increment(error))
        n += it->is_regular_file();
    return n;
}

constexpr int kWideFolders = 100, kWideFiles = 1000, kBigFolderEntries = 100000;

// Empty files: `count` of them in `folder`.
void MakeEmptyFiles(const std::string& folder, int count) {
    ::mkdir(folder.c_str(), 0700);
    for (int i = 0; i < count; ++i) {
        FILE* f = std::fopen((folder + "/e" + std::to_string(i)).c_str(), "wb");
        if (!f) Die("cannot write in " + folder);
        std::fclose(f);
    }
}

// What reading a folder costs here: every entry and its status, as the
// Server reads them for a listing.
double ReadFolder(const std::string& folder) {
    const Clock::time_point start = Clock::now();
    long entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        struct stat st{};
        entries += ::lstat(entry.path().c_str(), &st) == 0;
    }
    if (entries < kBigFolderEntries) Die("the big folder is short");
    return Since(start);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) Die("usage: peer_bench QUORBEL_PEER [rounds] [plain_megabytes] [fast_megabytes]");
    const std::string peer = argv[1];
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const long plainBytes = (argc > 3 ? std::atol(argv[3]) : 100) * 1000000L;
    const long fastBytes = (argc > 4 ? std::atol(argv[4]) : 200) * 1000000L;

    char folderTemplate[] = "/tmp/quorbel_peer_bench_XXXXXX";
    const char* folderName = ::mkdtemp(folderTemplate);
    if (!folderName) Die("mkdtemp");
    const std::string folder = folderName, srv = folder + "/srv", cli = folder + "/cli";
    ::mkdir(srv.c_str(), 0700);
    ::mkdir(cli.c_str(), 0700);
    ::mkdir((srv + "/in").c_str(), 0700);
    ::mkdir((cli + "/in").c_str(), 0700);
    for (const std::string& side : {srv, cli}) {
        MakeFile(side + "/plain.bin", plainBytes, 1);
        MakeFile(side + "/fast.bin", fastBytes, 2);
    }
    // Data blocks, and the request with its answer (the end record is not answered).
    const long exchanges = (plainBytes + 999) / 1000 + 1;

    struct Round {
        double bare, plainGet, plainPut, bulk, fastGet, fastPut, slowGet, slowPut, local;
    };
    std::vector<Round> results;
    long serverPeak = 0, clientPeak = 0;
    bool intact = true;
    std::printf("peer to peer on loopback, %d rounds; plain copies of %ld bytes, fast copies of %ld bytes\n", rounds,
                plainBytes, fastBytes);
    for (int i = 0; i < rounds; ++i) {
        Server server = StartServer(peer, srv);
        Round r{};
        auto get = [&](const char* name, bool plain) {
            const std::vector<std::string> verb = {"get", std::string("C:\\") + name, cli + "/in"};
            const double t = RunClient(peer, server.port, plain, verb, clientPeak);
            intact = intact && (i > 0 || SameFiles(srv + "/" + name, cli + "/in/" + name));
            std::remove((cli + "/in/" + name).c_str());
            return t;
        };
        auto put = [&](const char* name, bool plain, long bytes) {
            const double t = RunClient(peer, server.port, plain, {"put", cli + "/" + name, "C:\\in"}, clientPeak);
            intact = intact && Arrived(srv + "/in/" + name, bytes) &&
                     (i > 0 || SameFiles(cli + "/" + name, srv + "/in/" + name));
            std::remove((srv + "/in/" + name).c_str());
            return t;
        };
        // Each direction goes first in every other round.
        const bool getFirst = i % 2 == 0;
        r.bare = BareExchanges(exchanges);
        r.plainGet = getFirst ? get("plain.bin", true) : 0;
        r.plainPut = put("plain.bin", true, plainBytes);
        if (!getFirst) r.plainGet = get("plain.bin", true);
        r.bulk = BareBulk(fastBytes);
        r.local = LocalCopy(srv + "/fast.bin", cli + "/in/local.bin");
        r.fastGet = getFirst ? get("fast.bin", false) : 0;
        r.fastPut = put("fast.bin", false, fastBytes);
        if (!getFirst) r.fastGet = get("fast.bin", false);
        r.slowGet = getFirst ? get("fast.bin", true) : 0;
        r.slowPut = put("fast.bin", true, fastBytes);
        if (!getFirst) r.slowGet = get("fast.bin", true);
        ::kill(server.child.pid, SIGTERM);
        Wait(server.child);
        serverPeak = std::max(serverPeak, server.child.peakKiB);
        std::printf("round %d: plain get %.3f s, put %.3f s, bare exchanges %.3f s: ratios %.3f %.3f | "
                    "fast get %.3f s, put %.3f s, plain %.3f s / %.3f s, bare bulk %.3f s: "
                    "fast/plain %.1fx %.1fx, fast/bulk %.2f %.2f | local file copy %.3f s\n",
                    i + 1, r.plainGet, r.plainPut, r.bare, r.plainGet / r.bare, r.plainPut / r.bare, r.fastGet,
                    r.fastPut, r.slowGet, r.slowPut, r.bulk, r.slowGet / r.fastGet, r.slowPut / r.fastPut,
                    r.bulk / r.fastGet, r.bulk / r.fastPut, r.local);
        std::fflush(stdout);
        results.push_back(r);
    }
    auto median = [&](auto pick) {
        std::vector<double> v;
        for (const Round& r : results) v.push_back(pick(r));
        return Median(v);
    };
    const double getRatio = median([](const Round& r) { return r.plainGet / r.bare; });
    const double putRatio = median([](const Round& r) { return r.plainPut / r.bare; });
    const double getSpeedup = median([](const Round& r) { return r.slowGet / r.fastGet; });
    const double putSpeedup = median([](const Round& r) { return r.slowPut / r.fastPut; });
    const double getBulk = median([](const Round& r) { return r.bulk / r.fastGet; });
    const double putBulk = median([](const Round& r) { return r.bulk / r.fastPut; });
    std::printf("median plain copy / bare exchanges: get %.3f, put %.3f (target at most 1.10)\n", getRatio, putRatio);
    std::printf("median fast speed / plain speed:    get %.1fx, put %.1fx (target at least 10x)\n", getSpeedup,
                putSpeedup);
    std::printf("median fast speed / bare bulk:      get %.2f, put %.2f (target at least 0.5)\n", getBulk, putBulk);
    std::printf("median local file copy / bare bulk:  %.2f (what the files alone cost; no target)\n",
                median([](const Round& r) { return r.local / r.bulk; }));
    std::printf("peak resident memory: server %ld KiB, client %ld KiB (target under 16384 KiB)\n", serverPeak,
                clientPeak);
    std::printf("copies identical: %s\n", intact ? "yes" : "NO");

    MakeTree(srv + "/tree");
    MakeTree(cli + "/tree");
    std::vector<double> treeGet, treePut;
    std::printf("folder trees: %d files of %ld bytes in %d folders\n", kTreeFiles, kTreeFileBytes, kTreeFolders);
    for (int i = 0; i < rounds; ++i) {
        Server server = StartServer(peer, srv);
        auto copy = [&](bool put, bool plain) {
            const std::string landed = put ? srv + "/in/tree" : cli + "/in/tree";
            const double t = RunClient(peer, server.port, plain,
                                       put ? std::vector<std::string>{"put", "-r", cli + "/tree", "C:\\in"}
                                           : std::vector<std::string>{"get", "-r", "C:\\tree", cli + "/in"},
                                       clientPeak);
            intact = intact && CountFiles(landed) == kTreeFiles;
            std::filesystem::remove_all(landed);
            return t;
        };
        const double get = copy(false, false), put = copy(true, false);
        treeGet.push_back(get);
        treePut.push_back(put);
        std::printf("tree round %d: fast get %.3f s (%.0f files/s), put %.3f s (%.0f files/s)", i + 1, get,
                    kTreeFiles / get, put, kTreeFiles / put);
        if (i == 0) {
            const double plainGet = copy(false, true), plainPut = copy(true, true);
            std::printf(" | plain get %.3f s (%.0f files/s), put %.3f s (%.0f files/s)", plainGet,
                        kTreeFiles / plainGet, plainPut, kTreeFiles / plainPut);
        }
        std::printf("\n");
        std::fflush(stdout);
        ::kill(server.child.pid, SIGTERM);
        Wait(server.child);
        serverPeak = std::max(serverPeak, server.child.peakKiB);
    }
    std::printf("median fast tree copy: get %.3f s, put %.3f s (target at most 3 s)\n", Median(treeGet),
                Median(treePut));
    std::printf("peak resident memory after the trees: server %ld KiB, client %ld KiB\n", serverPeak, clientPeak);
    std::printf("trees whole: %s\n", intact ? "yes" : "NO");
    std::filesystem::remove_all(srv + "/tree");
    std::filesystem::remove_all(cli + "/tree");

    // Large folders, each Server serving them alone so that its peak is theirs.
    MakeEmptyFiles(srv + "/big", kBigFolderEntries);
    ::mkdir((srv + "/wide").c_str(), 0700);
    for (int i = 0; i < kWideFolders; ++i) MakeEmptyFiles(srv + "/wide/d" + std::to_string(i), kWideFiles);
    const int devNull = ::open("/dev/null", O_WRONLY);
    long bigServerPeak = 0, bigClientPeak = 0;
    std::vector<double> perEntry, againstLocal;
    std::printf("large folders: ls of %d entries in one folder, get -r of %d folders of %d empty files\n",
                kBigFolderEntries, kWideFolders, kWideFiles);
    for (int i = 0; i < rounds; ++i) {
        Server server = StartServer(peer, srv);
        // The plain listing holds the table's 1,023 entries: exit status 5, "more may exist".
        const double plainLs = RunClient(peer, server.port, true, {"ls", "C:\\big"}, bigClientPeak, devNull, 5);
        const double fastLs = RunClient(peer, server.port, false, {"ls", "C:\\big"}, bigClientPeak, devNull);
        const double local = ReadFolder(srv + "/big");
        ::kill(server.child.pid, SIGTERM);
        Wait(server.child);
        bigServerPeak = std::max(bigServerPeak, server.child.peakKiB);
        perEntry.push_back((fastLs / kBigFolderEntries) / (plainLs / 1023));
        againstLocal.push_back(fastLs / local);
        std::printf("ls round %d: fast %.3f s (%.0f entries/s), plain %.3f s for 1023 (%.0f entries/s): "
                    "per entry %.3f of the plain; reading the folder here %.3f s: %.1fx\n",
                    i + 1, fastLs, kBigFolderEntries / fastLs, plainLs, 1023 / plainLs, perEntry.back(), local,
                    againstLocal.back());
        std::fflush(stdout);
    }
    std::printf("median fast ls time per entry / plain ls: %.3f; / reading the folder here: %.1fx (no target)\n",
                Median(perEntry), Median(againstLocal));
    {
        Server server = StartServer(peer, srv);
        long wideClientPeak = 0;
        const double wide = RunClient(peer, server.port, false, {"get", "-r", "C:\\wide", cli + "/in"}, wideClientPeak);
        ::kill(server.child.pid, SIGTERM);
        Wait(server.child);
        const long copied = CountFiles(cli + "/in/wide");
        intact = intact && copied == long(kWideFolders) * kWideFiles;
        std::printf("fast get -r of %ld files: %.3f s (%.0f files/s); server peak %ld KiB, client peak %ld KiB\n",
                    copied, wide, copied / wide, server.child.peakKiB, wideClientPeak);
        bigServerPeak = std::max(bigServerPeak, server.child.peakKiB);
        bigClientPeak = std::max(bigClientPeak, wideClientPeak);
        std::filesystem::remove_all(cli + "/in/wide");
    }
    ::close(devNull);
    std::printf("peak resident memory with large folders: server %ld KiB, client %ld KiB (target under 20480 KiB)\n",
                bigServerPeak, bigClientPeak);
    std::printf("large folders whole: %s\n", intact ? "yes" : "NO");
    std::filesystem::remove_all(srv + "/big");
    std::filesystem::remove_all(srv + "/wide");

    for (const char* name : {"/plain.bin", "/fast.bin"}) {
        std::remove((srv + name).c_str());
        std::remove((cli + name).c_str());
    }
    ::rmdir((srv + "/in").c_str());
    ::rmdir((cli + "/in").c_str());
    ::rmdir(srv.c_str());
    ::rmdir(cli.c_str());
    ::rmdir(folder.c_str());
    return intact ? 0 : 1;
}
