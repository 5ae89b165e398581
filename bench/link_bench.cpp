// quorbel-peer to quorbel-peer through emulated links (link_relay), each
// figure against its yardstick through the same link in the same round:
//   LAN 1 Gbit/s 0.3 ms, Wi-Fi 300 Mbit/s 4 ms, VPN 100 Mbit/s 30 ms round trip;
//   a plain copy (2 MB) and a fast copy (200 MB) each way, as a share of a
//     bare bulk transfer of the same bytes (target for the fast copy: at
//     least 0.9);
//   a tree of 1,000 files of 10 KB in 20 folders each way (put -r, get -r),
//     in files per second, beside a bare transfer of its bytes plus one
//     round trip a file;
//   on loopback, without a relay, the fast copy against a bare file-to-file
//     transfer: the file read, sent, and written on the other side (target:
//     at least 0.8); beside it the copy's data alone: its time less that of
//     a one-byte copy in the same round (the program's start, the
//     connection and the login with its memory-hard stretch);
//   the resident memory of each side while a fast copy's data moves
//     through the LAN link (target: at most 16 MB), and each side's peak,
//     which includes the login's memory-hard stretch;
//   with --unencrypted=PEER, the secure session's cost: this release's fast
//     copy, sealed, against the same copy between two programs of the
//     release before it (PEER), whose fast mode sealed nothing, on loopback
//     (target: at least 0.8 of it) and through the LAN link (target: at
//     least 0.95); each release's Client against its own Server; again
//     with each side's one-byte copy of the round taken off.
// The slow links' plain copies are smaller (Wi-Fi 1 MB, VPN 200 kB) and the
// VPN runs three rounds and one tree round, so that the whole run takes
// minutes; a share does not depend on the size once a copy is many round
// trips long.
//
//   link_bench QUORBEL_PEER LINK_RELAY [--unencrypted=PEER] [LINK ...]
//     (LINK: LAN, WiFi, VPN, loopback, secure; default all, secure only with --unencrypted)
#include <fcntl.h>
#include <signal.h>

#include "peer_bench_support.h"

