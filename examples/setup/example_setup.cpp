// The setup program of the examples: what a product's own setup must do when
// a Korvan stub starts it, in as few lines as a vendor can read at once.
//
// The stub extracts the package into a temporary folder and starts this
// program from there with the stub's own arguments, the arguments written
// after the star of the setup entry, and " /TH_ID=_<number>". This setup
//   1. reads setup.ini beside itself (what to install, and where),
//   2. copies the listed files into the product folder,
//   3. copies the update agent that the stub wrote beside it (packages built
//      with --creates-agent) and starts it, so the product updates itself,
//   4. writes the installation settings file the agent reads
//      (<settings-name>.original: the installed version and when to check),
//   5. deletes the global atom "AutoUpdateAtomTokenByKorvan" + the /TH_ID
//      value: that tells the stub the setup completed.
// When the update agent runs an update it starts the update's setup with
// /OriginalInfoFile="<path of the information file>" as well.
//
// setup.ini:
//   [Install]
//   ProductName=Korvan Example
//   Folder=Korvan Example        ; under the user's local application data
//   Version=1
//   Files=readme.txt,license.txt
//   Agent=KorvanExampleAgent.exe ; the --agent-name of the package
//   Settings=korvan-example      ; the --settings-name without its extension
//   ProbeSecondsInterval=86400   ; how often the agent looks for an update
//
// Exit code 0 when installed; otherwise 1 and the atom stays, so the stub
// knows the setup did not complete.
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace {

std::string Arg(const std::string& cmdline, const std::string& name) {
  size_t at = cmdline.find(name);
  if (at == std::string::npos) return "";
  at += name.size();
  if (at < cmdline.size() && cmdline[at] == '"') {
    size_t end = cmdline.find('"', at + 1);
    return cmdline.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
  }
  size_t end = cmdline.find(' ', at);
  return cmdline.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

std::string Ini(const std::string& file, const char* key, const char* fallback = "") {
  char buf[2048];
  GetPrivateProfileStringA("Install", key, fallback, buf, sizeof buf, file.c_str());
  return buf;
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(start, end - start);
    while (!item.empty() && item.front() == ' ') item.erase(0, 1);
    while (!item.empty() && item.back() == ' ') item.pop_back();
    if (!item.empty()) items.push_back(item);
    start = end + 1;
  }
  return items;
}

bool WriteKey(const std::string& file, const char* section, const char* key, const std::string& value) {
  return WritePrivateProfileStringA(section, key, value.c_str(), file.c_str()) != 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const std::string cmdline = GetCommandLineA();
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string here = self;
  here.erase(here.find_last_of('\\') + 1);
  const std::string ini = here + "setup.ini";

  char local[MAX_PATH];
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, local))) return 1;
  const std::string product = std::string(local) + "\\" + Ini(ini, "Folder", "Korvan Example") + "\\";
  if (!CreateDirectoryA(product.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return 1;

  for (const std::string& name : SplitList(Ini(ini, "Files"))) {
    if (!CopyFileA((here + name).c_str(), (product + name).c_str(), FALSE)) return 1;
  }

  // The settings file keeps what an earlier install or the agent wrote (the
  // timing of checks); only what this setup knows is written.
  const std::string settings = product + Ini(ini, "Settings", "korvan-example") + ".original";
  if (!WriteKey(settings, "OriginalSetup", "ProgramName", Ini(ini, "ProductName", "Korvan Example")) ||
      !WriteKey(settings, "OriginalSetup", "VersionOriginal", Ini(ini, "Version", "1")) ||
      !WriteKey(settings, "OriginalSetup", "ProbeSecondsInterval", Ini(ini, "ProbeSecondsInterval", "86400")) ||
      !WriteKey(settings, "Directories", "TargetDir", product))
    return 1;

  // The agent: the stub wrote it beside this program. During an update the
  // running agent is its copy X_<name>, so the program itself can be
  // replaced here.
  const std::string agent = Ini(ini, "Agent");
  if (!agent.empty() && GetFileAttributesA((here + agent).c_str()) != INVALID_FILE_ATTRIBUTES) {
    if (!CopyFileA((here + agent).c_str(), (product + agent).c_str(), FALSE)) return 1;
    // An update is run by the agent, which starts itself again afterwards;
    // a first install starts it here.
    if (Arg(cmdline, "/OriginalInfoFile=").empty()) {
      STARTUPINFOA si = {};
      si.cb = sizeof si;
      PROCESS_INFORMATION pi = {};
      std::string run = "\"" + product + agent + "\"";
      if (CreateProcessA(nullptr, &run[0], nullptr, nullptr, FALSE, 0, nullptr, product.c_str(), &si, &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
      }
    }
  }

  // The hand-shake: the setup completed.
  const std::string token = Arg(cmdline, "/TH_ID=");
  if (!token.empty()) {
    ATOM atom = GlobalFindAtomA(("AutoUpdateAtomTokenByKorvan" + token).c_str());
    if (atom) GlobalDeleteAtom(atom);
  }
  return 0;
}
