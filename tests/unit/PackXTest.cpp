// The package reader and checksum against packages written by an independent
// implementation of the format, and against hostile files.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "MiniJson.h"
#include "package/PackX.h"
#include "util/Utils.h"

namespace {

const std::string kData = KORVAN_TEST_DATA;
const std::string kFixtures = kData + "/fixtures/";

std::string Hex(const std::string& bytes) {
  static const char d[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string TempFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string path = ::testing::TempDir() + "korvan_" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

JValue Expected() { return LoadJson(kFixtures + "expected.json"); }

TEST(PackFixtures, ReaderAndChecksumAgreeWithTheSecondImplementation) {
  JValue all = Expected();
  ASSERT_EQ(all.size(), 4u);
  for (size_t i = 0; i < all.size(); ++i) {
    const JValue& fx = all[i];
    std::string path = kFixtures + fx["file"].str;
    SCOPED_TRACE(fx["file"].str);
    TGFileInfo info(path);
    const JValue& h = fx["header"];
    EXPECT_EQ(info.Header.SectionCount, h["SectionCount"].u64());
    EXPECT_EQ(info.Header.FilesCount, h["FilesCount"].u64());
    EXPECT_EQ(info.Header.Magic, h["Magic"].u64());
    EXPECT_EQ(info.Header.Crc, h["Crc"].u64());
    EXPECT_EQ(info.Header.HeaderFlags, h["HeaderFlags"].u64());
    EXPECT_EQ(info.Header.InternetMode, h["InternetMode"].u64());
    EXPECT_EQ(info.Header.AskBeforeDownload, h["AskBeforeDownload"].u64());
    EXPECT_EQ(info.Header.CreatesAgent, h["CreatesAgent"].u64());
    EXPECT_EQ(info.Header.IsAgent, h["IsAgent"].u64());
    EXPECT_EQ(info.Header.HeaderSize, h["HeaderSize"].u64());
    for (int c = 0; c < kClusterSizes; ++c) EXPECT_EQ(info.Header.SizeByCluster[c], h["SizeByCluster"][c].u64());

    // After Create, DataOffset points past the sections.
    const JValue& sections = fx["sections_hex"];
    uint64_t past = h["DataOffset"].u64();
    for (size_t s = 0; s < sections.size(); ++s) past += 4 + sections[s].str.size() / 2;
    EXPECT_EQ(info.Header.DataOffset, past);
    EXPECT_EQ(Hex(info.LanguageList), sections[0].str);
    EXPECT_EQ(Hex(info.ProductList), sections[1].str);
    EXPECT_EQ(Hex(info.DownloadList), sections.size() > 2 ? sections[2].str : "");

    EXPECT_EQ(GetCrc(path, int32_t(info.Header.HeaderSize)), fx["GetCrc"].u64());
    TInFile file(path);
    EXPECT_EQ(IsPeFile(file), fx["value_at_252"].u64() != 0);
    EXPECT_EQ(uint64_t(PackageEnd(file)), fx["size"].u64());

    if (fx.has("agent_token_unscrambled")) EXPECT_EQ(info.AgentToken(true), fx["agent_token_unscrambled"].str);
    if (fx.has("download_token_unscrambled"))
      EXPECT_EQ(info.DownloadToken(true), fx["download_token_unscrambled"].str);
  }
}

TEST(PackFixtures, ProductAndDownloadFacts) {
  TGFileInfo local(kFixtures + "local-three-languages.pkg");
  EXPECT_TRUE(local.AnnounceTempDrive());
  EXPECT_FALSE(local.IsInternetMode());
  EXPECT_EQ(local.UpdateUrl(), "http://updates.example.test/fixture");
  EXPECT_EQ(local.SettingsFileName(), "fixture.info");
  EXPECT_EQ(local.OriginalSettingsFileName(), "fixture.original");
  EXPECT_EQ(local.AgentFileName(), "FixtureAgent.exe");
  EXPECT_FALSE(local.IsSilent());
  // Two sections only: every download fact is empty or false.
  EXPECT_EQ(local.DownloadUrl(), "");
  EXPECT_EQ(local.DownloadFileName(), "");
  EXPECT_FALSE(local.AlwaysDownload());

  TGFileInfo net(kFixtures + "internet-mode.pkg");
  EXPECT_TRUE(net.IsInternetMode());
  EXPECT_TRUE(net.IsAskBeforeDownload());
  EXPECT_TRUE(net.IsCreatesAgent());
  EXPECT_TRUE(net.IsSilent());
  EXPECT_EQ(net.DownloadUrl(), "http://downloads.example.test/pub");
  EXPECT_EQ(net.DownloadFileName(), "fixture-setup.exe");
  EXPECT_TRUE(net.AlwaysDownload());
  EXPECT_EQ(net.DownloadSizeText(), "1234567");
  EXPECT_TRUE(net.SameDownloadToken(TGFileInfo(kFixtures + "internet-mode.pkg")));
  EXPECT_FALSE(net.SameDownloadToken(local));
}

TEST(PackLanguages, SectionChoiceFallsBackToEnglishThenDefaults) {
  TGFileInfo local(kFixtures + "local-three-languages.pkg");
  std::string french = FindLanguageSection(local.LanguageList, "FRENCH");
  EXPECT_EQ(ListGetValue(french, "Error", "?"), "Erreur");
  EXPECT_EQ(FindLanguageSection(local.LanguageList, " arabic "), ListGetToken(local.LanguageList, 2, ""));
  EXPECT_EQ(FindLanguageSection(local.LanguageList, "GERMAN"), "*");

  // The host's language is English.
  ResetLanguageChoice();
  EXPECT_EQ(local.LangText("s0", "default"), "Fixture Installation Suite");
  EXPECT_EQ(local.LangText("s9", "default s9"), "default s9");
  EXPECT_EQ(local.Charset(), 0);
  // The choice holds for every reader of the process.
  TGFileInfo other(kFixtures + "internet-mode.pkg");
  EXPECT_EQ(other.LangText("s1", "x"), "Unpacking...");

  // A package with only a French section gives the defaults on an English system.
  ResetLanguageChoice();
  TGFileInfo none(kFixtures + "zlib-level-1.pkg");
  EXPECT_EQ(none.LangText("s0", "Korvan Installation Suite"), "Korvan Installation Suite");
  ResetLanguageChoice();
}

TEST(PackChecksum, SpaceRequiredPicksTheLargestClusterNotAboveTheDrives) {
  TGFileInfo info(kFixtures + "local-three-languages.pkg");
  const uint32_t* t = info.Header.SizeByCluster;
  struct {
    uint32_t cluster;
    int index;
  } rows[] = {{0, 0}, {511, 0}, {512, 1}, {3000, 3}, {4096, 4}, {65536, 8}, {131072, 8}};
  for (auto r : rows) EXPECT_EQ(SpaceRequiredForCluster(info.Header, r.cluster), double(t[r.index])) << r.cluster;
}

// The checksum restated from its closed form: words at S + 4k with 4k + 8 < R0,
// and 1234 for each 4096-byte read after which more than 4 bytes of R0 remain
// (the loop ends on the first short read, which may be empty).
uint32_t ReferenceCrc(const std::vector<uint8_t>& f, int headerSize) {
  bool pe = f.size() >= 258 && f[0] == 'M' && f[1] == 'Z' && f[256] == 'P' && f[257] == 'E';
  int32_t v252 = pe ? int32_t(GetU32(&f[252])) : 0;
  int64_t s = 0, r0 = int64_t(f.size()) - headerSize;
  if (v252 > 0) {
    s = 512;
    r0 = v252 - headerSize - 512;
  }
  int64_t len = int64_t(f.size()) - s;
  if (len < 0) len = 0;
  uint32_t sum = 0;
  for (int64_t k = 0; 4 * k + 4 <= len; ++k) {
    if (4 * k + 8 < r0) sum += GetU32(&f[size_t(s + 4 * k)]);
  }
  int64_t reads = len / 4096 + 1;
  for (int64_t j = 1; j <= reads; ++j) {
    int64_t bytes = std::min<int64_t>(4096 * j, len);
    if (r0 - 4 * (bytes / 4) > 4) sum += 1234;
  }
  return sum;
}

std::vector<uint8_t> Pattern(size_t n, bool pe, int32_t v252) {
  std::vector<uint8_t> f(n);
  for (size_t i = 0; i < n; ++i) f[i] = uint8_t(i * 7 + (i >> 8) * 13 + 1);
  if (pe && n >= 258) {
    f[0] = 'M';
    f[1] = 'Z';
    f[256] = 'P';
    f[257] = 'E';
    PutU32(&f[252], uint32_t(v252));
  }
  return f;
}

TEST(PackChecksum, AgreesWithTheClosedFormOnAwkwardSizes) {
  struct {
    size_t size;
    bool pe;
    int32_t v252;  // -1: the file size
  } rows[] = {
      {4096, false, 0},     {4097, false, 0},   {4099, false, 0},  {8192, false, 0},  {1001, false, 0},
      {75, false, 0},       {3, false, 0},      {0, false, 0},     {4096, true, -1},  {10003, true, -1},
      {12288 + 512, true, -1}, {9000, true, 7000}, {9000, true, 0}, {700, true, 600},  {20000, true, 5000},
  };
  for (auto r : rows) {
    int32_t v = r.v252 < 0 ? int32_t(r.size) : r.v252;
    std::vector<uint8_t> f = Pattern(r.size, r.pe, v);
    std::string path = TempFile("crc.bin", f);
    EXPECT_EQ(GetCrc(path, 74), ReferenceCrc(f, 74)) << "size " << r.size << " pe " << r.pe << " v252 " << v;
  }
  EXPECT_EQ(GetCrc(::testing::TempDir() + "korvan_missing_file", 74), 0u);
}

TEST(PackReader, HostileFilesGiveEmptyResults) {
  std::vector<uint8_t> good = ReadAll(kFixtures + "local-three-languages.pkg");
  // Every truncation of a real package: no crash, no texts from outside it.
  for (size_t n = 0; n < good.size(); n += 37) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + long(n));
    TGFileInfo info(TempFile("cut.pkg", cut));
    EXPECT_LE(info.LanguageList.size() + info.ProductList.size(), n);
    EXPECT_GE(info.Header.SectionCount, 1);
  }
  struct {
    const char* name;
    uint32_t n;  // the stored header size
  } sizes[] = {{"below 4", 3}, {"zero", 0}, {"beyond the file", 1u << 30}, {"negative", 0xFFFFFFF0u}};
  for (auto s : sizes) {
    std::vector<uint8_t> f = Pattern(600, false, 0);
    PutU32(&f[596], s.n);
    TGFileInfo info(TempFile("n.pkg", f));
    EXPECT_NE(info.Header.Magic, kPackageMagic) << s.name;
    EXPECT_EQ(info.Header.SectionCount, 2) << s.name;
    EXPECT_LE(info.Header.HeaderSize, 74u) << s.name;
    EXPECT_TRUE(info.LanguageList.empty()) << s.name;
  }
  // A first section length beyond the end: both sections stay empty.
  std::vector<uint8_t> f = ReadAll(kFixtures + "not-pe.pkg");
  PutU32(&f[301], 0x7FFFFFF0u);
  TGFileInfo info(TempFile("longsec.pkg", f));
  EXPECT_EQ(info.Header.Magic, kPackageMagic);
  EXPECT_TRUE(info.LanguageList.empty());
  EXPECT_TRUE(info.ProductList.empty());
  // A missing file is an empty package.
  TGFileInfo missing(::testing::TempDir() + "korvan_no_such_file");
  EXPECT_EQ(missing.Header.SectionCount, 0);
  EXPECT_EQ(missing.Header.Magic, 0u);
}

TEST(PackReader, SignedStyleFileIsReadAtTheStoredEnd) {
  std::vector<uint8_t> f = ReadAll(kFixtures + "local-three-languages.pkg");
  TGFileInfo plain(kFixtures + "local-three-languages.pkg");
  std::vector<uint8_t> signedFile = f;
  for (int i = 0; i < 3000; ++i) signedFile.push_back(uint8_t(i));  // a "signature" after the package
  std::string path = TempFile("signed.pkg", signedFile);
  TGFileInfo info(path);
  EXPECT_EQ(info.Header.Crc, plain.Header.Crc);
  EXPECT_EQ(info.ProductList, plain.ProductList);
  EXPECT_EQ(GetCrc(path, 74), info.Header.Crc);
}

TEST(PackTokens, DescrambleRejectsShortOrBadTextAndScrambleRoundTrips) {
  auto isNumberText = [](const std::string& s) {
    if (s.empty() || s.size() > 5) return false;
    for (char c : s)
      if (c < '0' || c > '9') return false;
    return true;
  };
  EXPECT_TRUE(isNumberText(Descramble("")));
  EXPECT_TRUE(isNumberText(Descramble("bbbbbbbb")));  // 8 characters: 4 bytes
  std::string good = Scramble("fixture-agent-token", 7);
  std::string bad = good;
  bad[bad.size() - 3] = bad[bad.size() - 3] == 'b' ? 'c' : 'b';  // the sum byte
  EXPECT_TRUE(isNumberText(Descramble(bad)));
  const char* tokens[] = {"a", "fixture-agent-token", "0123456789012345678901234567890123456789", "x y|z"};
  for (const char* t : tokens) {
    for (uint32_t seed : {0u, 1u, 99u}) {
      std::string s = Scramble(t, seed);
      EXPECT_EQ(Descramble(s), t) << t << " seed " << seed;
      EXPECT_EQ(s, Scramble(t, seed));
      EXPECT_EQ(s.find('|'), std::string::npos);
    }
  }
}

TEST(PackVolumes, VolumeNamesAreZeroPadded) {
  EXPECT_EQ(VolumeFileName("C:\\x\\setup.exe", 2), "C:\\x\\setup.exe.002");
  EXPECT_EQ(VolumeFileName("setup.exe", 1234), "setup.exe.1234");
}

}  // namespace

namespace {

TEST(PackNames, OnlyPlainNamesMayBeWritten) {
  struct {
    const char* name;
    bool plain;
  } rows[] = {
      {"Setup.exe", true},   {"a..b.txt", true},     {".hidden", true},       {"COM10.txt", true},
      {"", false},           {".", false},           {"..", false},           {"..\\x.dll", false},
      {"sub\\a.txt", false}, {"sub/a.txt", false},   {"C:evil.exe", false},   {"a*b", false},
      {"con", false},        {"NUL.txt", false},     {"com1", false},         {"Lpt9.log", false},
      {"a\tb", false},       {"x|y", false},
  };
  for (auto r : rows) EXPECT_EQ(IsPlainEntryName(r.name), r.plain) << r.name;
}

}  // namespace