namespace {

using namespace bench;

struct LinkKind {
    const char* name;
    double megabits, roundTripMs;
    int rounds;
    long plainBytes;
    int treeRounds;
};

constexpr LinkKind kLinks[] = {
    {"LAN", 1000, 0.3, 5, 2'000'000, 5},
    {"WiFi", 300, 4, 5, 1'000'000, 3},
    {"VPN", 100, 30, 3, 200'000, 1},
};
constexpr long kFastBytes = 200'000'000;
// What a copy costs besides its data: the same copy of one byte.
constexpr const char* kOneByte = "one.bin";

// A relay of the given link to `target`; its port.
int StartRelay(const std::string& relay, int target, const LinkKind& link, Child& child) {
    return StartLinkRelay(relay, target, link.megabits, link.roundTripMs, child);
}

void Stop(Child& child) {
    ::kill(child.pid, SIGTERM);
    Wait(child);
}

// The bare yardstick's other end, in a child: each connection's bytes are
// taken to their end (into `into` when given, as a copy writes its file)
// and answered with one byte.
int StartSink(const std::string& into, Child& child) {
    int port = 0;
    const int listener = ListenOnLoopback(4, &port);
    child.pid = ::fork();
    if (child.pid == 0) {
        static char buffer[1 << 20];
        for (;;) {
            const int s = ::accept(listener, nullptr, nullptr);
            if (s < 0) continue;
            const int file = into.empty() ? -1 : ::open(into.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            for (ssize_t n; (n = ::recv(s, buffer, sizeof buffer, 0)) > 0;)
                if (file >= 0 && ::write(file, buffer, size_t(n)) != n) break;
            if (file >= 0) ::close(file);
            (void)!::send(s, "K", 1, MSG_NOSIGNAL);
            ::close(s);
            // Each transfer writes a new file, as each copy does.
            if (file >= 0) ::unlink(into.c_str());
        }
    }
    ::close(listener);
    return port;
}

// `bytes` to the sink on `port` (from the file `from` when given) until it
// answers that it has them all.
double Bare(int port, long bytes, const std::string& from = "") {
    static char buffer[1 << 20];
    std::memset(buffer, 'y', sizeof buffer);
    const Clock::time_point start = Clock::now();
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(uint16_t(port));
    if (::connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) Die("connect to the sink");
    const int file = from.empty() ? -1 : ::open(from.c_str(), O_RDONLY);
    for (long sent = 0; sent < bytes;) {
        const size_t want = size_t(std::min<long>(sizeof buffer, bytes - sent));
        const ssize_t got = file >= 0 ? ::read(file, buffer, want) : ssize_t(want);
        if (got <= 0) Die("bare read");
        for (ssize_t at = 0; at < got;) {
            const ssize_t n = ::send(s, buffer + at, size_t(got - at), MSG_NOSIGNAL);
            if (n <= 0) Die("bare send");
            at += n;
        }
        sent += got;
    }
    if (file >= 0) ::close(file);
    ::shutdown(s, SHUT_WR);
    char done;
    if (!ReceiveExactly(s, &done, 1)) Die("bare answer");
    ::close(s);
    return Since(start);
}

struct Folders {
    std::string srv, cli;
};

struct Peaks {
    long server = 0, client = 0;
    long copyServer = 0, copyClient = 0;  // while a fast copy's data moves
};

struct CopyPaths {
    std::string from, landed;
    std::vector<std::string> verb;
};
// Where a copy of `name` comes from and lands, and its verb.
CopyPaths PathsOf(const Folders& f, const std::string& name, bool get) {
    const std::string from = (get ? f.srv : f.cli) + "/" + name;
    return {from, (get ? f.cli : f.srv) + "/in/" + name,
            get ? std::vector<std::string>{"get", "C:\\" + name, f.cli + "/in"}
                : std::vector<std::string>{"put", from, "C:\\in"}};
}

// A process's resident memory now, in KiB (0 once it is gone).
long ResidentKiB(pid_t pid) {
    FILE* status = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    long kib = 0;
    char line[256];
    while (status && std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmRSS: %ld", &kib) == 1) break;
    if (status) std::fclose(status);
    return kib;
}

// One more fast copy each way, untimed, with both sides' memory read every
// 2 ms while the received part grows: the login's stretch has given its
// memory back by then, so this is what a windowed copy holds.
void SampleCopyMemory(const std::string& peer, int port, pid_t server, const Folders& f, Peaks& peaks) {
    for (const bool get : {true, false}) {
        const CopyPaths paths = PathsOf(f, "fast.bin", get);
        const std::string& landed = paths.landed;
        const std::string part = landed + ".$PART";
        Child c = Spawn(ClientArgs(peer, port, false, paths.verb));
        int status = 0;
        while (::waitpid(c.pid, &status, WNOHANG) == 0) {
            struct stat st{};
            if (::stat(part.c_str(), &st) == 0 && st.st_size > 0) {
                peaks.copyClient = std::max(peaks.copyClient, ResidentKiB(c.pid));
                peaks.copyServer = std::max(peaks.copyServer, ResidentKiB(server));
            }
            ::usleep(2000);
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Die("the client failed: a sampled copy");
        Arrived(landed, kFastBytes);
        std::remove(landed.c_str());
    }
}

// One copy of `name` from the Server's top folder into the Client's "in"
// folder (get) or back into the Server's (put); its time.
double Copy(const std::string& peer, int port, const Folders& f, const std::string& name, bool get, bool plain,
            long bytes, Peaks& peaks, bool& intact) {
    const auto [from, landed, verb] = PathsOf(f, name, get);
    const double t = RunClient(peer, port, plain, verb, peaks.client);
    intact = intact && Arrived(landed, bytes) && SameFiles(from, landed);
    std::remove(landed.c_str());
    return t;
}

double TreeCopy(const std::string& peer, int port, const Folders& f, bool get, Peaks& peaks, bool& intact) {
    const std::string landed = get ? f.cli + "/in/tree" : f.srv + "/in/tree";
    const double t = RunClient(peer, port, false,
                               get ? std::vector<std::string>{"get", "-r", "C:\\tree", f.cli + "/in"}
                                   : std::vector<std::string>{"put", "-r", f.cli + "/tree", "C:\\in"},
                               peaks.client);
    intact = intact && CountFiles(landed) == kTreeFiles;
    std::filesystem::remove_all(landed);
    return t;
}

void RunLink(const std::string& peer, const std::string& relay, const LinkKind& link, const Folders& f,
             Peaks& peaks, bool& intact) {
    Server server = StartServer(peer, f.srv);
    Child sink, toServer, toSink;
    const int port = StartRelay(relay, server.port, link, toServer);
    const int bare = StartRelay(relay, StartSink("", sink), link, toSink);
    std::printf("%s: %g Mbit/s, %g ms round trip; plain copies of %ld bytes, fast copies of %ld bytes, %d rounds\n",
                link.name, link.megabits, link.roundTripMs, link.plainBytes, kFastBytes, link.rounds);
    const std::string plainName = "plain_" + std::string(link.name) + ".bin";
    MakeFile(f.srv + "/" + plainName, link.plainBytes, 1);
    MakeFile(f.cli + "/" + plainName, link.plainBytes, 1);
    std::vector<double> plainGet, plainPut, fastGet, fastPut, treeGet, treePut;
    for (int i = 0; i < link.rounds; ++i) {
        const double plainBare = Bare(bare, link.plainBytes);
        const double pg = Copy(peer, port, f, plainName, true, true, link.plainBytes, peaks, intact);
        const double pp = Copy(peer, port, f, plainName, false, true, link.plainBytes, peaks, intact);
        const double fastBare = Bare(bare, kFastBytes);
        const double fg = Copy(peer, port, f, "fast.bin", true, false, kFastBytes, peaks, intact);
        const double fp = Copy(peer, port, f, "fast.bin", false, false, kFastBytes, peaks, intact);
        plainGet.push_back(plainBare / pg);
        plainPut.push_back(plainBare / pp);
        fastGet.push_back(fastBare / fg);
        fastPut.push_back(fastBare / fp);
        std::printf("%s round %d: plain get %.3f s, put %.3f s, bare %.3f s: shares %.3f %.3f | fast get %.3f s, "
                    "put %.3f s, bare %.3f s: shares %.3f %.3f\n",
                    link.name, i + 1, pg, pp, plainBare, plainGet.back(), plainPut.back(), fg, fp, fastBare,
                    fastGet.back(), fastPut.back());
        std::fflush(stdout);
    }
    if (&link == &kLinks[0]) SampleCopyMemory(peer, port, server.child.pid, f, peaks);
    const long treeBytes = long(kTreeFiles) * kTreeFileBytes;
    std::vector<double> yardsticks;
    for (int i = 0; i < link.treeRounds; ++i) {
        const double treeBare = Bare(bare, treeBytes);
        const double yardstick = treeBare + kTreeFiles * link.roundTripMs / 1000;
        const double g = TreeCopy(peer, port, f, true, peaks, intact);
        const double p = TreeCopy(peer, port, f, false, peaks, intact);
        treeGet.push_back(kTreeFiles / g);
        treePut.push_back(kTreeFiles / p);
        yardsticks.push_back(yardstick);
        std::printf("%s tree round %d: get -r %.3f s (%.0f files/s), put -r %.3f s (%.0f files/s); bare %.3f s, "
                    "plus a round trip a file %.3f s (%.0f files/s)\n",
                    link.name, i + 1, g, treeGet.back(), p, treePut.back(), treeBare, yardstick,
                    kTreeFiles / yardstick);
        std::fflush(stdout);
    }
    std::printf("%s median share of bare: plain get %.3f put %.3f | fast get %.3f put %.3f (target at least 0.9) | "
                "trees: get -r %.0f files/s, put -r %.0f files/s (bare plus a round trip a file: %.0f files/s)\n",
                link.name, Median(plainGet), Median(plainPut), Median(fastGet), Median(fastPut), Median(treeGet),
                Median(treePut), kTreeFiles / Median(yardsticks));
    std::fflush(stdout);
    std::remove((f.srv + "/" + plainName).c_str());
    std::remove((f.cli + "/" + plainName).c_str());
    Stop(toServer);
    Stop(toSink);
    Stop(sink);
    Stop(server.child);
    peaks.server = std::max(peaks.server, server.child.peakKiB);
}

// On loopback: the fast copy against the bare file-to-file transfer.
void RunLoopback(const std::string& peer, const Folders& f, Peaks& peaks, bool& intact) {
    Server server = StartServer(peer, f.srv);
    Child sink;
    const int bare = StartSink(f.cli + "/in/bare.bin", sink);
    std::vector<double> get, put, dataGet, dataPut;
    for (int i = 0; i < 5; ++i) {
        const double fileToFile = Bare(bare, kFastBytes, f.srv + "/fast.bin");
        const double g = Copy(peer, server.port, f, "fast.bin", true, false, kFastBytes, peaks, intact);
        const double p = Copy(peer, server.port, f, "fast.bin", false, false, kFastBytes, peaks, intact);
        const double start = Copy(peer, server.port, f, kOneByte, true, false, 1, peaks, intact);
        get.push_back(fileToFile / g);
        put.push_back(fileToFile / p);
        dataGet.push_back(fileToFile / (g - start));
        dataPut.push_back(fileToFile / (p - start));
        std::printf("loopback round %d: fast get %.3f s, put %.3f s, bare file to file %.3f s: shares %.3f %.3f; "
                    "a one-byte get %.3f s, the data alone: shares %.3f %.3f\n",
                    i + 1, g, p, fileToFile, get.back(), put.back(), start, dataGet.back(), dataPut.back());
        std::fflush(stdout);
    }
    std::printf("loopback median share of a bare file-to-file transfer: fast get %.3f put %.3f (target at least 0.8); "
                "the data alone: get %.3f put %.3f\n",
                Median(get), Median(put), Median(dataGet), Median(dataPut));
    Stop(sink);
    Stop(server.child);
    peaks.server = std::max(peaks.server, server.child.peakKiB);
}

// The secure fast copy against the release before's unencrypted one, on
// loopback and through the LAN link, round by round.
void RunSecure(const std::string& peer, const std::string& unencrypted, const std::string& relay, const Folders& f,
               Peaks& peaks, bool& intact) {
    for (const LinkKind* link : {static_cast<const LinkKind*>(nullptr), &kLinks[0]}) {
        const char* name = link ? link->name : "loopback";
        Server secure = StartServer(peer, f.srv), plain = StartServer(unencrypted, f.srv);
        Child toSecure, toPlain;
        const int securePort = link ? StartRelay(relay, secure.port, *link, toSecure) : secure.port;
        const int plainPort = link ? StartRelay(relay, plain.port, *link, toPlain) : plain.port;
        std::vector<double> get, put, dataGet, dataPut;
        for (int i = 0; i < 5; ++i) {
            const double ug = Copy(unencrypted, plainPort, f, "fast.bin", true, false, kFastBytes, peaks, intact);
            const double sg = Copy(peer, securePort, f, "fast.bin", true, false, kFastBytes, peaks, intact);
            const double up = Copy(unencrypted, plainPort, f, "fast.bin", false, false, kFastBytes, peaks, intact);
            const double sp = Copy(peer, securePort, f, "fast.bin", false, false, kFastBytes, peaks, intact);
            const double u0 = Copy(unencrypted, plainPort, f, kOneByte, true, false, 1, peaks, intact);
            const double s0 = Copy(peer, securePort, f, kOneByte, true, false, 1, peaks, intact);
            get.push_back(ug / sg);
            put.push_back(up / sp);
            dataGet.push_back((ug - u0) / (sg - s0));
            dataPut.push_back((up - u0) / (sp - s0));
            std::printf("secure %s round %d: get %.3f s against unencrypted %.3f s, put %.3f s against %.3f s: "
                        "shares %.3f %.3f; one-byte gets %.3f s against %.3f s, the data alone: shares %.3f %.3f\n",
                        name, i + 1, sg, ug, sp, up, get.back(), put.back(), s0, u0, dataGet.back(), dataPut.back());
            std::fflush(stdout);
        }
        std::printf("secure %s median share of the release before's unencrypted fast copy: get %.3f put %.3f "
                    "(target at least %s); the data alone: get %.3f put %.3f\n",
                    name, Median(get), Median(put), link ? "0.95" : "0.8", Median(dataGet), Median(dataPut));
        std::fflush(stdout);
        if (link) Stop(toSecure), Stop(toPlain);
        Stop(secure.child);
        Stop(plain.child);
        peaks.server = std::max(peaks.server, secure.child.peakKiB);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) Die("usage: link_bench QUORBEL_PEER LINK_RELAY [--unencrypted=PEER] [LAN|WiFi|VPN|loopback|secure ...]");
    const std::string peer = argv[1], relay = argv[2], flag = "--unencrypted=";
    std::vector<std::string> chosen(argv + 3, argv + argc);
    std::string unencrypted;
    if (!chosen.empty() && chosen[0].compare(0, flag.size(), flag) == 0)
        unencrypted = chosen[0].substr(flag.size()), chosen.erase(chosen.begin());
    auto wanted = [&](const std::string& name) {
        return chosen.empty() || std::find(chosen.begin(), chosen.end(), name) != chosen.end();
    };
    ::signal(SIGPIPE, SIG_IGN);

    char folderTemplate[] = "/tmp/quorbel_link_bench_XXXXXX";
    const char* folderName = ::mkdtemp(folderTemplate);
    if (!folderName) Die("mkdtemp");
    const std::string folder = folderName;
    // The Servers a Client had secure sessions with are remembered here, not in the user's own state.
    ::setenv("XDG_STATE_HOME", folder.c_str(), 1);
    const Folders f{folder + "/srv", folder + "/cli"};
    for (const std::string& side : {f.srv, f.cli}) {
        ::mkdir(side.c_str(), 0700);
        ::mkdir((side + "/in").c_str(), 0700);
        MakeFile(side + "/fast.bin", kFastBytes, 2);
        MakeFile(side + "/" + kOneByte, 1, 3);
    }
    MakeTree(f.srv + "/tree");
    MakeTree(f.cli + "/tree");

    Peaks peaks;
    bool intact = true;
    for (const LinkKind& link : kLinks)
        if (wanted(link.name)) RunLink(peer, relay, link, f, peaks, intact);
    if (wanted("loopback")) RunLoopback(peer, f, peaks, intact);
    if (!unencrypted.empty() && wanted("secure")) RunSecure(peer, unencrypted, relay, f, peaks, intact);
    if (peaks.copyClient > 0)
        std::printf("resident memory during a fast copy through the LAN link: server %ld KiB, client %ld KiB "
                    "(target at most 16384 KiB)\n",
                    peaks.copyServer, peaks.copyClient);
    std::printf("peak resident memory, the login's stretch included: server %ld KiB, client %ld KiB\n", peaks.server,
                peaks.client);
    std::printf("copies whole: %s\n", intact ? "yes" : "NO");
    std::filesystem::remove_all(folder);
    return intact ? 0 : 1;
}
