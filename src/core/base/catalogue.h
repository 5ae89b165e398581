// The catalogue of the program's texts: every message box it shows, its
// text (a format where values go in with %d and %s) and its caption, and
// the labels its dialogs fill in. One catalogue, so that each front end
// shows the same words and the manual can be checked against all of them.
#pragma once

#include <initializer_list>
#include <vector>

#include "core/base/text.h"

namespace quorbel {

struct BoxText {
    const char16_t* text;
    const char16_t* caption;  // null where the caption is a value (the row's name)
};

// X(name, text, caption) for every box, grouped by where it is shown.
#define QUORBEL_BOX_TEXTS(X)                                                                                   \
    /* Start-up and exit. */                                                                                    \
    X(kConsent,                                                                                                 \
      u"本プログラムの使用は、使用者自身の責任の下に行ってください。\r\n"                                       \
      u"作者は何の保証もしませんし、本プログラムを使用したことによって生じた損害を補償する義務も負いません。\r\n" \
      u"このソフトウェアを使用して個人または団体が直接あるいは、間接的な損害を受けたとしても作者は一切の責任を負いません。\r\n" \
      u"これを踏まえてご利用しますか？",                                                                         \
      u"同意確認")                                                                                              \
    X(kNoConsent, u"同意がないので終了します", u"非同意確認")                                                   \
    X(kExitWithPeer, u"接続相手が存在します\r\n強制切断しますか", u"切断")                                      \
    X(kExitWhileConnected, u"アクセス中です\r\n強制切断しますか", u"切断")                                      \
    /* Menu commands and panes. */                                                                              \
    X(kCopyBusy, u"他の動作中は出来ません", u"複写操作")                                                        \
    X(kCopyNothingSelected, u"項目を選んでください", u"複写操作")                                              \
    /* The size is the limit of the connection's mode, in SizeLimitText's form. */                            \
    X(kCopyTooLarge, u"%sは出来ません", u"サイズ越え")                                                          \
    X(kCopyDrive, u"ドライブは選べません", u"複写操作")                                                         \
    X(kCopyPathTooLong, u"パスが長すぎるため複写できません", u"複写操作")                                       \
    X(kCopyNotDone, u"次のファイルは複写できませんでした\r\n%s", u"複写操作")                                  \
    X(kCopyPeerNameRefused, u"相手側の名前「%s」はこのPCのファイル名にできないため複写しません", u"複写操作")   \
    X(kLoginNotConfirmed, u"IDまたはPWが違いますので接続しません", u"Login確認")                                \
    X(kNameCopied, u"コピーしました", nullptr)                                                                  \
    X(kHostName, u"%s\r\n%s", u"HostName")                                                                      \
    X(kDocumentNotOpened,                                                                                       \
      u"マニュアル（%s）を開けませんでした\r\n"                                                                  \
      u"Quorbel.exe と同じフォルダにあるか、PDF を開くプログラムがあるかを確かめてください",                     \
      u"ドキメント")                                                                                            \
    X(kLocalFolderPathTooLong, u"パスが長すぎるため作成できません", u"自分フォルダ作成")                        \
    X(kRemoteFolderPathTooLong, u"パスが長すぎるため作成できません", u"相手フォルダ作成")                       \
    X(kNotAFolder, u"ファイルでフォルダではありません！", u"フォルダ移行")                                      \
    X(kMovePathTooLong, u"パスが長すぎるためフォルダを移動できません", u"フォルダ移行")                         \
    X(kSortFailed, u"ソート失敗。", u"Error")                                                                   \
    /* Dialogs. */                                                                                              \
    X(kCloseDuringTransfer, u"転送中は操作不可！", u"画面閉じる")                                               \
    X(kBatchClosedEarly, u"転送を打ち切りました\r\n%s", u"一括転送")                                          \
    X(kFolderNameEmpty, u"文字を入力して下さい", u"Folder")                                                     \
    X(kFolderNameBad, u"入力文字にエラー！", u"Folder")                                                         \
    X(kPictureNotLoaded, u"画像が読み込み出来ません。", u"ImageLoad")                                           \
    X(kNoMemoryDc, u"失敗しました。", u"CreateCompatibleDC")                                                    \
    /* The connection. */                                                                                       \
    X(kStartupFailed, u"%d", u"WSAStartup_Error")                                                               \
    X(kSocketFailed, u"Err No.%d", u"sockRecv_Error")                                                           \
    X(kBindFailed, u"Err No.%d", u"bind_Error")                                                                 \
    X(kListenFailed, u"Err No.%d", u"listen_Error")                                                             \
    X(kThreadFailed, u"Thread Error No.%d", u"CreateThread")                                                    \
    X(kPcNameNotFound, u"PC名確認(ErrNo.%d)\r\n再接続はYES、接続しないはNO", u"PC名確認_Error")                \
    X(kConnectFailed,                                                                                           \
      u"接続エラー(ErrNo.%d)\r\n%s\r\n相手側を先にOPENして下さい\r\n再接続はYES、接続しないはNO", u"connect_Error") \
    X(kSelectFailed, u"Failed in execution of select.", u"select_Error")                                        \
    X(kCloseSocketFailed, u"%d", u"closesocket_Error")                                                          \
    X(kCleanupFailed, u"%d", u"WSACleanup")                                                                     \
    X(kLoginCommunication, u"Loginに通信エラーになりました", u"Login_Error")                                    \
    X(kLoginRejected, u"LoginでIDとPW違いで失敗しました", u"Login_Error")                                       \
    X(kLoginNotAPeer, u"Loginの返事がQuorbelのものではありません", u"Login_Error")                              \
    X(kLoginPeerClosed,                                                                                         \
      u"Loginで相手側が接続を閉じました\r\n（相手側は別のクライアントと接続中かもしれません）", u"Login_Error") \
    X(kLoginNoLongerSecure,                                                                                     \
      u"相手側(%s)とは以前暗号化して接続しましたが、今回は暗号化できません\r\n"                                 \
      u"IDとPWと転送内容を暗号化せずに接続しますか？",                                                         \
      u"Login確認")                                                                                             \
    X(kLoginSecureRequired,                                                                                     \
      u"相手側は暗号化に対応していないため接続しません\r\n（環境設定で暗号化を必須にしています）", u"Login確認") \
    X(kProposedPair,                                                                                            \
      u"初期値のIDとPWは日付から作られ推測されやすいため、接続に使う前に変更してください", u"初期設定のお願い")    \
    /* The protocol. */                                                                                         \
    X(kSendFailed, u"ERR=%d:C0/S1=%d:Sel=%d\r\n%s", u"WSAGetLastError")                                         \
    X(kSentNak, u"CONT=%d/%d\r\n%s", u"SEND-NAK")                                                               \
    X(kSendTooLarge, u"%sは出来ません", u"SizeOver")                                                            \
    X(kBadFrame, u"受信データの長さが不正なため切断します", u"Frame_Error")                                     \
    /* The IP address tool. */                                                                                  \
    X(kSelectItem, u"Please select an item.", u"listbox")                                                       \
    X(kEnterAllAddresses, u"Please enter all addresses.", u"input")                                             \
    X(kAdapterNameTooLong, u"The adapter name is too long.", u"input")                                          \
    X(kBatchPathTooLong, u"The file path is too long.", u"file error")                                          \
    X(kBatchOpenFailed, u"Unable to open the file.", u"file error")                                             \
    X(kBatchWriteFailed, u"Unable to write the file.", u"file error")                                           \
    X(kBatchCloseFailed, u"Unable to close the file.", u"file error")                                           \
    X(kRunAsFailed, u"%s could not be started as administrator", u"Error")

// X(name, text) for the texts the dialogs fill in themselves: the transfer
// dialog, its summary and the overwrite question.
#define QUORBEL_LABEL_TEXTS(X)                                                                                 \
    X(kBatchNote, u"転送が終わるまで主画面は操作できません。終わったら「閉じる」で戻ります。")               \
    X(kBatchColumnName, u"名前")                                                                               \
    X(kBatchColumnState, u"状態")                                                                              \
    X(kBatchColumnNote, u"理由")                                                                               \
    X(kBatchFiles, u"ファイル %d / %d 件　%s / %s")                                                            \
    X(kBatchSpeed, u"%s/s　残り約 %d 秒")                                                                      \
    X(kBatchCurrent, u"転送中: %s")                                                                            \
    X(kBatchFinished, u"終了しました")                                                                         \
    X(kCopyProgress, u"%s / %s, %s/s")                                                                         \
    X(kStateQueued, u"待機")                                                                                   \
    X(kStateRunning, u"転送中")                                                                                \
    X(kStateCopied, u"完了")                                                                                   \
    X(kStateSkipped, u"スキップ")                                                                              \
    X(kStateFailed, u"失敗")                                                                                   \
    X(kStateUnconfirmed, u"確認待ち")                                                                          \
    X(kNoteAlreadyThere, u"同じサイズと日時のファイルが既にあります")                                          \
    X(kNoteNotOlder, u"既にあるファイルの方が古くありません")                                                  \
    X(kNoteByUser, u"スキップを選びました")                                                                    \
    X(kNoteCancelled, u"中止しました")                                                                         \
    X(kNoteStopped, u"停止しました")                                                                           \
    X(kNoteLink, u"リンクのため複写しません")                                                                  \
    X(kNoteSpecial, u"ファイルでもフォルダでもないため複写しません")                                           \
    X(kNoteBadName, u"ファイル名として使えない名前です")                                                       \
    X(kNoteTooLong, u"パスが長すぎます")                                                                       \
    X(kNoteIncomplete, u"一覧に載りきらないため、一部しか複写していない可能性があります")                       \
    X(kNoteUnlisted, u"一覧を取得できません")                                                                  \
    X(kNoteFolderNotMade, u"フォルダを作成できません")                                                         \
    X(kNoteTooLarge, u"大きすぎて複写できません")                                                              \
    X(kNoteNotConfirmed, u"相手側の一覧で確認できません")                                                      \
    X(kNoteRefused, u"相手側が拒否しました")                                                                   \
    X(kNoteFailed, u"複写に失敗しました")                                                                      \
    X(kNoteKept, u"相手側は既にあるファイルを残しました")                                                      \
    X(kNoteLost, u"接続が切れました")                                                                          \
    X(kNoteCrowded, u"待っているフォルダが多すぎるため、これより下のフォルダの一部を複写しません")              \
    X(kSummaryCounts, u"複写 %d 件　スキップ %d 件　失敗 %d 件")                                               \
    X(kSummaryFailed, u"失敗:")                                                                                \
    X(kSummarySkipped, u"スキップ:")                                                                           \
    X(kSummaryMore, u"ほか %d 件")                                                                             \
    X(kOverwriteExists, u"「%s」は既にあります。")                                                            \
    X(kOverwriteSource, u"複写元: %s　%s")                                                                     \
    X(kOverwriteDestination, u"複写先: %s　%s")                                                               \
    X(kOverwriteToTheMinute, u"（一覧の日時は分単位のため、分単位で比べます）")                                 \
    X(kHeaderSecure, u" [暗号化]")                                                                             \
    X(kHeaderProposedPair, u" [初期ID/PWのまま]")                                                              \
    X(kHeaderNoPair, u" [ID/PW未設定: ログイン不可]")

namespace texts {
#define QUORBEL_DECLARE_LABEL(name, text) inline constexpr const char16_t* name = text;
QUORBEL_LABEL_TEXTS(QUORBEL_DECLARE_LABEL)
#undef QUORBEL_DECLARE_LABEL
#define QUORBEL_DECLARE_BOX(name, text, caption) inline constexpr BoxText name{text, caption};
QUORBEL_BOX_TEXTS(QUORBEL_DECLARE_BOX)
#undef QUORBEL_DECLARE_BOX
}  // namespace texts

// Every entry of the catalogue, in its order, and every label.
const std::vector<BoxText>& AllBoxTexts();
const std::vector<const char16_t*>& AllLabelTexts();

// A value for FormatText: a number for %d, a text for %s.
struct TextArg {
    TextArg(long long value) : isNumber(true), number(value) {}
    TextArg(int value) : isNumber(true), number(value) {}
    TextArg(u16view value) : isNumber(false), text(value) {}
    TextArg(const char16_t* value) : isNumber(false), text(value) {}
    bool isNumber;
    long long number = 0;
    u16view text;
};

// The format with each %d and %s replaced by the next value, in order; a
// placeholder without a value, or of the other kind, stays as it is.
u16 FormatText(u16view format, std::initializer_list<TextArg> args);

// A limit in bytes as the size boxes state it: whole units of the largest
// binary unit it reaches, "953Mbyte" for the plain protocol's 999,997,000
// bytes, "976Gbyte" for the fast mode's 999,999 MiB.
u16 SizeLimitText(uint64_t bytes);

}  // namespace quorbel
