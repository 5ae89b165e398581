// The main window: its children, layout, status bar and headers, the
// timers, the first-start consent, the settings file and the exit sequence.
#include <windows.h>
#include <commctrl.h>

#include "win/app/app.h"
#include "win/app/credentials.h"
#include "core/base/path_rules.h"
#include "win/dialogs/dialogs.h"
#include "win/res/resource.h"
#include "win/base/msgbox.h"
#include "win/base/win_files.h"
#include "win/base/wintext.h"

namespace {

namespace texts = quorbel::texts;

const wchar_t kClassName[] = L"Main Window";
const wchar_t kProgramName[] = L"Quorbel";
constexpr int kWindowWidth = 1060;
constexpr int kWindowHeight = 720;
constexpr int kHeaderHeight = 20;
// 40 pixels of headers above the panes, 30 for the status bar below them.
constexpr int kChromeHeight = 70;
constexpr int kStatusEdges[6] = {90, 140, 250, 370, 850, -1};
const wchar_t kFastMark[] = L" [高速]";

constexpr COLORREF kClientOnline = RGB(0, 250, 0);
constexpr COLORREF kServerWithPeer = RGB(146, 208, 80);
constexpr COLORREF kServerListening = RGB(93, 209, 255);
constexpr COLORREF kOffline = RGB(255, 255, 255);

// The close after "CUT" waits for the peer to take it; the exit waits a
// second more for the close.
constexpr UINT kCloseAfterCutMs = 1000;
constexpr UINT kExitAfterCloseMs = 1000;

// A Server's note on its stored pair: none to log in with, or still the date's.
const wchar_t* PairNote(const quorbel::Settings& s) {
    if (!s.IsServer()) return L"";
    if (s.storedId.empty() || s.storedPw.empty()) return AsWide(texts::kHeaderNoPair);
    return s.pairProposed != 0 ? AsWide(texts::kHeaderProposedPair) : L"";
}

App* AppOf(HWND window) { return reinterpret_cast<App*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

HWND CreateHeader(HWND parent, int id, int y) {
    return CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP, 0, y, 20, kHeaderHeight,
                           parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ProgramInstance(), nullptr);
}

std::optional<std::wstring> SettingsFile(const App& app) {
    const auto path = quorbel::JoinPath(AsU16View(app.startupFolder), quorbel::kSettingsFileName);
    return path ? std::optional<std::wstring>(ToWide(*path)) : std::nullopt;
}

void CreateMainChildren(App& app) {
    HWND window = app.window;
    InitCommonControls();
    app.paneImages = ImageList_Create(12, 12, ILC_MASK | ILC_COLOR32, IDI_PANE_LAST - IDI_PANE_FIRST + 1, 0);
    for (int id = IDI_PANE_FIRST; id <= IDI_PANE_LAST; ++id) {
        HICON icon = LoadIconW(ProgramInstance(), MAKEINTRESOURCEW(id));
        ImageList_ReplaceIcon(app.paneImages, -1, icon);
        DestroyIcon(icon);
    }
    app.left.list = CreatePaneList(window, IDC_LEFT_PANE, app.paneImages);
    app.right.list = CreatePaneList(window, IDC_RIGHT_PANE, app.paneImages);
    app.hostHeader = CreateHeader(window, IDC_HOST_HEADER, 0);
    app.connectionHeader = CreateHeader(window, IDC_CONN_HEADER, 0);
    app.localHeader = CreateHeader(window, IDC_LOCAL_HEADER, kHeaderHeight);
    app.remoteHeader = CreateHeader(window, IDC_REMOTE_HEADER, kHeaderHeight);

    ReadHostInfo(app.localHostAddress, app.localHostName);
    const std::wstring host = L"<" + app.localHostAddress + L">:" + app.localHostName;
    SetWindowTextW(app.hostHeader, host.substr(0, kMaxHostText).c_str());
    app.ShowConnectionHeader(false);
    SetWindowTextW(app.localHeader, ToWide(app.settings.localFolder).c_str());
    SetWindowTextW(app.remoteHeader, ToWide(app.protocol().RemoteFolderPath()).c_str());
    app.statusBar =
        CreateStatusWindowW(WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP | CCS_BOTTOM, L"", window, IDC_STATUSBAR);
}

void OnCreate(App& app) {
    LoadSettings(app);
    if (app.settings.consent == 0) {
        if (ShowBox(app.window, texts::kConsent, MB_YESNO | MB_ICONQUESTION) != IDYES) {
            ShowBox(app.window, texts::kNoConsent, MB_OK | MB_ICONQUESTION);
            DestroyWindow(app.window);
            return;
        }
        app.settings.consent = 1;
        const quorbel::u16 proposedId = app.settings.storedId, proposedPw = app.settings.storedPw;
        RunIdPwDialog(app.window, IdPwMode::FirstRegistration, {app.settings.storedId, app.settings.storedPw},
                      {app.loginId, app.loginPw});
        app.PairSet(app.settings.storedId != proposedId || app.settings.storedPw != proposedPw);
        app.SaveSettings();
        // The date's pair is easily guessed: the user hears so before any Client can try it.
        if (app.settings.pairProposed != 0) ShowBox(app.window, texts::kProposedPair, MB_OK | MB_ICONWARNING);
    }
    CreateMainChildren(app);
    ListLocalFolder(app.left, app.localHeader, app.settings.localFolder);
    if (app.commandMode) SetTimer(app.window, kAutoConnectTimer, 200, nullptr);
}

void LayoutChildren(App& app, int width, int height) {
    const int w = width / 2, h = height - kChromeHeight;
    MoveWindow(app.left.list, 0, 2 * kHeaderHeight, w, h, TRUE);
    MoveWindow(app.right.list, w, 2 * kHeaderHeight, w, h, TRUE);
    MoveWindow(app.hostHeader, 0, 0, w - 1, kHeaderHeight, TRUE);
    // The right-hand headers get the whole client width and end at the edge.
    MoveWindow(app.connectionHeader, w + 1, 0, width, kHeaderHeight, TRUE);
    MoveWindow(app.localHeader, 0, kHeaderHeight, w - 1, kHeaderHeight, TRUE);
    MoveWindow(app.remoteHeader, w + 1, kHeaderHeight, width, kHeaderHeight, TRUE);
}

void OnTimer(App& app, UINT_PTR id) {
    switch (id) {
        case kCloseTimer:
            app.connection.Close();
            app.ShowConnectionHeader(false);
            app.RefreshStatusBar();
            KillTimer(app.window, kCloseTimer);
            // Closed on the way out: nothing is left for the exit timer to
            // wait for, so the window goes now, still after the close.
            if (app.exiting && !app.connection.IsOpen()) DestroyWindow(app.window);
            break;
        case kExitTimer:
            if (!app.connection.IsOpen()) {
                KillTimer(app.window, kExitTimer);
                DestroyWindow(app.window);
            } else {
                SetTimer(app.window, kExitTimer, 500, nullptr);
            }
            break;
        case kAutoConnectTimer:
            KillTimer(app.window, kAutoConnectTimer);
            if (app.Connect() == StartResult::Retry) SetTimer(app.window, kAutoConnectTimer, 2000, nullptr);
            app.ShowConnectionHeader(true);
            app.RefreshStatusBar();
            break;
        default:
            break;
    }
}

void OnDestroy(App& app) {
    for (UINT_PTR timer : {kCloseTimer, kExitTimer, kAutoConnectTimer}) KillTimer(app.window, timer);
    app.SaveSettings();
    if (app.connection.IsOpen()) app.connection.Close();
    // The panes share the image list without owning it: it goes once, here.
    if (app.paneImages) ImageList_Destroy(app.paneImages);
    app.paneImages = nullptr;
    PostQuitMessage(0);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        App* app = static_cast<App*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        app->window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(app));
    }
    App* app = AppOf(window);
    if (!app) return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
        case WM_CREATE:
            OnCreate(*app);
            return 0;
        case WM_SIZE:
            LayoutChildren(*app, LOWORD(lParam), HIWORD(lParam));
            if (app->statusBar) SendMessageW(app->statusBar, WM_SIZE, wParam, lParam);
            InvalidateRect(window, nullptr, FALSE);
            UpdateWindow(window);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            BeginPaint(window, &ps);
            app->RefreshStatusBar();
            EndPaint(window, &ps);
            return 0;
        }
        case WM_TIMER:
            OnTimer(*app, wParam);
            return 0;
        case kCloseAfterMessage:
            SetTimer(window, kCloseTimer, static_cast<UINT>(wParam), nullptr);
            return 0;
        case WM_CLOSE:
            app->RequestExit();
            return 0;
        case WM_DESTROY:
            OnDestroy(*app);
            return 0;
        case WM_NCDESTROY:
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            app->window = nullptr;
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_COMMAND:
            OnMainCommand(*app, LOWORD(wParam));
            return 0;
        case WM_NOTIFY:
            return OnMainNotify(*app, wParam, lParam);
        case WM_INITMENUPOPUP:
            OnInitMenuPopup(*app, reinterpret_cast<HMENU>(wParam));
            return 0;
        case WM_ACTIVATE:
        case WM_QUERYNEWPALETTE:
            // Activation leaves the keyboard focus where it is.
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

