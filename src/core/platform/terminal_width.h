// The width help text is laid out for.
#pragma once

#include <cstddef>

namespace norvane {

// $COLUMNS when it holds a number, else the width of the terminal on standard output, else 80.
size_t HelpWidth();

}  // namespace norvane
