// The operator's messages: format, texts and the default for unknown codes.
#include "app/messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace vantor {
namespace {

TEST(MessagesTest, MessageIsTheCodeInFourDigitsABlankAndTheText) {
  EXPECT_EQ(ErrorMessage(kFileNotFound), "Err:0103 ファイルが見つかりません");
  EXPECT_EQ(ErrorMessage(kNoFileSelected), "Err:0030 ファイルが選択されていません");
  EXPECT_EQ(ErrorMessage(kUnknownExtension), "Err:0105 拡張子が *.mot, *.qpf 以外です");
  EXPECT_EQ(ErrorMessage(kHandshakeNoAnswer),
            "Err:0042 0x55を送信した後の0xAAが受信されませんでした");
  EXPECT_EQ(ErrorMessage(kProgramWrongEcho), "Err:0056 エコーバックが違います(3)");
  EXPECT_EQ(ErrorMessage(kBlockBadParameter), "Err:0306 パラメータが不正");
  EXPECT_EQ(ErrorMessage(12345), "Err:12345 エラーです");
  EXPECT_EQ(ErrorMessage(kFilePathTooLong), "Err:0031 ファイル名が長すぎます(255バイトまで)");
  EXPECT_EQ(ErrorMessage(kPortNameTooLong), "Err:0032 COMポート名が長すぎます(255バイトまで)");
  EXPECT_EQ(ErrorMessage(kRecordChecksumWrong), "Err:0106 チェックサムが違うレコードがあります");
  EXPECT_EQ(ErrorMessage(kFlashMismatch), "Err:0308 書き込んだ内容がファイルと一致しません");
}

TEST(MessagesTest, CodesWithoutARowTakeTheDefaultText) {
  for (ErrorCode code : {0, 1, -1, 33, 99, 107, 200, 204, 210, 211, 299, 309, 999}) {
    EXPECT_STREQ(ErrorText(code), "エラーです") << code;
  }
  EXPECT_EQ(ErrorMessage(kBadLineSettings), "Err:0200 エラーです");
  EXPECT_EQ(ErrorMessage(0), "Err:0000 エラーです");
  EXPECT_EQ(ErrorMessage(-5), "Err:-005 エラーです");
}

TEST(MessagesTest, EveryTableCodeHasItsOwnTextExceptTheSharedCommandError) {
  std::set<std::string> texts;
  int rows = 0;
  for (ErrorCode code = -10; code < 1000; ++code) {
    std::string text = ErrorText(code);
    if (text == "エラーです") continue;
    ++rows;
    texts.insert(text);
  }
  EXPECT_EQ(rows, 41);  // the table, 31 and 32 for over-long names, 106 and 308 of the
                        // checks, 310 and 311 for the fast line, 320 for the board
  EXPECT_EQ(texts.size(), 40u);
  EXPECT_EQ(ErrorMessage(kBoardFlashViolation),
            "Err:0320 仮想ボードがフラッシュ書き込み手順の違反を検出しました");
  EXPECT_STREQ(ErrorText(kBlockWriteFailed), ErrorText(kCommandFailed));
  EXPECT_EQ(ErrorMessage(kBlockWriteFailed), "Err:0307 コマンド実行エラー");
  EXPECT_EQ(ErrorMessage(kCommandFailed), "Err:0303 コマンド実行エラー");
}

TEST(MessagesTest, FormattingFitsTheBufferAndNeverOverruns) {
  char buffer[kErrorMessageBufferSize];
  for (ErrorCode code = 0; code < 400; ++code) {
    int n = FormatErrorMessage(code, buffer, sizeof buffer);
    EXPECT_LT(n, static_cast<int>(sizeof buffer)) << code;
  }
  char small[10];
  std::memset(small, '#', sizeof small);
  EXPECT_GT(FormatErrorMessage(kFileNotFound, small, 9), 9);
  EXPECT_STREQ(small, "Err:0103");
  EXPECT_EQ(small[9], '#');
}

TEST(MessagesTest, FailureStatusText) {
  EXPECT_STREQ(kWriteFailedStatus, "書き込み出来ませんでした");
}

}  // namespace
}  // namespace vantor
