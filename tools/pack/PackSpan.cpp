#include "PackSpan.h"

#include <zlib.h>

#include <cstring>

#include "package/PackIO.h"
#include "package/PackX.h"

namespace {

const size_t kSpanPiece = 64 * 1024;
// Z_FINISH after a sync flush: an empty final block and the Adler-32.
const uint64_t kFinishReserve = 16;
const uint64_t kZlibHead = 2;
// A later volume may need one byte before its first entry (see PackBuild).
const uint64_t kLaterVolumeLead = 1;

// The most that feeding N bytes and sync-flushing can add to a stream: the
// stored-block size zlib itself falls back to, one block header per 16 KB
// of symbols, and the flush marker.
uint64_t StepBound(uint64_t n) { return n + (n >> 12) + (n >> 14) + (n >> 25) + 13 + 5 * (n / 16383 + 1) + 5; }

bool Fail(std::string& error, const std::string& text) {
  error = text;
  return false;
}

}  // namespace

uint64_t SpanChunkBound(uint64_t inflatedBytes) { return 4 + kZlibHead + StepBound(inflatedBytes) + kFinishReserve; }

uint64_t SmallestVolumeSize(uint64_t firstVolumeFixed, const std::vector<TEntrySource>& entries) {
  uint64_t need = firstVolumeFixed + kHeaderBytes;
  if (entries.empty()) return need;
  auto start = [](const TEntrySource& e) { return SpanChunkBound(e.Prefix.size() + (e.FileSize > 0 ? 1 : 0)); };
  need += start(entries[0]);
  for (const TEntrySource& e : entries) {
    uint64_t later = kHeaderBytes + kLaterVolumeLead + start(e);
    if (later > need) need = later;
  }
  return need;
}

bool WriteSpannedEntries(const std::vector<TEntrySource>& entries, uint64_t volumeSize, TOutFile& first,
                         const std::string& target, uint32_t mode, std::vector<TSpanVolume>& volumes,
                         const std::function<void(uint64_t bytes, bool entryDone)>& packed, std::string& error) {
  volumes.clear();
  volumes.emplace_back();
  TOutFile* out = &first;
  auto room = [&]() {
    int64_t lead = volumes.size() > 1 ? int64_t(kLaterVolumeLead) : 0;
    return int64_t(volumeSize) - kHeaderBytes - lead - out->Size();
  };
  auto writeFailed = [&]() {
    return Fail(error, "cannot write " + out->Target() + ": " +
                           (out->WriteError().empty() ? "deflate failed" : out->WriteError()));
  };

  std::vector<uint8_t> in, buffer;
  for (const TEntrySource& e : entries) {
    TInFile file(e.Path);
    if (e.FileSize > 0 && !file.IsOpen()) return Fail(error, e.Path + ": cannot be read");
    uint64_t done = 0;  // file bytes packed so far
    do {
      uint64_t startBytes = e.Prefix.size() + (e.FileSize > done ? 1 : 0);
      if (room() < int64_t(SpanChunkBound(startBytes))) {
        // Every volume starts with an entry: the extractor reads its first
        // chunk whatever is left.
        if (volumes.back().Entries == 0) return Fail(error, "the volume size is too small for " + e.Path);
        TSpanVolume next;
        next.File.reset(new TOutFile);
        if (!next.File->Create(VolumeFileName(target, int(volumes.size()) + 1), mode, error)) return false;
        out = next.File.get();
        volumes.push_back(std::move(next));
        if (room() < int64_t(SpanChunkBound(startBytes)))
          return Fail(error, "the volume size is too small for " + e.Path);
      }
      const int64_t lengthAt = out->Size();
      const uint64_t budget = uint64_t(room()) - 4;  // stream bytes this chunk may take
      uint8_t zero[4] = {};
      if (!out->Append(zero, 4)) return writeFailed();

      z_stream zs;
      std::memset(&zs, 0, sizeof zs);
      if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return Fail(error, "deflate cannot start");
      uint64_t produced = 0;
      bool started = false;
      bool ok = true;
      auto emit = [&](int flush) {
        do {
          zs.next_out = buffer.data();
          zs.avail_out = uInt(buffer.size());
          int rc = deflate(&zs, flush);
          if (rc == Z_STREAM_ERROR) return false;
          size_t n = buffer.size() - zs.avail_out;
          if (n && !out->Append(buffer.data(), n)) return false;
          produced += n;
        } while (zs.avail_out == 0);
        return true;
      };
      for (;;) {
        uint64_t left = e.FileSize - done;
        size_t head = started ? 0 : e.Prefix.size();
        uint64_t fixed = produced + (started ? 0 : kZlibHead) + kFinishReserve;
        size_t piece = left < kSpanPiece ? size_t(left) : kSpanPiece;
        while (piece > 0 && fixed + StepBound(head + piece) > budget) piece /= 2;
        // The text goes with the first byte; later steps stop when nothing fits.
        if (started && piece == 0) break;
        in.resize(head + piece);
        if (head) std::memcpy(in.data(), e.Prefix.data(), head);
        if (piece && file.ReadAt(int64_t(done), in.data() + head, piece) != piece) {
          deflateEnd(&zs);
          return Fail(error, e.Path + ": changed while packing (shorter than " + std::to_string(e.FileSize) +
                                 " bytes)");
        }
        buffer.resize(size_t(StepBound(in.size())) + 64);
        zs.next_in = in.data();
        zs.avail_in = uInt(in.size());
        if (!emit(Z_SYNC_FLUSH)) {
          ok = false;
          break;
        }
        done += piece;
        started = true;
        if (packed) packed(head + piece, false);
        if (done == e.FileSize) break;
      }
      if (ok) {
        zs.next_in = nullptr;
        zs.avail_in = 0;
        buffer.resize(64);
        ok = emit(Z_FINISH);
      }
      deflateEnd(&zs);
      if (!ok) return writeFailed();
      // The bounds above are worst cases; should they ever be wrong, the
      // build stops instead of writing a volume past its size.
      if (produced > budget) return Fail(error, e.Path + ": its compressed part does not fit the volume");
      uint8_t len[4];
      PutU32(len, uint32_t(produced));
      if (!out->WriteAt(lengthAt, len, 4)) return writeFailed();
      ++volumes.back().Entries;
    } while (done < e.FileSize);
    if (packed) packed(0, true);
    uint8_t extra;
    if (e.FileSize > 0 && file.ReadAt(int64_t(e.FileSize), &extra, 1) == 1)
      return Fail(error, e.Path + ": changed while packing (longer than " + std::to_string(e.FileSize) + " bytes)");
    if (e.FileSize == 0) {
      TInFile again(e.Path);
      if (again.IsOpen() && again.ReadAt(0, &extra, 1) == 1)
        return Fail(error, e.Path + ": changed while packing (longer than 0 bytes)");
    }
  }
  return true;
}
