// The wire protocol between two Quorbel PCs, without any OS header. The
// words of the wire are in wire.h, what a front end gives in host.h, and
// each part of the protocol has its header: the login and the fast mode
// (login.h), the listing (listing.h), the file transfer (transfer.h),
// the fast mode's framing (framing.h), the monitor rings (monitor.h). The Protocol below holds one side's
// state and dispatches what arrives by the operation state; its parts are
// defined in login.cpp, listing.cpp, transfer.cpp and protocol.cpp.
//
// A front end owns one Protocol for the whole run. Its receive loop puts
// what recv gives into ReceiveSpace() and calls Received(); its user starts
// operations with the Start* calls while the state is Waiting. The state
// itself is the Protocol's own: the front end asks for what it shows.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/limits.h"
#include "core/base/text.h"
#include "core/base/texts.h"
#include "core/protocol/framing.h"
#include "core/protocol/host.h"
#include "core/protocol/listing.h"
#include "core/protocol/login.h"
#include "core/protocol/monitor.h"
#include "core/protocol/transfer.h"
#include "core/protocol/versions.h"
#include "core/protocol/wire.h"

namespace quorbel {

// One recv is one message in the plain mode.
constexpr int32_t kMaxPlainMessageBytes = 1024;

// Results of the Start* calls: 0 sent, a socket error code when the send
// failed (the state is Waiting again), or kRequestTooLong when the path
// does not fit its request (nothing was changed or sent).
constexpr int kRequestTooLong = -1;
// A sealed frame could not be formed, or a Client offering the secure
// session has no cryptography: nothing was sent.
constexpr int kNotSecure = -2;

class Protocol {
public:
    Protocol(PeerLink& link, UserSeat& seat, FileStore& files);
    explicit Protocol(ProtocolHost& host) : Protocol(host, host, host) {}
    Protocol(const Protocol&) = delete;
    Protocol& operator=(const Protocol&) = delete;

    // ---- Set-up, before a connection starts ----
    void SetRole(Role role);
    Role GetRole() const;
    // The newest version of the fast mode offered (Client) and accepted
    // (Server): kFastVersion unless told, 0 for the plain protocol alone.
    void SetHighestVersion(int version);
    // Serve nothing but the login until a login was accepted (a Server
    // that checks its peers; the Windows Server does not).
    void SetLoginRequired(bool required);
    // The settings value as read; the rings record while it is exactly 1.
    void SetMonitorRecording(int32_t value);
    // Server: the stored pair; Client: the typed one.
    void BuildLoginText(u16view id, u16view pw);
    // Server: only secure logins are taken (plain ones are answered
    // "NAK") and nothing is served before one. (A Client that requires
    // them does not fall back to the plain login: its front end's rule.)
    void SetSecureRequired(bool required);

    // ---- The connection ----
    // A connection starts (plain, not logged in) or ended: a transfer file
    // left open is closed (a half-received one deleted), a running
    // operation ends (Lost) and the state is Waiting.
    void OnConnectionStarted();
    void OnConnectionLost();
    bool FastMode() const;
    // The fast mode's version both sides showed (0 in the plain mode), and
    // what it adds, which every check of what the peer does reads.
    int FastVersion() const;
    const Capabilities& Agreed() const { return CapabilitiesOf(FastVersion()); }
    // Every frame in both directions is sealed (from version 4 on, once
    // both sides confirmed the exchange).
    bool Secure() const;

    // ---- The Client's login, before its receive loop runs ----
    // While the fast mode is allowed, the secure offer: "PW", NUL, the
    // marker and this side's share (the stretch runs here; kNotSecure and
    // nothing sent without cryptography). Otherwise "PW" + login text.
    int SendLoginRequest();
    // What recv gave (`received` bytes, negative for an error). The
    // Server's share and confirmation are checked, this side's
    // confirmation is sent as the first frame, and the session is secure.
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
    // One plain message (a Client's login answer aside, which its front
    // end reads itself): copied, cut to 1024 bytes.
    void Receive(const char* data, int32_t length);

