#include "win/net/protocol_host.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "crypto/crypto.h"
#include "crypto/session.h"
#include "win/base/msgbox.h"
#include "win/base/wintext.h"

namespace {

struct DetachedBox {
    std::wstring text, caption;
    std::atomic<bool>* single;
    std::atomic<int>* count;
};

DWORD WINAPI RunDetachedBox(LPVOID parameter) {
    DetachedBox* box = static_cast<DetachedBox*>(parameter);
    ShowMessageBox(nullptr, box->text.c_str(), box->caption.c_str(), MB_OK);
    if (box->single) box->single->store(false);
    box->count->fetch_sub(1);
    delete box;
    return 0;
}

}  // namespace

WinProtocolHost::WinProtocolHost(ConnectionListener& listener, std::function<SOCKET()> target,
                                 std::function<bool()> quiet, std::function<void()> end)
    : listener_(listener), target_(std::move(target)), quiet_(std::move(quiet)), end_(std::move(end)) {}

WinProtocolHost::~WinProtocolHost() {
    CloseTransfer();
    // A note still on the screen keeps its thread; it must not outlive us
    // in the tests that make and drop connections.
    for (int i = 0; i < 100 && detached_.load() > 0; ++i) Sleep(20);
}

int WinProtocolHost::SendBytes(const char* data, std::size_t length) {
    if (quiet_()) return 0;
    const SOCKET target = target_();
    std::size_t sent = 0;
    // One call sends a whole message on a blocking socket; the loop only
    // guards against a short count so that a message is never cut.
    do {
        const int n = send(target, data + sent, static_cast<int>(length - sent), 0);
        if (n == SOCKET_ERROR) return WSAGetLastError();
        sent += static_cast<std::size_t>(n);
    } while (sent < length);
    return 0;
}

void WinProtocolHost::ShowMessage(quorbel::u16view text, quorbel::u16view caption) {
    ShowMessageBox(nullptr, ToWide(text).c_str(), ToWide(caption).c_str(), MB_OK);
}

void WinProtocolHost::ShowDetached(const std::wstring& text, const std::wstring& caption, std::atomic<bool>* single) {
    if (single && single->exchange(true)) return;
    detached_.fetch_add(1);
    auto* box = new DetachedBox{text, caption, single, &detached_};
    HANDLE thread = CreateThread(nullptr, 0, RunDetachedBox, box, 0, nullptr);
    if (thread) {
        CloseHandle(thread);
        return;
    }
    if (single) single->store(false);
    detached_.fetch_sub(1);
    delete box;
}

void WinProtocolHost::ShowSentNak(quorbel::u16view text) {
    // The receive thread's answers while the connection closes were never sent.
    if (quiet_()) return;
    // A peer that sends junk must not hold this side with box after box.
    ShowDetached(ToWide(text), AsWide(quorbel::texts::kSentNak.caption), &nakShown_);
}

void WinProtocolHost::RefreshStatusBar() { listener_.StatusChanged(); }
void WinProtocolHost::CloseAfter(uint32_t milliseconds) { listener_.CloseAfter(milliseconds); }
void WinProtocolHost::SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }
void WinProtocolHost::EndConnection() { end_(); }
void WinProtocolHost::ClearRemoteRows() { listener_.ClearRemoteRows(); }

void WinProtocolHost::AddRemoteRow(const quorbel::PaneRow& row, int32_t recordNumber) {
    listener_.AddRemoteRow(row, recordNumber);
}

bool WinProtocolHost::CreateFolder(quorbel::u16view path) {
    return CreateDirectoryW(ToWide(path).c_str(), nullptr) != FALSE;
}

