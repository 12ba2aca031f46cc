// The machine behind the path macros: folders from the system, the registry
// and the shell, the local clock and the user's locale.
#include <windows.h>

#include "paths/Common.h"
#include "paths/ShellDir.h"
#include "util/Registry.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

const char kShellFoldersKey[] = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kCurrentVersionKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const char kDynDataKey[] = "HKEY_CURRENT_USER\\Software\\Korvan_Dyn_Data";

bool folderExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string localeText(LCTYPE type) {
  char buffer[256];
  const int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, static_cast<int>(sizeof buffer));
  return n > 1 ? std::string(buffer, static_cast<size_t>(n - 1)) : std::string();
}

TLocalTime localNow() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return TLocalTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

std::string machineValue(TMacroSource which) {
  switch (which) {
    case kSrcRegisteredOwner: return GetRegisteredOwner();
    case kSrcRegisteredOrganization: return GetRegisteredOrganization();
    case kSrcWindowsDir: return WindowsDir(false);
    case kSrcSystemDir: return SystemDir(false);
    case kSrcSystem16Dir: return GetSystem16Dir();
    case kSrcProgramFilesDir: return GetProgramFilesDir();
    case kSrcCommonFilesDir: return GetCommonFilesDir();
    case kSrcStartMenuDir: return GetStartMenuDir();
    case kSrcFontDir: return GetFontDir();
    case kSrcExeDir: return ExeDir(false);
    case kSrcOriginDir: return GetOriginDir();
    case kSrcTempDir: return TempDir(false);
    case kSrcUserDir: return GetUserDir(false);
    case kSrcUserAppDataDir: return GetUserAppDataDir(false);
    case kSrcMyDocumentsDir: return GetMyDocumentsDir(false);
    case kSrcUserStartMenuDir: return GetUserStartMenuDir(false);
    case kSrcUserDesktopDir: return GetUserDesktopDir(false);
    case kSrcDocumentsAndSettingsDir: return GetDocumentsAndSettingsDir(false);
    case kSrcAllUsersDir: return GetAllUsersDir(false);
    case kSrcAllUsersAppDataDir: return GetAllUsersAppDataDir(false);
    case kSrcAllUsersDocumentsDir: return GetAllUsersDocumentsDir(false);
    case kSrcAllUsersStartMenuDir: return GetAllUsersStartMenuDir(false);
    case kSrcAllUsersDesktopDir: return GetAllUsersDesktopDir(false);
    case kSrcCount: break;
  }
  return std::string();
}

std::string fullPathOf(const std::string& path) {
  // Asked for the size first: a folded path may be longer than MAX_PATH.
  const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::string();
  std::string buffer(needed, '\0');
  const DWORD n = GetFullPathNameA(path.c_str(), needed, &buffer[0], nullptr);
  if (n == 0 || n >= needed) return std::string();
  buffer.resize(n);
  return buffer;
}

const TMacroSources kWinSources = {machineValue, DateMacroText, fullPathOf};

}  // namespace

const TMacroSources& WinMacroSources() { return kWinSources; }

std::string ExpandMacros(const std::string& text, const std::string& suffix, bool foldRelative) {
  return ExpandMacrosWith(text, suffix, foldRelative, kWinSources);
}

std::string FoldRelativePath(const std::string& text) { return FoldRelativePathWith(text, kWinSources); }

std::string DateMacroText(char code) {
  TDateLocale locale;
  if (code == '#') {
    for (int i = 0; i < 12; ++i) locale.longMonthNames[i] = localeText(LOCALE_SMONTHNAME1 + i);
    locale.dateSeparator = localeText(LOCALE_SDATE);
  } else if (code == '7') {
    locale.timeSeparator = localeText(LOCALE_STIME);
  }
  return DateMacroTextAt(code, localNow(), locale);
}

int64_t NowSeconds() { return NowSecondsAt(localNow()); }

std::string GetSystem16Dir() {
  const std::string system = SystemDir(false);
  const int at = LastPos("32", system);
  if (at > 0) {
    std::string sixteen = system;
    sixteen.erase(static_cast<size_t>(at - 1), 2);
    if (folderExists(sixteen)) return sixteen;
  }
  const std::string underWindows = WindowsDir(true) + "System";
  if (folderExists(underWindows)) return underWindows;
  return system;
}

std::string GetFontDir() {
  const std::string fonts = RegReadString(kShellFoldersKey, "Fonts", "");
  return folderExists(fonts) ? fonts : WindowsDir(true) + "Fonts";
}

std::string GetOriginDir() {
  const std::string origin = RegReadString(kDynDataKey, "OriginDir", "");
  return origin.empty() ? ExeDir(false) : origin;
}

std::string GetProgramFilesDir() { return RegReadString(kCurrentVersionKey, "ProgramFilesDir", ""); }

std::string GetCommonFilesDir() { return RegReadString(kCurrentVersionKey, "CommonFilesDir", ""); }

std::string GetStartMenuDir() {
  return RegReadString(kShellFoldersKey, "Start Menu", "");
}
