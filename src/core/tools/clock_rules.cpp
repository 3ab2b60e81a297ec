#include "core/tools/clock_rules.h"

#include <chrono>

#include "core/common/text_format.h"
#include "core/protocol/command_catalogue.h"

namespace norvane {
namespace {

// Seconds of a wall-clock time counted as if it were UTC: only differences of two are used.
int64_t WallSeconds(int year, int month, int day, int hour, int minute, int second) {
  using namespace std::chrono;
  const sys_days date = std::chrono::year{year} / std::chrono::month{static_cast<unsigned>(month)} /
                        std::chrono::day{static_cast<unsigned>(day)};
  return int64_t{date.time_since_epoch().count()} * 86400 + hour * 3600 + minute * 60 + second;
}

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// Firmware from this version on takes the single frame whatever the family.
constexpr int kSingleFrameVersion = 239;
// Older firmware of the small counters sets the clock field by field from this version on.
constexpr int kPerFieldVersion = 223;

bool SingleFrameCounter(int family, int version) { return family >= 4 || version >= kSingleFrameVersion; }

}  // namespace

ClockVariant ClockVariantFor(int family, int version) {
  if (SingleFrameCounter(family, version)) return ClockVariant::kSingleFrame;
  if (version >= kPerFieldVersion) return ClockVariant::kPerField;
  return ClockVariant::kNone;
}

bool GetClockOffered(std::string_view model_text) { return !Contains(model_text, "Radon"); }

bool GetClockAllowed(int version, std::string_view model_text) {
  return version > kPerFieldVersion || Contains(model_text, "ZQT-200") || Contains(model_text, "ZQT-400");
}

bool GetClockRequestAllowed(int family, int version) { return SingleFrameCounter(family, version); }

std::array<uint8_t, 6> ClockBytes(const LocalTime& t) {
  return {static_cast<uint8_t>(t.year - 2000), static_cast<uint8_t>(t.month),  static_cast<uint8_t>(t.day),
          static_cast<uint8_t>(t.hour),        static_cast<uint8_t>(t.minute), static_cast<uint8_t>(t.second)};
}

std::vector<uint8_t> SingleClockFrame(const LocalTime& t) {
  const std::array<uint8_t, 6> bytes = ClockBytes(t);
  return BuildFrame(commands::kSetDateTime, bytes);
}

std::array<std::vector<uint8_t>, 6> PerFieldClockFrames(const LocalTime& t) {
  const std::array<uint8_t, 6> bytes = ClockBytes(t);
  const CommandSpec* order[] = {&commands::kSetDateYY, &commands::kSetDateMM, &commands::kSetDateDD,
                                &commands::kSetTimeHH, &commands::kSetTimeMM, &commands::kSetTimeSS};
  std::array<std::vector<uint8_t>, 6> frames;
  for (size_t i = 0; i < frames.size(); ++i) frames[i] = BuildFrame(*order[i], std::span(&bytes[i], 1));
  return frames;
}

std::string ClockText(const std::array<uint8_t, 6>& b) {
  return Format("20%02d-%02d-%02d %02d:%02d:%02d", b[0], b[1], b[2], b[3], b[4], b[5]);
}

bool PeriodicClockSyncDue(int family, int version, uint32_t auto_sync_period, bool retry_pending,
                          uint64_t elapsed_seconds) {
  if (!SingleFrameCounter(family, version) || auto_sync_period == 0 || elapsed_seconds == 0) return false;
  const uint64_t unit = retry_pending ? kSyncRetryUnitSeconds : kSyncUnitSeconds;
  return elapsed_seconds % (uint64_t{auto_sync_period} * unit) == 0;
}

int64_t ClockOffset(const std::array<uint8_t, 6>& bytes, const LocalTime& computer) {
  return WallSeconds(2000 + bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5]) -
         WallSeconds(computer.year, computer.month, computer.day, computer.hour, computer.minute, computer.second);
}

}  // namespace norvane
