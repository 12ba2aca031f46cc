// Portable half of Utils: lists, search and replace, numbers, switches, paths
// and the waiting loop. No platform calls here.
#include "util/Utils.h"

#include <ctime>

namespace {

inline char upperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline bool isTrimmed(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

// 0-based index of the first occurrence of Sub in S at or after From;
// npos when none. An empty Sub is never found, as with the classic Pos.
size_t findFrom(const std::string& sub, const std::string& s, size_t from,
                bool fold) {
  const size_t n = sub.size();
  if (n == 0 || from > s.size() || s.size() - from < n) return std::string::npos;
  if (!fold) return s.find(sub, from);
  for (size_t i = from; i + n <= s.size(); ++i) {
    size_t k = 0;
    while (k < n && upperAscii(s[i + k]) == upperAscii(sub[k])) ++k;
    if (k == n) return i;
  }
  return std::string::npos;
}

size_t findLast(const std::string& sub, const std::string& s, bool fold) {
  const size_t n = sub.size();
  if (n == 0 || n > s.size()) return std::string::npos;
  for (size_t i = s.size() - n + 1; i-- > 0;) {
    size_t k = 0;
    while (k < n && (fold ? upperAscii(s[i + k]) == upperAscii(sub[k])
                          : s[i + k] == sub[k]))
      ++k;
    if (k == n) return i;
  }
  return std::string::npos;
}

inline int toPos(size_t index) {
  return index == std::string::npos ? 0 : static_cast<int>(index) + 1;
}

int posFromImpl(const std::string& sub, const std::string& s, int start,
                bool fold) {
  if (start < 1 || static_cast<size_t>(start) > s.size()) return 0;
  return toPos(findFrom(sub, s, static_cast<size_t>(start - 1), fold));
}

// Continues after each replaced occurrence, so neither the inserted text nor
// text that closes up around a removed one is matched again: removing "ab"
// from "aabb" leaves "ab".
std::string replaceImpl(const std::string& s, const std::string& oldText,
                        const std::string& newText, bool fold) {
  if (oldText.empty()) return s;
  std::string result;
  size_t from = 0;
  for (;;) {
    const size_t p = findFrom(oldText, s, from, fold);
    if (p == std::string::npos) break;
    result.append(s, from, p - from);
    result += newText;
    from = p + oldText.size();
  }
  result.append(s, from, std::string::npos);
  return result;
}

// Process-wide generator, seeded once from the clock. Re-seeding on every
// call would hand out the same number to calls within one clock tick.
uint64_t nextRandom() {
  static uint64_t state = 0;
  static bool seeded = false;
  if (!seeded) {
    // The C clocks rather than <chrono>, whose library part would bring the
    // exception machinery into the stub. The addresses of a static and of a
    // local differ between processes where the system moves images.
    int local = 0;
    state = static_cast<uint64_t>(std::time(nullptr)) << 20 ^ static_cast<uint64_t>(std::clock());
    state ^= reinterpret_cast<uintptr_t>(&state) ^ (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&local)) << 32);
    seeded = true;
  }
  // splitmix64
  state += 0x9E3779B97F4A7C15ULL;
  uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// Uniform in 0..span without modulo bias.
uint64_t randomUpTo(uint64_t span) {
  if (span == UINT64_MAX) return nextRandom();
  const uint64_t range = span + 1;
  const uint64_t limit = UINT64_MAX - (UINT64_MAX % range);
  uint64_t r;
  do {
    r = nextRandom();
  } while (r >= limit);
  return r % range;
}

}  // namespace

// ---- Lists -------------------------------------------------------------------

int ListTokenCount(const std::string& list) {
  if (list.empty() || list.back() != list.front()) return 0;
  int count = 0;
  for (size_t i = 1; i < list.size(); ++i)
    if (list[i] == list[0]) ++count;
  return count;
}

std::string ListGetToken(const std::string& list, int index,
                         const std::string& def) {
  if (list.empty() || index < 0) return def;
  const char d = list[0];
  size_t p = 0;
  for (int counter = 0;; ++counter) {
    const size_t q = list.find(d, p + 1);
    if (q == std::string::npos) return def;
    if (counter == index) {
      if (q == p + 1) return def;
      return list.substr(p + 1, q - p - 1);
    }
    p = q;
  }
}

void ListSetToken(std::string& list, int index, const std::string& value) {
  if (list.empty()) list = "|";
  const char d = list[0];
  // Count closed tokens rather than ListTokenCount, so that a list missing
  // its final delimiter keeps the tokens it does have.
  int n = 0;
  for (size_t i = 1; i < list.size(); ++i)
    if (list[i] == d) ++n;
  if (index >= n) n = index + 1;
  std::string rebuilt(1, d);
  for (int i = 0; i < n; ++i) {
    rebuilt += (i == index) ? value : ListGetToken(list, i, std::string());
    rebuilt += d;
  }
  list.swap(rebuilt);
}

