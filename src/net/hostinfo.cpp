// Looks up this PC's host name and IPv4 address with its own Winsock start.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "net/hostinfo.h"

#include "app/shell.h"
#include "app/wintext.h"
#include "net/net.h"

namespace {

// gethostname and getnameinfo write at most this many bytes (terminator included).
constexpr int kLookupBytes = 1026;

// Stores the result of one getnameinfo lookup of `address` into `field`.
void LookUp(const addrinfo* address, int flags, wchar_t (&field)[kHostChars]) {
    char text[kLookupBytes] = {};
    if (getnameinfo(address->ai_addr, static_cast<socklen_t>(address->ai_addrlen), text, kLookupBytes - 1, nullptr,
                    0, flags) == 0)
        StoreHostText(text, field);
}

}  // namespace

bool StoreHostText(const char* text, wchar_t (&field)[kHostChars]) {
    int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (units <= 0 || units > kHostChars) return false;  // units counts the terminator
    wchar_t wide[kHostChars] = {};
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, kHostChars) <= 0) return false;
    CopyText(field, wide);
    return true;
}

bool ReadHostInfo() {
    CopyText(g_shell.localHostAddress, L"不明");
    CopyText(g_shell.localHostName, L"不明");
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return false;
    char host[kLookupBytes] = {};
    if (gethostname(host, kLookupBytes - 1) != 0) {
        WSACleanup();
        return false;
    }
    addrinfo hints = {};
    hints.ai_flags = AI_CANONNAME;
    hints.ai_family = AF_INET;
    addrinfo* result = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &result) != 0 || result == nullptr) {
        WSACleanup();
        return false;
    }
    LookUp(result, NI_NUMERICHOST, g_shell.localHostAddress);
    LookUp(result, NI_NAMEREQD, g_shell.localHostName);
    freeaddrinfo(result);
    WSACleanup();
    return true;
}
