// The Client's connection: connect, log in, await each operation to its
// end, tell how it ended, and leave the peer in order.
#include "linux/peer/client.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "core/base/catalogue.h"
#include "core/base/path_rules.h"
#include "core/panes/row_rules.h"
#include "linux/host/net.h"
#include "linux/peer/display.h"
#include "linux/peer/exit_codes.h"
#include "linux/peer/messages.h"
#include "linux/peer/peer.h"
#include "linux/peer/secure_peers.h"

namespace quorbel::peer {

namespace {

constexpr auto kStopWait = std::chrono::seconds(5);
// A Client that ends its connection reads what the peer still sends (the
// blocks it had in flight before it read this side's last word) until the
// peer closes, at most this long, so that the peer reads that word rather
// than a reset.
constexpr int kCloseLingerMs = 2000;
constexpr auto kServedListingLimit = std::chrono::seconds(30);
// A plain peer takes one message per read and answers neither an end
// record nor a refusal, so nothing it sends tells that it has read one: the
// next request leaves only after this pause, so that the two never arrive
// in one read, where the second would be lost.
constexpr auto kPlainEndRecordGap = std::chrono::milliseconds(kPlainGapMs);

}  // namespace

int Client::Run() {
    if (!PrepareSetup(o_, setup_)) return kExitUsage;
    link_ = std::make_unique<posix::PosixLink>(setup_.codec);
    files_ = std::make_unique<posix::PosixFiles>(setup_.codec, setup_.drives, *this);
    files_->SetServesFiles(false);
    protocol_ = std::make_unique<Protocol>(*link_, *this, *files_, crypto_);
    protocol_->SetRole(Role::Client);
    protocol_->SetHighestVersion(o_.plain ? 0 : kFastVersion);
    protocol_->SetResumeAllowed(!o_.noResume);
    protocol_->BuildLoginText(setup_.id, setup_.pw);
    int code;
    if (o_.recursive) code = CopyTree();
    else if (o_.verb == "ls") code = List();
    else if (o_.verb == "get") code = Get();
    else if (o_.verb == "put") code = Put();
    else code = MakeFolder();
    Disconnect();
    return code;
}

// ---- The seat ------------------------------------------------------------------

void Client::SendFailed(const SendFailure& failure) { Box(texts::kSendFailed.caption, SendFailureText(failure)); }

void Client::SourceTooLarge(uint64_t limit) { Box(texts::kSendTooLarge.caption, SourceTooLargeText(limit)); }

void Client::Box(u16view caption, u16view text) {
    // The answer that a full listing no longer gets fails on purpose.
    if (link_->BoxDue() && !full_) Error(BoxLine(caption, text));
}

void Client::Note(const std::string& line) { peer::Note(line); }

void Client::AddRemoteRow(const PaneRow& row, int32_t) {
    ++listedRows_;
    if (protocol_->Agreed().exactListing || listedRows_ <= kMaxListedRows) {
        if (sink_) sink_(row);
        // Beyond the table's rows an exact listing is only counted here.
        else if (rows_.size() < kMaxListedRows) rows_.push_back(row);
        return;
    }
    // A record past the table's end: the peer floods. It gets no answer.
    full_ = true;
    why_ = "the peer sent more than the " + std::to_string(kMaxListedRows) + " records a listing holds";
    link_->SetSocket(-1);
}

void Client::OperationEnded(const OperationReport& report) {
    // The last message of a served listing or of a sent file is this side's,
    // as is the refusal that ends a failed or stopped operation.
    if (!protocol_->FastMode() && (!report.ours || report.operation == Operation::Send ||
                                   report.outcome == Outcome::Failed || report.outcome == Outcome::Stopped))
        unansweredAt_ = Clock::now();
    if (!report.ours) {
        servedListing_ = servedListing_ || report.operation == Operation::List;
        return;
    }
    listed_ = listed_ || (report.operation == Operation::List && report.outcome == Outcome::Done);
    if (report.operation == awaitedUntil_ || (report.operation == awaitedFirst_ && report.outcome != Outcome::Done) ||
        inWindow_) {
        // The cause is taken now: a queued copy may end in the same receive.
        Ended ended{report, files_->TakeError()};
        if (report_) laterReports_.push_back(std::move(ended));
        else report_ = std::move(ended);
    }
}

// ---- The connection ---------------------------------------------------------------

bool Client::RemotePath(const std::string& text, std::size_t maxBytes, u16& path) {
    std::optional<u16> wide = posix::FromUtf8(text);
    if (!wide || !posix::HasDriveForm(*wide)) {
        Error("'" + text + "' is not a path of the peer such as 'C:\\folder'");
        return false;
    }
    while (wide->size() > 3 && wide->back() == u'\\') wide->pop_back();
    std::optional<std::string> ansi = setup_.codec.Encode(*wide);
    if (!ansi || ansi->size() > maxBytes) {
        Error("'" + text + "' " +
              (ansi ? "is too long for the protocol" : "cannot be written in " + setup_.codec.Name()));
        return false;
    }
    path = std::move(*wide);
    return true;
}

int Client::Open() {
    where_ = o_.host + ":" + std::to_string(o_.port);
    if (int code = Connect()) return code;
    protocol_->OnConnectionStarted();
    // --plain is the user's yes to the pair in the clear; without it, a
    // command line asks no question and the answer is no.
    ClientLogin login(*protocol_, memory_, ClientLogin::Policy{o_.cmd, o_.requireSecure, o_.plain});
    // The last answer: its first bytes tell what answered, when no peer did.
    char answer[kMaxPlainMessageBytes];
    ssize_t received = -1;
    // A signal ends a pause, and the run with it.
    auto pause = [](uint32_t milliseconds) {
        posix::WaitFor(-1, 0, int(milliseconds));
        return PendingSignal() ? SignalExitCode(PendingSignal()) : kExitDone;
    };
    for (LoginNext next = login.Start();;) {
        switch (next.step) {
            case LoginStep::Receive: {
                if (int code = pause(next.pauseMs)) return code;
                const bool ready = posix::WaitFor(fd_, POLLIN, next.waitMs) == posix::Ready::Yes;
                if (PendingSignal()) return SignalExitCode(PendingSignal());
                received = ready ? ::recv(fd_, answer, sizeof answer, 0) : -1;
                // A reset once bytes or the end were there is the Server closing, as a busy one does.
                if (ready && received < 0) received = 0;
                Detail(ready ? "the login's answer: " + std::to_string(std::max<ssize_t>(received, 0)) + " bytes"
                             : "no answer to the login in " + std::to_string(next.waitMs) + " ms");
                next = login.Answer(answer, int32_t(received));
                break;
            }
            case LoginStep::Ask:
                next = login.Reply(false);
                break;
            case LoginStep::Reconnect:
                Note(where_ + " offers no secure session: logging in the plain way");
                ::close(fd_);
                fd_ = -1;
                link_->SetSocket(-1);
                if (int code = pause(next.pauseMs)) return code;
                if (int code = Connect()) return code;
                next = login.Reconnected();
                break;
            case LoginStep::Done:
                return LoginEnded(next, answer, long(received));
        }
    }
}

int Client::Connect() {
    Detail("connecting to " + where_);
    std::string why;
    fd_ = posix::Connect(o_.host, o_.port, why);
    if (PendingSignal()) return SignalExitCode(PendingSignal());
    if (fd_ < 0) {
        Error("cannot connect to " + where_ + ": " + why);
        return kExitConnection;
    }
    link_->SetSocket(fd_);
    memory_.Reached(fd_);
    SetReceiveTick(fd_);
    // A Server that stops reading ends a send as silence ends a wait.
    const timeval sendWait{o_.timeout, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &sendWait, sizeof sendWait);
    // A fast-mode get ends each file with two small messages in a row (the
    // answer to its end record, the next request): the second leaves at
    // once rather than after the peer's delayed acknowledgement of the first.
    const int noDelay = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    Detail("connected to " + where_ + (o_.cmd ? "" : ", sending the login as '" + o_.id + "'"));
    return kExitDone;
}

int Client::LoginEnded(const LoginNext& next, const char* answer, long received) {
    switch (next.result) {
        case LoginResult::Accepted:
            Note("connected to " + where_ + ", logged in, " +
                 (protocol_->Secure() ? "secure session" : protocol_->FastMode() ? "fast mode" : "plain protocol"));
            return kExitDone;
        case LoginResult::Skipped:
            Note("connected to " + where_ + " without login, plain protocol");
            return kExitDone;
        case LoginResult::Rejected:
            Error("login refused by " + where_);
            return kExitLogin;
        case LoginResult::PeerClosed:
            Error("the peer at " + where_ + " closed the connection at the login (it may be serving another Client)");
            return kExitConnection;
        case LoginResult::NoAnswer:
            Error("no answer to the login from " + where_);
            return kExitConnection;
        case LoginResult::NotAPeer:
            // A web server's error page, say: its first bytes tell what answered.
            Error(where_ + " answered the login with '" +
                  Printable(setup_.codec.FromAnsi(std::string_view(answer, std::size_t(std::clamp(received, 0L, 40L))))) +
                  "': not a Quorbel peer");
            return kExitConnection;
        case LoginResult::SendFailed:
            return RequestFailed(next.error);
        case LoginResult::SecureRequired:
            Error(where_ + " offers no secure session and --require-secure was given");
            return kExitLogin;
        case LoginResult::Declined:
            Error(where_ + " no longer offers a secure session (it did before): give --plain to " +
                  "log in there the plain way, the pair and the files in the clear");
            return kExitLogin;
    }
    return kExitLogin;
}

int Client::RequestFailed(int error) {
    Error("the connection to " + where_ + " failed: " +
          (error > 0 ? std::strerror(error) : error == kNotSecure ? "no secure session" : "request too long"));
    return kExitConnection;
}

void Client::Disconnect() {
    if (fd_ < 0) return;
    // A transfer cut here leaves no temporary file: the core removes it,
    // but for the partial file of a copy that can resume.
    protocol_->OnConnectionLost();
    ::shutdown(fd_, SHUT_WR);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kCloseLingerMs);
    char dropped[16 * 1024];
    while (posix::WaitFor(fd_, POLLIN, MillisecondsUntil(deadline)) == posix::Ready::Yes &&
           ::recv(fd_, dropped, sizeof dropped, MSG_DONTWAIT) > 0) {
    }
    ::close(fd_);
    fd_ = -1;
    link_->SetSocket(-1);
}

