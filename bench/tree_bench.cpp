// quorbel-peer's folder-tree and single-file copies against the tools a user
// would otherwise reach for, rsync -a over ssh and scp, each measured in the
// same run, round by round, through the same link:
//   links: loopback; LAN 1 Gbit/s, 0.3 ms round trip; VPN 100 Mbit/s, 30 ms
//     round trip (a link_relay in front of the Server, another with the same
//     figures in front of sshd);
//   trees: get -r and put -r of 1,000 files of 10 KB in 20 folders against
//     rsync pulling and pushing the same tree, the destination emptied
//     before each copy (goal: at least 0.95 of rsync's speed each way);
//   many files: 100,000 files of 1 KB in 1,000 folders through the LAN link
//     (goal: within 1.2 times rsync's time, and at most 32 MiB resident on
//     either side of quorbel-peer);
//   single files: a 500 MB get and put on loopback and through the LAN link
//     against scp of the same file each way.
// Every copy is checked: its count of files and the bytes of some of them.
// The yardsticks talk to a private sshd on a loopback port with its own host
// key, one fresh client key and, for the session, a home without shell
// start-up files, all in a temporary folder. Neither ssh nor sshd gets a
// cipher or compression option: quorbel-peer has none either.
// Where sshd, ssh, scp or rsync is missing, quorbel-peer alone is measured.
//
//   tree_bench QUORBEL_PEER LINK_RELAY [--rounds=5] [--links=loopback,LAN,VPN]
//              [--parts=trees,many,big] [--many=100000] [--many-rounds=1]
//              [--big-mb=500] [--big-rounds=3]
// --links chooses the trees' links and, of loopback and LAN, the single
// files'; the many files always go through the LAN link. With the defaults
// a run takes about nine minutes on two cores.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>

#include <fstream>
#include <sstream>

#include "peer_bench_support.h"

