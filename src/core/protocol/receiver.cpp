#include "core/protocol/receiver.h"

#include <string>

#include "core/base/limits.h"

namespace quorbel {

Receiver::Receiver(Exchange& exchange, FileStore& files, Cryptography& crypto, CopyFigures& figures)
    : exchange_(exchange), files_(files), crypto_(crypto), figures_(figures) {}

u16 Receiver::FinalName() const {
    std::lock_guard<std::mutex> guard(lock_);
    return finalName_;
}

void Receiver::Begin(u16view finalName) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        finalName_.assign(finalName);
    }
    ResetReception();
}

void Receiver::ResetReception() {
    blockArrived_ = opened_ = offeredResume_ = false;
    noteName_.clear();
}

// ---- Strays of a refused copy -----------------------------------------------------

void Receiver::ExpectStrays(Way way, bool untilStop) {
    strays_ = way == Way::To ? Strays::To : Strays::From;
    straysUntilStop_ = untilStop;
}

void Receiver::ExpectStrays(int32_t state) {
    const Capabilities& agreed = exchange_.Agreed();
    if (agreed.blocksInFlight && (state == RequestCopyTO || state == CallCopyFrom))
        ExpectStrays(state == RequestCopyTO ? Way::To : Way::From, state == CallCopyFrom && agreed.stopRecord);
}

bool Receiver::DropsStray(Kind kind) {
    if (strays_ == Strays::None) return false;
    const Way way = strays_ == Strays::To ? Way::To : Way::From;
    if (kind == StopKind(way) && straysUntilStop_) {
        strays_ = Strays::None;
        return true;
    }
    if (kind == BlockKind(way) || kind == EndKind(way) || kind == StopKind(way) ||
        (straysUntilStop_ && kind == SourceKind(way)))
        return true;
    // The sender took the refusal: what follows is new.
    strays_ = Strays::None;
    return false;
}

// ---- The copy's messages ----------------------------------------------------------

void Receiver::Take(const Message& m, Way way) {
    const char* bytes = m.bytes;
    const std::size_t dataBytes = m.length > std::size_t(kBlockHeaderBytes) ? m.length - kBlockHeaderBytes : 0;
    // This side's user asked for the stop of a copy from the peer: the
    // next block is refused, quietly, and nothing of the file stays. With
    // a window of requests, a small file comes whole (nothing said of its
    // source first): it is here already, and is taken as a file sent whole
    // to the peer is.
    const bool whole = exchange_.Agreed().requestWindow && m.kind != SourceKind(way) && !opened_ && !offeredResume_;
    const bool stopAsked = way == Way::From && figures_.stop.load() == StopState::Asked && !whole;

    if (m.kind == StopKind(way)) {
        Release(false);
        exchange_.End(Outcome::Stopped, true);
        exchange_.SendWord(Kind::Ack);
        return;
    }
    if (m.kind == SourceKind(way) && !stopAsked) return TakeSource(m);
    if (m.kind == EndKind(way)) {
        if (stopAsked) {
            // Its sender waits for the answer: refused, the copy ends on both
            // sides, and the peer goes on with what it was asked next.
            exchange_.StopUsed();
            if (exchange_.Agreed().endRecordsAnswered) exchange_.SendNak(false);
            Release(false);
            return exchange_.End(Outcome::Stopped, true);
        }
        return Finish(bytes + kBlockHeaderBytes, dataBytes);
    }
    // What the source is, after a stop was asked for: refused as a block.
    if (m.kind == BlockKind(way) || m.kind == SourceKind(way)) {
        const int32_t number = m.kind == SourceKind(way) ? 0 : ParseHeaderNumber(bytes + 2);
        if (number >= 0 && stopAsked) {
            exchange_.StopUsed();
            ExpectStrays(exchange_.State());
            exchange_.SendNak(false);
            Release(false);
            return exchange_.End(Outcome::Stopped, true);
        }
        if (number >= 0 && WriteBlock(bytes + kBlockHeaderBytes, dataBytes, number)) {
            if (way == Way::From) figures_.step.store(number);
            exchange_.SendWord(Kind::Ack);
            return;
        }
    }
    exchange_.Refuse(Outcome::Failed, true);
}

// ---- A resumed copy ---------------------------------------------------------------

