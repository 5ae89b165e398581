// What the connection and the protocol report to the App: the status bar,
// the headers and the right pane, and the catalogue's box for each failure
// and question.
#include <windows.h>
#include <commctrl.h>

#include "win/app/app.h"
#include "core/base/socket_errors.h"
#include "win/base/msgbox.h"
#include "win/base/wintext.h"

namespace {

namespace texts = quorbel::texts;

const quorbel::BoxText& FailureBox(NetFailure failure) {
    switch (failure) {
        case NetFailure::Startup: return texts::kStartupFailed;
        case NetFailure::Socket: return texts::kSocketFailed;
        case NetFailure::Bind: return texts::kBindFailed;
        case NetFailure::Listen: return texts::kListenFailed;
        case NetFailure::Thread: return texts::kThreadFailed;
        case NetFailure::Select: return texts::kSelectFailed;
        case NetFailure::CloseSocket: return texts::kCloseSocketFailed;
        case NetFailure::Cleanup: return texts::kCleanupFailed;
    }
    return texts::kSocketFailed;
}

// The box of a login that failed; null where the user needs none.
const quorbel::BoxText* LoginFailureBox(quorbel::LoginResult result) {
    switch (result) {
        case quorbel::LoginResult::Rejected: return &texts::kLoginRejected;
        case quorbel::LoginResult::NotAPeer: return &texts::kLoginNotAPeer;
        // Closed before any answer: a peer busy with another Client does so.
        case quorbel::LoginResult::PeerClosed: return &texts::kLoginPeerClosed;
        case quorbel::LoginResult::NoAnswer:
        case quorbel::LoginResult::SendFailed: return &texts::kLoginCommunication;
        case quorbel::LoginResult::SecureRequired: return &texts::kLoginSecureRequired;
        // The user said no to the question just now.
        case quorbel::LoginResult::Declined:
        case quorbel::LoginResult::Accepted:
        case quorbel::LoginResult::Skipped: break;
    }
    return nullptr;
}

}  // namespace

// ---- The connection ----

void App::PeerHeader(const std::wstring& text) { SetConnectionHeader(text); }

void App::CloseAfter(UINT milliseconds) {
    // A timer belongs to its window's thread: the window arms it itself.
    if (window) PostMessageW(window, kCloseAfterMessage, milliseconds, 0);
}

void App::ShowProgress(ClientSetup step) { ShowProgressNotice(window, step); }

void App::NetworkFailed(NetFailure failure, int error) {
    // select fails on the receive thread, where no window is owned.
    if (failure == NetFailure::Select) ShowBox(nullptr, texts::kSelectFailed, MB_OK);
    else ShowBox(window, FailureBox(failure), MB_OK, {error});
}

void App::BadFrame() { badFrameNote.Show(AsWide(texts::kBadFrame.text), AsWide(texts::kBadFrame.caption)); }

void App::LoginFailed(quorbel::LoginResult result) {
    if (const quorbel::BoxText* box = LoginFailureBox(result)) ShowBox(window, *box, MB_OK);
}

bool App::RetryLookup(int error) { return ShowBox(window, texts::kPcNameNotFound, MB_YESNO, {error}) == IDYES; }

bool App::RetryConnect(int error) {
    return ShowBox(window, texts::kConnectFailed, MB_YESNO, {error, quorbel::SocketErrorText(error)}) == IDYES;
}

bool App::LoginInTheClear(const std::wstring& peer) {
    // Enter keeps the pair: "いいえ" is the default.
    return ShowBox(window, texts::kLoginNoLongerSecure, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2,
                   {AsU16View(peer)}) == IDYES;
}

void App::SecurePeersChanged(const std::string& list) {
    // At once, not with the window's close: a crash or a power cut must not
    // forget a Server that would then get the pair in the clear unasked.
    settings.securePeers = FromUtf8(list);
    SaveSetting(quorbel::kSecurePeersKey);
}

// ---- The protocol ----

void App::SendFailed(const quorbel::SendFailure& failure) {
    ShowMessageBox(nullptr, ToWide(quorbel::SendFailureText(failure)).c_str(), AsWide(texts::kSendFailed.caption),
                   MB_OK);
}

void App::PeerRefused(const quorbel::RefusalNote& note) {
    // The receive thread's answers while the connection closes were never sent.
    if (connection.ReceiveThreadIsClosing()) return;
    refusalNote.Show(ToWide(quorbel::RefusalNoteText(note)), AsWide(texts::kSentNak.caption));
}

void App::SourceTooLarge(uint64_t limit) {
    ShowMessageBox(nullptr, ToWide(quorbel::SourceTooLargeText(limit)).c_str(), AsWide(texts::kSendTooLarge.caption),
                   MB_OK);
}

void App::StateChanged() {
    RefreshStatusBar();
    // The fast mode starts and ends with the peer's login and departure.
    bool rewrite;
    std::wstring text;
    {
        std::lock_guard<std::mutex> guard(headerLock_);
        rewrite = headerFast_ != protocol().FastMode() || headerSecure_ != protocol().Secure();
        text = header_;
    }
    if (rewrite) SetConnectionHeader(text);
}

void App::ClearRemoteRows() {
    transferFeed.ClearRows();
    if (right.list) SendMessageW(right.list, LVM_DELETEALLITEMS, 0, 0);
    // The rows that follow are of the remote folder, also when the
    // connection itself chose it (C:\ of each new peer).
    if (remoteHeader) SetWindowTextW(remoteHeader, ToWide(protocol().RemoteFolderPath()).c_str());
}

void App::AddRemoteRow(const quorbel::PaneRow& row, int32_t recordNumber) {
    transferFeed.AddRow(row);
    if (right.list) InsertPaneRow(right.list, recordNumber, row, recordNumber);
}
