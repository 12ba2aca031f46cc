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

std::string Hex32(uint32_t v, bool prefix);

struct TSeenEntry {
  TWalkEntry Entry;
  uint32_t Crc32 = 0;
  int Volume = 1;
  bool Continued = false;  // appends to the file of the entry before it
};

struct TSeen {
  std::vector<std::string> Sections;
  std::vector<TSeenEntry> Entries;
  int Volume = 1;
};

// One volume of a package as walked: its file, the walk and its checksum.
struct TVolume {
  int Number = 1;
  std::string Path;
  bool Missing = false;
  TWalkResult Walk;
  uint32_t Crc = 0;
};

bool OnSection(void* c, int, const std::string& text) {
  static_cast<TSeen*>(c)->Sections.push_back(text);
  return true;
}
bool OnBegin(void* c, const TWalkEntry& e) {
  TSeen& seen = *static_cast<TSeen*>(c);
  TSeenEntry s;
  s.Entry = e;
  s.Crc32 = uint32_t(crc32(0, nullptr, 0));
  s.Volume = seen.Volume;
  // The first entry of a later volume may continue the last one before it.
  s.Continued = !seen.Entries.empty() && seen.Entries.back().Volume != s.Volume &&
                SameText(seen.Entries.back().Entry.Name, e.Name);
  seen.Entries.push_back(s);
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

// Walks the first volume and every volume its headers announce, counting
// chunks across them as the extractor does. Stops at a missing volume or one
// that carries no package; the last element then says which.
std::vector<TVolume> WalkAll(const std::string& path, TSeen* seen) {
  TWalkHandlers h;
  if (seen) {
    h.Context = seen;
    h.Section = OnSection;
    h.EntryBegin = OnBegin;
    h.EntryData = OnData;
    h.EntryEnd = OnEnd;
  }
  std::vector<TVolume> volumes;
  int chunks = 0;
  for (int n = 1;; ++n) {
    TVolume v;
    v.Number = n;
    v.Path = n == 1 ? path : VolumeFileName(path, n);
    if (n > 1 && !FileExists(v.Path)) {
      v.Missing = true;
      volumes.push_back(v);
      break;
    }
    if (seen) seen->Volume = n;
    v.Walk = WalkVolume(v.Path, chunks, h);
    if (v.Walk.Status != wsNoFile && v.Walk.Status != wsNoPackage)
      v.Crc = GetCrc(v.Path, int32_t(v.Walk.Header.HeaderSize));
    chunks = v.Walk.Chunks;
    volumes.push_back(v);
    if (v.Walk.Status == wsNoFile || v.Walk.Status == wsNoPackage || !IsSpanned(v.Walk.Header)) break;
  }
  return volumes;
}

// The first fault of the volumes after the first, "" when there is none.
std::string LaterVolumeFault(const std::vector<TVolume>& volumes) {
  for (size_t i = 1; i < volumes.size(); ++i) {
    const TVolume& v = volumes[i];
    std::string at = v.Path + ": volume " + IntToStr(v.Number);
    if (v.Missing) return at + " of the package is missing";
    if (v.Walk.Status != wsNoFile && v.Walk.Status != wsNoPackage && v.Crc != v.Walk.Header.Crc)
      return at + ": checksum mismatch: header says " + Hex32(v.Walk.Header.Crc, true) + ", the file sums to " +
             Hex32(v.Crc, true);
    if (!v.Walk.Ok()) return at + ": " + v.Walk.Error;
  }
  return "";
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

void WriteJson(const std::string& path, const std::vector<TVolume>& volumes, const TSeen& seen, std::FILE* out) {
  const TWalkResult& w = volumes[0].Walk;
  const uint32_t crc = volumes[0].Crc;
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
    j.Number("volume", uint64_t(s.Volume));
    j.Bool("continued", s.Continued);
    j.EndObject();
  }
  j.EndArray();
  j.BeginArray("volumes");
  for (const TVolume& v : volumes) {
    j.BeginObject();
    j.Number("number", uint64_t(v.Number));
    j.Text("path", v.Path);
    j.Bool("missing", v.Missing);
    if (!v.Missing) {
      j.Number("size", uint64_t(v.Walk.FileSize));
      j.Number("package_end", uint64_t(v.Walk.End));
      j.Number("DataOffset", v.Walk.Header.DataOffset);
      j.Number("HeaderFlags", v.Walk.Header.HeaderFlags);
      j.Number("Crc", v.Walk.Header.Crc);
      j.Number("GetCrc", v.Crc);
      j.Bool("checksum_ok", v.Crc == v.Walk.Header.Crc);
      j.Bool("walk_ok", v.Walk.Ok());
      j.Text("walk_error", v.Walk.Error);
    }
    j.EndObject();
  }
  j.EndArray();
  std::string fault = LaterVolumeFault(volumes);
  j.Bool("walk_ok", w.Ok() && fault.empty());
  j.Text("walk_error", !w.Ok() ? w.Error : fault);
  j.EndObject();
  std::fputs(j.Result().c_str(), out);
}

void WriteText(const std::string& path, const std::vector<TVolume>& volumes, const TSeen& seen, std::FILE* out) {
  const TWalkResult& w = volumes[0].Walk;
  const uint32_t crc = volumes[0].Crc;
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
    if (s.Volume > 1) name += "  [volume " + IntToStr(s.Volume) + (s.Continued ? ", continued]" : "]");
    std::fprintf(out, "  %-4d %-19s %10u %10llu  %s  %s\n", ++n, DosTimeText(e.DosTime).c_str(), unsigned(e.PackedSize),
                 (unsigned long long)e.Size, Hex32(s.Crc32, false).c_str(), name.c_str());
  }
  if (volumes.size() > 1) {
    std::fprintf(out, "volumes        %d\n", int(volumes.size()));
    for (const TVolume& v : volumes) {
      if (v.Missing) {
        std::fprintf(out, "  %-4d %s  MISSING\n", v.Number, v.Path.c_str());
        continue;
      }
      std::fprintf(out, "  %-4d %s  %lld bytes, checksum %s%s\n", v.Number, v.Path.c_str(), (long long)v.Walk.FileSize,
                   v.Crc == v.Walk.Header.Crc ? "ok" : "MISMATCH", v.Walk.Ok() ? "" : ("; " + v.Walk.Error).c_str());
    }
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
  std::string later = LaterVolumeNote(path);
  if (!later.empty()) {
    std::fprintf(err, "korvan-pack: %s\n", later.c_str());
    return 1;
  }
  TSeen seen;
  std::vector<TVolume> volumes = WalkAll(path, &seen);
  const TWalkResult& w = volumes[0].Walk;
  if (w.Status == wsNoFile || w.Status == wsNoPackage) {
    std::fprintf(err, "korvan-pack: %s: %s\n", path.c_str(), w.Error.c_str());
    return 1;
  }
  if (json) WriteJson(path, volumes, seen, out);
  else WriteText(path, volumes, seen, out);
  if (!w.Ok()) {
    std::fprintf(err, "korvan-pack: %s: %s\n", path.c_str(), w.Error.c_str());
    return 1;
  }
  std::string fault = LaterVolumeFault(volumes);
  if (!fault.empty()) {
    std::fprintf(err, "korvan-pack: %s\n", fault.c_str());
    return 1;
  }
  return 0;
}

bool VerifyPackage(const std::string& path, std::string& summary, std::string& reason) {
  // A later volume's first entries would be taken for text sections.
  reason = LaterVolumeNote(path);
  if (!reason.empty()) return false;
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
  // Entries are inflated and dropped: only the walk's verdict and the names
  // count.
  TSeen seen;
  std::vector<TVolume> volumes = WalkAll(path, &seen);
  for (const TVolume& v : volumes) {
    std::string at = v.Number == 1 ? path : v.Path + ": volume " + IntToStr(v.Number);
    if (v.Missing) {
      reason = at + " of the package is missing";
      return false;
    }
    const TWalkResult& w = v.Walk;
    if (w.Status == wsNoFile || w.Status == wsNoPackage) {
      reason = at + ": " + w.Error;
      return false;
    }
    if (v.Crc != w.Header.Crc) {
      reason = at + ": checksum mismatch: header says " + Hex32(w.Header.Crc, true) + ", the file sums to " +
               Hex32(v.Crc, true);
      return false;
    }
    if (!w.Ok()) {
      reason = at + ": " + w.Error;
      return false;
    }
    if (w.LeftBeforeEnd() != int64_t(w.Header.HeaderSize)) {
      reason = at + ": " + IntToStr(w.LeftBeforeEnd()) + " bytes between the last chunk and the package end, " +
               "where the " + IntToStr(w.Header.HeaderSize) + "-byte header should stand";
      return false;
    }
  }
  // Files: an entry whose name came before is appended to that file by the
  // extractor, which is right only for the part continued at the start of
  // the next volume.
  int files = 0;
  std::vector<std::string> names;
  for (const TSeenEntry& e : seen.Entries) {
    if (e.Continued) continue;
    for (const std::string& n : names) {
      if (SameText(n, e.Entry.Name)) {
        reason = path + ": two entries named \"" + e.Entry.Name + "\" (volume " + IntToStr(e.Volume) +
                 "): the second would be appended to the first";
        return false;
      }
    }
    names.push_back(e.Entry.Name);
    ++files;
  }
  int skipped = 0;
  for (const TVolume& v : volumes) skipped += v.Walk.SkippedEntries;
  if (uint32_t(files + skipped) != header.FilesCount) {
    reason = path + ": the header counts " + IntToStr(header.FilesCount) + " files, the package holds " +
             IntToStr(files + skipped);
    return false;
  }
  summary = path + ": sound: " + IntToStr(files + skipped) + " entries, checksum " + Hex32(volumes[0].Crc, true);
  if (volumes.size() > 1) summary += ", " + IntToStr(int64_t(volumes.size())) + " volumes";
  return true;
}

std::string MissingVolume(const std::string& path) {
  TPackageHeader h;
  ReadPackageHeader(path, h);
  for (int n = 2; h.Magic == kPackageMagic && IsSpanned(h); ++n) {
    std::string next = VolumeFileName(path, n);
    if (!FileExists(next)) return next + ": volume " + IntToStr(n) + " of the package is missing";
    ReadPackageHeader(next, h);
  }
  return "";
}

std::string LaterVolumeNote(const std::string& path) {
  size_t dot = path.size() >= 4 ? path.size() - 4 : std::string::npos;
  if (dot == std::string::npos || path[dot] != '.') return "";
  int number = 0;
  for (size_t i = dot + 1; i < path.size(); ++i) {
    if (path[i] < '0' || path[i] > '9') return "";
    number = number * 10 + (path[i] - '0');
  }
  std::string first = path.substr(0, dot);
  if (number < 2 || IsPeFile(path) || !FileExists(first)) return "";
  TPackageHeader h;
  ReadPackageHeader(first, h);
  if (h.Magic != kPackageMagic || !IsSpanned(h)) return "";
  return path + " is volume " + IntToStr(number) + " of " + first + ": give " + first + ", whose volumes are read in turn";
}
