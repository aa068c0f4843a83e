// Building a table definition from a field and index layout: the limits on
// names, fields and indexes, the internal field sizes, the key fields of
// each index with the hidden record-ID key field of non-unique indexes, the
// hidden index of a table without indexes, and an encrypted table's
// key-check value.

#include "dataset/vekDatabase.h"

#include "host/SysUtils.h"
#include "storage/vekCrypt.h"
#include "storage/vekIndexUnit.h"

#include <vector>

namespace orvex {

namespace {

constexpr Integer ErrFieldCount = 9492;
constexpr Integer ErrFieldSize = 9606;
constexpr Integer ErrIndexCount = 9604;
constexpr Integer ErrKeySize = 9602;
constexpr Integer ErrTableName = 10039;
constexpr Integer ErrFieldName = 10038;
constexpr Integer ErrObjectName = 10041;
constexpr Integer ErrNoField = 10116;
constexpr Integer ErrNotIndexable = 10117;
constexpr Integer ErrInternal = 8581;

constexpr Integer MinStringSize = 2;
constexpr Integer MaxStringSize = 256;

// One field or index of the layout, whichever collection it came from.
struct TFieldSpec {
    std::string Name;
    TFieldType DataType;
    Integer Size;
    bool Required;
};

struct TIndexSpec {
    std::string Name;
    std::string Fields;
    TIndexOptions Options;
    std::string CaseInsFields;
    std::string DescFields;
    bool Hidden;
};

// The names of a semicolon-separated list (empty pieces dropped).
std::vector<std::string> SplitNames(const std::string& List)
{
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= List.size()) {
        std::size_t end = List.find(';', start);
        if (end == std::string::npos)
            end = List.size();
        std::string name = Trim(List.substr(start, end - start));
        if (!name.empty())
            names.push_back(std::move(name));
        start = end + 1;
    }
    return names;
}

bool ListHolds(const std::string& List, const std::string& Name)
{
    for (const std::string& item : SplitNames(List))
        if (SameText(item, Name))
            return true;
    return false;
}

void AddIndex(TTableDef* Def, const TIndexSpec& Spec, bool Memory, const char* Context, TObject* Sender)
{
    TInternalIndexDef* index = Def->InternalIndexDefs()->Add();
    index->SetIndexName(Spec.Name);
    index->SetUnique((Spec.Options & ixUnique) != 0);
    index->SetMaintained(true);
    index->SetPrimary((Spec.Options & ixPrimary) != 0);
    index->SetMemory(Memory);
    index->SetHidden(Spec.Hidden);
    index->SetIndexSequence(index->Index());
    const bool wholeDescending = (Spec.Options & ixDescending) != 0 && Spec.DescFields.empty();
    const bool wholeCaseInsensitive = (Spec.Options & ixCaseInsensitive) != 0 && Spec.CaseInsFields.empty();

    TKeyFields own;
    TInternalFields* fields = Def->InternalFields();
    for (const std::string& fieldName : SplitNames(Spec.Fields)) {
        const TInternalFieldItem* field = fields->FindField(fieldName);
        if (!field)
            VekDatabaseError(ErrNoField, Context, fieldName, Sender);
        if (!IsIndexableFieldType(field->DataType()))
            VekDatabaseError(ErrNotIndexable, Context, fieldName, Sender);
        const bool isString = field->DataType() == ftString || field->DataType() == ftWideString;
        if (isString && field->SizeMarkerOffset() == 0)
            VekDatabaseError(ErrInternal, Context, "KeyOffset", Sender);
        TKeyFieldItem* key = Def->KeyFields()->Add();
        key->SetIndexName(Spec.Name);
        key->SetKeyIndex(static_cast<Integer>(own.Count()));
        key->AssignFromField(field);
        key->SetCaseInsensitive(wholeCaseInsensitive || ListHolds(Spec.CaseInsFields, fieldName));
        key->SetDescending(wholeDescending || ListHolds(Spec.DescFields, fieldName));
        own.Add()->Assign(key);
    }
    if (!index->Unique() && !index->Primary()) {
        // The record ID keeps equal keys apart; its "null flag" is the
        // status byte, set in every record in use.
        TKeyFieldItem* key = Def->KeyFields()->Add();
        key->SetIndexName(Spec.Name);
        key->SetKeyIndex(static_cast<Integer>(own.Count()));
        key->SetAsRecordIDKey();
        key->SetDescending((Spec.Options & ixDescending) != 0);
        own.Add()->Assign(key);
    }
    index->SetKeyDataOffset(static_cast<Integer>(own.Count()) / 8 + 1);
    index->SetMaximumKeySize(CalculateMaximumKeySize(&own) + index->KeyDataOffset());
    if (index->MaximumKeySize() > VekMaxKeySize)
        VekDatabaseErrorFmt(ErrKeySize, Context, SvekValueInvalidFmt, {Spec.Name}, Sender);
    index->SetIndexPageSize(DefaultIndexPageSize);
}

void BuildTableDef(TTableDef* Def, bool Memory, const std::vector<TFieldSpec>& Fields,
                   const std::vector<TIndexSpec>& Indexes, const TVekTableDefSettings& Settings,
                   const char* Context, TObject* Sender)
{
    Def->Clear();
    Def->SetMemory(Memory);
    Def->SetTableName(Settings.TableName);
    Def->SetSortOrder(Settings.SortOrder);
    Def->SetDefaultBlobSize(Settings.BlobBlockSize);
    Def->SetBlobCompression(Settings.BlobCompression);
    Def->SetCreatedBy(Settings.TableOwner);
    Def->SetEncryptionLevel(Settings.EncryptionLevel);
    Def->SetEncrypted(Settings.EncryptionLevel != encNone);
    Def->SetAltName(Def->Encrypted() ? VekTableKeyCheckValue(Settings.TableName) : std::string());

    if (Settings.TableName.empty() || static_cast<Integer>(Settings.TableName.size()) > VekMaxObjectNameLength)
        VekDatabaseErrorFmt(ErrTableName, Context, SvekStringInvalidFmt,
                            {Settings.TableName, 1, VekMaxObjectNameLength}, Sender);
    VekValidateObjectName(Settings.TableName, SvekTable, Context, Sender);

    const auto fieldCount = static_cast<Integer>(Fields.size());
    if (fieldCount < 1 || fieldCount > VekMaxFieldCount)
        VekDatabaseErrorFmt(ErrFieldCount, Context, SvekValueOutOfRangeFmt, {fieldCount, 1, VekMaxFieldCount},
                            Sender);

    TInternalFields* fields = Def->InternalFields();
    for (const TFieldSpec& spec : Fields) {
        VekValidateObjectName(spec.Name, SvekField, Context, Sender);
        if (static_cast<Integer>(spec.Name.size()) > VekMaxObjectNameLength)
            VekDatabaseErrorFmt(ErrFieldName, Context, SvekStringInvalidFmt, {spec.Name, 1, VekMaxObjectNameLength},
                                Sender);
        TInternalFieldItem* field = fields->Add();
        field->SetFieldName(spec.Name);
        field->SetDataType(spec.DataType);
        field->SetFieldNo(field->Index());
        field->SetFieldIndex(field->Index());
        field->SetRequired(spec.Required);
        Integer size = spec.Size;
        if (spec.DataType == ftString)
            size = spec.Size + 1;
        else if (spec.DataType == ftWideString)
            size = spec.Size * 2 + 2;
        field->SetIsVariable(spec.DataType == ftString || spec.DataType == ftWideString);
        if (spec.DataType == ftString || spec.DataType == ftWideString || spec.DataType == ftBytes) {
            if (spec.Size < 0 || size < MinStringSize || size > MaxStringSize)
                VekDatabaseErrorFmt(ErrFieldSize, Context, SvekStringInvalidFmt, {spec.Name, 1, 255}, Sender);
            field->SetFieldSize(size);
        } else if (spec.DataType == ftBCD) {
            field->SetNumDecimalPlaces(spec.Size);
        }
    }
    fields->SetDefaultOffsets();
    fields->Open();
    Def->SetRecordSize(fields->RecordSize());
    Def->SetUsesBlobs(fields->UsesBlobs());
    if (Def->RecordSize() == 0)
        VekDatabaseError(ErrInternal, Context, "Record size = 0", Sender);

    if (static_cast<Integer>(Indexes.size()) > VekMaxIndexCount)
        VekDatabaseErrorFmt(ErrIndexCount, Context, SvekMaxLimitFmt, {VekMaxIndexCount}, Sender);
    for (const TIndexSpec& spec : Indexes)
        AddIndex(Def, spec, Memory, Context, Sender);
    if (Indexes.empty())
        AddIndex(Def, {VekLogicalRecNoIndex, "", 0, "", "", true}, Memory, Context, Sender);
}

} // namespace

