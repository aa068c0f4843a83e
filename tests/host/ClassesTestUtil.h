#pragma once
// Helpers shared by the class-library tests: a scratch folder per test and a
// check that an operation raises a given exception class with a given text.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace orvex::testing {

// A fresh folder under the system's temporary folder, removed at the end.
class ScratchDir {
public:
    ScratchDir()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        FPath = std::filesystem::temp_directory_path() /
                ("orvex_" + std::string(info ? info->name() : "test") + "_" +
                 std::to_string(::getpid()));
        std::filesystem::remove_all(FPath);
        std::filesystem::create_directories(FPath);
    }
    ~ScratchDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    std::string File(const std::string& name) const { return (FPath / name).string(); }

private:
    std::filesystem::path FPath;
};

} // namespace orvex::testing

// Expects `statement` to raise `type` whose message is exactly `text`.
#define EXPECT_RAISES(statement, type, text)                                   \
    do {                                                                       \
        try {                                                                  \
            statement;                                                         \
            ADD_FAILURE() << "no " #type " from " #statement;                  \
        } catch (const type& e) {                                              \
            EXPECT_EQ(std::string(e.what()), std::string(text));               \
        }                                                                      \
    } while (false)
