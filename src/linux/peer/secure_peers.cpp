#include "linux/peer/secure_peers.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

namespace quorbel::peer {

namespace {

// The file's path, "" when neither $XDG_STATE_HOME nor $HOME is known
// (then nothing is remembered).
std::string FilePath(bool makeFolders) {
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    std::string folder;
    if (state && state[0] == '/') {
        folder = state;
    } else if (home && home[0] == '/') {
        folder = std::string(home) + "/.local";
        if (makeFolders) ::mkdir(folder.c_str(), 0700);
        folder += "/state";
    } else {
        return std::string();
    }
    if (makeFolders) ::mkdir(folder.c_str(), 0700);
    folder += "/quorbel";
    if (makeFolders) ::mkdir(folder.c_str(), 0700);
    return folder + "/secure-peers";
}

}  // namespace

std::string SecurePeersFile::Load() {
    const std::string path = FilePath(false);
    std::string list;
    if (FILE* f = path.empty() ? nullptr : std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, f);
        list.assign(buffer, n);
        std::fclose(f);
    }
    return list;
}

void SecurePeersFile::Store(const std::string& list) {
    const std::string path = FilePath(true);
    const std::string temporary = path + ".new";
    FILE* f = path.empty() ? nullptr : std::fopen(temporary.c_str(), "wb");
    if (!f) return;
    const bool written = std::fwrite(list.data(), 1, list.size(), f) == list.size();
    if (std::fclose(f) == 0 && written) std::rename(temporary.c_str(), path.c_str());
    else std::remove(temporary.c_str());
}

}  // namespace quorbel::peer
