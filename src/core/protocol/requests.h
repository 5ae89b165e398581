// Requests asked for or taken ahead of their turn, between two programs that
// agreed on it (requestBeforeEndAnswer, heldRequests, smallFilesWhole):
// this side's next copy, whose request left while the
// current one runs; the peer's next request, held while this side serves
// one; and a file of that request sent whole behind the one served.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/base/text.h"
#include "core/protocol/context.h"

namespace quorbel {

// This side's next copy: to the peer once the end record of the current
// one left, from the peer at any time.
struct QueuedCopy {
    u16 source, destination;
    Way way;
    bool sentAhead = false;  // its file went whole behind its request (smallFilesWhole)
    uint64_t size = 0;
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
    bool HasQueued() const { return queued_.has_value(); }
    void Queue(QueuedCopy copy) { queued_ = std::move(copy); }
    std::optional<QueuedCopy> TakeQueued();

    // While this side serves a request of the peer (heldRequests), the
    // peer's next one is held, and served once the state is Waiting again;
    // a second one is not (it is refused as any message out of turn).
    bool Hold(const Message& m, int32_t state, const Capabilities& agreed);
    bool HasHeld() const { return held_.has_value(); }
    std::optional<std::string> TakeHeld();
    // The held request's path when it asks for a file, for sending it ahead.
    std::optional<std::string_view> HeldFileRequest() const;

    // The held request went whole ahead of its turn.
    void SentAhead(u16view path, uint64_t size);
    bool HasSentAhead() const { return ahead_.has_value(); }
    std::optional<ServedAhead> TakeSentAhead();
    // The peer refused the copy before it: the file sent ahead was dropped
    // with it, and goes again in its turn.
    void HoldAgain();
    // The connection ended.
    void ForgetHeld() { held_.reset(); }

private:
    std::optional<QueuedCopy> queued_;
    std::optional<std::string> held_;
    std::optional<ServedAhead> ahead_;
};

}  // namespace quorbel
