// Test kit: a setup program that speaks the stub's hand-shake and reports what
// it was given, so that tests can check what the stub extracted and passed.
//
//   setup_probe.exe [options] /TH_ID=_<token>      (options come after the
//                                                    star of the setup entry)
// Options:
//   --report=PATH     where to write the JSON report
//                     (default: %TEMP%\korvan_setup_report.json)
//   --window-ms=N     hand the end of the work to a second process that keeps
//                     a window of class ".SDialog_Class_Name." + token open
//                     for N ms and then deletes the atom, the way a setup's
//                     dialog may outlive the program the stub started
//   --sleep-ms=N      wait N ms (pumping messages) before finishing
//   --keep-atom       leave the atom "AutoUpdateAtomTokenByKorvan" + token in
//                     place (the stub then takes the setup as failed)
//   --exit=N          exit code (default 0)
//   --install=DIR     install as a product's setup does: copy the agent
//                     program the stub wrote beside this program (--agent=NAME)
//                     into DIR, created when missing, and write the
//                     installation settings file DIR\<--original=NAME> with
//                     VersionOriginal=1, ProgramName=<--program=NAME, default
//                     Prod>, ProbeSecondsInterval=<--interval=N, default 86400>
//                     and TargetDir=DIR; the report says whether it worked
//
// The report holds the full command line, the token, whether the atom existed
// at start, the stub window's progress range and position (found through the
// registry value OriginExe, which is the stub's window class), and every file
// of the program's folder with its size, DOS date-time and SHA-256.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "util/Registry.h"
#include "util/UtilsWin.h"

namespace {

// ---- SHA-256 ---------------------------------------------------------------
struct Sha256 {
  uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  uint8_t block[64];
  size_t used = 0;
  uint64_t total = 0;

  static uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
  void Compress() {
    static const uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
      w[i] = uint32_t(block[4 * i]) << 24 | uint32_t(block[4 * i + 1]) << 16 | uint32_t(block[4 * i + 2]) << 8 |
             block[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
      uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; ++i) {
      uint32_t t1 = hh + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
      uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      hh = g; g = f; f = e; e = d + t1; d = c; c = b; b = a; a = t1 + t2;
    }
    h[0] += a; h[1] += b; h[2] += c; h[3] += d; h[4] += e; h[5] += f; h[6] += g; h[7] += hh;
  }
  void Add(const uint8_t* p, size_t n) {
    total += n;
    while (n--) {
      block[used++] = *p++;
      if (used == 64) {
        Compress();
        used = 0;
      }
    }
  }
  std::string Hex() {
    uint64_t bits = total * 8;
    uint8_t pad = 0x80;
    Add(&pad, 1);
    uint8_t zero = 0;
    while (used != 56) Add(&zero, 1);
    uint8_t len[8];
    for (int i = 0; i < 8; ++i) len[i] = uint8_t(bits >> (56 - 8 * i));
    Add(len, 8);
    char out[65];
    for (int i = 0; i < 8; ++i) std::snprintf(out + 8 * i, 9, "%08x", h[i]);
    return out;
  }
};

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 32 || c >= 127) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

std::string FileEntryJson(const std::string& folder, const WIN32_FIND_DATAA& fd) {
  std::string path = folder + fd.cFileName;
  Sha256 sha;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    std::vector<uint8_t> buf(1 << 16);
    DWORD got;
    while (ReadFile(h, buf.data(), DWORD(buf.size()), &got, nullptr) && got) sha.Add(buf.data(), got);
    CloseHandle(h);
  }
  FILETIME local;
  WORD dosDate = 0, dosTime = 0;
  FileTimeToLocalFileTime(&fd.ftLastWriteTime, &local);
  FileTimeToDosDateTime(&local, &dosDate, &dosTime);
  uint64_t size = uint64_t(fd.nFileSizeHigh) << 32 | fd.nFileSizeLow;
  char num[64];
  std::snprintf(num, sizeof num, "%llu", static_cast<unsigned long long>(size));
  std::string out = "{\"name\": " + JsonString(fd.cFileName) + ", \"size\": " + num;
  std::snprintf(num, sizeof num, "%lu", static_cast<unsigned long>(uint32_t(dosDate) << 16 | dosTime));
  out += std::string(", \"dos_time\": ") + num + ", \"sha256\": \"" + sha.Hex() + "\"}";
  return out;
}

LRESULT CALLBACK DialogProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }

// The product's folder with the agent program and its installation settings.
bool Install(const std::string& from, std::string dir, std::string& error) {
  std::string agent = SwitchValue("--agent="), original = SwitchValue("--original=");
  std::string program = SwitchValue("--program=");
  if (program.empty()) program = "Prod";
  if (agent.empty() || original.empty()) return error = "--install needs --agent= and --original=", false;
  while (!dir.empty() && dir.back() == '\\') dir.pop_back();
  CreateDirectoryA(dir.c_str(), nullptr);
  if (!CopyFileA((from + agent).c_str(), (dir + "\\" + agent).c_str(), FALSE))
    return error = "cannot copy " + from + agent, false;
  std::string file = dir + "\\" + original;
  const char* const keys[][3] = {
      {"OriginalSetup", "VersionOriginal", "1"},
      {"OriginalSetup", "ProgramName", program.c_str()},
      {"OriginalSetup", "ProbeSecondsInterval", nullptr},
      {"Directories", "TargetDir", dir.c_str()},
  };
  std::string interval = IntToStr(SwitchInt("--interval=", 86400));
  for (const auto& k : keys)
    if (!WritePrivateProfileStringA(k[0], k[1], k[2] ? k[2] : interval.c_str(), file.c_str()))
      return error = "cannot write " + file, false;
  return true;
}

}  // namespace

