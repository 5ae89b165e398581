// The directory table that answers a "DD" request, and the reading of the
// peer's "DR" records into right-pane rows.
#include <cstdio>
#include <cstring>

#include "core/protocol/protocol.h"
#include "core/protocol/wire.h"

namespace quorbel {

namespace {

constexpr std::size_t kMaxFieldBytes = 63;
constexpr int32_t kMaxDirRecords = kDirSlots - 1;  // the end record takes the last slot

}  // namespace

u16 FormatRecord(int32_t number, const PaneRow& row) {
    char header[16];
    std::snprintf(header, sizeof header, "%s%06d", WordText(Kind::Record).c_str(), static_cast<int>(number));
    u16 out = FromAscii(header);
    out.append(row.name).append(u",").append(row.date).append(u",").append(row.size).append(u",");
    out.append(FromAscii(std::to_string(row.image)));
    return out;
}

bool ParseRecord(const char* text, std::size_t length, const AnsiCodec& codec, PaneRow& row) {
    std::size_t commas[3];
    int found = 0;
    for (std::size_t i = 0; i < length && found < 3; ++i)
        if (text[i] == ',') commas[found++] = i;
    if (found < 3 || commas[0] == 0) return false;
    const std::size_t nameLength = commas[0];
    const std::size_t dateLength = commas[1] - commas[0] - 1;
    const std::size_t sizeLength = commas[2] - commas[1] - 1;
    const std::size_t kindLength = length - commas[2] - 1;
    if (nameLength > kMaxPath || dateLength > kMaxFieldBytes || sizeLength > kMaxFieldBytes ||
        kindLength > kMaxFieldBytes)
        return false;
    row.name = codec.FromAnsi(std::string_view(text, nameLength));
    row.date = codec.FromAnsi(std::string_view(text + commas[0] + 1, dateLength));
    row.size = codec.FromAnsi(std::string_view(text + commas[1] + 1, sizeLength));
    // atoi of the rest: leading digits, 0 when there are none.
    row.image = ParseLeadingInt(FromAscii(std::string_view(text + commas[2] + 1, kindLength)));
    return true;
}

void Protocol::BuildDirectoryTable(u16view folder) {
    const AnsiCodec& codec = link_.Codec();
    int32_t count = 0;
    auto store = [&](int32_t slot, std::string_view record) {
        std::lock_guard<std::mutex> guard(lock_);
        std::memset(table_.slots[slot], 0, kDirSlotBytes);
        std::memcpy(table_.slots[slot], record.data(), record.size());
    };
    CollectFolderRows(files_, folder, [&](const PaneRow& row) {
        const std::string record = codec.ToAnsi(FormatRecord(count, row));
        // A record that would not fit its slot is left out whole; the next
        // entry takes its number.
        if (record.size() < std::size_t(kDirSlotBytes)) store(count++, record);
        return count < kMaxDirRecords;
    });
    store(count++, Word(Kind::ListEnd));
    std::lock_guard<std::mutex> guard(lock_);
    table_.count = count;
}

void Protocol::SendNextTableEntry() {
    char entry[kDirSlotBytes];
    int32_t index, count;
    {
        std::lock_guard<std::mutex> guard(lock_);
        index = table_.sendIndex;
        count = table_.count;
        if (index >= count) return;  // the end record has gone out already
        std::memcpy(entry, table_.slots[index], sizeof entry);
        table_.sendIndex = index + 1;
    }
    SendFrame(entry, BoundedLength(entry, sizeof entry));
    if (index + 1 == count) FinishListing();
}

void Protocol::FinishListing() {
    // The end record has gone out and is not answered.
    End(Outcome::Done, true);
    if (GetRole() == Role::Server && !autoListed_) {
        // The Server lists the Client's folder once per peer, after the
        // Client's own first listing.
        link_.SleepMs(kAutoListingDelayMs);
        autoListed_ = true;
        BeginListing();
    }
}

bool Protocol::AddRemoteRow(int32_t number, const char* text, std::size_t length) {
    PaneRow row;
    if (!ParseRecord(text, length, link_.Codec(), row)) return false;
    seat_.AddRemoteRow(row, number);
    std::lock_guard<std::mutex> guard(lock_);
    ++rowsReceived_;
    return true;
}

}  // namespace quorbel
