// The program's one protocol object and its Win32 host: Winsock sends, the
// right pane, message boxes, folder listing and the transfer file.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>

#include "app/msgbox.h"
#include "app/shell.h"
#include "app/wintext.h"
#include "core/format_rules.h"
#include "core/protocol.h"
#include "net/net.h"
#include "net/net_internal.h"

namespace {

constexpr UINT kArmCloseTimerMessage = WM_APP + 1;
const wchar_t kRelayClass[] = L"QuorbelTimerRelay";

HWND g_relay;

LRESULT CALLBACK RelayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kArmCloseTimerMessage) {
        if (g_shell.mainWindow) SetTimer(g_shell.mainWindow, kCloseTimer, static_cast<UINT>(wParam), nullptr);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

quorbel::LocalTimeFields LocalFields(const FILETIME& utc) {
    quorbel::LocalTimeFields fields;
    FILETIME local;
    SYSTEMTIME st;
    if (FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &st)) {
        fields.year = st.wYear;
        fields.month = st.wMonth;
        fields.day = st.wDay;
        fields.hour = st.wHour;
        fields.minute = st.wMinute;
    }
    return fields;
}

FILETIME ToFileTime(uint64_t value) {
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(value);
    t.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return t;
}

uint64_t FromFileTime(const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// GetCompressedFileSizeW of an entry. For a plain file (not compressed, not
// sparse, not a folder) that is its size, which the search already gave, so
// the path is looked up only for the others. A path that no fixed path
// buffer could hold gets no size.
bool SizeOnDisk(const std::wstring& fullPath, const WIN32_FIND_DATAW& data, uint64_t& size) {
    if (fullPath.size() > static_cast<std::size_t>(kPathChars - 1)) return false;
    constexpr DWORD kOwnSize = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_SPARSE_FILE;
    if ((data.dwFileAttributes & kOwnSize) == 0) {
        size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        return true;
    }
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetCompressedFileSizeW(fullPath.c_str(), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    size = (static_cast<uint64_t>(high) << 32) | low;
    return true;
}

class WinProtocolHost : public quorbel::ProtocolHost {
public:
    int SendBytes(const char* data, std::size_t length) override {
        if (ReceiveThreadIsClosing()) return 0;
        const SOCKET target = SendTargetSocket();
        std::size_t sent = 0;
        // One call sends a whole message on a blocking socket; the loop only
        // guards against a short count so that a message is never cut.
        do {
            int n = send(target, data + sent, static_cast<int>(length - sent), 0);
            if (n == SOCKET_ERROR) return WSAGetLastError();
            sent += static_cast<std::size_t>(n);
        } while (sent < length);
        return 0;
    }

    void ShowMessage(quorbel::u16view text, quorbel::u16view caption) override {
        ShowMessageBox(nullptr, ToWide(text).c_str(), ToWide(caption).c_str(), MB_OK);
    }

    void RefreshStatusBar() override { ::RefreshStatusBar(); }

    void ArmCloseTimer(uint32_t milliseconds) override { ArmMainCloseTimer(milliseconds); }

    void SleepMs(uint32_t milliseconds) override { Sleep(milliseconds); }

    void ClearRemotePane() override {
        if (g_shell.rightPane) SendMessageW(g_shell.rightPane, LVM_DELETEALLITEMS, 0, 0);
    }

    void InsertRemoteRow(int32_t position, quorbel::u16view name, quorbel::u16view date, quorbel::u16view size,
                         int32_t image, int32_t rowParam) override {
        HWND pane = g_shell.rightPane;
        if (!pane) return;
        std::wstring nameText = ToWide(name), dateText = ToWide(date), sizeText = ToWide(size);
        LVITEMW item = {};
        item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
        item.iItem = position;
        item.pszText = nameText.data();
        // A negative kind from the peer would ask this window for the image.
        item.iImage = image >= 0 ? image : I_IMAGENONE;
        item.lParam = rowParam;
        const int row = static_cast<int>(SendMessageW(pane, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        if (row < 0) return;
        // The row the pane gave (the end of the pane when records skip numbers).
        LVITEMW column = {};
        column.mask = LVIF_TEXT;
        column.iItem = row;
        column.iSubItem = 1;
        column.pszText = dateText.data();
        SendMessageW(pane, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&column));
        column.iSubItem = 2;
        column.pszText = sizeText.data();
        SendMessageW(pane, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&column));
    }

    void CreateFolder(quorbel::u16view path) override { CreateDirectoryW(ToWide(path).c_str(), nullptr); }

    int DriveTypeOf(quorbel::u16view root) override { return static_cast<int>(GetDriveTypeW(ToWide(root).c_str())); }

    bool ListFolder(quorbel::u16view folder,
                    const std::function<bool(const quorbel::FolderEntry&)>& visit) override {
        const std::wstring base = ToWide(folder);
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((base + L"\\*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return false;
        const bool endsWithSeparator = !base.empty() && base.back() == L'\\';
        do {
            quorbel::FolderEntry entry;
            entry.name = AsU16(data.cFileName);
            entry.attributes = data.dwFileAttributes;
            entry.lastWrite = LocalFields(data.ftLastWriteTime);
            if (!quorbel::SizeTextIsEmpty(entry.attributes, entry.name))
                entry.sizeKnown = SizeOnDisk(base + (endsWithSeparator ? L"" : L"\\") + data.cFileName, data,
                                             entry.sizeOnDisk);
            if (!visit(entry)) break;
        } while (FindNextFileW(find, &data));
        FindClose(find);
        return true;
    }

    bool OpenTransferForRead(quorbel::u16view path, uint64_t& size) override {
        CloseTransfer();
        file_ = CreateFileW(ToWide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
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

    int32_t ReadTransfer(char* buffer, int32_t maxBytes) override {
        if (file_ == INVALID_HANDLE_VALUE || maxBytes < 0) return -1;
        // Blocks go out 1000 bytes at a time; the file is read ahead in larger
        // pieces so that each exchange does not cost a read of its own. A
        // block is always filled whole, across pieces, until the file ends.
        int32_t copied = 0;
        while (copied < maxBytes) {
            if (readPos_ == readLength_) {
                DWORD got = 0;
                if (!ReadFile(file_, readAhead_, sizeof readAhead_, &got, nullptr)) return -1;
                readPos_ = 0;
                readLength_ = got;
                if (got == 0) break;
            }
            DWORD n = readLength_ - readPos_;
            if (n > static_cast<DWORD>(maxBytes - copied)) n = static_cast<DWORD>(maxBytes - copied);
            std::memcpy(buffer + copied, readAhead_ + readPos_, n);
            readPos_ += n;
            copied += static_cast<int32_t>(n);
        }
        return copied;
    }

    bool GetTransferTimes(quorbel::FileTimes& times) override {
        FILETIME creation, access, write;
        if (file_ == INVALID_HANDLE_VALUE || !GetFileTime(file_, &creation, &access, &write)) return false;
        times.creation = FromFileTime(creation);
        times.lastAccess = FromFileTime(access);
        times.lastWrite = FromFileTime(write);
        return true;
    }

    bool CreateTransferForWrite(quorbel::u16view path) override {
        CloseTransfer();
        file_ = CreateFileW(ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        return file_ != INVALID_HANDLE_VALUE;
    }

    bool WriteTransfer(const char* data, int32_t length) override {
        if (file_ == INVALID_HANDLE_VALUE || length < 0) return false;
        DWORD written = 0;
        return WriteFile(file_, data, static_cast<DWORD>(length), &written, nullptr) &&
               written == static_cast<DWORD>(length);
    }

    bool SetTransferTimes(const quorbel::FileTimes& times) override {
        if (file_ == INVALID_HANDLE_VALUE) return false;
        FILETIME creation = ToFileTime(times.creation), access = ToFileTime(times.lastAccess),
                 write = ToFileTime(times.lastWrite);
        return SetFileTime(file_, &creation, &access, &write) != FALSE;
    }

    void CloseTransfer() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
        readPos_ = readLength_ = 0;
    }

    bool RemoveFile(quorbel::u16view path) override { return DeleteFileW(ToWide(path).c_str()) != FALSE; }

    bool RenameFile(quorbel::u16view from, quorbel::u16view to) override {
        return MoveFileW(ToWide(from).c_str(), ToWide(to).c_str()) != FALSE;
    }

    const quorbel::AnsiCodec& Codec() const override { return AnsiCodecForThread(); }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    char readAhead_[64 * 1024];
    DWORD readPos_ = 0, readLength_ = 0;
};

// The window side owns the remote folder path; the protocol keeps its own
// copy for the listing requests that the receive thread sends.
void HandRemotePathToProtocol() { TheProtocol().SetRemoteFolderPath(AsU16View(g_shell.remotePath)); }

}  // namespace

quorbel::Protocol& TheProtocol() {
    static WinProtocolHost host;
    static quorbel::Protocol protocol(host);
    return protocol;
}

void EnsureTimerRelay() {
    if (g_relay && IsWindow(g_relay)) return;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = RelayProc;
    wc.hInstance = instance;
    wc.lpszClassName = kRelayClass;
    RegisterClassExW(&wc);  // already registered on a second call: harmless
    g_relay = CreateWindowExW(0, kRelayClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
}

void ArmMainCloseTimer(UINT milliseconds) {
    HWND main = g_shell.mainWindow;
    if (!main) return;
    if (GetWindowThreadProcessId(main, nullptr) == GetCurrentThreadId()) {
        SetTimer(main, kCloseTimer, milliseconds, nullptr);
    } else if (g_relay) {
        PostMessageW(g_relay, kArmCloseTimerMessage, milliseconds, 0);
    }
}

void EndOperationWithConnection() {
    TheProtocol().state.operationState.store(quorbel::Waiting);
    RefreshStatusBar();
}

int32_t CurrentOperationState() { return TheProtocol().state.operationState.load(); }

void SetOperationState(int32_t state) { TheProtocol().state.operationState.store(state); }

const wchar_t* OperationStateText(int32_t state) { return AsWide(quorbel::OperationStateName(state)); }

int SendFrameBytes(const char* bytes, int length) {
    HandRemotePathToProtocol();
    return TheProtocol().SendFrame(bytes, length);
}

void SendListingRequestNow() {
    HandRemotePathToProtocol();
    TheProtocol().SendListingRequest();
}

int32_t MonitorRecording() { return TheProtocol().state.monitorRecording.load(); }

void SetMonitorRecording(int32_t on) { TheProtocol().state.monitorRecording.store(on != 0 ? 1 : 0); }

// ---- The monitor stores ------------------------------------------------------

static_assert(kMonitorRingSlots == quorbel::kRingSlots && kMonitorRingSlotBytes == quorbel::kRingSlotBytes,
              "the monitors show the protocol's rings");
static_assert(kMonitorTableSlots == quorbel::kDirSlots && kMonitorTableSlotBytes == quorbel::kDirSlotBytes,
              "the monitors show the protocol's directory table");

void CopyReceiveRingSlots(char (*out)[kMonitorRingSlotBytes]) { TheProtocol().CopyReceiveRing(out); }

void CopySendRingSlots(char (*out)[kMonitorRingSlotBytes]) { TheProtocol().CopySendRing(out); }

void CopyDirectoryTableSlots(char (*out)[kMonitorTableSlotBytes]) { TheProtocol().CopyDirectoryTable(out); }

void SetMonitorSlotForTest(int store, int slot, const char* bytes, int length) {
    quorbel::ProtocolState& state = TheProtocol().state;
    char* target = nullptr;
    int size = 0;
    if ((store == 0 || store == 1) && slot >= 0 && slot < kMonitorRingSlots) {
        target = store == 0 ? state.recvRing[slot] : state.sendRing[slot];
        size = kMonitorRingSlotBytes;
    } else if (store == 2 && slot >= 0 && slot < kMonitorTableSlots) {
        target = state.dirTable[slot];
        size = kMonitorTableSlotBytes;
    }
    if (!target) return;
    const int n = bytes == nullptr || length < 0 ? 0 : (length > size ? size : length);
    std::memset(target, 0, static_cast<size_t>(size));
    if (n > 0) std::memcpy(target, bytes, static_cast<size_t>(n));
}
