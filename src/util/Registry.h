// Registry access through one path string such as
// "HKEY_CURRENT_USER\Software\Korvan_Dyn_Data". No key stays open between calls.
#pragma once

#include <string>

// Reads a value as text (a 4-byte DWORD as unsigned decimal); Default when the
// key or value is missing or does not fit the 2048-byte buffer.
std::string RegReadString(const std::string& path, const std::string& valueName, const std::string& def);
// Creates or opens the key and writes Data plus its terminating zero.
bool RegWriteValue(const std::string& path, const std::string& valueName, const std::string& data,
                   unsigned long valueType = 1 /* REG_SZ */);
