#include "paths/ShellDir.h"

#include <windows.h>

#include <cstring>

#include "util/Registry.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

std::string g_shellFolderLibrary = "SHFolder.dll";

typedef HRESULT(WINAPI* SHGetFolderPathAFn)(HWND, int, HANDLE, DWORD, LPSTR);

bool folderExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Up to and including the last "\" or ":", then without that backslash.
std::string parentOf(const std::string& path) {
  const size_t cut = path.find_last_of("\\:");
  const std::string head = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
  return SetTrailingBackslash(head, false);
}

// Parent of the service's folder, or the folder itself (which then fails
// the caller's test) when it does not exist.
std::string parentIfExists(const std::string& path) { return folderExists(path) ? parentOf(path) : path; }

std::string finish(const std::string& path, bool withBackslash) { return SetTrailingBackslash(path, withBackslash); }

}  // namespace

void SetShellFolderLibrary(const std::string& libraryName) { g_shellFolderLibrary = libraryName; }

std::string ShellFolderPath(int folderId) {
  // Looked up at every use: the library is absent on older systems, and
  // loading it again only raises its use count.
  const FARPROC proc = GetProcAddressOf(g_shellFolderLibrary, "SHGetFolderPathA");
  // Through a generic function type: FARPROC's own signature says nothing.
  SHGetFolderPathAFn getFolderPath = reinterpret_cast<SHGetFolderPathAFn>(reinterpret_cast<void (*)()>(proc));
  if (!getFolderPath) return std::string();
  // One byte over the usual 1024, zero-filled, so the text always ends.
  char buffer[1025];
  std::memset(buffer, 0, sizeof buffer);
  if (getFolderPath(nullptr, folderId, nullptr, 0, buffer) != S_OK) return std::string();
  buffer[sizeof buffer - 1] = '\0';
  return std::string(buffer);
}

std::string GetProfilesFallbackDir(bool withBackslash) {
  const std::string profile = WindowsDir(true) + "Profiles\\" + GetRegisteredOwner();
  return finish(folderExists(profile) ? profile : WindowsDir(false), withBackslash);
}

std::string GetUserDir(bool withBackslash) {
  std::string p = parentIfExists(ShellFolderPath(kFolderPersonal));
  if (!folderExists(p)) p = GetProfilesFallbackDir(false);
  return finish(p, withBackslash);
}

std::string GetDocumentsAndSettingsDir(bool withBackslash) {
  std::string p = ShellFolderPath(kFolderPersonal);
  if (folderExists(p)) p = parentOf(p);
  if (folderExists(p)) p = parentOf(p);
  if (!folderExists(p)) p = GetProfilesFallbackDir(false);
  return finish(p, withBackslash);
}

std::string GetAllUsersDir(bool withBackslash) {
  std::string p = parentIfExists(ShellFolderPath(kFolderCommonAppData));
  if (!folderExists(p)) p = WindowsDir(false);
  return finish(p, withBackslash);
}

std::string GetUserAppDataDir(bool withBackslash) {
  std::string p = ShellFolderPath(kFolderAppData);
  if (!folderExists(p)) p = GetProfilesFallbackDir(true) + "Application Data";
  return finish(p, withBackslash);
}

std::string GetAllUsersAppDataDir(bool withBackslash) {
  std::string p = ShellFolderPath(kFolderCommonAppData);
  if (!folderExists(p)) p = WindowsDir(true) + "Application Data";
  return finish(p, withBackslash);
}

std::string GetMyDocumentsDir(bool withBackslash) {
  std::string p = ShellFolderPath(kFolderPersonal);
  if (!folderExists(p)) p = GetProfilesFallbackDir(true) + "My Documents";
  return finish(p, withBackslash);
}

std::string GetAllUsersDocumentsDir(bool withBackslash) {
  std::string p = ShellFolderPath(kFolderCommonDocuments);
  if (!folderExists(p)) p = WindowsDir(true) + "Documents";
  return finish(p, withBackslash);
}

std::string GetUserStartMenuDir(bool withBackslash) {
  std::string p = GetUserDir(true) + "Start Menu";
  if (!folderExists(p)) p = GetAllUsersDir(true) + "Start Menu";
  return finish(p, withBackslash);
}

std::string GetAllUsersStartMenuDir(bool withBackslash) {
  return finish(GetAllUsersDir(true) + "Start Menu", withBackslash);
}

std::string GetUserDesktopDir(bool withBackslash) {
  std::string p = GetUserDir(true) + "Desktop";
  if (!folderExists(p)) p = GetAllUsersDir(true) + "Desktop";
  return finish(p, withBackslash);
}

std::string GetAllUsersDesktopDir(bool withBackslash) {
  return finish(GetAllUsersDir(true) + "Desktop", withBackslash);
}
