// The model list and the one table that maps a model name to its family and history size.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace norvane {

struct ModelInfo {
  int family;           // ModelFamily
  uint32_t image_size;  // bytes of history flash, which is also the download length
};

// The entries of the model list, in the order the list shows them.
inline constexpr std::array<std::string_view, 14> kModelList = {
    "ZQT-400", "ZQT-200",  "ZQT-120+V5", "ZQT-120",  "ZQT-100",  "ZQT-LT",
    "ZQT-600", "ZQT-1010", "ZQT-3010",   "ZQT-3020", "ZQT-3030", "ZQT-100 Re2.0x(Stopped suppot)",
    "RadonTrak", "RadonMax"};

// Before any model is chosen.
inline constexpr ModelInfo kDefaultModel{1, 0x10000};

// Family and image size of a model name, matched by substring with the first rule winning;
// unknown names get family 0 and 64 KiB.
ModelInfo ModelForName(std::string_view name);

// Text of list entry `index`, empty when the index is outside the list.
std::string_view ModelListEntry(uint32_t index);

// Index of the list entry whose text equals `name` exactly, or -1.
int ModelListIndex(std::string_view name);

}  // namespace norvane
