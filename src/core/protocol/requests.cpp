#include "core/protocol/requests.h"

#include <utility>

#include "core/base/limits.h"

namespace quorbel {

uint64_t RequestQueue::QueuedBytes() const {
    uint64_t bytes = 0;
    for (const QueuedCopy& copy : queued_) bytes += copy.sentAhead ? copy.size : 0;
    return bytes;
}

std::optional<QueuedCopy> RequestQueue::TakeQueued() {
    if (queued_.empty()) return std::nullopt;
    QueuedCopy copy = std::move(queued_.front());
    queued_.pop_front();
    return copy;
}

bool RequestQueue::Hold(const Message& m, int32_t state, const Capabilities& agreed) {
    const Operation serves = WireRow(m.kind).serves;
    if (!agreed.heldRequests || serves == Operation::Unknown || serves == Operation::Login) return false;
    const std::size_t room = agreed.requestWindow ? kRequestWindowFiles : 1;
    if ((agreed.requestWindow ? held_.size() + ahead_.size() : held_.size()) >= room) return false;
    if (state != RequestDIR && state != RequestCopyTO && state != RequestCopyFrom) return false;
    held_.emplace_back(m.bytes, m.length);
    return true;
}

std::optional<std::string> RequestQueue::TakeHeld() {
    if (held_.empty()) return std::nullopt;
    std::string request = std::move(held_.front());
    held_.pop_front();
    return request;
}

std::optional<std::string_view> RequestQueue::HeldFileRequest() const {
    if (held_.empty()) return std::nullopt;
    const std::string& request = held_.front();
    if (Classify(request.data(), request.size()) != Kind::CopyFrom) return std::nullopt;
    return std::string_view(request.data() + 2, BoundedLength(request.data(), request.size()) - 2);
}

void RequestQueue::SentAhead(u16view path, uint64_t size) {
    ahead_.push_back(ServedAhead{std::move(held_.front()), u16(path), size});
    held_.pop_front();
}

uint64_t RequestQueue::SentAheadBytes() const {
    uint64_t bytes = 0;
    for (const ServedAhead& ahead : ahead_) bytes += ahead.size;
    return bytes;
}

std::optional<ServedAhead> RequestQueue::TakeSentAhead() {
    if (ahead_.empty()) return std::nullopt;
    ServedAhead ahead = std::move(ahead_.front());
    ahead_.pop_front();
    return ahead;
}

void RequestQueue::HoldAgain() {
    // In their order, before those still held.
    while (!ahead_.empty()) {
        held_.push_front(std::move(ahead_.back().request));
        ahead_.pop_back();
    }
}

}  // namespace quorbel
