// The dispatcher: the operation state, the framing, the sends, the
// operations the user starts, and the answer to every received message by
// the operation state, which hands the message to the part it belongs to.
#include "core/protocol/protocol.h"

#include <cstring>
#include <string>

#include "core/base/path_rules.h"

namespace quorbel {

Protocol::Protocol(PeerLink& link, UserSeat& seat, FileStore& files, Cryptography& cryptography)
    : link_(link), seat_(seat), files_(files), remoteFolder_(kStartFolder),
      frames_(kBlockHeaderBytes + kFastBlockBytes + SecureSession::kTagBytes),
      login_(*this, link, seat, cryptography, channel_), listing_(*this, link, seat, files, cryptography),
      sender_(*this, seat, files, cryptography, figures_), receiver_(*this, files, cryptography, figures_) {}

// ---- Set-up ---------------------------------------------------------------

void Protocol::SetRole(Role role) { role_.store(role); }
Role Protocol::GetRole() const { return role_.load(); }
void Protocol::SetHighestVersion(int version) { login_.SetHighestVersion(version); }
void Protocol::SetLoginRequired(bool required) { login_.SetRequired(required); }
void Protocol::SetMonitorRecording(int32_t value) { monitorRecording_.store(value); }
void Protocol::BuildLoginText(u16view id, u16view pw) { login_.SetPair(id, pw); }
void Protocol::SetSecureRequired(bool required) { login_.SetSecureRequired(required); }
void Protocol::SetServerSalt(std::string salt) { login_.SetSalt(std::move(salt)); }
void Protocol::SetLoginGate(LoginGate* gate) { login_.SetGate(gate); }
int Protocol::HighestVersion() const { return login_.HighestVersion(); }
bool Protocol::FastMode() const { return Agreed().framed; }
int Protocol::FastVersion() const { return login_.FastVersion(); }
bool Protocol::Secure() const { return channel_.Sealed(); }

void Protocol::OnConnectionStarted() {
    OnConnectionLost();
    // A refusal note on this connection must not show where an earlier
    // peer's listing stood.
    listing_.Clear();
}

void Protocol::OnConnectionLost() {
    sender_.Reset();
    receiver_.Release(true);
    receiver_.ForgetStrays();
    // A stop asked for or sent belonged to the transfer just cut; left
    // standing it would cut the next, unrelated one.
    figures_.stop.store(StopState::None);
    autoListed_ = false;
    requests_.ForgetHeld();
    frames_.Reset();
    streamBroken_ = false;
    channel_.End();
    const bool wasFast = FastMode();
    login_.Reset();
    if (OperationState() != Waiting) End(Outcome::Lost, true);
    else if (wasFast) seat_.StateChanged();
}

// ---- The Client's login ----------------------------------------------------

int Protocol::SendLoginRequest(int version) { return login_.SendRequest(version); }
bool Protocol::SecureOffer() const { return login_.SecureOffer(); }
LoginAnswer Protocol::TakeLoginAnswer(const char* data, int32_t received) { return login_.TakeAnswer(data, received); }

// ---- What the front end shows --------------------------------------------

int32_t Protocol::OperationState() const { return state_.load(); }
int32_t Protocol::Step() const { return figures_.step.load(); }
std::size_t Protocol::PeerListingEntries() const {
    return Agreed().exactListing ? kMaxTreeFolderEntries : std::size_t(kMaxDirRecords);
}

uint64_t Protocol::MaxCopyBytes() const { return Agreed().framed ? kMaxFastCopyBytes : kMaxPlainCopyBytes; }
Outcome Protocol::LastOutcome() const { return lastOutcome_.load(); }
uint64_t Protocol::TransferredBytes() const { return figures_.transferred.load(); }
uint64_t Protocol::ResumedAt() const { return figures_.resumedAt.load(); }
uint64_t Protocol::CopySize() const { return figures_.size.load(); }

void Protocol::SetRemoteFolderPath(u16view path) {
    std::lock_guard<std::mutex> guard(lock_);
    remoteFolder_.assign(path);
}

u16 Protocol::RemoteFolderPath() const {
    std::lock_guard<std::mutex> guard(lock_);
    return remoteFolder_;
}

void Protocol::CopySendRing(char out[kRingSlots][kRingSlotBytes]) const {
    std::lock_guard<std::mutex> guard(lock_);
    sentRing_.CopyTo(out);
}

void Protocol::CopyReceiveRing(char out[kRingSlots][kRingSlotBytes]) const {
    std::lock_guard<std::mutex> guard(lock_);
    receivedRing_.CopyTo(out);
}

void Protocol::CopyDirectoryTable(char out[kDirSlots][kDirSlotBytes]) const { listing_.CopyTable(out); }

// ---- State changes and reports ------------------------------------------

void Protocol::SetState(int32_t value, bool refresh) {
    state_.store(value);
    if (refresh) seat_.StateChanged();
}

void Protocol::BeginOperation(Operation operation, bool ours, u16view path) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        operation_ = operation;
        operationOurs_ = ours;
        operationPath_.assign(path);
    }
    listing_.BeginOperation();
    figures_.Begin();
}

