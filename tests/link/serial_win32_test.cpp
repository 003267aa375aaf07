// The Win32 serial back end on a real line. COM1 and COM2 are the two ends
// of one null-modem line (under Wine: two pseudo-terminals joined by socat,
// set up by scripts/test-windows, which also names the COM1 end COM12). The
// link under test opens COM1; the test plays the target on COM2.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "link/port_list.h"
#include "link/serial_link.h"
#include "link/serial_win32.h"

namespace vantor {
namespace {

// The flag bits of a DCB as one word, as Windows documents them.
std::uint32_t FlagWord(const DCB& dcb) {
  std::uint32_t word = 0;
  std::memcpy(&word, reinterpret_cast<const char*>(&dcb) + offsetof(DCB, BaudRate) + sizeof(DWORD),
              sizeof word);
  return word;
}

double NowMilliseconds() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER count;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&count);
  return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Wine's ntdll exports its version; Windows' does not.
bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The target's end of the line, opened raw by the test itself.
class TargetEnd {
 public:
  ~TargetEnd() { Close(); }

  bool Open() {
    handle_ = CreateFileW(L"\\\\.\\COM2", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          0, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 9600;
    dcb.fBinary = 1;
    dcb.ByteSize = 8;
    return SetCommState(handle_, &dcb) && SetReadTimeout(1000) &&
           PurgeComm(handle_, PURGE_RXCLEAR | PURGE_TXCLEAR);
  }

  void Close() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

  bool Send(const std::vector<std::uint8_t>& bytes) {
    DWORD written = 0;
    return WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
  }

  // The next `count` bytes, or fewer when the line stays quiet for a second.
  std::vector<std::uint8_t> Receive(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    std::size_t got = 0;
    while (got < count) {
      DWORD n = 0;
      if (!ReadFile(handle_, bytes.data() + got, static_cast<DWORD>(count - got), &n, nullptr) ||
          n == 0) {
        break;
      }
      got += n;
    }
    bytes.resize(got);
    return bytes;
  }

  // Whether nothing arrives within `milliseconds`.
  bool Quiet(DWORD milliseconds) {
    SetReadTimeout(milliseconds);
    std::uint8_t byte = 0;
    DWORD n = 0;
    const BOOL ok = ReadFile(handle_, &byte, 1, &n, nullptr);
    SetReadTimeout(1000);
    return ok && n == 0;
  }

  // Reads and drops everything until the line has been quiet for 100 ms.
  void Discard() {
    SetReadTimeout(100);
    std::vector<std::uint8_t> scratch(65536);
    DWORD n = 0;
    while (ReadFile(handle_, scratch.data(), static_cast<DWORD>(scratch.size()), &n, nullptr) &&
           n > 0) {
    }
    SetReadTimeout(1000);
  }

 private:
  // A read returns when it has all it asked for or after `milliseconds`.
  bool SetReadTimeout(DWORD milliseconds) {
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadTotalTimeoutConstant = milliseconds;
    timeouts.WriteTotalTimeoutConstant = 1000;
    return SetCommTimeouts(handle_, &timeouts) != 0;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// The next `count` bytes the link receives, giving up after 100 reads that
// bring nothing (about a second).
std::vector<std::uint8_t> LinkReceive(std::size_t count) {
  std::vector<std::uint8_t> bytes;
  unsigned misses = 0;
  while (bytes.size() < count && misses < 100) {
    std::uint8_t byte = 0;
    if (ReceiveByte(byte) == kOk) {
      bytes.push_back(byte);
    } else {
      ++misses;
    }
  }
  return bytes;
}

// Waits until the link's port holds `count` received bytes, at most a second.
bool WaitForInput(DWORD count) {
  for (int i = 0; i < 100; ++i) {
    COMSTAT status = {};
    DWORD errors = 0;
    if (ClearCommError(Win32PortHandle(), &errors, &status) && status.cbInQue >= count) {
      return true;
    }
    Sleep(10);
  }
  return false;
}

class Win32SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(target_.Open())
        << "COM2 must be the far end of COM1; scripts/test-windows sets the pair up";
  }
  void TearDown() override { ClosePort(); }

  TargetEnd target_;
};

TEST(Win32LineSettings, DcbAndTimeoutsAreBuiltFromNothingButTheSettings) {
  LineSettings plain;  // 9600 8N1
  DCB dcb = MakeLineDcb(plain);
  EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(FlagWord(dcb), 0x1081u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(dcb.XonLim, 0);
  EXPECT_EQ(dcb.XoffLim, 0);
  // Everything after the stop bits: the five special characters and the
  // reserved word.
  const auto* tail = reinterpret_cast<const unsigned char*>(&dcb) + offsetof(DCB, XonChar);
  EXPECT_TRUE(std::all_of(tail, reinterpret_cast<const unsigned char*>(&dcb + 1),
                          [](unsigned char c) { return c == 0; }));
  EXPECT_EQ(dcb.wReserved, 0);

  LineSettings odd;
  odd.baudRate = 115200;
  odd.dataBits = 7;
  odd.parity = ODDPARITY;
  odd.stopBits = TWOSTOPBITS;
  dcb = MakeLineDcb(odd);
  EXPECT_EQ(FlagWord(dcb), 0x1083u);
  EXPECT_EQ(dcb.BaudRate, 115200u);
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.Parity, ODDPARITY);
  EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
  LineSettings space = odd;
  space.parity = SPACEPARITY;
  EXPECT_EQ(FlagWord(MakeLineDcb(space)), 0x1083u);

  const COMMTIMEOUTS timeouts = MakeLineTimeouts();
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 0u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 1000u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 0u);
}

TEST_F(Win32SerialTest, OpenGivesThePortTheLineFormatAndTimeouts) {
  ASSERT_EQ(OpenPort("COM1", 9600, 'n', 8, 1.0f), kOk);
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(Win32PortHandle(), &dcb));
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(dcb.fBinary, 1u);
  EXPECT_EQ(dcb.fParity, 0u);
  EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
  EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
  EXPECT_EQ(dcb.fOutX, 0u);
  EXPECT_EQ(dcb.fInX, 0u);
  EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));

  COMMTIMEOUTS timeouts = {};
  ASSERT_TRUE(GetCommTimeouts(Win32PortHandle(), &timeouts));
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 0u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 1000u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 0u);
  ClosePort();

  ASSERT_EQ(OpenPort("COM1", 19200, 'N', 8, 2.0f), kOk);
  ASSERT_TRUE(GetCommState(Win32PortHandle(), &dcb));
  EXPECT_EQ(dcb.BaudRate, 19200u);
  EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
}

