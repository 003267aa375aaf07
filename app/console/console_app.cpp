#include "app/console/console_app.h"

#include <cstdio>
#include <string>

#include "app/block_plan.h"
#include "app/console/console_transport.h"
#include "app/console/interrupt.h"
#include "app/console/options.h"
#include "app/messages.h"
#include "app/write_operation.h"
#include "image/load_image.h"
#include "link/line_rate.h"
#include "link/port_list.h"
#include "link/serial_transport.h"

#ifndef VANTOR_VERSION
#define VANTOR_VERSION "2.3.0"
#endif

namespace vantor {
namespace {

int UsageError(const ConsoleStreams& streams, const std::string& reason) {
  if (!reason.empty()) std::fprintf(streams.err, "vantor: %s\n", reason.c_str());
  std::fputs(ConsoleUsage(), streams.err);
  return kExitUsage;
}

int DryRun(const ConsoleStreams& streams, const ConsoleOptions& options) {
  const std::string& file = options.file;
  // An empty FILE is an empty file field, as in a write.
  ErrorCode code =
      file.empty() ? kNoFileSelected : LoadFile(file.c_str(), LoadImage, kLoadImageSize);
  const ChecksumReport& checksums = LastChecksumReport();
  if (code == kOk && checksums.wrongRecords != 0) {
    if (options.strict) {
      code = kRecordChecksumWrong;
    } else {
      char warning[256];
      FormatChecksumWarning(checksums, warning, sizeof warning);
      std::fprintf(streams.err, "%s\n", warning);
    }
  }
  if (code != kOk) {
    std::fprintf(streams.err, "%s\n", ErrorMessage(code).c_str());
    return kExitFailed;
  }
  std::fprintf(streams.out, "%s\n", file.c_str());
  PrintBlockPlan(PlanBlocks(LoadImage, kLoadImageSize), streams.out);
  return kExitDone;
}

int ListPorts(const ConsoleStreams& streams) {
  const std::vector<std::string> ports = ListSerialPorts();
  for (const std::string& port : ports) std::fprintf(streams.out, "%s\n", port.c_str());
  if (SimBoardBuiltIn()) std::fprintf(streams.out, "sim\n");
  if (ports.empty()) std::fprintf(streams.err, "vantor: no serial ports found\n");
  return kExitDone;
}

// Start-up fills the two buffers from the arguments, refusing a text too long
// for its buffer as a whole, as the field reads do; the panel's fields then
// show what the buffers hold.
ErrorCode StoreStartupParameters(const ConsoleOptions& options) {
  if (StoreFieldText(options.file.data(), options.file.size(), g_filePath, sizeof g_filePath) ==
      kFieldTooLong) {
    return kFilePathTooLong;
  }
  if (StoreFieldText(options.port.data(), options.port.size(), g_portName, sizeof g_portName) ==
      kFieldTooLong) {
    return kPortNameTooLong;
  }
  return kOk;
}

int Write(const ConsoleStreams& streams, const ConsoleOptions& options) {
  ConsoleStreams panelStreams = streams;
  // The hex trace and a rewritten progress line would tear each other apart.
  if (options.verbose) panelStreams.errIsTerminal = false;
  ConsolePanelSettings settings;
  settings.assumeYes = options.yes;
  settings.quiet = options.quiet;
  ConsolePanel panel(panelStreams, settings);

  if (const ErrorCode code = StoreStartupParameters(options); code != kOk) {
    ShowError(panel, code);
    return kExitFailed;
  }
  panel.SetFields(g_filePath, g_portName);

  // The fast line: the rate the blocks should go at.
  LineRateRequest rateRequest;
  if (options.fast) rateRequest.mode = LineRateMode::kFastest;
  if (options.baud != 0) rateRequest = {LineRateMode::kRequested, options.baud};
  SetLineRateRequest(rateRequest);

  InstallInterruptHandlers();
  ConfigureSimBoard(options.sim_clock_hz, options.sim_dump);
  InstallConsoleTransport(options.verbose ? streams.err : nullptr);
  WriteOptions writeOptions;
  writeOptions.verify = !options.no_verify;
  writeOptions.strict = options.strict;
  const ErrorCode code = RunWriteOperation(panel, writeOptions);
  SetTransportSelector(nullptr);
  // What the write would have taken on a real board at that clock.
  double emulated = 0.0;
  double clockHz = 0.0;
  if (!options.quiet && SimEmulatedTime(emulated, clockHz)) {
    std::fprintf(streams.err, "virtual board: %.1f s of emulated time at %.3f MHz\n", emulated,
                 clockHz / 1e6);
  }

  // The fast line: the rate the blocks went at.
  if (!options.quiet && code == kOk && rateRequest.mode != LineRateMode::kBoot) {
    std::fprintf(streams.err, "line: blocks written at %u bit/s\n",
                 static_cast<unsigned>(CurrentLineRate()));
  }

  // A board that saw the procedure broken fails the write whatever the
  // chip answered: a real chip could hold wrong data or be worn.
  std::string violations;
  if (SimFlashViolations(violations)) {
    std::fprintf(streams.err, "vantor: the virtual board saw the flash procedure broken:\n%s",
                 violations.c_str());
    if (code == kOk) ShowError(panel, kBoardFlashViolation);
    return kExitFlashViolation;
  }

  if (code == kOk) return kExitDone;
  return panel.ReportedInterrupt() ? kExitInterrupted : kExitFailed;
}

}  // namespace

int RunConsole(int argc, const char* const* argv, const ConsoleStreams& streams) {
  ConsoleOptions options;
  std::string error;
  if (!ParseConsoleOptions(argc, argv, options, error)) return UsageError(streams, error);
  if (options.help) {
    std::fputs(ConsoleHelp(), streams.out);
    return kExitDone;
  }
  if (options.version) {
    std::fprintf(streams.out, "vantor %s\n", VANTOR_VERSION);
    return kExitDone;
  }
  if (options.list_ports) return ListPorts(streams);
  if (!options.file_given) return UsageError(streams, argc > 1 ? "no file given" : "");
  if ((options.sim_clock_hz != 0 || !options.sim_dump.empty()) && !SimBoardBuiltIn()) {
    return UsageError(streams, "the virtual board \"sim\" is not built into this program");
  }
  if (!options.sim_line_faults.empty()) {
    if (!options.port.empty() && options.port != "sim") {
      return UsageError(streams,
                        "--board-line-fault damages the line to the virtual board only "
                        "(port sim)");
    }
    if (!ConfigureSimLineFaults(options.sim_line_faults, error)) return UsageError(streams, error);
  } else if (SimBoardBuiltIn()) {
    ConfigureSimLineFaults({}, error);  // a clean line for this run
  }
  if (options.dry_run) {
    if (!options.port.empty()) return UsageError(streams, "--dry-run takes a file and no port");
    return DryRun(streams, options);
  }
  return Write(streams, options);
}

}  // namespace vantor
