// The rules both panes, the commands and the settings files follow.
#include <gtest/gtest.h>

#include <map>

#include "core/copy/copy_batch.h"
#include "core/copy/tree_plan.h"
#include "core/panes/command_rules.h"
#include "core/panes/folder_rows.h"
#include "core/panes/row_rules.h"
#include "core/base/path_rules.h"
#include "core/settings/settings.h"
#include "core/base/socket_errors.h"
#include "fake_host.h"

using namespace quorbel;
using namespace quorbel::testing;

namespace {

TEST(RowTexts, SizeDateAndImage) {
    const std::pair<uint64_t, const char16_t*> sizes[] = {
        {0, u"0"}, {10239, u"10239"}, {10240, u"10K"}, {10485759, u"10239K"}, {10485760, u"10M"},
        {10737418239ULL, u"10239M"}, {10737418240ULL, u"10G"}, {10995116277759ULL, u"10239G"},
        {10995116277760ULL, u"10T"}, {~0ULL, u"16777215T"},
    };
    for (auto& [n, text] : sizes) EXPECT_EQ(FormatSizeText(n), text) << n;
    EXPECT_EQ(FormatDateText({2024, 3, 5, 9, 7}), u"2024/03/05 09:07");

    // The tests run in the order ".", folder, archive, compressed.
    EXPECT_EQ(RowImageIndex(kAttrDirectory, u".."), 0);
    EXPECT_EQ(RowImageIndex(kAttrDirectory | kAttrArchive, u"dir"), 1);
    EXPECT_EQ(RowImageIndex(kAttrCompressed | kAttrArchive, u"a.z"), 8);
    EXPECT_EQ(RowImageIndex(kAttrCompressed, u"a.z"), 7);
    EXPECT_EQ(RowImageIndex(0x80, u"plain"), 9);
    const int drives[][2] = {{kDriveFixed, 2}, {kDriveCdrom, 3}, {kDriveRemovable, 4}, {kDriveRemote, 5},
                             {kDriveRamdisk, 6}, {kDriveUnknown, -1}, {kDriveNoRootDir, -1}};
    for (auto& d : drives) EXPECT_EQ(DriveImageIndex(d[0]), d[1]);
    for (int image = 0; image < 10; ++image) EXPECT_EQ(IsDriveImage(image), image >= 2 && image <= 6) << image;
}

TEST(RowTexts, BothPanesAndTheTableBuildRowsAlike) {
    FakeHost source;
    source.drives = {{u'c', kDriveFixed}, {u'd', kDriveFixed}, {u'e', kDriveCdrom}};
    FolderEntry unknownTime = Entry(u"odd.bin", kAttrArchive, 5);
    unknownTime.lastWriteKnown = false;
    FolderEntry unreadable = Entry(u"locked.bin", kAttrArchive, 5);
    unreadable.sizeKnown = false;
    source.folders[u"C:\\"] = {Entry(u".", kAttrDirectory, 9), Entry(u"plain", kAttrDirectory, 9),
                               Entry(u"hidden", kAttrDirectory | 0x2, 0), unknownTime, unreadable};
    std::vector<PaneRow> rows;
    CollectFolderRows(source, u"C:\\", [&](const PaneRow& r) {
        rows.push_back(r);
        return true;
    });
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0].name, u"d:\\");  // the listed drive itself is not offered
    EXPECT_EQ(rows[1].image, 3);
    EXPECT_EQ(rows[1].date, u"");
    EXPECT_EQ(rows[2].size, u"");  // "." has no size, nor a plain folder
    EXPECT_EQ(rows[3].size, u"");
    EXPECT_EQ(rows[4].size, u"0");  // a folder with more bits shows one
    EXPECT_EQ(rows[5].date, u"");   // a time that could not be converted
    EXPECT_EQ(rows[5].size, u"5");
    EXPECT_EQ(rows[6].size, u"");  // a size that could not be read
    EXPECT_EQ(FormatRecord(7, rows[0]), u"DR000007d:\\,,,2");
    EXPECT_EQ(FormatRecord(8, rows[5]), u"DR000008odd.bin,,5,8");
    EXPECT_TRUE(rows[0].exact && rows[5].exact && rows[5].bytes == 5 && rows[6].lastWriteTime == 133540000000000005);
    // Read a row at a time, the search kept open between them: the same rows.
    FolderRowReader reader(source, u"C:\\");
    PaneRow row;
    for (const PaneRow& r : rows) EXPECT_TRUE(reader.Next(row) && row.name == r.name && row.date == r.date);
    EXPECT_FALSE(reader.Next(row));

    // Away from a drive root no drive rows come; a stop ends the walk.
    rows.clear();
    source.folders[u"C:\\data"] = {Entry(u"a", kAttrArchive), Entry(u"b", kAttrArchive)};
    CollectFolderRows(source, u"C:\\data", [&](const PaneRow& r) {
        rows.push_back(r);
        return false;
    });
    EXPECT_EQ(rows.size(), 1u);
    EXPECT_FALSE(CollectFolderRows(source, u"C:\\none", [](const PaneRow&) { return true; }));
}

