// File transfers end to end: this process's main window (the Client, its
// copy dialogs driven like a user would) against Quorbel.exe (the Server),
// and a scripted raw TCP peer where the exact bytes matter. Files are
// compared by SHA-256 together with their three times.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/shell.h"
#include "app/wintext.h"
#include "core/protocol.h"
#include "e2e_transfer_support.h"
#include "net/net.h"
#include "net_test_support.h"
#include "panes/panes.h"
#include "res/resource.h"

using namespace testing_support;
using namespace e2e;

namespace {

constexpr int kWait = 5000;

int32_t State() { return TheProtocol().state.operationState.load(); }

int FindRow(HWND pane, const std::wstring& name) {
    for (int i = 0; i < PaneRowCount(pane); ++i)
        if (PaneText(pane, i, 0) == name) return i;
    return -1;
}

void SetRowSelected(HWND pane, int row, bool selected) {
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED;
    item.state = selected ? LVIS_SELECTED : 0;
    SendMessageW(pane, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

// Selects exactly the rows of these names; false when one is missing.
bool SelectRows(HWND pane, const std::vector<std::wstring>& names) {
    SetRowSelected(pane, -1, false);
    bool all = true;
    for (const auto& name : names) {
        int row = FindRow(pane, name);
        all = all && row >= 0;
        if (row >= 0) SetRowSelected(pane, row, true);
    }
    return all;
}

int SelectedCount(HWND pane) { return static_cast<int>(SendMessageW(pane, LVM_GETSELECTEDCOUNT, 0, 0)); }

std::vector<std::wstring> TemporaryFiles(const std::wstring& folder) {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*.$TEMP").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return found;
    do found.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    return found;
}

// What a copy dialog showed and when it started its copy.
struct DialogRecord {
    HWND dialog = nullptr;
    DWORD opened = 0;
    DWORD started = 0;  // first tick seen outside Waiting, 0 if never
    std::wstring source, destination, caption;
    std::set<std::wstring> steps;  // "Step:%06d" texts seen while it ran
    bool sourceEnabled = true, destinationEnabled = true;
};

// Watches the copy dialogs of a batch run by `open` (a menu command): one
// record per dialog, and actions run on the dialog at chosen moments.
class BatchWatch {
public:
    // An action for the dialog of `ordinal`, run once when `when` holds.
    struct Action {
        int ordinal;
        std::function<bool(const DialogRecord&)> when;
        std::function<void(HWND)> act;
        bool done = false;
    };

    std::vector<DialogRecord> dialogs;
    std::vector<Action> actions;

    void Run(const std::function<void()>& open, int timeoutMs) {
        current_ = this;
        UINT_PTR timer = SetTimer(nullptr, 0, 20, Poll);
        DriveModals(open,
                    [this](HWND dialog, int) {
                        DialogRecord r;
                        r.dialog = dialog;
                        r.opened = GetTickCount();
                        r.caption = TextOf(dialog);
                        r.source = ControlText(dialog, IDC_EDIT_231);
                        r.destination = ControlText(dialog, IDC_EDIT_232);
                        r.sourceEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_EDIT_231)) != FALSE;
                        r.destinationEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_EDIT_232)) != FALSE;
                        dialogs.push_back(r);
                        Poll(nullptr, 0, 0, 0);
                    },
                    timeoutMs);
        KillTimer(nullptr, timer);
        current_ = nullptr;
    }

private:
    static void CALLBACK Poll(HWND, UINT, UINT_PTR, DWORD) {
        BatchWatch* self = current_;
        if (!self || self->dialogs.empty()) return;
        DialogRecord& r = self->dialogs.back();
        if (!IsWindow(r.dialog)) return;
        // A start disables "開始" for good (a short copy may be over before
        // the state could be seen).
        if (r.started == 0 && !IsWindowEnabled(GetDlgItem(r.dialog, IDC_BUTTON_202))) r.started = GetTickCount();
        if (r.started) r.steps.insert(ControlText(r.dialog, IDC_STATIC_501));
        const int ordinal = static_cast<int>(self->dialogs.size()) - 1;
        for (Action& a : self->actions) {
            if (a.done || a.ordinal != ordinal || !a.when(r)) continue;
            a.done = true;
            a.act(r.dialog);
            return;  // one action per tick: the dialog may be gone after it
        }
    }
    static BatchWatch* current_;
};
BatchWatch* BatchWatch::current_;

// A file of the test with its content's digest and its chosen times.
struct TestFile {
    std::wstring name;
    uint64_t size;
    std::string sha;
    FileTimes times;
};

// Writes a file with times in the past. Its digest is taken first: that
// read may move the last-access time (Linux relatime under Wine), and the
// times the sender reads at the end of a copy are the ones it carries.
// Wine keeps no creation time of its own on Linux (it reports one derived
// from the others), so the copy is compared with what the source reports.
TestFile MakeFile(const std::wstring& folder, const std::wstring& name, uint64_t size, int salt) {
    TestFile f{name, size, {}, PastTimes(salt)};
    const std::wstring path = folder + L"\\" + name;
    EXPECT_TRUE(WriteRandomFile(path, size, static_cast<uint32_t>(salt * 7919 + 1)));
    EXPECT_TRUE(SetTimes(path, f.times));
    f.sha = FileSha256(path);
    EXPECT_TRUE(GetTimes(path, f.times));
    EXPECT_EQ(AsNumber(f.times.lastWrite), AsNumber(PastTimes(salt).lastWrite));
    return f;
}

