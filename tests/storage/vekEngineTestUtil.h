#pragma once
// Helpers shared by the engine's test programs: a scratch folder, whole-file
// reads and expectations of engine errors.

#include "storage/vekConsts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvex::enginetest {

// A new folder below the temporary folder, named after Prefix, removed with
// everything in it at the end.
class TTempDir {
public:
    explicit TTempDir(const char* Prefix)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (std::string(Prefix) + "-XXXXXX")).string();
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

inline std::vector<Byte> ReadFileBytes(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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

} // namespace orvex::enginetest

// Expectations of engine errors; more context may be streamed into them.
#define EXPECT_VEK_ERROR(code, statement) \
    EXPECT_TRUE(::orvex::enginetest::RaisesVekError((code), std::string(), [&] { statement; }))
#define EXPECT_VEK_ERROR_TEXT(code, text, statement) \
    EXPECT_TRUE(::orvex::enginetest::RaisesVekError((code), (text), [&] { statement; }))
