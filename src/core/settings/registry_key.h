// One registry key of the current user, kept in a .reg file instead of the Windows registry.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/settings/registry_file.h"

namespace norvane {

// Sub-key names are relative to HKEY_CURRENT_USER (e.g. "Software\\Norvane Data Viewer\\Settings")
// and each one is a section of the file. Opening reads the file; reads answer from what was read
// then. Every write reads the file again, changes it and replaces it whole, so two key objects on
// the same file (the settings and the language dictionary) never undo each other's writes.
// Not thread-safe: one user-interface thread only.
class RegistryKey {
 public:
  explicit RegistryKey(std::filesystem::path file);

  // Opens an existing key: the file must exist and hold the section (or one below it).
  // OpenNamed also remembers the name, whether or not the open succeeds.
  bool OpenNamed(std::string_view sub_key);
  bool Open(std::string_view sub_key);
  // Opens the key, first adding its section (and the file, and the file's folders) if missing.
  // Fails, touching nothing, when the file exists but cannot be read or is no registry export:
  // a file that is not ours is never replaced.
  bool Create(std::string_view sub_key);
  void Close();
  bool IsOpen() const { return open_; }
  const std::string& SubKeyName() const { return sub_key_name_; }
  const std::filesystem::path& FilePath() const { return file_; }
  // Why the file cannot serve as the store ("not a regular file", "does not read as a settings
  // file", ...); empty when it can or does not exist yet.
  std::string FileProblem() const;

  // Reads succeed only for a value of the matching type; on failure the target is unchanged.
  bool ReadNumber(std::string_view name, uint32_t& value) const;
  bool ReadText(std::string_view name, std::string& text) const;
  // Names must be non-empty; names and texts must not hold CR, LF or NUL.
  bool WriteNumber(std::string_view name, uint32_t value);
  bool WriteText(std::string_view name, std::string_view text);
  bool DeleteValue(std::string_view name);
  // Deletes a key directly below the open one, with its values. Like the registry, refuses a key
  // that still has keys below it.
  bool DeleteSubKey(std::string_view sub_key);

 private:
  enum class FileState { kRead, kMissing, kUnreadable, kForeign };
  FileState ReadFile(RegistryDocument& document, std::string* problem = nullptr) const;
  bool WriteFile(const RegistryDocument& document);
  const RegistryValue* FindValue(std::string_view name) const;
  // Runs `change` on the open key's section of a freshly read document and writes it back.
  template <typename Change>
  bool Modify(Change change);

  std::filesystem::path file_;
  std::string sub_key_name_;  // kept for reference only
  bool open_ = false;
  std::string section_path_;  // full path of the open key, HKEY_CURRENT_USER\…
  RegistryDocument snapshot_;
};

}  // namespace norvane