void Protocol::Report(Operation operation, bool ours, u16view path, uint64_t bytes, Outcome outcome) {
    if (ours) lastOutcome_.store(outcome);
    OperationReport report;
    report.operation = operation;
    report.ours = ours;
    report.path.assign(path);
    report.bytes = bytes;
    report.outcome = outcome;
    seat_.OperationEnded(report);
}

void Protocol::End(Outcome outcome, bool refresh) {
    // A listing served in pages ends its search with the operation.
    listing_.EndSearch();
    Operation operation;
    bool ours;
    u16 path;
    {
        std::lock_guard<std::mutex> guard(lock_);
        operation = operation_;
        ours = operationOurs_;
        path = operationPath_;
        operation_ = Operation::Unknown;
    }
    const uint64_t bytes = operation == Operation::List ? listing_.Rows(ours) : figures_.transferred.load();
    std::optional<QueuedCopy> next = requests_.TakeQueued();
    std::vector<ServedAhead> served;
    if (outcome == Outcome::Lost)
        while (std::optional<ServedAhead> ahead = requests_.TakeSentAhead()) served.push_back(std::move(*ahead));
    // A queued copy begins where the peer's next answers are its own: one
    // to the peer (or a folder made there) once the end record was answered
    // or the copy refused, one from the peer after any end but the
    // connection's. Otherwise it ends with the current one, as does every
    // copy queued behind it, and an answer that still comes is refused.
    const bool fromPeer = next && next->way == Way::From && !next->folder;
    const bool begins = next && (fromPeer ? outcome != Outcome::Lost
                                          : outcome == Outcome::Done || outcome == Outcome::Refused);
    if (begins && fromPeer) {
        BeginCopyFrom(next->source, next->destination);
        SetState(CallCopyFrom, refresh);
    } else if (requests_.HasSentAhead()) {
        BeginServedAhead();
    } else if (begins && next->folder) {
        folderRelists_ = false;
        BeginOperation(Operation::MakeFolder, true, next->destination);
        SetState(FolderTO, refresh);
    } else if (begins) {
        BeginCopyTo(next->source, next->destination);
        // The request's answer comes before its block's.
        if (next->sentAhead) sender_.AwaitAnswers(next->size > 0 ? 2 : 1, next->size);
        SetState(CallCopyTO, refresh);
    } else {
        SetState(Waiting, refresh);
    }
    Report(operation, ours, path, bytes, outcome);
    for (const ServedAhead& ahead : served) Report(Operation::Send, false, ahead.path, ahead.size, outcome);
    if (next && !begins) {
        do {
            const Operation queued = next->folder ? Operation::MakeFolder
                                     : next->way == Way::From ? Operation::Receive
                                                              : Operation::Send;
            Report(queued, true, next->way == Way::From ? next->source : next->destination, 0, outcome);
        } while ((next = requests_.TakeQueued()));
    }
}