void HoldWindow(const std::string& token, uint32_t ms, bool keepAtom) {
  std::string cls = ".SDialog_Class_Name." + token;
  WNDCLASSA wc = {};
  wc.lpfnWndProc = DialogProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = cls.c_str();
  RegisterClassA(&wc);
  HWND w = CreateWindowExA(0, cls.c_str(), "setup dialog", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                           wc.hInstance, nullptr);
  DelayWithMessages(ms);
  ATOM atom = GlobalFindAtomA(("AutoUpdateAtomTokenByKorvan" + token).c_str());
  if (!keepAtom && atom) GlobalDeleteAtom(atom);
  DestroyWindow(w);
}

int main() {
  std::string args = CommandLineArgs();
  std::string report = SwitchValue("--report=");
  if (report.empty() || report == "TRUE") report = TempDir(true) + "korvan_setup_report.json";
  int64_t windowMs = SwitchInt("--window-ms=", 0);
  int64_t sleepMs = SwitchInt("--sleep-ms=", 0);
  int64_t exitCode = SwitchInt("--exit=", 0);
  bool keepAtom = SwitchPresent("--keep-atom");
  std::string token = SwitchValue("/TH_ID=");
  if (SwitchPresent("--hold-window")) {
    HoldWindow(token, uint32_t(windowMs), keepAtom);
    return 0;
  }
  std::string atomName = "AutoUpdateAtomTokenByKorvan" + token;
  ATOM atom = GlobalFindAtomA(atomName.c_str());

  // The stub's window: its class is the stub's full path.
  std::string stubPath = RegReadString("HKEY_CURRENT_USER\\Software\\Korvan_Dyn_Data", "OriginExe", "");
  HWND stub = stubPath.empty() ? nullptr : FindWindowA(stubPath.c_str(), nullptr);
  HWND bar = stub ? FindWindowExA(stub, nullptr, PROGRESS_CLASSA, nullptr) : nullptr;
  long rangeLow = -1, rangeHigh = -1, position = -1;
  if (bar) {
    // The window is another process's: ask for the limits one by one rather
    // than through a PBRANGE pointer, which is not carried across processes.
    rangeLow = long(SendMessageA(bar, PBM_GETRANGE, TRUE, 0));
    rangeHigh = long(SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
    position = long(SendMessageA(bar, PBM_GETPOS, 0, 0));
  }

  STARTUPINFOA si = {};
  si.cb = sizeof si;
  GetStartupInfoA(&si);
  int show = (si.dwFlags & STARTF_USESHOWWINDOW) ? si.wShowWindow : -1;

  std::string folder = ExeDir(true);
  std::string files;
  WIN32_FIND_DATAA fd;
  HANDLE find = FindFirstFileA((folder + "*").c_str(), &fd);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      if (!files.empty()) files += ",\n    ";
      files += FileEntryJson(folder, fd);
    } while (FindNextFileA(find, &fd));
    FindClose(find);
  }

  std::string install = SwitchValue("--install="), installError;
  bool installed = !install.empty() && Install(folder, install, installError);

  char nums[200];
  std::snprintf(nums, sizeof nums,
                "\"atom_at_start\": %s, \"stub_window\": %s, \"progress\": [%ld, %ld, %ld], \"show\": %d",
                atom ? "true" : "false", stub ? "true" : "false", rangeLow, rangeHigh, position, show);
  std::string installJson = install.empty() ? std::string()
                                            : std::string(",\n  \"installed\": ") + (installed ? "true" : "false") +
                                                  ", \"install_error\": " + JsonString(installError);
  std::string json = "{\n  \"command_line\": " + JsonString(GetCommandLineA()) + ",\n  \"args\": " +
                     JsonString(args) + ",\n  \"token\": " + JsonString(token) + ",\n  \"folder\": " +
                     JsonString(folder) + ",\n  " + nums + installJson + ",\n  \"files\": [\n    " + files + "\n  ]\n}\n";
  HANDLE out = CreateFileA(report.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out != INVALID_HANDLE_VALUE) {
    DWORD written;
    WriteFile(out, json.data(), DWORD(json.size()), &written, nullptr);
    CloseHandle(out);
  }

  if (sleepMs > 0) DelayWithMessages(uint32_t(sleepMs));
  if (windowMs > 0 && !token.empty()) {
    // The holder is a copy outside the working folder, which the stub
    // deletes at the end: beside the report, so that nothing of the test kit
    // stays in the temporary folder when the report goes elsewhere.
    std::string holder = report.substr(0, report.find_last_of("\\/") + 1) + "korvan_setup_holder_" + token + ".exe";
    CopyFileA(ExePath().c_str(), holder.c_str(), FALSE);
    std::string cmd = "\"" + holder + "\" --hold-window --window-ms=" + IntToStr(windowMs) +
                      (keepAtom ? " --keep-atom" : "") + " /TH_ID=" + token;
    STARTUPINFOA hs = {};
    hs.cb = sizeof hs;
    PROCESS_INFORMATION pi;
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &hs, &pi)) {
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
      // Leave only once the window stands, so the stub finds it.
      std::string cls = ".SDialog_Class_Name." + token;
      for (int i = 0; i < 200 && !FindWindowA(cls.c_str(), nullptr); ++i) Sleep(50);
    }
    return int(exitCode);
  }
  if (!keepAtom && atom) GlobalDeleteAtom(atom);
  return int(exitCode);
}
