// A plain INI reader for korvan-pack's project and language files: sections
// in file order, "key=value" lines, ";" or "#" comment lines. Bytes are kept
// as they are (the texts are ANSI); a UTF-8 byte-order mark is dropped.
#pragma once

#include <string>
#include <vector>

struct TIniLine {
  int Number = 0;       // line number, from 1
  std::string Raw;      // the trimmed line
  std::string Key;      // trimmed text before the first "=", "" without one
  std::string Value;    // trimmed text after it; enclosing double quotes removed
  bool HasValue = false;
};

struct TIniSection {
  std::string Name;     // "" for the lines before the first section
  int Number = 0;       // line of the "[...]"
  std::vector<TIniLine> Lines;
};

// False with Error ("FILE line N: ...") when the file cannot be read or a
// section header is broken.
bool ReadIniFile(const std::string& path, std::vector<TIniSection>& sections, std::string& error);
