#include "stub/StubFlow.h"

#include <windows.h>

#include "msgbox/KMsgBox.h"
#include "net/InetHTTPWin.h"
#include "package/UnPackWin.h"
#include "paths/Files.h"
#include "process/Process.h"
#include "settings/Global.h"
#include "settings/GlobalWin.h"
#include "stub/StubMain.h"
#include "stub/StubWin.h"
#include "util/Registry.h"
#include "util/UtilsWin.h"

namespace {

const char kDefaultButtons[] = "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|";
const char kDefaultS11[] =
    "<b>INTERNET DOWNLOAD</b><p><p>Korvan will download the Setup File from the Internet...<p>Please make sure "
    "your Internet connection is properly set.<p><p>Continue with Setup?<p><P>Size: <SIZE> MB<P>";

// Free bytes of the drive named by the first letter of Folder, -1 when unknown.
double FreeBytesOf(const std::string& folder) {
  if (folder.empty()) return -1;
  std::string root = UpperCaseAscii(folder.substr(0, 1)) + ":\\";
  DWORD sectors = 0, bytes = 0, freeClusters = 0, total = 0;
  if (!GetDiskFreeSpaceA(root.c_str(), &sectors, &bytes, &freeClusters, &total)) return -1;
  return double(freeClusters) * double(sectors) * double(bytes);
}

bool FolderExists(const std::string& folder) {
  DWORD attr = GetFileAttributesA(folder.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

// The agent program of an internet-mode stub: the whole program file with
// the agent byte of its header set. The header ends where the package ends,
// which is the file's end unless something (a signature) follows it.
void WriteInternetAgent(const std::string& path) {
  std::string data = ReadFileRange(ExePath(), 0, 0);
  if (data.size() <= 5) return;
  size_t end = data.size();
  if (data.size() > 260 && data.compare(0, 2, "MZ") == 0 && data.compare(256, 2, "PE") == 0) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(data.data()) + kPackageEndOffset;
    const int32_t stored = int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
    if (stored > 5 && size_t(stored) <= data.size()) end = size_t(stored);
  }
  data[end - 5] = 1;
  WriteFileText(path, data, FileDosDateTime(ExePath()));
}

}  // namespace

void InternetDownloadMode(const std::string& workDir, const std::string& source, const std::string& setupFileName) {
  TGFileInfo& own = GlobalPackage();
  const std::string buttons = own.LangText("BtnText", kDefaultButtons);
  const uint8_t charset = uint8_t(own.Charset());
  std::string error;
  bool downloaded = false;
  std::string package;
  const std::string url = source + "/" + setupFileName;

  if (!IsPlainEntryName(setupFileName)) {
    // The name goes into a path under the temporary folder: nothing but a
    // plain file name may.
    error = FileNotFoundText(url);
  } else {
    const std::string local = SetTrailingBackslash(source, true) + setupFileName;
    if (FileExists(local)) {
      package = local;
    } else {
      SetStatusText(StatusLabel, own.LangText("s10", "Downloading File..."), charset);
      if (own.IsAskBeforeDownload()) {
        std::string message = own.LangText("s11", kDefaultS11);
        const std::string sizeText = FormatMegabytes(double(StrToInt64Def(own.DownloadSizeText(), 0)));
        message = ReplaceAll(message, "<SIZE>", sizeText);
        if (!AskYesNo(nullptr, message, own.LangText("Confirm", "Confirm"), charset, buttons)) error = "!";
      }
      if (!InternetConnected())
        error = own.LangText("s12", "No valid Internet Connection.<p>Can not Download File!");
      SetDownloadAbort(false);
      package = TempDir(true) + setupFileName;
      if (error.empty()) {
        std::string content;
        HttpDownload(StubWindow, url, package, error, ProgressCallback, content);
      }
      downloaded = error.empty();
    }
  }
  if (error.empty()) {
    TGFileInfo setup(package);
    if (!own.SameDownloadToken(setup)) DetectErrorPage(package, std::string(), url, error, "Bad Secret Token!");
  }
  if (error.empty()) ExtractAndRunSetup(workDir, package, std::string(), std::string(), true);
  if (downloaded) DeleteFileA(package.c_str());
  if (!error.empty() && error != "!")
    ShowErrorBox(nullptr, error, own.LangText("Error", "Error"), charset, buttons);
}

bool ForcePromptSet() {
  return RegReadString("HKEY_CURRENT_USER\\Software\\Fellmoor\\Korvan\\SpanDisk", "ForcePrompt", "0") == "1";
}

bool HasRoomFor(const std::string& folder, const std::string& packagePath) {
  TGFileInfo reader(packagePath);
  double need = reader.SpaceRequired(folder);
  return need < FreeBytesOf(folder) && FolderExists(folder);
}

bool ConfirmTempSpace(const std::string& folder, const std::string& packagePath, const TGFileInfo& reader) {
  std::string drive = folder.empty() ? std::string() : UpperCaseAscii(folder.substr(0, 1)) + ":";
  TGFileInfo package(packagePath);
  double need = package.SpaceRequired(folder);
  double free = FreeBytesOf(folder);
  std::string text;
  if (reader.AnnounceTempDrive())
    text = reader.LangText("s2", "Korvan will extract files to your Temp Drive (<DRIVE>)<P>");
  if (need >= free) text = reader.LangText("s3", "Limited Free Space on your Temp Drive! (<DRIVE>)<P>");
  if (text.empty()) return true;
  text += reader.LangText("s4", "<P>Estimated space required on your Temp drive is: <T>  <SPACE_REQ> MB<P>") +
          reader.LangText("s5", "Free space available on your Temp drive is: <T>  <SPACE_AVAIL> MB<P>") +
          reader.LangText("s6", "<P>Continue with Setup?<P>");
  text = ReplaceAll(text, "<DRIVE>", drive);
  text = ReplaceAll(text, "<SPACE_REQ>", FormatMegabytes(need));
  text = ReplaceAll(text, "<SPACE_AVAIL>", FormatMegabytes(free));
  return AskYesNo(nullptr, text, reader.LangText("Confirm", "Confirm"), uint8_t(reader.Charset()),
                  reader.LangText("BtnText", kDefaultButtons));
}

bool ExtractAndRunSetup(const std::string& destFolderIn, const std::string& packagePath, const std::string& agentName,
                        std::string params, bool visible) {
  bool result = false;
  std::string destFolder = destFolderIn;
  TGFileInfo reader(packagePath);
  SetStatusText(StatusLabel, reader.LangText("s1", "Extracting Files..."), reader.Charset());
  if (!HasRoomFor(destFolder, packagePath) && ChooseTempDrive()) destFolder = AlternateWorkingFolder();
  bool ok = visible ? ConfirmTempSpace(destFolder, packagePath, reader) : true;
  if (ok) {
    std::string prompt = reader.LangText("s8", "Please insert <B>DISK #<DISK_NUM></B> and press OK to continue");
    std::string caption = reader.LangText("Attention", "Attention");
    std::string buttons = reader.LangText("BtnText", kDefaultButtons);
    int charset = reader.Charset();
    if (visible) ShowWindow(StubWindow, SW_SHOW);
    DelayWithMessages(1000);
    bool crcOk = false;
    std::string setupEntry;
    ExtractPackage(packagePath, destFolder, agentName, crcOk, ProgressCallback, prompt, caption, buttons, charset,
                   ForcePromptSet(), setupEntry);
    DelayWithMessages(1000);
    if (!setupEntry.empty() && crcOk) {
      std::string name = setupEntry;
      size_t star = setupEntry.find('*');
      if (star != std::string::npos) {
        name = Trim(setupEntry.substr(0, star));
        params = Trim(params + " " + Trim(setupEntry.substr(star + 1)));
      }
      std::string exe = SetTrailingBackslash(destFolder, true) + name;
      std::string commandLine = exe;
      if (!params.empty()) commandLine += " " + params;
      std::string token = "_" + IntToStr(int64_t(GetCurrentThreadId()));
      commandLine += " /TH_ID=" + token;
      if (ThisIs_AutoUpdateProg) commandLine += " /AutoUpdateProg";
      std::string startUpLink = StartUpLink();
      std::string updateLink = CheckforNewUpdateLink();
      std::string atomName = "AutoUpdateAtomTokenByKorvan" + token;
      GlobalAddAtomA(atomName.c_str());
      WinExec(commandLine.c_str(), visible ? SW_SHOW : SW_HIDE);
      ShowWindow(StubWindow, SW_HIDE);
      DelayWithMessages(1000);
      WaitUntilNotRunning(exe);
      WaitWhileWindowExists(".SDialog_Class_Name." + token, "");
      DelayWithMessages(1000);
      ATOM atom = GlobalFindAtomA(atomName.c_str());
      result = atom == 0;
      if (atom) GlobalDeleteAtom(atom);
      if (result) {
        if (RemoveStartUpShortcut() && !startUpLink.empty() && FileExists(startUpLink))
          DeleteFileA(startUpLink.c_str());
        if (RemoveCheckForNewUpdateShortcut() && !updateLink.empty() && FileExists(updateLink))
          DeleteFileA(updateLink.c_str());
      }
    }
    if (!crcOk) {
      ShowErrorBox(nullptr, reader.LangText("s7", "Bad CRC!<P>This indicates that your setup file might be corrupted..."),
                   reader.LangText("Error", "Error"), uint8_t(charset), buttons);
    }
  }
  RemoveAlternateWorkingFolder();
  return result;
}

void StubStep(HWND window) {
  KillTimer(window, 1);
  TGFileInfo& package = GlobalPackage();
  std::string agentName = package.IsCreatesAgent() ? package.AgentFileName() : std::string();
  if (package.IsInternetMode()) {
    if (!agentName.empty()) WriteInternetAgent(WorkingFolder() + "\\" + agentName);
    std::string source = package.DownloadUrl();
    const std::string local = ExeDir(true) + package.DownloadFileName();
    if (!package.AlwaysDownload() && !package.DownloadFileName().empty() && FileExists(local))
      source = ExeDir(false);
    InternetDownloadMode(WorkingFolder(), source, package.DownloadFileName());
  } else {
    bool silent = SwitchPresent("/hide") || package.IsSilent();
    ExtractAndRunSetup(WorkingFolder(), ExePath(), agentName, CommandLineArgs(), !silent);
  }
  DeleteTree(WorkingFolder(), false);
  PostQuitMessage(0);
}
