// korvan-pack as a vendor runs it: refusals that leave nothing behind,
// verify on damaged packages, and inspect against the fixtures of an
// independent implementation.
#include <gtest/gtest.h>
#include <zlib.h>

#include <signal.h>

#include <algorithm>

#include <string>
#include <vector>

#include "MiniJson.h"
#include "PackTestKit.h"
#include "package/PackWalk.h"
#include "package/PackX.h"
#include "util/Utils.h"

namespace {

using namespace packkit;

const std::string kFixtures = std::string(KORVAN_TEST_DATA) + "/fixtures/";

std::string Folder() {
  std::string dir = ScratchDir();
  WriteBytes(dir + "/stub.exe", FakeStub(1536));
  WriteBytes(dir + "/Setup.exe", SampleBytes(3000, 5));
  WriteBytes(dir + "/a.txt", "alpha");
  WriteBytes(dir + "/A.TXT", "ALPHA");
  WriteBytes(dir + "/b.txt", SampleBytes(20000, 9));
  WriteBytes(dir + "/lang.ini", "[English]\ns0=Demo\n");
  std::string wrongHeader = FakeStub(1536, 0x80);
  WriteBytes(dir + "/ld-stub.exe", wrongHeader);
  std::string noPe = FakeStub(1536);
  noPe[256] = 'X';
  WriteBytes(dir + "/nope-stub.exe", noPe);
  WriteBytes(dir + "/tiny-stub.exe", "MZ");
  if (std::system(("cd " + ShellQuote(dir) + " && ln -s stub.exe link.exe && mkdir sub").c_str()) != 0) return dir;
  // The refused names exist, so only the name itself can be the reason.
  const char* present[] = {"sub/a.txt", "sub\\a.txt", "C:a.txt", "..a.txt", "con.txt", "setup.EXE"};
  for (const char* name : present) WriteBytes(dir + "/" + name, "x");
  return dir;
}

TEST(PackCli, RefusesBadInputsWithOneLineAndLeavesNothingBehind) {
  struct {
    const char* what;
    std::vector<std::string> args;  // after "build --out OUT"
    const char* culprit;            // must appear in the message
    const char* reason;             // and so must this
  } rows[] = {
      {"missing file", {"--stub", "stub.exe", "--setup", "Setup.exe", "gone.txt"}, "gone.txt", "missing input"},
      {"missing stub", {"--stub", "nostub.exe", "--setup", "Setup.exe"}, "nostub.exe", "missing input"},
      {"missing language file", {"--stub", "stub.exe", "--lang", "no.ini", "--setup", "Setup.exe"}, "no.ini",
       "missing input"},
      {"same name, other case", {"--stub", "stub.exe", "--setup", "Setup.exe", "a.txt", "A.TXT"}, "A.TXT",
       "two files named"},
      {"the setup listed twice", {"--stub", "stub.exe", "--setup", "a.txt", "Setup.exe", "setup.EXE"}, "setup.EXE",
       "two files named"},
      {"slash", {"--stub", "stub.exe", "--setup", "Setup.exe", "sub/a.txt"}, "sub/a.txt", "path separator"},
      {"backslash", {"--stub", "stub.exe", "--setup", "Setup.exe", "sub\\a.txt"}, "sub\\a.txt", "path separator"},
      {"drive colon", {"--stub", "stub.exe", "--setup", "Setup.exe", "C:a.txt"}, "C:a.txt", "colon"},
      {"dot dot", {"--stub", "stub.exe", "--setup", "Setup.exe", ".."}, "\"..\"", "may not stand"},
      {"dot dot inside", {"--stub", "stub.exe", "--setup", "..a.txt"}, "..a.txt", "may not stand"},
      {"device name", {"--stub", "stub.exe", "--setup", "Setup.exe", "con.txt"}, "con.txt", "device"},
      {"two setup options", {"--stub", "stub.exe", "--setup", "Setup.exe", "--setup", "a.txt"}, "a.txt",
       "more than one setup"},
      {"setup option and star", {"--stub", "stub.exe", "--setup", "Setup.exe", "a.txt*"}, "a.txt",
       "more than one setup"},
      {"no setup entry", {"--stub", "stub.exe", "a.txt", "b.txt"}, "--setup", "no setup entry"},
      {"PE header at 0x80", {"--stub", "ld-stub.exe", "--setup", "Setup.exe"}, "ld-stub.exe", "0x80, not at 0x100"},
      {"no PE at 256", {"--stub", "nope-stub.exe", "--setup", "Setup.exe"}, "nope-stub.exe", "not at 0x100"},
      {"stub too small", {"--stub", "tiny-stub.exe", "--setup", "Setup.exe"}, "tiny-stub.exe", "not a Windows"},
      {"bar in a token", {"--stub", "stub.exe", "--agent-token", "a|b"}, "--agent-token", "\"|\""},
      {"volume smaller than the stub", {"--stub", "stub.exe", "--setup", "Setup.exe", "--volume-size", "1000"},
       "--volume-size 1000", "too small"},
      {"volume too small for the first file",
       {"--stub", "stub.exe", "--setup", "Setup.exe", "--volume-size", "1650"}, "--volume-size 1650", "at least"},
      {"volume size that is no number", {"--stub", "stub.exe", "--setup", "Setup.exe", "--volume-size", "1.4M"},
       "1.4M", "size in bytes"},
      {"volume size past 2 GB", {"--stub", "stub.exe", "--setup", "Setup.exe", "--volume-size", "2147483648"},
       "2147483648", "up to 2147483647"},
      {"spanned internet mode",
       {"--stub", "stub.exe", "--download-url", "http://h", "--download-name", "s.exe", "--download-token", "t",
        "--volume-size", "100000"},
       "--volume-size", "no files to span"},
      {"files in internet mode",
       {"--stub", "stub.exe", "--download-url", "http://h", "--download-name", "s.exe", "--download-token", "t",
        "--setup", "Setup.exe"},
       "Setup.exe", "carries no files"},
      {"internet mode without a token", {"--stub", "stub.exe", "--download-url", "http://h", "--download-name", "s.exe"},
       "--download-token", "needs"},
      {"internet mode without a name", {"--stub", "stub.exe", "--download-url", "http://h", "--download-token", "t"},
       "--download-name", "needs"},
      {"internet mode without a url", {"--stub", "stub.exe", "--internet", "--download-name", "s.exe"},
       "--download-url", "needs"},
      {"ask without internet mode", {"--stub", "stub.exe", "--ask-before-download", "--setup", "Setup.exe"},
       "--ask-before-download", "--download-url"},
      {"size that is no number",
       {"--stub", "stub.exe", "--download-url", "http://h", "--download-name", "s.exe", "--download-token", "t",
        "--download-size", "2 MB"},
       "2 MB", "size in bytes"},
      {"download name with a folder",
       {"--stub", "stub.exe", "--download-url", "http://h", "--download-name", "pub/s.exe", "--download-token", "t"},
       "pub/s.exe", "path separator"},
      {"setup package missing",
       {"--stub", "stub.exe", "--download-url", "http://h", "--download-package", "gone.exe", "--download-token", "t"},
       "gone.exe", "missing input"},
      {"setup package that is none",
       {"--stub", "stub.exe", "--download-url", "http://h", "--download-package", "b.txt", "--download-token", "t"},
       "b.txt", "no package"},
      {"bar in the url",
       {"--stub", "stub.exe", "--download-url", "http://h/a|b", "--download-name", "s.exe", "--download-token", "t"},
       "--download-url", "\"|\""},
  };
  for (auto& r : rows) {
    SCOPED_TRACE(r.what);
    std::string dir = Folder();
    std::vector<std::string> before = ListDir(dir);
    std::vector<std::string> args = {"build", "--out", "out.exe"};
    args.insert(args.end(), r.args.begin(), r.args.end());
    TRun run = RunPack(args, dir);
    EXPECT_NE(run.Code, 0);
    EXPECT_NE(run.Err.find(r.culprit), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find(r.reason), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find('\n'), run.Err.size() - 1) << "one line: " << run.Err;
    EXPECT_EQ(ListDir(dir), before) << "nothing written";
  }
}

TEST(PackCli, RefusesToWriteOverAnInput) {
  struct {
    const char* what;
    const char* out;
    std::vector<std::string> args;
  } rows[] = {
      {"a file", "b.txt", {"--stub", "stub.exe", "--setup", "Setup.exe", "b.txt"}},
      {"the stub by another spelling", "./sub/../stub.exe", {"--stub", "stub.exe"}},
      {"the stub through a link", "link.exe", {"--stub", "stub.exe"}},
      {"the setup program", "Setup.exe", {"--stub", "stub.exe", "--setup", "Setup.exe"}},
      {"the language file", "lang.ini", {"--stub", "stub.exe", "--lang", "lang.ini"}},
  };
  for (auto& r : rows) {
    SCOPED_TRACE(r.what);
    std::string dir = Folder();
    std::vector<std::string> before = ListDir(dir);
    std::string stub = ReadBytes(dir + "/stub.exe"), b = ReadBytes(dir + "/b.txt");
    std::vector<std::string> args = {"build", "--out", r.out};
    args.insert(args.end(), r.args.begin(), r.args.end());
    TRun run = RunPack(args, dir);
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("is also an input"), std::string::npos) << run.Err;
    EXPECT_EQ(ListDir(dir), before);
    EXPECT_EQ(ReadBytes(dir + "/stub.exe"), stub);
    EXPECT_EQ(ReadBytes(dir + "/b.txt"), b);
  }
}

