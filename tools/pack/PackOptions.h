// The inputs of `korvan-pack build`, from the command line or a project file.
#pragma once

#include <string>
#include <vector>

struct TBuildOptions {
  std::string Stub;         // "": the installed stub of Arch
  std::string Arch;         // "" (i686), "i686" or "x86_64"
  std::string Out;
  std::string Dir;          // folder of the files; "" = the current folder
  std::string Lang;         // language INI file, "" for none
  std::string Project;      // the project file, when one was given
  std::vector<std::string> Setup;  // every --setup given: NAME[*ARGS]
  std::vector<std::string> Files;  // plain names, optionally NAME*ARGS
  std::string UpdateUrl;
  std::string SettingsName;
  std::string AgentName;
  std::string AgentToken;
  bool Silent = false;
  bool AnnounceTempDrive = false;
  bool CreatesAgent = false;
  // Internet mode: the package carries no files, only where the setup
  // package is fetched from. Any of these but DownloadToken makes one.
  bool Internet = false;
  bool AskBeforeDownload = false;
  bool AlwaysDownload = false;
  std::string DownloadUrl;
  std::string DownloadName;
  std::string DownloadToken;    // also given to the setup package itself
  std::string DownloadSize;     // bytes, decimal; or taken from DownloadPackage
  std::string DownloadPackage;  // the setup package built before
  uint64_t VolumeSize = 0;  // 0: one file
  unsigned Jobs = 0;        // 0: one worker per core
  bool Quiet = false;       // no progress, no summary line
};

// Parses the arguments after "build". A first argument ending in ".ini", or
// --project FILE, reads a project file first; options
// on the command line then override its keys and files given there follow its
// files. False with Error (one line) on a bad argument.
bool ParseBuildArguments(const std::vector<std::string>& args, TBuildOptions& options, std::string& error);

// The project file's format, for --help.
extern const char* const kProjectHelp;
