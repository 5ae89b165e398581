// The Server: one peer at a time, served only after it logged in with the
// right pair (or, with --allow-cmd-clients, without a login as well), one
// log line per operation, until SIGINT, SIGTERM or SIGHUP. No connection
// holds it: one that has not logged in gives way to the next and is dropped
// at the login deadline, a logged-in peer that falls silent at the idle
// limit, and a peer that takes no bytes at the send limit.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>
#include <utility>

#include "core/base/catalogue.h"
#include "core/protocol/protocol.h"
#include "crypto/crypto.h"
#include "crypto/session.h"
#include "linux/host/files.h"
#include "linux/host/link.h"
#include "linux/host/net.h"
#include "linux/peer/display.h"
#include "linux/peer/exit_codes.h"
#include "linux/peer/messages.h"
#include "linux/peer/peer.h"
#include "linux/peer/setup.h"
#include "linux/peer/waits.h"

namespace quorbel::peer {

namespace {

// The time a connection has to log in.
constexpr int kLoginDeadlineSeconds = 10;
// How long the Server takes at most to end in order after a signal: a copy
// to the peer gets its stop record, a waiting peer "CUT" and a moment to
// close first.
constexpr auto kLeaveWait = std::chrono::milliseconds(500);
// While a peer is served, further connections are looked for after this
// many receipts, and whenever a tick passes without any.
constexpr int kListenerLook = 256;
// An accept that failed for want of descriptors is tried again this much later.
constexpr int kAcceptRetryMs = 100;

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

class Server : public UserSeat, public posix::FilesListener {
public:
    explicit Server(const Options& options) : o_(options) {}
    int Run();

private:
    // The seat and the files' notes.
    void SendFailed(const SendFailure& failure) override;
    // The note's text repeats a record of the last listing, which may have
    // been another peer's: only the fact is kept, for the refusal's log line.
    void PeerRefused(const RefusalNote&) override { sentNak_ = true; }
    void SourceTooLarge(uint64_t limit) override;
    void StateChanged() override {}
    // The peer's listing, which a Windows Client answers to: not shown.
    void ClearRemoteRows() override {}
    void AddRemoteRow(const PaneRow&, int32_t) override {}
    void OperationEnded(const OperationReport& report) override;
    void Note(const std::string& line) override { peer::Note(line); }
    void RequestArrived() override { settled_ = settled_ || o_.allowCmdClients; }
    // A box of the core, as its line on stderr.
    void Box(u16view caption, u16view text);
    void Log(const char* operation, const std::string& path, uint64_t bytes, const std::string& result,
             bool evenQuiet = false);
    // The word for why a request was refused: `why` or another reason of
    // this side where it sent the "NAK" with its note (`ours`), else the
    // peer's.
    std::string Refusal(const OperationReport& report, bool ours, const std::string& why) const;
    // Takes waiting connections: one becomes the peer unless a logged-in
    // peer is served, any further one is closed at once.
    void Accept();
    void Drop(const char* why);
    // Drops the peer once the host gave it up or one of its limits ran out.
    void Enforce();
    // Serves the peer until `deadline` while `more` holds.
    template <typename Condition>
    void ServeUntil(Clock::time_point deadline, Condition more);
    int Leave(int signal);

