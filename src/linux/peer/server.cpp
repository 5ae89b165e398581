// The Server. Each connection is served by a process of its own, as sshd
// serves its connections: one connection's protocol state, open files and
// faults stay apart from the others', and a crash or a slow disk of one
// ends or holds that one alone. This process listens, keeps the guard
// against guessing and the counts, starts a process for each connection it
// takes and reaps it, and logs what it took and refused. Connections that
// have not logged in are held a few at a time, in all and from one source,
// and none gives way to another; one logged-in peer is served at a time.
// It runs until SIGINT, SIGTERM or SIGHUP, which every connection hears too.
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "core/protocol/guard.h"
#include "linux/host/net.h"
#include "linux/peer/exit_codes.h"
#include "linux/peer/messages.h"
#include "linux/peer/peer.h"
#include "linux/peer/server_channel.h"
#include "linux/peer/server_connection.h"
#include "linux/peer/server_log.h"
#include "linux/peer/setup.h"
#include "linux/peer/state.h"
#include "linux/peer/waits.h"

namespace quorbel::peer {

namespace {

// Connections that have not logged in, held at once: in all, and from one
// source. A further one is closed at once.
constexpr int kMaxWaitingConnections = 10;
constexpr int kMaxWaitingPerSource = 3;
// Logged-in peers served at once.
constexpr int kPeersServed = 1;
// After a signal, the connections have this long to end in order (each
// needs about half of it); those left are killed, and waited for this much more.
constexpr auto kConnectionsLeaveWait = std::chrono::milliseconds(1000);
constexpr auto kKilledWait = std::chrono::milliseconds(500);
// An accept that failed for want of descriptors is tried again this much later.
constexpr int kAcceptRetryMs = 100;

class Server {
public:
    Server(const Options& options, int peersServed) : o_(options), peersServed_(peersServed) {}
    int Run();

private:
    struct Connection {
        int channel = -1;  // -1 once closed
        int socket = -1;   // kept to see the peer hang up, never read
        std::string address, source;
        bool served = false;    // its peer holds a seat
        bool admitted = false;  // its login exchange was let through and has not ended
        bool queued = false;    // it waits for its turn
        uint64_t queuedAs = 0;  // the order of those
        uint32_t turnAsked = 0;  // the number of its question for a turn
        int64_t deadlineMs = 0;  // the end of its time to log in
        bool killed = false;
    };

    static int64_t NowMs();
    // One wait of up to `waitMs` for the listener, the connections and
    // their ends, and what came of it.
    void Watch(int waitMs);
    void Accept();
    void Start(int fd, const std::string& address, const std::string& source);
    void Hear(Connection& c);
    void Answer(Connection& c, const ChannelMessage& m);
    // The connections that wait for their turn, each source's in the order
    // they asked: given it, or refused it where it cannot come in time.
    void GiveTurns();
    // Answers `c` (true), or leaves it waiting (false) while its source's
    // penalty runs or another exchange of its source is under way. It is
    // let through only once the penalty ran out, so that one that hangs up
    // meanwhile was never answered and costs its source nothing.
    bool Offer(Connection& c);
    void Refuse(Connection& c, NoTurnWhy why);
    // How long the waits for a turn may go without a look: until the first
    // penalty or time to log in runs out.
    int TurnsDueInMs(int atMostMs) const;
    // The logged-in peers served. One that hung up has left its seat, though
    // its process may still be ending: a Client that comes just after
    // another left is not turned away.
    int Seats() const;
    void CloseChannel(Connection& c);
    void Reap();
    int Leave(int signal);

    const Options& o_;
    const int peersServed_;
    Setup setup_;
    std::string salt_;
    LoginGuard guard_;
    int listener_ = -1, childEnds_ = -1;
    std::map<pid_t, Connection> connections_;
    uint64_t queuedSoFar_ = 0;
    bool leaving_ = false;
};

int64_t Server::NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

int Server::Seats() const {
    int taken = 0;
    for (const auto& entry : connections_) {
        pollfd peer{entry.second.socket, POLLRDHUP, 0};
        taken += entry.second.served && ::poll(&peer, 1, 0) == 0;
    }
    return taken;
}

void Server::Watch(int waitMs) {
    std::vector<pollfd> fds{{childEnds_, POLLIN, 0}, {listener_, POLLIN, 0}};
    std::vector<pid_t> heard;
    for (const auto& [pid, c] : connections_) {
        if (c.channel < 0) continue;
        fds.push_back({c.channel, POLLIN, 0});
        heard.push_back(pid);
    }
    if (posix::WaitForAny(fds.data(), fds.size(), TurnsDueInMs(waitMs)) == posix::Ready::Yes) {
        // What a connection said before it ended counts before its end.
        for (std::size_t i = 0; i < heard.size(); ++i)
            if (fds[i + 2].revents != 0) Hear(connections_.at(heard[i]));
        if (fds[0].revents != 0) Reap();
        if (fds[1].revents != 0) Accept();
    }
    GiveTurns();
}

void Server::Accept() {
    for (;;) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const int fd = ::accept4(listener_, reinterpret_cast<sockaddr*>(&from), &length, SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors or the like: the connection waits, and the
            // loop does not spin on a listener that stays readable.
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) posix::WaitFor(-1, 0, kAcceptRetryMs);
            return;
        }
        const std::string address = posix::PeerAddress(fd);
        const std::string source = SourceOfAddress(reinterpret_cast<const uint8_t*>(&from.sin_addr), 4);
        int waiting = 0, ofSource = 0;
        for (const auto& entry : connections_) {
            waiting += !entry.second.served;
            ofSource += !entry.second.served && entry.second.source == source;
        }
        // Closed without a word: nothing it could take for a login answer.
        const char* refusal = Seats() >= peersServed_ ? "busy"
                              : waiting >= kMaxWaitingConnections || ofSource >= kMaxWaitingPerSource ? "too-many"
                                                                                                       : nullptr;
        if (!refusal) {
            Start(fd, address, source);
            continue;
        }
        LogLine(address, "connect", "", 0, refusal);
        ::close(fd);
    }
}

