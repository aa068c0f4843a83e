#pragma once
// The library's registry class: the framework's TRegistry with key paths that
// are absolute when they begin with "\" and relative to the open key
// otherwise, an existence test that only reads, and deletion of whole trees.

#include "host/Registry.h"

#include <string>

namespace orvex {

class TdrvnRegistry : public TRegistry {
public:
    using TRegistry::TRegistry;

    // Opens the key, creating it (and the keys above it) when missing.
    bool OpenOrCreateKey(const std::string& path);
    // Whether the key exists, tested by opening it for reading.
    bool KeyExistsForRead(const std::string& path);
    // Deletes the key with its subkeys, the deepest first.
    bool DeleteKeyTree(const std::string& path);
};

} // namespace orvex