App::App(std::wstring folder, bool command) : startupFolder(std::move(folder)), commandMode(command) {}

void LoadSettings(App& app) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    const auto file = SettingsFile(app);
    if (file) {
        WinIniSection ini(*file, AsWide(quorbel::kSettingsSection));
        DpapiVault vault;
        quorbel::LoadSettings(ini, vault, {now.wYear, now.wMonth, now.wDay}, app.settings);
    }
    // A file of an earlier release, or one edited by hand: the pair gets
    // its salt now, kept at once, so that the Server offers the newest
    // exchange from its first start on.
    if (quorbel::PairSaltBytes(app.settings.pairSalt).empty()) {
        app.settings.pairSalt = NewPairSalt();
        if (!app.settings.pairSalt.empty()) app.SaveSetting(quorbel::kPairSaltKey);
    }
}

void App::SaveSettings() {
    // The file keeps where the right pane was; the protocol owns that path.
    settings.remoteFolder = protocol().RemoteFolderPath();
    const auto file = SettingsFile(*this);
    if (!file) return;  // a start-up folder too long for the file
    WinIniSection ini(*file, AsWide(quorbel::kSettingsSection));
    DpapiVault vault;
    quorbel::SaveSettings(ini, vault, settings);
}

void App::SaveSetting(const char16_t* key) {
    const auto file = SettingsFile(*this);
    if (!file) return;
    WinIniSection ini(*file, AsWide(quorbel::kSettingsSection));
    DpapiVault vault;
    quorbel::SaveSettingsKey(ini, vault, settings, key);
}

