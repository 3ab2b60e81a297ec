#include "core/platform/settings_location.h"

#include <gtest/gtest.h>

#include <map>

namespace norvane {
namespace {

TEST(SettingsLocation, ExplicitFileThenXdgThenHome) {
  std::map<std::string, std::string> env = {
      {"NORVANE_SETTINGS", "/tmp/t.reg"}, {"XDG_CONFIG_HOME", "/xdg"}, {"HOME", "/home/u"}};
  auto path = [&env] {
    return SettingsPathFrom([&env](const char* name) -> std::optional<std::string> {
      auto it = env.find(name);
      return it == env.end() ? std::nullopt : std::optional(it->second);
    });
  };
  EXPECT_EQ(path(), "/tmp/t.reg");
  env["NORVANE_SETTINGS"] = "";  // set but empty counts as unset
  EXPECT_EQ(path(), "/xdg/norvane-data-viewer/settings.reg");
  env["XDG_CONFIG_HOME"] = "relative/dir";
  EXPECT_EQ(path(), "/home/u/.config/norvane-data-viewer/settings.reg");
  env.clear();
  EXPECT_EQ(path(), std::filesystem::path());
}

}  // namespace
}  // namespace norvane
