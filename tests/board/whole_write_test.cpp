// Whole writes on the virtual board through the product's own write
// operation (RunWriteOperation, as the dialog and the console run it): a
// .mot file loaded from disk, port "sim", the real write-control program,
// with the flash controller checking the procedure all the way. One case a
// row: images, clocks from the lowest the boot ROM answers to 20 MHz, two
// load addresses, injected cells and line faults.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/messages.h"
#include "app/operator_panel.h"
#include "app/write_operation.h"
#include "board/sim_transport.h"
#include "common/error_code.h"
#include "image/load_image.h"
#include "link/device_profile.h"
#include "link/serial_link.h"
#include "link/serial_transport.h"
#include "tests/app/srecord_file.h"

namespace vantor {
namespace {

namespace d = board::device;
using testing::ImageData;

// What happens on the line between the host and the board.
enum class LineFault {
  kNone,
  kCorruptDataByte,  // byte 64 of the second block's data arrives changed
  kSilentMidBlock,   // from byte 64 of the second block nothing reaches the board
  kLostParameter,    // the second 0xCA command never arrives
  kDamagedCommand,   // the second block's command byte arrives changed
};

// The host's end of the line to the board, with one fault on it. It follows
// the host's byte stream: the boot exchange (the 0x55, the length, the
// program), then the commands, to find the byte a fault applies to.
class FaultyLine final : public SerialTransport {
 public:
  void Arm(LineFault fault) {
    fault_ = fault;
    phase_ = Phase::kBoot;
    skip_ = 0;
    commandLeft_ = 0;
    parameterCommands_ = 0;
    blocks_ = 0;
    dropping_ = 0;
    silent_ = false;
    inBlock_ = false;
    blockByte_ = 0;
  }

  ErrorCode Open(const char* name, const LineSettings& settings) override {
    inner_ = board::SimTransportFor(name);
    return inner_->Open(name, settings);
  }
  void Close() override { inner_->Close(); }
  ErrorCode Read(std::uint8_t& byte) override { return inner_->Read(byte); }
  void Sleep(unsigned milliseconds) override { inner_->Sleep(milliseconds); }

  ErrorCode Write(std::uint8_t byte) override {
    const int action = Follow(byte);
    if (action < 0) return kOk;  // lost on the way
    return inner_->Write(static_cast<std::uint8_t>(action));
  }

 private:
  enum class Phase { kBoot, kLength, kProgram, kCommands };

  // The byte as it reaches the board, or -1 when it does not.
  int Follow(std::uint8_t byte) {
    if (silent_) return -1;
    switch (phase_) {
      case Phase::kBoot:
        if (byte == 0x55) {
          phase_ = Phase::kLength;
          skip_ = 2;
        }
        return byte;
      case Phase::kLength:
        if (--skip_ == 0) {
          phase_ = Phase::kProgram;
          skip_ = kDeviceProfile.embeddedSize - 512;
        }
        return byte;
      case Phase::kProgram:
        if (--skip_ == 0) phase_ = Phase::kCommands;
        return byte;
      case Phase::kCommands:
        break;
    }
    if (dropping_ > 0) {
      --dropping_;
      return -1;
    }
    if (commandLeft_ > 0) {
      --commandLeft_;
      if (inBlock_) {
        const unsigned at = blockByte_++;
        const bool second = blocks_ == 2;
        const unsigned dataStart = blockHeader_;
        if (second && at == dataStart + 64) {
          if (fault_ == LineFault::kCorruptDataByte) return byte ^ 0x10;
          if (fault_ == LineFault::kSilentMidBlock) {
            silent_ = true;
            return -1;
          }
        }
      }
      return byte;
    }
    // A command byte.
    inBlock_ = false;
    switch (byte) {
      case 0xCA:
        if (++parameterCommands_ == 2 && fault_ == LineFault::kLostParameter) {
          dropping_ = 5;
          return -1;
        }
        commandLeft_ = 5;
        break;
      case 0xC1:
        commandLeft_ = 1;
        break;
      case 0xC3:
      case 0xC7:
        ++blocks_;
        inBlock_ = true;
        blockByte_ = 0;
        blockHeader_ = byte == 0xC3 ? 4 : 0;
        commandLeft_ = blockHeader_ + 128 + 1;
        if (blocks_ == 2 && fault_ == LineFault::kDamagedCommand) return byte ^ 0x10;
        break;
      default:
        break;  // 0xC0, 0xC5: one byte
    }
    return byte;
  }

  SerialTransport* inner_ = nullptr;
  LineFault fault_ = LineFault::kNone;
  Phase phase_ = Phase::kBoot;
  unsigned skip_ = 0;
  unsigned commandLeft_ = 0;
  unsigned parameterCommands_ = 0;
  unsigned blocks_ = 0;
  unsigned dropping_ = 0;
  bool silent_ = false;
  bool inBlock_ = false;
  unsigned blockByte_ = 0;
  unsigned blockHeader_ = 0;
};

FaultyLine g_line;

SerialTransport* SelectFaultyLine(const char* name) {
  if (std::strcmp(name, board::kSimPortName) != 0) return nullptr;
  return &g_line;
}

// The operator: the two fields, and what the write shows.
class Panel final : public OperatorPanel {
 public:
  std::string file;
  std::vector<std::string> statuses;
  std::vector<std::string> errors;
  bool portOpenAtError = false;

