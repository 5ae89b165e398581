#include "core/base/socket_errors.h"

namespace quorbel {

namespace {

struct SocketErrorEntry {
    int32_t code;
    const char16_t* text;
};

// Seven texts carry CJK radical forms (U+2F00..U+2FD5, U+2ED1) where an
// ordinary ideograph would usually stand, and 10048 a fullwidth plus sign
// (U+FF0B). They are part of the texts as users know them and stay as they
// are; the escapes keep them visible.
constexpr SocketErrorEntry kSocketErrors[] = {
    {6, u"指定されたイベント オブジェクト ハンドルが無効です。"},  // WSA_INVALID_HANDLE
    {8, u"使\u2F64可能なメモリが不\u2F9Cしています。"},  // WSA_NOT_ENOUGH_MEMORY
    {87, u"1 つ以上のパラメーターが無効です。"},  // WSA_INVALID_PARAMETER
    {995, u"重複する操作が中\u2F4Cされました。"},  // WSA_OPERATION_ABORTED
    {996, u"シグナル状態ではない重複した I/O イベント オブジェクト。"},  // WSA_IO_INCOMPLETE
    {997, u"重複する操作は後で完了します。"},  // WSA_IO_PENDING
    {10004, u"中断された関数呼び出し。"},  // WSAEINTR
    {10009, u"ファイル ハンドルが無効です。"},  // WSAEBADF
    {10013, u"アクセス許可が拒否されました。"},  // WSAEACCES
    {10014, u"アドレスが正しくありません。"},  // WSAEFAULT
    {10022, u"引数が無効です。"},  // WSAEINVAL
    {10024, u"開いているファイルが多すぎます。"},  // WSAEMFILE
    {10035, u"リソースは\u2F00時的に使\u2F64できません。"},  // WSAEWOULDBLOCK
    {10036, u"操作が進\u2F8F中です。"},  // WSAEINPROGRESS
    {10037, u"操作は既に進\u2F8F中です。"},  // WSAEALREADY
    {10038, u"\u2FAEソケットに対するソケット操作。"},  // WSAENOTSOCK
    {10039, u"宛先アドレスが必要です。"},  // WSAEDESTADDRREQ
    {10040, u"メッセージが長すぎます。"},  // WSAEMSGSIZE
    {10041, u"ソケットのプロトコルの型が間違っています。"},  // WSAEPROTOTYPE
    {10042, u"プロトコル オプションが正しくありません。"},  // WSAENOPROTOOPT
    {10043, u"プロトコルはサポートされていません。"},  // WSAEPROTONOSUPPORT
    {10044, u"ソケットの種類はサポートされていません。"},  // WSAESOCKTNOSUPPORT
    {10045, u"操作はサポートされていません。"},  // WSAEOPNOTSUPP
    {10046, u"プロトコル ファミリはサポートされていません。"},  // WSAEPFNOSUPPORT
    {10047, u"プロトコル ファミリでサポートされていないアドレス ファミリ。"},  // WSAEAFNOSUPPORT
    {10048, u"IPアドレス\uFF0Bポート番号は既に使用されています。"},  // WSAEADDRINUSE
    {10049, u"要求されたアドレスを割り当てることができません。"},  // WSAEADDRNOTAVAIL
    {10050, u"ネットワークがダウンしています。"},  // WSAENETDOWN
    {10051, u"ネットワークに到達できません。"},  // WSAENETUNREACH
    {10052, u"ネットワークのリセット時に接続が切断されました。"},  // WSAENETRESET
    {10053, u"ソフトウェアによって接続の中止が発生しました。"},  // WSAECONNABORTED
    {10054, u"ピアによる接続のリセット。"},  // WSAECONNRESET
    {10055, u"使用できるバッファー領域はありません。"},  // WSAENOBUFS
    {10056, u"ソケットは既に接続されています。"},  // WSAEISCONN
    {10057, u"ソケットが接続されていません。"},  // WSAENOTCONN
    {10058, u"ソケットのシャットダウン後に送信できません。"},  // WSAESHUTDOWN
    {10059, u"参照が多すぎます。"},  // WSAETOOMANYREFS
    {10060, u"接続がタイムアウトしました。"},  // WSAETIMEDOUT
    {10061, u"接続が拒否されました。"},  // WSAECONNREFUSED
    {10062, u"名前を翻訳できません。"},  // WSAELOOP
    {10063, u"名前が\u2ED1すぎます。"},  // WSAENAMETOOLONG
    {10064, u"ホストがダウンしています。"},  // WSAEHOSTDOWN
    {10065, u"ホストするルートはありません。"},  // WSAEHOSTUNREACH
    {10066, u"ディレクトリは空ではありません。"},  // WSAENOTEMPTY
    {10067, u"プロセスが多すぎます。"},  // WSAEPROCLIM
    {10068, u"ユーザー クォータを超えました。"},  // WSAEUSERS
    {10069, u"ディスク クォータを超えました。"},  // WSAEDQUOT
    {10070, u"古いファイル ハンドル参照。"},  // WSAESTALE
    {10071, u"項目がリモートです。"},  // WSAEREMOTE
    {10091, u"ネットワーク サブシステムは使用できません。"},  // WSASYSNOTREADY
    {10092, u"Winsock.dllバージョンが範囲外です。"},  // WSAVERNOTSUPPORTED
    {10093, u"WSAStartup が正常に実行されていません。"},  // WSANOTINITIALISED
    {10101, u"正常なシャットダウンが進行中です。"},  // WSAEDISCON
    {10102, u"これ以上の結果はありません。"},  // WSAENOMORE
    {10103, u"呼び出しが取り消されました。"},  // WSAECANCELLED
    {10104, u"プロシージャ呼び出しテーブルが無効です。"},  // WSAEINVALIDPROCTABLE
    {10105, u"サービス プロバイダーが無効です。"},  // WSAEINVALIDPROVIDER
    {10106, u"サービス プロバイダーの初期化に失敗しました。"},  // WSAEPROVIDERFAILEDINIT
    {10107, u"システム呼び出しエラー。"},  // WSASYSCALLFAILURE
    {10108, u"サービスが見つかりません。"},  // WSASERVICE_NOT_FOUND
    {10109, u"クラス型が見つかりません。"},  // WSATYPE_NOT_FOUND
    {10110, u"これ以上の結果はありません。"},  // WSA_E_NO_MORE
    {10111, u"呼び出しが取り消されました。"},  // WSA_E_CANCELLED
    {10112, u"データベース クエリが拒否されました。"},  // WSAEREFUSED
};

constexpr const char16_t* kOtherError = u"その他エラー";

}  // namespace

u16view SocketErrorText(int32_t code) {
    for (const auto& e : kSocketErrors)
        if (e.code == code) return e.text;
    return kOtherError;
}

std::vector<int32_t> SocketErrorCodes() {
    std::vector<int32_t> codes;
    for (const auto& e : kSocketErrors) codes.push_back(e.code);
    return codes;
}

}  // namespace quorbel
