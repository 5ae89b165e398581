#include "core/base/catalogue.h"

#include <string>

namespace quorbel {

const std::vector<BoxText>& AllBoxTexts() {
#define QUORBEL_LIST_BOX(name, text, caption) texts::name,
    static const std::vector<BoxText> all = {QUORBEL_BOX_TEXTS(QUORBEL_LIST_BOX)};
#undef QUORBEL_LIST_BOX
    return all;
}

const std::vector<const char16_t*>& AllLabelTexts() {
#define QUORBEL_LIST_LABEL(name, text) texts::name,
    static const std::vector<const char16_t*> all = {QUORBEL_LABEL_TEXTS(QUORBEL_LIST_LABEL)};
#undef QUORBEL_LIST_LABEL
    return all;
}

u16 FormatText(u16view format, std::initializer_list<TextArg> args) {
    u16 out;
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        const bool placeholder = format[i] == u'%' && i + 1 < format.size() &&
                                 (format[i + 1] == u'd' || format[i + 1] == u's');
        if (!placeholder || next == args.end() || next->isNumber != (format[i + 1] == u'd')) {
            out.push_back(format[i]);
            continue;
        }
        if (next->isNumber) out += FromAscii(std::to_string(next->number));
        else out += next->text;
        ++next;
        ++i;
    }
    return out;
}

u16 SizeLimitText(uint64_t bytes) {
    static constexpr char16_t kUnits[] = u"KMGT";
    int unit = 0;
    while (unit + 1 < 4 && bytes >> (10 * (unit + 2)) != 0) ++unit;
    return FromAscii(std::to_string(bytes >> (10 * (unit + 1)))) + kUnits[unit] + u"byte";
}

}  // namespace quorbel
