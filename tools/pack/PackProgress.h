// The progress line of a build on a terminal: files done, megabytes read of
// the total and the rate, on standard error. Shown only when standard error
// is a terminal and the build is not --quiet, so that logs of build servers
// hold nothing but errors. Redrawn at most five times a second; wiped when
// the build ends, before any error or the summary line is printed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class TBuildProgress {
 public:
  TBuildProgress(bool shown, size_t entries, uint64_t totalBytes);
  ~TBuildProgress() { Finish(); }
  TBuildProgress(const TBuildProgress&) = delete;
  TBuildProgress& operator=(const TBuildProgress&) = delete;

  // Bytes more of the entries' inflated bytes are packed; EntryDone when an
  // entry is complete.
  void Add(uint64_t bytes, bool entryDone);
  // Shows the final count, then wipes the line.
  void Finish();

  // The text of the line, for the given state.
  static std::string LineText(size_t done, size_t entries, uint64_t bytes, uint64_t totalBytes,
                              uint64_t elapsedMs);

 private:
  void Draw();

  bool shown_;
  size_t entries_, done_ = 0;
  uint64_t total_, bytes_ = 0;
  uint64_t startMs_, lastDrawMs_ = 0;
  size_t width_ = 0;  // of the line on the screen
};