void Protocol::Refuse(Outcome outcome, bool notice) {
    receiver_.ExpectStrays(OperationState());
    SendNak(notice);
    Abandon(outcome);
    // What followed a request held meanwhile may be what was just refused:
    // that request is refused too, and what still comes of it dropped. A
    // request refused in its own turn leaves those behind it to theirs.
    if (requests_.HasHeld() && outcome == Outcome::Failed) RefuseHeld();
}

void Protocol::RefuseHeld() {
    const std::string request = *requests_.TakeHeld();
    const Kind kind = Classify(request.data(), request.size());
    const std::size_t text = BoundedLength(request.data(), request.size());
    BeginOperation(WireRow(kind).serves, false, link_.Codec().FromAnsi(std::string_view(request.data() + 2, text - 2)));
    if (kind == Kind::CopyTo) receiver_.ExpectStrays(Way::To, false);
    SendNak(false);
    End(Outcome::Refused, false);
}

void Protocol::Abandon(Outcome outcome) {
    sender_.Abandon();
    receiver_.Release(false);
    ForgetSentStop();
    End(outcome, false);
}

void Protocol::ForgetSentStop() {
    // A stop record that no ACK will answer now: the transfer is over.
    StopState sent = StopState::Sent;
    figures_.stop.compare_exchange_strong(sent, StopState::None);
}

void Protocol::StopUsed() {
    if (!requests_.HasQueued()) figures_.stop.store(StopState::None);
}

// ---- Sending ------------------------------------------------------------------

int Protocol::SendMessage(const char* bytes, std::size_t length, bool recorded) {
    int error;
    if (FastMode()) {
        std::string frame(kFrameHeaderBytes + length + SecureSession::kTagBytes, '\0');
        if (length > 0) std::memcpy(frame.data() + kFrameHeaderBytes, bytes, length);
        error = SendInFrame(frame.data(), length);
    } else {
        error = link_.SendBytes(bytes, length);
    }
    if (recorded && monitorRecording_.load() == 1) {
        std::lock_guard<std::mutex> guard(lock_);
        sentRing_.Record(bytes, length);
    }
    return error;
}

int Protocol::SendInFrame(char* frame, std::size_t length) { return channel_.Send(link_, frame, length); }

void Protocol::ReportSendFailure(int error, const char* bytes, std::size_t length) {
    SendFailure failure;
    failure.error = error;
    failure.role = GetRole();
    failure.message = link_.Codec().FromAnsi(std::string_view(bytes, BoundedLength(bytes, length)));
    seat_.SendFailed(failure);
}

int Protocol::SendFrame(const char* bytes, std::size_t length) {
    const int error = SendMessage(bytes, length, true);
    if (error != 0) ReportSendFailure(error, bytes, length);
    return error;
}

int Protocol::SendWord(Kind kind) { return SendFrame(Word(kind).data(), Word(kind).size()); }

void Protocol::SendNak(bool notice) {
    const std::string_view nak = Word(Kind::Nak);
    const int error = SendMessage(nak.data(), nak.size(), true);
    // A stop the user asked for is no refusal worth a note.
    if (notice) seat_.PeerRefused(listing_.Note());
    if (error != 0) ReportSendFailure(error, nak.data(), nak.size());
}

// ---- Operations started by the user -----------------------------------------

int Protocol::SendRequest(Kind kind, const std::string& path) {
    const std::string message = WordText(kind) + path;
    return SendFrame(message.data(), message.size());
}

int Protocol::StartRequest(int32_t state, Kind kind, const std::string& path) {
    SetState(state, true);
    const int error = SendRequest(kind, path);
    // A request that did not leave leaves nothing waiting for its answer.
    if (error != 0) End(Outcome::Failed, true);
    return error;
}

