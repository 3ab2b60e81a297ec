#include "core/common/option_table.h"

#include <algorithm>
#include <stdexcept>

namespace norvane {
namespace {

// "--x" and "-x" are options; "-", "-5" and "--" are not.
bool LooksLikeOption(std::string_view a) {
  if (a.size() < 2 || a[0] != '-') return false;
  if (a[1] == '-') return a.size() > 2;
  return (a[1] >= 'a' && a[1] <= 'z') || (a[1] >= 'A' && a[1] <= 'Z');
}

const OptionEntry* Lookup(std::span<const OptionEntry> table, std::string_view name) {
  for (const OptionEntry& o : table)
    if (o.name == name || (!o.alias.empty() && o.alias == name)) return &o;
  return nullptr;
}

}  // namespace

const OptionEntry* ParsedOptions::Find(std::string_view name) const {
  const OptionEntry* entry = Lookup(table_, name);
  if (!entry) entry = Lookup(also_, name);
  // A name the tables do not hold is a slip in the code, never the user's: say so loudly.
  if (!entry) throw std::logic_error("no option " + std::string(name) + " in the table");
  return entry;
}

bool ParsedOptions::Has(std::string_view name) const {
  const OptionEntry* entry = Find(name);
  return std::ranges::any_of(given, [&](const auto& g) { return g.first == entry; });
}

std::optional<std::string> ParsedOptions::Value(std::string_view name) const {
  const OptionEntry* entry = Find(name);
  for (auto g = given.rbegin(); g != given.rend(); ++g)
    if (g->first == entry) return g->second;
  return std::nullopt;
}

std::vector<std::string> ParsedOptions::Values(std::string_view name) const {
  const OptionEntry* entry = Find(name);
  std::vector<std::string> values;
  for (const auto& [option, value] : given)
    if (option == entry) values.push_back(value);
  return values;
}

ParsedOptions ParseOptions(std::span<const std::string> args, std::span<const OptionEntry> table,
                           std::span<const OptionEntry> also, bool stop_at_word) {
  ParsedOptions parsed;
  parsed.table_ = table;
  parsed.also_ = also;
  bool options_end = false;
  size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_end || !LooksLikeOption(a)) {
      if (a == "--" && !options_end) {
        options_end = true;
        continue;
      }
      if (stop_at_word) break;
      parsed.words.push_back(a);
      continue;
    }
    const size_t equals = a.starts_with("--") ? a.find('=') : std::string::npos;
    const std::string name = a.substr(0, equals);
    const OptionEntry* entry = Lookup(table, name);
    if (!entry) entry = Lookup(also, name);
    if (!entry) {
      parsed.problem = "unknown option '" + name + "'";
      break;
    }
    std::string value;
    if (entry->value.empty()) {
      if (equals != std::string::npos) {
        parsed.problem = name + " takes no value";
        break;
      }
    } else if (equals != std::string::npos) {
      value = a.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      parsed.problem = name + " needs a value";
      break;
    }
    parsed.given.emplace_back(entry, std::move(value));
  }
  parsed.end = i;
  // An option of one sub-command given to another is as unknown there as any other.
  if (parsed.problem.empty())
    for (const auto& [entry, value] : parsed.given)
      if (!entry->only.empty() && (parsed.words.empty() || parsed.words.front() != entry->only)) {
        parsed.problem = "unknown option '" + std::string(entry->name) + "'";
        break;
      }
  return parsed;
}

std::string OptionLabel(const OptionEntry& option) {
  std::string label = option.alias.empty() ? std::string() : std::string(option.alias) + ", ";
  label += option.name;
  if (!option.value.empty()) label += " " + std::string(option.value);
  return label;
}

std::string WrapText(std::string_view text, size_t width, size_t indent, size_t first_indent) {
  std::string out(first_indent, ' ');
  size_t column = first_indent;
  bool line_empty = true;
  size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] == ' ') {
      ++pos;
      continue;
    }
    size_t end = text.find(' ', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view word = text.substr(pos, end - pos);
    pos = end;
    while (!word.empty()) {
      const size_t needed = word.size() + (line_empty ? 0 : 1);
      if (column + needed <= width) {
        if (!line_empty) out += ' ';
        out += word;
        column += needed;
        line_empty = false;
        break;
      }
      if (!line_empty || column >= width) {
        out += "\n" + std::string(indent, ' ');
        column = indent;
        line_empty = true;
        if (column + word.size() <= width) continue;
      }
      // Longer than a whole line: as much as fits, the rest on the next.
      const size_t room = width > column ? width - column : 1;
      out += word.substr(0, room);
      word.remove_prefix(std::min(room, word.size()));
      column += room;
      line_empty = false;
    }
  }
  return out + "\n";
}

std::string HelpColumns(const std::vector<std::pair<std::string, std::string>>& rows, size_t width) {
  constexpr size_t kIndent = 2, kGap = 2;
  size_t widest = 0;
  for (const auto& [label, help] : rows) widest = std::max(widest, label.size());
  // The help column: beside the longest label, but never past a third of the line.
  const size_t column = std::min(kIndent + widest + kGap, std::max<size_t>(width / 3, kIndent + 8));
  std::string out;
  for (const auto& [label, help] : rows) {
    if (help.empty()) {
      out += WrapText(label, width, kIndent + 4, kIndent);
    } else if (kIndent + label.size() + kGap <= column) {
      out += std::string(kIndent, ' ') + label + std::string(column - kIndent - label.size(), ' ');
      std::string wrapped = WrapText(help, width, column, column);
      out += wrapped.substr(column);
    } else {
      out += WrapText(label, width, kIndent + 4, kIndent);
      out += WrapText(help, width, column, column);
    }
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> OptionRows(std::span<const OptionEntry> table) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (const OptionEntry& o : table)
    rows.emplace_back(OptionLabel(o), o.only.empty() ? std::string(o.help)
                                                     : std::string(o.help) + " (" + std::string(o.only) + " only)");
  return rows;
}

}  // namespace norvane
