#include "core/platform/terminal_width.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace norvane {
namespace {

constexpr size_t kNotATerminal = 80;
// Narrower than this, two columns of help cannot be laid out at all.
constexpr size_t kNarrowest = 20;

}  // namespace

size_t HelpWidth() {
  size_t width = 0;
  if (const char* columns = std::getenv("COLUMNS"); columns && *columns) {
    const char* end = columns + std::strlen(columns);
    const auto [p, ec] = std::from_chars(columns, end, width);
    if (ec != std::errc{} || p != end) width = 0;
  }
  winsize size{};
  if (width == 0 && isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) width = size.ws_col;
  if (width == 0) width = kNotATerminal;
  return width < kNarrowest ? kNarrowest : width;
}

}  // namespace norvane
