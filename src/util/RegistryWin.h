// Win32 forms of the registry path helpers, for code that opens keys itself.
#pragma once

#include <windows.h>

#include <string>

#include "util/Registry.h"

HKEY RootKeyOf(const std::string& rootName);
void SplitRegPath(const std::string& path, HKEY& root, std::string& subKey);