TEST(TextRules, CompareReadAndSizeTexts) {
    EXPECT_EQ(CompareNoCase(u"ABC", u"abc"), 0);
    EXPECT_LT(CompareNoCase(u"", u"a"), 0);
    EXPECT_LT(CompareNoCase(u"100", u"10K"), 0);  // sizes sort as text: 100, 10K, 9
    EXPECT_LT(CompareNoCase(u"10K", u"9"), 0);
    EXPECT_NE(CompareNoCase(u"\u00C4", u"\u00E4"), 0);
    EXPECT_LT(CompareNoCase(u"_", u"a"), 0);
    const std::pair<const char16_t*, int32_t> numbers[] = {
        {u"", 0}, {u" ", 0}, {u"abc", 0}, {u"  -1x", -1}, {u"+7", 7}, {u"\r\t5", 5},
        {u"99999999999", 2147483647}, {u"-99999999999", -2147483647 - 1},
    };
    for (auto& [text, value] : numbers) EXPECT_EQ(ParseLeadingInt(text), value) << value;
    EXPECT_EQ(SizeTextBytes(u"953M"), 999292928u);
    EXPECT_EQ(SizeTextBytes(u"12T"), 12ULL << 40);
    EXPECT_EQ(SizeTextBytes(u"10239"), 10239u);
    EXPECT_EQ(SizeTextBytes(u"5K"), 5120u);
    EXPECT_EQ(SizeTextBytes(u"-3K"), 0u);
    for (const char16_t* root : {u"C:\\", u"d:\\"}) EXPECT_TRUE(IsDriveRoot(root));
    for (const char16_t* other : {u"C:", u"C:\\a", u"C:/", u"C\\:", u""}) EXPECT_FALSE(IsDriveRoot(other));
}

TEST(CopyCommand, SizeLimitFollowsTheMode) {
    for (const char16_t* fits : {u"", u"0", u"953M", u"999997000"})
        EXPECT_TRUE(CopySizeAllowed(fits, kMaxPlainCopyBytes)) << fits;
    for (const char16_t* over : {u"999997001", u"954M", u"3000M", u"15G", u"12T", u"99999999999T"})
        EXPECT_FALSE(CopySizeAllowed(over, kMaxPlainCopyBytes));
    EXPECT_TRUE(CopySizeAllowed(u"975G", kMaxFastCopyBytes));
    EXPECT_FALSE(CopySizeAllowed(u"977G", kMaxFastCopyBytes));
}

TEST(FolderDialog, NameChecksRunInOrderWithinTheBudget) {
    EXPECT_EQ(CheckFolderName(u"", 7), FolderNameCheck::kEmpty);
    for (const char16_t* bad : {u"new.folder", u"a\\b", u".x"})
        EXPECT_EQ(CheckFolderName(bad, 7), FolderNameCheck::kBadCharacter);
    EXPECT_EQ(CheckFolderName(u16(300, u'.'), 7), FolderNameCheck::kBadCharacter);
    EXPECT_EQ(CheckFolderName(u"   ", 7), FolderNameCheck::kAccepted);
    EXPECT_EQ(CheckFolderName(u16(241, u'n'), 7), FolderNameCheck::kAccepted);  // C:\data
    EXPECT_EQ(CheckFolderName(u16(242, u'n'), 7), FolderNameCheck::kTooLong);
    EXPECT_EQ(CheckFolderName(u"n", 248), FolderNameCheck::kTooLong);
    EXPECT_EQ(u16(FolderNameMessage(FolderNameCheck::kEmpty).text), u"文字を入力して下さい");
    EXPECT_EQ(u16(FolderNameMessage(FolderNameCheck::kTooLong).text), u"入力文字にエラー！");
}

TEST(Paths, OneBoundedJoin) {
    EXPECT_EQ(JoinPath(u"C:\\", u"new"), u"C:\\\\new");  // exactly so, also at a root
    EXPECT_EQ(JoinEntryPath(u"C:\\", u"a.txt"), u"C:\\a.txt");
    EXPECT_EQ(JoinEntryPath(u"C:\\data", u"a.txt"), u"C:\\data\\a.txt");
    const u16 folder = u"C:\\" + u16(250, u'a');
    EXPECT_EQ(JoinPath(folder, u"12345")->size(), 259u);
    EXPECT_FALSE(JoinPath(folder, u"123456").has_value());
    EXPECT_FALSE(JoinEntryPath(folder, u"123456").has_value());
    EXPECT_EQ(FileNameOf(u"C:\\data\\x.bin"), u"x.bin");
    EXPECT_EQ(FileNameOf(u"x.bin"), u"x.bin");
}

TEST(Paths, APeersNameNamesAFileInsideTheFolderOnly) {
    for (const char16_t* plain : {u"報告.txt", u"a b", u"..x", u"CONSOLE", u"com10", u"lptx.txt", u".profile"})
        EXPECT_TRUE(IsPlainFileName(plain)) << FakeCodec().ToAnsi(plain);
    for (const char16_t* bad : {u"", u".", u"..", u"../../x.exe", u"..\\x", u"C:x", u"a:s", u"a\tb", u"x\x7f", u"a?",
                                u"<a>", u"x.exe.", u"x ", u"CON", u"nul.txt", u"Com1", u"LPT9.log", u"lpt0.txt",
                                u"aux .c", u"com\u00B9", u"CONOUT$"})
        EXPECT_FALSE(IsPlainFileName(bad)) << FakeCodec().ToAnsi(bad);
}

