// `korvan-pack inspect` and `verify`: both read a package through the same
// reader and chunk walker the stub uses.
#pragma once

#include <cstdio>
#include <string>

// Prints the header, the sections and the entries; JSON when asked. Returns
// the exit code: 0, or 1 when the file carries no readable package.
int InspectPackage(const std::string& path, bool json, std::FILE* out, std::FILE* err);

// Checks the checksum and inflates every entry without writing. True when
// sound; otherwise Reason is one line naming the file (and the entry).
bool VerifyPackage(const std::string& path, std::string& summary, std::string& reason);

// The first volume that the headers announce but that is not there, as
// "PATH.00N: volume N of the package is missing"; "" when all are present.
std::string MissingVolume(const std::string& path);

// When Path is PATH.00N, a later volume of the spanned package PATH: a line
// saying so; "" otherwise.
std::string LaterVolumeNote(const std::string& path);

// "YYYY-MM-DD hh:mm:ss" of a DOS date-time, "-" for 0.
std::string DosTimeText(uint32_t dosTime);
