// The core's host on Linux: the socket, the served folders, the one transfer
// file, the code page. The front end (server loop or client verbs) hears
// from it through a HostListener.
#pragma once

#include <cerrno>
#include <string>
#include <utility>

#include "core/protocol/protocol.h"
#include "linux/host/codec.h"
#include "linux/host/path_map.h"

namespace quorbel::posix {

class HostListener {
public:
    virtual ~HostListener() = default;
    // A line for the user: a "NAK" note, entries left out of a listing.
    virtual void Note(const std::string& line) = 0;
    // A box of the core (a failed send, a file too large).
    virtual void Box(const std::string& line) { Note(line); }
    virtual void OperationEnded(const OperationReport& report) = 0;
    virtual void ClearRemoteRows() {}
    virtual void AddRemoteRow(const PaneRow&, int32_t /*number*/) {}
    // The peer said "CUT": close after this many milliseconds.
    virtual void CloseAfter(uint32_t /*milliseconds*/) {}
    // A request of the peer is about to be weighed against the drives: the
    // core asks only on behalf of a peer it serves.
    virtual void RequestArrived() {}
};

class PosixHost : public ProtocolHost {
public:
    PosixHost(const IconvCodec& codec, const PathMap& drives, HostListener& listener);
    ~PosixHost() override;
    PosixHost(const PosixHost&) = delete;
    PosixHost& operator=(const PosixHost&) = delete;

    // A new connection (or none, -1): nothing of the last one is kept.
    void SetSocket(int fd);
    // A Server serves every request inside its drives; a Client only lists
    // (its drives, or nothing) and answers the rest with "NAK".
    void SetServesFiles(bool serves) { servesFiles_ = serves; }
    // Refuses to receive files and to create folders.
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
    // Where the bare file names that the front end hands the core live.
    void SetLocalFolder(const std::string& folder) { localFolder_ = folder; }
    // Where the front end's paths live during a tree copy: "sub\\file" is
    // then found beneath the tree's drive C:, through no link; none (null)
    // for the bare names inside the local folder.
    void SetLocalTree(const PathMap* tree) { localTree_ = tree; }
    // The entries of the local tree's folder `path` ("" for its top) as a
    // tree copy reads them: links and special files marked as such
    // (kAttrReparsePoint, kAttrDevice), sizes exact. Names that are not
    // UTF-8 are counted in `unnamed`. False when the folder cannot be read.
    bool ListLocalTree(u16view path, const std::function<bool(const FolderEntry&)>& visit, int& unnamed);
    // The cause of the last local failure, naming the path; emptied by reading.
    std::string TakeError();
    // Whether this side answered "NAK" since the last call, and the word
    // for why, where the drives decided it ("outside", "link", "folder",
    // "read-only", "no-such-folder"); emptied by reading.
    bool TakeSentNak() { return std::exchange(sentNak_, false); }
    std::string TakeRefusal() { return std::exchange(refusal_, std::string()); }
    // The error of the send that failed on this connection (ETIMEDOUT for a
    // peer that took nothing for too long), or 0. Nothing more is sent on
    // it: a message may have been cut.
    int SendError() const { return sendError_; }
    // The core asked to end the connection (three wrong login pairs).
    bool EndAsked() const { return endAsked_; }

    int SendBytes(const char* data, std::size_t length) override;
    void ShowMessage(u16view text, u16view caption) override;
    void ShowSentNak(u16view text) override;
    void RefreshStatusBar() override {}
    void CloseAfter(uint32_t milliseconds) override { listener_.CloseAfter(milliseconds); }
    // Nothing more is sent; the front end closes the connection.
    void EndConnection() override {
        endAsked_ = true;
        if (sendError_ == 0) sendError_ = ECONNABORTED;
    }
    void SleepMs(uint32_t milliseconds) override;
    void ClearRemoteRows() override { listener_.ClearRemoteRows(); }
    void AddRemoteRow(const PaneRow& row, int32_t number) override { listener_.AddRemoteRow(row, number); }
    bool AcceptsPeerRequest(Kind request, u16view path) override;
    void OperationEnded(const OperationReport& report) override { listener_.OperationEnded(report); }

    int DriveTypeOf(u16view root) override;
    bool ListFolder(u16view folder, const std::function<bool(const FolderEntry&)>& visit) override;
    std::unique_ptr<FolderCursor> OpenFolder(u16view folder) override;

    bool CreateFolder(u16view path) override;
    bool FileExists(u16view path) override;
    bool FolderExists(u16view path) override;
    bool OpenTransferForRead(u16view path, uint64_t& size) override;
    int64_t ReadTransfer(char* buffer, std::size_t maxBytes) override;
    bool GetTransferTimes(FileTimes& times) override;
    bool CreateTransferForWrite(u16view path) override;
    std::unique_ptr<PartHash> NewPartHash() override;
    std::unique_ptr<SecureSession> NewSecureSession(Role role, const std::string& loginText,
                                                    const std::string& salt) override;
    bool OpenTransferForAppend(u16view path, uint64_t& size) override;
    bool WriteTransfer(const char* data, std::size_t length) override;
    bool SetTransferTimes(const FileTimes& times) override;
    void CloseTransfer() override;
    bool RemoveFile(u16view path) override;
    bool ReplaceFile(u16view from, u16view to) override;
    const AnsiCodec& Codec() const override { return codec_; }

private:
    // The place of a path of the core: a peer path (drive form) beneath the
    // drives, or a path of the front end (absolute, or a bare name inside
    // the local folder). The file being received is found where it was
    // created, whatever its folder's name leads to since.
    bool Resolve(u16view path, Place& place);
    // The file just created or opened for writing becomes the transfer file.
    void TakeWrittenFile(int fd, u16view path, Place&& place);
    bool Refuse(const char* why);
    bool Fail(const std::string& what, const std::string& path, int error);
    bool WriteOut(const char* data, std::size_t length);
    bool WriteFailed(int error);

    const IconvCodec& codec_;
    const PathMap& drives_;
    HostListener& listener_;
    int socket_ = -1;
    int sendError_ = 0;
    bool endAsked_ = false;
    bool boxShownAfterFailure_ = false;
    bool sentNak_ = false;
    std::string refusal_;
    bool servesFiles_ = true;
    bool readOnly_ = false;
    std::string localFolder_;
    const PathMap* localTree_ = nullptr;
    std::string error_;

    // The transfer file. Received zero blocks of 4 KiB or more become holes.
    int file_ = -1;
    bool writing_ = false;
    bool finished_ = false;    // its times were set: the core gives it its name next
    bool writeFailed_ = false; // some data never reached the disk
    bool holeAtEnd_ = false;
    std::string filePath_;
    u16 createdPath_;  // the path of the core the file being received was created under
    Place created_;
};

}  // namespace quorbel::posix
