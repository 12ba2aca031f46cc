#include "PackIni.h"

#include <cstdio>

#include "util/Utils.h"

namespace {

bool ReadWhole(const std::string& path, std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

}  // namespace

bool ReadIniFile(const std::string& path, std::vector<TIniSection>& sections, std::string& error) {
  sections.clear();
  std::string text;
  if (!ReadWhole(path, text)) {
    error = path + ": cannot be read";
    return false;
  }
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  sections.push_back(TIniSection());
  size_t pos = 0;
  int number = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = Trim(text.substr(pos, eol - pos));  // also drops the CR
    pos = eol + 1;
    ++number;
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      if (line.back() != ']') {
        error = path + " line " + IntToStr(number) + ": a section header must end with \"]\"";
        return false;
      }
      TIniSection section;
      section.Name = Trim(line.substr(1, line.size() - 2));
      section.Number = number;
      if (section.Name.empty()) {
        error = path + " line " + IntToStr(number) + ": empty section name";
        return false;
      }
      sections.push_back(section);
      continue;
    }
    TIniLine entry;
    entry.Number = number;
    entry.Raw = line;
    size_t eq = line.find('=');
    if (eq != std::string::npos) {
      entry.HasValue = true;
      entry.Key = Trim(line.substr(0, eq));
      entry.Value = Trim(line.substr(eq + 1));
      // Quotes keep blanks at either end of a value.
      if (entry.Value.size() >= 2 && entry.Value.front() == '"' && entry.Value.back() == '"')
        entry.Value = entry.Value.substr(1, entry.Value.size() - 2);
    }
    sections.back().Lines.push_back(entry);
  }
  return true;
}
