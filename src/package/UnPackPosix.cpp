// Extraction on the host (korvan-pack extract): plain files, no window. A
// volume that is missing cannot be asked for, so it ends the run with a
// clear reason instead.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utime.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "package/UnPack.h"
#include "package/UnPackHost.h"
#include "util/Utils.h"

namespace {

struct THostContext {
  std::string* messages;
  std::string missingVolume;
};

void Progress(void*, int, int, int, int) {}
void Pump(void*) {}
void Delay(void*, uint32_t) {}

bool AskVolume(void* context, const std::string& text, const std::string&, const std::string&, int) {
  static_cast<THostContext*>(context)->missingVolume = text;
  return false;
}

void ShowError(void* context, const std::string& text) {
  std::string& m = *static_cast<THostContext*>(context)->messages;
  if (!m.empty()) m += "\n";
  m += text;
}

bool CreateFolder(void*, const std::string& folder, std::string& error) {
  std::string path;
  for (size_t i = 0; i <= folder.size(); ++i) {
    if (i == folder.size() || (folder[i] == '/' && i > 0)) {
      path = folder.substr(0, i);
      if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
        error = std::strerror(errno);
        return false;
      }
    }
  }
  struct stat st;
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

struct TOutFile {
  int fd;
  std::string path;
};

void* OpenAppend(void*, const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  return new TOutFile{fd, path};
}

bool Write(void*, void* file, const uint8_t* data, size_t len) {
  int fd = static_cast<TOutFile*>(file)->fd;
  while (len > 0) {
    ssize_t n = ::write(fd, data, len);
    if (n <= 0) return false;
    data += n;
    len -= size_t(n);
  }
  return true;
}

void SetDosTime(const std::string& path, uint32_t dos) {
  struct tm t = {};
  t.tm_year = int((dos >> 25) & 0x7F) + 80;
  t.tm_mon = int((dos >> 21) & 0x0F) - 1;
  t.tm_mday = int((dos >> 16) & 0x1F);
  t.tm_hour = int((dos >> 11) & 0x1F);
  t.tm_min = int((dos >> 5) & 0x3F);
  t.tm_sec = int(dos & 0x1F) * 2;
  t.tm_isdst = -1;
  time_t when = mktime(&t);  // the DOS time is local, as Windows keeps it
  if (when == time_t(-1)) return;
  struct utimbuf times = {when, when};
  utime(path.c_str(), &times);
}

void Close(void*, void* file, uint32_t dosTime, bool complete) {
  TOutFile* f = static_cast<TOutFile*>(file);
  ::close(f->fd);
  if (complete && dosTime != 0) SetDosTime(f->path, dosTime);
  delete f;
}

std::string SaveErrorDetails(void*, const std::string& target, uint64_t dataSize) {
  return std::string(std::strerror(errno)) + "<P>Data Size: <T>" + IntToStr(int64_t(dataSize)) + " Bytes";
}

bool WriteWholeFile(void* context, const std::string& path, const std::string& data, uint32_t dosTime) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  TOutFile f{fd, path};
  bool ok = Write(context, &f, reinterpret_cast<const uint8_t*>(data.data()), data.size());
  ::close(fd);
  if (ok && dosTime) SetDosTime(path, dosTime);
  return ok;
}

uint32_t FileDosTime(void*, const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return 0;
  struct tm t;
  time_t when = st.st_mtime;
  localtime_r(&when, &t);
  if (t.tm_year < 80) return 0;
  return uint32_t(t.tm_year - 80) << 25 | uint32_t(t.tm_mon + 1) << 21 | uint32_t(t.tm_mday) << 16 |
         uint32_t(t.tm_hour) << 11 | uint32_t(t.tm_min) << 5 | uint32_t(t.tm_sec / 2);
}

}  // namespace

TExtractResult ExtractToFolder(const std::string& packagePath, const std::string& destFolder, std::string& messages) {
  THostContext context{&messages, std::string()};
  TExtractHost host = {&context, Progress, Pump, Delay, AskVolume, ShowError, CreateFolder,
                       OpenAppend, Write, Close, SaveErrorDetails, WriteWholeFile, FileDosTime};
  TExtractArgs args;
  args.PackagePath = packagePath;
  args.DestFolder = destFolder;
  args.DiskPrompt = "volume <DISK_NUM> is missing";
  args.Separator = '/';
  TExtractResult result;
  ExtractPackageCore(args, host, result);
  if (result.Cancelled && result.Problem.empty()) result.Problem = context.missingVolume;
  return result;
}
