// The update agent's decisions that need no system call: when a check is
// due, whether an update applies to the installed version, the texts it
// builds and the switches its launcher hands to the copy. The Win32 agent
// (Agent.h) feeds these from the settings files and the clock.
#pragma once

#include <cstdint>
#include <string>

#include "paths/Common.h"

// Results of the due test.
const int kCheckNotDue = 0;
const int kCheckDue = 1;
const int kCheckDueOnce = 2;  // due, and the only check of this run

// The due test. Periodic: checks of this run are still allowed; CheckNow: a
// check was asked for. In test mode the interval is 5 seconds. An interval
// of 0 allows one check per run, -1 none unless asked for.
int CheckDueAt(bool periodic, bool checkNow, int64_t probeInterval, int64_t probeLast, int64_t now, bool testMode);

// "ValidVersions" is a comma-separated list of installed versions the update
// applies to; an empty list accepts every version.
bool VersionListAccepts(const std::string& validVersions, int32_t versionOriginal);

// A declined offer may come again once Interval seconds have passed since
// Last; an interval of 0 or less never lets it.
bool ReAskDueAt(int64_t now, int64_t reAskLast, int64_t reAskInterval);

// A source whose second character is ":" is a drive path, anything else a URL.
bool IsDrivePath(const std::string& source);

// The question before a check: the first text (PROG_NAME replaced by the
// product name), a hint about the connection when Source is a URL, then the
// closing question.
std::string CheckQuestionText(const std::string& first, const std::string& hint, const std::string& last,
                              const std::string& source, const std::string& programName);

// The first part of the check question when the settings file has none.
std::string DefaultCheckQuestionFirst(const std::string& programName);

// The error text of a server page that came instead of the file: the 404 text
// with the URL when Content carries an HTML title, Default otherwise.
std::string ErrorPageText(const std::string& content, const std::string& url, const std::string& def);

// The copy's switches from the launcher's: " /TRANSIENTx=" with the override
// text, then " /SleepX=" with the start delay, each only when given.
std::string CopyArguments(const std::string& transient, const std::string& delay);

// The target of "/WM_MSG=": window and message number, in decimal, split at
// ":"; a part that is missing or not a number gives 0.
void ParseNotifyTarget(const std::string& value, int64_t& window, int64_t& message);

// "DD-MM-YYYY  HH:MM:SS".
std::string FireTimeText(const TLocalTime& now);

// How the running product is stopped before an update.
enum TShutDownMethod {
  sdmMessageBox,  // ask the user until the product has been closed
  sdmWmClose,
  sdmWmQuit,
  sdmTerminate,
  sdmNone,        // leave it running and do not wait
  sdmUnknown,     // nothing is sent, but the wait is as for the others
};
// The method a "ShutDownMethod" text names (exact, case-sensitive).
TShutDownMethod ShutDownMethodOf(const std::string& text);

// A path put in double quotes for a command line, unless it has them already.
std::string QuotedPath(const std::string& path);