TEST(Paths, DoubleClicksMoveAlongTheTree) {
    struct Case {
        const char16_t *path, *name;
        RowOpenOutcome outcome;
        const char16_t* result;
    } cases[] = {
        {u"C:\\data\\work", u"..", RowOpenOutcome::kNewPath, u"C:\\data"},
        {u"C:\\data", u".", RowOpenOutcome::kNewPath, u"C:\\"},  // "." goes up too
        {u"C:\\", u"..", RowOpenOutcome::kNewPath, u"C:\\"},
        {u"\\data", u"..", RowOpenOutcome::kNewPath, u""},  // the first character is never looked at
        {u"\\\\srv", u"..", RowOpenOutcome::kNewPath, u"\\"},
        {u"C:\\", u"d:\\", RowOpenOutcome::kNewPath, u"d:\\"},
        {u"C:\\", u"new", RowOpenOutcome::kNewPath, u"C:\\new"},
        {u"C:\\data", u"new", RowOpenOutcome::kNewPath, u"C:\\data\\new"},
        {u"C:", u"new", RowOpenOutcome::kNewPath, u"C:\\new"},
        {u"C", u"new", RowOpenOutcome::kNewPath, u"C:\\new"},
        {u"", u"new", RowOpenOutcome::kNewPath, u"new"},
        {u"C:\\", u"ab\\", RowOpenOutcome::kNewPath, u"C:\\ab\\"},
        {u"C:\\data", u"README", RowOpenOutcome::kNewPath, u"C:\\data\\README"},
        {u"C:\\data", u"x.abcd", RowOpenOutcome::kNewPath, u"C:\\data\\x.abcd"},
        {u"C:\\data", u".abcd", RowOpenOutcome::kNewPath, u"C:\\data\\.abcd"},
        {u"C:\\data", u"report.txt", RowOpenOutcome::kFileWarning, u"C:\\data"},
        {u"C:\\data", u"app.old", RowOpenOutcome::kFileWarning, u"C:\\data"},
        {u"C:\\data", u"ab.", RowOpenOutcome::kFileWarning, u"C:\\data"},
        {u"C:\\data", u"", RowOpenOutcome::kIgnored, u"C:\\data"},
    };
    for (const Case& c : cases) {
        const RowOpenResult r = OpenRowPath(c.path, c.name);
        EXPECT_EQ(r.outcome, c.outcome) << c.name;
        EXPECT_EQ(r.path, c.result) << c.name;
    }
    const u16 deep = u"C:\\" + u16(250, u'a');
    EXPECT_EQ(OpenRowPath(deep, u"folder").outcome, RowOpenOutcome::kTooLong);
    EXPECT_EQ(OpenRowPath(deep, u"folder").path, deep);
    EXPECT_EQ(OpenRowPath(deep, u"fold").path.size(), 258u);
}

TEST(SocketErrors, TextsByExactCode) {
    EXPECT_EQ(SocketErrorText(10048), u"IPアドレス\uFF0Bポート番号は既に使用されています。");
    EXPECT_EQ(SocketErrorText(10061), u"接続が拒否されました。");
    EXPECT_EQ(SocketErrorText(10060), u"接続がタイムアウトしました。");
    EXPECT_EQ(SocketErrorText(8), u"使\u2F64可能なメモリが不\u2F9Cしています。");
    EXPECT_EQ(SocketErrorText(10063), u"名前が\u2ED1すぎます。");
    EXPECT_EQ(SocketErrorText(10053), u"ソフトウェアによって接続の中止が発生しました。");  // 中止, not the radical
    EXPECT_EQ(SocketErrorText(10102), SocketErrorText(10110));
    EXPECT_EQ(SocketErrorText(10103), SocketErrorText(10111));
    EXPECT_NE(SocketErrorText(10102), SocketErrorText(10103));
    for (int32_t code : {6, 87, 995, 996, 997, 10112}) EXPECT_NE(SocketErrorText(code), u"その他エラー") << code;
    for (int32_t code : {0, -1, 10113, 11001, 11004, 10010, 10012, 10015, 10021, 10023, 10025, 10034, 10072,
                         10090, 10094, 10100, INT32_MIN, INT32_MAX})
        EXPECT_EQ(SocketErrorText(code), u"その他エラー") << code;
    const std::vector<int32_t> codes = SocketErrorCodes();
    EXPECT_EQ(codes.size(), 64u);
    for (int32_t code : codes) EXPECT_LT(SocketErrorText(code).size(), 32u) << code;
}

