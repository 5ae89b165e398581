// Sending, the operations the user starts and the
// dispatcher that answers every received message by the operation state.
#include "core/protocol/protocol.h"

#include <cstring>
#include <string>

#include "core/base/path_rules.h"

namespace quorbel {

Protocol::Protocol(PeerLink& link, UserSeat& seat, FileStore& files)
    : link_(link), seat_(seat), files_(files), remoteFolder_(kStartFolder),
      frames_(kBlockHeaderBytes + kFastBlockBytes + SecureSession::kTagBytes) {}

// ---- Set-up ---------------------------------------------------------------

void Protocol::SetRole(Role role) { role_.store(role); }
Role Protocol::GetRole() const { return role_.load(); }
void Protocol::SetHighestVersion(int version) {
    login_.highest = version < 0 ? 0 : version > kFastVersion ? kFastVersion : version;
    login_.offerVersion = login_.highest;
}
void Protocol::SetLoginRequired(bool required) { login_.required = required; }
void Protocol::SetMonitorRecording(int32_t value) { monitorRecording_.store(value); }
void Protocol::SetSecureRequired(bool required) { secureRequired_ = required; }
bool Protocol::FastMode() const { return login_.fastVersion.load() > 0; }
int Protocol::FastVersion() const { return login_.fastVersion.load(); }
bool Protocol::Secure() const { return sealed_.load(); }

void Protocol::OnConnectionStarted() {
    OnConnectionLost();
    // A refusal note on this connection must not show where an earlier
    // peer's listing stood.
    std::lock_guard<std::mutex> guard(lock_);
    table_.Clear();
}

void Protocol::OnConnectionLost() {
    ReleaseTransferFile(true);
    ForgetStrays();
    // A stop asked for or sent belonged to the transfer just cut; left
    // standing it would cut the next, unrelated one.
    stop_.store(StopState::None);
    autoListed_ = false;
    login_.Reset();
    endSent_ = false;
    held_.reset();
    frames_.Reset();
    streamBroken_ = loginEnded_ = awaitingConfirmation_ = false;
    {
        // A send of the window thread may be sealing right now.
        std::lock_guard<std::mutex> guard(sendLock_);
        sealed_.store(false);
        secure_.reset();
    }
    const bool wasFast = login_.fastVersion.exchange(0) > 0;
    if (OperationState() != Waiting) End(Outcome::Lost, true);
    else if (wasFast) seat_.RefreshStatusBar();
}

// ---- What the front end shows --------------------------------------------

int32_t Protocol::OperationState() const { return state_.load(); }
int32_t Protocol::Step() const { return step_.load(); }
std::size_t Protocol::PeerListingEntries() const {
    return Agreed().exactListing ? kMaxTreeFolderEntries : std::size_t(kMaxDirRecords);
}

uint64_t Protocol::MaxCopyBytes() const { return FastMode() ? kMaxFastCopyBytes : kMaxPlainCopyBytes; }
const BoxText& Protocol::CopyTooLargeBox() const {
    return FastMode() ? texts::kCopyTooLargeFast : texts::kCopyTooLarge;
}
Outcome Protocol::LastOutcome() const { return lastOutcome_.load(); }
uint64_t Protocol::TransferredBytes() const { return transferred_.load(); }

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

void Protocol::CopyDirectoryTable(char out[kDirSlots][kDirSlotBytes]) const {
    std::lock_guard<std::mutex> guard(lock_);
    std::memcpy(out, table_.slots, sizeof table_.slots);
}

// ---- State changes and reports ------------------------------------------

void Protocol::SetState(int32_t value, bool refresh) {
    state_.store(value);
    if (refresh) seat_.RefreshStatusBar();
}

void Protocol::BeginOperation(Operation operation, bool ours, u16view path) {
    std::lock_guard<std::mutex> guard(lock_);
    operation_ = operation;
    operationOurs_ = ours;
    operationPath_.assign(path);
    rowsReceived_ = 0;
    transferred_.store(0);
    resumedAt_.store(0);
    copySize_.store(0);
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
    pages_.reset();
    pageHeld_.clear();
    Operation operation;
    bool ours;
    u16 path;
    uint64_t bytes;
    {
        std::lock_guard<std::mutex> guard(lock_);
        operation = operation_;
        ours = operationOurs_;
        path = operationPath_;
        bytes = operation == Operation::List ? uint64_t(ours ? rowsReceived_ : rowsServed_) : transferred_.load();
        operation_ = Operation::Unknown;
    }
    std::optional<QueuedCopy> next = std::move(queued_);
    queued_.reset();
    std::optional<ServedAhead> served;
    if (servedAhead_ && outcome == Outcome::Lost) served = std::move(servedAhead_), servedAhead_.reset();
    // A queued copy begins where the peer's next answers are its own: one
    // to the peer once the end record was answered or the copy refused,
    // one from the peer after any end but the connection's. Otherwise it
    // ends with the current one, and an answer that still comes is refused.
    const bool begins = next && (next->fromPeer ? outcome != Outcome::Lost
                                                : outcome == Outcome::Done || outcome == Outcome::Refused);
    if (begins && next->fromPeer) {
        BeginCopyFrom(next->source, next->destination);
        SetState(CallCopyFrom, refresh);
    } else if (servedAhead_) {
        BeginServedAhead();
    } else if (begins) {
        BeginCopyTo(next->source, next->destination);
        // The request's answer comes before its block's.
        if (next->sentAhead) AwaitAnswers(next->size > 0 ? 2 : 1, next->size);
        SetState(CallCopyTO, refresh);
    } else {
        SetState(Waiting, refresh);
    }
    Report(operation, ours, path, bytes, outcome);
    if (served) Report(Operation::Send, false, served->path, served->size, outcome);
    if (next && !begins)
        Report(next->fromPeer ? Operation::Receive : Operation::Send, true,
               next->fromPeer ? next->source : next->destination, 0, outcome);
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

int Protocol::SendInFrame(char* frame, std::size_t length) {
    // The header is bound to a sealed frame: its length cannot change unseen.
    const std::size_t tag = sealed_.load() ? SecureSession::kTagBytes : 0;
    PutFrameHeader(frame, static_cast<uint32_t>(length + tag));
    if (tag == 0) return link_.SendBytes(frame, kFrameHeaderBytes + length);
    // Frames leave in the order they were sealed, or none opens.
    std::lock_guard<std::mutex> guard(sendLock_);
    if (!secure_ || !secure_->Seal(frame + kFrameHeaderBytes, length, frame, kFrameHeaderBytes)) return kNotSecure;
    return link_.SendBytes(frame, kFrameHeaderBytes + length + tag);
}

void Protocol::ShowSendError(int error, const char* bytes, std::size_t length) {
    const std::size_t textLength = BoundedLength(bytes, length);
    const u16 message = link_.Codec().FromAnsi(std::string_view(bytes, textLength));
    seat_.ShowMessage(FormatText(texts::kSendFailed.text,
                                 {error, GetRole() == Role::Server ? 1 : 0, 0, u16view(message)}),
                      texts::kSendFailed.caption);
}

int Protocol::SendFrame(const char* bytes, std::size_t length) {
    const int error = SendMessage(bytes, length, true);
    if (error != 0) ShowSendError(error, bytes, length);
    return error;
}

int Protocol::SendWord(Kind kind) { return SendFrame(Word(kind).data(), Word(kind).size()); }

void Protocol::SendNak(bool notice) {
    const std::string_view nak = Word(Kind::Nak);
    const int error = SendMessage(nak.data(), nak.size(), true);
    // A stop the user asked for is no refusal worth a note.
    if (notice) {
        // Where the directory table stood when this side refused.
        int32_t index, count;
        std::string entry;
        {
            std::lock_guard<std::mutex> guard(lock_);
            index = table_.sendIndex;
            count = table_.count;
            if (index >= 0 && index < kDirSlots)
                entry.assign(table_.slots[index], BoundedLength(table_.slots[index], kDirSlotBytes));
        }
        const u16 wide = link_.Codec().FromAnsi(entry);
        seat_.ShowSentNak(FormatText(texts::kSentNak.text, {index, count, u16view(wide)}));
    }
    if (error != 0) ShowSendError(error, nak.data(), nak.size());
}

void Protocol::Refuse(Outcome outcome, bool notice) {
    ExpectStrays();
    SendNak(notice);
    Abandon(outcome);
}

void Protocol::Abandon(Outcome outcome) {
    endSent_ = false;
    ForgetBlocksInFlight(false);
    ReleaseTransferFile();
    ForgetSentStop();
    End(outcome, false);
}

void Protocol::ForgetSentStop() {
    // A stop record that no ACK will answer now: the transfer is over.
    StopState sent = StopState::Sent;
    stop_.compare_exchange_strong(sent, StopState::None);
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
    return StartRequest(CallDIR, Kind::List, ansi);
}

int Protocol::StartListing(u16view folder) {
    if (folder.size() > kMaxPath || link_.Codec().ToAnsi(folder).size() > kMaxPath) return kRequestTooLong;
    SetRemoteFolderPath(folder);
    return BeginListing();
}

int Protocol::StartListing() { return StartListing(RemoteFolderPath()); }

bool Protocol::CopyToFits(u16view localSource, std::string_view destination) const {
    return !localSource.empty() && localSource.size() <= kMaxPath && destination.size() <= kMaxRequestPath;
}

void Protocol::BeginCopyTo(u16view localSource, u16view destinationOnPeer) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        transfer_.source.assign(localSource);
    }
    step_.store(0);
    BeginOperation(Operation::Send, true, destinationOnPeer);
}

