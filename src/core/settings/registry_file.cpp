#include "core/settings/registry_file.h"

#include <algorithm>
#include <optional>

#include "core/common/text_format.h"

namespace norvane {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The key of a name in the indexes: registry names compare without regard to ASCII case.
std::string Folded(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = Lower(c);
  return out;
}

// After an element at `gone` left its vector, the places behind it move up by one.
void Forget(std::unordered_map<std::string, size_t>& index, const std::string& key, size_t gone) {
  index.erase(key);
  for (auto& [name, place] : index)
    if (place > gone) --place;
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// regedit saves UTF-16LE; the values we read are single-byte, so wider characters become '?'.
std::string Utf16ToSingleByte(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    auto low = static_cast<unsigned char>(bytes[i]);
    auto high = static_cast<unsigned char>(bytes[i + 1]);
    out.push_back(high == 0 ? static_cast<char>(low) : '?');
  }
  return out;
}

// Reads a quoted string at the start of `s` (which starts with '"'). Only \\ and \" are escapes;
// any other backslash is kept as written, so a hand-typed C:\dir still reads as meant.
bool ReadQuoted(std::string_view& s, std::string& out) {
  out.clear();
  for (size_t i = 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') {
      s.remove_prefix(i + 1);
      return true;
    }
    if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
      out.push_back(s[++i]);
      continue;
    }
    out.push_back(c);
  }
  return false;
}

bool ReadDword(std::string_view data, uint32_t& number) {
  constexpr std::string_view kPrefix = "dword:";
  if (data.size() < kPrefix.size() || !RegistryNamesEqual(data.substr(0, kPrefix.size()), kPrefix))
    return false;
  data = TrimRight(data.substr(kPrefix.size()));
  if (data.empty() || data.size() > 8) return false;
  uint32_t value = 0;
  for (char c : data) {
    char l = Lower(c);
    uint32_t digit;
    if (l >= '0' && l <= '9') {
      digit = static_cast<uint32_t>(l - '0');
    } else if (l >= 'a' && l <= 'f') {
      digit = static_cast<uint32_t>(l - 'a' + 10);
    } else {
      return false;
    }
    value = value << 4 | digit;
  }
  number = value;
  return true;
}

// Reads one value line (already left-trimmed). False when not even a name can be made out.
bool ReadValueLine(std::string_view line, RegistryValue& value) {
  value = RegistryValue{};
  value.raw = std::string(line);
  std::string_view rest = line;
  if (rest.front() == '@') {
    rest.remove_prefix(1);
  } else if (!ReadQuoted(rest, value.name)) {
    return false;
  }
  rest = TrimLeft(rest);
  if (rest.empty() || rest.front() != '=') return false;
  std::string_view data = TrimLeft(rest.substr(1));
  if (line.front() == '@') return true;  // the unnamed default value: kept, never read

  if (!data.empty() && data.front() == '"') {
    std::string text;
    if (ReadQuoted(data, text) && TrimLeft(data).empty()) {
      value.type = RegistryValueType::kSz;
      value.text = std::move(text);
    }
  } else if (ReadDword(data, value.number)) {
    value.type = RegistryValueType::kDword;
  }
  if (value.type != RegistryValueType::kOther) value.raw.clear();
  return true;
}

void AppendQuoted(std::string& out, std::string_view text) {
  out.push_back('"');
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

bool HasLineBreak(std::string_view s) { return s.find('\n') != std::string_view::npos; }

// regedit's UTF-16LE as single bytes, a UTF-8 mark dropped; `storage` holds a converted text.
std::string_view DecodedText(std::string_view bytes, std::string& storage) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    storage = Utf16ToSingleByte(bytes.substr(2));
    return storage;
  }
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return bytes;
}

}  // namespace