TEST(Texts, FormatsFillPlaceholdersInOrder) {
    EXPECT_EQ(FormatText(texts::kConnectFailed.text, {10061, u"接続が拒否されました。"}),
              u"接続エラー(ErrNo.10061)\r\n接続が拒否されました。\r\n相手側を先にOPENして下さい\r\n再接続はYES、接続しないはNO");
    EXPECT_EQ(FormatText(u"%d/%d %s", {1, -2}), u"1/-2 %s");  // a missing value leaves its placeholder
    EXPECT_EQ(FormatText(u"100%", {}), u"100%");
    EXPECT_EQ(FormatText(u"%s", {5}), u"%s");  // a value of the other kind too
    EXPECT_EQ(FormatText(u"ads %d", {1}), u"ads 1");
    EXPECT_EQ(SizeLimitText(kMaxPlainCopyBytes) + SizeLimitText(kMaxFastCopyBytes) + SizeLimitText(1ULL << 30) +
                  SizeLimitText(1ULL << 40),
              u"953Mbyte976Gbyte1Gbyte1Tbyte");
    std::map<u16, int> seen;
    for (const BoxText& box : AllBoxTexts()) ++seen[u16(box.text) + u"|" + (box.caption ? box.caption : u"")];
    for (const auto& [key, count] : seen) EXPECT_EQ(count, 1) << "a box listed twice";
}

// ---- Settings files ---------------------------------------------------------

class MemoryIni : public IniSection {
public:
    std::vector<std::pair<u16, u16>> written;  // in order
    std::map<u16, u16> values;
    int32_t ReadInt(u16view key, int32_t fallback) override {
        auto it = values.find(u16(key));
        return it == values.end() ? fallback : ParseLeadingInt(it->second);
    }
    u16 ReadText(u16view key, u16view fallback, std::size_t maxChars) override {
        auto it = values.find(u16(key));
        return (it == values.end() ? u16(fallback) : it->second).substr(0, maxChars);
    }
    void WriteText(u16view key, u16view value) override {
        written.emplace_back(key, value);
        values[u16(key)] = value;
    }
};

// Protection that marks the text; "bad" cannot be opened.
class MarkingVault : public CredentialVault {
public:
    u16 Protect(u16view plain) override { return u"P:" + u16(plain); }
    bool Unprotect(u16view text, u16& plain) override {
        if (text.substr(0, 2) != u"P:") return false;
        plain = text.substr(2);
        return true;
    }
};

TEST(SettingsFile, EveryKeyRoundTripsUnderItsOwnName) {
    MemoryIni ini;
    MarkingVault vault;
    const LocalDate today{2026, 1, 26};
    Settings loaded;
    LoadSettings(ini, vault, today, loaded);
    EXPECT_EQ(loaded.localFolder, u"C:\\");
    EXPECT_EQ(loaded.port, 1050);
    EXPECT_EQ(loaded.storedId, u"QB2026");
    EXPECT_EQ(loaded.storedPw, u"PW126");
    EXPECT_EQ(loaded.fastMode + loaded.loginRequired + loaded.pairProposed, 3);  // the date's pair is the proposed one
    EXPECT_EQ(loaded.requireSecure, 0);

    Settings s;
    s.localFolder = u"D:\\work";
    s.remoteFolder = u"E:\\peer";
    s.serverMode = 1;
    s.port = 2050;
    s.targetAddress = {10, 20, 30, 300};
    s.monitorRecording = 2;
    s.usePcName = 1;
    s.pcNames = {u"one", u"", u"three", u"four"};
    s.companionLaunch = 1;
    s.storedId = u"QB12x";  // the date's form but for one character
    s.storedPw = u"PW126";
    s.consent = 1;
    s.fastMode = 0;
    s.loginRequired = 0;
    s.securePeers = u"10.20.30.44:2050;";
    s.requireSecure = 1;
    s.pairSalt = PairSaltText(std::string("\x00\x01\xfe\xff" "0123456789ab", 16));
    s.pairProposed = 1;  // but the pair is not wholly of the date's form
    SaveSettings(ini, vault, s);
    const char16_t* keys[] = {
        u"currentdirectory_r", u"currentdirectory_w", u"ip_mode", u"port_no", u"ip_no1", u"ip_no2", u"ip_no3",
        u"ip_no4", u"sendreadmonitor_on", u"pc_name", u"pc_name_wcs[0].pn", u"pc_name_wcs[1].pn",
        u"pc_name_wcs[2].pn", u"pc_name_wcs[3].pn", u"pw_mode", u"dipa", u"wppa", u"doui_mode", u"fast_mode",
        u"login_required", u"secure_peers", u"require_secure", u"pair_salt", u"pair_proposed",
    };
    ASSERT_EQ(ini.written.size(), std::size(keys));
    for (std::size_t i = 0; i < std::size(keys); ++i) EXPECT_EQ(ini.written[i].first, keys[i]);
    EXPECT_EQ(ini.values[u"ip_no4"], u"300");
    EXPECT_EQ(ini.values[u"dipa"], u"P:QB12x");
    EXPECT_EQ(ini.values[u"pair_salt"], u"0001feff303132333435363738396162");

    Settings back;
    LoadSettings(ini, vault, today, back);
    EXPECT_EQ(back.localFolder, s.localFolder);
    EXPECT_EQ(back.remoteFolder, u"C:\\");  // the right pane always starts at C:\ .
    EXPECT_EQ(back.targetAddress, s.targetAddress);
    EXPECT_EQ(back.monitorRecording, 2);
    EXPECT_EQ(back.pcNames, s.pcNames);
    EXPECT_EQ(back.storedId, u"QB12x");
    EXPECT_EQ(back.storedPw, u"PW126");
    EXPECT_EQ(std::tie(back.serverMode, back.port, back.usePcName, back.companionLaunch, back.consent, back.fastMode,
                       back.loginRequired, back.securePeers, back.requireSecure, back.pairSalt),
              std::tie(s.serverMode, s.port, s.usePcName, s.companionLaunch, s.consent, s.fastMode, s.loginRequired,
                       s.securePeers, s.requireSecure, s.pairSalt));
    EXPECT_EQ(back.pairProposed, 0);
    SaveSettingsKey(ini, vault, back, kPairSaltKey);
    EXPECT_EQ(ini.written.back().first, u"pair_salt");
    EXPECT_EQ(PairSaltBytes(s.pairSalt), std::string("\x00\x01\xfe\xff" "0123456789ab", 16));
    for (const u16& bad : {u16(u"0001FEFF303132333435363738396162"), u16(31, u'0'), u16(33, u'0'), u"0g" + u16(30, u'0')})
        EXPECT_EQ(PairSaltBytes(bad), "");
}

