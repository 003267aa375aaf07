// vantor: the console front end.
#include <cstdio>
#include <string>

#include "app/block_plan.h"
#include "app/console/options.h"
#include "app/messages.h"
#include "image/load_image.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int UsageError(const std::string& reason) {
  std::fprintf(stderr, "vantor: %s\n%s", reason.c_str(), vantor::ConsoleUsage());
  return kExitUsage;
}

int DryRun(const std::string& file) {
  vantor::ErrorCode rc = vantor::LoadFile(file.c_str(), vantor::LoadImage, vantor::kLoadImageSize);
  if (rc != vantor::kOk) {
    std::fprintf(stderr, "%s\n", vantor::ErrorMessage(rc).c_str());
    return kExitFailed;
  }
  std::printf("%s\n", file.c_str());
  vantor::PrintBlockPlan(vantor::PlanBlocks(vantor::LoadImage, vantor::kLoadImageSize), stdout);
  return kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
  vantor::ConsoleOptions options;
  std::string error;
  if (!vantor::ParseConsoleOptions(argc, argv, options, error)) return UsageError(error);
  if (options.help) {
    std::fputs(vantor::ConsoleUsage(), stdout);
    return kExitDone;
  }
  if (options.version) {
    std::printf("vantor %s\n", VANTOR_VERSION);
    return kExitDone;
  }
  if (!options.dry_run) return UsageError("writing to a board is not available yet; use --dry-run");
  if (options.file.empty()) return UsageError("no file given");
  if (!options.port.empty()) return UsageError("--dry-run takes a file and no port");
  return DryRun(options.file);
}
