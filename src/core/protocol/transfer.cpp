#include "core/protocol/transfer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/protocol/framing.h"

namespace quorbel {

namespace {

constexpr std::string_view kNoteStart = "quorbel partial ";
constexpr std::size_t kHashHexBytes = PartHash::kHexDigits;

// Digits only, within 64 bits.
bool ParseDecimal(std::string_view text, uint64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = uint64_t(c - '0');
        if (v > (UINT64_MAX - digit) / 10) return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

// The next field up to `separator` (or the end), taken off `text`.
std::string_view TakeField(std::string_view& text, char separator) {
    const std::size_t at = text.find(separator);
    const std::string_view field = text.substr(0, at);
    text = at == std::string_view::npos ? std::string_view() : text.substr(at + 1);
    return field;
}

bool IsHashHex(std::string_view text) {
    if (text.size() != kHashHexBytes) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

}  // namespace

void PutBlockHeader(char* out, Way way, int32_t number) {
    char header[16];
    std::snprintf(header, sizeof header, "%s%06d", WordText(BlockKind(way)).c_str(), static_cast<int>(number));
    std::memcpy(out, header, kBlockHeaderBytes);
}

void PutEndRecord(char* out, Way way, const FileTimes& times) {
    const std::string_view word = Word(EndKind(way));
    std::memcpy(out, word.data(), word.size());
    int i = 0;
    for (uint64_t t : {times.creation, times.lastAccess, times.lastWrite}) {
        PutLittleEndian32(out + 8 + 8 * i, static_cast<uint32_t>(t));
        PutLittleEndian32(out + 12 + 8 * i, static_cast<uint32_t>(t >> 32));
        ++i;
    }
}

void BlockWindow::Start(bool windowed) {
    *this = BlockWindow();
    windowed_ = windowed;
    limit_ = windowed ? kFirstLimit : 1;
}

void BlockWindow::Sent(int64_t nowUs) {
    if (inFlight_ >= kMaxBlocksInFlight) return;
    sentUs_[(oldest_ + inFlight_) % kMaxBlocksInFlight] = nowUs;
    ++inFlight_;
}

void BlockWindow::Answered(int64_t nowUs) {
    if (inFlight_ == 0) return;
    const int64_t took = nowUs - sentUs_[oldest_];
    oldest_ = (oldest_ + 1) % kMaxBlocksInFlight;
    --inFlight_;
    if (!windowed_) return;
    // The fastest answer is the one that waited behind no other block: the
    // round trip and one block's time on the way and on the disk.
    if (fastestAnswerUs_ < 0 || took < fastestAnswerUs_) fastestAnswerUs_ = took;
    if (lastAnswerUs_ >= 0) {
        const int64_t gap = nowUs - lastAnswerUs_;
        gapUs_ = gapUs_ < 0 ? gap : (7 * gapUs_ + gap) / 8;
    }
    lastAnswerUs_ = nowUs;
    if (gapUs_ > 0) {
        const int64_t cover = (fastestAnswerUs_ + gapUs_ - 1) / gapUs_ + 1;
        limit_ = int(std::clamp<int64_t>(cover, kFirstLimit, kMaxBlocksInFlight));
    }
}

int BlockWindow::Forget() {
    const int blocks = inFlight_;
    inFlight_ = 0;
    return blocks;
}

u16 PartialName(u16view finalName) { return u16(finalName) + u".$PART"; }
u16 PartialNoteName(u16view finalName) { return u16(finalName) + u".$PARTID"; }

std::string EncodePartialNote(uint64_t size, uint64_t lastWrite) {
    return std::string(kNoteStart) + std::to_string(size) + " " + std::to_string(lastWrite) + "\n";
}

bool ParsePartialNote(std::string_view text, uint64_t& size, uint64_t& lastWrite) {
    if (text.substr(0, kNoteStart.size()) != kNoteStart || text.empty() || text.back() != '\n') return false;
    text = text.substr(kNoteStart.size(), text.size() - kNoteStart.size() - 1);
    const std::string_view first = TakeField(text, ' ');
    return ParseDecimal(first, size) && ParseDecimal(text, lastWrite);
}

std::string EncodeSourceInfo(const SourceInfo& info) {
    std::string out = std::to_string(info.size) + "," + std::to_string(info.lastWrite);
    if (info.hasPrefix) out += "," + std::to_string(info.prefixBytes) + "," + info.prefixHash;
    return out;
}

bool ParseSourceInfo(std::string_view text, SourceInfo& info) {
    info = SourceInfo{};
    if (!ParseDecimal(TakeField(text, ','), info.size) || !ParseDecimal(TakeField(text, ','), info.lastWrite))
        return false;
    if (text.data() == nullptr) return true;
    info.hasPrefix = true;
    if (!ParseDecimal(TakeField(text, ','), info.prefixBytes)) return false;
    if (!text.empty() && !IsHashHex(text)) return false;
    info.prefixHash.assign(text);
    return true;
}

std::string EncodeResumePoint(uint64_t bytes) { return WordText(Kind::Ack) + '\0' + std::to_string(bytes); }

bool ParseResumePoint(const char* data, std::size_t length, uint64_t& bytes) {
    const std::size_t word = Word(Kind::Ack).size();
    // "ACK" alone: from the first byte.
    bytes = 0;
    return length == word || (length > word + 1 && data[word] == '\0' &&
                              ParseDecimal(std::string_view(data + word + 1, length - word - 1), bytes));
}

u16 TemporaryName(u16view finalName, int attempt) {
    // Only the file's own name is looked at: a dot in a folder's name would
    // put the file beside its folder under another name.
    const std::size_t slash = finalName.rfind(u'\\');
    const std::size_t dot = finalName.rfind(u'.');
    const bool ownDot = dot != u16view::npos && (slash == u16view::npos || dot > slash);
    u16 name(ownDot ? finalName.substr(0, dot) : finalName);
    if (attempt > 0) {
        for (char c : "~" + std::to_string(attempt)) name.push_back(static_cast<char16_t>(c));
    }
    return name + u".$TEMP";
}

std::string EncodeEndRecord(Way way, const FileTimes& times) {
    std::string out(kEndRecordBytes, '\0');
    PutEndRecord(out.data(), way, times);
    return out;
}

FileTimes ParseEndRecordTimes(const char* data, std::size_t count) {
    char raw[24] = {};
    std::memcpy(raw, data, count < sizeof raw ? count : sizeof raw);
    auto at = [&](int i) {
        return uint64_t(GetLittleEndian32(raw + 8 * i)) | uint64_t(GetLittleEndian32(raw + 8 * i + 4)) << 32;
    };
    return FileTimes{at(0), at(1), at(2)};
}

int32_t ParseHeaderNumber(const char* sixBytes) {
    int32_t value = 0;
    for (int i = 0; i < 6; ++i) {
        const char c = sixBytes[i];
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

bool HashFile(SourceFile& file, uint64_t bytes, Cryptography& crypto, std::vector<char>& buffer, std::string& hex) {
    // Without a hash the digest stays empty, which matches none: the copy
    // starts over, as one that may not resume does.
    const std::unique_ptr<PartHash> hash = crypto.NewPartHash();
    hex.clear();
    if (!hash) return true;
    if (buffer.size() < kFastBlockBytes) buffer.resize(kFastBlockBytes);
    while (bytes > 0) {
        const std::size_t ask = std::size_t(std::min<uint64_t>(bytes, buffer.size()));
        const int64_t got = file.Read(buffer.data(), ask);
        if (got <= 0 || uint64_t(got) > ask) return false;
        hash->Add(buffer.data(), std::size_t(got));
        bytes -= uint64_t(got);
    }
    hex = hash->FinishHex();
    return true;
}

int64_t BlockReader::Fill(SourceFile& file, char* buffer, std::size_t maxBytes) {
    std::size_t copied = 0;
    while (copied < maxBytes) {
        if (pos_ < length_) {
            const std::size_t n = std::min(length_ - pos_, maxBytes - copied);
            std::memcpy(buffer + copied, ahead_.data() + pos_, n);
            pos_ += n;
            copied += n;
            continue;
        }
        if (end_) break;
        const bool straight = maxBytes - copied >= kReadAheadBytes;
        if (!straight && ahead_.empty()) ahead_.resize(kReadAheadBytes);
        char* into = straight ? buffer + copied : ahead_.data();
        const int64_t got = file.Read(into, straight ? maxBytes - copied : kReadAheadBytes);
        if (got < 0 || uint64_t(got) > (straight ? maxBytes - copied : kReadAheadBytes)) return -1;
        if (got == 0) end_ = true;
        else if (straight) copied += std::size_t(got);
        else pos_ = 0, length_ = std::size_t(got);
    }
    return int64_t(copied);
}

}  // namespace quorbel
