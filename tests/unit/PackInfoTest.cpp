// korvan-pack info: the information file an installed agent fetches, written
// from options with the keys the agent reads, and refusals that name the
// culprit in one line and leave the folder as it was.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "PackTestKit.h"
#include "util/Utils.h"

namespace {

using namespace packkit;

// A folder with a fake stub and the packages an update could be: one of the
// product (token "prod"), one without an agent token, one spanned over
// volumes, one in internet mode.
std::string Folder() {
  std::string dir = ScratchDir();
  WriteBytes(dir + "/stub.exe", FakeStub(1536));
  WriteBytes(dir + "/Setup.exe", SampleBytes(3000, 5));
  WriteBytes(dir + "/b.txt", SampleBytes(20000, 9));
  struct {
    std::vector<std::string> args;
  } builds[] = {
      {{"--out", "update.exe", "--setup", "Setup.exe", "--agent-token", "prod"}},
      {{"--out", "notoken.exe", "--setup", "Setup.exe"}},
      {{"--out", "span.exe", "--setup", "Setup.exe", "--agent-token", "prod", "--volume-size", "3000", "b.txt"}},
      {{"--out", "web.exe", "--agent-token", "prod", "--download-url", "http://h", "--download-name", "s.exe",
        "--download-token", "t", "--download-size", "10"}},
  };
  for (auto& b : builds) {
    std::vector<std::string> args = {"build", "--stub", "stub.exe"};
    args.insert(args.end(), b.args.begin(), b.args.end());
    TRun run = RunPack(args, dir);
    EXPECT_EQ(run.Code, 0) << run.Err;
  }
  EXPECT_TRUE(Exists(dir + "/span.exe.002"));
  WriteBytes(dir + "/plain.bin", "not a package");
  WriteBytes(dir + "/old.info", "[NewSetup]\r\nVersionNew=1\r\n");
  return dir;
}

// "key=value" lines of the one section, in order; the section name first.
std::vector<std::pair<std::string, std::string>> Lines(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "every line ends in CR LF";
    if (end == std::string::npos) break;
    std::string line = text.substr(start, end - start);
    size_t eq = line.find('=');
    lines.emplace_back(line.substr(0, eq), eq == std::string::npos ? "" : line.substr(eq + 1));
    start = end + 2;
  }
  return lines;
}

std::vector<std::string> Base(const std::string& method = "none") {
  return {"info", "--out", "prod.info", "--update", "update.exe", "--download-url", "http://updates.test/prod/",
          "--version-new", "5", "--stamp", "12", "--shutdown", method};
}

TEST(PackInfo, WritesEveryKeyTheAgentReads) {
  std::string dir = Folder();
  std::vector<std::string> args = Base("wm-close");
  args.insert(args.end(), {"--valid-versions", "3, 4 ,2", "--running-process", "<InstallDir>Prod.exe",
                           "--program-name", "Prod Suite", "--agent-token", "prod", "--update-name", "prod-5.exe",
                           "--request-confirmation-before-download", "--request-confirmation-before-install",
                           "--background-update", "--restart-process", "--inform-finish", "--remove-startup-shortcut",
                           "--remove-check-for-new-update-shortcut"});
  TRun run = RunPack(args, dir);
  ASSERT_EQ(run.Code, 0) << run.Err;
  EXPECT_EQ(run.Err, "");
  std::string size = IntToStr(int64_t(ReadBytes(dir + "/update.exe").size()));
  std::vector<std::pair<std::string, std::string>> want = {
      {"[NewSetup]", ""},
      {"DownloadURL_UPDATE", "http://updates.test/prod"},
      {"NameOfUpdateFile", "prod-5.exe"},
      {"SizeOfUpdateFile", size},
      {"RequestConfirmationBeforeDownload", "1"},
      {"RequestConfirmationBeforeInstall", "1"},
      {"BackgroundUpdate", "1"},
      {"ShutDownMethod", "Using WM_CLOSE"},
      {"RestartProcess", "1"},
      {"InformFinish", "1"},
      {"RunningProcess", "<InstallDir>Prod.exe"},
      {"ProgramName", "Prod Suite"},
      {"VersionNew", "5"},
      {"Stamp", "12"},
      // Blanks would hide a version from the agent's ",N," search.
      {"ValidVersions", "3,4,2"},
      {"RemoveStartUpShortcut", "1"},
      {"RemoveCheckForNewUpdateShortcut", "1"},
  };
  EXPECT_EQ(Lines(ReadBytes(dir + "/prod.info")), want);
  // Nothing else written: no temporary file left beside it.
  for (const std::string& n : ListDir(dir)) EXPECT_EQ(n.find(".tmp-"), std::string::npos) << n;
}

