#include "sim/counter_model.h"

#include <array>
#include <cctype>

namespace norvane::sim {
namespace {

// Firmware numbers are made up; each reply is recognised as its own family by the program.
constexpr std::array kModels = {
    CounterModel{"ZQT-400", "ZQT-400", "ZQT-400Re 4.21", 8},
    CounterModel{"ZQT-200", "ZQT-200", "ZQT-200Re 4.21", 8},
    CounterModel{"ZQT-210", "ZQT-200", "ZQT-210Re 4.21", 8},
    CounterModel{"ZQT-220", "ZQT-200", "ZQT-220Re 4.21", 8},
    CounterModel{"ZQT-260", "ZQT-200", "ZQT-260Re 4.21", 8},
    CounterModel{"ZQT-280", "ZQT-200", "ZQT-280Re 4.21", 8},
    CounterModel{"ZQT-290", "ZQT-200", "ZQT-290Re 4.21", 8},
    CounterModel{"ZQT-420", "ZQT-400", "ZQT-420Re 4.21", 8},
    CounterModel{"ZQT-3020", "ZQT-3020", "ZQT-3020Re 2.42", 8},
    CounterModel{"ZQT-3030", "ZQT-3030", "ZQT-3030Re 2.42", 8},
    CounterModel{"ZQT-120+V5", "ZQT-120+V5", "ZQT-120Re 5.12", 5},
    CounterModel{"ZQT-120", "ZQT-120", "ZQT-120Re 4.09", 4},
    CounterModel{"ZQT-1010", "ZQT-1010", "ZQT-1010Re 4.26", 4},
    CounterModel{"ZQT-3010", "ZQT-3010", "ZQT-3010Re 4.26", 4},
    CounterModel{"ZQT-100", "ZQT-100", "ZQT-100Re 4.10", 1},
    CounterModel{"ZQT-100 Re2.0x", "ZQT-100 Re2.0x(Stopped suppot)", "ZQT-100Re2.00", 0},
    CounterModel{"HQMZ LE", "ZQT-100", "HQMZ LE Re 2.30", 1},
    CounterModel{"ZQT-LT", "ZQT-LT", "ZQT-LT Re 4.18", 6},
    CounterModel{"ZQT-600", "ZQT-600", "ZQT-600Re 1.08", 7},
    CounterModel{"RadonMax", "RadonMax", "RadonMax Re 1.05", 17},
    CounterModel{"RadonTrak", "RadonTrak", "RadonTrak Re 1.02", 16},
};

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

}  // namespace

std::span<const CounterModel> CounterModels() { return kModels; }

const CounterModel* FindCounterModel(std::string_view name) {
  for (const CounterModel& m : kModels)
    if (SameText(m.name, name)) return &m;
  for (const CounterModel& m : kModels)
    if (SameText(m.list_entry, name)) return &m;
  return nullptr;
}

int FamilyForVersionText(std::string_view v) {
  if (Contains(v, "ZQT-100")) {
    const size_t re = v.find("Re2.0");
    return re != std::string_view::npos && re >= 1 ? 0 : 1;
  }
  if (Contains(v, "ZQT-120Re 5")) return 5;
  for (std::string_view name : {"ZQT-120", "ZQT-1010", "ZQT-3010"})
    if (Contains(v, name)) return 4;
  if (Contains(v, "ZQT-LT")) return 6;
  if (Contains(v, "ZQT-600")) return 7;
  for (std::string_view name : {"ZQT-200", "ZQT-210", "ZQT-220", "ZQT-260", "ZQT-280", "ZQT-290", "ZQT-400",
                                "ZQT-420", "ZQT-3020", "ZQT-3030"})
    if (Contains(v, name)) return 8;
  if (Contains(v, "HQMZ LE")) return 1;
  if (Contains(v, "RadonMax")) return 17;
  if (Contains(v, "RadonTrak")) return 16;
  return -1;
}

}  // namespace norvane::sim
