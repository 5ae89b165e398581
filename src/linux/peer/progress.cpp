#include "linux/peer/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "linux/peer/messages.h"

namespace quorbel::peer {

namespace {

constexpr int kUnknownColumns = 80;

std::string Megabytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    return text;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Columns a UTF-8 code point takes: two for the wide scripts (CJK, kana,
// Hangul, full-width forms), none for a continuation byte.
int Columns(const std::string& text, std::size_t at, std::size_t& length) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    length = lead < 0x80 ? 1 : lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 1;
    length = std::min(length, text.size() - at);
    uint32_t code = length == 1 ? lead : lead & (0x3f >> (length - 1));
    for (std::size_t i = 1; i < length; ++i) code = code << 6 | (static_cast<unsigned char>(text[at + i]) & 0x3f);
    const bool wide = (code >= 0x1100 && code <= 0x115f) || (code >= 0x2e80 && code <= 0xa4cf) ||
                      (code >= 0xac00 && code <= 0xd7a3) || (code >= 0xf900 && code <= 0xfaff) ||
                      (code >= 0xfe30 && code <= 0xfe4f) || (code >= 0xff00 && code <= 0xff60) ||
                      (code >= 0xffe0 && code <= 0xffe6) || code >= 0x1f300;
    return wide ? 2 : 1;
}

int Width(const std::string& text) {
    int columns = 0;
    for (std::size_t at = 0, length = 0; at < text.size(); at += length) columns += Columns(text, at, length);
    return columns;
}

// The end of `text` that fits `columns`, after "..." when it was cut.
std::string TailFitting(const std::string& text, int columns) {
    if (Width(text) <= columns) return text;
    if (columns < 4) return std::string(std::size_t(std::max(columns, 0)), '.');
    std::size_t at = 0, length = 0;
    for (int over = Width(text) - (columns - 3); over > 0 && at < text.size(); at += length)
        over -= Columns(text, at, length);
    return "..." + text.substr(at);
}

int TerminalColumns() {
    winsize size{};
    return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? int(size.ws_col) : kUnknownColumns;
}

}  // namespace

std::string ProgressLine(const std::string& label, uint64_t bytes, uint64_t total, double seconds, int columns) {
    const double rate = seconds > 0 ? double(bytes) / seconds : 0;
    std::string numbers = "  " + Megabytes(double(bytes));
    if (total > 0) {
        char percent[16];
        std::snprintf(percent, sizeof percent, "%3d%%", int(100 * double(std::min(bytes, total)) / double(total)));
        numbers += " of " + Megabytes(double(total)) + "  " + percent;
    }
    numbers += "  " + Megabytes(rate) + "/s";
    if (total > 0 && rate > 0 && bytes <= total) {
        const long left = long(double(total - bytes) / rate + 0.5);
        char text[32];
        std::snprintf(text, sizeof text, "  %ld:%02ld left", left / 60, left % 60);
        numbers += text;
    }
    // The numbers are what the line is for: the label gives way first.
    const int room = columns - 1;
    const int forLabel = room - int(numbers.size());
    if (forLabel >= 8) return TailFitting(label, forLabel) + numbers;
    return TailFitting(label + numbers, room);
}

Progress::Progress() {
    const char* term = std::getenv("TERM");
    terminal_ = ::isatty(STDERR_FILENO) == 1 && !(term && std::strcmp(term, "dumb") == 0);
}

void Progress::Begin(const std::string& label, uint64_t total) {
    label_ = label;
    total_ = total;
    start_ = lastDraw_ = Clock::now();
    shown_ = interrupted_ = false;
}

void Progress::Update(uint64_t bytes, uint64_t total) {
    if (total > 0) total_ = total;
    // Five redraws a second are enough to read and cost nothing.
    if (!terminal_ || Quiet() || interrupted_ || Clock::now() - lastDraw_ < std::chrono::milliseconds(200)) return;
    lastDraw_ = Clock::now();
    Draw(bytes);
}

void Progress::Draw(uint64_t bytes) {
    // Read each time: a resized window gets lines of its new width.
    const std::string line = ProgressLine(label_, bytes, total_, SecondsSince(start_), TerminalColumns());
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    shown_ = true;
}

void Progress::Clear() {
    if (shown_) std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}

void Progress::Interrupt() {
    interrupted_ = true;
    Clear();
}

void Progress::End(uint64_t bytes, bool finished) {
    if (Quiet()) return;
    Clear();
    if (!finished) return;
    const double seconds = SecondsSince(start_);
    std::fprintf(stderr, "%s: %llu bytes in %.2f s (%s/s)\n", label_.c_str(), static_cast<unsigned long long>(bytes),
                 seconds, Megabytes(seconds > 0 ? bytes / seconds : 0).c_str());
}

}  // namespace quorbel::peer
