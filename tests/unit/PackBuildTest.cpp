// Packages built by the real korvan-pack, read back with the stub's reader
// and the chunk walker.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "PackTestKit.h"
#include "package/PackWalk.h"
#include "package/PackX.h"
#include "package/UnPack.h"
#include "package/UnPackHost.h"
#include "util/Utils.h"

namespace {

using namespace packkit;

struct Walked {
  std::vector<TWalkEntry> entries;
  std::vector<std::string> bytes;
  std::vector<std::string> sections;
  std::vector<std::string> streamHeads;  // first two bytes of each entry's chunk
};

TWalkResult WalkAll(const std::string& path, Walked& w) {
  TWalkHandlers h;
  h.Context = &w;
  h.Section = [](void* c, int, const std::string& t) {
    static_cast<Walked*>(c)->sections.push_back(t);
    return true;
  };
  h.EntryBegin = [](void* c, const TWalkEntry& e) {
    static_cast<Walked*>(c)->entries.push_back(e);
    static_cast<Walked*>(c)->bytes.push_back("");
    return true;
  };
  h.EntryData = [](void* c, const TWalkEntry&, const uint8_t* d, size_t n) {
    static_cast<Walked*>(c)->bytes.back().append(reinterpret_cast<const char*>(d), n);
    return true;
  };
  h.EntryEnd = [](void* c, const TWalkEntry& e) {
    static_cast<Walked*>(c)->entries.back() = e;
    return true;
  };
  TWalkResult r = WalkVolume(path, 0, h);
  std::string f = ReadBytes(path);
  for (const TWalkEntry& e : w.entries) w.streamHeads.push_back(f.substr(size_t(e.ChunkPos) + 4, 2));
  return r;
}

// A small project: stub, three files with known times, a language file.
struct Project {
  std::string dir = ScratchDir();
  std::map<std::string, std::string> files;