void Server::Start(int fd, const std::string& address, const std::string& source) {
    int channel[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, channel) != 0) {
        Error("cannot serve " + address + ": " + std::strerror(errno));
        ::close(fd);
        return;
    }
    // Logged first: each line of the connection's own comes after it.
    LogLine(address, "connect", "", 0, "accepted");
    const pid_t self = ::getpid(), pid = posix::ForkWithOwnWake();
    if (pid == 0) {
        // A Server killed takes its connections along, as when it was one
        // process.
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != self) ::_exit(kExitConnection);
        // The connection's process holds its socket and its end of the
        // channel, and nothing of the others.
        for (const int own : {listener_, childEnds_, channel[0]}) ::close(own);
        for (const auto& entry : connections_)
            for (const int theirs : {entry.second.channel, entry.second.socket})
                if (theirs >= 0) ::close(theirs);
        sigset_t childEnds;
        sigemptyset(&childEnds);
        sigaddset(&childEnds, SIGCHLD);
        ::sigprocmask(SIG_UNBLOCK, &childEnds, nullptr);
        // What the listening process has in its buffers is not the
        // connection's to flush: it leaves at once.
        ::_exit(ServeConnection(o_, setup_, {fd, channel[1], address, salt_}));
    }
    const int error = errno;
    ::close(channel[1]);
    if (pid < 0) {
        Error("cannot serve " + address + ": " + std::strerror(error));
        ::close(fd);
        ::close(channel[0]);
        LogLine(address, "disconnect", "", 0, "failed");
        return;
    }
    Connection& c = connections_[pid];
    c.socket = fd;
    c.channel = channel[0];
    c.address = address;
    c.source = source;
}

void Server::Hear(Connection& c) {
    ChannelMessage m;
    bool closed = false;
    while (c.channel >= 0 && Take(c.channel, m, closed)) Answer(c, m);
    if (closed) CloseChannel(c);
}

void Server::Answer(Connection& c, const ChannelMessage& m) {
    switch (m.say) {
        case Say::Turn:
            c.turnAsked = m.number;
            c.deadlineMs = NowMs() + m.value;
            if (leaving_) return Refuse(c, NoTurnWhy::Closing);
            // While the seats are taken, no guess is answered: the
            // connection could not be served anyway.
            if (!c.served && Seats() >= peersServed_) return Refuse(c, NoTurnWhy::Busy);
            c.queued = true;
            c.queuedAs = ++queuedSoFar_;
            return;
        case Say::Ended:
            // Given up before its turn came, or its exchange ended.
            if (c.queued) c.queued = false;
            else if (std::exchange(c.admitted, false)) guard_.Settle(c.source, m.flag != 0, NowMs());
            return;
        case Say::Seat: {
            c.served = c.served || (!leaving_ && Seats() < peersServed_);
            Post(c.channel, {c.served ? Say::Seated : Say::NoSeat, 0, m.number, 0});
            return;
        }
        default: return;  // no question of a connection's
    }
}

void Server::GiveTurns() {
    std::vector<Connection*> waiting;
    for (auto& entry : connections_)
        if (entry.second.queued) waiting.push_back(&entry.second);
    std::sort(waiting.begin(), waiting.end(), [](auto* a, auto* b) { return a->queuedAs < b->queuedAs; });
    std::vector<std::string> held;  // sources whose first in line waits on
    for (Connection* c : waiting) {
        if (std::find(held.begin(), held.end(), c->source) != held.end()) continue;
        if (Offer(*c)) c->queued = false;
        else held.push_back(c->source);
    }
}

