// quorbel-peer against quorbel-peer over loopback, both sanitised: the
// login, the listing, copies in both protocol modes, paths that try to
// leave the served folders (also while folders are swapped for links),
// stops and cut connections, peers that would hold the Server, the exit
// codes; and the Client against a scripted Server that does what no real
// one does. Every wait has a time-out; the Server chooses its port.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "core/protocol/protocol.h"
#include "linux/host/net.h"

namespace fs = std::filesystem;

namespace {

constexpr auto npos = std::string::npos;
const std::vector<std::string> kLogin = {"--id", "tester", "--pw", "secret"};

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::string> Plain(bool plain) { return plain ? With({"--plain"}, {}) : With({}, {}); }

bool WaitFor(const std::function<bool()>& condition, double seconds = 30) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (; !condition(); std::this_thread::sleep_for(std::chrono::milliseconds(5)))
        if (std::chrono::steady_clock::now() > deadline) return false;
    return true;
}

// Reads `fd` into `out` until `until` is in it, or to its end: false after 30 s.
bool ReadFrom(int fd, std::string& out, const std::string& until = "") {
    return WaitFor([&] {
        char b[1 << 16];
        pollfd p{fd, POLLIN, 0};
        const ssize_t n = ::poll(&p, 1, 50) == 1 ? ::read(fd, b, sizeof b) : -2;
        out.append(b, std::size_t(std::max<ssize_t>(n, 0)));
        return n == 0 || n == -1 || (!until.empty() && out.find(until) != npos);
    });
}

// Exit code of a process (128 + signal when killed); killed after `seconds`.
int Reap(pid_t pid, double seconds = 120) {
    int status = 0;
    if (!WaitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, seconds)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ADD_FAILURE() << "process " << pid << " did not end within " << seconds << " s";
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void Write(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }

std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Random(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::string s(n, '\0');
    for (char& c : s) c = char(random());
    return s;
}

// A raw connection: receives wait 30 s at most; a small buffer when asked.
int Connect(int port, int receiveBuffer = 0) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    const timeval limit{30, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (receiveBuffer > 0) ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    EXPECT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return s;
}

// A fast-mode frame: the length, little-endian, and the message.
std::string Frame(const std::string& message) {
    char length[4];
    quorbel::PutFrameHeader(length, uint32_t(message.size()));
    return std::string(length, 4) + message;
}

// The answer to a "PW" of the test pair (with the marker of the last
// fast mode of the plain login, as the release before sends it).
const std::string kOlderMarker = std::string(quorbel::Marker(3));
std::string LogIn(int s, bool fast, const std::string& pw = "secret") {
    const std::string request = "PWtester" + pw + (fast ? std::string(1, '\0') + kOlderMarker : "");
    char answer[64];
    const ssize_t n = ::send(s, request.data(), request.size(), MSG_NOSIGNAL) > 0 ? ::recv(s, answer, 64, 0) : -1;
    return std::string(answer, std::size_t(std::max<ssize_t>(n, 0)));
}

// Bytes and times of two files alike; times in the 100 ns steps that the
// end record carries, and read first (reading may move the last access).
::testing::AssertionResult SameFile(const fs::path& a, const fs::path& b) {
    struct stat sa{}, sb{};
    auto same = [](const timespec& x, const timespec& y) {
        return x.tv_sec == y.tv_sec && x.tv_nsec / 100 == y.tv_nsec / 100;
    };
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0 || !same(sa.st_mtim, sb.st_mtim) ||
        !same(sa.st_atim, sb.st_atim))
        return ::testing::AssertionFailure() << a << " and " << b << " differ in their times (or are missing)";
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::vector<char> ba(1 << 20), bb(1 << 20);
    while (fa && fb) {
        fa.read(ba.data(), ba.size());
        fb.read(bb.data(), bb.size());
        if (fa.gcount() != fb.gcount() || std::memcmp(ba.data(), bb.data(), std::size_t(fa.gcount())) != 0)
            return ::testing::AssertionFailure() << a << " and " << b << " differ in their bytes";
    }
    return ::testing::AssertionSuccess();
}

// A Server that does what no real one does, chosen by the path asked for,
// in the plain protocol; each wait ends after 30 s or when the Client closes.
struct Fake {
    ~Fake() { ::close(listener); }
    // One message; an end record has its length, whatever follows it in one read.
    std::string Next() {
        char b[2048];
        const ssize_t n = pending.empty() ? ::recv(fd, b, sizeof b, 0) : 0;
        if (n > 0) pending.assign(b, std::size_t(n));
        const std::size_t end = pending.rfind("FR999999", 0) == 0 ? 32 : pending.rfind("DR999999", 0) == 0 ? 8 : npos;
        const std::string m = pending.substr(0, end);
        pending.erase(0, m.size());
        return m;
    }
    void Send(const std::string& m) { ::send(fd, m.data(), m.size(), MSG_NOSIGNAL); }
    // With the next Client.
    void Play() {
        pollfd p{listener, POLLIN, 0};
        const timeval wait{30, 0};
        if (::poll(&p, 1, 30000) != 1 || (fd = ::accept(listener, nullptr, nullptr)) < 0) return;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        std::string login = Next();
        // A Server of the plain protocol: "NAK" to each empty login text, then the Client's plain login.
        if (login.rfind(std::string("PW\0", 3), 0) == 0) {
            while (login.rfind(std::string("PW\0", 3), 0) == 0) Send("NAK"), login = Next();
            ::close(fd);
            if (offersOnly) return;
            if (::poll(&p, 1, 30000) != 1 || (fd = ::accept(listener, nullptr, nullptr)) < 0) return;
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            login = Next();
        }
        if (login.find("web") != npos) Send("HTTP/1.1 400 Bad Request\r\n\r\n");
        else Send("ACK"), Answer(Next());
        ::close(fd);
    }
    void Answer(std::string ask) {
        // A put: every block answered, no end record.
        for (; ask.rfind("FD", 0) == 0 || ask.rfind("FR", 0) == 0; ask = Next())
            if (ask.rfind("FR999999", 0) != 0) Send("ACK");
        if (ask == "FCC:\\kept.txt") Send("FB999999" + std::string(24, '\0'));  // the file lost
        for (const char* row : {"DR000000.,,,1", "DR000001b.bin,,18K,8"})  // a.txt lost, b.bin kept short
            if (ask == "DDC:\\in") Send(row), Next();
        if (ask == "DDC:\\in" || ask == "DDC:\\nope") return Send("DR999999");
        // A tree: names that lead elsewhere, nesting past the path limit, a listing without end.
        for (const std::string deep = std::string(40, 'd'); ask.rfind("DDC:\\h", 0) == 0 && ask.find("flood") == npos;
             ask = Next()) {
            for (const std::string& row : ask == "DDC:\\h" ? std::vector<std::string>{"..,,,1", "a/b,,1,8", "..,,1,8",
                                                                                     deep + ",,,1", "flood,,,1"}
                                                            : std::vector<std::string>{deep + ",,,1"})
                Send("DR000000" + row), Next();
            Send("DR999999");
            // As a Server does after the first listing of a connection; a loaded one late.
            if (ask == "DDC:\\h") std::this_thread::sleep_for(std::chrono::milliseconds(2500)), Send("DDC:\\");
            for (std::string r = ask == "DDC:\\h" ? Next() : ""; r.rfind("DR0", 0) == 0; r = Next()) Send("ACK");
        }
        // Records without end, at once or each in time but the whole too slow.
        for (int i = 0; (ask.find("flood") != npos || ask == "DDC:\\trickle") && i < 5000; ++i) {
            if (ask == "DDC:\\trickle") std::this_thread::sleep_for(std::chrono::milliseconds(30));
            Send(i == 0 ? "DR000000a\tb\x1b[2J\n,2024/01/01\t00:00,1\r2,8" : "DR000001x,,1,8");
            if (Next() != "ACK") break;
            answered += ask == "DDC:\\flood";
        }
        while (!Next().empty()) {
        }
    }

