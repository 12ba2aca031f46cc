#include "settings/GlobalWin.h"

#include "paths/Files.h"
#include "util/Registry.h"
#include "util/UtilsWin.h"

namespace {

const char kOriginalSetup[] = "OriginalSetup";
const char kDirectories[] = "Directories";
const char kUnInstall[] = "UnInstall";
const char kMsgBox[] = "MsgBox";
const char kAutoUpdate[] = "AutoUpdate";
const char kNewSetup[] = "NewSetup";

// An unset file name must not reach the profile functions: the platform would
// take it as a file in the Windows folder.
std::string ReadText(const std::string& file, const char* section, const char* key, const std::string& def) {
  if (file.empty()) return def;
  return ProfileReadString(file, section, key, def);
}

int64_t ReadInt(const std::string& file, const char* section, const char* key, int64_t def) {
  if (file.empty()) return def;
  return ProfileReadInt(file, section, key, def);
}

// 32-bit keys keep the low 32 bits of the 64-bit number.
int32_t ReadInt32(const std::string& file, const char* section, const char* key) {
  return static_cast<int32_t>(static_cast<uint32_t>(ReadInt(file, section, key, 0)));
}

bool WriteInt(const char* key, int64_t value) {
  const std::string file = OriginalSettingsFile();
  if (file.empty()) return false;
  return ProfileWriteInt(file, kOriginalSetup, key, value);
}

std::string OriginalText(const char* section, const char* key, const std::string& def = std::string()) {
  return ReadText(OriginalSettingsFile(), section, key, def);
}

std::string NewSetupText(const char* key) { return ReadText(UpdateInfoFile(), kNewSetup, key, std::string()); }

std::string NewSetupFlagText(const char* key) { return ReadText(UpdateInfoFile(), kNewSetup, key, "0"); }

bool PathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Random names are tried until one is free, so that a folder deleted later is
// always one this process made, never one that happened to have the name.
const int kNameTries = 100;

std::string FreeRandomName(const std::string& prefix) {
  for (int i = 0; i < kNameTries; ++i) {
    const std::string name = prefix + RandomNumberText(10000, 100000);
    if (!PathExists(name)) return name;
  }
  return std::string();
}

}  // namespace

double ProbeDriveFreeBytes(char letter) {
  const std::string drive(1, letter);
  if (GetDriveTypeA((drive + ":\\").c_str()) != DRIVE_FIXED) return -1;
  const std::string temp = drive + ":\\TEMP";
  const std::string probe = FolderExists(temp) ? FreeRandomName(temp + "\\TEMP") : temp;
  // Only a folder made here is deleted again.
  if (probe.empty() || !CreateDirectoryA(probe.c_str(), nullptr)) return -1;
  double free = -1;
  const std::string file = probe + "\\~aa.tmp";
  WriteFileText(file, "aa");
  if (PathExists(file)) free = DiskFreeBytes(probe);
  DeleteTree(probe, false);
  return free;
}

namespace {

struct TempChoice {
  bool chosen = false;     // ChooseTempDrive ran
  std::string base;        // alternate base, "" for none
  bool folderPicked = false;
  std::string folder;      // AlternateWorkingFolder
  bool made = false;       // this process created folder
};

TempChoice& Choice() {
  static TempChoice choice;
  return choice;
}

}  // namespace

// ---- Installation settings file ---------------------------------------------------

int64_t ProbeSecondsInterval() { return ReadInt(OriginalSettingsFile(), kOriginalSetup, "ProbeSecondsInterval", 0); }
int64_t ProbeSecondsLast() { return ReadInt(OriginalSettingsFile(), kOriginalSetup, "ProbeSecondsLast", 0); }
int64_t ReAskSecondsInterval() { return ReadInt(OriginalSettingsFile(), kOriginalSetup, "ReAskSecondsInterval", 0); }
int64_t ReAskSecondsLast() { return ReadInt(OriginalSettingsFile(), kOriginalSetup, "ReAskSecondsLast", 0); }
int32_t VersionOriginal() { return ReadInt32(OriginalSettingsFile(), kOriginalSetup, "VersionOriginal"); }
int32_t OriginalStamp() { return ReadInt32(OriginalSettingsFile(), kOriginalSetup, "Stamp"); }
std::string OriginalProgramName() { return OriginalText(kOriginalSetup, "ProgramName"); }

