// Extraction into a plain folder of the host, for korvan-pack.
#pragma once

#include <string>

#include "package/UnPack.h"

// Error boxes the stub would show are collected in Messages, one a line.
TExtractResult ExtractToFolder(const std::string& packagePath, const std::string& destFolder, std::string& messages);
