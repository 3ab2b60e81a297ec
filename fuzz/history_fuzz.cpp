// Feeds arbitrary bytes to every history decoder at arbitrary positions.
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/history/data_set.h"

namespace {

struct CheckingSink final : norvane::HistoryEventSink {
  explicit CheckingSink(size_t length) : length(length) {}
  void OnStamp(size_t offset, const norvane::StampTime&, uint8_t) override { Check(offset); }
  void OnNote(size_t offset, std::string_view text) override {
    Check(offset);
    if (text.size() > norvane::kMaxNoteLength) __builtin_trap();
  }
  void OnSample(size_t offset, uint32_t value) override {
    Check(offset);
    if (value == norvane::kNoData) __builtin_trap();  // erased flash is never a sample
  }
  // Events come in image order and from inside the image.
  void Check(size_t offset) {
    if (offset >= length || (seen && offset <= last)) __builtin_trap();
    last = offset;
    seen = true;
  }
  size_t length;
  size_t last = 0;
  bool seen = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace norvane;
  if (size < 4) return 0;
  // The first four bytes pick a position; the rest is the image, copied to a buffer of exactly
  // its size so that any read past the end is caught.
  uint32_t seed;
  std::memcpy(&seed, data, 4);
  const std::vector<uint8_t> image(data + 4, data + size);
  const ImageView view(image.data(), image.size());

  CheckingSink sink(image.size());
  HistoryWalk(image.data(), image.size(), sink);

  const size_t span = image.size() + 64;
  const size_t start = seed % span;
  for (size_t pos = start; pos < start + 32; ++pos) {
    const Sample s = NextSample(view, pos);
    if (s.next <= pos) __builtin_trap();
    if (FindSaveType(view, pos) != kUnknownSaveType && pos == 0) __builtin_trap();
    if (ClassifyStamp(view, pos) > 3) __builtin_trap();
  }

  HistoryWindow window;
  FillWindow(view, start, window);
  uint64_t sum = 0;
  for (uint32_t v : window.values)
    if (v != kNoData && v != kNoDataWide) sum += v;
  if (static_cast<uint32_t>(sum) != window.sum) __builtin_trap();
  WindowReadout readout;
  WindowRateText(view, window, kDefaultConversionTable, (seed & 1) != 0, readout);
  FillWindowFromStart(view, window);
  uint8_t longer[200];
  FillSamples(view, start, longer);
  TimeIndex index;
  BuildTimeIndex(view, index);
  StampTime t{static_cast<uint8_t>(seed), static_cast<uint8_t>(seed >> 8), static_cast<uint8_t>(seed >> 16),
              static_cast<uint8_t>(seed >> 24), 0, 0};
  AdvanceStamp(t, (seed & 2) ? StampUnit::kSecond : StampUnit::kMinute);
  return 0;
}
