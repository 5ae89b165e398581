// Sending, the monitor rings, the operations the user starts and the
// dispatcher that answers every received message by the operation state.
#include "core/protocol/protocol.h"

#include <cstring>
#include <string>

#include "core/base/path_rules.h"

namespace quorbel {

namespace {

constexpr char kWriteEndMarker[] = "***** WRITE-END *****";
constexpr char kReadEndMarker[] = "***** READ-END *****";

// Writes one message into the ring slot at `pos` (zero-padded), moves on
// and marks the next slot as the end.
void RecordInRing(char ring[kRingSlots][kRingSlotBytes], int32_t& pos, const char* bytes, std::size_t length,
                  const char* marker) {
    int32_t slot = pos;
    const std::size_t n = length < std::size_t(kRingSlotBytes) ? length : std::size_t(kRingSlotBytes);
    std::memset(ring[slot], 0, kRingSlotBytes);
    std::memcpy(ring[slot], bytes, n);
    slot = (slot + 1) % kRingSlots;
    std::memset(ring[slot], 0, kRingSlotBytes);
    std::memcpy(ring[slot], marker, std::strlen(marker));
    pos = slot;
}

}  // namespace

const char16_t* OperationStateName(int32_t state) {
    static const char16_t* const kNames[] = {
        u"Waiting", u"CallDIR", u"RequestDIR", u"CallCopyTO", u"RequestCopyTO", u"CallCopyFrom",
        u"RequestCopyFrom", u"FolderTO", u"FolderFrom", u"StopTO", u"StopFrom",
    };
    if (state < Waiting || state > StopFrom) return u"Unknown";
    return kNames[state];
}

bool Protocol::Message::StartsWith(const char* prefix) const {
    const std::size_t n = std::strlen(prefix);
    return length >= n && std::memcmp(bytes, prefix, n) == 0;
}

Protocol::Protocol(ProtocolHost& host)
    : host_(host), remoteFolder_(u"C:\\"), frames_(kBlockHeaderBytes + kFastBlockBytes) {}

// ---- Set-up ---------------------------------------------------------------

void Protocol::SetRole(Role role) { role_.store(role); }
Role Protocol::GetRole() const { return role_.load(); }
void Protocol::SetFastModeAllowed(bool allowed) { fastAllowed_ = allowed; }
void Protocol::SetLoginRequired(bool required) { loginRequired_ = required; }
void Protocol::SetMonitorRecording(int32_t value) { monitorRecording_.store(value); }
int32_t Protocol::MonitorRecording() const { return monitorRecording_.load(); }
bool Protocol::FastMode() const { return fastVersion_.load() > 0; }
int Protocol::FastVersion() const { return fastVersion_.load(); }

void Protocol::OnConnectionStarted() {
    OnConnectionLost();
    // A refusal note on this connection must not show where an earlier
    // peer's listing stood.
    std::lock_guard<std::mutex> guard(lock_);
    std::memset(dirTable_, 0, sizeof dirTable_);
    dirCount_ = 0;
    dirSendIndex_ = 0;
}

void Protocol::OnConnectionLost() {
    ReleaseTransferFile();
    // A stop asked for or sent belonged to the transfer just cut; left
    // standing it would cut the next, unrelated one.
    stop_.store(0);
    autoListed_ = false;
    loggedIn_ = false;
    markerSent_ = false;
    wrongLogins_ = 0;
    endSent_ = false;
    frames_.Reset();
    const bool wasFast = fastVersion_.exchange(0) > 0;
    if (OperationState() != Waiting) End(Outcome::Lost, true);
    else if (wasFast) host_.RefreshStatusBar();
}

// ---- What the front end shows --------------------------------------------

int32_t Protocol::OperationState() const { return state_.load(); }
int32_t Protocol::Step() const { return step_.load(); }
uint64_t Protocol::MaxCopyBytes() const { return FastMode() ? kMaxFastCopyBytes : kMaxPlainCopyBytes; }
const BoxText& Protocol::CopyTooLargeBox() const {
    return FastMode() ? texts::kCopyTooLargeFast : texts::kCopyTooLarge;
}
Outcome Protocol::LastOutcome() const { return static_cast<Outcome>(lastOutcome_.load()); }
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
    std::memcpy(out, sendRing_, sizeof sendRing_);
}

