// The settings file: reading and writing the Windows registry export (.reg) text format.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace norvane {

enum class RegistryValueType {
  kDword,  // "Name"=dword:0000001f
  kSz,     // "Name"="text"
  kOther,  // anything else we can name (hex:, hex(2):, "Name"=-, @=…): kept, never read
};

struct RegistryValue {
  std::string name;  // as written in the file; matched without regard to case. Empty for @=.
  RegistryValueType type = RegistryValueType::kOther;
  uint32_t number = 0;  // kDword
  std::string text;     // kSz, unescaped
  std::string raw;      // kOther: the line(s) exactly as read, written back unchanged
};

// Values are found through an index by name: a file may hold many thousands, and a linear
// search for each of them would make reading it quadratic.
struct RegistrySection {
  explicit RegistrySection(std::string section_path = {}) : path(std::move(section_path)) {}

  std::string path;  // the text between the brackets, e.g. HKEY_CURRENT_USER\Software\…
  std::vector<RegistryValue> values;  // in file order; changed only through Set and Erase

  RegistryValue* Find(std::string_view name);
  const RegistryValue* Find(std::string_view name) const;
  // Replaces a value of the same name (keeping its place and the spelling of the new one) or
  // appends it.
  void Set(RegistryValue value);
  bool Erase(std::string_view name);

 private:
  std::unordered_map<std::string, size_t> index_;  // name in lower case -> place in values
};

struct RegistryDocument {
  std::vector<RegistrySection> sections;  // in file order; changed only through FindOrAdd and Erase

  RegistrySection* Find(std::string_view path);
  const RegistrySection* Find(std::string_view path) const;
  RegistrySection& FindOrAdd(std::string_view path);
  bool Erase(std::string_view path);

 private:
  std::unordered_map<std::string, size_t> index_;  // path in lower case -> place in sections
};

// Registry names (keys and values) compare without regard to ASCII case.
bool RegistryNamesEqual(std::string_view a, std::string_view b);

// What a text value or a name may hold: the file is line based and has no escape for line breaks,
// and a zero would end the text in the registry.
bool IsStorableRegistryText(std::string_view text);

// Whether bytes read from a settings file are a registry export at all: blank, or starting with
// the header or a section line. Anything else (binary junk, some other file) must not be
// replaced by a rewrite.
bool LooksLikeRegistryFile(std::string_view bytes);

// Never fails: a missing or garbled header, damaged lines, binary junk and values outside any
// section are skipped; everything readable is kept. Lines may end in LF or CRLF; a UTF-16LE file
// (as regedit saves) is read as single-byte text. Repeated sections merge and a repeated value
// name keeps the last value, as an import into the registry would.
RegistryDocument ParseRegistry(std::string_view bytes);

// The header line, then each section followed by a blank line. A section, name or text holding a
// line break cannot be written in this format and is left out rather than corrupting the file.
std::string SerializeRegistry(const RegistryDocument& document);

}  // namespace norvane
