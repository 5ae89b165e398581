// IP batch files of the IP address tool: one netsh line that sets an
// adapter to DHCP or to a fixed address and mask, in the "ipaddress" folder
// of the start-up folder. Everything is checked before a file is created, so
// a refused request leaves nothing behind; texts over the working limits are
// refused, never cut.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "core/base/catalogue.h"

namespace quorbel {

constexpr std::size_t kAdapterRowMaxChars = 255;   // adapter row text
constexpr std::size_t kAdapterAnsiMaxBytes = 255;  // its ANSI form
constexpr std::size_t kBatchLineMaxBytes = 255;    // the netsh line with CR LF
constexpr std::size_t kOctetFieldChars = 3;        // characters read of an octet field

inline constexpr const char16_t* kBatchFolderName = u"ipaddress";

// An octet field: at most its first three characters, read like _wtoi
// (1234 -> 123, letters -> 0, " " -> 0, -1 -> -1, 300 -> 300). An empty
// field is missing (nullopt).
std::optional<int32_t> ReadOctetField(u16view text);

// File names: "<adapter>_auto.bat" and "<adapter>_a_b_c_d.bat".
u16 DhcpBatchFileName(u16view adapter);
u16 StaticBatchFileName(u16view adapter, const std::array<int32_t, 4>& address);

// File contents from the adapter's ANSI name, CR LF included.
std::string DhcpBatchLine(std::string_view ansiAdapter);
std::string StaticBatchLine(std::string_view ansiAdapter, const std::array<int32_t, 4>& address,
                            const std::array<int32_t, 4>& mask);

// Start-up folder + "\ipaddress", and + "\ipaddress\" + a file name (or
// the pattern "*.bat"); nullopt when the path passes 259 characters.
std::optional<u16> BatchFolderPath(u16view startupFolder);
std::optional<u16> BatchFilePath(u16view startupFolder, u16view fileName);

enum class BatchStatus {
    kOk,
    kNoAdapter,     // no row, or a row without an ANSI form
    kMissingField,  // a fixed address with an empty field
    kNameTooLong,   // row over 255 characters or its ANSI form over 255 bytes
    kLineTooLong,   // the netsh line over 255 bytes
    kPathTooLong,   // the full file path over 259 characters
};

struct BatchFile {
    BatchStatus status = BatchStatus::kNoAdapter;
    u16 fileName;       // set when kOk
    u16 path;           // set when kOk
    std::string bytes;  // set when kOk: exactly what the file holds
};

// Everything the Add-IP dialog's SET needs: `adapterRow` is the selected row
// text (empty with no selection), `fields` the eight edits (address octets
// then mask octets; not read for DHCP).
BatchFile MakeIpBatchFile(u16view startupFolder, u16view adapterRow, bool dhcp,
                          const std::array<u16view, 8>& fields, const AnsiCodec& codec);

// Message box of a refusal; null text for kOk.
struct BatchMessage {
    BoxText box;
    bool warningIcon = false;
};
BatchMessage BatchStatusMessage(BatchStatus status);

}  // namespace quorbel
