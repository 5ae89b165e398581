// The wire protocol between two Quorbel PCs, without any OS header: framing,
// the dispatcher of received messages, the monitor rings, the directory
// table ("DR" records), the file blocks ("FR"/"FB"), the login and the fast
// mode between two programs of ours.
//
// A front end implements ProtocolHost (socket, boxes, right pane, files)
// and owns one Protocol for the whole run. Its receive loop puts what recv
// gives into ReceiveSpace() and calls Received(); its user starts operations
// with the Start* calls while the state is Waiting. The state itself is the
// Protocol's own: the front end asks for what it shows.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/panes/folder_rows.h"
#include "core/protocol/framing.h"
#include "core/base/limits.h"
#include "core/base/text.h"
#include "core/base/texts.h"

namespace quorbel {

// ---- Sizes of the protocol's own buffers --------------------------------
constexpr int32_t kMaxPlainMessageBytes = 1024;  // one recv, one message
constexpr int32_t kRingSlots = 32;
constexpr int32_t kRingSlotBytes = 272;
constexpr int32_t kDirSlots = 1024;
constexpr int32_t kDirSlotBytes = 256;  // record + NUL
constexpr int32_t kLoginTextBytes = 256;
constexpr int32_t kBlockHeaderBytes = 8;
constexpr int32_t kEndBlockNumber = 999999;
constexpr uint32_t kClientCloseDelayMs = 100;  // Client closes this long after "CUT"
constexpr uint32_t kAutoListingDelayMs = 500;  // Server's own listing request after its first listing
// The fast mode's marker, after the login text and a NUL. Its version says
// what the two sides add to the plain protocol: from 2 on, the receiver
// answers a file's end record with "ACK" once the file has its final name
// and times, or "NAK". A Server still takes the older marker and then sends
// no such answer, since a program of that release waits for none.
inline constexpr char kFastMarker[] = "QBX2";
inline constexpr char kFastMarkerV1[] = "QBX1";
// A wrong login pair is answered this much later, and the connection ends
// after this many of them.
constexpr uint32_t kWrongLoginDelayMs = 1000;
constexpr int kMaxWrongLogins = 3;
// Other names a received file may take while a file of the user's holds
// the first temporary name.
constexpr int kTemporaryNameTries = 100;

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

enum class Operation { Login, List, Send, Receive, MakeFolder, Unknown };

// One operation that ended, for a log.
struct OperationReport {
    Operation operation = Operation::Unknown;
    bool ours = false;  // started by this side (Call*) rather than served
    u16 path;           // the folder or file it concerned
    uint64_t bytes = 0; // file bytes moved, or records of a listing
    Outcome outcome = Outcome::None;
};

// A request of the peer that a host may turn down (with "NAK").
enum class PeerRequest { List, SendMeFile /* "FC" */, TakeFile /* "FD" */, MakeFolder };

// The three FILETIME values of a file, each as its 64-bit value.
struct FileTimes {
    uint64_t creation = 0;
    uint64_t lastAccess = 0;
    uint64_t lastWrite = 0;
};

// What the Client makes of the answer to its "PW" message.
enum class LoginAnswer {
    Accepted,
    CommunicationError,  // recv failed, timed out, or the Server closed (0 bytes)
    Rejected,            // the answer starts with "NAK"
    NotAPeer,            // anything but "ACK" (with our marker or without) or "NAK"
};

// Results of the Start* calls: 0 sent, a socket error code when the send
// failed (the state is Waiting again), or kRequestTooLong when the path
// does not fit its request (nothing was changed or sent).
constexpr int kRequestTooLong = -1;

// ---- What a front end provides ------------------------------------------
class ProtocolHost : public FolderSource {
public:
    // One send of exactly `length` bytes to the peer. 0, or the socket error.
    virtual int SendBytes(const char* data, std::size_t length) = 0;
    // Message box, OK button only; returns when it is closed.
    virtual void ShowMessage(u16view text, u16view caption) = 0;
    // The "SEND-NAK" note: it must not hold the caller, and one is enough
    // while an earlier one is still shown.
    virtual void ShowSentNak(u16view text) = 0;
    // Shows the current operation state.
    virtual void RefreshStatusBar() = 0;
    // Closes the connection after this many milliseconds (the Client's answer to "CUT").
    virtual void ArmCloseTimer(uint32_t milliseconds) = 0;
    virtual void SleepMs(uint32_t milliseconds) = 0;