TEST(SettingsFile, LimitsAndUnreadableCredentials) {
    MemoryIni ini;
    MarkingVault vault;
    ini.values[u"pc_name_wcs[1].pn"] = u16(300, u'n');
    ini.values[u"currentdirectory_r"] = u16(300, u'p');
    ini.values[u"dipa"] = u"P:" + u16(130, u'i');
    ini.values[u"wppa"] = u"bad";
    ini.values[u"port_no"] = u"x12";
    Settings s;
    s.storedPw = u"kept";
    LoadSettings(ini, vault, {2026, 12, 31}, s);
    EXPECT_EQ(s.pcNames[1].size(), 255u);
    EXPECT_EQ(s.pcNames[0], u"");
    EXPECT_EQ(s.localFolder.size(), 259u);
    EXPECT_EQ(s.storedId.size(), 127u);
    EXPECT_EQ(s.storedPw, u"kept");  // another user's value leaves it as it was
    EXPECT_EQ(s.port, 0);
    EXPECT_EQ(DefaultPw({2026, 12, 31}), u"PW1231");
    EXPECT_EQ(DefaultPw({2026, 1, 1}), u"PW11");
}

// A tree copy's steps as text, up to the next one the front end answers.
std::string TreeSteps(TreePlan& plan) {
    static const char* const kActions[] = {"list", "make", "copy", "skip", "done"};
    std::string out;
    for (;;) {
        const TreeStep s = plan.Next();
        out += std::string(kActions[int(s.action)]) + " " + std::string(s.path.begin(), s.path.end());
        if (s.reason != TreeSkip::None) out += "!" + std::to_string(int(s.reason));
        if (s.bytes > 0) out += "=" + std::to_string(s.bytes);
        out += ";";
        if (s.action != TreeAction::CopyFile && s.action != TreeAction::Skip) return out;
    }
}

TEST(TreePlan, DepthFirstLeavingOutWhatItMayNotCopy) {
    TreePlan plan(RoomBelow(u16(kMaxPath - 13, u'x')), 7);  // 12 characters below the top
    auto rows = [&](std::vector<std::pair<const char16_t*, int>> list, bool listed = true) {
        bool taken = true;
        for (auto& [name, image] : list) taken = plan.AddRow({name, u"", u"", image});
        plan.EndListing(listed);
        return taken;
    };
    EXPECT_EQ(TreeSteps(plan), "list ;");
    EXPECT_TRUE(rows({{u"..", 0}, {u"d:\\", 2}, {u"a.txt", 8}, {u"sub", 1}, {u"a/b", 8}, {u"odd", 42}}));
    EXPECT_EQ(TreeSteps(plan), "make ;");
    EXPECT_EQ(TreeSteps(plan), "copy a.txt;skip a/b!3;skip odd!2;list sub;");
    EXPECT_TRUE(rows({{u"..", 1}, {u"long_name.txt", 7}, {u"eight.tx", 7}, {u"deep", 1}, {u"e", 1}}));
    EXPECT_EQ(TreeSteps(plan), "make sub;");
    EXPECT_EQ(TreeSteps(plan), "skip sub\\..!3;skip sub\\long_name.txt!4;copy sub\\eight.tx;list sub\\deep;");
    rows({}, false);
    EXPECT_EQ(TreeSteps(plan), "skip sub\\deep!6;list sub\\e;");
    // A full listing: what it holds is copied, the folder named first; a row past it is not taken.
    EXPECT_FALSE(rows({{u"1", 9}, {u"2", 9}, {u"3", 9}, {u"4", 9}, {u"5", 9}, {u"6", 9}, {u"7", 9}, {u"8", 9}}));
    EXPECT_EQ(TreeSteps(plan), "make sub\\e;");
    std::string copies;
    for (char c = '1'; c <= '7'; ++c) copies += std::string("copy sub\\e\\") + c + ";";
    EXPECT_EQ(TreeSteps(plan), "skip sub\\e!5;" + copies + "done ;");
    EXPECT_EQ(std::tuple(plan.Files(), plan.Folders(), plan.Skipped(TreeSkip::BadName)), std::tuple(9, 3, 2));

    // A local folder: links and special files left out; a folder not made is not entered.
    TreePlan local(100, kMaxTreeFolderEntries);
    TreeSteps(local);
    for (auto [name, attributes] : std::vector<std::pair<const char16_t*, uint32_t>>{
             {u"f", kAttrArchive}, {u"l", kAttrReparsePoint | kAttrDirectory}, {u"p", kAttrDevice}, {u"d", kAttrDirectory}})
        local.AddEntry(Entry(name, attributes, 5));
    local.EndListing(true);
    EXPECT_EQ(TreeSteps(local), "make ;");
    EXPECT_EQ(TreeSteps(local), "copy f=5;skip l!1;skip p!2;list d;");
    local.AddEntry(Entry(u"x", kAttrDirectory, 0));
    local.EndListing(true);
    EXPECT_EQ(TreeSteps(local), "make d;");
    local.FolderFailed();
    EXPECT_EQ(TreeSteps(local), "done ;");
    // A listing never ended gave what it held: nothing is no listing; a full one takes no more.
    TreePlan none(100, 2), two(100, 2);
    TreeSteps(none), TreeSteps(two);
    EXPECT_EQ(TreeSteps(none), "skip !6;done ;");
    EXPECT_TRUE(two.AddEntry(Entry(u"a", 0, 1)));
    EXPECT_FALSE(two.AddEntry(Entry(u"b", 0, 1)));
    EXPECT_FALSE(two.AddEntry(Entry(u"c", 0, 1)));
    EXPECT_EQ(TreeSteps(two), "make ;");
    EXPECT_EQ(TreeSteps(two), "skip !5;copy a=1;copy b=1;done ;");
    // More folders waiting than a plan keeps: the folder with more is named, its further subfolders left out.
    TreePlan wide(100, kMaxWaitingFolders + 10);
    TreeSteps(wide);
    for (std::size_t i = 0; i < kMaxWaitingFolders + 2; ++i)
        wide.AddEntry(Entry(u"d" + FromAscii(std::to_string(i)), kAttrDirectory));
    wide.EndListing(true);
    EXPECT_EQ(TreeSteps(wide), "make ;");
    EXPECT_EQ(TreeSteps(wide), "skip !7;list d0;");
}