  Project() {
    WriteBytes(dir + "/stub.exe", FakeStub(1536));
    Add("Setup.exe", SampleBytes(5000, 1), LocalTime(2021, 3, 4, 5, 6, 8));
    Add("readme.txt", std::string(1080, 'r'), LocalTime(2021, 3, 4, 5, 6, 9));  // odd second
    // More than one compression block, so the stream is made of several.
    Add("data.bin", SampleBytes(700000, 3), LocalTime(2033, 12, 31, 23, 59, 58));
    Add("empty.txt", "", LocalTime(1979, 6, 1, 12, 0, 0));  // before DOS time begins
    WriteBytes(dir + "/lang.ini",
               "; demo texts\n[English]\nCharset=0\ns0=Demo Installation Suite\ns1 = Unpacking...\n"
               "\n[French]\nCharset = 0\ns0=Suite d'installation\nBtnText=|&OK|&Annuler|&Oui|&Non|&Abandonner|"
               "&Recommencer|&Ignorer|\ns7=\"  Mauvais CRC  \"\n");
  }
  void Add(const std::string& name, const std::string& bytes, time_t when) {
    files[name] = bytes;
    WriteBytes(dir + "/" + name, bytes);
    SetWriteTime(dir + "/" + name, when);
  }
  std::vector<std::string> Args(const std::string& out) const {
    return {"build", "--stub", "stub.exe", "--out", out, "--lang", "lang.ini", "--setup", "Setup.exe*-s /quiet",
            "--update-url", "http://updates.example.test/demo", "--settings-name", "demo.ini", "--agent-name",
            "DemoAgent.exe", "--agent-token", "demo-agent-token", "--announce-temp-drive", "--creates-agent",
            "readme.txt", "data.bin", "empty.txt"};
  }
};

TEST(PackBuild, RoundTripThroughTheReaderAndTheWalker) {
  Project p;
  TRun run = RunPack(p.Args("out.exe"), p.dir);
  ASSERT_EQ(run.Code, 0) << run.Err;
  std::string path = p.dir + "/out.exe";
  std::string f = ReadBytes(path);
  std::string stub = ReadBytes(p.dir + "/stub.exe");

  // The stub comes first, unchanged but for the package end at 252.
  ASSERT_GT(f.size(), stub.size());
  EXPECT_EQ(f.substr(0, 252), stub.substr(0, 252));
  EXPECT_EQ(f.substr(256, stub.size() - 256), stub.substr(256));
  EXPECT_EQ(GetU32(reinterpret_cast<const uint8_t*>(&f[252])), f.size());

  TPackageHeader raw;
  ReadPackageHeader(path, raw);
  EXPECT_EQ(raw.Magic, kPackageMagic);
  EXPECT_EQ(raw.Format, 1);
  EXPECT_EQ(raw.SectionCount, 2);
  EXPECT_EQ(raw.DataOffset, stub.size());
  EXPECT_EQ(raw.FilesCount, 4u);
  EXPECT_EQ(raw.HeaderSize, 74u);
  EXPECT_EQ(raw.Crc, GetCrc(path, 74));
  EXPECT_EQ(raw.HeaderFlags, kFlagAnnounceTempDrive);
  EXPECT_EQ(raw.CreatesAgent, 1);
  EXPECT_EQ(raw.InternetMode + raw.AskBeforeDownload + raw.IsAgent, 0);
  for (int i = 0; i < kClusterSizes; ++i) {
    uint64_t cluster = i == 0 ? 1 : 256u << i, sum = 0;
    for (auto& kv : p.files) sum += (kv.second.size() + cluster - 1) / cluster * cluster;
    EXPECT_EQ(raw.SizeByCluster[i], sum) << "cluster " << cluster;
  }

  TGFileInfo info(path);
  EXPECT_EQ(info.UpdateUrl(), "http://updates.example.test/demo");
  EXPECT_EQ(info.SettingsFileName(), "demo.info");
  EXPECT_EQ(info.AgentFileName(), "DemoAgent.exe");
  EXPECT_NE(info.AgentToken(false), "demo-agent-token");
  EXPECT_EQ(info.AgentToken(true), "demo-agent-token");
  EXPECT_FALSE(info.IsSilent());
  EXPECT_TRUE(info.AnnounceTempDrive());
  EXPECT_TRUE(info.IsCreatesAgent());
  EXPECT_EQ(info.DownloadList, "");
  // Language sections in file order, keys as written, quotes keeping blanks.
  EXPECT_EQ(ListTokenCount(info.LanguageList), 2);
  std::string english = FindLanguageSection(info.LanguageList, "ENGLISH");
  std::string french = FindLanguageSection(info.LanguageList, "French");
  EXPECT_EQ(english, "\x01" "English\x01" "Charset=0\x01s0=Demo Installation Suite\x01s1=Unpacking...\x01");
  EXPECT_EQ(ListGetToken(info.LanguageList, 1, ""), french);
  EXPECT_EQ(ListGetValue(french, "BtnText", ""), "|&OK|&Annuler|&Oui|&Non|&Abandonner|&Recommencer|&Ignorer|");
  EXPECT_EQ(ListGetValue(french, "s7", ""), "  Mauvais CRC  ");

  Walked w;
  TWalkResult r = WalkAll(path, w);
  ASSERT_TRUE(r.Ok()) << r.Error;
  EXPECT_EQ(r.LeftBeforeEnd(), 74);
  EXPECT_EQ(uint64_t(r.SectionsEnd), info.Header.DataOffset);
  ASSERT_EQ(w.sections.size(), 2u);
  EXPECT_EQ(w.sections[0], info.LanguageList);
  // Setup.exe is not among the files given, so --setup puts it first.
  const char* order[] = {"Setup.exe", "readme.txt", "data.bin", "empty.txt"};
  const uint32_t times[] = {1382295748u, 1382295748u, (53u << 25 | 12u << 21 | 31u << 16 | 23u << 11 | 59u << 5 | 29u),
                            0u};
  ASSERT_EQ(w.entries.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(order[i]);
    EXPECT_EQ(w.entries[i].Name, order[i]);
    EXPECT_EQ(w.bytes[i], p.files[order[i]]);
    EXPECT_EQ(w.entries[i].Size, p.files[order[i]].size());
    EXPECT_EQ(w.entries[i].DosTime, times[i]);
    EXPECT_EQ(w.entries[i].IsSetup, i == 0);
    EXPECT_EQ(w.streamHeads[i], "\x78\xDA");
  }
  EXPECT_EQ(w.entries[0].Text, "|Setup.exe*-s /quiet|1382295748|");
  EXPECT_EQ(w.entries[0].SetupArgs, "-s /quiet");
  EXPECT_EQ(w.entries[3].Text, "|empty.txt|0|");
}

TEST(PackBuild, SameInputsGiveTheSameBytesWhateverTheWorkers) {
  Project p;
  std::vector<std::string> a = p.Args("a.exe"), b = p.Args("b.exe"), c = p.Args("c.exe");
  a.push_back("--jobs=1");
  b.push_back("--jobs=4");
  ASSERT_EQ(RunPack(a, p.dir).Code, 0);
  ASSERT_EQ(RunPack(b, p.dir).Code, 0);
  ASSERT_EQ(RunPack(c, p.dir).Code, 0);
  std::string first = ReadBytes(p.dir + "/a.exe");
  EXPECT_EQ(first, ReadBytes(p.dir + "/b.exe"));
  EXPECT_EQ(first, ReadBytes(p.dir + "/c.exe"));

  // A different token: a different scrambled text, still read back.
  std::vector<std::string> d = p.Args("d.exe");
  d[16] = "another-token";
  ASSERT_EQ(d[15], "--agent-token");
  ASSERT_EQ(RunPack(d, p.dir).Code, 0);
  TGFileInfo info(p.dir + "/d.exe");
  EXPECT_EQ(info.AgentToken(true), "another-token");
  EXPECT_NE(info.AgentToken(false), TGFileInfo(p.dir + "/a.exe").AgentToken(false));
}

TEST(PackBuild, AProjectFileStandsForTheOptions) {
  Project p;
  ASSERT_EQ(RunPack(p.Args("cli.exe"), p.dir).Code, 0);
  // The project lives in a folder of its own; its paths are relative to it.
  std::string sub = p.dir + "/proj";
  ASSERT_EQ(std::system(("mkdir -p " + ShellQuote(sub)).c_str()), 0);
  WriteBytes(sub + "/project.ini",
             "; the same build as on the command line\n"
             "stub = ../stub.exe\n"
             "[Package]\n"
             "out = ../proj.exe\n"
             "dir = ..\n"
             "lang = ../lang.ini\n"
             "setup = Setup.exe*-s /quiet\n"
             "update-url = http://updates.example.test/demo\n"
             "settings-name = demo.ini\n"
             "agent-name = DemoAgent.exe\n"
             "agent-token = demo-agent-token\n"
             "announce-temp-drive = yes\n"
             "creates-agent = 1\n"
             "silent = 0\n"
             "[files]\n"
             "readme.txt\n"
             "data.bin\n"
             "empty.txt\n");
  TRun run = RunPack({"build", "project.ini"}, sub);
  ASSERT_EQ(run.Code, 0) << run.Err;
  EXPECT_EQ(ReadBytes(p.dir + "/proj.exe"), ReadBytes(p.dir + "/cli.exe"));

  // Options on the command line override the project's keys.
  run = RunPack({"build", "proj/project.ini", "--out", "over.exe", "--silent"}, p.dir);
  ASSERT_EQ(run.Code, 0) << run.Err;
  EXPECT_TRUE(TGFileInfo(p.dir + "/over.exe").IsSilent());

  WriteBytes(sub + "/bad.ini", "stub = ../stub.exe\nout = x.exe\nstubb = typo\n");
  run = RunPack({"build", "bad.ini"}, sub);
  EXPECT_NE(run.Code, 0);
  EXPECT_NE(run.Err.find("bad.ini line 3: unknown key \"stubb\""), std::string::npos) << run.Err;
}

TEST(PackBuild, TheSetupMarkKeepsAListedFileInItsPlace) {
  Project p;
  struct {
    std::vector<std::string> files;
    const char* setup;  // --setup value, "" for none
    std::vector<std::string> texts;
  } rows[] = {
      {{"data.bin", "readme.txt"}, "README.TXT*/x", {"|data.bin|", "|readme.txt*/x|"}},
      {{"data.bin", "Setup.exe*"}, "", {"|data.bin|", "|Setup.exe*|"}},
      {{"data.bin", "Setup.exe"}, "Setup.exe", {"|data.bin|", "|Setup.exe*|"}},
      // An INI file after the options is a file to pack, not a project.
      {{"lang.ini"}, "Setup.exe", {"|Setup.exe*|", "|lang.ini|"}},
  };
  for (auto& r : rows) {
    std::vector<std::string> args = {"build", "--stub", "stub.exe", "--out", "s.exe"};
    if (*r.setup) args.insert(args.end(), {"--setup", r.setup});
    args.insert(args.end(), r.files.begin(), r.files.end());
    TRun run = RunPack(args, p.dir);
    ASSERT_EQ(run.Code, 0) << run.Err;
    Walked w;
    ASSERT_TRUE(WalkAll(p.dir + "/s.exe", w).Ok());
    ASSERT_EQ(w.entries.size(), r.texts.size());
    for (size_t i = 0; i < r.texts.size(); ++i) EXPECT_EQ(w.entries[i].Text.find(r.texts[i]), 0u) << w.entries[i].Text;
  }
}

TEST(PackBuild, TheExampleProjectBuilds) {
  std::string dir = ScratchDir();
  WriteBytes(dir + "/stub.exe", FakeStub(2048));
  // The offline example's project over its files and a stand-in for the
  // setup program, which examples/build.sh stages from the Windows build.
  const std::string examples = std::string(KORVAN_TEST_DATA) + "/../../examples/offline";
  for (const char* name : {"setup.ini", "readme.txt", "license.txt"})
    WriteBytes(dir + "/" + name, ReadBytes(examples + "/files/" + name));
  WriteBytes(dir + "/example_setup.exe", FakeStub(1024));
  TRun run = RunPack({"build", examples + "/project.ini", "--dir", dir, "--stub", dir + "/stub.exe", "--out",
                      dir + "/demo.exe"});
  ASSERT_EQ(run.Code, 0) << run.Err;
  EXPECT_EQ(run.Err, "") << "no warnings";
  TGFileInfo info(dir + "/demo.exe");
  EXPECT_EQ(ListTokenCount(info.LanguageList), 2);
  EXPECT_NE(FindLanguageSection(info.LanguageList, "FRENCH"), "*");
  Walked w;
  ASSERT_TRUE(WalkAll(dir + "/demo.exe", w).Ok());
  ASSERT_FALSE(w.entries.empty());
  EXPECT_TRUE(w.entries[0].IsSetup);
  EXPECT_EQ(RunPack({"verify", dir + "/demo.exe"}).Code, 0);
}

TEST(PackBuild, APackageWithoutFilesCarriesOnlyItsSections) {
  std::string dir = ScratchDir();
  WriteBytes(dir + "/stub.exe", FakeStub(700));
  TRun run = RunPack({"build", "--stub", "stub.exe", "--out", "empty.exe", "--silent"}, dir);
  ASSERT_EQ(run.Code, 0) << run.Err;
  TGFileInfo info(dir + "/empty.exe");
  EXPECT_EQ(info.Header.FilesCount, 0u);
  EXPECT_EQ(info.LanguageList, "");
  EXPECT_EQ(info.ProductList, "|||||1|");
  EXPECT_EQ(info.Header.Crc, GetCrc(dir + "/empty.exe", 74));
  EXPECT_EQ(RunPack({"verify", "empty.exe"}, dir).Code, 0);
}

}  // namespace

