#include "core/platform/serial_device.h"

#include <gtest/gtest.h>

#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

namespace fs = std::filesystem;

TEST(StableDevicePath, TheByIdLinkOfTheSameDeviceWhicheverNameItIsGivenBy) {
  testing::TempDir dev;
  testing::WriteAll(dev / "ttyUSB0", "");
  testing::WriteAll(dev / "ttyUSB1", "");
  testing::WriteAll(dev / "ttyACM0", "");
  fs::create_directory(dev / "by-id");
  // As udev makes them: relative links, one per bridge.
  fs::create_symlink("../ttyUSB1", dev / "by-id" / "usb-Silicon_Labs_CP2102_0042-if00-port0");
  fs::create_symlink("../ttyUSB0", dev / "by-id" / "usb-1a86_USB_Serial-if00-port0");
  fs::create_symlink("ttyUSB1", dev / "counter");

  const fs::path by_id = dev / "by-id";
  EXPECT_EQ(StableDevicePath((dev / "ttyUSB1").string(), by_id),
            (by_id / "usb-Silicon_Labs_CP2102_0042-if00-port0").string());
  EXPECT_EQ(StableDevicePath((dev / "counter").string(), by_id),
            (by_id / "usb-Silicon_Labs_CP2102_0042-if00-port0").string());
  EXPECT_EQ(StableDevicePath((dev / "ttyACM0").string(), by_id), "");
  EXPECT_EQ(StableDevicePath((dev / "ttyUSB0").string(), dev / "no-such-folder"), "");
}

}  // namespace
}  // namespace norvane
