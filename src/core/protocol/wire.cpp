#include "core/protocol/wire.h"

#include <cstring>

#include "core/base/text.h"

namespace quorbel {

namespace {

constexpr uint32_t In(int32_t state) { return 1u << state; }
constexpr uint32_t kAnyState = ~0u;  // every state there is

}  // namespace

const WireWord kWireWords[] = {
    // An empty login text: a Server that knows no secure session answers
    // it "NAK" as any "PW" without text. The marker's version follows, and
    // the Client's share where the offer is older than the Server's own salt.
    {Kind::SecureLogin, std::string_view("PW\0QBX", 6), SentBy::Client, In(Waiting), LengthRule::BytesAtLeast, 7,
     Operation::Login},
    {Kind::Login, "PW", SentBy::Client, In(Waiting), LengthRule::TextLongerThan, 2, Operation::Login},
    {Kind::Ack, "ACK", SentBy::Either, In(RequestDIR) | In(CallCopyTO) | In(RequestCopyFrom) | In(FolderTO),
     LengthRule::None, 0, Operation::Unknown},
    {Kind::Nak, "NAK", SentBy::Either, kAnyState, LengthRule::None, 0, Operation::Unknown},
    {Kind::Cut, "CUT", SentBy::Server, In(Waiting), LengthRule::TextExactly, 3, Operation::Unknown},
    {Kind::List, "DD", SentBy::Either, In(Waiting), LengthRule::TextLongerThan, 4, Operation::List},
    {Kind::TreeList, "DT", SentBy::Either, In(Waiting), LengthRule::TextLongerThan, 4, Operation::List},
    {Kind::HashedTreeList, "DH", SentBy::Either, In(Waiting), LengthRule::TextLongerThan, 4, Operation::List},
    {Kind::ListEnd, "DR999999", SentBy::Either, In(CallDIR), LengthRule::None, 0, Operation::Unknown},
    {Kind::Record, "DR", SentBy::Either, In(CallDIR), LengthRule::TextLongerThan, 11, Operation::Unknown},
    {Kind::Page, "DP", SentBy::Either, In(CallDIR), LengthRule::BytesAtLeast, 9, Operation::Unknown},
    {Kind::CopyTo, "FD", SentBy::Either, In(Waiting), LengthRule::TextLongerThan, 4, Operation::Receive},
    {Kind::CopyFrom, "FC", SentBy::Either, In(Waiting), LengthRule::TextLongerThan, 4, Operation::Send},
    {Kind::MakeFolder, "CD", SentBy::Either, In(Waiting), LengthRule::TextLongerThan, 2, Operation::MakeFolder},
    {Kind::EndTo, "FR999999", SentBy::Either, In(RequestCopyTO), LengthRule::None, 0, Operation::Unknown},
    {Kind::StopTo, "FRDTSTOP", SentBy::Either, In(RequestCopyTO), LengthRule::None, 0, Operation::Unknown},
    {Kind::SourceTo, "FRSOURCE", SentBy::Either, In(RequestCopyTO), LengthRule::TextLongerThan, 8,
     Operation::Unknown},
    {Kind::BlockTo, "FR", SentBy::Either, In(RequestCopyTO), LengthRule::BytesAtLeast, 8, Operation::Unknown},
    {Kind::EndFrom, "FB999999", SentBy::Either, In(CallCopyFrom), LengthRule::None, 0, Operation::Unknown},
    {Kind::StopFrom, "FBDTSTOP", SentBy::Either, In(CallCopyFrom), LengthRule::None, 0, Operation::Unknown},
    {Kind::SourceFrom, "FBSOURCE", SentBy::Either, In(CallCopyFrom), LengthRule::TextLongerThan, 8,
     Operation::Unknown},
    {Kind::BlockFrom, "FB", SentBy::Either, In(CallCopyFrom), LengthRule::BytesAtLeast, 8, Operation::Unknown},
    // Whatever else comes: no state takes it.
    {Kind::Unknown, "", SentBy::Either, 0, LengthRule::None, 0, Operation::Unknown},
};
const std::size_t kWireWordCount = sizeof kWireWords / sizeof kWireWords[0];

const char16_t* OperationStateName(int32_t state) {
    static const char16_t* const kNames[] = {
        u"Waiting", u"CallDIR", u"RequestDIR", u"CallCopyTO", u"RequestCopyTO", u"CallCopyFrom",
        u"RequestCopyFrom", u"FolderTO", u"FolderFrom", u"StopTO", u"StopFrom",
    };
    if (state < Waiting || state > StopFrom) return u"Unknown";
    return kNames[state];
}

const WireWord& WireRow(Kind kind) {
    // Every kind has its row, Unknown the last.
    const WireWord* row = kWireWords;
    while (row->kind != kind) ++row;
    return *row;
}

Kind Classify(const char* bytes, std::size_t length) {
    const std::size_t text = BoundedLength(bytes, length);
    for (const WireWord& row : kWireWords) {
        if (length < row.word.size() || (!row.word.empty() && std::memcmp(bytes, row.word.data(), row.word.size()) != 0))
            continue;
        switch (row.rule) {
            case LengthRule::None: return row.kind;
            case LengthRule::TextLongerThan: return text > row.length ? row.kind : Kind::Unknown;
            case LengthRule::TextExactly: return text == row.length ? row.kind : Kind::Unknown;
            case LengthRule::BytesAtLeast: return length >= row.length ? row.kind : Kind::Unknown;
        }
    }
    return Kind::Unknown;
}

}  // namespace quorbel
