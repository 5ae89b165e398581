// The protocol core's view of Windows: Winsock sends, files, the code page,
// boxes, and the right pane through the connection's listener.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <vector>

#include "core/protocol/protocol.h"
#include "win/net/connection.h"
#include "win/base/win_files.h"

class WinProtocolHost : public quorbel::ProtocolHost {
public:
    // `target` gives the socket every message goes to; `quiet` tells when a
    // send must not be tried (the receive thread while the connection
    // closes); `end` ends the connection being served.
    WinProtocolHost(ConnectionListener& listener, std::function<SOCKET()> target, std::function<bool()> quiet,
                    std::function<void()> end);
    ~WinProtocolHost() override;

    int SendBytes(const char* data, std::size_t length) override;
    void ShowMessage(quorbel::u16view text, quorbel::u16view caption) override;
    void ShowSentNak(quorbel::u16view text) override;
    void RefreshStatusBar() override;
    void CloseAfter(uint32_t milliseconds) override;
    void SleepMs(uint32_t milliseconds) override;
    void EndConnection() override;
    void ClearRemoteRows() override;
    void AddRemoteRow(const quorbel::PaneRow& row, int32_t recordNumber) override;
    void OperationEnded(const quorbel::OperationReport& report) override { listener_.OperationEnded(report); }
    bool CreateFolder(quorbel::u16view path) override;
    bool FileExists(quorbel::u16view path) override;
    bool FolderExists(quorbel::u16view path) override;
    int DriveTypeOf(quorbel::u16view root) override;
    bool ListFolder(quorbel::u16view folder, const std::function<bool(const quorbel::FolderEntry&)>& visit) override;
    std::unique_ptr<quorbel::FolderCursor> OpenFolder(quorbel::u16view folder) override;
    bool OpenTransferForRead(quorbel::u16view path, uint64_t& size) override;
    int64_t ReadTransfer(char* buffer, std::size_t maxBytes) override;
    bool GetTransferTimes(quorbel::FileTimes& times) override;
    bool CreateTransferForWrite(quorbel::u16view path) override;
    std::unique_ptr<quorbel::PartHash> NewPartHash() override;
    std::unique_ptr<quorbel::SecureSession> NewSecureSession(quorbel::Role role, const std::string& loginText,
                                                             const std::string& salt) override;
    bool OpenTransferForAppend(quorbel::u16view path, uint64_t& size) override;
    bool WriteTransfer(const char* data, std::size_t length) override;
    bool SetTransferTimes(const quorbel::FileTimes& times) override;
    void CloseTransfer() override;
    bool RemoveFile(quorbel::u16view path) override;
    bool ReplaceFile(quorbel::u16view from, quorbel::u16view to) override;
    const quorbel::AnsiCodec& Codec() const override;

    // A box that must not hold the receive thread, on a thread of its own;
    // with `single`, none while an earlier one of that kind is still shown.
    void ShowDetached(const std::wstring& text, const std::wstring& caption, std::atomic<bool>* single);

private:
    ConnectionListener& listener_;
    std::function<SOCKET()> target_;
    std::function<bool()> quiet_;
    std::function<void()> end_;
    WinFolderSource folders_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::atomic<bool> nakShown_{false};
    std::atomic<int> detached_{0};  // boxes still on their own threads
    DWORD windowThread_ = GetCurrentThreadId();  // the thread that made us
};
