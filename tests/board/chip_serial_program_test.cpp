// Programs of ours on the chip using the boot channel: echo, a receiver
// read too slowly (overrun), and the watchdog left running.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "board/h8s2215_chip.h"
#include "tests/board/chip_assembler.h"
#include "tests/board/chip_boot_helper.h"

namespace vantor::board {
namespace {

namespace d = device;
using testing::Assemble;
using testing::AssemblerAvailable;
using testing::BootInto;
using testing::Exchange;

constexpr std::uint32_t kResult = d::kRamStart + 0x2000;

// Echoes every byte on the boot channel.
std::string EchoSource() {
  std::ifstream in(VANTOR_BOARD_TEST_DIR "/chip_echo_program.s");
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class SerialProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!AssemblerAvailable()) GTEST_SKIP() << "h8300-hms binutils not installed";
  }
  void Boot(const std::string& source) {
    std::string errors;
    const auto image = Assemble(source, d::kDefaultLoadAddress, errors);
    ASSERT_FALSE(image.empty()) << errors;
    ASSERT_TRUE(BootInto(chip_, image));
  }
  H8s2215Chip chip_;
};

TEST_F(SerialProgramTest, EchoProgramAnswersAndIdleTimeIsSkipped) {
  Boot(EchoSource());
  for (int byte : {0x00, 0x5A, 0xFF, 0xC3}) {
    EXPECT_EQ(Exchange(chip_, static_cast<std::uint8_t>(byte)), byte);
  }
  // Waiting on an empty receiver costs no instructions once seen as a loop.
  const std::uint64_t executed = chip_.Core().instructions();
  chip_.RunForMicroseconds(1e6);
  EXPECT_LT(chip_.Core().instructions() - executed, 100u);
  EXPECT_GT(chip_.SkippedStates(), d::kDefaultClockHz / 2);
  EXPECT_EQ(Exchange(chip_, 0x42), 0x42);  // and it still answers after the jump
}

TEST_F(SerialProgramTest, ReadingTooSlowlyOverrunsTheReceiver) {
  // Waits for a byte, then dawdles 5 ms (about five byte times) before
  // looking at SSR again.
  char source[512];
  std::snprintf(source, sizeof source,
                "rx:\tbtst\t#6,@SCI1_BASE+SCI_SSR:8\n\tbeq\trx\n"
                "\tmov.w\t#33280,r4\n1:\tdec.w\t#1,r4\n\tbne\t1b\n"
                "\tmov.b\t@SCI1_BASE+SCI_SSR:8,r0l\n\tmov.b\tr0l,@0x%X:32\n"
                "idle:\tbra\tidle\n",
                kResult);
  Boot(source);
  for (std::uint8_t byte : {0x01, 0x02, 0x03}) chip_.HostSend(byte);
  chip_.RunForMicroseconds(10000);
  EXPECT_EQ(chip_.BootSci().OverrunCount(), 1u);
  const std::uint8_t ssr = chip_.Ram()[kResult - d::kRamStart];
  EXPECT_TRUE(ssr & d::kSsrOrer);
  EXPECT_TRUE(ssr & d::kSsrRdrf);
  EXPECT_EQ(chip_.BootSci().Read(d::kSciRdr, chip_.Now()), 0x01);  // the first byte kept
}

TEST_F(SerialProgramTest, PromptReaderSeesNoOverrun) {
  Boot(EchoSource());
  for (std::uint8_t byte : {0x01, 0x02, 0x03, 0x04}) chip_.HostSend(byte);
  chip_.RunForMicroseconds(10000);
  std::uint8_t got[4] = {};
  for (std::uint8_t& byte : got) ASSERT_TRUE(chip_.HostReceive(byte));
  EXPECT_EQ(got[3], 0x04);
  EXPECT_EQ(chip_.BootSci().OverrunCount(), 0u);
}

TEST_F(SerialProgramTest, WatchdogLeftRunningOverflowsAndResetsTheChip) {
  Boot(
      "\tmov.w\t#WDT_TCSR_KEY|TCSR_WT|TCSR_TME|TCSR_CKS_512,r0\n\tmov.w\tr0,@WDT_TCSR:16\n"
      "idle:\tbra\tidle\n");
  // The program started before the last byte reached the host: the counter
  // tells how far the watchdog has come; 256 counts of 512 states overflow it.
  const States left = (256u - chip_.Wdt().Read(1, chip_.Now())) * 512u;
  chip_.RunUntil(chip_.Now() + left - 1024);
  EXPECT_EQ(chip_.WatchdogResets(), 0u);
  chip_.RunUntil(chip_.Now() + 1024);
  EXPECT_EQ(chip_.WatchdogResets(), 1u);
  EXPECT_FALSE(chip_.CpuRunning());
  EXPECT_EQ(chip_.Flash().Report(), "none");  // SWE was never set
  EXPECT_EQ(Exchange(chip_, 0x00), 0x00);
}

TEST_F(SerialProgramTest, RewritingTheCounterKeepsTheWatchdogQuiet) {
  Boot(
      "\tmov.w\t#WDT_TCSR_KEY|TCSR_WT|TCSR_TME|TCSR_CKS_512,r0\n\tmov.w\tr0,@WDT_TCSR:16\n"
      "\tmov.w\t#WDT_TCNT_KEY,r1\n"
      "loop:\tmov.w\tr1,@WDT_TCSR:16\n\tbra\tloop\n");
  chip_.RunForMicroseconds(20000);
  EXPECT_EQ(chip_.WatchdogResets(), 0u);
  EXPECT_TRUE(chip_.CpuRunning());
}

// A loop that waits on a flag it tests in memory (TEND after a byte) holds
// nothing in a register that changes, so skipping idle time must also see
// the value read: the second byte follows the first at once, not when the
// host's run ends.
TEST_F(SerialProgramTest, WaitingForTendEndsWhenTheByteHasLeft) {
  Boot(
      "rx:\tbtst\t#6,@SCI1_BASE+SCI_SSR:8\n\tbeq\trx\n"
      "\tbclr\t#6,@SCI1_BASE+SCI_SSR:8\n"  // RDRF cleared: the receiver is empty again
      "\tmov.b\t#0x41,r0l\n"
      "send:\tmov.b\tr0l,@SCI1_BASE+SCI_TDR:8\n\tbclr\t#7,@SCI1_BASE+SCI_SSR:8\n"
      "1:\tbtst\t#2,@SCI1_BASE+SCI_SSR:8\n\tbeq\t1b\n"
      "\tinc.b\tr0l\n\tcmp.b\t#0x43,r0l\n\tbne\tsend\n"
      "idle:\tbra\tidle\n");
  std::vector<States> at;
  chip_.SetLineTrace([&at](bool toChip, std::uint8_t, States when) {
    if (!toChip) at.push_back(when);
  });
  chip_.HostSend(0x00);  // go
  chip_.RunForMicroseconds(50000);
  ASSERT_EQ(at.size(), 2u);
  const double byteStates = chip_.BootSci().BitStates() * 10.0;
  EXPECT_NEAR(static_cast<double>(at[1] - at[0]), byteStates, byteStates * 0.01);
  std::uint8_t got[2] = {};
  for (std::uint8_t& byte : got) ASSERT_TRUE(chip_.HostReceive(byte));
  EXPECT_EQ(got[0], 0x41);
  EXPECT_EQ(got[1], 0x42);
}

}  // namespace
}  // namespace vantor::board