namespace {

using namespace bench;

struct LinkKind {
    const char* name;
    double megabits, roundTripMs;  // no megabits: loopback, without a relay
};
constexpr LinkKind kLinks[] = {{"loopback", 0, 0}, {"LAN", 1000, 0.3}, {"VPN", 100, 30}};
constexpr double kTreeGoal = 0.95, kManyTimeGoal = 1.2;
constexpr long kMemoryGoalKiB = 32 * 1024;
constexpr int kManyFilesPerFolder = 100;
constexpr long kManyFileBytes = 1024;

// What must end with the run however it ends (a failed copy's Die(), or a
// signal): the children that run until stopped, and the temporary folder.
pid_t g_running[16];
char g_folder[128];
bool g_madeRunSshd = false;

void Track(pid_t pid) {
    if (pid <= 0) Die("fork");
    for (pid_t& p : g_running)
        if (p == 0) return void(p = pid);
    Die("too many children");
}

void Stop(Child& c) {
    if (c.pid <= 0) return;  // kill(-1) would reach every process
    for (pid_t& p : g_running)
        if (p == c.pid) p = 0;
    ::kill(c.pid, SIGTERM);
    Wait(c);
}

void CleanUp() {
    for (pid_t& p : g_running)
        if (p > 0) ::kill(p, SIGTERM), ::waitpid(p, nullptr, 0), p = 0;
    std::error_code ignored;
    if (g_folder[0]) std::filesystem::remove_all(g_folder, ignored);
    g_folder[0] = 0;
    if (g_madeRunSshd) ::rmdir("/run/sshd");
}

// Only what is safe in a signal handler: rm does the removing.
void OnSignal(int signal) {
    for (pid_t p : g_running)
        if (p > 0) ::kill(p, SIGTERM);
    if (g_folder[0]) {
        const pid_t rm = ::fork();
        if (rm == 0) ::execl("/bin/rm", "rm", "-rf", g_folder, static_cast<char*>(nullptr)), _exit(127);
        if (rm > 0) ::waitpid(rm, nullptr, 0);
    }
    if (g_madeRunSshd) ::rmdir("/run/sshd");
    _exit(128 + signal);
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// `name` on the PATH, or where Debian puts sshd; empty when it is nowhere.
std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(std::string(path ? path : "") + ":/usr/sbin:/sbin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
    return "";
}

// A command run to its end, its output in `log`: its time, and its peak
// memory (that of its largest process) in `peakKiB`. A failure shows the log.
double Timed(const std::vector<std::string>& args, const std::string& log, long* peakKiB = nullptr) {
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const Clock::time_point start = Clock::now();
    Child c = Spawn(args, fd, fd);
    Wait(c);
    const double seconds = Since(start);
    ::close(fd);
    if (!WIFEXITED(c.status) || WEXITSTATUS(c.status) != 0)
        Die(args[0] + " failed:\n" + ReadText(log));
    if (peakKiB) *peakKiB = std::max(*peakKiB, c.peakKiB);
    return seconds;
}

// The yardsticks' side: a private sshd and the clients' command lines.
struct Yardstick {
    bool ok = false;
    std::string ssh, scp, rsync, key, log, remote;  // remote: "user@127.0.0.1:"
    Child sshd;
    int port = 0;

    std::vector<std::string> Options() const {
        return {"-i", key, "-o", "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null",
                "-o", "BatchMode=yes", "-o", "LogLevel=ERROR"};
    }
    std::vector<std::string> Rsync(int at, const std::string& from, const std::string& to) const {
        std::string shell = ssh + " -p " + std::to_string(at);
        for (const std::string& o : Options()) shell += " " + o;
        return {rsync, "-a", "-e", shell, from, to};
    }
    std::vector<std::string> Scp(int at, const std::string& from, const std::string& to) const {
        std::vector<std::string> args = {scp, "-P", std::to_string(at)};
        for (const std::string& o : Options()) args.push_back(o);
        args.push_back(from);
        args.push_back(to);
        return args;
    }
};

// sshd on a free loopback port, which lets in the current user with the
// fresh client key and nothing else; false, and why, when it cannot start.
bool StartSshd(Yardstick& y, const std::string& sshd, const std::string& dir) {
    const std::string keygen = FindProgram("ssh-keygen");
    const passwd* user = ::getpwuid(::getuid());
    if (keygen.empty() || !user) return std::printf("yardstick: no ssh-keygen or user name\n"), false;
    ::mkdir(dir.c_str(), 0700);
    for (const char* name : {"host_key", "client_key"})
        Timed({keygen, "-q", "-t", "ed25519", "-N", "", "-C", "", "-f", dir + "/" + name}, dir + "/keygen.log");
    std::ofstream(dir + "/authorized_keys") << ReadText(dir + "/client_key.pub");
    y.key = dir + "/client_key";
    y.remote = std::string(user->pw_name) + "@127.0.0.1:";
    // Its privilege separation needs this folder when it runs as root.
    if (::getuid() == 0 && ::mkdir("/run/sshd", 0755) == 0) g_madeRunSshd = true;
    const std::string sftp = "/usr/lib/openssh/sftp-server";
    y.log = dir + "/sshd.log";
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int probe = ListenOnLoopback(1, &y.port);
        ::close(probe);
        std::ofstream(dir + "/sshd_config")
            << "Port " << y.port << "\nListenAddress 127.0.0.1\nHostKey " << dir << "/host_key\nPidFile none\n"
            << "AuthorizedKeysFile " << dir << "/authorized_keys\nAuthenticationMethods publickey\n"
            << "PasswordAuthentication no\nKbdInteractiveAuthentication no\nUsePAM no\n"
            // The key files lie below /tmp, which everyone may write to.
            << "StrictModes no\nAllowUsers " << user->pw_name << "\nPermitRootLogin "
            << (::getuid() == 0 ? "prohibit-password" : "no") << "\nSubsystem sftp "
            << (::access(sftp.c_str(), X_OK) == 0 ? sftp : "internal-sftp") << "\n"
            // rsync's remote side starts in the account's shell, and bash
            // reads ~/.bashrc under sshd: with this HOME, which has none, the
            // time is the copy's, not this machine's profile's.
            << "SetEnv HOME=" << dir << "\nPermitUserRC no\n";
        const int log = ::open(y.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        y.sshd = Spawn({sshd, "-D", "-e", "-f", dir + "/sshd_config"}, log);
        ::close(log);
        Track(y.sshd.pid);
        bool ended = false;
        for (const Clock::time_point start = Clock::now(); Since(start) < 10 && !ended; ::usleep(10000)) {
            if (ReadText(y.log).find("Server listening") != std::string::npos) return y.ok = true;
            ended = ::waitpid(y.sshd.pid, nullptr, WNOHANG) == y.sshd.pid;
        }
        // It ended (another program took the port first), or never listened.
        if (ended) {
            for (pid_t& p : g_running)
                if (p == y.sshd.pid) p = 0;
        } else {
            Stop(y.sshd);
        }
    }
    std::printf("yardstick: sshd did not start:\n%s", ReadText(y.log).c_str());
    return false;
}

Yardstick SetUpYardstick(const std::string& folder) {
    Yardstick y;
    const std::string sshd = FindProgram("sshd");
    y.ssh = FindProgram("ssh");
    y.scp = FindProgram("scp");
    y.rsync = FindProgram("rsync");
    if (sshd.empty() || y.ssh.empty() || y.scp.empty() || y.rsync.empty()) {
        std::printf("yardstick: sshd, ssh, scp or rsync cannot be found (scripts/setup.sh installs them); "
                    "quorbel-peer is measured without them\n");
        return y;
    }
    if (!StartSshd(y, sshd, folder + "/ssh")) return y;
    std::vector<std::string> hello = {y.ssh, "-p", std::to_string(y.port)};
    for (const std::string& o : y.Options()) hello.push_back(o);
    hello.push_back(y.remote.substr(0, y.remote.size() - 1));
    hello.push_back("true");
    const int log = ::open((folder + "/ssh/hello.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    Child c = Spawn(hello, log, log);
    Wait(c);
    ::close(log);
    if (!WIFEXITED(c.status) || WEXITSTATUS(c.status) != 0) {
        std::printf("yardstick: ssh cannot log in to the private sshd:\n%s%s",
                    ReadText(folder + "/ssh/hello.log").c_str(), ReadText(y.log).c_str());
        Stop(y.sshd);
        y.ok = false;
        return y;
    }
    std::printf("yardstick: a private sshd on 127.0.0.1 port %d (%s, %s, %s)\n", y.port, y.ssh.c_str(), y.scp.c_str(),
                y.rsync.c_str());
    return y;
}

struct Bench {
    std::string peer, relay, srv, cli, logs;  // srv: the Server's drive C:; both have "in"
    Yardstick y;
    bool intact = true;
};

// A link's two ends: the quorbel-peer Server and sshd, each through its own
// relay of the link's figures.
struct Endpoints {
    Server server;
    Child toServer, toSshd;
    int peerPort = 0, sshPort = 0;
};

Endpoints Open(const Bench& b, const LinkKind& link) {
    Endpoints e;
    e.server = StartServer(b.peer, b.srv);
    Track(e.server.child.pid);
    e.peerPort = e.server.port;
    e.sshPort = b.y.port;
    if (link.megabits > 0) {
        e.peerPort = StartLinkRelay(b.relay, e.server.port, link.megabits, link.roundTripMs, e.toServer);
        Track(e.toServer.pid);
        if (b.y.ok) {
            e.sshPort = StartLinkRelay(b.relay, b.y.port, link.megabits, link.roundTripMs, e.toSshd);
            Track(e.toSshd.pid);
        }
    }
    return e;
}

// The Server's peak memory.
long Close(Endpoints& e) {
    if (e.toServer.pid > 0) Stop(e.toServer);
    if (e.toSshd.pid > 0) Stop(e.toSshd);
    Stop(e.server.child);
    return e.server.child.peakKiB;
}

// The files below `top` that have their final names.
long WholeFiles(const std::string& top) {
    long n = 0;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(top, error);
         it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        n += it->is_regular_file() && !(name.size() > 6 && name.compare(name.size() - 6, 6, ".$PART") == 0);
    }
    return n;
}

// Some files of a tree spread over it, the last one too: their paths below its top.
std::vector<std::string> Samples(const std::string& top) {
    std::vector<std::string> all;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(top))
        if (entry.is_regular_file()) all.push_back(std::filesystem::relative(entry.path(), top).string());
    std::vector<std::string> some;
    for (size_t i = 0; i < all.size(); i += std::max<size_t>(1, all.size() / 7)) some.push_back(all[i]);
    if (!all.empty()) some.push_back(all.back());
    return some;
}

// Whether a tree copy landed whole: every file, and the samples' bytes. A
// put's last file takes its name once the Client has ended; it is waited for.
bool Landed(const std::string& from, const std::string& to, long files, const std::vector<std::string>& samples) {
    long n = WholeFiles(to);
    for (const Clock::time_point start = Clock::now(); n != files && Since(start) < 20; n = WholeFiles(to))
        ::usleep(20000);
    bool same = n == files;
    for (const std::string& s : samples) same = same && SameFiles(from + "/" + s, to + "/" + s);
    if (!same) std::printf("  NOT WHOLE: %s has %ld files of %ld, or other bytes\n", to.c_str(), n, files);
    return same;
}

// A copy each way by each program; the yardstick's are 0 without it.
struct Round {
    double get = 0, pull = 0, put = 0, push = 0;
};

// What a round copies, in each side's top folder: a tree, with some of its
// files to compare, or a single file.
struct Subject {
    std::string name;
    bool tree;
    long files, bytes;
    std::vector<std::string> samples;
};

// One round: quorbel-peer's get and put, and rsync's (a tree) or scp's (a
// file) pull and push, the yardstick first in every other round.
Round CopyRound(Bench& b, const Endpoints& e, const Subject& t, bool yardstickFirst, long& clientPeak,
                long* yardstickPeak = nullptr) {
    const std::string fromSrv = b.srv + "/" + t.name, fromCli = b.cli + "/" + t.name;
    const std::string toCli = b.cli + "/in/" + t.name, toSrv = b.srv + "/in/" + t.name, log = b.logs + "/yard.log";
    auto landed = [&](const std::string& from, const std::string& to) {
        const bool whole = t.tree ? Landed(from, to, t.files, t.samples) : Arrived(to, t.bytes) && SameFiles(from, to);
        if (!whole && !t.tree) std::printf("  NOT WHOLE: %s\n", to.c_str());
        b.intact = whole && b.intact;
        std::filesystem::remove_all(to);
    };
    auto ours = [&](const char* verb, const std::string& from, const std::string& to) {
        std::vector<std::string> args = {verb, from, to};
        if (t.tree) args.insert(args.begin() + 1, "-r");
        return RunClient(b.peer, e.peerPort, false, args, clientPeak);
    };
    auto theirs = [&](const std::string& from, const std::string& to) {
        return Timed(t.tree ? b.y.Rsync(e.sshPort, from + "/", to + "/") : b.y.Scp(e.sshPort, from, to), log,
                     yardstickPeak);
    };
    Round r;
    auto get = [&] { r.get = ours("get", "C:\\" + t.name, b.cli + "/in"); landed(fromSrv, toCli); };
    auto pull = [&] { r.pull = theirs(b.y.remote + fromSrv, toCli); landed(fromSrv, toCli); };
    auto put = [&] { r.put = ours("put", fromCli, "C:\\in"); landed(fromCli, toSrv); };
    auto push = [&] { r.push = theirs(fromCli, b.y.remote + toSrv); landed(fromCli, toSrv); };
    if (b.y.ok && yardstickFirst) pull(), get(), push(), put();
    else if (b.y.ok) get(), pull(), put(), push();
    else get(), put();
    return r;
}

// "1.234 [1.200-1.300]": the median and the spread of the rounds.
std::string Spread(const std::vector<double>& v, const char* format = "%.3f") {
    if (v.empty()) return "-";
    char median[32], low[32], high[32];
    std::snprintf(median, sizeof median, format, Median(v));
    std::snprintf(low, sizeof low, format, *std::min_element(v.begin(), v.end()));
    std::snprintf(high, sizeof high, format, *std::max_element(v.begin(), v.end()));
    return v.size() == 1 ? median : std::string(median) + " [" + low + "-" + high + "]";
}

// The rows of the closing table, as each part finishes.
std::vector<std::string> g_summary;

// The rounds of one kind of copy on one link, both ways, and their verdict.
// `goal` is a least speed ratio (yardstick time / quorbel-peer time).
void Summarise(const std::string& what, const std::vector<Round>& rounds, bool yardstick, const char* pullName,
               const char* pushName, double goal) {
    for (const bool get : {true, false}) {
        std::vector<double> ours, theirs, ratios;
        for (const Round& r : rounds) {
            ours.push_back(get ? r.get : r.put);
            theirs.push_back(get ? r.pull : r.push);
            ratios.push_back(theirs.back() / ours.back());
        }
        char row[400], verdict[64] = "no goal set";
        if (goal > 0 && yardstick)
            std::snprintf(verdict, sizeof verdict, "goal >= %.2f: %s", goal, Median(ratios) >= goal ? "met" : "MISSED");
        std::snprintf(row, sizeof row, "%-30s %-24s %-11s %-24s %-20s %s", (what + (get ? " get" : " put")).c_str(),
                      Spread(ours).c_str(), get ? pullName : pushName,
                      yardstick ? Spread(theirs).c_str() : "-", yardstick ? Spread(ratios, "%.2f").c_str() : "-",
                      yardstick ? verdict : "");
        std::printf("  %s\n", row);
        g_summary.push_back(row);
    }
    std::fflush(stdout);
}

void PrintRound(const std::string& what, int i, const Round& r, bool yardstick, const char* pull, const char* push) {
    if (yardstick)
        std::printf("%s round %d: get %.3f s, %s %.3f s: ratio %.2f | put %.3f s, %s %.3f s: ratio %.2f\n",
                    what.c_str(), i + 1, r.get, pull, r.pull, r.pull / r.get, r.put, push, r.push, r.push / r.put);
    else
        std::printf("%s round %d: get %.3f s, put %.3f s\n", what.c_str(), i + 1, r.get, r.put);
    std::fflush(stdout);
}

// The rounds of one copy through one link, each printed as it ends, the
// yardstick first in every other one, then their summary; the Server's
// peak memory.
long RunRounds(Bench& b, const LinkKind& link, const Subject& what, int rounds, const std::string& label,
               const std::string& summary, const char* pull, const char* push, double goal, long& clientPeak) {
    Endpoints e = Open(b, link);
    std::vector<Round> done;
    for (int i = 0; i < rounds; ++i) {
        done.push_back(CopyRound(b, e, what, i % 2 == 1, clientPeak));
        PrintRound(label, i, done.back(), b.y.ok, pull, push);
    }
    const long serverPeak = Close(e);
    Summarise(summary, done, b.y.ok, pull, push, goal);
    return serverPeak;
}

void RunTrees(Bench& b, const std::vector<const LinkKind*>& links, int rounds) {
    MakeTree(b.srv + "/tree");
    MakeTree(b.cli + "/tree");
    const Subject tree{"tree", true, kTreeFiles, 0, Samples(b.srv + "/tree")};
    long serverPeak = 0, clientPeak = 0;
    for (const LinkKind* link : links) {
        std::printf("== trees through %s: %d files of %ld bytes in %d folders, get -r and put -r against rsync -a "
                    "pull and push, %d rounds\n",
                    link->name, kTreeFiles, kTreeFileBytes, kTreeFolders, rounds);
        std::fflush(stdout);
        serverPeak = std::max(serverPeak, RunRounds(b, *link, tree, rounds, std::string("trees ") + link->name,
                                                    std::string("trees ") + link->name + " -r", "rsync pull",
                                                    "rsync push", kTreeGoal, clientPeak));
    }
    std::printf("trees: peak resident memory of quorbel-peer, server %ld KiB, client %ld KiB\n", serverPeak,
                clientPeak);
    std::filesystem::remove_all(b.srv + "/tree");
    std::filesystem::remove_all(b.cli + "/tree");
}

// `files` files of 1 KB, a hundred to a folder.
void MakeManyTree(const std::string& top, long files) {
    ::mkdir(top.c_str(), 0700);
    const long folders = std::max<long>(1, (files + kManyFilesPerFolder - 1) / kManyFilesPerFolder);
    for (long d = 0; d < folders; ++d) ::mkdir((top + "/d" + std::to_string(d)).c_str(), 0700);
    for (long i = 0; i < files; ++i)
        MakeFile(top + "/d" + std::to_string(i / kManyFilesPerFolder) + "/f" + std::to_string(i) + ".bin",
                 kManyFileBytes, unsigned(i));
}

void RunMany(Bench& b, long files, int rounds) {
    const long folders = std::max<long>(1, (files + kManyFilesPerFolder - 1) / kManyFilesPerFolder);
    std::printf("== many files through LAN: %ld files of %ld bytes in %ld folders, get -r and put -r against rsync "
                "-a pull and push, %d round(s); making them\n",
                files, kManyFileBytes, folders, rounds);
    std::fflush(stdout);
    MakeManyTree(b.srv + "/many", files);
    MakeManyTree(b.cli + "/many", files);
    const Subject many{"many", true, files, 0, Samples(b.srv + "/many")};
    long clientPeak = 0, rsyncPeak = 0;
    // A Server of its own, so that its peak is this part's.
    Endpoints e = Open(b, kLinks[1]);
    std::vector<Round> done;
    for (int i = 0; i < rounds; ++i) {
        done.push_back(CopyRound(b, e, many, i % 2 == 1, clientPeak, &rsyncPeak));
        PrintRound("many LAN", i, done.back(), b.y.ok, "rsync pull", "rsync push");
    }
    const long serverPeak = Close(e);
    Summarise("many LAN -r", done, b.y.ok, "rsync pull", "rsync push", 1 / kManyTimeGoal);
    if (b.y.ok) {
        std::vector<double> get, put;
        for (const Round& r : done) get.push_back(r.get / r.pull), put.push_back(r.put / r.push);
        char row[200];
        std::snprintf(row, sizeof row, "many files: quorbel-peer's time / rsync's: get %.2fx, put %.2fx (goal at most "
                      "%.2fx: %s)", Median(get), Median(put), kManyTimeGoal,
                      Median(get) <= kManyTimeGoal && Median(put) <= kManyTimeGoal ? "met" : "MISSED");
        std::printf("%s\n", row);
        g_summary.push_back(row);
    }
    const bool small = serverPeak <= kMemoryGoalKiB && clientPeak <= kMemoryGoalKiB;
    char row[400];
    std::snprintf(row, sizeof row,
                  "many files: peak resident memory of quorbel-peer, server %ld KiB, client %ld KiB (goal at most "
                  "%ld KiB a side: %s)",
                  serverPeak, clientPeak, kMemoryGoalKiB, small ? "met" : "MISSED");
    std::printf("%s\n", row);
    g_summary.push_back(row);
    if (b.y.ok) std::printf("many files: rsync's local side peaked at %ld KiB (for context)\n", rsyncPeak);
    std::filesystem::remove_all(b.srv + "/many");
    std::filesystem::remove_all(b.cli + "/many");
}

void RunBig(Bench& b, const std::vector<const LinkKind*>& links, long megabytes, int rounds) {
    const long bytes = megabytes * 1000000L;
    const Subject big{"big.bin", false, 1, bytes, {}};
    std::printf("== single files: %ld bytes, get and put against scp pull and push, %d rounds; making them\n", bytes,
                rounds);
    std::fflush(stdout);
    MakeFile(b.srv + "/" + big.name, bytes, 7);
    MakeFile(b.cli + "/" + big.name, bytes, 8);
    long serverPeak = 0, clientPeak = 0;
    for (const LinkKind* link : links) {
        if (link == &kLinks[2]) continue;  // loopback and the LAN only
        serverPeak = std::max(serverPeak, RunRounds(b, *link, big, rounds, std::string("file ") + link->name,
                                                    std::string("file ") + link->name + " " +
                                                        std::to_string(megabytes) + " MB",
                                                    "scp pull", "scp push", 0, clientPeak));
    }
    std::printf("single files: peak resident memory of quorbel-peer, server %ld KiB, client %ld KiB\n", serverPeak,
                clientPeak);
    std::remove((b.srv + "/" + big.name).c_str());
    std::remove((b.cli + "/" + big.name).c_str());
}

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> items;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');)
        if (!item.empty()) items.push_back(item);
    return items;
}

bool Has(const std::vector<std::string>& items, const std::string& item) {
    return std::find(items.begin(), items.end(), item) != items.end();
}

}  // namespace

