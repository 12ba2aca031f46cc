// The stub's flow: space check, extraction, the setup and its hand-shake.
#pragma once

#include <string>

#include "package/PackX.h"

bool ExtractAndRunSetup(const std::string& destFolder, const std::string& packagePath, const std::string& agentName,
                        std::string params, bool visible);
bool HasRoomFor(const std::string& folder, const std::string& packagePath);
bool ConfirmTempSpace(const std::string& folder, const std::string& packagePath, const TGFileInfo& reader);
bool ForcePromptSet();
// Fetches the setup package SetupFileName from Source (a web address, or the
// folder it lies in), checks that it belongs to this product and runs it
// through ExtractAndRunSetup in WorkDir; a downloaded package is removed.
void InternetDownloadMode(const std::string& workDir, const std::string& source, const std::string& setupFileName);
