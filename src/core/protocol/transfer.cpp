// File blocks: the sender reads its file one block per acknowledgement, the
// receiver writes the blocks into a temporary file and, at the end record,
// gives it the sender's times and its final name.
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <string>

#include "core/protocol/protocol.h"
#include "core/protocol/wire.h"

namespace quorbel {

namespace {

// "FR"/"FB" and the six-digit block number into out[0..7].
void PutBlockHeader(char* out, bool fr, int32_t number) {
    char header[16];
    std::snprintf(header, sizeof header, "%s%06d", WordText(BlockKind(fr)).c_str(), static_cast<int>(number));
    std::memcpy(out, header, kBlockHeaderBytes);
}

// "FR999999"/"FB999999" and the three times into out (32 bytes).
void PutEndRecord(char* out, bool fr, const FileTimes& times) {
    const std::string_view word = Word(EndKind(fr));
    std::memcpy(out, word.data(), word.size());
    int i = 0;
    for (uint64_t t : {times.creation, times.lastAccess, times.lastWrite}) {
        PutLittleEndian32(out + 8 + 8 * i, static_cast<uint32_t>(t));
        PutLittleEndian32(out + 12 + 8 * i, static_cast<uint32_t>(t >> 32));
        ++i;
    }
}

constexpr std::size_t kEndRecordBytes = kBlockHeaderBytes + 24;
constexpr int32_t kLastDataBlock = kEndBlockNumber - 1;

}  // namespace

u16 TemporaryName(u16view finalName, int attempt) {
    // Only the file's own name is looked at: a dot in a folder's name would
    // put the file beside its folder under another name.
    const std::size_t slash = finalName.rfind(u'\\');
    const std::size_t dot = finalName.rfind(u'.');
    const bool ownDot = dot != u16view::npos && (slash == u16view::npos || dot > slash);
    u16 name(ownDot ? finalName.substr(0, dot) : finalName);
    if (attempt > 0) {
        for (char c : "~" + std::to_string(attempt)) name.push_back(static_cast<char16_t>(c));
    }
    return name + u".$TEMP";
}

std::string EncodeEndRecord(bool fr, const FileTimes& times) {
    std::string out(kEndRecordBytes, '\0');
    PutEndRecord(out.data(), fr, times);
    return out;
}

FileTimes ParseEndRecordTimes(const char* data, std::size_t count) {
    char raw[24] = {};
    std::memcpy(raw, data, count < sizeof raw ? count : sizeof raw);
    auto at = [&](int i) {
        return uint64_t(GetLittleEndian32(raw + 8 * i)) | uint64_t(GetLittleEndian32(raw + 8 * i + 4)) << 32;
    };
    return FileTimes{at(0), at(1), at(2)};
}

int32_t ParseHeaderNumber(const char* sixBytes) {
    int32_t value = 0;
    for (int i = 0; i < 6; ++i) {
        const char c = sixBytes[i];
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

int64_t BlockReader::Fill(FileStore& files, char* buffer, std::size_t maxBytes) {
    std::size_t copied = 0;
    while (copied < maxBytes) {
        if (pos_ < length_) {
            const std::size_t n = std::min(length_ - pos_, maxBytes - copied);
            std::memcpy(buffer + copied, ahead_.data() + pos_, n);
            pos_ += n;
            copied += n;
            continue;
        }
        if (end_) break;
        const bool straight = maxBytes - copied >= kReadAheadBytes;
        if (!straight && ahead_.empty()) ahead_.resize(kReadAheadBytes);
        char* into = straight ? buffer + copied : ahead_.data();
        const int64_t got = files.ReadTransfer(into, straight ? maxBytes - copied : kReadAheadBytes);
        if (got < 0 || uint64_t(got) > (straight ? maxBytes - copied : kReadAheadBytes)) return -1;
        if (got == 0) end_ = true;
        else if (straight) copied += std::size_t(got);
        else pos_ = 0, length_ = std::size_t(got);
    }
    return int64_t(copied);
}

// ---- Sending -----------------------------------------------------------------

std::size_t Protocol::BlockBytes() const { return FastMode() ? kFastBlockBytes : kPlainBlockBytes; }

bool Protocol::OpenSource() {
    // A file left open by an earlier transfer would stay locked.
    ReleaseTransferFile();
    u16 source;
    {
        std::lock_guard<std::mutex> guard(lock_);
        source = transfer_.source;
    }
    uint64_t size = 0;
    if (source.empty() || !files_.OpenTransferForRead(source, size)) return false;
    transfer_.mode = TransferFile::Mode::Reading;
    if (size > MaxCopyBytes()) {
        // Only the user who started the copy is told; the peer gets "NAK".
        if (OperationState() == CallCopyTO) {
            const BoxText& box = FastMode() ? texts::kSendTooLargeFast : texts::kSendTooLarge;
            seat_.ShowMessage(box.text, box.caption);
        }
        ReleaseTransferFile();
        return false;
    }
    return true;
}

int64_t Protocol::ReadAhead() {
    // The frame header (fast mode), the block header, then the data read
    // straight into place: one buffer for every block of the transfer.
    const std::size_t room = BlockBytes();
    if (transfer_.buffer.size() < kFrameHeaderBytes + kBlockHeaderBytes + room)
        transfer_.buffer.resize(kFrameHeaderBytes + kBlockHeaderBytes + room);
    return transfer_.reader.Fill(files_, transfer_.buffer.data() + kFrameHeaderBytes + kBlockHeaderBytes, room);
}

BlockSent Protocol::SendNextBlock(bool fr) {
    const int32_t number = step_.load();
    const int64_t got = transfer_.ahead != TransferFile::kNothingAhead ? transfer_.ahead : ReadAhead();
    transfer_.ahead = TransferFile::kNothingAhead;
    if (transfer_.mode != TransferFile::Mode::Reading || number < 0 || number > kLastDataBlock || got < 0) {
        ReleaseTransferFile();
        return BlockSent::Failed;
    }
    char* message = transfer_.buffer.data() + kFrameHeaderBytes;
    std::size_t length;
    if (got == 0) {
        FileTimes times;
        if (!files_.GetTransferTimes(times)) times = FileTimes{};
        PutEndRecord(message, fr, times);
        length = kEndRecordBytes;
    } else {
        PutBlockHeader(message, fr, number);
        length = kBlockHeaderBytes + std::size_t(got);
    }
    // Blocks are not recorded in the send ring.
    int error;
    if (FastMode()) {
        PutFrameHeader(transfer_.buffer.data(), static_cast<uint32_t>(length));
        error = link_.SendBytes(transfer_.buffer.data(), kFrameHeaderBytes + length);
    } else {
        error = link_.SendBytes(message, length);
    }
    if (error != 0) {
        ShowSendError(error, message, length);
        ReleaseTransferFile();
        return BlockSent::Failed;
    }
    transferred_.fetch_add(uint64_t(got));
    if (got == 0) {
        ReleaseTransferFile();
        return BlockSent::End;
    }
    // The next block is read while the peer takes this one in.
    transfer_.ahead = ReadAhead();
    return BlockSent::Block;
}

// ---- Receiving -----------------------------------------------------------------

bool Protocol::BeginReceiving(u16view finalName) {
    ReleaseTransferFile();
    if (finalName.empty()) return false;
    // A file of the user's that has the temporary name is never taken over.
    for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
        const u16 temp = TemporaryName(finalName, attempt);
        if (finalName.size() > kMaxPath || temp.size() > kMaxPath) return false;
        if (files_.CreateTransferForWrite(temp)) {
            transfer_.tempName = temp;
            transfer_.mode = TransferFile::Mode::Writing;
            return true;
        }
        if (!files_.FileExists(temp)) return false;
    }
    return false;
}

bool Protocol::WriteBlock(const char* data, std::size_t count, int32_t number) {
    if (number == 0) {
        u16 name;
        {
            std::lock_guard<std::mutex> guard(lock_);
            name = transfer_.finalName;
        }
        const bool created = BeginReceiving(name);
        transfer_.blockArrived = true;
        if (!created) return false;
    }
    if (number < 0 || number > kLastDataBlock || transfer_.mode != TransferFile::Mode::Writing) return false;
    if (count > 0 && !files_.WriteTransfer(data, count)) {
        // Nothing of a file that could not be written stays behind.
        ReleaseTransferFile();
        return false;
    }
    transferred_.fetch_add(count);
    return true;
}

void Protocol::FinishReceiving(const char* timeBytes, std::size_t count) {
    const FileTimes times = ParseEndRecordTimes(timeBytes, count);
    u16 finalName;
    {
        std::lock_guard<std::mutex> guard(lock_);
        finalName = transfer_.finalName;
    }
    Outcome outcome = Outcome::Failed;
    if (!transfer_.blockArrived) {
        // No block came: the source was empty, or, from a plain peer, lost
        // (such a peer sends the end record alone for it), so a file of that
        // name is kept. A program of ours refuses a lost source instead: its
        // end record alone is an empty file.
        if (!FastMode() && files_.FileExists(finalName)) {
            outcome = Outcome::Kept;
        } else if (BeginReceiving(finalName)) {
            transfer_.blockArrived = true;
        }
    }
    if (transfer_.blockArrived && transfer_.mode == TransferFile::Mode::Writing) {
        const bool timed = files_.SetTransferTimes(times);
        files_.CloseTransfer();
        transfer_.mode = TransferFile::Mode::Closed;
        // Until here an older file of the final name was untouched.
        if (timed && files_.ReplaceFile(transfer_.tempName, finalName)) outcome = Outcome::Done;
        else files_.RemoveFile(transfer_.tempName);
    }
    ReleaseTransferFile();
    // The sender reports the copy done only on this answer.
    if (EndRecordAnswered()) SendWord(outcome == Outcome::Done ? Kind::Ack : Kind::Nak);
    End(outcome, true);
}

void Protocol::ReleaseTransferFile() {
    transfer_.ahead = TransferFile::kNothingAhead;
    transfer_.reader.Reset();
    if (transfer_.mode != TransferFile::Mode::Closed) {
        files_.CloseTransfer();
        if (transfer_.mode == TransferFile::Mode::Writing) files_.RemoveFile(transfer_.tempName);
        transfer_.mode = TransferFile::Mode::Closed;
    }
    transfer_.blockArrived = false;
}

}  // namespace quorbel