    const Options& o_;
    Setup setup_;
    // Declared before the protocol, which closes its files when it goes.
    std::unique_ptr<posix::PosixLink> link_;
    std::unique_ptr<posix::PosixFiles> files_;
    crypto::Library crypto_;
    std::unique_ptr<Protocol> protocol_;
    int listener_ = -1, peer_ = -1;
    std::string peerAddress_;
    // Whether the peer logged in (or was served without, where that is
    // allowed), the reports that were not all logged, when it came and was
    // last heard.
    bool settled_ = false;
    bool sentNak_ = false;  // this side answered "NAK" since the last report
    int unsettledRefusals_ = 0, reportsAfterFailure_ = 0;
    Clock::time_point connected_, heard_;
};

void Server::Log(const char* operation, const std::string& path, uint64_t bytes, const std::string& result,
                 bool evenQuiet) {
    if (Quiet() && !evenQuiet) return;
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(stderr, "%s %s %s %s %llu %s\n", stamp, peerAddress_.c_str(), operation,
                 path.empty() ? "-" : path.c_str(), static_cast<unsigned long long>(bytes), result.c_str());
}

std::string Server::Refusal(const OperationReport& report, bool ours, const std::string& why) const {
    if (report.operation == Operation::Login) return "wrong-pair";
    if (report.operation == Operation::Unknown) return "unknown";
    // Before a login nothing is served, and nothing of this side's runs for
    // the peer to refuse.
    if (!settled_ && !o_.allowCmdClients) return "no-login";
    if (!ours) return "by-peer";
    return why.empty() ? "too-long" : why;
}

void Server::SendFailed(const SendFailure& failure) { Box(texts::kSendFailed.caption, SendFailureText(failure)); }

void Server::SourceTooLarge(uint64_t limit) { Box(texts::kSendTooLarge.caption, SourceTooLargeText(limit)); }

void Server::Box(u16view caption, u16view text) {
    if (link_->BoxDue()) peer::Note(BoxLine(caption, text));
}

void Server::OperationEnded(const OperationReport& report) {
    const std::string cause = files_->TakeError();
    const bool refusedHere = std::exchange(sentNak_, false);
    const std::string why = files_->TakeRefusal();
    // Before a login, one refusal per connection is logged, and after a
    // failed send, the operation it ended: a peer that sends thousands of
    // messages does not get thousands of lines.
    if (report.outcome == Outcome::Refused && !settled_ && unsettledRefusals_++ > 0) return;
    if (link_->SendError() != 0 && reportsAfterFailure_++ > 0) return;
    if (report.operation == Operation::Login && report.outcome == Outcome::Done) settled_ = true;
    std::string result = OutcomeName(report.outcome);
    if (report.outcome == Outcome::Refused) result += ":" + Refusal(report, refusedHere, why);
    else if (!cause.empty() && report.outcome != Outcome::Done) peer::Note(cause);
    // A login has no path: its line tells the protocol the connection speaks
    // from now on. A peer's control characters never break a line.
    const std::string path =
        report.operation == Operation::Login
            ? (protocol_->Agreed().secure ? "secure" : protocol_->FastMode() ? "fast" : "plain")
            : Printable(report.path);
    // A listing that did not go out whole has no count worth showing.
    const bool counted = report.operation != Operation::List || report.outcome == Outcome::Done;
    // A failed login is logged even with --quiet: it is what an
    // administrator looks for when someone guesses the pair.
    const bool failedLogin = report.operation == Operation::Login && report.outcome == Outcome::Refused;
    Log(OperationName(report), path, counted ? report.bytes : 0, result, failedLogin);
}

void Server::Accept() {
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors or the like: the connection waits, and the
            // loop does not spin on a listener that stays readable.
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) posix::WaitFor(-1, 0, kAcceptRetryMs);
            return;
        }
        if (peer_ >= 0 && settled_) {
            // Closed without a word: nothing it could take for a login answer.
            const std::string address = std::exchange(peerAddress_, posix::PeerAddress(fd));
            Log("connect", "", 0, "busy");
            peerAddress_ = address;
            ::close(fd);
            continue;
        }
        // A connection that has not logged in gives way to the next one.
        Drop("replaced");
        peer_ = fd;
        peerAddress_ = posix::PeerAddress(fd);
        // Nothing of the last connection is kept.
        link_->SetSocket(fd);
        sentNak_ = false;
        files_->TakeRefusal();
        SetReceiveTick(fd);
        // The answers to blocks in flight are small messages in a row: each
        // leaves at once rather than after the peer's delayed acknowledgement
        // of the one before.
        const int noDelay = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        protocol_->OnConnectionStarted();
        settled_ = false;
        unsettledRefusals_ = reportsAfterFailure_ = 0;
        connected_ = heard_ = Clock::now();
        Log("connect", "", 0, "accepted");
    }
}

void Server::Drop(const char* why) {
    if (peer_ < 0) return;
    // A transfer cut here ends as lost and leaves no temporary file.
    protocol_->OnConnectionLost();
    ::close(peer_);
    peer_ = -1;
    link_->SetSocket(-1);
    Log("disconnect", "", 0, why);
    peerAddress_.clear();
}

