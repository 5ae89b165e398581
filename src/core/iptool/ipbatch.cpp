#include "core/iptool/ipbatch.h"

#include <cstdio>

#include "core/panes/row_rules.h"
#include "core/base/path_rules.h"

namespace quorbel {

std::optional<int32_t> ReadOctetField(u16view text) {
    if (text.empty()) return std::nullopt;
    return ParseLeadingInt(text.substr(0, kOctetFieldChars));
}

u16 DhcpBatchFileName(u16view adapter) {
    u16 out(adapter);
    out.append(u"_auto.bat");
    return out;
}

u16 StaticBatchFileName(u16view adapter, const std::array<int32_t, 4>& a) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "_%d_%d_%d_%d.bat", int(a[0]), int(a[1]), int(a[2]), int(a[3]));
    u16 out(adapter);
    out.append(FromAscii(buf));
    return out;
}

std::string DhcpBatchLine(std::string_view ansiAdapter) {
    std::string line = "netsh interface ip set address \"";
    line.append(ansiAdapter);
    line.append("\" dhcp\r\n");
    return line;
}

std::string StaticBatchLine(std::string_view ansiAdapter, const std::array<int32_t, 4>& a,
                            const std::array<int32_t, 4>& m) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "\" static %d.%d.%d.%d %d.%d.%d.%d\r\n", int(a[0]), int(a[1]), int(a[2]),
                  int(a[3]), int(m[0]), int(m[1]), int(m[2]), int(m[3]));
    std::string line = "netsh interface ip set address \"";
    line.append(ansiAdapter);
    line.append(buf);
    return line;
}

std::optional<u16> BatchFolderPath(u16view startupFolder) { return JoinPath(startupFolder, kBatchFolderName); }

std::optional<u16> BatchFilePath(u16view startupFolder, u16view fileName) {
    auto folder = BatchFolderPath(startupFolder);
    return folder ? JoinPath(*folder, fileName) : std::nullopt;
}

BatchFile MakeIpBatchFile(u16view startupFolder, u16view adapterRow, bool dhcp,
                          const std::array<u16view, 8>& fields, const AnsiCodec& codec) {
    BatchFile r;
    if (adapterRow.empty()) {
        r.status = BatchStatus::kNoAdapter;
        return r;
    }
    if (adapterRow.size() > kAdapterRowMaxChars) {
        r.status = BatchStatus::kNameTooLong;
        return r;
    }
    const std::string ansi = codec.ToAnsi(adapterRow);
    if (ansi.empty()) {
        r.status = BatchStatus::kNoAdapter;
        return r;
    }
    if (ansi.size() > kAdapterAnsiMaxBytes) {
        r.status = BatchStatus::kNameTooLong;
        return r;
    }

    u16 fileName;
    std::string line;
    if (dhcp) {
        fileName = DhcpBatchFileName(adapterRow);
        line = DhcpBatchLine(ansi);
    } else {
        // Every field is read first, so one missing field refuses the lot.
        std::array<int32_t, 8> v{};
        bool missing = false;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            auto value = ReadOctetField(fields[i]);
            if (value) v[i] = *value;
            else missing = true;
        }
        if (missing) {
            r.status = BatchStatus::kMissingField;
            return r;
        }
        const std::array<int32_t, 4> address = {v[0], v[1], v[2], v[3]};
        const std::array<int32_t, 4> mask = {v[4], v[5], v[6], v[7]};
        fileName = StaticBatchFileName(adapterRow, address);
        line = StaticBatchLine(ansi, address, mask);
    }

    auto path = BatchFilePath(startupFolder, fileName);
    if (!path) {
        r.status = BatchStatus::kPathTooLong;
        return r;
    }
    if (line.size() > kBatchLineMaxBytes) {
        r.status = BatchStatus::kLineTooLong;
        return r;
    }
    r.status = BatchStatus::kOk;
    r.fileName = std::move(fileName);
    r.path = std::move(*path);
    r.bytes = std::move(line);
    return r;
}

BatchMessage BatchStatusMessage(BatchStatus status) {
    switch (status) {
        case BatchStatus::kNoAdapter: return {texts::kSelectItem, true};
        case BatchStatus::kMissingField: return {texts::kEnterAllAddresses, false};
        case BatchStatus::kNameTooLong:
        case BatchStatus::kLineTooLong: return {texts::kAdapterNameTooLong, true};
        case BatchStatus::kPathTooLong: return {texts::kBatchPathTooLong, true};
        case BatchStatus::kOk: break;
    }
    return {{nullptr, nullptr}, false};
}

}  // namespace quorbel
