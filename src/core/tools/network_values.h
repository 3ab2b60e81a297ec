// The seven network values of wireless counters: where they sit in the configuration block,
// who may read and write them, and the frames that write them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace norvane {

// In the order of their write frames.
enum class NetworkField : uint8_t { kSsid, kPassword, kWebsite, kUrl, kUserId, kCounterId, kPeriod };
inline constexpr size_t kNetworkFieldCount = 7;

// The Settings dialog's labels, letter for letter.
std::string_view NetworkFieldLabel(NetworkField field);

// The dialog's texts; the period is shown and typed as a decimal number.
struct NetworkValues {
  std::array<std::string, kNetworkFieldCount> text;
  std::string& operator[](NetworkField f) { return text[static_cast<size_t>(f)]; }
  const std::string& operator[](NetworkField f) const { return text[static_cast<size_t>(f)]; }
};

struct NetworkSpan {
  uint16_t first;  // address of the first byte
  uint16_t size;   // bytes; the period is one
};

// Where a read finds the values: family 5 in its legacy block, family 17 ("RadonMax") and the
// other families 8 and above in the extended one. Empty for counters without WiFi.
std::optional<std::array<NetworkSpan, kNetworkFieldCount>> NetworkLayoutFor(int family);

// The values as the block holds them: texts end at their first NUL or at the end of their
// field, the period byte becomes "%d". Empty when the family keeps none, or the block is too
// short to hold them.
std::optional<NetworkValues> ExtractNetworkValues(int family, std::span<const uint8_t> block);

// "Read From Device": firmware above 5.03, or a model known to have WiFi.
bool NetworkReadAllowed(int version, std::string_view model_text);
// "Write to Device": family 5 or above 7, or firmware above 5.03.
bool NetworkWriteAllowed(int family, int version);

// Longest text a field takes; the period's limit is that of its typed text.
size_t NetworkTextLimit(NetworkField field);

struct NetworkFrames {
  std::array<std::vector<uint8_t>, kNetworkFieldCount> frames;
  std::string refusal;  // names the field when a value cannot be sent; then no frame is built
};

// The seven frames, each checked against its text limit and the link's frame limit for the
// family before any is sent, so a refused value never leaves the counter half written. The
// period goes as one byte: its text read as a number, low 8 bits.
NetworkFrames BuildNetworkFrames(const NetworkValues& values, int family);

}  // namespace norvane