void App::PairSet(bool changed) {
    if (changed) settings.pairProposed = 0;
    settings.pairSalt = NewPairSalt();
}

StartResult App::Connect() {
    ConnectionValues values;
    values.server = settings.IsServer();
    values.port = settings.port;
    values.address = settings.targetAddress;
    values.usePcName = settings.usePcName != 0;
    for (size_t i = 0; i < values.pcNames.size(); ++i) values.pcNames[i] = ToWide(settings.pcNames[i]);
    values.commandMode = commandMode;
    values.id = ToWide(values.server ? settings.storedId : loginId);
    values.pw = ToWide(values.server ? settings.storedPw : loginPw);
    values.fastMode = settings.fastMode != 0;
    values.loginRequired = settings.loginRequired != 0;
    values.requireSecure = settings.requireSecure != 0;
    values.serverSalt = quorbel::PairSaltBytes(settings.pairSalt);
    values.monitorRecording = settings.monitorRecording;
    values.peerHostName = peerHostName;
    values.securePeers = ToUtf8(settings.securePeers);
    if (values.server) return connection.StartServer(values);
    const StartResult result = connection.StartClient(values);
    // A resolved PC name becomes the target address.
    settings.targetAddress = values.address;
    peerHostName = values.peerHostName;
    return result;
}

void App::RefreshStatusBar() {
    if (!statusBar) return;
    SendMessageW(statusBar, SB_SETPARTS, 6, reinterpret_cast<LPARAM>(kStatusEdges));
    SendMessageW(statusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(kProgramName));
    const bool server = settings.IsServer();
    SendMessageW(statusBar, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(server ? L"Server" : L"Client"));
    std::wstring state = L"Disconnect";
    COLORREF colour = kOffline;
    if (!server && connection.IsOpen()) {
        state = L"Connecting:" + Decimal(connection.ClientSocketNumber());
        colour = kClientOnline;
    } else if (server && connection.IsOpen() && connection.PeerPresent()) {
        state = L"Connecting:" + Decimal(connection.ActiveSlotNumber());
        colour = kServerWithPeer;
    } else if (server && connection.IsOpen()) {
        state = L"Openting";
        colour = kServerListening;
    }
    SendMessageW(statusBar, SB_SETBKCOLOR, 0, static_cast<LPARAM>(colour));
    SendMessageW(statusBar, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(state.c_str()));
    SendMessageW(statusBar, SB_SETTEXTW, 3,
                 reinterpret_cast<LPARAM>(AsWide(quorbel::OperationStateName(protocol().OperationState()))));
    SendMessageW(statusBar, SB_SETTEXTW, 4, reinterpret_cast<LPARAM>(L" "));
    SendMessageW(statusBar, SB_SETTEXTW, 5, reinterpret_cast<LPARAM>(L"by Wendlehart"));
}

