#include "app/write_operation.h"

#include <cstdint>
#include <cstdio>

#include "app/messages.h"
#include "image/crc32.h"
#include "image/load_image.h"
#include "link/block_stream.h"
#include "link/boot_mode.h"
#include "link/clock_setup.h"
#include "link/device_profile.h"
#include "link/line_rate.h"
#include "link/serial_link.h"
#include "link/target_commands.h"

namespace vantor {
namespace {

// Ends a run after the port was opened: the port is closed before the
// operator hears about the failure.
ErrorCode FailAfterOpen(OperatorPanel& panel, ErrorCode code) {
  ClosePort();
  ShowError(panel, code);
  return code;
}

unsigned CountBlocksToSend(std::uint32_t flashSize, std::uint32_t writeUnit) {
  unsigned count = 0;
  for (std::uint32_t address = 0; address < flashSize; address += writeUnit) {
    if (!IsBlankBlock(address)) ++count;
  }
  return count;
}

// The progress of a write about to send its blocks.
BlockProgress StartProgress() {
  BlockProgress progress;
  progress.blocksTotal = CountBlocksToSend(kDeviceProfile.flashSize, kDeviceProfile.writeUnit);
  progress.lineRate = CurrentLineRate();
  return progress;
}

// The status of the block at `address`, about to go out.
void ShowBlock(OperatorPanel& panel, BlockProgress& progress, std::uint32_t address) {
  char status[64];
  std::snprintf(status, sizeof status, kStatusBlockFormat, static_cast<unsigned>(address));
  progress.address = address;
  panel.ShowBlockStatus(status, progress);
}

// Sends every non-blank block in ascending order. A block that directly
// follows the one sent before goes without its address; the one "sent before"
// the first block counts as block 0, so a first block at 0x80 is a
// continuation block, as the write-control program expects.
ErrorCode WriteAllBlocks(OperatorPanel& panel) {
  const std::uint32_t flashSize = kDeviceProfile.flashSize;
  const std::uint32_t writeUnit = kDeviceProfile.writeUnit;
  BlockProgress progress = StartProgress();

  std::uint32_t previous = 0;
  for (std::uint32_t address = 0; address < flashSize; address += writeUnit) {
    if (IsBlankBlock(address)) continue;
    ShowBlock(panel, progress, address);

    const ErrorCode code =
        address == previous + writeUnit ? WriteNextBlock(address) : WriteBlockAt(address);
    if (code != kOk) return code;

    previous = address;
    ++progress.blocksDone;
  }
  return kOk;
}

// The same over the block stream: each block goes out when the chip asks
// for it, while it still programs the one before; the answer for that one
// comes after. The end of the stream carries the check when it is wanted:
// the chip's CRC-32 of its whole flash, most of it worked out between blocks.
ErrorCode StreamAllBlocks(OperatorPanel& panel, const WriteOptions& options) {
  const std::uint32_t flashSize = kDeviceProfile.flashSize;
  const std::uint32_t writeUnit = kDeviceProfile.writeUnit;
  if (const ErrorCode code = StartBlockStream(); code != kOk) return code;
  BlockProgress progress = StartProgress();

  std::uint32_t previous = 0;
  bool programming = false;  // a block sent and not yet answered
  for (std::uint32_t address = 0; address < flashSize; address += writeUnit) {
    if (IsBlankBlock(address)) continue;
    ShowBlock(panel, progress, address);

    if (programming) {
      if (const ErrorCode code = AwaitStreamNext(); code != kOk) return code;
    }
    if (const ErrorCode code = SendStreamBlock(address, address == previous + writeUnit);
        code != kOk) {
      return code;
    }
    if (programming) {
      if (const ErrorCode code = AwaitStreamWritten(); code != kOk) return code;
      ++progress.blocksDone;
    }
    programming = true;
    previous = address;
  }

  if (programming) {
    if (const ErrorCode code = AwaitStreamNext(); code != kOk) return code;
  }
  if (const ErrorCode code = SendStreamEnd(options.verify); code != kOk) return code;
  if (programming) {
    if (const ErrorCode code = AwaitStreamWritten(); code != kOk) return code;
  }
  if (!options.verify) return AwaitStreamEnded();

  panel.ShowStatus(kStatusVerifying);
  std::uint32_t chipCrc = 0;
  if (const ErrorCode code = AwaitStreamCrc(chipCrc); code != kOk) return code;
  return chipCrc == Crc32(LoadImage, flashSize) ? kOk : kFlashMismatch;
}

// The fast line: only when the operator asked for another rate, after write
// mode and before the first block. Without the request nothing goes out, so
// the line carries the boot-rate stream unchanged.
ErrorCode MoveToRequestedRate(OperatorPanel& panel) {
  const LineRateRequest& request = CurrentLineRateRequest();
  if (request.mode == LineRateMode::kBoot) return kOk;

  LineRatePlan plan;
  if (const ErrorCode code = ChooseLineRate(ReportedClockHz(), request, plan); code != kOk) {
    return code;
  }
  if (plan.rate == kBootBaudRate) {
    if (request.mode == LineRateMode::kFastest) panel.ShowWarning(kWarningNoFasterRate);
    return kOk;
  }
  char status[128];
  std::snprintf(status, sizeof status, kStatusRateSwitchFormat, static_cast<unsigned>(plan.rate));
  panel.ShowStatus(status);
  bool fellBack = false;
  const ErrorCode code = SwitchLineRate(plan, fellBack);
  if (code == kOk && fellBack) panel.ShowWarning(kWarningRateSwitchFailed);
  return code;
}

// The check after the last block: the chip's CRC-32 of its whole flash
// against that of the load image, whose blank bytes the chip has erased.
ErrorCode VerifyFlash(OperatorPanel& panel) {
  panel.ShowStatus(kStatusVerifying);
  const std::uint32_t flashSize = kDeviceProfile.flashSize;
  std::uint32_t chipCrc = 0;
  if (const ErrorCode code = ReadFlashCrc(0, flashSize, chipCrc); code != kOk) return code;
  return chipCrc == Crc32(LoadImage, flashSize) ? kOk : kFlashMismatch;
}

// Everything between the power-on prompt and the end of the check after
// the last block.
ErrorCode DriveTarget(OperatorPanel& panel, const WriteOptions& options) {
  panel.ShowStatus(kStatusBootMode);
  if (const ErrorCode code = StartBootMode(); code != kOk) return code;

  panel.ShowStatus(kStatusTransfer);
  if (const ErrorCode code = TransferWriteControlProgram(); code != kOk) return code;

  panel.ShowStatus(kStatusErasing);
  if (const ErrorCode code = WaitEraseComplete(); code != kOk) return code;

  if (const ErrorCode code = CheckTargetId(); code != kOk) return code;
  if (const ErrorCode code = SetupClockParameters(); code != kOk) return code;
  if (const ErrorCode code = EnterWriteMode(); code != kOk) return code;
  if (const ErrorCode code = MoveToRequestedRate(panel); code != kOk) return code;

  // On a faster line the block stream; at the boot rate the block commands.
  if (CurrentLineRate() != kBootBaudRate) return StreamAllBlocks(panel, options);
  if (const ErrorCode code = WriteAllBlocks(panel); code != kOk) return code;
  return options.verify ? VerifyFlash(panel) : kOk;
}

}  // namespace

void ShowError(OperatorPanel& panel, ErrorCode code) {
  char message[kErrorMessageBufferSize];
  FormatErrorMessage(code, message, sizeof message);
  panel.ShowErrorBox(message);
  panel.ShowStatus(kWriteFailedStatus);
}

void FormatChecksumWarning(const ChecksumReport& report, char* out, std::size_t size) {
  std::snprintf(out, size, kWarningChecksumFormat, report.wrongRecords, report.firstLine);
}

ErrorCode RunWriteOperation(OperatorPanel& panel, const WriteOptions& options) {
  // The file is loaded, and a bad file reported, before the port name is
  // looked at; nothing is opened until both are known.
  const int fileLength = panel.ReadFileField();
  if (fileLength == 0 || fileLength == kFieldTooLong) {
    const ErrorCode code = fileLength == 0 ? kNoFileSelected : kFilePathTooLong;
    ShowError(panel, code);
    return code;
  }

  if (const ErrorCode code = LoadFile(g_filePath, LoadImage, kLoadImageSize); code != kOk) {
    panel.ClearFileField();
    ShowError(panel, code);
    return code;
  }
  if (const ChecksumReport& report = LastChecksumReport(); report.wrongRecords != 0) {
    if (options.strict) {
      panel.ClearFileField();
      ShowError(panel, kRecordChecksumWrong);
      return kRecordChecksumWrong;
    }
    char warning[256];
    FormatChecksumWarning(report, warning, sizeof warning);
    panel.ShowWarning(warning);
  }

  const int portLength = panel.ReadPortField();
  if (portLength == 0 || portLength == kFieldTooLong) {
    const ErrorCode code = portLength == 0 ? kNoPortSelected : kPortNameTooLong;
    ShowError(panel, code);
    return code;
  }

  ResetLineRate();
  if (const ErrorCode code = OpenPort(g_portName, 9600, 'n', 8, 1.0f); code != kOk) {
    return FailAfterOpen(panel, code);
  }

  panel.ShowPrompt(kPromptPowerOn);

  if (const ErrorCode code = DriveTarget(panel, options); code != kOk) {
    return FailAfterOpen(panel, code);
  }

  ClosePort();
  panel.ShowStatus(kStatusComplete);
  panel.ShowPrompt(kPromptPowerOff);
  return kOk;
}

}  // namespace vantor