TEST_F(Win32SerialTest, ParityAndDataBitsReachThePort) {
  if (UnderWine()) {
    GTEST_SKIP() << "under Wine the line is a Linux pseudo-terminal, which always keeps 8 data "
                    "bits and no parity whatever is asked of it";
  }
  ASSERT_EQ(OpenPort("COM1", 9600, 'e', 7, 1.0f), kOk);
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(Win32PortHandle(), &dcb));
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.Parity, EVENPARITY);
  EXPECT_EQ(dcb.fParity, 1u);
}

TEST_F(Win32SerialTest, DtrIsOffAndSendingGoesOnAfterXoff) {
  if (UnderWine()) {
    GTEST_SKIP() << "Wine reads DTR back as on when the line has no modem-control lines (a "
                    "pseudo-terminal), and never reads fTXContinueOnXoff back as set";
  }
  ASSERT_EQ(OpenPort("COM1", 9600, 'n', 8, 1.0f), kOk);
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(Win32PortHandle(), &dcb));
  EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
  EXPECT_EQ(dcb.fTXContinueOnXoff, 1u);
}

TEST_F(Win32SerialTest, EveryByteValueCrossesTheLineBothWaysUnchanged) {
  ASSERT_EQ(OpenPort("COM1", 9600, 'n', 8, 1.0f), kOk);
  std::vector<std::uint8_t> all(256);
  for (unsigned i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);

  // Out: only the low 8 bits of the value go.
  ASSERT_EQ(SendByte(0x1C3), kOk);
  EXPECT_EQ(target_.Receive(1), std::vector<std::uint8_t>{0xC3});
  for (const std::uint8_t byte : all) ASSERT_EQ(SendByte(byte), kOk);
  EXPECT_EQ(target_.Receive(256), all);
  EXPECT_TRUE(target_.Quiet(50));

  // In: XON, XOFF, CR and LF arrive as they were sent.
  ASSERT_TRUE(target_.Send(all));
  EXPECT_EQ(LinkReceive(256), all);
}