void Protocol::CopyReceiveRing(char out[kRingSlots][kRingSlotBytes]) const {
    std::lock_guard<std::mutex> guard(lock_);
    std::memcpy(out, recvRing_, sizeof recvRing_);
}

void Protocol::CopyDirectoryTable(char out[kDirSlots][kDirSlotBytes]) const {
    std::lock_guard<std::mutex> guard(lock_);
    std::memcpy(out, dirTable_, sizeof dirTable_);
}

// ---- State changes and reports ------------------------------------------

void Protocol::SetState(int32_t value, bool refresh) {
    state_.store(value);
    if (refresh) host_.RefreshStatusBar();
}

void Protocol::BeginOperation(Operation operation, bool ours, u16view path) {
    std::lock_guard<std::mutex> guard(lock_);
    operation_ = operation;
    operationOurs_ = ours;
    operationPath_.assign(path);
    rowsReceived_ = 0;
    transferred_.store(0);
}

void Protocol::Report(Operation operation, bool ours, u16view path, uint64_t bytes, Outcome outcome) {
    if (ours) lastOutcome_.store(static_cast<int>(outcome));
    OperationReport report;
    report.operation = operation;
    report.ours = ours;
    report.path.assign(path);
    report.bytes = bytes;
    report.outcome = outcome;
    host_.OperationEnded(report);
}

void Protocol::End(Outcome outcome, bool refresh) {
    Operation operation;
    bool ours;
    u16 path;
    uint64_t bytes;
    {
        std::lock_guard<std::mutex> guard(lock_);
        operation = operation_;
        ours = operationOurs_;
        path = operationPath_;
        bytes = operation == Operation::List ? uint64_t(ours ? rowsReceived_ : dirCount_ - 1) : transferred_.load();
        operation_ = Operation::Unknown;
    }
    SetState(Waiting, refresh);
    Report(operation, ours, path, bytes, outcome);
}

// ---- Sending ------------------------------------------------------------------

int Protocol::SendMessage(const char* bytes, std::size_t length, bool recorded) {
    int error;
    if (FastMode()) {
        std::string frame(kFrameHeaderBytes, '\0');
        PutFrameHeader(frame.data(), static_cast<uint32_t>(length));
        frame.append(bytes, length);
        error = host_.SendBytes(frame.data(), frame.size());
    } else {
        error = host_.SendBytes(bytes, length);
    }
    if (recorded && MonitorRecording() == 1) {
        std::lock_guard<std::mutex> guard(lock_);
        RecordInRing(sendRing_, sendRingPos_, bytes, length, kWriteEndMarker);
    }
    return error;
}

void Protocol::ShowSendError(int error, const char* bytes, std::size_t length) {
    const std::size_t textLength = BoundedLength(bytes, length);
    const u16 message = host_.Codec().FromAnsi(std::string_view(bytes, textLength));
    host_.ShowMessage(FormatText(texts::kSendFailed.text,
                                 {error, GetRole() == Role::Server ? 1 : 0, 0, u16view(message)}),
                      texts::kSendFailed.caption);
}

int Protocol::SendFrame(const char* bytes, std::size_t length) {
    const int error = SendMessage(bytes, length, true);
    if (error != 0) ShowSendError(error, bytes, length);
    return error;
}

void Protocol::SendNak(bool notice) {
    const int error = SendMessage("NAK", 3, true);
    // A stop the user asked for is no refusal worth a note.
    if (notice) {
        // Where the directory table stood when this side refused.
        int32_t index, count;
        std::string entry;
        {
            std::lock_guard<std::mutex> guard(lock_);
            index = dirSendIndex_;
            count = dirCount_;
            if (index >= 0 && index < kDirSlots)
                entry.assign(dirTable_[index], BoundedLength(dirTable_[index], kDirSlotBytes));
        }
        const u16 wide = host_.Codec().FromAnsi(entry);
        host_.ShowSentNak(FormatText(texts::kSentNak.text, {index, count, u16view(wide)}));
    }
    if (error != 0) ShowSendError(error, "NAK", 3);
}

