#include "PackBuild.h"

#include <cstdio>
#include <cstring>
#include <set>

#include "PackDeflate.h"
#include "PackIni.h"
#include "PackOs.h"
#include "PackProgress.h"
#include "PackSpan.h"
#include "PackStubs.h"
#include "package/PackX.h"
#include "package/SLangId.h"
#include "util/Utils.h"

namespace {

const char* const kLanguageKeys[] = {"Charset", "BtnText", "Attention", "Confirm", "Error"};

bool KnownLanguageKey(const std::string& key) {
  for (const char* k : kLanguageKeys)
    if (SameText(key, k)) return true;
  if (key.size() >= 2 && (key[0] == 's' || key[0] == 'S')) {
    int64_t n;
    return TryStrToInt64(key.substr(1), n) && n >= 0 && n <= 12 && IntToStr(n) == key.substr(1);
  }
  return false;
}

bool KnownLanguageName(const std::string& name) {
  for (int id = 0; id < 1024; ++id) {
    std::string known = LanguageNameOfId(id);
    if (!known.empty() && SameTrimmedText(known, name)) return true;
  }
  return false;
}

bool HasListBytes(const std::string& s) { return s.find('\x01') != std::string::npos || s.find('\x02') != std::string::npos; }

struct TPlanned {
  std::string Name;
  bool IsSetup = false;
  std::string Args;
  std::string Path;
  TFileFacts Facts;
};

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// Splits NAME*ARGS.
void SplitSetup(const std::string& text, std::string& name, bool& star, std::string& args) {
  size_t p = text.find('*');
  star = p != std::string::npos;
  name = star ? text.substr(0, p) : text;
  args = star ? text.substr(p + 1) : std::string();
}

bool PlanEntries(const TBuildOptions& o, std::vector<TPlanned>& plan, std::string& error) {
  std::vector<std::string> setupNames;
  for (const std::string& f : o.Files) {
    TPlanned p;
    SplitSetup(f, p.Name, p.IsSetup, p.Args);
    if (p.IsSetup) setupNames.push_back(p.Name);
    plan.push_back(p);
  }
  for (const std::string& s : o.Setup) {
    TPlanned p;
    SplitSetup(s, p.Name, p.IsSetup, p.Args);
    p.IsSetup = true;
    setupNames.push_back(p.Name);
    bool marked = false;
    for (TPlanned& q : plan) {
      if (!q.IsSetup && SameText(q.Name, p.Name)) {
        q.IsSetup = true;
        q.Args = p.Args;
        marked = true;
        break;
      }
    }
    // Not listed among the files: the setup program goes first.
    if (!marked) plan.insert(plan.begin(), p);
  }
  if (setupNames.size() > 1) {
    error = "more than one setup entry: " + Quoted(setupNames[0]) + " and " + Quoted(setupNames[1]);
    return false;
  }
  std::set<std::string> seen;
  for (const TPlanned& p : plan) {
    std::string problem = FileNameProblem(p.Name);
    if (!problem.empty()) {
      error = "bad file name " + Quoted(p.Name) + ": " + problem;
      return false;
    }
    if (p.Args.find('|') != std::string::npos) {
      error = "setup arguments of " + Quoted(p.Name) + " must not contain \"|\"";
      return false;
    }
    if (!seen.insert(UpperCaseAscii(p.Name)).second) {
      error = "two files named " + Quoted(p.Name) + " (names are compared as Windows does, ignoring case)";
      return false;
    }
  }
  if (!plan.empty() && setupNames.empty()) {
    error = "no setup entry: mark the setup program with --setup NAME or NAME*";
    return false;
  }
  return true;
}

bool CheckInput(const std::string& path, const char* what, TFileFacts& facts, std::string& error) {
  if (!GetFileFacts(path, facts)) {
    error = std::string("missing input file: ") + path + (what[0] ? std::string(" (") + what + ")" : "");
    return false;
  }
  if (!facts.IsRegular) {
    error = std::string("not a regular file: ") + path;
    return false;
  }
  return true;
}

bool ReadStub(const std::string& path, std::vector<uint8_t>& stub, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    error = "stub " + path + " cannot be read";
    return false;
  }
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) stub.insert(stub.end(), buffer, buffer + n);
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) {
    error = "stub " + path + " cannot be read";
    return false;
  }
  // The reader finds the package end at 252 only when "PE" stands at 256.
  if (stub.size() < size_t(kPeSignatureOffset + 4) || stub[0] != 'M' || stub[1] != 'Z') {
    error = "stub " + path + " is not a Windows executable";
    return false;
  }
  uint32_t lfanew = GetU32(&stub[0x3C]);
  if (lfanew != uint32_t(kPeSignatureOffset) || std::memcmp(&stub[kPeSignatureOffset], "PE\0\0", 4) != 0) {
    char text[80];
    std::snprintf(text, sizeof text, "its PE header is at 0x%X, not at 0x100", unsigned(lfanew));
    error = "stub " + path + ": " + text + " (run the post-link step)";
    return false;
  }
  if (GetU32(&stub[kPackageEndOffset]) != 0) {
    error = "stub " + path + " already carries a package (offset 252 is not zero)";
    return false;
  }
  return true;
}

