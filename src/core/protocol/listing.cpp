// The directory table that answers a "DD" request, and the reading of the
// peer's "DR" records into right-pane rows.
#include <cstdio>
#include <cstring>

#include "core/protocol/listing.h"

#include "core/protocol/transfer.h"
#include "core/protocol/wire.h"

namespace quorbel {

namespace {

constexpr std::size_t kMaxFieldBytes = 63;
constexpr std::size_t kMaxDecimalDigits = 20;        // of a 64-bit value

// The first three commas of a record's fields, where the name and the
// other fields fit their limits.
bool FindFields(const char* text, std::size_t length, std::size_t (&commas)[3]) {
    int found = 0;
    for (std::size_t i = 0; i < length && found < 3; ++i)
        if (text[i] == ',') commas[found++] = i;
    if (found < 3 || commas[0] == 0) return false;
    return commas[0] <= kMaxPath && commas[1] - commas[0] - 1 <= kMaxFieldBytes &&
           commas[2] - commas[1] - 1 <= kMaxFieldBytes && length - commas[2] - 1 <= kMaxFieldBytes;
}

// A 64-bit value written in 1 to 20 decimal digits and nothing else.
bool ParseDecimal64(const char* text, std::size_t length, uint64_t& value) {
    if (length == 0 || length > kMaxDecimalDigits) return false;
    value = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned digit = unsigned(text[i]) - '0';
        if (digit > 9 || value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}

// An exact record without its NUL: its plain fields, and the two values
// after the last two commas.
bool SplitExactRecord(const char* text, std::size_t length, std::size_t& fieldsLength, uint64_t& bytes,
                      uint64_t& time) {
    const std::string_view record(text, length);
    const std::size_t timeComma = record.rfind(',');
    if (timeComma == std::string_view::npos || timeComma == 0) return false;
    const std::size_t bytesComma = record.rfind(',', timeComma - 1);
    std::size_t commas[3];
    fieldsLength = bytesComma;
    return bytesComma != std::string_view::npos &&
           ParseDecimal64(text + bytesComma + 1, timeComma - bytesComma - 1, bytes) &&
           ParseDecimal64(text + timeComma + 1, length - timeComma - 1, time) &&
           FindFields(text, bytesComma, commas);
}

// A hashed record's last field: 64 hex digits, or "-" for none; the rest
// of the record is what precedes its comma.
constexpr std::size_t kHashHexDigits = 64;
bool SplitHash(const char* text, std::size_t& length, std::string& hash) {
    const std::string_view record(text, length);
    const std::size_t comma = record.rfind(',');
    if (comma == std::string_view::npos) return false;
    const std::string_view field = record.substr(comma + 1);
    hash.clear();
    if (field != "-") {
        if (field.size() != kHashHexDigits || field.find_first_not_of("0123456789abcdef") != std::string_view::npos)
            return false;
        hash.assign(field);
    }
    length = comma;
    return true;
}

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
    if (!FindFields(text, length, commas)) return false;
    const std::size_t nameLength = commas[0];
    const std::size_t dateLength = commas[1] - commas[0] - 1;
    const std::size_t sizeLength = commas[2] - commas[1] - 1;
    const std::size_t kindLength = length - commas[2] - 1;
    row.name = codec.FromAnsi(std::string_view(text, nameLength));
    row.date = codec.FromAnsi(std::string_view(text + commas[0] + 1, dateLength));
    row.size = codec.FromAnsi(std::string_view(text + commas[1] + 1, sizeLength));
    // atoi of the rest: leading digits, 0 when there are none.
    row.image = ParseLeadingInt(FromAscii(std::string_view(text + commas[2] + 1, kindLength)));
    return true;
}

std::string FormatExactRecord(const PaneRow& row, const AnsiCodec& codec) {
    std::string record = codec.ToAnsi(FormatRecord(0, row)).substr(kBlockHeaderBytes);
    std::size_t commas[3];
    if (record.find('\0') != std::string::npos || !FindFields(record.data(), record.size(), commas)) return {};
    return record.append(",").append(std::to_string(row.bytes)).append(",").append(std::to_string(row.lastWriteTime));
}

bool ParsePage(const char* bytes, std::size_t length, const AnsiCodec& codec,
               const std::function<void(PaneRow&)>& take, bool hashed) {
    if (length <= kBlockHeaderBytes || length > kListingPageBytes) return false;
    const int32_t count = ParseHeaderNumber(bytes + 2);
    if (count <= 0) return false;
    // Checked whole first, handed out after: a broken page adds no row.
    for (bool check : {true, false}) {
        std::size_t pos = kBlockHeaderBytes;
        for (int32_t i = 0; i < count; ++i) {
            const char* text = bytes + pos;
            const char* end = static_cast<const char*>(std::memchr(text, '\0', length - pos));
            std::size_t fieldsLength, recordLength = end == nullptr ? 0 : std::size_t(end - text);
            PaneRow row;
            if (end == nullptr || (hashed && !SplitHash(text, recordLength, row.hash)) ||
                !SplitExactRecord(text, recordLength, fieldsLength, row.bytes, row.lastWriteTime))
                return false;
            if (!check) {
                ParseRecord(text, fieldsLength, codec, row);
                row.exact = true;
                take(row);
            }
            pos += std::size_t(end - text) + 1;
            if (pos >= length && i + 1 < count) return false;
        }
        if (pos != length) return false;
    }
    return true;
}

Listing::Listing(Exchange& exchange, PeerLink& link, UserSeat& seat, FileStore& files, Cryptography& crypto)
    : exchange_(exchange), link_(link), seat_(seat), files_(files), crypto_(crypto) {}

void Listing::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    table_.Clear();
}

void Listing::BeginOperation() {
    std::lock_guard<std::mutex> guard(lock_);
    rowsReceived_ = 0;
}

void Listing::EndSearch() {
    pages_.reset();
    tree_.reset();
    pageHeld_.clear();
}

uint64_t Listing::Rows(bool ours) const {
    std::lock_guard<std::mutex> guard(lock_);
    return uint64_t(ours ? rowsReceived_ : rowsServed_);
}

RefusalNote Listing::Note() const {
    RefusalNote note;
    std::string entry;
    {
        std::lock_guard<std::mutex> guard(lock_);
        note.index = table_.sendIndex;
        note.count = table_.count;
        if (note.index >= 0 && note.index < kDirSlots)
            entry.assign(table_.slots[note.index], BoundedLength(table_.slots[note.index], kDirSlotBytes));
    }
    note.record = link_.Codec().FromAnsi(entry);
    return note;
}

void Listing::CopyTable(char out[kDirSlots][kDirSlotBytes]) const {
    std::lock_guard<std::mutex> guard(lock_);
    std::memcpy(out, table_.slots, sizeof table_.slots);
}

bool Listing::Serve(u16view folder) {
    if (exchange_.Agreed().exactListing) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            table_.count = table_.sendIndex = rowsServed_ = 0;
        }
        pages_ = std::make_unique<FolderRowReader>(files_, folder);
        exchange_.SetState(RequestDIR, true);
        return SendNextPage();
    }
    BuildTable(folder);
    exchange_.SetState(RequestDIR, true);
    {
        std::lock_guard<std::mutex> guard(lock_);
        table_.sendIndex = 0;
    }
    return SendNextTableEntry();
}

