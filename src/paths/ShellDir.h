// ShellDir: the per-user and all-users folders of the Windows shell, asked
// of "SHGetFolderPathA" in "SHFolder.dll" where the system has it, and
// derived from the Windows folder where it has not, so that every getter
// gives a usable folder on every Windows version.
//
// Every getter ends its result with exactly one "\" when WithBackslash is
// true and with none when false. Nothing is cached between calls.
#pragma once

#include <string>

// Folder ids of the shell-folder service, each with the create flag.
const int kFolderPersonal = 0x8005;
const int kFolderAppData = 0x801A;
const int kFolderCommonAppData = 0x8023;
const int kFolderCommonDocuments = 0x802E;

// The service's folder for FolderId; "" without the library, the function
// or when the call fails.
std::string ShellFolderPath(int folderId);
// WindowsDir\Profiles\<registered owner> if it exists, else WindowsDir.
std::string GetProfilesFallbackDir(bool withBackslash);

std::string GetUserDir(bool withBackslash);
std::string GetDocumentsAndSettingsDir(bool withBackslash);
std::string GetAllUsersDir(bool withBackslash);
std::string GetUserAppDataDir(bool withBackslash);
std::string GetAllUsersAppDataDir(bool withBackslash);
std::string GetMyDocumentsDir(bool withBackslash);
std::string GetAllUsersDocumentsDir(bool withBackslash);
std::string GetUserStartMenuDir(bool withBackslash);
std::string GetAllUsersStartMenuDir(bool withBackslash);
std::string GetUserDesktopDir(bool withBackslash);
std::string GetAllUsersDesktopDir(bool withBackslash);

// Library the service is looked up in ("SHFolder.dll"). Tests name a missing
// one to walk the fallbacks on a system that has the service.
void SetShellFolderLibrary(const std::string& libraryName);
