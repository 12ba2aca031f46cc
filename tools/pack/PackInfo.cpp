#include "PackInfo.h"

#include <cstdio>

#include "PackBuild.h"
#include "PackOs.h"
#include "package/PackX.h"
#include "util/Utils.h"

const char* const kInfoHelp =
    "info: writes the information file (NAME.info, NAME being the product's\n"
    "--settings-name without its extension) that the installed update agent\n"
    "fetches from the package's --update-url. Every key of [NewSetup] is\n"
    "written; the file appears only when complete.\n"
    "  --out FILE              the information file, ending in .info\n"
    "  --update FILE           the update package (built with the product's\n"
    "                          --agent-token): NameOfUpdateFile and\n"
    "                          SizeOfUpdateFile are taken from it\n"
    "  --update-name NAME      its file name at the source (default: its own)\n"
    "  --download-url URL      DownloadURL_UPDATE: address or folder the update\n"
    "                          package lies in, without the file name\n"
    "  --version-new N         VersionNew: the version the update installs\n"
    "  --stamp N               Stamp: a new stamp makes the agent offer the\n"
    "                          update again to users who declined it\n"
    "  --valid-versions LIST   ValidVersions: installed versions it applies\n"
    "                          to, e.g. 3,4,7 (default: every version)\n"
    "  --shutdown METHOD       ShutDownMethod: how the running product is\n"
    "                          stopped: message-box, wm-close, wm-quit,\n"
    "                          terminate or none (or the key's own text,\n"
    "                          e.g. \"Using WM_CLOSE\")\n"
    "  --running-process PATH  RunningProcess: the product's program, with\n"
    "                          path macros\n"
    "  --program-name NAME     ProgramName, shown in the agent's questions\n"
    "  --agent-token TEXT      refuse an update package without this token\n"
    "  Flags (written 1 when given, else 0):\n"
    "  --request-confirmation-before-download  RequestConfirmationBeforeDownload\n"
    "  --request-confirmation-before-install   RequestConfirmationBeforeInstall\n"
    "  --background-update     BackgroundUpdate: no progress window\n"
    "  --restart-process       RestartProcess: start the product again\n"
    "  --inform-finish         InformFinish: tell the user when done\n"
    "  --remove-startup-shortcut               RemoveStartUpShortcut\n"
    "  --remove-check-for-new-update-shortcut  RemoveCheckForNewUpdateShortcut\n"
    "\n";