TEST(PackCli, TheSetupPackageMustCarryTheSameDownloadToken) {
  std::string dir = Folder();
  struct {
    const char* what;
    std::vector<std::string> extra;  // for the setup package
  } rows[] = {{"no token", {}}, {"another token", {"--download-token", "old"}}};
  for (auto& r : rows) {
    SCOPED_TRACE(r.what);
    std::vector<std::string> args = {"build", "--out", "full.exe", "--stub", "stub.exe", "--setup", "Setup.exe"};
    args.insert(args.end(), r.extra.begin(), r.extra.end());
    ASSERT_EQ(RunPack(args, dir).Code, 0);
    TRun run = RunPack({"build", "--out", "web.exe", "--stub", "stub.exe", "--download-url", "http://h",
                        "--download-package", "full.exe", "--download-token", "new"},
                       dir);
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("another download token"), std::string::npos) << run.Err;
    EXPECT_FALSE(Exists(dir + "/web.exe"));
  }
  // A spanned setup package would leave the stub asking for volumes it
  // never downloads.
  ASSERT_EQ(RunPack({"build", "--out", "span.exe", "--stub", "stub.exe", "--setup", "Setup.exe", "--download-token",
                     "new", "--volume-size", "3000", "b.txt"},
                    dir)
                .Code,
            0);
  ASSERT_TRUE(Exists(dir + "/span.exe.002"));
  TRun spanned = RunPack({"build", "--out", "web.exe", "--stub", "stub.exe", "--download-url", "http://h",
                          "--download-package", "span.exe", "--download-token", "new"},
                         dir);
  EXPECT_EQ(spanned.Code, 1);
  EXPECT_NE(spanned.Err.find("spanned"), std::string::npos) << spanned.Err;
  // The setup package's own folder is not part of the name the stub fetches.
  ASSERT_EQ(RunPack({"build", "--out", "sub/full.exe", "--stub", "stub.exe", "--setup", "Setup.exe",
                     "--download-token", "new"},
                    dir)
                .Code,
            0);
  TRun run = RunPack({"build", "--out", "web.exe", "--stub", "stub.exe", "--download-url", "http://h",
                      "--download-package", "sub/full.exe", "--download-token", "new"},
                     dir);
  ASSERT_EQ(run.Code, 0) << run.Err;
  EXPECT_EQ(TGFileInfo(dir + "/web.exe").DownloadFileName(), "full.exe");
  // Without a size the question would say 0 MB: built, with a warning.
  run = RunPack({"build", "--out", "web2.exe", "--stub", "stub.exe", "--download-url", "http://h", "--download-name",
                 "full.exe", "--download-token", "new"},
                dir);
  EXPECT_EQ(run.Code, 0);
  EXPECT_NE(run.Err.find("warning"), std::string::npos) << run.Err;
  TRun text = RunPack({"inspect", "web.exe"}, dir);
  EXPECT_NE(text.Out.find("DownloadToken    new"), std::string::npos) << text.Out;
  std::string size = IntToStr(int64_t(ReadBytes(dir + "/sub/full.exe").size()));
  EXPECT_NE(text.Out.find("DownloadSize     " + size + " bytes (0.0"), std::string::npos) << text.Out;
}