void Protocol::Refuse(Outcome outcome, bool notice) {
    endSent_ = false;
    SendNak(notice);
    ReleaseTransferFile();
    ForgetSentStop();
    End(outcome, false);
}

void Protocol::ForgetSentStop() {
    // A stop record that no ACK will answer now: the transfer is over.
    int32_t sent = 2;
    stop_.compare_exchange_strong(sent, 0);
}

// ---- Operations started by the user -----------------------------------------

int Protocol::StartRequest(int32_t state, const std::string& message) {
    SetState(state, true);
    const int error = SendFrame(message.data(), message.size());
    // A request that did not leave leaves nothing waiting for its answer.
    if (error != 0) End(Outcome::Failed, true);
    return error;
}

int Protocol::BeginListing() {
    const u16 folder = RemoteFolderPath();
    const std::string ansi = host_.Codec().ToAnsi(folder);
    if (ansi.size() > kMaxPath) return kRequestTooLong;
    host_.ClearRemotePane();
    BeginOperation(Operation::List, true, folder);
    return StartRequest(CallDIR, "DD" + ansi);
}

int Protocol::StartListing(u16view folder) {
    if (folder.size() > kMaxPath || host_.Codec().ToAnsi(folder).size() > kMaxPath) return kRequestTooLong;
    SetRemoteFolderPath(folder);
    return BeginListing();
}

int Protocol::StartListing() { return StartListing(RemoteFolderPath()); }

int Protocol::StartCopyTo(u16view localSource, u16view destinationOnPeer) {
    const std::string dest = host_.Codec().ToAnsi(destinationOnPeer);
    if (localSource.empty() || localSource.size() > kMaxPath || dest.size() > kMaxRequestPath)
        return kRequestTooLong;
    {
        std::lock_guard<std::mutex> guard(lock_);
        sourceName_.assign(localSource);
    }
    step_.store(0);
    BeginOperation(Operation::Send, true, destinationOnPeer);
    return StartRequest(CallCopyTO, "FD" + dest);
}

int Protocol::StartCopyFrom(u16view sourceOnPeer, u16view localDestination) {
    const std::string source = host_.Codec().ToAnsi(sourceOnPeer);
    if (source.size() > kMaxRequestPath || localDestination.empty() || localDestination.size() > kMaxPath)
        return kRequestTooLong;
    {
        std::lock_guard<std::mutex> guard(lock_);
        receiveName_.assign(localDestination);
    }
    blockArrived_ = false;
    step_.store(0);
    BeginOperation(Operation::Receive, true, sourceOnPeer);
    return StartRequest(CallCopyFrom, "FC" + source);
}

int Protocol::StartCreateFolder(u16view pathOnPeer) {
    const std::string path = host_.Codec().ToAnsi(pathOnPeer);
    if (pathOnPeer.size() > kMaxPath || path.size() > kMaxPath) return kRequestTooLong;
    host_.ClearRemotePane();
    BeginOperation(Operation::MakeFolder, true, pathOnPeer);
    return StartRequest(FolderTO, "CD" + path);
}

int Protocol::SendCut() { return SendFrame("CUT", 3); }

void Protocol::RequestStop() { stop_.store(1); }
void Protocol::ClearStop() { stop_.store(0); }

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
    const char* message;
    std::size_t length;
    while (frames_.Next(message, length)) Dispatch(message, length, true);
    // Nothing of an impossible frame is dispatched; the connection ends.
    return !frames_.Failed();
}

void Protocol::Receive(const char* data, int32_t length) {
    std::size_t n = data == nullptr || length < 0 ? 0 : std::size_t(length);
    if (n > std::size_t(kMaxPlainMessageBytes)) n = kMaxPlainMessageBytes;
    if (n > 0) std::memcpy(plainBuffer_, data, n);
    Dispatch(plainBuffer_, n, true);
}

bool Protocol::ReceiveStream(const char* data, std::size_t n) {
    if (!FastMode()) {
        Receive(data, static_cast<int32_t>(n < std::size_t(kMaxPlainMessageBytes) ? n : kMaxPlainMessageBytes));
        return true;
    }
    while (n > 0) {
        const std::size_t take = frames_.Take(data, n);
        if (take == 0 || !DispatchFrames()) return false;
        data += take;
        n -= take;
    }
    return true;
}