namespace {

enum TKind { kText, kFlag };

struct TInfoOptionDef {
  const char* name;
  TKind kind;
  std::string TInfoOptions::*text;
  bool TInfoOptions::*flag;
};

const TInfoOptionDef kInfoOptions[] = {
    {"out", kText, &TInfoOptions::Out, nullptr},
    {"update", kText, &TInfoOptions::Update, nullptr},
    {"update-name", kText, &TInfoOptions::UpdateName, nullptr},
    {"download-url", kText, &TInfoOptions::DownloadUrl, nullptr},
    {"version-new", kText, &TInfoOptions::VersionNew, nullptr},
    {"stamp", kText, &TInfoOptions::Stamp, nullptr},
    {"valid-versions", kText, &TInfoOptions::ValidVersions, nullptr},
    {"shutdown", kText, &TInfoOptions::ShutDown, nullptr},
    {"running-process", kText, &TInfoOptions::RunningProcess, nullptr},
    {"program-name", kText, &TInfoOptions::ProgramName, nullptr},
    {"agent-token", kText, &TInfoOptions::AgentToken, nullptr},
    {"request-confirmation-before-download", kFlag, nullptr, &TInfoOptions::RequestConfirmationBeforeDownload},
    {"request-confirmation-before-install", kFlag, nullptr, &TInfoOptions::RequestConfirmationBeforeInstall},
    {"background-update", kFlag, nullptr, &TInfoOptions::BackgroundUpdate},
    {"restart-process", kFlag, nullptr, &TInfoOptions::RestartProcess},
    {"inform-finish", kFlag, nullptr, &TInfoOptions::InformFinish},
    {"remove-startup-shortcut", kFlag, nullptr, &TInfoOptions::RemoveStartUpShortcut},
    {"remove-check-for-new-update-shortcut", kFlag, nullptr, &TInfoOptions::RemoveCheckForNewUpdateShortcut},
};

// Short names of the shut-down methods; the key holds the long text, which
// the agent compares exactly.
const struct {
  const char* shortName;
  const char* text;
} kMethods[] = {
    {"message-box", "Issue a Message Box"},   {"wm-close", "Using WM_CLOSE"},
    {"wm-quit", "Using WM_QUIT"},             {"terminate", "Using Terminate Process"},
    {"none", "Don't Shut Down"},
};

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string FilePart(const std::string& path) {
  size_t p = path.find_last_of("/\\");
  return p == std::string::npos ? path : path.substr(p + 1);
}

bool HasControlCharacter(const std::string& s) {
  for (unsigned char c : s)
    if (c < 32 || c == 127) return true;
  return false;
}

bool EndsWithInfo(const std::string& s) {
  return s.size() > 5 && UpperCaseAscii(s.substr(s.size() - 5)) == ".INFO";
}

// A version or stamp as the agent reads it: a signed 32-bit number, here
// from 1 up (0 is what a product without settings reads, so it could never
// be newer; see the callers).
bool PositiveInt32(const std::string& text, int64_t& value) {
  return TryStrToInt64(text, value) && value >= 1 && value <= 0x7FFFFFFF;
}

std::string MethodText(const std::string& given) {
  for (const auto& m : kMethods)
    if (given == m.shortName || given == m.text) return m.text;
  return "";
}

std::string MethodNames() {
  std::string names;
  for (const auto& m : kMethods) names += std::string(names.empty() ? "" : ", ") + m.shortName;
  return names;
}

// "3, 4,7" -> "3,4,7". The agent looks for ",VERSION," in "," + list + ",",
// so a blank would hide a version; blanks around the numbers are dropped and
// anything else that is no version is refused.
bool NormalValidVersions(const std::string& given, int64_t versionNew, std::string& list, std::string& error) {
  list.clear();
  if (Trim(given).empty()) return true;
  size_t start = 0;
  for (;;) {
    size_t comma = given.find(',', start);
    std::string token = Trim(given.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    int64_t v;
    if (!PositiveInt32(token, v)) {
      error = "--valid-versions " + Quoted(given) + ": " + Quoted(token) +
              " is no version (a number from 1 to 2147483647)";
      return false;
    }
    if (v >= versionNew) {
      error = "--valid-versions " + Quoted(given) + ": version " + token + " is not below --version-new " +
              IntToStr(versionNew) + ", so the agent would never offer the update to it";
      return false;
    }
    list += (list.empty() ? "" : ",") + IntToStr(v);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

}  // namespace

bool ParseInfoArguments(const std::vector<std::string>& args, TInfoOptions& options, std::string& error) {
  options = TInfoOptions();
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.compare(0, 2, "--") != 0 || a.size() == 2) return error = "info takes options only, not " + Quoted(a), false;
    std::string name = a.substr(2), value;
    size_t eq = name.find('=');
    bool hasValue = eq != std::string::npos;
    if (hasValue) {
      value = name.substr(eq + 1);
      name.erase(eq);
    }
    const TInfoOptionDef* d = nullptr;
    for (const TInfoOptionDef& o : kInfoOptions)
      if (name == o.name) d = &o;
    if (!d) return error = "unknown option --" + name + " for info", false;
    if (d->kind == kFlag) {
      if (hasValue) return error = "--" + name + " is a flag and takes no value", false;
      options.*d->flag = true;
      continue;
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) return error = "--" + name + " needs a value", false;
      value = args[++i];
    }
    options.*d->text = value;
  }
  return true;
}

