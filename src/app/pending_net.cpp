// Placeholders until the connection layer lands.
#include <atomic>

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
