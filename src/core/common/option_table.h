// Command-line options as tables: one parser and one help layout for both programs.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace norvane {

struct OptionEntry {
  std::string_view name;       // "--speed"
  std::string_view value;      // what it takes, as the help names it ("N", "FILE"); empty for a flag
  std::string_view help;
  std::string_view only = {};  // the one sub-command (first word) that takes it; empty: all of them
  std::string_view alias = {};  // a short form, "-h"
};

class ParsedOptions;

// Reads `args` against `table`, then `also`. With `stop_at_word` it stops at the first word that is
// not an option (a command); otherwise every such word is kept, and "--" ends the options. An
// option's value may follow it or be joined by '=' (--speed=50). An option whose `only` names
// another sub-command than the first word is unknown.
ParsedOptions ParseOptions(std::span<const std::string> args, std::span<const OptionEntry> table,
                           std::span<const OptionEntry> also = {}, bool stop_at_word = false);

// A command line read against its tables: the options given in order, and the other words.
class ParsedOptions {
 public:
  bool Has(std::string_view name) const;
  std::optional<std::string> Value(std::string_view name) const;  // the last one given
  std::vector<std::string> Values(std::string_view name) const;   // each one given, in order

  std::vector<std::pair<const OptionEntry*, std::string>> given;  // value empty for a flag
  std::vector<std::string> words;
  std::string problem;  // "unknown option '--x'" or "--x needs a value"; empty when all was read
  size_t end = 0;       // the first argument not read

 private:
  friend ParsedOptions ParseOptions(std::span<const std::string>, std::span<const OptionEntry>,
                                    std::span<const OptionEntry>, bool);
  const OptionEntry* Find(std::string_view name) const;
  std::span<const OptionEntry> table_, also_;
};

// "--speed N", "-h, --help".
std::string OptionLabel(const OptionEntry& option);

// `text` broken at blanks into lines of at most `width` columns, each after `indent` blanks, the
// first after `first_indent`; a word longer than a line is cut.
std::string WrapText(std::string_view text, size_t width, size_t indent, size_t first_indent);

// Rows of a label (an option, a command) and its help, laid out in two columns within `width`:
// the help starts in one column for all rows, on the next line after a label too long for it.
std::string HelpColumns(const std::vector<std::pair<std::string, std::string>>& rows, size_t width);

// The rows of an option table for HelpColumns, with "(X only)" after an option only X takes.
std::vector<std::pair<std::string, std::string>> OptionRows(std::span<const OptionEntry> table);

}  // namespace norvane
