#include "package/UnPackWin.h"

#include <windows.h>

#include "msgbox/KMsgBox.h"
#include "package/UnPackFiles.h"
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

std::string SaveErrorDetails(void*, const std::string& target, uint64_t dataSize) {
  std::string error = LastErrorText();
  return error + "<P>Data Size: <T>" + IntToStr(int64_t(dataSize)) + " Bytes<P>File Size: <T>" +
         IntToStr(int64_t(FileSizeOf(target))) + " Bytes<P>Bytes Free: <T>" +
         IntToStr(int64_t(DiskFreeBytes(target))) + " Bytes";
}

}  // namespace

void ExtractPackage(const std::string& packagePath, const std::string& destFolder, const std::string& agentName,
                    bool& crcOk, TProgressProc progress, const std::string& diskPrompt,
                    const std::string& promptCaption, const std::string& buttonList, int charset, bool forcePrompt,
                    std::string& setupEntry) {
  using namespace unpack_files;
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
