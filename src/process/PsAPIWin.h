// PsAPI: the process-status functions of "PSAPI.dll", bound by name at run
// time so that the program starts on systems without the library.
//
// The library is loaded at the first call and never unloaded. A failed load
// leaves the binding undone, and the next call tries again. Without the
// binding the calls below fail the way the system reports failure.
#ifndef KORVAN_PROCESS_PSAPIWIN_H
#define KORVAN_PROCESS_PSAPIWIN_H

#include <windows.h>

#include <string>

struct TPsAPI {
  HMODULE library;
  FARPROC enumProcesses;
  FARPROC enumProcessModules;
  FARPROC getModuleBaseNameA;
  FARPROC getModuleFileNameExA;
  FARPROC getModuleBaseNameW;
  FARPROC getModuleFileNameExW;
  FARPROC getModuleInformation;
  FARPROC emptyWorkingSet;
  FARPROC queryWorkingSet;
  FARPROC initializeProcessForWsWatch;
  FARPROC getMappedFileNameA;
  FARPROC getDeviceDriverBaseNameA;
  FARPROC getDeviceDriverFileNameA;
  FARPROC getMappedFileNameW;
  FARPROC getDeviceDriverBaseNameW;
  FARPROC getDeviceDriverFileNameW;
  FARPROC enumDeviceDrivers;
  FARPROC getProcessMemoryInfo;
};

// The binding, made (or tried again) on each call until the library loads.
const TPsAPI& PsAPI();
bool PsAPIAvailable();

bool PsEnumProcesses(DWORD* ids, DWORD bytes, DWORD* bytesReturned);
bool PsEnumProcessModules(HANDLE process, HMODULE* modules, DWORD bytes, DWORD* bytesNeeded);
// Full path and file name of Module in Process; "" when it cannot be read.
// Paths longer than MAX_PATH get the room they need rather than being cut,
// so that a cut name can never match.
std::string PsModuleFileName(HANDLE process, HMODULE module);
std::string PsModuleBaseName(HANDLE process, HMODULE module);

#endif