    // The right pane: delete all rows; append one row for a record of the
    // peer's listing (image is the record's kind as sent, row parameter its
    // record number).
    virtual void ClearRemotePane() = 0;
    virtual void InsertRemoteRow(const PaneRow& row, int32_t recordNumber) = 0;

    // A request of the peer, before it is served: false answers it with
    // "NAK" (the Windows program serves every path).
    virtual bool AcceptsPeerRequest(PeerRequest, u16view) { return true; }
    // An operation ended (served or started here).
    virtual void OperationEnded(const OperationReport&) {}

    // Ends this connection now (after too many wrong login pairs).
    virtual void EndConnection() = 0;

    // CreateDirectoryW with default security; true when it was created.
    virtual bool CreateFolder(u16view path) = 0;
    virtual bool FileExists(u16view path) = 0;
    virtual bool FolderExists(u16view path) = 0;

    // The one transfer file of this side. Read: an existing file only (a
    // missing one is not created), no sharing.
    virtual bool OpenTransferForRead(u16view path, uint64_t& size) = 0;
    // Bytes read (0 at the end), or -1 when the read fails.
    virtual int64_t ReadTransfer(char* buffer, std::size_t maxBytes) = 0;
    virtual bool GetTransferTimes(FileTimes& times) = 0;
    // Write: a new file only (false when the name exists), no sharing.
    virtual bool CreateTransferForWrite(u16view path) = 0;
    virtual bool WriteTransfer(const char* data, std::size_t length) = 0;
    virtual bool SetTransferTimes(const FileTimes& times) = 0;
    // Closes the transfer file if one is open (harmless otherwise).
    virtual void CloseTransfer() = 0;
    virtual bool RemoveFile(u16view path) = 0;
    // Gives a received file its final name in one step, replacing a file of
    // that name, which stays as it was when this fails.
    virtual bool ReplaceFile(u16view from, u16view to) = 0;

    // Text to and from the wire's ANSI code page.
    virtual const AnsiCodec& Codec() const = 0;
};

class Protocol {
public:
    explicit Protocol(ProtocolHost& host);
    Protocol(const Protocol&) = delete;
    Protocol& operator=(const Protocol&) = delete;

    // ---- Set-up, before a connection starts ----
    void SetRole(Role role);
    Role GetRole() const;
    // The fast mode is offered (Client) and accepted (Server) while allowed.
    void SetFastModeAllowed(bool allowed);
    // Serve nothing but the login until a login was accepted (a Server
    // that checks its peers; the Windows Server does not).
    void SetLoginRequired(bool required);
    // The settings value as read; the rings record while it is exactly 1.
    void SetMonitorRecording(int32_t value);
    int32_t MonitorRecording() const;
    // Server: the stored pair; Client: the typed one.
    void BuildLoginText(u16view id, u16view pw);

    // ---- The connection ----
    // A connection starts (plain, not logged in) or ended: a transfer file
    // left open is closed (a half-received one deleted), a running
    // operation ends (Lost) and the state is Waiting.
    void OnConnectionStarted();
    void OnConnectionLost();
    bool FastMode() const;
    // The fast mode's version both sides showed (0 in the plain mode).
    int FastVersion() const;

    // ---- The Client's login, before its receive loop runs ----
    // "PW" + login text (+ NUL and the marker while the fast mode is allowed).
    int SendLoginRequest();
    // What recv gave (`received` bytes, negative for an error). An answer
    // that carries the marker turns the fast mode on.
    LoginAnswer TakeLoginAnswer(const char* data, int32_t received);

    // ---- Receiving ----
    // Where the next recv goes and how much it may take: 1024 bytes in the
    // plain mode (one recv is one message). `fromPeer` is false for a
    // Server's further connections, which always speak the plain protocol.
    char* ReceiveSpace(bool fromPeer = true);
    std::size_t ReceiveSpaceBytes(bool fromPeer = true);
    // recv put `n` bytes there: every whole message is dispatched. False
    // when the stream holds a frame that cannot be: nothing of it was
    // dispatched; the front end shows texts::kBadFrame and ends the connection.
    bool Received(std::size_t n, bool fromPeer = true);
    // One plain message (tests, the fuzzer): copied, cut to 1024 bytes.
    void Receive(const char* data, int32_t length);
    // Bytes of one received stream at once, in either mode (as Received).
    bool ReceiveStream(const char* data, std::size_t n);

