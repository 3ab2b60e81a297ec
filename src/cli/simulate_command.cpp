// simulate: a counter on a pseudo-terminal, for trying the program and its tests without hardware.
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ostream>

#include "cli/command.h"
#include "cli/stop_flag.h"
#include "core/common/clock.h"
#include "core/common/text_format.h"
#include "core/platform/file_read.h"
#include "core/platform/interrupt_watch.h"
#include "core/protocol/model_table.h"
#include "sim/config_area.h"
#include "sim/pty_transport.h"
#include "sim/simulated_counter.h"

namespace norvane::cli {
namespace {

constexpr std::string_view kDefaultModel = "ZQT-400";
constexpr size_t kVersionLimit = 20;  // the length of the version reply
// Long enough for the program's 5000 ms wait after a factory reset to matter.
constexpr sim::SimTime kRestartTime = std::chrono::seconds(2);

bool EndsWithNoCase(std::string_view text, std::string_view end) {
  if (text.size() < end.size()) return false;
  for (size_t i = 0; i < end.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[text.size() - end.size() + i])) != end[i]) return false;
  return true;
}

// A configuration file as the program saves it: raw bytes, or (".csv") one line of signed
// decimals each followed by a comma.
std::vector<uint8_t> ConfigFromFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (!EndsWithNoCase(path, ".csv")) return bytes;
  std::vector<uint8_t> out;
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  for (size_t comma; out.size() < sim::kConfigAreaSize && (comma = text.find(',')) != std::string_view::npos &&
                     comma > 0;) {
    out.push_back(static_cast<uint8_t>(std::atoi(std::string(text.substr(0, comma)).c_str())));
    text.remove_prefix(comma + 1);
  }
  return out;
}

const sim::CounterModel* ChooseModel(const CommandContext& context, const std::optional<std::string>& version) {
  if (context.model) return sim::FindCounterModel(*context.model);
  if (version) {
    // The counter whose family the reply names, so it speaks as the program will expect.
    const int family = sim::FamilyForVersionText(*version);
    for (const sim::CounterModel& m : sim::CounterModels())
      if (m.family == family) return &m;
  }
  return sim::FindCounterModel(kDefaultModel);
}

// Sixteen hexadecimal digits, the eight bytes of a serial number in the order they are sent.
std::optional<sim::SerialNumber> SerialFromHex(std::string_view text) {
  sim::SerialNumber serial;
  if (text.size() != 2 * serial.size()) return std::nullopt;
  for (size_t i = 0; i < serial.size(); ++i) {
    const auto [end, ec] = std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, serial[i], 16);
    if (ec != std::errc{} || end != text.data() + 2 * i + 2) return std::nullopt;
  }
  return serial;
}

std::string KnownModels() {
  std::string names;
  for (const sim::CounterModel& m : sim::CounterModels()) names += (names.empty() ? "" : ", ") + std::string(m.name);
  return names;
}

}  // namespace

