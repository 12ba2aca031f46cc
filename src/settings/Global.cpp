#include "settings/Global.h"

#include <cmath>
#include <cstdio>

#include "util/Utils.h"

namespace {

std::string& OriginalPath() {
  static std::string path;
  return path;
}

std::string& UpdateInfoPath() {
  static std::string path;
  return path;
}

uint8_t overrides[kOverrideCount] = {kOverrideUnset, kOverrideUnset, kOverrideUnset,
                                     kOverrideUnset, kOverrideUnset, kOverrideUnset};

}  // namespace

void SetSettingsFiles(const std::string& originalSettingsPath, const std::string& updateInfoPath) {
  OriginalPath() = originalSettingsPath;
  UpdateInfoPath() = updateInfoPath;
}

std::string OriginalSettingsFile() { return OriginalPath(); }
std::string UpdateInfoFile() { return UpdateInfoPath(); }

void SetOverride(int n, int64_t value) {
  if (n < 1 || n > kOverrideCount) return;
  overrides[n - 1] = static_cast<uint8_t>(value & 0xFF);
}

uint8_t Override(int n) {
  if (n < 1 || n > kOverrideCount) return kOverrideUnset;
  return overrides[n - 1];
}

std::string OverrideText() {
  std::string text = "|";
  for (int i = 0; i < kOverrideCount; ++i) text += IntToStr(overrides[i]) + "|";
  return text;
}

void ApplyOverrideText(const std::string& text) {
  for (int i = 0; i < kOverrideCount; ++i) {
    int64_t value;
    if (TryStrToInt64(ListGetToken(text, i), value)) SetOverride(i + 1, value);
  }
}

bool AskBeforeCheck() { return Override(1) == 1; }

bool IsFlagText(const std::string& text) { return text == "1"; }

bool FlagWithOverride(int n, const std::string& keyText) {
  const uint8_t value = Override(n);
  if (value == kOverrideUnset) return IsFlagText(keyText);
  return value == 1;
}

std::string FormatMegabytes(double bytes) {
  // "bytes > 0" also turns NaN and -0.0 into a plain 0, so no "-0.000".
  const double mb = bytes > 0 ? bytes / 1048576.0 : 0.0;
  const int decimals = mb > 10 ? 1 : (mb >= 1 ? 2 : 3);
  const int64_t scale = decimals == 1 ? 10 : (decimals == 2 ? 100 : 1000);
  // Rounded here rather than by printf: C libraries disagree on exact ties
  // (0.0625 gives "0.062" on one and "0.063" on another); ties go up.
  const double scaled = std::floor(mb * double(scale) + 0.5);
  if (!(scaled < 9.0e18)) {
    // Past any disk; only the integer arithmetic below would overflow. The
    // digits come by division rather than from printf, whose floating-point
    // formatting would more than double the size of the stub.
    if (std::isinf(mb)) return "inf";
    std::string digits;
    for (double x = std::floor(mb); x >= 1 && digits.size() < 400; x = std::floor(x / 10))
      digits.insert(digits.begin(), char('0' + int(std::fmod(x, 10))));
    return digits + ".0";
  }
  const int64_t n = static_cast<int64_t>(scaled);
  return IntToStr(n / scale) + "." + ZeroPadInt(n % scale, decimals);
}

std::string WorkingFolderName(uint32_t dosDateTime) { return "SETUP_" + IntToStr(dosDateTime & 0xFFFF); }

char PickTempDrive(char tempDrive, const double freeBytes[kProbeDriveCount]) {
  char winner = tempDrive;
  double best = 0;
  for (int i = 0; i < kProbeDriveCount; ++i) {
    if (freeBytes[i] > best) {
      best = freeBytes[i];
      winner = kProbeDrives[i];
    }
  }
  return winner;
}

std::string AlternateTempBase(char drive, bool tempFolderExists) {
  std::string base = std::string(1, drive) + ":\\TEMP";
  if (tempFolderExists) base += "\\TEMP";
  return base;
}
