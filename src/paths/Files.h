// Files: the file-system operations the units share: whole-string reads and
// writes, appends, free space, deletion by mask and of whole trees, and the
// batch that removes the running program after it has ended. Paths are 8-bit
// ANSI; folders come without a trailing backslash unless stated. Nothing
// reports an error other than through its result. FileBaseName lives in Utils.
//
// The pieces of logic that need no system call are portable (Files.cpp);
// the operations themselves are Win32 (FilesWin.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "util/Utils.h"

// ---- Portable --------------------------------------------------------------

// Attribute bits as the directory scans use them.
const uint32_t kAttrReadOnly = 0x01;
const uint32_t kAttrHidden = 0x02;
const uint32_t kAttrSystem = 0x04;
const uint32_t kAttrVolume = 0x08;
const uint32_t kAttrDirectory = 0x10;
const uint32_t kAttrArchive = 0x20;
const uint32_t kAttrAny = 0x3F;

// A scan with Mask lists an entry only when it has none of the bits hidden,
// system, volume label and directory outside Mask.
bool EntryPassesMask(uint32_t attributes, uint32_t mask);
// Bytes WriteFileText hands to one write: all of a text up to 1 MiB, else a
// tenth of it, at most 1 MiB; the last write takes what is left.
size_t WriteChunkSize(size_t total);
// Bytes ReadFileRange reads from a file of Size bytes; 0 when Offset lies
// outside the file. MaxCount 0 reads to the end.
int64_t ReadRangeCount(int64_t size, int64_t offset, int64_t maxCount);
// Folder part of a mask, ready for a file name to be appended: "C:\x\" for
// "C:\x\*.tmp", "" for "*.tmp".
std::string MaskFolderPart(const std::string& mask);
// "X:\" for a path on drive X (any letter case), "" for an empty path.
std::string DiskRootOf(const std::string& path);
// The self-delete batch: retries deleting ExePath until the program has
// ended, then deletes the batch itself.
std::string SelfDeleteBatchText(const std::string& exePath, const std::string& batchPath);

// ---- Win32 -----------------------------------------------------------------

// Size of the first entry matching Path (any attributes); 0 if none.
uint32_t FileSizeOf(const std::string& path);
// MaxCount bytes from Offset (0: to the end); "" when Path is no file, the
// range lies outside it or the read comes up short.
std::string ReadFileRange(const std::string& path, int64_t offset, int64_t maxCount);
// Creates or truncates Path (Append: opens it and writes at its end) and
// writes Data. True when every byte was written; only then a FileDate other
// than 0 (DOS date-time, local) becomes the file's date.
bool WriteFileText(const std::string& path, const std::string& data, uint32_t fileDate = 0, bool append = false);
// Writes Data at the end of Path, creating it; sets a FileDate other than 0
// whatever the write did. True when every byte was written.
bool AppendToFile(const std::string& path, const std::string& data, uint32_t fileDate = 0);
// Free bytes on the drive of Path (the current drive for ""); -1 on failure.
double DiskFreeBytes(const std::string& path);
// Deletes every file matching Mask, hidden and system ones included;
// ClearAttributes first makes each one normal so read-only files go too.
// True when at least one file was found, whether or not it could be deleted.
bool DeleteFilesByMask(const std::string& mask, bool clearAttributes);
// Deletes Folder with everything under it except hidden or system folders.
// True when the folder existed and is gone.
bool DeleteTree(const std::string& folder, bool clearAttributes);
// Writes "_DEL_ME_.BAT" into the temporary folder and starts it hidden; the
// caller then ends the process.
void SelfDeleteBatch();
