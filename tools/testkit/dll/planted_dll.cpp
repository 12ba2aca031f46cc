// Test kit: a DLL planted beside a program under the name of a system
// library. Loading it leaves a mark, "PLANTED-<its name>.txt" in its own
// folder, and then refuses to load, so the program goes on as if the library
// were missing. A test that finds the mark has shown the program loaded a
// library from its own folder.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH + 32];
  DWORD n = GetModuleFileNameA(instance, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return FALSE;
  char* name = path + n;
  while (name > path && name[-1] != '\\') --name;
  char base[MAX_PATH];
  lstrcpynA(base, name, MAX_PATH);
  lstrcpyA(name, "PLANTED-");
  lstrcatA(name, base);
  lstrcatA(name, ".txt");
  HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  return FALSE;
}
