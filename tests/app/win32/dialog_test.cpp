// Vantor.exe in a real window under Wine: started as a user starts it,
// driven through its controls, message boxes, keys and system menu from this
// separate process. The scenarios need a display and a prepared Wine prefix
// (scripts/test-windows-dialog); their settings come from the environment:
//   VANTOR_DIALOG_EXE   the program          VANTOR_EXAMPLE   a .mot to write
//   VANTOR_BOARD_PORT   vantor-board's port  VANTOR_BOARD_DUMP its flash at each close
//   VANTOR_SIM_DUMP     where the virtual board inside the program saves its flash
//   VANTOR_SHOT_DIR     screenshot requests (optional)
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/win32/wide_text.h"
// windows.h names LoadImageW LoadImage; the load image is meant here.
#undef LoadImage
#include "image/load_image.h"
#include "tests/app/win32/ui_automation.h"

namespace vantor::uitest {
namespace {

using win32::Narrow;
using win32::Widen;

std::wstring Setting(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  return value != nullptr ? value : L"";
}

const wchar_t kPromptPowerOn[] = L"スイッチを切り替えて電源を入れてください";
const wchar_t kPromptPowerOff[] = L"電源を切ってからスイッチを元に戻して下さい";
const wchar_t kComplete[] = L"書き込み完了";
const wchar_t kFailed[] = L"書き込み出来ませんでした";

// The open-file dialog's filter list and file-name field.
constexpr int kFilterList = 0x470;
constexpr int kFileNameField = 0x47C;

bool IsOpenFileDialog(HWND window) {
  return GetDlgItem(window, kFilterList) != nullptr && GetDlgItem(window, IDCANCEL) != nullptr;
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    exe_ = Setting(L"VANTOR_DIALOG_EXE");
    example_ = Setting(L"VANTOR_EXAMPLE");
    if (exe_.empty() || example_.empty()) GTEST_SKIP() << "run by scripts/test-windows-dialog";
  }

  // Starts the program with `arguments` after its name, exactly as given.
  std::unique_ptr<RunningProgram> Start(const std::wstring& arguments) {
    auto program = std::make_unique<RunningProgram>(exe_, L"\"" + exe_ + L"\" " + arguments);
    EXPECT_TRUE(program->started());
    return program;
  }

  HWND MainWindow(RunningProgram& program) {
    HWND window = WaitForDialog(program.id(), IsMainDialog, 20000);
    EXPECT_NE(window, nullptr) << "no main dialog";
    return window;
  }

  HWND NextBox(RunningProgram& program, DWORD milliseconds = 30000) {
    return WaitForDialog(program.id(), IsMessageBox, milliseconds);
  }

  // Answers one message box, and waits until it has gone.
  static void Answer(HWND box) {
    Press(box, IDOK);
    for (int i = 0; i < 250 && IsWindow(box) && IsWindowVisible(box); ++i) Pause(20);
  }

  // Asks the screenshot watcher for a picture of `window` and waits for it.
  static void Screenshot(HWND window, const char* name) {
    const std::wstring dir = Setting(L"VANTOR_SHOT_DIR");
    if (dir.empty()) return;
    RECT rect;
    GetWindowRect(window, &rect);
    const std::wstring base = dir + L"\\" + Widen(name);
    {
      std::FILE* request = _wfopen((base + L".part").c_str(), L"w");
      ASSERT_NE(request, nullptr);
      std::fprintf(request, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                   rect.bottom - rect.top);
      std::fclose(request);
      MoveFileW((base + L".part").c_str(), (base + L".want").c_str());
    }
    for (int i = 0; i < 500; ++i) {
      if (GetFileAttributesW((base + L".done").c_str()) != INVALID_FILE_ATTRIBUTES) return;
      Pause(20);
    }
    ADD_FAILURE() << "no screenshot " << name;
  }

  // The flash a write of the example must leave.
  std::vector<std::uint8_t> ExpectedFlash() {
    const std::string path = Narrow(example_.c_str());
    EXPECT_EQ(LoadFile(path.c_str(), LoadImage, kLoadImageSize), 0);
    return std::vector<std::uint8_t>(LoadImage, LoadImage + kLoadImageSize);
  }

