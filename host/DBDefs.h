#pragma once
// Field and index definitions of the dataset layer: what a dataset's table
// holds (TFieldDefs) and how it is ordered (TIndexDefs).

#include "host/Classes.h"
#include "host/DBTypes.h"

#include <string>

namespace orvex {

class TDataSet;
class TField;

// A collection item with a name that is unique within its TDefCollection
// (ignoring case): "Duplicate name '%s' in %s".
class TNamedItem : public TCollectionItem {
public:
    using TCollectionItem::TCollectionItem;
    const std::string& Name() const { return FName; }
    void SetName(const std::string& value) { SetDisplayName(value); }
    std::string DisplayName() const override { return FName; }
    void SetDisplayName(const std::string& value) override;

private:
    std::string FName;
};

// Definitions belonging to a dataset. OnUpdate runs whenever an item or the
// collection changes (outside BeginUpdate/EndUpdate).
class TDefCollection : public TCollection {
public:
    TDefCollection(TDataSet* dataSet, TCollectionItemClass itemClass);
    TDataSet* DataSet() const { return FDataSet; }
    TNamedItem* Find(const std::string& name) const; // nullptr when absent
    int IndexOf(const std::string& name) const;      // ignores case; -1 when absent
    bool Updated() const { return FUpdated; }
    void SetUpdated(bool value) { FUpdated = value; }
    TNotifyEvent OnUpdate;

protected:
    void Update(TCollectionItem* item) override;

private:
    TDataSet* FDataSet;
    bool FUpdated = false;
};

class TFieldDef : public TNamedItem {
public:
    explicit TFieldDef(TCollection* collection) : TNamedItem(collection) {}

    TFieldType DataType() const { return FDataType; }
    void SetDataType(TFieldType value);
    int Size() const { return FSize; }
    void SetSize(int value);
    int Precision() const { return FPrecision; }
    void SetPrecision(int value);
    bool Required() const { return (FAttributes & faRequired) != 0; }
    void SetRequired(bool value);
    TFieldAttributes Attributes() const { return FAttributes; }
    void SetAttributes(TFieldAttributes value);
    bool InternalCalcField() const { return FInternalCalcField; }
    void SetInternalCalcField(bool value);
    // 1-based; the position in the collection plus one unless set.
    int FieldNo() const { return FFieldNo > 0 ? FFieldNo : Index() + 1; }
    void SetFieldNo(int value) { FFieldNo = value; }

    // A field of the class for DataType ("Field '%s' is of an unknown type"
    // when there is none), named, sized and flagged after this definition and
    // joined to the definitions' dataset.
    TField* CreateField(TComponent* owner);
    void Assign(TPersistent* source) override;

private:
    TFieldType FDataType = ftUnknown;
    int FSize = 0;
    int FPrecision = 0;
    TFieldAttributes FAttributes = 0;
    bool FInternalCalcField = false;
    int FFieldNo = 0;
};

class TFieldDefs : public TDefCollection {
public:
    explicit TFieldDefs(TDataSet* dataSet);
    TFieldDef* Items(int index) const { return static_cast<TFieldDef*>(TCollection::Items(index)); }
    TFieldDef* AddFieldDef() { return static_cast<TFieldDef*>(TCollection::Add()); }
    void Add(const std::string& name, TFieldType dataType, int size = 0, bool required = false);
    TFieldDef* Find(const std::string& name) const; // "Field '%s' not found"
    // Reads the definitions from the dataset once (TDataSet::InitFieldDefs).
    void Update();
};

class TIndexDef : public TNamedItem {
public:
    explicit TIndexDef(TCollection* collection) : TNamedItem(collection) {}

    // Field names separated by ";".
    const std::string& Fields() const { return FFields; }
    void SetFields(const std::string& value);
    TIndexOptions Options() const { return FOptions; }
    void SetOptions(TIndexOptions value);
    const std::string& CaseInsFields() const { return FCaseInsFields; }
    void SetCaseInsFields(const std::string& value);
    const std::string& DescFields() const { return FDescFields; }
    void SetDescFields(const std::string& value);
    const std::string& Expression() const { return FExpression; }
    void SetExpression(const std::string& value);
    void Assign(TPersistent* source) override;

private:
    std::string FFields;
    TIndexOptions FOptions = 0;
    std::string FCaseInsFields;
    std::string FDescFields;
    std::string FExpression;
};

class TIndexDefs : public TDefCollection {
public:
    explicit TIndexDefs(TDataSet* dataSet);
    TIndexDef* Items(int index) const { return static_cast<TIndexDef*>(TCollection::Items(index)); }
    TIndexDef* AddIndexDef() { return static_cast<TIndexDef*>(TCollection::Add()); }
    void Add(const std::string& name, const std::string& fields, TIndexOptions options);
    TIndexDef* Find(const std::string& name) const; // "Index '%s' not found"
    // The first index on exactly these fields, else the first whose fields
    // begin with them; neither descending nor an expression, and
    // case-insensitive when asked. nullptr when none.
    TIndexDef* GetIndexForFields(const std::string& fields, bool caseInsensitive) const;
    // GetIndexForFields case-sensitive, then case-insensitive;
    // "No index for fields '%s'" when neither finds one.
    TIndexDef* FindIndexForFields(const std::string& fields) const;
    // Reads the definitions from the dataset once (TDataSet::UpdateIndexDefs).
    void Update();
};

} // namespace orvex
