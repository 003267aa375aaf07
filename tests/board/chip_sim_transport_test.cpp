// The host's own boot-mode code against the chip through port name "sim":
// CPU, SCI and boot ROM together, at several clocks.
#include "board/sim_transport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>

#include "link/boot_mode.h"
#include "link/serial_link.h"
#include "link/serial_transport.h"
#include "tests/board/chip_host_profile.h"

namespace vantor::board {
namespace {

namespace d = device;

class SimTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::PrepareEchoProfile()) GTEST_SKIP() << "built without the h8300-hms binutils";
    SetTransportSelector(&SimTransportFor);
    ResetSimBoard();
    SetSimBoardClock(d::kDefaultClockHz);
    SetSimBoardLoadAddress(d::kDefaultLoadAddress);
    SetSimBoardDump("");
  }
  void TearDown() override {
    ClosePort();
    SetTransportSelector(nullptr);
    ResetSimBoard();
  }
  static ErrorCode Boot() {
    if (const ErrorCode code = StartBootMode(); code != kOk) return code;
    if (const ErrorCode code = TransferWriteControlProgram(); code != kOk) return code;
    return WaitEraseComplete();
  }
};

struct ClockCase {
  std::uint32_t hz;
  std::uint8_t brr;
};

void PrintTo(const ClockCase& c, std::ostream* out) {
  *out << c.hz << " Hz";
}

class SimTransportClockTest : public SimTransportTest,
                              public ::testing::WithParamInterface<ClockCase> {};

TEST_P(SimTransportClockTest, HostBootsTheChipAndTheProgramEchoes) {
  SetSimBoardClock(GetParam().hz);
  ASSERT_EQ(OpenPort(kSimPortName, 9600, 'n', 8, 1.0f), kOk);
  ASSERT_EQ(Boot(), kOk);
  EXPECT_EQ(SimBoard().BootSci().Read(d::kSciBrr, SimBoard().Now()), GetParam().brr);
  for (int byte : {0x00, 0x55, 0xAA, 0xC0, 0xFF}) {
    const EchoResult echo = SendEchoed(static_cast<std::uint8_t>(byte));
    ASSERT_EQ(echo.sendCode, kOk);
    ASSERT_TRUE(echo.answer.has_value()) << byte;
    EXPECT_EQ(*echo.answer, byte);
  }
  EXPECT_EQ(SimBoard().BootSci().OverrunCount(), 0u);
  EXPECT_EQ(SimBoard().BootSci().FramingErrorCount(), 0u);
  EXPECT_FALSE(SimBoard().Halted()) << SimBoard().HaltMessage();
}

INSTANTIATE_TEST_SUITE_P(Clocks, SimTransportClockTest,
                         ::testing::Values(ClockCase{4000000, 12}, ClockCase{10000000, 32},
                                           ClockCase{16000000, 51}, ClockCase{19968000, 64}),
                         [](const auto& param) { return std::to_string(param.param.hz); });

TEST_F(SimTransportTest, ProgrammedFlashIsErasedAndSavedOnClose) {
  const std::string dump = ::testing::TempDir() + "chip_sim_dump.bin";
  SetSimBoardDump(dump);
  SimBoard().Flash().Contents()[0x3FF00] = 0x12;
  ASSERT_EQ(OpenPort(kSimPortName, 9600, 'n', 8, 1.0f), kOk);
  const States before = SimBoard().Now();
  ASSERT_EQ(Boot(), kOk);
  // The erase took its emulated time (600 ms by default) before the H'AA.
  EXPECT_GT(StatesToNs(SimBoard().Now() - before, d::kDefaultClockHz), 600e6);
  ClosePort();
  std::ifstream in(dump, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(bytes.size(), d::kFlashSize);
  EXPECT_EQ(bytes.find_first_not_of('\xFF'), std::string::npos);
  std::remove(dump.c_str());
}

TEST_F(SimTransportTest, ProgramThatDoesNotFitIsRefusedAtTheLength) {
  SetSimBoardLoadAddress(d::kRamEnd - 300);  // 256 bytes would reach the stack
  ASSERT_EQ(OpenPort(kSimPortName, 9600, 'n', 8, 1.0f), kOk);
  EXPECT_EQ(StartBootMode(), kLengthLowWrongEcho);
}

TEST_F(SimTransportTest, EachOpenPowersOnInBootModeAgain) {
  ASSERT_EQ(OpenPort(kSimPortName, 9600, 'n', 8, 1.0f), kOk);
  ASSERT_EQ(Boot(), kOk);
  ClosePort();
  ASSERT_EQ(OpenPort(kSimPortName, 9600, 'n', 8, 1.0f), kOk);
  EXPECT_EQ(Boot(), kOk);
}

TEST_F(SimTransportTest, SleepAndEmptyReadsRunEmulatedTime) {
  ASSERT_EQ(OpenPort(kSimPortName, 9600, 'n', 8, 1.0f), kOk);
  const States start = SimBoard().Now();
  SleepMilliseconds(5);
  EXPECT_NEAR(StatesToNs(SimBoard().Now() - start, d::kDefaultClockHz), 5e6, 1e3);
  std::uint8_t byte = 0;
  EXPECT_EQ(ReceiveByte(byte), kReadTimeout);  // nothing on the line: 10 ms pass
  EXPECT_NEAR(StatesToNs(SimBoard().Now() - start, d::kDefaultClockHz), 15e6, 1e3);
}

TEST_F(SimTransportTest, OtherNamesGoToThePlatformBackEnd) {
  EXPECT_EQ(SimTransportFor("COM1"), &PlatformTransport());
  EXPECT_NE(SimTransportFor(kSimPortName), &PlatformTransport());
}

}  // namespace
}  // namespace vantor::board
