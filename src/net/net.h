// The TCP connection in both roles and the binding of the protocol core to
// Winsock, threads, files and the right pane.
#pragma once

#include <windows.h>

#include <cstdint>

namespace quorbel {
class Protocol;
}

// StartClient results.
constexpr int kClientConnected = 0;
constexpr int kClientStartupFailed = 1;
constexpr int kClientSocketFailed = 2;
constexpr int kClientConnectRefused = 3;  // the user chose NO
constexpr int kClientNoPeer = 4;          // name not resolved (NO) or no thread
constexpr int kClientLoginFailed = 5;
constexpr int kClientRetry = -1;          // the user chose YES

// The one protocol object of the program (src/core/protocol.h): operation
// state, rings, directory table, transfer state.
quorbel::Protocol& TheProtocol();

int StartClient(HWND mainWindow);
bool StartServer(HWND mainWindow);
void CloseConnection(HWND mainWindow);
int CountPeers();
// The receive threads: the Client's (no parameter) and the Server's (a
// pointer to the listening socket).
DWORD WINAPI Read1Thread(LPVOID unused);
DWORD WINAPI ServerThread(LPVOID listeningSocket);
// Looks up the four PC names in order: 0 resolved (the target address
// holds it), -1 the user chose YES after a failure, 1 NO.
int ResolvePeerName(HWND owner);
// The Client's login exchange inside StartClient; true when accepted.
bool SendLogin(HWND mainWindow);
// Fills the local host address and name ("不明" where a lookup fails).
bool ReadHostInfo();

// The operation state shared with the receive thread.
int32_t CurrentOperationState();
void SetOperationState(int32_t state);
// The state's name as the status bar shows it ("Waiting", "CallDIR", ...).
const wchar_t* OperationStateText(int32_t state);
// Sends one message to the peer (the send target); 0 or the socket error.
int SendFrameBytes(const char* bytes, int length);
// "DD" plus the remote folder path.
void SendListingRequestNow();
// The monitor recording flag (settings key sendreadmonitor_on).
int32_t MonitorRecording();
void SetMonitorRecording(int32_t on);

// The monitor stores, copied for painting (the receive thread writes them
// while a monitor repaints): the receive and send rings, 32 slots of 272
// bytes, and the directory table, 1024 slots of 256 bytes. A slot holds ANSI
// text, zero-ended when shorter than the slot.
constexpr int kMonitorRingSlots = 32;
constexpr int kMonitorRingSlotBytes = 272;
constexpr int kMonitorTableSlots = 1024;
constexpr int kMonitorTableSlotBytes = 256;
void CopyReceiveRingSlots(char (*out)[kMonitorRingSlotBytes]);  // kMonitorRingSlots rows
void CopySendRingSlots(char (*out)[kMonitorRingSlotBytes]);     // kMonitorRingSlots rows
void CopyDirectoryTableSlots(char (*out)[kMonitorTableSlotBytes]);  // kMonitorTableSlots rows
// Tests only: overwrites one slot of a store (0 receive ring, 1 send ring,
// 2 directory table) with `length` bytes, at most the slot's size, the rest
// zero.
void SetMonitorSlotForTest(int store, int slot, const char* bytes, int length);
