// The chunk walker against the fixtures of an independent implementation and
// against hostile volumes: lengths that reach outside the package, short
// reads, entries without a text, volumes that carry no sections.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "MiniJson.h"
#include "PackTestKit.h"
#include "package/PackWalk.h"
#include "package/PackX.h"
#include "package/ZLibOpen.h"

namespace {

using namespace packkit;

const std::string kFixtures = std::string(KORVAN_TEST_DATA) + "/fixtures/";

std::string Deflate(const std::string& in) {
  uLongf len = compressBound(uLong(in.size()));
  std::string out(len, '\0');
  compress2(reinterpret_cast<Bytef*>(&out[0]), &len, reinterpret_cast<const Bytef*>(in.data()), uLong(in.size()), 9);
  out.resize(len);
  return out;
}

std::string Chunk(const std::string& body) {
  std::string c(4, '\0');
  PutU32(reinterpret_cast<uint8_t*>(&c[0]), uint32_t(body.size()));
  return c + body;
}

std::string Entry(const std::string& text, const std::string& bytes) { return Chunk(Deflate(text + '\0' + bytes)); }

// A package after a fake stub: the chunks, then the header; the end stored at 252.
std::string Package(const std::string& chunks, int sectionCount = 2, uint8_t flags = 0) {
  std::string f = FakeStub(1024);
  TPackageHeader h = {};
  h.Format = 1;
  h.SectionCount = uint8_t(sectionCount);
  h.DataOffset = uint32_t(f.size());
  h.Magic = kPackageMagic;
  h.HeaderFlags = flags;
  h.HeaderSize = kHeaderBytes;
  f += chunks;
  uint8_t record[kHeaderBytes];
  EncodeHeader(h, record);
  f.append(reinterpret_cast<char*>(record), kHeaderBytes);
  PutU32(reinterpret_cast<uint8_t*>(&f[kPackageEndOffset]), uint32_t(f.size()));
  return f;
}

struct Seen {
  std::vector<std::string> sections;
  std::vector<TWalkEntry> entries;
  std::vector<std::string> bytes;
  size_t largestPiece = 0;
  int stopAtEntry = -1;
};

TWalkHandlers Handlers(Seen& s) {
  TWalkHandlers h;
  h.Context = &s;
  h.Section = [](void* c, int, const std::string& t) {
    static_cast<Seen*>(c)->sections.push_back(t);
    return true;
  };
  h.EntryBegin = [](void* c, const TWalkEntry& e) {
    Seen& s = *static_cast<Seen*>(c);
    s.entries.push_back(e);
    s.bytes.push_back("");
    return int(s.entries.size()) - 1 != s.stopAtEntry;
  };
  h.EntryData = [](void* c, const TWalkEntry&, const uint8_t* d, size_t n) {
    Seen& s = *static_cast<Seen*>(c);
    s.bytes.back().append(reinterpret_cast<const char*>(d), n);
    if (n > s.largestPiece) s.largestPiece = n;
    return true;
  };
  h.EntryEnd = [](void* c, const TWalkEntry& e) {
    static_cast<Seen*>(c)->entries.back() = e;
    return true;
  };
  return h;
}

std::string Crc32Hex(const std::string& b) {
  char t[16];
  std::snprintf(t, sizeof t, "%08lx", crc32(0, reinterpret_cast<const Bytef*>(b.data()), uInt(b.size())));
  return t;
}

TEST(PackWalk, ReadsTheFixturesOfTheSecondImplementation) {
  JValue all = LoadJson(kFixtures + "expected.json");
  for (size_t i = 0; i < all.size(); ++i) {
    const JValue& fx = all[i];
    SCOPED_TRACE(fx["file"].str);
    std::string path = kFixtures + fx["file"].str;
    Seen s;
    TWalkResult r = WalkVolume(path, 0, Handlers(s));
    ASSERT_TRUE(r.Ok()) << r.Error;
    EXPECT_EQ(r.LeftBeforeEnd(), 74);
    EXPECT_EQ(s.sections.size(), fx["sections_hex"].size());
    EXPECT_EQ(uint64_t(r.SectionsEnd), TGFileInfo(path).Header.DataOffset);
    const JValue& entries = fx["entries"];
    ASSERT_EQ(s.entries.size(), entries.size());
    for (size_t e = 0; e < entries.size(); ++e) {
      EXPECT_EQ(s.entries[e].Text, entries[e]["entry_text"].str);
      EXPECT_EQ(s.entries[e].Size, entries[e]["size"].u64());
      EXPECT_EQ(s.bytes[e].size(), entries[e]["size"].u64());
      EXPECT_EQ(Crc32Hex(s.bytes[e]), entries[e]["crc32"].str);
    }
  }
  Seen s;
  TWalkResult r = WalkVolume(kFixtures + "local-three-languages.pkg", 0, Handlers(s));
  ASSERT_EQ(s.entries.size(), 4u);
  EXPECT_TRUE(s.entries[0].IsSetup);
  EXPECT_EQ(s.entries[0].Name, "Setup.exe");
  EXPECT_EQ(s.entries[0].NameToken, "Setup.exe*-s /quiet");
  EXPECT_EQ(s.entries[0].SetupArgs, "-s /quiet");
  EXPECT_EQ(s.entries[0].DosTime, 1382295748u);
  EXPECT_FALSE(s.entries[1].IsSetup);
  EXPECT_EQ(r.Entries, 4);
}

TEST(PackWalk, EntryTextsParseIntoNameSetupMarkAndTime) {
  struct {
    const char* text;
    const char* name;
    bool setup;
    const char* args;
    uint32_t time;
  } rows[] = {
      {"|Setup.exe*|123|", "Setup.exe", true, "", 123},
      {"|Setup.exe*-s /x|0|", "Setup.exe", true, "-s /x", 0},
      {"|a.txt|4294967295|", "a.txt", false, "", 4294967295u},
      {"|a.txt|-5|", "a.txt", false, "", 0},
      {"|a.txt|12x|", "a.txt", false, "", 0},
      {"|a.txt|", "a.txt", false, "", 0},
  };
  for (auto& r : rows) {
    TWalkEntry e;
    ParseEntryText(r.text, e);
    EXPECT_EQ(e.Name, r.name) << r.text;
    EXPECT_EQ(e.IsSetup, r.setup) << r.text;
    EXPECT_EQ(e.SetupArgs, r.args) << r.text;
    EXPECT_EQ(e.DosTime, r.time) << r.text;
  }
}

// Reads that never exceed a piece, and a switch to cut every read short.
struct CountingApi {
  static size_t largestRead;
  static int64_t cutFrom;  // reads at or after this offset, up to the header, return nothing
  static int64_t cutTo;
  static size_t ReadAt(void* h, int64_t pos, void* buf, size_t len) {
    if (len > largestRead) largestRead = len;
    if (cutFrom >= 0 && pos < cutTo && pos + int64_t(len) > cutFrom) {
      if (pos >= cutFrom) return 0;
      len = size_t(cutFrom - pos);
    }
    return PlatformFileApi().ReadAt(h, pos, buf, len);
  }
  static TFileApi Make() {
    TFileApi api = PlatformFileApi();
    api.ReadAt = ReadAt;
    return api;
  }
};
size_t CountingApi::largestRead = 0;
int64_t CountingApi::cutFrom = -1;
int64_t CountingApi::cutTo = 0;

TEST(PackWalk, LengthsReachingOutsideThePackageFailBeforeAnyRead) {
  std::string dir = ScratchDir();
  std::string sections = Chunk("\x02\x01English\x01\x02") + Chunk("|||||0|");
  std::string good = Package(sections + Entry("|a.txt|0|", std::string(200000, 'a')) + Entry("|b.txt|0|", "b"));
  const size_t firstEntry = 1024 + sections.size();

  struct {
    const char* what;
    size_t at;          // where the u32 goes
    uint32_t value;
    TWalkStatus status;
  } rows[] = {
      {"section length past the end", 1024, 0x7FFFFFF0u, wsBadLayout},
      {"entry length past the end", firstEntry, 0xFFFFFFFFu, wsBadLayout},
      {"entry length one beyond the end", firstEntry, uint32_t(good.size() - firstEntry - 4 + 1), wsBadLayout},
      // The header is looked for at the stored end, so there is none.
      {"package end past the file", kPackageEndOffset, uint32_t(good.size() + 1000), wsNoPackage},
      {"DataOffset past the end", good.size() - 74 + 4, uint32_t(good.size() + 5), wsBadLayout},
      {"magic gone", good.size() - 74 + 12, 0x12345678u, wsNoPackage},
  };
  TFileApi api = CountingApi::Make();
  SetFileApi(&api);
  for (auto& r : rows) {
    std::string f = good;
    PutU32(reinterpret_cast<uint8_t*>(&f[r.at]), r.value);
    std::string path = dir + "/hostile.pkg";
    WriteBytes(path, f);
    CountingApi::largestRead = 0;
    Seen s;
    TWalkResult res = WalkVolume(path, 0, Handlers(s));
    EXPECT_EQ(res.Status, r.status) << r.what << ": " << res.Error;
    EXPECT_FALSE(res.Error.empty()) << r.what;
    EXPECT_LE(CountingApi::largestRead, kWalkReadPiece) << r.what;
    EXPECT_TRUE(s.bytes.empty() || s.bytes[0].size() == 200000) << r.what;
  }
  // The good one reads in pieces too, and hands file bytes on in pieces.
  WriteBytes(dir + "/good.pkg", good);
  CountingApi::largestRead = 0;
  Seen s;
  TWalkResult res = WalkVolume(dir + "/good.pkg", 0, Handlers(s));
  EXPECT_TRUE(res.Ok()) << res.Error;
  EXPECT_LE(CountingApi::largestRead, kWalkReadPiece);
  EXPECT_LE(s.largestPiece, kInflatePiece);
  ASSERT_EQ(s.bytes.size(), 2u);
  EXPECT_EQ(s.bytes[0], std::string(200000, 'a'));

  // A file that stops answering inside an entry.
  CountingApi::cutFrom = int64_t(firstEntry + 10);
  CountingApi::cutTo = int64_t(good.size() - kHeaderBytes);
  Seen cut;
  res = WalkVolume(dir + "/good.pkg", 0, Handlers(cut));
  CountingApi::cutFrom = -1;
  EXPECT_EQ(res.Status, wsReadFailed) << res.Error;
  EXPECT_EQ(res.ErrorEntry, 0);
  SetFileApi(nullptr);

  WriteBytes(dir + "/empty.bin", "");
  EXPECT_EQ(WalkVolume(dir + "/empty.bin", 0, TWalkHandlers()).Status, wsNoPackage);
  EXPECT_EQ(WalkVolume(dir + "/missing.bin", 0, TWalkHandlers()).Status, wsNoFile);
}

TEST(PackWalk, DamagedEntriesNameTheEntryAndEmptyTextsAreSkipped) {
  std::string dir = ScratchDir();
  std::string sections = Chunk("") + Chunk("|||||0|");
  std::string noZero = Chunk(Deflate("|a.txt|0|without a zero byte"));
  std::string longText = Chunk(Deflate(std::string(kMaxEntryText + 10, 'n') + '\0' + "x"));
  std::string stored = Entry("|ok.txt|0|", "fine");
  std::string damaged = Entry("|bad.txt|0|", std::string(5000, 'q'));
  damaged[damaged.size() - 2] ^= 0x55;  // inside the Adler-32
  struct {
    const char* what;
    std::string chunks;
    TWalkStatus status;
    const char* message;
    int entry;
  } rows[] = {
      {"no zero byte", noZero, wsBadEntry, "no end of the entry text", 0},
      {"endless entry text", longText, wsBadEntry, "no end of the entry text", 0},
      {"damaged stream", stored + damaged, wsBadEntry, "\"bad.txt\": inflate failed", 1},
      {"not zlib at all", stored + Chunk("plain bytes"), wsBadEntry, "entry 2 at offset", 1},
  };
  for (auto& r : rows) {
    WriteBytes(dir + "/p.pkg", Package(sections + r.chunks));
    Seen s;
    TWalkResult res = WalkVolume(dir + "/p.pkg", 0, Handlers(s));
    EXPECT_EQ(res.Status, r.status) << r.what;
    EXPECT_NE(res.Error.find(r.message), std::string::npos) << r.what << ": " << res.Error;
    EXPECT_EQ(res.ErrorEntry, r.entry) << r.what;
  }
  // An empty entry text: inflated, counted as skipped, not reported.
  WriteBytes(dir + "/skip.pkg", Package(sections + Entry("", "ignored") + stored));
  Seen s;
  TWalkResult res = WalkVolume(dir + "/skip.pkg", 0, Handlers(s));
  EXPECT_TRUE(res.Ok()) << res.Error;
  EXPECT_EQ(res.SkippedEntries, 1);
  ASSERT_EQ(s.entries.size(), 1u);
  EXPECT_EQ(s.entries[0].Name, "ok.txt");
  EXPECT_EQ(s.entries[0].Index, 1);
}

TEST(PackWalk, LaterVolumesCarryNoSectionsAndHandlersCanStop) {
  std::string dir = ScratchDir();
  // A second volume: its DataOffset points at a file entry.
  WriteBytes(dir + "/v2.pkg", Package(Entry("|tail.bin|0|", "rest") + Entry("|more.bin|0|", "x"), 2, 0));
  Seen s;
  TWalkResult res = WalkVolume(dir + "/v2.pkg", 2, Handlers(s));
  EXPECT_TRUE(res.Ok()) << res.Error;
  EXPECT_TRUE(s.sections.empty());
  ASSERT_EQ(s.entries.size(), 2u);
  EXPECT_EQ(s.bytes[0], "rest");
  EXPECT_EQ(res.Chunks, 4);
  EXPECT_EQ(res.SectionsEnd, 0);

  // Three sections: the third chunk is the download list, not an entry.
  std::string three = Chunk("") + Chunk("|||||0|") + Chunk("|http://x|f.exe|1||5|") + Entry("|a|0|", "1");
  WriteBytes(dir + "/three.pkg", Package(three, 3));
  Seen t;
  res = WalkVolume(dir + "/three.pkg", 0, Handlers(t));
  EXPECT_TRUE(res.Ok()) << res.Error;
  ASSERT_EQ(t.sections.size(), 3u);
  EXPECT_EQ(t.sections[2], "|http://x|f.exe|1||5|");
  EXPECT_EQ(t.entries.size(), 1u);

  Seen stop;
  stop.stopAtEntry = 0;
  res = WalkVolume(dir + "/v2.pkg", 2, Handlers(stop));
  EXPECT_EQ(res.Status, wsStopped);
  EXPECT_EQ(stop.entries.size(), 1u);
}

}  // namespace
