// Requests asked for or taken ahead of their turn, between two programs that
// agreed on it (requestBeforeEndAnswer, heldRequests, smallFilesWhole, and
// the window of requestWindow): this side's next copies, whose requests left
// while the current one runs; the peer's next requests, held while this
// side serves one; and the files of those requests sent whole behind the
// one served. Each is bounded: one of a kind before the window, else
// kRequestWindowFiles and kRequestWindowBytes.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "core/base/text.h"
#include "core/protocol/context.h"

namespace quorbel {

// This side's next copy (or, with folderAnswered, a folder made on the
// peer): to the peer once the end record of the copy before it left, from
// the peer at any time.
struct QueuedCopy {
    u16 source, destination;
    Way way;
    bool sentAhead = false;  // its file went whole behind its request (smallFilesWhole)
    uint64_t size = 0;
    bool folder = false;     // "CD" of `destination`
};

// A request of the peer for a file of one block at most, sent whole behind
// the end record of the copy before it, whose answer is still on its way.
struct ServedAhead {
    std::string request;
    u16 path;
    uint64_t size;
};

class RequestQueue {
public:
    // This side's copies asked for ahead, in the order their answers come.
    std::size_t Queued() const { return queued_.size(); }
    bool HasQueued() const { return !queued_.empty(); }
    const QueuedCopy& LastQueued() const { return queued_.back(); }
    // The bytes of the queued files sent whole.
    uint64_t QueuedBytes() const;
    void Queue(QueuedCopy copy) { queued_.push_back(std::move(copy)); }
    std::optional<QueuedCopy> TakeQueued();

    // While this side serves a request of the peer (heldRequests), the
    // peer's next ones are held (one, or a window's), and served once the
    // state is Waiting again; one more is not (it is refused as any
    // message out of turn).
    bool Hold(const Message& m, int32_t state, const Capabilities& agreed);
    bool HasHeld() const { return !held_.empty(); }
    std::optional<std::string> TakeHeld();
    // The first held request's path when it asks for a file, for sending it ahead.
    std::optional<std::string_view> HeldFileRequest() const;

    // The first held request went whole ahead of its turn.
    void SentAhead(u16view path, uint64_t size);
    bool HasSentAhead() const { return !ahead_.empty(); }
    std::size_t SentAheadCount() const { return ahead_.size(); }
    uint64_t SentAheadBytes() const;
    std::optional<ServedAhead> TakeSentAhead();
    // The peer refused the copy before them: the files sent ahead were
    // dropped with it, and go again in their turn.
    void HoldAgain();
    // The connection ended.
    void ForgetHeld() { held_.clear(); }

private:
    std::deque<QueuedCopy> queued_;
    std::deque<std::string> held_;
    std::deque<ServedAhead> ahead_;
};

}  // namespace quorbel
