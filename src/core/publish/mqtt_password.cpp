#include "core/publish/mqtt_password.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "core/i18n/language_dictionary.h"
#include "core/i18n/window_texts.h"
#include "core/platform/atomic_file.h"
#include "core/platform/system_error.h"

namespace norvane::publish {
namespace {

// The password file's text, or the reason it cannot be used.
std::optional<std::string> ReadPassword(const std::filesystem::path& file, std::string& password) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return EnglishText(kTextMsgMqttPasswordUnreadable, {file.string(), SystemErrorText(errno)});
  std::ostringstream text;
  text << in.rdbuf();
  password = text.str();
  if (password.ends_with('\n')) password.pop_back();
  if (password.ends_with('\r')) password.pop_back();
  if (password.empty()) return EnglishText(kTextMsgMqttPasswordEmpty, {file.string()});
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ResolveMqttPassword(PublishingOptions& options, const EnvironmentLookup& environment) {
  const bool file_given = !options.mqtt_password_file.empty();
  if (options.mqtt_url.empty())
    return file_given ? std::optional<std::string>(EnglishText(kTextMsgMqttPasswordFileAlone)) : std::nullopt;
  // An address that cannot be read is told by the publisher, which leaves MQTT off.
  const std::optional<MqttTarget> target = ParseMqttUrl(options.mqtt_url, nullptr);
  if (!target) return std::nullopt;
  if (!target->password.empty()) {
    if (file_given)
      return EnglishText(kTextMsgMqttPasswordTwice);
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
    return EnglishText(kTextMsgMqttPasswordNoUser, {source, target->Where(), target->prefix});
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
  if (ec) return EnglishText(kTextMsgMqttPasswordNotPrivate, {file.string(), SystemErrorText(ec.value())});
  std::string error;
  if (!AtomicWriteFile(file, std::string(password) + "\n", &error)) return EnglishText(kTextMsgMqttPasswordNotKept, {error});
  return std::nullopt;
}

}  // namespace norvane::publish
