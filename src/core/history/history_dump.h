// The raw history image of the selected counter model, decoded on demand.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "core/history/record_stream.h"
#include "core/protocol/model_table.h"

namespace norvane {

class HistoryDump {
 public:
  // Room after the history for the configuration block a download appends (512 bytes on the
  // extended layout, so 256 would not do for every family).
  static constexpr size_t kConfigRoom = 512;

  HistoryDump();

  // Chooses the model by its list text: sets family and image size, and reallocates the buffer
  // as erased flash.
  void SelectModel(std::string_view model_text);

  ModelInfo model() const { return model_; }
  uint32_t image_size() const { return model_.image_size; }

  // The history followed by the configuration room.
  std::span<uint8_t> buffer() { return buffer_; }
  std::span<const uint8_t> buffer() const { return buffer_; }
  ImageView image() const { return {buffer_.data(), model_.image_size}; }

  void Fill(uint8_t byte);
  // Copies the first min(bytes, image size) bytes in; the rest of the image reads as erased.
  // Returns how many bytes were taken.
  size_t LoadImage(std::span<const uint8_t> bytes);

 private:
  ModelInfo model_ = kDefaultModel;
  std::vector<uint8_t> buffer_;
};

}  // namespace norvane