bool WinProtocolHost::FileExists(quorbel::u16view path) {
    return GetFileAttributesW(ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WinProtocolHost::FolderExists(quorbel::u16view path) {
    const DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int WinProtocolHost::DriveTypeOf(quorbel::u16view root) { return folders_.DriveTypeOf(root); }

bool WinProtocolHost::ListFolder(quorbel::u16view folder,
                                 const std::function<bool(const quorbel::FolderEntry&)>& visit) {
    return folders_.ListFolder(folder, visit);
}

std::unique_ptr<quorbel::FolderCursor> WinProtocolHost::OpenFolder(quorbel::u16view folder) {
    return folders_.OpenFolder(folder);
}

bool WinProtocolHost::OpenTransferForRead(quorbel::u16view path, uint64_t& size) {
    CloseTransfer();
    // OPEN_EXISTING: a source that vanished is refused, not created empty.
    file_ = CreateFileW(ToWide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER length = {};
    if (!GetFileSizeEx(file_, &length)) {
        CloseTransfer();
        return false;
    }
    size = static_cast<uint64_t>(length.QuadPart);
    return true;
}

int64_t WinProtocolHost::ReadTransfer(char* buffer, std::size_t maxBytes) {
    DWORD got = 0;
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(maxBytes, MAXDWORD));
    if (file_ == INVALID_HANDLE_VALUE || !ReadFile(file_, buffer, ask, &got, nullptr)) return -1;
    return static_cast<int64_t>(got);
}

bool WinProtocolHost::GetTransferTimes(quorbel::FileTimes& times) {
    FILETIME creation, access, write;
    if (file_ == INVALID_HANDLE_VALUE || !GetFileTime(file_, &creation, &access, &write)) return false;
    times = {FileTimeValue(creation), FileTimeValue(access), FileTimeValue(write)};
    return true;
}

bool WinProtocolHost::CreateTransferForWrite(quorbel::u16view path) {
    CloseTransfer();
    file_ = CreateFileW(ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    return file_ != INVALID_HANDLE_VALUE;
}

std::unique_ptr<quorbel::PartHash> WinProtocolHost::NewPartHash() { return quorbel::crypto::NewPartHash(); }

namespace {

struct StretchJob {
    quorbel::Role role;
    const std::string& loginText;
    const std::string& salt;
    std::unique_ptr<quorbel::SecureSession> made;
};

DWORD WINAPI Stretch(LPVOID job) {
    auto& j = *static_cast<StretchJob*>(job);
    j.made = quorbel::crypto::NewSecureSession(j.role, j.loginText, j.salt);
    return 0;
}

constexpr DWORD kStretchWaitSliceMs = 50;

}  // namespace

// The stretch takes a noticeable part of a second (0.4 s for the 32-bit
// program under Wine). The Server's runs on its receive thread; the
// Client's login runs on the window thread, so there it runs on a thread
// of its own while the windows go on painting and what other threads send
// them is served (no input: nothing can start meanwhile).
std::unique_ptr<quorbel::SecureSession> WinProtocolHost::NewSecureSession(quorbel::Role role,
                                                                          const std::string& loginText,
                                                                          const std::string& salt) {
    StretchJob job{role, loginText, salt, nullptr};
    HANDLE worker = GetCurrentThreadId() == windowThread_ ? CreateThread(nullptr, 0, Stretch, &job, 0, nullptr)
                                                          : nullptr;
    if (!worker) return quorbel::crypto::NewSecureSession(role, loginText, salt);
    // The stretch ends by itself: its time is bounded by its fixed cost.
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjects(1, &worker, FALSE, kStretchWaitSliceMs, QS_PAINT | QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0 || r == WAIT_FAILED) break;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) DispatchMessageW(&msg);
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    // `job` lives on this stack: the thread ends before it goes (at once but
    // after a failed wait).
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
    return std::move(job.made);
}

bool WinProtocolHost::OpenTransferForAppend(quorbel::u16view path, uint64_t& size) {
    CloseTransfer();
    // OPEN_EXISTING: only a partial file that is there goes on; its end is
    // where the next block is written.
    file_ = CreateFileW(ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER zero = {}, end = {};
    if (!SetFilePointerEx(file_, zero, &end, FILE_END)) {
        CloseTransfer();
        return false;
    }
    size = static_cast<uint64_t>(end.QuadPart);
    return true;
}

bool WinProtocolHost::WriteTransfer(const char* data, std::size_t length) {
    DWORD written = 0;
    return file_ != INVALID_HANDLE_VALUE &&
           WriteFile(file_, data, static_cast<DWORD>(length), &written, nullptr) && written == length;
}

bool WinProtocolHost::SetTransferTimes(const quorbel::FileTimes& times) {
    const FILETIME creation = ToFileTime(times.creation), access = ToFileTime(times.lastAccess),
                   write = ToFileTime(times.lastWrite);
    return file_ != INVALID_HANDLE_VALUE && SetFileTime(file_, &creation, &access, &write) != FALSE;
}

void WinProtocolHost::CloseTransfer() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
}

bool WinProtocolHost::RemoveFile(quorbel::u16view path) { return DeleteFileW(ToWide(path).c_str()) != FALSE; }

bool WinProtocolHost::ReplaceFile(quorbel::u16view from, quorbel::u16view to) {
    return MoveFileExW(ToWide(from).c_str(), ToWide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

const quorbel::AnsiCodec& WinProtocolHost::Codec() const { return AnsiCodecForThread(); }