// A batch's entries as "name:state/note" (Queued, Running, Copied, Skipped, Failed, Unconfirmed; the note's number).
std::string BatchEntries(const CopyBatch& batch) {
    std::string out;
    for (const BatchEntry& e : batch.Entries())
        out += std::string(e.name.begin(), e.name.end()) + ":" + "QRCSFU"[int(e.state)] +
               (e.note != EntryNote::None ? "/" + std::to_string(int(e.note)) : "") + ";";
    return out;
}
PaneRow BatchRow(const char16_t* name, const char16_t* date, const char16_t* size, int image = kImageFile) {
    return {name, date, size, image};
}
PaneRow ExactRow(const char16_t* name, uint64_t bytes, uint64_t time) {
    PaneRow row{name, u"2024/01/01 10:00", FormatSizeText(bytes), kImageFile, true, bytes, time};
    return row;
}

TEST(CopyBatch, OverwriteChoicesTreesAndWhatBecameOfEach) {
    // From a plain peer: its rows give times to the minute and sizes as texts.
    CopyBatch get(false, u"C:\\peer", u"D:\\here", 1000, 4, false);
    for (auto row : {BatchRow(u"d", u"", u"", kImageFolder), BatchRow(u"same", u"2024/01/01 10:00", u"5"),
                     BatchRow(u"old", u"2024/02/01 10:00", u"5"), BatchRow(u"new", u"2024/01/01 10:00", u"5"),
                     BatchRow(u"gone", u"2024/01/01 10:00", u"7"), BatchRow(u"big", u"2K", u"2K"),
                     BatchRow(u"..", u"", u"", kImageDot), BatchRow(u"a:b", u"", u"1")})
        get.Add(row);
    get.SetDestinationRows({BatchRow(u"SAME", u"2024/01/01 10:00", u"5"), BatchRow(u"old", u"2024/01/01 10:00", u"5"),
                            BatchRow(u"new", u"2024/03/01 10:00", u"5")});
    BatchStep step = get.Next();  // "same" is there already: skipped without a question
    EXPECT_EQ(std::tuple(int(step.action), step.destination, step.toTheMinute),
              std::tuple(int(BatchAction::Ask), u16(u"D:\\here\\old"), true));
    get.Answer(OverwriteChoice::ReplaceIfOlder, false);
    EXPECT_EQ(get.Next().source, u"C:\\peer\\old");
    get.FileEnded(Outcome::Done, 5);
    EXPECT_EQ(int(get.Next().action), int(BatchAction::Ask));  // "new": asked again, then for all
    get.Answer(OverwriteChoice::ReplaceIfOlder, true);
    step = get.Next();
    EXPECT_EQ(std::pair(int(step.action), step.bytes), std::pair(int(BatchAction::CopyFile), uint64_t(7)));
    get.FileEnded(Outcome::Refused, 0);
    step = get.Next();  // "big" is too large, "a:b" no name here; then the tree
    EXPECT_EQ(std::pair(int(step.action), step.source), std::pair(int(BatchAction::ListSource), u16(u"C:\\peer\\d")));
    for (auto row : {BatchRow(u"..", u"", u"", kImageDot), BatchRow(u"x", u"2024/05/01 10:00", u"3"),
                     BatchRow(u"y", u"2024/05/01 10:00", u"3"), BatchRow(u"odd", u"", u"", 42)})
        get.AddRow(row);
    get.SourceListed(true);
    EXPECT_EQ(get.Next().destination, u"D:\\here\\d");
    get.FolderMade(true, {BatchRow(u"x", u"2024/04/01 10:00", u"3"), BatchRow(u"y", u"2024/06/01 10:00", u"3")});
    // The listing filled the table; "x" is older, "y" newer: "only if older" holds for all, no question.
    step = get.Next();
    EXPECT_EQ(std::pair(int(step.action), step.destination), std::pair(int(BatchAction::CopyFile), u16(u"D:\\here\\d\\x")));
    get.FileEnded(Outcome::Done, 3);
    EXPECT_EQ(int(get.Next().action), int(BatchAction::Done));
    EXPECT_EQ(BatchEntries(get), "same:S/1;old:C;new:S/2;gone:F/15;big:F/13;a:b:F/8;d:C;d:S/10;d\\x:C;d\\y:S/2;d\\odd:S/7;");
    EXPECT_EQ(std::tuple(get.FilesKnown(), get.FilesEnded(), get.FilesCopied(), get.BytesKnown(), get.BytesEnded()),
              std::tuple(8, 8, 2, uint64_t(5 + 5 + 5 + 7 + 2048 + 1 + 3 + 3), uint64_t(5 + 5 + 5 + 7 + 2048 + 1 + 3 + 3)));
    const u16 summary = BatchSummaryText(get);
    EXPECT_EQ(summary.substr(0, summary.find(u"スキップ:")),
              u"複写 2 件　スキップ 5 件　失敗 3 件\r\n失敗:\r\ngone（相手側が拒否しました）\r\n"
              u"big（大きすぎて複写できません）\r\na:b（ファイル名として使えない名前です）\r\n");

    // To a plain peer, exact rows on both sides: the times compared in full, files confirmed by its listing.
    CopyBatch put(true, u"C:\\here", u"C:\\", 1 << 20, 1023, true);
    for (auto row : {ExactRow(u"a", 10, 100), ExactRow(u"b", 10, 200), ExactRow(u"c", 20000, 100)}) put.Add(row);
    put.SetDestinationRows({ExactRow(u"a", 10, 100), ExactRow(u"b", 10, 300)});
    step = put.Next();
    EXPECT_EQ(std::tuple(int(step.action), step.toTheMinute, step.destination),
              std::tuple(int(BatchAction::Ask), false, u16(u"C:\\b")));
    put.Answer(OverwriteChoice::Replace, false);
    put.FileEnded(Outcome::Done, 10);
    put.Next();
    put.FileEnded(Outcome::Done, 20000);
    EXPECT_EQ(BatchEntries(put), "a:S/1;b:U;c:U;");
    step = put.Next();
    EXPECT_EQ(std::pair(int(step.action), step.destination), std::pair(int(BatchAction::Confirm), u16(u"C:\\")));
    put.Confirmed(true, {BatchRow(u"B", u"", u"10"), BatchRow(u"c", u"", u"20K")});
    EXPECT_EQ(int(put.Next().action), int(BatchAction::Done));
    EXPECT_EQ(BatchEntries(put), "a:S/1;b:C;c:F/14;");
    // A file missing from a listing that filled the table may be there all the same: asked about.
    CopyBatch full(true, u"C:\\here", u"C:\\", 1 << 20, 2, true);
    full.Add(ExactRow(u"z", 1, 1));
    full.SetDestinationRows({ExactRow(u"x", 1, 1), ExactRow(u"y", 1, 1)});
    step = full.Next();
    EXPECT_EQ(std::tuple(int(step.action), step.existing.name, step.existing.exact),
              std::tuple(int(BatchAction::Ask), u16(u"z"), false));

    // Cancel ends the batch at the question; a stop after the file at hand.
    for (bool cancel : {true, false}) {
        CopyBatch batch(true, u"C:\\", u"D:\\", 100, 1023, false);
        for (auto name : {u"a", u"b", u"c"}) batch.Add(BatchRow(name, u"2024/01/01 10:00", u"1"));
        batch.SetDestinationRows({BatchRow(u"b", u"2023/01/01 10:00", u"1")});
        batch.Next();
        batch.FileEnded(Outcome::Done, 1);
        batch.Next();
        if (cancel) batch.Answer(OverwriteChoice::Cancel, true);
        else batch.Stop(), batch.Answer(OverwriteChoice::Replace, false), batch.FileEnded(Outcome::Stopped, 0);
        EXPECT_EQ(int(batch.Next().action), int(BatchAction::Done));
        EXPECT_EQ(BatchEntries(batch), cancel ? "a:C;b:S/4;c:S/4;" : "a:C;b:S/5;c:S/5;");
        EXPECT_TRUE(batch.Finished());
    }
}

