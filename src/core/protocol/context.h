// What the parts of the protocol (the login, the listing, the sender, the
// receiver) reach the dispatcher for: a narrow view of the side they serve,
// so that none of them needs the dispatcher's own header. The dispatcher
// (protocol.h) gives it and owns the parts.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "core/base/text.h"
#include "core/protocol/seat.h"
#include "core/protocol/versions.h"
#include "core/protocol/wire.h"

namespace quorbel {

// A received message as the dispatcher hands it to a part.
struct Message {
    const char* bytes;
    std::size_t length;      // received length
    std::size_t textLength;  // up to the first NUL
    Kind kind;
};

// The user's stop of a copy: asked for, then (a copy to the peer) sent as
// the stop record that the peer's answer ends.
enum class StopState : int32_t { None, Asked, Sent };

// The copy under way as the front end shows it, and what its user asks of
// it: the window thread reads and sets these while the receive thread runs
// the copy.
struct CopyFigures {
    std::atomic<int32_t> step{0};           // blocks sent, or the number of the last block received
    std::atomic<uint64_t> transferred{0};   // file bytes moved by this copy
    std::atomic<uint64_t> resumedAt{0};     // where its blocks started: 0, or the bytes already there
    std::atomic<uint64_t> size{0};          // the file's size once known
    std::atomic<StopState> stop{StopState::None};
    std::atomic<bool> resumeAllowed{true};

    void Begin() {
        transferred.store(0);
        resumedAt.store(0);
        size.store(0);
    }
};

class Exchange {
public:
    // ---- This side and what both sides showed ----
    virtual Role GetRole() const = 0;
    virtual const Capabilities& Agreed() const = 0;
    virtual int32_t State() const = 0;
    // The largest file a copy may move in the connection's mode.
    virtual uint64_t MaxCopyBytes() const = 0;

    // ---- Sending ----
    // A message, framed in the fast mode and sealed in a secure session;
    // `recorded` puts it in the send ring. 0, or the socket error.
    virtual int SendMessage(const char* bytes, std::size_t length, bool recorded) = 0;
    // The same, recorded, and a failure reported to the user.
    virtual int SendFrame(const char* bytes, std::size_t length) = 0;
    // A message that is its word alone ("ACK", a stop record).
    virtual int SendWord(Kind kind) = 0;
    // "NAK"; with `notice`, the user is told of the refusal.
    virtual void SendNak(bool notice) = 0;
    // The fast mode's frame of the `length` bytes that follow the header's
    // room at `frame`, sealed in place once the session is secure (the tag
    // goes after them, in room the caller leaves). A failure is the caller's.
    virtual int SendInFrame(char* frame, std::size_t length) = 0;
    virtual void ReportSendFailure(int error, const char* bytes, std::size_t length) = 0;

    // ---- The operation ----
    virtual void SetState(int32_t state, bool refresh) = 0;
    virtual void BeginOperation(Operation operation, bool ours, u16view path) = 0;
    // The end of the operation, its report, and what follows it.
    virtual void End(Outcome outcome, bool refresh) = 0;
    // "NAK" and the end: Refused for a request this side does not serve,
    // Failed for a message that breaks the running one.
    virtual void Refuse(Outcome outcome, bool notice) = 0;
    // The answer to what no state takes.
    virtual void RefuseUnknown() = 0;
    // The end of the operation and of its file, without a word to the peer.
    virtual void Abandon(Outcome outcome) = 0;
    virtual void Report(Operation operation, bool ours, u16view path, uint64_t bytes, Outcome outcome) = 0;
    // A stop the copy acted on is used up, unless a copy asked for behind
    // it takes it on.
    virtual void StopUsed() = 0;
    // The sender's end record left, its answer still to come: what the peer
    // asked for next may go ahead of it.
    virtual void EndRecordSent() = 0;

protected:
    ~Exchange() = default;
};

}  // namespace quorbel
