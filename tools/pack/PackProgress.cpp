#include "PackProgress.h"

#include <cstdio>

#include "PackOs.h"

namespace {

const uint64_t kRedrawMs = 200;

std::string Megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", double(bytes) / (1024.0 * 1024.0));
  return text;
}

}  // namespace

TBuildProgress::TBuildProgress(bool shown, size_t entries, uint64_t totalBytes)
    : shown_(shown && entries > 0), entries_(entries), total_(totalBytes), startMs_(MonotonicMilliseconds()) {
  if (shown_) Draw();
}

std::string TBuildProgress::LineText(size_t done, size_t entries, uint64_t bytes, uint64_t totalBytes,
                                     uint64_t elapsedMs) {
  std::string line = "korvan-pack: " + std::to_string(done) + "/" + std::to_string(entries) + " files, " +
                     Megabytes(bytes) + " of " + Megabytes(totalBytes) + " MB";
  if (totalBytes > 0) line += " (" + std::to_string(bytes * 100 / totalBytes) + "%)";
  // A rate over the first few milliseconds says nothing.
  if (elapsedMs >= 100) line += ", " + Megabytes(bytes * 1000 / elapsedMs) + " MB/s";
  return line;
}

void TBuildProgress::Draw() {
  uint64_t now = MonotonicMilliseconds();
  lastDrawMs_ = now;
  std::string line = LineText(done_, entries_, bytes_, total_, now - startMs_);
  // Carriage return and blanks over what the last line left: no escape
  // sequences, which an older Windows console prints as they are.
  std::string text = "\r" + line;
  if (line.size() < width_) text += std::string(width_ - line.size(), ' ');
  width_ = line.size();
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

void TBuildProgress::Add(uint64_t bytes, bool entryDone) {
  // A spanned entry's text is packed again with each continued part.
  bytes_ = bytes_ + bytes > total_ ? total_ : bytes_ + bytes;
  if (entryDone) ++done_;
  if (shown_ && MonotonicMilliseconds() - lastDrawMs_ >= kRedrawMs) Draw();
}

void TBuildProgress::Finish() {
  if (!shown_) return;
  Draw();
  std::string wipe = "\r" + std::string(width_, ' ') + "\r";
  std::fputs(wipe.c_str(), stderr);
  std::fflush(stderr);
  shown_ = false;
}