TEST(PackCli, AFailedBuildKeepsTheOldOutput) {
  std::string dir = Folder();
  WriteBytes(dir + "/out.exe", "the previous package");
  std::vector<std::string> before = ListDir(dir);
  TRun run = RunPack({"build", "--out", "out.exe", "--stub", "stub.exe", "--setup", "Setup.exe", "gone.txt"}, dir);
  EXPECT_EQ(run.Code, 1);
  EXPECT_EQ(ReadBytes(dir + "/out.exe"), "the previous package");
  run = RunPack({"build", "--out", "out.exe", "--stub", "stub.exe", "--setup", "Setup.exe", "b.txt"}, dir);
  EXPECT_EQ(run.Code, 0) << run.Err;
  EXPECT_TRUE(TGFileInfo(dir + "/out.exe").HasMagic());
  EXPECT_EQ(ListDir(dir), before) << "no temporary file left";
}

// Builds a package in a fresh folder and returns its path.
std::string Built(std::string& dir) {
  dir = Folder();
  TRun run = RunPack({"build", "--out", "pkg.exe", "--stub", "stub.exe", "--setup", "Setup.exe", "b.txt", "a.txt"}, dir);
  EXPECT_EQ(run.Code, 0) << run.Err;
  return dir + "/pkg.exe";
}

