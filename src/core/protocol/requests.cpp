#include "core/protocol/requests.h"

#include <utility>

namespace quorbel {

std::optional<QueuedCopy> RequestQueue::TakeQueued() {
    std::optional<QueuedCopy> copy = std::move(queued_);
    queued_.reset();
    return copy;
}

bool RequestQueue::Hold(const Message& m, int32_t state, const Capabilities& agreed) {
    const Operation serves = WireRow(m.kind).serves;
    if (!agreed.heldRequests || held_ || serves == Operation::Unknown || serves == Operation::Login) return false;
    if (state != RequestDIR && state != RequestCopyTO && state != RequestCopyFrom) return false;
    held_.emplace(m.bytes, m.length);
    return true;
}

std::optional<std::string> RequestQueue::TakeHeld() {
    std::optional<std::string> request = std::move(held_);
    held_.reset();
    return request;
}

std::optional<std::string_view> RequestQueue::HeldFileRequest() const {
    if (!held_ || Classify(held_->data(), held_->size()) != Kind::CopyFrom) return std::nullopt;
    return std::string_view(held_->data() + 2, BoundedLength(held_->data(), held_->size()) - 2);
}

void RequestQueue::SentAhead(u16view path, uint64_t size) {
    ahead_ = ServedAhead{std::move(*held_), u16(path), size};
    held_.reset();
}

std::optional<ServedAhead> RequestQueue::TakeSentAhead() {
    std::optional<ServedAhead> ahead = std::move(ahead_);
    ahead_.reset();
    return ahead;
}

void RequestQueue::HoldAgain() {
    if (!ahead_) return;
    held_ = std::move(ahead_->request);
    ahead_.reset();
}

}  // namespace quorbel
