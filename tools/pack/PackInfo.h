// `korvan-pack info`: writes the information file (NAME.info) that the
// update agent of an installed product fetches from its update source, from
// options, so that its section, keys and values are always the ones the
// agent reads: the update's version and stamp, the installed versions it
// applies to, where the update package lies, its name and size (taken from
// the package itself), how the running product is stopped and the flags.
#pragma once

#include <string>
#include <vector>

struct TInfoOptions {
  std::string Out;             // the information file to write, NAME.info
  std::string Update;          // the update package: its name and size are taken
  std::string UpdateName;      // "NameOfUpdateFile"; default: the file name of Update
  std::string DownloadUrl;     // "DownloadURL_UPDATE": address or folder, no file name
  std::string VersionNew;      // "VersionNew", decimal
  std::string Stamp;           // "Stamp", decimal
  std::string ValidVersions;   // "ValidVersions": comma-separated; "" = every version
  std::string ShutDown;        // "ShutDownMethod", its text or a short name
  std::string RunningProcess;  // "RunningProcess", with path macros
  std::string ProgramName;     // "ProgramName"
  std::string AgentToken;      // when given, the update package must carry it
  bool RequestConfirmationBeforeDownload = false;
  bool RequestConfirmationBeforeInstall = false;
  bool BackgroundUpdate = false;
  bool RestartProcess = false;
  bool InformFinish = false;
  bool RemoveStartUpShortcut = false;
  bool RemoveCheckForNewUpdateShortcut = false;
};

// Parses the arguments after "info". False with Error (one line) on an
// unknown option or a missing value.
bool ParseInfoArguments(const std::vector<std::string>& args, TInfoOptions& options, std::string& error);

// Checks every value and the update package, and gives the file's text:
// one section "NewSetup" with every key, lines ended by CR LF. False with
// Error, one line naming the culprit.
bool BuildInfoText(const TInfoOptions& options, std::string& text, std::vector<std::string>& warnings,
                   std::string& error);

// The whole command: parse, check, write Out (complete or not at all).
// Exit code 0 done, 1 refused, 2 bad usage.
int RunInfo(const std::vector<std::string>& args);

// The options, for --help.
extern const char* const kInfoHelp;
