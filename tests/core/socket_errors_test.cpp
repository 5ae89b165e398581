#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <map>
#include <vector>

#include "core/socket_errors.h"

using namespace quorbel;

namespace {

// Radical forms are escaped so they can be told from the ordinary ideographs.
const std::map<int32_t, u16view>& Expected() {
    static const std::map<int32_t, u16view> table = {
        {6, u"指定されたイベント オブジェクト ハンドルが無効です。"},
        {8, u"使\u2F64可能なメモリが不\u2F9Cしています。"},
        {87, u"1 つ以上のパラメーターが無効です。"},
        {995, u"重複する操作が中\u2F4Cされました。"},
        {996, u"シグナル状態ではない重複した I/O イベント オブジェクト。"},
        {997, u"重複する操作は後で完了します。"},
        {10004, u"中断された関数呼び出し。"},
        {10009, u"ファイル ハンドルが無効です。"},
        {10013, u"アクセス許可が拒否されました。"},
        {10014, u"アドレスが正しくありません。"},
        {10022, u"引数が無効です。"},
        {10024, u"開いているファイルが多すぎます。"},
        {10035, u"リソースは\u2F00時的に使\u2F64できません。"},
        {10036, u"操作が進\u2F8F中です。"},
        {10037, u"操作は既に進\u2F8F中です。"},
        {10038, u"\u2FAEソケットに対するソケット操作。"},
        {10039, u"宛先アドレスが必要です。"},
        {10040, u"メッセージが長すぎます。"},
        {10041, u"ソケットのプロトコルの型が間違っています。"},
        {10042, u"プロトコル オプションが正しくありません。"},
        {10043, u"プロトコルはサポートされていません。"},
        {10044, u"ソケットの種類はサポートされていません。"},
        {10045, u"操作はサポートされていません。"},
        {10046, u"プロトコル ファミリはサポートされていません。"},
        {10047, u"プロトコル ファミリでサポートされていないアドレス ファミリ。"},
        {10048, u"IPアドレス\uFF0Bポート番号は既に使用されています。"},
        {10049, u"要求されたアドレスを割り当てることができません。"},
        {10050, u"ネットワークがダウンしています。"},
        {10051, u"ネットワークに到達できません。"},
        {10052, u"ネットワークのリセット時に接続が切断されました。"},
        {10053, u"ソフトウェアによって接続の中止が発生しました。"},
        {10054, u"ピアによる接続のリセット。"},
        {10055, u"使用できるバッファー領域はありません。"},
        {10056, u"ソケットは既に接続されています。"},
        {10057, u"ソケットが接続されていません。"},
        {10058, u"ソケットのシャットダウン後に送信できません。"},
        {10059, u"参照が多すぎます。"},
        {10060, u"接続がタイムアウトしました。"},
        {10061, u"接続が拒否されました。"},
        {10062, u"名前を翻訳できません。"},
        {10063, u"名前が\u2ED1すぎます。"},
        {10064, u"ホストがダウンしています。"},
        {10065, u"ホストするルートはありません。"},
        {10066, u"ディレクトリは空ではありません。"},
        {10067, u"プロセスが多すぎます。"},
        {10068, u"ユーザー クォータを超えました。"},
        {10069, u"ディスク クォータを超えました。"},
        {10070, u"古いファイル ハンドル参照。"},
        {10071, u"項目がリモートです。"},
        {10091, u"ネットワーク サブシステムは使用できません。"},
        {10092, u"Winsock.dllバージョンが範囲外です。"},
        {10093, u"WSAStartup が正常に実行されていません。"},
        {10101, u"正常なシャットダウンが進行中です。"},
        {10102, u"これ以上の結果はありません。"},
        {10103, u"呼び出しが取り消されました。"},
        {10104, u"プロシージャ呼び出しテーブルが無効です。"},
        {10105, u"サービス プロバイダーが無効です。"},
        {10106, u"サービス プロバイダーの初期化に失敗しました。"},
        {10107, u"システム呼び出しエラー。"},
        {10108, u"サービスが見つかりません。"},
        {10109, u"クラス型が見つかりません。"},
        {10110, u"これ以上の結果はありません。"},
        {10111, u"呼び出しが取り消されました。"},
        {10112, u"データベース クエリが拒否されました。"},
    };
    return table;
}

const u16view kOther = u"その他エラー";

}  // namespace

TEST(SocketErrorText, EveryTableTextExactly) {
    ASSERT_EQ(Expected().size(), 64u);
    for (const auto& [code, text] : Expected()) EXPECT_EQ(SocketErrorText(code), text) << code;
}

