// The agent copy's periodic step: when a check is due it fetches the
// information file, compares it with what is installed and hands an
// applicable, complete update to DoPerform.
#include <windows.h>

#include "agent/Agent.h"
#include "agent/AgentLogic.h"
#include "agent/AgentNet.h"
#include "msgbox/KMsgBox.h"
#include "net/InetHTTP.h"
#include "paths/Common.h"
#include "paths/Files.h"
#include "settings/Global.h"
#include "settings/GlobalWin.h"
#include "stub/AgentState.h"
#include "stub/StubMain.h"
#include "stub/StubWin.h"
#include "util/UtilsWin.h"

int64_t AutoUpdateTimerCount = -3;
int64_t TicksToLive = -1;
bool CheckNow = false;
int ManualMode = 0;
int AgentStage = 0;

namespace {

bool g_periodicCheck = true;
bool g_tickBusy = false;
const char kDefaultButtons[] = "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|";

std::string ButtonList() {
  std::string buttons = MsgBoxBtnText();
  return buttons.empty() ? std::string(kDefaultButtons) : buttons;
}

// Size of a file, -1 when there is none.
int64_t LocalFileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
  return int64_t(uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow);
}

std::string SourceOrTestSource(const std::string& source) { return TestMode ? TestModeURL : source; }

}  // namespace

void AgentErrorBox(HWND owner, const std::string& text) {
  ShowErrorBox(owner, text, MsgBoxError(), uint8_t(MsgBoxCharSet()), ButtonList());
}

void AgentWarningBox(HWND owner, const std::string& text) {
  ShowWarningBox(owner, text, MsgBoxAttention(), uint8_t(MsgBoxCharSet()), ButtonList());
}

bool AgentAskYesNo(HWND owner, const std::string& text) {
  return AskYesNo(owner, text, MsgBoxConfirm(), uint8_t(MsgBoxCharSet()), ButtonList());
}

void AgentTick() {
  // Message boxes and waits inside a tick keep dispatching timer messages.
  if (g_tickBusy) return;
  g_tickBusy = true;
  AgentStage = 0;
  if (ManualMode == 2) ManualMode = 1;
  if (ManualMode == 1) AutoUpdateTimerCount = 0;
  if (TicksToLive == 0) PostQuitMessage(0);
  if (TicksToLive >= 0) --TicksToLive;
  ++AutoUpdateTimerCount;
  TracePid(" AutoUpdateTimerCount=" + IntToStr(AutoUpdateTimerCount));
  if (AutoUpdateTimerCount >= 1) {
    ReadTestMode(false);
    int decision = CheckDue();
    if (decision == kCheckDueOnce) g_periodicCheck = false;
    if (decision >= kCheckDue && (ManualMode == 1 || AskBeforeCheck())) AskCheckQuestion(decision);
    if (decision >= kCheckDue) PerformUpdate();
    if (ManualMode == 1) ManualMode = 0;
  }
  AgentStage = 0;
  g_tickBusy = false;
}

int CheckDue() {
  int result = CheckDueAt(g_periodicCheck, CheckNow, ProbeSecondsInterval(), ProbeSecondsLast(), NowSeconds(),
                          TestMode);
  CheckNow = false;
  return result;
}

void AskCheckQuestion(int& decision) {
  std::string source = GlobalPackage().UpdateUrl();
  if (ReadTestMode(true)) source = TestModeURL;
  std::string programName = OriginalProgramName();
  std::string text = CheckQuestionText(AgentText("s22", DefaultCheckQuestionFirst(programName)),
                                       AgentText("s23", "Please make sure your Internet connection is properly set.\\\\n"),
                                       AgentText("s24", "\\\\nDo you want to check and install the new Update?"),
                                       source, programName);
  if (!AgentAskYesNo(KMsgBoxNoHeader(), text)) decision = 0;
}

bool VersionValid() { return VersionListAccepts(ValidVersions(), VersionOriginal()); }

bool ReAskDue() { return ReAskDueAt(NowSeconds(), ReAskSecondsLast(), ReAskSecondsInterval()); }

bool UpdateTokenMatches(const TGFileInfo& own, const TGFileInfo& other) {
  return own.AgentToken(true) == other.AgentToken(true);
}

bool UpdateFileReady(const std::string& sourceIn, const std::string& fileName) {
  std::string name = FilePartOf(fileName);
  std::string source = SourceOrTestSource(sourceIn);
  int64_t size = LocalFileSize(source + "\\" + name);
  if (size < 0 && !TestMode && AgentInternetConnected()) size = AgentContentLength(source + "/" + name);
  return size == SizeOfUpdateFile();
}