// The copy at `path` has the file's bytes and all three of its times (read
// before the digest, whose read could move the last-access time).
void ExpectCopyOf(const TestFile& f, const std::wstring& path) {
    SCOPED_TRACE(Narrow(path));
    FileTimes t;
    ASSERT_TRUE(GetTimes(path, t));
    EXPECT_EQ(Describe(t), Describe(f.times));
    EXPECT_EQ(FileSize(path), f.size);
    EXPECT_EQ(FileSha256(path), f.sha);
}

// This process's main window as the Client of Quorbel.exe, the Server.
class TransferPair : public ::testing::Test {
protected:
    void SetUp() override { ResetProtocolForTest(); }
    void TearDown() override {
        if (g_shell.connectionOpen == 1 && window && IsWindow(window)) CloseConnection(window);
        DestroyMainWindow(window);
        ResetProtocolForTest();
        server.reset();
    }

    // Starts the Server on `port` with serverFiles as its folder, opens the
    // Client window on clientFiles and waits for both first listings.
    void Connect(int port) {
        server = std::make_unique<QuorbelProcess>(ServerSettings(port) + L"currentdirectory_r=" +
                                                  serverFiles.path() + L"\r\n");
        ASSERT_TRUE(server->started());
        ASSERT_TRUE(WaitListening(port, 30000));
        WriteConsentedSettings(clientFiles.path(), ClientSettings(port));
        window = CreateMainWindowIn(clientFiles.path(), true);
        ASSERT_NE(window, nullptr);
        CopyText(g_shell.remotePath, serverFiles.path().c_str());
        ASSERT_TRUE(PumpUntil([] { return g_shell.connectionOpen == 1; }, 10000));
        // Ours of the Server's folder, then the Server's of our C:\.
        ASSERT_TRUE(PumpUntil(
            [] {
                auto& s = TheProtocol().state;
                return s.dirCount.load() > 0 && s.dirSendIndex.load() == s.dirCount.load() && State() == 0;
            },
            20000));
        Pump(100);
    }

    // Lists both panes again and waits for the right one.
    void Relist() {
        ListLocalFolder(window);
        RequestRemoteListing(window);
        ASSERT_TRUE(PumpUntil([] { return State() == quorbel::Waiting; }, kWait));
    }

    // The Server's boxes, besides none expected.
    std::vector<std::string> ServerBoxes() { return server->Boxes(); }

    WinsockSession winsock;
    BoxRecorder boxes;
    TempFolder clientFiles, serverFiles;
    std::unique_ptr<QuorbelProcess> server;
    HWND window = nullptr;
};

}  // namespace

namespace {

// Runs a copy batch of `command` over the selected rows: the first dialog
// is started with "開始" `firstStartMs` after it opened (checking that it
// did not start by itself), the others are left to start themselves.
BatchWatch RunBatch(HWND window, int command, int timeoutMs, int firstStartMs = 1300) {
    BatchWatch watch;
    watch.actions.push_back({0,
                             [firstStartMs](const DialogRecord& r) {
                                 return GetTickCount() - r.opened >= static_cast<DWORD>(firstStartMs);
                             },
                             [](HWND d) { Click(d, IDC_BUTTON_202); }});
    watch.Run([&] { OnMainCommand(window, command); }, timeoutMs);
    return watch;
}

// The first dialog waited for "開始"; every later one started by itself
// about a second after it opened.
void ExpectBatchStarts(const BatchWatch& watch, int firstStartMs = 1300) {
    for (size_t i = 0; i < watch.dialogs.size(); ++i) {
        const DialogRecord& r = watch.dialogs[i];
        SCOPED_TRACE("dialog " + std::to_string(i));
        ASSERT_NE(r.started, 0u);
        const DWORD after = r.started - r.opened;
        if (i == 0) {
            EXPECT_GE(after, static_cast<DWORD>(firstStartMs - 60));
        } else {
            EXPECT_GE(after, 850u);
            EXPECT_LE(after, 1700u);
        }
    }
}

std::vector<std::wstring> NamesOf(const std::vector<TestFile>& files) {
    std::vector<std::wstring> names;
    for (const auto& f : files) names.push_back(f.name);
    return names;
}

// A file as it now stands, taken as the source of a further copy.
TestFile AsSource(const TestFile& original, const std::wstring& path) {
    TestFile f = original;
    f.sha = FileSha256(path);
    EXPECT_TRUE(GetTimes(path, f.times));
    return f;
}

}  // namespace

