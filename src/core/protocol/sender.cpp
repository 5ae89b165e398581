#include "core/protocol/sender.h"

#include <chrono>
#include <cstring>
#include <string>

#include "core/protocol/framing.h"

namespace quorbel {

namespace {

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

Sender::Sender(Exchange& exchange, UserSeat& seat, FileStore& files, Cryptography& crypto, CopyFigures& figures)
    : exchange_(exchange), seat_(seat), files_(files), crypto_(crypto), figures_(figures) {}

Way Sender::CurrentWay() const { return exchange_.State() == CallCopyTO ? Way::To : Way::From; }

void Sender::Begin(u16view source) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        source_.assign(source);
    }
    figures_.step.store(0);
}

void Sender::Serve(u16view source) {
    Begin(source);
    endSent_ = false;
    // An empty file: its end record is the whole copy.
    AfterSent(Open() ? Start(Way::From) : BlockSent::Failed, true);
}

void Sender::Release() {
    ahead_ = kNothingAhead;
    reader_.Reset();
    file_.reset();
    resume_ = Resume::None;
}

bool Sender::Open() {
    // A file left open by an earlier copy would stay locked.
    Release();
    u16 source;
    {
        std::lock_guard<std::mutex> guard(lock_);
        source = source_;
    }
    uint64_t size = 0;
    if (source.empty() || !(file_ = files_.OpenForRead(source, size))) return false;
    window_.Start(exchange_.Agreed().blocksInFlight);
    info_ = SourceInfo{};
    info_.size = size;
    figures_.size.store(size);
    if (size > exchange_.MaxCopyBytes()) {
        // Only the user who started the copy is told; the peer gets "NAK".
        if (exchange_.State() == CallCopyTO) seat_.SourceTooLarge(exchange_.MaxCopyBytes());
        Release();
        return false;
    }
    return true;
}

int64_t Sender::ReadAhead() {
    if (!file_) return -1;
    // The frame header (fast mode), the block header, then the data read
    // straight into place, and room for a sealed frame's tag: one buffer
    // for every block of the copy.
    const std::size_t room = exchange_.Agreed().framed ? kFastBlockBytes : kPlainBlockBytes;
    const std::size_t whole = kFrameHeaderBytes + kBlockHeaderBytes + room + SecureSession::kTagBytes;
    if (buffer_.size() < whole) buffer_.resize(whole);
    return reader_.Fill(*file_, buffer_.data() + kFrameHeaderBytes + kBlockHeaderBytes, room);
}

BlockSent Sender::SendNext(Way way) {
    const int32_t number = figures_.step.load();
    const int64_t got = ahead_ != kNothingAhead ? ahead_ : ReadAhead();
    ahead_ = kNothingAhead;
    if (!file_ || number < 0 || number > kLastDataBlock || got < 0) {
        Release();
        return BlockSent::Failed;
    }
    char* message = buffer_.data() + kFrameHeaderBytes;
    std::size_t length;
    if (got == 0) {
        FileTimes times;
        if (!file_->Times(times)) times = FileTimes{};
        PutEndRecord(message, way, times);
        length = kEndRecordBytes;
    } else {
        PutBlockHeader(message, way, number);
        length = kBlockHeaderBytes + std::size_t(got);
    }
    // Blocks are not recorded in the send ring.
    const int error = exchange_.Agreed().framed ? exchange_.SendInFrame(buffer_.data(), length)
                                                : exchange_.SendMessage(message, length, false);
    if (error != 0) {
        exchange_.ReportSendFailure(error, message, length);
        Release();
        return BlockSent::Failed;
    }
    figures_.transferred.fetch_add(uint64_t(got));
    if (got == 0) {
        Release();
        return BlockSent::End;
    }
    window_.Sent(NowUs());
    // The next block is read while the peer takes this one in.
    ahead_ = ReadAhead();
    return BlockSent::Block;
}

bool Sender::SendWhole(u16view source, Way way, uint64_t& size) {
    std::unique_ptr<SourceFile> file = files_.OpenForRead(source, size);
    if (!file) return false;
    // One byte more than a block tells a file that grew past it.
    const std::size_t whole = kFrameHeaderBytes + kBlockHeaderBytes + kFastBlockBytes + 1 + SecureSession::kTagBytes;
    if (buffer_.size() < whole) buffer_.resize(whole);
    char* const message = buffer_.data() + kFrameHeaderBytes;
    // The copy before it read its last block: the reader is free.
    reader_.Reset();
    const int64_t got =
        size <= kFastBlockBytes ? reader_.Fill(*file, message + kBlockHeaderBytes, kFastBlockBytes + 1) : -1;
    reader_.Reset();
    FileTimes times;
    const bool readWhole = got >= 0 && uint64_t(got) <= kFastBlockBytes && file->Times(times);
    file.reset();
    if (!readWhole) return false;
    // A send that fails ends the connection, and the copy with it.
    int error = 0;
    if (got > 0) {
        PutBlockHeader(message, way, 0);
        error = exchange_.SendInFrame(buffer_.data(), kBlockHeaderBytes + std::size_t(got));
    }
    PutEndRecord(message, way, times);
    if (error == 0) error = exchange_.SendInFrame(buffer_.data(), kEndRecordBytes);
    if (error != 0) exchange_.ReportSendFailure(error, message, kEndRecordBytes);
    size = uint64_t(got);
    return true;
}

void Sender::AwaitAnswers(int answers, uint64_t size) {
    // The window counts the answers before the end record's, as blocks in flight.
    window_.Start(true);
    for (int i = 0; i < answers; ++i) window_.Sent(NowUs());
    figures_.step.store(size > 0 ? 1 : 0);
    figures_.transferred.store(size);
    figures_.size.store(size);
    endSent_ = true;
}

