// The Server's log on stderr, one line an event:
//   YYYY-MM-DD HH:MM:SS PEER-ADDRESS OPERATION PATH BYTES RESULT
// written by the listening process and by each connection's own.
#pragma once

#include <cstdint>
#include <string>

namespace quorbel::peer {

// Not with --quiet, unless `evenQuiet`: a line an administrator looks for
// whatever else is shown (a guessed pair). An empty path shows as "-".
void LogLine(const std::string& address, const char* operation, const std::string& path, uint64_t bytes,
             const std::string& result, bool evenQuiet = false);

}  // namespace quorbel::peer
