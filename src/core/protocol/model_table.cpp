#include "core/protocol/model_table.h"

namespace norvane {
namespace {

struct ModelRule {
  std::string_view contains;
  ModelInfo info;
};

constexpr uint32_t k64K = 0x10000;
constexpr uint32_t k1M = 0x100000;
constexpr uint32_t k2M = 0x200000;
constexpr uint32_t k2MLess8K = 0x1FE000;

// The first rule that matches wins, so "ZQT-120+V5" must stay ahead of "ZQT-120".
constexpr ModelRule kRules[] = {
    {"ZQT-200", {8, k1M}},       {"ZQT-210", {8, k1M}},   {"ZQT-220", {8, k1M}},  {"ZQT-260", {8, k1M}},
    {"ZQT-280", {8, k1M}},       {"ZQT-290", {8, k1M}},   {"ZQT-400", {8, k1M}},  {"ZQT-420", {8, k1M}},
    {"ZQT-3020", {8, k1M}},      {"ZQT-3030", {8, k1M}},  {"ZQT-120+V5", {5, k1M}}, {"ZQT-120", {4, k1M}},
    {"ZQT-1010", {4, k1M}},      {"ZQT-3010", {4, k1M}},  {"ZQT-100", {1, k64K}}, {"ZQT-LT", {6, k2M}},
    {"ZQT-600", {7, k2MLess8K}}, {"RadonMax", {17, k2MLess8K}}, {"RadonTrak", {16, k2MLess8K}},
};

}  // namespace

ModelInfo ModelForName(std::string_view name) {
  for (const ModelRule& rule : kRules)
    if (name.find(rule.contains) != std::string_view::npos) return rule.info;
  return {0, k64K};
}

std::string_view ModelListEntry(uint32_t index) {
  return index < kModelList.size() ? kModelList[index] : std::string_view{};
}

int ModelListIndex(std::string_view name) {
  for (size_t i = 0; i < kModelList.size(); ++i)
    if (kModelList[i] == name) return static_cast<int>(i);
  return -1;
}

}  // namespace norvane