bool Sender::OwesStopRecord(int32_t state) const {
    return exchange_.Agreed().stopRecord && state == RequestCopyFrom && !(endSent_ && window_.InFlight() == 0);
}

BlockSent Sender::Start(Way way) {
    const Capabilities& agreed = exchange_.Agreed();
    if (!agreed.resume) return SendNext(way);
    // A file of one block at most goes at once: a cut copy of it would save
    // nothing by resuming, and asking costs a round trip a file.
    if (agreed.smallFilesAtOnce && info_.size <= kFastBlockBytes) return SendNext(way);
    // The receiver first hears what the source is, to offer what it kept of it.
    FileTimes times;
    if (!file_->Times(times)) times = FileTimes{};
    info_.lastWrite = times.lastWrite;
    resume_ = Resume::SourceSent;
    return SendSourceInfo(way);
}

BlockSent Sender::SendSourceInfo(Way way) {
    const std::string message = WordText(SourceKind(way)) + EncodeSourceInfo(info_);
    if (exchange_.SendFrame(message.data(), message.size()) != 0) {
        Release();
        return BlockSent::Failed;
    }
    return BlockSent::Source;
}

BlockSent Sender::TakeResumePoint(const char* data, std::size_t length, Way way) {
    uint64_t point = 0;
    const bool valid = ParseResumePoint(data, length, point);
    if (resume_ == Resume::SourceSent && valid && point <= info_.size) {
        if (point == 0) {
            resume_ = Resume::None;
            return SendNext(way);
        }
        // The hash of this side's bytes before the point: the receiver
        // compares it with its own and decides. Read here, they are not
        // read again: the blocks go on from the point.
        info_.hasPrefix = true;
        info_.prefixBytes = point;
        info_.prefixHash.clear();
        if (figures_.resumeAllowed.load() && !HashFile(*file_, point, crypto_, buffer_, info_.prefixHash)) {
            Release();
            return BlockSent::Failed;
        }
        resume_ = Resume::PrefixSent;
        return SendSourceInfo(way);
    }
    if (resume_ == Resume::PrefixSent && valid) {
        resume_ = Resume::None;
        if (point != 0 && point == info_.prefixBytes && !info_.prefixHash.empty()) {
            figures_.resumedAt.store(point);
            return SendNext(way);
        }
        // Started over: the file from its first byte.
        if (point == 0 && Open()) return SendNext(way);
    }
    Release();
    return BlockSent::Failed;
}

bool Sender::TakeBlockAnswer() {
    if (window_.InFlight() == 0) return false;
    window_.Answered(NowUs());
    return true;
}

void Sender::ForgetBlocksInFlight(bool answersCome) {
    const int blocks = window_.Forget();
    owedAnswers_ = answersCome ? blocks : 0;
}

bool Sender::DropsOwedAnswer(Kind kind) {
    if (owedAnswers_ == 0) return false;
    if (kind == Kind::Ack) return --owedAnswers_, true;
    // A refusal instead: nothing more comes for that copy.
    owedAnswers_ = 0;
    return kind == Kind::Nak;
}

void Sender::Abandon() {
    endSent_ = false;
    ForgetBlocksInFlight(false);
    Release();
}

void Sender::Reset() {
    Release();
    window_.Forget();
    owedAnswers_ = 0;
    endSent_ = false;
}

void Sender::Take(const Message& m, Way way) {
    // The answer to a block in flight, while the end or stop record waits
    // behind it, or the window takes one more.
    const bool blockAnswer = TakeBlockAnswer();
    if (endSent_) {
        if (blockAnswer) return;
        // The receiver has the file under its final name: the copy is done,
        // whatever stop was asked for meanwhile; a copy asked for behind it
        // takes the stop.
        endSent_ = false;
        exchange_.StopUsed();
        return exchange_.End(Outcome::Done, true);
    }
    switch (figures_.stop.load()) {
        case StopState::Sent:
            if (blockAnswer) return;
            figures_.stop.store(StopState::None);
            return exchange_.End(Outcome::Stopped, true);
        case StopState::Asked:
            exchange_.SendWord(StopKind(way));
            figures_.stop.store(StopState::Sent);
            Release();
            return;
        case StopState::None:
            break;
    }
    if (resume_ != Resume::None) return AfterSent(TakeResumePoint(m.bytes, m.length, way), way == Way::To);
    // A copy to the peer opens its file at the peer's first answer.
    if (way == Way::To && figures_.step.load() == 0)
        return AfterSent(Open() ? Start(way) : BlockSent::Failed, true);
    if (!window_.Full()) AfterSent(SendNext(way), way == Way::To);
}

void Sender::AfterSent(BlockSent sent, bool nakOnFailure) {
    // Blocks go on while the window has room and no stop waits.
    while (sent == BlockSent::Block) {
        figures_.step.fetch_add(1);
        if (window_.Full() || figures_.stop.load() != StopState::None) return;
        sent = SendNext(CurrentWay());
    }
    if (sent == BlockSent::Source) {
        // The receiver's answer says where the blocks start.
    } else if (sent == BlockSent::End) {
        if (!exchange_.Agreed().endRecordsAnswered) return exchange_.End(Outcome::Done, true);
        endSent_ = true;
        exchange_.EndRecordSent();
    } else {
        // The receiver answers the blocks it had before this end.
        ForgetBlocksInFlight(true);
        if (nakOnFailure) exchange_.SendNak(true);
        exchange_.End(Outcome::Failed, true);
    }
}

}  // namespace quorbel
