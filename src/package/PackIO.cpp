#include "package/PackIO.h"

namespace {
const TFileApi* g_api = nullptr;
}

const TFileApi& CurrentFileApi() { return g_api ? *g_api : PlatformFileApi(); }

void SetFileApi(const TFileApi* api) { g_api = api; }

TInFile::TInFile(const std::string& path) : api_(&CurrentFileApi()), handle_(api_->Open(path.c_str())) {}

TInFile::~TInFile() {
  if (handle_) api_->Close(handle_);
}

int64_t TInFile::Size() const { return handle_ ? api_->Size(handle_) : -1; }

size_t TInFile::ReadAt(int64_t pos, void* buffer, size_t len) const {
  if (!handle_ || pos < 0 || len == 0) return 0;
  return api_->ReadAt(handle_, pos, buffer, len);
}

bool TInFile::ReadU32(int64_t pos, uint32_t& value) const {
  uint8_t b[4];
  if (ReadAt(pos, b, 4) != 4) return false;
  value = GetU32(b);
  return true;
}

bool FileExists(const std::string& path) { return !path.empty() && CurrentFileApi().Exists(path.c_str()); }