void Server::Enforce() {
    if (peer_ < 0) return;
    const Clock::duration since = Clock::now() - (settled_ ? heard_ : connected_);
    if (link_->EndAsked()) Drop("wrong-pair");
    else if (link_->SendError() != 0) Drop(link_->SendError() == ETIMEDOUT ? "stalled" : "closed");
    else if (!settled_ && since >= std::chrono::seconds(kLoginDeadlineSeconds)) Drop("no-login");
    else if (settled_ && since >= std::chrono::seconds(o_.idleSeconds)) Drop("idle");
}

template <typename Condition>
void Server::ServeUntil(Clock::time_point deadline, Condition more) {
    for (int left; peer_ >= 0 && more() && (left = MillisecondsUntil(deadline)) > 0;) {
        const Receipt receipt = ReceiveOnce(*protocol_, peer_, std::min(left, kTickMs));
        if (receipt == Receipt::Closed) Drop("closed");
        if (receipt == Receipt::BadFrame) Drop("bad-frame");
        Enforce();
    }
}

int Server::Leave(int signal) {
    // The signal stays remembered, so that a send to a peer that takes no
    // bytes gives up at once rather than at the send limit.
    const Clock::time_point deadline = Clock::now() + kLeaveWait;
    if (peer_ >= 0 && link_->SendError() == 0) {
        // A copy to the peer gets its stop record; a peer that is waiting
        // gets "CUT" and a moment to close first, as from the Windows Server.
        if (protocol_->OperationState() == RequestCopyFrom) {
            protocol_->RequestStop();
            ServeUntil(deadline, [&] { return !protocol_->IsWaiting(); });
        }
        if (peer_ >= 0 && protocol_->IsWaiting() && protocol_->SendCut() == 0)
            ServeUntil(deadline, [] { return true; });
    }
    Drop("closed");
    ::close(listener_);
    // SIGTERM is how a service manager stops a service: a stop, not a
    // failure. SIGINT and SIGHUP keep the shell's 128 + signal.
    return signal == SIGTERM ? kExitDone : SignalExitCode(signal);
}

int Server::Run() {
    if (!PrepareSetup(o_, setup_)) return kExitUsage;
    link_ = std::make_unique<posix::PosixLink>(setup_.codec);
    files_ = std::make_unique<posix::PosixFiles>(setup_.codec, setup_.drives, *this);
    files_->SetReadOnly(o_.readOnly);
    protocol_ = std::make_unique<Protocol>(*link_, *this, *files_, crypto_);
    protocol_->SetRole(Role::Server);
    protocol_->SetLoginRequired(!o_.allowCmdClients);
    protocol_->SetHighestVersion(o_.plain ? 0 : kFastVersion);
    protocol_->SetSecureRequired(o_.requireSecure);
    protocol_->SetResumeAllowed(!o_.noResume);
    protocol_->BuildLoginText(setup_.id, setup_.pw);
    // A salt of this run's own, so that no table made in advance serves against it.
    protocol_->SetServerSalt(crypto::RandomBytes(kServerSaltBytes));

    uint16_t port = o_.port;
    std::string why;
    listener_ = posix::Listen(o_.bind, port, why);
    if (listener_ < 0) {
        Error("cannot listen on " + (o_.bind.empty() ? "" : o_.bind + " ") + "port " + std::to_string(o_.port) +
              ": " + why);
        return kExitConnection;
    }
    // Always shown: a script that asked for port 0 reads the port here.
    std::fprintf(stderr, "quorbel-peer: listening on port %u\n", unsigned(port));

    int receipts = 0;
    for (;;) {
        if (const int signal = PendingSignal()) return Leave(signal);
        if (peer_ < 0) {
            if (posix::WaitFor(listener_, POLLIN, kTickMs) == posix::Ready::Yes) Accept();
            continue;
        }
        const Receipt receipt = ReceiveOnce(*protocol_, peer_);
        if (receipt == Receipt::Data) heard_ = Clock::now();
        if (receipt == Receipt::BadFrame)
            peer::Error(Utf8(texts::kBadFrame.caption) + ": " + Utf8(texts::kBadFrame.text));
        if (receipt == Receipt::Closed) Drop("closed");
        if (receipt == Receipt::BadFrame) Drop("bad-frame");
        Enforce();
        if (receipt == Receipt::Nothing || ++receipts % kListenerLook == 0) Accept();
    }
}

}  // namespace

int RunServer(const Options& options) { return Server(options).Run(); }

}  // namespace quorbel::peer