    // ---- Operations the user starts (state Waiting) ----
    // CallDIR: the right pane emptied, "DD" + the remote folder. The folder
    // becomes the remote folder path only when the request fits.
    int StartListing(u16view folder);
    int StartListing();  // the remote folder again
    // CallCopyTO: "FD" + the destination path on the peer.
    int StartCopyTo(u16view localSource, u16view destinationOnPeer);
    // CallCopyFrom: "FC" + the source path on the peer.
    int StartCopyFrom(u16view sourceOnPeer, u16view localDestination);
    // FolderTO: "CD" + the path of the folder to create on the peer.
    int StartCreateFolder(u16view pathOnPeer);
    // "CUT" (Server, before closing).
    int SendCut();
    // The copy dialog's stop: a copy to the peer sends its stop record at the
    // next answer, a copy from the peer answers the next block with "NAK".
    void RequestStop();
    void ClearStop();

    // ---- What the front end shows ----
    int32_t OperationState() const;
    bool IsWaiting() const { return OperationState() == Waiting; }
    // The copy dialog's Step: blocks sent, or the number of the last block received.
    int32_t Step() const;
    // The largest file a copy may move, and the box of a larger one.
    uint64_t MaxCopyBytes() const;
    const BoxText& CopyTooLargeBox() const;
    // Outcome of the last operation this side started, and the file bytes
    // moved by the current or last transfer.
    Outcome LastOutcome() const;
    uint64_t TransferredBytes() const;
    u16 RemoteFolderPath() const;
    void SetRemoteFolderPath(u16view path);
    // Copies of the monitor stores for painting.
    void CopySendRing(char out[kRingSlots][kRingSlotBytes]) const;
    void CopyReceiveRing(char out[kRingSlots][kRingSlotBytes]) const;
    void CopyDirectoryTable(char out[kDirSlots][kDirSlotBytes]) const;

private:
    struct Message {
        const char* bytes;
        std::size_t length;      // received length
        std::size_t textLength;  // up to the first NUL
        bool StartsWith(const char* prefix) const;
    };
    enum class Transfer { Closed, Reading, Writing };

    // Sending.
    int SendMessage(const char* bytes, std::size_t length, bool recorded);
    int SendFrame(const char* bytes, std::size_t length);
    void SendNak(bool notice);
    void ShowSendError(int error, const char* bytes, std::size_t length);
    int SendListingRequest();
    int BeginListing();
    int StartRequest(int32_t state, const std::string& message);

    // Receiving.
    // Every whole frame the reader holds; false once its stream is broken.
    bool DispatchFrames();
    void Dispatch(const char* bytes, std::size_t length, bool fromPeer);
    void DispatchWaiting(const Message& m, bool fromPeer);
    void DispatchCallDir(const Message& m);
    void DispatchRequestDir(const Message& m);
    void DispatchSending(const Message& m, bool fr);
    void DispatchReceiving(const Message& m, bool fr);
    void DispatchFolderTo(const Message& m);
    void CheckLogin(const Message& m, bool fromPeer);

    // State changes and their reports.
    void SetState(int32_t value, bool refresh);
    // "NAK" and the end of the operation: Refused for a request this side
    // does not serve, Failed for a message that breaks the running one.
    void Refuse(Outcome outcome = Outcome::Failed, bool notice = true);
    void End(Outcome outcome, bool refresh);
    void Report(Operation operation, bool ours, u16view path, uint64_t bytes, Outcome outcome);
    void BeginOperation(Operation operation, bool ours, u16view path);

    // Directory table.
    void BuildDirectoryTable(u16view folder);
    void SendNextTableEntry();
    void FinishListing();
    bool AddRemoteRow(int32_t number, const char* text, std::size_t length);

    // File blocks.
    std::size_t BlockBytes() const;
    bool OpenSource();
    int64_t ReadAhead();
    int SendNextBlock(bool fr);
    bool BeginReceiving(u16view finalName);
    bool EndRecordAnswered() const { return FastVersion() >= 2; }
    bool WriteBlock(const char* data, std::size_t count, int32_t number);
    void FinishReceiving(const char* timeBytes, std::size_t count);
    void ReleaseTransferFile();
    void ForgetSentStop();

