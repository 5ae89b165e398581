// Text between the three forms the Linux peer meets: UTF-16 (the core),
// UTF-8 (Linux file names, the terminal) and the Windows side's ANSI code
// page on the wire (iconv, CP932 by default).
#pragma once

#include <iconv.h>
#include <time.h>

#include <cstdint>
#include <optional>
#include <string>

#include "core/base/text.h"

namespace quorbel::posix {

// Strict conversions: a lone surrogate, an overlong or otherwise invalid
// UTF-8 sequence gives nothing rather than a replacement.
std::optional<std::string> ToUtf8(u16view text);
std::optional<u16> FromUtf8(std::string_view bytes);
// For messages only: what cannot be converted becomes U+FFFD.
std::string ToUtf8Lossy(u16view text);

// FILETIME values (100 ns steps from 1601, 0 for "not known") and Linux
// times. Both ways clamp: a time that one side cannot hold becomes the
// nearest one it can (FILETIME ends in the year 30828, and has no time
// before 1601).
uint64_t ToFileTime(int64_t seconds, uint32_t nanoseconds);
// 0 gives UTIME_OMIT in tv_nsec: the time stays as it is.
timespec FromFileTime(uint64_t value);

// The code page of the Windows side. ToAnsi never substitutes: a text that
// the code page cannot hold exactly (no character, or only a look-alike
// such as U+00A5 for the backslash byte) converts to nothing, so callers
// check with Holds first. FromAnsi turns bytes that the code page does not
// define into U+FFFD, which no peer path may contain.
class IconvCodec : public AnsiCodec {
public:
    IconvCodec() = default;
    ~IconvCodec() override;
    IconvCodec(const IconvCodec&) = delete;
    IconvCodec& operator=(const IconvCodec&) = delete;

    // "CP932", "932" (taken as CP932) or any name iconv knows.
    bool Open(const std::string& codePage);
    const std::string& Name() const { return name_; }

    std::string ToAnsi(u16view text) const override;
    u16 FromAnsi(std::string_view bytes) const override;
    // The code page holds the text exactly: it converts, and converts back
    // to the same characters.
    bool Holds(u16view text) const;
    std::optional<std::string> Encode(u16view text) const;

private:
    void Close();

    std::string name_;
    // One conversion at a time: the peer runs on one thread.
    iconv_t toAnsi_ = reinterpret_cast<iconv_t>(-1);
    iconv_t fromAnsi_ = reinterpret_cast<iconv_t>(-1);
};

}  // namespace quorbel::posix
