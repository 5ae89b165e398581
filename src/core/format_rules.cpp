#include "core/format_rules.h"

#include <cstdio>

namespace quorbel {

u16 FormatSizeText(uint64_t n) {
    static const struct { uint64_t from; unsigned shift; const char* unit; } kUnits[] = {
        {10ULL << 40, 40, "T"}, {10ULL << 30, 30, "G"}, {10ULL << 20, 20, "M"}, {10ULL << 10, 10, "K"},
    };
    char buf[32];
    for (const auto& u : kUnits) {
        if (n >= u.from) {
            std::snprintf(buf, sizeof buf, "%llu%s", static_cast<unsigned long long>(n >> u.shift), u.unit);
            return FromAscii(buf);
        }
    }
    std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(n));
    return FromAscii(buf);
}

u16 FormatDateText(const LocalTimeFields& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%02d %02d:%02d", t.year, t.month, t.day, t.hour, t.minute);
    return FromAscii(buf);
}

bool IsDotEntry(u16view name) { return name == u"." || name == u".."; }

int RowImageIndex(uint32_t attributes, u16view name) {
    if (IsDotEntry(name)) return 0;
    if (attributes & kAttrDirectory) return 1;
    if (attributes & kAttrArchive) return 8;
    if (attributes & kAttrCompressed) return 7;
    return 9;
}

int DriveImageIndex(int driveType) {
    switch (driveType) {
        case kDriveFixed: return 2;
        case kDriveCdrom: return 3;
        case kDriveRemovable: return 4;
        case kDriveRemote: return 5;
        case kDriveRamdisk: return 6;
        default: return -1;
    }
}

bool SizeTextIsEmpty(uint32_t attributes, u16view name) {
    return IsDotEntry(name) || attributes == kAttrDirectory;
}

int CompareNoCase(u16view a, u16view b) {
    auto fold = [](char16_t c) -> unsigned { return (c >= u'A' && c <= u'Z') ? unsigned(c) + 32 : unsigned(c); };
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        unsigned x = fold(a[i]), y = fold(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

int32_t ParseLeadingInt(u16view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > 2147483648LL) value = 2147483648LL;
    }
    if (negative) value = -value;
    if (value > 2147483647LL) value = 2147483647LL;
    return static_cast<int32_t>(value);
}

uint64_t SizeTextBytes(u16view text) {
    int32_t number = ParseLeadingInt(text);
    if (text.empty() || number <= 0) return 0;
    unsigned shift = 0;
    switch (text.back()) {
        case u'K': shift = 10; break;
        case u'M': shift = 20; break;
        case u'G': shift = 30; break;
        case u'T': shift = 40; break;
        default: break;
    }
    return static_cast<uint64_t>(number) << shift;
}

bool IsDriveRoot(u16view path) {
    return path.size() == 3 && path[1] == u':' && path[2] == u'\\';
}

}  // namespace quorbel