int Protocol::StartCopyTo(u16view localSource, u16view destinationOnPeer) {
    const std::string dest = link_.Codec().ToAnsi(destinationOnPeer);
    if (!CopyToFits(localSource, dest)) return kRequestTooLong;
    BeginCopyTo(localSource, destinationOnPeer);
    return StartRequest(CallCopyTO, Kind::TakeFile, dest);
}

bool Protocol::CanQueueCopyTo() const {
    return endSent_ && !queued_ && OperationState() == CallCopyTO && Agreed().requestBeforeEndAnswer;
}

int Protocol::QueueCopyTo(u16view localSource, u16view destinationOnPeer) {
    const std::string dest = link_.Codec().ToAnsi(destinationOnPeer);
    if (!CanQueueCopyTo() || !CopyToFits(localSource, dest)) return kRequestTooLong;
    // A request that did not leave queues nothing; the connection is ending.
    const int error = SendRequest(Kind::TakeFile, dest);
    if (error != 0) return error;
    QueuedCopy copy{u16(localSource), u16(destinationOnPeer), false};
    copy.sentAhead = Agreed().smallFilesWhole && SendWhole(localSource, true, copy.size);
    queued_ = std::move(copy);
    return 0;
}

bool Protocol::CopyFromFits(std::string_view source, u16view localDestination) const {
    return source.size() <= kMaxRequestPath && !localDestination.empty() && localDestination.size() <= kMaxPath;
}

