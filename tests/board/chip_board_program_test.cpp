// vantor-board on its pseudo-terminal, driven by the host's own POSIX
// serial back end and boot-mode code.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "board/h8s2215_device.h"
#include "link/boot_mode.h"
#include "link/serial_link.h"
#include "link/serial_transport.h"
#include "tests/board/chip_assembler.h"
#include "tests/board/chip_host_profile.h"

namespace vantor::board {
namespace {

namespace d = device;

// Runs vantor-board with `args` and reads the slave path it prints.
class BoardProcess {
 public:
  // Standard error goes to `errorLog` when one is given.
  explicit BoardProcess(const std::vector<std::string>& args, const std::string& errorLog = "") {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      if (!errorLog.empty()) {
        const int err = open(errorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err >= 0) dup2(err, STDERR_FILENO);
      }
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv{const_cast<char*>(VANTOR_BOARD_PROGRAM)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(VANTOR_BOARD_PROGRAM, argv.data());
      _exit(127);
    }
    close(out[1]);
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') slave_ += c;
    close(out[0]);
  }
  ~BoardProcess() {
    if (pid_ > 0) Stop();
  }
  // SIGTERM, then the exit status (-1 if it did not exit normally).
  int Stop() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& slave() const { return slave_; }

 private:
  pid_t pid_ = -1;
  std::string slave_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

ErrorCode Boot() {
  if (const ErrorCode code = StartBootMode(); code != kOk) return code;
  if (const ErrorCode code = TransferWriteControlProgram(); code != kOk) return code;
  return WaitEraseComplete();
}

class BoardProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::PrepareEchoProfile()) GTEST_SKIP() << "built without the h8300-hms binutils";
    SetTransportSelector(nullptr);  // the platform's serial back end
  }
  void TearDown() override { ClosePort(); }
};

TEST_F(BoardProgramTest, HostBootsTheBoardOverThePtyAgainAfterEachClose) {
  const std::string dir = ::testing::TempDir();
  const std::string flashIn = dir + "chip_board_in.bin", dump = dir + "chip_board_dump.bin";
  const std::string link = dir + "chip_board_tty";
  {
    std::string image(d::kFlashSize, '\xFF');
    image[0x100] = 0x00;  // programmed: the boot ROM must erase it
    std::ofstream(flashIn, std::ios::binary) << image;
  }
  BoardProcess board({"--flash-in", flashIn, "--dump", dump, "--link", link});
  ASSERT_FALSE(board.slave().empty());
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(board.slave(), target);

  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(OpenPort(link.c_str(), 9600, 'n', 8, 1.0f), kOk) << round;
    ASSERT_EQ(Boot(), kOk) << round;
    for (int byte : {0x5A, 0x00, 0xFF}) {
      const EchoResult echo = SendEchoed(static_cast<std::uint8_t>(byte));
      ASSERT_TRUE(echo.answer.has_value()) << round;
      EXPECT_EQ(*echo.answer, byte);
    }
    ClosePort();
    // The board notices the close by polling its side of the terminal.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  EXPECT_EQ(board.Stop(), 0);
  const std::string saved = ReadFile(dump);
  ASSERT_EQ(saved.size(), d::kFlashSize);
  EXPECT_EQ(saved.find_first_not_of('\xFF'), std::string::npos);  // erased by the boot ROM
  EXPECT_NE(access(link.c_str(), F_OK), 0);                       // the link is gone
  std::remove(flashIn.c_str());
  std::remove(dump.c_str());
}

TEST_F(BoardProgramTest, CellThatNeverErasesEndsTheBootWithTheEraseFailure) {
  const std::string flashIn = ::testing::TempDir() + "chip_board_stuck.bin";
  {
    std::string image(d::kFlashSize, '\xFF');
    image[0x2345] = 0x7E;
    std::ofstream(flashIn, std::ios::binary) << image;
  }
  BoardProcess board({"--flash-in", flashIn, "--stuck-cell", "0x2345", "--erase-time", "1000"});
  ASSERT_FALSE(board.slave().empty());
  ASSERT_EQ(OpenPort(board.slave().c_str(), 9600, 'n', 8, 1.0f), kOk);
  ASSERT_EQ(StartBootMode(), kOk);
  ASSERT_EQ(TransferWriteControlProgram(), kOk);
  EXPECT_EQ(WaitEraseComplete(), kEraseWrongSignal);  // H'FF instead of H'AA
  std::remove(flashIn.c_str());
}