TEST(CopyBatch, ComparisonsAndAmountsAtTheirEdges) {
    // The skip rules, --update's shared with "only if older": what each leaves of an existing file.
    auto skips = [](SkipRule rule, const PaneRow& source, const PaneRow& there, int64_t window = 0) {
        const Comparison c = CompareExisting(source, there, window);
        return Skips(rule, &c);
    };
    const int64_t second = kFileTimeTicksPerSecond;
    using W = SkipWhy;
    EXPECT_EQ(skips(SkipRule::Update, ExactRow(u"f", 5, 100), ExactRow(u"f", 7, 100)), W::None) << "same time, other size";
    EXPECT_EQ(skips(SkipRule::Update, ExactRow(u"f", 5, 100), ExactRow(u"f", 5, 100)), W::SameSizeAndTime);
    EXPECT_EQ(skips(SkipRule::Update, ExactRow(u"f", 5, 100), ExactRow(u"f", 5, 101)), W::Newer);
    EXPECT_EQ(skips(SkipRule::Update, ExactRow(u"f", 5, 101), ExactRow(u"f", 9, 100)), W::None) << "older";
    EXPECT_EQ(skips(SkipRule::Update, ExactRow(u"f", 5, 100), ExactRow(u"f", 5, 100 + 2 * second), 2 * second),
              W::SameSizeAndTime);
    EXPECT_EQ(skips(SkipRule::Update, ExactRow(u"f", 5, 100), ExactRow(u"f", 5, 101 + 2 * second), 2 * second), W::Newer);
    EXPECT_EQ(skips(SkipRule::SameSizeAndTime, ExactRow(u"f", 5, 100 + 2 * second), ExactRow(u"f", 5, 99), 2 * second),
              W::None);
    // Same minute, other size: a listing cannot tell which is older, so the existing one is not.
    EXPECT_EQ(skips(SkipRule::Update, BatchRow(u"f", u"2024/01/01 10:00", u"5"), BatchRow(u"f", u"2024/01/01 10:00", u"7")),
              W::Newer);
    EXPECT_EQ(skips(SkipRule::Update, BatchRow(u"f", u"2024/01/01 10:00", u"5"), BatchRow(u"f", u"", u"5")), W::Newer)
        << "an unknown time is never older";
    EXPECT_EQ(skips(SkipRule::SizeOnly, ExactRow(u"f", 5, 1), ExactRow(u"f", 5, 999)), W::SameSize);
    EXPECT_EQ(skips(SkipRule::SizeOnly, ExactRow(u"f", 5, 1), ExactRow(u"f", 6, 1)), W::None);
    EXPECT_EQ(skips(SkipRule::IgnoreExisting, ExactRow(u"f", 5, 1), ExactRow(u"f", 6, 9)), W::Exists);
    EXPECT_EQ(skips(SkipRule::None, ExactRow(u"f", 5, 1), ExactRow(u"f", 5, 1)), W::None);
    EXPECT_EQ(Skips(SkipRule::IgnoreExisting, nullptr), W::None) << "nothing there";
    // A file of the largest size a copy may move goes.
    CopyBatch edge(true, u"C:\\here", u"D:\\peer", 1000, 4, false);
    edge.Add(ExactRow(u"f", 1000, 1));
    edge.SetDestinationRows({});
    EXPECT_EQ(int(edge.Next().action), int(BatchAction::CopyFile));

    for (const auto& [bytes, text] : std::vector<std::pair<uint64_t, u16>>{
             {1023, u"1023 B"}, {1024, u"1.0 KB"}, {1536, u"1.5 KB"}, {(1 << 20) - 1, u"1023.9 KB"},
             {1 << 20, u"1.0 MB"}, {uint64_t(1) << 50, u"1024.0 TB"}})
        EXPECT_EQ(AmountText(bytes), text) << bytes;
}

