// The served folders as drives, and the mapping of the peer's Windows paths
// ("C:\dir\file") into them. A path maps only while every part of it stays
// inside its drive's folder: no "..", no drive that is not served, no
// symbolic link whose target lies outside.
#pragma once

#include <optional>
#include <string>

#include "core/text.h"

namespace quorbel::posix {

class PathMap {
public:
    // Serves `folder` (an existing folder) as drive `letter` (A..Z, either
    // case). False with the reason when it cannot.
    bool AddDrive(char letter, const std::string& folder, std::string& error);
    bool Serves(char16_t letter) const;
    bool Empty() const;
    // The folder of a drive as the peer sees it, or "".
    const std::string& RootOf(char16_t letter) const;

    // The local path of "X:\a\b". Parts before the last are resolved to
    // their real folders; the last part is left as named (a link there is
    // replaced, not followed, by what writes it) once its target, if it is a
    // link, is known to stay inside.
    std::optional<std::string> Map(u16view windowsPath) const;

private:
    static int Index(char16_t letter);

    std::string roots_[26];  // real paths, "" where no drive is served
};

// Whether a path has the drive form "X:\" at its start.
bool HasDriveForm(u16view path);
// realpath(3) of an existing path.
std::optional<std::string> RealPath(const std::string& path);
// Whether a real path is `root` or lies below it.
bool IsWithin(const std::string& real, const std::string& root);

}  // namespace quorbel::posix
