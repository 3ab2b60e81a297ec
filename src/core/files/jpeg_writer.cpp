#include "core/files/jpeg_writer.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <vector>

#include <jpeglib.h>

#include "core/common/text_format.h"
#include "core/platform/atomic_file.h"
#include "core/platform/system_error.h"

namespace norvane {
namespace {

// libjpeg's default reaction to an error is to end the process. The trap jumps back to the
// encoder instead, carrying the library's text.
struct ErrorTrap {
  jpeg_error_mgr manager;  // first: libjpeg hands back a pointer to it
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void LeaveOnError(j_common_ptr info) {
  ErrorTrap* trap = reinterpret_cast<ErrorTrap*>(info->err);
  info->err->format_message(info, trap->message);
  std::longjmp(trap->jump, 1);
}

// Warnings would go to stderr; the core prints nothing of its own.
void IgnoreMessage(j_common_ptr) {}

// Only C objects live in this frame, and the state the jump must see lives in the caller's, so
// longjmp skips no destructor and clobbers nothing.
bool Compress(std::FILE* out, const RgbPicture& picture, size_t stride, int quality, JSAMPLE* row,
              jpeg_compress_struct* info, ErrorTrap* trap) {
  std::memset(info, 0, sizeof *info);  // so destroying a never-created compressor is harmless
  info->err = jpeg_std_error(&trap->manager);
  trap->manager.error_exit = LeaveOnError;
  trap->manager.output_message = IgnoreMessage;
  trap->message[0] = '\0';
  if (setjmp(trap->jump)) {
    jpeg_destroy_compress(info);
    return false;
  }
  jpeg_create_compress(info);
  jpeg_stdio_dest(info, out);
  info->image_width = static_cast<JDIMENSION>(picture.width);
  info->image_height = static_cast<JDIMENSION>(picture.height);
  info->input_components = 3;
  info->in_color_space = JCS_RGB;
  jpeg_set_defaults(info);
  jpeg_set_quality(info, quality, FALSE);
  jpeg_start_compress(info, TRUE);
  const size_t row_bytes = 3 * static_cast<size_t>(picture.width);
  while (info->next_scanline < info->image_height) {
    std::memcpy(row, picture.pixels.data() + info->next_scanline * stride, row_bytes);
    JSAMPROW rows[1] = {row};
    jpeg_write_scanlines(info, rows, 1);
  }
  jpeg_finish_compress(info);
  jpeg_destroy_compress(info);
  return true;
}

bool ReadBack(std::FILE* file, std::string* bytes) {
  if (std::fflush(file) != 0 || std::fseek(file, 0, SEEK_SET) != 0) return false;
  char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes->append(chunk, n);
  return !std::ferror(file);
}

int Fail(std::string* error, int result, std::string reason) {
  if (error) *error = std::move(reason);
  return result;
}

}  // namespace

int ClampJpegQuality(int quality) { return std::clamp(quality, 0, 100); }

int WriteJpegFile(const std::filesystem::path& path, const RgbPicture& picture, int quality,
                  std::string* error) {
  const std::string target = path.string();
  if (picture.width <= 0 || picture.height <= 0)
    return Fail(error, kJpegNoPicture,
                Format("cannot write %s: a %dx%d picture is empty", target.c_str(), picture.width, picture.height));
  const size_t row_bytes = 3 * static_cast<size_t>(picture.width);
  const size_t stride = picture.stride ? picture.stride : row_bytes;
  const size_t rows = static_cast<size_t>(picture.height);
  if (stride < row_bytes || picture.pixels.size() < row_bytes ||
      (picture.pixels.size() - row_bytes) / stride < rows - 1)
    return Fail(error, kJpegNoPicture,
                Format("cannot write %s: the pixels do not cover a %dx%d picture", target.c_str(),
                       picture.width, picture.height));

  // The library writes through a FILE*; an anonymous one keeps a failed encoding away from the
  // target, which is then replaced in one step.
  std::FILE* temp = std::tmpfile();
  if (!temp)
    return Fail(error, kJpegFileError,
                "cannot write " + target + ": no temporary file: " + SystemErrorText(errno));
  std::vector<JSAMPLE> row(row_bytes);
  jpeg_compress_struct info;
  ErrorTrap trap;
  if (!Compress(temp, picture, stride, ClampJpegQuality(quality), row.data(), &info, &trap)) {
    std::fclose(temp);
    return Fail(error, kJpegFileError, "cannot encode " + target + ": " + trap.message);
  }
  std::string bytes;
  const bool read = ReadBack(temp, &bytes);
  std::fclose(temp);
  if (!read) return Fail(error, kJpegFileError, "cannot write " + target + ": the encoded picture was lost");
  if (!AtomicWriteFile(path, bytes, error)) return kJpegFileError;
  return kJpegSaved;
}

}  // namespace norvane
