// The operator's messages for every error code: "Err:" and the code in four
// digits, a blank, and a Japanese text (UTF-8).
#pragma once

#include <cstddef>
#include <string>

#include "common/error_code.h"

namespace vantor {

// Status text shown after any failed write.
inline constexpr const char* kWriteFailedStatus = "書き込み出来ませんでした";

// The text of `code` alone, without the "Err:nnnn " prefix. Codes the table
// does not name (0 and negative codes included) get the default text.
const char* ErrorText(ErrorCode code);

// Writes the whole message of `code` into out[0..size), always terminated
// when size > 0. Returns what snprintf returns: the length of the whole
// message, which is >= size when it was cut. 256 bytes hold every message.
int FormatErrorMessage(ErrorCode code, char* out, std::size_t size);

inline constexpr std::size_t kErrorMessageBufferSize = 256;

// The whole message of `code`, for example "Err:0103 ファイルが見つかりません".
std::string ErrorMessage(ErrorCode code);

}  // namespace vantor