void Client::Expect(Operation first, Operation until) {
    awaitedFirst_ = first;
    awaitedUntil_ = until;
    report_.reset();
    if (!laterReports_.empty() && (laterReports_.front().operation == until || inWindow_)) {
        report_ = laterReports_.front();
        laterReports_.pop_front();
    }
}

Client::Ended Client::Await(Progress* progress) {
    const bool copy = awaitedFirst_ == Operation::Send || awaitedFirst_ == Operation::Receive;
    bool stopping = false, resumed = false;
    const std::chrono::milliseconds timeout(std::chrono::seconds(o_.timeout));
    const Clock::time_point start = Clock::now();
    Clock::time_point stopDeadline, quietUntil = start + timeout;
    // What a message moves: a row, bytes, a block's answer, the state.
    auto motion = [&] {
        return std::make_tuple(listedRows_, protocol_->TransferredBytes(), protocol_->Step(),
                               protocol_->OperationState());
    };
    auto seen = motion();
    while (!report_ && fd_ >= 0) {
        if (const int signal = PendingSignal()) {
            ForgetSignal();
            if (interrupted_ == 0) interrupted_ = signal;
            if (progress) progress->Interrupt();
            // The first signal stops a copy in order; anything else ends at once.
            if (copy && !stopping) {
                protocol_->RequestStop();
                stopping = true;
                stopDeadline = Clock::now() + kStopWait;
            } else {
                Disconnect();
            }
            continue;
        }
        if (stopping && Clock::now() >= stopDeadline) {
            Disconnect();
            continue;
        }
        // Neither a silent peer nor one that trickles a listing holds this side.
        const auto listed = timeout * int64_t(listedRows_) / kListingRecordsPerTimeout;
        if (Clock::now() >= quietUntil ||
            (awaitedUntil_ == Operation::List && Clock::now() >= start + timeout + listed)) {
            why_ = Clock::now() >= quietUntil
                       ? "no message from the peer for " + std::to_string(o_.timeout) + " s"
                       : "the listing took longer than " + std::to_string(o_.timeout) + " s and " +
                             std::to_string(o_.timeout * 1000 / kListingRecordsPerTimeout) + " ms per record";
            Disconnect();
            continue;
        }
        // Before a wait: the end record may have left while the copy before ended.
        if (queueNext_ && !stopping && (protocol_->CanQueueCopyTo() || protocol_->CanQueueCopyFrom()))
            nextQueued_ = std::exchange(queueNext_, nullptr)();
        if (fill_ && !stopping) {
            const Cork cork(fd_, protocol_->FastMode());
            fill_();
        }
        const Receipt receipt = ReceiveOnce(*protocol_, fd_);
        if (copy && !resumed && protocol_->ResumedAt() > 0) {
            resumed = true;
            Note("resuming at " + std::to_string(protocol_->ResumedAt()) + " bytes, kept from a copy cut before");
        }
        // A resumed copy counts what it kept.
        if (progress) progress->Update(protocol_->ResumedAt() + protocol_->TransferredBytes(), protocol_->CopySize());
        if (receipt == Receipt::BadFrame)
            Error(Utf8(texts::kBadFrame.caption) + ": " + Utf8(texts::kBadFrame.text));
        if (receipt == Receipt::Closed || receipt == Receipt::BadFrame || full_) Disconnect();
        if (motion() != seen) {
            seen = motion();
            quietUntil = Clock::now() + timeout;
        }
    }
    Ended report;
    report.operation = awaitedFirst_;
    report.outcome = interrupted_ ? Outcome::Stopped : Outcome::Lost;
    if (report_ && !(interrupted_ && report_->outcome == Outcome::Lost)) report = std::move(*report_);
    report_.reset();
    return report;
}

