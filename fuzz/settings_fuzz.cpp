// Feeds arbitrary bytes to the settings file reader and checks that a rewrite reads back the same.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/settings/registry_file.h"

namespace {

bool SameReadableValue(const norvane::RegistryValue& a, const norvane::RegistryValue& b) {
  if (a.type != b.type || a.name != b.name) return false;
  if (a.type == norvane::RegistryValueType::kDword) return a.number == b.number;
  return a.text == b.text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using norvane::RegistryValueType;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  norvane::RegistryDocument first = norvane::ParseRegistry(bytes);
  norvane::RegistryDocument second = norvane::ParseRegistry(norvane::SerializeRegistry(first));

  size_t readable_first = 0;
  for (const norvane::RegistrySection& section : first.sections) {
    const norvane::RegistrySection* again = second.Find(section.path);
    if (!again) __builtin_trap();
    for (const norvane::RegistryValue& value : section.values) {
      if (value.type == RegistryValueType::kOther) continue;
      ++readable_first;
      const norvane::RegistryValue* copy = again->Find(value.name);
      if (!copy || !SameReadableValue(value, *copy)) __builtin_trap();
    }
  }
  // Nothing readable may appear that was not there before.
  size_t readable_second = 0;
  for (const norvane::RegistrySection& section : second.sections)
    for (const norvane::RegistryValue& value : section.values)
      if (value.type != RegistryValueType::kOther) ++readable_second;
  if (readable_second != readable_first) __builtin_trap();
  return 0;
}
