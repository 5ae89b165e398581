// quorbel-peer serve against strangers and guessers, over loopback from
// addresses of their own (127.0.0.x): connections that never log in keep
// no Client out, and one address's login exchanges are answered one at a
// time, each that failed or was abandoned a line of the log. Every wait
// has a time-out; the Server chooses its port.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "core/protocol/protocol.h"

namespace fs = std::filesystem;
using namespace quorbel;

namespace {

bool WaitFor(const std::function<bool()>& condition, double seconds = 60) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (; !condition(); std::this_thread::sleep_for(std::chrono::milliseconds(5)))
        if (std::chrono::steady_clock::now() > deadline) return false;
    return true;
}

// A connection to `port` from `from`, an address of loopback's own; each
// receive waits 30 s at most.
int Connect(const char* from, int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval limit{30, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &a.sin_addr);
    EXPECT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    EXPECT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return s;
}

// `bytes` from `s`, or what came before it closed or fell silent.
std::string Receive(int s, std::size_t bytes) {
    std::string got(bytes, '\0');
    std::size_t at = 0;
    for (ssize_t n = 1; at < bytes && n > 0; at += std::size_t(std::max<ssize_t>(n, 0)))
        n = ::recv(s, got.data() + at, bytes - at, 0);
    return got.substr(0, at);
}

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/quorbel_server_test_XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        base_ = name;
        fs::create_directory(base_ / "srv");
        ::setenv("XDG_STATE_HOME", base_.c_str(), 1);
    }
    void TearDown() override {
        if (server_ > 0 && ::kill(server_, SIGTERM) == 0) {
            EXPECT_EQ(Reap(server_), 0) << Log();
        }
        fs::remove_all(base_);
    }
    void Serve(const std::vector<std::string>& options) {
        std::vector<std::string> args{"serve", "--root", base_ / "srv", "--port", "0"};
        args.insert(args.end(), options.begin(), options.end());
        server_ = Spawn(args, "server");
        ASSERT_TRUE(WaitFor([&] { return Log().find("listening on port ") != std::string::npos; })) << Log();
        port_ = std::stoi(Log().substr(Log().find("listening on port ") + 18));
    }
    int Client(const std::vector<std::string>& args) {
        std::vector<std::string> all{"--port", std::to_string(port_)};
        all.insert(all.end(), args.begin(), args.end());
        return Reap(Spawn(all, "client"));
    }
    static std::string Read(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string Log() const { return Read(base_ / "server.err"); }
    // Lines of the Server's log that hold all of these words.
    int LogLines(const std::vector<std::string>& words) const {
        std::istringstream log(Log());
        int count = 0;
        for (std::string line; std::getline(log, line);)
            count += std::all_of(words.begin(), words.end(), [&](auto& w) { return line.find(w) != std::string::npos; });
        return count;
    }

    fs::path base_;
    pid_t server_ = -1;
    int port_ = 0;

private:
    pid_t Spawn(std::vector<std::string> args, const std::string& name) {
        for (const char* login : {"--id", "tester", "--pw", "secret"}) args.emplace_back(login);
        std::vector<char*> argv{const_cast<char*>(QUORBEL_PEER)};
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        for (const int fd : {1, 2})
            posix_spawn_file_actions_addopen(&files, fd, (base_ / (name + (fd == 1 ? ".out" : ".err"))).c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&files);
        return pid;
    }
    // Exit code (128 + signal when killed); killed after 120 s.
    static int Reap(pid_t pid) {
        int status = 0;
        if (!WaitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 120)) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            ADD_FAILURE() << "process " << pid << " did not end in time";
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

}  // namespace

// A stranger opens an empty connection every 100 ms and leaves it open:
// beyond a few of its address's it is closed at once, and a Client with
// the pair logs in every time, secure and plain.
TEST_F(ServerTest, EmptyConnectionsKeepNoClientOut) {
    Serve({});
    std::atomic<bool> stop{false};
    std::vector<int> held;
    std::thread stranger([&] {
        for (; !stop; std::this_thread::sleep_for(std::chrono::milliseconds(100)))
            held.push_back(Connect("127.0.0.2", port_));
    });
    ASSERT_TRUE(WaitFor([&] { return LogLines({"127.0.0.2", "connect - 0 too-many"}) > 0; })) << Log();
    for (const bool plain : {false, true})
        for (int round = 0; round < 3; ++round)
            EXPECT_EQ(Client(plain ? std::vector<std::string>{"--plain", "ls", "C:\\"}
                                   : std::vector<std::string>{"ls", "C:\\"}),
                      0) << round << "\n" << Log();
    stop = true;
    stranger.join();
    for (const int fd : held) ::close(fd);
    EXPECT_EQ(LogLines({"127.0.0.1", "login secure 0 done"}), 3);
    EXPECT_EQ(LogLines({"127.0.0.1", "login plain 0 done"}), 3);
}

// One address guesses: a wrong exchange, then one abandoned after the
// Server's answer. Each is a line even with --quiet, and the second is
// answered only once the first was settled; the answer carries the salt
// the Server keeps.
TEST_F(ServerTest, OneAddressGuessesOneExchangeAtATime) {
    Serve({"--quiet"});
    const std::string offer = std::string("PW\0", 3) + std::string(Marker(kFastVersion));
    const std::string head = std::string("ACK\0", 4) + std::string(Marker(kFastVersion));
    const std::size_t answerBytes = head.size() + kServerSaltBytes + SecureSession::kShareBytes;
    const int wrong = Connect("127.0.0.3", port_), abandoned = Connect("127.0.0.3", port_);
    ASSERT_EQ(::send(wrong, offer.data(), offer.size(), MSG_NOSIGNAL), ssize_t(offer.size()));
    EXPECT_EQ(Receive(wrong, answerBytes).substr(0, head.size()), head);
    ASSERT_EQ(::send(abandoned, offer.data(), offer.size(), MSG_NOSIGNAL), ssize_t(offer.size()));
    // A confirmation that proves no pair, in the frame the first one comes in.
    std::string confirmation(kFrameHeaderBytes + SecureSession::kShareBytes + SecureSession::kConfirmationBytes, 'Z');
    PutFrameHeader(confirmation.data(), uint32_t(confirmation.size() - kFrameHeaderBytes));
    ASSERT_EQ(::send(wrong, confirmation.data(), confirmation.size(), MSG_NOSIGNAL), ssize_t(confirmation.size()));

    const std::string answer = Receive(abandoned, answerBytes);
    EXPECT_EQ(LogLines({"127.0.0.3", "login secure 0 refused:wrong-pair"}), 1) << "settled first:\n" << Log();
    EXPECT_EQ(answer.substr(0, head.size()), head);
    const fs::path salt = base_ / "quorbel" / "server-salt";
    EXPECT_EQ(answer.substr(head.size(), kServerSaltBytes), Read(salt));
    EXPECT_EQ(fs::status(salt).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    ::close(abandoned);
    EXPECT_TRUE(WaitFor([&] { return LogLines({"127.0.0.3", "login secure 0 lost"}) == 1; })) << Log();
    ::close(wrong);
    EXPECT_EQ(LogLines({"connect"}) + LogLines({"disconnect"}), 0) << "quiet:\n" << Log();
}
