#pragma once
// Helpers of the table-definition tests: engine errors with the routine that
// raised them, a definition with every property set, and a database file
// with a connection's table maps.

#include "tabledef/TableScenario.h"
#include "vekDiskTestUtil.h"

#include "storage/vekCommon.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace orvex::tabletest {

// Whether Body raises the engine error Code from the routine Context (the
// caller column of the line the error logs), with Text in its message.
template <class F>
::testing::AssertionResult RaisesAt(Integer Code, const std::string& Context, const std::string& Text, F&& Body)
{
    std::string message;
    const Integer code = disktest::VekErrorCode(Body, &message);
    if (code != Code)
        return ::testing::AssertionFailure() << "expected engine error " << Code << ", got " << code << ": "
                                             << message;
    const auto lines = GDBLogger->LogLines();
    if (lines.empty() || lines.back().find(Context) == std::string::npos)
        return ::testing::AssertionFailure() << "not raised at " << Context << ": "
                                             << (lines.empty() ? "no log" : lines.back());
    if (message.find(Text) == std::string::npos)
        return ::testing::AssertionFailure() << "\"" << Text << "\" not in: " << message;
    return ::testing::AssertionSuccess();
}

#define EXPECT_RAISED_AT(code, context, text, statement) \
    EXPECT_TRUE(::orvex::tabletest::RaisesAt((code), (context), (text), [&] { statement; }))

// Every published property of Def set to a value other than its default,
// the strings holding bytes that need escaping (AltName every byte value,
// scrambled), the dates fractions that only an exact form keeps.
inline void SetEveryProperty(TTableDef& Def)
{
    BuildTableDef(Def, "Every 'quoted' table", ScenarioFields(false), ScenarioIndexes(false), false, encStrong);
    std::string scrambled;
    for (int i = 0; i < 256; ++i)
        scrambled += static_cast<char>((i * 167 + 13) & 0xFF);
    Def.SetTableID(77);
    Def.SetOwnerFlag(0xFFFFFFF0u);
    Def.SetAltName(scrambled);
    Def.SetVersion("1.43.02");
    Def.SetOS("Linux\t6.1 \"x86_64\"\r\n");
    Def.SetCreationDate(45123.123456789012);
    Def.SetLastModDate(-693593.0000001);
    Def.SetCreatedBy(std::string("Ren\xE9\0e", 6));
    Def.SetPassword("p'w" + std::string(70, 'x'));
    Def.SetEncrypted(true);
    Def.SetSecurityLevel(-2);
    Def.SetDefaultBlobSize(1024);
    Def.SetSortOrder(soASCII);
    Def.SetInternalTable(true);
    Def.SetBlobCompression(true);
    Def.KeyFields()->SetDataOffset(3);
    Def.KeyFields()->GetItems(0)->SetCaseInsensitive(true);
    TInternalFieldItem* field = Def.InternalFields()->GetIndex(1);
    field->SetNumDecimalPlaces(4);
    field->SetRequired(true);
    field->SetHidden(true);
    field->SetCompressionMode(dcZLib);
    TInternalIndexDef* index = Def.InternalIndexDefs()->GetItems(0);
    index->SetPrimary(true);
    index->SetHidden(true);
    index->SetIndexKeyType(ikMinStringLen);
}

// A database file in a scratch folder with one connection.
class TTableFixture {
public:
    TTableFixture()
    {
        TDiskConnection::CreateDatabase(Path());
        FConnection = std::make_unique<TDiskConnection>(Path());
    }

    std::string Path() const { return FDir.File("tables.vek"); }
    TDiskConnection& Connection() { return *FConnection; }
    TDiskTableDefMgr& Tables() { return FConnection->Tables(); }
    TDiskMgr& Disk() { return FConnection->Disk(); }

private:
    disktest::TTempDir FDir;
    std::unique_ptr<TDiskConnection> FConnection;
};

} // namespace orvex::tabletest
