// The user in front of this side, as the protocol sees it: what it reports
// happened, never how it is shown. Each front end words it in its own way
// (the Windows program picks its box from the catalogue, quorbel-peer its
// line on stderr).
#pragma once

#include <cstdint>

#include "core/base/text.h"
#include "core/panes/folder_rows.h"
#include "core/protocol/wire.h"

namespace quorbel {

// How an operation ended.
enum class Outcome {
    None,     // nothing ended yet
    Done,
    Refused,  // the peer answered "NAK" (or this side refused the request it served)
    Failed,   // this side could not go on (a file, a send, a malformed message)
    Stopped,  // the user asked for the stop
    Lost,     // the connection ended first
    Kept,     // a plain peer sent an end record alone: the existing file was kept
};

// One operation that ended, for a log.
struct OperationReport {
    Operation operation = Operation::Unknown;
    bool ours = false;  // started by this side (Call*) rather than served
    u16 path;           // the folder or file it concerned
    uint64_t bytes = 0; // file bytes moved, or records of a listing
    Outcome outcome = Outcome::None;
};

// A send to the peer that failed: the socket error, the role of this side,
// and the message that was to go (up to its first NUL, from the wire's code
// page).
struct SendFailure {
    int error = 0;
    Role role = Role::Client;
    u16 message;
};

// This side answered the peer "NAK": where the directory table of the last
// listing stood then (the index of the next record, the records, that record).
struct RefusalNote {
    int32_t index = 0;
    int32_t count = 0;
    u16 record;
};

// The catalogue's words for the events above, as the Windows program shows
// them in its boxes (texts::kSendFailed, kSentNak, kSendTooLarge).
u16 SendFailureText(const SendFailure& failure);
u16 RefusalNoteText(const RefusalNote& note);
u16 SourceTooLargeText(uint64_t limit);

class UserSeat {
public:
    virtual ~UserSeat() = default;
    virtual void SendFailed(const SendFailure&) = 0;
    // It must not hold the caller: a peer may earn many in a row.
    virtual void PeerRefused(const RefusalNote&) = 0;
    // A copy this side started cannot go: its file is larger than `limit` bytes.
    virtual void SourceTooLarge(uint64_t limit) = 0;
    // The operation state or the connection's mode changed.
    virtual void StateChanged() = 0;
    // The right pane: delete all rows; append one row for a record of the
    // peer's listing (image is the record's kind as sent, row parameter its
    // record number).
    virtual void ClearRemoteRows() = 0;
    virtual void AddRemoteRow(const PaneRow& row, int32_t recordNumber) = 0;
    // An operation ended (served or started here).
    virtual void OperationEnded(const OperationReport&) {}
};

}  // namespace quorbel
