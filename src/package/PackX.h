// The package format, shared by the stub and korvan-pack.
//
// A package is appended to an executable (or stands alone, as a volume file):
//
//   0       "MZ" ...                      the executable image (optional)
//   252     u32 package end E             only when "PE\0\0" stands at 256;
//                                         otherwise E is the file size
//   256     "PE\0\0" ...
//   DataOffset:                           chunks, each u32 length L + L bytes:
//           section 0  LanguageList       0x02-list of 0x01-lists
//           section 1  ProductList        |UpdateUrl|Settings|Agent|Token|Silent|
//           section 2  DownloadList       only when SectionCount >= 3
//           file entries                  zlib streams; inflated:
//                                         |name[*args]|dostime| 0x00 file bytes
//   E - 74  header (TPackageHeader, 74 bytes, the last 4 = HeaderSize)
//   E       anything after E (a signature) is not part of the package
//
// All integers are little-endian and read and written field by field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "package/PackIO.h"

const uint32_t kPackageMagic = 0x4A3B2C1D;
const int kHeaderBytes = 74;
const int kPackageEndOffset = 252;  // u32 package end, inside the DOS header
const int kPeSignatureOffset = 256;
const int kCrcSkipBytes = 512;      // left out of the checksum when E is stored
const int kClusterSizes = 9;

const uint8_t kFlagAnnounceTempDrive = 0x01;
const uint8_t kFlagSpanned = 0x02;

struct TPackageHeader {
  uint8_t Format;          // 0: written as 1
  uint8_t SectionCount;    // 1: 2 or 3; 0 reads as 2
  uint16_t Reserved1;      // 2
  uint32_t DataOffset;     // 4: first text section
  uint32_t FilesCount;     // 8
  uint32_t Magic;          // 12
  uint32_t Crc;            // 16
  uint8_t Reserved2[8];    // 20: copied unchanged
  uint32_t SizeByCluster[kClusterSizes];  // 28: [0] raw size, [i] on 256*2^i clusters
  uint8_t Reserved3;       // 64: written as 1
  uint8_t HeaderFlags;     // 65
  uint8_t InternetMode;    // 66
  uint8_t AskBeforeDownload;  // 67
  uint8_t CreatesAgent;    // 68
  uint8_t IsAgent;         // 69
  uint32_t HeaderSize;     // 70: 74
};

// Offsets of the mode bytes in the 74-byte record.
const int kOffsetHeaderFlags = 65;
const int kOffsetIsAgent = 69;
static_assert(kOffsetIsAgent + 1 + 4 == kHeaderBytes, "HeaderSize closes the record");
static_assert(28 + 4 * kClusterSizes == 64, "SizeByCluster ends at 64");

void DecodeHeader(const uint8_t* bytes, TPackageHeader& header);  // 74 bytes in
void EncodeHeader(const TPackageHeader& header, uint8_t* bytes);  // 74 bytes out

// "MZ" at 0 and "PE" at 256.
bool IsPeFile(const TInFile& file);
bool IsPeFile(const std::string& fileName);

// The end of the package: the value at 252 when the file is an executable
// and that value is positive, otherwise the file size (-1: cannot be read).
int64_t PackageEnd(const TInFile& file);

// Reads the header ending at the package end. Never fails: what cannot be
// read stays zero; SectionCount 0 is read as 2; HeaderSize = min(N, 74).
void ReadPackageHeader(const TInFile& file, TPackageHeader& header);
void ReadPackageHeader(const std::string& fileName, TPackageHeader& header);

inline bool IsSpanned(const TPackageHeader& header) { return (header.HeaderFlags & kFlagSpanned) != 0; }

// Bytes per cluster of the drive of Path; 0 when unknown (PackXWin.cpp / PackXPosix.cpp).
uint32_t ClusterSize(const std::string& path);

// The SizeByCluster entry for a cluster size: the largest table size whose
// cluster size does not exceed it.
double SpaceRequiredForCluster(const TPackageHeader& header, uint32_t clusterSize);

// The package checksum (an additive sum, not a CRC) of a file.
uint32_t GetCrc(const std::string& fileName, int32_t headerSize);

// Token scrambling: Descramble gives the stored token back, or a random
// number text when the text does not check. Scramble is the builder's inverse;
// the same token and seed always give the same text.
std::string Descramble(const std::string& text);
std::string Scramble(const std::string& token, uint32_t seed);

// Volume N (2, 3, ...) of a spanned package: path + "." + three digits.
std::string VolumeFileName(const std::string& firstVolume, int volume);

// A file name an entry may carry: not empty, no folder separator or drive
// colon, not "." or "..", no control characters, no DOS device name. Anything
// else could be written outside the destination folder or to a device.
bool IsPlainEntryName(const std::string& name);

// Language selection: the section of LanguageList whose name matches, or "*".
std::string FindLanguageSection(const std::string& languageList, const std::string& name);

// The package reader. Holds no open file.
class TGFileInfo {
 public:
  explicit TGFileInfo(const std::string& fileName);

  TPackageHeader Header;
  std::string LanguageList;
  std::string ProductList;
  std::string DownloadList;

  bool HasMagic() const { return Header.Magic == kPackageMagic; }
  double SpaceRequired(const std::string& path) const;
  bool AnnounceTempDrive() const { return (Header.HeaderFlags & kFlagAnnounceTempDrive) != 0; }
  bool IsInternetMode() const { return Header.InternetMode != 0; }
  bool IsAskBeforeDownload() const { return Header.AskBeforeDownload != 0; }
  bool IsCreatesAgent() const { return Header.CreatesAgent != 0; }
  bool IsAgentProgram() const { return Header.IsAgent != 0; }

  std::string DownloadUrl() const;
  std::string DownloadFileName() const;
  std::string DownloadSizeText() const;
  bool AlwaysDownload() const;
  std::string DownloadToken(bool descramble) const;

  std::string UpdateUrl() const;
  std::string AgentFileName() const;
  std::string AgentToken(bool descramble) const;
  std::string SettingsFileName() const;
  std::string OriginalSettingsFileName() const;
  bool IsSilent() const;

  std::string LangText(const std::string& key, const std::string& def) const;
  int Charset() const;
  bool SameDownloadToken(const TGFileInfo& other) const;

 private:
  std::string SettingsNameWith(const std::string& ext) const;
};

// The language section chosen for this process ("*" when none matched);
// chosen on the first LangText and kept. Tests reset it.
const std::string& ChosenLanguageSection(const std::string& languageList);
void ResetLanguageChoice();
