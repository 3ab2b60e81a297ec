// The history CSV: the whole history image as rows of per-second counts or per-minute values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/files/writer_options.h"
#include "core/history/record_stream.h"

namespace norvane {

// The two header lines, shared in their first line with the realtime CSV.
std::string CsvFirstLine(char separator);

// Turns HistoryWalk events into rows appended to `out`. Call Finish() after the walk so the last
// pending row is written too.
class HistoryCsvBuilder {
 public:
  HistoryCsvBuilder(ImageView image, const WriterOptions& options, std::string& out);

  void OnStamp(size_t offset, const StampTime& stamp, uint8_t save_type);
  void OnNote(size_t offset, std::string_view text);
  void OnSample(size_t offset, uint32_t value);
  void Finish();

  // The time the rows have reached: the walk's current stamp, which a damaged stamp only
  // partly replaces.
  StampTime& current_time() { return stamp_; }

 private:
  void StartRow(bool check_plausible);
  // Writes a row cut short, if one is pending; `advance` moves the time on to the next row.
  void ClosePending(bool advance);
  void WriteClosedSecondRow(bool advance);
  void AppendDose(uint64_t sum);
  bool FollowedByStamp(size_t offset) const;

  ImageView image_;
  const WriterOptions& options_;
  std::string& out_;
  const char sep_;
  StampTime stamp_;
  uint8_t type_ = kSaveNone;  // save type whose name the rows carry; 0 until a known one
  std::string head_;          // pending row up to and including "type name" and its separator
  std::string counts_;        // the rest of the pending row
  bool pending_ = false;
  uint32_t row_counter_ = 0;
  uint64_t row_sum_ = 0;
  std::vector<std::string> dose_cache_;  // dose-rate texts of small sums, made once
};

// Header and rows of a whole image.
std::string BuildHistoryCsv(ImageView image, const WriterOptions& options);

}  // namespace norvane