void PatchCrc(std::string& f, const std::string& path) {
  WriteBytes(path, f);
  uint32_t crc = GetCrc(path, 74);
  PutU32(reinterpret_cast<uint8_t*>(&f[f.size() - 74 + 16]), crc);
  WriteBytes(path, f);
}

TEST(PackCli, VerifyNamesTheFault) {
  std::string dir;
  std::string path = Built(dir);
  TRun ok = RunPack({"verify", "pkg.exe"}, dir);
  EXPECT_EQ(ok.Code, 0) << ok.Err;
  EXPECT_NE(ok.Out.find("sound"), std::string::npos);

  std::string good = ReadBytes(path);
  // Positions of the entries, from the walker.
  std::vector<TWalkEntry> entries;
  TWalkHandlers h;
  h.Context = &entries;
  h.EntryEnd = [](void* c, const TWalkEntry& e) {
    static_cast<std::vector<TWalkEntry>*>(c)->push_back(e);
    return true;
  };
  ASSERT_TRUE(WalkVolume(path, 0, h).Ok());
  ASSERT_EQ(entries.size(), 3u);
  const TWalkEntry& b = entries[1];
  ASSERT_EQ(b.Name, "b.txt");

  // One body byte flipped: the checksum catches it.
  std::string flipped = good;
  flipped[size_t(b.ChunkPos) + 4 + b.PackedSize / 2] ^= 0x10;
  WriteBytes(dir + "/flipped.exe", flipped);
  TRun run = RunPack({"verify", "flipped.exe"}, dir);
  EXPECT_EQ(run.Code, 1);
  EXPECT_NE(run.Err.find("flipped.exe"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("checksum"), std::string::npos) << run.Err;
  EXPECT_EQ(run.Err.find('\n'), run.Err.size() - 1) << run.Err;

  // The same damage with the checksum made to match: inflating catches it.
  struct {
    const char* what;
    size_t at;
    const char* reason;
  } rows[] = {
      {"inside the stream", size_t(b.ChunkPos) + 4 + b.PackedSize / 2, "inflate failed"},
      {"the stream header", size_t(b.ChunkPos) + 4, "incorrect header check"},
  };
  for (auto& r : rows) {
    SCOPED_TRACE(r.what);
    std::string damaged = good;
    damaged[r.at] ^= 0x10;
    PatchCrc(damaged, dir + "/damaged.exe");
    run = RunPack({"verify", "damaged.exe"}, dir);
    EXPECT_EQ(run.Code, 1);
    EXPECT_EQ(run.Err.find("checksum"), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find(r.reason), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("entry 2"), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("damaged.exe"), std::string::npos) << run.Err;
  }

  // A FilesCount that does not match, and a chunk length beyond the end.
  std::string count = good;
  PutU32(reinterpret_cast<uint8_t*>(&count[count.size() - 74 + 8]), 4);
  PatchCrc(count, dir + "/count.exe");
  run = RunPack({"verify", "count.exe"}, dir);
  EXPECT_EQ(run.Code, 1);
  EXPECT_NE(run.Err.find("counts 4 files"), std::string::npos) << run.Err;
  std::string longer = good;
  PutU32(reinterpret_cast<uint8_t*>(&longer[size_t(b.ChunkPos)]), 0x7FFFFFFF);
  PatchCrc(longer, dir + "/long.exe");
  run = RunPack({"verify", "long.exe"}, dir);
  EXPECT_EQ(run.Code, 1);
  EXPECT_NE(run.Err.find("entry 2 at offset " + std::to_string(b.ChunkPos) + " claims 2147483647 bytes"),
            std::string::npos)
      << run.Err;

  run = RunPack({"verify", "stub.exe"}, dir);
  EXPECT_EQ(run.Code, 1);
  EXPECT_NE(run.Err.find("no package"), std::string::npos) << run.Err;
}

// Every key of Want is in Got with the same value.
void ExpectContains(const JValue& got, const JValue& want, const std::string& at) {
  ASSERT_EQ(got.kind, want.kind) << at;
  switch (want.kind) {
    case JValue::Object:
      for (auto& kv : want.obj) {
        EXPECT_TRUE(got.has(kv.first)) << at << "." << kv.first;
        if (got.has(kv.first)) ExpectContains(got[kv.first], kv.second, at + "." + kv.first);
      }
      break;
    case JValue::Array:
      ASSERT_EQ(got.size(), want.size()) << at;
      for (size_t i = 0; i < want.size(); ++i) ExpectContains(got[i], want[i], at + "[" + std::to_string(i) + "]");
      break;
    case JValue::Number: EXPECT_EQ(got.num, want.num) << at; break;
    case JValue::String: EXPECT_EQ(got.str, want.str) << at; break;
    case JValue::Bool: EXPECT_EQ(got.b, want.b) << at; break;
    case JValue::Null: break;
  }
}

TEST(PackCli, InspectAndVerifyAgreeWithTheFixtures) {
  JValue all = LoadJson(kFixtures + "expected.json");
  ASSERT_EQ(all.size(), 4u);
  for (size_t i = 0; i < all.size(); ++i) {
    const JValue& fx = all[i];
    SCOPED_TRACE(fx["file"].str);
    std::string path = kFixtures + fx["file"].str;
    TRun run = RunPack({"inspect", "--json", path});
    ASSERT_EQ(run.Code, 0) << run.Err;
    JValue got = JParser(run.Out).Parse();
    // Notes describe the fixture; everything else is a fact the tool reports.
    JValue want = fx;
    want.obj.erase("note");
    ExpectContains(got, want, fx["file"].str);
    EXPECT_TRUE(got["checksum_ok"].b);

    TRun verify = RunPack({"verify", path});
    EXPECT_EQ(verify.Code, 0) << verify.Err;
  }
  // The plain text names the same facts.
  TRun text = RunPack({"inspect", kFixtures + "local-three-languages.pkg"});
  EXPECT_EQ(text.Code, 0);
  EXPECT_NE(text.Out.find("fixture-agent-token"), std::string::npos);
  EXPECT_NE(text.Out.find("Setup.exe  [setup: -s /quiet]"), std::string::npos) << text.Out;
  EXPECT_NE(text.Out.find("2021-03-04 05:06:08"), std::string::npos);
}

TEST(PackCli, HelpDescribesTheProjectFileAndUsageErrorsExitTwo) {
  TRun help = RunPack({"--help"});
  EXPECT_EQ(help.Code, 0);
  EXPECT_NE(help.Out.find("Project file"), std::string::npos);
  EXPECT_NE(help.Out.find("[files]"), std::string::npos);
  EXPECT_NE(help.Out.find("--agent-token"), std::string::npos);
  struct {
    std::vector<std::string> args;
    const char* message;
  } rows[] = {
      {{}, "usage"},
      {{"pack"}, "unknown command pack"},
      {{"build", "--stub"}, "--stub needs a value"},
      {{"build", "--frobnicate"}, "unknown option --frobnicate"},
      {{"build", "--stub", "s.exe"}, "--out"},
      {{"inspect"}, "needs a package"},
      {{"verify", "a", "b"}, "one package"},
      {{"extract", "a"}, "a package and a folder"},
      {{"extract", "a", "b", "c"}, "a package and a folder"},
      {{"extract", "--all", "a", "b"}, "unknown option --all"},
  };
  for (auto& r : rows) {
    TRun run = RunPack(r.args);
    EXPECT_EQ(run.Code, 2) << r.message;
    EXPECT_NE(run.Err.find(r.message), std::string::npos) << run.Err;
  }
}


// A package made by hand around entries the builder would refuse to write.
std::string CraftPackage(const std::string& path, const std::vector<std::string>& entries) {
  std::string f = FakeStub(1024);
  auto chunk = [&](const std::string& bytes) {
    uint8_t len[4];
    PutU32(len, uint32_t(bytes.size()));
    f.append(reinterpret_cast<char*>(len), 4);
    f += bytes;
  };
  chunk("");
  chunk("|||||0|");
  for (const std::string& e : entries) {
    uLongf n = compressBound(uLong(e.size()));
    std::string z(n, '\0');
    compress2(reinterpret_cast<Bytef*>(&z[0]), &n, reinterpret_cast<const Bytef*>(e.data()), uLong(e.size()), 9);
    chunk(z.substr(0, n));
  }
  TPackageHeader h = TPackageHeader();
  h.Format = 1;
  h.SectionCount = 2;
  h.DataOffset = 1024;
  h.FilesCount = uint32_t(entries.size());
  h.Magic = kPackageMagic;
  h.HeaderSize = 74;
  uint8_t record[74];
  EncodeHeader(h, record);
  f.append(reinterpret_cast<char*>(record), 74);
  PutU32(reinterpret_cast<uint8_t*>(&f[252]), uint32_t(f.size()));
  PatchCrc(f, path);
  return path;
}

std::string Noise(size_t n, uint32_t x) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = char(x >> 23);
  }
  return s;
}

