#include "net/InetHTTP.h"

#include <cmath>
#include <cstdio>

#include "util/Utils.h"

volatile uint8_t DownloadAbort = 0;

void SetDownloadAbort(bool aborted) { DownloadAbort = aborted ? 1 : 0; }

bool DownloadAborted() { return DownloadAbort != 0; }

std::string FileNotFoundText(const std::string& url) { return url + kTextFileNotFound; }

std::string IncompleteDownloadText(const std::string& url, int64_t done, int64_t total) {
  return url + "<P><P>Download Incomplete: " + IntToStr(done) + "/" + IntToStr(total) + " Bytes";
}

std::string WriteFailedText(const std::string& path) { return "Unable to write file: " + path; }

std::string PartialFileName(const std::string& target, int32_t total, uint32_t stamp) {
  // The sum wraps like the 32-bit addition it stands for.
  const int32_t sum = static_cast<int32_t>(static_cast<uint32_t>(total) + stamp);
  return target + "." + IntToStr(sum);
}

bool IsPartialFileOf(const std::string& targetName, const std::string& candidate) {
  if (targetName.empty() || candidate.size() <= targetName.size() + 1) return false;
  return SameText(candidate.substr(0, targetName.size()), targetName) && candidate[targetName.size()] == '.';
}

int32_t DownloadBlockSize(int64_t total) {
  int64_t block = total / 10;
  if (block > kMaxBlock) block = kMaxBlock;
  // Below 10 bytes a tenth is 0; a read of 0 bytes would end the transfer.
  if (block < 1) block = 1;
  return static_cast<int32_t>(block);
}

int64_t RoundHalfEven(int64_t num, int64_t den) {
  const int64_t q = num / den;
  const int64_t twice = 2 * (num % den);
  if (twice > den) return q + 1;
  if (twice == den) return q + (q & 1);
  return q;
}

void TDownloadProgress::Start(int64_t total, int64_t done, int32_t block) {
  if (block < 1) block = 1;
  if (total < 0) total = 0;
  if (done < 0) done = 0;
  const int64_t blocks = RoundHalfEven(total, block) + 1;
  scale = (blocks + kMaxProgressRange - 1) / kMaxProgressRange;
  if (scale < 1) scale = 1;
  range = static_cast<int32_t>((blocks + scale - 1) / scale);
  units = RoundHalfEven(done, block);
  position = static_cast<int32_t>(units / scale);
}

int32_t TDownloadProgress::OnBlock() {
  const int64_t before = units / scale;
  ++units;
  return static_cast<int32_t>(units / scale - before);
}

std::string RangeRequestHeader(int64_t done) { return "Range: bytes=" + IntToStr(done) + "-\r\n"; }

namespace {

// Decimal digits from Pos on; false when there are none or they overflow.
bool ReadNumber(const std::string& text, size_t& pos, int64_t& value) {
  size_t start = pos;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
  return pos > start && TryStrToInt64(text.substr(start, pos - start), value);
}

}  // namespace

bool ParseContentRange(const std::string& textIn, int64_t& first, int64_t& last, int64_t& length) {
  const std::string text = Trim(textIn);
  if (text.size() < 6 || !SameText(text.substr(0, 6), "bytes ")) return false;
  size_t pos = 6;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  if (!ReadNumber(text, pos, first) || pos >= text.size() || text[pos] != '-') return false;
  ++pos;
  if (!ReadNumber(text, pos, last) || pos >= text.size() || text[pos] != '/') return false;
  ++pos;
  if (pos + 1 == text.size() && text[pos] == '*') {
    length = -1;
  } else if (!ReadNumber(text, pos, length) || pos != text.size()) {
    return false;
  }
  return first <= last && (length < 0 || last < length);
}

bool RangeAnswerContinues(int32_t status, const std::string& contentRange, int64_t done, int64_t total) {
  int64_t first = 0, last = 0, length = 0;
  if (status != 206 || !ParseContentRange(contentRange, first, last, length)) return false;
  return first == done && last == total - 1 && length == total;
}

namespace {

void Push(int32_t (&slots)[5], int32_t value) {
  for (int i = 0; i < 4; ++i) slots[i] = slots[i + 1];
  slots[4] = value;
}

}  // namespace

void FormatTransferRateAt(TRateWindow& window, uint32_t tick, bool first, int64_t total, int64_t done,
                          int32_t lastRead, std::string& text) {
  const int32_t now = static_cast<int32_t>(tick);
  if (first) {
    for (int i = 0; i < 5; ++i) {
      window.ticks[i] = now;
      window.bytes[i] = 0;
    }
  }
  text = IntToStr(done) + "/" + IntToStr(total) + " Bytes   ";
  Push(window.ticks, now);
  // Differences of the wrapping tick count stay right across the wrap.
  const int32_t elapsed = static_cast<int32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(window.ticks[0]));
  Push(window.bytes, lastRead);
  double bytes = 0;
  for (int i = 0; i < 5; ++i) bytes += window.bytes[i];
  if (elapsed > 0) {
    const double rate = bytes / (elapsed / 1000.0) / 1024.0;
    // Two decimals by integer arithmetic rather than printf, whose
    // floating-point formatting would double the size of the stub. Five
    // windows of 32-bit reads over at least a millisecond stay far below
    // the 64-bit range.
    const int64_t hundredths = static_cast<int64_t>(std::floor(rate * 100.0 + 0.5));
    text += IntToStr(hundredths / 100) + "." + ZeroPadInt(hundredths % 100, 2) + " KB/Sec";
  }
}

void DetectErrorPageIn(const std::string& content, const std::string& url, std::string& result,
                       const std::string& def) {
  result = def;
  if (PosText("<TITLE", content) > 0 && PosText("</TITLE", content) > 0) result = kTextErrorPage + url;
}
