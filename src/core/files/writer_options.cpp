#include "core/files/writer_options.h"

namespace norvane {

WriterOptions MakeWriterOptions(const Settings& settings, const ConversionTable& conversion,
                                const LanguageDictionary& dictionary, bool semicolon) {
  WriterOptions options;
  options.separator = semicolon ? ';' : settings.CsvSeparator();
  options.conversion = conversion;
  options.second_suffix = dictionary.UsesSecondSuffix();
  options.date_word = dictionary.GetText(kDateTextEntry);
  options.time_word = dictionary.GetText(kTimeTextEntry);
  options.second_word = dictionary.GetText(kSecondTextEntry);
  return options;
}

}  // namespace norvane
