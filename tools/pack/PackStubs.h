// The stubs an installed korvan-pack ships with: stub-i686.exe (the one
// vendors ship) and stub-x86_64.exe, in PREFIX/share/korvan beside the
// tool's PREFIX/bin.
#pragma once

#include <string>
#include <vector>

// "i686" or "x86_64"; the default of --arch.
extern const char* const kDefaultStubArch;
bool IsStubArch(const std::string& arch);

// The folders searched, in order: the share/korvan folder next to the bin
// folder the running program lies in (so that a moved prefix still finds
// its stubs), then the folder the tool was installed for.
std::vector<std::string> StubFolders();

// The installed stub of Arch; false with Error (one line naming the folders
// looked in) when there is none.
bool FindInstalledStub(const std::string& arch, std::string& path, std::string& error);
