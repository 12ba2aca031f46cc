// Markup: line and tab mark-up, and bold tags turned into character ranges.
#include "msgbox/Markup.h"

#include <deque>

#include "util/Utils.h"

std::string MarkupToText(const std::string& text) {
  // Each pass runs over the whole result of the previous one, so "<<P>P>"
  // stays "<", CR LF, "P>": a pass never rescans what it produced.
  std::string s = ReplaceAll(text, "\\\\n", "\r\n");
  s = ReplaceAll(s, "\\\\t", "\t");
  s = ReplaceAllText(s, "<P>", "\r\n");
  s = ReplaceAllText(s, "<T>", "\t");
  return s;
}

namespace {

// ASCII case-insensitive match of an upper-case tag at Pos.
bool TagAt(const std::string& s, size_t pos, const char* tag) {
  for (size_t k = 0; tag[k]; ++k) {
    if (pos + k >= s.size()) return false;
    char c = s[pos + k];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != tag[k]) return false;
  }
  return true;
}

}  // namespace

void ExtractBoldRanges(std::string& text, std::vector<uint16_t>& starts,
                       std::vector<uint16_t>& ends) {
  starts.clear();
  ends.clear();
  std::string s = MarkupToText(text);
  // The box's caption header starts "<<b>" so that a title can never be
  // taken for something else; the extra "<" goes here, exactly this case.
  if (s.compare(0, 4, "<<b>") == 0) s.erase(0, 1);

  // One pass over the text, tags dropped as they are met, so every offset is
  // an offset into the final text. Each opening tag pairs with the first
  // closing tag after it that no earlier opening tag has taken; a closing
  // tag with no opening tag before it is dropped and spoils nothing after it.
  std::string plain;
  plain.reserve(s.size());
  std::deque<size_t> open;
  size_t i = 0;
  while (i < s.size()) {
    if (s[i] == '<' && TagAt(s, i, "<B>")) {
      open.push_back(plain.size());
      i += 3;
    } else if (s[i] == '<' && TagAt(s, i, "</B>")) {
      if (!open.empty()) {
        const size_t start = open.front();
        open.pop_front();
        const size_t end = plain.size();
        if (end > start && end <= 0xFFFF) {
          starts.push_back(static_cast<uint16_t>(start));
          ends.push_back(static_cast<uint16_t>(end));
        }
      }
      i += 4;
    } else {
      plain += s[i++];
    }
  }
  text.swap(plain);
}
