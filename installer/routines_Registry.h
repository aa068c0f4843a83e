#pragma once
// Registry helpers of the installer library. Key paths are absolute (a
// leading "\" is optional).

#include "host/Registry.h"

#include <string>

namespace orvex {

// The roots as the library's components name them.
enum TRootKeys { hkClassesRoot, hkCurrentConfig, hkCurrentUser, hkDynData, hkLocalMachine, hkUsers };

// A root by its TRootKeys ordinal, and back; an unknown one raises.
HKEY GetRootKey(Integer ordinal);
Integer GetRootKeyOrdinal(HKEY root);

// Writes a string or an integer, creating the key; failure raises
// EIRCannotWriteValue.
void WriteRegString(HKEY root, const std::string& key, const std::string& name, const std::string& value);
void WriteRegInteger(HKEY root, const std::string& key, const std::string& name, Integer value);
// Reads a string or an integer; def when the key or value is missing or
// cannot be read as that type. Reading never creates anything.
std::string ReadRegString(HKEY root, const std::string& key, const std::string& name, const std::string& def);
Integer ReadRegInteger(HKEY root, const std::string& key, const std::string& name, Integer def);
// Deletes a key with all its subkeys (depth first).
bool DeleteRegKey(HKEY root, const std::string& key);

// The key of the values Windows runs once at its next start.
inline const char* const RunOnceKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
// Writes a RunOnce value: under HKEY_CURRENT_USER on the NT family, else
// under HKEY_LOCAL_MACHINE; with unique the name takes the first free suffix
// of "", "1", "2", ... True when written.
bool WriteRunOnceValue(const std::string& name, const std::string& value, bool unique);

} // namespace orvex