int Protocol::BeginListing() {
    const u16 folder = RemoteFolderPath();
    const std::string ansi = link_.Codec().ToAnsi(folder);
    if (ansi.size() > kMaxPath) return kRequestTooLong;
    seat_.ClearRemoteRows();
    BeginOperation(Operation::List, true, folder);
    listing_.Asked(false);
    return StartRequest(CallDIR, Kind::List, ansi);
}

int Protocol::StartListing(u16view folder) {
    if (folder.size() > kMaxPath || link_.Codec().ToAnsi(folder).size() > kMaxPath) return kRequestTooLong;
    SetRemoteFolderPath(folder);
    return BeginListing();
}

int Protocol::StartListing() { return StartListing(RemoteFolderPath()); }

int Protocol::StartTreeListing(u16view folder, bool hashes) {
    const std::string ansi = link_.Codec().ToAnsi(folder);
    if (!Agreed().treeListing || folder.size() > kMaxPath || ansi.size() > kMaxPath) return kRequestTooLong;
    BeginOperation(Operation::List, true, folder);
    listing_.Asked(hashes);
    return StartRequest(CallDIR, hashes ? Kind::HashedTreeList : Kind::TreeList, ansi);
}

bool Protocol::CopyToFits(u16view localSource, std::string_view destination) const {
    return !localSource.empty() && localSource.size() <= kMaxPath && destination.size() <= kMaxRequestPath;
}

void Protocol::BeginCopyTo(u16view localSource, u16view destinationOnPeer) {
    sender_.Begin(localSource);
    BeginOperation(Operation::Send, true, destinationOnPeer);
}

int Protocol::StartCopyTo(u16view localSource, u16view destinationOnPeer) {
    const std::string dest = link_.Codec().ToAnsi(destinationOnPeer);
    if (!CopyToFits(localSource, dest)) return kRequestTooLong;
    BeginCopyTo(localSource, destinationOnPeer);
    return StartRequest(CallCopyTO, Kind::CopyTo, dest);
}

std::size_t Protocol::RequestRoom() const { return Agreed().requestWindow ? kRequestWindowFiles : 1; }

bool Protocol::CanQueueBehind(Way way) const {
    if (requests_.Queued() >= RequestRoom()) return false;
    if (requests_.HasQueued()) {
        // The peer takes the requests in turn: one to it goes behind a folder
        // or a file sent whole, within the window's bytes; one from it
        // behind another from it.
        const QueuedCopy& last = requests_.LastQueued();
        if (way == Way::From) return last.way == Way::From && !last.folder;
        return (last.folder || (last.way == Way::To && last.sentAhead)) &&
               requests_.QueuedBytes() < kRequestWindowBytes;
    }
    const int32_t state = OperationState();
    if (way == Way::From) return state == CallCopyFrom;
    return (state == CallCopyTO && sender_.EndSent()) || (state == FolderTO && !folderRelists_);
}

bool Protocol::CanQueueCopyTo() const { return Agreed().requestBeforeEndAnswer && CanQueueBehind(Way::To); }

int Protocol::QueueCopyTo(u16view localSource, u16view destinationOnPeer) {
    const std::string dest = link_.Codec().ToAnsi(destinationOnPeer);
    if (!CanQueueCopyTo() || !CopyToFits(localSource, dest)) return kRequestTooLong;
    // A request that did not leave queues nothing; the connection is ending.
    const int error = SendRequest(Kind::CopyTo, dest);
    if (error != 0) return error;
    QueuedCopy copy{u16(localSource), u16(destinationOnPeer), Way::To};
    copy.sentAhead = Agreed().smallFilesWhole && sender_.SendWhole(localSource, Way::To, copy.size);
    requests_.Queue(std::move(copy));
    return 0;
}

bool Protocol::CanQueueMakeFolder() const {
    return Agreed().folderAnswered && Agreed().requestWindow && CanQueueBehind(Way::To);
}

