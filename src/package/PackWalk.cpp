#include "package/PackWalk.h"

#include <cstdlib>

#include "package/ZLibOpen.h"
#include "util/Utils.h"

void ParseEntryText(const std::string& text, TWalkEntry& entry) {
  entry.Text = text;
  entry.NameToken = ListGetToken(text, 0, "");
  size_t star = entry.NameToken.find('*');
  entry.IsSetup = star != std::string::npos;
  entry.Name = entry.IsSetup ? entry.NameToken.substr(0, star) : entry.NameToken;
  entry.SetupArgs = entry.IsSetup ? entry.NameToken.substr(star + 1) : std::string();
  int64_t time = StrToInt64Def(ListGetToken(text, 1, ""), 0);
  entry.DosTime = time > 0 && time <= 0xFFFFFFFFll ? uint32_t(time) : 0;
  entry.Size = 0;
}

namespace {

// State of the entry being inflated: the text collects up to its zero byte,
// everything after it is file data.
struct TEntrySink {
  const TWalkHandlers* handlers;
  TWalkEntry entry;
  std::string text;
  bool textDone;
  bool reported;   // EntryBegin was called (the text was not empty)
  bool tooLong;    // no zero byte within kMaxEntryText
  bool stopped;    // a handler said no
};

bool OnInflated(void* context, const uint8_t* data, size_t len) {
  TEntrySink& s = *static_cast<TEntrySink*>(context);
  const TWalkHandlers& h = *s.handlers;
  if (!s.textDone) {
    size_t i = 0;
    while (i < len && data[i] != 0) ++i;
    if (s.text.size() + i > kMaxEntryText) {
      s.tooLong = true;
      return false;
    }
    s.text.append(reinterpret_cast<const char*>(data), i);
    if (i == len) return true;
    s.textDone = true;
    ParseEntryText(s.text, s.entry);
    if (!s.text.empty()) {
      s.reported = true;
      if (h.EntryBegin && !h.EntryBegin(h.Context, s.entry)) {
        s.stopped = true;
        return false;
      }
    }
    data += i + 1;
    len -= i + 1;
  }
  if (len == 0) return true;
  s.entry.Size += len;
  if (s.reported && h.EntryData && !h.EntryData(h.Context, s.entry, data, len)) {
    s.stopped = true;
    return false;
  }
  if (h.Pump) h.Pump(h.Context);
  return true;
}

class TWalker {
 public:
  TWalker(const std::string& path, const TWalkHandlers& handlers)
      : file_(path), handlers_(handlers), buffer_(nullptr) {}
  ~TWalker() { std::free(buffer_); }

  TWalkResult Run(int chunksBefore);

 private:
  bool Fail(TWalkStatus status, const std::string& error, int64_t pos) {
    result_.Status = status;
    result_.Error = error;
    result_.ErrorPos = pos;
    return false;
  }
  void Pump() {
    if (handlers_.Pump) handlers_.Pump(handlers_.Context);
  }
  bool ReadSection(int64_t pos, uint32_t len, int index);
  bool ReadEntry(int64_t pos, uint32_t len);

