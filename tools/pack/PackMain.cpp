// korvan-pack: builds, inspects and verifies the packages a Korvan stub
// carries. Exit codes (kExitHelp): 0 done, 1 refused or unsound, 2 bad
// usage, 130 interrupted.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "PackBuild.h"
#include "PackInfo.h"
#include "PackInspect.h"
#include "PackOptions.h"
#include "PackOs.h"
#include "package/PackX.h"
#include "package/UnPackHost.h"
#include "util/Utils.h"

namespace {

const char kUsage[] =
    "usage: korvan-pack build [--stub STUB | --arch ARCH] --out OUT [OPTION...] FILE...\n"
    "       korvan-pack build PROJECT.ini [OPTION...] [FILE...]\n"
    "       korvan-pack inspect PACKAGE [--json]\n"
    "       korvan-pack verify PACKAGE\n"
    "       korvan-pack extract PACKAGE DIR\n"
    "       korvan-pack info --out NAME.info --update FILE [OPTION...]\n"
    "       korvan-pack --help\n";

const char kHelp[] =
    "\n"
    "build: appends a package to a copy of STUB and writes it to OUT. OUT is\n"
    "written beside itself under a temporary name and renamed when complete;\n"
    "nothing is left behind when the build fails. The same inputs always give\n"
    "the same bytes.\n"
    "  FILE...                 plain file names (no folders), packed in this\n"
    "                          order; NAME*ARGS marks the setup program\n"
    "  --stub FILE             the stub executable (PE header at 0x100)\n"
    "  --arch i686|x86_64      without --stub: the installed stub-ARCH.exe, from\n"
    "                          ../share/korvan beside the tool's folder, then\n"
    "                          from the folder it was installed for (default\n"
    "                          i686, the shipped stub)\n"
    "  --out FILE              the package to write\n"
    "  --dir DIR               folder holding the files (default: current)\n"
    "  --setup NAME[*ARGS]     the setup program to start, with extra\n"
    "                          arguments; added first when not among FILE...\n"
    "  --lang FILE             language texts: an INI file, one [Language]\n"
    "                          section per language (English, French, ...)\n"
    "                          in the order given, keys s0..s12, Charset,\n"
    "                          BtnText, Attention, Confirm, Error\n"
    "  --update-url URL        base address of the update files\n"
    "  --settings-name NAME    the product's settings file\n"
    "  --agent-name NAME       file name of the update-agent program\n"
    "  --agent-token TEXT      the agent token (stored scrambled)\n"
    "  --silent                the stub runs silently\n"
    "  --announce-temp-drive   name the temporary drive even when space suffices\n"
    "  --creates-agent         write the update-agent program before the setup\n"
    "  --jobs N                compressing threads (default: one per core)\n"
    "  --volume-size BYTES     span the package over volumes of at most BYTES:\n"
    "                          OUT, OUT.002, OUT.003, ...; a file that does\n"
    "                          not fit is continued in the next volume\n"
    "                          (a spanned build compresses on one thread)\n"
    "  --project FILE          read a project file first (see below)\n"
    "  --quiet                 no progress line and no summary line; a build\n"
    "                          shows its progress (files, megabytes, rate) on\n"
    "                          standard error only when that is a terminal\n"
    "\n"
    "  Internet mode: the package carries no files; the stub fetches the setup\n"
    "  package and extracts that. Build the setup package first, with the same\n"
    "  --download-token, then the internet-mode package naming it.\n"
    "  --download-url URL      folder or address the setup package lies in\n"
    "                          (makes an internet-mode package, as --internet)\n"
    "  --download-package FILE the setup package built before: its file name\n"
    "                          and size are taken, its token is checked\n"
    "  --download-name NAME    file name of the setup package at the source\n"
    "                          (default: the name of --download-package)\n"
    "  --download-size BYTES   its size, when --download-package is not given\n"
    "  --download-token TEXT   the token both packages carry (stored scrambled);\n"
    "                          given alone it marks a setup package\n"
    "  --ask-before-download   ask the user before downloading\n"
    "  --always-download       download even when the setup package lies\n"
    "                          beside the stub\n"
    "\n"
    "  Options take their value as the next argument or after \"=\".\n"
    "\n"
    "inspect: prints the header, the checksum, the sections (the token\n"
    "unscrambled) and the entries; --json prints the same as JSON.\n"
    "\n"
    "verify: checks the checksum and inflates every entry without writing\n"
    "anything. Exit 0 when sound, else one line naming the fault and exit 1.\n"
    "inspect and verify read every volume of a spanned package.\n"
    "\n"
    "extract: writes the files of the package, from all its volumes, into DIR\n"
    "(created; it must be new or empty) with the extractor the stub runs. A\n"
    "missing volume, a damaged one or a file that cannot be written ends it\n"
    "with one line and exit 1, and what was written into DIR is removed.\n"
    "\n";

const char kExitHelp[] =
    "\n"
    "Errors: one line on standard error, \"korvan-pack: \" and the file at\n"
    "fault with the reason. Exit codes:\n"
    "  0    done (verify: the package is sound)\n"
    "  1    refused or failed: an input missing or wrong, the output not\n"
    "       written, a package unsound, damaged or incomplete\n"
    "  2    bad usage: unknown command or option, a bad option value\n"
    "  130  interrupted by Ctrl-C; a build leaves no output behind. On Linux\n"
    "       the tool ends by the signal itself (a shell shows 130 for SIGINT,\n"
    "       143 for SIGTERM, 129 for SIGHUP)\n";

int Fail(const std::string& message, int code) {
  std::fprintf(stderr, "korvan-pack: %s\n", message.c_str());
  return code;
}

int RunBuild(const std::vector<std::string>& args) {
  TBuildOptions options;
  std::string error;
  if (!ParseBuildArguments(args, options, error)) return Fail(error, 2);
  TBuildReport report;
  bool ok = BuildPackage(options, report, error);
  for (const std::string& w : report.Warnings) std::fprintf(stderr, "korvan-pack: warning: %s\n", w.c_str());
  if (!ok) return Fail(error, 1);
  if (options.Quiet) return 0;
  std::printf("%s: %d files, %llu bytes packed into %lld, checksum 0x%08X", options.Out.c_str(), report.Entries,
              (unsigned long long)report.RawSize, (long long)report.PackageEnd, unsigned(report.Crc));
  if (report.Volumes > 1) std::printf(", %d volumes (.002 to .%03d)", report.Volumes, report.Volumes);
  std::printf("\n");
  return 0;
}

// Error boxes come in the stub's mark-up; one plain line here.
std::string PlainText(std::string text) {
  const char* const tags[] = {"<P>", "<p>", "<T>", "<t>", "<B>", "</B>", "<b>", "</b>"};
  for (const char* t : tags) text = ReplaceAllText(text, t, " ");
  std::string out;
  for (char c : text) {
    if (c == '\n' || c == '\r') c = ' ';
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out += c;
  }
  return Trim(out);
}

int RunExtract(const std::vector<std::string>& args) {
  std::vector<std::string> positional;
  for (const std::string& a : args) {
    if (a.compare(0, 2, "--") == 0) return Fail("unknown option " + a + " for extract", 2);
    positional.push_back(a);
  }
  if (positional.size() != 2) return Fail("extract takes a package and a folder", 2);
  const std::string& path = positional[0];
  std::string dir = positional[1];
  while (dir.size() > 1 && IsPathSeparator(dir.back())) dir.pop_back();
  TPackageHeader header;
  ReadPackageHeader(path, header);
  if (!FileExists(path)) return Fail(path + ": cannot open the file", 1);
  std::string later = LaterVolumeNote(path);
  if (!later.empty()) return Fail(later, 1);
  if (header.Magic != kPackageMagic) return Fail(path + ": no package (magic number missing)", 1);
  std::string missing = MissingVolume(path);
  if (!missing.empty()) return Fail(missing, 1);
  // Entries are appended to files already there, as the stub does in its own
  // fresh folder; a folder with files in it would give other bytes.
  bool created = !IsFolder(dir);
  std::vector<std::string> names;
  if (!created && (!ListFolder(dir, names) || !names.empty()))
    return Fail(dir + " is not empty: extract into a new or empty folder", 1);
  std::string messages;
  ResetExtractWriteFailures();
  TExtractResult r = ExtractToFolder(path, dir, messages);
  std::string problem;
  if (r.Cancelled) problem = MissingVolume(path).empty() ? "extraction stopped" : MissingVolume(path);
  else if (r.Damaged) problem = "damaged: " + r.Problem;
  else if (!r.CrcOk) problem = r.Problem.empty() ? "checksum mismatch" : r.Problem;
  else if (!messages.empty()) problem = PlainText(messages.substr(0, messages.find('\n')));
  if (!problem.empty()) {
    RemoveFolderFiles(dir, created);
    // verify names the volume and the entry at fault.
    std::string summary, reason;
    if ((r.Damaged || !r.CrcOk) && !VerifyPackage(path, summary, reason)) problem = reason;
    if (problem.compare(0, path.size(), path) != 0) problem = path + ": " + problem;
    return Fail(problem, 1);
  }
  std::printf("%s: %d files extracted into %s", path.c_str(), r.NewFiles, dir.c_str());
  if (!r.SetupEntry.empty()) std::printf(", setup %s", r.SetupEntry.c_str());
  std::printf("\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  PreparePlatform();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
    std::fputs(kInfoHelp, stdout);
    std::fputs(kProjectHelp, stdout);
    std::fputs(kExitHelp, stdout);
    return 0;
  }
  if (command == "build") return RunBuild(args);
  if (command == "inspect" || command == "verify") {
    std::string path;
    bool json = false;
    for (const std::string& a : args) {
      if (a == "--json" && command == "inspect") json = true;
      else if (a.compare(0, 2, "--") == 0) return Fail("unknown option " + a + " for " + command, 2);
      else if (path.empty()) path = a;
      else return Fail(command + " takes one package", 2);
    }
    if (path.empty()) return Fail(command + " needs a package", 2);
    if (command == "inspect") return InspectPackage(path, json, stdout, stderr);
    std::string summary, reason;
    if (!VerifyPackage(path, summary, reason)) return Fail(reason, 1);
    std::printf("%s\n", summary.c_str());
    return 0;
  }
  if (command == "extract") return RunExtract(args);
  if (command == "info") return RunInfo(args);
  std::fputs(kUsage, stderr);
  return Fail("unknown command " + command, 2);
}
