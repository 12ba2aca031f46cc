// The extractor core on the host: the fixtures of the second implementation,
// and packages damaged past their checksum.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "MiniJson.h"
#include "package/PackX.h"
#include "package/UnPack.h"
#include "package/UnPackHost.h"

namespace {

const std::string kFixtures = std::string(KORVAN_TEST_DATA) + "/fixtures/";

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Spit(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), std::streamsize(data.size()));
}

std::string FreshDir(const std::string& name) {
  std::string dir = ::testing::TempDir() + "korvan_unpack_" + name;
  std::string cmd = "rm -rf '" + dir + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  return dir;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

uint32_t Crc32(const std::string& s) {
  return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(s.data()), uInt(s.size())));
}

// A package without an executable in front: sections, then entries given as
// raw chunk bytes, then the header with the checksum patched in.
std::string BuildPackage(const std::vector<std::string>& chunks, const std::string& path) {
  std::string body;
  auto chunk = [&body](const std::string& c) {
    uint8_t len[4];
    PutU32(len, uint32_t(c.size()));
    body.append(reinterpret_cast<char*>(len), 4);
    body += c;
  };
  chunk(std::string("\x02\x01" "English\x01" "s0=t\x01\x02", 14));
  chunk("|||||0|");
  for (const auto& c : chunks) chunk(c);
  TPackageHeader h = TPackageHeader();
  h.Format = 1;
  h.SectionCount = 2;
  h.DataOffset = 0;
  h.FilesCount = uint32_t(chunks.size());
  h.Magic = kPackageMagic;
  h.Reserved3 = 1;
  h.HeaderSize = kHeaderBytes;
  uint8_t rec[kHeaderBytes];
  EncodeHeader(h, rec);
  std::string file = body + std::string(reinterpret_cast<char*>(rec), kHeaderBytes);
  Spit(path, file);
  h.Crc = GetCrc(path, kHeaderBytes);
  EncodeHeader(h, rec);
  file = body + std::string(reinterpret_cast<char*>(rec), kHeaderBytes);
  Spit(path, file);
  return file;
}

std::string Entry(const std::string& text, const std::string& data) {
  std::string raw = text + std::string(1, '\0') + data;
  uLongf size = compressBound(uLong(raw.size()));
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()), 9);
  out.resize(size);
  return out;
}

TEST(UnPack, FixturesExtractWithTheirSizesAndCrcs) {
  JValue all = LoadJson(kFixtures + "expected.json");
  for (size_t i = 0; i < all.size(); ++i) {
    const JValue& fx = all[i];
    SCOPED_TRACE(fx["file"].str);
    std::string dir = FreshDir("fx" + std::to_string(i));
    std::string messages;
    TExtractResult r = ExtractToFolder(kFixtures + fx["file"].str, dir, messages);
    EXPECT_TRUE(r.CrcOk);
    EXPECT_FALSE(r.Damaged);
    EXPECT_EQ(messages, "");
    const JValue& entries = fx["entries"];
    EXPECT_EQ(size_t(r.NewFiles), entries.size());
    std::string expectedSetup;
    for (size_t e = 0; e < entries.size(); ++e) {
      std::string text = entries[e]["entry_text"].str;
      std::string name = text.substr(1, text.find('|', 1) - 1);
      if (name.find('*') != std::string::npos) {
        expectedSetup = name;
        name.erase(name.find('*'));
      }
      std::string data = Slurp(dir + "/" + name);
      EXPECT_TRUE(Exists(dir + "/" + name)) << name;
      EXPECT_EQ(data.size(), entries[e]["size"].u64()) << name;
      char hex[9];
      std::snprintf(hex, sizeof hex, "%08x", Crc32(data));
      EXPECT_EQ(hex, entries[e]["crc32"].str) << name;
    }
    EXPECT_EQ(r.SetupEntry, expectedSetup);
  }
}

TEST(UnPack, AStaleFileIsExtendedNotReplaced) {
  std::string dir = FreshDir("stale");
  std::string pkg = dir + ".pkg";
  BuildPackage({Entry("|a.txt|0|", "new")}, pkg);
  ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
  Spit(dir + "/a.txt", "old-");
  std::string messages;
  TExtractResult r = ExtractToFolder(pkg, dir, messages);
  EXPECT_TRUE(r.CrcOk);
  EXPECT_EQ(Slurp(dir + "/a.txt"), "old-new");
  EXPECT_EQ(r.NewFiles, 0);
}

