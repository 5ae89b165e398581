#include "core/iptool/adapter_rules.h"

namespace quorbel {

namespace {

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

bool StartsWithNoCase(u16view text, u16view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (FoldAscii(text[i]) != FoldAscii(prefix[i])) return false;
    return true;
}

}  // namespace

bool IsWifiDirectDescription(u16view description) {
    return StartsWithNoCase(description, u"Microsoft Wi-Fi Direct");
}

bool IsLoopbackAddressText(u16view lastAddressText) {
    return lastAddressText.substr(0, 9) == u"127.0.0.1";
}

AdapterListing ClassifyAdapter(u16view friendlyName, u16view description, u16view lastAddressText) {
    if (friendlyName.empty()) return AdapterListing::kEmptyName;
    if (friendlyName.size() > kAdapterNameMaxChars) return AdapterListing::kNameTooLong;
    if (IsWifiDirectDescription(description)) return AdapterListing::kWifiDirect;
    if (IsLoopbackAddressText(lastAddressText)) return AdapterListing::kLoopback;
    return AdapterListing::kListed;
}

}  // namespace quorbel
