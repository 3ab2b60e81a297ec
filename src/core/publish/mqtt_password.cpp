#include "core/publish/mqtt_password.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "core/platform/atomic_file.h"

namespace norvane::publish {
namespace {

// The password file's text, or the reason it cannot be used.
std::optional<std::string> ReadPassword(const std::filesystem::path& file, std::string& password) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return "The MQTT password file " + file.string() + " cannot be read (" + std::strerror(errno) + ").";
  std::ostringstream text;
  text << in.rdbuf();
  password = text.str();
  if (password.ends_with('\n')) password.pop_back();
  if (password.ends_with('\r')) password.pop_back();
  if (password.empty()) return "The MQTT password file " + file.string() + " is empty.";
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ResolveMqttPassword(PublishingOptions& options, const EnvironmentLookup& environment) {
  const bool file_given = !options.mqtt_password_file.empty();
  if (options.mqtt_url.empty())
    return file_given ? std::optional<std::string>("--mqtt-password-file needs --mqtt, the broker it is for.")
                      : std::nullopt;
  // An address that cannot be read is told by the publisher, which leaves MQTT off.
  const std::optional<MqttTarget> target = ParseMqttUrl(options.mqtt_url, nullptr);
  if (!target) return std::nullopt;
  if (!target->password.empty()) {
    if (file_given)
      return "The MQTT password is given twice, in the --mqtt address and in --mqtt-password-file: keep the file "
             "only.";
    return std::nullopt;
  }

  std::string password, source;
  if (file_given) {
    if (auto problem = ReadPassword(options.mqtt_password_file, password)) return problem;
    source = "--mqtt-password-file";
  } else if (const char* variable = environment(kMqttPasswordVariable); variable && *variable) {
    password = variable;
    source = std::string("$") + kMqttPasswordVariable;
  } else if (const char* credentials = environment("CREDENTIALS_DIRECTORY"); credentials && *credentials) {
    const std::filesystem::path file = std::filesystem::path(credentials) / kMqttPasswordCredential;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return std::nullopt;
    if (auto problem = ReadPassword(file, password)) return problem;
    source = std::string("the systemd credential ") + kMqttPasswordCredential;
  } else {
    return std::nullopt;
  }
  if (target->user.empty())
    return "An MQTT password is given (" + source + ") but the --mqtt address names no user: give it as mqtt://USER@" +
           target->Where() + "/" + target->prefix + ".";
  options.mqtt_password = std::move(password);
  return std::nullopt;
}

std::optional<std::string> ResolveMqttPassword(PublishingOptions& options) {
  return ResolveMqttPassword(options, [](const char* name) -> const char* { return std::getenv(name); });
}

std::optional<std::string> StoreMqttPassword(const std::filesystem::path& file, std::string_view password) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (file.has_parent_path()) fs::create_directories(file.parent_path(), ec);
  // The replacing write keeps the permissions of the file it replaces: an empty file made private
  // first means the password is never readable by others, not even for a moment.
  if (!fs::exists(file, ec)) std::ofstream(file, std::ios::binary).close();
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace, ec);
  if (ec) return "The MQTT password file " + file.string() + " cannot be made private (" + ec.message() + ").";
  std::string error;
  if (!AtomicWriteFile(file, std::string(password) + "\n", &error)) return "The MQTT password cannot be kept: " + error;
  return std::nullopt;
}

}  // namespace norvane::publish