TEST(PackInfo, FlagsNotGivenAreZeroAndNameAndSizeComeFromTheUpdate) {
  std::string dir = Folder();
  ASSERT_EQ(RunPack(Base(), dir).Code, 0);
  std::map<std::string, std::string> keys;
  for (auto& kv : Lines(ReadBytes(dir + "/prod.info"))) keys[kv.first] = kv.second;
  const char* flags[] = {"RequestConfirmationBeforeDownload", "RequestConfirmationBeforeInstall", "BackgroundUpdate",
                         "RestartProcess", "InformFinish", "RemoveStartUpShortcut",
                         "RemoveCheckForNewUpdateShortcut"};
  for (const char* f : flags) EXPECT_EQ(keys[f], "0") << f;
  EXPECT_EQ(keys["NameOfUpdateFile"], "update.exe");
  EXPECT_EQ(keys["SizeOfUpdateFile"], IntToStr(int64_t(ReadBytes(dir + "/update.exe").size())));
  EXPECT_EQ(keys["ValidVersions"], "");
  EXPECT_EQ(keys["ShutDownMethod"], "Don't Shut Down");
  EXPECT_EQ(keys.size(), 17u);
}

TEST(PackInfo, EachShutDownMethodByItsShortNameOrItsText) {
  std::string dir = Folder();
  struct {
    const char* given;
    const char* text;
  } rows[] = {
      {"message-box", "Issue a Message Box"},
      {"wm-close", "Using WM_CLOSE"},
      {"wm-quit", "Using WM_QUIT"},
      {"terminate", "Using Terminate Process"},
      {"none", "Don't Shut Down"},
      {"Using WM_QUIT", "Using WM_QUIT"},
      {"Don't Shut Down", "Don't Shut Down"},
  };
  for (auto& r : rows) {
    SCOPED_TRACE(r.given);
    TRun run = RunPack(Base(r.given), dir);
    ASSERT_EQ(run.Code, 0) << run.Err;
    std::string text = ReadBytes(dir + "/prod.info");
    EXPECT_NE(text.find(std::string("\r\nShutDownMethod=") + r.text + "\r\n"), std::string::npos) << text;
  }
}

