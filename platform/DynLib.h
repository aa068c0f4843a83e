#pragma once
// Shared libraries loaded by name at run time (the counterpart of Windows'
// LoadLibrary, GetProcAddress and FreeLibrary).
//
// A test can make a library look missing, or load another file in its
// place, by mapping its name (MapLibraryName).

#include <string>

namespace orvex {

using TLibraryHandle = void*;

// nullptr when the library cannot be loaded; error then holds the reason.
TLibraryHandle LoadLibrary(const std::string& name, std::string* error = nullptr);
// nullptr when the library has no such entry point.
void* GetProcAddress(TLibraryHandle library, const std::string& name);
void FreeLibrary(TLibraryHandle library);

// From now on, loading name loads replacement instead (an empty replacement
// makes the library missing); UnmapLibraryName restores it.
void MapLibraryName(const std::string& name, const std::string& replacement);
void UnmapLibraryName(const std::string& name);

} // namespace orvex
