#include "app/block_plan.h"

#include <cinttypes>

namespace vantor {

namespace {

bool IsBlank(const std::uint8_t* block) {
  for (std::uint32_t i = 0; i < kBlockSize; ++i) {
    if (block[i] != 0xFF) return false;
  }
  return true;
}

}  // namespace

BlockPlan PlanBlocks(const std::uint8_t* image, std::uint32_t size) {
  BlockPlan plan;
  std::uint32_t previous = 0;  // the address of the block sent before
  for (std::uint32_t address = 0; address + kBlockSize <= size; address += kBlockSize) {
    if (IsBlank(image + address)) continue;
    ++plan.blocks;
    if (address == previous + kBlockSize) {
      ++plan.continuation;
      plan.line_bytes += kContinuationBlockBytes;
    } else {
      ++plan.with_address;
      plan.line_bytes += kBlockWithAddressBytes;
    }
    if (!plan.ranges.empty() && plan.ranges.back().end == address) {
      plan.ranges.back().end = address + kBlockSize;
    } else {
      plan.ranges.push_back({address, address + kBlockSize});
    }
    previous = address;
  }
  plan.seconds = static_cast<double>(plan.line_bytes * kLineBitsPerByte) / kLineBitsPerSecond;
  return plan;
}

void PrintBlockPlan(const BlockPlan& plan, std::FILE* out) {
  std::fprintf(out, "non-blank %" PRIu32 "-byte blocks: %" PRIu32 "\n", kBlockSize, plan.blocks);
  for (const AddressRange& range : plan.ranges) {
    std::fprintf(out, "  h'%08" PRIX32 " - h'%08" PRIX32 "  %" PRIu32 " block(s)\n", range.start,
                 range.end - 1, (range.end - range.start) / kBlockSize);
  }
  std::fprintf(out, "with address: %" PRIu32 ", continuation: %" PRIu32 "\n", plan.with_address,
               plan.continuation);
  std::fprintf(out, "bytes on the line: %" PRIu64 "\n", plan.line_bytes);
  std::fprintf(out, "time at %" PRIu32 " bit/s: %.1f s\n", kLineBitsPerSecond, plan.seconds);
}

}  // namespace vantor