Receiver::NoteState Receiver::ReadPartialNote(u16view note, uint64_t& size, uint64_t& lastWrite) {
    if (!files_.FileExists(note)) return NoteState::Absent;
    uint64_t bytes = 0;
    char text[kMaxPartialNoteBytes];
    std::size_t got = 0;
    const std::unique_ptr<SourceFile> file = files_.OpenForRead(note, bytes);
    // A note another user could have written says nothing of ours.
    if (file && file->OwnedHere() && bytes <= sizeof text) {
        while (got < bytes) {
            const int64_t n = file->Read(text + got, sizeof text - got);
            if (n <= 0 || uint64_t(n) > sizeof text - got) break;
            got += std::size_t(n);
        }
    }
    return ParsePartialNote(std::string_view(text, got), size, lastWrite) ? NoteState::Ours : NoteState::Foreign;
}

void Receiver::TakeSource(const Message& m) {
    SourceInfo info;
    if (exchange_.Agreed().resume &&
        ParseSourceInfo(std::string_view(m.bytes + kBlockHeaderBytes, m.textLength - kBlockHeaderBytes), info)) {
        if (!offeredResume_ && !blockArrived_ && !info.hasPrefix && info.size <= exchange_.MaxCopyBytes())
            return OfferResumePoint(info);
        if (offeredResume_ && info.hasPrefix && info.size == info_.size && info.lastWrite == info_.lastWrite &&
            info.prefixBytes == offered_)
            return DecideResumePoint(info);
    }
    exchange_.Refuse(Outcome::Failed, true);
}

void Receiver::OfferResumePoint(const SourceInfo& info) {
    const u16 finalName = FinalName();
    info_ = info;
    figures_.size.store(info.size);
    const u16 partial = PartialName(finalName), note = PartialNoteName(finalName);
    uint64_t noteSize = 0, noteTime = 0, offer = 0;
    NoteState state = note.size() <= kMaxPath ? ReadPartialNote(note, noteSize, noteTime) : NoteState::Foreign;
    // A file of that name without our note is someone else's: left alone,
    // and this copy is received as one that cannot resume.
    if (state == NoteState::Absent && files_.FileExists(partial)) state = NoteState::Foreign;
    if (state == NoteState::Ours) {
        if (figures_.resumeAllowed.load() && noteSize == info.size && noteTime == info.lastWrite) {
            uint64_t have = 0;
            const std::unique_ptr<SourceFile> kept = files_.OpenForRead(partial, have);
            if (kept && kept->OwnedHere() && have <= info.size) offer = have;
        }
        // Another source, or nothing kept: what is there is of no use.
        if (offer == 0) DropPartial(finalName, note);
    }
    noteName_ = state == NoteState::Foreign ? u16() : note;
    if (offer == 0) return AnswerResumePoint(0);
    offered_ = offer;
    offeredResume_ = true;
    const std::string answer = EncodeResumePoint(offer);
    if (exchange_.SendFrame(answer.data(), answer.size()) != 0) return;
    // This side's hash is made while the sender makes its own.
    partialHash_.clear();
    uint64_t have = 0;
    const std::unique_ptr<SourceFile> kept = files_.OpenForRead(partial, have);
    if (!kept || !kept->OwnedHere() || have < offer || !HashFile(*kept, offer, crypto_, hashBuffer_, partialHash_))
        partialHash_.clear();
}

void Receiver::DecideResumePoint(const SourceInfo& info) {
    offeredResume_ = false;
    const bool same = !partialHash_.empty() && info.prefixHash == partialHash_;
    if (!same) DropPartial(FinalName(), noteName_);
    AnswerResumePoint(same ? offered_ : 0);
}

void Receiver::AnswerResumePoint(uint64_t point) {
    const u16 finalName = FinalName();
    bool open;
    if (point > 0) {
        uint64_t size = 0;
        std::unique_ptr<TargetFile> partial = files_.OpenForAppend(PartialName(finalName), size);
        open = partial && partial->OwnedHere() && size == point;
        if (open) {
            tempName_ = PartialName(finalName);
            file_ = std::move(partial);
        }
    } else {
        open = BeginReceiving(finalName);
    }
    if (!open) return exchange_.Refuse(Outcome::Failed, true);
    blockArrived_ = opened_ = true;
    figures_.resumedAt.store(point);
    const std::string answer = EncodeResumePoint(point);
    exchange_.SendFrame(answer.data(), answer.size());
}

