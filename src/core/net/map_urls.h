// The web map's submission and verification addresses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace norvane {

inline constexpr char kDefaultMapServer[] = "http://www.zqtmap.com/";
// Posted as "type=VWR2.75" so the service knows which program logged.
inline constexpr double kViewerVersion = 2.75;

// Letters, digits and "-._~" stay as they are; every other byte becomes %XX, so an ID holding
// "&", "=", "#" or a space cannot add or break query keys.
std::string PercentEncode(std::string_view text);

// "<server>log2.asp?AID=…&GID=…&CPM=%d&ACPM=%.2f&uSV=%f&type=VWR2.75". A server address without
// its closing "/" gets one.
std::string SubmissionUrl(std::string_view server, std::string_view account_id, std::string_view counter_id,
                          uint32_t cpm, float acpm, float usv);

// "<server>testlog.asp?id=<account>+<counter>+0+0+0".
std::string VerificationUrl(std::string_view server, std::string_view account_id, std::string_view counter_id);

}  // namespace norvane
