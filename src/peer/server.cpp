// The Server: one peer at a time, served only after it logged in with the
// right pair (or, with --allow-cmd-clients, without a login as well), one
// log line per operation, until SIGINT or SIGTERM.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>
#include <utility>

#include "peer/peer.h"
#include "peer/session.h"
#include "posix/host.h"
#include "posix/net.h"

namespace quorbel::peer {

namespace {

// How long a stop of a copy to the peer, and the peer's close after "CUT",
// may take before the Server closes all the same.
constexpr auto kStopWait = std::chrono::seconds(3);
constexpr auto kCutWait = std::chrono::seconds(1);
// While a peer is served, further connections are looked for after this
// many receipts, and whenever a tick passes without any.
constexpr int kListenerLook = 256;

const char* OperationName(const OperationReport& report) {
    switch (report.operation) {
        case Operation::Login: return "login";
        case Operation::List: return report.ours ? "remote-list" : "list";
        case Operation::Send: return "send";
        case Operation::Receive: return "receive";
        case Operation::MakeFolder: return "mkdir";
        case Operation::Unknown: break;
    }
    return "unknown";
}

class Server : public posix::HostListener {
public:
    explicit Server(const Options& options) : o_(options) {}
    int Run();

private:
    void Note(const std::string& line) override { peer::Note(line); }
    void Ended(const OperationReport& report) override;
    void EndAsked() override { endAsked_ = true; }
    void Log(const char* operation, const std::string& path, uint64_t bytes, const char* result);
    // Takes waiting connections: the first free one becomes the peer, any
    // further one is closed at once.
    void Accept();
    void Drop(const char* why);
    // Serves the peer for up to `wait` while `more` holds.
    template <typename Condition>
    void ServeWhile(Clock::duration wait, Condition more);
    int Leave(int signal);

    const Options& o_;
    Setup setup_;
    std::unique_ptr<posix::PosixHost> host_;
    std::unique_ptr<Protocol> protocol_;
    int listener_ = -1, peer_ = -1;
    std::string peerAddress_;
    bool endAsked_ = false;  // the core ended the peer's connection
};

void Server::Log(const char* operation, const std::string& path, uint64_t bytes, const char* result) {
    if (Quiet()) return;
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(stderr, "%s %s %s %s %llu %s\n", stamp, peerAddress_.c_str(), operation,
                 path.empty() ? "-" : path.c_str(), static_cast<unsigned long long>(bytes), result);
}

void Server::Ended(const OperationReport& report) {
    const std::string cause = host_->TakeError();
    if (!cause.empty() && report.outcome != Outcome::Done) peer::Note(cause);
    // A login has no path: its line tells the protocol the connection speaks
    // from now on. A peer's control characters never break a line.
    const std::string path =
        report.operation == Operation::Login ? (protocol_->FastMode() ? "fast" : "plain") : Printable(report.path);
    // A listing that did not go out whole has no count worth showing.
    const bool counted = report.operation != Operation::List || report.outcome == Outcome::Done;
    Log(OperationName(report), path, counted ? report.bytes : 0, OutcomeName(report.outcome));
}

void Server::Accept() {
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors or the like: the connection waits, and the
            // loop does not spin on a listener that stays readable.
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) ::usleep(100 * 1000);
            return;
        }
        if (peer_ >= 0) {
            const std::string address = peerAddress_;
            peerAddress_ = posix::PeerAddress(fd);
            Log("connect", "", 0, "busy");
            peerAddress_ = address;
            ::close(fd);
            continue;
        }
        peer_ = fd;
        peerAddress_ = posix::PeerAddress(fd);
        host_->SetSocket(fd);
        SetReceiveTick(fd);
        protocol_->OnConnectionStarted();
        Log("connect", "", 0, "accepted");
    }
}

void Server::Drop(const char* why) {
    if (peer_ < 0) return;
    // A transfer cut here ends as lost and leaves no temporary file.
    protocol_->OnConnectionLost();
    ::close(peer_);
    peer_ = -1;
    host_->SetSocket(-1);
    Log("disconnect", "", 0, why);
    peerAddress_.clear();
}

template <typename Condition>
void Server::ServeWhile(Clock::duration wait, Condition more) {
    const Clock::time_point deadline = Clock::now() + wait;
    while (peer_ >= 0 && more() && MillisecondsUntil(deadline) > 0) {
        const Receipt receipt = ReceiveOnce(*protocol_, peer_);
        if (receipt == Receipt::Closed) Drop("closed");
        if (receipt == Receipt::BadFrame) Drop("bad-frame");
    }
}

int Server::Leave(int signal) {
    ForgetSignal();
    if (peer_ >= 0) {
        // A copy to the peer gets its stop record; a peer that is waiting
        // gets "CUT" and a moment to close first, as from the Windows Server.
        if (protocol_->OperationState() == RequestCopyFrom) {
            protocol_->RequestStop();
            ServeWhile(kStopWait, [&] { return !protocol_->IsWaiting(); });
        }
        if (peer_ >= 0 && protocol_->IsWaiting() && protocol_->SendCut() == 0)
            ServeWhile(kCutWait, [] { return true; });
        Drop("closed");
    }
    ::close(listener_);
    return SignalExitCode(signal);
}

int Server::Run() {
    if (!PrepareSetup(o_, setup_)) return kExitUsage;
    host_ = std::make_unique<posix::PosixHost>(setup_.codec, setup_.drives, *this);
    protocol_ = std::make_unique<Protocol>(*host_);
    protocol_->SetRole(Role::Server);
    protocol_->SetLoginRequired(!o_.allowCmdClients);
    protocol_->SetFastModeAllowed(!o_.plain);
    protocol_->BuildLoginText(setup_.id, setup_.pw);

    uint16_t port = o_.port;
    std::string why;
    listener_ = posix::Listen(port, why);
    if (listener_ < 0) {
        Error("cannot listen on port " + std::to_string(o_.port) + ": " + why);
        return kExitConnection;
    }
    // Always shown: a script that asked for port 0 reads the port here.
    std::fprintf(stderr, "quorbel-peer: listening on port %u\n", unsigned(port));

    int receipts = 0;
    for (;;) {
        if (const int signal = PendingSignal()) return Leave(signal);
        if (peer_ < 0) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, -1) > 0) Accept();
            continue;
        }
        const Receipt receipt = ReceiveOnce(*protocol_, peer_);
        if (receipt == Receipt::BadFrame)
            peer::Error(Utf8(texts::kBadFrame.caption) + ": " + Utf8(texts::kBadFrame.text));
        if (receipt == Receipt::Closed) Drop("closed");
        if (receipt == Receipt::BadFrame) Drop("bad-frame");
        if (std::exchange(endAsked_, false)) Drop("refused");
        if (receipt == Receipt::Nothing || ++receipts % kListenerLook == 0) Accept();
    }
}

}  // namespace

int RunServer(const Options& options) { return Server(options).Run(); }

}  // namespace quorbel::peer
