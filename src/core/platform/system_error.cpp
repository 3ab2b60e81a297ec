#include "core/platform/system_error.h"

#include <cerrno>
#include <system_error>

namespace norvane {

std::string SystemErrorText(int error_number) {
  // The C library's own English words, so a log reads the same as before.
  switch (error_number) {
    case EACCES: return "Permission denied";
    case EBUSY: return "Device or resource busy";
    case ENOENT: return "No such file or directory";
    case ENOSPC: return "No space left on device";
    case EROFS: return "Read-only file system";
    case EIO: return "Input/output error";
    default: return std::generic_category().message(error_number);
  }
}

}  // namespace norvane