  int ReadFileField() override {
    return StoreFieldText(file.data(), file.size(), g_filePath, sizeof g_filePath);
  }
  void ClearFileField() override { file.clear(); }
  int ReadPortField() override {
    return StoreFieldText(board::kSimPortName, 3, g_portName, sizeof g_portName);
  }
  void ShowStatus(const char* text) override { statuses.emplace_back(text); }
  void ShowPrompt(const char*) override {}
  void ShowErrorBox(const char* message) override {
    errors.emplace_back(message);
    portOpenAtError = IsPortOpen();
  }
};

enum class Image { kAllFF, kBlock0, kAt80And100, kStretchesAndGap, kLastBlock, kRandomFull };

ImageData MakeImage(Image image) {
  ImageData data;
  auto block = [&data](std::uint32_t address) { data[address] = testing::BlockPattern(address); };
  switch (image) {
    case Image::kAllFF:
      data[0x0] = std::vector<std::uint8_t>(0x200, 0xFF);
      data[0x3FF00] = std::vector<std::uint8_t>(0x100, 0xFF);
      break;
    case Image::kBlock0:
      block(0x0);
      break;
    case Image::kAt80And100:
      block(0x80);
      block(0x100);
      break;
    case Image::kStretchesAndGap:
      for (std::uint32_t a : {0x1000u, 0x1080u, 0x1100u, 0x2000u}) block(a);
      break;
    case Image::kLastBlock:
      block(0x3FF80);
      break;
    case Image::kRandomFull: {
      std::mt19937 random(12);
      std::vector<std::uint8_t> bytes(d::kFlashSize);
      for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random());
      data[0] = bytes;
      break;
    }
  }
  return data;
}

enum class Cell { kNone, kSlow, kUnstable, kDead };

struct WholeWrite {
  const char* name;
  Image image;
  std::uint32_t clockHz;
  std::uint32_t loadAddress;
  Cell cell;
  LineFault line;
  ErrorCode expected;
};

// The cells the faults use lie in the image's second block.
constexpr std::uint32_t kFaultBlock = 0x1080;

class WholeWriteOnBoard : public ::testing::TestWithParam<WholeWrite> {
 protected:
  void SetUp() override {
    dir_ = testing::MakeScratchDirectory("whole-write");
    board::ResetSimBoard();
  }
  void TearDown() override {
    SetTransportSelector(nullptr);
    board::SetSimBoardClock(d::kDefaultClockHz);
    board::SetSimBoardLoadAddress(d::kDefaultLoadAddress);
    board::ResetSimBoard();
    std::filesystem::remove_all(dir_);
  }
  std::filesystem::path dir_;
};

TEST_P(WholeWriteOnBoard, EndsAsExpectedWithinTheProcedure) {
  const WholeWrite& c = GetParam();
  const ImageData data = MakeImage(c.image);
  std::vector<std::uint8_t> image(d::kFlashSize, 0xFF);
  for (const auto& [start, bytes] : data)
    std::copy(bytes.begin(), bytes.end(), image.begin() + start);

  board::SetSimBoardClock(c.clockHz);
  board::SetSimBoardLoadAddress(c.loadAddress);
  board::FlashController& flash = board::SimBoard().Flash();
  switch (c.cell) {
    case Cell::kNone:
      break;
    case Cell::kSlow:
      flash.NeedsPulses(kFaultBlock + 5, 9);  // past the six short tries
      flash.NeedsPulses(kFaultBlock + 77, 3);
      break;
    case Cell::kUnstable:
      flash.LosesChargeOnce(kFaultBlock + 9);
      break;
    case Cell::kDead:
      flash.NeverPrograms(kFaultBlock + 9);
      break;
  }
  g_line.Arm(c.line);
  SetTransportSelector(SelectFaultyLine);

  Panel panel;
  panel.file = testing::WriteMotFile(dir_ / "image.mot", data);
  const ErrorCode code = RunWriteOperation(panel);

  EXPECT_EQ(code, c.expected);
  EXPECT_FALSE(IsPortOpen());
  EXPECT_EQ(flash.Report(), "none");
  EXPECT_FALSE(board::SimBoard().Halted()) << board::SimBoard().HaltMessage();
  EXPECT_EQ(board::SimBoard().WatchdogResets(), 0u);
  const std::vector<std::uint8_t>& cells = flash.Contents();

  if (c.expected == kOk) {
    EXPECT_TRUE(panel.errors.empty()) << panel.errors.front();
    std::size_t differ = 0;
    for (std::size_t a = 0; a < image.size(); ++a) differ += cells[a] != image[a];
    EXPECT_EQ(differ, 0u) << "bytes that differ from the image";
    if (c.image == Image::kAllFF) {
      EXPECT_EQ(flash.PulseCount(), 0u);
    }
    return;
  }

  // A failure: shown once, with the port already closed; nothing written
  // from the failing block on.
  ASSERT_EQ(panel.errors.size(), 1u);
  char message[64];
  std::snprintf(message, sizeof message, "Err:%04d ", c.expected);
  EXPECT_EQ(panel.errors[0].rfind(message, 0), 0u) << panel.errors[0];
  EXPECT_FALSE(panel.portOpenAtError);
  const bool beforeBlocks = c.line == LineFault::kLostParameter || c.clockHz > d::kMaxClockHz;
  const std::uint32_t failing = beforeBlocks ? 0 : kFaultBlock;
  for (std::uint32_t a = 0; a < d::kFlashSize; ++a) {
    const bool written = !beforeBlocks && a < failing;
    if (c.cell == Cell::kDead && a >= kFaultBlock && a < kFaultBlock + 128) continue;
    ASSERT_EQ(cells[a], written ? image[a] : 0xFF) << std::hex << a;
  }
  if (!beforeBlocks) {
    // The status of the failing block is the last before the failure text.
    ASSERT_GE(panel.statuses.size(), 2u);
    char status[64];
    std::snprintf(status, sizeof status, kStatusBlockFormat, static_cast<unsigned>(failing));
    EXPECT_EQ(panel.statuses[panel.statuses.size() - 2], status);
  }
  EXPECT_EQ(panel.statuses.back(), kWriteFailedStatus);
}

constexpr std::uint32_t kRamStart = d::kRamStart;
// The highest load address the boot ROM accepts for the 932-byte program.
constexpr std::uint32_t kHighLoad = d::kRamEnd - d::kStackReserve - 932;
constexpr std::uint32_t kLowestClock = 2150400;  // BRR 6 exact at 9600 bit/s

INSTANTIATE_TEST_SUITE_P(
    Matrix, WholeWriteOnBoard,
    ::testing::Values(
        WholeWrite{"AllFF", Image::kAllFF, 19968000, kRamStart, Cell::kNone, LineFault::kNone, kOk},
        WholeWrite{"Block0AtTheLowestClock", Image::kBlock0, kLowestClock, kRamStart, Cell::kNone,
                   LineFault::kNone, kOk},
        WholeWrite{"At80And100", Image::kAt80And100, 4000000, kHighLoad, Cell::kNone,
                   LineFault::kNone, kOk},
        WholeWrite{"StretchesAndGap", Image::kStretchesAndGap, 10000000, kRamStart, Cell::kNone,
                   LineFault::kNone, kOk},
        WholeWrite{"LastBlock", Image::kLastBlock, 16000000, kHighLoad, Cell::kNone,
                   LineFault::kNone, kOk},
        WholeWrite{"RandomFull", Image::kRandomFull, 19968000, kRamStart, Cell::kNone,
                   LineFault::kNone, kOk},
        WholeWrite{"StretchesAt20MHz", Image::kStretchesAndGap, 20000000, kHighLoad, Cell::kNone,
                   LineFault::kNone, kOk},
        WholeWrite{"SlowCells", Image::kStretchesAndGap, 19968000, kRamStart, Cell::kSlow,
                   LineFault::kNone, kOk},
        WholeWrite{"SlowCellsAtTheLowestClock", Image::kStretchesAndGap, kLowestClock, kHighLoad,
                   Cell::kSlow, LineFault::kNone, kOk},
        WholeWrite{"UnstableCell", Image::kStretchesAndGap, 16000000, kHighLoad, Cell::kUnstable,
                   LineFault::kNone, kOk},
        WholeWrite{"DeadCell", Image::kStretchesAndGap, 19968000, kHighLoad, Cell::kDead,
                   LineFault::kNone, kBlockWriteFailed},
        WholeWrite{"ByteCorruptedMidBlock", Image::kStretchesAndGap, 4000000, kRamStart,
                   Cell::kNone, LineFault::kCorruptDataByte, kBlockReceiveError},
        WholeWrite{"BoardSilentMidBlock", Image::kStretchesAndGap, 19968000, kRamStart, Cell::kNone,
                   LineFault::kSilentMidBlock, kBlockNoReply},
        WholeWrite{"LostParameterWrite", Image::kStretchesAndGap, 19968000, kHighLoad, Cell::kNone,
                   LineFault::kLostParameter, kCommandFailed},
        WholeWrite{"DamagedCommandByte", Image::kStretchesAndGap, 16000000, kRamStart, Cell::kNone,
                   LineFault::kDamagedCommand, kBlockBadParameter},
        WholeWrite{"ClockAboveTheTable", Image::kStretchesAndGap, 20500000, kRamStart, Cell::kNone,
                   LineFault::kNone, kCommandFailed}),
    [](const ::testing::TestParamInfo<WholeWrite>& param) {
      return std::string(param.param.name);
    });

}  // namespace
}  // namespace vantor
