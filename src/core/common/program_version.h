// The program's version, as the build names it.
#pragma once

#include <string_view>

namespace norvane {

// The project's version ("2.75"), as --version and the About box show it.
std::string_view ProgramVersion();

}  // namespace norvane