    uint16_t port = 0;
    std::string why, pending;
    int listener = quorbel::posix::Listen("", port, why), fd = -1, answered = 0;
    bool offersOnly = false;  // a path that refuses the offers and takes no plain login after them
};

// Between a Client and the Server: forwards both ways and counts the bytes
// of one side (the sender of a copy), whose further bytes it holds once
// `limit` of them went through. Ends at Close, or when either side closes.
struct Relay {
    Relay(int serverPort, bool fromClient, uint64_t limit) {
        std::string why;
        listener = quorbel::posix::Listen("", port, why);
        thread = std::thread([=] {
            pollfd p{listener, POLLIN, 0};
            while (!stop && ::poll(&p, 1, 50) != 1) {  // each wait 50 ms at most: Close is seen
            }
            int ends[2] = {stop ? -1 : ::accept(listener, nullptr, nullptr), stop ? -1 : Connect(serverPort)};
            const int counted = fromClient ? 0 : 1;
            std::vector<char> buffer(1 << 16);
            for (bool open = ends[0] >= 0; open && !stop;) {
                held = forwarded >= limit;
                pollfd fds[2] = {{ends[0], short(held && counted == 0 ? 0 : POLLIN), 0},
                                 {ends[1], short(held && counted == 1 ? 0 : POLLIN), 0}};
                if (::poll(fds, 2, 50) <= 0) continue;
                for (int i = 0; i < 2 && open; ++i) {
                    if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                    const ssize_t n = ::recv(ends[i], buffer.data(), buffer.size(), 0);
                    open = n > 0 && ::send(ends[1 - i], buffer.data(), std::size_t(n), MSG_NOSIGNAL) == n;
                    if (open && i == counted) forwarded += uint64_t(n);
                }
            }
            for (int fd : ends) ::close(fd);
        });
    }
    ~Relay() { Close(); }
    void Close() {
        stop = true;
        if (thread.joinable()) thread.join();
        ::close(std::exchange(listener, -1));
    }

    uint16_t port = 0;
    int listener = -1;
    std::atomic<uint64_t> forwarded{0};
    std::atomic<bool> held{false}, stop{false};
    std::thread thread;
};

struct Result {
    int code = -1;
    std::string out, err;
};

// A folder per test (served root, client folder, a folder outside both),
// the sanitised quorbel-peer as Server and as Client.
class PeerTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/quorbel_peer_test_XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        base_ = name, srv_ = base_ / "srv", cli_ = base_ / "cli", outside_ = base_ / "outside";
        for (const fs::path& p : {srv_, cli_, outside_}) fs::create_directory(p);
        // The Servers a Client had secure sessions with are this test's own.
        ::setenv("XDG_STATE_HOME", base_.c_str(), 1);
    }
    void TearDown() override {
        if (server_ > 0) {
            EXPECT_EQ(StopServer(), 0) << ServerLog();
        }
        fs::remove_all(base_);
    }
    // A Server with these options on a port of its choosing, read from its log.
    void Serve(const std::vector<std::string>& options) {
        server_ = Spawn(With(With({"serve"}, options), {"--port", "0"}), "server");
        ASSERT_TRUE(WaitFor([&] { return ServerLog().find("listening on port ") != npos; })) << ServerLog();
        port_ = std::stoi(ServerLog().substr(ServerLog().find("listening on port ") + 18));
    }
    int StopServer(int signal = SIGTERM) {
        ::kill(server_, signal);
        return Reap(std::exchange(server_, -1));
    }
    pid_t StartClient(const std::vector<std::string>& args) {
        return Spawn(With({"--port", std::to_string(port_)}, args), "client" + std::to_string(names_.size()));
    }
    Result Finish(pid_t pid) {
        const int code = Reap(pid);
        return {code, Read(base_ / (names_[pid] + ".out")), Read(base_ / (names_[pid] + ".err"))};
    }
    Result Client(const std::vector<std::string>& args, bool login = true) {
        return Finish(StartClient(login ? With(kLogin, args) : args));
    }
    Result Against(Fake& fake, const std::vector<std::string>& args, bool login = true) {
        port_ = fake.port;
        const pid_t client = StartClient(login ? With(kLogin, args) : args);
        fake.Play();
        return Finish(client);
    }
    std::string ServerLog() const { return Read(base_ / "server.err"); }
    // Lines of the Server's log that hold all of these words.
    int LogLines(const std::vector<std::string>& words) const {
        std::istringstream log(ServerLog());
        int count = 0;
        for (std::string line; std::getline(log, line);)
            count += std::all_of(words.begin(), words.end(), [&](auto& w) { return line.find(w) != npos; });
        return count;
    }
    int TemporaryFiles() const {
        int count = 0;
        for (const auto& entry : fs::recursive_directory_iterator(base_)) {
            const fs::path kind = entry.path().extension();
            count += kind == ".$TEMP" || kind == ".$PART" || kind == ".$PARTID";
        }
        return count;
    }

    // Where the next process writes and reads, if set.
    fs::path base_, srv_, cli_, outside_, stdout_;
    int stdin_ = -1, stdoutPipe_ = -1;
    pid_t server_ = -1;
    int port_ = 0;

private:
    pid_t Spawn(const std::vector<std::string>& args, const std::string& name) {
        std::vector<char*> argv{const_cast<char*>(QUORBEL_PEER)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        for (int fd : {1, 2}) {
            const fs::path file = fd == 1 && !stdout_.empty() ? stdout_ : base_ / (name + (fd == 1 ? ".out" : ".err"));
            if (fd == 1 && stdoutPipe_ >= 0) posix_spawn_file_actions_adddup2(&files, stdoutPipe_, 1);
            else posix_spawn_file_actions_addopen(&files, fd, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        if (stdin_ >= 0) posix_spawn_file_actions_adddup2(&files, stdin_, 0);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&files);
        names_[pid] = name;
        return pid;
    }
    std::map<pid_t, std::string> names_;  // output files of each process
};

}  // namespace