  TInFile file_;
  const TWalkHandlers& handlers_;
  uint8_t* buffer_;
  TWalkResult result_;
};

bool TWalker::ReadSection(int64_t pos, uint32_t len, int index) {
  if (!handlers_.Section) return true;
  // The length was checked against the package end, so the text is no
  // larger than the file.
  std::string text(len, '\0');
  uint32_t done = 0;
  while (done < len) {
    uint32_t piece = len - done < kWalkReadPiece ? len - done : uint32_t(kWalkReadPiece);
    if (file_.ReadAt(pos + 4 + done, &text[done], piece) != piece)
      return Fail(wsReadFailed, "section " + IntToStr(index) + " at offset " + IntToStr(pos) + ": read failed", pos);
    done += piece;
    Pump();
  }
  if (!handlers_.Section(handlers_.Context, index, text)) return Fail(wsStopped, "stopped", pos);
  return true;
}

bool TWalker::ReadEntry(int64_t pos, uint32_t len) {
  TEntrySink sink = {&handlers_, TWalkEntry(), std::string(), false, false, false, false};
  sink.entry.Index = result_.Entries + result_.SkippedEntries;
  sink.entry.ChunkPos = pos;
  sink.entry.PackedSize = len;
  std::string where = "entry " + IntToStr(sink.entry.Index + 1) + " at offset " + IntToStr(pos);

  TZInflater inflater;
  uint32_t done = 0;
  bool fed = true;
  while (fed && done < len) {
    uint32_t piece = len - done < kWalkReadPiece ? len - done : uint32_t(kWalkReadPiece);
    if (file_.ReadAt(pos + 4 + done, buffer_, piece) != piece) {
      result_.ErrorEntry = sink.entry.Index;
      return Fail(wsReadFailed, where + ": read failed", pos);
    }
    done += piece;
    fed = inflater.Feed(buffer_, piece, OnInflated, &sink);
    Pump();
    if (inflater.AtEnd()) break;
  }
  if (fed) inflater.Finish();

  result_.ErrorEntry = sink.entry.Index;
  if (sink.textDone) {
    where = "entry " + IntToStr(sink.entry.Index + 1) + " \"" + sink.entry.Name + "\"";
    result_.ErrorEntryName = sink.entry.Name;
  }
  if (sink.stopped) return Fail(wsStopped, "stopped", pos);
  if (sink.tooLong) return Fail(wsBadEntry, where + ": no end of the entry text", pos);
  if (inflater.Error().Failed()) return Fail(wsBadEntry, where + ": inflate failed: " + inflater.Error().Message, pos);
  if (!sink.textDone) return Fail(wsBadEntry, where + ": no end of the entry text", pos);
  result_.ErrorEntry = -1;
  result_.ErrorEntryName.clear();

  if (!sink.reported) {
    ++result_.SkippedEntries;
    return true;
  }
  ++result_.Entries;
  if (handlers_.EntryEnd && !handlers_.EntryEnd(handlers_.Context, sink.entry)) return Fail(wsStopped, "stopped", pos);
  return true;
}

TWalkResult TWalker::Run(int chunksBefore) {
  result_.Chunks = chunksBefore;
  if (!file_.IsOpen()) {
    Fail(wsNoFile, "cannot open the file", -1);
    return result_;
  }
  result_.FileSize = file_.Size();
  ReadPackageHeader(file_, result_.Header);
  result_.End = PackageEnd(file_);
  const TPackageHeader& h = result_.Header;
  if (h.Magic != kPackageMagic) {
    Fail(wsNoPackage, "no package (magic number missing)", -1);
    return result_;
  }
  int64_t end = result_.End;
  if (end > result_.FileSize) {
    Fail(wsBadLayout, "package end " + IntToStr(end) + " lies beyond the file's " + IntToStr(result_.FileSize) + " bytes", -1);
    return result_;
  }
  int64_t pos = h.DataOffset;
  result_.Position = pos;
  if (pos > end) {
    Fail(wsBadLayout, "DataOffset " + IntToStr(pos) + " lies beyond the package end " + IntToStr(end), -1);
    return result_;
  }
  buffer_ = static_cast<uint8_t*>(std::malloc(kWalkReadPiece));
  if (!buffer_) {
    Fail(wsReadFailed, "out of memory", -1);
    return result_;
  }
  // The first chunk is always read, then one more while more than a
  // header's worth of bytes remains.
  do {
    Pump();
    uint32_t len;
    if (end - pos < 4 || !file_.ReadU32(pos, len)) {
      Fail(wsBadLayout, "chunk length at offset " + IntToStr(pos) + " lies beyond the package end", pos);
      return result_;
    }
    int counter = result_.Chunks + 1;
    if (int64_t(len) > end - pos - 4) {
      std::string what = counter <= int(h.SectionCount)
                             ? "section " + IntToStr(counter - 1)
                             : "entry " + IntToStr(result_.Entries + result_.SkippedEntries + 1);
      Fail(wsBadLayout,
           what + " at offset " + IntToStr(pos) + " claims " + IntToStr(len) + " bytes, only " +
               IntToStr(end - pos - 4) + " remain before the package end",
           pos);
      return result_;
    }
    result_.Chunks = counter;
    bool ok = counter <= int(h.SectionCount) ? ReadSection(pos, len, counter - 1) : ReadEntry(pos, len);
    if (!ok) return result_;
    pos += int64_t(len) + 4;
    result_.Position = pos;
    if (counter == int(h.SectionCount)) result_.SectionsEnd = pos;
  } while (end - pos > kHeaderBytes);
  return result_;
}

}  // namespace

TWalkResult WalkVolume(const std::string& path, int chunksBefore, const TWalkHandlers& handlers) {
  TWalker walker(path, handlers);
  return walker.Run(chunksBefore);
}
