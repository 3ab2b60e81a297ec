// Where the editor's values sit in the configuration block, family by family, as tables.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace norvane {

// Every working value of the editor. Integers first, then the single-precision values, then the
// texts, so a value's kind follows from its place.
enum class EditorField : uint8_t {
  kAlarm, kSpeaker, kBacklight, kBacklightLevel, kSwivel, kVibrate, kLed, kSaveType,
  kCpmAlarm, kPeriod, kTubeSelect, kDeadTime, kDeadTime1, kDeadTime2, kMediumCpm, kHighCpm,
  kCal1Cpm, kCal2Cpm, kCal3Cpm, kCal4Cpm, kCal5Cpm, kCal6Cpm,
  kUsvAlarm, kCal1Usv, kCal2Usv, kCal3Usv, kCal4Usv, kCal5Usv, kCal6Usv,
  kSsid, kPassword, kWebsite, kUrl, kUserId, kCounterId,
};

inline constexpr size_t kEditorFieldCount = static_cast<size_t>(EditorField::kCounterId) + 1;
inline constexpr size_t kFirstFloatField = static_cast<size_t>(EditorField::kUsvAlarm);
inline constexpr size_t kFirstTextField = static_cast<size_t>(EditorField::kSsid);
inline constexpr size_t kIntegerFieldCount = kFirstFloatField;
inline constexpr size_t kFloatFieldCount = kFirstTextField - kFirstFloatField;
inline constexpr size_t kTextFieldCount = kEditorFieldCount - kFirstTextField;
inline constexpr int kCalibrationPoints = 6;

inline constexpr size_t Index(EditorField f) { return static_cast<size_t>(f); }
inline constexpr bool IsFloatField(EditorField f) { return Index(f) >= kFirstFloatField && Index(f) < kFirstTextField; }
inline constexpr bool IsTextField(EditorField f) { return Index(f) >= kFirstTextField; }
// Calibration point p (0-5).
inline constexpr EditorField CalibrationCpm(int p) { return static_cast<EditorField>(Index(EditorField::kCal1Cpm) + p); }
inline constexpr EditorField CalibrationUsv(int p) { return static_cast<EditorField>(Index(EditorField::kCal1Usv) + p); }

enum class FieldEncoding : uint8_t {
  kByte,           // low 8 bits
  kBig16,          // low 16 bits, most significant byte first
  kBig32,          // most significant byte first
  kFloatMsbFirst,  // IEEE-754 single precision
  kFloatLsbFirst,
  kText,           // raw bytes, NUL-ended when shorter than the field
};

// How a decoded value is shown, where the counter uses a value for "not set".
enum class DecodeRule : uint8_t {
  kAsStored,
  kAbove2IsZero,   // tube select
  kAllOnesIsZero,  // dead time #2
};

struct LayoutEntry {
  uint16_t address;
  uint16_t width;  // bytes
  FieldEncoding encoding;
  EditorField field;
  DecodeRule rule = DecodeRule::kAsStored;
};

// Entries in the order they apply: a later entry for the same field replaces an earlier one.
std::span<const LayoutEntry> DecodeLayout(int family);
std::span<const LayoutEntry> EncodeLayout(int family);

// The encode entry that stores `field` for this family; empty when the family does not store it.
std::optional<LayoutEntry> StoredAt(int family, EditorField field);

// Families 0-6 write only addresses 0-126 back to the counter: a field stored beyond them (the
// family-5 URL, user ID, counter ID and period) is kept in files but never reaches the counter.
bool WrittenToCounter(int family, EditorField field);

// Longest text a text field takes: the width its encode writes. 0 for families without it.
size_t TextLimit(int family, EditorField field);

}  // namespace norvane