  // Waits for a flash dump to appear (it is written when the port closes).
  static std::vector<std::uint8_t> WaitForDump(const std::wstring& path) {
    for (int i = 0; i < 250; ++i) {
      if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        Pause(100);  // let the writer finish
        std::ifstream file(path.c_str(), std::ios::binary);
        std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(file)),
                                       std::istreambuf_iterator<char>());
        if (data.size() == kLoadImageSize) return data;
      }
      Pause(20);
    }
    return {};
  }

  // The write from the first prompt on: answers it, records every status
  // text seen until the closing prompt, answers that, and returns the texts
  // in the order they showed. Each poll must be answered at once: the
  // window keeps answering the system during the write.
  std::vector<std::wstring> FollowWrite(RunningProgram& program, HWND window,
                                        bool screenshots = false) {
    std::vector<std::wstring> seen;
    HWND prompt = NextBox(program);
    EXPECT_NE(prompt, nullptr) << "no power-on prompt";
    if (prompt == nullptr) return seen;
    EXPECT_EQ(MessageBoxText(prompt), kPromptPowerOn);
    EXPECT_EQ(Text(prompt), L"Vantor");  // the caption: the program's name
    EXPECT_EQ(ControlText(window, 1007), L"") << "nothing shown before the prompt";
    if (screenshots) Screenshot(prompt, "prompt");
    // Polled from the click on: the first status follows at once.
    Press(prompt, IDOK);

    bool midWriteShot = !screenshots;
    unsigned unanswered = 0;
    const ULONGLONG until = GetTickCount64() + 120000;
    HWND closing = nullptr;
    for (unsigned poll = 0; GetTickCount64() < until; ++poll) {
      // Each read waits until the window looks at its queue, which it does
      // straight after every status text; the next read goes at once.
      bool ok = true;
      const std::wstring status = Text(GetDlgItem(window, 1007), &ok);
      if (!ok) ++unanswered;
      if (ok && (seen.empty() || seen.back() != status) && !status.empty()) {
        seen.push_back(status);
        if (!midWriteShot && status.rfind(L"書き込み中 h'", 0) == 0) {
          Screenshot(window, "main-writing");
          midWriteShot = true;
        }
      }
      if (status == kComplete || !ok || poll % 64 == 0) {
        closing = WaitForDialog(program.id(), IsMessageBox, 0);
        if (closing != nullptr && closing != prompt) break;
        closing = nullptr;
      }
    }
    EXPECT_EQ(unanswered, 0u) << "the window stopped answering during the write";
    EXPECT_NE(closing, nullptr) << "the write did not end";
    if (closing == nullptr) return seen;
    const std::wstring status = ControlText(window, 1007);
    if (seen.empty() || seen.back() != status) seen.push_back(status);
    EXPECT_EQ(MessageBoxText(closing), kPromptPowerOff);
    Answer(closing);
    return seen;
  }

  // Whether `seen` keeps the order of a write: boot mode, transfer, erase,
  // blocks in ascending address order, completion.
  static void ExpectWriteOrder(const std::vector<std::wstring>& seen, bool everyStep) {
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), kComplete);
    const std::wstring steps[] = {L"ブートモード起動中", L"書き込み制御プログラム転送中",
                                  L"フラッシュメモリ消去中"};
    std::size_t next = 0;
    unsigned long lastAddress = 0;
    bool block = false;
    bool afterBlocks = false;
    for (std::size_t i = 0; i + 1 < seen.size(); ++i) {
      const std::wstring& text = seen[i];
      const bool blockText = text.rfind(L"書き込み中 h'", 0) == 0;
      if (!blockText && block) {
        afterBlocks = true;  // a check of what was written may follow
        continue;
      }
      if (blockText) {
        EXPECT_FALSE(afterBlocks) << "a block after the blocks had ended";
        const std::wstring digits = text.substr(8);
        ASSERT_EQ(digits.size(), 8u) << Narrow(text.c_str());
        const unsigned long address = std::wcstoul(digits.c_str(), nullptr, 16);
        EXPECT_EQ(address % 128, 0u);
        if (block) {
          EXPECT_GT(address, lastAddress);
        }
        if (everyStep) {
          EXPECT_EQ(next, 3u) << "a block before the erase";
        }
        lastAddress = address;
        block = true;
        continue;
      }
      std::size_t step = next;
      while (step < 3 && steps[step] != text) ++step;
      ASSERT_LT(step, 3u) << "unexpected or out-of-order status " << Narrow(text.c_str());
      if (everyStep) {
        EXPECT_EQ(step, next) << "a step was not shown";
      }
      next = step + 1;
    }
    if (everyStep) {
      EXPECT_EQ(next, 3u);
      EXPECT_TRUE(block);
    }
  }

  std::wstring exe_;
  std::wstring example_;
};

