// The receiving side of a copy (a file the peer sends, or one this side
// asked for): it writes the blocks into a temporary file and, at the end
// record, gives it the sender's times and its final name; between two
// programs that resume it keeps what a cut copy left, beside a note of
// its source, and offers it back; it drops what a sender had on its way of
// a copy it refused.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/protocol/context.h"
#include "core/protocol/cryptography.h"
#include "core/protocol/files.h"
#include "core/protocol/transfer.h"

namespace quorbel {

class Receiver {
public:
    Receiver(Exchange& exchange, FileStore& files, Cryptography& crypto, CopyFigures& figures);

    // A copy into `finalName` begins (asked for, or taken from the peer).
    void Begin(u16view finalName);
    // A message of the copy under way.
    void Take(const Message& m, Way way);
    // This side refused a copy whose sender may have had more of it on its
    // way: that is dropped as it comes, up to the sender's stop record
    // where there is one (`untilStop`).
    void ExpectStrays(Way way, bool untilStop);
    // The same for the copy under way in `state`, where its sender keeps
    // blocks in flight.
    void ExpectStrays(int32_t state);
    // Whether `kind` belongs to such a refused copy, and is dropped.
    bool DropsStray(Kind kind);
    void ForgetStrays() { strays_ = Strays::None; }
    // Closes the file being received and removes it with its note, unless
    // the connection was lost and it can resume; a partial offered for a
    // resume that did not come goes too.
    void Release(bool connectionLost);

private:
    enum class NoteState { Absent, Ours, Foreign };
    u16 FinalName() const;
    void ResetReception();
    bool BeginReceiving(u16view finalName);
    bool WriteBlock(const char* data, std::size_t count, int32_t number);
    void Finish(const char* timeBytes, std::size_t count);
    NoteState ReadPartialNote(u16view note, uint64_t& size, uint64_t& lastWrite);
    void TakeSource(const Message& m);
    void OfferResumePoint(const SourceInfo& info);
    void DecideResumePoint(const SourceInfo& info);
    void AnswerResumePoint(uint64_t point);
    void DropPartial(u16view finalName, u16view note);

    Exchange& exchange_;
    FileStore& files_;
    Cryptography& crypto_;
    CopyFigures& figures_;

    mutable std::mutex lock_;  // the final name, which the window thread sets
    u16 finalName_;            // the file this side receives...
    u16 tempName_;             // ...under this name until its end record
    std::unique_ptr<TargetFile> file_;
    bool blockArrived_ = false;  // a block of this copy came
    bool opened_ = false;        // the file is open before block 0 (a resume was answered)
    // A copy that resumes: it offered the bytes of its
    // partial file and waits for the sender's hash of the same bytes.
    bool offeredResume_ = false;
    SourceInfo info_;          // the source as its sender described it
    uint64_t offered_ = 0;     // the resume point offered
    std::string partialHash_;  // the hash of its partial's bytes
    u16 noteName_;             // the partial's note, while it has one
    std::vector<char> hashBuffer_;
    // A refused copy's strays: what its sender had on its way.
    enum class Strays { None, To, From };
    Strays strays_ = Strays::None;
    bool straysUntilStop_ = false;
};

}  // namespace quorbel