bool BuildInfoText(const TInfoOptions& o, std::string& text, std::vector<std::string>& warnings, std::string& error) {
  // Texts end up as "key=value" lines: a line break would cut the file.
  const struct {
    const char* option;
    const std::string* value;
  } texts[] = {{"--out", &o.Out},           {"--update", &o.Update},
               {"--update-name", &o.UpdateName}, {"--download-url", &o.DownloadUrl},
               {"--running-process", &o.RunningProcess}, {"--program-name", &o.ProgramName},
               {"--valid-versions", &o.ValidVersions},   {"--agent-token", &o.AgentToken}};
  for (const auto& t : texts)
    if (HasControlCharacter(*t.value)) return error = std::string(t.option) + " must not hold a control character", false;

  if (o.Out.empty()) return error = "no output: give --out NAME.info", false;
  if (!EndsWithInfo(o.Out))
    return error = "--out " + o.Out + ": the agent fetches NAME.info, so the file must end in .info", false;
  if (o.Update.empty()) return error = "no update package: give --update FILE", false;
  if (o.DownloadUrl.empty())
    return error = "no --download-url: the agent needs the address or folder of the update package", false;
  if (o.VersionNew.empty()) return error = "no --version-new: give the version the update installs", false;
  if (o.Stamp.empty()) return error = "no --stamp: give the update's stamp", false;
  if (o.ShutDown.empty())
    return error = "no --shutdown: give how the running product is stopped (" + MethodNames() + ")", false;

  int64_t versionNew, stamp;
  if (!PositiveInt32(o.VersionNew, versionNew))
    return error = "--version-new takes a number from 1 to 2147483647, not " + Quoted(o.VersionNew), false;
  // A product that was never offered an update has the stamp 0: an update
  // with that stamp would look offered already.
  if (!PositiveInt32(o.Stamp, stamp))
    return error = "--stamp takes a number from 1 to 2147483647, not " + Quoted(o.Stamp), false;
  std::string validVersions;
  if (!NormalValidVersions(o.ValidVersions, versionNew, validVersions, error)) return false;
  std::string method = MethodText(o.ShutDown);
  if (method.empty())
    return error = "--shutdown " + Quoted(o.ShutDown) + " is no shut-down method: give one of " + MethodNames(), false;

  std::string url = Trim(o.DownloadUrl);
  // The agent appends "/" or "\" and the name itself.
  while (!url.empty() && (url.back() == '/' || url.back() == '\\')) url.pop_back();
  if (url.empty()) return error = "--download-url " + Quoted(o.DownloadUrl) + " names no address or folder", false;

  std::string name = o.UpdateName.empty() ? FilePart(o.Update) : o.UpdateName;
  std::string problem = FileNameProblem(name);
  if (!problem.empty()) return error = "--update-name " + Quoted(name) + ": " + problem, false;

  TFileFacts facts;
  if (!GetFileFacts(o.Update, facts)) return error = "missing input file: " + o.Update + " (the update package)", false;
  if (!facts.IsRegular) return error = "not a regular file: " + o.Update, false;
  std::string outReal = RealPathOf(o.Out);
  if (!outReal.empty() && outReal == RealPathOf(o.Update))
    return error = "--out " + o.Out + " is the update package itself", false;
  // The agent runs the update through the stub's extraction and accepts it
  // only when it carries the installed product's token.
  TGFileInfo update(o.Update);
  if (!update.HasMagic()) return error = "--update " + o.Update + " carries no package", false;
  if (update.IsInternetMode())
    return error = "--update " + o.Update + " is an internet-mode package, which carries no files to install", false;
  if (IsSpanned(update.Header))
    return error = "--update " + o.Update +
                   " is spanned over volumes, and the agent fetches one file: build it without --volume-size",
           false;
  if (update.AgentToken(false).empty())
    return error = "--update " + o.Update +
                   " carries no agent token, so no agent would accept it: build it with the product's --agent-token",
           false;
  if (!o.AgentToken.empty() && update.AgentToken(true) != o.AgentToken)
    return error = "--update " + o.Update + " carries another agent token than --agent-token", false;

  if (o.RestartProcess && o.RunningProcess.empty())
    warnings.push_back("--restart-process without --running-process: there is no product to start again");
  if (o.RestartProcess && method == "Don't Shut Down")
    warnings.push_back("--restart-process with --shutdown none: a product left running is not started again");

  const struct {
    const char* key;
    std::string value;
  } keys[] = {
      {"DownloadURL_UPDATE", url},
      {"NameOfUpdateFile", name},
      {"SizeOfUpdateFile", IntToStr(int64_t(facts.Size))},
      {"RequestConfirmationBeforeDownload", o.RequestConfirmationBeforeDownload ? "1" : "0"},
      {"RequestConfirmationBeforeInstall", o.RequestConfirmationBeforeInstall ? "1" : "0"},
      {"BackgroundUpdate", o.BackgroundUpdate ? "1" : "0"},
      {"ShutDownMethod", method},
      {"RestartProcess", o.RestartProcess ? "1" : "0"},
      {"InformFinish", o.InformFinish ? "1" : "0"},
      {"RunningProcess", o.RunningProcess},
      {"ProgramName", o.ProgramName},
      {"VersionNew", IntToStr(versionNew)},
      {"Stamp", IntToStr(stamp)},
      {"ValidVersions", validVersions},
      {"RemoveStartUpShortcut", o.RemoveStartUpShortcut ? "1" : "0"},
      {"RemoveCheckForNewUpdateShortcut", o.RemoveCheckForNewUpdateShortcut ? "1" : "0"},
  };
  text = "[NewSetup]\r\n";
  for (const auto& k : keys) text += std::string(k.key) + "=" + k.value + "\r\n";
  return true;
}

int RunInfo(const std::vector<std::string>& args) {
  TInfoOptions options;
  std::string error;
  if (!ParseInfoArguments(args, options, error)) {
    std::fprintf(stderr, "korvan-pack: %s\n", error.c_str());
    return 2;
  }
  std::string text;
  std::vector<std::string> warnings;
  bool ok = BuildInfoText(options, text, warnings, error);
  for (const std::string& w : warnings) std::fprintf(stderr, "korvan-pack: warning: %s\n", w.c_str());
  TOutFile out;
  if (ok) ok = out.Create(options.Out, 0644, error);
  if (ok && !out.Append(text.data(), text.size())) {
    error = "cannot write " + options.Out;
    out.Discard();
    ok = false;
  }
  if (ok) ok = out.Commit(error);
  if (!ok) {
    std::fprintf(stderr, "korvan-pack: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s: version %s, stamp %s, update %s\n", options.Out.c_str(), options.VersionNew.c_str(),
              options.Stamp.c_str(), FilePart(options.UpdateName.empty() ? options.Update : options.UpdateName).c_str());
  return 0;
}
