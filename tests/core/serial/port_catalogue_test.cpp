#include "core/serial/port_catalogue.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

using testing::TempDir;
using testing::WriteAll;

class PortCatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dev_);
    for (const char* name : {"ttyS10", "ttyS2", "ttyUSB1", "ttyUSB0", "ttyACM0", "tty0", "ttyS", "ttySX", "null"})
      WriteAll(dev_ / name, "");
  }
  EnvironmentLookup Env(std::map<std::string, std::string> values) {
    return [values](const char* name) -> std::optional<std::string> {
      auto it = values.find(name);
      if (it == values.end()) return std::nullopt;
      return it->second;
    };
  }

  TempDir dir_;
  std::filesystem::path dev_ = dir_ / "dev";
};

TEST_F(PortCatalogueTest, MachinePortsInNaturalOrderThenNamedOnes) {
  const PortCatalogue ports = PortCatalogue::Discover({"/tmp/sim-a", (dev_ / "ttyS2").string()},
                                                      Env({{"NORVANE_PORTS", "/tmp/sim-b::/tmp/sim-a:/tmp/sim-c"}}),
                                                      dev_, dir_ / "sys");
  std::vector<std::string> paths;
  for (const PortEntry& p : ports.ports()) paths.push_back(p.path);
  const std::vector<std::string> expected = {(dev_ / "ttyUSB0").string(), (dev_ / "ttyUSB1").string(),
                                             (dev_ / "ttyACM0").string(), (dev_ / "ttyS2").string(),
                                             (dev_ / "ttyS10").string(), "/tmp/sim-a", "/tmp/sim-b", "/tmp/sim-c"};
  EXPECT_EQ(paths, expected);
  for (size_t i = 0; i < ports.ports().size(); ++i) EXPECT_EQ(ports.ports()[i].number, static_cast<int>(i) + 1);
  EXPECT_EQ(ports.ports()[3].description, "serial port");
  EXPECT_EQ(ports.ports()[6].description, "from NORVANE_PORTS");
  EXPECT_EQ(ports.PathOf(1), (dev_ / "ttyUSB0").string());
  EXPECT_EQ(ports.PathOf(0), std::nullopt);
  EXPECT_EQ(ports.PathOf(9), std::nullopt);
}

TEST_F(PortCatalogueTest, ResolveTakesNumbersAndPathsAndSeesThroughLinks) {
  PortCatalogue ports = PortCatalogue::Discover({}, Env({}), dev_, dir_ / "sys");
  ASSERT_EQ(ports.ports().size(), 5u);
  EXPECT_EQ(ports.Resolve("2"), 2);
  EXPECT_EQ(ports.Resolve("40"), 40);  // beyond the list: opening it will say so
  EXPECT_EQ(ports.Resolve("0"), std::nullopt);
  EXPECT_EQ(ports.Resolve("COM3"), std::nullopt);
  EXPECT_EQ(ports.Resolve(""), std::nullopt);

  std::filesystem::create_symlink(dev_ / "ttyACM0", dir_ / "counter");
  EXPECT_EQ(ports.Resolve((dir_ / "counter").string()), 3);  // the same device, not a new port
  EXPECT_EQ(ports.Resolve((dir_ / "pts7").string()), 6);
  EXPECT_EQ(ports.Resolve((dir_ / "pts7").string()), 6);
  EXPECT_EQ(ports.ports().size(), 6u);
}

TEST_F(PortCatalogueTest, AMissingDeviceFolderMeansNoMachinePorts) {
  const PortCatalogue ports = PortCatalogue::Discover({}, Env({{"NORVANE_PORTS", "/tmp/x"}}), dir_ / "absent");
  ASSERT_EQ(ports.ports().size(), 1u);
  EXPECT_EQ(ports.ports()[0].path, "/tmp/x");
}

}  // namespace
}  // namespace norvane
