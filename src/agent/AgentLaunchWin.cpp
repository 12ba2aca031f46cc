// The agent program as launcher: it refreshes the copy "X_" + its name, starts
// it hidden and forwards its switches to the running copy as messages.
#include <windows.h>

#include "agent/Agent.h"
#include "agent/AgentLogic.h"
#include "paths/Files.h"
#include "process/Process.h"
#include "stub/StubMain.h"
#include "stub/StubRoles.h"
#include "stub/StubWin.h"
#include "util/Trace.h"
#include "util/UtilsWin.h"

std::string AgentCopyPath() { return ExeDir(true) + "X_" + FilePartOf(ExePath()); }

namespace {

bool CopyFileExists() {
  DWORD attr = GetFileAttributesA(AgentCopyPath().c_str());
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool PostToCopy(UINT message, WPARAM wParam, LPARAM lParam) {
  return PostToMainWindow(AgentCopyPath(), true, message, wParam, lParam);
}

}  // namespace

void CreateAndRun_X_Exe() {
  std::string zz = SwitchValue("/_ZZ=");
  TracePid(" CreateAndRun_X_Exe-1 " + zz);
  if (!ThisIs_AutoUpdateProg) return;
  if (AgentWindowExists() && zz != "99") return;
  if (!SameTrimmedText(FilePartOf(ExePath()), GlobalPackage().AgentFileName())) return;
  TracePid(" CreateAndRun_X_Exe-2");

  int64_t wait = SwitchInt("/WAIT=", 0);
  if (wait > 0) DelayWithMessages(uint32_t(wait * 1000));
  // A copy that is still running cannot be replaced; the one there is started.
  CopyFileA(ExePath().c_str(), AgentCopyPath().c_str(), FALSE);
  std::string args = CopyArguments(SwitchValue("/TRANSIENT="), SwitchValue("/DELAY="));
  // Quoted: an unquoted path with blanks would let the system try to run
  // the shorter paths in front of each blank first.
  WinExec((QuotedPath(AgentCopyPath()) + args).c_str(), SW_HIDE);

  if (Trim(CommandLineArgs()).empty()) return;
  // The switches go to the copy's window, so wait until the copy has one as
  // well as runs: a message posted before the window exists would be lost.
  DWORD start = GetTickCount();
  while (!(IsProgramRunning(AgentCopyPath()) && AgentWindowExists())) {
    if (GetTickCount() - start > 3000) break;
    DelayWithMessages(200);
  }
}

void SendAgentCommands(bool agentWindowExisted) {
  std::string commandLine = GetCommandLineA();
  bool posted = false;

  int32_t stop = int32_t(SwitchInt("/STOP=", -1));
  if (stop >= 0) {
    TracePid(" ==1== " + commandLine);
    if (CopyFileExists()) posted |= PostToCopy(kMsgTicksToLive, WPARAM(stop), 0);
    TracePid(" ==2==");
  }

  std::string target = SwitchValue("/WM_MSG=");
  if (!target.empty()) {
    TracePid(" ==3== " + commandLine);
    if (CopyFileExists()) {
      int64_t window = 0, message = 0;
      ParseNotifyTarget(target, window, message);
      posted |= PostToCopy(kMsgSetNotify, WPARAM(window), LPARAM(message));
    }
    TracePid(" ==4==");
  }

  int32_t test = int32_t(SwitchInt("/TEST=", -1));
  if (test >= 0) {
    TracePid(" ==5== " + commandLine);
    if (CopyFileExists()) {
      posted |= PostToCopy(kMsgQuery, 31, LPARAM(test));
      // A copy started only for this check ends two ticks after it.
      if (!agentWindowExisted) posted |= PostToCopy(kMsgTicksToLive, 2, 0);
    }
    TracePid(" ==6==");
  }
  (void)posted;
}
