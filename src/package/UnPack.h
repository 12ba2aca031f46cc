// UnPack: writes the file entries of a package, over all its volumes, into a
// destination folder. The core is portable: the stub drives it with its
// window, message boxes and Win32 files, korvan-pack with plain files and no
// window. Entries are inflated and written piece by piece, so memory stays
// bounded whatever the size of an entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What extraction needs from its surroundings. Context is handed back to
// every function.
struct TExtractHost {
  void* Context;
  // Kind 0: range 0..RangeMax, position, step; kind 1: one step.
  void (*Progress)(void* context, int kind, int rangeMax, int position, int step);
  void (*Pump)(void* context);                 // dispatch one pending message
  void (*Delay)(void* context, uint32_t milliseconds);
  // The volume prompt: true for OK.
  bool (*AskVolume)(void* context, const std::string& text, const std::string& caption,
                    const std::string& buttons, int charset);
  void (*ShowError)(void* context, const std::string& text);  // caption "Error", charset 0
  bool (*CreateFolder)(void* context, const std::string& folder, std::string& errorText);
  void* (*OpenAppend)(void* context, const std::string& path);  // created when missing; null on failure
  bool (*Write)(void* context, void* file, const uint8_t* data, size_t len);
  // Closes; a non-zero DOS date-time becomes the file's date when Complete.
  void (*Close)(void* context, void* file, uint32_t dosTime, bool complete);
  // The error details of a failed write ("Data Size", "File Size", "Bytes Free").
  std::string (*SaveErrorDetails)(void* context, const std::string& target, uint64_t dataSize);
  bool (*WriteWholeFile)(void* context, const std::string& path, const std::string& data, uint32_t dosTime);
  uint32_t (*FileDosTime)(void* context, const std::string& path);
  // True once the run has been ended from outside (the window closed): the
  // extraction stops at its next piece, as a cancelled one does. May be null.
  bool (*Stopped)(void* context);
};

struct TExtractArgs {
  std::string PackagePath;   // the first volume
  std::string DestFolder;    // no trailing separator
  std::string AgentName;     // file name of the update-agent program, or ""
  std::string DiskPrompt;    // holds "<DISK_NUM>"
  std::string PromptCaption;
  std::string ButtonList;
  int Charset = 0;
  bool ForcePrompt = false;
  char Separator = '\\';
};

struct TExtractResult {
  bool CrcOk = false;
  std::string SetupEntry;  // "" when none, or when the user cancelled
  // The package was damaged past its checksum (a chunk longer than what is
  // left, an entry that does not inflate): CrcOk is false then too.
  bool Damaged = false;
  bool Cancelled = false;   // a volume prompt cancelled, or the run stopped
  std::string Problem;     // what was wrong, for tools that report it
  int NewFiles = 0;
};

void ExtractPackageCore(const TExtractArgs& args, const TExtractHost& host, TExtractResult& result);

// Failed file writes of this process; the first one is shown, later ones not.
int ExtractWriteFailures();
void ResetExtractWriteFailures();
