#include "core/platform/store_location.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace norvane {

std::filesystem::path StorePathFrom(const EnvironmentLookup& lookup) {
  auto value = [&lookup](const char* name) -> std::string {
    std::optional<std::string> v = lookup(name);
    return v ? *v : std::string();
  };
  const std::filesystem::path relative = std::filesystem::path("norvane-data-viewer") / "store.sqlite";
  if (std::string explicit_path = value("NORVANE_STORE"); !explicit_path.empty()) return explicit_path;
  if (std::filesystem::path xdg = value("XDG_DATA_HOME"); xdg.is_absolute()) return xdg / relative;
  if (std::string home = value("HOME"); !home.empty())
    return std::filesystem::path(home) / ".local" / "share" / relative;
  return {};
}

std::filesystem::path RecordingFolderFrom(const EnvironmentLookup& lookup) {
  const std::filesystem::path store = StorePathFrom([&lookup](const char* name) {
    return std::string_view(name) == "NORVANE_STORE" ? std::nullopt : lookup(name);
  });
  return store.empty() ? store : store.parent_path() / "recordings";
}

namespace {

std::optional<std::string> FromEnvironment(const char* name) {
  const char* v = std::getenv(name);
  if (!v) return std::nullopt;
  return std::string(v);
}

}  // namespace

std::filesystem::path DefaultStorePath() { return StorePathFrom(FromEnvironment); }

std::filesystem::path DefaultRecordingFolder() {
  const std::filesystem::path folder = RecordingFolderFrom(FromEnvironment);
  std::error_code error;
  if (folder.empty() || (!std::filesystem::create_directories(folder, error) && error)) return {};
  return folder;
}

std::filesystem::path ServerJournalFolder() {
  if (const std::optional<std::string> state = FromEnvironment("STATE_DIRECTORY"); state && !state->empty())
    return *state;
  return StorePathFrom([](const char* name) {
           return std::string_view(name) == "NORVANE_STORE" ? std::nullopt : FromEnvironment(name);
         })
      .parent_path();
}

}  // namespace norvane
