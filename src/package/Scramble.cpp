// Token scrambling. Stored form: every byte as two hexadecimal digits, each
// character then shifted up by 50. The bytes D[1..n] are
//   D1, p, q, p filler bytes, the token, q-1 filler bytes, sum, Dn
// where D2..D[n-1] are XORed with D1 XOR Dn, and "sum" (stored, i.e. after the
// XOR) is the 8-bit sum of all other stored bytes.
#include <vector>

#include "package/PackX.h"
#include "util/Utils.h"

std::string Descramble(const std::string& text) {
  std::string fallback = RandomNumberText(0, 99998);
  std::string shifted = text;
  for (char& c : shifted) c = char(uint8_t(c) - 50);
  std::vector<uint8_t> d;
  for (size_t i = 0; i < shifted.size(); i += 2) {
    d.push_back(uint8_t(HexToInt(shifted.substr(i, 2))));
  }
  size_t n = d.size();
  if (n <= 4) return fallback;
  uint8_t sum = 0;
  for (size_t i = 0; i < n; ++i) {
    if (i != n - 2) sum = uint8_t(sum + d[i]);
  }
  if (sum != d[n - 2]) return fallback;
  uint8_t k = d[0] ^ d[n - 1];
  for (size_t i = 1; i + 1 < n; ++i) d[i] ^= k;
  // 1-based: the token is the n - p - q - 4 bytes from D[p + 4].
  int64_t p = d[1], q = d[2];
  int64_t count = int64_t(n) - p - q - 4;
  int64_t first = p + 4;  // 1-based
  if (count <= 0 || first > int64_t(n)) return std::string();
  if (first - 1 + count > int64_t(n)) count = int64_t(n) - (first - 1);
  return std::string(d.begin() + (first - 1), d.begin() + (first - 1 + count));
}

std::string Scramble(const std::string& token, uint32_t seed) {
  // A small deterministic generator: the same token and seed give the same text.
  uint32_t state = seed * 2654435761u + 0x9E3779B9u;
  for (unsigned char c : token) state = (state ^ c) * 16777619u;
  auto next = [&state]() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return uint8_t(state >> 8);
  };
  uint8_t p = uint8_t(1 + next() % 6);
  uint8_t q = uint8_t(1 + next() % 6);
  std::vector<uint8_t> d;
  d.push_back(next());
  d.push_back(p);
  d.push_back(q);
  for (int i = 0; i < p; ++i) d.push_back(next());
  d.insert(d.end(), token.begin(), token.end());
  for (int i = 0; i + 1 < q; ++i) d.push_back(next());
  d.push_back(0);  // sum, below
  d.push_back(next());
  size_t n = d.size();
  uint8_t k = d[0] ^ d[n - 1];
  for (size_t i = 1; i + 2 < n; ++i) d[i] ^= k;
  uint8_t sum = 0;
  for (size_t i = 0; i < n; ++i) {
    if (i != n - 2) sum = uint8_t(sum + d[i]);
  }
  d[n - 2] = sum;
  // The reader XORs the sum byte too before it reads p and q; the sum is
  // checked on the stored bytes, so it is stored as is.
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : d) {
    out += char(kHex[b >> 4] + 50);
    out += char(kHex[b & 15] + 50);
  }
  return out;
}