// The exit code of an ended operation: 0 to go on, else what the run ends
// with; `status` keeps the first failure of a run that goes on.
int Client::CopyOne(Progress& progress, const std::string& label, uint64_t size, Operation operation,
                    const std::function<int()>& start, const std::string& what, int& status, const u16& peerPath,
                    OperationReport* ended) {
    if (const int signal = SignalToEnd()) return SignalExitCode(signal);
    progress.Begin(label, size);
    Expect(operation, operation);
    SpaceFromUnanswered();
    if (std::exchange(nextQueued_, false)) {
        // Its request left before the last copy's end was answered.
    } else if (int error = start()) {
        return RequestFailed(error);
    }
    const Ended report = Await(&progress);
    queueNext_ = nullptr;
    progress.End(report.bytes, report.outcome == Outcome::Done);
    if (ended) *ended = report;
    return Finish(report, what, status, &peerPath);
}

Client::Presence Client::Look(const u16& path) {
    const u16 folder = ParentPath(path);
    const u16view name = FileNameOf(path);
    bool found = false;
    sink_ = [&](const PaneRow& row) {
        found = found || (!IsDriveImage(row.image) && CompareNoCase(row.name, name) == 0);
    };
    Expect(Operation::List, Operation::List);
    SpaceFromUnanswered();
    const Ended report = folder.empty() || protocol_->StartListing(folder) != 0 ? Ended{} : Await(nullptr);
    sink_ = nullptr;
    if (report.outcome != Outcome::Done || full_) return Presence::Unknown;
    AfterListing();
    if (found) return Presence::Present;
    // Every folder but a drive's own lists "." and "..".
    if (listedRows_ == 0 && !IsDriveRoot(folder)) return Presence::NoFolder;
    // A plain listing holds its table's rows: the name may be past them.
    return !protocol_->Agreed().exactListing && listedRows_ >= kMaxListedRows ? Presence::Unknown : Presence::Absent;
}

