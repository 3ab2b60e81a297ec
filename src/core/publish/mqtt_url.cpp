#include "core/publish/mqtt_url.h"
#include "core/i18n/language_dictionary.h"
#include "core/i18n/window_texts.h"

#include <charconv>

namespace norvane::publish {
namespace {

// User names and passwords may carry reserved characters percent-encoded.
std::optional<std::string> PercentDecode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    unsigned value = 0;
    if (i + 2 >= text.size()) return std::nullopt;
    const auto [end, ec] = std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
    if (ec != std::errc() || end != text.data() + i + 3) return std::nullopt;
    out += static_cast<char>(value);
    i += 2;
  }
  return out;
}

bool ValidTopicPrefix(std::string_view prefix) {
  if (prefix.empty() || prefix.front() == '/' || prefix.back() == '/') return false;
  for (const char c : prefix) {
    if (c == '+' || c == '#' || c == '\0') return false;
  }
  return prefix.find("//") == std::string_view::npos;
}

}  // namespace

std::string MqttTarget::Where() const { return host + ":" + std::to_string(port); }

std::string RedactMqttUrl(std::string_view url) {
  const size_t scheme = url.find("://");
  const size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
  // The last @ anywhere, not only before the path: a password with an unescaped / must not show
  // its end, even if a prefix with an @ in it loses some of its text in the message.
  const size_t at = url.rfind('@');
  if (at == std::string_view::npos || at < start) return std::string(url);
  const size_t colon = url.find(':', start);
  if (colon == std::string_view::npos || colon > at) return std::string(url);
  return std::string(url.substr(0, colon + 1)) + "****" + std::string(url.substr(at));
}

std::optional<MqttTarget> ParseMqttUrl(std::string_view url, std::string* error) {
  const auto fail = [&](const std::string& why) {
    if (error) *error = EnglishText(kTextMqttAddressUnusable, {RedactMqttUrl(url), why});
    return std::nullopt;
  };
  MqttTarget target;
  std::string_view rest;
  if (url.starts_with("mqtt://")) {
    rest = url.substr(7);
  } else if (url.starts_with("mqtts://")) {
    target.tls = true;
    target.port = 8883;
    rest = url.substr(8);
  } else {
    return fail(EnglishText(kTextMqttAddressScheme));
  }

  const size_t slash = rest.find('/');
  std::string_view authority = rest.substr(0, slash);
  std::string_view path = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
  if (path.find_first_of("?#") != std::string_view::npos) return fail(EnglishText(kTextMqttAddressQuery));

  if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
    const std::string_view login = authority.substr(0, at);
    authority = authority.substr(at + 1);
    const size_t colon = login.find(':');
    const auto user = PercentDecode(login.substr(0, colon));
    const auto password = colon == std::string_view::npos ? std::optional<std::string>("")
                                                          : PercentDecode(login.substr(colon + 1));
    if (!user || !password) return fail(EnglishText(kTextMqttAddressEscape));
    if (user->empty()) return fail(EnglishText(kTextMqttAddressNoUser));
    target.user = *user;
    target.password = *password;
  }

  std::string_view host = authority;
  if (authority.starts_with('[')) {
    const size_t close = authority.find(']');
    if (close == std::string_view::npos) return fail(EnglishText(kTextMqttAddressIpv6Open));
    host = authority.substr(1, close - 1);
    authority = authority.substr(close + 1);
    if (!authority.empty() && !authority.starts_with(':')) return fail(EnglishText(kTextMqttAddressIpv6Trail));
  } else {
    const size_t colon = authority.find(':');
    host = authority.substr(0, colon);
    authority = colon == std::string_view::npos ? std::string_view() : authority.substr(colon);
  }
  if (host.empty()) return fail(EnglishText(kTextMqttAddressNoHost));
  if (!authority.empty()) {
    const std::string_view digits = authority.substr(1);
    unsigned port = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || port == 0 || port > 65535)
      return fail(EnglishText(kTextMqttAddressPort));
    target.port = static_cast<uint16_t>(port);
  }
  target.host = std::string(host);

  target.prefix = path.empty() ? std::string(kDefaultTopicPrefix) : std::string(path);
  if (!ValidTopicPrefix(target.prefix))
    return fail(EnglishText(kTextMqttAddressPrefix));
  return target;
}

}  // namespace norvane::publish
