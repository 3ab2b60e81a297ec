// The counters the simulator can be: version reply, family and line rate of each model.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace norvane::sim {

struct CounterModel {
  std::string_view name;        // as the user asks for it (--model)
  std::string_view list_entry;  // the model list entry whose history size this counter has
  std::string_view version;     // what "<GETVER>>" answers, before zero padding
  int family;
};

// Every model the simulator knows, one per row of the identification table and more.
std::span<const CounterModel> CounterModels();

// A model by its name or its model list entry, case-insensitive; nullptr when unknown.
const CounterModel* FindCounterModel(std::string_view name);

// The family a counter with this version reply belongs to, or -1 when the text names none.
// A counter knows what it is; this is the same knowledge seen from its side of the line.
int FamilyForVersionText(std::string_view version);

// 115200 baud above family 3, else 57600.
inline int LineBaud(int family) { return family > 3 ? 115200 : 57600; }

}  // namespace norvane::sim
