#include "peer/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace quorbel::peer {

namespace {

std::string Megabytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    return text;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

Progress::Progress() : terminal_(::isatty(STDERR_FILENO) == 1) {}

void Progress::Begin(const std::string& label, uint64_t total) {
    label_ = label;
    total_ = total;
    start_ = lastDraw_ = Clock::now();
    shown_ = false;
}

void Progress::Update(uint64_t bytes) {
    // Five redraws a second are enough to read and cost nothing.
    if (!terminal_ || Quiet() || Clock::now() - lastDraw_ < std::chrono::milliseconds(200)) return;
    lastDraw_ = Clock::now();
    Draw(bytes);
}

void Progress::Draw(uint64_t bytes) {
    const double seconds = SecondsSince(start_);
    const double rate = seconds > 0 ? bytes / seconds : 0;
    std::string line = label_ + "  " + Megabytes(double(bytes));
    if (total_ > 0) {
        const int width = 20, filled = int(width * double(bytes) / double(total_));
        line += " of " + Megabytes(double(total_)) + " [" + std::string(std::min(filled, width), '#') +
                std::string(width - std::min(filled, width), '.') + "]";
    }
    line += "  " + Megabytes(rate) + "/s";
    if (total_ > 0 && rate > 0 && bytes <= total_) {
        const long left = long((total_ - bytes) / rate + 0.5);
        char text[32];
        std::snprintf(text, sizeof text, "  %ld:%02ld left", left / 60, left % 60);
        line += text;
    }
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    shown_ = true;
}

void Progress::End(uint64_t bytes, bool finished) {
    if (Quiet()) return;
    if (shown_) std::fprintf(stderr, "\r\033[K");
    shown_ = false;
    if (!finished) return;
    const double seconds = SecondsSince(start_);
    std::fprintf(stderr, "%s: %llu bytes in %.2f s (%s/s)\n", label_.c_str(), static_cast<unsigned long long>(bytes),
                 seconds, Megabytes(seconds > 0 ? bytes / seconds : 0).c_str());
}

}  // namespace quorbel::peer
