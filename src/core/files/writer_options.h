// What the export writers need to know besides the data: separator, dose table, header words.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/common/dose_conversion.h"
#include "core/i18n/language_dictionary.h"
#include "core/settings/settings_store.h"

namespace norvane {

// The version the export headers carry; other programs read it to recognise the files.
inline constexpr char kExportVersionText[] = "2.75";

// Dictionary entries the writers and the save log use.
inline constexpr int kSavedTextEntry = 43;
inline constexpr int kDateTextEntry = 49;
inline constexpr int kTimeTextEntry = 50;
inline constexpr int kFileErrorTextEntry = 75;

struct WriterOptions {
  char separator = ',';
  ConversionTable conversion = kDefaultConversionTable;
  // When set, the µSv/h of a minute's CPM by the minute's start (UTC) in place of `conversion`:
  // the store's exports convert by the calibration in force at each time.
  std::function<double(int64_t start, uint32_t cpm)> dose_rate;
  bool second_suffix = true;  // column titles "1s"; otherwise the number and second_word
  std::string date_word = "Date";
  std::string time_word = "Time";
  std::string second_word = "Second";
  std::string model;  // the counter model the data came from, as the model list names it; empty: unknown
};

// Separator from the settings (unless `semicolon` forces it), words from the loaded dictionary.
WriterOptions MakeWriterOptions(const Settings& settings, const ConversionTable& conversion,
                                const LanguageDictionary& dictionary, bool semicolon = false);

}  // namespace norvane
