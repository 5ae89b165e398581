#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <new>

#include "app/msgbox.h"
#include "app/settings.h"
#include "app/shell.h"
#include "app/wintext.h"
#include "dialogs/dialogs.h"
#include "net/net.h"
#include "panes/panes.h"
#include "res/resource.h"

ShellState g_shell;
Settings g_settings;

namespace {

const wchar_t kClassName[] = L"Main Window";
constexpr int kWindowWidth = 1060;
constexpr int kWindowHeight = 720;

constexpr COLORREF kClientOnline = RGB(0, 250, 0);
constexpr COLORREF kServerWithPeer = RGB(146, 208, 80);
constexpr COLORREF kServerListening = RGB(93, 209, 255);
constexpr COLORREF kOffline = RGB(255, 255, 255);

const wchar_t kConsentText[] =
    L"本プログラムの使用は、使用者自身の責任の下に行ってください。\r\n"
    L"作者は何の保証もしませんし、本プログラムを使用したことによって生じた損害を補償する義務も負いません。\r\n"
    L"このソフトウェアを使用して個人または団体が直接あるいは、間接的な損害を受けたとしても作者は一切の責任を負いません。\r\n"
    L"これを踏まえてご利用しますか？";

HWND CreateHeader(HWND parent, int id, int y) {
    return CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP, 0, y, 20, 20, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), g_shell.instance, nullptr);
}

HWND CreatePane(HWND parent, int id) {
    HWND pane = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 0, 0,
                                parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), g_shell.instance, nullptr);
    DWORD styles = static_cast<DWORD>(SendMessageW(pane, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    SendMessageW(pane, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, styles | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    SendMessageW(pane, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(g_shell.paneImages));
    static const struct { const wchar_t* title; int width; } kColumns[] = {
        {L"ファイル名", 280}, {L"更新日", 120}, {L"サイズ", 80}};
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = kColumns[i].width;
        column.pszText = const_cast<wchar_t*>(kColumns[i].title);
        column.iSubItem = i;
        SendMessageW(pane, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    return pane;
}

void OnCreate(HWND window) {
    g_shell.mainWindow = window;
    GetCurrentDirectoryW(kPathChars, g_shell.startupFolder);
    LoadSettings();
    if (g_settings.consent == 0) {
        if (ShowMessageBox(window, kConsentText, L"同意確認", MB_YESNO | MB_ICONQUESTION) == IDYES) {
            g_settings.consent = 1;
            RunIdPwDialog(window, kIdPwFirstRegistration);
            SaveSettings();
        } else {
            ShowMessageBox(window, L"同意がないので終了します", L"非同意確認", MB_OK | MB_ICONQUESTION);
            DestroyWindow(window);
            return;
        }
    }
    CreateMainChildren(window);
    ListLocalFolder(window);
    if (g_shell.commandMode) SetTimer(window, kAutoConnectTimer, 200, nullptr);
}

void OnTimer(HWND window, UINT_PTR id) {
    switch (id) {
        case kCloseTimer:
            CloseConnection(window);
            ShowConnectionHeader(0);
            RefreshStatusBar();
            KillTimer(window, kCloseTimer);
            break;
        case kExitTimer:
            if (g_shell.connectionOpen == 0) {
                KillTimer(window, kExitTimer);
                DestroyWindow(window);
            } else {
                SetTimer(window, kExitTimer, 500, nullptr);
            }
            break;
        case kAutoConnectTimer:
            KillTimer(window, kAutoConnectTimer);
            if (g_shell.serverMode) {
                StartServer(window);
            } else if (StartClient(window) == kClientRetry) {
                SetTimer(window, kAutoConnectTimer, 2000, nullptr);
            }
            ShowConnectionHeader(1);
            RefreshStatusBar();
            break;
        default:
            break;
    }
}

void OnDestroy(HWND window) {
    KillTimer(window, kCloseTimer);
    KillTimer(window, kExitTimer);
    KillTimer(window, kAutoConnectTimer);
    SaveSettings();
    if (g_shell.connectionOpen == 1) CloseConnection(window);
    if (g_shell.paneImages) {
        ImageList_Destroy(g_shell.paneImages);
        g_shell.paneImages = nullptr;
    }
    g_shell.mainWindow = nullptr;
    PostQuitMessage(0);
}

}  // namespace

void ResetShellState() {
    g_shell.~ShellState();
    new (&g_shell) ShellState{};
    g_settings = Settings{};
    g_shell.sortFlags[0][0] = g_shell.sortFlags[1][0] = 1;
    CopyText(g_shell.localHostAddress, L"不明");
    CopyText(g_shell.localHostName, L"不明");
}

bool IsCommandModeArgument(const wchar_t* commandLine) {
    return commandLine != nullptr && commandLine[0] != L'\0' && wcscmp(commandLine, L"/CMD") == 0;
}

bool RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_BYTEALIGNCLIENT;
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM));
    wc.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszMenuName = MAKEINTRESOURCEW(IDR_MAINMENU);
    wc.lpszClassName = kClassName;
    if (RegisterClassExW(&wc)) return true;
    // A second registration in the same process (tests) finds the class there.
    return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CreateMainWindow(HINSTANCE instance) {
    HDC screen = GetDC(nullptr);
    int width = GetDeviceCaps(screen, HORZRES);
    int height = GetDeviceCaps(screen, VERTRES);
    ReleaseDC(nullptr, screen);
    // The vertical formula uses 750, not the window height.
    int x = (width - kWindowWidth) / 2;
    int y = (height - 750) / 2;
    return CreateWindowExW(0, kClassName, L"Quorbel", WS_OVERLAPPEDWINDOW, x, y, kWindowWidth, kWindowHeight,
                           nullptr, nullptr, instance, nullptr);
}

