// The write procedure behind the WRITE button and the console program: load
// the file, open the port, bring the chip up in boot mode, prepare the
// write-control program and send every non-blank block.
#pragma once

#include <cstddef>
#include "app/operator_panel.h"

#include "common/error_code.h"
#include "image/srecord_reader.h"

namespace vantor {

// Texts the operator sees during a write (UTF-8).
inline constexpr const char* kPromptPowerOn = "スイッチを切り替えて電源を入れてください";
inline constexpr const char* kStatusBootMode = "ブートモード起動中";
inline constexpr const char* kStatusTransfer = "書き込み制御プログラム転送中";
inline constexpr const char* kStatusErasing = "フラッシュメモリ消去中";
inline constexpr const char* kStatusBlockFormat = "書き込み中 h'%08X";
inline constexpr const char* kStatusVerifying = "書き込み内容確認中";
inline constexpr const char* kStatusComplete = "書き込み完了";
// The fast line, only when the operator asked for another bit rate.
inline constexpr const char* kStatusRateSwitchFormat = "通信速度切り替え中 %u bit/s";
inline constexpr const char* kWarningRateSwitchFailed =
    "警告: 通信速度を切り替えられませんでした。9600 bit/s で書き込みます";
inline constexpr const char* kWarningNoFasterRate =
    "警告: 9600 bit/s より速い通信速度がありません。9600 bit/s で書き込みます";
inline constexpr const char* kPromptPowerOff = "電源を切ってからスイッチを元に戻して下さい";
// After the load, when data records had a wrong checksum: their count and the
// line of the first.
inline constexpr const char* kWarningChecksumFormat =
    "警告: チェックサムが違うレコードが%u件あります(最初は%u行目)";

struct WriteOptions {
  // After the last block, the chip's CRC-32 of its whole flash is compared
  // with that of the load image (blank bytes included); a difference is 308.
  // Off, the line carries exactly the bytes of a write without the check.
  bool verify = true;
  // A file with a data record whose checksum is wrong is refused (106)
  // instead of written with a warning.
  bool strict = false;
};

// The warning text for `report`, into out[0..size).
void FormatChecksumWarning(const ChecksumReport& report, char* out, std::size_t size);

// Runs one whole write through `panel`. Everything it has to say goes
// through the panel; the first failure ends the run, closes the port if it
// was opened and is shown with ShowError. Returns 0 or the code shown.
ErrorCode RunWriteOperation(OperatorPanel& panel, const WriteOptions& options = {});

// Shows `code` as its numbered message in the panel's error box, then puts
// the failure text into the status line.
void ShowError(OperatorPanel& panel, ErrorCode code);

}  // namespace vantor
