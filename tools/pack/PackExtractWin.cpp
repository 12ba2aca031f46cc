// `korvan-pack extract` in the Windows console program: the stub's extractor
// over plain Win32 files, with no window and no message box. A volume that is
// missing cannot be asked for, so it ends the run with a clear reason, as on
// the host.
#include <windows.h>

#include "package/UnPack.h"
#include "package/UnPackHost.h"
#include "paths/Files.h"
#include "settings/GlobalWin.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

struct TConsoleContext {
  std::string* messages;
  std::string missingVolume;
};

void Progress(void*, int, int, int, int) {}
void Pump(void*) {}
void Delay(void*, uint32_t) {}

bool AskVolume(void* context, const std::string& text, const std::string&, const std::string&, int) {
  static_cast<TConsoleContext*>(context)->missingVolume = text;
  return false;
}

void ShowError(void* context, const std::string& text) {
  std::string& m = *static_cast<TConsoleContext*>(context)->messages;
  if (!m.empty()) m += "\n";
  m += text;
}

bool CreateFolder(void*, const std::string& folder, std::string& error) {
  if (CreateFolderWithParents(folder)) return true;
  error = LastErrorText();
  return false;
}

void* OpenAppend(void*, const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  SetFilePointer(h, 0, nullptr, FILE_END);
  return h;
}

bool Write(void*, void* file, const uint8_t* data, size_t len) {
  while (len > 0) {
    DWORD want = DWORD(len > (1u << 20) ? (1u << 20) : len), done = 0;
    if (!WriteFile(file, data, want, &done, nullptr) || done != want) return false;
    data += done;
    len -= done;
  }
  return true;
}

// The stored time is local, as the stub sets it.
void Close(void*, void* file, uint32_t dosTime, bool complete) {
  if (complete && dosTime != 0) {
    FILETIME local, utc;
    if (DosDateTimeToFileTime(WORD(dosTime >> 16), WORD(dosTime), &local) && LocalFileTimeToFileTime(&local, &utc))
      SetFileTime(file, nullptr, nullptr, &utc);
  }
  CloseHandle(file);
}

std::string SaveErrorDetails(void*, const std::string& target, uint64_t dataSize) {
  return LastErrorText() + "<P>Data Size: <T>" + IntToStr(int64_t(dataSize)) + " Bytes";
}

bool WriteWhole(void*, const std::string& path, const std::string& data, uint32_t dosTime) {
  return WriteFileText(path, data, dosTime, false);
}

uint32_t DosTimeOf(void*, const std::string& path) { return FileDosDateTime(path); }

}  // namespace

TExtractResult ExtractToFolder(const std::string& packagePath, const std::string& destFolder, std::string& messages) {
  TConsoleContext context{&messages, std::string()};
  TExtractHost host = {&context, Progress, Pump, Delay, AskVolume, ShowError, CreateFolder,
                       OpenAppend, Write, Close, SaveErrorDetails, WriteWhole, DosTimeOf, nullptr};
  TExtractArgs args;
  args.PackagePath = packagePath;
  args.DestFolder = destFolder;
  args.DiskPrompt = "volume <DISK_NUM> is missing";
  args.Separator = '\\';
  TExtractResult result;
  ExtractPackageCore(args, host, result);
  if (result.Cancelled && result.Problem.empty()) result.Problem = context.missingVolume;
  return result;
}
