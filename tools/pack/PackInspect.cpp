#include "PackInspect.h"

#include <zlib.h>

#include <cstring>
#include <vector>

#include "PackJson.h"
#include "package/PackWalk.h"
#include "package/PackX.h"
#include "settings/Global.h"
#include "util/Utils.h"

namespace {

struct TSeenEntry {
  TWalkEntry Entry;
  uint32_t Crc32 = 0;
};

struct TSeen {
  std::vector<std::string> Sections;
  std::vector<TSeenEntry> Entries;
};

bool OnSection(void* c, int, const std::string& text) {
  static_cast<TSeen*>(c)->Sections.push_back(text);
  return true;
}
bool OnBegin(void* c, const TWalkEntry& e) {
  TSeenEntry s;
  s.Entry = e;
  s.Crc32 = uint32_t(crc32(0, nullptr, 0));
  static_cast<TSeen*>(c)->Entries.push_back(s);
  return true;
}
bool OnData(void* c, const TWalkEntry&, const uint8_t* data, size_t len) {
  TSeenEntry& s = static_cast<TSeen*>(c)->Entries.back();
  s.Crc32 = uint32_t(crc32(s.Crc32, data, uInt(len)));
  return true;
}
bool OnEnd(void* c, const TWalkEntry& e) {
  static_cast<TSeen*>(c)->Entries.back().Entry.Size = e.Size;
  return true;
}

TWalkResult Walk(const std::string& path, TSeen& seen) {
  TWalkHandlers h;
  h.Context = &seen;
  h.Section = OnSection;
  h.EntryBegin = OnBegin;
  h.EntryData = OnData;
  h.EntryEnd = OnEnd;
  return WalkVolume(path, 0, h);
}

std::string Hex(const std::string& bytes) {
  static const char d[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

std::string Hex32(uint32_t v, bool prefix) {
  char text[16];
  std::snprintf(text, sizeof text, prefix ? "0x%08X" : "%08x", unsigned(v));
  return text;
}

std::string BaseName(const std::string& path) {
  size_t p = path.find_last_of("/\\");
  return p == std::string::npos ? path : path.substr(p + 1);
}

uint32_t ValueAt252(const std::string& path) {
  TInFile file(path);
  uint32_t v = 0;
  if (!IsPeFile(file) || !file.ReadU32(kPackageEndOffset, v)) return 0;
  return v;
}

// Language sections: name and keys in stored order.
struct TLanguage {
  std::string Name;
  std::vector<std::pair<std::string, std::string>> Keys;
};

std::vector<TLanguage> Languages(const std::string& list) {
  std::vector<TLanguage> out;
  int count = ListTokenCount(list);
  for (int i = 0; i < count; ++i) {
    std::string section = ListGetToken(list, i, "");
    TLanguage lang;
    lang.Name = ListGetToken(section, 0, "");
    int keys = ListTokenCount(section);
    for (int k = 1; k < keys; ++k) {
      std::string t = ListGetToken(section, k, "");
      size_t eq = t.find('=');
      if (eq == std::string::npos) lang.Keys.push_back({t, ""});
      else lang.Keys.push_back({t.substr(0, eq), t.substr(eq + 1)});
    }
    out.push_back(lang);
  }
  return out;
}

std::string FlagNames(uint8_t flags) {
  std::string s;
  if (flags & kFlagAnnounceTempDrive) s += " announce-temp-drive";
  if (flags & kFlagSpanned) s += " spanned";
  return s.empty() ? "" : " (" + s.substr(1) + ")";
}

// The size as the stub's download question shows it.
std::string SizeMegabytes(const TGFileInfo& info) {
  return FormatMegabytes(double(StrToInt64Def(info.DownloadSizeText(), 0)));
}

void WriteJson(const std::string& path, const TWalkResult& w, const TSeen& seen, uint32_t crc, std::FILE* out) {
  const TPackageHeader& h = w.Header;
  TGFileInfo info(path);
  TJsonWriter j;
  j.BeginObject();
  j.Text("file", BaseName(path));
  j.Text("path", path);
  j.Number("size", uint64_t(w.FileSize));
  j.Number("value_at_252", ValueAt252(path));
  j.Number("package_end", uint64_t(w.End));
  j.BeginObject("header");
  j.Number("Format", h.Format);
  j.Number("SectionCount", h.SectionCount);
  j.Number("DataOffset", h.DataOffset);
  j.Number("FilesCount", h.FilesCount);
  j.Number("Magic", h.Magic);
  j.Number("Crc", h.Crc);
  j.BeginArray("SizeByCluster");
  for (int i = 0; i < kClusterSizes; ++i) j.Number(nullptr, h.SizeByCluster[i]);
  j.EndArray();
  j.Number("HeaderFlags", h.HeaderFlags);
  j.Number("InternetMode", h.InternetMode);
  j.Number("AskBeforeDownload", h.AskBeforeDownload);
  j.Number("CreatesAgent", h.CreatesAgent);
  j.Number("IsAgent", h.IsAgent);
  j.Number("HeaderSize", h.HeaderSize);
  j.EndObject();
  j.Number("GetCrc", crc);
  j.Bool("checksum_ok", crc == h.Crc);
  j.BeginArray("sections_hex");
  for (const std::string& s : seen.Sections) j.Text(nullptr, Hex(s));
  j.EndArray();
  j.BeginArray("languages");
  for (const TLanguage& lang : Languages(info.LanguageList)) {
    j.BeginObject();
    j.Text("name", lang.Name);
    j.BeginObject("keys");
    for (auto& kv : lang.Keys) j.Text(kv.first.c_str(), kv.second);
    j.EndObject();
    j.EndObject();
  }
  j.EndArray();
  j.BeginObject("product");
  j.Text("UpdateUrl", info.UpdateUrl());
  j.Text("SettingsName", ListGetToken(info.ProductList, 1, ""));
  j.Text("AgentFileName", info.AgentFileName());
  j.Text("AgentToken", info.AgentToken(false));
  j.Bool("Silent", info.IsSilent());
  j.EndObject();
  if (!info.AgentToken(false).empty()) j.Text("agent_token_unscrambled", info.AgentToken(true));
  if (h.SectionCount >= 3) {
    j.BeginObject("download");
    j.Text("DownloadUrl", info.DownloadUrl());
    j.Text("DownloadFileName", info.DownloadFileName());
    j.Bool("AlwaysDownload", info.AlwaysDownload());
    j.Text("DownloadToken", info.DownloadToken(false));
    j.Text("DownloadSizeText", info.DownloadSizeText());
    j.Text("DownloadSizeMegabytes", SizeMegabytes(info));
    j.EndObject();
    if (!info.DownloadToken(false).empty()) j.Text("download_token_unscrambled", info.DownloadToken(true));
  }
  j.BeginArray("entries");
  for (const TSeenEntry& s : seen.Entries) {
    const TWalkEntry& e = s.Entry;
    j.BeginObject();
    j.Text("entry_text", e.Text);
    j.Text("name", e.Name);
    j.Bool("setup", e.IsSetup);
    j.Text("setup_args", e.SetupArgs);
    j.Number("time", e.DosTime);
    j.Text("time_text", DosTimeText(e.DosTime));
    j.Number("offset", uint64_t(e.ChunkPos));
    j.Number("packed_size", e.PackedSize);
    j.Number("size", e.Size);
    j.Text("crc32", Hex32(s.Crc32, false));
    j.EndObject();
  }
  j.EndArray();
  j.Bool("walk_ok", w.Ok());
  j.Text("walk_error", w.Error);
  j.EndObject();
  std::fputs(j.Result().c_str(), out);
}

void WriteText(const std::string& path, const TWalkResult& w, const TSeen& seen, uint32_t crc, std::FILE* out) {
  const TPackageHeader& h = w.Header;
  TGFileInfo info(path);
  std::fprintf(out, "package        %s\n", path.c_str());
  std::fprintf(out, "size           %lld bytes, package end %lld (value at 252: %u)\n", (long long)w.FileSize,
               (long long)w.End, unsigned(ValueAt252(path)));
  std::fprintf(out, "header         SectionCount %u  DataOffset %u  FilesCount %u  HeaderSize %u\n",
               unsigned(h.SectionCount), unsigned(h.DataOffset), unsigned(h.FilesCount), unsigned(h.HeaderSize));
  std::fprintf(out, "checksum       %s stored, %s computed: %s\n", Hex32(h.Crc, true).c_str(), Hex32(crc, true).c_str(),
               crc == h.Crc ? "ok" : "MISMATCH");
  std::fprintf(out, "flags          HeaderFlags 0x%02X%s  InternetMode %u  AskBeforeDownload %u  CreatesAgent %u  IsAgent %u\n",
               unsigned(h.HeaderFlags), FlagNames(h.HeaderFlags).c_str(), unsigned(h.InternetMode),
               unsigned(h.AskBeforeDownload), unsigned(h.CreatesAgent), unsigned(h.IsAgent));
  std::fprintf(out, "SizeByCluster ");
  for (int i = 0; i < kClusterSizes; ++i) std::fprintf(out, " %u", unsigned(h.SizeByCluster[i]));
  std::fprintf(out, "\n");
  std::vector<TLanguage> langs = Languages(info.LanguageList);
  std::fprintf(out, "languages      %d\n", int(langs.size()));
  for (const TLanguage& lang : langs) {
    std::fprintf(out, "  [%s]\n", lang.Name.c_str());
    for (auto& kv : lang.Keys) std::fprintf(out, "    %s=%s\n", kv.first.c_str(), kv.second.c_str());
  }
  std::fprintf(out, "product        UpdateUrl     %s\n", info.UpdateUrl().c_str());
  std::fprintf(out, "               SettingsName  %s\n", ListGetToken(info.ProductList, 1, "").c_str());
  std::fprintf(out, "               AgentFileName %s\n", info.AgentFileName().c_str());
  std::string token = info.AgentToken(false);
  std::fprintf(out, "               AgentToken    %s\n", token.empty() ? "" : info.AgentToken(true).c_str());
  std::fprintf(out, "               Silent        %s\n", info.IsSilent() ? "yes" : "no");
  if (h.SectionCount >= 3) {
    std::fprintf(out, "download       DownloadUrl      %s\n", info.DownloadUrl().c_str());
    std::fprintf(out, "               DownloadFileName %s\n", info.DownloadFileName().c_str());
    std::fprintf(out, "               AlwaysDownload   %s\n", info.AlwaysDownload() ? "yes" : "no");
    std::string dtoken = info.DownloadToken(false);
    std::fprintf(out, "               DownloadToken    %s\n", dtoken.empty() ? "" : info.DownloadToken(true).c_str());
    std::fprintf(out, "               DownloadSize     %s bytes (%s MB)\n", info.DownloadSizeText().c_str(),
                 SizeMegabytes(info).c_str());
    std::fprintf(out, "               AskBeforeDownload %s\n", info.IsAskBeforeDownload() ? "yes" : "no");
  }
  std::fprintf(out, "entries        %d\n", int(seen.Entries.size()));
  if (!seen.Entries.empty())
    std::fprintf(out, "  %-4s %-19s %10s %10s  %-8s  %s\n", "#", "time", "packed", "size", "crc32", "name");
  int n = 0;
  for (const TSeenEntry& s : seen.Entries) {
    const TWalkEntry& e = s.Entry;
    std::string name = e.Name;
    if (e.IsSetup) name += "  [setup" + (e.SetupArgs.empty() ? std::string() : ": " + e.SetupArgs) + "]";
    std::fprintf(out, "  %-4d %-19s %10u %10llu  %s  %s\n", ++n, DosTimeText(e.DosTime).c_str(), unsigned(e.PackedSize),
                 (unsigned long long)e.Size, Hex32(s.Crc32, false).c_str(), name.c_str());
  }
}

}  // namespace

std::string DosTimeText(uint32_t t) {
  if (t == 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (t >> 25), (t >> 21) & 15, (t >> 16) & 31,
                (t >> 11) & 31, (t >> 5) & 63, (t & 31) * 2);
  return text;
}

int InspectPackage(const std::string& path, bool json, std::FILE* out, std::FILE* err) {
  TSeen seen;
  TWalkResult w = Walk(path, seen);
  if (w.Status == wsNoFile || w.Status == wsNoPackage) {
    std::fprintf(err, "korvan-pack: %s: %s\n", path.c_str(), w.Error.c_str());
    return 1;
  }
  uint32_t crc = GetCrc(path, int32_t(w.Header.HeaderSize));
  if (json) WriteJson(path, w, seen, crc, out);
  else WriteText(path, w, seen, crc, out);
  if (!w.Ok()) {
    std::fprintf(err, "korvan-pack: %s: %s\n", path.c_str(), w.Error.c_str());
    return 1;
  }
  return 0;
}

bool VerifyPackage(const std::string& path, std::string& summary, std::string& reason) {
  TPackageHeader header;
  {
    TInFile file(path);
    if (!file.IsOpen()) {
      reason = path + ": cannot open the file";
      return false;
    }
    ReadPackageHeader(file, header);
  }
  if (header.Magic != kPackageMagic) {
    reason = path + ": no package (magic number missing)";
    return false;
  }
  uint32_t crc = GetCrc(path, int32_t(header.HeaderSize));
  if (crc != header.Crc) {
    reason = path + ": checksum mismatch: header says " + Hex32(header.Crc, true) + ", the file sums to " +
             Hex32(crc, true);
    return false;
  }
  // Entries are inflated and dropped: only the walk's verdict counts.
  TWalkHandlers none;
  TWalkResult w = WalkVolume(path, 0, none);
  if (!w.Ok()) {
    reason = path + ": " + w.Error;
    return false;
  }
  if (w.LeftBeforeEnd() != int64_t(w.Header.HeaderSize)) {
    reason = path + ": " + IntToStr(w.LeftBeforeEnd()) + " bytes between the last chunk and the package end, " +
             "where the " + IntToStr(w.Header.HeaderSize) + "-byte header should stand";
    return false;
  }
  int entries = w.Entries + w.SkippedEntries;
  // A spanned package counts the entries of all its volumes.
  if (!IsSpanned(w.Header) && uint32_t(entries) != w.Header.FilesCount) {
    reason = path + ": the header counts " + IntToStr(w.Header.FilesCount) + " files, the package holds " +
             IntToStr(entries);
    return false;
  }
  summary = path + ": sound: " + IntToStr(entries) + " entries, checksum " + Hex32(crc, true);
  return true;
}
