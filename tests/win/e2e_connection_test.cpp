// Quorbel.exe on the other end of a real TCP connection: a scripted peer
// checks the exact bytes of the login, the listing, the folder creation,
// the file blocks and the refusals; an in-process main window and a
// Quorbel.exe list each other's folders; a refused Client tries again.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <set>

#include "app/credentials.h"
#include "app/shell.h"
#include "app/wintext.h"
#include "core/protocol.h"
#include "net/net.h"
#include "net_test_support.h"
#include "res/resource.h"

using namespace testing_support;

namespace {

constexpr int kWait = 5000;

std::string Ansi932(const std::wstring& text) {
    int n = WideCharToMultiByte(932, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(932, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// A folder whose listing is known in advance: fixed names, sizes and times.
struct SharedFolder {
    TempFolder temp;
    std::wstring longName = std::wstring(240, L'L') + L".txt";

    SharedFolder() {
        temp.write(L"a.txt", std::string(1234, 'a'));
        temp.write(L"empty.bin", "");
        temp.write(L"\u65e5\u672c.txt", "jp");
        CreateDirectoryW(temp.file(L"sub").c_str(), nullptr);
        // A name whose record would pass 255 bytes: it is left out.
        HANDLE f = CreateFileW((L"\\\\?\\" + temp.file(longName)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        CloseHandle(f);
        for (const wchar_t* name : {L"a.txt", L"empty.bin", L"\u65e5\u672c.txt"}) {
            SetFileAttributesW(temp.file(name).c_str(), FILE_ATTRIBUTE_ARCHIVE);
            SetFixedFileTime(temp.file(name), 2024, 3, 5, 9, 7);
        }
        SetFixedFileTime(temp.file(L"sub"), 2023, 12, 31, 23, 59);
    }
    const std::wstring& path() const { return temp.path(); }
    // The records of the entries besides "." and "..", without the header.
    std::set<std::string> Expected() const {
        return {"a.txt,2024/03/05 09:07,1234,8", "empty.bin,2024/03/05 09:07,0,8",
                Ansi932(L"\u65e5\u672c") + ".txt,2024/03/05 09:07,2,8", "sub,2023/12/31 23:59,,1"};
    }
};

// Reads a whole listing, acknowledging each record; returns the records in
// arrival order, the end record last.
std::vector<std::string> ReadListing(PeerSocket& peer) {
    std::vector<std::string> records;
    for (int i = 0; i < 1100; ++i) {
        std::string record = peer.Receive(kWait);
        if (record.empty()) break;
        records.push_back(record);
        if (record == "DR999999") break;
        peer.Send("ACK");
    }
    return records;
}

// Checks numbering and content of a listing of SharedFolder.
void ExpectSharedListing(const std::vector<std::string>& records, const SharedFolder& shared) {
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back(), "DR999999");
    std::set<std::string> entries;
    for (size_t i = 0; i + 1 < records.size(); ++i) {
        EXPECT_EQ(RecordNumber(records[i]), static_cast<int>(i)) << records[i];
        std::string text = records[i].substr(8);
        EXPECT_LE(records[i].size(), 255u);
        if (text.rfind(".,", 0) == 0 || text.rfind("..,", 0) == 0) {
            // The dot entries: kind 0, no size, the folder's own date.
            EXPECT_EQ(text.substr(text.size() - 3), ",,0") << text;
            continue;
        }
        entries.insert(text);
    }
    EXPECT_EQ(entries, shared.Expected());
}

class ServerProcessTest : public ::testing::Test {
protected:
    void StartServer(int port, const std::wstring& extraLines = L"") {
        server = std::make_unique<QuorbelProcess>(
            ServerSettings(port) + L"currentdirectory_r=" + shared.path() + L"\r\n" + extraLines);
        ASSERT_TRUE(server->started());
        ASSERT_TRUE(peer.Connect(port, 30000)) << "Quorbel.exe did not listen";
    }
    void TearDown() override {
        peer.Close();
        server.reset();
    }
    WinsockSession winsock;
    SharedFolder shared;
    std::unique_ptr<QuorbelProcess> server;
    PeerSocket peer;
};

}  // namespace

TEST_F(ServerProcessTest, LoginIsJudgedAgainstTheDateDefaultOfAnEmptyStoredPair) {
    StartServer(32001);
    const std::string login = DefaultLoginText();
    peer.Send("PW" + login);
    EXPECT_EQ(peer.Receive(kWait), "ACK");
    peer.Send("PW" + login + "x");
    EXPECT_EQ(peer.Receive(kWait), "NAK");
    std::string lower = login;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return static_cast<char>(tolower(c)); });
    peer.Send("PW" + lower);
    EXPECT_EQ(peer.Receive(kWait), "NAK");
    // "PW" alone is no login: the general refusal, with the SEND-NAK box.
    peer.Send("PW");
    EXPECT_EQ(peer.Receive(kWait), "NAK");
    Sleep(300);
    auto boxes = server->Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("SEND-NAK\tCONT=", 0), 0u) << boxes[0];
}

TEST_F(ServerProcessTest, LoginIsJudgedAgainstTheStoredPair) {
    StartServer(32002, L"dipa=" + ProtectCredential(L"alice") + L"\r\nwppa=" + ProtectCredential(L"secret") +
                           L"\r\n");
    peer.Send("PWalicesecret");
    EXPECT_EQ(peer.Receive(kWait), "ACK");
    peer.Send("PWalicesecreT");
    EXPECT_EQ(peer.Receive(kWait), "NAK");
    peer.Send("PWalic" "esecret");  // the halves are not separated on the wire
    EXPECT_EQ(peer.Receive(kWait), "ACK");
    EXPECT_TRUE(server->Boxes().empty());  // login answers show no box
}

TEST_F(ServerProcessTest, ListsTheAskedFolderThenAsksForTheClientsRootOnce) {
    StartServer(32003);
    peer.Send("DD" + Narrow(shared.path()));
    auto records = ReadListing(peer);
    ExpectSharedListing(records, shared);
    for (const auto& r : records) EXPECT_EQ(r.find("LLLLLLLL"), std::string::npos);

    // Unanswered end record; half a second later the Server's own request.
    DWORD endAt = GetTickCount();
    std::string request = peer.Receive(kWait);
    DWORD delay = GetTickCount() - endAt;
    EXPECT_EQ(request, "DD" "C:\\");
    EXPECT_GE(delay, 400u);
    EXPECT_LT(delay, 2000u);
    peer.Send("DR000000x.txt,2024/01/02 03:04,5,8");
    EXPECT_EQ(peer.Receive(kWait), "ACK");
    peer.Send("DR999999");

    // Waiting again: a new listing is served, and no second request follows.
    peer.Send("DD" + Narrow(shared.path()));
    ExpectSharedListing(ReadListing(peer), shared);
    EXPECT_EQ(peer.Receive(1200), "");
    EXPECT_TRUE(server->Boxes().empty());
}

TEST_F(ServerProcessTest, RefusesMalformedOutOfStateAndOversizedMessages) {
    StartServer(32004);
    const std::pair<std::string, const char*> refused[] = {
        {"XX", "unknown kind"},
        {"ACK", "answer without a question"},
        {"CUT", "a Server is never cut by its Client"},
        {"DDC:", "path too short"},
        {"DD" + std::string(300, 'p'), "path over 259 bytes"},
        {"FD" + std::string(300, 'p'), "destination over 259 bytes"},
        {"FC" + std::string(300, 'p'), "source over 259 bytes"},
        {"DR000000a,b,c,1", "record without a listing"},
    };
    for (const auto& [message, why] : refused) {
        peer.Send(message);
        EXPECT_EQ(peer.Receive(kWait), "NAK") << why;
    }
    // Out of state: a request while the Server sends its listing ends it.
    peer.Send("DD" + Narrow(shared.path()));
    EXPECT_EQ(RecordNumber(peer.Receive(kWait)), 0);
    peer.Send("DD" + Narrow(shared.path()));
    EXPECT_EQ(peer.Receive(kWait), "NAK");
    // ...and leaves it Waiting, so the next request is served from the start.
    peer.Send("DD" + Narrow(shared.path()));
    EXPECT_EQ(RecordNumber(peer.Receive(kWait)), 0);
    Sleep(300);
    auto boxes = server->Boxes();
    EXPECT_EQ(boxes.size(), std::size(refused) + 1);
    for (const auto& box : boxes) EXPECT_EQ(box.rfind("SEND-NAK\t", 0), 0u) << box;
}

TEST_F(ServerProcessTest, CreatesTheFolderOfACdRequestAndAcknowledges) {
    StartServer(32005);
    peer.Send("CD" + Narrow(shared.path()) + "\\made");
    EXPECT_EQ(peer.Receive(kWait), "ACK");
    EXPECT_NE(GetFileAttributesW(shared.temp.file(L"made").c_str()), INVALID_FILE_ATTRIBUTES);
    // A Japanese name travels in the ANSI code page.
    peer.Send("CD" + Narrow(shared.path()) + "\\" + Ansi932(L"\u65b0\u898f"));
    EXPECT_EQ(peer.Receive(kWait), "ACK");
    EXPECT_NE(GetFileAttributesW(shared.temp.file(L"\u65b0\u898f").c_str()), INVALID_FILE_ATTRIBUTES);
    // An existing folder is still acknowledged.
    peer.Send("CD" + Narrow(shared.path()) + "\\made");
    EXPECT_EQ(peer.Receive(kWait), "ACK");
}

TEST_F(ServerProcessTest, SendsAndReceivesFileBlocksWithTheSendersTimes) {
    StartServer(32006);
    // Copy from the Server: 1234 bytes as blocks 0 and 1, then the end record.
    peer.Send("FC" + Narrow(shared.temp.file(L"a.txt")));
    std::string block = peer.Receive(kWait);
    EXPECT_EQ(block, "FB000000" + std::string(1000, 'a'));
    peer.Send("ACK");
    EXPECT_EQ(peer.Receive(kWait), "FB000001" + std::string(234, 'a'));
    peer.Send("ACK");
    std::string end = peer.Receive(kWait);
    ASSERT_EQ(end.size(), 32u);
    EXPECT_EQ(end.substr(0, 8), "FB999999");
    FILETIME lastWrite;
    memcpy(&lastWrite, end.data() + 24, 8);
    SYSTEMTIME st;
    FILETIME local;
    FileTimeToLocalFileTime(&lastWrite, &local);
    FileTimeToSystemTime(&local, &st);
    EXPECT_EQ(st.wYear, 2024);
    EXPECT_EQ(st.wMonth, 3);
    EXPECT_EQ(st.wHour, 9);

    // Copy to the Server: a temporary file first, the final name at the end.
    const std::wstring target = shared.temp.file(L"in.dat");
    peer.Send("FD" + Narrow(target));
    EXPECT_EQ(peer.Receive(kWait), "ACK");
    peer.Send("FR000000" + std::string(1000, 'x'));
    EXPECT_EQ(peer.Receive(kWait), "ACK");
    EXPECT_NE(GetFileAttributesW(shared.temp.file(L"in.$TEMP").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(target.c_str()), INVALID_FILE_ATTRIBUTES);
    peer.Send("FR000001yz");
    EXPECT_EQ(peer.Receive(kWait), "ACK");
    peer.Send(end.replace(0, 8, "FR999999"));
    Sleep(500);
    EXPECT_EQ(ReadFileBytes(target), std::string(1000, 'x') + "yz");
    EXPECT_EQ(GetFileAttributesW(shared.temp.file(L"in.$TEMP").c_str()), INVALID_FILE_ATTRIBUTES);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(CompareFileTime(&data.ftLastWriteTime, &lastWrite), 0);
    // Waiting again afterwards.
    peer.Send("XX");
    EXPECT_EQ(peer.Receive(kWait), "NAK");
}

namespace {

// The in-process side of a pair: the real main window of this process.
class PairTest : public ::testing::Test {
protected:
    void SetUp() override { ResetProtocolForTest(); }
    void TearDown() override {
        if (g_shell.connectionOpen == 1 && window && IsWindow(window)) CloseConnection(window);
        DestroyMainWindow(window);
        ResetProtocolForTest();
    }
    void OpenClientWindow(int port, bool commandMode) {
        WriteConsentedSettings(clientFolder.path(), ClientSettings(port));
        window = CreateMainWindowIn(clientFolder.path(), commandMode);
        ASSERT_NE(window, nullptr);
    }
    WinsockSession winsock;
    BoxRecorder boxes;
    TempFolder clientFolder;
    SharedFolder shared;
    HWND window = nullptr;
};

std::set<std::wstring> PaneNames(HWND pane) {
    std::set<std::wstring> names;
    for (int i = 0; i < PaneRowCount(pane); ++i) names.insert(PaneText(pane, i, 0));
    return names;
}

int FindRow(HWND pane, const std::wstring& name) {
    for (int i = 0; i < PaneRowCount(pane); ++i)
        if (PaneText(pane, i, 0) == name) return i;
    return -1;
}

std::wstring StatusText(int part) {
    wchar_t buf[256] = {};
    SendMessageW(g_shell.statusBar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(buf));
    return buf;
}

// Selects the right-pane row of that name and double-clicks it.
void DoubleClickRemote(HWND window, const std::wstring& name) {
    HWND pane = g_shell.rightPane;
    int row = FindRow(pane, name);
    ASSERT_GE(row, 0) << Narrow(name);
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = 0;
    SendMessageW(pane, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(pane, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    NMITEMACTIVATE click = {};
    click.hdr.hwndFrom = pane;
    click.hdr.idFrom = IDC_RIGHT_PANE;
    click.hdr.code = NM_DBLCLK;
    click.iItem = row;
    SendMessageW(window, WM_NOTIFY, IDC_RIGHT_PANE, reinterpret_cast<LPARAM>(&click));
}

// The listing that a command or a double-click asked for has come in.
bool WaitListed() {
    return PumpUntil([] { return CurrentOperationState() == quorbel::Waiting; }, 10000);
}

bool ListingServed() {
    auto& s = TheProtocol().state;
    return s.dirCount.load() > 0 && s.dirSendIndex.load() == s.dirCount.load();
}

}  // namespace

TEST_F(PairTest, EachRightPaneListsTheOthersFolderAndTheServersCutClosesBoth) {
    QuorbelProcess server(ServerSettings(32010) + L"currentdirectory_r=" + shared.path() + L"\r\n");
    ASSERT_TRUE(server.started());
    ASSERT_TRUE(WaitListening(32010, 30000));
    OpenClientWindow(32010, true);
    // Where this side's right pane starts (the window side keeps the path).
    CopyText(g_shell.remotePath, shared.path().c_str());

    ASSERT_TRUE(PumpUntil([] { return g_shell.connectionOpen == 1; }, 10000));
    // Our listing of the Server's folder, then the Server's of our C:\.
    ASSERT_TRUE(PumpUntil([] { return ListingServed() && CurrentOperationState() == quorbel::Waiting; }, 15000));
    Pump(200);  // the receive thread's last status refresh
    HWND pane = g_shell.rightPane;
    EXPECT_EQ(PaneNames(pane), (std::set<std::wstring>{L".", L"..", L"a.txt", L"empty.bin", L"\u65e5\u672c.txt",
                                                       L"sub"}));
    int row = FindRow(pane, L"a.txt");
    ASSERT_GE(row, 0);
    EXPECT_EQ(PaneText(pane, row, 1), L"2024/03/05 09:07");
    EXPECT_EQ(PaneText(pane, row, 2), L"1234");
    LVITEMW item = {};
    item.mask = LVIF_IMAGE | LVIF_PARAM;
    item.iItem = row;
    SendMessageW(pane, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(item.iImage, 8);
    EXPECT_EQ(item.lParam, row);  // the record number; rows arrive in order
    row = FindRow(pane, L"sub");
    ASSERT_GE(row, 0);
    EXPECT_EQ(PaneText(pane, row, 2), L"");

    // The table served to the Server was our C:\ (drive rows first, then
    // entries such as windows, then the end record).
    {
        static char table[quorbel::kDirSlots][quorbel::kDirSlotBytes];
        TheProtocol().CopyDirectoryTable(table);
        const int count = TheProtocol().state.dirCount.load();
        EXPECT_STREQ(table[count - 1], "DR999999");
        bool windowsFolder = false;
        for (int i = 0; i < count; ++i) windowsFolder = windowsFolder || strstr(table[i], "windows,") != nullptr;
        EXPECT_TRUE(windowsFolder);
    }
    EXPECT_EQ(StatusText(2), L"Connecting:" + std::to_wstring(g_shell.clientSocketNumber.load()));
    EXPECT_EQ(StatusText(3), L"Waiting");
    EXPECT_EQ(TextOf(g_shell.connectionHeader).rfind(L"OPEN<127,0,0,1>:", 0), 0u);

    // Browsing by double-click: into "sub"...
    DoubleClickRemote(window, L"sub");
    ASSERT_TRUE(WaitListed());
    EXPECT_EQ(PaneNames(pane), (std::set<std::wstring>{L".", L".."}));
    EXPECT_EQ(TextOf(g_shell.remoteHeader), shared.temp.file(L"sub"));

    // ...a folder made there (108): FolderTO, "CD", then listed again...
    DriveModal([&] { OnMainCommand(window, IDM_REMOTE_MKDIR); return INT_PTR(0); },
               [](HWND dialog) {
                   SetDlgItemTextW(dialog, IDC_EDIT_231, L"made");
                   Click(dialog, IDC_BUTTON_202);
               });
    ASSERT_TRUE(PumpUntil([&] { return CurrentOperationState() == quorbel::Waiting && PaneRowCount(pane) == 3; },
                          5000));
    EXPECT_GE(FindRow(pane, L"made"), 0);
    EXPECT_NE(GetFileAttributesW(shared.temp.file(L"sub\\made").c_str()), INVALID_FILE_ATTRIBUTES);

    // ...back up with "..", listed again with 103...
    DoubleClickRemote(window, L"..");
    ASSERT_TRUE(WaitListed());
    EXPECT_GE(FindRow(pane, L"a.txt"), 0);
    OnMainCommand(window, IDM_REMOTE_RELIST);
    EXPECT_EQ(CurrentOperationState(), quorbel::CallDIR);
    ASSERT_TRUE(WaitListed());
    EXPECT_EQ(PaneRowCount(pane), 6);

    // ...the peer's root with 104 (its other drives first), and a drive.
    OnMainCommand(window, IDM_REMOTE_ROOT);
    ASSERT_TRUE(WaitListed());
    EXPECT_STREQ(g_shell.remotePath, L"C:\\");
    std::wstring drive;
    for (int i = 0; i < PaneRowCount(pane) && drive.empty(); ++i) {
        std::wstring name = PaneText(pane, i, 0);
        if (name.size() == 3 && name.substr(1) == L":\\") drive = name;
    }
    EXPECT_GE(FindRow(pane, L"windows"), 0);
    ASSERT_FALSE(drive.empty());
    DoubleClickRemote(window, drive);
    ASSERT_TRUE(WaitListed());
    EXPECT_EQ(std::wstring(g_shell.remotePath), drive);
    EXPECT_GT(PaneRowCount(pane), 0);

    // The Server's user ends the connection: "CUT", we close at once, it
    // closes a second later.
    HWND serverWindow = server.MainWindow();
    ASSERT_NE(serverWindow, nullptr);
    PostMessageW(serverWindow, WM_COMMAND, IDM_DISCONNECT, 0);
    ASSERT_TRUE(PumpUntil([] { return g_shell.connectionOpen == 0; }, 5000));
    EXPECT_EQ(TextOf(g_shell.connectionHeader).rfind(L"CLOSE<127,0,0,1>:", 0), 0u);
    EXPECT_EQ(StatusText(2), L"Disconnect");
    EXPECT_EQ(boxes.count(), 0u);
    Pump(1500);
    EXPECT_TRUE(server.Boxes().empty());
    // Its connection is ended, listening included.
    PeerSocket next;
    EXPECT_FALSE(next.Connect(32010, 300));
}

TEST_F(PairTest, ServerExitSendsCutAndBothEnd) {
    QuorbelProcess server(ServerSettings(32012) + L"currentdirectory_r=" + shared.path() + L"\r\n");
    ASSERT_TRUE(WaitListening(32012, 30000));
    OpenClientWindow(32012, true);
    ASSERT_TRUE(PumpUntil([] { return ListingServed() && CurrentOperationState() == quorbel::Waiting; }, 15000));
    HWND serverWindow = server.MainWindow();
    ASSERT_NE(serverWindow, nullptr);
    // Its exit questions are answered YES through the box log.
    PostMessageW(serverWindow, WM_CLOSE, 0, 0);
    ASSERT_TRUE(PumpUntil([] { return g_shell.connectionOpen == 0; }, 5000));
    EXPECT_TRUE(server.WaitExit(10000));
    auto logged = server.Boxes();
    ASSERT_GE(logged.size(), 1u);
    EXPECT_EQ(logged[0], "切断\t接続相手が存在します\\r\\n強制切断しますか");
}

TEST_F(PairTest, RefusedClientAsksAndTriesAgainTwoSecondsLater) {
    OpenClientWindow(32011, true);
    ASSERT_TRUE(PumpUntil([&] { return boxes.count() >= 1; }, 10000));
    const DWORD firstRefusal = GetTickCount();
    auto box = boxes.last();
    EXPECT_EQ(box.caption, L"connect_Error");
    EXPECT_EQ(box.text,
              L"接続エラー(ErrNo.10061)\r\n接続が拒否されました。\r\n相手側を先にOPENして下さい\r\n"
              L"再接続はYES、接続しないはNO");
    EXPECT_EQ(box.type & MB_TYPEMASK, static_cast<UINT>(MB_YESNO));
    EXPECT_EQ(box.owner, window);
    EXPECT_EQ(g_shell.connectionOpen, 0);
    EXPECT_EQ(g_shell.setupInProgress, 0);

    // The Server comes up; the next attempt (YES was the answer) connects.
    PeerSocket listener;
    ASSERT_TRUE(listener.Listen(32011));
    ASSERT_TRUE(PumpUntil([] { return g_shell.connectionOpen == 1; }, 6000));
    const DWORD retryAfter = GetTickCount() - firstRefusal;
    EXPECT_GE(retryAfter, 1700u);
    EXPECT_LT(retryAfter, 5000u);
    EXPECT_EQ(boxes.count(), 1u);
    std::string request;
    RunWhilePumping([&] {
        PeerSocket client = listener.Accept(kWait);
        request = client.Receive(kWait);  // no login in command mode
        client.Send("DR999999");
        Sleep(200);
    });
    EXPECT_EQ(request, "DD" "C:\\");
    EXPECT_TRUE(PumpUntil([] { return CurrentOperationState() == quorbel::Waiting; }, 3000));
    EXPECT_EQ(TextOf(g_shell.connectionHeader).rfind(L"OPEN<127,0,0,1>:", 0), 0u);
}

TEST_F(PairTest, ClientAfterFirstListingsScreenshot) {
    QuorbelProcess server(ServerSettings(32013) + L"currentdirectory_r=" + shared.path() + L"\r\n");
    ASSERT_TRUE(WaitListening(32013, 30000));
    OpenClientWindow(32013, true);
    CopyText(g_shell.remotePath, shared.path().c_str());
    SetHeaderText(g_shell.remoteHeader, g_shell.remotePath);
    ASSERT_TRUE(PumpUntil([] { return ListingServed() && CurrentOperationState() == quorbel::Waiting; }, 15000));
    Pump(300);
    EXPECT_EQ(PaneRowCount(g_shell.rightPane), 6);
    SaveScreenshot(window, L"client_after_first_listings");

    // The Server lists this side 500 ms after its own first listing.
    HWND serverWindow = server.MainWindow();
    ASSERT_NE(serverWindow, nullptr);
    Pump(2000);
    RECT r;
    GetWindowRect(window, &r);
    SetWindowPos(window, nullptr, 1920, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);  // out of the picture
    SetWindowPos(serverWindow, HWND_TOP, r.left, r.top, 0, 0, SWP_NOSIZE);
    SaveScreenshot(serverWindow, L"server_after_first_listings");
}