TEST(SocketErrorText, CommonConnectFailures) {
    EXPECT_EQ(SocketErrorText(10061), u"接続が拒否されました。");
    EXPECT_EQ(SocketErrorText(10060), u"接続がタイムアウトしました。");
    const u16view inUse = SocketErrorText(10048);
    EXPECT_EQ(inUse.substr(0, 7), u"IPアドレス\uFF0B");
    EXPECT_EQ(inUse[6], char16_t(0xFF0B));  // fullwidth plus, not "+"
}

TEST(SocketErrorText, SharedTexts) {
    EXPECT_EQ(SocketErrorText(10102), SocketErrorText(10110));
    EXPECT_EQ(SocketErrorText(10103), SocketErrorText(10111));
    EXPECT_NE(SocketErrorText(10102), SocketErrorText(10103));
}

TEST(SocketErrorText, RadicalFormsOnlyWhereListed) {
    const std::map<int32_t, std::vector<char16_t>> radicals = {
        {8, {0x2F64, 0x2F9C}}, {995, {0x2F4C}}, {10035, {0x2F00, 0x2F64}}, {10036, {0x2F8F}},
        {10037, {0x2F8F}}, {10038, {0x2FAE}}, {10063, {0x2ED1}},
    };
    for (const auto& [code, expected] : Expected()) {
        std::vector<char16_t> found;
        for (char16_t c : SocketErrorText(code))
            if (c >= 0x2E80 && c <= 0x2FDF) found.push_back(c);
        auto it = radicals.find(code);
        EXPECT_EQ(found, it == radicals.end() ? std::vector<char16_t>{} : it->second) << code;
    }
    // The same words in their ordinary form elsewhere.
    EXPECT_NE(SocketErrorText(10053).find(u"中止"), u16view::npos);
    EXPECT_NE(SocketErrorText(10101).find(u"進行"), u16view::npos);
    EXPECT_NE(SocketErrorText(10048).find(u"使用"), u16view::npos);
    EXPECT_NE(SocketErrorText(10055).find(u"使用"), u16view::npos);
    EXPECT_NE(SocketErrorText(10091).find(u"使用"), u16view::npos);
    EXPECT_NE(SocketErrorText(10040).find(u"長"), u16view::npos);
    EXPECT_EQ(u16view(u"中止")[1], char16_t(0x6B62));  // the literal above is the ordinary one
}

TEST(SocketErrorText, EverythingElseIsOtherError) {
    for (int32_t code : {0, -1, -10061, INT_MIN, INT_MAX, 10113, 20000, 11001, 11002, 11003, 11004, 10000, 1})
        EXPECT_EQ(SocketErrorText(code), kOther) << code;
    const std::pair<int32_t, int32_t> gaps[] = {
        {10010, 10012}, {10015, 10021}, {10023, 10023}, {10025, 10034}, {10072, 10090}, {10094, 10100},
    };
    for (auto [from, to] : gaps)
        for (int32_t code = from; code <= to; ++code) EXPECT_EQ(SocketErrorText(code), kOther) << code;
    // No range or masking: neighbours of listed codes are not listed.
    for (int32_t code = -100; code <= 12000; ++code) {
        if (Expected().count(code)) continue;
        ASSERT_EQ(SocketErrorText(code), kOther) << code;
    }
}

TEST(SocketErrorText, EveryTextFitsThirtyTwoUnits) {
    std::size_t longest = 0;
    for (int32_t code = -100; code <= 12000; ++code) {
        u16view text = SocketErrorText(code);
        EXPECT_LT(text.size(), kSocketErrorTextUnits) << code;
        EXPECT_EQ(text.data()[text.size()], u'\0') << code;  // NUL-terminated
        longest = std::max(longest, text.size());
    }
    EXPECT_EQ(longest, 31u);
}

TEST(SocketErrorText, BufferVariant) {
    char16_t buf[128];
    std::fill(std::begin(buf), std::end(buf), u'#');
    EXPECT_TRUE(SocketErrorText(10047, buf, std::size(buf)));
    EXPECT_EQ(u16view(buf), SocketErrorText(10047));
    for (std::size_t i = 31; i < std::size(buf); ++i) EXPECT_EQ(buf[i], u'\0') << i;

    char16_t exact[32];
    EXPECT_TRUE(SocketErrorText(996, exact, std::size(exact)));  // 31 characters
    EXPECT_EQ(u16view(exact), SocketErrorText(996));

    char16_t small[5] = {u'#', u'#', u'#', u'#', u'#'};
    EXPECT_FALSE(SocketErrorText(10061, small, std::size(small)));
    EXPECT_EQ(u16view(small), u"接続が拒");

    char16_t untouched = u'#';
    EXPECT_FALSE(SocketErrorText(0, &untouched, 0));
    EXPECT_EQ(untouched, u'#');

    char16_t other[32];
    EXPECT_TRUE(SocketErrorText(-5, other, std::size(other)));
    EXPECT_EQ(u16view(other), kOther);
}