std::string ListGetValue(const std::string& list, const std::string& key,
                         const std::string& def) {
  if (list.size() <= 2 || list.back() != list.front()) return def;
  const std::string d(1, list[0]);
  std::string k = d + key;
  if (k.back() != '=') k += '=';
  std::string work = ReplaceAll(list, d + " ", d);
  work = ReplaceAll(work, " =", "=");
  const int p = PosText(k, work);
  if (p == 0) return def;
  const size_t start = static_cast<size_t>(p - 1) + k.size();
  const size_t end = work.find(d[0], start);
  return work.substr(start, end == std::string::npos ? std::string::npos
                                                     : end - start);
}

// ---- Search and compare ------------------------------------------------------

int PosText(const std::string& sub, const std::string& s) {
  return toPos(findFrom(sub, s, 0, true));
}

int PosFrom(const std::string& sub, const std::string& s, int start) {
  return posFromImpl(sub, s, start, false);
}

int PosFromText(const std::string& sub, const std::string& s, int start) {
  return posFromImpl(sub, s, start, true);
}

int LastPos(const std::string& sub, const std::string& s) {
  return toPos(findLast(sub, s, false));
}

int LastPosFromEndText(const std::string& sub, const std::string& s) {
  const size_t i = findLast(sub, s, true);
  if (i == std::string::npos) return 0;
  return static_cast<int>(s.size() - i - sub.size()) + 1;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && isTrimmed(s[b])) ++b;
  while (e > b && isTrimmed(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string UpperCaseAscii(const std::string& s) {
  std::string r(s);
  for (char& c : r) c = upperAscii(c);
  return r;
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (upperAscii(a[i]) != upperAscii(b[i])) return false;
  return true;
}

bool SameTrimmedText(const std::string& a, const std::string& b) {
  return SameText(Trim(a), Trim(b));
}

std::string ReplaceAll(const std::string& s, const std::string& oldText,
                       const std::string& newText) {
  return replaceImpl(s, oldText, newText, false);
}

std::string ReplaceAllText(const std::string& s, const std::string& oldText,
                           const std::string& newText) {
  return replaceImpl(s, oldText, newText, true);
}

std::string Unquote(const std::string& s, bool loose) {
  if (s == "\"") return std::string();
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"')
    return s.substr(1, s.size() - 2);
  if (!loose) return s;
  std::string r(s);
  if (r.size() > 1 && r.front() == '"') r.erase(0, 1);
  if (r.size() > 1 && r.back() == '"') r.pop_back();
  return r;
}

// ---- Numbers -----------------------------------------------------------------

int MinInt(int a, int b) { return a < b ? a : b; }
int MaxInt(int a, int b) { return a > b ? a : b; }

int ClampInt(int value, int low, int high) {
  if (value < low) value = low;
  if (value > high) value = high;
  return value;
}

std::string ZeroPadInt(int64_t number, int width) {
  std::string text = IntToStr(number);
  if (width > static_cast<int>(text.size()))
    text.insert(0, static_cast<size_t>(width) - text.size(), '0');
  return text;
}

std::string RandomNumberText(int64_t min, int64_t max) {
  if (max <= min) return IntToStr(min);
  // Unsigned arithmetic: the span of the full 64-bit range still fits.
  const uint64_t span = static_cast<uint64_t>(max) - static_cast<uint64_t>(min);
  return IntToStr(static_cast<int64_t>(static_cast<uint64_t>(min) + randomUpTo(span)));
}

int32_t HexToInt(const std::string& text) {
  static const char digits[] = "0123456789ABCDEF";
  const std::string t = Trim(UpperCaseAscii(text));
  // Wrapping unsigned sum: only the low 32 bits are returned.
  uint64_t sum = 0, weight = 1;
  for (size_t i = t.size(); i-- > 0;) {
    int64_t value = -1;
    for (int k = 0; k < 16; ++k)
      if (digits[k] == t[i]) value = k;
    sum += static_cast<uint64_t>(value) * weight;
    weight *= 16;
  }
  return static_cast<int32_t>(static_cast<uint32_t>(sum));
}

bool TryStrToInt64(const std::string& text, int64_t& out) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return false;
  const uint64_t limit = negative ? (uint64_t(1) << 63) : uint64_t(INT64_MAX);
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (limit - digit) / 10) return false;
    value = value * 10 + digit;
  }
  out = negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
  return true;
}

int64_t StrToInt64Def(const std::string& text, int64_t def) {
  int64_t v;
  return TryStrToInt64(text, v) ? v : def;
}