TEST(CompanionFile, KeysDefaultsAndPlace) {
    MemoryIni ini;
    CompanionSettings c;
    ini.values[u"id_wcs"] = u16(300, u'a');
    LoadCompanionSettings(ini, c);
    EXPECT_EQ(c.idTime, 5000);
    EXPECT_EQ(c.adminPw, u"PW");
    EXPECT_EQ(c.adminId.size(), 249u);
    PlaceCompanion(c, 500, 300);
    EXPECT_EQ(std::pair(c.x, c.y), std::pair(200, 250));
    PlaceCompanion(c, 100, 20);
    EXPECT_EQ(std::pair(c.x, c.y), std::pair(0, 0));
    PlaceCompanion(c, INT32_MIN, INT32_MAX);
    EXPECT_EQ(std::pair(c.x, c.y), std::pair(0, INT32_MAX - 50));
    c.idTime = -3;
    SaveCompanionSettings(ini, c);
    const char16_t* keys[] = {u"moto_x", u"moto_y", u"id_time", u"pw_time", u"id_wcs", u"pw_wcs"};
    ASSERT_EQ(ini.written.size(), std::size(keys));
    for (std::size_t i = 0; i < std::size(keys); ++i) EXPECT_EQ(ini.written[i].first, keys[i]);
    EXPECT_EQ(ini.values[u"moto_y"], u"2147483597");
    EXPECT_EQ(ini.values[u"id_time"], u"-3");
    EXPECT_EQ(ReadCompanionTime(u16(60, u' ') + u"7"), 7);
    EXPECT_EQ(ReadCompanionTime(u16(61, u' ') + u"7"), 0);  // past the edit's limit
}

}  // namespace
