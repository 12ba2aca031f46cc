// The stub's flow: space check, extraction, the setup and its hand-shake.
#pragma once

#include <string>

#include "package/PackX.h"

bool ExtractAndRunSetup(const std::string& destFolder, const std::string& packagePath, const std::string& agentName,
                        std::string params, bool visible);
bool HasRoomFor(const std::string& folder, const std::string& packagePath);
bool ConfirmTempSpace(const std::string& folder, const std::string& packagePath, const TGFileInfo& reader);
bool ForcePromptSet();
