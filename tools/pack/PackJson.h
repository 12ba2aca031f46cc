// A small JSON writer for `inspect --json`. Texts are 8-bit ANSI: bytes of
// 0x80 and above are written as \u00XX (their Latin-1 reading) so the output
// stays ASCII; the exact bytes are in the *_hex fields.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TJsonWriter {
 public:
  void BeginObject(const char* key = nullptr) { Open(key, '{'); }
  void EndObject() { Close('}'); }
  void BeginArray(const char* key = nullptr) { Open(key, '['); }
  void EndArray() { Close(']'); }
  void Text(const char* key, const std::string& value) { Item(key, Quote(value)); }
  void Number(const char* key, uint64_t value) { Item(key, std::to_string(value)); }
  void Bool(const char* key, bool value) { Item(key, value ? "true" : "false"); }
  const std::string& Result() const { return out_; }

  static std::string Quote(const std::string& s) {
    static const char hex[] = "0123456789abcdef";
    std::string q = "\"";
    for (unsigned char c : s) {
      if (c == '"' || c == '\\') {
        q += '\\';
        q += char(c);
      } else if (c == '\n') {
        q += "\\n";
      } else if (c == '\r') {
        q += "\\r";
      } else if (c == '\t') {
        q += "\\t";
      } else if (c < 0x20 || c >= 0x7F) {
        q += "\\u00";
        q += hex[c >> 4];
        q += hex[c & 15];
      } else {
        q += char(c);
      }
    }
    return q + "\"";
  }

 private:
  void Lead(const char* key) {
    if (!first_.empty()) {
      if (!first_.back()) out_ += ',';
      first_.back() = false;
      out_ += '\n';
      out_.append(first_.size(), ' ');
    }
    if (key) out_ += Quote(key) + ": ";
  }
  void Item(const char* key, const std::string& text) {
    Lead(key);
    out_ += text;
  }
  void Open(const char* key, char bracket) {
    Lead(key);
    out_ += bracket;
    first_.push_back(true);
  }
  void Close(char bracket) {
    bool empty = first_.back();
    first_.pop_back();
    if (!empty) {
      out_ += '\n';
      out_.append(first_.size(), ' ');
    }
    out_ += bracket;
    if (first_.empty()) out_ += '\n';
  }

  std::string out_;
  std::vector<bool> first_;
};
