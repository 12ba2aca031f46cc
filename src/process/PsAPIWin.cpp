// PsAPI binding; see PsAPIWin.h.
#include "process/PsAPIWin.h"

#include "util/UtilsWin.h"

#include <vector>

namespace {

typedef BOOL(WINAPI* EnumProcessesFn)(DWORD*, DWORD, DWORD*);
typedef BOOL(WINAPI* EnumProcessModulesFn)(HANDLE, HMODULE*, DWORD, DWORD*);
typedef DWORD(WINAPI* ModuleNameFn)(HANDLE, HMODULE, LPSTR, DWORD);

template <typename Fn>
Fn as(FARPROC proc) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

TPsAPI g_binding = {};

void bind() {
  if (g_binding.library) return;
  HMODULE lib = LoadSystemLibrary("PSAPI.dll");
  // Handle values below 32 are the old error codes of the loader.
  if (reinterpret_cast<uintptr_t>(lib) < 32) return;
  TPsAPI& b = g_binding;
  b.library = lib;
  b.enumProcesses = GetProcAddress(lib, "EnumProcesses");
  b.enumProcessModules = GetProcAddress(lib, "EnumProcessModules");
  b.getModuleBaseNameA = GetProcAddress(lib, "GetModuleBaseNameA");
  b.getModuleFileNameExA = GetProcAddress(lib, "GetModuleFileNameExA");
  b.getModuleBaseNameW = GetProcAddress(lib, "GetModuleBaseNameW");
  b.getModuleFileNameExW = GetProcAddress(lib, "GetModuleFileNameExW");
  b.getModuleInformation = GetProcAddress(lib, "GetModuleInformation");
  b.emptyWorkingSet = GetProcAddress(lib, "EmptyWorkingSet");
  b.queryWorkingSet = GetProcAddress(lib, "QueryWorkingSet");
  b.initializeProcessForWsWatch = GetProcAddress(lib, "InitializeProcessForWsWatch");
  b.getMappedFileNameA = GetProcAddress(lib, "GetMappedFileNameA");
  b.getDeviceDriverBaseNameA = GetProcAddress(lib, "GetDeviceDriverBaseNameA");
  b.getDeviceDriverFileNameA = GetProcAddress(lib, "GetDeviceDriverFileNameA");
  b.getMappedFileNameW = GetProcAddress(lib, "GetMappedFileNameW");
  b.getDeviceDriverBaseNameW = GetProcAddress(lib, "GetDeviceDriverBaseNameW");
  b.getDeviceDriverFileNameW = GetProcAddress(lib, "GetDeviceDriverFileNameW");
  b.enumDeviceDrivers = GetProcAddress(lib, "EnumDeviceDrivers");
  b.getProcessMemoryInfo = GetProcAddress(lib, "GetProcessMemoryInfo");
}

std::string moduleName(FARPROC proc, HANDLE process, HMODULE module) {
  if (!proc) return std::string();
  std::vector<char> buf(MAX_PATH + 1);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buf.size());
    const DWORD n = as<ModuleNameFn>(proc)(process, module, buf.data(), size);
    if (n == 0) return std::string();
    // A filled buffer may hold a cut name: try again with more room.
    if (n < size - 1) return std::string(buf.data(), n);
    if (buf.size() >= 32768) return std::string();
    buf.resize(buf.size() * 2);
  }
}

}  // namespace

const TPsAPI& PsAPI() {
  bind();
  return g_binding;
}

bool PsAPIAvailable() { return PsAPI().library != nullptr; }

bool PsEnumProcesses(DWORD* ids, DWORD bytes, DWORD* bytesReturned) {
  const FARPROC proc = PsAPI().enumProcesses;
  if (!proc) return false;
  return as<EnumProcessesFn>(proc)(ids, bytes, bytesReturned) != FALSE;
}

bool PsEnumProcessModules(HANDLE process, HMODULE* modules, DWORD bytes, DWORD* bytesNeeded) {
  const FARPROC proc = PsAPI().enumProcessModules;
  if (!proc) return false;
  return as<EnumProcessModulesFn>(proc)(process, modules, bytes, bytesNeeded) != FALSE;
}

std::string PsModuleFileName(HANDLE process, HMODULE module) {
  return moduleName(PsAPI().getModuleFileNameExA, process, module);
}

std::string PsModuleBaseName(HANDLE process, HMODULE module) {
  return moduleName(PsAPI().getModuleBaseNameA, process, module);
}
