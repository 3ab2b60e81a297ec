#include "core/config/config_layout.h"

#include <array>
#include <vector>

namespace norvane {
namespace {

using F = EditorField;
using E = FieldEncoding;

// Tables are built once from small pieces; the pieces mirror the family rules one to one.
class Table {
 public:
  Table& Add(uint16_t address, uint16_t width, E encoding, F field, DecodeRule rule = DecodeRule::kAsStored) {
    entries_.push_back({address, width, encoding, field, rule});
    return *this;
  }
  Table& Byte(uint16_t address, F field) { return Add(address, 1, E::kByte, field); }
  // Six points: 32-bit CPM values from `cpm_at`, floats from `usv_at`, four bytes apart.
  Table& SixPoints(uint16_t cpm_at, uint16_t usv_at, E float_order) {
    for (int p = 0; p < kCalibrationPoints; ++p) Add(static_cast<uint16_t>(cpm_at + 4 * p), 4, E::kBig32, CalibrationCpm(p));
    for (int p = 0; p < kCalibrationPoints; ++p) Add(static_cast<uint16_t>(usv_at + 4 * p), 4, float_order, CalibrationUsv(p));
    return *this;
  }
  // Points 1-3 at 8-25: 16-bit CPM and a float, six bytes a point.
  Table& ThreePoints(E float_order) {
    for (int p = 0; p < 3; ++p) {
      Add(static_cast<uint16_t>(8 + 6 * p), 2, E::kBig16, CalibrationCpm(p));
      Add(static_cast<uint16_t>(10 + 6 * p), 4, float_order, CalibrationUsv(p));
    }
    return *this;
  }
  Table& Switches() { return Byte(1, F::kAlarm).Byte(2, F::kSpeaker).Byte(4, F::kBacklight).Byte(60, F::kLed); }
  Table& ExtendedTexts() {
    return Add(69, 64, E::kText, F::kSsid).Add(133, 64, E::kText, F::kPassword).Add(197, 32, E::kText, F::kWebsite)
        .Add(229, 32, E::kText, F::kUrl).Add(261, 32, E::kText, F::kUserId).Add(293, 32, E::kText, F::kCounterId)
        .Byte(325, F::kPeriod);
  }
  // The web site of family 5 spans 101-125. Reading only 16 of those bytes, as the old editor
  // did, cut a longer site to 16 characters on the next write of any other field.
  Table& Family5Texts() {
    return Add(69, 16, E::kText, F::kSsid).Add(85, 16, E::kText, F::kPassword).Add(101, 25, E::kText, F::kWebsite)
        .Add(126, 12, E::kText, F::kUrl).Add(138, 12, E::kText, F::kUserId).Add(150, 12, E::kText, F::kCounterId)
        .Byte(162, F::kPeriod);
  }
  Table& ExtendedTuning() {
    return Byte(332, F::kTubeSelect).Byte(335, F::kDeadTime).Add(336, 2, E::kBig16, F::kDeadTime1)
        .Add(338, 2, E::kBig16, F::kDeadTime2).Add(340, 2, E::kBig16, F::kMediumCpm)
        .Add(342, 2, E::kBig16, F::kHighCpm);
  }
  std::vector<LayoutEntry> entries_;
};

struct Layouts {
  std::vector<LayoutEntry> decode_extended, decode_family5, decode_3point, decode_family6, decode_family7;
  std::vector<LayoutEntry> encode_extended, encode_family5, encode_family7, encode_legacy;
};

Layouts Build() {
  Layouts l;
  {
    Table t;
    t.Switches().Add(434, 4, E::kBig32, F::kCpmAlarm).Add(27, 4, E::kFloatMsbFirst, F::kUsvAlarm)
        .Byte(32, F::kSaveType).Byte(33, F::kSwivel).ExtendedTexts()
        .Add(332, 1, E::kByte, F::kTubeSelect, DecodeRule::kAbove2IsZero).Byte(335, F::kDeadTime)
        .Add(336, 2, E::kBig16, F::kDeadTime1).Add(338, 2, E::kBig16, F::kDeadTime2, DecodeRule::kAllOnesIsZero)
        .Add(340, 2, E::kBig16, F::kMediumCpm).Add(342, 2, E::kBig16, F::kHighCpm)
        .SixPoints(379, 403, E::kFloatMsbFirst);
    l.decode_extended = t.entries_;
  }
  Table legacy_common;
  legacy_common.Switches().Add(6, 2, E::kBig16, F::kCpmAlarm).Add(27, 4, E::kFloatMsbFirst, F::kUsvAlarm)
      .Byte(32, F::kSaveType).Byte(33, F::kSwivel);
  {
    Table t = legacy_common;
    l.decode_3point = t.ThreePoints(E::kFloatMsbFirst).entries_;
  }
  {
    Table t;
    t.Family5Texts();
    t.entries_.insert(t.entries_.end(), l.decode_3point.begin(), l.decode_3point.end());
    l.decode_family5 = t.entries_;
  }
  {
    Table t = legacy_common;
    l.decode_family6 = t.SixPoints(73, 97, E::kFloatLsbFirst).entries_;
  }
  {
    Table t = legacy_common;
    t.Add(125, 4, E::kBig32, F::kCpmAlarm).SixPoints(73, 97, E::kFloatMsbFirst)
        .Byte(121, F::kSpeaker).Byte(123, F::kVibrate).Byte(53, F::kBacklightLevel);
    l.decode_family7 = t.entries_;
  }
  {
    Table t;
    t.Switches().Add(434, 4, E::kBig32, F::kCpmAlarm).Add(27, 4, E::kFloatMsbFirst, F::kUsvAlarm)
        .ThreePoints(E::kFloatMsbFirst).SixPoints(379, 403, E::kFloatMsbFirst)
        .Byte(32, F::kSaveType).Byte(33, F::kSwivel).ExtendedTexts().ExtendedTuning();
    l.encode_extended = t.entries_;
  }
  {
    Table t;
    t.Switches().Add(6, 2, E::kBig16, F::kCpmAlarm).Add(27, 4, E::kFloatMsbFirst, F::kUsvAlarm)
        .ThreePoints(E::kFloatMsbFirst).Byte(32, F::kSaveType).Byte(33, F::kSwivel).Family5Texts();
    l.encode_family5 = t.entries_;
  }
  {
    // The uSv/h alarm is left out: this family reads it most significant byte first, the old
    // editor wrote it back the other way round although the field cannot be edited here. Its
    // bytes now go back to the counter as they were read.
    Table t;
    t.Byte(53, F::kBacklightLevel).Byte(123, F::kVibrate).Byte(1, F::kAlarm).Byte(121, F::kSpeaker)
        .Byte(4, F::kBacklight).Byte(60, F::kLed).Add(125, 4, E::kBig32, F::kCpmAlarm)
        .ThreePoints(E::kFloatLsbFirst).SixPoints(73, 97, E::kFloatMsbFirst)
        .Byte(32, F::kSaveType).Byte(33, F::kSwivel);
    l.encode_family7 = t.entries_;
  }
  {
    Table t;
    t.Switches().Add(6, 2, E::kBig16, F::kCpmAlarm).Add(27, 4, E::kFloatMsbFirst, F::kUsvAlarm)
        .ThreePoints(E::kFloatMsbFirst).SixPoints(73, 97, E::kFloatLsbFirst)
        .Byte(32, F::kSaveType).Byte(33, F::kSwivel);
    l.encode_legacy = t.entries_;
  }
  return l;
}

const Layouts& AllLayouts() {
  static const Layouts layouts = Build();
  return layouts;
}

}  // namespace

std::span<const LayoutEntry> DecodeLayout(int family) {
  const Layouts& l = AllLayouts();
  if (family >= 8) return l.decode_extended;
  if (family == 7) return l.decode_family7;
  if (family == 6) return l.decode_family6;
  if (family == 5) return l.decode_family5;
  return l.decode_3point;
}

std::span<const LayoutEntry> EncodeLayout(int family) {
  const Layouts& l = AllLayouts();
  if (family >= 8) return l.encode_extended;
  if (family == 7) return l.encode_family7;
  if (family == 5) return l.encode_family5;
  return l.encode_legacy;
}

std::optional<LayoutEntry> StoredAt(int family, EditorField field) {
  std::optional<LayoutEntry> found;
  for (const LayoutEntry& e : EncodeLayout(family))
    if (e.field == field) found = e;  // the last one names the field's own place
  return found;
}

bool WrittenToCounter(int family, EditorField field) {
  const std::optional<LayoutEntry> e = StoredAt(family, field);
  return e && (family >= 7 || e->address + e->width <= 127);
}

size_t TextLimit(int family, EditorField field) {
  const std::optional<LayoutEntry> e = StoredAt(family, field);
  return e && e->encoding == FieldEncoding::kText ? e->width : 0;
}

}  // namespace norvane
