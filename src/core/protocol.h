// The wire protocol between the two Quorbel PCs, without any OS header:
// framing, the dispatcher of received messages, the monitor rings, the
// directory table ("DR" records), the file blocks ("FR"/"FB") and the login.
//
// The Win32 layer implements ProtocolHost (socket, boxes, panes, files) and
// owns one Protocol object for the whole run. The receive thread zero-fills
// state.recvBuf, recv's at most 1024 bytes into it, stores the count in
// state.recvLength and calls DispatchReceived() (or hands the bytes to
// Receive()); the window thread starts operations with the Start* calls (or
// SendFrame) while the state is Waiting. Sends leave the receive buffer alone:
// the dispatcher works on its own copy of the message.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "core/format_rules.h"
#include "core/text.h"

namespace quorbel {

// ---- Sizes of the fixed buffers ----------------------------------------
constexpr int32_t kRecvBufferBytes = 1040;  // receive buffer
constexpr int32_t kMaxMessageBytes = 1024;  // one recv, one message
constexpr int32_t kRingSlots = 32;
constexpr int32_t kRingSlotBytes = 272;
constexpr int32_t kDirSlots = 1024;
constexpr int32_t kDirSlotBytes = 256;       // record + NUL
constexpr int32_t kMaxDirRecords = 1023;     // drive and entry records before "DR999999"
constexpr int32_t kPathUnits = 260;          // 259 and a terminator
constexpr int32_t kMaxPathBytes = 259;       // ANSI path in a request
constexpr int32_t kLoginTextBytes = 256;
constexpr int32_t kLoginHalfBytes = 128;     // one half with its terminator
constexpr int32_t kBlockDataBytes = 1000;
constexpr int32_t kBlockHeaderBytes = 8;
constexpr int32_t kEndRecordBytes = 32;      // header + 3 FILETIMEs
constexpr uint64_t kMaxTransferBytes = 999997000ULL;
constexpr int32_t kEndBlockNumber = 999999;
constexpr int32_t kLastDataBlockNumber = 999998;
constexpr int32_t kMaxRequestPathBytes = 257;  // "FD"/"FC" paths (260-byte request buffer)
constexpr uint32_t kClientCloseDelayMs = 100;  // Client closes this long after "CUT"
constexpr uint32_t kAutoListingDelayMs = 500;  // Server's own listing request after its first listing

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

// State of the one transfer file of a side.
enum TransferFileState : int32_t {
    TransferClosed = 0,  // no file, or the open failed
    TransferOpen = 1,
    TransferDone = 2,    // end reached, or stopped
    TransferFailed = 3,  // a read, write or send failed
};

// Block kinds: "FR" copies to the peer, "FB" copies from the peer.
enum class BlockKind { FR, FB };

// Results of SendFileBlock.
constexpr int kBlockSent = 1;     // a data block went out, the file stays open
constexpr int kBlockEndSent = 0;  // the end record went out, the file is closed
constexpr int kBlockFailed = 2;   // open, read or send failed, size over, or stop

// Result of the Start* calls and SendListingRequest when the request does
// not fit its buffer: nothing was sent and the state was not changed.
constexpr int kRequestTooLong = -1;

// ---- What the Win32 layer provides --------------------------------------

// One entry of a folder search (FindFirstFileW / FindNextFileW).
struct FolderEntry {
    u16 name;
    uint32_t attributes = 0;
    LocalTimeFields lastWrite;  // last-write time, already local calendar fields
    uint64_t sizeOnDisk = 0;    // GetCompressedFileSizeW of folder\name
    bool sizeKnown = false;     // false when that size could not be read
};

// The three FILETIME values of a file, each as its 64-bit value.
struct FileTimes {
    uint64_t creation = 0;
    uint64_t lastAccess = 0;
    uint64_t lastWrite = 0;
};

class ProtocolHost {
public:
    virtual ~ProtocolHost() = default;

    // One send call of exactly `length` bytes to the send target (Client:
    // the connection socket; Server: peer slot 0). 0, or the socket error.
    virtual int SendBytes(const char* data, std::size_t length) = 0;
    // Message box without owner window, OK button only; returns when closed.
    virtual void ShowMessage(u16view text, u16view caption) = 0;
    // Shows the current operation state in the status bar.
    virtual void RefreshStatusBar() = 0;
    // Arms the main window's close timer (id 1).
    virtual void ArmCloseTimer(uint32_t milliseconds) = 0;
    virtual void SleepMs(uint32_t milliseconds) = 0;

