#pragma once
// Helpers of the connection tests: scratch folders, engine error codes, and
// databases made and changed on disk.

#include "dataset/vekDatabase.h"
#include "../storage/vekEngineTestUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvex::conntest {

using enginetest::RaisesVekError;
using enginetest::ReadFileBytes;
using enginetest::VekErrorCode;

class TTempDir : public enginetest::TTempDir {
public:
    TTempDir() : enginetest::TTempDir("vekconn") {}
};

inline void WriteFileBytes(const std::string& Path, const std::vector<Byte>& Bytes)
{
    std::ofstream out(Path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
}

// A new database file Path made by a connection with these settings.
inline void MakeDatabase(const std::string& Path, const std::string& MasterKey = "", bool Encrypted = false,
                         bool Secured = false)
{
    TVekDataBase db(nullptr);
    db.SetDataBaseName(Path);
    db.SetMasterKey(MasterKey);
    db.SetUseEncryption(Encrypted);
    db.SetEnforceSecurity(Secured);
    db.CreateDatabase();
}

// The header record stored in the file.
inline TVekDBDef ReadHeader(const std::string& Path)
{
    TVekDBDef def;
    const std::vector<Byte> bytes = ReadFileBytes(Path);
    std::copy_n(bytes.begin(), TVekDBDef::Size, def.Bytes.begin());
    return def;
}

inline void WriteHeader(const std::string& Path, const TVekDBDef& Def)
{
    std::vector<Byte> bytes = ReadFileBytes(Path);
    std::copy(Def.Bytes.begin(), Def.Bytes.end(), bytes.begin());
    WriteFileBytes(Path, bytes);
}

} // namespace orvex::conntest
