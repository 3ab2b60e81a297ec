#include "core/common/secret_source.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace norvane {
namespace {

std::optional<std::string> ReadSecretFile(const SecretSource& source, const std::filesystem::path& file,
                                          std::string& secret) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return source.what + " file " + file.string() + " cannot be read (" + std::strerror(errno) + ").";
  std::ostringstream text;
  text << in.rdbuf();
  secret = text.str();
  if (secret.ends_with('\n')) secret.pop_back();
  if (secret.ends_with('\r')) secret.pop_back();
  if (secret.empty()) return source.what + " file " + file.string() + " is empty.";
  return std::nullopt;
}

}  // namespace

EnvironmentLookup ProcessEnvironment() {
  return [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
  };
}

std::optional<std::string> ReadSecret(const SecretSource& source, const EnvironmentLookup& environment,
                                      std::string& secret) {
  secret.clear();
  if (!source.file.empty()) return ReadSecretFile(source, source.file, secret);
  if (!source.variable.empty())
    if (std::optional<std::string> value = environment(source.variable.c_str()); value && !value->empty()) {
      secret = *value;
      return std::nullopt;
    }
  if (source.credential.empty()) return std::nullopt;
  const std::optional<std::string> credentials = environment("CREDENTIALS_DIRECTORY");
  if (!credentials || credentials->empty()) return std::nullopt;
  const std::filesystem::path file = std::filesystem::path(*credentials) / source.credential;
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return std::nullopt;
  return ReadSecretFile(source, file, secret);
}

}  // namespace norvane