// The fast line changes the rate of the open port: the rest of the DCB stays
// as the open made it, and the rate is read back.
TEST_F(Win32SerialTest, RateOfTheOpenPortChangesAndIsReadBack) {
  EXPECT_EQ(SetPortBaudRate(115200), kPortSetupFailed);  // no port open
  ASSERT_EQ(OpenPort("COM1", 9600, 'n', 8, 1.0f), kOk);
  DCB before = {};
  before.DCBlength = sizeof before;
  ASSERT_TRUE(GetCommState(Win32PortHandle(), &before));

  ASSERT_EQ(SetPortBaudRate(115200), kOk);
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(Win32PortHandle(), &dcb));
  EXPECT_EQ(dcb.BaudRate, 115200u);
  EXPECT_EQ(FlagWord(dcb), FlagWord(before));
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  ASSERT_EQ(SendByte(0x55), kOk);
  EXPECT_EQ(target_.Receive(1), std::vector<std::uint8_t>{0x55});

  // A rate given as a number: a driver that lists BAUD_USER takes it;
  // either way the port reports the rate it runs at.
  const ErrorCode free = SetPortBaudRate(312000);
  ASSERT_TRUE(GetCommState(Win32PortHandle(), &dcb));
  if (free == kOk) {
    EXPECT_EQ(dcb.BaudRate, 312000u);
  } else {
    EXPECT_EQ(free, kPortSetupFailed);
    EXPECT_FALSE(PortTakesAnyRate() && !UnderWine()) << "BAUD_USER listed, 312000 refused";
  }
  std::printf("free rate 312000: %s, BAUD_USER %s\n", free == kOk ? "taken" : "refused",
              PortTakesAnyRate() ? "listed" : "not listed");

  ASSERT_EQ(SetPortBaudRate(9600), kOk);
  ASSERT_TRUE(GetCommState(Win32PortHandle(), &dcb));
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(SetPortBaudRate(0), kPortSetupFailed);
  ClosePort();
  EXPECT_EQ(SetPortBaudRate(9600), kPortSetupFailed);
}

TEST_F(Win32SerialTest, QuietLineGivesUpAfterOneReadTimeout) {
  ASSERT_EQ(OpenPort("COM1", 9600, 'n', 8, 1.0f), kOk);
  // Every read waits its 10 ms; the quickest of five shows what one costs
  // (a busy machine can only make a single read look slower).
  double quickest = 1e9;
  for (int i = 0; i < 5; ++i) {
    std::uint8_t byte = 0;
    const double start = NowMilliseconds();
    EXPECT_EQ(ReceiveByte(byte), kReadTimeout);
    const double elapsed = NowMilliseconds() - start;
    EXPECT_GE(elapsed, 9.0);
    quickest = std::min(quickest, elapsed);
  }
  EXPECT_LT(quickest, 50.0);

  EXPECT_EQ(DrainReceiveBuffer(), kOk);
}

TEST_F(Win32SerialTest, DrainDiscardsWhatIsWaiting) {
  ASSERT_EQ(OpenPort("COM1", 9600, 'n', 8, 1.0f), kOk);
  ASSERT_TRUE(target_.Send({0x11, 0x22, 0x33}));
  ASSERT_TRUE(WaitForInput(3));
  EXPECT_EQ(DrainReceiveBuffer(), kOk);
  std::uint8_t byte = 0;
  EXPECT_EQ(ReceiveByte(byte), kReadTimeout);
}

TEST_F(Win32SerialTest, SendGivesUpWhenTheLineTakesNothingForASecond) {
  if (!UnderWine()) {
    GTEST_SKIP() << "only a pseudo-terminal line stalls when its far end reads nothing; a UART "
                    "without flow control sends at its bit rate whatever the far end does";
  }
  ASSERT_EQ(OpenPort("COM1", 9600, 'n', 8, 1.0f), kOk);
  // The target reads nothing, so the line's buffers fill and a send stalls.
  ErrorCode code = kOk;
  double stalled = 0;
  unsigned sent = 0;
  while (code == kOk && sent < 1000000) {
    const double start = NowMilliseconds();
    code = SendByte(0x55);
    stalled = NowMilliseconds() - start;
    ++sent;
  }
  EXPECT_EQ(code, kWriteTimeout) << "after " << sent << " bytes";  // about 40,000 under Wine
  EXPECT_GE(stalled, 900.0);
  EXPECT_LT(stalled, 3000.0);
  ClosePort();
  target_.Discard();
}

