#include "package/UnPack.h"

#include <vector>

#include "package/PackX.h"
#include "package/ZLibOpen.h"
#include "util/Trace.h"
#include "util/Utils.h"

namespace {

int g_writeFailures = 0;
// Compressed bytes read per step; one pending message is handled per step.
// A megabyte a step keeps the window answering (a few milliseconds each) and
// under Wine, where every file and message call costs a trip to the server,
// extracts a third faster than 64 KB steps.
const size_t kReadPiece = 1 << 20;
// The entry text ends at the first 0x00; a text longer than this is no entry.
const size_t kMaxEntryText = 65536;

// One entry on its way from the inflater to its file.
struct TEntryWriter {
  const TExtractArgs* args;
  const TExtractHost* host;
  TExtractResult* result;
  std::string text;      // the entry text, until its 0x00 has come
  bool textDone = false;
  bool skip = false;     // empty entry text or a name we refuse
  bool failed = false;   // a write came up short
  bool tooLong = false;
  void* file = nullptr;
  std::string target;
  uint32_t dosTime = 0;
  uint64_t written = 0;

  void ReportFailure(uint64_t dataSize) {
    failed = true;
    ++g_writeFailures;
    if (g_writeFailures == 1) {
      host->ShowError(host->Context, target + "<P><P>Unable to save Extracted File!<P><P>" +
                                         host->SaveErrorDetails(host->Context, target, dataSize));
    }
  }

  void Begin() {
    textDone = true;
    if (text.empty()) {
      skip = true;
      return;
    }
    std::string previousSetup = result->SetupEntry;
    if (text.find('*') != std::string::npos) result->SetupEntry = text;
    std::string name = ListGetToken(text, 0, "");
    int64_t time = StrToInt64Def(ListGetToken(text, 1, ""), 0);
    dosTime = uint32_t(time);
    size_t star = name.find('*');
    if (star != std::string::npos) {
      result->SetupEntry = name;
      name.erase(star);
    }
    target = args->DestFolder + args->Separator + name;
    if (!IsPlainEntryName(name)) {
      // A name that would leave the folder is written nowhere and is never
      // the program that gets started.
      result->SetupEntry = previousSetup;
      ReportFailure(0);
      skip = true;
      return;
    }
    if (!FileExists(target)) {
      host->Progress(host->Context, 1, 0, 0, 0);
      ++result->NewFiles;
      TraceLine(IntToStr(result->NewFiles) + " - " + target);
    }
    file = host->OpenAppend(host->Context, target);
    if (!file) ReportFailure(0);
  }

  void Data(const uint8_t* p, size_t n) {
    if (skip || failed || n == 0) return;
    if (!host->Write(host->Context, file, p, n)) {
      ReportFailure(n);
      return;
    }
    written += n;
  }

  static bool Sink(void* context, const uint8_t* data, size_t len) {
    TEntryWriter* w = static_cast<TEntryWriter*>(context);
    if (!w->textDone) {
      size_t i = 0;
      while (i < len && data[i] != 0) ++i;
      w->text.append(reinterpret_cast<const char*>(data), i);
      if (w->text.size() > kMaxEntryText) {
        w->tooLong = true;
        return false;
      }
      if (i == len) return true;
      w->Begin();
      data += i + 1;
      len -= i + 1;
    }
    if (w->skip) return true;  // keep inflating: a damaged tail still counts
    w->Data(data, len);
    return true;
  }

  void End(bool streamOk) {
    if (file) host->Close(host->Context, file, dosTime, streamOk && !failed);
    file = nullptr;
  }
};

bool StoppedNow(const TExtractHost& host) { return host.Stopped && host.Stopped(host.Context); }

void MarkDamaged(TExtractResult& result, const std::string& why) {
  result.Damaged = true;
  result.CrcOk = false;
  result.SetupEntry.clear();
  if (result.Problem.empty()) result.Problem = why;
}

// Inflates one entry chunk of Len bytes at Pos; false when it is damaged.
bool ExtractEntry(const TInFile& file, int64_t pos, uint32_t len, const TExtractArgs& args,
                  const TExtractHost& host, TExtractResult& result) {
  TEntryWriter writer{&args, &host, &result};
  TZInflater inflater;
  std::vector<uint8_t> piece(kReadPiece);
  uint32_t done = 0;
  bool ok = true;
  while (done < len && !inflater.AtEnd()) {
    size_t want = len - done < kReadPiece ? len - done : kReadPiece;
    size_t got = file.ReadAt(pos + done, piece.data(), want);
    host.Pump(host.Context);
    if (StoppedNow(host)) {
      writer.End(false);
      result.Cancelled = true;
      return false;
    }
    if (got != want) {
      ok = false;
      break;
    }
    done += uint32_t(got);
    if (!inflater.Feed(piece.data(), got, TEntryWriter::Sink, &writer)) {
      ok = false;
      break;
    }
  }
  if (ok && !inflater.Finish()) ok = false;
  if (ok && !writer.textDone) ok = false;  // no 0x00 after the entry text
  writer.End(ok);
  if (!ok) {
    std::string why = writer.tooLong ? "entry text too long"
                      : inflater.Error().Failed() ? "entry does not inflate: " + inflater.Error().Message
                                                  : "entry is cut short";
    MarkDamaged(result, why);
  }
  return ok;
}

// A vendor may sign the finished setup: the signature then lies after the
// package and the PE header's certificate-table entry points at it. The agent
// copy ends before it, so the entry must go or the copy is a malformed
// executable that names a signature past its own end.
void ClearCertificateEntry(std::string& pe) {
  auto u16 = [&](size_t at) { return unsigned(uint8_t(pe[at])) | unsigned(uint8_t(pe[at + 1])) << 8; };
  if (pe.size() < 0x40 || pe[0] != 'M' || pe[1] != 'Z') return;
  const size_t header = u16(0x3C) | size_t(u16(0x3E)) << 16;
  if (header + 24 + 2 > pe.size() || pe.compare(header, 4, std::string("PE\0\0", 4)) != 0) return;
  const size_t optional = header + 24;
  const unsigned magic = u16(optional);
  // The data directories start 96 bytes into a PE32 optional header, 112
  // into a PE32+ one; the certificate table is entry 4, eight bytes each.
  const size_t directories = optional + (magic == 0x10B ? 96 : magic == 0x20B ? 112 : 0);
  if (directories == optional) return;
  const size_t entry = directories + 4 * 8;
  const size_t count = u16(directories - 4) | size_t(u16(directories - 2)) << 16;  // NumberOfRvaAndSizes
  if (count <= 4 || entry + 8 > pe.size()) return;
  pe.replace(entry, 8, 8, '\0');
}

void WriteAgentCopy(const TInFile& file, const std::string& volume, int64_t sectionsEnd, const TExtractArgs& args,
                    const TExtractHost& host) {
  std::string agent = FilePartOf(args.AgentName);
  if (agent.empty() || !SameTrimmedText(FileExtOf(volume), ".exe") || sectionsEnd <= 0) return;
  std::string data(size_t(sectionsEnd), '\0');
  if (file.ReadAt(0, &data[0], data.size()) != data.size()) return;
  if (data.size() >= size_t(kPackageEndOffset + 4)) data.replace(kPackageEndOffset, 4, 4, '\0');
  ClearCertificateEntry(data);
  TPackageHeader header;
  ReadPackageHeader(file, header);
  header.IsAgent = 1;
  header.HeaderSize = kHeaderBytes;
  uint8_t record[kHeaderBytes];
  EncodeHeader(header, record);
  data.append(reinterpret_cast<const char*>(record), kHeaderBytes);
  host.WriteWholeFile(host.Context, args.DestFolder + args.Separator + agent, data,
                      host.FileDosTime(host.Context, volume));
}

}  // namespace

