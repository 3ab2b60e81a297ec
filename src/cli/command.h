// What every norvane-cli command receives, and the table the dispatcher reads.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/option_table.h"

namespace norvane::cli {

struct Command;

struct CommandContext {
  const Command& command;
  std::vector<std::string> args;  // the words after the command word that are no option
  const ParsedOptions& options;   // the command's options (and the global ones) as given
  std::filesystem::path settings_path;
  std::optional<std::string> model;  // --model
  std::optional<std::string> port;   // --port: a port number or a device path
  std::optional<std::filesystem::path> trace;  // --trace: hex log of the serial link
  std::ostream& out;
  std::ostream& err;
  std::filesystem::path store_path = {};  // --store, else $NORVANE_STORE, else the XDG data folder

  // One clear line on stderr; returns the failure exit code.
  int Fail(std::string_view message) const;
  // The problem and this command's usage line on stderr; returns the usage exit code.
  int Usage(std::string_view message) const;
};

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct Command {
  std::string_view name;
  std::string_view arguments;  // the words it takes, as the usage shows them: "IMAGE OUT", "get|sync"
  std::string_view summary;
  std::span<const OptionEntry> options;
  int (*run)(CommandContext& context);
};

// The table every command line is read by, its help printed from, and its completion and man
// page checked against.
std::span<const Command> Commands();
// The options before (or after) any command: --settings, --store, --model, --port ...
std::span<const OptionEntry> GlobalOptions();
// The options only before a command: --version.
std::span<const OptionEntry> ProgramOptions();

int RunWalk(CommandContext& context);
int RunWindow(CommandContext& context);
int RunExport(CommandContext& context);
int RunRealtimeExport(CommandContext& context);
int RunPorts(CommandContext& context);
int RunIdentify(CommandContext& context);
int RunScan(CommandContext& context);
int RunSimulate(CommandContext& context);
int RunConfig(CommandContext& context);
int RunDownload(CommandContext& context);
int RunClock(CommandContext& context);
int RunSend(CommandContext& context);
int RunScreenshot(CommandContext& context);
int RunWifi(CommandContext& context);
int RunMonitor(CommandContext& context);
int RunRecord(CommandContext& context);
int RunMap(CommandContext& context);
int RunStore(CommandContext& context);
int RunCollect(CommandContext& context);

}  // namespace norvane::cli
