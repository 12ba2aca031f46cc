#include "stub/StubMain.h"

#include <windows.h>

#include "paths/Files.h"
#include "settings/Global.h"
#include "stub/StubRoles.h"
#include "stub/StubWin.h"
#include "util/Registry.h"
#include "util/Trace.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

bool ThisIs_AutoUpdateProg = false;
std::string StubClassName;
bool TestMode = false;
std::string TestModeURL;

namespace {
TGFileInfo* g_package = nullptr;
DWORD g_lastTestModeTick = 0;
const char kDynDataKey[] = "HKEY_CURRENT_USER\\Software\\Korvan_Dyn_Data";
const char kAutoUpdateKey[] = "HKEY_CURRENT_USER\\Software\\Fellmoor\\Korvan\\AutoUpdate";
}  // namespace

TGFileInfo& GlobalPackage() { return *g_package; }

void TracePid(const std::string& text) { TraceLine(IntToStr(int64_t(GetCurrentProcessId())) + text); }

bool AgentWindowExists() {
  std::string cls = ".AutoUpdate.X_" + FileBaseName(GlobalPackage().AgentFileName());
  return FindWindowA(cls.c_str(), nullptr) != nullptr;
}

bool IsAgentFileName() {
  return ThisIs_AutoUpdateProg && SameTrimmedText(FilePartOf(ExePath()), GlobalPackage().AgentFileName());
}

bool IsAgentCopy() {
  return ThisIs_AutoUpdateProg && SameTrimmedText(FilePartOf(ExePath()), "X_" + GlobalPackage().AgentFileName());
}

bool ReadTestMode(bool force) {
  DWORD now = GetTickCount();
  if (force || now - g_lastTestModeTick > 30000) {
    TestMode = RegReadString(kAutoUpdateKey, "TestMode", "0") == "1";
    TestModeURL = RegReadString(kAutoUpdateKey, "TestModeURL", "");
  }
  g_lastTestModeTick = now;
  return TestMode;
}

void RunRole() {
  StubClassName = ThisIs_AutoUpdateProg ? ".AutoUpdate." + FileBaseName(ExePath()) : ExePath();
  bool agentWindowExisted = AgentWindowExists();
  if (FindWindowA(StubClassName.c_str(), nullptr) == nullptr) {
    if (IsAgentFileName()) {
      CreateAndRun_X_Exe();
    } else if (IsAgentCopy()) {
      ReadTestMode(true);
      std::string overrides = SwitchValue("/TRANSIENTx=");
      if (!overrides.empty()) ApplyOverrideText(overrides);
      RunStubWindow();
      SelfDeleteBatch();
    } else {
      RegWriteValue(kDynDataKey, "OriginDir", ExeDir(false), REG_SZ);
      RegWriteValue(kDynDataKey, "OriginExe", ExePath(), REG_SZ);
      RunStubWindow();
    }
  }
  if (IsAgentFileName()) SendAgentCommands(agentWindowExisted);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  RestrictDllSearch();
  std::string commandLine = GetCommandLineA();
  TracePid(" ==== STUB START ====>" + commandLine + "<");
  g_package = new TGFileInfo(ExePath());
  ThisIs_AutoUpdateProg = g_package->IsAgentProgram();
  SetSettingsFiles(ExeDir(true) + g_package->OriginalSettingsFileName(), ExeDir(true) + g_package->SettingsFileName());
  TracePid(std::string(" ThisIs_AutoUpdateProg=") + (ThisIs_AutoUpdateProg ? "TRUE" : "FALSE"));
  RunRole();
  delete g_package;
  g_package = nullptr;
  TracePid(" ==== STUB END ====>" + commandLine + "<");
  TraceLine("");
  ExitProcess(0);
}