// Control rectangles in dialog units, read back from the running window:
// the dialog's client area is its template size, which gives the scale.
struct ControlLayout {
  int id;
  const wchar_t* className;
  int x, y, width, height;
  DWORD style;
  DWORD exStyle;
  const wchar_t* text;
};

// The two dialogs, control by control in template order. Styles are the
// whole style of each control but WS_CHILD and WS_VISIBLE.
const std::vector<ControlLayout> kMainControls = {
    {1002, L"Button", 97, 29, 30, 14, BS_DEFPUSHBUTTON | WS_TABSTOP, 0, L"WRITE"},
    {1003, L"Button", 132, 29, 30, 14, BS_PUSHBUTTON | WS_TABSTOP, 0, L"EXIT"},
    {1001, L"ComboBox", 41, 30, 52, 154, CBS_DROPDOWN | CBS_SORT | WS_VSCROLL | WS_TABSTOP, 0,
     nullptr},
    {-1, L"Static", 7, 32, 33, 8, SS_LEFT | WS_GROUP, 0, L"COM Port"},
    {1004, L"Edit", 26, 7, 122, 12, ES_READONLY | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 0,
     nullptr},
    {1005, L"Button", 152, 7, 10, 12, BS_PUSHBUTTON | WS_TABSTOP, 0, L"..."},
    {-1, L"Static", 7, 9, 12, 8, SS_LEFT | WS_GROUP, 0, L"File"},
    {1007, L"Edit", 0, 49, 170, 12, ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_STATICEDGE,
     nullptr},
};
const std::vector<ControlLayout> kAboutControls = {
    {-1, L"Static", 11, 17, 20, 20, SS_ICON, 0, nullptr},
    {-1, L"Static", 40, 10, 119, 8, SS_LEFT | SS_NOPREFIX | WS_GROUP, 0, L"Vantor Version 2.2"},
    {-1, L"Static", 40, 25, 119, 8, SS_LEFT | WS_GROUP, 0, nullptr},
    {IDOK, L"Button", 178, 7, 50, 14, BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 0, L"OK"},
};

