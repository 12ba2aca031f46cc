#include "PackOptions.h"

#include <set>

#include "PackIni.h"
#include "PackOs.h"
#include "PackStubs.h"
#include "util/Utils.h"

const char* const kProjectHelp =
    "Project file (korvan-pack build PROJECT.ini [OPTION...], or --project FILE):\n"
    "  The first argument after build names a project when it ends in .ini.\n"
    "  An INI file whose keys are the build options without their dashes.\n"
    "  Keys stand before any section or in [package]; relative paths are taken\n"
    "  from the project file's folder, which is also the default for dir.\n"
    "  Flags take 1/0, true/false or yes/no. [files] lists one file per line,\n"
    "  in package order, written as on the command line (NAME or NAME*ARGS).\n"
    "  Options given on the command line override the file's keys; files\n"
    "  given there follow the file's. Lines starting with ; or # are comments.\n"
    "\n"
    "    [package]\n"
    "    stub = ../build/win64/stub.exe\n"
    "    out = ../build/demo/setup.exe\n"
    "    dir = files\n"
    "    lang = lang.ini\n"
    "    setup = Setup.exe*/quiet\n"
    "    update-url = http://updates.example.test/demo\n"
    "    settings-name = demo.ini\n"
    "    agent-name = DemoAgent.exe\n"
    "    agent-token = demo-token\n"
    "    silent = 0\n"
    "    announce-temp-drive = 1\n"
    "    creates-agent = 0\n"
    "    ; volume-size = 1457664\n"
    "    ; internet mode instead of files:\n"
    "    ; download-url = http://downloads.example.test/pub\n"
    "    ; download-package = ../build/demo/setup.exe\n"
    "    ; download-token = demo-download-token\n"
    "    ; ask-before-download = 1\n"
    "\n"
    "    [files]\n"
    "    readme.txt\n"
    "    data.bin\n";

namespace {

enum TKind { kPath, kText, kFlag, kMulti, kNumber, kSize, kLater };

struct TOptionDef {
  const char* name;
  TKind kind;
  std::string TBuildOptions::*text;
  bool TBuildOptions::*flag;
};

const TOptionDef kOptions[] = {
    {"stub", kPath, &TBuildOptions::Stub, nullptr},
    {"arch", kText, &TBuildOptions::Arch, nullptr},
    {"out", kPath, &TBuildOptions::Out, nullptr},
    {"dir", kPath, &TBuildOptions::Dir, nullptr},
    {"lang", kPath, &TBuildOptions::Lang, nullptr},
    {"setup", kMulti, nullptr, nullptr},
    {"update-url", kText, &TBuildOptions::UpdateUrl, nullptr},
    {"settings-name", kText, &TBuildOptions::SettingsName, nullptr},
    {"agent-name", kText, &TBuildOptions::AgentName, nullptr},
    {"agent-token", kText, &TBuildOptions::AgentToken, nullptr},
    {"silent", kFlag, nullptr, &TBuildOptions::Silent},
    {"announce-temp-drive", kFlag, nullptr, &TBuildOptions::AnnounceTempDrive},
    {"creates-agent", kFlag, nullptr, &TBuildOptions::CreatesAgent},
    {"jobs", kNumber, nullptr, nullptr},
    {"internet", kFlag, nullptr, &TBuildOptions::Internet},
    {"ask-before-download", kFlag, nullptr, &TBuildOptions::AskBeforeDownload},
    {"always-download", kFlag, nullptr, &TBuildOptions::AlwaysDownload},
    {"download-url", kText, &TBuildOptions::DownloadUrl, nullptr},
    {"download-name", kText, &TBuildOptions::DownloadName, nullptr},
    {"download-token", kText, &TBuildOptions::DownloadToken, nullptr},
    {"download-size", kText, &TBuildOptions::DownloadSize, nullptr},
    {"download-package", kPath, &TBuildOptions::DownloadPackage, nullptr},
    {"volume-size", kSize, nullptr, nullptr},
    {"quiet", kFlag, nullptr, &TBuildOptions::Quiet},
};

const TOptionDef* FindOption(const std::string& name) {
  for (const TOptionDef& d : kOptions)
    if (name == d.name) return &d;
  return nullptr;
}

bool ParseFlag(const std::string& text, bool& value) {
  std::string t = UpperCaseAscii(Trim(text));
  if (t == "1" || t == "TRUE" || t == "YES") return value = true, true;
  if (t == "0" || t == "FALSE" || t == "NO") return value = false, true;
  return false;
}

// Sets one option; Base is the folder relative paths are taken from.
bool Apply(const TOptionDef& d, const std::string& value, bool hasValue, const std::string& base,
           TBuildOptions& o, const std::string& where, std::string& error) {
  switch (d.kind) {
    case kLater:
      error = where + std::string(d.name) + " is not supported by this korvan-pack yet";
      return false;
    case kFlag: {
      bool v = true;
      if (hasValue && !ParseFlag(value, v)) {
        error = where + std::string(d.name) + " takes 1 or 0, not \"" + value + "\"";
        return false;
      }
      o.*d.flag = v;
      return true;
    }
    case kNumber: {
      int64_t n;
      if (!TryStrToInt64(value, n) || n < 0 || n > 256) {
        error = where + "jobs takes a number from 0 to 256, not \"" + value + "\"";
        return false;
      }
      o.Jobs = unsigned(n);
      return true;
    }
    case kSize: {
      // The first volume's end is stored as a signed 32-bit value.
      int64_t n;
      if (!TryStrToInt64(value, n) || n < 0 || n > 0x7FFFFFFF) {
        error = where + "volume-size takes a size in bytes up to 2147483647, not \"" + value + "\"";
        return false;
      }
      o.VolumeSize = uint64_t(n);
      return true;
    }
    case kMulti:
      if (value.empty()) break;
      o.Setup.push_back(value);
      return true;
    case kPath:
      if (value.empty()) break;
      o.*d.text = base.empty() ? value : JoinPath(base, value);
      return true;
    case kText:
      o.*d.text = value;
      return true;
  }
  error = where + std::string(d.name) + " needs a value";
  return false;
}

bool ReadProject(const std::string& path, TBuildOptions& o, std::string& error) {
  std::vector<TIniSection> sections;
  if (!ReadIniFile(path, sections, error)) return false;
  std::string base = DirPartOf(path);
  o.Project = path;
  o.Dir = base;
  std::set<std::string> seen;
  for (const TIniSection& s : sections) {
    std::string name = UpperCaseAscii(s.Name);
    if (name == "FILES") {
      for (const TIniLine& l : s.Lines) o.Files.push_back(l.Raw);
      continue;
    }
    if (!name.empty() && name != "PACKAGE") {
      error = path + " line " + IntToStr(s.Number) + ": unknown section [" + s.Name + "]";
      return false;
    }
    for (const TIniLine& l : s.Lines) {
      std::string where = path + " line " + IntToStr(l.Number) + ": ";
      std::string key = l.Key;
      for (char& c : key) c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
      const TOptionDef* d = l.HasValue ? FindOption(key) : nullptr;
      if (!d) {
        error = where + (l.HasValue ? "unknown key \"" + l.Key + "\"" : "expected key = value");
        return false;
      }
      if (d->kind != kMulti && !seen.insert(key).second) {
        error = where + key + " given twice";
        return false;
      }
      if (!Apply(*d, l.Value, true, d->kind == kPath ? base : "", o, where, error)) return false;
    }
  }
  return true;
}

bool EndsWithIni(const std::string& s) { return s.size() > 4 && UpperCaseAscii(s.substr(s.size() - 4)) == ".INI"; }

}  // namespace

