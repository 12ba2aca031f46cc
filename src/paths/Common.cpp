// Path macros: the expansion engine and the date arithmetic. No system calls
// here; every value comes through TMacroSources.
#include "paths/Common.h"

#include <cstring>

#include "util/Utils.h"

namespace {

std::string g_applicationFolder;
std::string g_commonFolder;
std::string g_auxiliaryFolder;

// Values that are not machine sources.
enum { kValEmpty = -1, kValApplication = -2, kValCommon = -3, kValAuxiliary = -4 };

struct MacroRow {
  const char* macro;
  int value;       // a TMacroSource or one of the kVal* above
  int firstChars;  // > 0: only that many leading characters of the value
  bool suffix;     // the caller's suffix under the folder rule
};

const MacroRow kNameRows[] = {
    {"<UserName>", kSrcRegisteredOwner, 0, false},
    {"<CompanyName>", kSrcRegisteredOrganization, 0, false},
    {"<EnteredUserName>", kValEmpty, 0, false},
    {"<EnteredCompanyName>", kValEmpty, 0, false},
    {"<VendorCompanyName>", kValEmpty, 0, false},
    {"<ProjectName>", kValEmpty, 0, false},
    {"<ProgramDescriptiveName>", kValEmpty, 0, false},
    {"<ProgramVersion>", kValEmpty, 0, false},
};

const MacroRow kFirstFolderRows[] = {
    {"<RunTimeDir_1>", kValEmpty, 0, true},
    {"<RunTimeDir_2>", kValEmpty, 0, true},
    {"<RunTimeDir_3>", kValEmpty, 0, true},
    {"<Application Folder>", kValApplication, 0, true},
    {"<Common Folder>", kValCommon, 0, true},
    {"<Auxiliary Folder>", kValAuxiliary, 0, true},
    {"<Windows Directory>", kSrcWindowsDir, 0, true},
    {"<System Directory>", kSrcSystemDir, 0, true},
    {"<System16 Directory>", kSrcSystem16Dir, 0, true},
};

const MacroRow kInstallRows[] = {
    {"<InstallDir>", kValApplication, 0, true},
    {"<InstallCommonDir>", kValCommon, 0, true},
    {"<InstallAuxDir>", kValAuxiliary, 0, true},
};

const MacroRow kMachineRows[] = {
    {"<WinDir>", kSrcWindowsDir, 0, true},
    {"<WinSysDir>", kSrcSystemDir, 0, true},
    {"<WinSys32Dir>", kSrcSystemDir, 0, true},
    {"<WinSys16Dir>", kSrcSystem16Dir, 0, true},
    {"<InstallDrive>", kValApplication, 3, false},
    {"<WinDrive>", kSrcWindowsDir, 3, false},
    {"<WinSysDrive>", kSrcSystemDir, 3, false},
    {"<OriginDrive>", kSrcOriginDir, 3, false},
    {"<InstallDisk>", kValApplication, 2, false},
    {"<WinDisk>", kSrcWindowsDir, 2, false},
    {"<WinSysDisk>", kSrcSystemDir, 2, false},
    {"<OriginDisk>", kSrcOriginDir, 2, false},
    {"<ProgramFilesDir>", kSrcProgramFilesDir, 0, true},
    {"<CommonFilesDir>", kSrcCommonFilesDir, 0, true},
    {"<StartMenuDir>", kSrcStartMenuDir, 0, true},
    {"<FontDir>", kSrcFontDir, 0, true},
    {"<SrcDir>", kSrcExeDir, 0, true},
    {"<OriginDir>", kSrcOriginDir, 0, true},
    {"<TempDir>", kSrcTempDir, 0, true},
    {"<UserDir>", kSrcUserDir, 0, true},
    {"<UserAppDataDir>", kSrcUserAppDataDir, 0, true},
    {"<MyDocumentsDir>", kSrcMyDocumentsDir, 0, true},
    {"<UserStartMenuDir>", kSrcUserStartMenuDir, 0, true},
    {"<UserDesktopDir>", kSrcUserDesktopDir, 0, true},
    {"<DocumentsAndSettingsDir>", kSrcDocumentsAndSettingsDir, 0, true},
    {"<AllUsersDir>", kSrcAllUsersDir, 0, true},
    {"<AllUsersAppDataDir>", kSrcAllUsersAppDataDir, 0, true},
    {"<AllUsersDocumentsDir>", kSrcAllUsersDocumentsDir, 0, true},
    {"<AllUsersStartMenuDir>", kSrcAllUsersStartMenuDir, 0, true},
    {"<AllUsersDesktopDir>", kSrcAllUsersDesktopDir, 0, true},
};

const char kInstallMarker[] = "<InstallDir>";
const char kAbsoluteMarker[] = "<AbsoluteDir>";

bool isAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string valueOf(int value, const TMacroSources& sources) {
  switch (value) {
    case kValEmpty: return std::string();
    case kValApplication: return g_applicationFolder;
    case kValCommon: return g_commonFolder;
    case kValAuxiliary: return g_auxiliaryFolder;
    default: return sources.value(static_cast<TMacroSource>(value));
  }
}

// The suffix goes unless the macro ends the text, stands before a blank, or
// closes an item of a list whose delimiter opens and closes the text.
bool keepsSuffix(const std::string& t, size_t after) {
  if (after >= t.size()) return false;
  const char c = t[after];
  if (c == ' ') return false;
  if (t.front() == c && t.back() == c && c != '<' && !isAsciiLetter(c)) return false;
  return true;
}

// One replacement pass; the suffix decision is taken on the first occurrence
// and holds for all of them.
void applyRow(std::string& t, const MacroRow& row, const std::string& suffix, const TMacroSources& sources) {
  const int at = PosText(row.macro, t);
  if (at == 0) return;
  std::string v = valueOf(row.value, sources);
  if (row.firstChars > 0 && v.size() > static_cast<size_t>(row.firstChars))
    v.resize(static_cast<size_t>(row.firstChars));
  // A missing folder leaves nothing behind: a lone suffix would turn the
  // rest of the text into a path at the root of the current drive.
  if (row.suffix && !v.empty() && keepsSuffix(t, static_cast<size_t>(at - 1) + std::strlen(row.macro)))
    v += suffix;
  t = ReplaceAllText(t, row.macro, v);
}

template <size_t N>
void applyRows(std::string& t, const MacroRow (&rows)[N], const std::string& suffix, const TMacroSources& sources) {
  for (const MacroRow& row : rows) applyRow(t, row, suffix, sources);
}

bool startsWithTextAt(const std::string& t, size_t at, const char* macro) {
  const size_t n = std::strlen(macro);
  return at + n <= t.size() && SameText(t.substr(at, n), macro);
}

// "<InstallDir>" makes what follows relative to the Application Folder. When
// an absolute folder follows it directly, gluing the two would give a path
// such as "D:\Apps\C:\Windows\x", so the marker goes instead.
void dropMarkerBeforeFolders(std::string& t) {
  const size_t markerLength = std::strlen(kInstallMarker);
  int from = 1;
  for (;;) {
    const int at = PosFromText(kInstallMarker, t, from);
    if (at == 0) return;
    const size_t after = static_cast<size_t>(at - 1) + markerLength;
    bool folderFollows = false;
    for (size_t i = 1; i < sizeof kInstallRows / sizeof kInstallRows[0] && !folderFollows; ++i)
      folderFollows = startsWithTextAt(t, after, kInstallRows[i].macro);
    for (const MacroRow& row : kMachineRows) {
      if (folderFollows) break;
      folderFollows = startsWithTextAt(t, after, row.macro);
    }
    if (folderFollows) {
      t.erase(static_cast<size_t>(at - 1), markerLength);
      from = at;
    } else {
      from = static_cast<int>(after) + 1;
    }
  }
}

// Only the first "<Date=" counts, and only with a ">" somewhere after it.
void applyDateMacro(std::string& t, const TMacroSources& sources) {
  const int at = PosText("<Date=", t);
  if (at == 0 || PosFromText(">", t, at) == 0) return;
  const size_t start = static_cast<size_t>(at - 1);
  const size_t codeAt = start + 6;
  if (codeAt >= t.size()) return;
  const char code = t[codeAt];
  if (code != '#' && (code < '0' || code > '7')) return;
  // "<Date=", the code and the character after it (the ">" as written).
  t.erase(start, 8);
  t.insert(start, sources.dateText(code));
}

bool holdsRelativeSegment(const std::string& s) {
  return s.find("\\..") != std::string::npos || s.find("..\\") != std::string::npos;
}

// A path the platform cannot resolve stays as written rather than vanish.
std::string fullPathOr(const std::string& path, const TMacroSources& sources) {
  const std::string full = sources.fullPath(path);
  return full.empty() ? path : full;
}

std::string twoDigits(int n) { return ZeroPadInt(n, 2); }

int64_t millisecondsOf(const TLocalTime& t) {
  const int64_t msOfDay = ((int64_t(t.hour) * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond;
  return DayNumberOf(t.year, t.month, t.day) * 86400000 + msOfDay;
}

}  // namespace

void SetInstallFolders(const std::string& applicationFolder, const std::string& commonFolder,
                       const std::string& auxiliaryFolder) {
  g_applicationFolder = applicationFolder;
  g_commonFolder = commonFolder;
  g_auxiliaryFolder = auxiliaryFolder;
}

std::string ApplicationFolder() { return g_applicationFolder; }
std::string CommonFolder() { return g_commonFolder; }
std::string AuxiliaryFolder() { return g_auxiliaryFolder; }

std::string ExpandMacrosWith(const std::string& text, const std::string& suffix, bool foldRelative,
                             const TMacroSources& sources) {
  std::string result = text;
  if (text.find('<') != std::string::npos) {
    std::string t = text;
    applyDateMacro(t, sources);
    applyRows(t, kNameRows, std::string(), sources);
    const std::string snapshot = t;

    applyRows(t, kFirstFolderRows, suffix, sources);
    // The folders above are absolute: a marker asking for the install folder
    // in front of them has nothing left to do.
    if (t != snapshot) t = ReplaceAllText(t, kInstallMarker, std::string());
    t = ReplaceAllText(t, kAbsoluteMarker, std::string());

    dropMarkerBeforeFolders(t);
    applyRows(t, kInstallRows, suffix, sources);
    // Again, for a marker an install folder brought in.
    t = ReplaceAllText(t, kAbsoluteMarker, std::string());
    applyRows(t, kMachineRows, suffix, sources);

    // A folder value followed by "\name" doubles the backslash; a leading
    // "\\" of a network path must survive.
    result = (t != snapshot) ? CollapseBackslashes(t, false) : snapshot;
  }
  if (foldRelative) result = FoldRelativePathWith(result, sources);
  return result;
}

std::string FoldRelativePathWith(const std::string& text, const TMacroSources& sources) {
  if (!holdsRelativeSegment(text)) return text;
  if ((text[0] == ',' || text[0] == '|') && ListTokenCount(text) > 0) {
    std::string list = text;
    const int count = ListTokenCount(text);
    for (int i = 0; i < count; ++i) {
      const std::string token = ListGetToken(list, i);
      if (holdsRelativeSegment(token)) ListSetToken(list, i, fullPathOr(token, sources));
    }
    return list;
  }
  return fullPathOr(text, sources);
}

int64_t DayNumberOf(int year, int month, int day) {
  // Civil-from-days in reverse, with March as the first month so that the
  // leap day ends the year.
  const int64_t y = int64_t(year) - (month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yearOfEra = y - era * 400;
  const int64_t m = month > 2 ? month - 3 : month + 9;
  const int64_t dayOfYear = (153 * m + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const int64_t sinceUnixEpoch = era * 146097 + dayOfEra - 719468;
  return sinceUnixEpoch + 25569;  // 1970-01-01 is day 25569 of this count
}

int64_t NowSecondsAt(const TLocalTime& now) {
  const int64_t ms = millisecondsOf(now);
  int64_t seconds = ms / 1000;
  int64_t rest = ms % 1000;
  if (rest < 0) {
    rest += 1000;
    --seconds;
  }
  if (rest > 500 || (rest == 500 && (seconds & 1) != 0)) ++seconds;
  return seconds;
}

int64_t DaysFrom2000(const TLocalTime& now) {
  int64_t diff = millisecondsOf(now) - DayNumberOf(2000, 1, 1) * 86400000;
  if (diff < 0) diff = -diff;
  return diff / 86400000;
}

std::string DateMacroTextAt(char code, const TLocalTime& now, const TDateLocale& locale) {
  const std::string dd = twoDigits(now.day);
  const std::string mm = twoDigits(now.month);
  const std::string yy = twoDigits(((now.year % 100) + 100) % 100);
  const std::string yyyy = ZeroPadInt(now.year, 4);
  switch (code) {
    case '#': {
      const std::string month = (now.month >= 1 && now.month <= 12) ? locale.longMonthNames[now.month - 1] : "";
      return dd + locale.dateSeparator + month + locale.dateSeparator + yyyy;
    }
    case '0': return IntToStr(DaysFrom2000(now));
    case '1': return dd + "-" + mm + "-" + yy;
    case '2': return mm + "-" + dd + "-" + yy;
    case '3': return yy + "-" + mm + "-" + dd;
    case '4': return dd + "-" + mm + "-" + yyyy;
    case '5': return mm + "-" + dd + "-" + yyyy;
    case '6': return yyyy + "-" + mm + "-" + dd;
    case '7':
      return yyyy + "-" + mm + "-" + dd + " " + twoDigits(now.hour) + locale.timeSeparator + twoDigits(now.minute) +
             locale.timeSeparator + twoDigits(now.second);
    default: return std::string();
  }
}