TEST_F(Win32SerialTest, SecondOpenIsRefusedAndTheFirstPortKeepsWorking) {
  ASSERT_EQ(OpenPort("COM1", 9600, 'n', 8, 1.0f), kOk);
  const HANDLE first = Win32PortHandle();
  EXPECT_EQ(OpenPort("COM1", 9600, 'n', 8, 1.0f), kPortAlreadyOpen);
  EXPECT_EQ(OpenPort("COM12", 9600, 'n', 8, 1.0f), kPortAlreadyOpen);
  EXPECT_EQ(Win32PortHandle(), first);

  ASSERT_EQ(SendByte(0xA5), kOk);
  EXPECT_EQ(target_.Receive(1), std::vector<std::uint8_t>{0xA5});
  ASSERT_TRUE(target_.Send({0x5A}));
  EXPECT_EQ(LinkReceive(1), std::vector<std::uint8_t>{0x5A});
}

TEST_F(Win32SerialTest, PortIsHeldForExclusiveUse) {
  if (UnderWine()) {
    GTEST_SKIP() << "Wine does not enforce the share mode of a COM port: a second CreateFileW of "
                    "an open port succeeds";
  }
  ASSERT_EQ(OpenPort("COM1", 9600, 'n', 8, 1.0f), kOk);
  const HANDLE other = CreateFileW(L"\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(other, INVALID_HANDLE_VALUE);
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  ClosePort();

  // COM2 is the target's: the link cannot have it and stays closed.
  EXPECT_EQ(OpenPort("COM2", 9600, 'n', 8, 1.0f), kPortOpenFailed);
  EXPECT_FALSE(IsPortOpen());
  EXPECT_EQ(OpenPort("COM1", 9600, 'n', 8, 1.0f), kOk);
}

TEST_F(Win32SerialTest, MissingPortLeavesTheLinkClosedForALaterOpen) {
  EXPECT_EQ(OpenPort("COM250", 9600, 'n', 8, 1.0f), kPortOpenFailed);
  EXPECT_FALSE(IsPortOpen());
  EXPECT_EQ(Win32PortHandle(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenPort("", 9600, 'n', 8, 1.0f), kPortOpenFailed);
  EXPECT_EQ(OpenPort("\xC3(", 9600, 'n', 8, 1.0f), kPortOpenFailed);  // not UTF-8
  EXPECT_FALSE(IsPortOpen());

  EXPECT_EQ(OpenPort("COM1", 9600, 'n', 8, 1.0f), kOk);
  ASSERT_EQ(SendByte(0x42), kOk);
  EXPECT_EQ(target_.Receive(1), std::vector<std::uint8_t>{0x42});
}

TEST_F(Win32SerialTest, PortsNumberedTenAndAboveOpen) {
  ASSERT_EQ(OpenPort("COM12", 9600, 'n', 8, 1.0f), kOk);
  ASSERT_EQ(SendByte(0x12), kOk);
  EXPECT_EQ(target_.Receive(1), std::vector<std::uint8_t>{0x12});
}

TEST_F(Win32SerialTest, RefusedSettingsLeaveThePortOpenUntilClosed) {
  EXPECT_EQ(OpenPort("COM1", 9600, 'n', 9, 1.0f), kPortSetupFailed);
  EXPECT_TRUE(IsPortOpen());
  EXPECT_NE(Win32PortHandle(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenPort("COM1", 9600, 'n', 8, 1.0f), kPortAlreadyOpen);
  EXPECT_EQ(ClosePort(), kOk);
  EXPECT_EQ(Win32PortHandle(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenPort("COM1", 9600, 'n', 8, 1.0f), kOk);
}

TEST(Win32PortList, ListsThePortsInNumberOrder) {
  const std::vector<std::string> ports = ListSerialPorts();
  const auto at = [&](const char* name) {
    return std::find(ports.begin(), ports.end(), name) - ports.begin();
  };
  const auto count = static_cast<std::ptrdiff_t>(ports.size());
  ASSERT_LT(at("COM1"), count);
  ASSERT_LT(at("COM2"), count);
  ASSERT_LT(at("COM12"), count);
  EXPECT_LT(at("COM1"), at("COM2"));
  EXPECT_LT(at("COM2"), at("COM12"));
  if (at("COM3") < count) {
    EXPECT_LT(at("COM3"), at("COM12"));
  }
}

}  // namespace
}  // namespace vantor