    // ---- Operations the user starts (state Waiting) ----
    // CallDIR: the right pane emptied, "DD" + the remote folder. The folder
    // becomes the remote folder path only when the request fits.
    int StartListing(u16view folder);
    int StartListing();  // the remote folder again
    // CallCopyTO: "FD" + the destination path on the peer.
    int StartCopyTo(u16view localSource, u16view destinationOnPeer);
    // Between two programs of fast mode 4, once a copy to the peer sent its
    // end record, the next copy's request may leave before that record's
    // answer: the peer takes them in order, so the answers tell each copy's
    // outcome as before, and a small file costs one round trip, not two.
    // The queued copy begins when the current one ends (a stop asked for
    // meanwhile stops it); an end of the current one without the peer's
    // answer ends the queued one the same way, reported after it. Both
    // calls belong to the thread that runs the receive loop.
    bool CanQueueCopyTo() const;
    // Results as StartCopyTo; kRequestTooLong also while none may be queued.
    // From fast mode 5, a file of one block at most follows its request at
    // once, whole: its answers come behind the current copy's, and a stop
    // asked for meanwhile no longer stops it.
    int QueueCopyTo(u16view localSource, u16view destinationOnPeer);
    // CallCopyFrom: "FC" + the source path on the peer.
    int StartCopyFrom(u16view sourceOnPeer, u16view localDestination);
    // Between two programs of fast mode 5, the next copy from the peer may
    // be asked for as soon as the current one was: the peer holds the
    // request until it is done, so that a small file costs less than a
    // round trip. The queued copy begins when the current one ends in any
    // way but a lost connection (a stop asked for meanwhile stops it too).
    bool CanQueueCopyFrom() const;
    int QueueCopyFrom(u16view sourceOnPeer, u16view localDestination);
    // FolderTO: "CD" + the path of the folder to create on the peer.
    int StartCreateFolder(u16view pathOnPeer);
    // "CUT" (Server, before closing).
    int SendCut();
    // The copy dialog's stop: a copy to the peer sends its stop record at the
    // next answer, a copy from the peer answers the next block with "NAK".
    void RequestStop();
    void ClearStop();
    // A copy between two programs of fast mode 3 goes on after what a cut
    // connection left of it (on by default); off, it starts over and a
    // partial file it finds is removed.
    void SetResumeAllowed(bool allowed);
    // Where the current or last copy's blocks started: 0, or the bytes
    // that were already there.
    uint64_t ResumedAt() const;
    // The size of the file the current or last copy moves, as this side
    // read it or its sender told it (fast mode 3); 0 while unknown.
    uint64_t CopySize() const;

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
    // The entries a tree copy takes from one listing of the peer: a plain
    // listing's table, or as many as from a local folder when it is paged.
    std::size_t PeerListingEntries() const;
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
        Kind kind;
    };

    // Sending.
    int SendMessage(const char* bytes, std::size_t length, bool recorded);
    int SendFrame(const char* bytes, std::size_t length);
    // The fast mode's frame of the `length` bytes that follow the header's
    // room at `frame`, sealed in place once the session is secure (the tag
    // goes after them, in room the caller leaves).
    int SendInFrame(char* frame, std::size_t length);
    // A message that is its word alone ("ACK", "CUT", a stop record).
    int SendWord(Kind kind);
    void SendNak(bool notice);
    void ShowSendError(int error, const char* bytes, std::size_t length);
    int BeginListing();
    int SendRequest(Kind kind, const std::string& path);
    int StartRequest(int32_t state, Kind kind, const std::string& path);
    bool CopyToFits(u16view localSource, std::string_view destination) const;
    void BeginCopyTo(u16view localSource, u16view destinationOnPeer);
    bool CopyFromFits(std::string_view source, u16view localDestination) const;
    void BeginCopyFrom(u16view sourceOnPeer, u16view localDestination);