bool Listing::ServeTree(u16view folder, bool hashes) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        table_.count = table_.sendIndex = rowsServed_ = 0;
    }
    tree_ = std::make_unique<TreeWalk>(files_, crypto_, folder, hashes);
    treeHashes_ = hashes;
    exchange_.SetState(RequestDIR, true);
    return SendNextPage();
}

bool Listing::SendNext() { return pages_ || tree_ ? SendNextPage() : SendNextTableEntry(); }

bool Listing::Take(const Message& m) {
    if (m.kind == Kind::ListEnd) {
        exchange_.End(Outcome::Done, true);
        return true;
    }
    if (m.kind == Kind::Page && exchange_.Agreed().exactListing) {
        if (AddRemotePage(m.bytes, m.length)) {
            exchange_.SendWord(Kind::Ack);
            return true;
        }
        // A broken page ends the connection, as a broken frame does.
        exchange_.Abandon(Outcome::Failed);
        return false;
    }
    if (m.kind == Kind::Record) {
        const int32_t number = ParseHeaderNumber(m.bytes + 2);
        if (number >= 0 && AddRemoteRow(number, m.bytes + kBlockHeaderBytes, m.textLength - kBlockHeaderBytes)) {
            exchange_.SendWord(Kind::Ack);
            return true;
        }
    }
    exchange_.Refuse(Outcome::Failed, true);
    return true;
}