std::string Client::RefusalText(const std::string& what, const u16* peerPath) {
    // A Windows name never holds * or ?: such a path was meant as a pattern.
    if (what.find_first_of("*?") != std::string::npos) return what + ": wildcards are not expanded on the peer";
    // The refusal itself says no why; a listing of the folder tells whether
    // the peer has what was asked for (a file sent there never is yet),
    // unless the next copy is already under way.
    const bool sent = awaitedFirst_ == Operation::Send;
    switch (peerPath && !nextQueued_ ? Look(*peerPath) : Presence::Unknown) {
        case Presence::NoFolder:
            return (sent ? Utf8(ParentPath(*peerPath)) : what) + ": no such file or folder on the peer";
        case Presence::Absent:
            if (!sent) return what + ": no such file or folder on the peer";
            [[fallthrough]];
        case Presence::Present:
            return what + ": the peer refused (no access, in use, or a folder)";
        default:
            return what + ": the peer refused (no such file or folder, no access, in use, or a folder)";
    }
}

int Client::Finish(const Ended& report, const std::string& what, int& status, const u16* peerPath) {
    const std::string& cause = report.cause;
    switch (report.outcome) {
        case Outcome::Done:
            return kExitDone;
        case Outcome::Refused:
            Error(RefusalText(what, peerPath));
            if (status == kExitDone) status = kExitRefused;
            return kExitDone;
        case Outcome::Failed:
            if (!cause.empty()) {
                Error(cause);
                if (status == kExitDone) status = kExitLocal;
                return kExitDone;
            }
            Error(what + ": the exchange with the peer failed");
            return kExitConnection;
        case Outcome::Kept:
            // A plain peer sends an end record alone also for a source it lost.
            Error(what + ": the peer sent the end of the file without any data; " +
                  (local_ == "-" ? "nothing was written to standard output" : "'" + local_ + "' was kept as it was"));
            if (status == kExitDone) status = kExitRefused;
            return kExitDone;
        case Outcome::Stopped:
            Error(what + (report.operation == Operation::Send || report.operation == Operation::Receive
                              ? ": copy stopped, nothing of it kept"
                              : ": interrupted"));
            return interrupted_ ? SignalExitCode(interrupted_) : kExitConnection;
        default:
            Error(what + ": " + (why_.empty() ? "the connection to " + where_ + " ended" : why_));
            return kExitConnection;
    }
}