TEST(PackCli, ExtractWritesTheFilesOfEveryVolume) {
  std::string dir = Folder();
  WriteBytes(dir + "/n.bin", Noise(100000, 3));
  TRun run = RunPack({"build", "--out", "pkg.exe", "--stub", "stub.exe", "--setup", "Setup.exe", "--volume-size",
                      "50000", "b.txt", "n.bin", "a.txt"},
                     dir);
  ASSERT_EQ(run.Code, 0) << run.Err;
  ASSERT_TRUE(Exists(dir + "/pkg.exe.003"));
  ASSERT_FALSE(Exists(dir + "/pkg.exe.004"));
  TRun verify = RunPack({"verify", "pkg.exe"}, dir);
  EXPECT_EQ(verify.Code, 0) << verify.Err;
  EXPECT_NE(verify.Out.find("sound: 4 entries"), std::string::npos) << verify.Out;
  EXPECT_NE(verify.Out.find("3 volumes"), std::string::npos) << verify.Out;
  run = RunPack({"extract", "pkg.exe", "out"}, dir);
  ASSERT_EQ(run.Code, 0) << run.Err;
  EXPECT_NE(run.Out.find("4 files"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("setup Setup.exe*"), std::string::npos) << run.Out;
  for (const char* name : {"Setup.exe", "b.txt", "n.bin", "a.txt"})
    EXPECT_EQ(ReadBytes(dir + "/out/" + name), ReadBytes(dir + "/" + name)) << name;
  EXPECT_EQ(ListDir(dir + "/out").size(), 4u);
  // inspect shows where each part lies.
  TRun json = RunPack({"inspect", "--json", "pkg.exe"}, dir);
  ASSERT_EQ(json.Code, 0) << json.Err;
  JValue got = JParser(json.Out).Parse();
  ASSERT_EQ(got["volumes"].size(), 3u);
  EXPECT_EQ(got["volumes"][2]["path"].str, "pkg.exe.003");
  int continued = 0;
  for (size_t i = 0; i < got["entries"].size(); ++i) continued += got["entries"][i]["continued"].b ? 1 : 0;
  EXPECT_GE(continued, 1);
  // A later volume given by itself is named as such, not read as a package.
  for (const char* command : {"verify", "inspect", "extract"}) {
    std::vector<std::string> args = {command, "pkg.exe.002"};
    if (std::string(command) == "extract") args.push_back("out2");
    TRun later = RunPack(args, dir);
    EXPECT_EQ(later.Code, 1) << command;
    EXPECT_NE(later.Err.find("pkg.exe.002 is volume 2 of pkg.exe"), std::string::npos) << command << later.Err;
  }
  EXPECT_FALSE(Exists(dir + "/out2"));
  // The folder must be new or empty: entries are appended to what is there.
  run = RunPack({"extract", "pkg.exe", "out"}, dir);
  EXPECT_EQ(run.Code, 1);
  EXPECT_NE(run.Err.find("not empty"), std::string::npos) << run.Err;
  EXPECT_EQ(ReadBytes(dir + "/out/a.txt"), "alpha");
}

TEST(PackCli, AMissingOrDamagedLaterVolumeIsNamed) {
  std::string dir = Folder();
  WriteBytes(dir + "/n.bin", Noise(100000, 4));
  TRun built = RunPack({"build", "--out", "pkg.exe", "--stub", "stub.exe", "--setup", "Setup.exe", "--volume-size",
                        "50000", "n.bin", "b.txt"},
                       dir);
  ASSERT_EQ(built.Code, 0) << built.Err;
  const std::string second = dir + "/pkg.exe.002";
  const std::string good = ReadBytes(second);
  struct {
    const char* what;
    bool remove;
    size_t flipAt;        // 0: no flip
    bool patchCrc;
    const char* reason;   // besides the volume's name
  } rows[] = {
      {"missing", true, 0, false, "missing"},
      {"a flipped byte", false, 3000, false, "checksum mismatch"},
      {"a flipped byte under a matching checksum", false, 3000, true, "volume 2"},
      {"a damaged stream head under a matching checksum", false, 4, true, "incorrect header check"},
  };
  for (auto& r : rows) {
    SCOPED_TRACE(r.what);
    std::string bytes = good;
    if (r.flipAt) bytes[r.flipAt] ^= 0x20;
    if (r.patchCrc) PatchCrc(bytes, second);
    else WriteBytes(second, bytes);
    if (r.remove) std::remove(second.c_str());
    for (const char* command : {"verify", "inspect", "extract"}) {
      SCOPED_TRACE(command);
      std::vector<std::string> args = {command, "pkg.exe"};
      if (std::string(command) == "extract") args.push_back("out");
      TRun run = RunPack(args, dir);
      EXPECT_EQ(run.Code, 1);
      EXPECT_NE(run.Err.find("pkg.exe.002"), std::string::npos) << run.Err;
      EXPECT_NE(run.Err.find(r.reason), std::string::npos) << run.Err;
      EXPECT_EQ(run.Err.find('\n'), run.Err.size() - 1) << "one line: " << run.Err;
      EXPECT_FALSE(Exists(dir + "/out")) << "nothing left of a failed extraction";
    }
  }
  WriteBytes(second, good);
  EXPECT_EQ(RunPack({"verify", "pkg.exe"}, dir).Code, 0);
}

TEST(PackCli, ExtractWritesNothingOutsideItsFolder) {
  std::string dir = ScratchDir();
  if (std::system(("mkdir " + ShellQuote(dir + "/out")).c_str()) != 0) FAIL();
  struct {
    const char* what;
    std::string entry;
    const char* reason;
  } rows[] = {
      {"a parent folder", std::string("|../evil.txt|0|\0evil", 20), "Unable to save"},
      {"an absolute path", std::string("|/tmp/evil.txt|0|\0evil", 22), "Unable to save"},
      {"no zero after the text", std::string("|evil.txt|0|"), "no end of the entry text"},
  };
  for (auto& r : rows) {
    SCOPED_TRACE(r.what);
    CraftPackage(dir + "/bad.exe", {std::string("|ok.txt|0|\0fine", 15), r.entry});
    TRun run = RunPack({"extract", "bad.exe", "out"}, dir);
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find(r.reason), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find('\n'), run.Err.size() - 1) << "one line: " << run.Err;
    EXPECT_FALSE(Exists(dir + "/evil.txt"));
    EXPECT_TRUE(ListDir(dir + "/out").empty()) << "the folder given is kept, emptied";
  }
  EXPECT_FALSE(Exists("/tmp/evil.txt"));
  // The same package without the bad entry extracts.
  CraftPackage(dir + "/good.exe", {std::string("|ok.txt|0|\0fine", 15)});
  TRun run = RunPack({"extract", "good.exe", "out"}, dir);
  EXPECT_EQ(run.Code, 0) << run.Err;
  EXPECT_EQ(ReadBytes(dir + "/out/ok.txt"), "fine");
}

