// Feeds arbitrary bytes to the language dictionary parser and checks what it can never produce.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/i18n/language_dictionary.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// Every CR or LF in a text comes from a resolved escape, so it is part of a CR LF pair.
bool OnlyPairedLineBreaks(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')) return false;
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
  }
  return true;
}

// Texts are UTF-8 made from single-byte Latin-1, so the line limit bounds characters, not bytes.
size_t Characters(std::string_view utf8) {
  size_t n = 0;
  for (const char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const norvane::ParsedDictionary parsed = norvane::ParseDictionary(bytes);

  // Each text line takes at least 6 input bytes ("0000=\"") and gives up at least 6 of them.
  Check(parsed.texts.size() <= size / 6);
  for (const std::string& text : parsed.texts) {
    Check(Characters(text) + 8 <= norvane::kMaxDictionaryLineLength);
    Check(OnlyPairedLineBreaks(text));
  }
  Check(Characters(parsed.header.name) < norvane::kMaxDictionaryLineLength);
  Check(parsed.header.display_mode.size() <= 1);
  Check(parsed.header.index >= 0 && parsed.header.index <= 9);
  for (char c : parsed.header.name) Check(c != '\r' && c != '\n');

  // Parsing is a pure function of the bytes.
  const norvane::ParsedDictionary again = norvane::ParseDictionary(bytes);
  Check(again.texts == parsed.texts && again.header.name == parsed.header.name &&
        again.header.display_mode == parsed.header.display_mode && again.header.index == parsed.header.index);
  return 0;
}
