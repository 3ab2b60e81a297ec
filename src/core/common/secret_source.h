// Secrets kept off the command line, where every user of the machine could read them: from a
// file, the environment or a systemd credential.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/platform/settings_location.h"

namespace norvane {

// This process's environment.
EnvironmentLookup ProcessEnvironment();

struct SecretSource {
  std::string what;               // "The radmon.org password", as messages name it
  std::filesystem::path file;     // given by an option, read first
  std::string option;             // that option, "--radmon-password-file"
  std::string variable;           // then this environment variable
  std::string credential;         // then this file in $CREDENTIALS_DIRECTORY (LoadCredential=NAME:FILE)
};

// The first secret given, one trailing line end dropped, in `secret` (left empty when none is
// given). Returns the reason, never showing the secret, when a file given cannot be read or is empty.
std::optional<std::string> ReadSecret(const SecretSource& source, const EnvironmentLookup& environment,
                                      std::string& secret);

}  // namespace norvane
