// The reason a system call failed, in words the window can translate.
#pragma once

#include <string>

namespace norvane {

// The commonest reasons in fixed English, whatever the locale, so the window finds them in its
// dictionary; any other as the system words it.
std::string SystemErrorText(int error_number);

}  // namespace norvane