TEST_F(PeerTest, ServesOnlyALoggedInPeerAndOnlyOneAtATime) {
    Write(srv_ / "a.txt", "a");
    Serve(With({"--root", srv_}, kLogin));
    // A wrong pair holds back the next login of its address for longer than
    // a Client waits for the answer: a login that waits sees it through.
    const auto waitOutPenalty = [&] {
        const int s = Connect(port_);
        EXPECT_EQ(LogIn(s, false), "ACK");
        ::close(s);
    };
    const Result ok = Client({"ls", "C:\\"});
    EXPECT_EQ(ok.code, 0) << ok.err;
    EXPECT_NE(ok.out.find("a.txt"), npos);
    EXPECT_NE(ok.err.find("logged in, secure session"), npos);
    EXPECT_EQ(Client({"--id", "tester", "--pw", "wrong", "ls", "C:\\"}, false).code, 4);
    waitOutPenalty();
    // The password off the command line: a file only its owner reads, or the environment.
    Write(cli_ / "pw", "secret\nignored");
    fs::permissions(cli_ / "pw", fs::perms::owner_read | fs::perms::group_read);
    EXPECT_EQ(Client({"--id", "tester", "--pw-file", cli_ / "pw", "ls", "C:\\"}, false).err.substr(0, 40),
              "quorbel-peer: the password file '" + (cli_ / "pw").string().substr(0, 7));
    fs::permissions(cli_ / "pw", fs::perms::owner_read);
    EXPECT_EQ(Client({"--id", "tester", "--pw-file", cli_ / "pw", "ls", "C:\\"}, false).code, 0);
    // No empty half, wherever it comes from; a FIFO without a writer holds nothing.
    Write(cli_ / "empty", "\nsecret");
    fs::permissions(cli_ / "empty", fs::perms::owner_read);
    ::mkfifo((cli_ / "fifo").c_str(), 0600);
    ::setenv("QUORBEL_PW", "", 1);
    for (const std::vector<std::string>& empty : std::vector<std::vector<std::string>>{
             {"--id", "", "--pw", "secret", "ls", "C:\\"}, {"serve", "--root", srv_, "--id", "tester", "--pw", ""},
             {"--id", "tester", "ls", "C:\\"}, {"--id", "tester", "--pw-file", cli_ / "empty", "ls", "C:\\"},
             {"--id", "tester", "--pw-file", cli_ / "fifo", "ls", "C:\\"}}) {
        const Result r = Client(empty, false);
        EXPECT_EQ(r.code, 2) << r.err;
        EXPECT_NE(r.err.find(" is empty\n"), npos) << r.err;
    }
    ::setenv("QUORBEL_PW", "secret", 1);
    EXPECT_EQ(Client({"--id", "tester", "ls", "C:\\"}, false).code, 0);
    EXPECT_EQ(Client({"--id", "tester", "--pw", "wrong", "ls", "C:\\"}, false).code, 4) << "--pw first";
    ::unsetenv("QUORBEL_PW");
    EXPECT_EQ(Client({"--cmd", "ls", "C:\\"}, false).code, 5) << "nothing before a login";
    EXPECT_EQ(LogLines({"login secure 0 done"}), 3);
    EXPECT_EQ(LogLines({"login secure 0 refused"}), 2);
    EXPECT_EQ(LogLines({"list C:\\ 0 refused"}), 1);

    // A second connection is closed at once; the first, logged in, is served on.
    const int first = Connect(port_);
    EXPECT_EQ(LogIn(first, false), "ACK");
    const Result busy = Client({"ls", "C:\\"});
    EXPECT_EQ(busy.code, 3);
    EXPECT_NE(busy.err.find("at the login (it may be serving another Client)"), npos) << busy.err;
    EXPECT_EQ(LogLines({"connect - 0 busy"}), 1);
    ::close(first);
    ASSERT_TRUE(WaitFor([&] { return LogLines({"disconnect"}) == 8; }));
    EXPECT_EQ(Client({"ls", "C:\\"}).code, 0);

    // A Server had a secure session by its address: a path that refuses the
    // offers gets no plain login under another name of it, nor with
    // --require-secure; --plain is the user's yes.
    Relay relay(port_, true, ~0ull);
    const int served = std::exchange(port_, relay.port);
    EXPECT_EQ(Client({"--host", "127.0.0.1", "ls", "C:\\"}).code, 0);
    relay.thread.join();  // the Client has gone: the same port now refuses
    Fake fake;
    ::close(fake.listener);
    fake.listener = std::exchange(relay.listener, -1), fake.port = relay.port, fake.offersOnly = true;
    for (const std::vector<std::string>& how : std::vector<std::vector<std::string>>{
             {"--host", "localhost"}, {"--host", "127.1"}, {"--host", "localhost", "--require-secure"}}) {
        const Result r = Against(fake, With(how, {"get", "C:\\kept.txt", cli_}));
        EXPECT_EQ(r.code, 4) << r.err;
        EXPECT_NE(r.err.find(how.size() == 2 ? "no longer offers a secure session" : "--require-secure was"), npos);
        pollfd p{fake.listener, POLLIN, 0};
        EXPECT_EQ(::poll(&p, 1, 0), 0) << "no connection for a plain login";
    }
    fake.offersOnly = false;
    const Result plain = Against(fake, {"--plain", "--host", "localhost", "get", "C:\\kept.txt", cli_});
    EXPECT_NE(plain.err.find("logged in, plain protocol"), npos) << plain.err;
    port_ = served;

    EXPECT_EQ(StopServer(), 0) << "SIGTERM stops a service; it is no failure";
    Serve(With({"--root", srv_, "-q"}, kLogin));  // quiet, but a guessed pair shows
    EXPECT_EQ(Client({"--id", "tester", "--pw", "wrong", "ls", "C:\\"}, false).code, 4);
    waitOutPenalty();
    EXPECT_EQ(Client({"ls", "C:\\"}).code, 0);
    EXPECT_EQ(StopServer(SIGINT), 130);
    EXPECT_EQ(LogLines({"refused:wrong-pair"}), 1) << ServerLog();
    EXPECT_EQ(LogLines({"list C:"}) + LogLines({"connect"}), 0) << ServerLog();
    Serve({"--root", srv_, "--allow-cmd-clients", "--read-only", "--bind", "127.0.0.1"});
    EXPECT_EQ(Client({"--cmd", "ls", "C:\\"}, false).code, 0) << "as the Windows Server does";
    EXPECT_EQ(Client({"--cmd", "put", srv_ / "a.txt", "C:\\"}, false).code, 5);
    EXPECT_EQ(Client({"--cmd", "mkdir", "C:\\new"}, false).code, 5);
    EXPECT_EQ(LogLines({"refused:read-only"}), 2) << ServerLog();
}

TEST_F(PeerTest, ListsFoldersAsAWindowsServerDoes) {
    Write(srv_ / "a.txt", std::string(1000, 'a'));
    fs::create_directory(srv_ / "sub");
    Write(srv_ / "日本語.txt", "x");
    Write(srv_ / "smile😀.txt", "not in CP932");
    Write(srv_ / "yen¥.txt", "only a look-alike in CP932");
    fs::create_directory_symlink(outside_, srv_ / "out");
    fs::create_directory_symlink(srv_ / "sub", srv_ / "in");
    fs::create_directory(base_ / "d");
    Serve(With({"--root", srv_, "--drive", "D=" + (base_ / "d").string()}, kLogin));
    Write(cli_ / "mine.txt", "m");

    // Against a plain peer the texts of the panes, against ours the exact values.
    const Result plain = Client({"--plain", "--tsv", "ls", "C:\\"});
    const Result root = Client({"--root", cli_, "--tsv", "ls", "C:\\"});
    ASSERT_EQ(root.code, 0) << root.err;
    struct stat st{};
    ::stat((srv_ / "a.txt").c_str(), &st);
    char date[32], utc[32];
    std::strftime(date, sizeof date, "%Y/%m/%d %H:%M", std::localtime(&st.st_mtime));
    std::strftime(utc, sizeof utc, "%Y-%m-%dT%H:%M:%S", std::gmtime(&st.st_mtime));
    const std::string ticks = std::to_string(10'000'000 + st.st_mtim.tv_nsec / 100).substr(1);
    EXPECT_NE(plain.out.find("\na.txt\t" + std::string(date) + "\t1000\tfile\n"), npos) << plain.out;
    EXPECT_NE(plain.out.find("\nsub\t" + std::string(date) + "\t\tdir\n"), npos) << plain.out;
    EXPECT_EQ(root.out.find("d:\\\t\t\tdrive\n"), 0u) << "other drives first:\n" << root.out;
    EXPECT_NE(root.out.find("\na.txt\t" + std::string(utc) + "." + ticks + "Z\t1000\tfile\n"), npos) << root.out;
    for (const char* shown : {"\nsub\t", "\n日本語.txt\t"}) EXPECT_NE(root.out.find(shown), npos) << shown;
    for (const char* h : {"smile", "yen", "\nout\t", "\nin\t", "\n.\t"}) EXPECT_EQ(root.out.find(h), npos) << h;
    EXPECT_EQ(LogLines({"C:\\: 2 name(s) that CP932 cannot hold left out"}), 2);
    EXPECT_EQ(LogLines({"C:\\: 2 symbolic link(s) left out"}), 2) << "wherever they lead";
    // The Server's own request for this side's listing, served from --root.
    EXPECT_EQ(LogLines({"remote-list C:\\ 1 done"}), 1) << ServerLog();
    EXPECT_EQ(LogLines({"remote-list C:\\ 0 done"}), 1) << "a plain Client serves nothing of its own";

    const Result sub = Client({"ls", "C:\\sub"});
    EXPECT_EQ(sub.code, 0) << sub.err;
    EXPECT_NE(sub.out.find("dir    .\n"), npos) << sub.out;
    EXPECT_NE(sub.out.find("dir    ..\n"), npos) << sub.out;
}