void Protocol::Dispatch(const char* bytes, std::size_t length, bool fromPeer) {
    const Message m{bytes, length, BoundedLength(bytes, length)};
    if (MonitorRecording() == 1) {
        std::lock_guard<std::mutex> guard(lock_);
        RecordInRing(recvRing_, recvRingPos_, bytes, length, kReadEndMarker);
    }
    if (m.StartsWith("NAK")) {
        // A refusal ends the operation on this side too; it is never answered.
        endSent_ = false;
        ReleaseTransferFile();
        ForgetSentStop();
        End(Outcome::Refused, false);
        return;
    }
    switch (OperationState()) {
        case Waiting: DispatchWaiting(m, fromPeer); break;
        case CallDIR: DispatchCallDir(m); break;
        case RequestDIR: DispatchRequestDir(m); break;
        case CallCopyTO: DispatchSending(m, true); break;
        case RequestCopyFrom: DispatchSending(m, false); break;
        case RequestCopyTO: DispatchReceiving(m, true); break;
        case CallCopyFrom: DispatchReceiving(m, false); break;
        case FolderTO: DispatchFolderTo(m); break;
        default: Refuse(); break;  // FolderFrom, StopTO, StopFrom
    }
}

void Protocol::DispatchWaiting(const Message& m, bool fromPeer) {
    if (m.StartsWith("PW") && m.textLength > 2) return CheckLogin(m, fromPeer);
    if (m.StartsWith("CUT") && m.textLength == 3 && GetRole() == Role::Client) {
        host_.ArmCloseTimer(kClientCloseDelayMs);
        return;
    }

    PeerRequest request;
    Operation operation;
    if (m.StartsWith("DD") && m.textLength > 4) {
        request = PeerRequest::List;
        operation = Operation::List;
    } else if (m.StartsWith("FD") && m.textLength > 4) {
        request = PeerRequest::TakeFile;
        operation = Operation::Receive;
    } else if (m.StartsWith("FC") && m.textLength > 4) {
        request = PeerRequest::SendMeFile;
        operation = Operation::Send;
    } else if (m.StartsWith("CD") && m.textLength > 2) {
        request = PeerRequest::MakeFolder;
        operation = Operation::MakeFolder;
    } else {
        BeginOperation(Operation::Unknown, false, u"");
        return Refuse(Outcome::Refused, !loginRequired_ || loggedIn_);
    }
    const std::string_view ansi(m.bytes + 2, m.textLength - 2);
    const u16 path = host_.Codec().FromAnsi(ansi);
    BeginOperation(operation, false, path);
    // Whoever has not logged in gets "NAK" and no note on this side's screen.
    if (loginRequired_ && !loggedIn_) return Refuse(Outcome::Refused, false);
    if (ansi.size() > kMaxPath || path.size() > kMaxPath || !host_.AcceptsPeerRequest(request, path))
        return Refuse(Outcome::Refused);

    switch (request) {
        case PeerRequest::List:
            BuildDirectoryTable(path);
            SetState(RequestDIR, true);
            {
                std::lock_guard<std::mutex> guard(lock_);
                dirSendIndex_ = 0;
            }
            SendNextTableEntry();
            return;
        case PeerRequest::TakeFile:
            // Nothing is written for a file whose folder is not there.
            if (!host_.FolderExists(ParentPath(path))) return Refuse(Outcome::Refused);
            {
                std::lock_guard<std::mutex> guard(lock_);
                receiveName_ = path;
            }
            blockArrived_ = false;
            SendFrame("ACK", 3);
            SetState(RequestCopyTO, true);
            return;
        case PeerRequest::SendMeFile: {
            {
                std::lock_guard<std::mutex> guard(lock_);
                sourceName_ = path;
            }
            SetState(RequestCopyFrom, true);
            step_.store(0);
            endSent_ = false;
            const int result = OpenSource() ? SendNextBlock(false) : 2;
            if (result == 1) {
                step_.store(1);
            } else if (result == 0) {
                // An empty file: its end record is the whole copy.
                if (EndRecordAnswered()) endSent_ = true;
                else End(Outcome::Done, true);
            } else {
                SendNak(true);
                End(Outcome::Failed, true);
            }
            return;
        }
        case PeerRequest::MakeFolder: {
            SetState(FolderFrom, true);
            const bool created = host_.CreateFolder(path);
            // Answered "ACK" whatever happened: the peer lists the folder again.
            SendFrame("ACK", 3);
            End(created ? Outcome::Done : Outcome::Failed, true);
            return;
        }
    }
}

