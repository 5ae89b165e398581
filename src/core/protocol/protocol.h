// The wire protocol between two Quorbel PCs, without any OS header. The
// words of the wire are in wire.h, what each version adds in versions.h,
// what a front end gives in link.h, seat.h, files.h and cryptography.h.
// The Protocol below is the dispatcher: it holds one side's operation
// state and framing, answers what arrives by that state, and owns the
// parts that keep the state of their own: the login with the secure
// session (login.h), the listing (listing.h), the sender and the receiver
// of a file (sender.h, receiver.h) and the requests taken ahead of their
// turn (requests.h). The parts reach it through the narrow view of
// context.h. The Client's login policy is client_login.h's.
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
#include "core/protocol/context.h"
#include "core/protocol/cryptography.h"
#include "core/protocol/files.h"
#include "core/protocol/framing.h"
#include "core/protocol/link.h"
#include "core/protocol/listing.h"
#include "core/protocol/login.h"
#include "core/protocol/monitor.h"
#include "core/protocol/receiver.h"
#include "core/protocol/requests.h"
#include "core/protocol/seat.h"
#include "core/protocol/sender.h"
#include "core/protocol/versions.h"
#include "core/protocol/wire.h"

namespace quorbel {

// One recv is one message in the plain mode.
constexpr int32_t kMaxPlainMessageBytes = 1024;

// Results of the Start* calls: 0 sent, a socket error code when the send
// failed (the state is Waiting again), kNotSecure (framing.h), or
// kRequestTooLong when the path does not fit its request (nothing was
// changed or sent).
constexpr int kRequestTooLong = -1;

class Protocol final : private Exchange {
public:
    Protocol(PeerLink& link, UserSeat& seat, FileStore& files, Cryptography& cryptography);
    Protocol(const Protocol&) = delete;
    Protocol& operator=(const Protocol&) = delete;

    // ---- Set-up, before a connection starts ----
    void SetRole(Role role);
    Role GetRole() const override;
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
    // them does not fall back to the plain login: its policy's rule.)
    void SetSecureRequired(bool required);
    // Server: its own salt of the stretch (kServerSaltBytes, made once with
    // its pair), without which it offers no exchange salted by it; and the
    // gate of the connection at hand, which every login exchange passes
    // before it is answered (none: answered at once).
    void SetServerSalt(std::string salt);
    void SetLoginGate(LoginGate* gate);
    // The newest version this side offers or accepts.
    int HighestVersion() const;

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
    const Capabilities& Agreed() const override { return CapabilitiesOf(FastVersion()); }
    // Every frame in both directions is sealed (from version 4 on, once
    // both sides confirmed the exchange).
    bool Secure() const;

    // ---- The Client's login, before its receive loop runs ----
    // (ClientLogin drives these: its policy says which offer goes when.)
    // The offer of `version` (at most the newest this side offers): from the
    // secure session on, "PW", NUL, the marker and (before the Server's own
    // salt) this side's share, whose stretch runs here (kNotSecure and
    // nothing sent without cryptography); before it "PW" + login text, NUL
    // and the marker; "PW" + login text alone for the plain protocol.
    int SendLoginRequest(int version);
    // The request on its way is a secure offer.
    bool SecureOffer() const;
    // What recv gave (`received` bytes, negative for an error). The
    // Server's share and confirmation are checked, this side's
    // confirmation is sent as the first frame, and the session is secure.
    LoginAnswer TakeLoginAnswer(const char* data, int32_t received);

    // ---- Receiving ----
    // Where the next recv goes and how much it may take: 1024 bytes in the
    // plain mode (one recv is one message). A Server's connections beside
    // its peer always speak the plain protocol.
    char* ReceiveSpace(Origin origin = Origin::Peer);
    std::size_t ReceiveSpaceBytes(Origin origin = Origin::Peer);
    // recv put `n` bytes there: every whole message is dispatched. False
    // when the stream holds a frame that cannot be: nothing of it was
    // dispatched; the front end says so (texts::kBadFrame) and ends the
    // connection.
    bool Received(std::size_t n, Origin origin = Origin::Peer);
    // One plain message (a Client's login answer aside, which its front
    // end reads itself): copied, cut to 1024 bytes.
    void Receive(const char* data, int32_t length);