int RunSimulate(CommandContext& context) {
  const ParsedOptions& o = context.options;
  if (!context.args.empty()) return context.Usage("unknown argument '" + context.args.front() + "'");
  const std::optional<std::string> version = o.Value("--version"), history_path = o.Value("--history"),
                                   config_path = o.Value("--config"), link = o.Value("--link"),
                                   reply_log = o.Value("--reply-log");
  const bool pace = o.Has("--pace");
  if (version && version->size() > kVersionLimit) return context.Usage("--version takes at most 20 characters");
  std::optional<sim::SerialNumber> serial;
  if (const auto text = o.Value("--serial")) {
    serial = SerialFromHex(*text);
    if (!serial) return context.Usage("--serial takes 16 hexadecimal digits, the 8 bytes of the serial number");
  }
  // Each number is the whole text of its option, in its range.
  const auto number = [&](std::string_view name, auto& into, auto valid) {
    const std::optional<std::string> value = o.Value(name);
    if (!value) return true;
    const char* end = value->data() + value->size();
    const auto [p, ec] = std::from_chars(value->data(), end, into);
    return ec == std::errc{} && p == end && valid(into);
  };
  double cpm = 24;
  if (!number("--cpm", cpm, [](double v) { return v >= 0 && v <= 1e6; }))
    return context.Usage("--cpm takes a number of counts per minute from 0 to 1000000");
  uint32_t grow_ms = 0;
  if (!number("--grow", grow_ms, [](uint32_t v) { return v > 0; }))
    return context.Usage("--grow takes a whole number of milliseconds from 1 to 4294967295");
  uint32_t seed = 1;
  if (!number("--seed", seed, [](uint32_t) { return true; }))
    return context.Usage("--seed takes a whole number from 0 to 4294967295");
  sim::Faults faults;
  for (const std::string& fault : o.Values("--fault")) {
    std::string error;
    if (!sim::ParseFault(fault, faults, &error))
      return context.Usage(error + "\nfaults:\n" + std::string(sim::FaultHelp()));
  }

  const sim::CounterModel* model = ChooseModel(context, version);
  if (!model) return context.Fail("unknown model '" + *context.model + "'; the simulator knows " + KnownModels());

  sim::CounterOptions options;
  options.model = model;
  options.version = version;
  options.cpm = cpm;
  options.seed = seed;
  options.pace = pace;
  options.restart_time = kRestartTime;
  options.faults = faults;
  options.serial = serial;
  options.grow_every = std::chrono::milliseconds(grow_ms);

  const uint32_t flash_size = ModelForName(model->list_entry).image_size;
  std::string error;
  if (history_path) {
    const auto file = ReadFilePrefix(*history_path, flash_size + 512, &error);
    if (!file) return context.Fail("cannot read " + *history_path + ": " + error);
    std::vector<uint8_t> bytes = file->bytes;
    // A dump carries the configuration block it was saved with after the history.
    if (file->file_size > flash_size) {
      const uint64_t tail = file->file_size - flash_size;
      if (!config_path && (tail == 256 || tail == 512)) {
        options.config.emplace(bytes.begin() + flash_size, bytes.end());
      } else {
        context.err << "note: " << *history_path << " is longer than the " << flash_size << "-byte flash of "
                    << model->name << "; the rest is not used" << std::endl;
      }
      bytes.resize(flash_size);
    }
    options.history = std::move(bytes);
  }
  if (config_path) {
    const auto file = ReadFilePrefix(*config_path, 64 * 1024, &error);
    if (!file) return context.Fail("cannot read " + *config_path + ": " + error);
    std::vector<uint8_t> config = ConfigFromFile(*config_path, file->bytes);
    if (config.empty()) return context.Fail(*config_path + " holds no configuration bytes");
    options.config = std::move(config);
  }

  std::ofstream replies;
  if (reply_log) {
    replies.open(*reply_log, std::ios::app);
    if (!replies) return context.Fail("cannot write " + *reply_log + ": " + std::strerror(errno));
    // The wall clock, so the times compare with those of other programs on this machine.
    options.counts_sent = [&replies](uint32_t count) {
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::system_clock::now().time_since_epoch()).count();
      replies << Format("%lld.%09lld %u", static_cast<long long>(ns / 1'000'000'000),
                        static_cast<long long>(ns % 1'000'000'000), count)
              << std::endl;
    };
  }

  // Before the link is made and the serving thread starts: a Ctrl+C from here on ends the wait
  // below, so the link is always removed.
  StopFlag stop;
  InterruptWatch signals([&stop] { stop.Raise(); });
  SystemClock clock;
  sim::SimulatedCounter counter(std::move(options), clock);
  auto transport = sim::PtyTransport::Open(counter, &error, link ? std::optional<std::filesystem::path>(*link)
                                                                 : std::nullopt);
  if (!transport) return context.Fail(error);
  if (!transport->Start(&error)) return context.Fail(error);

  context.out << transport->device_path() << std::endl;
  std::string serial_text;
  for (uint8_t b : counter.serial()) serial_text += Format("%02X", b);
  context.err << "simulating " << model->name << " (\"" << counter.version() << "\", serial " << serial_text
              << ", family " << counter.family() << ", " << counter.baud() << " baud" << (pace ? ", paced" : "")
              << ") on "
              << transport->device_path() << (link ? " (" + *link + ")" : "") << "; Ctrl+C stops" << std::endl;
  stop.Wait();
  transport->Stop();
  context.err << "simulator stopped" << std::endl;
  return kExitOk;
}

}  // namespace norvane::cli
