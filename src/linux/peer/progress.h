// Progress of a copy on stderr: one line redrawn in place, cut to the
// terminal's width, when stderr is a terminal that can take it; one plain
// line per finished file otherwise; nothing with --quiet.
#pragma once

#include <cstdint>
#include <string>

#include "linux/peer/waits.h"

namespace quorbel::peer {

class Progress {
public:
    Progress();
    // `total` 0: the size is not known yet.
    void Begin(const std::string& label, uint64_t total);
    // The bytes there so far, and the size once the copy tells it.
    void Update(uint64_t bytes, uint64_t total = 0);
    // A signal: the line goes at once, and is not drawn again for this copy.
    void Interrupt();
    // Ends the line; a finished copy also gets its plain line.
    void End(uint64_t bytes, bool finished);

private:
    void Draw(uint64_t bytes);
    void Clear();

    bool terminal_;
    bool shown_ = false, interrupted_ = false;
    std::string label_;
    uint64_t total_ = 0;
    Clock::time_point start_, lastDraw_;
};

// The line of a copy for a terminal of `columns` columns: the label, cut
// from its start where it must, then bytes, total, percent, rate and the
// time left; never more than columns - 1, so that it does not wrap.
std::string ProgressLine(const std::string& label, uint64_t bytes, uint64_t total, double seconds, int columns);

}  // namespace quorbel::peer