    // ---- Operations the user starts (state Waiting) ----
    // CallDIR: the right pane emptied, "DD" + the remote folder. The folder
    // becomes the remote folder path only when the request fits.
    int StartListing(u16view folder);
    int StartListing();  // the remote folder again
    // With treeListing: "DT" (or, with `hashes`, "DH") + a folder of the
    // peer: its whole tree, each row named by its path below the folder,
    // a folder's own "." row before its entries; the panes are not touched.
    int StartTreeListing(u16view folder, bool hashes);
    // CallCopyTO: "FD" + the destination path on the peer.
    int StartCopyTo(u16view localSource, u16view destinationOnPeer);
    // Between two programs of requestBeforeEndAnswer, once a copy to the peer sent its
    // end record, the next copy's request may leave before that record's
    // answer: the peer takes them in order, so the answers tell each copy's
    // outcome as before, and a small file costs one round trip, not two.
    // The queued copy begins when the current one ends (a stop asked for
    // meanwhile stops it); an end of the current one without the peer's
    // answer ends the queued one the same way, reported after it. Both
    // calls belong to the thread that runs the receive loop.
    bool CanQueueCopyTo() const;
    // Results as StartCopyTo; kRequestTooLong also while none may be queued.
    // With smallFilesWhole, a file of one block at most follows its request at
    // once, whole: its answers come behind the current copy's, and a stop
    // asked for meanwhile no longer stops it.
    int QueueCopyTo(u16view localSource, u16view destinationOnPeer);
    // CallCopyFrom: "FC" + the source path on the peer.
    int StartCopyFrom(u16view sourceOnPeer, u16view localDestination);
    // Between two programs of heldRequests, the next copy from the peer may
    // be asked for as soon as the current one was: the peer holds the
    // request until it is done, so that a small file costs less than a
    // round trip. With requestWindow both queues take a window of copies
    // (kRequestWindowFiles, and kRequestWindowBytes of files sent whole),
    // each reported in turn. The queued copy begins when the current one ends in any
    // way but a lost connection (a stop asked for meanwhile stops it too).
    bool CanQueueCopyFrom() const;
    int QueueCopyFrom(u16view sourceOnPeer, u16view localDestination);
    // FolderTO: "CD" + the path of the folder to create on the peer, then
    // its listing again; without `relist`, a peer of folderAnswered tells by
    // its answer alone whether the folder is there (Done, or Refused).
    int StartCreateFolder(u16view pathOnPeer, bool relist = true);
    // With folderAnswered and the window, a folder to make on the peer is
    // queued as a copy to it is, ahead of the files that go into it.
    bool CanQueueMakeFolder() const;
    int QueueMakeFolder(u16view pathOnPeer);
    // "CUT" (Server, before closing).
    int SendCut();
    // The copy dialog's stop: a copy to the peer sends its stop record at the
    // next answer, a copy from the peer answers the next block with "NAK".
    void RequestStop();
    void ClearStop();
    // A copy between two programs that resume goes on after what a cut
    // connection left of it (on by default); off, it starts over and a
    // partial file it finds is removed.
    void SetResumeAllowed(bool allowed);
    // Where the current or last copy's blocks started: 0, or the bytes
    // that were already there.
    uint64_t ResumedAt() const;
    // The size of the file the current or last copy moves, as this side
    // read it or its sender told it; 0 while unknown.
    uint64_t CopySize() const;