void VekSetTableDef(TTableDef* Def, bool Memory, TFieldDefs* FieldDefs, TIndexDefs* IndexDefs,
                    const TVekTableDefSettings& Settings, const char* Context, TObject* Sender)
{
    std::vector<TFieldSpec> fields;
    if (FieldDefs)
        for (int i = 0; i < FieldDefs->Count(); ++i) {
            const TFieldDef* def = FieldDefs->Items(i);
            fields.push_back({def->Name(), def->DataType(), def->Size(), def->Required()});
        }
    std::vector<TIndexSpec> indexes;
    if (IndexDefs)
        for (int i = 0; i < IndexDefs->Count(); ++i) {
            const TIndexDef* def = IndexDefs->Items(i);
            indexes.push_back({def->Name(), def->Fields(), def->Options(), def->CaseInsFields(), def->DescFields(), false});
        }
    BuildTableDef(Def, Memory, fields, indexes, Settings, Context, Sender);
}

void VekSetTableDefFromRSDefs(TTableDef* Def, bool Memory, TRestructureFieldDefs* FieldDefs,
                              TRestructureIndexDefs* IndexDefs, const TVekTableDefSettings& Settings,
                              const char* Context, TObject* Sender)
{
    std::vector<TFieldSpec> fields;
    if (FieldDefs)
        for (int i = 0; i < FieldDefs->Count(); ++i) {
            const TRestructureFieldDef* def = FieldDefs->Items(i);
            if (def->ChangeStatus() != dcDeleted)
                fields.push_back({def->Name(), def->DataType(), def->Size(), def->Required()});
        }
    std::vector<TIndexSpec> indexes;
    if (IndexDefs)
        for (int i = 0; i < IndexDefs->Count(); ++i) {
            const TRestructureIndexDef* def = IndexDefs->Items(i);
            if (def->ChangeStatus() != dcDeleted)
                indexes.push_back(
                    {def->Name(), def->Fields(), def->Options(), def->CaseInsFields(), def->DescFields(), false});
        }
    BuildTableDef(Def, Memory, fields, indexes, Settings, Context, Sender);
}

void VekValidateObjectName(const std::string& Name, const std::string& Kind, const char* Context, TObject* Sender)
{
    const std::string wrapped = "," + UpperCase(Name) + ",";
    if (std::string(",,ALL,").find(wrapped) != std::string::npos)
        VekDatabaseError(ErrObjectName, Context, Name + ": " + Kind, Sender);
}

std::string VekTableKeyCheckValue(const std::string& TableName)
{
    std::string value(TableName.size(), '\0');
    if (!TableName.empty())
        XORCryptBuf(TableName.data(), value.data(), CVekXORPageKey, static_cast<Integer>(TableName.size()),
                    CVekXORPageKeyLen, 0);
    return value;
}

bool VekCheckTableKeyValue(const TTableDef* Def)
{
    std::string plain = VekTableKeyCheckValue(Def->AltName());
    const std::size_t zero = plain.find('\0');
    if (zero != std::string::npos)
        plain.resize(zero);
    return plain == Def->TableName();
}

} // namespace orvex