bool SetProbeSecondsInterval(int64_t value) { return WriteInt("ProbeSecondsInterval", value); }
bool SetProbeSecondsLast(int64_t value) { return WriteInt("ProbeSecondsLast", value); }
bool SetReAskSecondsInterval(int64_t value) { return WriteInt("ReAskSecondsInterval", value); }
bool SetReAskSecondsLast(int64_t value) { return WriteInt("ReAskSecondsLast", value); }
bool SetVersionOriginal(int32_t value) { return WriteInt("VersionOriginal", value); }
bool SetOriginalStamp(int32_t value) { return WriteInt("Stamp", value); }

std::string TargetDir() { return OriginalText(kDirectories, "TargetDir"); }
std::string SharedDir() { return OriginalText(kDirectories, "SharedDir"); }
std::string AuxiliaryDir() { return OriginalText(kDirectories, "AuxiliaryDir"); }
std::string StartUpLink() { return OriginalText(kUnInstall, "StartUpLink"); }
std::string CheckforNewUpdateLink() { return OriginalText(kUnInstall, "CheckforNewUpdateLink"); }

std::string MsgBoxBtnText() { return OriginalText(kMsgBox, "BtnText", "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|"); }
std::string MsgBoxError() { return OriginalText(kMsgBox, "Error", "Error"); }
std::string MsgBoxConfirm() { return OriginalText(kMsgBox, "Confirm", "Confirm"); }
std::string MsgBoxAttention() { return OriginalText(kMsgBox, "Attention", "Attention"); }
int MsgBoxCharSet() { return ReadInt32(OriginalSettingsFile(), kMsgBox, "CharSet"); }

std::string AgentText(const std::string& key, const std::string& def) {
  return ReadText(OriginalSettingsFile(), kAutoUpdate, key.c_str(), def);
}

// ---- Information file ---------------------------------------------------------------

std::string DownloadURL_UPDATE() { return NewSetupText("DownloadURL_UPDATE"); }
std::string NameOfUpdateFile() { return NewSetupText("NameOfUpdateFile"); }
int64_t SizeOfUpdateFile() { return ReadInt(UpdateInfoFile(), kNewSetup, "SizeOfUpdateFile", 0); }

bool RequestConfirmationBeforeDownload() {
  return FlagWithOverride(2, NewSetupFlagText("RequestConfirmationBeforeDownload"));
}
bool RequestConfirmationBeforeInstall() {
  return FlagWithOverride(3, NewSetupFlagText("RequestConfirmationBeforeInstall"));
}
bool BackgroundUpdate() { return FlagWithOverride(4, NewSetupFlagText("BackgroundUpdate")); }
bool InformFinish() { return FlagWithOverride(5, NewSetupFlagText("InformFinish")); }
bool RestartProcess() { return FlagWithOverride(6, NewSetupFlagText("RestartProcess")); }

std::string ShutDownMethod() { return NewSetupText("ShutDownMethod"); }
std::string RunningProcess() { return NewSetupText("RunningProcess"); }
std::string UpdateProgramName() { return NewSetupText("ProgramName"); }
int32_t VersionNew() { return ReadInt32(UpdateInfoFile(), kNewSetup, "VersionNew"); }
int32_t UpdateStamp() { return ReadInt32(UpdateInfoFile(), kNewSetup, "Stamp"); }
std::string ValidVersions() { return NewSetupText("ValidVersions"); }
bool RemoveStartUpShortcut() { return IsFlagText(NewSetupFlagText("RemoveStartUpShortcut")); }
bool RemoveCheckForNewUpdateShortcut() { return IsFlagText(NewSetupFlagText("RemoveCheckForNewUpdateShortcut")); }

