// Common: the placeholders of paths and texts in the agent's settings
// ("<Application Folder>", "<WinSysDir>", "<Date=6>" ...) expanded into real
// text, the three install folders they refer to, and the local clock.
//
// The expansion engine and the date arithmetic are portable and take what
// they need from the machine through TMacroSources. The Win32 half
// (CommonWin.cpp) supplies the real sources and the plain entry points.
#pragma once

#include <cstdint>
#include <string>

// ---- Portable --------------------------------------------------------------

// Values a macro can ask the machine for. Folders come without a trailing
// backslash; "" when the machine has none.
enum TMacroSource {
  kSrcRegisteredOwner,
  kSrcRegisteredOrganization,
  kSrcWindowsDir,
  kSrcSystemDir,
  kSrcSystem16Dir,
  kSrcProgramFilesDir,
  kSrcCommonFilesDir,
  kSrcStartMenuDir,
  kSrcFontDir,
  kSrcExeDir,
  kSrcOriginDir,
  kSrcTempDir,
  kSrcUserDir,
  kSrcUserAppDataDir,
  kSrcMyDocumentsDir,
  kSrcUserStartMenuDir,
  kSrcUserDesktopDir,
  kSrcDocumentsAndSettingsDir,
  kSrcAllUsersDir,
  kSrcAllUsersAppDataDir,
  kSrcAllUsersDocumentsDir,
  kSrcAllUsersStartMenuDir,
  kSrcAllUsersDesktopDir,
  kSrcCount
};

// Where the engine gets its values. Each is asked afresh whenever a macro
// that needs it is met; nothing is kept between expansions.
struct TMacroSources {
  std::string (*value)(TMacroSource which);
  // DateMacroText of Code for the current moment.
  std::string (*dateText)(char code);
  // Full path of Path against the current folder, "." and ".." folded;
  // "" when the platform cannot make one.
  std::string (*fullPath)(const std::string& path);
};

// The three install folders the agent's settings name. Stored as given.
void SetInstallFolders(const std::string& applicationFolder, const std::string& commonFolder,
                       const std::string& auxiliaryFolder);
std::string ApplicationFolder();
std::string CommonFolder();
std::string AuxiliaryFolder();

// The whole expansion: date, names, folders, install markers, doubled
// backslashes and, when FoldRelative, "..". Suffix follows a folder value
// unless the value is empty, or the macro ends the text, stands before a
// blank or closes a list item.
std::string ExpandMacrosWith(const std::string& text, const std::string& suffix, bool foldRelative,
                             const TMacroSources& sources);
// Folds the paths that hold "\.." or "..\": each such item of a "|" or ","
// list, or the whole text.
std::string FoldRelativePathWith(const std::string& text, const TMacroSources& sources);

// A local date and time as the clock gives it.
struct TLocalTime {
  int year, month, day;  // month 1..12
  int hour, minute, second, millisecond;
};

// What the user's locale contributes to date texts.
struct TDateLocale {
  std::string longMonthNames[12];
  std::string dateSeparator;
  std::string timeSeparator;
};

// Days from 30 December 1899 to the date (negative before it).
int64_t DayNumberOf(int year, int month, int day);
// Seconds since 30 December 1899 00:00, rounded to the nearest second, a
// half second to the even one.
int64_t NowSecondsAt(const TLocalTime& now);
// Whole days between Now and 1 January 2000 00:00, either way round.
int64_t DaysFrom2000(const TLocalTime& now);
// The text of one date code ("#", "0".."7"); "" for any other code.
std::string DateMacroTextAt(char code, const TLocalTime& now, const TDateLocale& locale);

// ---- Win32 -----------------------------------------------------------------

std::string ExpandMacros(const std::string& text, const std::string& suffix, bool foldRelative);
std::string DateMacroText(char code);
std::string FoldRelativePath(const std::string& text);
// The local clock as seconds since 30 December 1899 00:00.
int64_t NowSeconds();

// Folder sources of the macros, each without trailing backslash.
std::string GetSystem16Dir();
std::string GetFontDir();
std::string GetOriginDir();
std::string GetProgramFilesDir();
std::string GetCommonFilesDir();
std::string GetStartMenuDir();

// The machine's sources behind ExpandMacros.
const TMacroSources& WinMacroSources();
