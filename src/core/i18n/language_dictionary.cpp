#include "core/i18n/language_dictionary.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "core/common/text_format.h"

namespace norvane {
namespace {

// Entry n is text number n. The misspellings are the texts users have always seen; keep them.
constexpr std::string_view kBuiltInTexts[] = {
    /*  0 */ "Available Language",
    /*  1 */ "Add",
    /*  2 */ "OK",
    /*  3 */ "Cancel",
    /*  4 */ "Edit",
    /*  5 */ "Elapsed time:",
    /*  6 */ "Minute",
    /*  7 */ "Hour",
    /*  8 */ "Day",
    /*  9 */ "Week",
    /* 10 */ "Month",
    /* 11 */ "Year",
    /* 12 */ "Status",
    /* 13 */ "Running",
    /* 14 */ "Stopped",
    /* 15 */ "Stop",
    /* 16 */ "Save",
    /* 17 */ "Save as",
    /* 18 */ "Load",
    /* 19 */ "Exit",
    /* 20 */ "Help",
    /* 21 */ "Start",
    /* 22 */ "About",
    /* 23 */ "Spectrum",
    /* 24 */ "Peak",
    /* 25 */ "Eualization",
    /* 26 */ "Oscilloscope",
    /* 27 */ "Total",
    /* 28 */ "No enough data",
    /* 29 */ "",
    /* 30 */ "",
    /* 31 */ "",
    /* 32 */ "",
    /* 33 */ "Activity",
    /* 34 */ "(Estimate)",
    /* 35 */ "Norvane Geiger Muller Counter Data Logger",
    /* 36 */ "CPM",
    /* 37 */ "Language",
    /* 38 */ "",
    /* 39 */ "Setting",
    /* 40 */ "Sensitivity Adjustment",
    /* 41 */ "To Default",
    /* 42 */ "This feature only available on Norvane Geiger Muller Counter",
    /* 43 */ "Saved",
    /* 44 */ "Start a new session?",
    /* 45 */ "Period",
    /* 46 */ "File type",
    /* 47 */ "Auto Save",
    /* 48 */ "Restart Counter",
    /* 49 */ "Date",
    /* 50 */ "Time",
    /* 51 */ "Second",
    /* 52 */ "Calibrate",
    /* 53 */ "Mic. Volume",
    /* 54 */ "Gain",
    /* 55 */ "Software:",
    /* 56 */ "Support:",
    /* 57 */ "Threshold:",
    /* 58 */ "Test",
    /* 59 */ "Passive Mode",
    /* 60 */ "User",
    /* 61 */ "Upload",
    /* 62 */ "Port",
    /* 63 */ "Password",
    /* 64 */ "Host Name",
    /* 65 */ "Account",
    /* 66 */ "Path on server",
    /* 67 */ "We are going to select a file to upload.",
    /* 68 */ "Download",
    /* 69 */ "Auto FTP Upload",
    /* 70 */ "FTP Setting",
    /* 71 */ "Note: Auto FTP upload the last auto saved HTM file to above path and name.",
    /* 72 */ "Firewall",
    /* 73 */ "Logon failed",
    /* 74 */ "Network error",
    /* 75 */ "File error",
    /* 76 */ "Unable to create connection",
    /* 77 */ "Unable to connect to server",
    /* 78 */ "Unable to open the local file",
    /* 79 */ "Use my file name",
    /* 80 */ "Use auto file name",
    /* 81 */ "File name on server",
    /* 82 */ "Average",
    /* 83 */ "Other",
    /* 84 */ "CPM Average Period",
    /* 85 */ "Color",
    /* 86 */ "File",
    /* 87 */ "",
    /* 88 */ "",
    /* 89 */ "",
    /* 90 */ "Data file not saved yet.",
};
// Files replace texts by position, so the table may neither grow nor shrink.
static_assert(std::size(kBuiltInTexts) == kBuiltInTextCount);

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return s.substr(i);
}

std::string_view TrimRight(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && IsBlank(s[n - 1])) --n;
  return s.substr(0, n);
}

// Lines end at CR or LF or after kMaxDictionaryLineLength bytes. Empty lines (the LF of a CR LF
// pair among them) are never passed on.
template <typename Visit>
void ForEachLine(std::string_view bytes, Visit&& visit) {
  size_t pos = 0;
  while (pos < bytes.size()) {
    const size_t limit = std::min(bytes.size(), pos + kMaxDictionaryLineLength);
    size_t end = pos;
    while (end < limit && bytes[end] != '\r' && bytes[end] != '\n') ++end;
    if (end > pos) visit(bytes.substr(pos, end - pos));
    // A line cut at the length limit leaves its terminator to be read as an empty line.
    pos = end < limit ? end + 1 : end;
  }
}

