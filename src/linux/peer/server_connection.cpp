// No connection holds its process: one that has not logged in is dropped
// at the login deadline, a logged-in peer that falls silent at the idle
// limit, and a peer that takes no bytes at the send limit.
#include "linux/peer/server_connection.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "core/base/catalogue.h"
#include "core/base/limits.h"
#include "core/protocol/protocol.h"
#include "crypto/session.h"
#include "linux/host/files.h"
#include "linux/host/link.h"
#include "linux/peer/display.h"
#include "linux/peer/exit_codes.h"
#include "linux/peer/messages.h"
#include "linux/peer/server_channel.h"
#include "linux/peer/server_log.h"
#include "linux/peer/waits.h"

namespace quorbel::peer {

namespace {

// How long a connection takes at most to end in order after a signal: a
// copy to the peer gets its stop record, a waiting peer "CUT" and a moment
// to close first.
constexpr auto kLeaveWait = std::chrono::milliseconds(500);
// The failed logins a connection logs: every wrong pair it can send before
// it is closed, and the exchange it abandoned.
constexpr int kLoggedLoginFailures = kMaxWrongLogins + 1;

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

class Connection : public UserSeat, public posix::FilesListener {
public:
    Connection(const Options& options, const Setup& setup, const ConnectionStart& start)
        : o_(options),
          setup_(setup),
          start_(start),
          link_(setup.codec),
          files_(setup.codec, setup.drives, *this),
          gate_(start.channel, start.socket, [this] { return LoginMsLeft(); }),
          protocol_(link_, *this, files_, crypto_) {}
    int Run();

private:
    // The seat and the files' notes.
    void SendFailed(const SendFailure& failure) override;
    // The note's text repeats a record of the last listing: only the fact
    // is kept, for the refusal's log line.
    void PeerRefused(const RefusalNote&) override { sentNak_ = true; }
    void SourceTooLarge(uint64_t limit) override;
    void StateChanged() override {}
    // The peer's listing, which a Windows Client answers to: not shown.
    void ClearRemoteRows() override {}
    void AddRemoteRow(const PaneRow&, int32_t) override {}
    void OperationEnded(const OperationReport& report) override;
    void Note(const std::string& line) override { peer::Note(line); }
    void RequestArrived() override {
        if (o_.allowCmdClients) Settle();
    }
    // A box of the core, as its line on stderr.
    void Box(u16view caption, u16view text);
    void Log(const char* operation, const std::string& path, uint64_t bytes, const std::string& result,
             bool evenQuiet = false) {
        LogLine(start_.address, operation, path, bytes, result, evenQuiet);
    }
    // The word for why a request was refused: `why` or another reason of
    // this side where it sent the "NAK" with its note (`ours`), else the
    // peer's.
    std::string Refusal(const OperationReport& report, bool ours, const std::string& why) const;
    int64_t LoginMsLeft() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   connected_ + std::chrono::milliseconds(kLoginTimeMs) - Clock::now())
            .count();
    }
    // The peer logged in (or is served without, where that is allowed): it
    // takes a seat among the peers served, or is closed as busy.
    void Settle();
    void Drop(const char* why);
    // Drops the peer once the host gave it up or one of its limits ran out.
    void Enforce();
    // Serves the peer until `deadline` while `more` holds.
    template <typename Condition>
    void ServeUntil(Clock::time_point deadline, Condition more);
    int Leave();

    const Options& o_;
    const Setup& setup_;
    const ConnectionStart start_;
    // Declared before the protocol, which closes its files when it goes.
    posix::PosixLink link_;
    posix::PosixFiles files_;
    crypto::Library crypto_;
    ChannelGate gate_;
    Protocol protocol_;
    int peer_ = -1;
    // Whether the peer logged in (or was served without, where that is
    // allowed) and found no seat, the reports that were not all logged,
    // when it came and was last heard.
    bool settled_ = false, busy_ = false;
    bool sentNak_ = false;  // this side answered "NAK" since the last report
    int unsettledRefusals_ = 0, failedLogins_ = 0, reportsAfterFailure_ = 0;
    Clock::time_point connected_ = Clock::now(), heard_ = connected_;
};

std::string Connection::Refusal(const OperationReport& report, bool ours, const std::string& why) const {
    if (report.operation == Operation::Login) return "wrong-pair";
    if (report.operation == Operation::Unknown) return "unknown";
    // Before a login nothing is served, and nothing of this side's runs for
    // the peer to refuse.
    if (!settled_ && !o_.allowCmdClients) return "no-login";
    if (!ours) return "by-peer";
    return why.empty() ? "too-long" : why;
}

void Connection::SendFailed(const SendFailure& failure) { Box(texts::kSendFailed.caption, SendFailureText(failure)); }

void Connection::SourceTooLarge(uint64_t limit) { Box(texts::kSendTooLarge.caption, SourceTooLargeText(limit)); }

void Connection::Box(u16view caption, u16view text) {
    if (link_.BoxDue()) peer::Note(BoxLine(caption, text));
}

void Connection::Settle() {
    if (std::exchange(settled_, true) || gate_.TakeSeat()) return;
    // Closed without a word, and meanwhile none of the drives serves it.
    busy_ = true;
    files_.SetServesFiles(false);
    link_.EndConnection();
}