uint32_t SeedOf(const TBuildOptions& o) {
  uint32_t h = 2166136261u;
  const std::string* parts[] = {&o.UpdateUrl, &o.SettingsName, &o.AgentName, &o.AgentToken};
  for (const std::string* p : parts) {
    for (unsigned char c : *p) h = (h ^ c) * 16777619u;
    h = (h ^ 0x7C) * 16777619u;
  }
  return h;
}

bool BuildProductList(const TBuildOptions& o, std::string& list, std::string& error) {
  struct {
    const char* option;
    const std::string* value;
  } fields[] = {{"--update-url", &o.UpdateUrl},
                {"--settings-name", &o.SettingsName},
                {"--agent-name", &o.AgentName},
                {"--agent-token", &o.AgentToken}};
  for (auto& f : fields) {
    if (f.value->find('|') != std::string::npos) {
      error = std::string(f.option) + " must not contain \"|\"";
      return false;
    }
  }
  std::string agent = o.AgentName;
  if (!agent.empty() && !FileNameProblem(agent).empty()) {
    error = "--agent-name " + Quoted(agent) + ": " + FileNameProblem(agent);
    return false;
  }
  std::string token = o.AgentToken.empty() ? std::string() : Scramble(o.AgentToken, SeedOf(o));
  list = "|" + o.UpdateUrl + "|" + o.SettingsName + "|" + agent + "|" + token + "|" + (o.Silent ? "1" : "0") + "|";
  return true;
}

uint32_t DownloadSeedOf(const TBuildOptions& o) {
  uint32_t h = 2166136261u ^ 0x5EEDu;
  const std::string* parts[] = {&o.DownloadUrl, &o.DownloadName, &o.DownloadToken};
  for (const std::string* p : parts) {
    for (unsigned char c : *p) h = (h ^ c) * 16777619u;
    h = (h ^ 0x7C) * 16777619u;
  }
  return h;
}

