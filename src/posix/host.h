// The core's host on Linux: the socket, the served folders, the one transfer
// file, the code page. The front end (server loop or client verbs) hears
// from it through a HostListener.
#pragma once

#include <string>
#include <utility>

#include "core/protocol.h"
#include "posix/codec.h"
#include "posix/path_map.h"

namespace quorbel::posix {

class HostListener {
public:
    virtual ~HostListener() = default;
    // A line for the user: a "NAK" note, entries left out of a listing.
    virtual void Note(const std::string& line) = 0;
    // A box of the core (a failed send, a file too large).
    virtual void Box(const std::string& line) { Note(line); }
    virtual void Ended(const OperationReport& report) = 0;
    virtual void RowsCleared() {}
    virtual void RowArrived(const PaneRow&, int32_t /*number*/) {}
    // The peer said "CUT": close after this many milliseconds.
    virtual void CloseAsked(uint32_t /*milliseconds*/) {}
    // The core ends this connection (too many wrong login pairs).
    virtual void EndAsked() {}
};

class PosixHost : public ProtocolHost {
public:
    PosixHost(const IconvCodec& codec, const PathMap& drives, HostListener& listener);
    ~PosixHost() override;
    PosixHost(const PosixHost&) = delete;
    PosixHost& operator=(const PosixHost&) = delete;

    void SetSocket(int fd) { socket_ = fd; }
    // A Server serves every request inside its drives; a Client only lists
    // (its drives, or nothing) and answers the rest with "NAK".
    void SetServesFiles(bool serves) { servesFiles_ = serves; }
    // Where the bare file names that the front end hands the core live.
    void SetLocalFolder(const std::string& folder) { localFolder_ = folder; }
    // The cause of the last local failure, naming the path; emptied by reading.
    std::string TakeError();

    int SendBytes(const char* data, std::size_t length) override;
    void ShowMessage(u16view text, u16view caption) override;
    void ShowSentNak(u16view text) override;
    void RefreshStatusBar() override {}
    void ArmCloseTimer(uint32_t milliseconds) override { listener_.CloseAsked(milliseconds); }
    void EndConnection() override { listener_.EndAsked(); }
    void SleepMs(uint32_t milliseconds) override;
    void ClearRemotePane() override { listener_.RowsCleared(); }
    void InsertRemoteRow(const PaneRow& row, int32_t number) override { listener_.RowArrived(row, number); }
    bool AcceptsPeerRequest(PeerRequest request, u16view path) override;
    void OperationEnded(const OperationReport& report) override { listener_.Ended(report); }

    int DriveTypeOf(u16view root) override;
    bool ListFolder(u16view folder, const std::function<bool(const FolderEntry&)>& visit) override;

    bool CreateFolder(u16view path) override;
    bool FileExists(u16view path) override;
    bool FolderExists(u16view path) override;
    bool OpenTransferForRead(u16view path, uint64_t& size) override;
    int64_t ReadTransfer(char* buffer, std::size_t maxBytes) override;
    bool GetTransferTimes(FileTimes& times) override;
    bool CreateTransferForWrite(u16view path) override;
    bool WriteTransfer(const char* data, std::size_t length) override;
    bool SetTransferTimes(const FileTimes& times) override;
    void CloseTransfer() override;
    bool RemoveFile(u16view path) override;
    bool ReplaceFile(u16view from, u16view to) override;
    const AnsiCodec& Codec() const override { return codec_; }

private:
    // The local path of a path of the core: a peer path (drive form) mapped
    // into the drives, or a path of the front end (absolute, or a bare name
    // inside the local folder).
    bool Resolve(u16view path, std::string& local);
    bool Fail(const std::string& what, const std::string& path, int error);
    bool WriteOut(const char* data, std::size_t length);
    bool WriteFailed(int error);
    void FillPiece();

    const IconvCodec& codec_;
    const PathMap& drives_;
    HostListener& listener_;
    int socket_ = -1;
    bool servesFiles_ = true;
    std::string localFolder_;
    std::string error_;

    // The transfer file. Small blocks are read from pieces of kPieceBytes,
    // large ones straight into place; received zero blocks of 4 KiB or more
    // become holes.
    static constexpr std::size_t kPieceBytes = 64 * 1024;
    int file_ = -1;
    bool writing_ = false;
    bool finished_ = false;    // its times were set: the core gives it its name next
    bool writeFailed_ = false; // some data never reached the disk
    bool holeAtEnd_ = false;
    std::string filePath_;
    char* piece_ = nullptr;
    std::size_t pieceFill_ = 0, pieceRead_ = 0;
    bool readEnd_ = false;
    int readError_ = 0;
};

}  // namespace quorbel::posix