int RunQuorbel(HINSTANCE instance, const wchar_t* commandLine, int showCommand) {
    ResetShellState();
    g_shell.instance = instance;
    g_shell.commandMode = IsCommandModeArgument(commandLine) ? 1 : 0;
    if (!RegisterMainWindowClass(instance)) return 0;
    HWND window = CreateMainWindow(instance);
    // No window (refused consent included): nothing to wait for in the loop.
    if (!window || !IsWindow(window)) return 0;
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    MSG msg;
    for (;;) {
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (!GetMessageW(&msg, nullptr, 0, 0)) return static_cast<int>(msg.wParam);
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        } else {
            WaitMessage();
        }
    }
}

void CreateMainChildren(HWND window) {
    InitCommonControls();
    g_shell.paneImages = ImageList_Create(12, 12, ILC_MASK | ILC_COLOR32, 10, 0);
    for (int id = IDI_PANE_FIRST; id <= IDI_PANE_LAST; ++id) {
        HICON icon = LoadIconW(g_shell.instance, MAKEINTRESOURCEW(id));
        ImageList_ReplaceIcon(g_shell.paneImages, -1, icon);
        DestroyIcon(icon);
    }
    g_shell.leftPane = CreatePane(window, IDC_LEFT_PANE);
    g_shell.rightPane = CreatePane(window, IDC_RIGHT_PANE);
    g_shell.hostHeader = CreateHeader(window, IDC_HOST_HEADER, 0);
    g_shell.connectionHeader = CreateHeader(window, IDC_CONN_HEADER, 0);
    g_shell.localHeader = CreateHeader(window, IDC_LOCAL_HEADER, 20);
    g_shell.remoteHeader = CreateHeader(window, IDC_REMOTE_HEADER, 20);

    ReadHostInfo();
    wchar_t host[kHostChars] = {};
    _snwprintf(host, kHostChars - 1, L"<%ls>:%ls", g_shell.localHostAddress, g_shell.localHostName);
    SetHeaderText(g_shell.hostHeader, host);
    ShowConnectionHeader(0);
    SetHeaderText(g_shell.localHeader, g_shell.localPath);
    SetHeaderText(g_shell.remoteHeader, g_shell.remotePath);

    g_shell.statusBar = CreateStatusWindowW(WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP | CCS_BOTTOM, L"", window,
                                            IDC_STATUSBAR);
}

void SetHeaderText(HWND header, const wchar_t* text) {
    if (header) SetWindowTextW(header, text);
}

void LayoutMainChildren(int width, int height) {
    int w = width / 2;
    int h = height - 70;
    MoveWindow(g_shell.leftPane, 0, 40, w, h, TRUE);
    MoveWindow(g_shell.rightPane, w, 40, w, h, TRUE);
    MoveWindow(g_shell.hostHeader, 0, 0, w - 1, 20, TRUE);
    // The right-hand headers get the whole client width and end at the edge.
    MoveWindow(g_shell.connectionHeader, w + 1, 0, width, 20, TRUE);
    MoveWindow(g_shell.localHeader, 0, 20, w - 1, 20, TRUE);
    MoveWindow(g_shell.remoteHeader, w + 1, 20, width, 20, TRUE);
}

