// A small JSON reader for test data (objects, arrays, strings, numbers,
// true/false/null). Test-only: it aborts the test on malformed input.
#pragma once

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

struct JValue {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  bool b = false;
  double num = 0;
  std::string str;
  std::vector<JValue> arr;
  std::map<std::string, JValue> obj;

  const JValue& operator[](const std::string& key) const {
    static JValue none;
    auto it = obj.find(key);
    return it == obj.end() ? none : it->second;
  }
  const JValue& operator[](size_t i) const { return arr.at(i); }
  size_t size() const { return kind == Array ? arr.size() : obj.size(); }
  bool has(const std::string& key) const { return obj.count(key) != 0; }
  uint64_t u64() const { return uint64_t(num); }
};

class JParser {
 public:
  explicit JParser(const std::string& text) : s_(text) {}
  JValue Parse() {
    JValue v = Value();
    Ws();
    if (i_ != s_.size()) std::abort();
    return v;
  }

 private:
  void Ws() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t')) ++i_;
  }
  char Peek() {
    Ws();
    return i_ < s_.size() ? s_[i_] : '\0';
  }
  void Expect(char c) {
    if (Peek() != c) std::abort();
    ++i_;
  }
  std::string Str() {
    Expect('"');
    std::string out;
    while (i_ < s_.size() && s_[i_] != '"') {
      char c = s_[i_++];
      if (c == '\\') {
        char e = s_[i_++];
        switch (e) {
          case 'n': out += '\n'; break;
          case 't': out += '\t'; break;
          case 'r': out += '\r'; break;
          case 'u': {
            unsigned code = std::stoul(s_.substr(i_, 4), nullptr, 16);
            i_ += 4;
            out += char(code);  // test data keeps to one byte per escape
            break;
          }
          default: out += e;
        }
      } else {
        out += c;
      }
    }
    ++i_;
    return out;
  }
  JValue Value() {
    JValue v;
    char c = Peek();
    if (c == '{') {
      v.kind = JValue::Object;
      ++i_;
      if (Peek() == '}') { ++i_; return v; }
      for (;;) {
        std::string key = Str();
        Expect(':');
        v.obj[key] = Value();
        if (Peek() == ',') { ++i_; continue; }
        Expect('}');
        return v;
      }
    }
    if (c == '[') {
      v.kind = JValue::Array;
      ++i_;
      if (Peek() == ']') { ++i_; return v; }
      for (;;) {
        v.arr.push_back(Value());
        if (Peek() == ',') { ++i_; continue; }
        Expect(']');
        return v;
      }
    }
    if (c == '"') {
      v.kind = JValue::String;
      v.str = Str();
      return v;
    }
    if (s_.compare(i_, 4, "true") == 0) { i_ += 4; v.kind = JValue::Bool; v.b = true; return v; }
    if (s_.compare(i_, 5, "false") == 0) { i_ += 5; v.kind = JValue::Bool; return v; }
    if (s_.compare(i_, 4, "null") == 0) { i_ += 4; return v; }
    size_t used = 0;
    v.kind = JValue::Number;
    v.num = std::stod(s_.substr(i_), &used);
    i_ += used;
    return v;
  }
  std::string s_;
  size_t i_ = 0;
};

inline JValue LoadJson(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return JParser(ss.str()).Parse();
}
