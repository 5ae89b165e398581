#include "linux/peer/session.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>

#include "linux/host/codec.h"
#include "linux/host/net.h"

namespace quorbel::peer {

namespace {

bool g_quiet = false, g_verbose = false;

}  // namespace

void InstallSignals() { posix::CatchSignals(); }
int PendingSignal() { return posix::CaughtSignal(); }
void ForgetSignal() { posix::ForgetCaughtSignal(); }

void SetReceiveTick(int fd) {
    const timeval tick{0, kTickMs * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
}

Receipt ReceiveOnce(Protocol& protocol, int fd, int waitMs) {
    // A wait of a whole tick is the recv itself, one call per message: a
    // signal interrupts it, and one that came just before it is heard at the
    // end of the tick. A shorter wait is a wait of its own.
    int flags = 0;
    if (waitMs < kTickMs) {
        switch (posix::WaitFor(fd, POLLIN, waitMs)) {
            case posix::Ready::Signal: return Receipt::Interrupted;
            case posix::Ready::TimedOut: return Receipt::Nothing;
            case posix::Ready::Yes: flags = MSG_DONTWAIT;
        }
    }
    const ssize_t n = ::recv(fd, protocol.ReceiveSpace(), protocol.ReceiveSpaceBytes(), flags);
    if (n < 0 && errno == EINTR) return Receipt::Interrupted;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Receipt::Nothing;
    if (n <= 0) return Receipt::Closed;
    return protocol.Received(std::size_t(n)) ? Receipt::Data : Receipt::BadFrame;
}

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

void Error(const std::string& text) { std::fprintf(stderr, "quorbel-peer: %s\n", text.c_str()); }
void SetQuiet(bool quiet) { g_quiet = quiet; }
bool Quiet() { return g_quiet; }
void SetVerbose(bool verbose) { g_verbose = verbose; }
void Detail(const std::string& text) {
    if (g_verbose) Error(text);
}
void Note(const std::string& text) {
    if (!g_quiet) Error(text);
}

bool PrepareSetup(const Options& o, Setup& s) {
    if (!s.codec.Open(o.codePage)) {
        Error("unknown code page '" + o.codePage + "'");
        return false;
    }
    for (const auto& [letter, folder] : o.drives) {
        std::string why;
        if (!s.drives.AddDrive(letter, folder, why)) {
            Error("cannot serve " + why);
            return false;
        }
    }
    const std::pair<const std::string*, u16*> halves[] = {{&o.id, &s.id}, {&o.pw, &s.pw}};
    for (const auto& [text, wide] : halves) {
        std::optional<u16> converted = posix::FromUtf8(*text);
        std::optional<std::string> ansi = converted ? s.codec.Encode(*converted) : std::nullopt;
        if (!ansi || ansi->size() >= kMaxCredential) {
            Error("the login pair must be text that " + s.codec.Name() + " holds, at most 126 bytes each");
            return false;
        }
        *wide = std::move(*converted);
    }
    return true;
}

std::string Utf8(u16view text) { return posix::ToUtf8Lossy(text); }

std::string Printable(u16view text) {
    u16 shown(text);
    for (char16_t& c : shown)
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) c = u'?';
    return Utf8(shown);
}

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::Done: return "done";
        case Outcome::Refused: return "refused";
        case Outcome::Failed: return "failed";
        case Outcome::Stopped: return "stopped";
        case Outcome::Lost: return "lost";
        case Outcome::Kept: return "kept";
        case Outcome::None: break;
    }
    return "none";
}

}  // namespace quorbel::peer