void ExpectLayout(HWND dialog, int width, int height, const std::vector<ControlLayout>& expected) {
  RECT client;
  GetClientRect(dialog, &client);
  const double scaleX = client.right / static_cast<double>(width);
  const double scaleY = client.bottom / static_cast<double>(height);
  const std::vector<HWND> children = Children(dialog);
  ASSERT_EQ(children.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const ControlLayout& want = expected[i];
    HWND child = children[i];
    SCOPED_TRACE(testing::Message() << "control #" << i + 1 << " id " << want.id);
    EXPECT_EQ(static_cast<short>(GetDlgCtrlID(child)), want.id);
    wchar_t className[64] = {};
    GetClassNameW(child, className, 64);
    EXPECT_EQ(_wcsicmp(className, want.className), 0) << Narrow(className);
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_NEAR(rect.left / scaleX, want.x, 1.0);
    EXPECT_NEAR(rect.top / scaleY, want.y, 1.0);
    // An icon takes the icon's size; a closed combo box is only as high
    // as its field.
    const bool icon =
        (want.style & SS_TYPEMASK) == SS_ICON && want.className == std::wstring(L"Static");
    if (!icon) {
      EXPECT_NEAR((rect.right - rect.left) / scaleX, want.width, 1.0);
    }
    if (!icon && _wcsicmp(want.className, L"ComboBox") != 0) {
      EXPECT_NEAR((rect.bottom - rect.top) / scaleY, want.height, 1.0);
    }
    // A combo box hands its scroll bar to its list, and an edit box draws
    // its border itself: neither style stays on the window.
    const DWORD kMovedStyles = WS_VSCROLL | WS_BORDER;
    const DWORD style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
    EXPECT_EQ(style & ~kMovedStyles, (want.style | WS_CHILD | WS_VISIBLE) & ~kMovedStyles)
        << std::hex << style;
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongW(child, GWL_EXSTYLE));
    EXPECT_EQ(exStyle & WS_EX_STATICEDGE, want.exStyle & WS_EX_STATICEDGE);
    if (want.text != nullptr) {
      EXPECT_EQ(Text(child), want.text);
    }
  }
}

TEST_F(DialogTest, NoArgumentsIdleLayoutAndAboutBox) {
  auto program = Start(L"");
  HWND window = MainWindow(*program);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(Text(window), L"Vantor");
  EXPECT_EQ(ControlText(window, 1004), L"");
  EXPECT_EQ(ControlText(window, 1001), L"");
  EXPECT_EQ(NextBox(*program, 1500), nullptr) << "a write started with no arguments";
  EXPECT_EQ(ControlText(window, 1007), L"");

  const DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
  const DWORD wanted = WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU;
  EXPECT_EQ(style & wanted, wanted);
  EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0u);
  EXPECT_NE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);

  ExpectLayout(window, 171, 61, kMainControls);
  HWND combo = GetDlgItem(window, 1001);
  EXPECT_EQ(GetWindowLongW(combo, GWL_STYLE) & 3, CBS_DROPDOWN) << "an editable drop-down";

  // The list: COM1 to COM9, the machine's other ports, and the virtual
  // board; nothing chosen.
  const std::vector<std::wstring> items = ComboItems(window, 1001);
  for (int n = 1; n <= 9; ++n) {
    const std::wstring name = L"COM" + std::to_wstring(n);
    EXPECT_EQ(std::count(items.begin(), items.end(), name), 1) << Narrow(name.c_str());
  }
  EXPECT_EQ(std::count(items.begin(), items.end(), L"sim"), 1);
  EXPECT_EQ(std::count(items.begin(), items.end(), L"COM12"), 1) << "a port above COM9";

  // The About box, from the system-menu command (any of 16 to 31), twice:
  // the same texts each time, closed with OK and with Escape.
  for (const WPARAM command : {WPARAM{0x10}, WPARAM{0x1F}}) {
    ChooseSystemCommand(window, command);
    HWND about = WaitForDialog(program->id(), IsAboutBox, 10000);
    ASSERT_NE(about, nullptr) << "no About box for " << command;
    EXPECT_EQ(Text(about), L"Vantorのﾊﾞｰｼﾞｮﾝ情報");
    EXPECT_FALSE(IsWindowEnabled(window)) << "the main dialog is disabled under the box";
    ExpectLayout(about, 235, 55, kAboutControls);
    if (command == 0x10) {
      Screenshot(about, "about");
      Press(about, IDOK);
    } else {
      PressKey(about, VK_ESCAPE);
    }
    for (int i = 0; i < 250 && IsWindow(about) && IsWindowVisible(about); ++i) Pause(20);
    EXPECT_FALSE(IsWindow(about) && IsWindowVisible(about)) << "the About box stayed";
    EXPECT_TRUE(program->Running());
  }
  for (int i = 0; i < 50 && !IsWindowEnabled(window); ++i) Pause(20);
  EXPECT_TRUE(IsWindowEnabled(window));

  // "...": the open-file dialog with the three filters, the first chosen.
  // Cancel keeps the (empty) file box; a chosen file shows with its path.
  Press(window, 1005);
  HWND browse = WaitForDialog(program->id(), IsOpenFileDialog, 10000);
  ASSERT_NE(browse, nullptr) << "no open-file dialog";
  EXPECT_EQ(ComboItems(browse, kFilterList),
            (std::vector<std::wstring>{L"writing files(*.mot,*.qpf)", L"S Record Format(*.MOT)",
                                       L"Selvane Format(*.QPF)"}));
  DWORD_PTR selected = 99;
  SendMessageTimeoutW(GetDlgItem(browse, kFilterList), CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 1000,
                      &selected);
  EXPECT_EQ(selected, 0u);
  Press(browse, IDCANCEL);
  for (int i = 0; i < 250 && IsWindow(browse); ++i) Pause(20);
  EXPECT_EQ(ControlText(window, 1004), L"") << "a cancelled choice changes nothing";

  Press(window, 1005);
  browse = WaitForDialog(program->id(), IsOpenFileDialog, 10000);
  ASSERT_NE(browse, nullptr);
  SetControlText(browse, GetDlgItem(browse, kFileNameField) != nullptr ? kFileNameField : 0x480,
                 example_);
  Press(browse, IDOK);
  for (int i = 0; i < 250 && IsWindow(browse); ++i) Pause(20);
  EXPECT_EQ(ControlText(window, 1004), example_);
  EXPECT_EQ(NextBox(*program, 500), nullptr) << "choosing a file starts nothing";

  Press(window, 1003);  // EXIT
  EXPECT_TRUE(program->WaitForExit(10000)) << "EXIT did not end the program";
}