    // Right pane: delete all rows; insert one row (column 0 name with the
    // image and the row parameter, then columns 1 and 2 text only). The
    // image is the record's kind as the peer sent it, normally 0..9; the
    // position and row parameter are its record number (0..999999).
    virtual void ClearRemotePane() = 0;
    virtual void InsertRemoteRow(int32_t position, u16view name, u16view date, u16view size,
                                 int32_t image, int32_t rowParam) = 0;

    // CreateDirectoryW with default security; the result does not matter.
    virtual void CreateFolder(u16view path) = 0;
    // GetDriveTypeW of a root text such as u"d:\\".
    virtual int DriveTypeOf(u16view root) = 0;
    // Searches folder + "\*" (appended directly, also at a drive root) and
    // calls visit for every entry in file-system order, ".", ".." and hidden
    // ones included, until visit returns false or the entries end. The size
    // needs reading only when SizeTextIsEmpty(attributes, name) is false.
    // Returns false when the search could not start.
    virtual bool ListFolder(u16view folder, const std::function<bool(const FolderEntry&)>& visit) = 0;

    // The one transfer file of this side (one handle, held by the host).
    // Read: GENERIC_READ, no sharing, OPEN_ALWAYS, sequential scan.
    virtual bool OpenTransferForRead(u16view path, uint64_t& size) = 0;
    // Bytes read (0 at the end), or -1 when the read fails.
    virtual int32_t ReadTransfer(char* buffer, int32_t maxBytes) = 0;
    virtual bool GetTransferTimes(FileTimes& times) = 0;
    // Write: GENERIC_WRITE, no sharing, CREATE_ALWAYS, sequential scan.
    virtual bool CreateTransferForWrite(u16view path) = 0;
    virtual bool WriteTransfer(const char* data, int32_t length) = 0;
    virtual bool SetTransferTimes(const FileTimes& times) = 0;
    // Closes the transfer file if one is open (harmless otherwise).
    virtual void CloseTransfer() = 0;
    virtual bool RemoveFile(u16view path) = 0;             // DeleteFileW
    virtual bool RenameFile(u16view from, u16view to) = 0;  // MoveFileW

    // WideCharToMultiByte / MultiByteToWideChar with CP_THREAD_ACP.
    virtual const AnsiCodec& Codec() const = 0;
};

// ---- Shared state ---------------------------------------------------------
// Values that both threads touch are atomic; the monitor stores (rings,
// directory table) and the remote folder path are guarded by Protocol's lock.
struct ProtocolState {
    std::atomic<int32_t> operationState{Waiting};
    std::atomic<int32_t> serverMode{0};        // 0 Client, 1 Server
    std::atomic<int32_t> monitorRecording{0};  // rings are written only while 1

    // Filled by the receive thread before DispatchReceived (recv of at most
    // 1024 bytes into a zero-filled buffer).
    char recvBuf[kRecvBufferBytes] = {};
    int32_t recvLength = 0;

    // Monitor rings: the slot at the position holds the end marker.
    char sendRing[kRingSlots][kRingSlotBytes] = {};
    int32_t sendRingPos = 0;
    char recvRing[kRingSlots][kRingSlotBytes] = {};
    int32_t recvRingPos = 0;

    // Directory table of the last "DD" request, closed by "DR999999".
    char dirTable[kDirSlots][kDirSlotBytes] = {};
    std::atomic<int32_t> dirCount{0};
    std::atomic<int32_t> dirSendIndex{0};

    // 0 none, 1 stop requested by the copy dialog, 2 stop record sent.
    std::atomic<int32_t> stopFlag{0};
    // Number of the next file block to send (the copy dialog's Step).
    std::atomic<int32_t> blockCounter{0};

    char requestName[kPathUnits] = {};      // ANSI path of the last "FD"/"FC"
    char16_t sourceName[kPathUnits] = {};   // file this side sends
    char destName[kPathUnits] = {};         // ANSI file this side receives (CallCopyFrom)
    std::atomic<int32_t> lastRecordNumber{0};
    std::atomic<int32_t> autoListing{0};    // Server: asked the peer's listing once

    char loginText[kLoginTextBytes] = {};

