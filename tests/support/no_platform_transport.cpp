// Linked into the tests only while the tree has no serial back end for the
// platform: every port name is refused, so only the fake line can be opened.
#include "link/serial_transport.h"

namespace vantor {
namespace {

class NoPlatformTransport : public SerialTransport {
 public:
  ErrorCode Open(const char*, const LineSettings&) override { return kPortOpenFailed; }
  void Close() override {}
  ErrorCode Write(std::uint8_t) override { return kWriteFailed; }
  ErrorCode Read(std::uint8_t&) override { return kReadFailed; }
  void Sleep(unsigned) override {}
};

}  // namespace

SerialTransport& PlatformTransport() {
  static NoPlatformTransport transport;
  return transport;
}

}  // namespace vantor
