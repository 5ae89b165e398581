// The sending side of a copy (a copy to the peer, or a file the peer asked
// for): it reads its file one block per answer, or a window of blocks ahead
// of their answers (blocksInFlight); says first what its source is and
// hashes the bytes a resume would keep (resume); sends a small file whole
// behind its request (smallFilesWhole); and acts on the user's stop.
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

// What sending the next step of a copy did.
enum class BlockSent {
    Block,   // a block of data went out; more follow
    End,     // the end record went out
    Failed,  // the file or the send failed; the file is closed
    Source,  // what the source is, or the hash of its start, went out
};

class Sender {
public:
    Sender(Exchange& exchange, UserSeat& seat, FileStore& files, Cryptography& crypto, CopyFigures& figures);

    // A copy to the peer from `source` begins: its request leaves next, its
    // file opens at the peer's first answer (or it went whole already).
    void Begin(u16view source);
    // The peer asked for `source` ("FC"): its first block, or what it is,
    // leaves now.
    void Serve(u16view source);
    // A copy whose messages all went ahead (a file sent whole) begins:
    // only its answers are left, `answers` of them before its end record's.
    void AwaitAnswers(int answers, uint64_t size);
    // An answer of the peer to this side's copy.
    void Take(const Message& m, Way way);

    // A file of one block at most, its block and end record sent at once
    // (smallFilesWhole); false when it is larger or unreadable (nothing was
    // sent). `size` is its size.
    bool SendWhole(u16view source, Way way, uint64_t& size);
    // The end record left and waits for its answer.
    bool EndSent() const { return endSent_; }
    // The peer refused what this side sent with blocks or a file still on
    // their way: they must be ended by a stop record (stopRecord).
    bool OwesStopRecord(int32_t state) const;
    // An answer that belongs to a copy that ended with blocks in flight
    // (their answers come while a failure on this side sent "NAK"): it is
    // dropped, as a refusal that ends them.
    bool DropsOwedAnswer(Kind kind);
    // The copy ends without a word more to the peer; what it had in flight
    // is forgotten.
    void Abandon();
    // The connection ended: nothing of the copy is waited for.
    void Reset();

private:
    Way CurrentWay() const;
    void Release();
    bool Open();
    int64_t ReadAhead();
    BlockSent Start(Way way);
    BlockSent SendNext(Way way);
    BlockSent SendSourceInfo(Way way);
    BlockSent TakeResumePoint(const char* data, std::size_t length, Way way);
    // What follows a step sent (or not): the next block, the wait for the
    // end record's answer, or the end, with "NAK" where the peer waits.
    void AfterSent(BlockSent sent, bool nakOnFailure);
    // An answer to a block in flight: true, and the window measures it.
    bool TakeBlockAnswer();
    // A copy that ends with some in flight: their answers come (a failure
    // this side sent "NAK" for) or not (the peer's "NAK").
    void ForgetBlocksInFlight(bool answersCome);

    Exchange& exchange_;
    UserSeat& seat_;
    FileStore& files_;
    Cryptography& crypto_;
    CopyFigures& figures_;

    mutable std::mutex lock_;  // the source, which the window thread sets
    u16 source_;
    std::unique_ptr<SourceFile> file_;
    // Frame header (fast mode), block header and data: one buffer for
    // every block of the copy.
    std::vector<char> buffer_;
    BlockReader reader_;
    // The block read ahead of the peer's answer: its bytes, 0 at the end,
    // -1 after a failed read.
    static constexpr int64_t kNothingAhead = -2;
    int64_t ahead_ = kNothingAhead;
    // A copy that resumes: its source's size and time went
    // out, then the hash of the bytes before the point the receiver offered.
    enum class Resume { None, SourceSent, PrefixSent };
    Resume resume_ = Resume::None;
    SourceInfo info_;
    BlockWindow window_;
    int owedAnswers_ = 0;
    bool endSent_ = false;  // the end record left: the peer's answer ends the copy
};

}  // namespace quorbel