struct Modes {
    bool serverPlain, clientPlain;
};
class CopyTest : public PeerTest, public ::testing::WithParamInterface<Modes> {};

TEST_P(CopyTest, KeepsBytesAndTimesBothWays) {
    const bool fast = !GetParam().serverPlain && !GetParam().clientPlain;
    ::umask(002);  // the Server's: a new file gets 0644 all the same
    Serve(With(With({"--root", srv_}, kLogin), Plain(GetParam().serverPlain)));
    const std::vector<std::string> mode = Plain(GetParam().clientPlain);
    const std::pair<std::string, std::size_t> files[] = {
        {"empty", 0}, {"one.bin", 1}, {"k.bin", 1000}, {"k1.bin", 1001}, {"m-1.bin", (1 << 20) - 1},
        {"m.bin", 1 << 20}, {"m+1.bin", (1 << 20) + 1}, {"日本語.bin", 20'000'000}};
    std::vector<std::string> put = With(mode, {"put"}), get = With(mode, {"get"});
    for (const auto& [name, size] : files) {
        Write(cli_ / name, Random(size, unsigned(size)));
        // Times of 100 ns steps (what the end record carries), access after write.
        const timespec times[2] = {{1'500'000'000 + time_t(size), 987'654'300}, {1'000'000'000, 123'456'700}};
        ::utimensat(AT_FDCWD, (cli_ / name).c_str(), times, 0);
        put.push_back(cli_ / name);
        get.push_back("C:\\in\\" + name);
    }
    fs::create_symlink(cli_ / "k.bin", cli_ / "link.bin");  // sent under its own name
    put.push_back(cli_ / "link.bin");
    put.push_back("C:\\in");
    fs::create_directory(cli_ / "back");
    fs::create_directory(srv_ / "in");
    Write(srv_ / "in" / "k.bin", "older, for the owner alone");
    fs::permissions(srv_ / "in" / "k.bin", fs::perms(0600));
    get.push_back(cli_ / "back");

    EXPECT_EQ(Client(With(mode, {"mkdir", "C:\\in"})).code, 0);
    const Result sent = Client(put);
    EXPECT_EQ(sent.code, 0) << sent.err;
    EXPECT_NE(sent.err.find(fast ? "secure session" : "plain protocol"), npos) << sent.err;
    // The put is done once each file is in place; the Server logs it just after.
    ASSERT_TRUE(WaitFor([&] { return LogLines({"receive C:\\in\\", "done"}) == 9; })) << ServerLog();
    for (const auto& file : files) EXPECT_TRUE(SameFile(cli_ / file.first, srv_ / "in" / file.first));
    EXPECT_EQ(Read(srv_ / "in" / "link.bin"), Read(srv_ / "in" / "k.bin"));
    // A replaced file keeps its permissions; a new one has 0644 less the umask.
    EXPECT_EQ(fs::status(srv_ / "in" / "k.bin").permissions(), fs::perms(0600));
    EXPECT_EQ(fs::status(srv_ / "in" / "one.bin").permissions(), fs::perms(0644));
    const Result got = Client(get);
    EXPECT_EQ(got.code, 0) << got.err;
    for (const auto& file : files) EXPECT_TRUE(SameFile(srv_ / "in" / file.first, cli_ / "back" / file.first));
    EXPECT_EQ(LogLines({fast ? "login secure" : "login plain", "done"}), 3) << "a plain side keeps both plain";
    EXPECT_EQ(TemporaryFiles(), 0);

    // Standard input from a pipe to the peer, and back to standard output.
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    stdin_ = pipe[0];
    const pid_t piped = StartClient(With(kLogin, With(mode, {"put", "-", "C:\\in", "--name", "piped.bin"})));
    stdin_ = -1;
    ::close(pipe[0]);
    ::signal(SIGPIPE, SIG_IGN);  // a reader that ended fails the write, not the test
    const std::string bytes = Read(cli_ / "日本語.bin");
    EXPECT_EQ(::write(pipe[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
    ::close(pipe[1]);
    EXPECT_EQ(Finish(piped).code, 0);
    EXPECT_EQ(Read(srv_ / "in" / "piped.bin"), bytes);
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    stdoutPipe_ = pipe[1];
    const pid_t back = StartClient(With(kLogin, With(mode, {"get", "C:\\in\\piped.bin", "-"})));
    stdoutPipe_ = -1;
    ::close(pipe[1]);
    std::string out;
    EXPECT_TRUE(ReadFrom(pipe[0], out));
    ::close(pipe[0]);
    EXPECT_EQ(Finish(back).code, 0);
    EXPECT_TRUE(out == bytes) << out.size() << " bytes";
    // One file under a name of its own; a missing one among several is named and left out.
    EXPECT_EQ(Client(With(mode, {"get", "C:\\in\\k1.bin", cli_ / "named.bin"})).code, 0);
    EXPECT_EQ(Read(cli_ / "named.bin"), Read(cli_ / "k1.bin"));
    // A file that fails its read between two, whoever runs this (root reads a
    // file of mode 000): the Client's own memory at address 0.
    const Result some =
        Client(With(mode, {"put", cli_ / "none", cli_ / "k.bin", "/proc/self/mem", cli_ / "one.bin", "C:\\in"}));
    EXPECT_EQ(some.code, 6);
    for (const char* says : {"none': No such file", "-> C:\\in\\k.bin: 1000 bytes", "cannot read '/proc/",
                             "-> C:\\in\\one.bin: 1 bytes"})
        EXPECT_NE(some.err.find(says), npos) << says << "\n" << some.err;
    EXPECT_FALSE(fs::exists(srv_ / "in" / "mem"));
}

INSTANTIATE_TEST_SUITE_P(BothModesAndMixed, CopyTest,
                         ::testing::Values(Modes{false, false}, Modes{true, true}, Modes{true, false},
                                           Modes{false, true}),
                         [](const auto& info) {
                             return std::string(info.param.serverPlain ? "Plain" : "Fast") + "Server" +
                                    (info.param.clientPlain ? "Plain" : "Fast") + "Client";
                         });

TEST_F(PeerTest, PeerPathsNeverLeaveTheServedFolders) {
    Write(outside_ / "secret", "s");
    fs::create_directory_symlink(outside_, srv_ / "out");
    // Links that stay inside are not followed either, on the way or at the end.
    fs::create_directory(srv_ / "sub");
    Write(srv_ / "sub" / "f", "f");
    fs::create_directory_symlink(srv_ / "sub", srv_ / "in");
    fs::create_symlink(srv_ / "sub" / "f", srv_ / "lnk");
    Write(cli_ / "f.txt", "f");
    Write(cli_ / "sub", "a file named as a folder of the Server");
    Serve(With({"--root", srv_}, kLogin));
    for (const char* path : {"C:\\..\\outside\\secret", "E:\\s", "C:\\out\\secret", "C:\\in\\f", "C:\\lnk"})
        EXPECT_EQ(Client({"get", path, cli_}).code, 5) << path;
    for (const char* folder : {"C:\\..", "C:\\out", "C:\\in"})
        EXPECT_EQ(Client({"put", cli_ / "f.txt", folder}).code, 5) << folder;
    EXPECT_EQ(Client({"put", cli_ / "sub", "C:\\"}).code, 5);
    EXPECT_EQ(Client({"mkdir", "C:\\out\\made"}).code, 5);
    EXPECT_EQ(Client({"ls", "C:\\in"}).code, 5);
    EXPECT_EQ(std::distance(fs::directory_iterator(outside_), {}), 1);
    EXPECT_FALSE(fs::exists(cli_ / "secret") || fs::exists(cli_ / "f") || fs::exists(srv_ / "sub" / "f.txt"));
    // Each refused copy is followed by a listing of its folder, refused as well.
    EXPECT_EQ(LogLines({"refused:outside"}), 6) << ServerLog();
    EXPECT_EQ(LogLines({"refused:link"}), 11);
    EXPECT_EQ(LogLines({"receive C:\\sub 0 refused:folder"}), 1);

    EXPECT_EQ(Client({"mkdir", "C:\\new"}).code, 0);
    EXPECT_TRUE(fs::is_directory(srv_ / "new"));
    const Result missing = Client({"mkdir", "C:\\missing\\new"});
    EXPECT_EQ(missing.code, 5);
    EXPECT_NE(missing.err.find("did not create"), npos) << missing.err;
    // Nothing is written into a missing folder, nor over a file of the temporary name.
    Write(srv_ / "f.$TEMP", "mine");
    EXPECT_EQ(Client({"put", cli_ / "f.txt", "C:\\missing"}).code, 5);
    EXPECT_EQ(LogLines({"receive C:\\missing\\f.txt 0 refused:no-such-folder"}), 1);
    EXPECT_EQ(Client({"put", cli_ / "f.txt", "C:\\"}).code, 0);
    EXPECT_EQ(Read(srv_ / "f.$TEMP"), "mine");
}

// Path races: a folder swapped for a link to the outside and back, as fast as
// can be, while a Client copies from and into it: nothing outside is touched.
TEST_F(PeerTest, PathRacesNeverReachTheOutside) {
    fs::create_directory(srv_ / "d");
    fs::create_directory_symlink(outside_, srv_ / "swap");
    std::vector<std::string> get = {"get"}, put = {"put"};
    for (int i = 0; i < 40; ++i) {
        const std::string name = "f" + std::to_string(i);
        Write(srv_ / "d" / name, "inside");
        Write(outside_ / name, "outside");
        get.push_back("C:\\d\\" + name), put.push_back(cli_ / "put");
    }
    Write(cli_ / "put", "put");
    Serve(With({"--root", srv_}, kLogin));
    std::atomic<bool> copying{true};
    std::thread swapper([&] {
        for (int n = 0; copying && n < 10'000'000; ++n)
            ::renameat2(AT_FDCWD, (srv_ / "d").c_str(), AT_FDCWD, (srv_ / "swap").c_str(), RENAME_EXCHANGE);
    });
    Client(With(get, {cli_}));
    Client(With(put, {"C:\\d"}));
    copying = false;
    swapper.join();
    EXPECT_EQ(std::distance(fs::directory_iterator(outside_), {}), 40);
    for (const auto& entry : fs::directory_iterator(outside_)) EXPECT_EQ(Read(entry.path()), "outside");
    for (const auto& entry : fs::directory_iterator(cli_)) EXPECT_NE(Read(entry.path()), "outside");
}

// A copy cut short: stopped by SIGHUP (plain) or SIGINT (fast) to the
// Client, or (plain) by killing the sending side (the Server of a get, the
// Client of a put) with SIGKILL. A fast copy a killed side cut: ResumeTest.
struct Cut {
    bool plain, put, kill;
};
class CutTest : public PeerTest, public ::testing::WithParamInterface<Cut> {};

TEST_P(CutTest, LeavesNoTemporaryFileAndTheOlderFile) {
    const auto [plain, put, kill] = GetParam();
    const int stop = plain ? SIGHUP : SIGINT;
    Serve(With({"--root", srv_}, kLogin));
    const fs::path from = (put ? cli_ : srv_) / "big.bin", to = (put ? srv_ : cli_) / "big.bin";
    Write(from, "");
    fs::resize_file(from, 900'000'000);
    Write(to, "older");
    const pid_t client = StartClient(With(With(Plain(plain), kLogin), put ? With({"put", from, "C:\\"}, {})
                                                                          : With({"get", "C:\\big.bin", cli_}, {})));
    ASSERT_TRUE(WaitFor([&] { return fs::exists(to.parent_path() / (plain ? "big.$TEMP" : "big.bin.$PART")); }));
    if (kill && !put) {
        ::kill(server_, SIGKILL);
        EXPECT_EQ(Reap(std::exchange(server_, -1)), 128 + SIGKILL);
    } else {
        ::kill(client, kill ? SIGKILL : stop);
    }
    const Result cut = Finish(client);
    EXPECT_EQ(cut.code, kill ? (put ? 128 + SIGKILL : 3) : 128 + stop) << cut.err;
    EXPECT_EQ(cut.err.find("copy stopped") != npos, !kill) << cut.err;
    // A copy to the peer stops with its stop record, a copy from the peer
    // with this side's "NAK" to the next block; a killed Client is lost.
    const char* end = kill ? "lost" : put ? "stopped" : "refused";
    EXPECT_TRUE(server_ < 0 || WaitFor([&] { return LogLines({put ? "receive" : "send", end}) == 1; }))
        << ServerLog();
    EXPECT_TRUE(WaitFor([&] { return TemporaryFiles() == 0; }));
    EXPECT_EQ(Read(to), "older");
    EXPECT_TRUE(server_ < 0 || Client({"ls", "C:\\"}).code == 0) << "both sides are back to waiting";
}

INSTANTIATE_TEST_SUITE_P(StopsAndKills, CutTest,
                         ::testing::Values(Cut{true, true, false}, Cut{true, false, false}, Cut{false, true, false},
                                           Cut{false, false, false}, Cut{true, true, true}, Cut{true, false, true}),
                         [](const auto& info) {
                             const auto& p = info.param;
                             const char* how = p.kill ? "PlainKill" : p.plain ? "PlainHangUp" : "FastStop";
                             return std::string(how) + (info.param.put ? "Put" : "Get");
                         });

// A fast copy cut by SIGKILL of either side, after its first block or in
// its middle (the relay between the two holds the sender's bytes there):
// what arrived stays as NAME.$PART, never under the final name, and the
// next copy of the same source moves only the rest, or with --no-resume
// the whole again, as does one that finds them another user's (which it
// leaves alone).
struct Resume {
    bool put, killSender;
    uint64_t cutAt;
    bool noResume, foreign = false;
};
class ResumeTest : public PeerTest, public ::testing::WithParamInterface<Resume> {};

TEST_P(ResumeTest, GoesOnAfterWhatAKilledSideLeft) {
    const auto [put, killSender, cutAt, noResume, foreign] = GetParam();
    const uint64_t size = 24 << 20, kept = cutAt >> 20 << 20;  // the whole blocks before the cut
    Serve(With({"--root", srv_}, kLogin));
    const fs::path from = (put ? cli_ : srv_) / "big.bin", to = (put ? srv_ : cli_) / "big.bin";
    const fs::path partial = to.string() + ".$PART";
    Write(from, Random(size, 5));
    Write(to, "older");
    const std::vector<std::string> copy =
        put ? With(kLogin, {"put", from, "C:\\"}) : With(kLogin, {"get", "C:\\big.bin", cli_});
    int serverPort = port_;
    {
        Relay relay(serverPort, put, cutAt);
        port_ = relay.port;
        const pid_t client = StartClient(copy);
        std::error_code e;
        ASSERT_TRUE(WaitFor([&] { return relay.held && fs::file_size(partial, e) == kept; }));
        const pid_t victim = put == killSender ? client : std::exchange(server_, -1);
        ::kill(victim, SIGKILL);
        relay.Close();  // the side left sees the connection end
        EXPECT_TRUE(victim == client || Reap(victim) == 128 + SIGKILL);
        EXPECT_EQ(Finish(client).code, victim == client ? 128 + SIGKILL : 3);
        // A sender with blocks in flight may be in a send when the connection ends: that send fails.
        const char* verb = put ? "receive" : "send";
        EXPECT_TRUE(server_ < 0 || WaitFor([&] { return LogLines({verb, "lost"}) + LogLines({verb, "failed"}) == 1; }))
            << ServerLog();
    }
    EXPECT_EQ(Read(to), "older");
    EXPECT_EQ(fs::file_size(partial), kept);
    // Another user's, or (where this user may not give files away) writable by others.
    for (const fs::path& left : {partial, fs::path(to.string() + ".$PARTID")})
        if (foreign && ::chown(left.c_str(), ::geteuid() + 1, gid_t(-1)) != 0) fs::permissions(left, fs::perms(0666));
    port_ = serverPort;
    if (server_ < 0) Serve(With({"--root", srv_}, kLogin));
    Relay relay(serverPort = port_, put, ~0ull);
    port_ = relay.port;
    const Result again = Client(noResume ? With({"--no-resume"}, copy) : copy);
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(again.err.find("resuming at " + std::to_string(kept) + " bytes") != npos, !noResume && !foreign);
    EXPECT_TRUE(SameFile(from, to));
    EXPECT_EQ(TemporaryFiles(), foreign ? 2 : 0);
    EXPECT_TRUE(!foreign || fs::file_size(partial) == kept);
    // Blocks' headers and frames aside: only the bytes that were missing.
    const uint64_t missing = noResume || foreign ? size : size - kept;
    EXPECT_TRUE(relay.forwarded >= missing && relay.forwarded < missing + 4096) << relay.forwarded << " of " << size;
    relay.Close();
    port_ = serverPort;
}

INSTANTIATE_TEST_SUITE_P(BothSidesAndPoints, ResumeTest,
                         ::testing::Values(Resume{true, true, (1 << 20) + (512 << 10), false},
                                           Resume{false, false, (12 << 20) + (512 << 10), false},
                                           Resume{false, true, (12 << 20) + (512 << 10), false},
                                           Resume{true, false, (1 << 20) + (512 << 10), true},
                                           Resume{false, false, (1 << 20) + (512 << 10), false, true}),
                         [](const auto& info) {
                             return std::string(info.param.put ? "Put" : "Get") +
                                    (info.param.killSender ? "SenderKilled" : "ReceiverKilled") +
                                    (info.param.cutAt < (2 << 20) ? "AfterTheFirstBlock" : "MidFile") +
                                    (info.param.noResume ? "NoResume" : "") + (info.param.foreign ? "OthersPart" : "");
                         });

TEST_F(PeerTest, FastModeCopiesPastThePlainLimit) {
    const fs::path huge = srv_ / "huge.bin";
    Write(huge, "head");
    fs::resize_file(huge, 1536ull << 20);
    std::fstream(huge, std::ios::in | std::ios::out | std::ios::binary).seekp(-4, std::ios::end).write("tail", 4);
    Serve(With({"--root", srv_}, kLogin));
    EXPECT_EQ(Client({"--plain", "get", "C:\\huge.bin", cli_}).code, 5) << "953 MB at most without the fast mode";
    EXPECT_EQ(Client({"--plain", "put", huge, "C:\\copy"}).code, 2) << "refused before it is sent";
    const Result got = Client({"get", "C:\\huge.bin", cli_});
    EXPECT_EQ(got.code, 0) << got.err;
    EXPECT_TRUE(SameFile(huge, cli_ / "huge.bin"));
    fs::remove(cli_ / "huge.bin");
    fs::remove(huge);
}

TEST_F(PeerTest, ExitCodesAndMessagesForScripts) {
    struct Case { std::vector<std::string> args; int code; std::string starts; };
    for (const Case& c : std::vector<Case>{
             {{"--help"}, 0, "Usage:\n  quorbel-peer serve"},
             {{"-h"}, 0, "Usage:\n  quorbel-peer serve"},
             {{"get", "--help"}, 0, "Usage:\n  quorbel-peer [--host H]"},
             {{"serve", "-h"}, 0, "Usage:\n  quorbel-peer serve"},
             {{"-V"}, 0, "quorbel-peer 1."},
             {{"serve", "--root", "/", "--allow-cmd-clients", "--tsv"}, 2, "quorbel-peer: '--tsv' is for ls, not serve"},
             {{"--cmd", "--tsv", "get", "C:\\a", "b"}, 2, "quorbel-peer: '--tsv' is for ls, not get"},
             {{"--host", "h", "serve", "--root", "/"}, 2, "quorbel-peer: '--host' is for the Client verbs"},
             {{"--cmd", "--read-only", "ls", "C:\\"}, 2, "quorbel-peer: '--read-only' is for serve, not ls"},
             {{"--cmd", "-r", "mkdir", "C:\\a"}, 2, "quorbel-peer: '-r' is for get and put, not mkdir"},
             {{"-x", "ls"}, 2, "quorbel-peer: unknown option '-x'"},
             {{"--cmd", "-P", "1", "-v", "ls", "C:\\"}, 3, "quorbel-peer: connecting to 127.0.0.1:1\n"},
             {{"--cmd", "-P", "1", "-q", "ls", "C:\\"}, 3, "quorbel-peer: cannot connect"}}) {
        const Result r = Client(c.args, false);
        EXPECT_EQ(r.code, c.code) << c.args[0];
        EXPECT_EQ((c.code ? r.err : r.out).substr(0, c.starts.size()), c.starts) << c.args[0] << r.err;
    }
    EXPECT_EQ(Client({"--version"}, false).out, "quorbel-peer 1.060\n");
    Write(srv_ / "listed", "");
    Serve({"--root", srv_, "--allow-cmd-clients"});
    stdout_ = "/dev/full";  // what went to standard output was lost
    for (const auto& args : std::vector<std::vector<std::string>>{{"--help"}, {"--version"}, {"--cmd", "ls", "C:\\"}})
        EXPECT_EQ(Client(args, false).code, 6) << args[0];
    stdout_.clear();
    fs::create_directory(srv_ / "dir");
    for (const std::string says : {"C:\\*.txt: wildcards are not expanded on the peer",
                                   "C:\\nope: no such file or folder on the peer",
                                   "C:\\no\\f: no such file or folder on the peer",
                                   "C:\\dir: the peer refused (no access, in use, or a folder)"}) {
        const Result refused = Client({"--cmd", "get", says.substr(0, says.find(':', 2)), cli_}, false);
        EXPECT_EQ(refused.code, 5);
        EXPECT_NE(refused.err.find(says), npos) << refused.err;
    }
    EXPECT_EQ(StopServer(SIGHUP), 129) << "its port is free now";
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {}, {"--frobnicate", "ls", "C:\\"}, {"ls"}, {"--codepage", "NO-SUCH", "ls", "C:\\"}, {"ls", "no-drive"}})
        EXPECT_EQ(Client(bad).code, 2) << (bad.empty() ? "" : bad[0]);
    EXPECT_EQ(Client({"ls", "C:\\"}, false).code, 2) << "neither a login pair nor --cmd";
    Write(cli_ / "smile😀.txt", "x");
    EXPECT_EQ(Client({"put", cli_ / "smile😀.txt", "C:\\"}).code, 2) << "no CP932 name for it";
    const Result missing = Client({"put", cli_ / "none", "C:\\"});
    EXPECT_EQ(missing.code, 6);
    EXPECT_NE(missing.err.find("cli/none': No such file"), npos) << missing.err;
    EXPECT_EQ(Client({"get", "C:\\x", cli_ / "none" / "x"}).code, 6);
    const Result refused = Client({"ls", "C:\\"});
    EXPECT_EQ(refused.code, 3);
    EXPECT_NE(refused.err.find("cannot connect to 127.0.0.1:" + std::to_string(port_) + ": Connection refused"),
              npos) << refused.err;
}

// Finishing a received file: a copy is done only when the file is there,
// whole (a link's copy under the link's name: CopyTest).
TEST_F(PeerTest, FinishingAReceivedFileIsDoneOnlyWhenItIsThere) {
    Write(cli_ / "a.txt", "alpha");
    Write(cli_ / "b.bin", std::string(20000, 'b'));
    Write(cli_ / "kept.txt", "mine");
    Fake fake;
    const Result put = Against(fake, {"put", cli_ / "a.txt", cli_ / "b.bin", "C:\\in"});
    EXPECT_EQ(put.code, 5);
    EXPECT_NE(put.err.find("C:\\in\\a.txt: not on the peer after the copy"), npos) << put.err;
    EXPECT_NE(put.err.find("C:\\in\\b.bin: the peer lists it with the size 18K, not 19K"), npos) << put.err;
    const Result get = Against(fake, {"get", "C:\\kept.txt", cli_});
    EXPECT_EQ(get.code, 5);
    EXPECT_NE(get.err.find("kept.txt' was kept as it was"), npos) << get.err;
    EXPECT_EQ(Read(cli_ / "kept.txt"), "mine");
}

// A hostile Server holds the Client neither in time nor in memory, and
// reaches its terminal and its --tsv rows with nothing but plain text.
TEST_F(PeerTest, AHostileServerHoldsNothing) {
    Fake fake;
    for (const auto& [args, code, says] : std::vector<std::tuple<std::vector<std::string>, int, std::string>>{
             {{"--id", "web", "--pw", "x", "ls", "C:\\"}, 3, "not a Quorbel peer"},
             {With(kLogin, {"--timeout", "1", "get", "C:\\f", cli_}), 3, "no message from the peer for 1 s"},
             {With(kLogin, {"--timeout", "1", "ls", "C:\\trickle"}), 3, "the listing took longer than 1 s"},
             {With(kLogin, {"ls", "C:\\nope"}), 5, "C:\\nope: no such folder"},
             {With(kLogin, {"--tsv", "ls", "C:\\flood"}), 5, "more entries may exist"}}) {
        const Result r = Against(fake, args, false);
        EXPECT_EQ(r.code, code) << r.err;
        EXPECT_NE(r.err.find(says), npos) << r.err;
        if (args.back() != "C:\\flood") continue;
        EXPECT_EQ(r.out.find("a?b?[2J?\t2024/01/01?00:00\t1?2\tfile\nx\t"), 0u) << r.out.substr(0, 80);
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1023);
    }
    EXPECT_EQ(fake.answered, 1023) << "records past the table's end get no answer";

    const Result tree = Against(fake, With(kLogin, {"get", "-r", "C:\\h", cli_}), false);
    EXPECT_EQ(tree.code, 3) << tree.err;
    for (const char* says : {"C:\\h\\a/b: left out, not a plain file name", "C:\\h\\..: left out",
                             "would pass 259 characters", "more than the 1023 records"})
        EXPECT_NE(tree.err.find(says), npos) << says << "\n" << tree.err;
    EXPECT_TRUE(fs::is_directory(cli_ / "h" / std::string(40, 'd')));
    EXPECT_EQ(std::distance(fs::directory_iterator(cli_), {}), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(outside_), {}), 0);
    EXPECT_FALSE(fs::exists(cli_ / "a") || fs::exists(base_ / "b"));
}

