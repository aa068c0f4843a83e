#include <gtest/gtest.h>
namespace orvex {
extern const char* const VekEngineVersion;
namespace {
TEST(EngineLibraryTest, CarriesItsVersionText)
{
    EXPECT_STREQ(VekEngineVersion, "1.43.02");
}
} // namespace
} // namespace orvex
