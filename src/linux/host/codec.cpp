#include "linux/host/codec.h"

#include <sys/stat.h>

#include <cerrno>
#include <cctype>

namespace quorbel::posix {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
constexpr char16_t kReplacement = 0xFFFD;

void PutUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Encodes until a lone surrogate; returns where it stopped.
std::size_t EncodeUtf8(u16view text, std::string& out, bool lossy) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            if (!lossy) return i;
            c = kReplacement;
        }
        PutUtf8(out, c);
    }
    return text.size();
}

// Bytes of one UTF-8 sequence starting at `at`, or 0 when it is invalid.
std::size_t DecodeUtf8(std::string_view s, std::size_t at, char32_t& c) {
    const unsigned char b = static_cast<unsigned char>(s[at]);
    std::size_t n;
    char32_t min;
    if (b < 0x80) {
        c = b;
        return 1;
    } else if ((b & 0xE0) == 0xC0) {
        n = 2, c = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        n = 3, c = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        n = 4, c = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() - at < n) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const unsigned char t = static_cast<unsigned char>(s[at + k]);
        if ((t & 0xC0) != 0x80) return 0;
        c = (c << 6) | (t & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    return n;
}

void PutUtf16(u16& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

// Runs one iconv conversion over all of `in`. With `lossy`, a byte the
// source does not define becomes U+FFFD (in UTF-8) and is skipped;
// otherwise the conversion fails.
bool Convert(iconv_t cd, std::string_view in, std::string& out, bool lossy) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in.data());
    std::size_t left = in.size();
    char buffer[1024];
    for (;;) {
        char* dst = buffer;
        std::size_t room = sizeof buffer;
        const std::size_t r = iconv(cd, left > 0 ? &src : nullptr, left > 0 ? &left : nullptr, &dst, &room);
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (r != static_cast<std::size_t>(-1)) {
            if (left == 0) return true;
            continue;
        }
        if (errno == E2BIG) continue;
        if (!lossy) return false;
        out.append("\xEF\xBF\xBD");
        if (errno != EILSEQ || left == 0) return true;  // a cut sequence at the end
        ++src;
        --left;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
}

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;
// Seconds from 1970 of the first and (within a second) the last FILETIME.
constexpr int64_t kFirstSecond = -kUnixEpochAsFileTime / kTicksPerSecond;
constexpr int64_t kLastSecond = (INT64_MAX - kUnixEpochAsFileTime) / kTicksPerSecond;

}  // namespace

uint64_t ToFileTime(int64_t seconds, uint32_t nanoseconds) {
    if (seconds >= kLastSecond) return uint64_t(INT64_MAX);
    if (seconds < kFirstSecond) return 0;
    const uint64_t value = uint64_t(kUnixEpochAsFileTime + seconds * kTicksPerSecond) + nanoseconds / 100;
    return value < uint64_t(INT64_MAX) ? value : uint64_t(INT64_MAX);
}

timespec FromFileTime(uint64_t value) {
    timespec t{};
    if (value == 0) {
        t.tv_nsec = UTIME_OMIT;
        return t;
    }
    const int64_t since = int64_t(value < uint64_t(INT64_MAX) ? value : uint64_t(INT64_MAX)) - kUnixEpochAsFileTime;
    int64_t seconds = since / kTicksPerSecond, rest = since % kTicksPerSecond;
    if (rest < 0) rest += kTicksPerSecond, --seconds;
    t.tv_sec = static_cast<time_t>(seconds);
    t.tv_nsec = static_cast<long>(rest * 100);
    return t;
}

std::optional<std::string> ToUtf8(u16view text) {
    std::string out;
    if (EncodeUtf8(text, out, false) != text.size()) return std::nullopt;
    return out;
}

std::string ToUtf8Lossy(u16view text) {
    std::string out;
    EncodeUtf8(text, out, true);
    return out;
}

std::optional<u16> FromUtf8(std::string_view bytes) {
    u16 out;
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t c;
        const std::size_t n = DecodeUtf8(bytes, i, c);
        if (n == 0) return std::nullopt;
        PutUtf16(out, c);
        i += n;
    }
    return out;
}

IconvCodec::~IconvCodec() { Close(); }

void IconvCodec::Close() {
    if (toAnsi_ != kNoConverter) iconv_close(toAnsi_);
    if (fromAnsi_ != kNoConverter) iconv_close(fromAnsi_);
    toAnsi_ = fromAnsi_ = kNoConverter;
}

bool IconvCodec::Open(const std::string& codePage) {
    std::string name = codePage;
    if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0]))) name = "CP" + name;
    iconv_t to = iconv_open(name.c_str(), "UTF-8");
    iconv_t from = iconv_open("UTF-8", name.c_str());
    if (to == kNoConverter || from == kNoConverter) {
        if (to != kNoConverter) iconv_close(to);
        if (from != kNoConverter) iconv_close(from);
        return false;
    }
    Close();
    toAnsi_ = to;
    fromAnsi_ = from;
    name_ = name;
    return true;
}

std::optional<std::string> IconvCodec::Encode(u16view text) const {
    const std::optional<std::string> utf8 = ToUtf8(text);
    std::string ansi;
    if (!utf8 || toAnsi_ == kNoConverter || !Convert(toAnsi_, *utf8, ansi, false)) return std::nullopt;
    // iconv maps some characters to the byte of a look-alike (U+00A5 to the
    // backslash in CP932); only a conversion that comes back unchanged counts.
    std::string back;
    if (!Convert(fromAnsi_, ansi, back, false) || back != *utf8) return std::nullopt;
    return ansi;
}

bool IconvCodec::Holds(u16view text) const { return Encode(text).has_value(); }

std::string IconvCodec::ToAnsi(u16view text) const { return Encode(text).value_or(std::string()); }

u16 IconvCodec::FromAnsi(std::string_view bytes) const {
    std::string utf8;
    if (fromAnsi_ == kNoConverter) return u16(bytes.size(), kReplacement);
    Convert(fromAnsi_, bytes, utf8, true);
    u16 out;
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t c;
        const std::size_t n = DecodeUtf8(utf8, i, c);
        PutUtf16(out, n == 0 ? kReplacement : c);
        i += n == 0 ? 1 : n;
    }
    return out;
}

}  // namespace quorbel::posix
