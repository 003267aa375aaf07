#include "app/win32/dialog_transport.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#ifdef VANTOR_HAS_SIM_BOARD
#include "board/sim_transport.h"
#endif

namespace vantor::win32 {
namespace {

ULONGLONG g_lastLook = 0;

class KeepAliveTransport final : public SerialTransport {
 public:
  void Attach(SerialTransport* inner) { inner_ = inner; }

  ErrorCode Open(const char* portName, const LineSettings& settings) override {
    return inner_->Open(portName, settings);
  }
  void Close() override {
    if (inner_ != nullptr) inner_->Close();
  }
  ErrorCode Write(std::uint8_t byte) override {
    KeepAliveEvery200Ms();
    return inner_->Write(byte);
  }
  ErrorCode Read(std::uint8_t& byte) override {
    KeepAliveEvery200Ms();
    return inner_->Read(byte);
  }
  void Sleep(unsigned milliseconds) override { inner_->Sleep(milliseconds); }

 private:
  SerialTransport* inner_ = nullptr;
};

KeepAliveTransport g_transport;

SerialTransport* SelectDialogTransport(const char* portName) {
  SerialTransport* inner = nullptr;
  if (std::strcmp(portName, "sim") == 0) {
#ifdef VANTOR_HAS_SIM_BOARD
    inner = board::SimTransportFor(portName);
#endif
    if (inner == nullptr) return nullptr;  // the link reports 201
  } else {
    inner = &PlatformTransport();
  }
  g_transport.Attach(inner);
  return &g_transport;
}

}  // namespace

void InstallDialogTransport() {
#ifdef VANTOR_HAS_SIM_BOARD
  // In the code page the board's file functions take, as they take it.
  if (const char* dump = std::getenv("VANTOR_SIM_DUMP"); dump != nullptr && dump[0] != '\0') {
    board::SetSimBoardDump(dump);
  }
#endif
  SetTransportSelector(SelectDialogTransport);
}

void KeepAlive() {
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
  g_lastLook = GetTickCount64();
}

void KeepAliveEvery200Ms() {
  if (GetTickCount64() - g_lastLook >= 200) KeepAlive();
}

}  // namespace vantor::win32
