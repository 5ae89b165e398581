#include "core/copy/skip_rule.h"

#include "core/panes/row_rules.h"

namespace quorbel {

u16 SizeText(const PaneRow& row) { return row.exact ? FormatSizeText(row.bytes) : row.size; }

Comparison CompareExisting(const PaneRow& source, const PaneRow& destination, int64_t windowTicks) {
    Comparison c;
    c.sameHash = !source.hash.empty() && source.hash == destination.hash;
    c.toTheMinute = !(source.exact && destination.exact);
    if (!c.toTheMinute) {
        const int64_t later = int64_t(destination.lastWriteTime - source.lastWriteTime);
        c.time = later > windowTicks ? 1 : later < -windowTicks ? -1 : 0;
        c.sameSize = source.bytes == destination.bytes;
        return c;
    }
    // "2024/03/05 09:07" orders as it reads; within one minute a listing
    // cannot tell which is older.
    c.sameSize = SizeText(source) == SizeText(destination);
    const bool known = !source.date.empty() && !destination.date.empty();
    c.time = known && destination.date < source.date ? -1 : known && destination.date == source.date && c.sameSize ? 0 : 1;
    return c;
}

SkipWhy Skips(SkipRule rule, const Comparison* existing) {
    if (!existing) return SkipWhy::None;
    const bool same = existing->time == 0 && existing->sameSize;
    switch (rule) {
        case SkipRule::None: return SkipWhy::None;
        case SkipRule::Update: return existing->time > 0 ? SkipWhy::Newer : same ? SkipWhy::SameSizeAndTime : SkipWhy::None;
        case SkipRule::IgnoreExisting: return SkipWhy::Exists;
        case SkipRule::SizeOnly: return existing->sameSize ? SkipWhy::SameSize : SkipWhy::None;
        case SkipRule::SameSizeAndTime: return same ? SkipWhy::SameSizeAndTime : SkipWhy::None;
        case SkipRule::Checksum: return existing->sameSize && existing->sameHash ? SkipWhy::SameContent : SkipWhy::None;
    }
    return SkipWhy::None;
}

}  // namespace quorbel
