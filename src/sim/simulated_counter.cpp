#include "sim/simulated_counter.h"

#include <algorithm>

#include "core/common/text_format.h"
#include "core/protocol/command_catalogue.h"
#include "core/protocol/model_table.h"
#include "sim/config_area.h"
#include "sim/history_generator.h"

namespace norvane::sim {
namespace {

// A frame left unfinished this long was abandoned by its sender; the longest pause inside a
// real frame is its inter-byte delay, at most 20 ms.
constexpr SimTime kFrameGap = std::chrono::seconds(1);
constexpr size_t kVersionReplyBytes = 20;
constexpr uint8_t kAckByte = 0xAA;
constexpr uint8_t kWrongAck = 0x55;
constexpr uint8_t kRefused = '?';
// What a counter that is not in download mode prints in place of flash bytes.
constexpr uint8_t kNotReadyLine[] = {'?', '\r', '\n', '>', ' '};
constexpr uint32_t kHistoryDays = 3;

int64_t CivilSeconds(const LocalTime& t) {
  using namespace std::chrono;
  const sys_days date = year{t.year} / month{static_cast<unsigned>(t.month)} / day{static_cast<unsigned>(t.day)};
  return int64_t{date.time_since_epoch().count()} * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

LocalTime FromCivil(int64_t seconds) {
  using namespace std::chrono;
  int64_t days_since = seconds / 86400, rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days_since;
  }
  const year_month_day date{sys_days{days{days_since}}};
  return {static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
          static_cast<int>(static_cast<unsigned>(date.day())), static_cast<int>(rest / 3600),
          static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60)};
}

bool ValidTime(const LocalTime& t) {
  if (t.year < 2000 || t.year > 2099 || t.month < 1 || t.month > 12 || t.day < 1) return false;
  const auto last = std::chrono::year_month_day_last{std::chrono::year{t.year},
                                                     std::chrono::month_day_last{std::chrono::month{
                                                         static_cast<unsigned>(t.month)}}};
  return t.day <= static_cast<int>(static_cast<unsigned>(last.day())) && t.hour >= 0 && t.hour < 24 &&
         t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second < 60;
}

std::vector<uint8_t> TimeBytes(const LocalTime& t) {
  return {static_cast<uint8_t>(t.year - 2000), static_cast<uint8_t>(t.month), static_cast<uint8_t>(t.day),
          static_cast<uint8_t>(t.hour),        static_cast<uint8_t>(t.minute), static_cast<uint8_t>(t.second)};
}

StampTime ToStamp(const LocalTime& t) {
  return {static_cast<uint8_t>(t.year - 2000), static_cast<uint8_t>(t.month), static_cast<uint8_t>(t.day),
          static_cast<uint8_t>(t.hour),        static_cast<uint8_t>(t.minute), static_cast<uint8_t>(t.second)};
}

CounterOptions WithModel(CounterOptions options) {
  if (!options.model) options.model = FindCounterModel("ZQT-400");
  return options;
}

SerialNumber RandomSerial() {
  std::random_device entropy;
  SerialNumber serial;
  for (uint8_t& b : serial) b = static_cast<uint8_t>(entropy());
  return serial;
}

}  // namespace

