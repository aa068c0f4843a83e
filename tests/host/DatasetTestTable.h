#pragma once
// Test helper: a small in-memory dataset written on the dataset layer the way
// an engine dataset is: an array of records in the shared record-buffer
// layout, bookmarks by record id, a key range on one field, a set-key buffer,
// a filter buffer for OnFilterRecord, calculated fields, blobs through a
// blob stream, Locate/Lookup, and a master link that drives the range.
//
// The schema is the dataset's FieldDefs. Each field takes a null-flag byte
// and its native value in the record image (blob fields a 4-byte blob id).

#include "host/DB.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvex::testing {

class TMemTable : public TDataSet {
public:
    explicit TMemTable(TComponent* owner = nullptr);
    ~TMemTable() override;

    // Appends a record with these values (in field order) and posts it.
    void AddRecord(std::initializer_list<Variant> values);
    int StoredCount() const { return static_cast<int>(FRows.size()); }

    // The key field that SetRange, SetKey/GotoKey and the master link use.
    std::string KeyField;
    void SetRange(const Variant& low, const Variant& high);
    void CancelRange();
    bool RangeActive() const { return FRangeOn; }
    void SetKey();
    bool GotoKey();

    // Master-detail: KeyField follows the master's MasterFields value.
    void SetMasterSource(TDataSource* value);
    TDataSource* MasterSource() const;
    void SetMasterFields(const std::string& value);

    using TDataSet::BufferCount;
    using TDataSet::UpdateCursorPos;
    bool ReadOnlyTable = false;
    // How often the cursor was moved to a buffer's bookmark, for tests of
    // the buffer ring.
    int SetToRecordCount = 0;

    TRecordBuffer GetActiveRecBuf();
    bool GetFieldData(TField* field, void* buffer) override;
    TStream* CreateBlobStream(TField* field, TBlobStreamMode mode) override;
    bool Locate(const std::string& keyFields, const Variant& keyValues, TLocateOptions options) override;
    Variant Lookup(const std::string& keyFields, const Variant& keyValues,
                   const std::string& resultFields) override;
    bool BookmarkValid(const TBookmark& bookmark) override;
    int CompareBookmarks(const TBookmark& bookmark1, const TBookmark& bookmark2) override;
    void SetRecNo(int value) override;

    // Blob storage: a record holds the id of its value here.
    std::vector<std::string> BlobPool;

protected:
    TGetResult GetRecord(TRecordBuffer buffer, TGetMode getMode, bool doCheck) override;
    int GetRecordSize() override { return FLayout.RecordSize; }
    TRecordBuffer AllocRecordBuffer() override;
    void FreeRecordBuffer(TRecordBuffer& buffer) override;
    void InternalOpen() override;
    void InternalClose() override;
    bool IsCursorOpen() override { return FCursorOpen; }
    void InternalInitFieldDefs() override {}
    void InternalHandleException() override {}
    void InternalFirst() override { FCursor = -1; }
    void InternalLast() override { FCursor = static_cast<int>(FRows.size()); }
    void InternalInitRecord(TRecordBuffer buffer) override;
    void InternalGotoBookmark(const void* bookmark) override;
    void InternalSetToRecord(TRecordBuffer buffer) override;
    // The buffers moved: the cursor's buffer is no longer known.
    void InternalInsert() override { CursorPosChanged(); }
    void InternalPost() override;
    void InternalDelete() override;
    void SetFieldData(TField* field, const void* buffer) override;
    TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) override;
    void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag value) override;
    void GetBookmarkData(TRecordBuffer buffer, void* data) override;
    void SetBookmarkData(TRecordBuffer buffer, const void* data) override;
    void ClearCalcFields(TRecordBuffer buffer) override;
    int GetRecordCount() override;
    int GetRecNo() override;
    bool GetCanModify() override { return !ReadOnlyTable; }
    TDataSource* GetDataSource() override { return FMasterLink.DataSource(); }

private:
    friend class TMemBlobStream;
    struct Row {
        std::uint32_t Id;
        std::vector<Byte> Image;
    };
    int SlotOf(int fieldNo) const { return FSlots[static_cast<std::size_t>(fieldNo - 1)]; }
    int IndexOfId(std::uint32_t id) const;
    bool Visible(int index);
    bool InRange(const std::vector<Byte>& image);
    Variant KeyValue(TRecordBuffer image);
    int FindMatch(const std::string& keyFields, const Variant& keyValues, TLocateOptions options);
    bool Matches(int index, const std::vector<TField*>& fields, const Variant& values,
                 TLocateOptions options);
    void MasterChanged();

    std::vector<Row> FRows;
    std::uint32_t FNextId = 1;
    int FCursor = -1;
    bool FCursorOpen = false;
    TRecordBufferLayout FLayout;
    std::vector<int> FSlots; // offset of each field's null flag in the image
    TRecordBuffer FKeyBuffer = nullptr;
    TRecordBuffer FFilterBuffer = nullptr;
    bool FRangeOn = false;
    Variant FRangeLow, FRangeHigh;
    TMasterDataLink FMasterLink;
};

// Records the dataset's events in order, by name.
struct EventLog {
    std::vector<std::string> Names;
    void Attach(TDataSet* dataSet);
    std::string Text() const; // "BeforeEdit,AfterEdit"
    void Clear() { Names.clear(); }
};

// A data link that shows several records, as a grid does; it records the
// events it hears.
class TGridLink : public TDataLink {
public:
    explicit TGridLink(int bufferCount) { SetBufferCount(bufferCount); }
    std::vector<std::string> Heard;
    // The values of one field in the rows the link shows.
    std::vector<std::string> Rows(const std::string& fieldName);

protected:
    void ActiveChanged() override { Heard.push_back("ActiveChanged"); }
    void DataSetChanged() override { Heard.push_back("DataSetChanged"); }
    void DataSetScrolled(int distance) override { Heard.push_back("Scrolled" + std::to_string(distance)); }
    void RecordChanged(TField* field) override
    {
        Heard.push_back("RecordChanged" + std::string(field ? ":" + field->FieldName() : ""));
    }
    void EditingChanged() override { Heard.push_back("EditingChanged"); }
};

} // namespace orvex::testing