void Protocol::BeginCopyFrom(u16view sourceOnPeer, u16view localDestination) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        transfer_.finalName.assign(localDestination);
    }
    ResetReception();
    step_.store(0);
    BeginOperation(Operation::Receive, true, sourceOnPeer);
}

int Protocol::StartCopyFrom(u16view sourceOnPeer, u16view localDestination) {
    const std::string source = link_.Codec().ToAnsi(sourceOnPeer);
    if (!CopyFromFits(source, localDestination)) return kRequestTooLong;
    BeginCopyFrom(sourceOnPeer, localDestination);
    return StartRequest(CallCopyFrom, Kind::SendFile, source);
}

bool Protocol::CanQueueCopyFrom() const {
    return !queued_ && OperationState() == CallCopyFrom && Agreed().heldRequests;
}

int Protocol::QueueCopyFrom(u16view sourceOnPeer, u16view localDestination) {
    const std::string source = link_.Codec().ToAnsi(sourceOnPeer);
    if (!CanQueueCopyFrom() || !CopyFromFits(source, localDestination)) return kRequestTooLong;
    const int error = SendRequest(Kind::SendFile, source);
    if (error == 0) queued_ = QueuedCopy{u16(sourceOnPeer), u16(localDestination), true};
    return error;
}

int Protocol::StartCreateFolder(u16view pathOnPeer) {
    const std::string path = link_.Codec().ToAnsi(pathOnPeer);
    if (pathOnPeer.size() > kMaxPath || path.size() > kMaxPath) return kRequestTooLong;
    seat_.ClearRemoteRows();
    BeginOperation(Operation::MakeFolder, true, pathOnPeer);
    return StartRequest(FolderTO, Kind::MakeFolder, path);
}

int Protocol::SendCut() { return SendWord(Kind::Cut); }

