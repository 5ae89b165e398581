// The main window and the program's state for the whole run: the settings,
// the two panes, the connection. One App lives as long as the program; its
// window keeps a pointer to it.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <mutex>
#include <string>

#include "win/app/run.h"
#include "core/protocol/seat.h"
#include "core/settings/settings.h"
#include "win/base/msgbox.h"
#include "win/dialogs/dialogs.h"
#include "win/net/connection.h"
#include "win/panes/panes.h"

// Main-window timers.
constexpr UINT_PTR kCloseTimer = 1;
constexpr UINT_PTR kExitTimer = 2;
constexpr UINT_PTR kAutoConnectTimer = 3;
// Posted by the receive thread: arm the close timer (wParam milliseconds).
constexpr UINT kCloseAfterMessage = WM_APP + 1;

// The App is the user's seat itself: what the protocol and the connection
// report comes straight to the windows and boxes below.
struct App : ConnectionListener, quorbel::UserSeat {
    App(std::wstring startupFolder, bool commandMode);

    HWND window = nullptr;
    Pane left, right;
    HWND hostHeader = nullptr, connectionHeader = nullptr, localHeader = nullptr, remoteHeader = nullptr;
    HWND statusBar = nullptr;
    HIMAGELIST paneImages = nullptr;

    const std::wstring startupFolder;
    const bool commandMode;  // started with "/CMD"
    quorbel::Settings settings;
    quorbel::u16 loginId, loginPw;  // typed in the login dialog
    std::wstring localHostAddress = kUnknownHost, localHostName = kUnknownHost;
    std::wstring peerHostName;  // the Server's name as the Client looked it up
    std::wstring pasteName;     // taken by a right click, offered by the folder dialog
    bool exiting = false;       // the exit timer runs: the window goes once the connection is closed
    quorbel::CompanionSettings companion;
    TransferFeed transferFeed;  // the peer's last listing and the ended operations, for a batch
    // The notes a receive thread shows without waiting, one of each kind at
    // a time; made before the connection, whose thread may show one until it ends.
    DetachedBox refusalNote, badFrameNote;
    Connection connection{*this, *this};

    quorbel::Protocol& protocol() { return connection.protocol(); }

    // The status bar's six parts and colour from the current state.
    void RefreshStatusBar();
    // "Server:OPEN" / "OPEN<a,b,c,d>:name", or the CLOSE forms.
    void ShowConnectionHeader(bool open);
    // Closes the connection first when one is open, after the questions.
    void RequestExit();
    // Arms the close: a Server's peer gets "CUT" and time to take it, any
    // other connection closes almost at once. The milliseconds until then.
    UINT CloseSoon();
    void SaveSettings();
    // One key of the settings (kSecurePeersKey, kPairSaltKey), written at once.
    void SaveSetting(const char16_t* key);
    // The stored pair was set (the first start's registration, "S"): it gets
    // a new salt, and one that `changed` is no longer the proposed pair.
    void PairSet(bool changed);
    // Starts the connection as the settings say.
    StartResult Connect();

    // ConnectionListener (events.cpp).
    void PeerHeader(const std::wstring& text) override;
    void CloseAfter(UINT milliseconds) override;
    void ShowProgress(ClientSetup step) override;
    void NetworkFailed(NetFailure failure, int error) override;
    void BadFrame() override;
    void LoginFailed(quorbel::LoginResult result) override;
    bool RetryLookup(int error) override;
    bool RetryConnect(int error) override;
    bool LoginInTheClear(const std::wstring& peer) override;
    void SecurePeersChanged(const std::string& list) override;

    // quorbel::UserSeat (events.cpp).
    void SendFailed(const quorbel::SendFailure& failure) override;
    void PeerRefused(const quorbel::RefusalNote& note) override;
    void SourceTooLarge(uint64_t limit) override;
    void StateChanged() override;
    void ClearRemoteRows() override;
    void AddRemoteRow(const quorbel::PaneRow& row, int32_t recordNumber) override;
    void OperationEnded(const quorbel::OperationReport& report) override { transferFeed.Ended(report); }

private:
    // The connection header's text, with the fast mode's mark while it runs.
    void SetConnectionHeader(const std::wstring& text);
    std::mutex headerLock_;
    std::wstring header_;
    std::wstring headerNote_;  // a Server's note on its stored pair, set with ShowConnectionHeader
    bool headerFast_ = false;
    bool headerSecure_ = false;
};

// Registers "Main Window" and creates the centred 1060 x 720 main window for
// `app`; null when either fails (a refused consent destroys the window too).
HWND CreateMainWindow(App& app);
// True when the command line selects command mode (exactly "/CMD").
bool IsCommandModeArgument(const wchar_t* commandLine);

// Menu commands, pane notifications and menu enabling (commands.cpp).
void OnMainCommand(App& app, int id);
LRESULT OnMainNotify(App& app, WPARAM wParam, LPARAM lParam);
void OnInitMenuPopup(App& app, HMENU popup);

// Quorbel.ini of the start-up folder, the ID and PW protected for this user.
void LoadSettings(App& app);
