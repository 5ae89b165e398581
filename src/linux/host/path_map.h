// The served folders as drives, and the peer's Windows paths ("C:\dir\file")
// resolved beneath them. Each drive's folder is held open for the whole run
// and a path is resolved from that descriptor without following any
// symbolic link, so that nobody who can write in a served folder can lead
// a request out of it, not even by swapping a folder for a link while the
// request runs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/base/text.h"

namespace quorbel::posix {

// A descriptor closed with its owner.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd();
    Fd(Fd&& other) noexcept : fd_(other.Release()) {}
    Fd& operator=(Fd&& other) noexcept;
    int Get() const { return fd_; }
    int Release();
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_;
};

// Where a path leads: the folder that holds its last part, opened, and that
// part's name; "." for a drive's own folder. Calls of the *at() family on
// the two reach what the path named, and never through a link.
struct Place {
    Fd folder;
    std::string name;
    std::string shown;  // the local path, for messages
};

class PathMap {
public:
    // `stepByStep` walks every path one folder at a time, as on a kernel
    // without openat2.
    explicit PathMap(bool stepByStep = false) : stepByStep_(stepByStep) {}

    // Serves `folder` (an existing folder) as drive `letter` (A..Z, either
    // case). False with the reason when it cannot.
    bool AddDrive(char letter, const std::string& folder, std::string& error);
    bool Serves(char16_t letter) const;
    bool Empty() const;

    // The place of "X:\a\b". Without one, `error` tells why: EINVAL for a
    // path that is no path of a served drive (a part of dots alone, a "/",
    // a control character, a character the code page lacks), ELOOP for a
    // link on the way, else what opening a folder on the way gave (ENOENT).
    std::optional<Place> Locate(u16view windowsPath, int& error) const;

private:
    static int Index(char16_t letter);
    // The folder reached through `folders` beneath `root` (the drive's own
    // for none), or -1 with `error`.
    int OpenBeneath(int root, const std::vector<std::string>& folders, int& error) const;

    bool stepByStep_;
    Fd roots_[26];           // held open for the whole run
    std::string shown_[26];  // their real paths, "" where no drive is served
};

// Whether a path has the drive form "X:\" at its start.
bool HasDriveForm(u16view path);
// realpath(3) of an existing path.
std::optional<std::string> RealPath(const std::string& path);

}  // namespace quorbel::posix
