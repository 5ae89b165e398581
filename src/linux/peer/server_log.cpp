#include "linux/peer/server_log.h"

#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "linux/peer/messages.h"

namespace quorbel::peer {

void LogLine(const std::string& address, const char* operation, const std::string& path, uint64_t bytes,
             const std::string& result, bool evenQuiet) {
    if (Quiet() && !evenQuiet) return;
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    const std::string line = std::string(stamp) + " " + address + " " + operation + " " +
                             (path.empty() ? "-" : path) + " " + std::to_string(bytes) + " " + result + "\n";
    // One write a line: the processes of the Server share stderr, and no
    // line is cut into another.
    for (std::size_t at = 0; at < line.size();) {
        const ssize_t n = ::write(STDERR_FILENO, line.data() + at, line.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        at += std::size_t(n);
    }
}

}  // namespace quorbel::peer
