#include "core/protocol/monitor.h"

#include <cstring>

namespace quorbel {

void MessageRing::Record(const char* bytes, std::size_t length) {
    const std::size_t n = length < std::size_t(kRingSlotBytes) ? length : std::size_t(kRingSlotBytes);
    std::memset(slots_[pos_], 0, kRingSlotBytes);
    std::memcpy(slots_[pos_], bytes, n);
    pos_ = (pos_ + 1) % kRingSlots;
    std::memset(slots_[pos_], 0, kRingSlotBytes);
    std::memcpy(slots_[pos_], marker_, std::strlen(marker_));
}

void MessageRing::CopyTo(char out[kRingSlots][kRingSlotBytes]) const { std::memcpy(out, slots_, sizeof slots_); }

}  // namespace quorbel
