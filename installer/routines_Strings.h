#pragma once
// String helpers of the installer library. Paths are Windows-form and carry
// no trailing backslash unless said.

#include "host/Classes.h"

#include <string>

namespace orvex {

// Adds a trailing backslash unless the text is empty or has one.
std::string AddBackSlash(const std::string& path);
// Removes one trailing backslash.
std::string RemoveBackSlash(const std::string& path);

// The tokens of a text separated by a character: "a;b" and "a;b;" both hold
// two tokens, "" none.
int TokenCount(const std::string& text, char separator);
// The N-th token (1-based): the text up to the next separator, or the whole
// rest when none follows; empty when there are fewer tokens.
std::string GetToken(const std::string& text, char separator, int n);
// The tokens into a string list (cleared first).
void SplitTokens(const std::string& text, char separator, TStrings* list);

// The text after the first ":" (empty when there is none).
std::string AfterColon(const std::string& text);

// A name usable as a file name: "/" becomes "-", and the characters Windows
// does not allow in file names (\ : * ? " < > | and control characters) are
// dropped.
std::string FileNameFilter(const std::string& text);

// Windows-form path parts ("\\" or "/" separate, a drive's ":" ends the
// folder part): the folder without a trailing backslash (a drive's root keeps
// it: "C:\\"), the name, and the path with its extension replaced.
std::string WinExtractFileDir(const std::string& path);
std::string WinExtractFileName(const std::string& path);
std::string WinChangeFileExt(const std::string& path, const std::string& ext);

} // namespace orvex