    ProtocolHost& host_;
    mutable std::mutex lock_;  // the monitor stores and the remote folder path

    // Values both threads touch (the window thread starts operations and
    // shows progress; the receive thread runs them).
    std::atomic<int32_t> state_{Waiting};
    std::atomic<int32_t> stop_{0};  // 0 none, 1 asked for, 2 stop record sent
    std::atomic<int32_t> step_{0};
    std::atomic<uint64_t> transferred_{0};
    std::atomic<int> lastOutcome_{static_cast<int>(Outcome::None)};
    std::atomic<int32_t> monitorRecording_{0};
    std::atomic<int> fastVersion_{0};
    std::atomic<Role> role_{Role::Client};
    bool fastAllowed_ = true;
    bool loginRequired_ = false;
    bool loggedIn_ = false;
    bool markerSent_ = false;
    int wrongLogins_ = 0;
    bool endSent_ = false;  // the end record left: the peer's answer ends the copy
    bool autoListed_ = false;  // Server: asked the peer's listing once

    // The operation running now, for its report.
    Operation operation_ = Operation::Unknown;
    bool operationOurs_ = false;
    u16 operationPath_;
    int32_t rowsReceived_ = 0;

    // Monitor rings: the slot at the position holds the end marker.
    char sendRing_[kRingSlots][kRingSlotBytes] = {};
    int32_t sendRingPos_ = 0;
    char recvRing_[kRingSlots][kRingSlotBytes] = {};
    int32_t recvRingPos_ = 0;
    // Directory table of the last "DD" request, closed by "DR999999".
    char dirTable_[kDirSlots][kDirSlotBytes] = {};
    int32_t dirCount_ = 0;
    int32_t dirSendIndex_ = 0;
    u16 remoteFolder_;

    std::string loginText_;

    // The one transfer file: what it is, and its names.
    Transfer transfer_ = Transfer::Closed;
    bool blockArrived_ = false;  // a block of the current reception came
    u16 sourceName_;             // file this side sends
    u16 receiveName_;            // file this side receives (final name)
    u16 tempName_;

    // Buffers: one plain message, the frames of the fast mode, one block.
    char plainBuffer_[kMaxPlainMessageBytes + 16] = {};
    FrameReader frames_;
    std::vector<char> blockBuffer_;
    // The block read ahead of the peer's answer: its bytes, 0 at the end,
    // -1 after a failed read.
    static constexpr int64_t kNothingAhead = -2;
    int64_t ahead_ = kNothingAhead;
};

// ---- Pure helpers -------------------------------------------------------

// The name a file is received under: the last "." of the file's own name
// starts ".$TEMP" (report.txt -> report.$TEMP); a name without one gets it
// appended (D:\v1.2\notes -> D:\v1.2\notes.$TEMP). Later tries, for a name
// a file of the user's already has: report~1.$TEMP, report~2.$TEMP, ...
u16 TemporaryName(u16view finalName, int attempt = 0);

// "FR%06d"/"FB%06d" + data.
std::string EncodeFileBlock(bool fr, int32_t n, const char* data, std::size_t count);
// "FR999999"/"FB999999" + creation, last access, last write, each low half
// then high half, little-endian.
std::string EncodeEndRecord(bool fr, const FileTimes& times);
// The 24 time bytes of an end record (missing bytes count as zero).
FileTimes ParseEndRecordTimes(const char* data, std::size_t count);
// The number in a 6-digit header field; -1 unless all six are digits.
int32_t ParseHeaderNumber(const char* sixBytes);

// "DR%06d" + name, date, size and kind separated by commas (wide; converted
// to ANSI for the wire).
u16 FormatRecord(int32_t number, const PaneRow& row);
// The fields of a received record text (after the 8-byte header). False
// unless there are three commas, the first not at 0, the name at most 259
// bytes and the other fields at most 63 bytes each.
bool ParseRecord(const char* text, std::size_t length, const AnsiCodec& codec, PaneRow& row);

// The ID's and the PW's ANSI bytes joined without separator; a half whose
// ANSI form with terminator needs 128 bytes or more stays empty.
std::string MakeLoginText(u16view id, u16view pw, const AnsiCodec& codec);

}  // namespace quorbel
