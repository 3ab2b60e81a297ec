#include "core/net/map_urls.h"

#include "core/common/text_format.h"

namespace norvane {
namespace {

std::string ServerBase(std::string_view server) {
  std::string base(server.empty() ? std::string_view(kDefaultMapServer) : server);
  if (base.empty() || base.back() != '/') base += '/';
  return base;
}

}  // namespace

std::string PercentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    const bool plain = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-' ||
                       u == '.' || u == '_' || u == '~';
    if (plain) {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0x0F];
    }
  }
  return out;
}

std::string SubmissionUrl(std::string_view server, std::string_view account_id, std::string_view counter_id,
                          uint32_t cpm, float acpm, float usv) {
  return ServerBase(server) + "log2.asp?AID=" + PercentEncode(account_id) + "&GID=" + PercentEncode(counter_id) +
         "&CPM=" + Format("%u", static_cast<unsigned>(cpm)) + "&ACPM=" + FormatFixed(acpm, 2) +
         "&uSV=" + FormatFixed(usv, 6) + "&type=VWR" + FormatFixed(kViewerVersion, 2);
}

std::string VerificationUrl(std::string_view server, std::string_view account_id, std::string_view counter_id) {
  return ServerBase(server) + "testlog.asp?id=" + PercentEncode(account_id) + "+" + PercentEncode(counter_id) +
         "+0+0+0";
}

}  // namespace norvane