TEST_F(DialogTest, FileAndSimWritesByItselfAndEscapeEnds) {
  const std::wstring dump = Setting(L"VANTOR_SIM_DUMP");
  ASSERT_FALSE(dump.empty());
  DeleteFileW(dump.c_str());
  auto program = Start(example_ + L" sim");
  HWND window = MainWindow(*program);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(ControlText(window, 1004), example_);
  EXPECT_EQ(ControlText(window, 1001), L"sim");
  ExpectWriteOrder(FollowWrite(*program, window), false);
  EXPECT_EQ(WaitForDump(dump), ExpectedFlash()) << "the virtual board's flash";
  // Never a second write by itself.
  EXPECT_EQ(NextBox(*program, 1500), nullptr);
  EXPECT_EQ(ControlText(window, 1007), kComplete);

  PressKey(window, VK_ESCAPE);
  EXPECT_TRUE(program->WaitForExit(10000)) << "Escape did not end the program";
}

TEST_F(DialogTest, FileAndBoardPortWritesEveryStepAndExitEnds) {
  const std::wstring port = Setting(L"VANTOR_BOARD_PORT");
  const std::wstring dump = Setting(L"VANTOR_BOARD_DUMP");
  ASSERT_FALSE(port.empty());
  ASSERT_FALSE(dump.empty());
  DeleteFileW(dump.c_str());
  auto program = Start(example_ + L" " + port);
  HWND window = MainWindow(*program);
  ASSERT_NE(window, nullptr);
  const std::vector<std::wstring> seen = FollowWrite(*program, window, true);
  ExpectWriteOrder(seen, true);
  // The board saw the port close, with the image in its flash.
  EXPECT_EQ(WaitForDump(dump), ExpectedFlash()) << "vantor-board's flash";
  Screenshot(window, "main-done");

  Press(window, 1003);
  EXPECT_TRUE(program->WaitForExit(10000)) << "EXIT did not end the program";
}

