// Placeholders until the connection layer lands.
#include <atomic>
#include <cstring>

#include "app/shell.h"
#include "dialogs/dialogs.h"
#include "net/net.h"

namespace {
std::atomic<int32_t> g_state;
std::atomic<int32_t> g_monitor;
}  // namespace

int StartClient(HWND) { return kClientStartupFailed; }
bool StartServer(HWND) { return false; }
void CloseConnection(HWND) { g_shell.connectionOpen = 0; }
int CountPeers() { return 0; }
int32_t CurrentOperationState() { return g_state; }
void SetOperationState(int32_t state) { g_state = state; }
const wchar_t* OperationStateText(int32_t state) {
    static const wchar_t* const kNames[] = {L"Waiting", L"CallDIR", L"RequestDIR", L"CallCopyTO", L"RequestCopyTO",
                                            L"CallCopyFrom", L"RequestCopyFrom", L"FolderTO", L"FolderFrom",
                                            L"StopTO", L"StopFrom"};
    return state >= 0 && state <= 10 ? kNames[state] : L"";
}
int SendFrameBytes(const char*, int) { return 0; }
void SendListingRequestNow() {}
int32_t MonitorRecording() { return g_monitor; }
void SetMonitorRecording(int32_t on) { g_monitor = on; }
INT_PTR RunCopyDialog(HWND, int) { return 1; }
HWND ShowProgressNotice(HWND, int) { return nullptr; }
void CloseProgressNotice() {}

namespace {
char g_receiveRing[kMonitorRingSlots][kMonitorRingSlotBytes];
char g_sendRing[kMonitorRingSlots][kMonitorRingSlotBytes];
char g_directoryTable[kMonitorTableSlots][kMonitorTableSlotBytes];
}  // namespace

void CopyReceiveRingSlots(char (*out)[kMonitorRingSlotBytes]) { memcpy(out, g_receiveRing, sizeof g_receiveRing); }
void CopySendRingSlots(char (*out)[kMonitorRingSlotBytes]) { memcpy(out, g_sendRing, sizeof g_sendRing); }
void CopyDirectoryTableSlots(char (*out)[kMonitorTableSlotBytes]) {
    memcpy(out, g_directoryTable, sizeof g_directoryTable);
}
void SetMonitorSlotForTest(int store, int slot, const char* bytes, int length) {
    char* target = nullptr;
    int size = 0;
    if (store == 0 && slot >= 0 && slot < kMonitorRingSlots) target = g_receiveRing[slot], size = kMonitorRingSlotBytes;
    if (store == 1 && slot >= 0 && slot < kMonitorRingSlots) target = g_sendRing[slot], size = kMonitorRingSlotBytes;
    if (store == 2 && slot >= 0 && slot < kMonitorTableSlots) target = g_directoryTable[slot], size = kMonitorTableSlotBytes;
    if (!target) return;
    int n = length < 0 ? 0 : (length > size ? size : length);
    memset(target, 0, static_cast<size_t>(size));
    if (n > 0) memcpy(target, bytes, static_cast<size_t>(n));
}