// Folder trees both ways against a plain Server and a fast one: empty
// folders, Japanese names, empty files, a folder of more entries than a
// plain listing holds (named, not copied short in silence; whole from an
// exact listing), links and special files left out.
TEST_F(PeerTest, CopiesFolderTreesBothWays) {
    const fs::path tree = cli_ / "tree", back = cli_ / "back";
    for (const char* folder : {"empty", "日本語", "sub/deeper", "many"}) fs::create_directories(tree / folder);
    // Small files of one folder: each next one goes while the last one is on its way.
    for (int i = 0; i < 6; ++i) Write(tree / "many" / std::to_string(i), Random(100 * i, 3 + i));
    for (int i = 0; i < 1100; ++i) fs::create_directories(tree / "big" / std::to_string(i));
    Write(tree / "zero.bin", "");
    Write(tree / "日本語" / "ファイル.txt", Random(3000, 1));
    Write(tree / "sub" / "deeper" / "r.bin", Random((1 << 20) + 5, 2));
    const char* const files[] = {"zero.bin", "日本語/ファイル.txt", "sub/deeper/r.bin"};
    for (const char* file : files) {
        const timespec times[2] = {{1'500'000'000, 987'654'300}, {1'000'000'000, 123'456'700}};  // access after write
        ::utimensat(AT_FDCWD, (tree / file).c_str(), times, 0);
    }
    fs::create_directory_symlink(outside_, tree / "out");
    ::mkfifo((tree / "fifo").c_str(), 0600);
    for (const bool plain : {true, false}) {
        Serve(With(With({"--root", srv_}, kLogin), Plain(plain)));
        fs::create_directory(srv_ / "in");
        fs::create_directory(back);
        const Result put = Client({"put", "-r", tree, "C:\\in"});
        EXPECT_EQ(put.code, 0) << put.err;
        EXPECT_NE(put.err.find("tree/fifo: left out, neither a file nor a folder"), npos) << put.err;
        EXPECT_NE(put.err.find("9 file(s) in 1107 folder(s), 2 link(s) and special file(s) left out: 9 copied\n"), npos);
        // Each file read once after each copy: a read moves its last access.
        for (const char* file : files) EXPECT_TRUE(SameFile(tree / file, srv_ / "in" / "tree" / file));
        const Result get = Client({"get", "-r", "C:\\in\\tree", back});
        EXPECT_EQ(get.code, plain ? 5 : 0) << get.err;
        EXPECT_EQ(get.err.find("C:\\in\\tree\\big: the listing fills the peer's table") != npos, plain) << get.err;
        for (const char* file : files) EXPECT_TRUE(SameFile(srv_ / "in" / "tree" / file, back / "tree" / file));
        for (int i = 0; i < 6; ++i) {
            const fs::path many = fs::path("tree") / "many" / std::to_string(i);
            EXPECT_EQ(Read(back / many), Read(tree / "many" / std::to_string(i))) << i;
            EXPECT_EQ(Read(srv_ / "in" / many), Read(back / many)) << i;
        }
        EXPECT_TRUE(fs::is_empty(srv_ / "in" / "tree" / "empty") && fs::is_empty(back / "tree" / "empty"));
        EXPECT_EQ(std::distance(fs::directory_iterator(srv_ / "in" / "tree" / "big"), {}), 1100);
        EXPECT_EQ(std::distance(fs::directory_iterator(back / "tree" / "big"), {}), plain ? 1021 : 1100);
        EXPECT_FALSE(fs::exists(srv_ / "in" / "tree" / "out") || fs::exists(back / "tree" / "fifo"));
        // Again, with rsync's rules: what is there stays, and the summary says why.
        const Result same = Client({"put", "-r", "--skip-same", tree, "C:\\in"});
        EXPECT_NE(same.err.find(": 0 copied, 9 left as they were (9 of the same size and time)"), npos) << same.err;
        Write(back / "tree" / "zero.bin", "mine");  // newer than the peer's, and of another size
        const Result update = Client({"get", "-r", "-u", "C:\\in\\tree", back});
        EXPECT_NE(update.err.find(": 0 copied, 9 left as they were (1 newer there, 8 of the same size and time)"), npos)
            << update.err;
        EXPECT_EQ(Read(back / "tree" / "zero.bin"), "mine");
        EXPECT_EQ(StopServer(), 0);
        fs::remove_all(srv_ / "in");
        fs::remove_all(back);
    }
}