TEST_F(DialogTest, MissingFileIsReportedAndEmptiesTheFileBox) {
  const std::wstring missing = L"C:\\vantor\\無い.mot";
  auto program = Start(missing + L" " + Setting(L"VANTOR_BOARD_PORT"));
  HWND window = MainWindow(*program);
  ASSERT_NE(window, nullptr);
  HWND box = NextBox(*program);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageBoxText(box), L"Err:0103 ファイルが見つかりません");
  EXPECT_EQ(Text(box), L"Vantor");
  EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr) << "OK only";
  EXPECT_EQ(ControlText(window, 1004), L"") << "the file box is emptied before the message";
  Screenshot(box, "error");
  Answer(box);
  for (int i = 0; i < 100 && ControlText(window, 1007) != kFailed; ++i) Pause(20);
  EXPECT_EQ(ControlText(window, 1007), kFailed);

  Press(window, 1003);
  EXPECT_TRUE(program->WaitForExit(10000));
}

TEST_F(DialogTest, TrailingBlankStartsNothingThenTypedPortWritesAndCloseButtonEnds) {
  const std::wstring dump = Setting(L"VANTOR_BOARD_DUMP");
  auto program = Start(example_ + L" ");
  HWND window = MainWindow(*program);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(ControlText(window, 1004), example_);
  EXPECT_EQ(ControlText(window, 1001), L"");
  EXPECT_EQ(NextBox(*program, 1500), nullptr) << "a write started with an empty port name";

  // WRITE with the port field empty: code 50, the file box kept.
  Press(window, 1002);
  HWND box = NextBox(*program);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageBoxText(box), L"Err:0050 COMポートが選択されていません");
  Answer(box);
  EXPECT_EQ(ControlText(window, 1004), example_);

  // A port name typed into the field is read whole, as typed.
  DeleteFileW(dump.c_str());
  SetControlText(window, 1001, Setting(L"VANTOR_BOARD_PORT"));
  SetControlText(window, 1007, L"");
  Screenshot(window, "main-idle");
  Press(window, 1002);
  ExpectWriteOrder(FollowWrite(*program, window), false);
  EXPECT_EQ(WaitForDump(dump), ExpectedFlash());

  ASSERT_TRUE(ClickCloseButton(window)) << "no close button on the caption";
  EXPECT_TRUE(program->WaitForExit(10000)) << "the close button did not end the program";
}

TEST_F(DialogTest, PortNameIsReadWhole) {
  // Cut to its first four characters this name would be the board's COM1,
  // and the power-on prompt would come; read whole it names no port.
  auto program = Start(example_ + L" COM1X");
  HWND window = MainWindow(*program);
  ASSERT_NE(window, nullptr);
  HWND box = NextBox(*program);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageBoxText(box), L"Err:0201 COMポートのオープンに失敗しました");
  EXPECT_EQ(ControlText(window, 1001), L"COM1X");
  Answer(box);
  Press(window, 1003);
  EXPECT_TRUE(program->WaitForExit(10000));
}

// A dialog template resource of the executable, read field by field.
class TemplateReader {
 public:
  TemplateReader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
  std::uint16_t Word() {
    std::uint16_t value = 0;
    if (at_ + 2 <= size_) std::memcpy(&value, data_ + at_, 2);
    at_ += 2;
    return value;
  }
  std::uint32_t Dword() {
    const std::uint32_t low = Word();
    return low | static_cast<std::uint32_t>(Word()) << 16;
  }
  // A text, or an ordinal written as "#n".
  std::wstring TextOrOrdinal() {
    const std::uint16_t first = Word();
    if (first == 0xFFFF) return L"#" + std::to_wstring(Word());
    std::wstring text;
    for (std::uint16_t c = first; c != 0 && at_ <= size_; c = Word()) text += wchar_t(c);
    return text;
  }
  void AlignToDword() { at_ = (at_ + 3) & ~std::size_t{3}; }
  void Skip(std::size_t bytes) { at_ += bytes; }
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  bool Overran() const { return at_ > size_; }