SimulatedCounter::SimulatedCounter(CounterOptions options, const Clock& clock)
    : options_(WithModel(std::move(options))),
      clock_(clock),
      family_(options_.model->family),
      version_(options_.version.value_or(std::string(options_.model->version))),
      serial_(options_.serial ? *options_.serial : RandomSerial()),
      parser_(0),
      count_rng_(options_.seed * 2654435761u + 1),
      split_rng_(options_.seed * 3266489917u + 5) {
  static_assert(std::tuple_size_v<SerialNumber> == commands::kGetSerial.reply_bytes);
  // The program identifies a counter by its reply, so the reply decides how it behaves.
  if (const int family = FamilyForVersionText(version_); family >= 0) family_ = family;
  parser_ = FrameParser(family_);

  const int64_t switched_on = CivilSeconds(clock_.LocalNow());
  clock_set_at_ = clock_.Now();
  const uint32_t flash_size = ModelForName(options_.model->list_entry).image_size;
  if (options_.history) {
    flash_ = std::move(*options_.history);
    flash_.resize(flash_size, 0xFF);
    options_.history.reset();
  } else {
    HistoryOptions h;
    h.image_size = flash_size;
    h.mean_cps = options_.cpm / 60;
    h.seed = options_.seed;
    h.days = kHistoryDays;
    h.start = ToStamp(FromCivil(switched_on - (kHistoryDays + 1) * 86400));
    flash_ = GenerateHistory(h);
  }
  const auto last_data = std::find_if(flash_.rbegin(), flash_.rend(), [](uint8_t b) { return b != 0xFF; });
  const auto history_end = static_cast<uint32_t>(flash_.rend() - last_data);
  history_end_ = history_end;
  grow_rng_.seed(options_.seed * 2246822519u + 3);

  factory_config_ = DefaultConfigArea(family_, history_end);
  config_ = factory_config_;
  if (options_.config) {
    std::copy_n(options_.config->begin(), std::min(options_.config->size(), config_.size()), config_.begin());
    options_.config.reset();
  }
  staged_ = config_;

  // Two captures on the display's screenshot slots, two empty slots.
  std::mt19937 screen_rng(options_.seed + 7);
  for (int slot = 0; slot < 2; ++slot) {
    uint8_t bars[120];
    uint32_t cpm = 0;
    std::poisson_distribution<int> per_second(std::max(options_.cpm / 60, 0.01) * (slot ? 3 : 1));
    for (int i = 0; i < 120; ++i) {
      bars[i] = static_cast<uint8_t>(std::min(per_second(screen_rng), 255));
      if (i >= 60) cpm += bars[i];
    }
    Screenshot& s = screenshots_[static_cast<size_t>(slot)];
    s.stored = true;
    s.taken = FromCivil(switched_on - (slot ? 25 * 60 : 2 * 86400 + 3 * 3600 + 600));
    s.image = DrawReadingScreen(cpm, FormatFixed(cpm * 0.39 / 60, 2).c_str(), bars, 120);
  }
}

bool SimulatedCounter::Deaf(SimTime now, int line_baud) const {
  const Faults& f = options_.faults;
  if (f.silent || now < deaf_until_) return true;
  if (f.silent_after && now >= *f.silent_after) return true;
  return f.strict_baud && line_baud != 0 && line_baud != baud();
}

void SimulatedCounter::Grow(SimTime now) {
  if (options_.grow_every <= SimTime::zero()) return;
  const int64_t due = now / options_.grow_every;
  std::poisson_distribution<uint32_t> counts(options_.cpm / 60);
  for (; grown_ < due; ++grown_)
    if (!AppendSample(flash_, history_end_, counts(grow_rng_))) grown_ = due;
}

void SimulatedCounter::Receive(std::span<const uint8_t> bytes, SimTime now, int line_baud) {
  if (bytes.empty()) return;
  // Before the frame is answered, so a request sees every sample logged until it came.
  Grow(now);
  if (Deaf(now, line_baud)) {
    parser_.Reset();
    return;
  }
  if (parser_.InFrame() && now - last_input_ > kFrameGap) parser_.Reset();
  last_input_ = now;
  std::vector<Frame> frames;
  for (uint8_t b : bytes) parser_.Push(b, frames);
  for (const Frame& frame : frames) {
    if (observer_) observer_(frame);
    Handle(frame, now);
  }
}