// A tree of 2,000 small files and a large one goes with many files under
// way: a file the peer refuses is named and the rest arrive; a stop in
// the middle ends what is under way in turn, and the summary counts only
// what arrived whole.
TEST_F(PeerTest, ATreeGoesWithManyFilesUnderWayAndEndsEachInTurn) {
    const fs::path tree = cli_ / "t", back = cli_ / "back";
    for (int d = 0; d < 20; ++d)
        for (int f = 0; f < 100; ++f) {
            fs::create_directories(tree / std::to_string(d));
            Write(tree / std::to_string(d) / std::to_string(f), Random(200 + f, d * 100 + f));
        }
    Write(tree / "7" / "big.bin", "");
    fs::resize_file(tree / "7" / "big.bin", 400'000'000);
    Serve(With({"--root", srv_}, kLogin));
    fs::create_directories(srv_ / "t" / "3" / "42");  // a folder where a file would go: refused
    const Result put = Client({"put", "-r", tree, "C:\\"});
    EXPECT_EQ(put.code, 5) << put.err;
    EXPECT_NE(put.err.find("t/3/42: the peer refused"), npos) << put.err;
    EXPECT_NE(put.err.find("2001 file(s) in 21 folder(s): 2000 copied, 1 not copied"), npos) << put.err;
    for (const char* file : {"0/0", "19/99", "3/41", "7/big.bin"}) EXPECT_TRUE(SameFile(tree / file, srv_ / "t" / file)) << file;
    fs::create_directory(back);
    const pid_t client = StartClient(With(kLogin, {"get", "-r", "C:\\t", back}));
    ASSERT_TRUE(WaitFor([&] { return fs::exists(back / "t" / "7" / "big.bin.$PART"); }));
    ::kill(client, SIGINT);
    const Result stopped = Finish(client);
    EXPECT_EQ(stopped.code, 128 + SIGINT) << stopped.err;
    EXPECT_NE(stopped.err.find("big.bin: copy stopped"), npos) << stopped.err;
    int whole = 0;
    for (const auto& entry : fs::recursive_directory_iterator(back))
        if (entry.is_regular_file()) whole += Read(entry.path()) == Read(srv_ / fs::relative(entry.path(), back));
    const std::size_t summary = stopped.err.find(": " + std::to_string(whole) + " copied, ");
    ASSERT_NE(summary, npos) << stopped.err;
    const int reached = std::stoi(stopped.err.substr(stopped.err.rfind('\n', summary) + 1 + std::strlen("quorbel-peer: ")));
    EXPECT_NE(stopped.err.find(std::to_string(reached - whole) + " not copied; stopped: " + std::to_string(2000 - reached) +
                               " more of the tree's 2000 file(s) not copied"),
              npos) << stopped.err;
    EXPECT_TRUE(WaitFor([&] { return TemporaryFiles() == 0; }));
    EXPECT_TRUE(Client({"ls", "C:\\t"}).code == 0) << "both sides are back to waiting";
}