    // Receiving.
    // Every whole frame the reader holds; false once its stream is broken.
    bool DispatchFrames();
    void Dispatch(const char* bytes, std::size_t length, bool fromPeer);
    void DispatchMessage(const char* bytes, std::size_t length, bool fromPeer);
    // The peer's next request while this side serves one (fast mode 5):
    // held, and served once the state is Waiting again.
    bool HoldsRequest(const Message& m);
    void DispatchWaiting(const Message& m, bool fromPeer);
    // Whether a request of that kind for that path may be served (the
    // login aside): a path that fits, and one the files serve.
    bool Serves(Kind kind, std::string_view ansi, u16view path);
    void DispatchCallDir(const Message& m);
    void DispatchSending(const Message& m, bool fr);
    // What follows a block sent (or not): the next step, the wait for the
    // end record's answer, or the end, with "NAK" where the peer waits.
    void AfterBlockSent(BlockSent sent, bool nakOnFailure);
    void DispatchReceiving(const Message& m, bool fr);
    void DispatchFolderTo();
    void CheckLogin(const Message& m, bool fromPeer);
    void CheckSecureLogin(const Message& m, bool fromPeer);
    LoginAnswer TakeSecureAnswer(std::string_view answer, bool nak);
    // A login's answer: exactly its bytes, not recorded, no note.
    void SendReply(std::string_view answer);
    // The Client's confirmation, the first frame after the Server's answer.
    void TakeConfirmation(const char* data, std::size_t length);
    // The answer to what no state takes: "NAK" and a refused report.
    void RefuseUnknown();

    // State changes and their reports.
    void SetState(int32_t value, bool refresh);
    // "NAK" and the end of the operation: Refused for a request this side
    // does not serve, Failed for a message that breaks the running one.
    void Refuse(Outcome outcome = Outcome::Failed, bool notice = true);
    // The end of the operation and of its file, without a word to the peer.
    void Abandon(Outcome outcome);
    void End(Outcome outcome, bool refresh);
    void Report(Operation operation, bool ours, u16view path, uint64_t bytes, Outcome outcome);
    void BeginOperation(Operation operation, bool ours, u16view path);

    // Directory table.
    void BuildDirectoryTable(u16view folder);
    void SendNextTableEntry();
    void FinishListing();
    bool AddRemoteRow(int32_t number, const char* text, std::size_t length);
    // The exact listing of fast mode 3: the next page of the open search
    // (or the end record once it has nothing more), and a received page.
    void SendNextPage();
    bool AddRemotePage(const char* bytes, std::size_t length);

    // File blocks.
    std::size_t BlockBytes() const;
    bool OpenSource();
    int64_t ReadAhead();
    BlockSent SendNextBlock(bool fr);
    // The first step of the blocks: block 0, or (fast mode 3) what the
    // source is, and the answers that say where the blocks start.
    BlockSent StartBlocks(bool fr);
    BlockSent SendSourceInfo(bool fr);
    BlockSent TakeResumePoint(const char* data, std::size_t length, bool fr);
    // Blocks in flight (fast mode 4). An answer to one of them: true, and
    // the window measures it. A copy that ends with some in flight: their
    // answers come (a failure this side sent "NAK" for) or not (the peer's
    // "NAK"). A receiver that refused a copy drops its strays. What
    // arrives for a copy that ended is dropped; a lost connection forgets it.
    bool TakeBlockAnswer();
    void ForgetBlocksInFlight(bool answersCome);
    void ExpectStrays();
    bool DropsStray(Kind kind);
    void ForgetStrays();
    // The hash of the next `bytes` of the open file, as hex (empty without one).
    bool HashTransfer(uint64_t bytes, std::string& hex);
    bool BeginReceiving(u16view finalName);
    // The receiver's side of a resumed copy.
    enum class NoteState { Absent, Ours, Foreign };
    NoteState ReadPartialNote(u16view note, uint64_t& size, uint64_t& lastWrite);
    void TakeSource(const Message& m);
    void OfferResumePoint(const SourceInfo& info);
    void DecideResumePoint(const SourceInfo& info);
    void AnswerResumePoint(uint64_t point);
    void DropPartial(u16view finalName, u16view note);
    void ResetReception();
    // Whether a request of the peer may be served on this connection.
    bool Serving() const { return !(login_.required || secureRequired_) || login_.loggedIn; }
    bool WriteBlock(const char* data, std::size_t count, int32_t number);
    void FinishReceiving(const char* timeBytes, std::size_t count);
    // Closes the transfer file; one being received is removed, unless the
    // connection was lost and it can resume.
    void ReleaseTransferFile(bool connectionLost = false);
    void ForgetSentStop();