// A client of our own, not the host's code: raw bytes on the terminal.
class RawLine {
 public:
  explicit RawLine(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {
    termios tio{};
    if (fd_ >= 0 && tcgetattr(fd_, &tio) == 0) {
      cfmakeraw(&tio);
      cfsetspeed(&tio, B9600);
      tio.c_cc[VMIN] = 0;
      tio.c_cc[VTIME] = 10;  // a read waits at most 1 s
      tcsetattr(fd_, TCSANOW, &tio);
    }
  }
  ~RawLine() {
    if (fd_ >= 0) close(fd_);
  }
  int Exchange(std::uint8_t byte) {
    if (write(fd_, &byte, 1) != 1) return -1;
    std::uint8_t answer = 0;
    return read(fd_, &answer, 1) == 1 ? answer : -1;
  }
  int Receive() {
    std::uint8_t answer = 0;
    return read(fd_, &answer, 1) == 1 ? answer : -1;
  }

 private:
  int fd_;
};

TEST_F(BoardProgramTest, FlashViolationIsReportedAndSetsTheExitStatus) {
  if (!testing::AssemblerAvailable()) GTEST_SKIP() << "h8300-hms binutils not installed";
  std::string errors;
  // Writes the flash without SWE, then idles.
  const auto program =
      testing::Assemble("\tmov.b\t#0x5A,r0l\n\tmov.b\tr0l,@0x1000:32\nidle:\tbra\tidle\n",
                        d::kDefaultLoadAddress, errors);
  ASSERT_FALSE(program.empty()) << errors;
  const std::string log = ::testing::TempDir() + "chip_board_violation.log";
  BoardProcess board({}, log);
  ASSERT_FALSE(board.slave().empty());
  {
    RawLine line(board.slave());
    ASSERT_EQ(line.Exchange(0x00), 0x00);
    ASSERT_EQ(line.Exchange(0x55), 0xAA);
    ASSERT_EQ(line.Exchange(0x00), 0x00);
    ASSERT_EQ(line.Exchange(static_cast<std::uint8_t>(program.size())), program.size());
    for (std::uint8_t byte : program) ASSERT_EQ(line.Exchange(byte), byte);
    ASSERT_EQ(line.Receive(), 0xAA);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(board.Stop(), 3);
  const std::string report = ReadFile(log);
  EXPECT_NE(report.find("H'001000: programming without SWE"), std::string::npos) << report;
  std::remove(log.c_str());
}

TEST_F(BoardProgramTest, RealtimePacesTheLineToTheWallClock) {
  BoardProcess board({"--realtime"});
  ASSERT_FALSE(board.slave().empty());
  ASSERT_EQ(OpenPort(board.slave().c_str(), 9600, 'n', 8, 1.0f), kOk);
  // Handshake, length and 256 program bytes, each out and back at 9600
  // bit/s: at least 259 x 2 x 10 bit times, 540 ms, on the wall clock too.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(StartBootMode(), kOk);
  ASSERT_EQ(TransferWriteControlProgram(), kOk);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(530));
}

TEST_F(BoardProgramTest, ClockThatFitsNoBitRateLeavesTheHostWithoutAnswer) {
  BoardProcess board({"--clock", "2000000"});
  ASSERT_FALSE(board.slave().empty());
  ASSERT_EQ(OpenPort(board.slave().c_str(), 9600, 'n', 8, 1.0f), kOk);
  // A few tries only: each costs the read time-out of 10 ms.
  std::uint8_t answer = 0;
  bool answered = false;
  for (int i = 0; i < 20 && !answered; ++i) {
    ASSERT_EQ(SendByte(0x00), kOk);
    answered = ReceiveByte(answer) == kOk;
  }
  EXPECT_FALSE(answered);
}

}  // namespace
}  // namespace vantor::board