// The progress of a copy on an 80-column terminal: lines that never wrap,
// the numbers kept and the long label cut, gone at an interrupt.
TEST_F(PeerTest, ProgressLineFitsAnEightyColumnTerminal) {
    const std::string name = std::string(100, 'n') + ".bin";
    Write(srv_ / name, Random(4 << 20, 3));
    Serve(With({"--root", srv_}, kLogin));
    Relay relay(port_, false, (2 << 20) + 8192);  // two blocks, then the copy waits
    std::vector<std::string> args = With({QUORBEL_PEER, "--port", std::to_string(relay.port)},
                                         With(kLogin, {"get", "C:\\" + name, cli_}));
    std::vector<char*> argv, env{const_cast<char*>("TERM=xterm"), nullptr};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int terminal = -1;
    winsize size{24, 80, 0, 0};
    const pid_t client = ::forkpty(&terminal, nullptr, nullptr, &size);
    if (client == 0) ::execve(argv[0], argv.data(), env.data()), ::_exit(127);
    std::string seen;
    EXPECT_TRUE(ReadFrom(terminal, seen, "% ")) << seen;
    ::kill(client, SIGINT);
    relay.Close();
    EXPECT_TRUE(ReadFrom(terminal, seen, "copy stopped")) << seen;
    EXPECT_EQ(Reap(client), 130);
    ::close(terminal);
    const std::string clear = "\r\033[K";
    int lines = 0;
    for (std::size_t at = seen.find(clear); at != npos; at = seen.find(clear, at + 1)) {
        const std::string line = seen.substr(at + clear.size(), seen.find_first_of("\r\n", at + 1) - at - clear.size());
        if (line.find(" left") == npos) continue;
        ++lines;
        EXPECT_LE(line.size(), 79u) << line;
        EXPECT_EQ(line.find("...nnn"), 0u) << line;
        EXPECT_NE(line.find("2.1 MB of 4.2 MB   50%"), npos) << line;
    }
    EXPECT_GE(lines, 1) << seen;
    EXPECT_NE(seen.find(clear + "quorbel-peer: C:\\nnn"), npos) << "the line cleared first:\n" << seen;
}