TEST(PackCli, ExtractGivesTheFilesOfTheFixtures) {
  JValue all = LoadJson(kFixtures + "expected.json");
  ASSERT_EQ(all.size(), 4u);
  for (size_t i = 0; i < all.size(); ++i) {
    const JValue& fx = all[i];
    SCOPED_TRACE(fx["file"].str);
    std::string out = ScratchDir() + "/out";
    TRun run = RunPack({"extract", kFixtures + fx["file"].str, out});
    ASSERT_EQ(run.Code, 0) << run.Err;
    const JValue& entries = fx["entries"];
    std::vector<std::string> names;
    for (size_t e = 0; e < entries.size(); ++e) {
      std::string name = ListGetToken(entries[e]["entry_text"].str, 0, "");
      name = name.substr(0, name.find('*'));
      names.push_back(name);
      std::string bytes = ReadBytes(out + "/" + name);
      EXPECT_EQ(bytes.size(), entries[e]["size"].num) << name;
      char crc[16];
      std::snprintf(crc, sizeof crc, "%08lx",
                    crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size())));
      EXPECT_EQ(crc, entries[e]["crc32"].str) << name;
    }
    std::vector<std::string> listed = ListDir(out);
    std::sort(listed.begin(), listed.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(listed, names);
  }
}

// Interrupted while writing its volumes, a build leaves none of them behind.
TEST(PackCli, AnInterruptedSpannedBuildLeavesNoVolume) {
  std::string dir = Folder();
  WriteBytes(dir + "/n.bin", Noise(48u << 20, 7));
  std::vector<std::string> before = ListDir(dir);
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execl(KORVAN_PACK, KORVAN_PACK, "build", "--out", "pkg.exe", "--stub", "stub.exe", "--setup", "Setup.exe",
            "--volume-size", "2000000", "n.bin", static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  // Wait until the third volume is being written, then stop the build.
  bool third = false;
  for (int i = 0; i < 20000 && !third; ++i) {
    for (const std::string& n : ListDir(dir)) third = third || n.find("pkg.exe.003.tmp-") == 0;
    if (!third) usleep(500);
  }
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(third) << "the build ended before its third volume was seen";
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(ListDir(dir), before);
}
}  // namespace
