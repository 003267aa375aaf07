// Vantor's Win32 serial back end against vantor-board, under Wine: the
// board's pseudo-terminal is the Windows port named by VANTOR_BOARD_PORT
// (scripts/test-windows-board makes it COM1). Skipped without one.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "link/boot_mode.h"
#include "link/serial_link.h"
#include "link/serial_transport.h"
#include "tests/board/chip_host_profile.h"

namespace vantor::board {
namespace {

ErrorCode Boot() {
  if (const ErrorCode code = StartBootMode(); code != kOk) return code;
  if (const ErrorCode code = TransferWriteControlProgram(); code != kOk) return code;
  return WaitEraseComplete();
}

TEST(WineBoardTest, HostBootsTheBoardThroughTheComPortAgainAfterEachClose) {
  const char* port = std::getenv("VANTOR_BOARD_PORT");
  if (port == nullptr || *port == '\0') {
    GTEST_SKIP() << "no board line: scripts/test-windows-board provides one";
  }
  if (!testing::PrepareEchoProfile()) GTEST_SKIP() << "built without the h8300-hms binutils";
  SetTransportSelector(nullptr);  // the Win32 back end
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(OpenPort(port, 9600, 'n', 8, 1.0f), kOk) << round;
    ASSERT_EQ(Boot(), kOk) << round;
    for (int byte : {0x5A, 0x00, 0xFF}) {
      const EchoResult echo = SendEchoed(static_cast<std::uint8_t>(byte));
      ASSERT_TRUE(echo.answer.has_value()) << round;
      EXPECT_EQ(*echo.answer, byte);
    }
    ClosePort();
    Sleep(300);  // the board notices the close by polling its side of the line
  }
}

}  // namespace
}  // namespace vantor::board
