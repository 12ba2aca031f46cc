#include "agent/AgentLogic.h"


#include "util/Utils.h"

int CheckDueAt(bool periodic, bool checkNow, int64_t probeInterval, int64_t probeLast, int64_t now, bool testMode) {
  int result = kCheckNotDue;
  if (periodic || checkNow) {
    // The interval counts as a 32-bit number; the special values are tested
    // on the full 64-bit key.
    int64_t interval = testMode ? 5 : int64_t(int32_t(probeInterval));
    if (now >= probeLast + interval) result = kCheckDue;
    if (probeInterval == 0 && result == kCheckDue) result = kCheckDueOnce;
    if (probeInterval == -1) result = kCheckNotDue;
    if (checkNow) result = kCheckDue;
  }
  return result;
}

bool VersionListAccepts(const std::string& validVersions, int32_t versionOriginal) {
  if (validVersions.empty()) return true;
  return ("," + validVersions + ",").find("," + IntToStr(versionOriginal) + ",") != std::string::npos;
}

bool ReAskDueAt(int64_t now, int64_t reAskLast, int64_t reAskInterval) {
  return reAskInterval > 0 && now > reAskLast + reAskInterval;
}

bool IsDrivePath(const std::string& source) { return source.size() > 1 && source[1] == ':'; }

std::string CheckQuestionText(const std::string& first, const std::string& hint, const std::string& last,
                              const std::string& source, const std::string& programName) {
  std::string text = ReplaceAll(first, "PROG_NAME", programName);
  if (source.size() > 2 && source[1] != ':') text += hint;
  return text + last;
}

std::string DefaultCheckQuestionFirst(const std::string& programName) {
  return "<b>NEW UPDATE</b>\\\\n\\\\nKorvan will check if a new update is available for: <b>" + programName +
         "</b>\\\\n";
}

std::string ErrorPageText(const std::string& content, const std::string& url, const std::string& def) {
  if (PosText("<TITLE", content) > 0 && PosText("</TITLE", content) > 0)
    return "<b>404 File Not Found...</b><P><P>URL:  " + url;
  return def;
}

std::string CopyArguments(const std::string& transient, const std::string& delay) {
  std::string args;
  if (!transient.empty()) args += " /TRANSIENTx=" + transient;
  if (!delay.empty()) args += " /SleepX=" + delay;
  return args;
}

void ParseNotifyTarget(const std::string& value, int64_t& window, int64_t& message) {
  std::string list = ":" + value + ":";
  window = StrToInt64Def(ListGetToken(list, 0), 0);
  message = StrToInt64Def(ListGetToken(list, 1), 0);
}

std::string FireTimeText(const TLocalTime& t) {
  // Built from padded integers rather than printf, which would pull the C
  // library's whole formatter into the stub for one line.
  return ZeroPadInt(t.day, 2) + "-" + ZeroPadInt(t.month, 2) + "-" + ZeroPadInt(t.year, 4) + "  " +
         ZeroPadInt(t.hour, 2) + ":" + ZeroPadInt(t.minute, 2) + ":" + ZeroPadInt(t.second, 2);
}

TShutDownMethod ShutDownMethodOf(const std::string& text) {
  if (text == "Issue a Message Box") return sdmMessageBox;
  if (text == "Using WM_CLOSE") return sdmWmClose;
  if (text == "Using WM_QUIT") return sdmWmQuit;
  if (text == "Using Terminate Process") return sdmTerminate;
  if (text == "Don't Shut Down") return sdmNone;
  return sdmUnknown;
}

std::string QuotedPath(const std::string& path) {
  if (!path.empty() && path[0] == '"') return path;
  return "\"" + path + "\"";
}