bool IsDecimal(const std::string& s) {
  if (s.empty() || s.size() > 19) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string FilePart(const std::string& path) {
  size_t p = path.find_last_of("/\\");
  return p == std::string::npos ? path : path.substr(p + 1);
}

// The third section: |DownloadUrl|DownloadFileName|always|token|size|.
// Internet mode needs the source, the name and a token; a package that only
// carries a download token is the setup package an internet-mode stub fetches.
bool BuildDownloadList(const TBuildOptions& o, bool internet, std::string& list, std::vector<std::string>& warnings,
                       std::string& error) {
  list.clear();
  if (!internet) {
    const char* onlyInternet = o.AskBeforeDownload    ? "--ask-before-download"
                               : o.AlwaysDownload     ? "--always-download"
                               : !o.DownloadName.empty() ? "--download-name"
                               : !o.DownloadSize.empty() ? "--download-size"
                               : !o.DownloadPackage.empty() ? "--download-package"
                                                             : nullptr;
    if (onlyInternet) {
      error = std::string(onlyInternet) + " belongs to an internet-mode package: give --download-url as well";
      return false;
    }
    if (o.DownloadToken.empty()) return true;
  }
  struct {
    const char* option;
    const std::string* value;
  } fields[] = {{"--download-url", &o.DownloadUrl},
                {"--download-name", &o.DownloadName},
                {"--download-token", &o.DownloadToken},
                {"--download-size", &o.DownloadSize}};
  for (auto& f : fields) {
    if (f.value->find('|') != std::string::npos) {
      error = std::string(f.option) + " must not contain \"|\"";
      return false;
    }
  }
  std::string name = o.DownloadName, size = o.DownloadSize;
  if (internet) {
    if (o.DownloadUrl.empty()) {
      error = "an internet-mode package needs --download-url (the folder or address of the setup package)";
      return false;
    }
    if (name.empty()) name = FilePart(o.DownloadPackage);
    if (name.empty()) {
      error = "an internet-mode package needs --download-name or --download-package";
      return false;
    }
    std::string problem = FileNameProblem(name);
    if (!problem.empty()) {
      error = "--download-name " + Quoted(name) + ": " + problem;
      return false;
    }
    // The stub takes a setup package only when its unscrambled token is the
    // same as its own; an empty field unscrambles to a random number, so
    // without a token no download could ever be accepted.
    if (o.DownloadToken.empty()) {
      error = "an internet-mode package needs --download-token (the setup package must carry the same one)";
      return false;
    }
    if (!size.empty() && !o.DownloadPackage.empty()) {
      error = "give --download-size or --download-package, not both";
      return false;
    }
    if (!size.empty() && !IsDecimal(size)) {
      error = "--download-size takes the setup package's size in bytes, not " + Quoted(size);
      return false;
    }
    if (!o.DownloadPackage.empty()) {
      TFileFacts facts;
      if (!CheckInput(o.DownloadPackage, "the setup package", facts, error)) return false;
      TGFileInfo setup(o.DownloadPackage);
      if (!setup.HasMagic()) {
        error = "--download-package " + o.DownloadPackage + " carries no package";
        return false;
      }
      if (setup.IsInternetMode()) {
        error = "--download-package " + o.DownloadPackage + " is an internet-mode package itself, not a setup package";
        return false;
      }
      if (IsSpanned(setup.Header)) {
        error = "--download-package " + o.DownloadPackage +
                " is spanned over volumes, and the stub downloads one file: build it without --volume-size";
        return false;
      }
      if (setup.DownloadToken(false).empty() || setup.DownloadToken(true) != o.DownloadToken) {
        error = "--download-package " + o.DownloadPackage +
                " carries another download token: build it with the same --download-token";
        return false;
      }
      size = IntToStr(int64_t(facts.Size));
    }
    if (size.empty())
      warnings.push_back("no --download-package or --download-size: the download question shows a size of 0");
  }
  // The stub puts "/" between the address and the name itself.
  std::string url = o.DownloadUrl;
  if (url.find("://") != std::string::npos)
    while (!url.empty() && url.back() == '/' && url.compare(url.size() - 3, 3, "://") != 0) url.pop_back();
  std::string token = Scramble(o.DownloadToken, DownloadSeedOf(o));
  list = "|" + url + "|" + name + "|" + (o.AlwaysDownload ? "1" : "0") + "|" + token + "|" + size + "|";
  return true;
}

bool SameFile(const std::string& a, const TFileFacts& fa, const std::string& b) {
  std::string ra = RealPathOf(a), rb = RealPathOf(b);
  if (!ra.empty() && ra == rb) return true;
  TFileFacts fb;
  return fa.Exists && GetFileFacts(b, fb) && fa.Device == fb.Device && fa.Node == fb.Node;
}

}  // namespace

std::string FileNameProblem(const std::string& name) {
  if (name.empty()) return "empty name";
  if (name == ".") return "\".\" is no file name";
  if (name.find("..") != std::string::npos) return "\"..\" may not stand in a name";
  for (unsigned char c : name) {
    if (c == '/' || c == '\\') return "a path separator; give plain names";
    if (c == ':') return "a drive or stream colon";
    if (c < 32) return "a control character";
    if (std::strchr("<>\"|?*", c)) return std::string("the character ") + char(c) + " is not allowed in a file name";
  }
  if (name.back() == '.' || name.back() == ' ') return "Windows drops a trailing dot or blank";
  // Windows opens a device for these names, whatever the extension.
  std::string base = UpperCaseAscii(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* d : kDevices)
    if (base == d) return "a device name on Windows";
  if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '0' &&
      base[3] <= '9')
    return "a device name on Windows";
  return "";
}