bool ParseBuildArguments(const std::vector<std::string>& args, TBuildOptions& options, std::string& error) {
  struct TGiven {
    const TOptionDef* def;
    std::string value;
    bool hasValue;
  };
  std::vector<TGiven> given;
  std::vector<std::string> positional;
  std::string project;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      positional.insert(positional.end(), args.begin() + long(i) + 1, args.end());
      break;
    }
    if (a.compare(0, 2, "--") != 0 || a.size() == 2) {
      positional.push_back(a);
      continue;
    }
    std::string name = a.substr(2), value;
    size_t eq = name.find('=');
    bool hasValue = eq != std::string::npos;
    if (hasValue) {
      value = name.substr(eq + 1);
      name.erase(eq);
    }
    if (name == "project") {
      if (!hasValue) {
        if (i + 1 >= args.size()) return error = "--project needs a file", false;
        value = args[++i];
      }
      project = value;
      continue;
    }
    const TOptionDef* d = FindOption(name);
    if (!d) return error = "unknown option --" + name, false;
    if (!hasValue && d->kind != kFlag && d->kind != kLater) {
      if (i + 1 >= args.size()) return error = "--" + name + " needs a value", false;
      value = args[++i];
      hasValue = true;
    }
    given.push_back(TGiven{d, value, hasValue});
  }
  // "build project.ini ...": only the very first argument can name a project,
  // so "build --stub S --out O setup.ini" still packs setup.ini.
  if (project.empty() && !args.empty() && !positional.empty() && positional[0] == args[0] && EndsWithIni(args[0])) {
    project = positional[0];
    positional.erase(positional.begin());
  }
  options = TBuildOptions();
  if (!project.empty() && !ReadProject(project, options, error)) return false;
  bool setupReplaced = false;
  for (const TGiven& g : given) {
    // Several --setup on the command line add up, but replace the project's.
    if (g.def->kind == kMulti && !setupReplaced) {
      options.Setup.clear();
      setupReplaced = true;
    }
    if (!Apply(*g.def, g.value, g.hasValue, "", options, "--", error)) return false;
  }
  options.Files.insert(options.Files.end(), positional.begin(), positional.end());
  // Without --stub the build takes the installed stub of --arch.
  if (!options.Arch.empty() && !IsStubArch(options.Arch))
    return error = "--arch takes i686 or x86_64, not \"" + options.Arch + "\"", false;
  if (options.Out.empty()) return error = "no output: give --out FILE", false;
  return true;
}