// ---- Folders ------------------------------------------------------------------------

uint32_t FileDosDateTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  FILETIME local;
  WORD date = 0, time = 0;
  // Attributes need no open handle, so a running program can read its own.
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local)) return 0;
  if (!FileTimeToDosDateTime(&local, &date, &time)) return 0;
  return (uint32_t(date) << 16) | time;
}

bool CreateFolderWithParents(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
  if (path.empty()) return false;
  if (FolderExists(path)) return true;
  const size_t slash = path.find_last_of('\\');
  if (slash != std::string::npos && slash > 0) {
    const std::string parent = path.substr(0, slash);
    // "C:" and the "\\server" of a share are no folders to make.
    if (!(parent.size() == 2 && parent[1] == ':') && parent.find_first_not_of('\\') != std::string::npos)
      CreateFolderWithParents(parent);
  }
  CreateDirectoryA(path.c_str(), nullptr);
  return FolderExists(path);
}

std::string WorkingFolder() {
  static const std::string folder = TempDir(true) + WorkingFolderName(FileDosDateTime(ExePath()));
  // The name is kept for the process, the folder is made again whenever a
  // finished flow has deleted it, so that a later update has somewhere to go.
  CreateFolderWithParents(folder);
  return folder;
}

bool ChooseTempDrive() {
  TempChoice& choice = Choice();
  if (!choice.chosen) {
    choice.chosen = true;
    const std::string temp = TempDir(false);
    char tempDrive = temp.empty() ? '\0' : temp[0];
    if (tempDrive >= 'a' && tempDrive <= 'z') tempDrive = char(tempDrive - 'a' + 'A');
    double freeBytes[kProbeDriveCount];
    for (int i = 0; i < kProbeDriveCount; ++i) freeBytes[i] = ProbeDriveFreeBytes(kProbeDrives[i]);
    const char winner = PickTempDrive(tempDrive, freeBytes);
    if (winner != tempDrive)
      choice.base = AlternateTempBase(winner, FolderExists(std::string(1, winner) + ":\\TEMP"));
  }
  return !choice.base.empty();
}

std::string AlternateWorkingFolder() {
  TempChoice& choice = Choice();
  if (!choice.folderPicked) {
    choice.folderPicked = true;
    if (ChooseTempDrive()) {
      choice.folder = FreeRandomName(choice.base + "_");
      // All names taken is next to impossible; the folder is then used but
      // never deleted, since this process did not make it.
      if (choice.folder.empty()) choice.folder = choice.base + "_" + RandomNumberText(10000, 100000);
      else choice.made = CreateFolderWithParents(choice.folder);
    }
  } else if (!choice.folder.empty() && !FolderExists(choice.folder)) {
    choice.made = CreateFolderWithParents(choice.folder);  // removed by an earlier flow
  }
  return choice.folder;
}

void RemoveAlternateWorkingFolder() {
  TempChoice& choice = Choice();
  if (!choice.made) return;
  DeleteTree(choice.folder, false);
  choice.made = false;
}

// ---- Window helpers -----------------------------------------------------------------

void SetStatusText(HWND control, const std::string& text, int charset) {
  if (!control) return;
  const bool rightToLeft = charset == HEBREW_CHARSET || charset == ARABIC_CHARSET;
  SetWindowLongPtrA(control, GWL_EXSTYLE, rightToLeft ? WS_EX_RTLREADING : 0);
  SetWindowLongPtrA(control, GWL_STYLE, WS_CHILD | WS_VISIBLE | (rightToLeft ? SS_RIGHT : 0));
  SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

COLORREF SystemColorOf(int32_t color) {
  if (color < 0) return GetSysColor(color & 0xFF);
  return static_cast<COLORREF>(color);
}