bool BuildLanguageList(const std::string& path, std::string& list, std::vector<std::string>& warnings,
                       std::string& error) {
  std::vector<TIniSection> sections;
  if (!ReadIniFile(path, sections, error)) return false;
  std::set<std::string> names;
  list = "\x02";
  int count = 0;
  for (const TIniSection& s : sections) {
    std::string at = path + " line ";
    if (s.Name.empty()) {
      if (!s.Lines.empty()) {
        error = at + IntToStr(s.Lines[0].Number) + ": text before the first [language] section";
        return false;
      }
      continue;
    }
    if (HasListBytes(s.Name)) {
      error = at + IntToStr(s.Number) + ": bytes 1 and 2 cannot stand in a section name";
      return false;
    }
    if (!names.insert(UpperCaseAscii(s.Name)).second) {
      error = at + IntToStr(s.Number) + ": language " + Quoted(s.Name) + " given twice";
      return false;
    }
    if (!KnownLanguageName(s.Name))
      warnings.push_back(at + IntToStr(s.Number) + ": " + Quoted(s.Name) + " is no language name the stub knows");
    std::string section = "\x01" + s.Name + "\x01";
    std::set<std::string> keys;
    for (const TIniLine& l : s.Lines) {
      std::string where = at + IntToStr(l.Number) + ": ";
      if (!l.HasValue || l.Key.empty()) {
        error = where + "expected key = value";
        return false;
      }
      if (HasListBytes(l.Key) || HasListBytes(l.Value)) {
        error = where + "bytes 1 and 2 cannot stand in a text";
        return false;
      }
      if (!keys.insert(UpperCaseAscii(l.Key)).second) {
        error = where + "key " + Quoted(l.Key) + " given twice in [" + s.Name + "]";
        return false;
      }
      int64_t n;
      if (SameText(l.Key, "Charset") && !TryStrToInt64(l.Value, n)) {
        error = where + "Charset must be a number, not " + Quoted(l.Value);
        return false;
      }
      if (!KnownLanguageKey(l.Key)) warnings.push_back(where + "key " + Quoted(l.Key) + " is not used by the stub");
      section += l.Key + "=" + l.Value + "\x01";
    }
    list += section + "\x02";
    ++count;
  }
  if (count == 0) {
    error = path + ": no [language] section";
    return false;
  }
  return true;
}

