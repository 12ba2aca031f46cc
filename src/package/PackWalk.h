// PackWalk: walks the chunks of one package volume: the header, then the
// length-prefixed chunks from DataOffset while more than 74 bytes remain
// before the package end. The first SectionCount chunks of the package are
// text sections; every later chunk is a file entry, inflated as it is read.
//
// The file is hostile until proven otherwise: every length is checked against
// what remains before the package end before anything is allocated or read,
// chunks are read in pieces of 64 KB and inflated output is handed on in
// pieces, so memory stays bounded whatever a length or an entry claims.
// korvan-pack's verify and the stub's extractor both walk with this.
#ifndef KORVAN_PACKAGE_PACKWALK_H
#define KORVAN_PACKAGE_PACKWALK_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "package/PackX.h"

const size_t kWalkReadPiece = 65536;
// An entry text is a name, a time and the setup's arguments; more than this
// before the first zero byte is a damaged entry.
const size_t kMaxEntryText = 32768;

// One file entry. Text fields are known at EntryBegin; Size grows with every
// EntryData and is final at EntryEnd.
struct TWalkEntry {
  int Index = 0;            // file entries of this walk, from 0
  int64_t ChunkPos = 0;     // offset of the chunk's length field
  uint32_t PackedSize = 0;  // the chunk length
  std::string Text;         // entry text, before the first 0x00
  std::string NameToken;    // token 0 as stored: "Setup.exe*-s /x"
  std::string Name;         // token 0 cut before its first "*"
  bool IsSetup = false;     // token 0 carries a "*"
  std::string SetupArgs;    // what follows the "*"
  uint32_t DosTime = 0;     // token 1; 0 keeps the time of writing
  uint64_t Size = 0;        // file bytes so far
};

// Fills the text fields of Entry from an entry text.
void ParseEntryText(const std::string& text, TWalkEntry& entry);

// Any handler may be null. A handler returning false stops the walk.
struct TWalkHandlers {
  void* Context = nullptr;
  // A text section; Index counts sections from 0 across volumes. Without this
  // handler sections are stepped over unread.
  bool (*Section)(void* context, int index, const std::string& text) = nullptr;
  // A file entry whose text is known. Entries with an empty text are skipped
  // (inflated to the end but not reported).
  bool (*EntryBegin)(void* context, const TWalkEntry& entry) = nullptr;
  bool (*EntryData)(void* context, const TWalkEntry& entry, const uint8_t* data, size_t len) = nullptr;
  bool (*EntryEnd)(void* context, const TWalkEntry& entry) = nullptr;
  // Called before each chunk and after each piece read or inflated, so that
  // a window can repaint during long entries.
  void (*Pump)(void* context) = nullptr;
};

enum TWalkStatus {
  wsOk,
  wsNoFile,      // the volume cannot be opened
  wsNoPackage,   // no magic at the package end
  wsBadLayout,   // a length or offset reaches outside the package
  wsReadFailed,  // the file ended early or a read failed
  wsBadEntry,    // an entry does not inflate or has no entry text
  wsStopped,     // a handler returned false
};

struct TWalkResult {
  TWalkStatus Status = wsOk;
  std::string Error;           // one line, empty when Status is wsOk
  int ErrorEntry = -1;         // entry at fault, -1 for none
  std::string ErrorEntryName;  // its name when it was read
  int64_t ErrorPos = -1;       // the chunk at fault

  TPackageHeader Header = {};
  int64_t FileSize = 0;
  int64_t End = 0;             // the package end E
  int64_t SectionsEnd = 0;     // position after the last text section, 0 if none here
  int64_t Position = 0;        // where the chunk loop stopped
  int Chunks = 0;              // chunk counter after this volume (carry it on)
  int Entries = 0;             // entries reported
  int SkippedEntries = 0;      // entries with an empty text

  bool Ok() const { return Status == wsOk; }
  // Bytes between the last chunk and the package end; the header's size in a
  // sound package.
  int64_t LeftBeforeEnd() const { return End - Position; }
};

// Walks the volume at Path. ChunksBefore: chunks counted in earlier volumes
// of the same package (0 for the first), so that only the package's first
// SectionCount chunks are taken as sections.
TWalkResult WalkVolume(const std::string& path, int chunksBefore, const TWalkHandlers& handlers);

#endif
