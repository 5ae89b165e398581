// File blocks: the sender reads its file one block per acknowledgement, the
// receiver writes the blocks into a temporary file and, at the end record,
// gives it the sender's times and its final name.
#include <cstdio>
#include <algorithm>
#include <chrono>
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

constexpr std::string_view kNoteStart = "quorbel partial ";
constexpr std::size_t kHashHexBytes = PartHash::kHexDigits;

// Digits only, within 64 bits.
bool ParseDecimal(std::string_view text, uint64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = uint64_t(c - '0');
        if (v > (UINT64_MAX - digit) / 10) return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

// The next field up to `separator` (or the end), taken off `text`.
std::string_view TakeField(std::string_view& text, char separator) {
    const std::size_t at = text.find(separator);
    const std::string_view field = text.substr(0, at);
    text = at == std::string_view::npos ? std::string_view() : text.substr(at + 1);
    return field;
}

bool IsHashHex(std::string_view text) {
    if (text.size() != kHashHexBytes) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void BlockWindow::Start(bool windowed) {
    *this = BlockWindow();
    windowed_ = windowed;
    limit_ = windowed ? kFirstLimit : 1;
}

void BlockWindow::Sent(int64_t nowUs) {
    if (inFlight_ >= kMaxBlocksInFlight) return;
    sentUs_[(oldest_ + inFlight_) % kMaxBlocksInFlight] = nowUs;
    ++inFlight_;
}

void BlockWindow::Answered(int64_t nowUs) {
    if (inFlight_ == 0) return;
    const int64_t took = nowUs - sentUs_[oldest_];
    oldest_ = (oldest_ + 1) % kMaxBlocksInFlight;
    --inFlight_;
    if (!windowed_) return;
    // The fastest answer is the one that waited behind no other block: the
    // round trip and one block's time on the way and on the disk.
    if (fastestAnswerUs_ < 0 || took < fastestAnswerUs_) fastestAnswerUs_ = took;
    if (lastAnswerUs_ >= 0) {
        const int64_t gap = nowUs - lastAnswerUs_;
        gapUs_ = gapUs_ < 0 ? gap : (7 * gapUs_ + gap) / 8;
    }
    lastAnswerUs_ = nowUs;
    if (gapUs_ > 0) {
        const int64_t cover = (fastestAnswerUs_ + gapUs_ - 1) / gapUs_ + 1;
        limit_ = int(std::clamp<int64_t>(cover, kFirstLimit, kMaxBlocksInFlight));
    }
}

int BlockWindow::Forget() {
    const int blocks = inFlight_;
    inFlight_ = 0;
    return blocks;
}

u16 PartialName(u16view finalName) { return u16(finalName) + u".$PART"; }
u16 PartialNoteName(u16view finalName) { return u16(finalName) + u".$PARTID"; }

std::string EncodePartialNote(uint64_t size, uint64_t lastWrite) {
    return std::string(kNoteStart) + std::to_string(size) + " " + std::to_string(lastWrite) + "\n";
}

bool ParsePartialNote(std::string_view text, uint64_t& size, uint64_t& lastWrite) {
    if (text.substr(0, kNoteStart.size()) != kNoteStart || text.empty() || text.back() != '\n') return false;
    text = text.substr(kNoteStart.size(), text.size() - kNoteStart.size() - 1);
    const std::string_view first = TakeField(text, ' ');
    return ParseDecimal(first, size) && ParseDecimal(text, lastWrite);
}

std::string EncodeSourceInfo(const SourceInfo& info) {
    std::string out = std::to_string(info.size) + "," + std::to_string(info.lastWrite);
    if (info.hasPrefix) out += "," + std::to_string(info.prefixBytes) + "," + info.prefixHash;
    return out;
}

bool ParseSourceInfo(std::string_view text, SourceInfo& info) {
    info = SourceInfo{};
    if (!ParseDecimal(TakeField(text, ','), info.size) || !ParseDecimal(TakeField(text, ','), info.lastWrite))
        return false;
    if (text.data() == nullptr) return true;
    info.hasPrefix = true;
    if (!ParseDecimal(TakeField(text, ','), info.prefixBytes)) return false;
    if (!text.empty() && !IsHashHex(text)) return false;
    info.prefixHash.assign(text);
    return true;
}

std::string EncodeResumePoint(uint64_t bytes) { return WordText(Kind::Ack) + '\0' + std::to_string(bytes); }

bool ParseResumePoint(const char* data, std::size_t length, uint64_t& bytes) {
    const std::size_t word = Word(Kind::Ack).size();
    // "ACK" alone: from the first byte.
    bytes = 0;
    return length == word || (length > word + 1 && data[word] == '\0' &&
                              ParseDecimal(std::string_view(data + word + 1, length - word - 1), bytes));
}

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
    transfer_.window.Start(Agreed().blocksInFlight);
    transfer_.info = SourceInfo{};
    transfer_.info.size = size;
    copySize_.store(size);
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
    // straight into place, and room for a sealed frame's tag: one buffer
    // for every block of the transfer.
    const std::size_t room = BlockBytes();
    const std::size_t whole = kFrameHeaderBytes + kBlockHeaderBytes + room + SecureSession::kTagBytes;
    if (transfer_.buffer.size() < whole) transfer_.buffer.resize(whole);
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
        error = SendInFrame(transfer_.buffer.data(), length);
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
    transfer_.window.Sent(NowUs());
    // The next block is read while the peer takes this one in.
    transfer_.ahead = ReadAhead();
    return BlockSent::Block;
}

bool Protocol::SendWhole(u16view source, bool fr, uint64_t& size) {
    if (!files_.OpenTransferForRead(source, size)) return false;
    // One byte more than a block tells a file that grew past it.
    const std::size_t whole = kFrameHeaderBytes + kBlockHeaderBytes + kFastBlockBytes + 1 + SecureSession::kTagBytes;
    if (transfer_.buffer.size() < whole) transfer_.buffer.resize(whole);
    char* const message = transfer_.buffer.data() + kFrameHeaderBytes;
    // The copy before it read its last block: the reader is free.
    transfer_.reader.Reset();
    const int64_t got =
        size <= kFastBlockBytes ? transfer_.reader.Fill(files_, message + kBlockHeaderBytes, kFastBlockBytes + 1) : -1;
    transfer_.reader.Reset();
    FileTimes times;
    const bool readWhole = got >= 0 && uint64_t(got) <= kFastBlockBytes && files_.GetTransferTimes(times);
    files_.CloseTransfer();
    if (!readWhole) return false;
    // A send that fails ends the connection, and the copy with it.
    int error = 0;
    if (got > 0) {
        PutBlockHeader(message, fr, 0);
        error = SendInFrame(transfer_.buffer.data(), kBlockHeaderBytes + std::size_t(got));
    }
    PutEndRecord(message, fr, times);
    if (error == 0) error = SendInFrame(transfer_.buffer.data(), kEndRecordBytes);
    if (error != 0) ShowSendError(error, message, kEndRecordBytes);
    size = uint64_t(got);
    return true;
}

void Protocol::AwaitAnswers(int answers, uint64_t size) {
    // The window counts the answers before the end record's, as blocks in flight.
    transfer_.window.Start(true);
    for (int i = 0; i < answers; ++i) transfer_.window.Sent(NowUs());
    step_.store(size > 0 ? 1 : 0);
    transferred_.store(size);
    copySize_.store(size);
    endSent_ = true;
}

void Protocol::ServeAhead() {
    if (!Agreed().smallFilesWhole || OperationState() != RequestCopyFrom || !endSent_ || servedAhead_ || !held_ ||
        Classify(held_->data(), held_->size()) != Kind::SendFile)
        return;
    // What would refuse it is left to its turn, as is a larger file.
    const std::string_view ansi(held_->data() + 2, BoundedLength(held_->data(), held_->size()) - 2);
    const u16 path = link_.Codec().FromAnsi(ansi);
    uint64_t size = 0;
    if (!Serving() || !Serves(Kind::SendFile, ansi, path) || !SendWhole(path, false, size))
        return;
    servedAhead_ = ServedAhead{std::move(*held_), path, size};
    held_.reset();
}

void Protocol::BeginServedAhead() {
    ServedAhead ahead = std::move(*servedAhead_);
    servedAhead_.reset();
    {
        std::lock_guard<std::mutex> guard(lock_);
        transfer_.source = ahead.path;
    }
    BeginOperation(Operation::Send, false, ahead.path);
    AwaitAnswers(ahead.size > 0 ? 1 : 0, ahead.size);
    SetState(RequestCopyFrom, true);
    ServeAhead();
}

void Protocol::TakeRefusalOfBlocks() {
    if (!Agreed().stopRecord || OperationState() != RequestCopyFrom || (endSent_ && transfer_.window.InFlight() == 0))
        return;
    // The receiver drops all up to the stop record; a file sent ahead goes
    // again after it, in its turn.
    if (servedAhead_) {
        held_ = std::move(servedAhead_->request);
        servedAhead_.reset();
    }
    SendWord(Kind::StopFrom);
}

BlockSent Protocol::StartBlocks(bool fr) {
    if (!Agreed().resume) return SendNextBlock(fr);
    // A file of one block at most goes at once (fast mode 4): a cut copy
    // of it would save nothing by resuming, and asking costs a round trip
    // a file.
    if (Agreed().smallFilesAtOnce && transfer_.info.size <= kFastBlockBytes) return SendNextBlock(fr);
    // The receiver first hears what the source is, to offer what it kept of it.
    FileTimes times;
    if (!files_.GetTransferTimes(times)) times = FileTimes{};
    transfer_.info.lastWrite = times.lastWrite;
    transfer_.resume = TransferFile::Resume::SourceSent;
    return SendSourceInfo(fr);
}

BlockSent Protocol::SendSourceInfo(bool fr) {
    const std::string message = WordText(SourceKind(fr)) + EncodeSourceInfo(transfer_.info);
    if (SendFrame(message.data(), message.size()) != 0) {
        ReleaseTransferFile();
        return BlockSent::Failed;
    }
    return BlockSent::Source;
}

bool Protocol::HashTransfer(uint64_t bytes, std::string& hex) {
    // Without a hash the digest stays empty, which matches none: the copy
    // starts over, as one that may not resume does.
    const std::unique_ptr<PartHash> hash = files_.NewPartHash();
    hex.clear();
    if (!hash) return true;
    if (transfer_.buffer.size() < kFastBlockBytes) transfer_.buffer.resize(kFastBlockBytes);
    while (bytes > 0) {
        const std::size_t ask = std::size_t(std::min<uint64_t>(bytes, transfer_.buffer.size()));
        const int64_t got = files_.ReadTransfer(transfer_.buffer.data(), ask);
        if (got <= 0 || uint64_t(got) > ask) return false;
        hash->Add(transfer_.buffer.data(), std::size_t(got));
        bytes -= uint64_t(got);
    }
    hex = hash->FinishHex();
    return true;
}

BlockSent Protocol::TakeResumePoint(const char* data, std::size_t length, bool fr) {
    uint64_t point = 0;
    const bool valid = ParseResumePoint(data, length, point);
    if (transfer_.resume == TransferFile::Resume::SourceSent && valid && point <= transfer_.info.size) {
        if (point == 0) {
            transfer_.resume = TransferFile::Resume::None;
            return SendNextBlock(fr);
        }
        // The hash of this side's bytes before the point: the receiver
        // compares it with its own and decides. Read here, they are not
        // read again: the blocks go on from the point.
        SourceInfo& info = transfer_.info;
        info.hasPrefix = true;
        info.prefixBytes = point;
        info.prefixHash.clear();
        if (resumeAllowed_.load() && !HashTransfer(point, info.prefixHash)) {
            ReleaseTransferFile();
            return BlockSent::Failed;
        }
        transfer_.resume = TransferFile::Resume::PrefixSent;
        return SendSourceInfo(fr);
    }
    if (transfer_.resume == TransferFile::Resume::PrefixSent && valid) {
        transfer_.resume = TransferFile::Resume::None;
        if (point != 0 && point == transfer_.info.prefixBytes && !transfer_.info.prefixHash.empty()) {
            resumedAt_.store(point);
            return SendNextBlock(fr);
        }
        // Started over: the file from its first byte.
        if (point == 0 && OpenSource()) return SendNextBlock(fr);
    }
    ReleaseTransferFile();
    return BlockSent::Failed;
}

bool Protocol::TakeBlockAnswer() {
    if (transfer_.window.InFlight() == 0) return false;
    transfer_.window.Answered(NowUs());
    return true;
}

void Protocol::ForgetBlocksInFlight(bool answersCome) {
    const int blocks = transfer_.window.Forget();
    transfer_.owedAnswers = answersCome ? blocks : 0;
}

void Protocol::ExpectStrays() {
    const int32_t state = OperationState();
    if (Agreed().blocksInFlight && (state == RequestCopyTO || state == CallCopyFrom)) {
        transfer_.strays = state == RequestCopyTO ? TransferFile::Strays::To : TransferFile::Strays::From;
        transfer_.straysUntilStop = state == CallCopyFrom && Agreed().stopRecord;
    }
}

bool Protocol::DropsStray(Kind kind) {
    if (transfer_.owedAnswers > 0) {
        if (kind == Kind::Ack) return --transfer_.owedAnswers, true;
        // A refusal instead: nothing more comes for that copy.
        transfer_.owedAnswers = 0;
        if (kind == Kind::Nak) return true;
    }
    if (transfer_.strays != TransferFile::Strays::None) {
        const bool fr = transfer_.strays == TransferFile::Strays::To, untilStop = transfer_.straysUntilStop;
        if (kind == StopKind(fr) && untilStop) {
            transfer_.strays = TransferFile::Strays::None;
            return true;
        }
        if (kind == BlockKind(fr) || kind == EndKind(fr) || kind == StopKind(fr) || (untilStop && kind == SourceKind(fr)))
            return true;
        // The sender took the refusal: what follows is new.
        transfer_.strays = TransferFile::Strays::None;
    }
    return false;
}

void Protocol::ForgetStrays() {
    transfer_.window.Forget();
    transfer_.owedAnswers = 0;
    transfer_.strays = TransferFile::Strays::None;
}

// ---- Receiving -----------------------------------------------------------------

void Protocol::ResetReception() {
    transfer_.blockArrived = transfer_.opened = false;
    transfer_.resume = TransferFile::Resume::None;
    transfer_.noteName.clear();
}

Protocol::NoteState Protocol::ReadPartialNote(u16view note, uint64_t& size, uint64_t& lastWrite) {
    if (!files_.FileExists(note)) return NoteState::Absent;
    uint64_t bytes = 0;
    char text[kMaxPartialNoteBytes];
    std::size_t got = 0;
    if (files_.OpenTransferForRead(note, bytes) && bytes <= sizeof text) {
        while (got < bytes) {
            const int64_t n = files_.ReadTransfer(text + got, sizeof text - got);
            if (n <= 0 || uint64_t(n) > sizeof text - got) break;
            got += std::size_t(n);
        }
    }
    files_.CloseTransfer();
    return ParsePartialNote(std::string_view(text, got), size, lastWrite) ? NoteState::Ours : NoteState::Foreign;
}

void Protocol::OfferResumePoint(const SourceInfo& info) {
    u16 finalName;
    {
        std::lock_guard<std::mutex> guard(lock_);
        finalName = transfer_.finalName;
    }
    transfer_.info = info;
    copySize_.store(info.size);
    const u16 partial = PartialName(finalName), note = PartialNoteName(finalName);
    uint64_t noteSize = 0, noteTime = 0, offer = 0;
    NoteState state = note.size() <= kMaxPath ? ReadPartialNote(note, noteSize, noteTime) : NoteState::Foreign;
    // A file of that name without our note is someone else's: left alone,
    // and this copy is received as one that cannot resume.
    if (state == NoteState::Absent && files_.FileExists(partial)) state = NoteState::Foreign;
    if (state == NoteState::Ours) {
        uint64_t have = 0;
        if (resumeAllowed_.load() && noteSize == info.size && noteTime == info.lastWrite &&
            files_.OpenTransferForRead(partial, have) && have <= info.size)
            offer = have;
        files_.CloseTransfer();
        // Another source, or nothing kept: what is there is of no use.
        if (offer == 0) DropPartial(finalName, note);
    }
    transfer_.noteName = state == NoteState::Foreign ? u16() : note;
    if (offer == 0) return AnswerResumePoint(0);
    transfer_.offered = offer;
    transfer_.resume = TransferFile::Resume::Offered;
    const std::string answer = EncodeResumePoint(offer);
    if (SendFrame(answer.data(), answer.size()) != 0) return;
    // This side's hash is made while the sender makes its own.
    transfer_.partialHash.clear();
    uint64_t have = 0;
    if (!files_.OpenTransferForRead(partial, have) || have < offer || !HashTransfer(offer, transfer_.partialHash))
        transfer_.partialHash.clear();
    files_.CloseTransfer();
}

void Protocol::DecideResumePoint(const SourceInfo& info) {
    transfer_.resume = TransferFile::Resume::None;
    const bool same = !transfer_.partialHash.empty() && info.prefixHash == transfer_.partialHash;
    if (!same) {
        u16 finalName;
        {
            std::lock_guard<std::mutex> guard(lock_);
            finalName = transfer_.finalName;
        }
        DropPartial(finalName, transfer_.noteName);
    }
    AnswerResumePoint(same ? transfer_.offered : 0);
}

void Protocol::AnswerResumePoint(uint64_t point) {
    u16 finalName;
    {
        std::lock_guard<std::mutex> guard(lock_);
        finalName = transfer_.finalName;
    }
    bool open;
    if (point > 0) {
        uint64_t size = 0;
        open = files_.OpenTransferForAppend(PartialName(finalName), size) && size == point;
        if (open) {
            transfer_.tempName = PartialName(finalName);
            transfer_.mode = TransferFile::Mode::Writing;
        } else {
            files_.CloseTransfer();
        }
    } else {
        open = BeginReceiving(finalName);
    }
    if (!open) return Refuse();
    transfer_.blockArrived = transfer_.opened = true;
    resumedAt_.store(point);
    const std::string answer = EncodeResumePoint(point);
    SendFrame(answer.data(), answer.size());
}

void Protocol::DropPartial(u16view finalName, u16view note) {
    files_.RemoveFile(PartialName(finalName));
    if (!note.empty()) files_.RemoveFile(note);
}

void Protocol::TakeSource(const Message& m) {
    SourceInfo info;
    if (Agreed().resume &&
        ParseSourceInfo(std::string_view(m.bytes + kBlockHeaderBytes, m.textLength - kBlockHeaderBytes), info)) {
        if (transfer_.resume == TransferFile::Resume::None && !transfer_.blockArrived && !info.hasPrefix &&
            info.size <= MaxCopyBytes())
            return OfferResumePoint(info);
        if (transfer_.resume == TransferFile::Resume::Offered && info.hasPrefix && info.size == transfer_.info.size &&
            info.lastWrite == transfer_.info.lastWrite && info.prefixBytes == transfer_.offered)
            return DecideResumePoint(info);
    }
    Refuse();
}

bool Protocol::BeginReceiving(u16view finalName) {
    // The note chosen for this copy outlives the release of an earlier file.
    const u16 note = transfer_.noteName;
    ReleaseTransferFile();
    if (finalName.empty()) return false;
    if (!note.empty()) {
        // The note first: a partial file is ours only beside it.
        const std::string text = EncodePartialNote(transfer_.info.size, transfer_.info.lastWrite);
        const u16 partial = PartialName(finalName);
        if (files_.CreateTransferForWrite(note)) {
            const bool written = files_.WriteTransfer(text.data(), text.size());
            files_.CloseTransfer();
            if (written && files_.CreateTransferForWrite(partial)) {
                transfer_.tempName = partial;
                transfer_.noteName = note;
                transfer_.mode = TransferFile::Mode::Writing;
                return true;
            }
            files_.RemoveFile(note);
        }
    }
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
    if (number == 0 && !transfer_.opened) {
        u16 name;
        {
            std::lock_guard<std::mutex> guard(lock_);
            name = transfer_.finalName;
        }
        // A file sent at once starts over: a partial of ours that a cut
        // copy of it left is of no use any more.
        uint64_t size = 0, lastWrite = 0;
        const u16 note = PartialNoteName(name);
        if (Agreed().smallFilesAtOnce && note.size() <= kMaxPath &&
            ReadPartialNote(note, size, lastWrite) == NoteState::Ours)
            DropPartial(name, note);
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
        if (!transfer_.noteName.empty()) files_.RemoveFile(transfer_.noteName);
    }
    ReleaseTransferFile();
    // The sender reports the copy done only on this answer.
    if (Agreed().endRecordsAnswered) SendWord(outcome == Outcome::Done ? Kind::Ack : Kind::Nak);
    End(outcome, true);
}

void Protocol::ReleaseTransferFile(bool connectionLost) {
    transfer_.ahead = TransferFile::kNothingAhead;
    transfer_.reader.Reset();
    // A partial file with its note outlives a lost connection; a stop, a
    // refusal or a failure takes it away as any temporary file.
    const bool keep = connectionLost && !transfer_.noteName.empty();
    if (transfer_.mode != TransferFile::Mode::Closed) {
        files_.CloseTransfer();
        if (transfer_.mode == TransferFile::Mode::Writing && !keep) {
            files_.RemoveFile(transfer_.tempName);
            if (!transfer_.noteName.empty()) files_.RemoveFile(transfer_.noteName);
        }
        transfer_.mode = TransferFile::Mode::Closed;
    } else if (transfer_.resume == TransferFile::Resume::Offered && !keep) {
        u16 finalName;
        {
            std::lock_guard<std::mutex> guard(lock_);
            finalName = transfer_.finalName;
        }
        DropPartial(finalName, transfer_.noteName);
    }
    ResetReception();
}

}  // namespace quorbel
