// Spanned packages: the file entries spread over volumes of at most a given
// size. The first volume is the stub with its sections; every later volume
// (PATH.002, PATH.003, ...) holds only file entries and its own header. A
// file that does not fit in the room left is cut: the part that fits closes
// its entry, and the rest continues in the next volume as an entry of the
// same name, which the extractor appends to the file.
//
// Each entry is one zlib stream at the best level, fed in pieces that are
// sync-flushed, so that what a piece can cost is known before it is fed and
// an entry is closed before it would pass the volume's end.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PackDeflate.h"
#include "PackOs.h"

// Worst case of a chunk holding the first N inflated bytes of an entry,
// length field included.
uint64_t SpanChunkBound(uint64_t inflatedBytes);

// The smallest volume size that holds First bytes before the entries, the
// 74-byte header and the start of every entry (its text and one byte).
uint64_t SmallestVolumeSize(uint64_t firstVolumeFixed, const std::vector<TEntrySource>& entries);

struct TSpanVolume {
  std::unique_ptr<TOutFile> File;  // null for the first: the caller's
  int64_t DataOffset = 0;          // first entry of a later volume
  int Entries = 0;
};

// Writes the entries into First (which holds the stub and the sections) and
// further volumes beside Target as needed, each kept within VolumeSize
// bytes with room for its header. Volumes[0] stands for First. The headers
// are the caller's to write. Packed hears of the inflated bytes written and
// of each entry completed (may be empty).
bool WriteSpannedEntries(const std::vector<TEntrySource>& entries, uint64_t volumeSize, TOutFile& first,
                         const std::string& target, uint32_t mode, std::vector<TSpanVolume>& volumes,
                         const std::function<void(uint64_t bytes, bool entryDone)>& packed, std::string& error);
