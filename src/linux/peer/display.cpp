#include "linux/peer/display.h"

#include "linux/host/codec.h"

namespace quorbel::peer {

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