    // ---- What the front end shows ----
    int32_t OperationState() const;
    bool IsWaiting() const { return OperationState() == Waiting; }
    // The copy dialog's Step: blocks sent, or the number of the last block received.
    int32_t Step() const;
    // The largest file a copy may move (its box: texts::kCopyTooLarge).
    uint64_t MaxCopyBytes() const override;
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
    // ---- Exchange: what the parts reach this dispatcher for ----
    int32_t State() const override { return OperationState(); }
    int SendMessage(const char* bytes, std::size_t length, bool recorded) override;
    int SendFrame(const char* bytes, std::size_t length) override;
    int SendWord(Kind kind) override;
    void SendNak(bool notice) override;
    int SendInFrame(char* frame, std::size_t length) override;
    void ReportSendFailure(int error, const char* bytes, std::size_t length) override;
    void SetState(int32_t value, bool refresh) override;
    void BeginOperation(Operation operation, bool ours, u16view path) override;
    void End(Outcome outcome, bool refresh) override;
    void Refuse(Outcome outcome, bool notice) override;
    void RefuseUnknown() override;
    void Abandon(Outcome outcome) override;
    void Report(Operation operation, bool ours, u16view path, uint64_t bytes, Outcome outcome) override;
    void StopUsed() override;
    void EndRecordSent() override;

    // ---- Receiving ----
    // Every whole frame the reader holds; false once its stream is broken.
    bool DispatchFrames();
    void Dispatch(const char* bytes, std::size_t length, Origin origin);
    void DispatchMessage(const char* bytes, std::size_t length, Origin origin);
    void DispatchWaiting(const Message& m, Origin origin);
    // Whether a request of that kind for that path may be served (the
    // login aside): a path that fits, and one the files serve.
    bool Serves(Kind kind, std::string_view ansi, u16view path);
    // Whether the connection knows a kind at all (a newer word is Unknown to an older peer).
    bool Knows(Kind kind) const;
    // The end record of a listing this side served went out.
    void ListingServed();
    // A refusal of a copy from this side that does not answer its end record.
    void TakeRefusalOfBlocks();
    void RefuseHeld();

    // ---- Operations ----
    int BeginListing();
    int SendRequest(Kind kind, const std::string& path);
    int StartRequest(int32_t state, Kind kind, const std::string& path);
    bool CopyToFits(u16view localSource, std::string_view destination) const;
    void BeginCopyTo(u16view localSource, u16view destinationOnPeer);
    bool CopyFromFits(std::string_view source, u16view localDestination) const;
    void BeginCopyFrom(u16view sourceOnPeer, u16view localDestination);
    // Serving (smallFilesWhole): a held request for a small file is sent whole
    // behind the end record of the copy before it, whose answer is still
    // on its way; it is the current copy once that copy ended.
    void ServeAhead();
    void BeginServedAhead();
    // The requests this side keeps queued: one, or the window's.
    std::size_t RequestRoom() const;
    bool CanQueueBehind(Way way) const;
    void ForgetSentStop();

    PeerLink& link_;
    UserSeat& seat_;
    FileStore& files_;
    mutable std::mutex lock_;  // the monitor rings, the remote folder path and the operation's path

    // Values both threads touch (the window thread starts operations and
    // shows progress; the receive thread runs them).
    std::atomic<int32_t> state_{Waiting};
    std::atomic<Outcome> lastOutcome_{Outcome::None};
    std::atomic<int32_t> monitorRecording_{0};
    std::atomic<Role> role_{Role::Client};
    CopyFigures figures_;

    // The operation running now, for its report.
    Operation operation_ = Operation::Unknown;
    bool operationOurs_ = false;
    u16 operationPath_;
    bool autoListed_ = false;  // Server: asked the peer's listing once
    bool folderRelists_ = true;  // the folder being made is listed again once answered

    MessageRing sentRing_{kWriteEndMarker};
    MessageRing receivedRing_{kReadEndMarker};
    u16 remoteFolder_;

    // What arrives: one plain message, or the frames of the fast mode,
    // sealed once the session is secure.
    char plainBuffer_[kMaxPlainMessageBytes + 16] = {};
    FrameReader frames_;
    SecureChannel channel_;
    // A received page broke the stream: nothing after it is dispatched.
    bool streamBroken_ = false;

    // The parts, each with the state of its own.
    Login login_;
    Listing listing_;
    Sender sender_;
    Receiver receiver_;
    RequestQueue requests_;
};

}  // namespace quorbel
