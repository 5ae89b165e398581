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
//   resumed copies: a fast get of 200 MB that a relay cuts after 150 MB,
//     then the same get again: the bytes it moves over the connection
//     (target: at most 55 MB), and the time the check of the 150 MB kept
//     takes (a SHA-256 on both sides and two exchanges) against the time
//     150 MB take at 1 Gbit/s (1.2 s; target: less) and a bare bulk
//     transfer of 150 MB on loopback in the same round;
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
#include <poll.h>
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

#include "peer_bench_support.h"

namespace {

using namespace bench;

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

// What a relay saw of the Server's side of one connection.
struct Relayed {
    long bytes = 0;       // the bytes the Server sent through it
    double check = 0;     // from its first message to its first block
};

// A relay in a child between a Client and the Server on `serverPort`: it
// forwards both ways, closes both connections once the Server sent `limit`
// bytes, and reports through `resultFd` what it saw. The first read of more
// than a small message is a block: before it, a resumed copy's check.
int StartRelay(int serverPort, long limit, pid_t& pid, int& resultFd) {
    int port = 0;
    const int listener = ListenOnLoopback(1, &port);
    int fds[2];
    if (::pipe(fds) != 0) Die("pipe");
    pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const int client = ::accept(listener, nullptr, nullptr);
        const int server = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(uint16_t(serverPort));
        if (client < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) _exit(1);
        Relayed seen;
        Clock::time_point first{};
        static char buffer[1 << 16];
        for (bool open = true; open && seen.bytes < limit;) {
            pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(p, 2, 60000) <= 0) break;
            for (int i = 0; i < 2 && open; ++i) {
                if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                const ssize_t n = ::recv(p[i].fd, buffer, sizeof buffer, 0);
                open = n > 0 && ::send(p[1 - i].fd, buffer, size_t(n), MSG_NOSIGNAL) == n;
                if (!open || i == 0) continue;
                if (seen.bytes == 0) first = Clock::now();
                if (seen.check == 0 && n > 256 && seen.bytes > 0) seen.check = Since(first);
                seen.bytes += n;
            }
        }
        ::close(client);
        ::close(server);
        (void)!::write(fds[1], &seen, sizeof seen);
        _exit(0);
    }
    ::close(listener);
    ::close(fds[1]);
    resultFd = fds[0];
    return port;
}

Relayed EndRelay(pid_t pid, int resultFd) {
    Relayed seen;
    if (::read(resultFd, &seen, sizeof seen) != ssize_t(sizeof seen)) Die("the relay did not report");
    ::close(resultFd);
    ::waitpid(pid, nullptr, 0);
    return seen;
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
    // The Servers a Client had secure sessions with are remembered here, not in the user's own state.
    ::setenv("XDG_STATE_HOME", folder.c_str(), 1);
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

    // Resumed copies: cut at 150 MB by the relay, then the rest.
    const long resumeBytes = 200'000'000L, cutBytes = 150'000'000L;
    const double atGigabit = cutBytes * 8 / 1e9;
    MakeFile(srv + "/resume.bin", resumeBytes, 3);
    std::vector<double> moved, checks, bulks;
    std::printf("resumed copies: a fast get of %ld bytes cut after %ld bytes, then again\n", resumeBytes, cutBytes);
    for (int i = 0; i < rounds; ++i) {
        Server server = StartServer(peer, srv);
        const std::vector<std::string> get = {"get", "C:\\resume.bin", cli + "/in"};
        pid_t pid;
        int resultFd;
        int port = StartRelay(server.port, cutBytes, pid, resultFd);
        RunClient(peer, port, false, get, clientPeak, -1, 3);  // the connection it lost
        const Relayed cut = EndRelay(pid, resultFd);
        struct stat kept{};
        const bool partial = ::stat((cli + "/in/resume.bin.$PART").c_str(), &kept) == 0;
        port = StartRelay(server.port, resumeBytes * 2, pid, resultFd);
        RunClient(peer, port, false, get, clientPeak);
        const Relayed rest = EndRelay(pid, resultFd);
        intact = intact && partial && SameFiles(srv + "/resume.bin", cli + "/in/resume.bin");
        std::remove((cli + "/in/resume.bin").c_str());
        const double bulk = BareBulk(cutBytes);
        ::kill(server.child.pid, SIGTERM);
        Wait(server.child);
        serverPeak = std::max(serverPeak, server.child.peakKiB);
        moved.push_back(rest.bytes / 1e6);
        checks.push_back(rest.check);
        bulks.push_back(bulk);
        std::printf("resume round %d: cut after %.1f MB with %.1f MB kept; then %.1f MB moved, the check %.3f s "
                    "(%.0f%% of %.1f s at 1 Gbit/s; bare bulk of 150 MB %.3f s)\n",
                    i + 1, cut.bytes / 1e6, kept.st_size / 1e6, rest.bytes / 1e6, rest.check,
                    100 * rest.check / atGigabit, atGigabit, bulk);
        std::fflush(stdout);
    }
    std::printf("median bytes a resumed copy moved: %.1f MB (target at most 55 MB)\n", Median(moved));
    std::printf("median check of the 150 MB kept: %.3f s against %.1f s at 1 Gbit/s (target less) and %.3f s of "
                "bare bulk on loopback\n",
                Median(checks), atGigabit, Median(bulks));
    std::remove((srv + "/resume.bin").c_str());

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
