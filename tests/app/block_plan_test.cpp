// The block plan: blank blocks, ranges, the continuation rule and line time.
#include "app/block_plan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace vantor {
namespace {

class BlockPlanTest : public ::testing::Test {
 protected:
  static constexpr std::uint32_t kSize = 0x40000;
  void Mark(std::uint32_t address, std::uint8_t value = 0x00) { image_[address] = value; }
  BlockPlan Plan() const { return PlanBlocks(image_.data(), kSize); }
  std::vector<std::uint8_t> image_ = std::vector<std::uint8_t>(kSize, 0xFF);
};

TEST_F(BlockPlanTest, BlankImageSendsNothing) {
  BlockPlan plan = Plan();
  EXPECT_EQ(plan.blocks, 0u);
  EXPECT_TRUE(plan.ranges.empty());
  EXPECT_EQ(plan.line_bytes, 0u);
  EXPECT_EQ(plan.seconds, 0.0);
}

TEST_F(BlockPlanTest, AnyByteOtherThanFFMakesItsBlockNonBlank) {
  Mark(0x1000 + 127, 0xFE);  // last byte of one block
  Mark(0x3FF80, 0x7F);       // first byte of the last block
  BlockPlan plan = Plan();
  ASSERT_EQ(plan.blocks, 2u);
  ASSERT_EQ(plan.ranges.size(), 2u);
  EXPECT_EQ(plan.ranges[0].start, 0x1000u);
  EXPECT_EQ(plan.ranges[0].end, 0x1080u);
  EXPECT_EQ(plan.ranges[1].start, 0x3FF80u);
  EXPECT_EQ(plan.ranges[1].end, 0x40000u);
}

TEST_F(BlockPlanTest, BlocksFollowingTheirPredecessorGoAsContinuationBlocks) {
  for (std::uint32_t a : {0x1000u, 0x1080u, 0x1100u, 0x2000u}) Mark(a);
  BlockPlan plan = Plan();
  EXPECT_EQ(plan.with_address, 2u);
  EXPECT_EQ(plan.continuation, 2u);
  ASSERT_EQ(plan.ranges.size(), 2u);
  EXPECT_EQ(plan.ranges[0].end, 0x1180u);
  EXPECT_EQ(plan.line_bytes, 2u * 134 + 2u * 130);
  EXPECT_DOUBLE_EQ(plan.seconds, 528.0 * 10 / 9600);
}

TEST_F(BlockPlanTest, TheBlockBeforeTheFirstCountsAsAddressZero) {
  Mark(0x80);
  BlockPlan plan = Plan();
  EXPECT_EQ(plan.with_address, 0u);
  EXPECT_EQ(plan.continuation, 1u);

  image_.assign(kSize, 0xFF);
  Mark(0x0);
  Mark(0x80);
  plan = Plan();
  EXPECT_EQ(plan.with_address, 1u);
  EXPECT_EQ(plan.continuation, 1u);

  image_.assign(kSize, 0xFF);
  Mark(0x100);
  plan = Plan();
  EXPECT_EQ(plan.with_address, 1u);
  EXPECT_EQ(plan.continuation, 0u);
}

TEST_F(BlockPlanTest, FullImageIsOneRangeSentAlmostWhollyAsContinuation) {
  image_.assign(kSize, 0x00);
  BlockPlan plan = Plan();
  EXPECT_EQ(plan.blocks, 2048u);
  ASSERT_EQ(plan.ranges.size(), 1u);
  EXPECT_EQ(plan.with_address, 1u);
  EXPECT_EQ(plan.continuation, 2047u);
  EXPECT_EQ(plan.line_bytes, 134u + 2047u * 130);
  EXPECT_NEAR(plan.seconds, 277.34, 0.01);
}

TEST_F(BlockPlanTest, PrintedPlanShowsRangesInUpperCaseHex) {
  Mark(0x3AB00);
  Mark(0x3AB80);
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  PrintBlockPlan(Plan(), out);
  std::rewind(out);
  std::string printed;
  for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) printed += static_cast<char>(c);
  std::fclose(out);
  EXPECT_NE(printed.find("h'0003AB00 - h'0003ABFF"), std::string::npos) << printed;
  EXPECT_NE(printed.find("bytes on the line: 264\n"), std::string::npos) << printed;
}

}  // namespace
}  // namespace vantor