void SimulatedCounter::Handle(const Frame& frame, SimTime now) {
  const std::vector<uint8_t>& a = frame.arguments;
  switch (frame.kind) {
    case CommandKind::kUnknown:
    case CommandKind::kKey:
      break;
    case CommandKind::kGetVersion: {
      std::vector<uint8_t> reply(kVersionReplyBytes, 0);
      std::copy_n(version_.begin(), std::min(version_.size(), reply.size()), reply.begin());
      Reply(std::move(reply), now);
      break;
    }
    case CommandKind::kGetCounts: {
      const int64_t second = std::chrono::duration_cast<std::chrono::seconds>(now).count();
      const uint32_t count = CountForSecond(std::max<int64_t>(second - 1, 0));
      Reply(CountsReply(count), now);
      output_.back().counts = count;
      SplitLastReply();
      break;
    }
    case CommandKind::kGetSerial:
      if (!options_.faults.no_serial) Reply({serial_.begin(), serial_.end()}, now);
      break;
    case CommandKind::kHeartbeatOff:
      if (!options_.faults.question) download_mode_ = true;
      break;
    case CommandKind::kReadFlash:
      Reply(FlashReply((uint32_t{a[0]} << 16) | (uint32_t{a[1]} << 8) | a[2], (uint32_t{a[3]} << 8) | a[4]), now);
      break;
    case CommandKind::kGetConfig: {
      if (options_.faults.deaf_config) break;
      size_t size = ConfigReplySize(family_);
      if (options_.faults.short_config) size = std::min(size, static_cast<size_t>(*options_.faults.short_config));
      Reply({config_.begin(), config_.begin() + static_cast<std::ptrdiff_t>(size)}, now);
      break;
    }
    case CommandKind::kReadEeprom:
      if (options_.faults.deaf_config) break;
      Reply({config_.begin(), config_.begin() + 256}, now);
      break;
    case CommandKind::kEraseConfig:
      std::fill(family_ >= 7 ? staged_.begin() : config_.begin(), family_ >= 7 ? staged_.end() : config_.end(),
                uint8_t{0xFF});
      Ack(now);
      break;
    case CommandKind::kWriteConfig: {
      const bool wide = a.size() == 3;
      const int address = wide ? (a[0] << 8) | a[1] : a[0];
      const uint8_t value = a.back();
      if (address >= static_cast<int>(kConfigAreaSize) || options_.faults.wrong_ack_address == address) {
        Reply({kWrongAck}, now);
        break;
      }
      (family_ >= 7 ? staged_ : config_)[static_cast<size_t>(address)] = value;
      Ack(now);
      break;
    }
    case CommandKind::kUpdateConfig:
      if (family_ >= 7) config_ = staged_;
      Ack(now);
      break;
    case CommandKind::kFactoryReset:
      if (++factory_resets_ <= options_.faults.refused_resets) {
        Reply({kWrongAck}, now);
        break;
      }
      config_ = staged_ = factory_config_;
      Ack(now);
      deaf_until_ = now + options_.restart_time;
      break;
    case CommandKind::kGetDateTime: {
      std::vector<uint8_t> reply = TimeBytes(DeviceTime());
      reply.push_back(kAckByte);
      Reply(std::move(reply), now);
      break;
    }
    case CommandKind::kSetDateTime: {
      const LocalTime t{2000 + a[0], a[1], a[2], a[3], a[4], a[5]};
      if (!ValidTime(t)) {
        Reply({kRefused}, now);
        break;
      }
      SetDeviceTime(t);
      Ack(now);
      break;
    }
    case CommandKind::kSetClockField: {
      LocalTime t = DeviceTime();
      int* fields[] = {&t.year, &t.month, &t.day, &t.hour, &t.minute, &t.second};
      *fields[frame.index] = frame.index == 0 ? 2000 + a[0] : a[0];
      // Setting the month before the day may pass through a date like 31 April; keep the day
      // in its month as a counter's field editor would.
      if (frame.index <= 1 && t.month >= 1 && t.month <= 12) {
        LocalTime first = t;
        first.day = 1;
        while (t.day > 28 && !ValidTime(t) && ValidTime(first)) --t.day;
      }
      if (!ValidTime(t)) {
        Reply({kRefused}, now);
        break;
      }
      SetDeviceTime(t);
      Ack(now);
      break;
    }
    case CommandKind::kGetScreenshotInfo:
    case CommandKind::kGetScreenshot: {
      if (a[0] < '1' || a[0] > '4') break;
      const Screenshot& s = screenshots_[static_cast<size_t>(a[0] - '1')];
      std::vector<uint8_t> reply;
      if (frame.kind == CommandKind::kGetScreenshot) {
        reply.assign(s.image.begin(), s.image.end());
      } else {
        // An empty slot still answers, with 0xFF for the date, so the program can tell it apart
        // from a failed exchange.
        reply = s.stored ? TimeBytes(s.taken) : std::vector<uint8_t>(6, 0xFF);
      }
      reply.push_back(kAckByte);
      Reply(std::move(reply), now);
      break;
    }
    case CommandKind::kSetNetworkText:
    case CommandKind::kSetPeriod:
      if (!NetworkLayout(family_)) break;  // no WiFi: the command means nothing to this counter
      StoreNetworkValue(frame.kind == CommandKind::kSetPeriod ? 6 : frame.index, a);
      Ack(now);
      break;
  }
}

std::vector<uint8_t> SimulatedCounter::CountsReply(uint32_t count) {
  ++count_replies_;
  const Faults& f = options_.faults;
  if (f.short_counts)
    return {static_cast<uint8_t>(0x80 | ((count >> 8) & 0x3F)), static_cast<uint8_t>(count)};
  if (f.marked_counts > 0 && count_replies_ % f.marked_counts == 0)
    return {0x80, 0x00, static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)};
  return {static_cast<uint8_t>(count >> 24), static_cast<uint8_t>(count >> 16), static_cast<uint8_t>(count >> 8),
          static_cast<uint8_t>(count)};
}

void SimulatedCounter::SplitLastReply() {
  const std::optional<SplitReplies>& split = options_.faults.split_counts;
  if (!split || count_replies_ % split->every != 0) return;
  Chunk& first = output_.back();
  std::uniform_int_distribution<size_t> cut(1, first.bytes.size() - 1);
  const size_t at = cut(split_rng_);
  Chunk rest{std::max(first.start + split->delay, DueTime(first, at)),
             {first.bytes.begin() + static_cast<std::ptrdiff_t>(at), first.bytes.end()}, 0, first.counts};
  first.bytes.resize(at);
  first.counts.reset();
  output_.push_back(std::move(rest));
  line_free_ = options_.pace ? DueTime(output_.back(), output_.back().bytes.size()) : output_.back().start;
}

