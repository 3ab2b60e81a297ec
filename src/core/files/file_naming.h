// Names of saved files: required extensions, the default name of the save dialogs, type texts.
#pragma once

#include <string>
#include <string_view>

#include "core/common/clock.h"

namespace norvane {

// Appends `extension` unless the path already ends in it (case as given).
std::string EnsureExtension(std::string_view path, std::string_view extension);

// Minute logs accept ".R@H" and ".r@h"; anything else gets ".R@H".
std::string EnsureMinuteLogExtension(std::string_view path);

// "<folder>20YYMMDD_hh_mm_ss" at the given local time, the name the save dialogs offer.
std::string DefaultFileName(std::string_view folder, const LocalTime& now);

// Type texts of the file dialogs are compared lower-cased.
std::string LowerAscii(std::string_view text);

}  // namespace norvane