void Connection::OperationEnded(const OperationReport& report) {
    const std::string cause = files_.TakeError();
    const bool refusedHere = std::exchange(sentNak_, false);
    const std::string why = files_.TakeRefusal();
    const bool login = report.operation == Operation::Login;
    // A failed login is logged even with --quiet: it is what an
    // administrator looks for when someone guesses the pair.
    const bool failedLogin = login && (report.outcome == Outcome::Refused || report.outcome == Outcome::Lost);
    // The seat is taken before the login's line: whoever reads the line
    // finds the peer counted.
    if (login && report.outcome == Outcome::Done) Settle();
    // Before a login, one refusal of a request per connection is logged,
    // the failed logins a connection can have, and after a failed send, the
    // operation it ended: a peer that sends thousands of messages does not
    // get thousands of lines.
    if (!login && report.outcome == Outcome::Refused && !settled_ && unsettledRefusals_++ > 0) return;
    if (failedLogin && failedLogins_++ >= kLoggedLoginFailures) return;
    if (link_.SendError() != 0 && reportsAfterFailure_++ > 0) return;
    std::string result = OutcomeName(report.outcome);
    if (report.outcome == Outcome::Refused) result += ":" + Refusal(report, refusedHere, why);
    else if (!cause.empty() && report.outcome != Outcome::Done) peer::Note(cause);
    // A login has no path: its line tells the protocol the connection speaks
    // from now on. A peer's control characters never break a line.
    const std::string path = login ? (protocol_.Agreed().secure ? "secure" : protocol_.FastMode() ? "fast" : "plain")
                                   : Printable(report.path);
    // A listing that did not go out whole has no count worth showing.
    const bool counted = report.operation != Operation::List || report.outcome == Outcome::Done;
    Log(OperationName(report), path, counted ? report.bytes : 0, result, failedLogin);
}

void Connection::Drop(const char* why) {
    if (peer_ < 0) return;
    // A transfer cut here ends as lost and leaves no temporary file; an
    // exchange answered and not confirmed, as a wrong pair.
    protocol_.OnConnectionLost();
    // The listening process holds the socket too: the peer hears the end now.
    ::shutdown(peer_, SHUT_RDWR);
    ::close(peer_);
    peer_ = -1;
    link_.SetSocket(-1);
    Log("disconnect", "", 0, why);
}

void Connection::Enforce() {
    if (peer_ < 0) return;
    const Clock::duration since = Clock::now() - (settled_ ? heard_ : connected_);
    if (busy_) Drop("busy");
    else if (!gate_.Refusal().empty()) Drop(gate_.Refusal().c_str());
    else if (link_.EndAsked()) Drop("wrong-pair");
    else if (link_.SendError() != 0) Drop(link_.SendError() == ETIMEDOUT ? "stalled" : "closed");
    else if (!settled_ && since >= std::chrono::milliseconds(kLoginTimeMs)) Drop("no-login");
    else if (settled_ && since >= std::chrono::seconds(o_.idleSeconds)) Drop("idle");
}

template <typename Condition>
void Connection::ServeUntil(Clock::time_point deadline, Condition more) {
    for (int left; peer_ >= 0 && more() && (left = MillisecondsUntil(deadline)) > 0;) {
        const Receipt receipt = ReceiveOnce(protocol_, peer_, std::min(left, kTickMs));
        if (receipt == Receipt::Closed) Drop("closed");
        if (receipt == Receipt::BadFrame) Drop("bad-frame");
        Enforce();
    }
}

int Connection::Leave() {
    // The signal stays remembered, so that a send to a peer that takes no
    // bytes gives up at once rather than at the send limit.
    const Clock::time_point deadline = Clock::now() + kLeaveWait;
    if (peer_ >= 0 && link_.SendError() == 0) {
        // A copy to the peer gets its stop record; a peer that is waiting
        // gets "CUT" and a moment to close first, as from the Windows Server.
        if (protocol_.OperationState() == RequestCopyFrom) {
            protocol_.RequestStop();
            ServeUntil(deadline, [&] { return !protocol_.IsWaiting(); });
        }
        if (peer_ >= 0 && protocol_.IsWaiting() && protocol_.SendCut() == 0)
            ServeUntil(deadline, [] { return true; });
    }
    Drop("closed");
    return kExitDone;
}

int Connection::Run() {
    files_.SetReadOnly(o_.readOnly);
    protocol_.SetRole(Role::Server);
    protocol_.SetLoginRequired(!o_.allowCmdClients);
    protocol_.SetHighestVersion(o_.plain ? 0 : kFastVersion);
    protocol_.SetSecureRequired(o_.requireSecure);
    protocol_.SetResumeAllowed(!o_.noResume);
    protocol_.BuildLoginText(setup_.id, setup_.pw);
    protocol_.SetServerSalt(start_.salt);
    protocol_.SetLoginGate(&gate_);

    peer_ = start_.socket;
    link_.SetSocket(peer_);
    SetReceiveTick(peer_);
    // The answers to blocks in flight are small messages in a row: each
    // leaves at once rather than after the peer's delayed acknowledgement
    // of the one before.
    const int noDelay = 1;
    ::setsockopt(peer_, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    protocol_.OnConnectionStarted();
    while (peer_ >= 0) {
        if (PendingSignal()) return Leave();
        const Receipt receipt = ReceiveOnce(protocol_, peer_);
        if (receipt == Receipt::Data) heard_ = Clock::now();
        if (receipt == Receipt::BadFrame)
            peer::Error(Utf8(texts::kBadFrame.caption) + ": " + Utf8(texts::kBadFrame.text));
        if (receipt == Receipt::Closed) Drop("closed");
        if (receipt == Receipt::BadFrame) Drop("bad-frame");
        Enforce();
    }
    return kExitDone;
}

}  // namespace

int ServeConnection(const Options& options, const Setup& setup, const ConnectionStart& start) {
    return Connection(options, setup, start).Run();
}

}  // namespace quorbel::peer
