// Global: the update agent's settings and the few services the stub and the
// agent share. This header holds the portable half: where the two settings
// files are, the six override bytes and their text, the flag rule, the
// megabyte text, the working-folder name and the choice of a temporary drive.
// Typed access to the settings keys, the folders themselves and the status
// line are Win32 (GlobalWin.h).
#pragma once

#include <cstdint>
#include <string>

// ---- Where the settings files are ---------------------------------------------

// Full paths of the installation settings file (".original") and of the
// information file (".info"). The stub sets them once at start from the
// program folder and the package reader's settings-file entry; both stay
// fixed for the process, so keeping them is the same as rebuilding them from
// the reader on every access. Tests point them at files of their own.
// Until they are set, reads give defaults and writes fail.
void SetSettingsFiles(const std::string& originalSettingsPath, const std::string& updateInfoPath);
std::string OriginalSettingsFile();
std::string UpdateInfoFile();

// ---- Overrides -----------------------------------------------------------------

// Six process-wide bytes, 255 at start. 1 = the agent asks before every check;
// 2..6 replace "RequestConfirmationBeforeDownload", "...BeforeInstall",
// "BackgroundUpdate", "InformFinish" and "RestartProcess" unless they are 255.
const int kOverrideCount = 6;
const uint8_t kOverrideUnset = 255;

// N from 1 to 6; the low 8 bits of Value are kept. Any other N is ignored.
void SetOverride(int n, int64_t value);
// The byte of override N; 255 for an N outside 1..6.
uint8_t Override(int n);
// "|o1|o2|o3|o4|o5|o6|" in decimal.
std::string OverrideText();
// Takes tokens 0..5 in order; a missing token or one that is not a decimal
// number leaves its byte as it is, a number is stored as its low 8 bits.
void ApplyOverrideText(const std::string& text);
// Override 1 equals 1.
bool AskBeforeCheck();

// A flag of a settings file is true only for the exact text "1".
bool IsFlagText(const std::string& text);
// Flag N (2..6) after the override rule: 255 lets KeyText decide, 1 is true,
// any other value false.
bool FlagWithOverride(int n, const std::string& keyText);

// ---- Texts and names -----------------------------------------------------------

// Megabytes of a byte count: negative counts as 0; 1 decimal above 10 MiB,
// 2 from 1 to 10, 3 below 1 ("0.000" for 0). Always "." as decimal point.
std::string FormatMegabytes(double bytes);

// The low 16 bits of the DOS date-time of a file (its time of day) number
// the working folder: "SETUP_" + decimal.
std::string WorkingFolderName(uint32_t dosDateTime);

// ---- Temporary drive choice ----------------------------------------------------

// The drives probed for more room, in order.
const char kProbeDrives[] = {'C', 'D', 'E'};
const int kProbeDriveCount = 3;

// The drive with the most free bytes: the temporary folder's drive (upper
// case) starts as the candidate with 0 bytes, then each probed drive in order
// replaces it only when it has strictly more; a drive that could not be
// measured has a negative count. Returns the winning letter.
char PickTempDrive(char tempDrive, const double freeBytes[kProbeDriveCount]);
// Base of the alternate working folder on Drive: "X:\TEMP", or "X:\TEMP\TEMP"
// when the folder "X:\TEMP" exists already.
std::string AlternateTempBase(char drive, bool tempFolderExists);
