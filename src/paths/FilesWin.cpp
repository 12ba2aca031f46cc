// Files through the Win32 file functions (ANSI paths).
#include <windows.h>

#include "paths/Files.h"
#include "util/UtilsWin.h"

namespace {

// Closes the handle on every way out of the caller.
struct TFile {
  HANDLE h = INVALID_HANDLE_VALUE;
  explicit TFile(HANDLE handle) : h(handle) {}
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;
  ~TFile() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  bool ok() const { return h != INVALID_HANDLE_VALUE; }
};

struct TFind {
  HANDLE h = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAA data;
  TFind(const TFind&) = delete;
  TFind& operator=(const TFind&) = delete;
  // Positions on the first entry that passes Mask; ok() is false when none.
  TFind(const std::string& pattern, uint32_t mask) : mask_(mask) {
    h = FindFirstFileA(pattern.c_str(), &data);
    if (h != INVALID_HANDLE_VALUE && !EntryPassesMask(data.dwFileAttributes, mask_)) next();
  }
  ~TFind() {
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
  }
  bool ok() const { return h != INVALID_HANDLE_VALUE; }
  void next() {
    while (FindNextFileA(h, &data)) {
      if (EntryPassesMask(data.dwFileAttributes, mask_)) return;
    }
    FindClose(h);
    h = INVALID_HANDLE_VALUE;
  }

 private:
  uint32_t mask_;
};

const DWORD kShareDenyNone = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool IsFile(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsFolder(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// DOS date in the high word, time in the low word, local time.
void SetFileDate(HANDLE h, uint32_t fileDate) {
  FILETIME local, utc;
  if (DosDateTimeToFileTime(WORD(fileDate >> 16), WORD(fileDate & 0xFFFF), &local) &&
      LocalFileTimeToFileTime(&local, &utc))
    SetFileTime(h, nullptr, nullptr, &utc);
}

HANDLE OpenForAppend(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, kShareDenyNone, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h != INVALID_HANDLE_VALUE) SetFilePointer(h, 0, nullptr, FILE_END);
  return h;
}

}  // namespace

uint32_t FileSizeOf(const std::string& path) {
  TFind find(path, kAttrAny);
  return find.ok() ? uint32_t(find.data.nFileSizeLow) : 0;
}

std::string ReadFileRange(const std::string& path, int64_t offset, int64_t maxCount) {
  if (!IsFile(path)) return std::string();
  TFile file(CreateFileA(path.c_str(), GENERIC_READ, kShareDenyNone, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr));
  if (!file.ok()) return std::string();
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.h, &size)) return std::string();
  const int64_t count = ReadRangeCount(size.QuadPart, offset, maxCount);
  // One string holds the result: a range that no string of this build can
  // hold reads as nothing rather than ending the program.
  if (count <= 0 || uint64_t(count) > uint64_t(0x7FFFFFFF)) return std::string();
  LARGE_INTEGER at;
  at.QuadPart = offset;
  if (!SetFilePointerEx(file.h, at, nullptr, FILE_BEGIN)) return std::string();
  std::string result(size_t(count), '\0');
  DWORD got = 0;
  if (!ReadFile(file.h, &result[0], DWORD(count), &got, nullptr) || got != DWORD(count)) return std::string();
  return result;
}

bool WriteFileText(const std::string& path, const std::string& data, uint32_t fileDate, bool append) {
  TFile file(append ? OpenForAppend(path)
                    : CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) return false;
  // Large texts go in pieces: one write of many megabytes can fail on a
  // network share where smaller ones pass.
  const size_t chunk = WriteChunkSize(data.size());
  size_t done = 0;
  while (done < data.size()) {
    size_t piece = data.size() - done;
    if (piece > chunk) piece = chunk;
    DWORD written = 0;
    if (!WriteFile(file.h, data.data() + done, DWORD(piece), &written, nullptr) || written == 0) break;
    done += written;
  }
  const bool complete = done == data.size();
  if (complete && fileDate != 0) SetFileDate(file.h, fileDate);
  return complete;
}

bool AppendToFile(const std::string& path, const std::string& data, uint32_t fileDate) {
  TFile file(OpenForAppend(path));
  if (!file.ok()) return false;
  DWORD written = 0;
  if (!data.empty() && !WriteFile(file.h, data.data(), DWORD(data.size()), &written, nullptr)) written = 0;
  if (fileDate != 0) SetFileDate(file.h, fileDate);
  return written == data.size();
}

double DiskFreeBytes(const std::string& path) {
  const std::string root = DiskRootOf(path);
  DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
  if (!GetDiskFreeSpaceA(root.empty() ? nullptr : root.c_str(), &sectorsPerCluster, &bytesPerSector,
                         &freeClusters, &totalClusters))
    return -1;
  return double(sectorsPerCluster * bytesPerSector) * double(freeClusters);
}

bool DeleteFilesByMask(const std::string& mask, bool clearAttributes) {
  const std::string folder = MaskFolderPart(mask);
  bool visited = false;
  for (TFind find(mask, kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive); find.ok(); find.next()) {
    visited = true;
    const std::string path = folder + find.data.cFileName;
    if (clearAttributes) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
  }
  return visited;
}

bool DeleteTree(const std::string& folder, bool clearAttributes) {
  if (folder.empty()) return false;
  int count = IsFolder(folder) ? 1 : 0;
  DeleteFilesByMask(folder + "\\*.*", clearAttributes);
  for (TFind find(folder + "\\*.*", kAttrDirectory); find.ok(); find.next()) {
    const WIN32_FIND_DATAA& d = find.data;
    if ((d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
    const std::string name = d.cFileName;
    if (name == "." || name == "..") continue;
    const std::string sub = folder + "\\" + name;
    // A junction or folder link is removed as a link: walking into it would
    // delete files that live outside this tree.
    if ((d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) DeleteTree(sub, clearAttributes);
    RemoveDirectoryA(sub.c_str());
  }
  RemoveDirectoryA(folder.c_str());
  if (!IsFolder(folder)) ++count;
  return count == 2;
}

// The batch normally starts after this process has ended: cmd.exe takes
// longer to come up than the caller takes to exit. Its retry line helps less
// than it looks, since cmd (Windows' and Wine's alike) leaves the error level
// at 0 when DEL is refused a file still in use. Wine runs the batch through
// its own cmd.exe with nothing special; a console the program inherited
// also receives the batch's echo there.
void SelfDeleteBatch() {
  const std::string batchPath = TempDir(true) + "_DEL_ME_.BAT";
  WriteFileText(batchPath, SelfDeleteBatchText(ExePath(), batchPath), 0, false);
  // Quoted, so that a temporary folder with blanks in its path cannot start
  // a program that happens to be named after its first word.
  WinExec(("\"" + batchPath + "\"").c_str(), SW_HIDE);
}
