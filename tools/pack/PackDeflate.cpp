#include "PackDeflate.h"

#include <zlib.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "package/PackIO.h"

namespace {

struct TJob {
  size_t entry;
  uint64_t start;  // in the entry's inflated bytes
  size_t len;
  bool first;
  bool last;
};

struct TBlock {
  bool done = false;
  std::string error;  // set when the block failed
  std::vector<uint8_t> out;
  uint32_t adler = 1;
};

// Bytes [from, from + len) of an entry's inflated bytes: the prefix, then
// the file.
bool ReadRange(const TEntrySource& src, const TInFile& file, uint64_t from, size_t len, uint8_t* dest) {
  const uint64_t prefix = src.Prefix.size();
  while (len > 0 && from < prefix) {
    *dest++ = uint8_t(src.Prefix[size_t(from)]);
    ++from;
    --len;
  }
  if (len == 0) return true;
  return file.ReadAt(int64_t(from - prefix), dest, len) == len;
}

void RunJob(const TEntrySource& src, const TJob& job, TBlock& block) {
  TInFile file(src.Path);
  if (src.FileSize > 0 && !file.IsOpen()) {
    block.error = src.Path + ": cannot be read";
    return;
  }
  size_t dict = job.start < kDeflateWindow ? size_t(job.start) : kDeflateWindow;
  std::vector<uint8_t> in(dict + job.len);
  if (!ReadRange(src, file, job.start - dict, in.size(), in.data())) {
    block.error = src.Path + ": changed while packing (shorter than " + std::to_string(src.FileSize) + " bytes)";
    return;
  }
  if (job.last && src.FileSize > 0) {
    uint8_t extra;
    if (file.ReadAt(int64_t(src.FileSize), &extra, 1) == 1) {
      block.error = src.Path + ": changed while packing (longer than " + std::to_string(src.FileSize) + " bytes)";
      return;
    }
  }
  const uint8_t* data = in.data() + dict;
  block.adler = uint32_t(adler32(1, data, uInt(job.len)));

  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  // Raw deflate: the zlib header and trailer are written around the blocks.
  if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    block.error = "deflate cannot start";
    return;
  }
  if (dict) deflateSetDictionary(&zs, in.data(), uInt(dict));
  std::vector<uint8_t>& out = block.out;
  size_t head = job.first ? 2 : 0;
  out.resize(head + deflateBound(&zs, uLong(job.len)) + 64);
  if (job.first) {
    out[0] = 0x78;  // 32 KB window, deflate
    out[1] = 0xDA;  // best compression, no dictionary
  }
  zs.next_in = const_cast<Bytef*>(data);
  zs.avail_in = uInt(job.len);
  const int flush = job.last ? Z_FINISH : Z_SYNC_FLUSH;
  for (;;) {
    if (head + zs.total_out == out.size()) out.resize(out.size() * 2);
    zs.next_out = out.data() + head + zs.total_out;
    zs.avail_out = uInt(out.size() - head - zs.total_out);
    int rc = deflate(&zs, flush);
    if (rc == Z_STREAM_ERROR) {
      block.error = "deflate failed";
      break;
    }
    if (job.last ? rc == Z_STREAM_END : (zs.avail_in == 0 && zs.avail_out > 0)) break;
  }
  out.resize(head + zs.total_out);
  deflateEnd(&zs);
}

}  // namespace

bool CompressEntries(const std::vector<TEntrySource>& entries, unsigned workers, const TEntryWriter& writer,
                     std::string& error) {
  std::vector<TJob> jobs;
  for (size_t e = 0; e < entries.size(); ++e) {
    uint64_t total = entries[e].Prefix.size() + entries[e].FileSize;
    uint64_t start = 0;
    do {
      size_t len = size_t(total - start < kDeflateBlock ? total - start : kDeflateBlock);
      jobs.push_back(TJob{e, start, len, start == 0, start + len == total});
      start += len;
    } while (start < total);
  }
  if (workers < 1) workers = 1;
  if (workers > jobs.size()) workers = unsigned(jobs.size() ? jobs.size() : 1);

  // Workers run at most Window blocks ahead of the writer, so memory stays
  // bounded however large the files are.
  const size_t window = 4 * size_t(workers) + 4;
  std::vector<TBlock> blocks(jobs.size());
  std::mutex mutex;
  std::condition_variable changed;
  size_t next = 0, written = 0;
  bool stop = false;

  auto work = [&]() {
    for (;;) {
      size_t j;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return stop || next >= jobs.size() || next < written + window; });
        if (stop || next >= jobs.size()) return;
        j = next++;
      }
      TBlock block;
      RunJob(entries[jobs[j].entry], jobs[j], block);
      {
        std::lock_guard<std::mutex> lock(mutex);
        block.done = true;
        blocks[j] = std::move(block);
      }
      changed.notify_all();
    }
  };
  std::vector<std::thread> threads;
  for (unsigned i = 0; i < workers; ++i) threads.emplace_back(work);

  bool ok = true;
  uint32_t adler = 1;
  uint64_t packed = 0;
  for (size_t j = 0; j < jobs.size() && ok; ++j) {
    TBlock block;
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return blocks[j].done; });
      block = std::move(blocks[j]);
      blocks[j] = TBlock();
    }
    const TJob& job = jobs[j];
    if (!block.error.empty()) {
      error = block.error;
      ok = false;
      break;
    }
    if (job.first) {
      adler = 1;
      packed = 0;
      if (writer.Begin && !writer.Begin(job.entry)) ok = false;
    }
    adler = uint32_t(adler32_combine(adler, block.adler, z_off_t(job.len)));
    if (ok && !block.out.empty() && !writer.Data(job.entry, block.out.data(), block.out.size())) ok = false;
    packed += block.out.size();
    if (ok && job.last) {
      uint8_t trailer[4] = {uint8_t(adler >> 24), uint8_t(adler >> 16), uint8_t(adler >> 8), uint8_t(adler)};
      if (!writer.Data(job.entry, trailer, 4)) ok = false;
      packed += 4;
      if (ok && writer.End && !writer.End(job.entry, packed)) ok = false;
    }
    if (!ok && error.empty()) error = "cannot write the package";
    {
      std::lock_guard<std::mutex> lock(mutex);
      written = j + 1;
    }
    changed.notify_all();
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    stop = true;
  }
  changed.notify_all();
  for (auto& t : threads) t.join();
  return ok;
}
