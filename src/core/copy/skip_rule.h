// Which existing files a copy leaves as they are. The rules carry the names
// rsync gives its options, since its users will type them; the Windows
// batch's "only if older" is --update's rule.
#pragma once

#include <cstdint>

#include "core/panes/folder_rows.h"

namespace quorbel {

enum class SkipRule {
    None,             // every file is copied
    Update,           // --update: not over a newer file, nor over one of the same time and size
    IgnoreExisting,   // --ignore-existing: not over any file
    SizeOnly,         // --size-only: not over a file of the same size
    SameSizeAndTime,  // --skip-same: not over a file of the same size and time
    Checksum,         // --checksum: not over a file of the same size and content
};

// Why a file was left as it was.
enum class SkipWhy { None, Newer, Exists, SameSize, SameSizeAndTime, SameContent };

// A last-write time's ticks (FILETIME) in a second, the unit of --modify-window.
constexpr int64_t kFileTimeTicksPerSecond = 10'000'000;

// How an existing destination file compares with the source that would
// replace it. Exact values where both rows have them (times within
// `windowTicks` of each other count as the same), else the listing's
// texts: the time to the minute, where the same minute is the same time
// only for the same size, and an unknown time is never older.
struct Comparison {
    int time = 0;  // the destination's time: < 0 older, 0 the same, > 0 newer or unknown
    bool sameSize = false;
    bool toTheMinute = false;
    bool sameHash = false;  // both rows carry a hash, and it is the same
};
Comparison CompareExisting(const PaneRow& source, const PaneRow& destination, int64_t windowTicks = 0);

// The size text of a row: its exact size formatted, else the listing's.
u16 SizeText(const PaneRow& row);

// What `rule` does with a file whose destination compares as `existing`
// (null where there is none).
SkipWhy Skips(SkipRule rule, const Comparison* existing);

}  // namespace quorbel