TEST(PackInfo, RefusesBadInputsWithOneLineAndLeavesNothingBehind) {
  struct {
    const char* what;
    std::vector<std::string> args;  // after the base options
    int code;
    const char* culprit;
    const char* reason;
  } rows[] = {
      {"missing update file", {"--update", "gone.exe"}, 1, "gone.exe", "missing input"},
      {"update that is no package", {"--update", "plain.bin"}, 1, "plain.bin", "no package"},
      {"update without an agent token", {"--update", "notoken.exe"}, 1, "notoken.exe", "no agent token"},
      {"update of another product", {"--agent-token", "other"}, 1, "update.exe", "another agent token"},
      {"spanned update", {"--update", "span.exe"}, 1, "span.exe", "spanned"},
      {"internet-mode update", {"--update", "web.exe"}, 1, "web.exe", "internet-mode"},
      {"bad method name", {"--shutdown", "kill"}, 1, "\"kill\"", "no shut-down method"},
      // The agent compares the text exactly.
      {"method in another case", {"--shutdown", "using wm_close"}, 1, "using wm_close", "no shut-down method"},
      {"no method", {"--shutdown", ""}, 1, "--shutdown", "wm-close"},
      {"out not .info", {"--out", "prod.ini"}, 1, "prod.ini", ".info"},
      {"version that is no number", {"--version-new", "v5"}, 1, "\"v5\"", "--version-new"},
      {"version 0", {"--version-new", "0"}, 1, "\"0\"", "--version-new"},
      {"version beyond 32 bits", {"--version-new", "2147483648"}, 1, "2147483648", "--version-new"},
      {"stamp 0", {"--stamp", "0"}, 1, "\"0\"", "--stamp"},
      {"negative stamp", {"--stamp", "-4"}, 1, "\"-4\"", "--stamp"},
      {"valid version no number", {"--valid-versions", "3,x"}, 1, "\"x\"", "no version"},
      {"empty valid version", {"--valid-versions", "3,,4"}, 1, "\"\"", "no version"},
      {"valid version not below the new one", {"--valid-versions", "3,5"}, 1, "version 5", "never offer"},
      {"no download url", {"--download-url", ""}, 1, "--download-url", "address or folder"},
      {"download url of slashes", {"--download-url", "//"}, 1, "\"//\"", "no address"},
      {"update name with a folder", {"--update-name", "pub/u.exe"}, 1, "pub/u.exe", "path separator"},
      {"line break in a text", {"--program-name", "Prod\nVersionNew=9"}, 1, "--program-name", "control character"},
      {"no stamp", {"--stamp", ""}, 1, "--stamp", "stamp"},
      {"out is the update", {"--out", "update.exe"}, 1, "update.exe", ".info"},
      {"unknown option", {"--frobnicate"}, 2, "--frobnicate", "unknown option"},
      {"value for a flag", {"--inform-finish=1"}, 2, "--inform-finish", "takes no value"},
      {"option without value", {"--stamp"}, 2, "--stamp", "needs a value"},
      {"a stray argument", {"prod.info"}, 2, "prod.info", "options only"},
  };
  for (auto& r : rows) {
    SCOPED_TRACE(r.what);
    std::string dir = Folder();
    std::vector<std::string> before = ListDir(dir);
    std::vector<std::string> args = Base();
    args[2] = "old.info";  // an information file that is there already stays as it was
    // A value given again replaces the one before.
    args.insert(args.end(), r.args.begin(), r.args.end());
    TRun run = RunPack(args, dir);
    EXPECT_EQ(run.Code, r.code);
    EXPECT_NE(run.Err.find(r.culprit), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find(r.reason), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find('\n'), run.Err.size() - 1) << "one line: " << run.Err;
    EXPECT_EQ(ListDir(dir), before) << "nothing written";
    EXPECT_EQ(ReadBytes(dir + "/old.info"), "[NewSetup]\r\nVersionNew=1\r\n");
  }
}

TEST(PackInfo, WarnsOfARestartThatCannotHappen) {
  std::string dir = Folder();
  std::vector<std::string> args = Base("terminate");
  args.push_back("--restart-process");
  TRun run = RunPack(args, dir);
  EXPECT_EQ(run.Code, 0);
  EXPECT_NE(run.Err.find("warning: --restart-process without --running-process"), std::string::npos) << run.Err;
  args = Base("none");
  args.insert(args.end(), {"--restart-process", "--running-process", "C:\\Prod\\Prod.exe"});
  run = RunPack(args, dir);
  EXPECT_EQ(run.Code, 0);
  EXPECT_NE(run.Err.find("warning: --restart-process with --shutdown none"), std::string::npos) << run.Err;
}

TEST(PackInfo, HelpNamesTheCommandAndItsOptions) {
  TRun help = RunPack({"--help"});
  EXPECT_EQ(help.Code, 0);
  const char* words[] = {"korvan-pack info", "--version-new", "--shutdown", "message-box", "--valid-versions",
                         "--request-confirmation-before-install", "--remove-check-for-new-update-shortcut"};
  for (const char* w : words) EXPECT_NE(help.Out.find(w), std::string::npos) << w;
}

}  // namespace
