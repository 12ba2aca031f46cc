// The package reader and the checksum over arbitrary bytes taken as a file.
#include "FuzzCommon.h"
#include "package/PackX.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = ScratchPath("reader.exe");
  WriteScratch(path, data, size);
  TPackageHeader header;
  ReadPackageHeader(path, header);
  GetCrc(path, int32_t(header.HeaderSize));
  TGFileInfo info(path);
  info.SpaceRequired("C:\\");
  info.DownloadUrl();
  info.DownloadFileName();
  info.DownloadSizeText();
  info.AlwaysDownload();
  info.DownloadToken(true);
  info.UpdateUrl();
  info.AgentFileName();
  info.AgentToken(true);
  info.SettingsFileName();
  info.OriginalSettingsFileName();
  info.IsSilent();
  info.LangText("s7", "Bad CRC!");
  info.Charset();
  info.SameDownloadToken(info);
  ResetLanguageChoice();
  return 0;
}
