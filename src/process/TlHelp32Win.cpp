// TlHelp32 binding; see TlHelp32Win.h.
#include "process/TlHelp32Win.h"

namespace {

typedef HANDLE(WINAPI* CreateSnapshotFn)(DWORD, DWORD);
typedef BOOL(WINAPI* ProcessWalkFn)(HANDLE, PROCESSENTRY32*);

// A looked-up address as the function it is. The detour through a plain
// function pointer keeps the compiler from warning about the cast.
template <typename Fn>
Fn as(FARPROC proc) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

TTlHelp32 bind() {
  TTlHelp32 b = {};
  // kernel32 is in every process: no load, no reference to drop.
  b.kernel = GetModuleHandleA("kernel32.dll");
  if (!b.kernel) return b;
  const HMODULE k = b.kernel;
  b.createToolhelp32Snapshot = GetProcAddress(k, "CreateToolhelp32Snapshot");
  b.heap32ListFirst = GetProcAddress(k, "Heap32ListFirst");
  b.heap32ListNext = GetProcAddress(k, "Heap32ListNext");
  b.heap32First = GetProcAddress(k, "Heap32First");
  b.heap32Next = GetProcAddress(k, "Heap32Next");
  b.toolhelp32ReadProcessMemory = GetProcAddress(k, "Toolhelp32ReadProcessMemory");
  b.process32First = GetProcAddress(k, "Process32First");
  b.process32Next = GetProcAddress(k, "Process32Next");
  b.process32FirstW = GetProcAddress(k, "Process32FirstW");
  b.process32NextW = GetProcAddress(k, "Process32NextW");
  b.thread32First = GetProcAddress(k, "Thread32First");
  b.thread32Next = GetProcAddress(k, "Thread32Next");
  b.module32First = GetProcAddress(k, "Module32First");
  b.module32Next = GetProcAddress(k, "Module32Next");
  b.module32FirstW = GetProcAddress(k, "Module32FirstW");
  b.module32NextW = GetProcAddress(k, "Module32NextW");
  return b;
}

}  // namespace

const TTlHelp32& TlHelp32() {
  static const TTlHelp32 binding = bind();
  return binding;
}

bool TlHelp32Available() {
  const TTlHelp32& b = TlHelp32();
  return b.kernel && b.createToolhelp32Snapshot;
}

HANDLE TlCreateSnapshot(DWORD flags, DWORD processId) {
  if (!TlHelp32Available()) return INVALID_HANDLE_VALUE;
  const HANDLE h = as<CreateSnapshotFn>(TlHelp32().createToolhelp32Snapshot)(flags, processId);
  // A null handle is no snapshot either; callers test for one value only.
  return h ? h : INVALID_HANDLE_VALUE;
}

bool TlProcessFirst(HANDLE snapshot, PROCESSENTRY32& entry) {
  if (!TlHelp32Available() || !TlHelp32().process32First) return false;
  return as<ProcessWalkFn>(TlHelp32().process32First)(snapshot, &entry) != FALSE;
}

bool TlProcessNext(HANDLE snapshot, PROCESSENTRY32& entry) {
  if (!TlHelp32Available() || !TlHelp32().process32Next) return false;
  return as<ProcessWalkFn>(TlHelp32().process32Next)(snapshot, &entry) != FALSE;
}