    // The one transfer file.
    std::atomic<int32_t> transferState{TransferClosed};
    int32_t transferWriting = 0;            // 1 when the open file is a received one
    int32_t transferStarted = 0;            // block 0 of the current reception arrived
    char16_t finalName[kPathUnits] = {};
    char16_t tempName[kPathUnits] = {};

    // Guarded by the lock: use Protocol::SetRemoteFolderPath / RemoteFolderPath.
    char16_t remoteFolder[kPathUnits] = {};
};

// What the Client makes of the answer to its "PW" message.
enum class LoginAnswer {
    Accepted,
    CommunicationError,  // recv failed, timed out, or the Server closed (0 bytes)
    Rejected,            // the answer starts with "NAK"
};

// Texts the Win32 layer shows for a failed login (owner: the main window).
inline constexpr const char16_t* kLoginErrorCaption = u"Login_Error";
inline constexpr const char16_t* kLoginCommErrorText = u"Loginに通信エラーになりました";
inline constexpr const char16_t* kLoginRejectedText = u"LoginでIDとPW違いで失敗しました";

class Protocol {
public:
    explicit Protocol(ProtocolHost& host);
    Protocol(const Protocol&) = delete;
    Protocol& operator=(const Protocol&) = delete;

    ProtocolState state;

    // ---- Sending ----
    // One message of `length` bytes; records it in the send ring, shows the
    // SEND-NAK box for a "NAK" and the WSAGetLastError box on failure.
    // Returns 0 or the socket error code.
    int SendFrame(const char* bytes, int32_t length);
    // Exactly three bytes; no ring entry, no SEND-NAK box.
    int SendReply(const char* threeBytes);
    // "DD" + the remote folder path in ANSI. The caller has set CallDIR. A
    // path whose ANSI form passes 259 bytes is not sent: the state returns to
    // Waiting and the result is kRequestTooLong.
    int SendListingRequest();

    // ---- Receiving ----
    // Handles the message in state.recvBuf (state.recvLength bytes).
    void DispatchReceived();
    // Copies `length` bytes (cut to 1024) into the zeroed receive buffer and
    // dispatches them.
    void Receive(const char* data, int32_t length);

    // ---- Operations started by the user (window thread, state Waiting) ----
    // Each sets the names and the Call state, refreshes, then sends; a path
    // that does not fit its request gives kRequestTooLong and changes nothing.
    // Empties the right pane, CallDIR, "DD" + remote folder path.
    int StartListing();
    // CallCopyTO: "FD" + destination path on the peer; `source` is the local file.
    int StartCopyTo(u16view source, u16view destinationOnPeer);
    // CallCopyFrom: "FC" + source path on the peer; `destination` is the local file.
    int StartCopyFrom(u16view sourceOnPeer, u16view destination);
    // FolderTO: "CD" + full path of the folder to create on the peer.
    int StartCreateFolder(u16view pathOnPeer);
    // "CUT" (Server, before closing).
    int SendCut();

    // ---- Directory table ----
    // Rebuilds the table for a folder of this PC: drive records (at a drive
    // root), entry records, at most 1023 in all, then "DR999999".
    void BuildDirectoryTable(u16view folder);
    // One received record (the text after "DR%06d"); inserts a right-pane row
    // at the last record number. False when the record is malformed.
    bool AddRemoteRow(const char* text, int32_t length);

    // ---- File blocks ----
    // n = 0 opens state.sourceName and sends block 0, n > 0 the next block,
    // n = -1 only closes the file. kBlockSent, kBlockEndSent or kBlockFailed.
    int SendFileBlock(BlockKind kind, int32_t n);
    // n = 0 creates the temporary file and writes, 1..999998 appends, 999999
    // finishes the file (data = 24 time bytes). 1 when a data block was
    // written and the file stays open, 0 otherwise.
    int WriteFileBlock(std::string_view ansiName, const char* data, int32_t count, int32_t n);

    // ---- Login ----
    // Server: stored ID and PW; Client: the typed ones.
    void BuildLoginText(u16view id, u16view pw);
    // Server, from the dispatcher: compares the received "PW" message with
    // the login text and answers "ACK" or "NAK" with SendReply.
    void CheckLogin();
    // Client: clears the receive buffer and sends "PW" + login text.
    int SendLoginRequest();
    // Client: judges the answer that recv put into state.recvBuf; `received`
    // is recv's result (negative for SOCKET_ERROR).
    LoginAnswer CheckLoginAnswer(int32_t received) const;

