// Prints every message-box text and caption of the program, every label its
// dialogs fill in and every socket error text, one per line as UTF-8 (CR and
// LF written as \r and \n), so that the manual can be checked against them.
#include <cstdio>
#include <string>

#include "core/base/socket_errors.h"
#include "core/base/catalogue.h"

namespace {

void PrintLine(quorbel::u16view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size())
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (c == u'\r') out += "\\r";
        else if (c == u'\n') out += "\\n";
        else if (c < 0x80) out += static_cast<char>(c);
        else if (c < 0x800) out += {char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))};
        else if (c < 0x10000)
            out += {char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
        else
            out += {char(0xF0 | (c >> 18)), char(0x80 | ((c >> 12) & 0x3F)), char(0x80 | ((c >> 6) & 0x3F)),
                    char(0x80 | (c & 0x3F))};
    }
    std::printf("%s\n", out.c_str());
}

}  // namespace

int main() {
    for (const quorbel::BoxText& box : quorbel::AllBoxTexts()) {
        PrintLine(box.text);
        if (box.caption) PrintLine(box.caption);
    }
    for (const char16_t* label : quorbel::AllLabelTexts()) PrintLine(label);
    for (int32_t code : quorbel::SocketErrorCodes()) PrintLine(quorbel::SocketErrorText(code));
    PrintLine(quorbel::SocketErrorText(0));
    return 0;
}
