// The MQTT password kept off the command line, where every user of the machine could read it:
// from a file, the environment or a systemd credential.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/publish/live_publishing.h"

namespace norvane::publish {

inline constexpr const char* kMqttPasswordVariable = "NORVANE_MQTT_PASSWORD";
// The name to give the credential in the unit: LoadCredential=mqtt-password:FILE.
inline constexpr const char* kMqttPasswordCredential = "mqtt-password";

// Looks up an environment variable; null when it is not set.
using EnvironmentLookup = std::function<const char*(const char*)>;

// Fills options.mqtt_password when the --mqtt address carries none, from the first that is given:
// options.mqtt_password_file, $NORVANE_MQTT_PASSWORD, or the file mqtt-password in
// $CREDENTIALS_DIRECTORY. One trailing line end is dropped. Returns the reason, never showing the
// password, when a password file cannot be read or is empty, when a password has no user name to
// go with, or when the address and the file both give one.
std::optional<std::string> ResolveMqttPassword(PublishingOptions& options, const EnvironmentLookup& environment);
// The same with this process's environment.
std::optional<std::string> ResolveMqttPassword(PublishingOptions& options);

// Keeps `password` in `file` as ResolveMqttPassword reads it, readable by its owner only from
// before the password is in it. Returns the reason when it cannot, never showing the password.
std::optional<std::string> StoreMqttPassword(const std::filesystem::path& file, std::string_view password);

}  // namespace norvane::publish
