#include "core/protocol/seat.h"

#include "core/base/catalogue.h"

namespace quorbel {

u16 SendFailureText(const SendFailure& failure) {
    // The third value is always 0.
    return FormatText(texts::kSendFailed.text,
                      {failure.error, failure.role == Role::Server ? 1 : 0, 0, u16view(failure.message)});
}

u16 RefusalNoteText(const RefusalNote& note) {
    return FormatText(texts::kSentNak.text, {note.index, note.count, u16view(note.record)});
}

u16 SourceTooLargeText(uint64_t limit) {
    return FormatText(texts::kSendTooLarge.text, {u16view(SizeLimitText(limit))});
}

}  // namespace quorbel
