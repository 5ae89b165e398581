// The directory table that answers a "DD" request, and the reading of the
// peer's "DR" records into right-pane rows.
#include <cstdio>
#include <cstring>

#include "core/protocol.h"
#include "core/protocol_internal.h"

namespace quorbel {

namespace {

constexpr std::size_t kMaxFieldBytes = 63;
constexpr char kDirEndRecord[] = "DR999999";

std::string RecordHeader(int32_t number) {
    char header[16];
    std::snprintf(header, sizeof header, "DR%06d", static_cast<int>(number));
    return header;
}

}  // namespace

std::string FormatDriveRecord(int32_t number, std::string_view rootAnsi, int32_t kind) {
    return RecordHeader(number) + std::string(rootAnsi) + ",,," + std::to_string(kind);
}

u16 FormatEntryRecord(int32_t number, u16view name, u16view date, u16view size, int32_t kind) {
    u16 out = FromAscii(RecordHeader(number));
    out.append(name);
    out.push_back(u',');
    out.append(date);
    out.push_back(u',');
    out.append(size);
    out.push_back(u',');
    out.append(AsciiNumber(kind));
    return out;
}

bool ParseRemoteRecord(const char* text, std::size_t length, const AnsiCodec& codec, RemoteRow& row) {
    if (text == nullptr) return false;
    std::size_t commas[3];
    int found = 0;
    for (std::size_t i = 0; i < length && found < 3; ++i)
        if (text[i] == ',') commas[found++] = i;
    if (found < 3 || commas[0] == 0) return false;
    const std::size_t nameLength = commas[0];
    const std::size_t dateLength = commas[1] - commas[0] - 1;
    const std::size_t sizeLength = commas[2] - commas[1] - 1;
    const std::size_t kindLength = length - commas[2] - 1;
    if (nameLength > static_cast<std::size_t>(kMaxPathBytes) || dateLength > kMaxFieldBytes ||
        sizeLength > kMaxFieldBytes || kindLength > kMaxFieldBytes)
        return false;
    row.name = codec.FromAnsi(std::string_view(text, nameLength));
    row.date = codec.FromAnsi(std::string_view(text + commas[0] + 1, dateLength));
    row.size = codec.FromAnsi(std::string_view(text + commas[1] + 1, sizeLength));
    // atoi of the rest: leading digits, 0 when there are none.
    row.kind = ParseLeadingInt(FromAscii(std::string_view(text + commas[2] + 1, kindLength)));
    return true;
}

void Protocol::StoreTableRecord(int32_t slot, std::string_view record) {
    std::lock_guard<std::mutex> guard(lock_);
    CopyBounded<char>(state.dirTable[slot], kDirSlotBytes, record);
}

void Protocol::BuildDirectoryTable(u16view folder) {
    const AnsiCodec& codec = host_.Codec();
    int32_t count = 0;
    state.dirCount.store(0, std::memory_order_relaxed);

    if (IsDriveRoot(folder)) {
        for (char16_t letter = u'a'; letter <= u'z'; ++letter) {
            const char16_t root[] = {letter, u':', u'\\'};
            const u16view rootText(root, 3);
            int kind = DriveImageIndex(host_.DriveTypeOf(rootText));
            // The drive being listed is not offered again.
            if (kind < 0 || CompareNoCase(rootText, folder) == 0) continue;
            StoreTableRecord(count, FormatDriveRecord(count, codec.ToAnsi(rootText), kind));
            ++count;
        }
    }

    if (count < kMaxDirRecords) {
        host_.ListFolder(folder, [&](const FolderEntry& entry) {
            const u16view name = entry.name;
            u16 size;
            if (!SizeTextIsEmpty(entry.attributes, name) && entry.sizeKnown) size = FormatSizeText(entry.sizeOnDisk);
            std::string record = codec.ToAnsi(FormatEntryRecord(
                count, name, FormatDateText(entry.lastWrite), size, RowImageIndex(entry.attributes, name)));
            // A record that would not fit its slot is left out whole; the
            // next entry takes its number.
            if (record.size() < static_cast<std::size_t>(kDirSlotBytes)) {
                StoreTableRecord(count, record);
                ++count;
            }
            return count < kMaxDirRecords;
        });
    }

    StoreTableRecord(count, kDirEndRecord);
    ++count;
    state.dirCount.store(count, std::memory_order_relaxed);
}

bool Protocol::AddRemoteRow(const char* text, int32_t length) {
    if (length < 0) return false;
    RemoteRow row;
    if (!ParseRemoteRecord(text, static_cast<std::size_t>(length), host_.Codec(), row)) return false;
    const int32_t number = state.lastRecordNumber.load(std::memory_order_relaxed);
    host_.InsertRemoteRow(number, row.name, row.date, row.size, row.kind, number);
    return true;
}

}  // namespace quorbel
