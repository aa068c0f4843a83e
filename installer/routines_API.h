#pragma once
// Windows information for the installer: the Windows family, the system,
// Windows and temporary folders, temporary files, short paths and the
// shell's special folders. Failures raise EAPIRoutines.

#include "installer/types_Dorvane.h"

#include <string>

namespace orvex {

// The family of the running Windows, from its platform and version numbers.
TOSVerType GetOSVersionType();

// The system and Windows folders, without a trailing backslash.
std::string GetSystemDir();
std::string GetWindowsDir();
// The temporary folder, without a trailing backslash.
std::string GetTempDir();
// The drive of the current directory ("C:").
std::string GetCurrentDrive();

// A new unique file name in the temporary folder with the prefix "bat": the
// file is kept when keepFile is set, else deleted at once.
std::string CreateTempFileName(bool keepFile);
// A new empty file in the temporary folder with the prefix "bat" and the
// given extension (".bat", ".lst", ...), created exclusively and kept: a
// temporary name is never deleted and taken again under another extension.
std::string CreateTempFile(const std::string& extension);

// The short (8.3) form of a path, at most 400 characters; empty when the
// path does not exist.
std::string GetShortPath(const std::string& path);

// The file-system path of a shell special folder (a CSIDL number), at most
// 260 characters; empty when the folder has none.
std::string GetSpecialFolder(int csidl);

} // namespace orvex