ConnectionStatus CurrentConnectionStatus() {
    ConnectionStatus status = {};
    if (g_shell.serverMode == 0) {
        if (g_shell.connectionOpen == 1) {
            _snwprintf(status.text, 127, L"Connecting:%lld", static_cast<long long>(g_shell.clientSocketNumber.load()));
            status.colour = kClientOnline;
        } else {
            wcscpy(status.text, L"Disconnect");
            status.colour = kOffline;
        }
    } else if (g_shell.connectionOpen == 1 && g_shell.peerPresent == 1) {
        _snwprintf(status.text, 127, L"Connecting:%d", g_shell.activeSlotNumber.load());
        status.colour = kServerWithPeer;
    } else if (g_shell.connectionOpen == 1) {
        wcscpy(status.text, L"Openting");
        status.colour = kServerListening;
    } else {
        wcscpy(status.text, L"Disconnect");
        status.colour = kOffline;
    }
    return status;
}

void RefreshStatusBar() {
    HWND bar = g_shell.statusBar;
    if (!bar) return;
    int edges[6] = {90, 140, 250, 370, 850, -1};
    SendMessageW(bar, SB_SETPARTS, 6, reinterpret_cast<LPARAM>(edges));
    SendMessageW(bar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(L"Quorbel"));
    SendMessageW(bar, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(g_shell.serverMode ? L"Server" : L"Client"));
    ConnectionStatus status = CurrentConnectionStatus();
    SendMessageW(bar, SB_SETBKCOLOR, 0, static_cast<LPARAM>(status.colour));
    SendMessageW(bar, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(status.text));
    SendMessageW(bar, SB_SETTEXTW, 3, reinterpret_cast<LPARAM>(OperationStateText(CurrentOperationState())));
    SendMessageW(bar, SB_SETTEXTW, 4, reinterpret_cast<LPARAM>(L" "));
    SendMessageW(bar, SB_SETTEXTW, 5, reinterpret_cast<LPARAM>(L"by Wendlehart"));
}

void ShowConnectionHeader(int open) {
    wchar_t text[kPathChars] = {};
    if (g_shell.serverMode) {
        wcscpy(text, open ? L"Server:OPEN" : L"Server:CLOSE");
    } else {
        const int32_t* a = g_settings.targetAddress;
        _snwprintf(text, kPathChars - 1, L"%ls<%d,%d,%d,%d>:%ls", open ? L"OPEN" : L"CLOSE", a[0], a[1], a[2], a[3],
                   g_shell.peerHostName);
    }
    SetHeaderText(g_shell.connectionHeader, text);
}

void RequestExit(HWND window) {
    if (g_shell.connectionOpen == 0) {
        DestroyWindow(window);
        return;
    }
    const bool serverWithPeer = g_shell.serverMode == 1 && g_shell.peerPresent == 1;
    if (serverWithPeer &&
        ShowMessageBox(window, L"接続相手が存在します\r\n強制切断しますか", L"切断", MB_YESNO) == IDNO)
        return;
    if ((CurrentOperationState() != 0 || g_shell.setupInProgress == 0) &&
        ShowMessageBox(window, L"アクセス中です\r\n強制切断しますか", L"切断", MB_YESNO) == IDNO)
        return;
    if (serverWithPeer) {
        SendFrameBytes("CUT", 3);
        SetTimer(window, kCloseTimer, 1000, nullptr);
        SetTimer(window, kExitTimer, 2000, nullptr);
    } else {
        SetTimer(window, kCloseTimer, 100, nullptr);
        SetTimer(window, kExitTimer, 1100, nullptr);
    }
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            OnCreate(window);
            return 0;
        case WM_SIZE:
            LayoutMainChildren(LOWORD(lParam), HIWORD(lParam));
            if (g_shell.statusBar) SendMessageW(g_shell.statusBar, WM_SIZE, wParam, lParam);
            InvalidateRect(window, nullptr, FALSE);
            UpdateWindow(window);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            BeginPaint(window, &ps);
            RefreshStatusBar();
            EndPaint(window, &ps);
            return 0;
        }
        case WM_TIMER:
            OnTimer(window, wParam);
            return 0;
        case WM_CLOSE:
            RequestExit(window);
            return 0;
        case WM_DESTROY:
            OnDestroy(window);
            return 0;
        case WM_COMMAND:
            OnMainCommand(window, LOWORD(wParam));
            return 0;
        case WM_NOTIFY:
            return OnMainNotify(window, wParam, lParam);
        case WM_INITMENUPOPUP:
            OnInitMenuPopup(reinterpret_cast<HMENU>(wParam));
            return 0;
        case WM_ACTIVATE:
        case WM_QUERYNEWPALETTE:
            // Activation leaves the keyboard focus where it is.
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}
