#include "package/UnPackFiles.h"

#include <windows.h>

#include "paths/Files.h"
#include "settings/GlobalWin.h"
#include "util/UtilsWin.h"

namespace unpack_files {

bool CreateFolder(void*, const std::string& folder, std::string& error) {
  if (CreateFolderWithParents(folder)) return true;
  error = LastErrorText();
  return false;
}

void* OpenAppend(void*, const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  SetFilePointer(h, 0, nullptr, FILE_END);
  return h;
}

bool Write(void*, void* file, const uint8_t* data, size_t len) {
  while (len > 0) {
    DWORD want = DWORD(len > (1u << 20) ? (1u << 20) : len), done = 0;
    if (!WriteFile(file, data, want, &done, nullptr) || done != want) return false;
    data += done;
    len -= done;
  }
  return true;
}

void Close(void*, void* file, uint32_t dosTime, bool complete) {
  if (complete && dosTime != 0) {
    FILETIME local, utc;
    if (DosDateTimeToFileTime(WORD(dosTime >> 16), WORD(dosTime), &local) && LocalFileTimeToFileTime(&local, &utc))
      SetFileTime(file, nullptr, nullptr, &utc);
  }
  CloseHandle(file);
}

bool WriteWhole(void*, const std::string& path, const std::string& data, uint32_t dosTime) {
  return WriteFileText(path, data, dosTime, false);
}

uint32_t DosTimeOf(void*, const std::string& path) { return FileDosDateTime(path); }

}  // namespace unpack_files
