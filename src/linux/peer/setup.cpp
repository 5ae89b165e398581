#include "linux/peer/setup.h"

#include "linux/peer/messages.h"

namespace quorbel::peer {

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

}  // namespace quorbel::peer
