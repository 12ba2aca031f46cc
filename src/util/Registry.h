// Registry and profile ("ini" file) access. A registry location is one path
// string such as "HKEY_CURRENT_USER\Software\Korvan_Dyn_Data", so that settings
// texts can name keys directly. No key or file stays open between calls;
// reads fall back to the caller's default, writes return a success flag.
//
// The path split and the root-name table are portable; everything that
// touches the registry or a profile file is Win32 (RegistryWin.cpp).
#pragma once

#include <cstdint>
#include <string>

// ---- Portable --------------------------------------------------------------

// The predefined root keys a path can name.
enum TRegRoot {
  kRegClassesRoot,
  kRegCurrentUser,
  kRegLocalMachine,
  kRegUsers,
  kRegCurrentConfig,
  kRegDynData,
};

// Root key of a root name ("HKEY_LOCAL_MACHINE", any letter case);
// HKEY_CURRENT_USER for any name outside the table.
TRegRoot RegRootOf(const std::string& rootName);
// Splits a trimmed path at its first backslash when it starts with "HKEY_";
// any other path is a sub-key of HKEY_CURRENT_USER as a whole.
void SplitRegPath(const std::string& path, TRegRoot& root, std::string& subKey);
// The CurrentVersion key of the Windows family: "...\Windows NT\..." on NT.
std::string CurrentVersionKeyPathFor(bool winNT);

// ---- Win32 -----------------------------------------------------------------

// Reads a value as text (a 4-byte DWORD as unsigned decimal); Default when the
// key or value is missing or does not fit the 2048-byte buffer.
std::string RegReadString(const std::string& path, const std::string& valueName, const std::string& def);
// Creates or opens the key and writes Data plus its terminating zero.
bool RegWriteValue(const std::string& path, const std::string& valueName, const std::string& data,
                   unsigned long valueType = 1 /* REG_SZ */);

// Private-profile access of Section/Key in FileName (a name without a folder
// lives in the Windows folder: the platform's rule).
std::string ProfileReadString(const std::string& fileName, const std::string& section, const std::string& key,
                              const std::string& def);
// Default when the text is missing or not a decimal number.
int64_t ProfileReadInt(const std::string& fileName, const std::string& section, const std::string& key,
                       int64_t def);
bool ProfileWriteString(const std::string& fileName, const std::string& section, const std::string& key,
                        const std::string& value);
bool ProfileWriteInt(const std::string& fileName, const std::string& section, const std::string& key,
                     int64_t value);

// The logged-on user's name, trimmed; "" when the system cannot tell.
std::string CurrentUserName();
// CurrentVersionKeyPathFor the running system.
std::string CurrentVersionKeyPath();
// "RegisteredOwner" of the CurrentVersion key, else the user's name; trimmed.
std::string GetRegisteredOwner();
// "RegisteredOrganization" of the CurrentVersion key, "" when absent; trimmed.
std::string GetRegisteredOrganization();