void Protocol::RequestStop() { stop_.store(StopState::Asked); }
void Protocol::ClearStop() { stop_.store(StopState::None); }
void Protocol::SetResumeAllowed(bool allowed) { resumeAllowed_.store(allowed); }
uint64_t Protocol::ResumedAt() const { return resumedAt_.load(); }
uint64_t Protocol::CopySize() const { return copySize_.load(); }

// ---- Receiving ------------------------------------------------------------------

char* Protocol::ReceiveSpace(bool fromPeer) { return FastMode() && fromPeer ? frames_.Space() : plainBuffer_; }

std::size_t Protocol::ReceiveSpaceBytes(bool fromPeer) {
    return FastMode() && fromPeer ? frames_.SpaceBytes() : std::size_t(kMaxPlainMessageBytes);
}

bool Protocol::Received(std::size_t n, bool fromPeer) {
    if (!(FastMode() && fromPeer)) {
        Dispatch(plainBuffer_, n < std::size_t(kMaxPlainMessageBytes) ? n : kMaxPlainMessageBytes, fromPeer);
        return true;
    }
    frames_.Commit(n);
    return DispatchFrames();
}

bool Protocol::DispatchFrames() {
    char* message;
    std::size_t length;
    while (!streamBroken_ && !loginEnded_ && frames_.Next(message, length)) {
        if (awaitingConfirmation_) {
            awaitingConfirmation_ = false;
            TakeConfirmation(message, length);
            continue;
        }
        if (sealed_.load()) {
            // A frame changed, replayed, dropped before this one or out of
            // its order does not open: nothing more of this stream counts.
            if (!secure_ || length < SecureSession::kTagBytes ||
                !secure_->Open(message, length, message - kFrameHeaderBytes, kFrameHeaderBytes)) {
                streamBroken_ = true;
                break;
            }
            length -= SecureSession::kTagBytes;
        }
        if (length == 0 || length > kBlockHeaderBytes + kFastBlockBytes) {
            streamBroken_ = true;
            break;
        }
        Dispatch(message, length, true);
    }
    // Nothing of an impossible frame is dispatched; the connection ends.
    return !frames_.Failed() && !streamBroken_;
}

void Protocol::Receive(const char* data, int32_t length) {
    std::size_t n = data == nullptr || length < 0 ? 0 : std::size_t(length);
    if (n > std::size_t(kMaxPlainMessageBytes)) n = kMaxPlainMessageBytes;
    if (n > 0) std::memcpy(plainBuffer_, data, n);
    Dispatch(plainBuffer_, n, true);
}

void Protocol::Dispatch(const char* bytes, std::size_t length, bool fromPeer) {
    if (monitorRecording_.load() == 1) {
        std::lock_guard<std::mutex> guard(lock_);
        receivedRing_.Record(bytes, length);
    }
    DispatchMessage(bytes, length, fromPeer);
    while (held_ && OperationState() == Waiting && !streamBroken_ && !loginEnded_) {
        const std::string request = std::move(*held_);
        held_.reset();
        DispatchMessage(request.data(), request.size(), true);
    }
}

bool Protocol::HoldsRequest(const Message& m) {
    const int32_t state = OperationState();
    const Operation serves = WireRow(m.kind).serves;
    if (!Agreed().heldRequests || held_ || serves == Operation::Unknown || serves == Operation::Login) return false;
    if (state != RequestDIR && state != RequestCopyTO && state != RequestCopyFrom) return false;
    held_.emplace(m.bytes, m.length);
    ServeAhead();
    return true;
}

void Protocol::DispatchMessage(const char* bytes, std::size_t length, bool fromPeer) {
    const Message m{bytes, length, BoundedLength(bytes, length), Classify(bytes, length)};
    if (DropsStray(m.kind) || HoldsRequest(m)) return;
    const int32_t state = OperationState();
    if (!TakenIn(m.kind, state)) {
        if (state == FolderTO) return;  // it waits for its answer alone
        if (state != Waiting) return Refuse();
        return RefuseUnknown();
    }
    if (m.kind == Kind::Nak) {
        // A refusal ends the operation on this side too; it is never answered.
        TakeRefusalOfBlocks();
        return Abandon(Outcome::Refused);
    }
    switch (state) {
        case Waiting: DispatchWaiting(m, fromPeer); break;
        case CallDIR: DispatchCallDir(m); break;
        case RequestDIR: pages_ ? SendNextPage() : SendNextTableEntry(); break;
        case CallCopyTO: DispatchSending(m, true); break;
        case RequestCopyFrom: DispatchSending(m, false); break;
        case RequestCopyTO: DispatchReceiving(m, true); break;
        case CallCopyFrom: DispatchReceiving(m, false); break;
        case FolderTO: DispatchFolderTo(); break;
        default: Refuse(); break;  // FolderFrom, StopTO, StopFrom
    }
}