int Client::ListInto(const u16& folder, const std::string& what, int& status) {
    Expect(Operation::List, Operation::List);
    SpaceFromUnanswered();
    if (int error = protocol_->StartListing(folder)) return RequestFailed(error);
    const Ended report = Await(nullptr);
    // A flood keeps the rows the table holds: a listing cut short, not lost.
    return full_ ? kExitDone : Finish(report, what, status);
}

void Client::SpaceFromUnanswered() {
    if (!unansweredAt_) return;
    // A signal ends the pause early, and is seen by the wait that follows.
    ::poll(nullptr, 0, MillisecondsUntil(*unansweredAt_ + kPlainEndRecordGap));
    unansweredAt_.reset();
}

// A Server asks for this side's listing once a connection, after the first
// listing it served to the end, and whenever its load lets it: that request
// is awaited as the event it is, since a request of this side would cross
// it. Its absence ends the wait only as a silent peer ends an operation.
int Client::Linger() {
    lingered_ = true;
    if (!listed_) return kExitDone;
    const Clock::time_point quiet = Clock::now() + std::chrono::seconds(o_.timeout);
    std::optional<Clock::time_point> limit;  // from the request on
    while (fd_ >= 0 && !servedListing_ && !link_->CutAsked()) {
        if (const int signal = PendingSignal()) return SignalExitCode(signal);
        if (!limit && !protocol_->IsWaiting()) limit = Clock::now() + kServedListingLimit;
        if (MillisecondsUntil(limit ? *limit : quiet) == 0) break;
        const Receipt receipt = ReceiveOnce(*protocol_, fd_);
        if (receipt == Receipt::Closed || receipt == Receipt::BadFrame) break;
    }
    return kExitDone;
}

int Client::AfterListing() { return lingered_ ? kExitDone : Linger(); }

int RunClient(const Options& options) { return Client(options).Run(); }

}  // namespace quorbel::peer