bool FetchUpdateFile(const std::string& sourceIn, const std::string& fileName, int kind) {
  bool result = false;
  std::string error, content, target;
  std::string name = FilePartOf(fileName);
  std::string source = SourceOrTestSource(sourceIn);
  std::string url = source + "\\" + name;
  bool aborted = false;
  int64_t localSize = LocalFileSize(url);
  if (localSize >= 0) {
    // A folder source. The update file is copied rather than read whole into
    // memory: it can be large.
    if (kind == kFetchInfo) {
      content = ReadFileRange(url, 0, 0);
    } else if (localSize > 0) {
      target = ExeDir(true) + name;
      CopyFileA(url.c_str(), target.c_str(), FALSE);
    }
  } else if (!TestMode && AgentInternetConnected()) {
    DelayWithMessages(500);
    SetStatusText(StatusLabel, kind == kFetchInfo ? AgentText("s31", "Downloading INFO File...")
                                                  : AgentText("s32", "Downloading UPDATE File..."),
                  MsgBoxCharSet());
    url = source + "/" + name;
    DownloadAbort = 0;
    if (kind == kFetchUpdate) target = ExeDir(true) + name;
    bool showIt = kind == kFetchUpdate && RequestConfirmationBeforeDownload() && ManualMode != 1;
    if (showIt) ShowWindow(StubWindow, SW_SHOW);
    AgentDownload(ManualMode == 1 ? StubWindow : nullptr, url, target, error, content);
    aborted = DownloadAbort != 0;
    if (showIt) ShowWindow(StubWindow, SW_HIDE);
    DelayWithMessages(500);
  }

  if (kind == kFetchInfo) {
    if (error.empty() && !content.empty()) error = ErrorPageText(content, url, "");
    if (error.empty() && !content.empty()) result = WriteFileText(ExeDir(true) + name, content);
    return result;
  }

  if (error.empty()) {
    result = true;
    TGFileInfo update(target);
    if (!UpdateTokenMatches(GlobalPackage(), update)) {
      result = false;
      std::string message = ErrorPageText(target.empty() ? std::string() : ReadFileRange(target, 0, 10000), url,
                                          "Bad Secret Token!");
      if (!target.empty()) DeleteFileA(target.c_str());
      AgentErrorBox(nullptr, message);
    }
  } else if (url.size() > 2 && RequestConfirmationBeforeDownload()) {
    std::string message;
    if (aborted) message = AgentText("s3", "File Download Aborted!");
    else if (IsDrivePath(url)) message = url + "<P><P>" + AgentText("s4", "File not Found!");
    else message = url + "<P><P>" + AgentText("s5", "Unable to Download File!");
    AgentWarningBox(nullptr, message);
  }
  return result;
}

void PerformUpdate() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  TracePid(" Fire  " + FireTimeText(TLocalTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
                                               st.wMilliseconds}));
  ReadTestMode(true);
  bool performed = false;
  AgentStage = 1;
  PostToNotifyWindow(40, 1);
  bool ok = FetchUpdateFile(GlobalPackage().UpdateUrl(), UpdateInfoFile(), kFetchInfo);
  PostToNotifyWindow(40, 2);
  if (ok) SetFileAttributesA(UpdateInfoFile().c_str(), FILE_ATTRIBUTE_HIDDEN);
  SetProbeSecondsLast(NowSeconds());
  if (ok && VersionOriginal() > 0) {
    bool goOn = UpdateStamp() != OriginalStamp() || ReAskDue() || ManualMode == 1;
    goOn = goOn && VersionNew() > VersionOriginal() && VersionValid();
    goOn = goOn && UpdateFileReady(DownloadURL_UPDATE(), NameOfUpdateFile());
    if (goOn) {
      TracePid(" ==== Perform Update-1 ====");
      performed = true;
      SetReAskSecondsLast(NowSeconds());
      SetOriginalStamp(UpdateStamp());
      if (DoPerform()) RestartAgent();
      TracePid(" ==== Perform Update-2 ====");
    }
  }
  if (ManualMode == 1) {
    DelayWithMessages(1000);
    ShowWindow(StubWindow, SW_HIDE);
    if (!performed) {
      bool connected = AgentInternetConnected();
      TracePid(std::string(" ") + (TestMode ? "TRUE" : "FALSE") + " " + (connected ? "TRUE" : "FALSE"));
      if (!TestMode && !connected)
        AgentErrorBox(nullptr, AgentText("s2", "No valid Internet Connection.<p>Can not Download File!"));
      else
        AgentWarningBox(KMsgBoxNoHeader(), AgentText("s21", ""));
    }
  }
  // Hidden files cannot be replaced by the next write of the same name on
  // every system; the attribute goes before the file does.
  SetFileAttributesA(UpdateInfoFile().c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(UpdateInfoFile().c_str());
}