void Protocol::RefuseUnknown() {
    BeginOperation(Operation::Unknown, false, u"");
    Refuse(Outcome::Refused, Serving());
}

bool Protocol::Serves(Kind kind, std::string_view ansi, u16view path) {
    return ansi.size() <= kMaxPath && path.size() <= kMaxPath && files_.AcceptsPeerRequest(kind, path);
}

void Protocol::DispatchWaiting(const Message& m, bool fromPeer) {
    if (m.kind == Kind::Login) return CheckLogin(m, fromPeer);
    if (m.kind == Kind::SecureLogin) return CheckSecureLogin(m, fromPeer);
    if (m.kind == Kind::Cut && GetRole() == Role::Client) {
        link_.CloseAfter(kCloseDelayMs);
        return;
    }

    const Operation operation = WireRow(m.kind).serves;
    if (operation == Operation::Unknown) return RefuseUnknown();
    const std::string_view ansi(m.bytes + 2, m.textLength - 2);
    const u16 path = link_.Codec().FromAnsi(ansi);
    BeginOperation(operation, false, path);
    // From fast mode 5 a small file follows its request before the answer:
    // refused, what comes of it is dropped.
    auto refuse = [&](bool notice) {
        if (m.kind == Kind::TakeFile && Agreed().smallFilesWhole) transfer_.strays = TransferFile::Strays::To;
        Refuse(Outcome::Refused, notice);
    };
    // Whoever has not logged in gets "NAK" and no note on this side's screen.
    if (!Serving()) return refuse(false);
    if (!Serves(m.kind, ansi, path)) return refuse(true);

    switch (m.kind) {
        case Kind::List:
            if (Agreed().exactListing) {
                {
                    std::lock_guard<std::mutex> guard(lock_);
                    table_.count = table_.sendIndex = rowsServed_ = 0;
                }
                pages_ = std::make_unique<FolderRowReader>(files_, path);
                SetState(RequestDIR, true);
                SendNextPage();
                return;
            }
            BuildDirectoryTable(path);
            SetState(RequestDIR, true);
            {
                std::lock_guard<std::mutex> guard(lock_);
                table_.sendIndex = 0;
            }
            SendNextTableEntry();
            return;
        case Kind::TakeFile:
            // Nothing is written for a file whose folder is not there.
            if (!files_.FolderExists(ParentPath(path))) return refuse(true);
            {
                std::lock_guard<std::mutex> guard(lock_);
                transfer_.finalName = path;
            }
            ResetReception();
            SendWord(Kind::Ack);
            SetState(RequestCopyTO, true);
            return;
        case Kind::SendFile: {
            {
                std::lock_guard<std::mutex> guard(lock_);
                transfer_.source = path;
            }
            SetState(RequestCopyFrom, true);
            step_.store(0);
            endSent_ = false;
            // An empty file: its end record is the whole copy.
            return AfterBlockSent(OpenSource() ? StartBlocks(false) : BlockSent::Failed, true);
        }
        case Kind::MakeFolder: {
            SetState(FolderFrom, true);
            const bool created = files_.CreateFolder(path);
            // Answered "ACK" whatever happened: the peer lists the folder again.
            SendWord(Kind::Ack);
            End(created ? Outcome::Done : Outcome::Failed, true);
            return;
        }
        default: return;  // the table serves no other kind
    }
}

void Protocol::DispatchCallDir(const Message& m) {
    if (m.kind == Kind::ListEnd) return End(Outcome::Done, true);
    if (m.kind == Kind::Page && Agreed().exactListing) {
        if (AddRemotePage(m.bytes, m.length)) {
            SendWord(Kind::Ack);
            return;
        }
        // A broken page ends the connection, as a broken frame does.
        streamBroken_ = true;
        return Abandon(Outcome::Failed);
    }
    if (m.kind == Kind::Record) {
        const int32_t number = ParseHeaderNumber(m.bytes + 2);
        if (number >= 0 && AddRemoteRow(number, m.bytes + kBlockHeaderBytes, m.textLength - kBlockHeaderBytes)) {
            SendWord(Kind::Ack);
            return;
        }
    }
    Refuse();
}

