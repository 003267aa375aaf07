// Whole writes through the real POSIX serial code to vantor-board on its
// pseudo-terminal: the product's write operation, the real write-control
// program, the board's flash checks in another process. One with an
// unstable cell at 9600 bit/s, one on the fast line, where the port's rate
// is set by termios and the board reads it from the slave's settings.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/operator_panel.h"
#include "app/write_operation.h"
#include "board/h8s2215_device.h"
#include "link/line_rate.h"
#include "link/serial_link.h"
#include "link/serial_transport.h"
#include "tests/app/srecord_file.h"

namespace vantor {
namespace {

namespace d = board::device;

// vantor-board with `args`, its standard error into `errorLog`.
class Board {
 public:
  Board(const std::vector<std::string>& args, const std::string& errorLog) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      const int err = open(errorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (err >= 0) dup2(err, STDERR_FILENO);
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
  ~Board() {
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

class Panel final : public OperatorPanel {
 public:
  std::string file, port, error;
  int ReadFileField() override {
    return StoreFieldText(file.data(), file.size(), g_filePath, sizeof g_filePath);
  }
  void ClearFileField() override { file.clear(); }
  int ReadPortField() override {
    return StoreFieldText(port.data(), port.size(), g_portName, sizeof g_portName);
  }
  void ShowStatus(const char*) override {}
  void ShowPrompt(const char*) override {}
  void ShowErrorBox(const char* message) override { error = message; }
};

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The whole flash as a write of `data` leaves it.
std::string FlashOf(const testing::ImageData& data) {
  std::string flash(d::kFlashSize, '\xFF');
  for (const auto& [start, bytes] : data)
    std::copy(bytes.begin(), bytes.end(), flash.begin() + start);
  return flash;
}

TEST(WholeWriteOverThePty, AnUnstableCellIsWrittenAndTheBoardSawNoBreach) {
  const std::filesystem::path dir = testing::MakeScratchDirectory("pty-write");
  testing::ImageData data;
  for (std::uint32_t a : {0x0u, 0x80u, 0x3000u}) data[a] = testing::BlockPattern(a);
  Panel panel;
  panel.file = testing::WriteMotFile(dir / "image.mot", data);
  const std::filesystem::path dump = dir / "flash.bin", log = dir / "board.log";
  {
    Board board({"--unstable-cell", "0x89", "--dump", dump.string()}, log.string());
    ASSERT_FALSE(board.slave().empty());
    panel.port = board.slave();
    SetTransportSelector(nullptr);  // the platform's serial back end
    EXPECT_EQ(RunWriteOperation(panel), kOk) << panel.error;
    EXPECT_FALSE(IsPortOpen());
    EXPECT_EQ(board.Stop(), 0) << ReadFile(log);
  }
  EXPECT_TRUE(ReadFile(dump) == FlashOf(data));
  std::filesystem::remove_all(dir);
}

// The chip's exact 624000 bit/s (a free rate, termios2 on Linux), the
// block stream, the check at its end; every byte of the flash as the file.
TEST(WholeWriteOverThePty, TheFastLineWritesThroughTheBlockStream) {
  const std::filesystem::path dir = testing::MakeScratchDirectory("pty-fast");
  testing::ImageData data;
  for (std::uint32_t a = 0x1000; a < 0x1000 + 40 * 128; a += 128) {
    data[a] = testing::BlockPattern(a);
  }
  data[0x3FF80] = testing::BlockPattern(0x3FF80);
  Panel panel;
  panel.file = testing::WriteMotFile(dir / "image.mot", data);
  const std::filesystem::path dump = dir / "flash.bin", log = dir / "board.log";
  {
    Board board({"--dump", dump.string()}, log.string());
    ASSERT_FALSE(board.slave().empty());
    panel.port = board.slave();
    SetTransportSelector(nullptr);
    SetLineRateRequest({LineRateMode::kFastest, 0});
    EXPECT_EQ(RunWriteOperation(panel), kOk) << panel.error;
    SetLineRateRequest({});
#ifdef __linux__
    EXPECT_EQ(CurrentLineRate(), 624000u);  // termios2 takes the chip's own rate
#else
    EXPECT_GT(CurrentLineRate(), 9600u);
#endif
    EXPECT_FALSE(IsPortOpen());
    EXPECT_EQ(board.Stop(), 0) << ReadFile(log);
  }
  EXPECT_TRUE(ReadFile(dump) == FlashOf(data));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vantor
