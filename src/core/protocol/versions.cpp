#include "core/protocol/versions.h"

namespace quorbel {

const Capabilities& CapabilitiesOf(int version) {
    // Each version's whole set, made once from the rows.
    static const auto kSets = [] {
        std::array<Capabilities, std::size(kVersions)> sets{};
        for (std::size_t v = 1; v < sets.size(); ++v) {
            sets[v] = sets[v - 1];
            for (bool Capabilities::*added : kVersions[v].adds)
                if (added) sets[v].*added = true;
        }
        return sets;
    }();
    return kSets[version > 0 && version <= kFastVersion ? std::size_t(version) : 0];
}

}  // namespace quorbel
