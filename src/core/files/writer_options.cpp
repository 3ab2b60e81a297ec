#include "core/files/writer_options.h"

namespace norvane {

WriterOptions MakeWriterOptions(const Settings& settings, const ConversionTable& conversion,
                                const LanguageDictionary& dictionary, bool semicolon) {
  WriterOptions options;
  options.separator = semicolon ? ';' : settings.CsvSeparator();
  options.conversion = conversion;
  options.date_word = dictionary.GetText(kDateTextEntry);
  options.time_word = dictionary.GetText(kTimeTextEntry);
  options.second_word = dictionary.GetText(kSecondTextEntry);
  // A language without its own word for seconds keeps the English titles: "1s", never "1second".
  options.second_suffix =
      dictionary.UsesSecondSuffix() || options.second_word == LanguageDictionary().GetText(kSecondTextEntry);
  return options;
}

}  // namespace norvane
