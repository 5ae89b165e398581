// Framing, the monitor rings, the operations the user starts and the
// dispatcher that answers every received message by the operation state.
#include "core/protocol.h"

#include <cstring>
#include <string>

#include "core/protocol_internal.h"

namespace quorbel {

namespace {

constexpr char kWriteEndMarker[] = "***** WRITE-END *****";
constexpr char kReadEndMarker[] = "***** READ-END *****";

bool StartsWith(const char* bytes, const char* prefix) {
    return std::memcmp(bytes, prefix, std::strlen(prefix)) == 0;
}

// Writes one message into the ring slot at `pos`, moves on and marks the
// next slot as the end.
void RecordInRing(char ring[kRingSlots][kRingSlotBytes], int32_t& pos, const char* bytes,
                  int32_t length, const char* marker) {
    int32_t slot = ((pos % kRingSlots) + kRingSlots) % kRingSlots;
    int32_t n = length < kRingSlotBytes ? length : kRingSlotBytes;
    if (n < 0) n = 0;
    std::memset(ring[slot], 0, kRingSlotBytes);
    std::memcpy(ring[slot], bytes, static_cast<std::size_t>(n));
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
    if (state < 0 || state > StopFrom) return u"Unknown";
    return kNames[state];
}

Protocol::Protocol(ProtocolHost& host) : host_(host) {
    CopyBounded<char16_t>(state.remoteFolder, kPathUnits, u"C:\\");
}

void Protocol::SetOperationState(int32_t value, bool refresh) {
    state.operationState.store(value, std::memory_order_relaxed);
    if (refresh) host_.RefreshStatusBar();
}

int32_t Protocol::OperationStateNow() const { return state.operationState.load(std::memory_order_relaxed); }

// ---- Sending --------------------------------------------------------------

void Protocol::ShowSendError(int error, const char* bytes, std::size_t length) {
    std::size_t textLength = BoundedLength(bytes, length);
    u16 text = u"ERR=" + AsciiNumber(error) + u":C0/S1=" +
               AsciiNumber(state.serverMode.load(std::memory_order_relaxed)) + u":Sel=0\r\n" +
               host_.Codec().FromAnsi(std::string_view(bytes, textLength));
    host_.ShowMessage(text, u"WSAGetLastError");
}

int Protocol::SendFrame(const char* bytes, int32_t length) {
    if (bytes == nullptr || length < 0) length = 0;
    static const char kNothing[1] = {0};
    if (bytes == nullptr) bytes = kNothing;
    int error = host_.SendBytes(bytes, static_cast<std::size_t>(length));
    if (state.monitorRecording.load(std::memory_order_relaxed) == 1) {
        std::lock_guard<std::mutex> guard(lock_);
        RecordInRing(state.sendRing, state.sendRingPos, bytes, length, kWriteEndMarker);
    }
    if (length >= 3 && StartsWith(bytes, "NAK")) {
        int32_t index = state.dirSendIndex.load(std::memory_order_relaxed);
        int32_t count = state.dirCount.load(std::memory_order_relaxed);
        std::string entry;
        if (index >= 0 && index < kDirSlots) {
            std::lock_guard<std::mutex> guard(lock_);
            entry.assign(state.dirTable[index], BoundedLength(state.dirTable[index], kDirSlotBytes));
        }
        u16 text = u"CONT=" + AsciiNumber(index) + u"/" + AsciiNumber(count) + u"\r\n" +
                   host_.Codec().FromAnsi(entry);
        host_.ShowMessage(text, u"SEND-NAK");
    }
    if (error != 0) {
        ShowSendError(error, bytes, static_cast<std::size_t>(length));
        return error;
    }
    return 0;
}

int Protocol::SendReply(const char* threeBytes) {
    int error = host_.SendBytes(threeBytes, 3);
    if (error != 0) ShowSendError(error, threeBytes, 3);
    return error;
}

int Protocol::SendListingRequest() {
    std::string path = host_.Codec().ToAnsi(RemoteFolderPath());
    if (path.size() > static_cast<std::size_t>(kMaxPathBytes)) {
        // The request could not carry it; nothing will answer a CallDIR.
        SetOperationState(Waiting, true);
        return kRequestTooLong;
    }
    std::string message = "DD" + path;
    return SendFrame(message.data(), static_cast<int32_t>(message.size()));
}

void Protocol::Refuse() {
    SendFrame("NAK", 3);
    SetOperationState(Waiting, false);
    // An operation ended by a refusal keeps no file open or locked.
    ReleaseTransferFile();
    ForgetSentStop();
}

void Protocol::ForgetSentStop() {
    // A stop record that no ACK will ever answer now: the transfer is over.
    int32_t sent = 2;
    state.stopFlag.compare_exchange_strong(sent, 0, std::memory_order_relaxed);
}

void Protocol::ReleaseTransferFile() {
    if (state.transferState.load(std::memory_order_relaxed) == TransferOpen) {
        host_.CloseTransfer();
        if (state.transferWriting) host_.RemoveFile(u16view(state.tempName, BoundedLength(state.tempName, kPathUnits)));
        state.transferState.store(TransferDone, std::memory_order_relaxed);
    }
    state.transferStarted = 0;
}

void Protocol::OnConnectionLost() {
    ReleaseTransferFile();
    state.autoListing.store(0, std::memory_order_relaxed);
    // A stop that was asked for or sent belonged to the transfer just cut;
    // left standing it would cut the next, unrelated one.
    state.stopFlag.store(0, std::memory_order_relaxed);
}

// ---- Operations started by the user ---------------------------------------

int Protocol::StartListing() {
    if (host_.Codec().ToAnsi(RemoteFolderPath()).size() > static_cast<std::size_t>(kMaxPathBytes))
        return kRequestTooLong;
    host_.ClearRemotePane();
    SetOperationState(CallDIR, true);
    return SendListingRequest();
}

int Protocol::StartCopyTo(u16view source, u16view destinationOnPeer) {
    std::string dest = host_.Codec().ToAnsi(destinationOnPeer);
    if (source.empty() || source.size() > static_cast<std::size_t>(kMaxPathBytes) ||
        dest.size() > static_cast<std::size_t>(kMaxRequestPathBytes))
        return kRequestTooLong;
    CopyBounded<char16_t>(state.sourceName, kPathUnits, source);
    state.blockCounter.store(0, std::memory_order_relaxed);
    SetOperationState(CallCopyTO, true);
    std::string message = "FD" + dest;
    return SendFrame(message.data(), static_cast<int32_t>(message.size()));
}

int Protocol::StartCopyFrom(u16view sourceOnPeer, u16view destination) {
    std::string source = host_.Codec().ToAnsi(sourceOnPeer);
    std::string dest = host_.Codec().ToAnsi(destination);
    if (source.size() > static_cast<std::size_t>(kMaxRequestPathBytes) || dest.empty() ||
        dest.size() > static_cast<std::size_t>(kMaxPathBytes))
        return kRequestTooLong;
    CopyBounded<char>(state.destName, kPathUnits, dest);
    state.transferStarted = 0;
    SetOperationState(CallCopyFrom, true);
    std::string message = "FC" + source;
    return SendFrame(message.data(), static_cast<int32_t>(message.size()));
}

int Protocol::StartCreateFolder(u16view pathOnPeer) {
    std::string path = host_.Codec().ToAnsi(pathOnPeer);
    if (path.size() > static_cast<std::size_t>(kMaxPathBytes)) return kRequestTooLong;
    host_.ClearRemotePane();
    SetOperationState(FolderTO, true);
    std::string message = "CD" + path;
    return SendFrame(message.data(), static_cast<int32_t>(message.size()));
}

int Protocol::SendCut() { return SendFrame("CUT", 3); }

// ---- Receiving ------------------------------------------------------------

void Protocol::Receive(const char* data, int32_t length) {
    std::memset(state.recvBuf, 0, sizeof state.recvBuf);
    if (data == nullptr || length < 0) length = 0;
    if (length > kMaxMessageBytes) length = kMaxMessageBytes;
    std::memcpy(state.recvBuf, data == nullptr ? "" : data, static_cast<std::size_t>(length));
    state.recvLength = length;
    DispatchReceived();
}

void Protocol::DispatchReceived() {
    // Work on a copy: the buffer belongs to the receive loop, and whatever
    // length it reports, nothing past the 1024 received bytes is read.
    Message m;
    m.length = state.recvLength;
    if (m.length < 0) m.length = 0;
    if (m.length > kMaxMessageBytes) m.length = kMaxMessageBytes;
    std::memcpy(m.bytes, state.recvBuf, static_cast<std::size_t>(m.length));
    m.textLength = static_cast<int32_t>(BoundedLength(m.bytes, static_cast<std::size_t>(m.length)));

    if (state.monitorRecording.load(std::memory_order_relaxed) == 1) {
        std::lock_guard<std::mutex> guard(lock_);
        RecordInRing(state.recvRing, state.recvRingPos, m.bytes, kRingSlotBytes, kReadEndMarker);
    }
    if (StartsWith(m.bytes, "NAK")) {
        SetOperationState(Waiting, false);
        ReleaseTransferFile();
        ForgetSentStop();
        return;
    }
    switch (OperationStateNow()) {
        case Waiting: DispatchWaiting(m); break;
        case CallDIR: DispatchCallDir(m); break;
        case RequestDIR: DispatchRequestDir(m); break;
        case CallCopyTO: DispatchSending(m, BlockKind::FR); break;
        case RequestCopyFrom: DispatchSending(m, BlockKind::FB); break;
        case RequestCopyTO: DispatchReceiving(m, BlockKind::FR); break;
        case CallCopyFrom: DispatchReceiving(m, BlockKind::FB); break;
        case FolderTO: DispatchFolderTo(m); break;
        default: Refuse(); break;  // FolderFrom, StopTO, StopFrom
    }
}

void Protocol::DispatchWaiting(const Message& m) {
    const char* b = m.bytes;
    const int32_t pathLength = m.textLength - 2;
    const std::string_view path(b + 2, pathLength > 0 ? static_cast<std::size_t>(pathLength) : 0);

    if (StartsWith(b, "DD") && m.textLength > 4) {
        if (pathLength > kMaxPathBytes) return Refuse();
        u16 folder = host_.Codec().FromAnsi(path);
        if (folder.size() > static_cast<std::size_t>(kMaxPathBytes)) return Refuse();
        BuildDirectoryTable(folder);
        SetOperationState(RequestDIR, true);
        state.dirSendIndex.store(0, std::memory_order_relaxed);
        SendNextTableEntry();
        return;
    }
    if (StartsWith(b, "FD") && m.textLength > 4) {
        if (pathLength > kMaxPathBytes) return Refuse();
        CopyBounded<char>(state.requestName, kPathUnits, path);
        state.transferStarted = 0;
        SendFrame("ACK", 3);
        SetOperationState(RequestCopyTO, true);
        return;
    }
    if (StartsWith(b, "FC") && m.textLength > 4) {
        if (pathLength > kMaxPathBytes) return Refuse();
        u16 source = host_.Codec().FromAnsi(path);
        if (source.size() > static_cast<std::size_t>(kMaxPathBytes)) return Refuse();
        CopyBounded<char>(state.requestName, kPathUnits, path);
        CopyBounded<char16_t>(state.sourceName, kPathUnits, source);
        SetOperationState(RequestCopyFrom, true);
        state.blockCounter.store(0, std::memory_order_relaxed);
        int result = SendFileBlock(BlockKind::FB, 0);
        if (result == kBlockSent) {
            state.blockCounter.store(1, std::memory_order_relaxed);
        } else if (result == kBlockEndSent) {
            // An empty file: its end record is the whole copy.
            SetOperationState(Waiting, true);
        } else {
            SendFrame("NAK", 3);
            SetOperationState(Waiting, true);
        }
        return;
    }
    if (StartsWith(b, "CD") && m.textLength > 2) {
        // The bytes up to the first NUL are what CreateDirectoryW would see.
        if (pathLength > kMaxPathBytes) return Refuse();
        u16 folder = host_.Codec().FromAnsi(path);
        if (folder.size() > static_cast<std::size_t>(kMaxPathBytes)) return Refuse();
        SetOperationState(FolderFrom, true);
        host_.CreateFolder(folder);
        SendFrame("ACK", 3);
        SetOperationState(Waiting, true);
        return;
    }
    if (StartsWith(b, "PW") && m.textLength > 2) {
        CheckLoginMessage(m.bytes, m.length);
        return;
    }
    if (StartsWith(b, "CUT") && m.textLength == 3) {
        if (state.serverMode.load(std::memory_order_relaxed) == 1) return Refuse();
        host_.ArmCloseTimer(kClientCloseDelayMs);
        return;
    }
    Refuse();
}

void Protocol::DispatchCallDir(const Message& m) {
    if (StartsWith(m.bytes, "DR999999")) {
        SetOperationState(Waiting, true);
        return;
    }
    if (StartsWith(m.bytes, "DR") && m.textLength > 11) {
        int32_t number = ParseHeaderNumber(m.bytes + 2);
        if (number < 0) return Refuse();
        state.lastRecordNumber.store(number, std::memory_order_relaxed);
        if (AddRemoteRow(m.bytes + kBlockHeaderBytes, m.textLength - kBlockHeaderBytes)) {
            SendFrame("ACK", 3);
        } else {
            Refuse();
        }
        return;
    }
    Refuse();
}

void Protocol::SendNextTableEntry() {
    int32_t index = state.dirSendIndex.load(std::memory_order_relaxed);
    int32_t count = state.dirCount.load(std::memory_order_relaxed);
    if (index < 0 || index >= count || index >= kDirSlots) return;
    char entry[kDirSlotBytes];
    {
        std::lock_guard<std::mutex> guard(lock_);
        std::memcpy(entry, state.dirTable[index], sizeof entry);
    }
    SendFrame(entry, static_cast<int32_t>(BoundedLength(entry, sizeof entry)));
    state.dirSendIndex.store(index + 1, std::memory_order_relaxed);
    if (index + 1 == count) FinishListing();
}

void Protocol::FinishListing() {
    // The end record has gone out and is not answered.
    SetOperationState(Waiting, true);
    if (state.serverMode.load(std::memory_order_relaxed) == 1 &&
        state.autoListing.load(std::memory_order_relaxed) == 0) {
        // The Server lists the Client's folder once per peer, after the
        // Client's own first listing.
        host_.SleepMs(kAutoListingDelayMs);
        host_.ClearRemotePane();
        SetOperationState(CallDIR, true);
        SendListingRequest();
        state.autoListing.store(1, std::memory_order_relaxed);
    }
}

void Protocol::DispatchRequestDir(const Message& m) {
    if (!StartsWith(m.bytes, "ACK")) return Refuse();
    SendNextTableEntry();
}

void Protocol::DispatchSending(const Message& m, BlockKind kind) {
    if (!StartsWith(m.bytes, "ACK")) return Refuse();
    switch (state.stopFlag.load(std::memory_order_relaxed)) {
        case 2:
            state.stopFlag.store(0, std::memory_order_relaxed);
            SetOperationState(Waiting, true);
            return;
        case 1:
            SendFrame(kind == BlockKind::FR ? "FRDTSTOP" : "FBDTSTOP", 8);
            state.stopFlag.store(2, std::memory_order_relaxed);
            SendFileBlock(kind, -1);
            return;
        default:
            break;
    }
    int result = SendFileBlock(kind, state.blockCounter.load(std::memory_order_relaxed));
    if (result == kBlockSent) {
        state.blockCounter.fetch_add(1, std::memory_order_relaxed);
    } else if (result == kBlockEndSent) {
        SetOperationState(Waiting, true);
    } else {
        if (kind == BlockKind::FR) SendFrame("NAK", 3);
        SetOperationState(Waiting, true);
    }
}

void Protocol::DispatchReceiving(const Message& m, BlockKind kind) {
    const bool fr = kind == BlockKind::FR;
    const char* name = fr ? state.requestName : state.destName;
    const std::string_view ansiName(name, BoundedLength(name, kPathUnits));
    const char* b = m.bytes;

    if (StartsWith(b, fr ? "FRDTSTOP" : "FBDTSTOP") && m.length > 7) {
        // Stopped: the half-received file is dropped, an older final file stays.
        ReleaseTransferFile();
        SetOperationState(Waiting, true);
        SendFrame("ACK", 3);
        return;
    }
    if (StartsWith(b, fr ? "FR999999" : "FB999999") && m.length > 7) {
        WriteFileBlock(ansiName, b + kBlockHeaderBytes, m.length - kBlockHeaderBytes, kEndBlockNumber);
        SetOperationState(Waiting, true);
        return;
    }
    if (StartsWith(b, fr ? "FR" : "FB") && m.length > 7) {
        int32_t number = ParseHeaderNumber(b + 2);
        if (number < 0) return Refuse();
        if (WriteFileBlock(ansiName, b + kBlockHeaderBytes, m.length - kBlockHeaderBytes, number) == 1) {
            SendFrame("ACK", 3);
        } else {
            Refuse();
        }
        return;
    }
    Refuse();
}

void Protocol::DispatchFolderTo(const Message& m) {
    if (!StartsWith(m.bytes, "ACK")) return;  // ignored until the answer comes
    SetOperationState(Waiting, true);
    host_.ClearRemotePane();
    SetOperationState(CallDIR, true);
    SendListingRequest();
}

// ---- Window-side access -----------------------------------------------------

void Protocol::SetRemoteFolderPath(u16view path) {
    std::lock_guard<std::mutex> guard(lock_);
    CopyBounded<char16_t>(state.remoteFolder, kPathUnits, path);
}

u16 Protocol::RemoteFolderPath() const {
    std::lock_guard<std::mutex> guard(lock_);
    return u16(state.remoteFolder, BoundedLength(state.remoteFolder, kPathUnits));
}

void Protocol::CopySendRing(char out[kRingSlots][kRingSlotBytes]) const {
    std::lock_guard<std::mutex> guard(lock_);
    std::memcpy(out, state.sendRing, sizeof state.sendRing);
}

void Protocol::CopyReceiveRing(char out[kRingSlots][kRingSlotBytes]) const {
    std::lock_guard<std::mutex> guard(lock_);
    std::memcpy(out, state.recvRing, sizeof state.recvRing);
}

void Protocol::CopyDirectoryTable(char out[kDirSlots][kDirSlotBytes]) const {
    std::lock_guard<std::mutex> guard(lock_);
    std::memcpy(out, state.dirTable, sizeof state.dirTable);
}

}  // namespace quorbel