    PeerLink& link_;
    UserSeat& seat_;
    FileStore& files_;
    mutable std::mutex lock_;  // the monitor stores and the remote folder path

    // Values both threads touch (the window thread starts operations and
    // shows progress; the receive thread runs them).
    std::atomic<int32_t> state_{Waiting};
    std::atomic<StopState> stop_{StopState::None};
    std::atomic<int32_t> step_{0};
    std::atomic<uint64_t> transferred_{0};
    std::atomic<uint64_t> resumedAt_{0};
    std::atomic<uint64_t> copySize_{0};
    std::atomic<bool> resumeAllowed_{true};
    std::atomic<Outcome> lastOutcome_{Outcome::None};
    std::atomic<int32_t> monitorRecording_{0};
    std::atomic<Role> role_{Role::Client};
    LoginState login_;
    // The secure session: its exchange, then the sealing of the frames.
    // Sends seal in the order they leave, from either thread.
    std::unique_ptr<SecureSession> secure_;
    std::mutex sendLock_;
    std::atomic<bool> sealed_{false};
    bool awaitingConfirmation_ = false;  // Server: the next frame is the Client's confirmation
    bool secureRequired_ = false;
    // The connection is ending after a wrong pair: nothing more is dispatched.
    bool loginEnded_ = false;
    bool endSent_ = false;     // the end record left: the peer's answer ends the copy
    // The next copy, its request sent while the current one runs: to the
    // peer once endSent_, from the peer at any time.
    struct QueuedCopy {
        u16 source, destination;
        bool fromPeer;
        // Its file went whole behind its request (fast mode 5).
        bool sentAhead = false;
        uint64_t size = 0;
    };
    // A file of one block at most, its block and end record sent at once;
    // false when it is larger or unreadable (nothing was sent).
    bool SendWhole(u16view source, bool fr, uint64_t& size);
    // A copy whose messages all went ahead begins: only its answers are
    // left, `answers` of them before its end record's.
    void AwaitAnswers(int answers, uint64_t size);
    // Serving (fast mode 5): a held request for a small file is sent whole
    // behind the end record of the copy before it, whose answer is still
    // on its way; it is the current copy once that copy ended, and goes
    // back to being held when the receiver refused a block of that copy.
    struct ServedAhead {
        std::string request;
        u16 path;
        uint64_t size;
    };
    std::optional<ServedAhead> servedAhead_;
    void ServeAhead();
    void BeginServedAhead();
    // A refusal of a copy from this side that does not answer its end record.
    void TakeRefusalOfBlocks();
    std::optional<QueuedCopy> queued_;
    std::optional<std::string> held_;  // the peer's next request, while serving one
    bool autoListed_ = false;  // Server: asked the peer's listing once

    // The operation running now, for its report.
    Operation operation_ = Operation::Unknown;
    bool operationOurs_ = false;
    u16 operationPath_;
    int32_t rowsReceived_ = 0;
    int32_t rowsServed_ = 0;

    MessageRing sentRing_{kWriteEndMarker};
    MessageRing receivedRing_{kReadEndMarker};
    DirectoryTable table_;
    // The exact listing being served: its search, and the record read
    // ahead that did not fit the last page.
    std::unique_ptr<FolderRowReader> pages_;
    std::string pageHeld_;
    // A received page broke the stream: nothing after it is dispatched.
    bool streamBroken_ = false;
    u16 remoteFolder_;

    TransferFile transfer_;

    // What arrives: one plain message, or the frames of the fast mode.
    char plainBuffer_[kMaxPlainMessageBytes + 16] = {};
    FrameReader frames_;
};

}  // namespace quorbel