bool Server::Offer(Connection& c) {
    const int64_t now = NowMs(), left = c.deadlineMs - now, penalty = guard_.PenaltyLeft(c.source, now);
    if (left <= 0) return Refuse(c, NoTurnWhy::NoLogin), true;
    // Its turn would come only after its time to log in.
    if (penalty >= left) return Refuse(c, NoTurnWhy::Penalty), true;
    int64_t wait = 0;
    if (penalty > 0 || !guard_.Admit(c.source, now, wait)) return false;
    c.admitted = true;
    Post(c.channel, {Say::Wait, 0, c.turnAsked, wait});
    return true;
}

void Server::Refuse(Connection& c, NoTurnWhy why) { Post(c.channel, {Say::NoTurn, uint8_t(why), c.turnAsked, 0}); }

int Server::TurnsDueInMs(int atMostMs) const {
    const int64_t now = NowMs();
    int64_t due = atMostMs;
    for (const auto& entry : connections_) {
        const Connection& c = entry.second;
        if (!c.queued) continue;
        // One behind an exchange under way is given its turn when that ends.
        const int64_t penalty = guard_.PenaltyLeft(c.source, now);
        due = std::min(due, penalty > 0 ? penalty : c.deadlineMs - now);
    }
    return int(std::max<int64_t>(due, 0));
}

void Server::CloseChannel(Connection& c) {
    if (c.channel < 0) return;
    ::close(std::exchange(c.channel, -1));
    ::close(std::exchange(c.socket, -1));
    c.queued = c.served = false;
    // Its process ended while its exchange was under way: as one abandoned.
    if (std::exchange(c.admitted, false)) guard_.Settle(c.source, false, NowMs());
}

void Server::Reap() {
    signalfd_siginfo info;
    while (::read(childEnds_, &info, sizeof info) > 0) {
    }
    int status = 0;
    for (pid_t pid; (pid = ::waitpid(-1, &status, WNOHANG)) > 0;) {
        const auto it = connections_.find(pid);
        if (it == connections_.end()) continue;
        Hear(it->second);
        CloseChannel(it->second);
        // One that did not end in order logged no end of its own; a crash
        // is shown even with --quiet.
        const bool killed = it->second.killed;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != kExitDone)
            LogLine(it->second.address, "disconnect", "", 0, killed ? "killed" : "crashed", !killed);
        connections_.erase(it);
    }
}

int Server::Leave(int signal) {
    leaving_ = true;
    ::close(std::exchange(listener_, -1));
    // Each connection ends in order, as the Server did alone: a copy to the
    // peer gets its stop record, a waiting peer "CUT".
    for (auto& [pid, c] : connections_) {
        ::kill(pid, SIGTERM);
        if (std::exchange(c.queued, false)) Refuse(c, NoTurnWhy::Closing);
    }
    for (const bool killed : {false, true}) {
        if (killed) {
            for (auto& [pid, c] : connections_) ::kill(pid, SIGKILL), c.killed = true;
        }
        const Clock::time_point deadline = Clock::now() + (killed ? kKilledWait : kConnectionsLeaveWait);
        for (int left; !connections_.empty() && (left = MillisecondsUntil(deadline)) > 0;) Watch(left);
    }
    // SIGTERM is how a service manager stops a service: a stop, not a
    // failure. SIGINT and SIGHUP keep the shell's 128 + signal.
    return signal == SIGTERM ? kExitDone : SignalExitCode(signal);
}

int Server::Run() {
    if (!PrepareSetup(o_, setup_)) return kExitUsage;
    salt_ = ServerSalt();
    uint16_t port = o_.port;
    std::string why;
    listener_ = posix::Listen(o_.bind, port, why);
    if (listener_ < 0) {
        Error("cannot listen on " + (o_.bind.empty() ? "" : o_.bind + " ") + "port " + std::to_string(o_.port) +
              ": " + why);
        return kExitConnection;
    }
    // The ends of the connections' processes come as a descriptor to read:
    // SIGCHLD interrupts no call of this process.
    sigset_t childEnds;
    sigemptyset(&childEnds);
    sigaddset(&childEnds, SIGCHLD);
    ::sigprocmask(SIG_BLOCK, &childEnds, nullptr);
    childEnds_ = ::signalfd(-1, &childEnds, SFD_NONBLOCK | SFD_CLOEXEC);
    if (childEnds_ < 0) {
        Error(std::string("cannot watch the connections' processes: ") + std::strerror(errno));
        return kExitLocal;
    }
    // Always shown: a script that asked for port 0 reads the port here.
    std::fprintf(stderr, "quorbel-peer: listening on port %u\n", unsigned(port));
    for (;;) {
        if (const int signal = PendingSignal()) return Leave(signal);
        Watch(kTickMs);
    }
}

}  // namespace

int RunServer(const Options& options) { return Server(options, kPeersServed).Run(); }

}  // namespace quorbel::peer
