#include "core/tasks/auto_save.h"

namespace norvane {

bool AutoSaveSchedule::Tick(int64_t period_seconds) {
  const uint32_t before = count_++;
  if (before < period_seconds) return false;
  count_ = 0;
  return true;
}

std::vector<std::string_view> AutoSavePatterns(std::string_view type) {
  if (type == "ALL") return {"*.csv", "*.rbn", "*.html", "*.htm", "*.bmp", "*.jpg", "*.jpeg", "*.R@H"};
  if (type == "htm") return {"*.htm"};
  if (type == "html") return {"*.html"};
  if (type == "rbn") return {"*.rbn"};
  if (type == "bmp") return {"*.bmp"};
  if (type == "jpg") return {"*.jpg"};
  if (type == "jpeg") return {"*.jpeg"};
  if (type == "r@h" || type == "R@H") return {"*.R@H"};
  return {"*.csv"};
}

bool IsPicturePattern(std::string_view pattern) {
  return pattern == "*.bmp" || pattern == "*.jpg" || pattern == "*.jpeg";
}

}  // namespace norvane
