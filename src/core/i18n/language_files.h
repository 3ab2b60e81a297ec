// The dictionary files the program ships, found in its language folders.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace norvane {

struct LanguageFile {
  std::string name;  // the file's LanguageName, UTF-8
  std::filesystem::path path;
};

// Every readable *.dic.txt with a language name in `folders`, sorted by name. A file name found in
// an earlier folder hides the same name in later ones, so a user's copy overrides the shipped one.
std::vector<LanguageFile> FindLanguageFiles(const std::vector<std::filesystem::path>& folders);

}  // namespace norvane
