// Shared by the korvan-pack tests: a scratch folder per test, small files,
// a fake stub and a way to run the real korvan-pack.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "package/PackIO.h"

namespace packkit {

// A fresh folder under the test temp dir; tests may run in parallel.
inline std::string ScratchDir() {
  std::string pattern = ::testing::TempDir() + "korvan_pack_XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) return ::testing::TempDir();
  return std::string(buf.data());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// "MZ", e_lfanew 0x100, "PE\0\0" at 256, then padding up to Size.
inline std::string FakeStub(size_t size = 1536, uint32_t lfanew = 0x100) {
  std::string s(size, '\0');
  s[0] = 'M';
  s[1] = 'Z';
  PutU32(reinterpret_cast<uint8_t*>(&s[0x3C]), lfanew);
  s.replace(256, 4, std::string("PE\0\0", 4));
  for (size_t i = 512; i < size; ++i) s[i] = char(i * 31 + 7);
  return s;
}

// Bytes that compress somewhat: text-like runs with some noise.
inline std::string SampleBytes(size_t n, unsigned seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = (x >> 28) < 3 ? char(x >> 16) : char('a' + (i / 7 + seed) % 26);
  }
  return s;
}

// Local wall-clock time as a Unix time, for setting file times.
inline time_t LocalTime(int year, int mon, int day, int h, int m, int s) {
  struct tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = mon - 1;
  t.tm_mday = day;
  t.tm_hour = h;
  t.tm_min = m;
  t.tm_sec = s;
  t.tm_isdst = -1;
  return mktime(&t);
}

inline void SetWriteTime(const std::string& path, time_t when) {
  struct timespec times[2] = {{when, 0}, {when, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

struct TRun {
  int Code = -1;
  std::string Out;  // stdout
  std::string Err;  // stderr
};

// Runs korvan-pack with Args in folder Dir.
inline TRun RunPack(const std::vector<std::string>& args, const std::string& dir = ".") {
  static int serial = 0;
  std::string base = ::testing::TempDir() + "korvan_run_" + std::to_string(getpid()) + "_" + std::to_string(++serial);
  std::string cmd = "cd " + ShellQuote(dir) + " && " + ShellQuote(KORVAN_PACK);
  for (const std::string& a : args) cmd += " " + ShellQuote(a);
  cmd += " >" + ShellQuote(base + ".out") + " 2>" + ShellQuote(base + ".err");
  int status = std::system(cmd.c_str());
  TRun r;
  r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.Out = ReadBytes(base + ".out");
  r.Err = ReadBytes(base + ".err");
  std::remove((base + ".out").c_str());
  std::remove((base + ".err").c_str());
  return r;
}

// Names in Dir, for checking that nothing was left behind.
inline std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  std::string cmd = "ls -A " + ShellQuote(dir);
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return names;
  char line[4096];
  while (std::fgets(line, sizeof line, p)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    names.push_back(s);
  }
  pclose(p);
  return names;
}

}  // namespace packkit