void Protocol::DispatchSending(const Message& m, bool fr) {
    // The answer to a block in flight, while the end or stop record waits
    // behind it, or the window takes one more.
    const bool blockAnswer = TakeBlockAnswer();
    if (endSent_) {
        if (blockAnswer) return;
        // The receiver has the file under its final name: the copy is done,
        // whatever stop was asked for meanwhile; a queued copy takes the stop.
        endSent_ = false;
        if (!queued_) stop_.store(StopState::None);
        return End(Outcome::Done, true);
    }
    switch (stop_.load()) {
        case StopState::Sent:
            if (blockAnswer) return;
            stop_.store(StopState::None);
            return End(Outcome::Stopped, true);
        case StopState::Asked:
            SendWord(StopKind(fr));
            stop_.store(StopState::Sent);
            ReleaseTransferFile();
            return;
        case StopState::None:
            break;
    }
    if (transfer_.resume != TransferFile::Resume::None)
        return AfterBlockSent(TakeResumePoint(m.bytes, m.length, fr), fr);
    // A copy to the peer opens its file at the peer's first answer.
    if (fr && step_.load() == 0) return AfterBlockSent(OpenSource() ? StartBlocks(fr) : BlockSent::Failed, fr);
    if (!transfer_.window.Full()) AfterBlockSent(SendNextBlock(fr), fr);
}

void Protocol::AfterBlockSent(BlockSent sent, bool nakOnFailure) {
    // Blocks go on while the window has room and no stop waits.
    while (sent == BlockSent::Block) {
        step_.fetch_add(1);
        if (transfer_.window.Full() || stop_.load() != StopState::None) return;
        sent = SendNextBlock(OperationState() == CallCopyTO);
    }
    if (sent == BlockSent::Source) {
        // The receiver's answer says where the blocks start.
    } else if (sent == BlockSent::End) {
        if (!Agreed().endRecordsAnswered) return End(Outcome::Done, true);
        endSent_ = true;
        ServeAhead();
    } else {
        // The receiver answers the blocks it had before this end.
        ForgetBlocksInFlight(true);
        if (nakOnFailure) SendNak(true);
        End(Outcome::Failed, true);
    }
}

void Protocol::DispatchReceiving(const Message& m, bool fr) {
    const char* bytes = m.bytes;
    const std::size_t dataBytes = m.length > std::size_t(kBlockHeaderBytes) ? m.length - kBlockHeaderBytes : 0;
    // This side's user asked for the stop of a copy from the peer: the
    // next block is refused, quietly, and nothing of the file stays.
    const bool stopAsked = !fr && stop_.load() == StopState::Asked;

    if (m.kind == StopKind(fr)) {
        ReleaseTransferFile();
        End(Outcome::Stopped, true);
        SendWord(Kind::Ack);
        return;
    }
    if (m.kind == SourceKind(fr) && !stopAsked) return TakeSource(m);
    if (m.kind == EndKind(fr)) {
        if (stopAsked) {
            // Its sender waits for the answer: refused, the copy ends on both
            // sides, and the peer goes on with what it was asked next.
            if (!queued_) stop_.store(StopState::None);
            if (Agreed().endRecordsAnswered) SendNak(false);
            ReleaseTransferFile();
            return End(Outcome::Stopped, true);
        }
        FinishReceiving(bytes + kBlockHeaderBytes, dataBytes);
        return;
    }
    // What the source is, after a stop was asked for: refused as a block.
    if (m.kind == BlockKind(fr) || m.kind == SourceKind(fr)) {
        const int32_t number = m.kind == SourceKind(fr) ? 0 : ParseHeaderNumber(bytes + 2);
        if (number >= 0 && stopAsked) {
            if (!queued_) stop_.store(StopState::None);
            ExpectStrays();
            SendNak(false);
            ReleaseTransferFile();
            return End(Outcome::Stopped, true);
        }
        if (number >= 0 && WriteBlock(bytes + kBlockHeaderBytes, dataBytes, number)) {
            if (!fr) step_.store(number);
            SendWord(Kind::Ack);
            return;
        }
    }
    Refuse();
}

void Protocol::DispatchFolderTo() {
    End(Outcome::Done, true);
    // The right pane shows the peer's folder again, with the new folder.
    BeginListing();
}

}  // namespace quorbel
