// The main window's program state and the operations every subsystem calls:
// status bar, connection header, exit request.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdint>

constexpr int kPathChars = 260;        // 259 characters and a terminator
constexpr int kCredentialChars = 128;  // stored and login ID/PW
constexpr int kHostChars = 64;
constexpr int kPeerHostChars = 32;
constexpr int kPcNameChars = 256;

// Main-window timers.
constexpr UINT_PTR kCloseTimer = 1;
constexpr UINT_PTR kExitTimer = 2;
constexpr UINT_PTR kAutoConnectTimer = 3;

// Program state owned by the main window for the whole run. Flags that the
// receive thread reads or writes are atomic; the rest belongs to the window
// thread.
struct ShellState {
    HWND mainWindow;
    HINSTANCE instance;
    HWND leftPane, rightPane;
    HWND hostHeader, connectionHeader, localHeader, remoteHeader;
    HWND statusBar;
    HIMAGELIST paneImages;

    wchar_t startupFolder[kPathChars];
    wchar_t localPath[kPathChars];
    wchar_t remotePath[kPathChars];

    int32_t serverMode;  // 0 Client, 1 Server (ip_mode)
    std::atomic<int32_t> connectionOpen;
    std::atomic<int32_t> peerPresent;
    std::atomic<int32_t> setupInProgress;
    int32_t commandMode;  // started with "/CMD"

    wchar_t storedId[kCredentialChars], storedPw[kCredentialChars];
    wchar_t loginId[kCredentialChars], loginPw[kCredentialChars];
    wchar_t localHostAddress[kHostChars], localHostName[kHostChars];
    wchar_t peerHostName[kPeerHostChars];

    // Copy and folder commands.
    int32_t copyDirection;  // 0 to the peer, 1 from the peer
    int32_t copyCancelled;
    wchar_t copyItemName[kPathChars];
    wchar_t pasteName[kPathChars];
    wchar_t folderName[kPathChars];

    // Sort direction per pane (0 left, 1 right) and column: 1 up, 2 down.
    int32_t sortFlags[2][3];

    // Connection: slot shown on a Server, socket number on a Client.
    std::atomic<int32_t> activeSlotNumber;
    std::atomic<int64_t> clientSocketNumber;
};

// The values kept in Quorbel.ini besides those in ShellState.
struct Settings {
    int32_t port;
    int32_t targetAddress[4];
    int32_t usePcName;
    wchar_t pcNames[4][kPcNameChars];
    int32_t companionLaunch;  // pw_mode
    int32_t consent;          // doui_mode
};

extern ShellState g_shell;
extern Settings g_settings;

// Resets both records to their start values (zero, the sort flags, "不明").
void ResetShellState();

// Registers "Main Window"; false when the class cannot be registered.
bool RegisterMainWindowClass(HINSTANCE instance);
// Creates the centred 1060 x 720 main window; null when it cannot be made.
HWND CreateMainWindow(HINSTANCE instance);
// Program entry after the C runtime: the whole run. Returns the exit code.
int RunQuorbel(HINSTANCE instance, const wchar_t* commandLine, int showCommand);
// True when the command line selects command mode (exactly "/CMD").
bool IsCommandModeArgument(const wchar_t* commandLine);

void CreateMainChildren(HWND mainWindow);
void LayoutMainChildren(int clientWidth, int clientHeight);
void RefreshStatusBar();
void ShowConnectionHeader(int open);
void RequestExit(HWND mainWindow);
void SetHeaderText(HWND header, const wchar_t* text);

// Texts and colour of the status bar's connection part for the current state.
struct ConnectionStatus {
    wchar_t text[128];
    COLORREF colour;
};
ConnectionStatus CurrentConnectionStatus();

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Menu commands, pane notifications and menu enabling (commands.cpp).
void OnMainCommand(HWND mainWindow, int id);
LRESULT OnMainNotify(HWND mainWindow, WPARAM wParam, LPARAM lParam);
void OnInitMenuPopup(HMENU popup);
