// The extractor's file callbacks over Win32 files, shared by the stub's
// extraction and the Windows korvan-pack: folders made with their parents,
// entries appended to and dated with their stored local time, whole files
// written, a volume's date read. Each takes the host's context and ignores it.
#ifndef KORVAN_PACKAGE_UNPACKFILES_H
#define KORVAN_PACKAGE_UNPACKFILES_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace unpack_files {

bool CreateFolder(void*, const std::string& folder, std::string& error);
void* OpenAppend(void*, const std::string& path);
bool Write(void*, void* file, const uint8_t* data, size_t len);
// The stored time is local, as the stub sets it.
void Close(void*, void* file, uint32_t dosTime, bool complete);
bool WriteWhole(void*, const std::string& path, const std::string& data, uint32_t dosTime);
uint32_t DosTimeOf(void*, const std::string& path);

}  // namespace unpack_files

#endif
