// Win32 half of Global: typed access to the keys of the two settings files,
// the working folders, the status line and system colours.
//
// Every access opens the profile file afresh (nothing is cached); a missing
// file or key gives the default. Flags are true only for the text "1".
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "settings/Global.h"

// ---- Installation settings file, "OriginalSetup" ---------------------------------

// Seconds between two checks: 0 = once per agent run, -1 = never.
int64_t ProbeSecondsInterval();
int64_t ProbeSecondsLast();
int64_t ReAskSecondsInterval();
int64_t ReAskSecondsLast();
int32_t VersionOriginal();
int32_t OriginalStamp();       // "Stamp"
std::string OriginalProgramName();  // "ProgramName"

bool SetProbeSecondsInterval(int64_t value);
bool SetProbeSecondsLast(int64_t value);
bool SetReAskSecondsInterval(int64_t value);
bool SetReAskSecondsLast(int64_t value);
bool SetVersionOriginal(int32_t value);
bool SetOriginalStamp(int32_t value);

// ---- Installation settings file, other sections ----------------------------------

std::string TargetDir();
std::string SharedDir();
std::string AuxiliaryDir();
std::string StartUpLink();
std::string CheckforNewUpdateLink();
// Section "MsgBox".
std::string MsgBoxBtnText();
std::string MsgBoxError();
std::string MsgBoxConfirm();
std::string MsgBoxAttention();
int MsgBoxCharSet();
// Text of Key in section "AutoUpdate".
std::string AgentText(const std::string& key, const std::string& def);

// ---- Information file, "NewSetup" ---------------------------------------------

std::string DownloadURL_UPDATE();
std::string NameOfUpdateFile();
// 64-bit so that it compares with any file size without a sign surprise.
int64_t SizeOfUpdateFile();
bool RequestConfirmationBeforeDownload();  // override 2
bool RequestConfirmationBeforeInstall();   // override 3
bool BackgroundUpdate();                   // override 4
bool InformFinish();                       // override 5
bool RestartProcess();                     // override 6
std::string ShutDownMethod();
std::string RunningProcess();
std::string UpdateProgramName();  // "ProgramName"
int32_t VersionNew();
int32_t UpdateStamp();  // "Stamp"
std::string ValidVersions();
bool RemoveStartUpShortcut();
bool RemoveCheckForNewUpdateShortcut();

// ---- Folders ----------------------------------------------------------------------

// Packed local DOS date-time of a file's last write (date high, time low);
// 0 when the file cannot be read.
uint32_t FileDosDateTime(const std::string& path);
// Creates Folder and every missing parent. True when it exists afterwards.
bool CreateFolderWithParents(const std::string& folder);

// TempDir + "SETUP_" + the time part of the program file's DOS date-time,
// without trailing backslash; made on the first call and kept.
std::string WorkingFolder();
// Free bytes of a fixed drive, measured by writing "~aa.tmp" into a probe
// folder it makes ("X:\TEMP", or a new "X:\TEMP\TEMPnnnnn" when "X:\TEMP"
// exists) and deletes again; -1 when the drive is not fixed or not writable.
double ProbeDriveFreeBytes(char letter);
// Probes C:, D: and E: once per process; true when a fixed drive other than
// the temporary folder's has the most free space.
bool ChooseTempDrive();
// Base + "_" + random number on the chosen drive, made on the first call and
// kept; "" when ChooseTempDrive found no other drive.
std::string AlternateWorkingFolder();
// Deletes the alternate folder with its content, if this process made it.
void RemoveAlternateWorkingFolder();

// ---- Window helpers -------------------------------------------------------------

// Right-to-left reading and right alignment for charsets 177 and 178 (Hebrew,
// Arabic), plain left-to-right otherwise; then sets Text.
void SetStatusText(HWND control, const std::string& text, int charset);
// A negative colour value names the system colour of its low byte.
COLORREF SystemColorOf(int32_t color);
// The button-face colour as a colour value for SystemColorOf.
const int32_t kColorBtnFace = static_cast<int32_t>(0x8000000F);