std::string ResolveLineBreaks(std::string_view text) {
  constexpr std::string_view kEscape = "\\r\\n";
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  for (size_t hit; (hit = text.find(kEscape, pos)) != std::string_view::npos; pos = hit + kEscape.size()) {
    out.append(text.substr(pos, hit - pos));
    out.append("\r\n");
  }
  out.append(text.substr(pos));
  return out;
}

void ParseLine(std::string_view raw, ParsedDictionary& out) {
  const std::string_view line = TrimLeft(raw);
  if (line.size() <= 4 || line[0] == ';' || line[0] == '/') return;

  constexpr std::string_view kName = "LanguageName=";
  constexpr std::string_view kSpacedName = "LanguageName = ";
  constexpr std::string_view kDisplayMode = "LanguageDisplayMode=";
  constexpr std::string_view kIndex = "LanguageIndex=";
  if (line.starts_with(kName)) {
    out.header.name = line.substr(kName.size());
  } else if (line.starts_with(kSpacedName)) {
    out.header.name = line.substr(kSpacedName.size());
  } else if (line.starts_with(kDisplayMode)) {
    out.header.display_mode = line.substr(line.size() - 1);
  } else if (line.starts_with(kIndex)) {
    // Only the last character counts, so "12" reads as 2; anything but a digit as 0.
    const char last = line.back();
    out.header.index = last >= '0' && last <= '9' ? last - '0' : 0;
  } else {
    const std::string_view text_line = TrimRight(line);
    if (text_line.find("=\"") != 4) return;
    // The four characters before =" only label the line for translators; position decides.
    const size_t length = text_line.size() >= 8 ? text_line.size() - 8 : 0;
    out.texts.push_back(ResolveLineBreaks(text_line.substr(6, length)));
  }
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data;
  char chunk[64 * 1024];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) data.append(chunk, static_cast<size_t>(in.gcount()));
  if (in.bad()) return std::nullopt;  // e.g. a directory: opens, but cannot be read
  return data;
}

std::optional<std::string> ReadOrComplain(const std::string& path, UserNotifier& notifier) {
  std::optional<std::string> data = ReadWholeFile(path);
  if (!data) notifier.Message(Format("%s Language file open error.", path.c_str()));
  return data;
}

}  // namespace

ParsedDictionary ParseDictionary(std::string_view bytes) {
  ParsedDictionary out;
  ForEachLine(bytes, [&out](std::string_view line) { ParseLine(line, out); });
  return out;
}

LanguageDictionary::LanguageDictionary() { LoadBuiltInTexts(); }

void LanguageDictionary::LoadBuiltInTexts() { texts_.assign(std::begin(kBuiltInTexts), std::end(kBuiltInTexts)); }

std::string LanguageDictionary::GetText(int n) const {
  if (n < 0 || n >= Count()) return {};
  return texts_[static_cast<size_t>(n)];
}

std::optional<LanguageHeader> LanguageDictionary::ReadLanguageHeader(const std::string& path,
                                                                     UserNotifier& notifier) {
  std::optional<std::string> data = ReadOrComplain(path, notifier);
  if (!data) return std::nullopt;
  return ParseDictionary(*data).header;
}

void LanguageDictionary::LoadLanguageFile(const std::string& path, UserNotifier& notifier) {
  std::optional<std::string> data = ReadOrComplain(path, notifier);
  if (!data) return;
  ParsedDictionary parsed = ParseDictionary(*data);
  if (parsed.header.name.empty()) {
    notifier.Message("Language file open error! Default lanuage used.");
    return;
  }
  language_name_ = std::move(parsed.header.name);
  display_mode_ = std::move(parsed.header.display_mode);
  language_index_ = parsed.header.index;
  // Texts the file lacks stay English; texts beyond the table have nowhere to go.
  LoadBuiltInTexts();
  const size_t used = std::min(parsed.texts.size(), texts_.size());
  for (size_t n = 0; n < used; ++n) texts_[n] = std::move(parsed.texts[n]);
}

void LanguageDictionary::LoadAtStartUp(const std::string& language_file_setting, UserNotifier& notifier) {
  LoadBuiltInTexts();
  if (language_file_setting.size() > 3) LoadLanguageFile(language_file_setting, notifier);
}

}  // namespace norvane