void Protocol::DispatchCallDir(const Message& m) {
    if (m.StartsWith("DR999999")) return End(Outcome::Done, true);
    if (m.StartsWith("DR") && m.textLength > 11) {
        const int32_t number = ParseHeaderNumber(m.bytes + 2);
        if (number >= 0 && AddRemoteRow(number, m.bytes + kBlockHeaderBytes, m.textLength - kBlockHeaderBytes)) {
            SendFrame("ACK", 3);
            return;
        }
    }
    Refuse();
}

void Protocol::DispatchRequestDir(const Message& m) {
    if (!m.StartsWith("ACK")) return Refuse();
    SendNextTableEntry();
}

void Protocol::DispatchSending(const Message& m, bool fr) {
    if (!m.StartsWith("ACK")) return Refuse();
    if (endSent_) {
        // The receiver has the file under its final name: the copy is done,
        // whatever stop was asked for meanwhile.
        endSent_ = false;
        stop_.store(0);
        return End(Outcome::Done, true);
    }
    switch (stop_.load()) {
        case 2:
            stop_.store(0);
            return End(Outcome::Stopped, true);
        case 1:
            SendFrame(fr ? "FRDTSTOP" : "FBDTSTOP", 8);
            stop_.store(2);
            ReleaseTransferFile();
            return;
        default:
            break;
    }
    // A copy to the peer opens its file at the peer's first answer.
    int result = fr && step_.load() == 0 && !OpenSource() ? 2 : SendNextBlock(fr);
    if (result == 1) {
        step_.fetch_add(1);
    } else if (result == 0) {
        if (EndRecordAnswered()) endSent_ = true;
        else End(Outcome::Done, true);
    } else {
        if (fr) SendNak(true);
        End(Outcome::Failed, true);
    }
}

void Protocol::DispatchReceiving(const Message& m, bool fr) {
    const char* bytes = m.bytes;
    const std::size_t dataBytes = m.length > std::size_t(kBlockHeaderBytes) ? m.length - kBlockHeaderBytes : 0;
    // This side's user asked for the stop of a copy from the peer: the
    // next block is refused, quietly, and nothing of the file stays.
    const bool stopAsked = !fr && stop_.load() == 1;

    if (m.StartsWith(fr ? "FRDTSTOP" : "FBDTSTOP")) {
        ReleaseTransferFile();
        End(Outcome::Stopped, true);
        SendFrame("ACK", 3);
        return;
    }
    if (m.StartsWith(fr ? "FR999999" : "FB999999")) {
        if (stopAsked) {
            stop_.store(0);
            ReleaseTransferFile();
            return End(Outcome::Stopped, true);
        }
        FinishReceiving(bytes + kBlockHeaderBytes, dataBytes);
        return;
    }
    if (m.StartsWith(fr ? "FR" : "FB") && m.length > std::size_t(kBlockHeaderBytes - 1)) {
        const int32_t number = ParseHeaderNumber(bytes + 2);
        if (number >= 0 && stopAsked) {
            stop_.store(0);
            SendNak(false);
            ReleaseTransferFile();
            return End(Outcome::Stopped, true);
        }
        if (number >= 0 && WriteBlock(bytes + kBlockHeaderBytes, dataBytes, number)) {
            if (!fr) step_.store(number);
            SendFrame("ACK", 3);
            return;
        }
    }
    Refuse();
}

void Protocol::DispatchFolderTo(const Message& m) {
    if (!m.StartsWith("ACK")) return;  // ignored until the answer comes
    End(Outcome::Done, true);
    // The right pane shows the peer's folder again, with the new folder.
    BeginListing();
}

}  // namespace quorbel
