#include "sim/history_generator.h"

#include <algorithm>
#include <random>
#include <string_view>

#include "core/history/record_stream.h"

namespace norvane::sim {
namespace {

class HistoryWriter {
 public:
  HistoryWriter(std::vector<uint8_t>& image, size_t limit, size_t start = 0)
      : image_(image), limit_(limit), pos_(start) {}
  size_t position() const { return pos_; }

  bool Room(size_t bytes) const { return pos_ + bytes <= limit_; }

  void Stamp(const StampTime& t, uint8_t save_type) {
    Put({kMarker0, kMarker1, kCodeStamp, t.year, t.month, t.day, t.hour, t.minute, t.second, kMarker0, kMarker1,
         save_type});
  }
  void Note(std::string_view text) {
    Put({kMarker0, kMarker1, kCodeNote, static_cast<uint8_t>(text.size())});
    for (char c : text) Put({static_cast<uint8_t>(c)});
  }
  void ModeMark() { Put({kMarker0, kMarker1, kCodeModeMark}); }
  void Value(uint32_t value) {
    // Single bytes up to 254; 255 is erased flash. The counter writes wider records above that.
    if (value < 255) {
      Put({static_cast<uint8_t>(value)});
    } else if (value <= 0xFFFF) {
      Put({kMarker0, kMarker1, kCodeValue2, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
    } else {
      Put({kMarker0, kMarker1, kCodeValue3, static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
           static_cast<uint8_t>(value)});
    }
  }

 private:
  void Put(std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) image_[pos_++] = b;
  }

  std::vector<uint8_t>& image_;
  size_t limit_;
  size_t pos_;
};

}  // namespace

std::vector<uint8_t> GenerateHistory(const HistoryOptions& options) {
  std::vector<uint8_t> image(options.image_size, 0xFF);
  const size_t limit = static_cast<size_t>(options.image_size * std::clamp(options.filled_fraction, 0.0, 1.0));
  HistoryWriter out(image, limit);
  std::mt19937 rng(options.seed);
  auto chance = [&](double p) { return std::bernoulli_distribution(p)(rng); };
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };

  StampTime clock{static_cast<uint8_t>(uniform(20, 26)), static_cast<uint8_t>(uniform(1, 12)),
                  static_cast<uint8_t>(uniform(1, 28)), static_cast<uint8_t>(uniform(0, 23)), 0, 0};
  if (options.start) clock = *options.start;
  const uint64_t day_limit = uint64_t{options.days} * 86400;
  uint64_t elapsed = 0;  // seconds of log time since the first stamp
  static constexpr std::string_view kNotes[] = {"Basement", "Kitchen", "Flight LH454", "Granite tiles",
                                                "Garden soil", "Car, window open"};
  for (;;) {
    if (day_limit && elapsed >= day_limit) break;
    const bool per_minute = chance(0.3);
    const bool threshold = chance(0.1);
    const uint8_t save_type = per_minute ? (threshold ? kThresholdMinute : kEveryMinute)
                                         : (threshold ? kThresholdSecond : kEverySecond);
    const int samples = uniform(60, per_minute ? 1440 : 7200);
    if (!out.Room(kStampLength + 4 + kMaxNoteLength + 3)) break;
    out.Stamp(clock, save_type);
    if (chance(0.2)) out.Note(kNotes[uniform(0, std::size(kNotes) - 1)]);
    if (threshold && chance(0.5)) out.ModeMark();

    const double mean = per_minute ? options.mean_cps * 60 : options.mean_cps;
    for (int i = 0; i < samples; ++i) {
      // A rare hot spot: a source held near the tube for a while.
      const double level = chance(0.001) ? mean * uniform(50, 2000) : mean;
      const uint32_t value = std::poisson_distribution<uint32_t>(level)(rng);
      if (!out.Room(6)) break;
      out.Value(value);
      AdvanceStamp(clock, per_minute ? StampUnit::kMinute : StampUnit::kSecond);
      elapsed += per_minute ? 60 : 1;
    }
    // The counter was off for a while before the next session.
    const int gap = uniform(1, 600);
    for (int g = 0; g < gap; ++g) AdvanceStamp(clock, StampUnit::kMinute);
    elapsed += 60 * static_cast<uint64_t>(gap);
  }
  return image;
}

bool AppendSample(std::vector<uint8_t>& flash, uint32_t& end, uint32_t value) {
  HistoryWriter out(flash, flash.size(), end);
  if (!out.Room(6)) return false;
  out.Value(value);
  end = static_cast<uint32_t>(out.position());
  return true;
}

}  // namespace norvane::sim
