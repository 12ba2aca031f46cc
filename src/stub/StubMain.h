// Start-up and the choice of role.
#pragma once

#include <string>

#include "package/PackX.h"

extern bool ThisIs_AutoUpdateProg;
extern std::string StubClassName;

// The reader over the program's own file; lives from the start of Main to its end.
TGFileInfo& GlobalPackage();

void RunRole();
bool AgentWindowExists();
bool IsAgentFileName();
bool IsAgentCopy();
bool ReadTestMode(bool force);
extern bool TestMode;
extern std::string TestModeURL;

// Writes a trace line behind the process id; Text starts with a blank.
void TracePid(const std::string& text);