void App::SetConnectionHeader(const std::wstring& text) {
    const bool fast = protocol().FastMode();
    const bool secure = protocol().Secure();
    std::wstring note;
    {
        std::lock_guard<std::mutex> guard(headerLock_);
        header_ = text;
        headerFast_ = fast;
        headerSecure_ = secure;
        note = headerNote_;
    }
    // Outside the lock: from the receive thread this waits for the window thread.
    if (connectionHeader)
        SetWindowTextW(connectionHeader, (text + (fast ? kFastMark : L"") +
                                          (secure ? AsWide(quorbel::texts::kHeaderSecure) : L"") + note)
                                             .c_str());
}

void App::ShowConnectionHeader(bool open) {
    {
        // Read here, on the window thread, which alone changes the settings:
        // the receive thread's headers take the note as it was set.
        std::lock_guard<std::mutex> guard(headerLock_);
        headerNote_ = PairNote(settings);
    }
    if (settings.IsServer()) {
        SetConnectionHeader(open ? L"Server:OPEN" : L"Server:CLOSE");
        return;
    }
    const auto& a = settings.targetAddress;
    SetConnectionHeader(std::wstring(open ? L"OPEN" : L"CLOSE") + L"<" + Decimal(a[0]) + L"," + Decimal(a[1]) + L"," +
                        Decimal(a[2]) + L"," + Decimal(a[3]) + L">:" + peerHostName);
}

void App::RequestExit() {
    if (!connection.IsOpen()) {
        DestroyWindow(window);
        return;
    }
    const bool serverWithPeer = settings.IsServer() && connection.PeerPresent();
    if (serverWithPeer && ShowBox(window, texts::kExitWithPeer, MB_YESNO) == IDNO) return;
    if ((!protocol().IsWaiting() || !connection.SettingUp()) &&
        ShowBox(window, texts::kExitWhileConnected, MB_YESNO) == IDNO)
        return;
    exiting = true;
    SetTimer(window, kExitTimer, CloseSoon() + kExitAfterCloseMs, nullptr);
}

UINT App::CloseSoon() {
    const bool cut = settings.IsServer() && connection.PeerPresent();
    if (cut) protocol().SendCut();
    const UINT delay = cut ? kCloseAfterCutMs : quorbel::kCloseDelayMs;
    SetTimer(window, kCloseTimer, delay, nullptr);
    return delay;
}

bool IsCommandModeArgument(const wchar_t* commandLine) {
    return commandLine != nullptr && wcscmp(commandLine, L"/CMD") == 0;
}

HWND CreateMainWindow(App& app) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_BYTEALIGNCLIENT;
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = ProgramInstance();
    wc.hIcon = wc.hIconSm = LoadIconW(ProgramInstance(), MAKEINTRESOURCEW(IDI_PROGRAM));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszMenuName = MAKEINTRESOURCEW(IDR_MAINMENU);
    wc.lpszClassName = kClassName;
    // A second registration in one process (the tests) finds the class there.
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
    HDC screen = GetDC(nullptr);
    const int width = GetDeviceCaps(screen, HORZRES), height = GetDeviceCaps(screen, VERTRES);
    ReleaseDC(nullptr, screen);
    // The vertical formula uses 750, not the window height.
    HWND window = CreateWindowExW(0, kClassName, kProgramName, WS_OVERLAPPEDWINDOW, (width - kWindowWidth) / 2,
                                  (height - 750) / 2, kWindowWidth, kWindowHeight, nullptr, nullptr,
                                  ProgramInstance(), &app);
    return window && IsWindow(window) ? window : nullptr;
}

int RunQuorbel(const wchar_t* commandLine, int showCommand) {
    wchar_t folder[quorbel::kMaxPath + 1] = {};
    GetCurrentDirectoryW(quorbel::kMaxPath + 1, folder);
    App app(folder, IsCommandModeArgument(commandLine));
    HWND window = CreateMainWindow(app);
    // No window (a refused consent included): nothing to wait for in the loop.
    if (!window) return 0;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    MSG msg;
    for (;;) {
        if (!PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            WaitMessage();
            continue;
        }
        if (!GetMessageW(&msg, nullptr, 0, 0)) return static_cast<int>(msg.wParam);
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}
