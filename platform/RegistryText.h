#pragma once
// The registry store as text, for people and for comparing two machines.
//
// One block per key, depth first in the store's order (subkeys by name
// ignoring case, values in the order they were first written):
//
//   [HKEY_LOCAL_MACHINE\Software\Vantry Software\Orvex]
//   @="the default value"
//   "Ver"="143"
//   "Size"=dword:00001f40
//   "CreationDate"=hex:00,00,00,00,80,1c,e6,40
//   "Path"=expand:"%SystemRoot%\x"
//
// Strings are Windows-1252 in the store and UTF-8 here; a backslash, a
// double quote and control characters are escaped ("\\", "\"", "\r", "\n",
// "\t", "\xHH"). Values of other types, and a dword whose data is not four
// bytes, are shown as "hex(T):" with the type number. A key is written even
// when it has neither values nor subkeys; a root holding nothing is left out.

#include "platform/Registry.h"

#include <optional>
#include <string>

namespace orvex {

// The root's name ("HKEY_LOCAL_MACHINE"), empty for a value that is no root.
std::string RegistryRootName(HKEY root);
// The root named at the start of a key name ("HKEY_LOCAL_MACHINE\Software"
// or the short form "HKLM\Software"), its path after the first backslash.
std::optional<HKEY> ParseRegistryKeyName(const std::string& keyName, std::string& path);

// The text of every key of the store, or of the key at root and path with
// the keys below it. A key that does not exist gives an empty text.
std::string RegistryText(TRegistryStore& store);
std::string RegistryText(TRegistryStore& store, HKEY root, const std::string& path);

} // namespace orvex
