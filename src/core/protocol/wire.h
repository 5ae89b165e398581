// The words of the wire, in one table: every kind of message, who sends it,
// the operation states that take it and the length it needs. The
// dispatcher reads received messages through Classify, the encoders write
// the words from the table, the fuzzer builds its messages from it; adding
// a message is a row here, its handler and its test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorbel {

// ---- Operation state ----------------------------------------------------
// The single busy indicator of a side. Call* belongs to the side that
// started an operation, Request* to the side serving the peer's request.
enum OperationState : int32_t {
    Waiting = 0,
    CallDIR = 1,
    RequestDIR = 2,
    CallCopyTO = 3,
    RequestCopyTO = 4,
    CallCopyFrom = 5,
    RequestCopyFrom = 6,
    FolderTO = 7,
    FolderFrom = 8,
    StopTO = 9,
    StopFrom = 10,
};

// The name of a state, which is also its status-bar text. A value outside
// 0..10 gives "Unknown".
const char16_t* OperationStateName(int32_t state);

// What an operation does, whichever side started it.
enum class Operation { Login, List, Send, Receive, MakeFolder, Unknown };

enum class Kind {
    SecureLogin, // "PW", NUL, the secure session's marker (and the Client's share before the Server's own salt)
    Login,       // "PW" + login text (+ NUL and the fast mode's marker)
    Ack,         // "ACK": the last message was taken
    Nak,         // "NAK": refused; ends the operation on both sides
    Cut,         // "CUT": the Server closes; the Client closes too
    List,        // "DD" + folder: list it
    TreeList,    // "DT" + folder: list its whole tree in pages (treeListing)
    HashedTreeList,  // "DH" + folder: the same, each file with its hash
    Record,      // "DR" + number + record of the listing
    ListEnd,     // "DR999999": the listing's end, not answered
    Page,        // "DP" + count + exact records: a page of an exact listing
    CopyTo,      // "FD" + path: a copy to the side that takes it: take the file I send there
    CopyFrom,    // "FC" + path: a copy from the side that takes it: send me that file
    MakeFolder,  // "CD" + path: create that folder
    BlockTo,     // "FR" + number + data: a block of a file sent to the peer ("FD")
    EndTo,       // "FR999999" + times: that file's end
    StopTo,      // "FRDTSTOP": that file's copy stops
    SourceTo,    // "FRSOURCE" + size,time[,bytes,hash]: the file about to be sent (resume)
    BlockFrom,   // "FB" + number + data: a block of a file the peer asked for ("FC")
    EndFrom,     // "FB999999" + times
    StopFrom,    // "FBDTSTOP"
    SourceFrom,  // "FBSOURCE" + size,time[,bytes,hash]
    Unknown,     // none of them, or one without the length it needs
};

enum class SentBy { Client, Server, Either };

// The side a Protocol speaks for.
enum class Role { Client, Server };

// Where a message came from: the peer, or (a Server's) a connection beside
// it, which always speaks the plain protocol.
enum class Origin { Peer, Beside };

// What a message needs beyond its word: its text (up to the first NUL)
// longer than `length`, exactly `length` long, or `length` bytes at least.
enum class LengthRule { None, TextLongerThan, TextExactly, BytesAtLeast };

struct WireWord {
    Kind kind;
    std::string_view word;  // the bytes the message starts with
    SentBy sentBy;
    uint32_t takenIn;  // bit (1 << state) for each operation state that takes it
    LengthRule rule;
    std::size_t length;
    // What serving it is for the side that takes it in Waiting (a request
    // of the peer), Unknown for the rest.
    Operation serves;
};

// Every row, the longer of two words with one beginning first.
extern const WireWord kWireWords[];
extern const std::size_t kWireWordCount;

// The row of a kind (Unknown's takes nothing in any state).
const WireWord& WireRow(Kind kind);
inline std::string_view Word(Kind kind) { return WireRow(kind).word; }
inline std::string WordText(Kind kind) { return std::string(Word(kind)); }

// The kind of a received message: the first row whose word it starts with,
// Unknown when none fits or the message lacks the length its row needs.
Kind Classify(const char* bytes, std::size_t length);

// Whether a state takes a kind at all.
inline bool TakenIn(Kind kind, int32_t state) {
    return state >= Waiting && state <= StopFrom && (WireRow(kind).takenIn >> state & 1u) != 0;
}

// The way of a copy, by its request: To, the file goes to the side that
// took "FD" (its messages are "FR"); From, that side was asked for it with
// "FC" ("FB").
enum class Way { To, From };

// The kinds of a copy's own messages, by its way.
inline Kind BlockKind(Way way) { return way == Way::To ? Kind::BlockTo : Kind::BlockFrom; }
inline Kind EndKind(Way way) { return way == Way::To ? Kind::EndTo : Kind::EndFrom; }
inline Kind StopKind(Way way) { return way == Way::To ? Kind::StopTo : Kind::StopFrom; }
inline Kind SourceKind(Way way) { return way == Way::To ? Kind::SourceTo : Kind::SourceFrom; }

}  // namespace quorbel
