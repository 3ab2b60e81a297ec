#include "core/history/history_dump.h"

#include <algorithm>

namespace norvane {

HistoryDump::HistoryDump() : buffer_(kDefaultModel.image_size + kConfigRoom, 0xFF) {}

void HistoryDump::SelectModel(std::string_view model_text) {
  model_ = ModelForName(model_text);
  buffer_.assign(model_.image_size + kConfigRoom, 0xFF);
}

void HistoryDump::Fill(uint8_t byte) { std::fill(buffer_.begin(), buffer_.end(), byte); }

size_t HistoryDump::LoadImage(std::span<const uint8_t> bytes) {
  const size_t taken = std::min<size_t>(bytes.size(), model_.image_size);
  std::copy_n(bytes.begin(), taken, buffer_.begin());
  std::fill(buffer_.begin() + static_cast<std::ptrdiff_t>(taken), buffer_.end(), 0xFF);
  return taken;
}

}  // namespace norvane
