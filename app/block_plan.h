// What a write of the load image would send: its non-blank 128-byte blocks,
// the address ranges they form, which go with their address and which as
// continuation blocks, and the bytes and time on the line at 9600 bit/s.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace vantor {

inline constexpr std::uint32_t kBlockSize = 128;
inline constexpr std::uint32_t kBlockWithAddressBytes = 134;   // 0xC3, address, data, sum
inline constexpr std::uint32_t kContinuationBlockBytes = 130;  // 0xC7, data, sum
inline constexpr std::uint32_t kLineBitsPerSecond = 9600;
inline constexpr std::uint32_t kLineBitsPerByte = 10;  // start, 8 data, stop

// One stretch of consecutive non-blank blocks, [start, end).
struct AddressRange {
  std::uint32_t start;
  std::uint32_t end;
};

struct BlockPlan {
  std::uint32_t blocks = 0;          // non-blank blocks
  std::uint32_t with_address = 0;    // sent with their address (0xC3)
  std::uint32_t continuation = 0;    // sent as continuation blocks (0xC7)
  std::vector<AddressRange> ranges;  // ascending
  std::uint64_t line_bytes = 0;      // block commands only
  double seconds = 0.0;              // line_bytes at 9600 bit/s
};

// Plans image[0..size) (size a multiple of 128). A block is blank when all of
// its bytes are 0xFF. The address of the block sent before starts at 0, so a
// first non-blank block at 0x80 goes as a continuation block.
BlockPlan PlanBlocks(const std::uint8_t* image, std::uint32_t size);

// Prints the plan for the operator, addresses as h'0003FF80.
void PrintBlockPlan(const BlockPlan& plan, std::FILE* out);

}  // namespace vantor