bool BuildPackage(const TBuildOptions& given, TBuildReport& report, std::string& error) {
  report = TBuildReport();
  TBuildOptions o = given;
  if (o.Stub.empty() && !FindInstalledStub(o.Arch.empty() ? kDefaultStubArch : o.Arch, o.Stub, error)) return false;
  std::vector<TPlanned> plan;
  if (!PlanEntries(o, plan, error)) return false;
  const bool internet = o.Internet || !o.DownloadUrl.empty();
  if (internet && o.VolumeSize > 0) {
    error = "--volume-size: an internet-mode package carries no files to span";
    return false;
  }
  if (internet && !plan.empty()) {
    error = "an internet-mode package carries no files (" + Quoted(plan[0].Name) +
            "): pack them into the setup package given to --download-package";
    return false;
  }

  // Every input must be there before anything is written.
  TFileFacts stubFacts, langFacts, projectFacts;
  if (!CheckInput(o.Stub, "the stub", stubFacts, error)) return false;
  if (!o.Lang.empty() && !CheckInput(o.Lang, "the language file", langFacts, error)) return false;
  for (TPlanned& p : plan) {
    p.Path = JoinPath(o.Dir, p.Name);
    if (!CheckInput(p.Path, "", p.Facts, error)) return false;
  }

  // The output must not overwrite an input.
  struct {
    const std::string* path;
    std::string what;
  } inputs[] = {{&o.Stub, "the stub"}, {&o.Lang, "the language file"}, {&o.Project, "the project file"},
                {&o.DownloadPackage, "the setup package"}};
  TFileFacts outFacts;
  GetFileFacts(o.Out, outFacts);
  if (RealPathOf(o.Out).empty()) {
    error = "output folder of " + o.Out + " does not exist";
    return false;
  }
  for (auto& in : inputs) {
    if (!in.path->empty() && SameFile(o.Out, outFacts, *in.path)) {
      error = "output " + o.Out + " is also an input (" + in.what + ")";
      return false;
    }
  }
  for (const TPlanned& p : plan) {
    if (SameFile(o.Out, outFacts, p.Path)) {
      error = "output " + o.Out + " is also an input (the file " + Quoted(p.Name) + ")";
      return false;
    }
  }
  if (outFacts.Exists && !outFacts.IsRegular) {
    error = "output " + o.Out + " is not a regular file";
    return false;
  }

  std::vector<uint8_t> stub;
  if (!ReadStub(o.Stub, stub, error)) return false;
  std::string languageList, productList;
  if (!o.Lang.empty() && !BuildLanguageList(o.Lang, languageList, report.Warnings, error)) return false;
  if (!BuildProductList(o, productList, error)) return false;
  std::string downloadList;
  if (!BuildDownloadList(o, internet, downloadList, report.Warnings, error)) return false;
  const bool hasDownloadList = internet || !downloadList.empty();

  TPackageHeader h;
  std::memset(&h, 0, sizeof h);
  h.Format = 1;
  h.SectionCount = hasDownloadList ? 3 : 2;
  h.DataOffset = uint32_t(stub.size());
  h.FilesCount = uint32_t(plan.size());
  h.Magic = kPackageMagic;
  h.Reserved3 = 1;
  h.HeaderFlags = o.AnnounceTempDrive ? kFlagAnnounceTempDrive : 0;
  h.CreatesAgent = o.CreatesAgent ? 1 : 0;
  h.InternetMode = internet ? 1 : 0;
  h.AskBeforeDownload = internet && o.AskBeforeDownload ? 1 : 0;
  h.HeaderSize = kHeaderBytes;
  uint64_t sizes[kClusterSizes] = {};
  for (const TPlanned& p : plan) {
    sizes[0] += p.Facts.Size;
    for (int i = 1; i < kClusterSizes; ++i) {
      uint64_t cluster = 256ull << i;
      sizes[i] += (p.Facts.Size + cluster - 1) / cluster * cluster;
    }
  }
  if (sizes[kClusterSizes - 1] > 0xFFFFFFFFull) {
    error = "the files take more than 4 GB, more than the header can count";
    return false;
  }
  for (int i = 0; i < kClusterSizes; ++i) h.SizeByCluster[i] = uint32_t(sizes[i]);

  std::vector<TEntrySource> sources;
  for (const TPlanned& p : plan) {
    TEntrySource s;
    std::string token = p.Name + (p.IsSetup ? "*" + p.Args : std::string());
    s.Prefix = "|" + token + "|" + IntToStr(LocalDosDateTime(p.Facts.WriteTime)) + "|";
    s.Prefix += '\0';
    s.Path = p.Path;
    s.FileSize = p.Facts.Size;
    sources.push_back(s);
  }

  TOutFile out;
  if (!out.Create(o.Out, stubFacts.Mode | 0644, error)) return false;
  // Named by the file the vendor asked for; the temporary one goes with it.
  auto writeFailedOn = [&](const TOutFile& f) {
    error = "cannot write " + f.Target() + ": " + (f.WriteError().empty() ? "read back short" : f.WriteError());
    return false;
  };
  auto writeFailed = [&]() { return writeFailedOn(out); };
  auto appendChunk = [&](const std::string& text) {
    uint8_t len[4];
    PutU32(len, uint32_t(text.size()));
    return out.Append(len, 4) && out.Append(text.data(), text.size());
  };
  if (!out.Append(stub.data(), stub.size()) || !appendChunk(languageList) || !appendChunk(productList) ||
      (hasDownloadList && !appendChunk(downloadList)))
    return writeFailed();

  uint64_t inflatedTotal = 0;
  for (const TEntrySource& e : sources) inflatedTotal += e.Prefix.size() + e.FileSize;
  TBuildProgress progress(!o.Quiet && StderrIsTerminal(), sources.size(), inflatedTotal);
  std::vector<TSpanVolume> volumes;
  if (o.VolumeSize > 0) {
    uint64_t need = SmallestVolumeSize(uint64_t(out.Size()), sources);
    if (o.VolumeSize < need) {
      error = "--volume-size " + IntToStr(int64_t(o.VolumeSize)) + " is too small: the first volume holds the stub " +
              "and the texts (" + IntToStr(out.Size()) + " bytes), each volume its 74-byte header and the start " +
              "of a file; give at least " + IntToStr(int64_t(need));
      return false;
    }
    auto packed = [&](uint64_t bytes, bool entryDone) { progress.Add(bytes, entryDone); };
    if (!WriteSpannedEntries(sources, o.VolumeSize, out, o.Out, stubFacts.Mode | 0644, volumes, packed, error))
      return false;
  } else {
    int64_t lengthAt = 0;
    TEntryWriter writer;
    writer.Begin = [&](size_t) {
      lengthAt = out.Size();
      uint8_t zero[4] = {};
      return out.Append(zero, 4) || writeFailed();
    };
    writer.Data = [&](size_t, const uint8_t* data, size_t len) { return out.Append(data, len) || writeFailed(); };
    writer.End = [&](size_t entry, uint64_t packed) {
      if (packed > 0x7FFFFFFFu) {
        error = plan[entry].Path + ": compressed, it exceeds 2 GB; span the package with --volume-size";
        return false;
      }
      uint8_t len[4];
      PutU32(len, uint32_t(packed));
      return out.WriteAt(lengthAt, len, 4) || writeFailed();
    };
    writer.Consumed = [&](size_t, uint64_t bytes, bool last) { progress.Add(bytes, last); };
    unsigned workers = o.Jobs ? o.Jobs : CpuCount();
    if (!CompressEntries(sources, workers, writer, error)) return false;
    volumes.emplace_back();
  }
  progress.Finish();

  int64_t end = out.Size() + kHeaderBytes;
  if (end > 0x7FFFFFFFll) {
    error = "the package would exceed 2 GB; span it with --volume-size";
    return false;
  }
  const bool spanned = volumes.size() > 1;
  if (spanned) h.HeaderFlags |= kFlagSpanned;
  // Written with Crc 0 and the package end in place, then summed.
  uint8_t record[kHeaderBytes];
  EncodeHeader(h, record);
  uint8_t endBytes[4];
  PutU32(endBytes, uint32_t(end));
  if (!out.Append(record, kHeaderBytes) || !out.WriteAt(kPackageEndOffset, endBytes, 4)) return writeFailed();
  h.Crc = GetCrc(out.TempPath(), kHeaderBytes);
  uint8_t crc[4];
  PutU32(crc, h.Crc);
  if (!out.WriteAt(end - kHeaderBytes + 16, crc, 4)) return writeFailed();

  // Later volumes: entries only, with a header of their own; the spanned
  // flag says that one more follows.
  for (size_t v = 1; v < volumes.size(); ++v) {
    TOutFile& file = *volumes[v].File;
    TPackageHeader hv = h;
    hv.Crc = 0;
    hv.DataOffset = 0;
    hv.HeaderFlags = uint8_t((h.HeaderFlags & ~kFlagSpanned) | (v + 1 < volumes.size() ? kFlagSpanned : 0));
    EncodeHeader(hv, record);
    if (!file.Append(record, kHeaderBytes)) return writeFailedOn(file);
    // A volume whose first bytes read "MZ" and which has "PE" at 256 would be
    // taken for an executable and its end read at 252: one zero byte in
    // front, and the first entry one byte on.
    if (IsPeFile(file.TempPath())) {
      std::string data(size_t(file.Size() - kHeaderBytes), '\0');
      {
        TInFile in(file.TempPath());
        if (in.ReadAt(0, &data[0], data.size()) != data.size()) return writeFailedOn(file);
      }
      hv.DataOffset = 1;
      EncodeHeader(hv, record);
      data.insert(data.begin(), '\0');
      data.append(reinterpret_cast<const char*>(record), kHeaderBytes);
      if (!file.WriteAt(0, data.data(), data.size())) return writeFailedOn(file);
      if (IsPeFile(file.TempPath())) {
        error = "volume " + IntToStr(int64_t(v + 1)) + " would read as an executable";
        return false;
      }
    }
    hv.Crc = GetCrc(file.TempPath(), kHeaderBytes);
    PutU32(crc, hv.Crc);
    if (!file.WriteAt(file.Size() - kHeaderBytes + 16, crc, 4)) return writeFailedOn(file);
  }
  for (size_t v = 1; v < volumes.size(); ++v)
    if (!volumes[v].File->Commit(error)) return false;
  if (!out.Commit(error)) return false;
  // Volumes left from an earlier, longer build of the same output would
  // never be read; they go.
  for (int k = int(volumes.size()) + 1;; ++k) {
    std::string stale = VolumeFileName(o.Out, k);
    TPackageHeader sh;
    ReadPackageHeader(stale, sh);
    if (!FileExists(stale) || sh.Magic != kPackageMagic) break;
    if (std::remove(stale.c_str()) == 0) report.Warnings.push_back("removed " + stale + " of an earlier build");
  }

  report.Volumes = int(volumes.size());
  report.Entries = int(plan.size());
  report.RawSize = sizes[0];
  report.PackageEnd = end;
  report.Crc = h.Crc;
  return true;
}
