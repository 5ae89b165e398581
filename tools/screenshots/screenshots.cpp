// screenshots.exe: the pictures the manual shows, taken from the real windows
// of a Client and a Server of this process, each on a window thread of its
// own, connected over loopback, with folders that look like an office's.
// Usage: screenshots.exe OUTPUT_FOLDER (Windows path); it writes NAME.bmp
// there and removes what it made in C:\ (make screenshots turns them into PNGs).
#include <atomic>
#include <cstdio>
#include <thread>

#include "win/dialogs/dialogs.h"
#include "win/dialogs/monitors.h"
#include "win/iptool/iptool.h"
#include "win/support.h"

namespace {

std::wstring g_output;
int g_pictures = 0;

// What the screen shows of `window` (and whatever lies on it), as a BMP.
void Capture(HWND window, const wchar_t* name) {
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpUntil([] { return false; }, 400);  // every part painted, the frame included
    RECT r;
    GetWindowRect(window, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    BITMAPINFOHEADER info = {sizeof info, width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    const DWORD size = ((width * 3 + 3) & ~3) * height;
    BITMAPFILEHEADER file = {0x4D42, DWORD(sizeof file + sizeof info + size), 0, 0, DWORD(sizeof file + sizeof info)};
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&info), sizeof info).append(static_cast<const char*>(bits), size);
    WriteBytes(g_output + L"\\" + name + L".bmp", bytes);
    ++g_pictures;
    DeleteObject(bitmap), DeleteDC(memory), ReleaseDC(nullptr, screen);
}

// A file of `size` bytes last written at the given local time.
void MakeFile(const std::wstring& path, size_t size, WORD month, WORD day, WORD hour, WORD minute) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 2654435761u >> 24);
    WriteBytes(path, bytes);
    SYSTEMTIME local = {2026, month, 0, day, hour, minute, 0, 0};
    FILETIME localTime, utc;
    SystemTimeToFileTime(&local, &localTime), LocalFileTimeToFileTime(&localTime, &utc);
    HANDLE handle = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFileTime(handle, &utc, &utc, &utc), CloseHandle(handle);
}

const std::wstring quotes = L"C:\\営業部\\見積書\\", designs = L"C:\\共有\\設計資料\\";

void MakeOffice() {
    for (const wchar_t* folder : {L"C:\\営業部\\見積書\\旧版", L"C:\\営業部\\請求書", L"C:\\営業部\\契約書",
                                  L"C:\\共有\\設計資料\\写真", L"C:\\共有\\設計資料\\旧版", L"C:\\Quorbel\\ipaddress",
                                  L"C:\\QuorbelServer"})
        std::filesystem::create_directories(folder);
    MakeFile(quotes + L"2026年度見積一覧.xlsx", 48213, 3, 2, 9, 41);
    MakeFile(quotes + L"A社見積書.pdf", 231822, 2, 18, 16, 5);
    MakeFile(quotes + L"B社見積書.pdf", 198410, 2, 27, 11, 32);
    MakeFile(quotes + L"議事録0312.docx", 27304, 3, 12, 18, 20);
    MakeFile(quotes + L"製品カタログ.pdf", 24000000, 1, 30, 14, 2);
    MakeFile(designs + L"図面A-101.dwg", 5342011, 2, 9, 10, 15);
    MakeFile(designs + L"仕様書v2.docx", 88120, 3, 4, 15, 47);
    MakeFile(designs + L"部品表.xlsx", 61448, 3, 10, 8, 58);
    WriteBytes(L"C:\\Quorbel\\ipaddress\\イーサネット_192_168_1_20.bat",
               "netsh interface ip set address \"\x83\x43\x81\x5b\x83\x54\x83\x6c\x83\x62\x83\x67\" static "
               "192.168.1.20 255.255.255.0\r\n");
    WriteBytes(L"C:\\Quorbel\\ipaddress\\イーサネット_auto.bat",
               "netsh interface ip set address \"\x83\x43\x81\x5b\x83\x54\x83\x6c\x83\x62\x83\x67\" dhcp\r\n");
}

// Runs `command` of `app`'s menu; `act` sees each dialog it opens.
void Command(App& app, int command, const std::function<void(HWND, int)>& act) {
    DriveDialogs([&] { SendMessageW(app.window, WM_COMMAND, command, 0); }, act, 120000);
}