void Listing::BuildTable(u16view folder) {
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
    rowsServed_ = count - 1;
}

bool Listing::SendNextPage() {
    const AnsiCodec& codec = link_.Codec();
    std::string page = WordText(Kind::Page) + "000000";
    int32_t count = 0;
    for (;;) {
        if (pageHeld_.empty()) {
            PaneRow row;
            if (!(tree_ ? tree_->Next(row) : pages_->Next(row))) break;
            pageHeld_ = FormatExactRecord(row, codec);
            if (pageHeld_.empty()) continue;  // left out whole, as a record too long for its slot
            if (tree_ && treeHashes_) pageHeld_.append(",").append(row.hash.empty() ? "-" : row.hash);
            // The monitor's table shows the listing's first records as the plain mode sends them.
            std::lock_guard<std::mutex> guard(lock_);
            const std::string plain =
                table_.count < kMaxDirRecords ? codec.ToAnsi(FormatRecord(rowsServed_, row)) : std::string();
            if (!plain.empty() && plain.size() < std::size_t(kDirSlotBytes)) {
                std::memcpy(table_.slots[table_.count], plain.c_str(), plain.size() + 1);
                table_.sendIndex = ++table_.count;
            }
            ++rowsServed_;
        }
        if (page.size() + pageHeld_.size() + 1 > kListingPageBytes) break;
        page.append(pageHeld_).push_back('\0');
        pageHeld_.clear();
        ++count;
    }
    if (count > 0) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%06d", static_cast<int>(count));
        page.replace(2, 6, digits);
        exchange_.SendFrame(page.data(), page.size());
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        std::memset(table_.slots[table_.count], 0, kDirSlotBytes);
        std::memcpy(table_.slots[table_.count], Word(Kind::ListEnd).data(), Word(Kind::ListEnd).size());
        table_.sendIndex = ++table_.count;
    }
    exchange_.SendWord(Kind::ListEnd);
    return true;
}

bool Listing::SendNextTableEntry() {
    char entry[kDirSlotBytes];
    int32_t index, count;
    {
        std::lock_guard<std::mutex> guard(lock_);
        index = table_.sendIndex;
        count = table_.count;
        if (index >= count) return false;  // the end record has gone out already
        std::memcpy(entry, table_.slots[index], sizeof entry);
        table_.sendIndex = index + 1;
    }
    exchange_.SendFrame(entry, BoundedLength(entry, sizeof entry));
    return index + 1 == count;
}

bool Listing::AddRemotePage(const char* bytes, std::size_t length) {
    int32_t received;
    {
        std::lock_guard<std::mutex> guard(lock_);
        received = rowsReceived_;
    }
    // A listing that would pass the rows any folder has is a flood.
    if (ParseHeaderNumber(bytes + 2) > kMaxListingRows - received) return false;
    return ParsePage(
        bytes, length, link_.Codec(),
        [&](PaneRow& row) {
            seat_.AddRemoteRow(row, received);
            std::lock_guard<std::mutex> guard(lock_);
            rowsReceived_ = ++received;
        },
        hashed_);
}

bool Listing::AddRemoteRow(int32_t number, const char* text, std::size_t length) {
    PaneRow row;
    if (!ParseRecord(text, length, link_.Codec(), row)) return false;
    seat_.AddRemoteRow(row, number);
    std::lock_guard<std::mutex> guard(lock_);
    ++rowsReceived_;
    return true;
}

}  // namespace quorbel
