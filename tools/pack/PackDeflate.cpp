#include "PackDeflate.h"

#include <zlib.h>

#include <cstring>

#include "PackOs.h"
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
  struct TShared {
    const std::vector<TEntrySource>* entries;
    const std::vector<TJob>* jobs;
    std::vector<TBlock> blocks;
    TMonitor monitor;
    size_t window = 0, next = 0, written = 0;
    bool stop = false;
  } shared;
  shared.entries = &entries;
  shared.jobs = &jobs;
  shared.blocks.resize(jobs.size());
  shared.window = 4 * size_t(workers) + 4;

  auto work = [](void* context) {
    TShared& sh = *static_cast<TShared*>(context);
    for (;;) {
      size_t j;
      {
        TMonitorLock lock(sh.monitor);
        while (!(sh.stop || sh.next >= sh.jobs->size() || sh.next < sh.written + sh.window)) sh.monitor.Wait();
        if (sh.stop || sh.next >= sh.jobs->size()) return;
        j = sh.next++;
      }
      TBlock block;
      RunJob((*sh.entries)[(*sh.jobs)[j].entry], (*sh.jobs)[j], block);
      {
        TMonitorLock lock(sh.monitor);
        block.done = true;
        sh.blocks[j] = std::move(block);
      }
      sh.monitor.NotifyAll();
    }
  };
  TThreadGroup threads;
  for (unsigned i = 0; i < workers; ++i) {
    if (!threads.Start(work, &shared)) {
      if (i == 0) {
        error = "cannot start a compressing thread";
        return false;
      }
      break;
    }
  }

  bool ok = true;
  uint32_t adler = 1;
  uint64_t packed = 0;
  for (size_t j = 0; j < jobs.size() && ok; ++j) {
    TBlock block;
    {
      TMonitorLock lock(shared.monitor);
      while (!shared.blocks[j].done) shared.monitor.Wait();
      block = std::move(shared.blocks[j]);
      shared.blocks[j] = TBlock();
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
    if (ok && writer.Consumed) writer.Consumed(job.entry, job.len, job.last);
    if (!ok && error.empty()) error = "cannot write the package";
    {
      TMonitorLock lock(shared.monitor);
      shared.written = j + 1;
    }
    shared.monitor.NotifyAll();
  }
  {
    TMonitorLock lock(shared.monitor);
    shared.stop = true;
  }
  shared.monitor.NotifyAll();
  threads.Join();
  return ok;
}
