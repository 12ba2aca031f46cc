#include "package/PackX.h"

#include <algorithm>
#include <cstring>

#include "package/SLangId.h"
#include "util/Utils.h"

void DecodeHeader(const uint8_t* b, TPackageHeader& h) {
  h.Format = b[0];
  h.SectionCount = b[1];
  h.Reserved1 = uint16_t(b[2] | b[3] << 8);
  h.DataOffset = GetU32(b + 4);
  h.FilesCount = GetU32(b + 8);
  h.Magic = GetU32(b + 12);
  h.Crc = GetU32(b + 16);
  std::memcpy(h.Reserved2, b + 20, 8);
  for (int i = 0; i < kClusterSizes; ++i) h.SizeByCluster[i] = GetU32(b + 28 + 4 * i);
  h.Reserved3 = b[64];
  h.HeaderFlags = b[65];
  h.InternetMode = b[66];
  h.AskBeforeDownload = b[67];
  h.CreatesAgent = b[68];
  h.IsAgent = b[69];
  h.HeaderSize = GetU32(b + 70);
}

void EncodeHeader(const TPackageHeader& h, uint8_t* b) {
  b[0] = h.Format;
  b[1] = h.SectionCount;
  b[2] = uint8_t(h.Reserved1);
  b[3] = uint8_t(h.Reserved1 >> 8);
  PutU32(b + 4, h.DataOffset);
  PutU32(b + 8, h.FilesCount);
  PutU32(b + 12, h.Magic);
  PutU32(b + 16, h.Crc);
  std::memcpy(b + 20, h.Reserved2, 8);
  for (int i = 0; i < kClusterSizes; ++i) PutU32(b + 28 + 4 * i, h.SizeByCluster[i]);
  b[64] = h.Reserved3;
  b[65] = h.HeaderFlags;
  b[66] = h.InternetMode;
  b[67] = h.AskBeforeDownload;
  b[68] = h.CreatesAgent;
  b[69] = h.IsAgent;
  PutU32(b + 70, h.HeaderSize);
}

bool IsPeFile(const TInFile& file) {
  uint8_t mz[2], pe[2];
  return file.ReadAt(0, mz, 2) == 2 && mz[0] == 'M' && mz[1] == 'Z' &&
         file.ReadAt(kPeSignatureOffset, pe, 2) == 2 && pe[0] == 'P' && pe[1] == 'E';
}

bool IsPeFile(const std::string& fileName) {
  TInFile file(fileName);
  return IsPeFile(file);
}

int64_t PackageEnd(const TInFile& file) {
  int64_t size = file.Size();
  if (size < 0) return -1;
  uint32_t stored;
  if (IsPeFile(file) && file.ReadU32(kPackageEndOffset, stored) && int32_t(stored) > 0) return int32_t(stored);
  return size;
}

void ReadPackageHeader(const TInFile& file, TPackageHeader& header) {
  uint8_t record[kHeaderBytes] = {};
  int32_t n = 0;
  int64_t end = PackageEnd(file);
  uint32_t stored;
  if (end >= 4 && file.ReadU32(end - 4, stored)) n = int32_t(stored);
  int32_t size = std::min<int32_t>(n, kHeaderBytes);
  // A length below 4 or reaching before the file's start reads nothing.
  if (size > 4 && end - n >= 0) file.ReadAt(end - n, record, size_t(size - 4));
  DecodeHeader(record, header);
  header.HeaderSize = uint32_t(std::max<int32_t>(size, 0));
  if (header.SectionCount == 0) header.SectionCount = 2;
}

void ReadPackageHeader(const std::string& fileName, TPackageHeader& header) {
  TInFile file(fileName);
  ReadPackageHeader(file, header);
}

double SpaceRequiredForCluster(const TPackageHeader& header, uint32_t clusterSize) {
  double result = header.SizeByCluster[0];
  for (int i = 1; i < kClusterSizes; ++i) {
    if (clusterSize >= (256u << i)) result = header.SizeByCluster[i];
  }
  return result;
}

std::string VolumeFileName(const std::string& firstVolume, int volume) {
  return firstVolume + "." + ZeroPadInt(volume, 3);
}

