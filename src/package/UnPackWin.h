// The stub's extraction: the portable core driven by the stub window, the
// message box and Win32 files.
#pragma once

#include <string>

#include "package/UnPack.h"

typedef void (*TProgressProc)(int kind, int zero, int rangeMax, int position, int step, const std::string& text);

// Extracts every volume of PackagePath into DestFolder. CrcOk is false for a
// bad checksum and for a package damaged past it; SetupEntry is "" when there
// is no setup or the user cancelled a volume prompt.
void ExtractPackage(const std::string& packagePath, const std::string& destFolder, const std::string& agentName,
                    bool& crcOk, TProgressProc progress, const std::string& diskPrompt,
                    const std::string& promptCaption, const std::string& buttonList, int charset, bool forcePrompt,
                    std::string& setupEntry);

// Ends the extraction under way, if any, at its next piece: the window that
// ran it has gone. No setup is started and no message follows; the caller
// deletes the folder as after a cancelled volume prompt.
void StopExtraction();
