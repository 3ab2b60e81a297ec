#include "core/tools/network_values.h"

#include <algorithm>
#include <cstdlib>

#include "core/common/text_format.h"
#include "core/i18n/language_dictionary.h"
#include "core/i18n/window_texts.h"
#include "core/protocol/command_catalogue.h"
#include "core/serial/serial_link.h"

namespace norvane {
namespace {

using Layout = std::array<NetworkSpan, kNetworkFieldCount>;

constexpr Layout kFamily5 = {{{69, 16}, {85, 16}, {101, 25}, {126, 12}, {138, 12}, {150, 12}, {162, 1}}};
constexpr Layout kRadonMax = {{{68, 64}, {132, 64}, {196, 32}, {228, 32}, {260, 32}, {292, 32}, {66, 1}}};
constexpr Layout kExtended = {{{69, 64}, {133, 64}, {197, 32}, {229, 32}, {261, 32}, {293, 32}, {325, 1}}};

constexpr int kRadonMaxFamily = 17;
constexpr int kWifiFirmware = 503;
constexpr size_t kLongTextLimit = 64;   // SSID and password
constexpr size_t kShortTextLimit = 31;  // the others

constexpr const CommandSpec* kCommands[kNetworkFieldCount] = {
    &commands::kSetSsid, &commands::kSetWifiPassword, &commands::kSetWebsite, &commands::kSetUrl,
    &commands::kSetUserId, &commands::kSetCounterId, &commands::kSetPeriod};

constexpr std::string_view kLabels[kNetworkFieldCount] = {
    "SSID:", "Password:", "Website:", "URL:", "User ID:", "ZQTmap's Geiger Counter or Radon Device ID:", "Period:"};

// For our own messages, which name the field the way a user would; the window translates the name too.
std::string FieldName(NetworkField f) { return EnglishText(kTextFieldSsid + static_cast<int>(f)); }

}  // namespace

std::string_view NetworkFieldLabel(NetworkField field) { return kLabels[static_cast<size_t>(field)]; }

std::optional<Layout> NetworkLayoutFor(int family) {
  if (family == 5) return kFamily5;
  if (family == kRadonMaxFamily) return kRadonMax;
  if (family >= 8) return kExtended;
  return std::nullopt;
}

std::optional<NetworkValues> ExtractNetworkValues(int family, std::span<const uint8_t> block) {
  const std::optional<Layout> layout = NetworkLayoutFor(family);
  if (!layout) return std::nullopt;
  for (const NetworkSpan& s : *layout)
    if (size_t{s.first} + s.size > block.size()) return std::nullopt;
  NetworkValues values;
  for (size_t i = 0; i < kNetworkFieldCount; ++i) {
    const NetworkSpan& s = (*layout)[i];
    const auto field = block.subspan(s.first, s.size);
    if (static_cast<NetworkField>(i) == NetworkField::kPeriod) {
      values.text[i] = Format("%d", field[0]);
      continue;
    }
    const auto end = std::find(field.begin(), field.end(), uint8_t{0});
    values.text[i].assign(field.begin(), end);
  }
  return values;
}

bool NetworkReadAllowed(int version, std::string_view model_text) {
  if (version > kWifiFirmware) return true;
  for (std::string_view name : {"ZQT-200", "ZQT-400", "ZQT-3020", "ZQT-3030", "ZQT-120+V5", "RadonMax"})
    if (model_text.find(name) != std::string_view::npos) return true;
  return false;
}

bool NetworkWriteAllowed(int family, int version) { return family == 5 || family > 7 || version > kWifiFirmware; }

size_t NetworkTextLimit(NetworkField field) {
  return field == NetworkField::kSsid || field == NetworkField::kPassword ? kLongTextLimit : kShortTextLimit;
}

NetworkFrames BuildNetworkFrames(const NetworkValues& values, int family) {
  NetworkFrames result;
  const size_t frame_limit = family >= 8 ? kLongFrameLimit : kShortFrameLimit;
  std::array<std::vector<uint8_t>, kNetworkFieldCount> frames;
  for (size_t i = 0; i < kNetworkFieldCount; ++i) {
    const auto field = static_cast<NetworkField>(i);
    const std::string& text = values.text[i];
    if (text.size() > NetworkTextLimit(field)) {
      result.refusal = EnglishText(kTextMsgFieldTooLong, {FieldName(field), std::to_string(NetworkTextLimit(field))});
      return result;
    }
    if (field == NetworkField::kPeriod) {
      // As the dialog reads a number: leading digits, 0 when there are none.
      const uint8_t period = static_cast<uint8_t>(std::strtol(text.c_str(), nullptr, 10) & 0xFF);
      frames[i] = BuildFrame(*kCommands[i], std::span(&period, 1));
      continue;
    }
    // The counter takes the first ">>" for the end of the frame; text holding one, or ending
    // in ">", would be cut short and the rest taken for a new command.
    if (text.find(">>") != std::string::npos || text.ends_with('>') || text.find('\0') != std::string::npos) {
      result.refusal = EnglishText(kTextMsgFieldBadCharacters, {FieldName(field)});
      return result;
    }
    frames[i] = BuildTextFrame(*kCommands[i], text);
    if (frames[i].size() > frame_limit) {
      const size_t room = frame_limit - (frames[i].size() - text.size());
      result.refusal = EnglishText(kTextMsgFieldTooLongForCounter, {FieldName(field), std::to_string(room)});
      return result;
    }
  }
  result.frames = std::move(frames);
  return result;
}

}  // namespace norvane
