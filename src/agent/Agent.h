// The update agent: the launcher that makes and starts the background copy,
// the copy's periodic check, and the update itself. The copy runs inside the
// stub window's message loop; every tick of its timer runs AgentTick
// (stub/AgentState.h), and the launcher's two steps are the roles of
// stub/StubRoles.h.
#pragma once

#include <string>

#include "package/PackX.h"

// ---- Launcher and copy -----------------------------------------------------------

// The copy beside the program: its folder + "X_" + its own file name.
std::string AgentCopyPath();

// ---- The check -------------------------------------------------------------------

// kCheckNotDue, kCheckDue or kCheckDueOnce (agent/AgentLogic.h); clears the
// check-now request.
int CheckDue();
// Asks whether to check now; No sets Decision to 0.
void AskCheckQuestion(int& decision);
// One check: the information file fetched, compared with what is installed,
// and the update run when one applies.
void PerformUpdate();
// Kind 1 fetches the information file into the program's folder, Kind 2 the
// update file, from Source (a folder or a URL; the test source in test mode).
const int kFetchInfo = 1;
const int kFetchUpdate = 2;
bool FetchUpdateFile(const std::string& source, const std::string& fileName, int kind);
// The update file at Source has the size the information file announces.
bool UpdateFileReady(const std::string& source, const std::string& fileName);
bool VersionValid();
bool ReAskDue();
// Both packages carry the same agent token.
bool UpdateTokenMatches(const TGFileInfo& own, const TGFileInfo& other);

// ---- The update ------------------------------------------------------------------

// True when the update's setup reported success.
bool DoPerform();
// Starts the agent program anew and ends this copy after the current tick,
// unless a stop has been ordered.
void RestartAgent();

// Message boxes of the agent, with the captions, buttons and charset of the
// installation settings file. Owner null shows the caption as a header.
void AgentErrorBox(HWND owner, const std::string& text);
void AgentWarningBox(HWND owner, const std::string& text);
bool AgentAskYesNo(HWND owner, const std::string& text);