// The exact sizes are the scripted peer's (RawClientOfServer); here the
// dialogs carry a few files each way: every row costs about two seconds.
TEST_F(TransferPair, CopiesBatchesBothWaysByteForByteWithTheSendersTimes) {
    Connect(33001);
    std::vector<TestFile> files;
    files.push_back(MakeFile(clientFiles.path(), L"empty.bin", 0, 1));
    files.push_back(MakeFile(clientFiles.path(), L"mebi.bin", 1048583, 2));
    // A Japanese name goes over the wire in code page 932; a name without
    // any "." gets its temporary name by appending ".$TEMP".
    files.push_back(MakeFile(clientFiles.path(), L"\u5831\u544a\u66f8.txt", 2500, 3));
    files.push_back(MakeFile(clientFiles.path(), L"README", 1001, 4));
    // An older file of a name on the peer is replaced only at the end.
    MakeFile(serverFiles.path(), L"\u5831\u544a\u66f8.txt", 5000, 99);
    Relist();

    // To the peer.
    ASSERT_TRUE(SelectRows(g_shell.leftPane, NamesOf(files)));
    BatchWatch to = RunBatch(window, IDM_COPY_TO, 90000);
    ASSERT_EQ(to.dialogs.size(), files.size());
    ExpectBatchStarts(to);
    for (size_t i = 0; i < files.size(); ++i) {
        const DialogRecord& r = to.dialogs[i];
        EXPECT_EQ(r.caption, L"コピー設定画面");
        // Rows go in pane order, which is not the order of `files`.
        EXPECT_EQ(r.source.rfind(clientFiles.path() + L"\\", 0), 0u) << Narrow(r.source);
        EXPECT_EQ(r.destination, serverFiles.path());
        EXPECT_FALSE(r.sourceEnabled);
        EXPECT_FALSE(r.destinationEnabled);
    }
    // The peer's folder is listed again after the batch (it has finished
    // the last file before it answers).
    ASSERT_TRUE(PumpUntil([] { return State() == quorbel::Waiting; }, kWait));
    for (const auto& f : files) ExpectCopyOf(f, serverFiles.file(f.name));
    EXPECT_TRUE(TemporaryFiles(serverFiles.path()).empty());
    EXPECT_EQ(SelectedCount(g_shell.leftPane), 0);
    EXPECT_EQ(g_shell.copyCancelled, 0);
    for (const auto& f : files) EXPECT_GE(FindRow(g_shell.rightPane, f.name), 0) << Narrow(f.name);

    // Back from the peer into an empty local folder.
    std::vector<TestFile> onServer;
    for (const auto& f : files) onServer.push_back(AsSource(f, serverFiles.file(f.name)));
    TempFolder incoming;
    CopyText(g_shell.localPath, incoming.path().c_str());
    ListLocalFolder(window);
    ASSERT_TRUE(SelectRows(g_shell.rightPane, NamesOf(files)));
    BatchWatch from = RunBatch(window, IDM_COPY_FROM, 90000);
    ASSERT_EQ(from.dialogs.size(), files.size());
    ExpectBatchStarts(from);
    for (const auto& r : from.dialogs) {
        EXPECT_EQ(r.source.rfind(serverFiles.path() + L"\\", 0), 0u) << Narrow(r.source);
        EXPECT_EQ(r.destination, incoming.path());
    }
    for (const auto& f : onServer) ExpectCopyOf(f, incoming.file(f.name));
    EXPECT_TRUE(TemporaryFiles(incoming.path()).empty());
    // The local folder was listed again after the batch.
    for (const auto& f : files) EXPECT_GE(FindRow(g_shell.leftPane, f.name), 0) << Narrow(f.name);
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_TRUE(ServerBoxes().empty());
}

TEST_F(TransferPair, TwentyMegabytesGoToThePeerAndComeBack) {
    Connect(33002);
    TestFile big = MakeFile(clientFiles.path(), L"big.dat", 20000000, 7);
    Relist();
    ASSERT_TRUE(SelectRows(g_shell.leftPane, {L"big.dat"}));
    BatchWatch to = RunBatch(window, IDM_COPY_TO, 90000, 200);
    ASSERT_EQ(to.dialogs.size(), 1u);
    // The running count was shown once a second.
    EXPECT_GE(to.dialogs[0].steps.size(), 2u);
    for (const auto& step : to.dialogs[0].steps) {
        EXPECT_EQ(step.size(), 11u) << Narrow(step);
        EXPECT_EQ(step.rfind(L"Step:", 0), 0u) << Narrow(step);
    }
    ASSERT_TRUE(PumpUntil([] { return State() == quorbel::Waiting; }, kWait));  // the peer's new listing
    ExpectCopyOf(big, serverFiles.file(L"big.dat"));

    TestFile onServer = AsSource(big, serverFiles.file(L"big.dat"));
    TempFolder incoming;
    CopyText(g_shell.localPath, incoming.path().c_str());
    ListLocalFolder(window);
    ASSERT_TRUE(PumpUntil([] { return State() == quorbel::Waiting; }, kWait));
    ASSERT_TRUE(SelectRows(g_shell.rightPane, {L"big.dat"}));
    BatchWatch from = RunBatch(window, IDM_COPY_FROM, 90000, 200);
    ASSERT_EQ(from.dialogs.size(), 1u);
    ExpectCopyOf(onServer, incoming.file(L"big.dat"));
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_TRUE(ServerBoxes().empty());
}

TEST_F(TransferPair, StopDuringACopyToThePeerKeepsItsOlderFileAndLeavesNoTemporary) {
    Connect(33003);
    MakeFile(clientFiles.path(), L"big.dat", 20000000, 3);
    TestFile older = MakeFile(serverFiles.path(), L"big.dat", 4321, 4);
    Relist();
    ASSERT_TRUE(SelectRows(g_shell.leftPane, {L"big.dat"}));
    bool temporarySeen = false;
    size_t boxesAtClose = 0;
    BatchWatch watch;
    watch.actions.push_back({0, [](const DialogRecord& r) { return GetTickCount() - r.opened > 200; },
                             [](HWND d) { Click(d, IDC_BUTTON_202); }});
    // While blocks go out: "閉じる" is refused, the older file is still
    // there, the new content only under the temporary name; then "停止".
    watch.actions.push_back({0,
                             [](const DialogRecord&) {
                                 return State() == quorbel::CallCopyTO &&
                                        TheProtocol().state.blockCounter.load() > 500;
                             },
                             [&](HWND d) {
                                 temporarySeen = FileExists(serverFiles.file(L"big.$TEMP"));
                                 Click(d, IDC_BUTTON_201);
                                 boxesAtClose = boxes.count();
                                 Click(d, IDC_BUTTON_203);
                             }});
    watch.Run([&] { OnMainCommand(window, IDM_COPY_TO); }, 60000);
    ASSERT_EQ(watch.dialogs.size(), 1u);
    EXPECT_TRUE(temporarySeen);
    ASSERT_EQ(boxesAtClose, 1u);
    EXPECT_EQ(boxes.last().text, L"転送中は操作不可！");
    EXPECT_EQ(boxes.last().caption, L"画面閉じる");
    EXPECT_EQ(boxes.last().owner, watch.dialogs[0].dialog);
    // The dialog closed by itself once the peer had acknowledged the stop.
    EXPECT_EQ(TheProtocol().state.stopFlag.load(), 0);
    EXPECT_LT(TheProtocol().state.blockCounter.load(), 20000);
    EXPECT_EQ(g_shell.copyCancelled, 0);
    ASSERT_TRUE(PumpUntil([&] { return !FileExists(serverFiles.file(L"big.$TEMP")); }, kWait));
    ExpectCopyOf(older, serverFiles.file(L"big.dat"));
    // Both sides are Waiting: the batch's listing of the peer went through.
    ASSERT_TRUE(PumpUntil([] { return State() == quorbel::Waiting; }, kWait));
    EXPECT_GE(FindRow(g_shell.rightPane, L"big.dat"), 0);
    EXPECT_TRUE(ServerBoxes().empty());
}

