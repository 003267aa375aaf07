// The result of every operation on the write path: 0 is success, anything
// else names what went wrong. Codes pass upward unchanged, so the operator
// sees the failing operation's own code.
#pragma once

namespace vantor {

using ErrorCode = int;

inline constexpr ErrorCode kOk = 0;

// Write operation and boot-mode entry.
inline constexpr ErrorCode kNoFileSelected = 30;
// A file path or port name longer than its 255-byte buffer: refused whole,
// never cut to another name.
inline constexpr ErrorCode kFilePathTooLong = 31;
inline constexpr ErrorCode kPortNameTooLong = 32;
inline constexpr ErrorCode kBitRateNoAnswer = 40;
inline constexpr ErrorCode kBitRateWrongAnswer = 41;
inline constexpr ErrorCode kHandshakeNoAnswer = 42;
inline constexpr ErrorCode kHandshakeWrongAnswer = 43;
inline constexpr ErrorCode kNoPortSelected = 50;
inline constexpr ErrorCode kLengthHighNoEcho = 51;
inline constexpr ErrorCode kLengthHighWrongEcho = 52;
inline constexpr ErrorCode kLengthLowNoEcho = 53;
inline constexpr ErrorCode kLengthLowWrongEcho = 54;
inline constexpr ErrorCode kProgramNoEcho = 55;
inline constexpr ErrorCode kProgramWrongEcho = 56;
inline constexpr ErrorCode kEraseNoSignal = 60;
inline constexpr ErrorCode kEraseWrongSignal = 61;

// Load-file readers.
inline constexpr ErrorCode kRecordMissing = 100;
inline constexpr ErrorCode kRecordMalformed = 101;
inline constexpr ErrorCode kRecordTypeAbnormal = 102;
inline constexpr ErrorCode kFileNotFound = 103;
inline constexpr ErrorCode kLoadExceedsImage = 104;
inline constexpr ErrorCode kUnknownExtension = 105;
// --strict: a data record whose checksum does not match its bytes.
inline constexpr ErrorCode kRecordChecksumWrong = 106;

// Serial port link.
inline constexpr ErrorCode kBadLineSettings = 200;
inline constexpr ErrorCode kPortOpenFailed = 201;
inline constexpr ErrorCode kPortSetupFailed = 202;
inline constexpr ErrorCode kPortAlreadyOpen = 203;
inline constexpr ErrorCode kReadFailed = 210;
inline constexpr ErrorCode kReadTimeout = 211;
inline constexpr ErrorCode kWriteFailed = 212;
inline constexpr ErrorCode kWriteTimeout = 213;
inline constexpr ErrorCode kDrainOverrun = 214;

// Commands of the write-control program.
inline constexpr ErrorCode kIdNotReceived = 300;
inline constexpr ErrorCode kIdMismatch = 301;
inline constexpr ErrorCode kNoCompletion = 302;
inline constexpr ErrorCode kCommandFailed = 303;
inline constexpr ErrorCode kBlockNoReply = 304;
inline constexpr ErrorCode kBlockReceiveError = 305;
inline constexpr ErrorCode kBlockBadParameter = 306;
inline constexpr ErrorCode kBlockWriteFailed = 307;
// The check after the last block: the chip's CRC-32 of its whole flash
// differs from that of the load image.
inline constexpr ErrorCode kFlashMismatch = 308;

// The virtual board (port "sim") saw the flash programming procedure
// broken during the write.
inline constexpr ErrorCode kBoardFlashViolation = 320;

// The fast line.
// The chip cannot come within 2 % of the asked bit rate at its clock.
inline constexpr ErrorCode kRateUnreachable = 310;
// The port refuses the asked bit rate.
inline constexpr ErrorCode kRateRefusedByPort = 311;

}  // namespace vantor
