#include "linux/peer/secure_peers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/base/limits.h"
#include "linux/peer/messages.h"
#include "linux/peer/state.h"

namespace quorbel::peer {

namespace {

// Told once a run: without the memory a path that drops the offer would
// meet no question before the pair goes in the clear.
void Forgotten(const std::string& why) {
    static bool told = false;
    if (!std::exchange(told, true)) Error("the Servers of secure sessions are not remembered: " + why);
}

// The file's path, "" when no folder for it is known (then nothing is
// remembered).
std::string FilePath(bool makeFolders) {
    const std::string folder = StateFolder(makeFolders);
    if (folder.empty()) Forgotten("neither $XDG_STATE_HOME nor $HOME nor this user's home folder is known");
    return folder.empty() ? folder : folder + "/secure-peers";
}

}  // namespace

void SecurePeersFile::Reached(int socket) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return;
    const void* address = nullptr;
    if (peer.ss_family == AF_INET) address = &reinterpret_cast<const sockaddr_in*>(&peer)->sin_addr;
    if (peer.ss_family == AF_INET6) address = &reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_addr;
    char text[INET6_ADDRSTRLEN];
    if (address && ::inet_ntop(peer.ss_family, address, text, sizeof text)) address_ = text;
}

std::vector<std::string> SecurePeersFile::Keys() { return SecurePeerKeys(host_, address_, port_); }

std::string SecurePeersFile::Load() {
    const std::string path = FilePath(false);
    std::string list;
    if (FILE* f = path.empty() ? nullptr : std::fopen(path.c_str(), "rb")) {
        list.resize(kSecurePeersChars);
        list.resize(std::fread(list.data(), 1, list.size(), f));
        std::fclose(f);
    }
    return list;
}

void SecurePeersFile::Store(const std::string& list) {
    const std::string path = FilePath(true);
    if (path.empty()) return;
    const std::string temporary = path + ".new";
    FILE* f = std::fopen(temporary.c_str(), "wb");
    bool stored = f && std::fwrite(list.data(), 1, list.size(), f) == list.size();
    stored = (f && std::fclose(f) == 0 && stored && std::rename(temporary.c_str(), path.c_str()) == 0);
    if (stored) return;
    const int error = errno;
    if (f) std::remove(temporary.c_str());
    Forgotten("cannot write '" + path + "': " + std::strerror(error));
}

}  // namespace quorbel::peer
