#include "core/protocol/model_identification.h"

#include <initializer_list>
#include <limits>
#include <string>

#include "core/protocol/model_table.h"

namespace norvane {
namespace {

bool ContainsAny(std::string_view text, std::initializer_list<std::string_view> names) {
  for (std::string_view name : names)
    if (text.find(name) != std::string_view::npos) return true;
  return false;
}

bool Contains(std::string_view text, std::string_view name) { return text.find(name) != std::string_view::npos; }

int FirstEntryContainedIn(std::string_view text) {
  for (size_t i = 0; i < kModelList.size(); ++i)
    if (Contains(text, kModelList[i])) return static_cast<int>(i);
  return -1;
}

}  // namespace

std::optional<int> FamilyFromReply(std::string_view reply) {
  // Order matters: "ZQT-120Re 5" before "ZQT-120", and the families 8 list after the others.
  if (Contains(reply, "ZQT-100")) {
    const size_t old_protocol = reply.find("Re2.0");
    return old_protocol != std::string_view::npos && old_protocol >= 1 ? 0 : 1;
  }
  if (Contains(reply, "ZQT-120Re 5")) return 5;
  if (ContainsAny(reply, {"ZQT-120", "ZQT-1010", "ZQT-3010"})) return 4;
  if (Contains(reply, "ZQT-LT")) return 6;
  if (Contains(reply, "ZQT-600")) return 7;
  if (ContainsAny(reply, {"ZQT-200", "ZQT-210", "ZQT-220", "ZQT-260", "ZQT-280", "ZQT-290", "ZQT-400", "ZQT-420",
                          "ZQT-3020", "ZQT-3030"}))
    return 8;
  if (Contains(reply, "HQMZ LE")) return 1;
  if (Contains(reply, "RadonMax")) return 17;
  if (Contains(reply, "RadonTrak")) return 16;
  return std::nullopt;
}

int FirmwareVersionNumber(std::string_view reply) {
  std::string copy(reply);
  while (copy.size() >= 2 && copy[0] != 'R' && copy[1] != 'e') copy.erase(0, 1);
  if (!copy.empty() && copy[0] == ' ') copy.erase(0, 1);
  if (copy.starts_with("Re")) copy.erase(0, 2);
  if (const size_t point = copy.find('.'); point != std::string::npos) copy.erase(point, 1);

  // The usual decimal conversion: blanks skipped, a sign, then the digits that follow. A number
  // too large for an int is no version; the old conversion's result was undefined there.
  size_t i = 0;
  while (i < copy.size() && (copy[i] == ' ' || (copy[i] >= '\t' && copy[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < copy.size() && (copy[i] == '+' || copy[i] == '-')) negative = copy[i++] == '-';
  long long value = 0;
  for (; i < copy.size() && copy[i] >= '0' && copy[i] <= '9'; ++i) {
    value = value * 10 + (copy[i] - '0');
    if (value > std::numeric_limits<int>::max()) return 0;
  }
  return static_cast<int>(negative ? -value : value);
}

int MatchModelInList(std::string_view reply) {
  std::string_view text = reply;
  if (Contains(reply, "ZQT-120Re 5")) text = "ZQT-120+V5";
  else if (Contains(reply, "HQMZ LE")) text = "ZQT-100";
  if (int index = FirstEntryContainedIn(text); index >= 0) return index;
  // A counter the list does not name (a ZQT-210, say) would otherwise land on "ZQT-120", whose
  // family and line rate differ, and applying that entry would lose the counter. An entry of
  // its own family stands in for it instead.
  if (const std::optional<int> family = FamilyFromReply(reply)) {
    for (size_t i = 0; i < kModelList.size(); ++i)
      if (ModelForName(kModelList[i]).family == *family) return static_cast<int>(i);
  }
  return FirstEntryContainedIn("ZQT-120 ");
}

bool LooksLikeCounter(std::string_view reply) {
  // The scan's own list leaves out the ZQT-600 and the HQMZ LE, which identification knows;
  // a scan that walks past such a counter would tell its owner there is none.
  if (FamilyFromReply(reply)) return true;
  return ContainsAny(reply, {"ZQT-100", "ZQT-120", "ZQT-200", "ZQT-210", "ZQT-220", "ZQT-260", "ZQT-280", "ZQT-290",
                             "ZQT-400", "ZQT-420", "ZQT-1010", "ZQT-3010", "ZQT-3020", "ZQT-3030", "ZQT-LT", "Radon"});
}

}  // namespace norvane
