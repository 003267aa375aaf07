// The write procedure behind the WRITE button and the console program: load
// the file, open the port, bring the chip up in boot mode, prepare the
// write-control program and send every non-blank block.
#pragma once

#include "app/operator_panel.h"
#include "common/error_code.h"

namespace vantor {

// Texts the operator sees during a write (UTF-8).
inline constexpr const char* kPromptPowerOn = "スイッチを切り替えて電源を入れてください";
inline constexpr const char* kStatusBootMode = "ブートモード起動中";
inline constexpr const char* kStatusTransfer = "書き込み制御プログラム転送中";
inline constexpr const char* kStatusErasing = "フラッシュメモリ消去中";
inline constexpr const char* kStatusBlockFormat = "書き込み中 h'%08X";
inline constexpr const char* kStatusComplete = "書き込み完了";
// The fast line, only when the operator asked for another bit rate.
inline constexpr const char* kStatusRateSwitchFormat = "通信速度切り替え中 %u bit/s";
inline constexpr const char* kWarningRateSwitchFailed =
    "通信速度を切り替えられませんでした。9600 bit/s で書き込みます";
inline constexpr const char* kWarningNoFasterRate =
    "9600 bit/s より速い通信速度がありません。9600 bit/s で書き込みます";
inline constexpr const char* kPromptPowerOff = "電源を切ってからスイッチを元に戻して下さい";

// Runs one whole write through `panel`. Everything it has to say goes
// through the panel; the first failure ends the run, closes the port if it
// was opened and is shown with ShowError. Returns 0 or the code shown.
ErrorCode RunWriteOperation(OperatorPanel& panel);

// Shows `code` as its numbered message in the panel's error box, then puts
// the failure text into the status line.
void ShowError(OperatorPanel& panel, ErrorCode code);

}  // namespace vantor
