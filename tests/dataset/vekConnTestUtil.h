#pragma once
// Helpers of the connection tests: scratch folders, engine error codes, and
// databases made and changed on disk.

#include "dataset/vekDatabase.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvex::conntest {

class TTempDir {
public:
    TTempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vekconn-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("no scratch folder");
        FPath = pattern;
    }
    ~TTempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    std::string File(const std::string& Name) const { return FPath + "/" + Name; }
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

// The engine error Body raises (0 for none); its message into Message.
template <class F>
Integer VekErrorCode(F&& Body, std::string* Message = nullptr)
{
    try {
        Body();
    } catch (const EVekDatabaseError& e) {
        if (Message)
            *Message = e.Message();
        return e.ErrorCode;
    }
    return 0;
}

template <class F>
::testing::AssertionResult RaisesVekError(Integer Code, const std::string& Text, F&& Body)
{
    std::string message;
    const Integer code = VekErrorCode(Body, &message);
    if (code == Code && message.find(Text) != std::string::npos)
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << "expected engine error " << Code;
    if (!Text.empty())
        failure << " with \"" << Text << "\"";
    if (code == 0)
        return failure << ", but nothing was raised";
    return failure << ", got " << code << ": " << message;
}

#define EXPECT_VEK_ERROR(code, statement) \
    EXPECT_TRUE(::orvex::conntest::RaisesVekError((code), std::string(), [&] { statement; }))
#define EXPECT_VEK_ERROR_TEXT(code, text, statement) \
    EXPECT_TRUE(::orvex::conntest::RaisesVekError((code), (text), [&] { statement; }))

inline std::vector<Byte> ReadFileBytes(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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
