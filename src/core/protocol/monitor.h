// The monitor windows' stores: the last messages sent and received, each
// in a ring whose slot at the position holds an end marker.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorbel {

constexpr int32_t kRingSlots = 32;
constexpr int32_t kRingSlotBytes = 272;

class MessageRing {
public:
    // "***** WRITE-END *****" for the sent ring, "***** READ-END *****"
    // for the received one.
    explicit MessageRing(const char* endMarker) : marker_(endMarker) {}
    // One message into the slot at the position (cut to a slot, zero
    // padded); the next slot becomes the end.
    void Record(const char* bytes, std::size_t length);
    void CopyTo(char out[kRingSlots][kRingSlotBytes]) const;

private:
    const char* marker_;
    char slots_[kRingSlots][kRingSlotBytes] = {};
    int32_t pos_ = 0;
};

inline constexpr char kWriteEndMarker[] = "***** WRITE-END *****";
inline constexpr char kReadEndMarker[] = "***** READ-END *****";

}  // namespace quorbel