bool RegistryNamesEqual(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

bool IsStorableRegistryText(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

RegistryValue* RegistrySection::Find(std::string_view name) {
  const auto it = index_.find(Folded(name));
  return it == index_.end() ? nullptr : &values[it->second];
}

const RegistryValue* RegistrySection::Find(std::string_view name) const {
  return const_cast<RegistrySection*>(this)->Find(name);
}

void RegistrySection::Set(RegistryValue value) {
  const auto [it, added] = index_.try_emplace(Folded(value.name), values.size());
  if (added) {
    values.push_back(std::move(value));
  } else {
    values[it->second] = std::move(value);
  }
}

bool RegistrySection::Erase(std::string_view name) {
  const std::string key = Folded(name);
  const auto it = index_.find(key);
  if (it == index_.end()) return false;
  const size_t place = it->second;
  values.erase(values.begin() + static_cast<std::ptrdiff_t>(place));
  Forget(index_, key, place);
  return true;
}

RegistrySection* RegistryDocument::Find(std::string_view path) {
  const auto it = index_.find(Folded(path));
  return it == index_.end() ? nullptr : &sections[it->second];
}

const RegistrySection* RegistryDocument::Find(std::string_view path) const {
  return const_cast<RegistryDocument*>(this)->Find(path);
}

RegistrySection& RegistryDocument::FindOrAdd(std::string_view path) {
  const auto [it, added] = index_.try_emplace(Folded(path), sections.size());
  if (added) sections.emplace_back(std::string(path));
  return sections[it->second];
}

bool RegistryDocument::Erase(std::string_view path) {
  const std::string key = Folded(path);
  const auto it = index_.find(key);
  if (it == index_.end()) return false;
  const size_t place = it->second;
  sections.erase(sections.begin() + static_cast<std::ptrdiff_t>(place));
  Forget(index_, key, place);
  return true;
}

bool LooksLikeRegistryFile(std::string_view bytes) {
  std::string storage;
  std::string_view text = DecodedText(bytes, storage);
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = TrimRight(TrimLeft(text.substr(0, end)));
    while (!line.empty() && line.back() == '\r') line = TrimRight(line.substr(0, line.size() - 1));
    if (!line.empty()) {
      return RegistryNamesEqual(line, kHeader) || RegistryNamesEqual(line, "REGEDIT4") ||
             (line.size() >= 2 && line.front() == '[' && line.back() == ']');
    }
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return true;
}

RegistryDocument ParseRegistry(std::string_view bytes) {
  std::string decoded;
  bytes = DecodedText(bytes, decoded);

  std::vector<std::string_view> lines;
  while (!bytes.empty()) {
    size_t end = bytes.find('\n');
    std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
  }

  RegistryDocument document;
  // Index rather than pointer: FindOrAdd may move the sections. kNoSection until a header is read.
  constexpr size_t kNoSection = static_cast<size_t>(-1);
  size_t current = kNoSection;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = TrimLeft(lines[i]);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      std::string_view inner = TrimRight(line);
      current = kNoSection;  // a damaged header must not pour its values into the previous section
      if (inner.size() >= 2 && inner.back() == ']') {
        std::string_view path = inner.substr(1, inner.size() - 2);
        RegistrySection& section = document.FindOrAdd(path);
        current = static_cast<size_t>(&section - document.sections.data());
      }
      continue;
    }
    if (line.front() != '"' && line.front() != '@') continue;

    RegistryValue value;
    if (!ReadValueLine(line, value)) continue;
    if (value.type == RegistryValueType::kOther) {
      // Long hex data goes on over indented lines, each line but the last ending in a backslash.
      while (!value.raw.empty() && value.raw.back() == '\\' && i + 1 < lines.size() &&
             !lines[i + 1].empty() && IsBlank(lines[i + 1].front())) {
        value.raw.push_back('\n');
        value.raw.append(lines[++i]);
      }
    }
    if (current != kNoSection) document.sections[current].Set(std::move(value));
  }
  return document;
}

std::string SerializeRegistry(const RegistryDocument& document) {
  std::string out(kHeader);
  out += "\n\n";
  for (const RegistrySection& section : document.sections) {
    if (HasLineBreak(section.path)) continue;
    out += '[';
    out += section.path;
    out += "]\n";
    for (const RegistryValue& v : section.values) {
      if (HasLineBreak(v.name)) continue;
      switch (v.type) {
        case RegistryValueType::kDword:
          AppendQuoted(out, v.name);
          out += Format("=dword:%08x\n", static_cast<unsigned>(v.number));
          break;
        case RegistryValueType::kSz:
          if (HasLineBreak(v.text)) continue;
          AppendQuoted(out, v.name);
          out += '=';
          AppendQuoted(out, v.text);
          out += '\n';
          break;
        case RegistryValueType::kOther:
          out += v.raw;
          out += '\n';
          break;
      }
    }
    out += '\n';
  }
  return out;
}

}  // namespace norvane
