// The shell completions and the man page against the command table: an option, command or
// subcommand missing from either fails here.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>

#include "cli/command.h"
#include "tests/common/temp_dir.h"

namespace norvane {
namespace {

std::string Source(const std::string& path) { return testing::ReadAll(std::string(NORVANE_SOURCE_DIR) + "/" + path); }

bool HasWord(const std::string& text, std::string_view word) {
  static const std::string kWordChars = "abcdefghijklmnopqrstuvwxyz0123456789-";
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    const bool starts = at == 0 || kWordChars.find(text[at - 1]) == std::string::npos;
    const size_t end = at + word.size();
    if (starts && (end == text.size() || kWordChars.find(text[end]) == std::string::npos)) return true;
  }
  return false;
}

// The subcommands a command's arguments offer: "decode|convert|... FILE" gives decode, convert ...
std::vector<std::string> Subcommands(const cli::Command& c) {
  const std::string first(c.arguments.substr(0, c.arguments.find(' ')));
  if (first.find('|') == std::string::npos) return {};
  std::vector<std::string> words;
  for (size_t from = 0, bar; from <= first.size(); from = bar + 1) {
    bar = std::min(first.find('|', from), first.size());
    words.push_back(first.substr(from, bar - from));
  }
  return words;
}

// Each arm of the shell's `case ... in` over the command word, by command: "a | b) body ;;".
std::map<std::string, std::string> CaseArms(const std::string& script, const std::string& switch_on) {
  const size_t begin = script.find("case " + switch_on + " in");
  EXPECT_NE(begin, std::string::npos) << switch_on;
  const std::string body = script.substr(begin, script.find("\n  esac", begin) - begin);
  std::map<std::string, std::string> arms;
  static const std::regex kArm(R"(\n\s*([a-z][a-z| -]*)\)([\s\S]*?);;)");
  for (auto m = std::sregex_iterator(body.begin(), body.end(), kArm); m != std::sregex_iterator(); ++m) {
    const std::string labels = (*m)[1];
    static const std::regex kLabel("[a-z][a-z-]*");
    for (auto l = std::sregex_iterator(labels.begin(), labels.end(), kLabel); l != std::sregex_iterator(); ++l)
      arms[l->str()] += (*m)[2].str();
  }
  return arms;
}

// The man page's paragraph on a command: from the line naming it to the next command's.
std::string ManParagraph(const std::string& page, std::string_view command) {
  const std::string head = "\n*" + std::string(command) + "*";
  const size_t begin = page.find(head);
  if (begin == std::string::npos) return {};
  size_t end = begin + 1;
  for (;;) {
    end = page.find('\n', end + 1);
    if (end == std::string::npos || page.compare(end, 2, "\n#") == 0) break;
    if (page.compare(end, 2, "\n*") != 0 || page.compare(end, head.size() + 1, head + " ") == 0) continue;
    bool other = false;
    for (const cli::Command& c : cli::Commands()) other |= c.name != command && page.compare(end, c.name.size() + 3, "\n*" + std::string(c.name) + "*") == 0;
    if (other) break;
  }
  return page.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

TEST(CommandTable, CompletionsAndManPageNameEveryCommandSubcommandAndOption) {
  const std::string bash = Source("packaging/completions/norvane-cli.bash");
  const std::string zsh = Source("packaging/completions/_norvane-cli");
  const std::string man = Source("docs/man/norvane-cli.1.scd");
  const auto bash_arms = CaseArms(bash, "$command");
  const auto zsh_arms = CaseArms(zsh, "$words[1]");
  const auto between = [](const std::string& text, const std::string& from, const std::string& to) {
    const size_t begin = text.find(from);
    return begin == std::string::npos ? std::string() : text.substr(begin, text.find(to, begin) - begin);
  };
  const std::string bash_commands = between(bash, "local commands=", "local global=");
  const std::string bash_global = between(bash, "local global=", "\n");
  const std::string bash_first = between(bash, "local first=", "\n");
  const std::string zsh_global = between(zsh, "_arguments -C", "case $state");

  std::vector<OptionEntry> global(cli::GlobalOptions().begin(), cli::GlobalOptions().end());
  global.insert(global.end(), cli::ProgramOptions().begin(), cli::ProgramOptions().end());
  for (const OptionEntry& o : global) {
    const bool anywhere = std::ranges::any_of(cli::GlobalOptions(), [&](const OptionEntry& g) { return g.name == o.name; });
    EXPECT_TRUE(HasWord(anywhere ? bash_global : bash_first, o.name)) << "bash: global " << o.name;
    EXPECT_TRUE(HasWord(zsh_global, o.name)) << "zsh: global " << o.name;
    EXPECT_NE(man.find("*" + std::string(o.name) + "*"), std::string::npos) << "man: global " << o.name;
  }
  for (const cli::Command& c : cli::Commands()) {
    const std::string name(c.name);
    EXPECT_TRUE(HasWord(bash_commands, name)) << "bash: " << name;
    EXPECT_TRUE(zsh.find("'" + name + ":") != std::string::npos || zsh.find("\"" + name + ":") != std::string::npos)
        << "zsh: " << name;
    const std::string paragraph = ManParagraph(man, name);
    EXPECT_FALSE(paragraph.empty()) << "man: " << name;
    // What follows the command word in each: its subcommands and options.
    std::vector<std::string> words = Subcommands(c);
    for (const OptionEntry& o : c.options) words.emplace_back(o.name);
    for (const std::string& word : words) {
      EXPECT_TRUE(bash_arms.contains(name) && HasWord(bash_arms.at(name), word)) << "bash: " << name << " " << word;
      EXPECT_TRUE(zsh_arms.contains(name) && HasWord(zsh_arms.at(name), word)) << "zsh: " << name << " " << word;
      EXPECT_NE(paragraph.find("*" + word + "*"), std::string::npos) << "man: " << name << " " << word;
    }
  }
}

}  // namespace
}  // namespace norvane