// Server liveness: neither a connection that does not log in nor a peer silent
// in a frame or that stops reading holds the Server, its log or a signal.
TEST_F(PeerTest, LivenessNoPeerHoldsTheServer) {
    Write(srv_ / "big.bin", "");
    fs::resize_file(srv_ / "big.bin", 256 << 20);
    Serve(With({"--root", srv_, "--idle-timeout", "1"}, kLogin));
    Connect(port_);  // silent
    ASSERT_TRUE(WaitFor([&] { return LogLines({"connect - 0 accepted"}) == 1; }));
    EXPECT_EQ(Client({"ls", "C:\\"}).code, 0) << "beside the silent one, which stays";

    const int guesser = Connect(port_);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(LogIn(guesser, false, "guess"), "NAK");
    EXPECT_EQ(LogIn(guesser, false), "ACK") << "the right pair, once its address's penalty ran out";
    ::close(guesser);
    const int junk = Connect(port_);
    for (int i = 0; i < 10'000; ++i) ::send(junk, "DDC:\\", 5, MSG_NOSIGNAL);
    ASSERT_TRUE(WaitFor([&] { return LogLines({"disconnect - 0 no-login"}) == 2; })) << "the silent one's, the junk's";
    EXPECT_EQ(LogLines({"refused"}), 3) << "each wrong pair, one other a connection:\n" << ServerLog();
    EXPECT_EQ(LogLines({"wrong-pair"}) + LogLines({"refused:no-login"}), 3) << "login, its end; the junk";

    const int fast = Connect(port_);
    EXPECT_EQ(LogIn(fast, true), std::string("ACK", 4) + kOlderMarker);
    EXPECT_EQ(::send(fast, "\x10\0", 2, 0), 2);
    EXPECT_TRUE(WaitFor([&] { return LogLines({"disconnect - 0 idle"}) == 1; }));

    // Asks for a big file and acknowledges blocks it never reads.
    for (const bool signal : {false, true}) {
        const int s = Connect(port_, 4096);
        EXPECT_EQ(LogIn(s, true).substr(0, 3), "ACK");
        std::string request = Frame("FCC:\\big.bin");
        for (int i = 0; i < 64; ++i) request += Frame("ACK");
        EXPECT_EQ(::send(s, request.data(), request.size(), 0), ssize_t(request.size()));
        int queued = 0;
        ASSERT_TRUE(WaitFor([&] { return ::ioctl(s, FIONREAD, &queued) == 0 && queued > 0; }));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(!signal || StopServer() == 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500)) << "in order at once";
        EXPECT_TRUE(signal || WaitFor([&] { return LogLines({"disconnect - 0 stalled"}) == 1; }, 60)) << ServerLog();
        EXPECT_TRUE(signal || Client({"ls", "C:\\"}).code == 0) << "served again";
        ::close(s);
    }
}