void Receiver::DropPartial(u16view finalName, u16view note) {
    files_.RemoveFile(PartialName(finalName));
    if (!note.empty()) files_.RemoveFile(note);
}

// ---- The file ---------------------------------------------------------------------

bool Receiver::BeginReceiving(u16view finalName) {
    // The note chosen for this copy outlives the release of an earlier file.
    const u16 note = noteName_;
    Release(false);
    if (finalName.empty()) return false;
    if (!note.empty()) {
        // The note first: a partial file is ours only beside it.
        const std::string text = EncodePartialNote(info_.size, info_.lastWrite);
        const u16 partial = PartialName(finalName);
        if (std::unique_ptr<TargetFile> noteFile = files_.CreateNew(note)) {
            const bool written = noteFile->Write(text.data(), text.size());
            noteFile.reset();
            if (written && (file_ = files_.CreateNew(partial))) {
                tempName_ = partial;
                noteName_ = note;
                return true;
            }
            files_.RemoveFile(note);
        }
    }
    // A file of the user's that has the temporary name is never taken over.
    for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
        const u16 temp = TemporaryName(finalName, attempt);
        if (finalName.size() > kMaxPath || temp.size() > kMaxPath) return false;
        if ((file_ = files_.CreateNew(temp))) {
            tempName_ = temp;
            return true;
        }
        if (!files_.FileExists(temp)) return false;
    }
    return false;
}

bool Receiver::WriteBlock(const char* data, std::size_t count, int32_t number) {
    if (number == 0 && !opened_) {
        const u16 name = FinalName();
        // A file sent at once starts over: a partial of ours that a cut
        // copy of it left is of no use any more.
        uint64_t size = 0, lastWrite = 0;
        const u16 note = PartialNoteName(name);
        if (exchange_.Agreed().smallFilesAtOnce && note.size() <= kMaxPath &&
            ReadPartialNote(note, size, lastWrite) == NoteState::Ours)
            DropPartial(name, note);
        const bool created = BeginReceiving(name);
        blockArrived_ = true;
        if (!created) return false;
    }
    if (number < 0 || number > kLastDataBlock || !file_) return false;
    if (count > 0 && !file_->Write(data, count)) {
        // Nothing of a file that could not be written stays behind.
        Release(false);
        return false;
    }
    figures_.transferred.fetch_add(count);
    return true;
}

void Receiver::Finish(const char* timeBytes, std::size_t count) {
    const FileTimes times = ParseEndRecordTimes(timeBytes, count);
    const u16 finalName = FinalName();
    Outcome outcome = Outcome::Failed;
    if (!blockArrived_) {
        // No block came: the source was empty, or, from a plain peer, lost
        // (such a peer sends the end record alone for it), so a file of that
        // name is kept. A program of ours refuses a lost source instead: its
        // end record alone is an empty file.
        if (!exchange_.Agreed().framed && files_.FileExists(finalName)) {
            outcome = Outcome::Kept;
        } else if (BeginReceiving(finalName)) {
            blockArrived_ = true;
        }
    }
    if (blockArrived_ && file_) {
        const bool finished = file_->Finish(times);
        file_.reset();
        // Until here an older file of the final name was untouched.
        if (finished && files_.MoveIntoPlace(tempName_, finalName)) outcome = Outcome::Done;
        else files_.RemoveFile(tempName_);
        if (!noteName_.empty()) files_.RemoveFile(noteName_);
    }
    Release(false);
    // The sender reports the copy done only on this answer.
    if (exchange_.Agreed().endRecordsAnswered) exchange_.SendWord(outcome == Outcome::Done ? Kind::Ack : Kind::Nak);
    exchange_.End(outcome, true);
}

void Receiver::Release(bool connectionLost) {
    // A partial file with its note outlives a lost connection; a stop, a
    // refusal or a failure takes it away as any temporary file.
    const bool keep = connectionLost && !noteName_.empty();
    if (file_) {
        file_.reset();
        if (!keep) {
            files_.RemoveFile(tempName_);
            if (!noteName_.empty()) files_.RemoveFile(noteName_);
        }
    } else if (offeredResume_ && !keep) {
        DropPartial(FinalName(), noteName_);
    }
    ResetReception();
}

}  // namespace quorbel
