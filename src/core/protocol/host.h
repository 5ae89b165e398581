// What a front end gives the protocol, in three parts as PuTTY keeps its
// network callbacks apart from the user's seat: the connection to the peer,
// the user in front of this side, and the files this side serves and
// writes. One object may be all three (both front ends' hosts are).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/base/text.h"
#include "core/panes/folder_rows.h"
#include "core/protocol/wire.h"

namespace quorbel {

enum class Role { Client, Server };

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

// The three FILETIME values of a file, each as its 64-bit value.
struct FileTimes {
    uint64_t creation = 0;
    uint64_t lastAccess = 0;
    uint64_t lastWrite = 0;
};

// A secure session from the front end's cryptography library: a
// password-authenticated key exchange over the login text, then every
// frame sealed. The Client is one side of the exchange, the Server the
// other; both stretch the login text with the same salt before their
// shares exist.
class SecureSession {
public:
    static constexpr std::size_t kShareBytes = 65;
    static constexpr std::size_t kConfirmationBytes = 32;
    // What sealing adds to a frame.
    static constexpr std::size_t kTagBytes = 16;
    virtual ~SecureSession() = default;
    virtual std::string OwnShare() const = 0;
    // False when the peer's share cannot be one: the exchange is over.
    virtual bool TakePeerShare(const char* share, std::size_t length) = 0;
    // Valid once the peer's share was taken.
    virtual std::string OwnConfirmation() const = 0;
    // True only when the peer knew the same login text and saw the same
    // shares; sealing works from then on.
    virtual bool PeerConfirms(const char* confirmation, std::size_t length) = 0;
    // The next frame of this side, `length` bytes at `data` sealed in
    // place and its tag written after them, `aad` bound to it.
    virtual bool Seal(char* data, std::size_t length, const char* aad, std::size_t aadLength) = 0;
    // The peer's next frame, `length` bytes with its tag, opened in place.
    // False when it is not that frame unchanged with this `aad`; nothing
    // opens after that.
    virtual bool Open(char* data, std::size_t length, const char* aad, std::size_t aadLength) = 0;
};

// The connection to the peer.
class PeerLink {
public:
    virtual ~PeerLink() = default;
    // One send of exactly `length` bytes to the peer. 0, or the socket error.
    virtual int SendBytes(const char* data, std::size_t length) = 0;
    // Closes the connection after this many milliseconds (the Client's answer to "CUT").
    virtual void CloseAfter(uint32_t milliseconds) = 0;
    // Ends this connection now (after too many wrong login pairs).
    virtual void EndConnection() = 0;
    // Holds this side's answer back (a wrong login pair, the Server's own listing).
    virtual void SleepMs(uint32_t milliseconds) = 0;
    // Text to and from the wire's ANSI code page.
    virtual const AnsiCodec& Codec() const = 0;
    // A secure session for this connection, its login text stretched with
    // `salt` (this takes a noticeable part of a second); null when this
    // side has no cryptography or its library failed: a Server then answers
    // as one that knows no secure session, a Client sends no login.
    virtual std::unique_ptr<SecureSession> NewSecureSession(Role, const std::string& /*loginText*/,
                                                            const std::string& /*salt*/) {
        return nullptr;
    }
};

// The user in front of this side.
class UserSeat {
public:
    virtual ~UserSeat() = default;
    // Message box, OK button only; returns when it is closed.
    virtual void ShowMessage(u16view text, u16view caption) = 0;
    // The "SEND-NAK" note: it must not hold the caller, and one is enough
    // while an earlier one is still shown.
    virtual void ShowSentNak(u16view text) = 0;
    // Shows the current operation state.
    virtual void RefreshStatusBar() = 0;
    // The right pane: delete all rows; append one row for a record of the
    // peer's listing (image is the record's kind as sent, row parameter its
    // record number).
    virtual void ClearRemoteRows() = 0;
    virtual void AddRemoteRow(const PaneRow& row, int32_t recordNumber) = 0;
    // An operation ended (served or started here).
    virtual void OperationEnded(const OperationReport&) {}
};

// A hash of the bytes a copy would resume after, from the front end's
// cryptography library: both sides must form the same one.
class PartHash {
public:
    // Its digest as lower-case hex, this many digits (SHA-256).
    static constexpr std::size_t kHexDigits = 64;
    virtual ~PartHash() = default;
    virtual void Add(const char* data, std::size_t length) = 0;
    // The digest of everything added; empty when the library failed.
    virtual std::string FinishHex() = 0;
};

// The files of this side: the folders it lists, the one transfer file.
class FileStore : public FolderSource {
public:
    // A request of the peer (Kind::List, TakeFile, SendFile or MakeFolder),
    // before it is served: false answers it with "NAK" (the Windows program
    // serves every path).
    virtual bool AcceptsPeerRequest(Kind, u16view) { return true; }
    // CreateDirectoryW with default security; true when it was created.
    virtual bool CreateFolder(u16view path) = 0;
    virtual bool FileExists(u16view path) = 0;
    virtual bool FolderExists(u16view path) = 0;

    // A new hash for a resume check; null when this side has none, which
    // never resumes.
    virtual std::unique_ptr<PartHash> NewPartHash() { return nullptr; }

    // The one transfer file of this side. Read: an existing file only (a
    // missing one is not created), no sharing.
    virtual bool OpenTransferForRead(u16view path, uint64_t& size) = 0;
    // What one read gave (0 at the end, fewer bytes than asked for at any
    // time), or -1 when the read fails.
    virtual int64_t ReadTransfer(char* buffer, std::size_t maxBytes) = 0;
    virtual bool GetTransferTimes(FileTimes& times) = 0;
    // Write: a new file only (false when the name exists), no sharing.
    virtual bool CreateTransferForWrite(u16view path) = 0;
    // Write: an existing file only, its bytes kept and the next written
    // after them (a partial file a copy resumes); `size` says how many.
    virtual bool OpenTransferForAppend(u16view path, uint64_t& size) = 0;
    virtual bool WriteTransfer(const char* data, std::size_t length) = 0;
    virtual bool SetTransferTimes(const FileTimes& times) = 0;
    // Closes the transfer file if one is open (harmless otherwise).
    virtual void CloseTransfer() = 0;
    virtual bool RemoveFile(u16view path) = 0;
    // Gives a received file its final name in one step, replacing a file of
    // that name, which stays as it was when this fails.
    virtual bool ReplaceFile(u16view from, u16view to) = 0;
};

// All three in one object.
class ProtocolHost : public PeerLink, public UserSeat, public FileStore {};

}  // namespace quorbel