void Type(HWND dialog, int id, const wchar_t* text) { SetDlgItemTextW(dialog, id, text); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return std::fputs("usage: screenshots.exe OUTPUT_FOLDER\n", stderr), 2;
    g_output = argv[1];
    Boxes boxes;  // none is expected; none may stop the pictures
    MakeOffice();
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::filesystem::copy_file(std::filesystem::path(self).replace_filename(L"zelvane.exe"),
                               L"C:\\Quorbel\\zelvane.exe",
                               std::filesystem::copy_options::overwrite_existing);
    // The Client, alone first: its folders, dialogs and settings as a user sees them before connecting.
    auto client = OpenMainWindow(L"C:\\Quorbel", {{L"currentdirectory_r", L"C:\\"}, {L"ip_no1", L"192"},
                                                  {L"ip_no2", L"168"}, {L"ip_no3", L"1"}, {L"ip_no4", L"20"},
                                                  {L"sendreadmonitor_on", L"1"}, {L"pc_name_wcs[0].pn", L"SEKKEI-PC"},
                                                  {L"fast_mode", L"0"}},  // 1000-byte blocks: a copy to watch
                                 false);
    client->settings.storedId = u"tanaka", client->settings.storedPw = u"Sakura2026";
    client->ShowConnectionHeader(false);
    Capture(client->window, L"main_window");
    for (const wchar_t* folder : {L"営業部", L"見積書"}) {
        SelectRows(client->left.list, {RowOf(client->left.list, folder)});
        Notify(*client, IDC_LEFT_PANE, NM_DBLCLK);
    }
    Capture(client->window, L"main_window_listing");
    Command(*client, IDM_CONN_SETTINGS, [](HWND d, int) {
        Capture(d, L"connection_dialog_client"), Click(d, IDC_CONN_CANCEL);
    });
    Command(*client, IDM_ENVIRONMENT, [](HWND d, int) { Capture(d, L"environment_dialog"), Click(d, IDC_ENV_CANCEL); });
    Command(*client, IDM_LOCAL_MKDIR, [](HWND d, int) {
        Type(d, IDC_FOLDER_NAME, L"2026年4月分"), Capture(d, L"folder_dialog"), Click(d, IDC_FOLDER_CLOSE);
    });
    DriveDialogs([&] { RunIdPwDialog(client->window, IdPwMode::FirstRegistration, {client->settings.storedId,
                                     client->settings.storedPw}, {client->loginId, client->loginPw}); },
                 [](HWND d, int) { Capture(d, L"idpw_dialog"), Click(d, IDC_IDPW_OK); });
    IpToolValues ipTool{client->startupFolder, client->settings.companionLaunch, client->companion};
    DriveDialogs([&] { RunIpAddressDialog(client->window, ipTool); }, [](HWND d, int ordinal) {
        if (ordinal == 0) {
            CheckDlgButton(d, IDC_IP_COMPANION, BST_CHECKED), Type(d, IDC_IP_ADMIN_ID, L"Administrator");
            Type(d, IDC_IP_ADMIN_PW, L"kanri-2026"), Capture(d, L"ip_address_setting");
            return Click(d, IDC_IP_ADD), Click(d, IDC_IP_CANCEL);
        }
        HWND adapters = GetDlgItem(d, IDC_ADDIP_ADAPTERS);  // a PC's adapters, not the build machine's
        SendMessageW(adapters, LB_RESETCONTENT, 0, 0);
        for (const wchar_t* name : {L"イーサネット", L"Wi-Fi"}) SendMessageW(adapters, LB_ADDSTRING, 0, LPARAM(name));
        SendMessageW(adapters, LB_SETCURSEL, 0, 0);
        Type(d, IDC_ADDIP_ADDRESS3, L"1"), Type(d, IDC_ADDIP_ADDRESS4, L"20");
        Capture(d, L"add_ip_address"), Click(d, IDC_ADDIP_CLOSE);
    });
    HWND about = ShowAboutBox(client->window);
    Capture(about, L"about_box");
    DestroyWindow(about);

    // The companion, as the IP tool starts it.
    WritePrivateProfileStringW(L"Setting", L"id_time", L"60000", L"C:\\Quorbel\\zelvane.ini");
    WritePrivateProfileStringW(L"Setting", L"id_wcs", L"Administrator", L"C:\\Quorbel\\zelvane.ini");
    WritePrivateProfileStringW(L"Setting", L"moto_x", L"760", L"C:\\Quorbel\\zelvane.ini");
    WritePrivateProfileStringW(L"Setting", L"moto_y", L"420", L"C:\\Quorbel\\zelvane.ini");
    STARTUPINFOW start = {};
    start.cb = sizeof start;
    PROCESS_INFORMATION companion = {};
    wchar_t line[] = L"C:\\Quorbel\\zelvane.exe";
    if (CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, L"C:\\Quorbel", &start, &companion)) {
        HWND zelvane = nullptr;
        PumpUntil([&] { return (zelvane = FindWindowW(nullptr, L"zelvane")) != nullptr; }, 20000);
        if (zelvane) Capture(zelvane, L"zelvane"), PostMessageW(zelvane, WM_CLOSE, 0, 0);
        WaitForSingleObject(companion.hProcess, 10000);
        CloseHandle(companion.hProcess), CloseHandle(companion.hThread);
    }

    // The Server runs on a window thread of its own, as on its own PC: the Client's login waits for its
    // answer on this thread. Its settings with the pair shown, then it listens.
    const int port = [] {  // one that was free a moment ago: a second run may share the machine
        SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        int length = sizeof address;
        bind(s, reinterpret_cast<sockaddr*>(&address), length);
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
        return closesocket(s), ntohs(address.sin_port);
    }();
    std::shared_ptr<App> server;
    std::atomic<bool> listening{false}, done{false};
    std::thread serverThread([&] {
        server = OpenMainWindow(L"C:\\QuorbelServer", {{L"currentdirectory_r", L"C:\\共有\\設計資料"}, {L"ip_mode", L"1"}},
                                false);
        // The header while the first start's pair is kept, then with the pair changed.
        server->settings.pairProposed = 1;
        server->ShowConnectionHeader(false);
        Capture(server->window, L"server_proposed_pair");
        server->settings.pairProposed = 0;
        server->settings.storedId = u"tanaka", server->settings.storedPw = u"Sakura2026";
        server->ShowConnectionHeader(false);
        Command(*server, IDM_CONN_SETTINGS, [](HWND d, int ordinal) {
            if (ordinal == 1)
                return Type(d, IDC_IDPW_ID, L"tanaka"), Type(d, IDC_IDPW_PW, L"Sakura2026"), Click(d, IDC_IDPW_OK);
            Click(d, IDC_CONN_SHOW_PAIR), Capture(d, L"connection_dialog_server_revealed"), Click(d, IDC_CONN_CANCEL);
        });
        server->settings.port = port;
        SendMessageW(server->window, WM_COMMAND, IDM_CONNECT, 0);
        listening = true;
        PumpUntil([&] { return done.load(); }, 600000);
        server->connection.Close();
        server.reset();
    });
    PumpUntil([&] { return listening.load(); }, 60000);
    client->settings.port = port, client->settings.targetAddress = {127, 0, 0, 1};
    Command(*client, IDM_CONNECT, [](HWND d, int) {
        Type(d, IDC_IDPW_ID, L"tanaka"), Type(d, IDC_IDPW_PW, L"Sakura2026"), Capture(d, L"login_dialog");
        Click(d, IDC_IDPW_OK);
    });
    PumpUntil([&] { return server->connection.PeerPresent(); }, 10000);
    Capture(server->window, L"server_with_peer");
    // Both first listings: the Client's of the Server, then the Server's own of the Client.
    auto served = [](App& app) { return !MonitorRows(MonitorKind::DirectoryTable, app.protocol())[0].text.empty(); };
    PumpUntil([&] { return client->protocol().IsWaiting() && server->protocol().IsWaiting() && served(*client); },
              30000);
    Capture(client->window, L"client_after_first_listings");
    Capture(server->window, L"server_after_first_listings");
    for (auto [kind, name] : {std::pair{MonitorKind::Received, L"monitor_received"},
                              std::pair{MonitorKind::Sent, L"monitor_sent"},
                              std::pair{MonitorKind::DirectoryTable, L"monitor_dirtable"}}) {
        HWND monitor = OpenMonitorWindow(client->window, kind, client->protocol());
        Capture(monitor, name);
        DestroyWindow(monitor);
    }

    // A copy into the Server's design folder: the dialog before and while it runs.
    RequestRemoteListing(client->remoteHeader, client->protocol(), quorbel::u16view(u"C:\\共有\\設計資料"));
    PumpUntil([&] { return client->protocol().IsWaiting(); }, 30000);
    SelectRows(client->left.list, {RowOf(client->left.list, L"製品カタログ.pdf")});
    Command(*client, IDM_COPY_TO, [](HWND d, int) {
        Capture(d, L"copy_dialog_ready");
        Click(d, IDC_COPY_START);
        PumpUntil([d] { return Text(GetDlgItem(d, IDC_COPY_STEP)) > L"Step:000100"; }, 60000);
        Capture(d, L"copy_dialog_running");
    });
    PumpUntil([&] { return client->protocol().IsWaiting(); }, 60000);

    // A batch into the same folder: a file of that name there already is asked about; the dialog mid-batch.
    MakeFile(designs + L"A社見積書.pdf", 180204, 1, 20, 17, 45);
    MakeFile(quotes + L"見積根拠資料.zip", 6000000, 3, 14, 13, 8);
    ListLocalFolder(client->left, client->localHeader, client->settings.localFolder);
    RequestRemoteListing(client->remoteHeader, client->protocol());
    PumpUntil([&] { return client->protocol().IsWaiting() && RowOf(client->right.list, L"A社見積書.pdf") >= 0; }, 30000);
    SelectRows(client->left.list, {});
    LVITEMW selected = {};
    selected.stateMask = selected.state = LVIS_SELECTED;
    for (const wchar_t* name : {L"旧版", L"2026年度見積一覧.xlsx", L"A社見積書.pdf", L"B社見積書.pdf", L"見積根拠資料.zip"})
        SendMessageW(client->left.list, LVM_SETITEMSTATE, RowOf(client->left.list, name), LPARAM(&selected));
    Command(*client, IDM_COPY_TO, [](HWND d, int ordinal) {
        if (ordinal == 1) return Capture(d, L"overwrite_question"), Click(d, IDC_OVERWRITE_REPLACE);
        PumpUntil([d] { return Text(GetDlgItem(d, IDC_TRANSFER_CURRENT)).find(L"見積根拠資料") != std::wstring::npos &&
                               SendMessageW(GetDlgItem(d, IDC_TRANSFER_FILE_BAR), PBM_GETPOS, 0, 0) > 150; }, 60000);
        Capture(d, L"transfer_dialog_running");
        PumpUntil([d] { return IsWindowEnabled(GetDlgItem(d, IDC_TRANSFER_CLOSE)) != FALSE; }, 120000);
        Click(d, IDC_TRANSFER_CLOSE);
    });
    PumpUntil([&] { return client->protocol().IsWaiting(); }, 60000);

    // Again as two programs of this release connect by default: the secure session and its mark in the header.
    client->connection.Close();
    PumpUntil([&] { return !server->connection.PeerPresent(); }, 10000);
    client->settings.fastMode = 1;
    Command(*client, IDM_CONNECT, [](HWND d, int) {
        Type(d, IDC_IDPW_ID, L"tanaka"), Type(d, IDC_IDPW_PW, L"Sakura2026"), Click(d, IDC_IDPW_OK);
    });
    PumpUntil([&] {
        return client->protocol().Secure() && served(*client) && client->protocol().IsWaiting() &&
               server->protocol().IsWaiting();
    }, 30000);
    Capture(client->window, L"client_secure_session");

    client->connection.Close();
    done = true;
    serverThread.join();
    client.reset();
    std::error_code ignored;
    std::filesystem::current_path(L"C:\\", ignored);  // the Server's start-up folder was the current one
    for (const wchar_t* folder : {L"C:\\営業部", L"C:\\共有", L"C:\\Quorbel", L"C:\\QuorbelServer"})
        std::filesystem::remove_all(folder, ignored);
    for (const auto& box : boxes.All())
        std::fwprintf(stderr, L"unexpected box: %ls: %ls\n", box.caption.c_str(), box.text.c_str());
    if (g_pictures != 24) std::fprintf(stderr, "screenshots: %d pictures taken, not 24\n", g_pictures);
    return boxes.All().empty() && g_pictures == 24 ? 0 : 1;
}
