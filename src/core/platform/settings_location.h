// Where the settings file lives, and the separator that ends a folder in a stored path.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace norvane {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Looks an environment variable up; empty when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// $NORVANE_SETTINGS when set and non-empty, else $XDG_CONFIG_HOME/norvane-data-viewer/settings.reg
// (an empty or relative XDG_CONFIG_HOME is ignored, as the XDG rules ask), else
// $HOME/.config/norvane-data-viewer/settings.reg. Empty when none of these is known: the settings
// then simply stay at their defaults.
std::filesystem::path SettingsPathFrom(const EnvironmentLookup& lookup);

// SettingsPathFrom over the process environment.
std::filesystem::path DefaultSettingsPath();

}  // namespace norvane
