// This PC's own host address and name, as the host header and the
// "HostName" command show them; a lookup of its own, with its own Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "core/base/limits.h"
#include "win/net/connection.h"
#include "win/base/wintext.h"

namespace {

// gethostname and getnameinfo write at most this many bytes.
constexpr int kLookupBytes = 1026;

// One getnameinfo lookup; a text longer than the header's field is not
// stored, so the field never shows a cut name.
void LookUp(const addrinfo* address, int flags, std::wstring& field) {
    char text[kLookupBytes] = {};
    if (getnameinfo(address->ai_addr, static_cast<socklen_t>(address->ai_addrlen), text, kLookupBytes - 1, nullptr,
                    0, flags) != 0)
        return;
    const int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (units <= 1 || static_cast<size_t>(units) > kMaxHostText + 1) return;
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), units);
    wide.resize(static_cast<size_t>(units - 1));
    field = wide;
}

}  // namespace

void ReadHostInfo(std::wstring& address, std::wstring& name) {
    address = name = kUnknownHost;
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return;
    char host[kLookupBytes] = {};
    addrinfo hints = {};
    hints.ai_flags = AI_CANONNAME;
    hints.ai_family = AF_INET;
    addrinfo* result = nullptr;
    if (gethostname(host, kLookupBytes - 1) == 0 && getaddrinfo(host, nullptr, &hints, &result) == 0 && result) {
        LookUp(result, NI_NUMERICHOST, address);
        LookUp(result, NI_NAMEREQD, name);
        freeaddrinfo(result);
    }
    WSACleanup();
}
