// A private folder under $TMPDIR for a copy through standard input or
// output: the file waits there whole, and goes with the run.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace quorbel::peer {

class Spool {
public:
    static constexpr const char* kFileName = "standard-input";
    Spool() = default;
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;
    ~Spool();
    const std::string& Folder() const { return folder_; }

    // Each returns an exit code, after telling why where it is not 0.
    int Make();
    // All of `from` into the spool's file, at most `limit` bytes.
    int TakeFrom(int from, uint64_t limit, const std::string& shown);
    // The file at `path` whole to `to`.
    int CopyTo(const std::string& path, int to, const std::string& shown);

private:
    static int Failed(const std::string& what, const std::string& shown);
    // One read and its whole write: the bytes moved, 0 at the end, -1 on a
    // failure or a signal. A pipe's wait ends with a signal, not a time: no
    // peer waits meanwhile.
    static ssize_t Move(int from, int to);
    static bool Ready(int fd, short events);

    std::string folder_;
};

}  // namespace quorbel::peer
