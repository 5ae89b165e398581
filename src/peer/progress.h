// Progress of a copy on stderr: a bar redrawn in place when stderr is a
// terminal, one line per finished file otherwise, nothing with --quiet.
#pragma once

#include <cstdint>
#include <string>

#include "peer/session.h"

namespace quorbel::peer {

class Progress {
public:
    Progress();
    // `total` 0: the size is not known (a copy from the peer).
    void Begin(const std::string& label, uint64_t total);
    void Update(uint64_t bytes);
    // Ends the bar; a finished copy also gets its line.
    void End(uint64_t bytes, bool finished);

private:
    void Draw(uint64_t bytes);

    bool terminal_;
    bool shown_ = false;
    std::string label_;
    uint64_t total_ = 0;
    Clock::time_point start_, lastDraw_;
};

}  // namespace quorbel::peer
