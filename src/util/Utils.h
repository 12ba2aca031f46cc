// Utils: the small shared vocabulary of the stub: first-character-delimited
// lists, ASCII case-insensitive search and replace, numbers, command-line
// switches, path normalisation and the waiting loop.
//
// Everything here is portable. The Win32 half (process command line, system
// folders, message pumping) lives in UtilsWin.h and feeds these functions.
//
// Strings are 8-bit ANSI text. Positions are 1-based, 0 means "not found".
// Case folding touches the ASCII letters only.
#ifndef KORVAN_UTIL_UTILS_H
#define KORVAN_UTIL_UTILS_H

#include <cstdint>
#include <string>

// ---- First-character-delimited lists -------------------------------------
// "|a|b|c|": the first character is the delimiter and closes every token.

// 0 when List is empty or does not end with its first character.
int ListTokenCount(const std::string& list);
// Token Index (from 0); Default for a missing or empty token. A trailing text
// without a closing delimiter is not a token.
std::string ListGetToken(const std::string& list, int index,
                         const std::string& def = std::string());
// Sets token Index, padding with empty tokens up to it. An empty List starts
// as "|". The caller keeps the delimiter out of Value.
void ListSetToken(std::string& list, int index, const std::string& value);
// Value of the "key=value" token; one blank after each delimiter and one blank
// before each "=" are ignored. A present empty value gives "", not Default.
std::string ListGetValue(const std::string& list, const std::string& key,
                         const std::string& def);

// ---- Search and compare ----------------------------------------------------
int PosText(const std::string& sub, const std::string& s);
int PosFrom(const std::string& sub, const std::string& s, int start);
int PosFromText(const std::string& sub, const std::string& s, int start);
// Position of the last occurrence, counted from the start (case-sensitive).
int LastPos(const std::string& sub, const std::string& s);
// Case-insensitive; the last occurrence counted from the end: 1 means S ends
// with Sub.
int LastPosFromEndText(const std::string& sub, const std::string& s);

// Removes every character of code 32 or less from both ends.
std::string Trim(const std::string& s);
std::string UpperCaseAscii(const std::string& s);
bool SameText(const std::string& a, const std::string& b);
bool SameTrimmedText(const std::string& a, const std::string& b);

// Every occurrence, left to right, never rescanning text just inserted or
// text that closes up around a removed occurrence. Empty Old: S unchanged.
std::string ReplaceAll(const std::string& s, const std::string& oldText,
                       const std::string& newText);
std::string ReplaceAllText(const std::string& s, const std::string& oldText,
                           const std::string& newText);
// Strips enclosing double quotes; Loose also drops a lone leading or
// trailing one.
std::string Unquote(const std::string& s, bool loose);

// ---- Numbers ---------------------------------------------------------------
int MinInt(int a, int b);
int MaxInt(int a, int b);
int ClampInt(int value, int low, int high);
// Pads with "0" in front up to Width characters; a minus sign counts as a
// character and the zeros go before it (-5 at width 3 is "0-5").
std::string ZeroPadInt(int64_t number, int width);
// Decimal text of a number drawn uniformly from Min..Max (Min when Max < Min).
std::string RandomNumberText(int64_t min, int64_t max);
// Reads hexadecimal digits; a character that is no digit counts as -1 in its
// place. Low 32 bits of the sum.
int32_t HexToInt(const std::string& text);
// Decimal only: optional sign then digits, no blanks; overflow fails.
bool TryStrToInt64(const std::string& text, int64_t& out);
int64_t StrToInt64Def(const std::string& text, int64_t def);
std::string IntToStr(int64_t value);

// ---- Command line ----------------------------------------------------------
// The arguments of CommandLine without the program's own path.
std::string CommandLineArgsOf(const std::string& commandLine,
                              const std::string& exePath);
// Plain case-insensitive substring test ("/hide" also matches "/hideX").
bool SwitchPresentIn(const std::string& args, const std::string& sw);
// Text after Switch: a quoted value up to its closing quote, else up to the
// next blank or "/". "TRUE" when Switch ends the line; "" when absent.
std::string SwitchValueIn(const std::string& args, const std::string& sw);
int64_t SwitchIntIn(const std::string& args, const std::string& sw,
                    int64_t def);

// ---- Paths -----------------------------------------------------------------
// Drops one trailing "\" from a path longer than 2, then adds one when Add.
std::string SetTrailingBackslash(const std::string& path, bool add);
// Reduces every run of backslashes after the first character to one (a UNC
// "\\" survives); NoTrailing then drops one trailing "\".
std::string CollapseBackslashes(const std::string& path, bool noTrailing);
// Text after the last "\" or ":".
std::string FilePartOf(const std::string& path);
// File part cut before its last "."; a name without "." stays whole.
std::string FileBaseName(const std::string& path);
// From the last "." of the file part on, "" if it has none.
std::string FileExtOf(const std::string& path);

// ---- Waiting ---------------------------------------------------------------
// What a wait needs from the platform: a 32-bit millisecond tick that wraps,
// a pump for one pending message, and a sleep.
struct WaitOps {
  uint32_t (*tickCount)();
  void (*pumpOne)();
  void (*sleepMs)(uint32_t milliseconds);
};
// Pumps and sleeps in steps of Milliseconds/10 (1..50 ms) until more than
// Milliseconds have passed; always pumps and sleeps at least once.
void DelayWith(uint32_t milliseconds, const WaitOps& ops);

#endif

// Milliseconds of a clock that only moves forward (the system's tick count),
// for the durations written to the trace.
uint32_t TickCountMs();
