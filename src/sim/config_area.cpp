#include "sim/config_area.h"

#include <bit>

namespace norvane::sim {
namespace {

struct CalibrationPoint {
  uint32_t cpm;
  float usv;
};
constexpr CalibrationPoint kPoints[6] = {{60, 0.39f}, {240, 1.56f}, {1000, 6.5f},
                                         {2000, 13.0f}, {4000, 26.0f}, {10000, 65.0f}};
constexpr uint32_t kCpmAlarm = 1000;
constexpr float kUsvAlarm = 5.0f;

class Writer {
 public:
  explicit Writer(std::vector<uint8_t>& area) : area_(area) {}
  void Byte(size_t at, uint8_t v) { area_[at] = v; }
  void Fill(size_t from, size_t to, uint8_t v) {  // [from, to]
    for (size_t i = from; i <= to; ++i) area_[i] = v;
  }
  void BigEndian(size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) area_[at + i] = static_cast<uint8_t>(v >> (8 * (bytes - 1 - i)));
  }
  void Float(size_t at, float v, bool most_significant_first = true) {
    const uint32_t bits = std::bit_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i)
      area_[at + i] = static_cast<uint8_t>(bits >> (most_significant_first ? 24 - 8 * i : 8 * i));
  }

 private:
  std::vector<uint8_t>& area_;
};

// Addresses 0-68 mean the same in both layouts.
void CommonFields(Writer& w, uint32_t history_end) {
  w.Fill(0, 68, 0);
  w.Byte(0, 1);   // power on
  w.Byte(1, 1);   // alarm on
  w.Byte(2, 1);   // speaker on
  w.Byte(4, 30);  // backlight timeout, seconds
  w.BigEndian(6, kCpmAlarm, 2);
  for (int p = 0; p < 3; ++p) {
    w.BigEndian(8 + 6 * p, kPoints[p].cpm, 2);
    w.Float(10 + 6 * p, kPoints[p].usv);
  }
  w.Float(27, kUsvAlarm);
  w.Byte(32, 1);  // save every second
  w.BigEndian(34, 1, 4);
  w.BigEndian(38, history_end, 3);
  w.Byte(48, 50);  // contrast
  w.Byte(53, 8);   // backlight level
  w.Byte(60, 1);   // LED on
}

void LegacyTail(Writer& w, int family) {
  w.Fill(69, 126, 0);
  w.Byte(69, 10);  // fast estimate time
  w.Byte(71, 5);   // alarm volume
  for (int p = 0; p < 6; ++p) {
    w.BigEndian(73 + 4 * p, kPoints[p].cpm, 4);
    // Only family 7 keeps these floats most significant byte first.
    w.Float(97 + 4 * p, kPoints[p].usv, family == 7);
  }
  if (family == 7) {
    w.Byte(121, 1);  // speaker
    w.Byte(123, 0);  // vibrate
    w.BigEndian(125, kCpmAlarm, 4);
  }
}

void ExtendedTail(Writer& w) {
  w.Fill(69, 437, 0);
  w.Byte(332, 0);  // tube select
  w.Byte(335, 0);  // dead time
  w.BigEndian(336, 0, 2);
  w.BigEndian(338, 0xFFFF, 2);
  w.BigEndian(340, 2000, 2);   // medium CPM
  w.BigEndian(342, 10000, 2);  // high CPM
  for (int p = 0; p < 6; ++p) {
    w.BigEndian(379 + 4 * p, kPoints[p].cpm, 4);
    w.Float(403 + 4 * p, kPoints[p].usv);
  }
  w.BigEndian(434, kCpmAlarm, 4);
}

}  // namespace

std::vector<uint8_t> DefaultConfigArea(int family, uint32_t history_end) {
  std::vector<uint8_t> area(kConfigAreaSize, 0xFF);
  Writer w(area);
  CommonFields(w, history_end);
  if (family >= 8) ExtendedTail(w);
  else LegacyTail(w, family);
  if (const auto layout = NetworkLayout(family)) {
    for (const ConfigField& f : *layout) w.Fill(f.address, f.address + f.size - 1, 0);
    w.Byte((*layout)[6].address, 5);  // post every 5 minutes
  }
  return area;
}

size_t ConfigReplySize(int family) { return family >= 8 ? 512 : 256; }

std::optional<std::array<ConfigField, 7>> NetworkLayout(int family) {
  using Fields = std::array<ConfigField, 7>;
  if (family == 5) return Fields{{{69, 16}, {85, 16}, {101, 25}, {126, 12}, {138, 12}, {150, 12}, {162, 1}}};
  if (family == 17) return Fields{{{68, 64}, {132, 64}, {196, 32}, {228, 32}, {260, 32}, {292, 32}, {66, 1}}};
  if (family >= 8) return Fields{{{69, 64}, {133, 64}, {197, 32}, {229, 32}, {261, 32}, {293, 32}, {325, 1}}};
  return std::nullopt;
}

}  // namespace norvane::sim