    // ---- Connection ----
    // The connection ended (peer closed, or this side closed it): closes a
    // transfer file left open, deleting a half-received temporary file, and
    // clears the auto-listing flag. The operation state is left as it is.
    // Call it on the receive thread when the peer goes, or on the window
    // thread once the receive thread has ended.
    void OnConnectionLost();

    // ---- Window-side access to guarded values ----
    void SetRemoteFolderPath(u16view path);
    u16 RemoteFolderPath() const;
    // Copies of the monitor stores for painting.
    void CopySendRing(char out[kRingSlots][kRingSlotBytes]) const;
    void CopyReceiveRing(char out[kRingSlots][kRingSlotBytes]) const;
    void CopyDirectoryTable(char out[kDirSlots][kDirSlotBytes]) const;

private:
    // A received message, copied out of the receive buffer (zero-filled).
    struct Message {
        char bytes[kRecvBufferBytes] = {};
        int32_t length = 0;      // received length, 0..1024
        int32_t textLength = 0;  // up to the first NUL
    };

    void SetOperationState(int32_t value, bool refresh);
    int32_t OperationStateNow() const;
    void ShowSendError(int error, const char* bytes, std::size_t length);
    // "NAK", Waiting without refresh, transfer file released.
    void Refuse();
    // Closes an open transfer file; a received one is deleted (temporary name).
    void ReleaseTransferFile();
    // Clears a stop flag of 2 (stop record sent) once the transfer has ended.
    void ForgetSentStop();
    void DispatchWaiting(const Message& m);
    void DispatchCallDir(const Message& m);
    void DispatchRequestDir(const Message& m);
    void DispatchSending(const Message& m, BlockKind kind);
    void DispatchReceiving(const Message& m, BlockKind kind);
    void DispatchFolderTo(const Message& m);
    void SendNextTableEntry();
    void FinishListing();
    void StoreTableRecord(int32_t slot, std::string_view record);
    void CheckLoginMessage(const char* bytes, int32_t length);
    bool FinishReceivedFile(const FileTimes& times);
    bool CreateEmptyReceivedFile(std::string_view ansiName, const FileTimes& times);
    bool SetReceiveNames(std::string_view ansiName);

    ProtocolHost& host_;
    mutable std::mutex lock_;
};

// ---- Pure helpers -------------------------------------------------------

// report.txt -> report.$TEMP; D:\old.data\readme -> D:\old.$TEMP; a name
// without any "." gets ".$TEMP" appended.
u16 TemporaryName(u16view finalName);
// Data blocks of a file of `size` bytes (the end record not counted).
uint64_t BlockCountForSize(uint64_t size);
// Whether a file of `size` bytes may be sent (at most 999,997,000).
bool TransferSizeAllowed(uint64_t size);

// "FR%06d"/"FB%06d" + data (at most 1000 bytes).
std::string EncodeFileBlock(BlockKind kind, int32_t n, const char* data, std::size_t count);
// "FR999999"/"FB999999" + creation, last access, last write, each low half
// then high half, little-endian.
std::string EncodeEndRecord(BlockKind kind, const FileTimes& times);
// The 24 time bytes of an end record (missing bytes count as zero).
FileTimes ParseEndRecordTimes(const char* data, std::size_t count);
// The number in a 6-digit header field; -1 unless all six are digits.
int32_t ParseHeaderNumber(const char* sixBytes);

// "DR%06d%s,,,%d" of a drive root (ANSI).
std::string FormatDriveRecord(int32_t number, std::string_view rootAnsi, int32_t kind);
// "DR%06d%s,%s,%s,%d" of a folder entry (wide, converted afterwards).
u16 FormatEntryRecord(int32_t number, u16view name, u16view date, u16view size, int32_t kind);

// The fields of a received record text (after the 8-byte header).
struct RemoteRow {
    u16 name, date, size;
    int32_t kind = 0;
};
// False unless there are three commas, the first not at 0, the name at most
// 259 bytes and the other fields at most 63 bytes each.
bool ParseRemoteRecord(const char* text, std::size_t length, const AnsiCodec& codec, RemoteRow& row);

// The ID's and the PW's ANSI bytes joined without separator; a half whose
// ANSI form with terminator needs 128 bytes or more stays empty.
std::string MakeLoginText(u16view id, u16view pw, const AnsiCodec& codec);

}  // namespace quorbel
