// Parallel compression of file entries into zlib streams at the best level.
//
// An entry's inflated bytes are its entry text, a zero byte and the file.
// They are cut into blocks of kDeflateBlock bytes; each block is deflated on
// its own, primed with the 32 KB before it as a dictionary and closed with a
// sync flush, so the blocks join into one ordinary zlib stream (header 78 DA,
// Adler-32 trailer) that any inflater reads. Block boundaries depend only on
// the input, never on the number of workers, so the output is the same
// whatever the machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

const size_t kDeflateBlock = 128 * 1024;
const size_t kDeflateWindow = 32 * 1024;

struct TEntrySource {
  std::string Prefix;    // entry text + 0x00
  std::string Path;      // the file to read
  uint64_t FileSize = 0; // as found before packing; a change is an error
};

// Receives each entry's stream in order: Begin, Data pieces, End with the
// stream's length. Returning false stops the work.
struct TEntryWriter {
  std::function<bool(size_t entry)> Begin;
  std::function<bool(size_t entry, const uint8_t* data, size_t len)> Data;
  std::function<bool(size_t entry, uint64_t packedSize)> End;
  // Optional: Len more inflated bytes of the entry are written (Last: its
  // final piece), for the progress display.
  std::function<void(size_t entry, uint64_t len, bool last)> Consumed;
};

// Workers: compressing threads (at least 1). False with Error set when a file
// cannot be read, changed while packing, or the writer said no.
bool CompressEntries(const std::vector<TEntrySource>& entries, unsigned workers, const TEntryWriter& writer,
                     std::string& error);
