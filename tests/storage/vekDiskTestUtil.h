#pragma once
// Helpers of the database-file tests: a scratch folder, whole-file reads,
// engine-error expectations, byte patterns and database set-up.

#include "storage/vekDisk.h"
#include "disk/DiskPattern.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace orvex::disktest {

class TTempDir {
public:
    TTempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vekdisk-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("no scratch folder");
        FPath = pattern;
    }
    ~TTempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    std::string File(const std::string& Name) const { return FPath + "/" + Name; }

private:
    std::string FPath;
};

inline std::vector<Byte> ReadFileBytes(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Whether Needle occurs anywhere in Haystack.
inline bool Contains(const std::vector<Byte>& Haystack, const std::vector<Byte>& Needle)
{
    return std::search(Haystack.begin(), Haystack.end(), Needle.begin(), Needle.end()) != Haystack.end();
}

// The access flags of plain, weakly and strongly enciphered pages, as test
// parameters, and their names.
inline auto PageAccessFlags()
{
    return ::testing::Values(VekAccessPaged, VekAccessPaged | VekAccessXOR,
                             VekAccessPaged | VekAccessBlowfish);
}
inline std::string PageAccessName(const ::testing::TestParamInfo<Cardinal>& Info)
{
    if (Info.param & VekAccessXOR)
        return "Weak";
    return Info.param & VekAccessBlowfish ? "Strong" : "Plain";
}

// The code of the engine error Body raises, 0 when it raises none; the
// message goes to Message.
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

// Whether Body raises the engine error Code with Text in its message.
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

// Expectations of engine errors; more context may be streamed into them.
#define EXPECT_VEK_ERROR(code, statement) \
    EXPECT_TRUE(::orvex::disktest::RaisesVekError((code), std::string(), [&] { statement; }))
#define EXPECT_VEK_ERROR_TEXT(code, text, statement) \
    EXPECT_TRUE(::orvex::disktest::RaisesVekError((code), (text), [&] { statement; }))

// A new, closed database file.
inline void CreateDatabase(const std::string& Path, Integer PageSize = DefaultPageSize)
{
    TDiskMgr creator;
    creator.SetFileName(Path);
    creator.SetPageSize(PageSize);
    creator.CreateNewFile(true);
}

// A connection to an existing database file.
inline std::unique_ptr<TDiskMgr> OpenDatabase(const std::string& Path, Integer PageSize = DefaultPageSize,
                                              unsigned Flags = fmOpenReadWrite | fmShareDenyNone)
{
    auto disk = std::make_unique<TDiskMgr>();
    disk->SetFileName(Path);
    disk->SetPageSize(PageSize);
    disk->SetOpenFlags(Flags);
    disk->Open();
    return disk;
}

} // namespace orvex::disktest