TEST(UnPack, DamagedPackagesEndWithoutASetupAndWriteNothingOutside) {
  struct Case {
    const char* name;
    std::vector<std::string> chunks;
    bool patchLength;  // make the first entry's length reach past the end
    bool damaged;
    bool patchMagic = false;  // a right checksum over a file without the package mark
  };
  std::string good = Entry("|Setup.exe*|0|", std::string(5000, 'x'));
  std::string broken = good;
  broken[broken.size() / 2] ^= 0x55;
  std::string cut = good.substr(0, good.size() - 10);
  Case cases[] = {
      {"damaged zlib stream", {broken}, false, true},
      {"stream cut short", {cut}, false, true},
      {"not zlib at all", {std::string("hello world, no zlib here")}, false, true},
      {"chunk length beyond the end", {good}, true, true},
      {"entry without its 0x00", {std::string()}, false, true},
      {"no package mark", {good}, false, true, true},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string dir = FreshDir("dmg");
    std::string pkg = dir + ".pkg";
    if (std::string(c.name) == "entry without its 0x00") {
      std::string raw = "|Setup.exe*|0|";
      uLongf size = compressBound(uLong(raw.size()));
      std::string z(size, '\0');
      compress2(reinterpret_cast<Bytef*>(&z[0]), &size, reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()), 9);
      z.resize(size);
      c.chunks = {z};
    }
    std::string file = BuildPackage(c.chunks, pkg);
    if (c.patchLength || c.patchMagic) {
      // The first entry chunk follows the two sections (4 + 14, 4 + 7 bytes).
      if (c.patchLength) PutU32(reinterpret_cast<uint8_t*>(&file[29]), 0x7FFFFFF0u);
      Spit(pkg, file);
      TPackageHeader h;
      ReadPackageHeader(pkg, h);
      if (c.patchMagic) h.Magic = 0x12345678u;
      h.Crc = GetCrc(pkg, kHeaderBytes);
      uint8_t rec[kHeaderBytes];
      EncodeHeader(h, rec);
      file.replace(file.size() - kHeaderBytes, kHeaderBytes, reinterpret_cast<char*>(rec), kHeaderBytes);
      Spit(pkg, file);
    }
    std::string messages;
    TExtractResult r = ExtractToFolder(pkg, dir, messages);
    EXPECT_EQ(r.Damaged, c.damaged);
    EXPECT_FALSE(r.CrcOk);
    EXPECT_EQ(r.SetupEntry, "");
    EXPECT_NE(r.Problem, "");
  }
}

TEST(UnPack, EntryNamesThatLeaveTheFolderAreRefusedAndNeverStarted) {
  std::string dir = FreshDir("trav");
  std::string pkg = dir + ".pkg";
  ResetExtractWriteFailures();
  BuildPackage({Entry("|..\\evil.exe*|0|", "boom"), Entry("|../evil2.txt|0|", "x"), Entry("|C:evil3|0|", "x"),
                Entry("|ok.txt|0|", "fine")},
               pkg);
  std::string messages;
  TExtractResult r = ExtractToFolder(pkg, dir + "/inner", messages);
  EXPECT_TRUE(r.CrcOk);
  EXPECT_EQ(r.SetupEntry, "");
  EXPECT_EQ(Slurp(dir + "/inner/ok.txt"), "fine");
  EXPECT_FALSE(Exists(dir + "/evil2.txt"));
  EXPECT_FALSE(Exists(dir + "/inner/..\\evil.exe"));
  // Three failures, one message.
  EXPECT_EQ(ExtractWriteFailures(), 3);
  EXPECT_NE(messages.find("Unable to save Extracted File!"), std::string::npos);
  EXPECT_EQ(messages.find('\n'), std::string::npos);
}

TEST(UnPack, AFlippedByteFailsTheChecksumBeforeAnythingIsWritten) {
  std::string dir = FreshDir("flip");
  std::string pkg = dir + ".pkg";
  std::string file = BuildPackage({Entry("|Setup.exe*|0|", "abc")}, pkg);
  file[40] ^= 1;
  Spit(pkg, file);
  std::string messages;
  TExtractResult r = ExtractToFolder(pkg, dir, messages);
  EXPECT_FALSE(r.CrcOk);
  EXPECT_FALSE(r.Damaged);
  EXPECT_FALSE(Exists(dir));
}

TEST(UnPack, AMissingFirstVolumeIsABadPackage) {
  std::string messages;
  TExtractResult r = ExtractToFolder(::testing::TempDir() + "korvan_no_package", FreshDir("none"), messages);
  EXPECT_FALSE(r.CrcOk);
  EXPECT_EQ(r.SetupEntry, "");
}

}  // namespace
