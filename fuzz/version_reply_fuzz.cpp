// Feeds arbitrary version replies to identification and checks what it can never produce.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/protocol/model_identification.h"
#include "core/protocol/model_table.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

bool KnownFamily(int family) {
  for (int f : {0, 1, 4, 5, 6, 7, 8, 16, 17})
    if (family == f) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  const auto family = norvane::FamilyFromReply(reply);
  if (family) {
    Check(KnownFamily(*family));
    Check(norvane::LooksLikeCounter(reply));
  }
  const int entry = norvane::MatchModelInList(reply);
  Check(entry >= 0 && static_cast<size_t>(entry) < norvane::kModelList.size());
  // Any digits at all must convert without overflow (UBSan watches the arithmetic).
  (void)norvane::FirmwareVersionNumber(reply);
  return 0;
}
