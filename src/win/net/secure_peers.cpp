#include "win/net/secure_peers.h"

#include "win/base/wintext.h"

std::string AddressText(const std::array<int32_t, 4>& address) {
    std::string text;
    for (size_t i = 0; i < 4; ++i) text += std::to_string(address[i] & 0xFF) + (i < 3 ? "." : "");
    return text;
}

void SecurePeers::Store(const std::string& list) {
    values_.securePeers = list;
    listener_.SecurePeersChanged(list);
}

std::vector<std::string> SecurePeers::Keys() {
    return quorbel::SecurePeerKeys(target_, AddressText(values_.address), Port());
}

std::wstring SecurePeers::Shown() const { return ToWide(FromUtf8(target_)) + L":" + std::to_wstring(Port()); }