int Protocol::QueueMakeFolder(u16view pathOnPeer) {
    const std::string path = link_.Codec().ToAnsi(pathOnPeer);
    if (!CanQueueMakeFolder() || pathOnPeer.size() > kMaxPath || path.size() > kMaxPath) return kRequestTooLong;
    const int error = SendRequest(Kind::MakeFolder, path);
    if (error != 0) return error;
    QueuedCopy folder{u16(), u16(pathOnPeer), Way::To};
    folder.folder = true;
    requests_.Queue(std::move(folder));
    return 0;
}

bool Protocol::CopyFromFits(std::string_view source, u16view localDestination) const {
    return source.size() <= kMaxRequestPath && !localDestination.empty() && localDestination.size() <= kMaxPath;
}

void Protocol::BeginCopyFrom(u16view sourceOnPeer, u16view localDestination) {
    receiver_.Begin(localDestination);
    figures_.step.store(0);
    BeginOperation(Operation::Receive, true, sourceOnPeer);
}

int Protocol::StartCopyFrom(u16view sourceOnPeer, u16view localDestination) {
    const std::string source = link_.Codec().ToAnsi(sourceOnPeer);
    if (!CopyFromFits(source, localDestination)) return kRequestTooLong;
    BeginCopyFrom(sourceOnPeer, localDestination);
    return StartRequest(CallCopyFrom, Kind::CopyFrom, source);
}

bool Protocol::CanQueueCopyFrom() const { return Agreed().heldRequests && CanQueueBehind(Way::From); }

int Protocol::QueueCopyFrom(u16view sourceOnPeer, u16view localDestination) {
    const std::string source = link_.Codec().ToAnsi(sourceOnPeer);
    if (!CanQueueCopyFrom() || !CopyFromFits(source, localDestination)) return kRequestTooLong;
    const int error = SendRequest(Kind::CopyFrom, source);
    if (error == 0) requests_.Queue(QueuedCopy{u16(sourceOnPeer), u16(localDestination), Way::From});
    return error;
}

int Protocol::StartCreateFolder(u16view pathOnPeer, bool relist) {
    const std::string path = link_.Codec().ToAnsi(pathOnPeer);
    if (pathOnPeer.size() > kMaxPath || path.size() > kMaxPath) return kRequestTooLong;
    // Without its listing the answer alone tells: only a peer that answers so.
    folderRelists_ = relist || !Agreed().folderAnswered;
    if (folderRelists_) seat_.ClearRemoteRows();
    BeginOperation(Operation::MakeFolder, true, pathOnPeer);
    return StartRequest(FolderTO, Kind::MakeFolder, path);
}

int Protocol::SendCut() { return SendWord(Kind::Cut); }

void Protocol::RequestStop() { figures_.stop.store(StopState::Asked); }
void Protocol::ClearStop() { figures_.stop.store(StopState::None); }
void Protocol::SetResumeAllowed(bool allowed) { figures_.resumeAllowed.store(allowed); }

// ---- Requests taken ahead of their turn -------------------------------------------

void Protocol::EndRecordSent() { ServeAhead(); }

void Protocol::ServeAhead() {
    if (!Agreed().smallFilesWhole || OperationState() != RequestCopyFrom || !sender_.EndSent()) return;
    while (requests_.SentAheadCount() < RequestRoom() && requests_.SentAheadBytes() < kRequestWindowBytes) {
        const std::optional<std::string_view> ansi = requests_.HeldFileRequest();
        if (!ansi) return;
        // What would refuse it is left to its turn, as is a larger file.
        const u16 path = link_.Codec().FromAnsi(*ansi);
        uint64_t size = 0;
        if (!login_.Serving() || !Serves(Kind::CopyFrom, *ansi, path) || !sender_.SendWhole(path, Way::From, size))
            return;
        requests_.SentAhead(path, size);
    }
}

void Protocol::BeginServedAhead() {
    const ServedAhead ahead = *requests_.TakeSentAhead();
    sender_.Begin(ahead.path);
    BeginOperation(Operation::Send, false, ahead.path);
    sender_.AwaitAnswers(ahead.size > 0 ? 1 : 0, ahead.size);
    SetState(RequestCopyFrom, true);
    ServeAhead();
}