namespace {

// A setup package carrying a download token, and the internet-mode package
// that names it, as a vendor builds them one after the other.
TEST(PackBuild, AnInternetModePackageNamesTheSetupPackageBuiltBefore) {
  Project p;
  std::vector<std::string> setupArgs = p.Args("setup-pkg.exe");
  setupArgs.insert(setupArgs.end(), {"--download-token", "the shared token"});
  TRun run = RunPack(setupArgs, p.dir);
  ASSERT_EQ(run.Code, 0) << run.Err;
  run = RunPack({"build", "--stub", "stub.exe", "--out", "web.exe", "--lang", "lang.ini", "--download-url",
                 "http://downloads.example.test/pub", "--download-package", "setup-pkg.exe", "--download-token",
                 "the shared token", "--ask-before-download", "--creates-agent"},
                p.dir);
  ASSERT_EQ(run.Code, 0) << run.Err;
  EXPECT_EQ(run.Err, "") << "no warnings";

  TGFileInfo setup(p.dir + "/setup-pkg.exe");
  TGFileInfo web(p.dir + "/web.exe");
  EXPECT_FALSE(setup.IsInternetMode());
  EXPECT_EQ(setup.Header.SectionCount, 3);
  EXPECT_EQ(setup.DownloadToken(true), "the shared token");
  EXPECT_EQ(setup.Header.FilesCount, 4u);

  EXPECT_TRUE(web.IsInternetMode());
  EXPECT_TRUE(web.IsAskBeforeDownload());
  EXPECT_TRUE(web.IsCreatesAgent());
  EXPECT_EQ(web.Header.SectionCount, 3);
  EXPECT_EQ(web.Header.FilesCount, 0u);
  EXPECT_EQ(web.DownloadUrl(), "http://downloads.example.test/pub");
  EXPECT_EQ(web.DownloadFileName(), "setup-pkg.exe");
  EXPECT_FALSE(web.AlwaysDownload());
  EXPECT_EQ(web.DownloadSizeText(), IntToStr(int64_t(ReadBytes(p.dir + "/setup-pkg.exe").size())));
  EXPECT_NE(web.DownloadToken(false), "the shared token") << "stored scrambled";
  EXPECT_TRUE(web.SameDownloadToken(setup));
  EXPECT_TRUE(setup.SameDownloadToken(web));
  EXPECT_EQ(web.LanguageList, TGFileInfo(p.dir + "/setup-pkg.exe").LanguageList);
  // The raw header, field by field, and the chunk walker: three sections, no entries.
  TPackageHeader raw;
  ReadPackageHeader(p.dir + "/web.exe", raw);
  EXPECT_EQ(raw.InternetMode, 1);
  EXPECT_EQ(raw.AskBeforeDownload, 1);
  EXPECT_EQ(raw.DataOffset, 1536u);
  EXPECT_EQ(raw.Crc, GetCrc(p.dir + "/web.exe", 74));
  Walked w;
  ASSERT_TRUE(WalkAll(p.dir + "/web.exe", w).Ok());
  ASSERT_EQ(w.sections.size(), 3u);
  EXPECT_EQ(w.sections[2], web.DownloadList);
  EXPECT_TRUE(w.entries.empty());
  EXPECT_EQ(RunPack({"verify", "web.exe"}, p.dir).Code, 0);
  // A package built with another token is not the one the stub accepts.
  run = RunPack({"build", "--stub", "stub.exe", "--out", "other.exe", "--download-token", "another", "--setup",
                 "Setup.exe"},
                p.dir);
  ASSERT_EQ(run.Code, 0) << run.Err;
  EXPECT_FALSE(web.SameDownloadToken(TGFileInfo(p.dir + "/other.exe")));
}

TEST(PackBuild, InternetModeOptionsAndTheirProjectKeys) {
  struct {
    const char* what;
    std::vector<std::string> args;
    const char* project;  // keys of a project file, or null
    std::string list;     // DownloadList with the token field left out
    bool ask;
  } rows[] = {
      {"size given, always download",
       {"--download-url", "C:\\Setups", "--download-name", "full.exe", "--download-size", "1234567",
        "--always-download", "--download-token", "t"},
       nullptr, "|C:\\Setups|full.exe|1||1234567|", false},
      {"project keys",
       {},
       "download-url = http://h/x\ndownload-name = s.exe\ndownload-token = t\ndownload-size = 5\n"
       "ask-before-download = yes\nalways-download = 0\n",
       "|http://h/x|s.exe|0||5|", true},
      {"a trailing slash, which the stub would double",
       {"--download-url", "http://h/pub/", "--download-name", "s.exe", "--download-token", "t", "--download-size",
        "0"},
       nullptr, "|http://h/pub|s.exe|0||0|", false},
      {"--internet with the url from the project",
       {"--internet", "--download-name", "s.exe", "--download-token", "t"},
       "download-url = http://h/y\n", "|http://h/y|s.exe|0|||", false},
  };
  for (auto& r : rows) {
    SCOPED_TRACE(r.what);
    std::string dir = ScratchDir();
    WriteBytes(dir + "/stub.exe", FakeStub(1024));
    std::vector<std::string> args = {"build"};
    if (r.project) {
      WriteBytes(dir + "/p.ini", std::string("stub = stub.exe\nout = web.exe\n") + r.project);
      args.push_back("p.ini");
    } else {
      args.insert(args.end(), {"--stub", "stub.exe", "--out", "web.exe"});
    }
    args.insert(args.end(), r.args.begin(), r.args.end());
    TRun run = RunPack(args, dir);
    ASSERT_EQ(run.Code, 0) << run.Err;
    TGFileInfo web(dir + "/web.exe");
    EXPECT_TRUE(web.IsInternetMode());
    EXPECT_EQ(web.IsAskBeforeDownload(), r.ask);
    EXPECT_EQ(web.DownloadToken(true), "t");
    std::string list = web.DownloadList;
    std::string token = web.DownloadToken(false);
    ASSERT_NE(list.find(token), std::string::npos);
    EXPECT_EQ(list.erase(list.find(token), token.size()), r.list);
  }
}

}  // namespace

