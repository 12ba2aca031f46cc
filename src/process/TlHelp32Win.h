// TlHelp32: the tool-help snapshot functions of kernel32, bound by name at
// run time so that the program starts on systems that lack them.
//
// The binding is made at the first call and kept to the end of the process.
// It is available when kernel32 and "CreateToolhelp32Snapshot" were found;
// without it the calls below fail the way the system reports failure.
#ifndef KORVAN_PROCESS_TLHELP32WIN_H
#define KORVAN_PROCESS_TLHELP32WIN_H

#include <windows.h>
#include <tlhelp32.h>

struct TTlHelp32 {
  HMODULE kernel;
  FARPROC createToolhelp32Snapshot;
  FARPROC heap32ListFirst;
  FARPROC heap32ListNext;
  FARPROC heap32First;
  FARPROC heap32Next;
  FARPROC toolhelp32ReadProcessMemory;
  FARPROC process32First;
  FARPROC process32Next;
  FARPROC process32FirstW;
  FARPROC process32NextW;
  FARPROC thread32First;
  FARPROC thread32Next;
  FARPROC module32First;
  FARPROC module32Next;
  FARPROC module32FirstW;
  FARPROC module32NextW;
};

// The binding, made on first use.
const TTlHelp32& TlHelp32();
bool TlHelp32Available();

// INVALID_HANDLE_VALUE when the binding or the snapshot fails.
HANDLE TlCreateSnapshot(DWORD flags, DWORD processId);
// Entry.dwSize must be set by the caller. False at the end of the list and
// when the binding is missing.
bool TlProcessFirst(HANDLE snapshot, PROCESSENTRY32& entry);
bool TlProcessNext(HANDLE snapshot, PROCESSENTRY32& entry);

#endif