int ExtractWriteFailures() { return g_writeFailures; }
void ResetExtractWriteFailures() { g_writeFailures = 0; }

void ExtractPackageCore(const TExtractArgs& args, const TExtractHost& host, TExtractResult& result) {
  result = TExtractResult();
  host.Progress(host.Context, 0, 0, 0, 1);
  TPackageHeader header = TPackageHeader();
  std::string volume = args.PackagePath;
  int volumeNumber = 1;
  bool goOn = true;
  int chunks = 0;
  int sectionCount = 0;

  for (;;) {
    if (FileExists(volume)) {
      ReadPackageHeader(volume, header);
      if (volumeNumber == 1) {
        TraceLine("FileInfo.FilesCount=" + IntToStr(header.FilesCount));
        sectionCount = header.SectionCount;
      }
      result.CrcOk = GetCrc(volume, int32_t(header.HeaderSize)) == header.Crc;
      if (!result.CrcOk) {
        if (result.Problem.empty()) result.Problem = "checksum mismatch in " + volume;
        break;
      }
      TInFile file(volume);
      int64_t end = PackageEnd(file);
      // A file whose checksum holds but that carries no package mark is not
      // a package: the user hears of it as of a damaged one instead of the
      // run ending without a word.
      if (header.Magic != kPackageMagic) {
        MarkDamaged(result, "no package mark in " + volume);
        break;
      }
      {
        int64_t pos = header.DataOffset;
        int64_t sectionsEnd = 0;
        if (volumeNumber == 1) {
          host.Progress(host.Context, 0, int(header.FilesCount), 0, 1);
          std::string error;
          if (!host.CreateFolder(host.Context, args.DestFolder, error)) {
            host.ShowError(host.Context, args.DestFolder + "<P><P>Unable to create Directory!<P><P>" + error);
          }
        }
        bool damaged = false;
        do {
          host.Pump(host.Context);
          if (StoppedNow(host)) {
            goOn = false;
            break;
          }
          uint32_t len;
          // Every length comes from the file: it must fit before the end.
          if (!file.ReadU32(pos, len) || int64_t(len) > end - (pos + 4)) {
            MarkDamaged(result, "chunk length beyond the end of " + volume);
            damaged = true;
            break;
          }
          ++chunks;
          int64_t data = pos + 4;
          pos = data + int64_t(len);
          if (chunks == sectionCount) sectionsEnd = pos;
          if (chunks <= sectionCount) continue;
          if (!ExtractEntry(file, data, len, args, host, result)) {
            if (result.Cancelled) goOn = false;
            else damaged = true;
            break;
          }
        } while (end - pos > kHeaderBytes);
        if (damaged || !goOn) break;
        if (volumeNumber == 1 && !args.AgentName.empty()) WriteAgentCopy(file, volume, sectionsEnd, args, host);
      }
    }
    if (!IsSpanned(header)) break;
    ++volumeNumber;
    volume = VolumeFileName(args.PackagePath, volumeNumber);
    if (args.ForcePrompt || !FileExists(volume)) {
      std::string text = ReplaceAllText(args.DiskPrompt, "<DISK_NUM>", IntToStr(volumeNumber));
      do {
        goOn = host.AskVolume(host.Context, text, args.PromptCaption, args.ButtonList, args.Charset);
      } while (goOn && !FileExists(volume) && !StoppedNow(host));
      if (StoppedNow(host)) goOn = false;
    }
    host.Progress(host.Context, 1, 0, 0, 0);
    if (!goOn) break;
  }
  if (!goOn) {
    result.SetupEntry.clear();
    result.Cancelled = true;
  }
  host.Delay(host.Context, 500);
}