TEST_F(TransferPair, TheCloseBoxLeavesARunningCopyGoingAndCallsOffTheRestOfTheBatch) {
    Connect(33008);
    TestFile big = MakeFile(clientFiles.path(), L"big.dat", 6000000, 8);
    MakeFile(clientFiles.path(), L"next.dat", 100, 9);
    Relist();
    ASSERT_TRUE(SelectRows(g_shell.leftPane, {L"big.dat", L"next.dat"}));
    BatchWatch watch;
    watch.actions.push_back({0, [](const DialogRecord& r) { return GetTickCount() - r.opened > 200; },
                             [](HWND d) { Click(d, IDC_BUTTON_202); }});
    watch.actions.push_back({0,
                             [](const DialogRecord&) {
                                 return State() == quorbel::CallCopyTO &&
                                        TheProtocol().state.blockCounter.load() > 200;
                             },
                             [](HWND d) { PostMessageW(d, WM_CLOSE, 0, 0); }});
    watch.Run([&] { OnMainCommand(window, IDM_COPY_TO); }, 30000);
    ASSERT_EQ(watch.dialogs.size(), 1u);
    EXPECT_EQ(SelectedCount(g_shell.leftPane), 0);
    EXPECT_EQ(g_shell.copyCancelled, 0);
    // The copy goes on without its dialog and ends complete.
    EXPECT_EQ(State(), quorbel::CallCopyTO);
    ASSERT_TRUE(PumpUntil([] { return State() == quorbel::Waiting; }, 30000));
    // This side is Waiting once the end record is out; the peer then
    // finishes the file.
    ASSERT_TRUE(PumpUntil(
        [&] {
            FileTimes t;
            return GetTimes(serverFiles.file(L"big.dat"), t) && AsNumber(t.lastWrite) == AsNumber(big.times.lastWrite);
        },
        kWait));
    ExpectCopyOf(big, serverFiles.file(L"big.dat"));
    EXPECT_FALSE(FileExists(serverFiles.file(L"next.dat")));
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(TransferPair, CopyFromThePeerOfALockedFileOrAFolderEndsWithNakOnBothSides) {
    Connect(33004);
    serverFiles.write(L"locked.bin", std::string(3000, 'L'));
    CreateDirectoryW(serverFiles.file(L"sub").c_str(), nullptr);
    TestFile fine = MakeFile(serverFiles.path(), L"fine.bin", 2048, 5);
    Relist();
    TempFolder incoming;
    CopyText(g_shell.localPath, incoming.path().c_str());
    ListLocalFolder(window);
    {
        // Held open without sharing, as another program would.
        HANDLE lock = CreateFileW(serverFiles.file(L"locked.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(lock, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(SelectRows(g_shell.rightPane, {L"locked.bin", L"sub"}));
        BatchWatch watch = RunBatch(window, IDM_COPY_FROM, 30000, 200);
        CloseHandle(lock);
        ASSERT_EQ(watch.dialogs.size(), 2u);
        for (const auto& r : watch.dialogs) EXPECT_NE(r.started, 0u);
    }
    EXPECT_EQ(State(), quorbel::Waiting);
    EXPECT_FALSE(FileExists(incoming.file(L"locked.bin")));
    EXPECT_EQ(GetFileAttributesW(incoming.file(L"sub").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(TemporaryFiles(incoming.path()).empty());
    // The refusing side shows its NAK box, the requester nothing.
    EXPECT_EQ(boxes.count(), 0u);
    auto logged = ServerBoxes();
    ASSERT_EQ(logged.size(), 2u);
    for (const auto& line : logged) EXPECT_EQ(line.rfind("SEND-NAK\t", 0), 0u) << line;
    // Both are Waiting: the next copy goes through.
    ASSERT_TRUE(SelectRows(g_shell.rightPane, {L"fine.bin"}));
    BatchWatch next = RunBatch(window, IDM_COPY_FROM, 30000, 200);
    ASSERT_EQ(next.dialogs.size(), 1u);
    ExpectCopyOf(fine, incoming.file(L"fine.bin"));
}

TEST_F(TransferPair, BatchSkipsDriveAndOversizeRowsAndEndsWhenTheFirstDialogIsClosed) {
    Connect(33005);
    TestFile a = MakeFile(serverFiles.path(), L"a.bin", 10, 1);
    MakeFile(serverFiles.path(), L"b.bin", 20, 2);
    MakeFile(serverFiles.path(), L"c.bin", 30, 3);
    Relist();
    TempFolder incoming;
    CopyText(g_shell.localPath, incoming.path().c_str());
    ListLocalFolder(window);
    HWND pane = g_shell.rightPane;

    // Closed before its start: the other rows get no dialog and no copy.
    ASSERT_TRUE(SelectRows(pane, {L"a.bin", L"b.bin", L"c.bin"}));
    BatchWatch closed;
    closed.actions.push_back({0, [](const DialogRecord& r) { return GetTickCount() - r.opened > 200; },
                              [](HWND d) { Click(d, IDC_BUTTON_201); }});
    closed.Run([&] { OnMainCommand(window, IDM_COPY_FROM); }, 20000);
    EXPECT_EQ(closed.dialogs.size(), 1u);
    EXPECT_EQ(closed.dialogs[0].started, 0u);
    EXPECT_EQ(SelectedCount(pane), 0);
    EXPECT_EQ(g_shell.copyCancelled, 0);
    EXPECT_FALSE(FileExists(incoming.file(L"a.bin")));

    // A drive row and a row over 999,997,000 bytes take their passes with
    // their messages; the file after them starts by itself.
    auto insertRow = [&](int at, const wchar_t* name, const wchar_t* size) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = at;
        std::wstring n = name, s = size;
        item.pszText = n.data();
        int row = static_cast<int>(SendMessageW(pane, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        item.iItem = row;
        item.iSubItem = 2;
        item.pszText = s.data();
        SendMessageW(pane, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    };
    insertRow(0, L"d:\\", L"");
    insertRow(1, L"huge.iso", L"954M");
    ASSERT_TRUE(SelectRows(pane, {L"d:\\", L"huge.iso", L"a.bin"}));
    BatchWatch watch;
    watch.Run([&] { OnMainCommand(window, IDM_COPY_FROM); }, 20000);
    ASSERT_EQ(watch.dialogs.size(), 1u);
    ASSERT_NE(watch.dialogs[0].started, 0u);
    EXPECT_GE(watch.dialogs[0].started - watch.dialogs[0].opened, 850u);
    ExpectCopyOf(a, incoming.file(L"a.bin"));
    auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, L"ドライブは選べません");
    EXPECT_EQ(shown[0].caption, L"複写操作");
    EXPECT_EQ(shown[0].owner, window);
    EXPECT_EQ(shown[1].text, L"953Mbyteは出来ません");
    EXPECT_EQ(shown[1].caption, L"サイズ越え");
    EXPECT_EQ(shown[1].owner, nullptr);
    EXPECT_EQ(SelectedCount(pane), 0);
}

TEST_F(TransferPair, CreatesAFolderOnThePeerAndListsIt) {
    Connect(33006);
    serverFiles.write(L"x.txt", "x");
    Relist();
    SetRowSelected(g_shell.leftPane, -1, false);
    DriveModal([&] { OnMainCommand(window, IDM_REMOTE_MKDIR); return INT_PTR(1); },
               [](HWND d) {
                   SetDlgItemTextW(d, IDC_EDIT_231, L"made");
                   Click(d, IDC_BUTTON_202);
               });
    ASSERT_TRUE(PumpUntil([] { return State() == quorbel::Waiting && FindRow(g_shell.rightPane, L"made") >= 0; },
                          kWait));
    DWORD attributes = GetFileAttributesW(serverFiles.file(L"made").c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_GE(FindRow(g_shell.rightPane, L"x.txt"), 0);
    EXPECT_EQ(TextOf(g_shell.remoteHeader), serverFiles.path());
}

TEST_F(TransferPair, Screenshot) {
    Connect(33007);
    MakeFile(clientFiles.path(), L"photos.zip", 6000000, 1);
    MakeFile(clientFiles.path(), L"\u5831\u544a\u66f8.xlsx", 30000, 3);
    Relist();
    ASSERT_TRUE(SelectRows(g_shell.leftPane, {L"photos.zip", L"\u5831\u544a\u66f8.xlsx"}));
    BatchWatch watch;
    watch.actions.push_back({0, [](const DialogRecord& r) { return GetTickCount() - r.opened > 200; },
                             [](HWND d) { Click(d, IDC_BUTTON_202); }});
    // Once the count has been shown at least once.
    watch.actions.push_back({0,
                             [](const DialogRecord& r) {
                                 return r.steps.size() >= 2 && TheProtocol().state.blockCounter.load() > 0;
                             },
                             [](HWND d) { SaveScreenshot(d, L"copy_dialog_running"); }});
    watch.Run([&] { OnMainCommand(window, IDM_COPY_TO); }, 60000);
    ASSERT_EQ(watch.dialogs.size(), 2u);
    ASSERT_TRUE(PumpUntil([] { return State() == quorbel::Waiting; }, kWait));
    ASSERT_TRUE(PumpUntil([] { return FindRow(g_shell.rightPane, L"photos.zip") >= 0; }, kWait));
    SaveScreenshot(window, L"panes_after_copy_batch");
}

namespace {

// Whether this file system keeps a creation time that is set (Wine on
// Linux derives it from the other times instead).
bool CreationTimeKept(const TempFolder& folder) {
    const std::wstring probe = folder.file(L"probe.tmp");
    WriteBytes(probe, "p");
    FileTimes set = PastTimes(40), got;
    SetTimes(probe, set);
    GetTimes(probe, got);
    DeleteFileW(probe.c_str());
    return AsNumber(got.creation) == AsNumber(set.creation);
}

// The times a received file must carry: those of the end record, the
// creation time only where the file system keeps it.
void ExpectTimes(const std::wstring& path, const FileTimes& expected, bool creationKept) {
    SCOPED_TRACE(Narrow(path));
    FileTimes t;
    ASSERT_TRUE(GetTimes(path, t));
    EXPECT_EQ(AsNumber(t.lastWrite), AsNumber(expected.lastWrite));
    EXPECT_EQ(AsNumber(t.lastAccess), AsNumber(expected.lastAccess));
    if (creationKept) {
        EXPECT_EQ(AsNumber(t.creation), AsNumber(expected.creation));
    }
}

// A scripted Client of Quorbel.exe (the Server): exact bytes both ways.
class RawClientOfServer : public ::testing::Test {
protected:
    void Start(int port) {
        server = std::make_unique<QuorbelProcess>(ServerSettings(port) + L"currentdirectory_r=" + files.path() +
                                                  L"\r\n");
        ASSERT_TRUE(server->started());
        ASSERT_TRUE(peer.Connect(port, 30000)) << "Quorbel.exe did not listen";
        ASSERT_TRUE(ClientHandshake(peer, Ansi(files.path())));
    }
    void TearDown() override {
        peer.Close();
        server.reset();
    }
    // Sends `bytes` to the Server as the file `path` ("FD", blocks, end).
    void SendFile(const std::wstring& path, const std::string& bytes, const FileTimes& times) {
        peer.Send("FD" + Ansi(path));
        ASSERT_EQ(peer.Receive(kWait), "ACK");
        for (size_t at = 0, n = 0; at < bytes.size(); at += 1000, ++n) {
            peer.Send(Block("FR", static_cast<int>(n), bytes.substr(at, 1000)));
            ASSERT_EQ(peer.Receive(kWait), "ACK") << "block " << n;
        }
        peer.Send(EndRecord("FR", times));
        // The end record is not answered; the file appears under its name
        // with the sent times (an older file of that name is replaced).
        ASSERT_TRUE(PumpUntil(
            [&] {
                FileTimes t;
                return GetTimes(path, t) && AsNumber(t.lastWrite) == AsNumber(times.lastWrite);
            },
            kWait));
    }

    WinsockSession winsock;
    TempFolder files;
    std::unique_ptr<QuorbelProcess> server;
    PeerSocket peer;
};

}  // namespace

TEST_F(RawClientOfServer, ReceivesAndSendsEverySizeBlockForBlock) {
    Start(33010);
    const bool creationKept = CreationTimeKept(files);
    int salt = 10;
    for (size_t size : {0u, 1u, 999u, 1000u, 1001u, 2500u, 3000u, 1048583u}) {
        SCOPED_TRACE("size " + std::to_string(size));
        const std::wstring path = files.file(L"s" + std::to_wstring(size) + L".bin");
        const std::string bytes = RandomBytes(size, static_cast<uint32_t>(size + 1));
        const FileTimes times = PastTimes(salt++);

        // To the Server: an ACK per block, nothing to the end record.
        SendFile(path, bytes, times);
        ExpectTimes(path, times, creationKept);
        EXPECT_EQ(FileSha256(path), Sha256Hex(bytes));
        EXPECT_TRUE(TemporaryFiles(files.path()).empty());

        // From the Server: blocks of 1000 numbered from 0, the last one
        // shorter, then the end record with the file's times.
        FileTimes before;
        peer.Send("FC" + Ansi(path));
        std::string received;
        for (int n = 0; n * 1000 < static_cast<int>(size); ++n) {
            std::string block = peer.Receive(kWait);
            const size_t expected = std::min<size_t>(1000, size - n * 1000);
            ASSERT_EQ(block.size(), 8 + expected) << "block " << n;
            ASSERT_EQ(block.substr(0, 8), Block("FB", n, ""));
            received += block.substr(8);
            peer.Send("ACK");
        }
        std::string end = peer.Receive(kWait);
        ASSERT_EQ(end.size(), 32u);
        EXPECT_EQ(end.substr(0, 8), "FB999999");
        EXPECT_EQ(Sha256Hex(received), Sha256Hex(bytes));
        ASSERT_TRUE(GetTimes(path, before));
        EXPECT_EQ(Describe(TimesOfEndRecord(end)), Describe(before));
        EXPECT_EQ(AsNumber(TimesOfEndRecord(end).lastWrite), AsNumber(times.lastWrite));
        if (size == 0) {
            // An empty file is its end record alone: no NAK after it.
            EXPECT_EQ(peer.Receive(500), "");
        }
    }
    EXPECT_TRUE(server->Boxes().empty());
}

TEST_F(RawClientOfServer, TemporaryNamesStopAndCutKeepTheOlderFile) {
    Start(33011);
    const std::wstring finalName = files.file(L"keep.txt");
    const std::string older = RandomBytes(1500, 1);
    ASSERT_TRUE(WriteBytes(finalName, older));
    const FileTimes olderTimes = PastTimes(2);
    ASSERT_TRUE(SetTimes(finalName, olderTimes));
    const std::string fresh = RandomBytes(5000, 2);
    auto olderKept = [&] {
        FileTimes t;
        EXPECT_TRUE(GetTimes(finalName, t));
        EXPECT_EQ(AsNumber(t.lastWrite), AsNumber(olderTimes.lastWrite));
        EXPECT_EQ(FileSha256(finalName), Sha256Hex(older));
    };

    // Until the end record the new content lives under the temporary name.
    peer.Send("FD" + Ansi(finalName));
    ASSERT_EQ(peer.Receive(kWait), "ACK");
    for (int n = 0; n < 3; ++n) {
        peer.Send(Block("FR", n, fresh.substr(n * 1000, 1000)));
        ASSERT_EQ(peer.Receive(kWait), "ACK");
    }
    // (held open without sharing by the Server: only its size can be seen)
    EXPECT_EQ(FileSize(files.file(L"keep.$TEMP")), 3000u);
    olderKept();
    // A stop: acknowledged, the temporary file deleted, the older file kept.
    peer.Send("FRDTSTOP");
    ASSERT_EQ(peer.Receive(kWait), "ACK");
    EXPECT_FALSE(FileExists(files.file(L"keep.$TEMP")));
    olderKept();

    // A name without any "." and a dot in a folder name.
    CreateDirectoryW(files.file(L"old.data").c_str(), nullptr);
    const std::wstring inFolder = files.file(L"old.data\\readme");
    peer.Send("FD" + Ansi(inFolder));
    ASSERT_EQ(peer.Receive(kWait), "ACK");
    peer.Send(Block("FR", 0, "first"));
    ASSERT_EQ(peer.Receive(kWait), "ACK");
    EXPECT_TRUE(FileExists(files.file(L"old.$TEMP")));
    peer.Send(EndRecord("FR", PastTimes(3)));
    ASSERT_TRUE(PumpUntil([&] { return FileExists(inFolder); }, kWait));
    EXPECT_EQ(ReadFileBytes(inFolder), "first");
    EXPECT_FALSE(FileExists(files.file(L"old.$TEMP")));
    const std::wstring noDot = files.file(L"NODOT");
    peer.Send("FD" + Ansi(noDot));
    ASSERT_EQ(peer.Receive(kWait), "ACK");
    peer.Send(Block("FR", 0, "second"));
    ASSERT_EQ(peer.Receive(kWait), "ACK");
    EXPECT_TRUE(FileExists(files.file(L"NODOT.$TEMP")));
    peer.Send(EndRecord("FR", PastTimes(4)));
    ASSERT_TRUE(PumpUntil([&] { return FileExists(noDot); }, kWait));
    EXPECT_EQ(ReadFileBytes(noDot), "second");

    // The connection cut in the middle: the Server closes and deletes its
    // temporary file; the older file stays as it was.
    peer.Send("FD" + Ansi(finalName));
    ASSERT_EQ(peer.Receive(kWait), "ACK");
    for (int n = 0; n < 2; ++n) {
        peer.Send(Block("FR", n, fresh.substr(n * 1000, 1000)));
        ASSERT_EQ(peer.Receive(kWait), "ACK");
    }
    ASSERT_TRUE(FileExists(files.file(L"keep.$TEMP")));
    peer.Close();
    EXPECT_TRUE(PumpUntil([&] { return !FileExists(files.file(L"keep.$TEMP")); }, kWait));
    olderKept();

    // The next Client finds the Server Waiting.
    ASSERT_TRUE(peer.Connect(33011, kWait));
    ASSERT_TRUE(ClientHandshake(peer, Ansi(files.path())));
    SendFile(finalName, fresh, PastTimes(5));
    EXPECT_EQ(FileSha256(finalName), Sha256Hex(fresh));
    EXPECT_TRUE(server->Boxes().empty());
}

namespace {

// This process's main window as the Client of a scripted Server: the
// script runs on its own thread while the window thread serves dialogs.
class RawServerOfWindow : public ::testing::Test {
protected:
    void SetUp() override { ResetProtocolForTest(); }
    void TearDown() override {
        peer.Close();
        if (g_shell.connectionOpen == 1 && window && IsWindow(window)) CloseConnection(window);
        DestroyMainWindow(window);
        ResetProtocolForTest();
    }
    // Listens, lets the window connect in command mode and answers its
    // first listing request with these records (without "DR999999").
    void Connect(int port, const std::vector<std::string>& records) {
        ASSERT_TRUE(listener.Listen(port));
        WriteConsentedSettings(clientFiles.path(), ClientSettings(port));
        window = CreateMainWindowIn(clientFiles.path(), true);
        ASSERT_NE(window, nullptr);
        CopyText(g_shell.remotePath, remoteFolder.c_str());
        ASSERT_TRUE(PumpUntil([] { return g_shell.connectionOpen == 1; }, 10000));
        peer = listener.Accept(kWait);
        ASSERT_TRUE(peer.valid());
        bool listed = false;
        RunWhilePumping([&] {
            if (peer.Receive(kWait) != "DD" + Ansi(remoteFolder)) return;
            for (const auto& r : records) {
                peer.Send(r);
                if (peer.Receive(kWait) != "ACK") return;
            }
            listed = peer.Send("DR999999");
        });
        ASSERT_TRUE(listed);
        ASSERT_TRUE(PumpUntil([] { return State() == quorbel::Waiting; }, kWait));
    }

    WinsockSession winsock;
    BoxRecorder boxes;
    TempFolder clientFiles;
    PeerSocket listener, peer;
    const std::wstring remoteFolder = L"D:\\far away";
    HWND window = nullptr;
};

}  // namespace

TEST_F(RawServerOfWindow, ConnectionCutDuringACopyFromThePeerDeletesTheTemporaryFile) {
    Connect(33012, {"DR000000far.bin,2024/01/02 03:04,2500,8"});
    ASSERT_TRUE(SelectRows(g_shell.rightPane, {L"far.bin"}));
    std::atomic<bool> requestRight{false}, temporarySeen{false}, cut{false};
    std::thread script([&] {
        requestRight = peer.Receive(kWait) == "FC" + Ansi(remoteFolder + L"\\far.bin");
        for (int n = 0; n < 2 && requestRight; ++n) {
            peer.Send(Block("FB", n, RandomBytes(1000, static_cast<uint32_t>(n))));
            if (peer.Receive(kWait) != "ACK") return;
        }
        temporarySeen = FileExists(clientFiles.file(L"far.$TEMP"));
        peer.Close();
        cut = true;
    });
    BatchWatch watch = RunBatch(window, IDM_COPY_FROM, 20000, 200);
    script.join();
    EXPECT_TRUE(requestRight);
    EXPECT_TRUE(temporarySeen);
    ASSERT_TRUE(cut);
    // The lost connection ended the copy: the dialog closed by itself, the
    // half-received file is gone and no final file was made.
    ASSERT_EQ(watch.dialogs.size(), 1u);
    EXPECT_EQ(State(), quorbel::Waiting);
    EXPECT_FALSE(FileExists(clientFiles.file(L"far.$TEMP")));
    EXPECT_FALSE(FileExists(clientFiles.file(L"far.bin")));
    EXPECT_EQ(FindRow(g_shell.leftPane, L"far.bin"), -1);
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(RawServerOfWindow, StartAndCloseAreRefusedWhileThePeerFetchesAFileFromThisSide) {
    Connect(33013, {});
    TestFile out = MakeFile(clientFiles.path(), L"out.bin", 2500, 21);
    TestFile asked = MakeFile(clientFiles.path(), L"asked.bin", 3000, 22);
    ListLocalFolder(window);
    ASSERT_TRUE(SelectRows(g_shell.leftPane, {L"out.bin"}));

    std::atomic<bool> dialogUp{false}, fetching{false}, refused{false}, fetched{false}, done{false};
    std::string fetchedBytes, fetchedEnd, sentBytes, sentEnd, request, relist;
    std::thread script([&] {
        const DWORD end = GetTickCount() + 20000;
        auto waitFor = [&](std::atomic<bool>& flag) {
            while (!flag && GetTickCount() < end) Sleep(10);
            return flag.load();
        };
        // The peer fetches a file from this side while the dialog waits.
        if (!waitFor(dialogUp)) return;
        peer.Send("FC" + Ansi(clientFiles.file(L"asked.bin")));
        std::string block = peer.Receive(kWait);
        fetchedBytes += block.size() > 8 ? block.substr(8) : "";
        fetching = true;
        if (!waitFor(refused)) return;
        for (int n = 1; n < 4; ++n) {
            peer.Send("ACK");
            block = peer.Receive(kWait);
            if (block.compare(0, 8, "FB999999") == 0) {
                fetchedEnd = block;
                break;
            }
            fetchedBytes += block.size() > 8 ? block.substr(8) : "";
        }
        if (fetchedEnd.empty()) fetchedEnd = peer.Receive(kWait);
        fetched = true;
        // Then the dialog's own copy to this peer.
        request = peer.Receive(10000);
        peer.Send("ACK");
        for (int n = 0; n < 10; ++n) {
            block = peer.Receive(kWait);
            if (block.compare(0, 8, "FR999999") == 0) {
                sentEnd = block;
                break;
            }
            if (block.compare(0, 8, Block("FR", n, "")) != 0) return;
            sentBytes += block.substr(8);
            peer.Send("ACK");
        }
        // The batch lists this folder again.
        relist = peer.Receive(kWait);
        peer.Send("DR999999");
        done = true;
    });

    BatchWatch watch;
    watch.actions.push_back({0, [](const DialogRecord& r) { return GetTickCount() - r.opened > 200; },
                             [&](HWND) { dialogUp = true; }});
    watch.actions.push_back({0, [&](const DialogRecord&) { return fetching && State() == quorbel::RequestCopyFrom; },
                             [&](HWND d) {
                                 Click(d, IDC_BUTTON_202);
                                 Click(d, IDC_BUTTON_201);
                                 refused = true;
                             }});
    watch.actions.push_back({0, [&](const DialogRecord&) { return fetched && State() == quorbel::Waiting; },
                             [](HWND d) { Click(d, IDC_BUTTON_202); }});
    watch.Run([&] { OnMainCommand(window, IDM_COPY_TO); }, 30000);
    script.join();

    ASSERT_EQ(watch.dialogs.size(), 1u);
    // Both refusals, owned by the dialog, and no request while refused.
    auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 2u);
    for (const auto& b : shown) {
        EXPECT_EQ(b.text, L"転送中は操作不可！");
        EXPECT_EQ(b.caption, L"画面閉じる");
        EXPECT_EQ(b.owner, watch.dialogs[0].dialog);
    }
    // The fetched file: its bytes, then its times in the end record.
    EXPECT_EQ(Sha256Hex(fetchedBytes), asked.sha);
    ASSERT_EQ(fetchedEnd.size(), 32u);
    EXPECT_EQ(Describe(TimesOfEndRecord(fetchedEnd)), Describe(asked.times));
    // The dialog's copy, started only once this side was Waiting again.
    EXPECT_EQ(request, "FD" + Ansi(remoteFolder + L"\\out.bin"));
    EXPECT_EQ(Sha256Hex(sentBytes), out.sha);
    ASSERT_EQ(sentEnd.size(), 32u);
    EXPECT_EQ(Describe(TimesOfEndRecord(sentEnd)), Describe(out.times));
    EXPECT_EQ(relist, "DD" + Ansi(remoteFolder));
    EXPECT_TRUE(done);
}
