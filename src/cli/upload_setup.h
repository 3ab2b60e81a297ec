// The public maps' uploads of `record`, as its options set them up.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/command.h"
#include "core/common/secret_source.h"
#include "core/common/user_notifier.h"
#include "core/realtime/live_sink.h"
#include "core/upload/map_network.h"

namespace norvane::cli {

// The networks the options name, each with its key from its file, the environment or the systemd
// credential. Returns the reason when one cannot be set up as given.
std::optional<std::string> ReadUploadSetups(const ParsedOptions& options, const EnvironmentLookup& environment,
                                            std::vector<upload::NetworkSetup>& setups);

// The uploads' sink for the station's live seconds, or none when no network is named. Returns the
// reason when they cannot run.
std::optional<std::string> StartUploads(const CommandContext& context, const std::string& holder,
                                        UserNotifier& notifier, std::unique_ptr<LiveSink>& uploads);

}  // namespace norvane::cli