void Protocol::TakeRefusalOfBlocks() {
    if (!sender_.OwesStopRecord(OperationState())) return;
    // The receiver drops all up to the stop record; a file sent ahead goes
    // again after it, in its turn.
    requests_.HoldAgain();
    SendWord(Kind::StopFrom);
}

// ---- Receiving ------------------------------------------------------------------

char* Protocol::ReceiveSpace(Origin origin) {
    return FastMode() && origin == Origin::Peer ? frames_.Space() : plainBuffer_;
}

std::size_t Protocol::ReceiveSpaceBytes(Origin origin) {
    return FastMode() && origin == Origin::Peer ? frames_.SpaceBytes() : std::size_t(kMaxPlainMessageBytes);
}

bool Protocol::Received(std::size_t n, Origin origin) {
    if (!(FastMode() && origin == Origin::Peer)) {
        Dispatch(plainBuffer_, n < std::size_t(kMaxPlainMessageBytes) ? n : kMaxPlainMessageBytes, origin);
        return true;
    }
    frames_.Commit(n);
    return DispatchFrames();
}

bool Protocol::DispatchFrames() {
    char* message;
    std::size_t length;
    while (!streamBroken_ && !login_.Ended() && frames_.Next(message, length)) {
        if (login_.AwaitsConfirmation()) {
            login_.TakeConfirmation(message, length);
            continue;
        }
        if (!channel_.Open(message, length) || length == 0 || length > kBlockHeaderBytes + kFastBlockBytes) {
            streamBroken_ = true;
            break;
        }
        Dispatch(message, length, Origin::Peer);
    }
    // Nothing of an impossible frame is dispatched; the connection ends.
    return !frames_.Failed() && !streamBroken_;
}

void Protocol::Receive(const char* data, int32_t length) {
    std::size_t n = data == nullptr || length < 0 ? 0 : std::size_t(length);
    if (n > std::size_t(kMaxPlainMessageBytes)) n = kMaxPlainMessageBytes;
    if (n > 0) std::memcpy(plainBuffer_, data, n);
    Dispatch(plainBuffer_, n, Origin::Peer);
}

void Protocol::Dispatch(const char* bytes, std::size_t length, Origin origin) {
    if (monitorRecording_.load() == 1) {
        std::lock_guard<std::mutex> guard(lock_);
        receivedRing_.Record(bytes, length);
    }
    DispatchMessage(bytes, length, origin);
    while (requests_.HasHeld() && OperationState() == Waiting && !streamBroken_ && !login_.Ended()) {
        const std::string request = *requests_.TakeHeld();
        DispatchMessage(request.data(), request.size(), Origin::Peer);
    }
}

void Protocol::DispatchMessage(const char* bytes, std::size_t length, Origin origin) {
    const Message m{bytes, length, BoundedLength(bytes, length), Classify(bytes, length)};
    if (sender_.DropsOwedAnswer(m.kind) || receiver_.DropsStray(m.kind)) return;
    const int32_t state = OperationState();
    if (Knows(m.kind) && requests_.Hold(m, state, Agreed())) return ServeAhead();
    if (!TakenIn(m.kind, state)) {
        if (state == FolderTO) return;  // it waits for its answer alone
        if (state != Waiting) return Refuse(Outcome::Failed, true);
        return RefuseUnknown();
    }
    if (m.kind == Kind::Nak) {
        // A refusal ends the operation on this side too; it is never answered.
        TakeRefusalOfBlocks();
        return Abandon(Outcome::Refused);
    }
    switch (state) {
        case Waiting: DispatchWaiting(m, origin); break;
        case CallDIR:
            if (!listing_.Take(m)) streamBroken_ = true;
            break;
        case RequestDIR:
            if (listing_.SendNext()) ListingServed();
            break;
        case CallCopyTO: sender_.Take(m, Way::To); break;
        case RequestCopyFrom: sender_.Take(m, Way::From); break;
        case RequestCopyTO: receiver_.Take(m, Way::To); break;
        case CallCopyFrom: receiver_.Take(m, Way::From); break;
        case FolderTO:
            End(Outcome::Done, true);
            // The right pane shows the peer's folder again, with the new folder.
            if (folderRelists_) BeginListing();
            break;
        default: Refuse(Outcome::Failed, true); break;  // FolderFrom, StopTO, StopFrom
    }
}

