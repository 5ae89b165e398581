// Connection values shared by the sources of src/net only.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

// Where every message of this side goes: the Client's connection socket, or
// the Server's peer slot 0. INVALID_SOCKET when there is none.
SOCKET SendTargetSocket();
// True on the receive thread once the connection is being closed: its last
// answers have nowhere to go and are dropped without an error box.
bool ReceiveThreadIsClosing();

// Arms the main window's close timer (id 1) from any thread: directly on the
// window thread, through the relay window from the receive thread (a timer
// belongs to the thread of its window).
void ArmMainCloseTimer(UINT milliseconds);
// Creates the relay window on the calling (window) thread if it is missing.
void EnsureTimerRelay();

// The operation state back to Waiting and the status bar refreshed: the
// operation in progress ended with the connection.
void EndOperationWithConnection();
