// Telling the counter's kind from its version reply, and the firmware version number.
#pragma once

#include <optional>
#include <string_view>

namespace norvane {

// ModelFamily from a version reply by the identification table, first match in table order;
// empty when nothing is recognised (the family then stays as it was).
std::optional<int> FamilyFromReply(std::string_view reply);

// Version × 100 from a reply such as "ZQT-120Re 4.09" (409): the digits after "Re", the first
// point removed. 0 when there is no number, or one too large to be a version.
int FirmwareVersionNumber(std::string_view reply);

// Index in the model list of the entry the reply names: "ZQT-120Re 5" means "ZQT-120+V5",
// "HQMZ LE" means "ZQT-100"; otherwise the first entry contained in the reply; for a counter
// the list does not name, the first entry of its family; and when nothing is recognised,
// "ZQT-120".
int MatchModelInList(std::string_view reply);

// Whether the automatic scan takes a reply for a counter of ours: any name of its list, or any
// reply identification recognises.
bool LooksLikeCounter(std::string_view reply);

}  // namespace norvane