void Protocol::RefuseUnknown() {
    BeginOperation(Operation::Unknown, false, u"");
    Refuse(Outcome::Refused, login_.Serving());
}

bool Protocol::Knows(Kind kind) const {
    // A tree listing is a word only between two programs that agreed on it.
    return Agreed().treeListing || (kind != Kind::TreeList && kind != Kind::HashedTreeList);
}

bool Protocol::Serves(Kind kind, std::string_view ansi, u16view path) {
    return ansi.size() <= kMaxPath && path.size() <= kMaxPath && files_.AcceptsPeerRequest(kind, path);
}

void Protocol::DispatchWaiting(const Message& m, Origin origin) {
    if (m.kind == Kind::Login) return login_.Check(m, origin);
    if (m.kind == Kind::SecureLogin) return login_.CheckSecure(m, origin);
    if (m.kind == Kind::Cut && GetRole() == Role::Client) {
        link_.CloseAfter(kCloseDelayMs);
        return;
    }

    const Operation operation = WireRow(m.kind).serves;
    if (operation == Operation::Unknown || !Knows(m.kind)) return RefuseUnknown();
    const std::string_view ansi(m.bytes + 2, m.textLength - 2);
    const u16 path = link_.Codec().FromAnsi(ansi);
    BeginOperation(operation, false, path);
    // A small file may follow its request before the answer: refused, what
    // comes of it is dropped.
    auto refuse = [&](bool notice) {
        if (m.kind == Kind::CopyTo && Agreed().smallFilesWhole) receiver_.ExpectStrays(Way::To, false);
        Refuse(Outcome::Refused, notice);
    };
    // Whoever has not logged in gets "NAK" and no note on this side's screen.
    if (!login_.Serving()) return refuse(false);
    if (!Serves(m.kind, ansi, path)) return refuse(true);

    switch (m.kind) {
        case Kind::List:
            if (listing_.Serve(path)) ListingServed();
            return;
        case Kind::TreeList:
        case Kind::HashedTreeList:
            if (listing_.ServeTree(path, m.kind == Kind::HashedTreeList)) ListingServed();
            return;
        case Kind::CopyTo:
            // Nothing is written for a file whose folder is not there.
            if (!files_.FolderExists(ParentPath(path))) return refuse(true);
            receiver_.Begin(path);
            SendWord(Kind::Ack);
            SetState(RequestCopyTO, true);
            return;
        case Kind::CopyFrom:
            SetState(RequestCopyFrom, true);
            sender_.Serve(path);
            return;
        case Kind::MakeFolder: {
            SetState(FolderFrom, true);
            const bool there = files_.CreateFolder(path) || files_.FolderExists(path);
            // Answered "ACK" whatever happened, where the peer lists the folder
            // again; else "NAK" when it is not there.
            SendWord(there || !Agreed().folderAnswered ? Kind::Ack : Kind::Nak);
            End(there ? Outcome::Done : Outcome::Failed, true);
            return;
        }
        default: return;  // the table serves no other kind
    }
}

void Protocol::ListingServed() {
    // The end record has gone out and is not answered.
    // A tree listing is a copy's, not a pane's: it asks for nothing back.
    const bool tree = listing_.ServingTree();
    End(Outcome::Done, true);
    if (GetRole() == Role::Server && !autoListed_ && !tree) {
        // The Server lists the Client's folder once per peer, after the
        // Client's own first listing.
        link_.SleepMs(kAutoListingDelayMs);
        autoListed_ = true;
        BeginListing();
    }
}

}  // namespace quorbel
