#include <sys/statvfs.h>

#include "package/PackX.h"

// Host builds ask the file system of the path itself; 0 when it cannot.
uint32_t ClusterSize(const std::string& path) {
  struct statvfs st;
  if (path.empty() || statvfs(path.c_str(), &st) != 0) return 0;
  return uint32_t(st.f_bsize);
}
