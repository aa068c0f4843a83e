#include "host/System.h"
#include "host/DB.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

class TSampleThing : public TObject {};

TEST(TObjectTest, ClassNameIsTheUnqualifiedClassName)
{
    TSampleThing thing;
    EXPECT_EQ(thing.ClassName(), "TSampleThing");
    TObject plain;
    EXPECT_EQ(plain.ClassName(), "TObject");
}

TEST(FieldTypeTest, OrdinalsAndNamesFollowTheFramework)
{
    EXPECT_EQ(static_cast<int>(ftWideString), 24);
    EXPECT_STREQ(FieldTypeNames[ftFmtMemo], "FmtMemo");
    EXPECT_STREQ(FieldTypeNames[ftGuid], "Guid");
}

} // namespace
} // namespace orvex
