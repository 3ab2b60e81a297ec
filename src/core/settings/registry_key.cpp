#include "core/settings/registry_key.h"

#include <system_error>
#include <utility>

#include "core/platform/atomic_file.h"
#include "core/platform/file_read.h"

namespace norvane {
namespace {

constexpr std::string_view kRoot = "HKEY_CURRENT_USER\\";

// Far beyond any settings file the program writes; a larger file is something else.
constexpr uint64_t kMaxFileSize = 64ull << 20;

std::string FullPath(std::string_view sub_key) { return std::string(kRoot).append(sub_key); }

bool ValidSubKey(std::string_view sub_key) {
  return !sub_key.empty() && IsStorableRegistryText(sub_key);
}

bool ValidName(std::string_view name) { return !name.empty() && IsStorableRegistryText(name); }

bool StartsWithKey(std::string_view path, std::string_view key) {
  return path.size() > key.size() && path[key.size()] == '\\' &&
         RegistryNamesEqual(path.substr(0, key.size()), key);
}

// A key exists when it has a section of its own or any key below it does.
bool KeyExists(const RegistryDocument& document, std::string_view path) {
  for (const RegistrySection& s : document.sections)
    if (RegistryNamesEqual(s.path, path) || StartsWithKey(s.path, path)) return true;
  return false;
}

}  // namespace

RegistryKey::RegistryKey(std::filesystem::path file) : file_(std::move(file)) {}

RegistryKey::FileState RegistryKey::ReadFile(RegistryDocument& document, std::string* problem) const {
  if (file_.empty()) return FileState::kMissing;
  ReadFailure failure = ReadFailure::kNone;
  const std::optional<std::string> bytes = ReadRegularFile(file_, kMaxFileSize, problem, &failure);
  if (!bytes) return failure == ReadFailure::kMissing ? FileState::kMissing : FileState::kUnreadable;
  if (!LooksLikeRegistryFile(*bytes)) {
    if (problem) *problem = "does not read as a settings file (a registry export)";
    return FileState::kForeign;
  }
  document = ParseRegistry(*bytes);
  return FileState::kRead;
}

std::string RegistryKey::FileProblem() const {
  RegistryDocument document;
  std::string problem;
  const FileState state = ReadFile(document, &problem);
  return state == FileState::kUnreadable || state == FileState::kForeign ? problem : std::string();
}

bool RegistryKey::WriteFile(const RegistryDocument& document) {
  return AtomicWriteFile(file_, SerializeRegistry(document));
}

bool RegistryKey::OpenNamed(std::string_view sub_key) {
  sub_key_name_ = std::string(sub_key);
  return Open(sub_key);
}

bool RegistryKey::Open(std::string_view sub_key) {
  Close();
  if (!ValidSubKey(sub_key)) return false;
  RegistryDocument document;
  std::string path = FullPath(sub_key);
  if (ReadFile(document) != FileState::kRead || !KeyExists(document, path)) return false;
  snapshot_ = std::move(document);
  section_path_ = std::move(path);
  open_ = true;
  return true;
}

bool RegistryKey::Create(std::string_view sub_key) {
  Close();
  if (!ValidSubKey(sub_key)) return false;
  RegistryDocument document;
  const FileState state = ReadFile(document);
  if (state != FileState::kRead && state != FileState::kMissing) return false;
  std::string path = FullPath(sub_key);
  if (!document.Find(path)) {
    document.FindOrAdd(path);
    std::error_code ec;
    if (file_.has_parent_path()) std::filesystem::create_directories(file_.parent_path(), ec);
    if (!WriteFile(document)) return false;
  }
  snapshot_ = std::move(document);
  section_path_ = std::move(path);
  open_ = true;
  return true;
}

void RegistryKey::Close() {
  open_ = false;
  section_path_.clear();
  snapshot_ = {};
}

const RegistryValue* RegistryKey::FindValue(std::string_view name) const {
  if (!open_) return nullptr;
  const RegistrySection* section = snapshot_.Find(section_path_);
  return section ? section->Find(name) : nullptr;
}

bool RegistryKey::ReadNumber(std::string_view name, uint32_t& value) const {
  const RegistryValue* v = FindValue(name);
  if (!v || v->type != RegistryValueType::kDword) return false;
  value = v->number;
  return true;
}

bool RegistryKey::ReadText(std::string_view name, std::string& text) const {
  const RegistryValue* v = FindValue(name);
  if (!v || v->type != RegistryValueType::kSz) return false;
  text = v->text;
  return true;
}

template <typename Change>
bool RegistryKey::Modify(Change change) {
  if (!open_) return false;
  RegistryDocument document;
  // The key may have been deleted through another object since it was opened.
  if (ReadFile(document) != FileState::kRead || !KeyExists(document, section_path_)) return false;
  if (!change(document, document.FindOrAdd(section_path_))) return false;
  if (!WriteFile(document)) return false;
  snapshot_ = std::move(document);
  return true;
}

bool RegistryKey::WriteNumber(std::string_view name, uint32_t value) {
  if (!ValidName(name)) return false;
  return Modify([&](RegistryDocument&, RegistrySection& section) {
    RegistryValue v;
    v.name = std::string(name);
    v.type = RegistryValueType::kDword;
    v.number = value;
    section.Set(std::move(v));
    return true;
  });
}

bool RegistryKey::WriteText(std::string_view name, std::string_view text) {
  if (!ValidName(name) || !IsStorableRegistryText(text)) return false;
  return Modify([&](RegistryDocument&, RegistrySection& section) {
    RegistryValue v;
    v.name = std::string(name);
    v.type = RegistryValueType::kSz;
    v.text = std::string(text);
    section.Set(std::move(v));
    return true;
  });
}

bool RegistryKey::DeleteValue(std::string_view name) {
  return Modify([&](RegistryDocument&, RegistrySection& section) { return section.Erase(name); });
}

bool RegistryKey::DeleteSubKey(std::string_view sub_key) {
  if (!ValidSubKey(sub_key)) return false;
  std::string path = section_path_ + "\\" + std::string(sub_key);
  return Modify([&](RegistryDocument& document, RegistrySection&) {
    auto& sections = document.sections;
    for (const RegistrySection& s : sections)
      if (StartsWithKey(s.path, path)) return false;
    return document.Erase(path);
  });
}

}  // namespace norvane