bool IsPlainEntryName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name) {
    if (c < 32 || c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' ||
        c == '|')
      return false;
  }
  // CON, NUL, COM1 ... name a device whatever their extension.
  std::string base = UpperCaseAscii(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* d : kDevices)
    if (base == d) return false;
  if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '1' &&
      base[3] <= '9')
    return false;
  return true;
}

std::string FindLanguageSection(const std::string& languageList, const std::string& name) {
  int count = ListTokenCount(languageList);
  for (int i = 0; i < count; ++i) {
    std::string section = ListGetToken(languageList, i, "");
    if (!section.empty() && SameTrimmedText(ListGetToken(section, 0, ""), name)) return section;
  }
  return "*";
}

namespace {
std::string g_chosenSection;
}

const std::string& ChosenLanguageSection(const std::string& languageList) {
  if (g_chosenSection.empty()) {
    std::string section = FindLanguageSection(languageList, ThreadLanguageName());
    if (section == "*") section = FindLanguageSection(languageList, "English");
    g_chosenSection = section;
  }
  return g_chosenSection;
}

void ResetLanguageChoice() { g_chosenSection.clear(); }

TGFileInfo::TGFileInfo(const std::string& fileName) : Header() {
  TInFile file(fileName);
  if (!file.IsOpen()) return;
  ReadPackageHeader(file, Header);
  if (Header.Magic != kPackageMagic) return;
  // Lengths come from the file: each must fit before the package end, or the
  // section and those after it stay empty.
  int64_t end = PackageEnd(file);
  std::string* sections[3] = {&LanguageList, &ProductList, &DownloadList};
  int wanted = Header.SectionCount >= 3 ? 3 : 2;
  int64_t pos = Header.DataOffset;
  for (int i = 0; i < wanted; ++i) {
    uint32_t len;
    if (!file.ReadU32(pos, len) || int64_t(len) > end - (pos + 4)) break;
    std::string text(len, '\0');
    if (len && file.ReadAt(pos + 4, &text[0], len) != len) break;
    *sections[i] = text;
    pos += int64_t(len) + 4;
    Header.DataOffset = uint32_t(pos);
  }
}

double TGFileInfo::SpaceRequired(const std::string& path) const {
  return SpaceRequiredForCluster(Header, ClusterSize(path));
}

std::string TGFileInfo::DownloadUrl() const { return ListGetToken(DownloadList, 0, ""); }
std::string TGFileInfo::DownloadFileName() const { return ListGetToken(DownloadList, 1, ""); }
std::string TGFileInfo::DownloadSizeText() const { return ListGetToken(DownloadList, 4, ""); }
bool TGFileInfo::AlwaysDownload() const { return ListGetToken(DownloadList, 2, "") == "1"; }

std::string TGFileInfo::DownloadToken(bool descramble) const {
  std::string token = ListGetToken(DownloadList, 3, "");
  return descramble ? Descramble(token) : token;
}

std::string TGFileInfo::UpdateUrl() const { return ListGetToken(ProductList, 0, ""); }
std::string TGFileInfo::AgentFileName() const { return ListGetToken(ProductList, 2, ""); }

std::string TGFileInfo::AgentToken(bool descramble) const {
  std::string token = ListGetToken(ProductList, 3, "");
  return descramble ? Descramble(token) : token;
}

std::string TGFileInfo::SettingsNameWith(const std::string& ext) const {
  std::string name = ListGetToken(ProductList, 1, "");
  // Replace the extension of the file part (a "." in a folder name is no extension).
  size_t slash = name.find_last_of("\\:");
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) name.erase(dot);
  name += ext;
  return FilePartOf(name);
}

std::string TGFileInfo::SettingsFileName() const { return SettingsNameWith(".info"); }
std::string TGFileInfo::OriginalSettingsFileName() const { return SettingsNameWith(".original"); }
bool TGFileInfo::IsSilent() const { return ListGetToken(ProductList, 4, "") == "1"; }

std::string TGFileInfo::LangText(const std::string& key, const std::string& def) const {
  const std::string& section = ChosenLanguageSection(LanguageList);
  if (section.size() > 1) return ListGetValue(section, key, def);
  return def;
}

int TGFileInfo::Charset() const { return int(StrToInt64Def(LangText("Charset", "0"), 0)); }

bool TGFileInfo::SameDownloadToken(const TGFileInfo& other) const {
  return DownloadToken(true) == other.DownloadToken(true);
}