int main(int argc, char** argv) {
    const char* usage = "usage: tree_bench QUORBEL_PEER LINK_RELAY [--rounds=5] [--links=loopback,LAN,VPN] "
                        "[--parts=trees,many,big] [--many=100000] [--many-rounds=1] [--big-mb=500] [--big-rounds=3]";
    if (argc < 3) Die(usage);
    Bench b;
    b.peer = argv[1];
    b.relay = argv[2];
    for (const std::string& program : {b.peer, b.relay})
        if (::access(program.c_str(), X_OK) != 0) Die("cannot run " + program + ": " + usage);
    int rounds = 5, manyRounds = 1, bigRounds = 3;
    long many = 100000, bigMegabytes = 500;
    std::vector<std::string> linkNames = {"loopback", "LAN", "VPN"}, parts = {"trees", "many", "big"};
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        const size_t eq = arg.find('=');
        const std::string key = arg.substr(0, eq), value = eq == std::string::npos ? "" : arg.substr(eq + 1);
        const long number = std::atol(value.c_str());
        if (key == "--links") linkNames = SplitCommas(value);
        else if (key == "--parts") parts = SplitCommas(value);
        else if (number <= 0) Die(usage);
        else if (key == "--rounds") rounds = int(number);
        else if (key == "--many") many = number;
        else if (key == "--many-rounds") manyRounds = int(number);
        else if (key == "--big-mb") bigMegabytes = number;
        else if (key == "--big-rounds") bigRounds = int(number);
        else Die(usage);
    }
    std::vector<const LinkKind*> links;
    for (const LinkKind& link : kLinks)
        if (Has(linkNames, link.name)) links.push_back(&link);
    for (const std::string& name : linkNames)
        if (std::none_of(std::begin(kLinks), std::end(kLinks), [&](const LinkKind& l) { return name == l.name; }))
            Die("no link " + name + ": " + usage);
    for (const std::string& part : parts)
        if (part != "trees" && part != "many" && part != "big") Die("no part " + part + ": " + usage);

    char folderTemplate[] = "/tmp/quorbel_tree_bench_XXXXXX";
    const char* folderName = ::mkdtemp(folderTemplate);
    if (!folderName) Die("mkdtemp");
    std::snprintf(g_folder, sizeof g_folder, "%s", folderName);
    std::atexit(CleanUp);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal, OnSignal);
    const std::string folder = folderName;
    // The Servers a Client had secure sessions with are remembered here, not in the user's own state.
    ::setenv("XDG_STATE_HOME", folder.c_str(), 1);
    // ssh offers only the key it is given, not an agent's.
    ::unsetenv("SSH_AUTH_SOCK");
    b.srv = folder + "/srv";
    b.cli = folder + "/cli";
    b.logs = folder;
    for (const std::string& side : {b.srv, b.cli}) {
        ::mkdir(side.c_str(), 0700);
        ::mkdir((side + "/in").c_str(), 0700);
    }
    b.y = SetUpYardstick(folder);

    if (Has(parts, "trees")) RunTrees(b, links, rounds);
    if (Has(parts, "many")) RunMany(b, many, manyRounds);
    if (Has(parts, "big")) RunBig(b, links, bigMegabytes, bigRounds);
    if (b.y.ok) Stop(b.y.sshd);

    std::printf("== summary: times in seconds, the median [min-max] of the rounds; ratio: the yardstick's time / "
                "quorbel-peer's in each round (quorbel-peer's speed as a share\n   of the yardstick's), its median "
                "[min-max]\n");
    std::printf("%-30s %-24s %-11s %-24s %-20s %s\n", "copy", "quorbel-peer", "yardstick", "its time", "ratio", "");
    for (const std::string& row : g_summary) std::printf("%s\n", row.c_str());
    std::printf("copies whole: %s\n", b.intact ? "yes" : "NO");
    return b.intact ? 0 : 1;
}
