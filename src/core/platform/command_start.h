// Starting a user's shell command in the background, with values of ours in its environment.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace norvane {

// Runs `command` with /bin/sh -c, the environment being ours without the `withheld` variables
// (the program's secrets) plus `variables`, and returns at once: the command is a grandchild that
// init reaps, so neither a slow command nor its exit holds up the caller. The reason when it
// could not be started.
std::optional<std::string> StartCommand(const std::string& command,
                                        const std::vector<std::pair<std::string, std::string>>& variables,
                                        const std::vector<std::string>& withheld);

}  // namespace norvane
