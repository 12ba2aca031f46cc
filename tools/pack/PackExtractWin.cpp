// `korvan-pack extract` in the Windows console program: the stub's extractor
// over plain Win32 files, with no window and no message box. A volume that is
// missing cannot be asked for, so it ends the run with a clear reason, as on
// the host.
#include <windows.h>

#include "package/UnPack.h"
#include "package/UnPackFiles.h"
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

std::string SaveErrorDetails(void*, const std::string& target, uint64_t dataSize) {
  return LastErrorText() + "<P>Data Size: <T>" + IntToStr(int64_t(dataSize)) + " Bytes";
}

}  // namespace

TExtractResult ExtractToFolder(const std::string& packagePath, const std::string& destFolder, std::string& messages) {
  TConsoleContext context{&messages, std::string()};
  using namespace unpack_files;
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