 private:
  const unsigned char* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

std::wstring ClassName(const std::wstring& cls) {
  if (cls == L"#128") return L"Button";
  if (cls == L"#129") return L"Edit";
  if (cls == L"#130") return L"Static";
  if (cls == L"#133") return L"ComboBox";
  return cls;
}

struct TemplateHeader {
  DWORD style, exStyle;
  int x, y, cx, cy;
  std::wstring title, font;
  unsigned points, weight, italic, charset;
};

// Reads template `id`; extended templates too. Controls come back in
// template order.
void ReadTemplate(HMODULE module, int id, bool extended, TemplateHeader& header,
                  std::vector<ControlLayout>& controls, std::vector<std::wstring>& texts) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));
  ASSERT_NE(found, nullptr) << "no template " << id;
  const auto* data = static_cast<const unsigned char*>(LockResource(LoadResource(module, found)));
  TemplateReader in(data, SizeofResource(module, found));
  unsigned count = 0;
  if (extended) {
    ASSERT_EQ(in.Word(), 1);
    ASSERT_EQ(in.Word(), 0xFFFF) << "not an extended template";
    in.Dword();  // help ID
    header.exStyle = in.Dword();
    header.style = in.Dword();
  } else {
    header.style = in.Dword();
    ASSERT_NE(header.style >> 16, 0xFFFFu) << "an extended template";
    header.exStyle = in.Dword();
  }
  count = in.Word();
  header.x = static_cast<short>(in.Word());
  header.y = static_cast<short>(in.Word());
  header.cx = static_cast<short>(in.Word());
  header.cy = static_cast<short>(in.Word());
  EXPECT_EQ(in.TextOrOrdinal(), L"") << "no menu";
  EXPECT_EQ(in.TextOrOrdinal(), L"") << "the standard dialog class";
  header.title = in.TextOrOrdinal();
  header.points = in.Word();
  header.weight = header.italic = header.charset = 0;
  if (extended) {
    header.weight = in.Word();
    header.italic = in.Byte();
    header.charset = in.Byte();
  }
  header.font = in.TextOrOrdinal();
  for (unsigned i = 0; i < count; ++i) {
    in.AlignToDword();
    ControlLayout control{};
    if (extended) {
      in.Dword();  // help ID
      control.exStyle = in.Dword();
      control.style = in.Dword();
    } else {
      control.style = in.Dword();
      control.exStyle = in.Dword();
    }
    control.x = static_cast<short>(in.Word());
    control.y = static_cast<short>(in.Word());
    control.width = static_cast<short>(in.Word());
    control.height = static_cast<short>(in.Word());
    control.id = extended ? static_cast<int>(in.Dword()) : static_cast<short>(in.Word());
    if (extended && control.id == 0xFFFF) control.id = -1;
    const std::wstring cls = ClassName(in.TextOrOrdinal());
    texts.push_back(cls);
    texts.push_back(in.TextOrOrdinal());
    in.Skip(in.Word());
    controls.push_back(control);
  }
  EXPECT_FALSE(in.Overran());
}

void ExpectTemplateControls(const std::vector<ControlLayout>& read,
                            const std::vector<std::wstring>& texts,
                            const std::vector<ControlLayout>& expected) {
  ASSERT_EQ(read.size(), expected.size());
  for (std::size_t i = 0; i < read.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "control #" << i + 1);
    EXPECT_EQ(read[i].id, expected[i].id);
    EXPECT_EQ(_wcsicmp(texts[2 * i].c_str(), expected[i].className), 0)
        << Narrow(texts[2 * i].c_str());
    if (expected[i].text != nullptr) {
      EXPECT_EQ(texts[2 * i + 1], expected[i].text);
    }
    EXPECT_EQ(read[i].x, expected[i].x);
    EXPECT_EQ(read[i].y, expected[i].y);
    EXPECT_EQ(read[i].width, expected[i].width);
    EXPECT_EQ(read[i].height, expected[i].height);
    EXPECT_EQ(read[i].style, expected[i].style | WS_CHILD | WS_VISIBLE)
        << std::hex << read[i].style;
    EXPECT_EQ(read[i].exStyle, expected[i].exStyle);
  }
}