namespace {

// Bytes that do not compress, so that sizes on disk are predictable.
std::string NoiseBytes(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 0x9E3779B9u;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    s[i] = char(x >> 24);
  }
  return s;
}

struct VolumeWalk {
  std::string path;
  TWalkResult result;
  std::vector<TWalkEntry> entries;
};

// Every volume, walked with the chunk counter carried across them as the
// extractor counts it.
std::vector<VolumeWalk> WalkVolumes(const std::string& first) {
  std::vector<VolumeWalk> out;
  int chunks = 0;
  for (int n = 1; n < 100; ++n) {
    VolumeWalk v;
    v.path = n == 1 ? first : VolumeFileName(first, n);
    if (!Exists(v.path)) break;
    TWalkHandlers h;
    h.Context = &v.entries;
    h.EntryEnd = [](void* c, const TWalkEntry& e) {
      static_cast<std::vector<TWalkEntry>*>(c)->push_back(e);
      return true;
    };
    v.result = WalkVolume(v.path, chunks, h);
    chunks = v.result.Chunks;
    out.push_back(v);
  }
  return out;
}

TEST(PackSpan, FilesSplitAcrossVolumesComeBackWhole) {
  struct {
    const char* what;
    std::vector<std::pair<std::string, size_t>> files;  // name, size of noise
    uint64_t volumeSize;
    size_t volumes;
    std::vector<std::vector<std::string>> names;  // entries per volume
  } rows[] = {
      {"one file across two volumes", {{"Setup.exe", 120000}}, 80000, 2, {{"Setup.exe"}, {"Setup.exe"}}},
      {"three volumes, the middle file in two",
       {{"Setup.exe", 3000}, {"big.bin", 90000}, {"tail.txt", 30000}, {"empty.txt", 0}},
       60000,
       3,
       {{"Setup.exe", "big.bin"}, {"big.bin", "tail.txt"}, {"tail.txt", "empty.txt"}}},
      {"one file over three volumes", {{"Setup.exe", 150000}}, 60000, 3,
       {{"Setup.exe"}, {"Setup.exe"}, {"Setup.exe"}}},
      {"everything fits in one", {{"Setup.exe", 5000}, {"a.txt", 100}}, 100000, 1, {{"Setup.exe", "a.txt"}}},
  };
  for (auto& r : rows) {
    SCOPED_TRACE(r.what);
    std::string dir = ScratchDir();
    WriteBytes(dir + "/stub.exe", FakeStub(1536));
    std::vector<std::string> args = {"build", "--stub", "stub.exe", "--out", "span.exe", "--announce-temp-drive",
                                     "--volume-size", std::to_string(r.volumeSize)};
    std::map<std::string, std::string> want;
    uint32_t seed = 1;
    for (auto& f : r.files) {
      want[f.first] = NoiseBytes(f.second, seed++);
      WriteBytes(dir + "/" + f.first, want[f.first]);
      args.push_back(f.first == "Setup.exe" ? "Setup.exe*/q" : f.first);
    }
    TRun run = RunPack(args, dir);
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(run.Out.find(std::to_string(r.volumes) + " volumes") != std::string::npos, r.volumes > 1) << run.Out;

    std::string first = dir + "/span.exe";
    std::vector<VolumeWalk> volumes = WalkVolumes(first);
    ASSERT_EQ(volumes.size(), r.volumes);
    for (size_t v = 0; v < volumes.size(); ++v) {
      SCOPED_TRACE("volume " + std::to_string(v + 1));
      const VolumeWalk& w = volumes[v];
      ASSERT_TRUE(w.result.Ok()) << w.result.Error;
      EXPECT_LE(uint64_t(w.result.FileSize), r.volumeSize);
      EXPECT_EQ(w.result.LeftBeforeEnd(), 74);
      const TPackageHeader& h = w.result.Header;
      EXPECT_EQ(h.Magic, kPackageMagic);
      EXPECT_EQ(h.Crc, GetCrc(w.path, 74));
      EXPECT_EQ(IsSpanned(h), v + 1 < volumes.size());
      EXPECT_EQ(h.HeaderFlags & kFlagAnnounceTempDrive, kFlagAnnounceTempDrive);
      EXPECT_EQ(h.FilesCount, r.files.size());
      // Only the first volume is an executable with sections.
      EXPECT_EQ(IsPeFile(w.path), v == 0);
      EXPECT_EQ(h.DataOffset, v == 0 ? 1536u : 0u);
      std::vector<std::string> names;
      for (const TWalkEntry& e : w.entries) names.push_back(e.Name);
      EXPECT_EQ(names, r.names[v]);
    }
    EXPECT_FALSE(Exists(VolumeFileName(first, int(r.volumes) + 1)));

    // The extractor the stub runs puts the parts together again.
    std::string messages;
    TExtractResult x = ExtractToFolder(first, dir + "/out", messages);
    EXPECT_TRUE(x.CrcOk);
    EXPECT_FALSE(x.Damaged || x.Cancelled) << x.Problem;
    EXPECT_EQ(messages, "");
    EXPECT_EQ(x.SetupEntry, "Setup.exe*/q");
    EXPECT_EQ(x.NewFiles, int(r.files.size()));
    for (auto& f : want) EXPECT_EQ(ReadBytes(dir + "/out/" + f.first), f.second) << f.first;
    EXPECT_EQ(RunPack({"verify", "span.exe"}, dir).Code, 0);
  }
}

