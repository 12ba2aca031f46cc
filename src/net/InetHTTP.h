// HTTP downloads through the system's internet library, bound at run time.
//
// This header holds the portable half: the abort flag, the texts a download
// reports, the partial-file name, the block and progress arithmetic, the
// Content-Range check of a resumed transfer, the transfer-rate text and the
// error-page test. The download itself is Win32 (InetHTTPWin.h).
#pragma once

#include <cstdint>
#include <string>

// One process-wide byte: a running download stops when it is set. Cleared
// before a download; set by the stub window's first close request and at the
// end of its message loop.
extern volatile uint8_t DownloadAbort;

void SetDownloadAbort(bool aborted);
bool DownloadAborted();

// Releases the internet library when it was loaded.
void UnbindWinInet();

// ---- Texts -------------------------------------------------------------------

const char kTextWinInetMissing[] = "Unable to initialize \"WinINet.dll\"";
const char kTextUnableToOpen[] = "Unable to open URL: ";
const char kTextFileNotFound[] = "<P><P>File Not Found !";
const char kTextDownloadAborted[] = "Download Aborted";
const char kTextErrorPage[] = "<b>404 File Not Found...</b><P><P>URL:  ";

// URL + "<P><P>File Not Found !": no length, or a length of 0.
std::string FileNotFoundText(const std::string& url);
// The transfer ended (dropped connection, failed read) before the announced
// length: Done of Total bytes arrived.
std::string IncompleteDownloadText(const std::string& url, int64_t done, int64_t total);
// A block could not be written to the partial file, or the finished file
// could not take the target's name.
std::string WriteFailedText(const std::string& path);

// ---- Partial files -------------------------------------------------------------

// Target + "." + decimal(Total + Stamp), the sum taken as a signed 32-bit
// number: the same server file (length and last-modified stamp) always maps
// to the same name, so a later run finds what an earlier one left.
std::string PartialFileName(const std::string& target, int32_t total, uint32_t stamp);
// Whether the file name Candidate (no folder) is a partial file of the target
// named TargetName (no folder): TargetName + "." + at least one character,
// ASCII letters compared without case. A mask "name.*" also finds "name"
// itself (and short 8.3 aliases) on Windows; this keeps the target out.
bool IsPartialFileOf(const std::string& targetName, const std::string& candidate);

// ---- Blocks and progress ---------------------------------------------------------

const int32_t kMaxBlock = 10240;
const int32_t kMaxProgressRange = 65535;  // the progress bar's 16-bit range

// The smaller of 10240 and Total div 10, at least 1 byte.
int32_t DownloadBlockSize(int64_t total);
// Num / Den rounded to the nearest integer, halves to the even neighbour
// (Den > 0, Num >= 0).
int64_t RoundHalfEven(int64_t num, int64_t den);

// The progress of one download in bar units. A block is one unit, as long as
// the blocks fit the bar; a larger file takes Scale blocks per unit so that
// the range stays within 65535 and the bar still ends full.
struct TDownloadProgress {
  int64_t units = 0;  // blocks read so far, counted from the start position
  int64_t scale = 1;  // blocks per bar unit
  int32_t range = 1;  // bar range for the set-up call
  int32_t position = 0;

  // Range = round(Total / Block) + 1 and Position = round(Done / Block),
  // both divided by Scale.
  void Start(int64_t total, int64_t done, int32_t block);
  // One block arrived: the number of one-unit steps the bar moves now.
  int32_t OnBlock();
};

// ---- Resume ----------------------------------------------------------------------

// "Range: bytes=Done-" with its line end, for the headers of a request.
std::string RangeRequestHeader(int64_t done);
// Reads "bytes FIRST-LAST/LENGTH" (LENGTH may be "*", given as -1).
bool ParseContentRange(const std::string& text, int64_t& first, int64_t& last, int64_t& length);
// A 206 answer continues a partial file of Done bytes of a Total-byte file
// only when its range starts at Done and runs to the end of that same file.
bool RangeAnswerContinues(int32_t status, const std::string& contentRange, int64_t done, int64_t total);

// ---- Transfer rate ----------------------------------------------------------------

// The last five tick stamps (ms) and byte counts.
struct TRateWindow {
  int32_t ticks[5] = {0, 0, 0, 0, 0};
  int32_t bytes[5] = {0, 0, 0, 0, 0};
};

// "Done/Total Bytes   " and, once time has passed, the rate over the last
// five reads in KB per second with two decimals. First restarts the windows
// at Tick. The Win32 half feeds it the system's tick count.
void FormatTransferRateAt(TRateWindow& window, uint32_t tick, bool first, int64_t total, int64_t done,
                          int32_t lastRead, std::string& text);

// ---- Error pages --------------------------------------------------------------------

// Result = Default, or the 404 text with Url when Content holds an HTML
// title ("<TITLE" and "</TITLE", any letter case).
void DetectErrorPageIn(const std::string& content, const std::string& url, std::string& result,
                       const std::string& def);
