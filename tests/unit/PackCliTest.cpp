// korvan-pack as a vendor runs it: refusals that leave nothing behind,
// verify on damaged packages, and inspect against the fixtures of an
// independent implementation.
#include <gtest/gtest.h>

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

}  // namespace
