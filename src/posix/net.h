// IPv4 stream sockets for the peer: blocking, and without any socket option
// the Windows program does not set either.
#pragma once

#include <cstdint>
#include <string>

namespace quorbel::posix {

// A listening socket on every address, whose accept does not wait; `port`
// 0 lets the system choose, and `port` then holds the chosen one. -1 with
// `error` set on failure.
int Listen(uint16_t& port, std::string& error);
// A connected socket to `host` (a name or an IPv4 address), or -1 with the
// cause in `error`.
int Connect(const std::string& host, uint16_t port, std::string& error);
// The whole buffer, however many sends it takes: 0, or the errno value.
int SendAll(int fd, const char* data, std::size_t length);
// "192.168.1.20:51234" of the other end.
std::string PeerAddress(int fd);

}  // namespace quorbel::posix
