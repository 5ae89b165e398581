// Which network adapters the Add-IP dialog offers: every adapter by its
// friendly name except the Wi-Fi Direct virtual adapters and the loopback.
#pragma once

#include "core/base/text.h"

namespace quorbel {

// Longest friendly name the adapter list takes.
constexpr std::size_t kAdapterNameMaxChars = 511;

// Description starts with "Microsoft Wi-Fi Direct", ASCII letters in any case.
bool IsWifiDirectDescription(u16view description);

// The adapter's last unicast address text starts with "127.0.0.1" (so
// 127.0.0.15 counts too).
bool IsLoopbackAddressText(u16view lastAddressText);

enum class AdapterListing {
    kListed,
    kEmptyName,    // skipped: no name to show or to write into a batch file
    kNameTooLong,  // skipped: friendly name over kAdapterNameMaxChars
    kWifiDirect,
    kLoopback,
};

// `lastAddressText` is the text of the adapter's last IPv4 or IPv6 unicast
// address, empty when it has none.
AdapterListing ClassifyAdapter(u16view friendlyName, u16view description, u16view lastAddressText);

}  // namespace quorbel
