// JSON output shared by the message-box test programs: one object per line on
// standard output, ANSI text converted through the system code page so that
// the reading test gets the characters the box shows.
#ifndef KORVAN_TESTKIT_MSGBOX_JSON_H
#define KORVAN_TESTKIT_MSGBOX_JSON_H

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

inline std::string JsonText(const std::string& ansi) {
  std::string out = "\"";
  if (ansi.empty()) return out + "\"";
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::vector<wchar_t> wide(static_cast<size_t>(n > 0 ? n : 0));
  if (n > 0)
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
  char buf[8];
  for (wchar_t w : wide) {
    const unsigned c = static_cast<unsigned>(w);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

inline std::string JsonBool(bool b) { return b ? "true" : "false"; }

inline std::string JsonInt(long long v) { return std::to_string(v); }

inline void JsonLine(const std::string& object) {
  fputs(object.c_str(), stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

#endif
