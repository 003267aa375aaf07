// The fast line end to end: the writer's own write operation against the
// real firmware on the virtual board ("sim"), whose SCI and host end garble
// bytes between rates further apart than the reception margin, with the
// flash controller checking every step of the procedure.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "app/write_operation.h"
#include "board/sim_transport.h"
#include "image/load_image.h"
#include "link/line_rate.h"
#include "link/serial_link.h"
#include "link/target_commands.h"
#include "tests/app/srecord_file.h"

namespace vantor {
namespace {

namespace d = board::device;

// Fields from the test, everything shown kept; a hook before each block.
class QuietPanel : public OperatorPanel {
 public:
  std::string file;
  std::string last;
  std::function<void(const BlockProgress&)> beforeBlock;
  std::function<void(const std::string&)> onStatus;
  std::vector<std::string> warnings;

  int ReadFileField() override {
    return StoreFieldText(file.data(), file.size(), g_filePath, sizeof g_filePath);
  }
  void ClearFileField() override { file.clear(); }
  int ReadPortField() override { return StoreFieldText("sim", 3, g_portName, sizeof g_portName); }
  void ShowStatus(const char* text) override {
    last = text;
    if (onStatus) onStatus(text);
  }
  void ShowWarning(const char* text) override { warnings.push_back(text); }
  void ShowPrompt(const char*) override {}
  void ShowErrorBox(const char* message) override { last = message; }
  void ShowBlockStatus(const char* text, const BlockProgress& progress) override {
    if (beforeBlock) beforeBlock(progress);
    ShowStatus(text);
  }
};

class FastLineSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing::MakeScratchDirectory("fast");
    board::ResetSimBoard();
    SetTransportSelector(board::SimTransportFor);
  }
  void TearDown() override {
    ClosePort();
    SetTransportSelector(nullptr);
    SetLineRateRequest({});
    board::SetSimBoardClock(d::kDefaultClockHz);
    board::ResetSimBoard();
    std::filesystem::remove_all(dir_);
  }

  // `blocks` random blocks spread over the flash.
  void PrepareImage(unsigned blocks, unsigned seed) {
    testing::ImageData data;
    std::mt19937 random(seed);
    for (unsigned i = 0; i < blocks; ++i) {
      const std::uint32_t address = (random() % 2048) * 128;
      std::vector<std::uint8_t> bytes(128);
      for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
      data[address] = bytes;
    }
    panel_.file = testing::WriteMotFile(dir_ / "image.mot", data);
  }

  static board::H8s2215Chip& Chip() { return board::SimBoard(); }
  static bool FlashHoldsTheImage() {
    return std::memcmp(Chip().Flash().Contents().data(), LoadImage, d::kFlashSize) == 0;
  }

  QuietPanel panel_;
  std::filesystem::path dir_;
};

TEST_F(FastLineSimTest, FastWritesTheImageAtFourClocksWithinTheProcedure) {
  for (const std::uint32_t clockHz : {4000000u, 10000000u, 16000000u, 19968000u}) {
    SCOPED_TRACE(clockHz);
    board::ResetSimBoard();
    board::SetSimBoardClock(clockHz);
    PrepareImage(40, clockHz);
    SetLineRateRequest({LineRateMode::kFastest, 0});
    ASSERT_EQ(RunWriteOperation(panel_), kOk) << panel_.last;
    EXPECT_GT(CurrentLineRate(), 9600u);
    EXPECT_TRUE(FlashHoldsTheImage());
    EXPECT_EQ(Chip().Flash().Report().substr(0, 300), "none");
    EXPECT_EQ(Chip().BootSci().FramingErrorCount(), 0u);
    EXPECT_EQ(Chip().HostFramingErrors(), 0u);
    EXPECT_EQ(Chip().BootSci().SettingChangesWhileRunning(), 0u);
    EXPECT_EQ(Chip().BootSci().OverrunCount(), 0u);
    EXPECT_FALSE(IsPortOpen());
  }
}

TEST_F(FastLineSimTest, AnUnreachableRateFailsBeforeAnyBlock) {
  PrepareImage(10, 7);
  SetLineRateRequest({LineRateMode::kRequested, 115200});  // 8 % off at 19.968 MHz
  EXPECT_EQ(RunWriteOperation(panel_), kRateUnreachable);
  EXPECT_EQ(Chip().Flash().PulseCount(), 0u);  // nothing programmed
  EXPECT_FALSE(IsPortOpen());
}

// A host end that drifts off the agreed rate in the middle of the write (an
// adapter whose divisor changed): the board garbles both ways, the write
// fails with its code and the port is closed.
TEST_F(FastLineSimTest, AHostAtAWrongRateIsGarbledAndTheWriteFails) {
  PrepareImage(20, 11);
  SetLineRateRequest({LineRateMode::kRequested, 57600});
  panel_.beforeBlock = [](const BlockProgress& progress) {
    if (progress.blocksDone == 3) Chip().SetHostBitRate(57600 * 108 / 100);
  };
  const ErrorCode code = RunWriteOperation(panel_);
  EXPECT_NE(code, kOk);
  EXPECT_FALSE(IsPortOpen());
  EXPECT_GT(Chip().BootSci().FramingErrorCount() + Chip().HostFramingErrors(), 0u);
  EXPECT_EQ(Chip().Flash().Report().substr(0, 300), "none");
}

// The firmware goes back to its old rate by itself when no probe comes: a
// probe lost on the line leaves both ends at 9600 bit/s, and the write goes
// on there with the warning.
TEST_F(FastLineSimTest, ALostProbeLeavesBothEndsAt9600AndTheWriteGoesOn) {
  PrepareImage(3, 3);
  SetLineRateRequest({LineRateMode::kRequested, 57600});
  // Where the probe goes: a first write counts the bytes sent before the
  // switch; the switch's command, unit and sum come next, then the probe.
  std::uint64_t beforeSwitch = 0;
  panel_.onStatus = [&](const std::string& text) {
    if (text.rfind("通信速度切り替え中", 0) == 0)
      beforeSwitch = board::SimBoardLineFaults().HostBytes();
  };
  ASSERT_EQ(RunWriteOperation(panel_), kOk) << panel_.last;
  ASSERT_GT(beforeSwitch, 0u);
  panel_.onStatus = nullptr;

  board::ResetSimBoard();
  board::LineFault lost;
  lost.kind = board::LineFault::Kind::kDrop;
  lost.byte = beforeSwitch + 1 + kRateSwitchSize + 1 + 1;
  board::SetSimBoardLineFaults({lost});
  EXPECT_EQ(RunWriteOperation(panel_), kOk) << panel_.last;
  board::SetSimBoardLineFaults({});
  EXPECT_EQ(CurrentLineRate(), 9600u);
  EXPECT_EQ(panel_.warnings, std::vector<std::string>{kWarningRateSwitchFailed});
  EXPECT_TRUE(FlashHoldsTheImage());
  EXPECT_EQ(Chip().Flash().Report().substr(0, 300), "none");
}

}  // namespace
}  // namespace vantor
