#include "core/common/program_version.h"

namespace norvane {

std::string_view ProgramVersion() { return NORVANE_VERSION; }

}  // namespace norvane
