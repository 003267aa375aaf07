// Finding the serial ports in a made-up /dev and /sys/class/tty.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/port_list_posix.h"

namespace vantor {
namespace {

namespace fs = std::filesystem;

class PortListPosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/vantor-ports-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    root_ = name;
    fs::create_directories(Dev());
    fs::create_directories(Sys());
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string Dev() const { return (root_ / "dev").string(); }
  std::string Sys() const { return (root_ / "sys").string(); }

  void Node(const std::string& name) { std::ofstream(Dev() + "/" + name).put('\0'); }

  // A tty as the kernel shows it: with or without a driver, and the UART
  // type the serial core reports for it (empty: no type file).
  void Tty(const std::string& name, bool driver, const std::string& type = "") {
    const fs::path dir = fs::path(Sys()) / name;
    fs::create_directories(driver ? dir / "device" / "driver" : dir);
    if (!type.empty()) std::ofstream(dir / "type") << type << "\n";
  }

  fs::path root_;
};

TEST_F(PortListPosixTest, LinuxListsByIdLinksThenClaimedTtysInNaturalOrder) {
  for (const char* node : {"ttyS0", "ttyS1", "ttyS2", "ttyS10", "ttyUSB0", "tty0", "console"}) {
    Node(node);
  }
  fs::create_directories(Dev() + "/serial/by-id");
  fs::create_symlink("../../ttyUSB0", Dev() + "/serial/by-id/usb-FTDI_FT232R-if00-port0");
  fs::create_symlink("../../ttyUSB7", Dev() + "/serial/by-id/usb-unplugged-if00-port0");

  Tty("ttyS0", true, "4");
  Tty("ttyS1", true, "0");  // no UART found behind it
  Tty("ttyS2", true, "4");
  Tty("ttyS10", true, "4");
  Tty("ttyUSB0", true);
  Tty("tty0", false);    // a virtual console: no driver
  Tty("ttyACM0", true);  // no device node
  Tty("console", true);

  const std::vector<std::string> expected = {
      Dev() + "/serial/by-id/usb-FTDI_FT232R-if00-port0",
      Dev() + "/ttyS0",
      Dev() + "/ttyS2",
      Dev() + "/ttyS10",
      Dev() + "/ttyUSB0",
  };
  EXPECT_EQ(ListLinuxSerialPorts(Dev(), Sys()), expected);
}

TEST_F(PortListPosixTest, LinuxWithoutSerialDirectoriesListsNothing) {
  EXPECT_TRUE(ListLinuxSerialPorts(Dev(), Sys()).empty());
  EXPECT_TRUE(ListLinuxSerialPorts(Dev() + "/missing", Sys() + "/missing").empty());
}

TEST_F(PortListPosixTest, MacListsCallOutDevicesOnly) {
  for (const char* node : {"cu.usbserial-A10", "tty.usbserial-A10", "cu.Bluetooth-Incoming-Port",
                           "cu.usbserial-A9", "null"}) {
    Node(node);
  }
  const std::vector<std::string> expected = {
      Dev() + "/cu.Bluetooth-Incoming-Port",
      Dev() + "/cu.usbserial-A9",
      Dev() + "/cu.usbserial-A10",
  };
  EXPECT_EQ(ListMacSerialPorts(Dev()), expected);
}

}  // namespace
}  // namespace vantor
