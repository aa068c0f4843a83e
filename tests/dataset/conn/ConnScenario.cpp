// The shared part of the connection tests; see ConnScenario.h.

#include "ConnScenario.h"

#include "storage/vekByteOrder.h"
#include "storage/vekDataUnit.h"

#include <vector>

namespace orvex::conntest {

void BuildCounterDef(TTableDef& Def, const std::string& Name, bool Memory)
{
    TFieldDefs fields(nullptr);
    fields.Add("N", ftInteger);
    TVekTableDefSettings settings;
    settings.TableName = Name;
    VekSetTableDef(&Def, Memory, &fields, nullptr, settings, "ConnScenario", nullptr);
}

namespace {

struct TCounterAccess {
    explicit TCounterAccess(TTableDef& Def)
    {
        Records.InternalFields()->Assign(Def.InternalFields());
        Records.SetRecordSize(Def.RecordSize());
        Records.Open(Def.RecordInterface());
        // Another process may have written the table's pages.
        Def.RecordInterface()->NotifyPageChange(Def.TableID());
    }
    ~TCounterAccess() { Records.Close(); }
    TRecordMgr Records;
};

} // namespace

Cardinal CreateCounterTable(TVekDataBase& DataBase, const std::string& Name)
{
    TTableDef def(nullptr);
    BuildCounterDef(def, Name);
    DataBase.CreateTable(&def, false);
    TTableDef open(nullptr);
    DataBase.OpenTable(Name, &open);
    Cardinal address = 0;
    {
        TCounterAccess access(open);
        std::vector<Byte> image(static_cast<std::size_t>(open.RecordSize()), 0);
        const TInternalFieldItem* field = open.InternalFields()->GetIndex(0);
        image[rpoStatus] = 1;
        WriteLE32(&image[rpoOwnerTag], (static_cast<Cardinal>(open.TableID()) << 4) | 9);
        WriteLE32(&image[rpoRecordID], 1);
        image[static_cast<std::size_t>(field->NullFlagOffset())] = 1;
        address = access.Records.AddRecord(image.data());
        open.TableHeader()->SetRecordFirstEmpty(open.RecordInterface()->FirstEmpty());
        open.TableHeader()->WriteHeader();
    }
    DataBase.CloseTable(&open);
    return address;
}

Integer ReadCounter(TTableDef& Def, Cardinal Address)
{
    TCounterAccess access(Def);
    std::vector<Byte> image(static_cast<std::size_t>(Def.RecordSize()), 0);
    access.Records.ReadRecord(Address, image.data(), false);
    const TInternalFieldItem* field = Def.InternalFields()->GetIndex(0);
    return static_cast<Integer>(ReadLE32(&image[static_cast<std::size_t>(field->DataOffset())]));
}

void WriteCounter(TTableDef& Def, Cardinal Address, Integer Value)
{
    TCounterAccess access(Def);
    std::vector<Byte> image(static_cast<std::size_t>(Def.RecordSize()), 0);
    access.Records.ReadRecord(Address, image.data(), false);
    const TInternalFieldItem* field = Def.InternalFields()->GetIndex(0);
    WriteLE32(&image[static_cast<std::size_t>(field->DataOffset())], static_cast<Cardinal>(Value));
    WriteLE32(&image[rpoModCounter], ReadLE32(&image[rpoModCounter]) + 1);
    access.Records.UpdateRecord(Address, image.data());
}

} // namespace orvex::conntest
