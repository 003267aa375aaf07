#include "app/messages.h"

#include <cstdio>

namespace vantor {

namespace {

struct MessageEntry {
  ErrorCode code;
  const char* text;
};

constexpr const char* kCommandFailedText = "コマンド実行エラー";
constexpr const char* kDefaultText = "エラーです";

constexpr MessageEntry kMessages[] = {
    {kNoFileSelected, "ファイルが選択されていません"},
    {kFilePathTooLong, "ファイル名が長すぎます(255バイトまで)"},
    {kPortNameTooLong, "COMポート名が長すぎます(255バイトまで)"},
    {kBitRateNoAnswer, "ビットレート調整終了の合図を受信できませんでした"},
    {kBitRateWrongAnswer, "ビットレート調整終了の合図が違います"},
    {kHandshakeNoAnswer, "0x55を送信した後の0xAAが受信されませんでした"},
    {kHandshakeWrongAnswer, "0x55を送信した後に0xAA以外を受信しました"},
    {kNoPortSelected, "COMポートが選択されていません"},
    {kLengthHighNoEcho, "ターゲットからの応答がありません(1)"},
    {kLengthHighWrongEcho, "エコーバックが違います(1)"},
    {kLengthLowNoEcho, "ターゲットからの応答がありません(2)"},
    {kLengthLowWrongEcho, "エコーバックが違います(2)"},
    {kProgramNoEcho, "ターゲットからの応答がありません(3)"},
    {kProgramWrongEcho, "エコーバックが違います(3)"},
    {kEraseNoSignal, "消去完了の合図を受信できませんでした"},
    {kEraseWrongSignal, "消去完了の合図が違います"},
    {kRecordMissing, "レコードがありません"},
    {kRecordMalformed, "レコードが異常です"},
    {kRecordTypeAbnormal, "レコードタイプが異常です"},
    {kFileNotFound, "ファイルが見つかりません"},
    {kLoadExceedsImage, "ロードデータがバッファサイズを越えました"},
    {kUnknownExtension, "拡張子が *.mot, *.qpf 以外です"},
    {kRecordChecksumWrong, "チェックサムが違うレコードがあります"},
    {kPortOpenFailed, "COMポートのオープンに失敗しました"},
    {kPortSetupFailed, "COMポートのパラメータの変更が出来ません"},
    {kPortAlreadyOpen, "COMポートは既に開かれています"},
    {kWriteFailed, "送信エラー"},
    {kWriteTimeout, "送信データがありません"},
    {kDrainOverrun, "受信バッファをクリアできませんでした"},
    {kIdNotReceived, "IDコードを受信できませんでした"},
    {kIdMismatch, "IDコードが違います"},
    {kNoCompletion, "コマンド実行終了コードが帰ってきません"},
    {kCommandFailed, kCommandFailedText},
    {kBlockNoReply, "受信データがありません"},
    {kBlockReceiveError, "受信エラー"},
    {kBlockBadParameter, "パラメータが不正"},
    {kBlockWriteFailed, kCommandFailedText},
    {kFlashMismatch, "書き込んだ内容がファイルと一致しません"},
    {kRateUnreachable, "ターゲットのクロックではその通信速度になりません"},
    {kRateRefusedByPort, "COMポートがその通信速度に設定できません"},
    {kBoardFlashViolation, "仮想ボードがフラッシュ書き込み手順の違反を検出しました"},
};

}  // namespace

const char* ErrorText(ErrorCode code) {
  for (const MessageEntry& entry : kMessages) {
    if (entry.code == code) return entry.text;
  }
  return kDefaultText;
}

int FormatErrorMessage(ErrorCode code, char* out, std::size_t size) {
  return std::snprintf(out, size, "Err:%04d %s", code, ErrorText(code));
}

std::string ErrorMessage(ErrorCode code) {
  char buffer[kErrorMessageBufferSize];
  FormatErrorMessage(code, buffer, sizeof buffer);
  return buffer;
}

}  // namespace vantor
