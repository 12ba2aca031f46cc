#include "package/UnPackWin.h"

#include <windows.h>

#include "msgbox/KMsgBox.h"
#include "paths/Files.h"
#include "settings/GlobalWin.h"
#include "util/UtilsWin.h"

namespace {

bool g_stopped = false;
bool Stopped(void*) { return g_stopped; }

const char kDefaultButtons[] = "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|";

void Progress(void* context, int kind, int rangeMax, int position, int step) {
  TProgressProc proc = reinterpret_cast<TProgressProc>(context);
  if (proc) proc(kind, 0, rangeMax, position, step, std::string());
}

void Pump(void*) { ProcessPendingMessage(); }
void Delay(void*, uint32_t ms) { DelayWithMessages(ms); }

bool AskVolume(void*, const std::string& text, const std::string& caption, const std::string& buttons, int charset) {
  return AskOkCancel(nullptr, text, caption, uint8_t(charset), buttons);
}

void ShowError(void*, const std::string& text) { ShowErrorBox(nullptr, text, "Error", 0, kDefaultButtons); }

bool CreateFolder(void*, const std::string& folder, std::string& error) {
  if (CreateFolderWithParents(folder)) return true;
  error = LastErrorText();
  return false;
}

void* OpenAppend(void*, const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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

void Close(void*, void* file, uint32_t dosTime, bool complete) {
  if (complete && dosTime != 0) {
    FILETIME local, utc;
    if (DosDateTimeToFileTime(WORD(dosTime >> 16), WORD(dosTime), &local) && LocalFileTimeToFileTime(&local, &utc))
      SetFileTime(file, nullptr, nullptr, &utc);
  }
  CloseHandle(file);
}

std::string SaveErrorDetails(void*, const std::string& target, uint64_t dataSize) {
  std::string error = LastErrorText();
  return error + "<P>Data Size: <T>" + IntToStr(int64_t(dataSize)) + " Bytes<P>File Size: <T>" +
         IntToStr(int64_t(FileSizeOf(target))) + " Bytes<P>Bytes Free: <T>" +
         IntToStr(int64_t(DiskFreeBytes(target))) + " Bytes";
}

bool WriteWhole(void*, const std::string& path, const std::string& data, uint32_t dosTime) {
  return WriteFileText(path, data, dosTime, false);
}

uint32_t DosTimeOf(void*, const std::string& path) { return FileDosDateTime(path); }

}  // namespace

void ExtractPackage(const std::string& packagePath, const std::string& destFolder, const std::string& agentName,
                    bool& crcOk, TProgressProc progress, const std::string& diskPrompt,
                    const std::string& promptCaption, const std::string& buttonList, int charset, bool forcePrompt,
                    std::string& setupEntry) {
  TExtractHost host = {reinterpret_cast<void*>(progress), Progress, Pump, Delay, AskVolume, ShowError,
                       CreateFolder, OpenAppend, Write, Close, SaveErrorDetails, WriteWhole, DosTimeOf, Stopped};
  TExtractArgs args;
  args.PackagePath = packagePath;
  args.DestFolder = destFolder;
  args.AgentName = agentName;
  args.DiskPrompt = diskPrompt;
  args.PromptCaption = promptCaption;
  args.ButtonList = buttonList;
  args.Charset = charset;
  args.ForcePrompt = forcePrompt;
  TExtractResult result;
  ExtractPackageCore(args, host, result);
  crcOk = result.CrcOk;
  setupEntry = result.SetupEntry;
}

void StopExtraction() { g_stopped = true; }