TEST(PackSpan, TheSmallestVolumeSizeNamedIsEnough) {
  std::string dir = ScratchDir();
  WriteBytes(dir + "/stub.exe", FakeStub(1536));
  std::map<std::string, std::string> want = {
      {"Setup.exe", NoiseBytes(700, 1)}, {"a.txt", NoiseBytes(3000, 2)}, {"b.txt", std::string(90000, 'b')}};
  for (auto& f : want) WriteBytes(dir + "/" + f.first, f.second);
  TRun refused = RunPack({"build", "--stub", "stub.exe", "--out", "s.exe", "--setup", "Setup.exe", "--volume-size",
                          "1600", "a.txt", "b.txt"},
                         dir);
  ASSERT_EQ(refused.Code, 1);
  size_t at = refused.Err.find("at least ");
  ASSERT_NE(at, std::string::npos) << refused.Err;
  std::string least = refused.Err.substr(at + 9);
  least = least.substr(0, least.find_first_not_of("0123456789"));
  TRun run = RunPack({"build", "--stub", "stub.exe", "--out", "s.exe", "--setup", "Setup.exe", "--volume-size", least,
                      "a.txt", "b.txt"},
                     dir);
  ASSERT_EQ(run.Code, 0) << run.Err;
  std::vector<VolumeWalk> volumes = WalkVolumes(dir + "/s.exe");
  ASSERT_GT(volumes.size(), 2u);
  for (const VolumeWalk& v : volumes) {
    EXPECT_TRUE(v.result.Ok()) << v.path << ": " << v.result.Error;
    EXPECT_LE(v.result.FileSize, std::stoll(least)) << v.path;
    EXPECT_FALSE(v.entries.empty()) << v.path << ": every volume starts with an entry";
  }
  std::string messages;
  TExtractResult x = ExtractToFolder(dir + "/s.exe", dir + "/out", messages);
  ASSERT_TRUE(x.CrcOk && !x.Damaged) << x.Problem;
  for (auto& f : want) EXPECT_EQ(ReadBytes(dir + "/out/" + f.first), f.second) << f.first;
  // A later, shorter build takes the volumes it no longer needs away.
  run = RunPack({"build", "--stub", "stub.exe", "--out", "s.exe", "--setup", "Setup.exe", "a.txt", "b.txt"}, dir);
  ASSERT_EQ(run.Code, 0) << run.Err;
  EXPECT_FALSE(Exists(dir + "/s.exe.002"));
  EXPECT_NE(run.Err.find("removed"), std::string::npos) << run.Err;
}

}  // namespace