TEST(DialogTemplateTest, BothTemplatesAsTheProgramCarriesThem) {
  const std::wstring exe = Setting(L"VANTOR_DIALOG_EXE");
  if (exe.empty()) GTEST_SKIP() << "run by scripts/test-windows-dialog";
  HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);

  TemplateHeader main{};
  std::vector<ControlLayout> controls;
  std::vector<std::wstring> texts;
  ReadTemplate(module, 102, true, main, controls, texts);
  EXPECT_EQ(main.style, static_cast<DWORD>(DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_VISIBLE |
                                           WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU))
      << std::hex << main.style;
  EXPECT_EQ(main.exStyle, static_cast<DWORD>(WS_EX_APPWINDOW));
  EXPECT_EQ(main.x, 0);
  EXPECT_EQ(main.y, 0);
  EXPECT_EQ(main.cx, 171);
  EXPECT_EQ(main.cy, 61);
  EXPECT_EQ(main.title, L"Vantor");
  EXPECT_EQ(main.font, L"ＭＳ Ｐゴシック");
  EXPECT_EQ(main.points, 9u);
  EXPECT_EQ(main.weight, 0u);
  EXPECT_EQ(main.italic, 0u);
  EXPECT_EQ(main.charset, 1u);
  ExpectTemplateControls(controls, texts, kMainControls);

  TemplateHeader about{};
  controls.clear();
  texts.clear();
  ReadTemplate(module, 100, false, about, controls, texts);
  EXPECT_EQ(about.style,
            static_cast<DWORD>(DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU))
      << std::hex << about.style;
  EXPECT_EQ(about.exStyle, 0u);
  EXPECT_EQ(about.cx, 235);
  EXPECT_EQ(about.cy, 55);
  EXPECT_EQ(about.title, L"Vantorのﾊﾞｰｼﾞｮﾝ情報");
  EXPECT_EQ(about.font, L"ＭＳ Ｐゴシック");
  EXPECT_EQ(about.points, 9u);
  ExpectTemplateControls(controls, texts, kAboutControls);
  EXPECT_EQ(texts[1], L"#128") << "the program's icon";

  // The system-menu text, and the icon's two 16-colour images.
  wchar_t text[128] = {};
  LoadStringW(module, 101, text, 128);
  EXPECT_STREQ(text, L"Vantor のﾊﾞｰｼﾞｮﾝ情報(&A)...");
  HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(128), MAKEINTRESOURCEW(14));
  ASSERT_NE(group, nullptr);
  const auto* directory =
      static_cast<const unsigned char*>(LockResource(LoadResource(module, group)));
  ASSERT_EQ(directory[4], 2) << "two images";
  for (int i = 0; i < 2; ++i) {
    const unsigned char* entry = directory + 6 + 14 * i;
    EXPECT_EQ(entry[0], i == 0 ? 32 : 16);
    EXPECT_EQ(entry[2], 16) << "colours";
  }
  FreeLibrary(module);
}

TEST(VersionRecordTest, ReadBackFromTheExecutable) {
  const std::wstring exe = Setting(L"VANTOR_DIALOG_EXE");
  if (exe.empty()) GTEST_SKIP() << "run by scripts/test-windows-dialog";
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<unsigned char> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, data.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00020003u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00020003u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, 4u) << "one string table";
  EXPECT_EQ(translation[0], 0x0411);
  EXPECT_EQ(translation[1], 1200);

  const auto field = [&](const wchar_t* name) {
    wchar_t* value = nullptr;
    UINT chars = 0;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\041104b0\\") + name;
    if (!VerQueryValueW(data.data(), path.c_str(), reinterpret_cast<void**>(&value), &chars)) {
      return std::wstring(L"(missing)");
    }
    return std::wstring(value);
  };
  EXPECT_EQ(field(L"FileVersion"), L"2, 3, 0, 0");
  EXPECT_EQ(field(L"ProductVersion"), L"2, 3, 0, 0");
  EXPECT_EQ(field(L"FileDescription"), L"Vantor");
  EXPECT_EQ(field(L"InternalName"), L"Vantor");
  EXPECT_EQ(field(L"OriginalFilename"), L"Vantor.exe");
}

}  // namespace
}  // namespace vantor::uitest
