// The network adapters of this PC by friendly name, for the Add-IP dialog.
#include "win/iptool/adapters.h"

#include "core/iptool/adapter_rules.h"
#include "win/base/wintext.h"

namespace {

// inet_ntop's text buffer.
constexpr size_t kAddressTextBytes = 1025;
// Adapters can come and go between the sizing call and the filling one.
constexpr int kQueryAttempts = 4;

// The text of the adapter's last IPv4 or IPv6 unicast address; empty when
// it has none.
std::wstring LastUnicastAddress(const IP_ADAPTER_ADDRESSES* adapter) {
    std::wstring last;
    for (const IP_ADAPTER_UNICAST_ADDRESS* u = adapter->FirstUnicastAddress; u; u = u->Next) {
        const SOCKADDR* address = u->Address.lpSockaddr;
        if (!address) continue;
        char text[kAddressTextBytes] = {};
        const char* done = nullptr;
        if (address->sa_family == AF_INET)
            done = inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
        else if (address->sa_family == AF_INET6)
            done = inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
        else
            continue;
        last = done ? ToWide(AnsiCodecForThread().FromAnsi(text)) : std::wstring();
    }
    return last;
}

class AdapterQuery {
public:
    AdapterQuery() {
        ULONG size = 0;
        ULONG result = GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_INCLUDE_PREFIX, nullptr, nullptr, &size);
        for (int attempt = 1; result == ERROR_BUFFER_OVERFLOW && attempt < kQueryAttempts; ++attempt) {
            Free();
            block_ = static_cast<IP_ADAPTER_ADDRESSES*>(HeapAlloc(GetProcessHeap(), 0, size));
            if (!block_) return;
            result = GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_INCLUDE_PREFIX, nullptr, block_, &size);
        }
        ok_ = result == NO_ERROR && block_ != nullptr;
    }
    ~AdapterQuery() { Free(); }
    AdapterQuery(const AdapterQuery&) = delete;
    AdapterQuery& operator=(const AdapterQuery&) = delete;
    // The first adapter; null when the query failed or found none.
    const IP_ADAPTER_ADDRESSES* first() const { return ok_ ? block_ : nullptr; }

private:
    void Free() {
        if (block_) HeapFree(GetProcessHeap(), 0, block_);
        block_ = nullptr;
    }
    IP_ADAPTER_ADDRESSES* block_ = nullptr;
    bool ok_ = false;
};

}  // namespace

std::vector<std::wstring> AdapterRows(const IP_ADAPTER_ADDRESSES* first) {
    std::vector<std::wstring> rows;
    for (const IP_ADAPTER_ADDRESSES* a = first; a; a = a->Next) {
        const wchar_t* name = a->FriendlyName ? a->FriendlyName : L"";
        const wchar_t* description = a->Description ? a->Description : L"";
        const std::wstring address = LastUnicastAddress(a);
        // Nameless and over-long names are skipped: there is nothing to
        // write into a batch file for them.
        if (quorbel::ClassifyAdapter(AsU16View(name), AsU16View(description), AsU16View(address.c_str())) ==
            quorbel::AdapterListing::kListed)
            rows.push_back(name);
    }
    return rows;
}

void ListNetworkAdapters(HWND list) {
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    // A failed query (or a PC without adapters) leaves the list empty.
    AdapterQuery query;
    for (const std::wstring& row : AdapterRows(query.first()))
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
}
