// The program's dialogs. Each takes what it shows and edits as values or
// references, kept in the dialog's own window while it runs, and hands its
// decisions back through them.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/protocol/protocol.h"
#include "core/settings/settings.h"
#include "win/base/client_setup.h"

// How a modal dialog was left.
enum class DialogAnswer : INT_PTR {
    Failed = -1,  // it could not be shown
    Ok,
    Cancel,
    Closed,  // the close box
};

// ---- ID/PW dialog ----------------------------------------------------------
enum class IdPwMode { FirstRegistration = 0, Login = 1, Registration = 2 };
struct IdPwPair {
    quorbel::u16& id;
    quorbel::u16& pw;
};
// OK stores the edits (at most 125 characters each) into `login` in login
// mode, into `stored` otherwise; the close box leaves without them. A click
// in the top right corner shows the stored pair in every mode.
DialogAnswer RunIdPwDialog(HWND owner, IdPwMode mode, IdPwPair stored, IdPwPair login);

// ---- Copy dialog ------------------------------------------------------------
struct CopyRequest {
    quorbel::Protocol& protocol;
    bool toPeer;                    // left pane to the peer, or right pane from it
    std::wstring sourceFolder;      // the folder of the row: local to the peer, remote from it
    std::wstring destinationFolder;
    std::wstring name;              // the row's name
    uint64_t bytes = 0;             // the file's size as far as it is known (progress)
    bool cancelled = false;         // out: the user closed it
    bool requestFailed = false;     // out: the request could not be sent; the batch ends
    bool notDone = false;           // out: the copy started and did not end done (nor stopped)
};
void RunCopyDialog(HWND owner, CopyRequest& request);

// ---- Transfer dialog: a batch of copies --------------------------------------
// The peer's rows and the ended operations as the connection reports them
// (on the receive thread); the rows of the last listing stay for the next
// batch to read. While a dialog is attached, each ended operation posts
// kTransferStepMessage to it.
constexpr UINT kTransferStepMessage = WM_APP + 20;
class TransferFeed {
public:
    void Attach(HWND dialog);
    void Detach();
    void ClearRows();
    void AddRow(const quorbel::PaneRow& row);
    void Ended(const quorbel::OperationReport& report);
    std::vector<quorbel::PaneRow> Rows();
    bool TakeEnded(quorbel::OperationReport& report);

private:
    std::mutex lock_;
    HWND dialog_ = nullptr;
    std::vector<quorbel::PaneRow> rows_;
    std::deque<quorbel::OperationReport> ended_;
};

struct TransferRequest {
    quorbel::Protocol& protocol;
    TransferFeed& feed;
    bool toPeer;
    std::wstring sourceFolder, destinationFolder;
    std::vector<quorbel::PaneRow> rows = {};             // the selected rows, files and folders
    std::vector<quorbel::PaneRow> destinationRows = {};  // the destination folder's rows
    std::wstring remoteFolder = {};                      // listed again at the end
};
// Modal: the main window waits until the user closes the summary.
void RunTransferDialog(HWND owner, TransferRequest& request);

// ---- Folder-creation dialog ---------------------------------------------------
struct FolderRequest {
    std::wstring name;               // in: the proposal; out: the accepted name, or empty
    std::wstring pasteName;          // offered by "ペースト"
    std::size_t localFolderLength;   // bounds the name, whichever side the folder is for
};
void RunFolderDialog(HWND owner, FolderRequest& request);

// ---- Connection settings --------------------------------------------------------
struct ConnectionDialogValues {
    quorbel::Settings& settings;     // mode, address, port, PC names; the stored pair via "S"
    IdPwPair login;                  // what "L" asks for
    std::wstring& peerHostName;      // forgotten on OK
    std::function<void(HWND)> openIpTool;
};
// OK takes the settings; cancel and the close box leave them.
DialogAnswer RunConnectionSettingsDialog(HWND owner, ConnectionDialogValues& values);

// ---- Small dialogs and windows -----------------------------------------------------
// Monitor recording, the Server's login check and secure sessions only: OK
// sets each to 1 or 0, cancel keeps them.
struct EnvironmentValues {
    int32_t& monitorRecording;
    int32_t& loginRequired;
    int32_t& requireSecure;
};
void RunEnvironmentDialog(HWND owner, EnvironmentValues& values);
HWND ShowAboutBox(HWND owner);
enum class MonitorKind { Received, Sent, DirectoryTable };
HWND OpenMonitorWindow(HWND owner, MonitorKind kind, const quorbel::Protocol& protocol);
// The note while the Client looks up the Server's PC name or connects; one
// at a time, Done closes it.
void ShowProgressNotice(HWND owner, ClientSetup step);
