#include "core/platform/file_read.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace norvane {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

std::optional<FilePrefix> ReadFilePrefix(const std::filesystem::path& path, uint64_t limit, std::string* error) {
  auto fail = [&](int err) -> std::optional<FilePrefix> {
    if (error) *error = std::strerror(err);
    return std::nullopt;
  };
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return fail(EISDIR);
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return fail(errno);
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return fail(errno);
  const long size = std::ftell(file.get());
  if (size < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) return fail(errno);

  FilePrefix prefix;
  prefix.file_size = static_cast<uint64_t>(size);
  prefix.bytes.resize(static_cast<size_t>(std::min<uint64_t>(prefix.file_size, limit)));
  if (!prefix.bytes.empty() && std::fread(prefix.bytes.data(), 1, prefix.bytes.size(), file.get()) != prefix.bytes.size())
    return fail(std::ferror(file.get()) ? EIO : ENODATA);
  return prefix;
}

}  // namespace norvane
