// File blocks: the sender reads the source 1000 bytes per acknowledgement,
// the receiver writes them into a temporary file and, at the end record,
// gives it the sender's times and its final name.
#include <cstdio>
#include <cstring>

#include "core/protocol.h"
#include "core/protocol_internal.h"

namespace quorbel {

namespace {

const char* KindText(BlockKind kind) { return kind == BlockKind::FR ? "FR" : "FB"; }

void PutLittleEndian32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint32_t GetLittleEndian32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

u16 TemporaryName(u16view finalName) {
    std::size_t dot = finalName.rfind(u'.');
    u16 base(dot == u16view::npos ? finalName : finalName.substr(0, dot));
    return base + u".$TEMP";
}

uint64_t BlockCountForSize(uint64_t size) {
    return size / kBlockDataBytes + (size % kBlockDataBytes != 0 ? 1 : 0);
}

bool TransferSizeAllowed(uint64_t size) { return size <= kMaxTransferBytes; }

std::string EncodeFileBlock(BlockKind kind, int32_t n, const char* data, std::size_t count) {
    char header[16];
    std::snprintf(header, sizeof header, "%s%06d", KindText(kind), static_cast<int>(n));
    std::string out(header);
    if (count > static_cast<std::size_t>(kBlockDataBytes)) count = kBlockDataBytes;
    if (data != nullptr) out.append(data, count);
    return out;
}

std::string EncodeEndRecord(BlockKind kind, const FileTimes& times) {
    std::string out = std::string(KindText(kind)) + "999999";
    for (uint64_t t : {times.creation, times.lastAccess, times.lastWrite}) {
        PutLittleEndian32(out, static_cast<uint32_t>(t));
        PutLittleEndian32(out, static_cast<uint32_t>(t >> 32));
    }
    return out;
}

FileTimes ParseEndRecordTimes(const char* data, std::size_t count) {
    unsigned char raw[24] = {};
    if (data != nullptr) std::memcpy(raw, data, count < sizeof raw ? count : sizeof raw);
    auto at = [&](int i) {
        return uint64_t(GetLittleEndian32(raw + 8 * i)) | uint64_t(GetLittleEndian32(raw + 8 * i + 4)) << 32;
    };
    FileTimes t;
    t.creation = at(0);
    t.lastAccess = at(1);
    t.lastWrite = at(2);
    return t;
}

int32_t ParseHeaderNumber(const char* sixBytes) {
    int32_t value = 0;
    for (int i = 0; i < 6; ++i) {
        char c = sixBytes[i];
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

int Protocol::SendFileBlock(BlockKind kind, int32_t n) {
    std::atomic<int32_t>& fileState = state.transferState;
    auto closeIfOpen = [&] {
        if (fileState.load(std::memory_order_relaxed) == TransferOpen) host_.CloseTransfer();
    };

    if (n == 0) {
        // A file left open by an earlier transfer would stay locked.
        ReleaseTransferFile();
        uint64_t size = 0;
        u16view source(state.sourceName, BoundedLength(state.sourceName, kPathUnits));
        if (source.empty() || !host_.OpenTransferForRead(source, size)) {
            fileState.store(TransferClosed, std::memory_order_relaxed);
            return kBlockFailed;
        }
        state.transferWriting = 0;
        fileState.store(TransferOpen, std::memory_order_relaxed);
        if (!TransferSizeAllowed(size)) {
            if (OperationStateNow() == CallCopyTO) host_.ShowMessage(u"953Mbyteは出来ません", u"SizeOver");
            host_.CloseTransfer();
            fileState.store(TransferClosed, std::memory_order_relaxed);
            return kBlockFailed;
        }
    }
    if (n == -1) {
        closeIfOpen();
        if (fileState.load(std::memory_order_relaxed) == TransferOpen)
            fileState.store(TransferDone, std::memory_order_relaxed);
        return kBlockFailed;
    }
    if (n < 0 || n > kLastDataBlockNumber) {
        // Outside the six digits of a data block: never put on the wire.
        closeIfOpen();
        fileState.store(TransferFailed, std::memory_order_relaxed);
        return kBlockFailed;
    }
    // Nothing to send from a file that is not open (never opened, or its
    // end already went out).
    if (fileState.load(std::memory_order_relaxed) != TransferOpen) return kBlockFailed;

    char data[kBlockDataBytes] = {};
    const int32_t got = host_.ReadTransfer(data, kBlockDataBytes);
    if (got < 0 || got > kBlockDataBytes) {
        host_.CloseTransfer();
        fileState.store(TransferFailed, std::memory_order_relaxed);
        return kBlockFailed;
    }
    std::string message;
    if (got == 0) {
        FileTimes times;
        if (!host_.GetTransferTimes(times)) times = FileTimes{};
        message = EncodeEndRecord(kind, times);
    } else {
        message = EncodeFileBlock(kind, n, data, static_cast<std::size_t>(got));
    }
    // Blocks are not recorded in the send ring.
    const int error = host_.SendBytes(message.data(), message.size());
    if (error != 0) {
        ShowSendError(error, message.data(), message.size());
        host_.CloseTransfer();
        fileState.store(TransferFailed, std::memory_order_relaxed);
        return kBlockFailed;
    }
    if (got > 0) return kBlockSent;
    host_.CloseTransfer();
    fileState.store(TransferDone, std::memory_order_relaxed);
    return kBlockEndSent;
}

bool Protocol::SetReceiveNames(std::string_view ansiName) {
    u16 finalName = host_.Codec().FromAnsi(ansiName);
    u16 temp = TemporaryName(finalName);
    if (finalName.empty() || finalName.size() > static_cast<std::size_t>(kMaxPathBytes) ||
        temp.size() > static_cast<std::size_t>(kMaxPathBytes))
        return false;
    CopyBounded<char16_t>(state.finalName, kPathUnits, finalName);
    CopyBounded<char16_t>(state.tempName, kPathUnits, temp);
    return true;
}

bool Protocol::FinishReceivedFile(const FileTimes& times) {
    host_.SetTransferTimes(times);
    host_.CloseTransfer();
    u16view finalName(state.finalName, BoundedLength(state.finalName, kPathUnits));
    u16view temp(state.tempName, BoundedLength(state.tempName, kPathUnits));
    // Until here an older file of the final name was untouched.
    host_.RemoveFile(finalName);
    bool moved = host_.RenameFile(temp, finalName);
    state.transferState.store(TransferDone, std::memory_order_relaxed);
    return moved;
}

bool Protocol::CreateEmptyReceivedFile(std::string_view ansiName, const FileTimes& times) {
    ReleaseTransferFile();
    if (!SetReceiveNames(ansiName)) return false;
    if (!host_.CreateTransferForWrite(u16view(state.tempName, BoundedLength(state.tempName, kPathUnits)))) {
        state.transferState.store(TransferClosed, std::memory_order_relaxed);
        return false;
    }
    state.transferWriting = 1;
    state.transferState.store(TransferOpen, std::memory_order_relaxed);
    return FinishReceivedFile(times);
}

int Protocol::WriteFileBlock(std::string_view ansiName, const char* data, int32_t count, int32_t n) {
    std::atomic<int32_t>& fileState = state.transferState;
    if (data == nullptr || count < 0) count = 0;
    ansiName = ansiName.substr(0, BoundedLength(ansiName.data(), ansiName.size()));

    if (n == kEndBlockNumber) {
        FileTimes times = ParseEndRecordTimes(data, static_cast<std::size_t>(count));
        if (!state.transferStarted) {
            // No block came in this transfer: the source was empty.
            CreateEmptyReceivedFile(ansiName, times);
        } else if (fileState.load(std::memory_order_relaxed) == TransferOpen) {
            FinishReceivedFile(times);
        }
        state.transferStarted = 0;
        return 0;
    }
    if (n < 0 || n > kLastDataBlockNumber) return 0;

    if (n == 0) {
        ReleaseTransferFile();
        state.transferStarted = 1;
        if (!SetReceiveNames(ansiName) ||
            !host_.CreateTransferForWrite(u16view(state.tempName, BoundedLength(state.tempName, kPathUnits)))) {
            fileState.store(TransferClosed, std::memory_order_relaxed);
            return 0;
        }
        state.transferWriting = 1;
        fileState.store(TransferOpen, std::memory_order_relaxed);
    }
    if (fileState.load(std::memory_order_relaxed) != TransferOpen || !state.transferWriting) return 0;
    if (count > 0 && !host_.WriteTransfer(data, count)) {
        // The partial temporary file stays on disk, closed.
        host_.CloseTransfer();
        fileState.store(TransferFailed, std::memory_order_relaxed);
        return 0;
    }
    return 1;
}

}  // namespace quorbel