std::string IntToStr(int64_t value) {
  char buf[24];
  char* p = buf + sizeof buf;
  uint64_t u = value < 0 ? 0 - static_cast<uint64_t>(value)
                         : static_cast<uint64_t>(value);
  do {
    *--p = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (value < 0) *--p = '-';
  return std::string(p, buf + sizeof buf);
}

// ---- Command line ------------------------------------------------------------

namespace {

// Span of the first argument of a command line by the platform's rule for
// the program name: a quoted text up to its closing quote, else up to the
// first blank or tab. Returns the end index (exclusive); Begin gets the start.
size_t firstArgumentEnd(const std::string& s, size_t& begin, std::string& arg) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  begin = i;
  if (i < s.size() && s[i] == '"') {
    const size_t close = s.find('"', i + 1);
    const size_t end = close == std::string::npos ? s.size() : close + 1;
    arg = s.substr(i + 1, (close == std::string::npos ? s.size() : close) - i - 1);
    return end;
  }
  size_t e = i;
  while (e < s.size() && s[e] != ' ' && s[e] != '\t') ++e;
  arg = s.substr(i, e - i);
  return e;
}

}  // namespace

std::string CommandLineArgsOf(const std::string& commandLine,
                              const std::string& exePath) {
  std::string s(commandLine);
  const int p = exePath.empty() ? 0 : PosText(exePath, s);
  if (p > 0) {
    s.erase(static_cast<size_t>(p - 1), exePath.size());
  } else {
    // The program may have been started under a relative or extension-less
    // name ("stub /hide"): drop the first argument when it names this file.
    size_t begin;
    std::string arg;
    const size_t end = firstArgumentEnd(s, begin, arg);
    const std::string own = FilePartOf(exePath);
    const std::string given = FilePartOf(arg);
    if (!own.empty() &&
        (SameText(given, own) || SameText(given, FileBaseName(exePath))))
      s.erase(begin, end - begin);
  }
  do {
    s = Trim(s);
    if (!s.empty() && s.front() == '"') s.erase(0, 1);
    s = Trim(s);
  } while (!s.empty() && s.front() == '"');
  do {
    s = Trim(s);
    if (!s.empty() && s.back() == '"') s.pop_back();
    s = Trim(s);
  } while (!s.empty() && s.back() == '"');
  return Trim(s);
}

bool SwitchPresentIn(const std::string& args, const std::string& sw) {
  return PosText(sw, args) > 0;
}

std::string SwitchValueIn(const std::string& args, const std::string& sw) {
  const int p = PosText(sw, args);
  if (p == 0) return std::string();
  std::string rest = args.substr(static_cast<size_t>(p - 1) + sw.size());
  if (rest.empty()) return "TRUE";
  if (rest.front() == '"') {
    rest.erase(0, 1);
    const size_t close = rest.find('"');
    if (close != std::string::npos) rest.erase(close);
  } else {
    const size_t blank = rest.find_first_of(" \t");
    if (blank != std::string::npos) rest.erase(blank);
    const size_t slash = rest.find('/');
    if (slash != std::string::npos) rest.erase(slash);
  }
  return Trim(rest);
}

int64_t SwitchIntIn(const std::string& args, const std::string& sw,
                    int64_t def) {
  return StrToInt64Def(SwitchValueIn(args, sw), def);
}

// ---- Paths -------------------------------------------------------------------

std::string SetTrailingBackslash(const std::string& path, bool add) {
  std::string r(path);
  if (r.size() > 2 && r.back() == '\\') r.pop_back();
  if (add) r += '\\';
  return r;
}

std::string CollapseBackslashes(const std::string& path, bool noTrailing) {
  if (path.empty()) return path;
  std::string r(1, path[0]);
  for (size_t i = 1; i < path.size(); ++i) {
    if (path[i] == '\\' && r.size() > 1 && r.back() == '\\') continue;
    r += path[i];
  }
  if (noTrailing && !r.empty() && r.back() == '\\') r.pop_back();
  return r;
}

std::string FilePartOf(const std::string& path) {
  const size_t cut = path.find_last_of("\\:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string FileBaseName(const std::string& path) {
  const std::string name = FilePartOf(path);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string FileExtOf(const std::string& path) {
  const std::string name = FilePartOf(path);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

// ---- Waiting -----------------------------------------------------------------

void DelayWith(uint32_t milliseconds, const WaitOps& ops) {
  const int step = ClampInt(static_cast<int>(milliseconds / 10), 1, 50);
  // Elapsed time by unsigned difference: a deadline computed as start + ms
  // would wrap with the 49-day tick counter and end the wait early or never.
  const uint32_t start = ops.tickCount();
  do {
    ops.pumpOne();
    ops.sleepMs(static_cast<uint32_t>(step));
  } while (static_cast<uint32_t>(ops.tickCount() - start) <= milliseconds);
}