uint32_t SimulatedCounter::CountForSecond(int64_t second) {
  // Drawn in order of seconds so a seed gives the same counts however often they are asked for.
  if (second <= counted_up_to_) return second == counted_up_to_ ? last_count_ : 0;
  const double mean = std::max(options_.cpm, 0.0) / 60;
  std::poisson_distribution<uint32_t> counts(mean);
  std::exponential_distribution<double> swing(1.0);
  const Faults& f = options_.faults;
  for (; counted_up_to_ < second; ++counted_up_to_) {
    if (f.stuck_counts && counted_up_to_ >= *f.stuck_counts) continue;
    if (mean <= 0) last_count_ = 0;
    else if (f.noisy_counts)
      last_count_ = std::poisson_distribution<uint32_t>(std::max(mean * swing(count_rng_), 1e-9))(count_rng_);
    else last_count_ = counts(count_rng_);
  }
  return last_count_;
}

std::vector<uint8_t> SimulatedCounter::FlashReply(uint32_t address, uint32_t length) {
  ++flash_requests_;
  std::vector<uint8_t> reply(length, 0xFF);
  if (options_.faults.question) {
    for (uint32_t i = 0; i < length; ++i) reply[i] = kNotReadyLine[i % std::size(kNotReadyLine)];
    return reply;
  }
  if (const std::optional<int> burst = options_.faults.question_burst)
    return std::vector<uint8_t>(static_cast<size_t>(*burst), '?');
  if (address < flash_.size()) {
    const size_t n = std::min<size_t>(length, flash_.size() - address);
    std::copy_n(flash_.begin() + address, n, reply.begin());
  }
  if (options_.faults.stall_request == flash_requests_) reply.resize(length / 2);
  return reply;
}

void SimulatedCounter::StoreNetworkValue(int index, std::span<const uint8_t> value) {
  const ConfigField field = (*NetworkLayout(family_))[static_cast<size_t>(index)];
  // Family 5 keeps the period inside the legacy block; all values land in the live area.
  auto into = config_.begin() + field.address;
  std::fill_n(into, field.size, uint8_t{0});
  std::copy_n(value.begin(), std::min<size_t>(value.size(), field.size), into);
  std::copy_n(into, field.size, staged_.begin() + field.address);
}

LocalTime SimulatedCounter::DeviceTime() const {
  const int64_t gained = options_.faults.clock_drift
                             ? *options_.faults.clock_drift * int64_t{clock_.Now() - clock_set_at_} / 86400
                             : 0;
  return FromCivil(CivilSeconds(clock_.LocalNow()) + clock_offset_ + gained);
}

void SimulatedCounter::SetDeviceTime(const LocalTime& t) {
  clock_offset_ = CivilSeconds(t) - CivilSeconds(clock_.LocalNow());
  clock_set_at_ = clock_.Now();
}

void SimulatedCounter::Reply(std::vector<uint8_t> bytes, SimTime now) {
  if (bytes.empty()) return;
  const SimTime start = std::max(now + options_.reply_latency, line_free_);
  output_.push_back({start, std::move(bytes), 0, std::nullopt});
  line_free_ = options_.pace ? DueTime(output_.back(), output_.back().bytes.size()) : start;
}

SimTime SimulatedCounter::DueTime(const Chunk& chunk, size_t index) const {
  if (!options_.pace) return chunk.start;
  // 10 bits a byte; from the chunk's start, so rounding never adds up.
  return chunk.start + SimTime(static_cast<int64_t>(index) * 10'000'000'000 / baud());
}

std::vector<uint8_t> SimulatedCounter::TakeDue(SimTime now) {
  std::vector<uint8_t> due;
  while (!output_.empty()) {
    Chunk& chunk = output_.front();
    while (chunk.sent < chunk.bytes.size() && DueTime(chunk, chunk.sent) <= now) due.push_back(chunk.bytes[chunk.sent++]);
    if (chunk.sent < chunk.bytes.size()) break;
    if (chunk.counts && options_.counts_sent) options_.counts_sent(*chunk.counts);
    output_.pop_front();
  }
  return due;
}

std::optional<SimTime> SimulatedCounter::NextDue() const {
  if (output_.empty()) return std::nullopt;
  return DueTime(output_.front(), output_.front().sent);
}

}  // namespace norvane::sim
