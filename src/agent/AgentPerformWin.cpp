// The update itself: the questions, the update file, the running product
// stopped, the update's setup run through the extraction flow, the new
// version recorded, the product and the agent restarted.
#include <windows.h>

#include "agent/Agent.h"
#include "agent/AgentLogic.h"
#include "msgbox/KMsgBox.h"
#include "paths/Common.h"
#include "paths/Files.h"
#include "process/Process.h"
#include "settings/Global.h"
#include "settings/GlobalWin.h"
#include "stub/AgentState.h"
#include "stub/StubFlow.h"
#include "stub/StubMain.h"
#include "stub/StubWin.h"
#include "util/UtilsWin.h"

namespace {

std::string WithProgramName(const std::string& text, const std::string& name) {
  return ReplaceAll(text, "PROG_NAME", name);
}

}  // namespace

bool DoPerform() {
  TracePid(" ==== DoPerform-1 ====");
  bool result = false;
  std::string programName = UpdateProgramName();
  std::string program;
  if (DownloadURL_UPDATE().empty() || NameOfUpdateFile().empty()) goto done;
  {
    TracePid(" ==== DoPerform-2 ====");
    std::string question = AgentText("s11", "") +
                           (RequestConfirmationBeforeInstall() ? AgentText("s13", "") : AgentText("s12", ""));
    question = WithProgramName(question, programName);
    if (RequestConfirmationBeforeDownload() && ManualMode != 1 && !AgentAskYesNo(nullptr, question)) goto done;

    TracePid(" ==== DoPerform-3 ====");
    AgentStage = 2;
    PostToNotifyWindow(41, 1);
    bool fetched = FetchUpdateFile(DownloadURL_UPDATE(), NameOfUpdateFile(), kFetchUpdate);
    PostToNotifyWindow(41, 2);
    question = WithProgramName(AgentText("s14", ""), programName);
    std::string updateFile = ExeDir(true) + FilePartOf(NameOfUpdateFile());
    if (fetched && RequestConfirmationBeforeInstall() && ManualMode != 1 && !AgentAskYesNo(nullptr, question)) {
      // A declined install would leave the whole update file beside the
      // agent until the next update.
      DeleteFileA(updateFile.c_str());
      fetched = false;
    }
    if (!fetched) goto done;

    TracePid(" ==== DoPerform-4 ====");
    SetInstallFolders(TargetDir(), SharedDir(), AuxiliaryDir());
    program = ExpandMacros(RunningProcess(), "\\", true);
    bool wasRunning = IsProgramRunning(program);
    TShutDownMethod method = ShutDownMethodOf(ShutDownMethod());
    if (method == sdmMessageBox) {
      std::string notice = WithProgramName(AgentText("s15", ""), FilePartOf(Unquote(program, true)));
      while (IsProgramRunning(program)) AgentWarningBox(nullptr, notice);
    }

    TracePid(" ==== DoPerform-5 ====");
    switch (method) {
      case sdmWmClose: CloseProgramByWmClose(program, true); break;
      case sdmWmQuit: CloseProgramByWmQuit(program, true); break;
      case sdmTerminate: TerminateProgram(program, true); break;
      default: break;
    }
    if (method != sdmNone) WaitUntilNotRunning(program);

    TracePid(" ==== DoPerform-6 ====");
    bool restart = RestartProcess() && wasRunning && !IsProgramRunning(program);
    std::string sw = "/OriginalInfoFile=\"" + UpdateInfoFile() + "\"";
    AgentStage = 3;
    PostToNotifyWindow(42, 1);

    TracePid(" ==== DoPerform-7 ====");
    result = ExtractAndRunSetup(WorkingFolder(), updateFile, GlobalPackage().AgentFileName(), sw,
                                !BackgroundUpdate());
    DeleteTree(WorkingFolder(), false);
    TracePid(" ==== DoPerform-8 ====");
    PostToNotifyWindow(42, 2);
    if (result) SetVersionOriginal(VersionNew());
    DeleteFileA(updateFile.c_str());

    bool answer = true;
    std::string text = WithProgramName(AgentText("s16", ""), programName);
    if (result && (InformFinish() || ManualMode == 1)) {
      if (restart)
        answer = AgentAskYesNo(KMsgBoxNoHeader(), text + WithProgramName(AgentText("s17", ""), programName));
      else
        AgentWarningBox(KMsgBoxNoHeader(), text);
    }
    if (restart && answer) WinExec(QuotedPath(Unquote(program, true)).c_str(), SW_SHOW);
  }
done:
  TracePid(" ==== DoPerform-9 ====");
  return result;
}

void RestartAgent() {
  if (TicksToLive > 0) return;
  std::string command = QuotedPath(ExeDir(true) + GlobalPackage().AgentFileName()) + " /_ZZ=99 /WAIT=3 /TRANSIENT=" +
                        OverrideText();
  WinExec(command.c_str(), SW_HIDE);
  PostQuitMessage(0);
}
