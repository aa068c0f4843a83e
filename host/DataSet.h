#pragma once
// TDataSet: the host framework's dataset. It keeps a ring of record buffers
// over a cursor that a descendant implements, and on that ring builds
// navigation, editing, bookmarks, calculated fields, states and the events
// that data sources and links follow.
//
// The buffer ring. Buffers(0 .. BufferCount-1) hold up to BufferCount
// consecutive records (RecordCount of them valid, the active one at
// ActiveRecord); one more buffer, Buffers(BufferCount), is the spare that
// GetRecord fills before it joins the ring. BufferCount is the largest
// BufferCount of the data links on the dataset's data sources (1 without
// links). CurrentRecord is the buffer that the descendant's cursor stands on
// (-1 when unknown); UpdateCursorPos moves the cursor back to the active
// buffer by its bookmark (InternalSetToRecord), or to the start or end for a
// buffer flagged bfBOF or bfEOF.
//
// What a descendant provides. GetRecord(buffer, mode, doCheck) reads the
// record at the cursor (gmCurrent), after it (gmNext) or before it (gmPrior)
// into the buffer, moves the cursor there and returns grOK, or grEOF / grBOF
// when there is none (grError when gmCurrent finds nothing); on grOK the
// descendant fills the bookmark data, sets the flag bfCurrent and calls
// GetCalcFields(buffer). InternalFirst and InternalLast put the cursor before
// the first or after the last record. The bookmark routines keep BookmarkSize
// bytes and a TBookmarkFlag in each buffer; GetFieldData / SetFieldData move
// a field's native value (host/DBFields.h) between the caller and the buffer
// that the state selects: the active buffer in browse, edit and insert, the
// calculation buffer in dsCalcFields, the descendant's own buffers in
// dsSetKey and dsFilter. SetFieldData validates (TField::Validate) and, except
// in dsCalcFields, raises DataEvent(deFieldChange, field).
//
// Events, in order: Open: BeforeOpen, AfterOpen, AfterScroll (when not empty).
// Close: BeforeClose, AfterClose. Moves (First, Last, Next, Prior, MoveBy,
// GotoBookmark): BeforeScroll, AfterScroll. Edit: BeforeEdit, AfterEdit.
// Insert and Append: BeforeInsert, BeforeScroll, OnNewRecord, AfterInsert,
// AfterScroll. Post: BeforePost, AfterPost. Cancel: BeforeCancel, (for an
// insert BeforeScroll), AfterCancel, (AfterScroll). Delete: BeforeDelete,
// BeforeScroll, AfterDelete, AfterScroll. Refresh: BeforeRefresh,
// AfterRefresh. A failing post, edit or delete asks OnPostError, OnEditError
// or OnDeleteError for daFail (raise), daAbort (silent abort) or daRetry.
//
// Data sources and links hear deUpdateState on every state change and the
// other TDataEvent events, unless controls are disabled (DisableControls,
// a temporary state) or the state is dsBlockRead; EnableControls, and the end
// of a block read (SetBlockReadSize(0)), then send one deDataSetChange.
//
// A descendant that opens its cursor closes it in its own destructor, after
// Destroying() (so that no close events run): the base destructor can no
// longer reach the descendant's InternalClose.

#include "host/Classes.h"
#include "host/DBDefs.h"
#include "host/DBFields.h"
#include "host/DBTypes.h"
#include "host/Variants.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orvex {

class TDataSource;
class TDataLink;
class TDataSet;

using TDataSetNotifyEvent = std::function<void(TDataSet* dataSet)>;
using TDataSetErrorEvent = std::function<void(TDataSet* dataSet, EDatabaseError* error, TDataAction& action)>;
using TFilterRecordEvent = std::function<void(TDataSet* dataSet, bool& accept)>;

class TDataSet : public TComponent {
public:
    explicit TDataSet(TComponent* owner);
    ~TDataSet() override;

    // ------------------------------------------------------------ open, close
    bool Active() const { return FState != dsInactive; }
    virtual void SetActive(bool value);
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }
    TDataSetState State() const { return FState; }
    void CheckActive();   // "Cannot perform this operation on a closed dataset"
    void CheckInactive(); // "Cannot perform this operation on an open dataset" (closes while designing)

    // ------------------------------------------------------------- navigation
    void First();
    void Last();
    void Next();
    void Prior();
    int MoveBy(int distance);
    bool Bof() const { return FBOF; }
    bool Eof() const { return FEOF; }
    bool IsEmpty() const { return FActiveRecord >= FRecordCount; }
    // Reads the record at the cursor again and fills the buffers around it.
    virtual void Resync(TResyncMode mode);
    void Refresh();
    int RecNo() { return GetRecNo(); }
    virtual void SetRecNo(int value) {}
    int RecordCount() { return GetRecordCount(); }
    virtual bool IsSequenced() { return true; }

    // --------------------------------------------------------------- editing
    void Edit();
    void Insert();
    void Append();
    virtual void Post();
    virtual void Cancel();
    void Delete();
    // Posts or cancels a pending edit (by Modified); leaves dsSetKey.
    void CheckBrowseMode();
    // Lets the data links write their pending values (deUpdateRecord).
    void UpdateRecord();
    void ClearFields();
    bool Modified() const { return FModified; }
    bool CanModify() { return GetCanModify(); }

    // -------------------------------------------------------------- bookmarks
    TBookmark GetBookmark();
    void GotoBookmark(const TBookmark& bookmark);
    void FreeBookmark(TBookmark& bookmark) { bookmark.clear(); }
    TBookmark Bookmark() { return GetBookmark(); }
    void SetBookmark(const TBookmark& value) { GotoBookmark(value); }
    virtual bool BookmarkValid(const TBookmark& bookmark) { return false; }
    virtual int CompareBookmarks(const TBookmark& bookmark1, const TBookmark& bookmark2) { return 0; }
    int BookmarkSize() const { return FBookmarkSize; }

    // ------------------------------------------------------------------ fields
    TFields* Fields() const { return FFields; }
    int FieldCount() const { return FFields->Count(); }
    TFieldDefs* FieldDefs() const { return FFieldDefs; }
    void SetFieldDefs(TFieldDefs* value);
    TField* FindField(const std::string& fieldName) const;
    TField* FieldByName(const std::string& fieldName) const; // "Field '%s' not found"
    TField* FieldByNumber(int fieldNo) const;
    // The fields named in a ";" list, in order.
    void GetFieldList(std::vector<TField*>& list, const std::string& fieldNames) const;
    // One field's Value, or a variant array of several (";" list).
    Variant FieldValues(const std::string& fieldNames);
    void SetFieldValues(const std::string& fieldNames, const Variant& value);
    // Reads the field definitions: InternalInitFieldDefs on the open cursor,
    // or on a cursor opened for the purpose (OpenCursor(true)).
    void InitFieldDefs();
    bool DefaultFields() const { return FDefaultFields; }
    int CalcFieldsSize() const { return FCalcFieldsSize; }
    int BlobFieldCount() const { return FBlobFieldCount; }
    bool AutoCalcFields = true;

    // --------------------------------------------------------- finding records
    virtual bool Locate(const std::string& keyFields, const Variant& keyValues, TLocateOptions options);
    virtual Variant Lookup(const std::string& keyFields, const Variant& keyValues,
                           const std::string& resultFields);
    virtual bool FindRecord(bool restart, bool goForward) { return false; }
    bool FindFirst() { return FindRecord(true, true); }
    bool FindLast() { return FindRecord(true, false); }
    bool FindNext() { return FindRecord(false, true); }
    bool FindPrior() { return FindRecord(false, false); }
    bool Found() const { return FFound; }

    // --------------------------------------------------------------- filtering
    bool Filtered() const { return FFiltered; }
    virtual void SetFiltered(bool value) { FFiltered = value; }
    const std::string& Filter() const { return FFilterText; }
    void SetFilter(const std::string& value) { SetFilterText(value); }
    virtual void SetFilterText(const std::string& value) { FFilterText = value; }
    TFilterOptions FilterOptions() const { return FFilterOptions; }
    virtual void SetFilterOptions(TFilterOptions value) { FFilterOptions = value; }
    const TFilterRecordEvent& OnFilterRecord() const { return FOnFilterRecord; }
    virtual void SetOnFilterRecord(const TFilterRecordEvent& value) { FOnFilterRecord = value; }

    // ---------------------------------------------------------- links, events
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return FDisableCount != 0; }
    virtual void DataEvent(TDataEvent event, std::intptr_t info);
    void DataEvent(TDataEvent event, TField* field) { DataEvent(event, reinterpret_cast<std::intptr_t>(field)); }
    void DataEvent(TDataEvent event, int info) { DataEvent(event, static_cast<std::intptr_t>(info)); }
    // The master data source of a detail dataset (nullptr by default).
    TDataSource* DataSource() { return GetDataSource(); }
    // True when following the master sources from dataSource reaches this dataset.
    bool IsLinkedTo(TDataSource* dataSource);
    int BlockReadSize() const { return FBlockReadSize; }
    void SetBlockReadSize(int value);
    virtual void UpdateIndexDefs() {}

    // A new stream on a blob field's value (nullptr when the dataset has
    // none); the caller frees it.
    virtual TStream* CreateBlobStream(TField* field, TBlobStreamMode mode) { return nullptr; }
    // The field's native value in the buffer of the current state; false when null.
    virtual bool GetFieldData(TField* field, void* buffer) = 0;
    // Copies the active record; false when there is none.
    virtual bool GetCurrentRecord(TRecordBuffer buffer) { return false; }

    TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
    TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
    TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
    TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
    TDataSetNotifyEvent BeforeRefresh, AfterRefresh;
    TDataSetNotifyEvent OnCalcFields, OnNewRecord;
    TDataSetErrorEvent OnEditError, OnPostError, OnDeleteError;

protected:
    // ------------------------------------------------ the descendant's cursor
    virtual TGetResult GetRecord(TRecordBuffer buffer, TGetMode getMode, bool doCheck) = 0;
    virtual int GetRecordSize() = 0;
    // A zero-filled buffer of GetRecordSize() bytes (new Byte[]); override both or neither.
    virtual TRecordBuffer AllocRecordBuffer();
    virtual void FreeRecordBuffer(TRecordBuffer& buffer);
    virtual void InternalOpen() = 0;
    virtual void InternalClose() = 0;
    virtual bool IsCursorOpen() = 0;
    virtual void InternalInitFieldDefs() = 0;
    // Reports an exception that must not stop the caller (opening a streamed,
    // active dataset while designing).
    virtual void InternalHandleException() = 0;
    virtual void InternalFirst() = 0;
    virtual void InternalLast() = 0;
    virtual void InternalInitRecord(TRecordBuffer buffer) = 0;
    virtual void InternalGotoBookmark(const void* bookmark) = 0;
    // Moves the cursor to the buffer's record: by default to its bookmark.
    virtual void InternalSetToRecord(TRecordBuffer buffer);
    virtual void InternalAddRecord(TRecordBuffer buffer, bool append) {}
    virtual void InternalEdit() {}
    virtual void InternalInsert() {}
    // Checks the required fields ("Field '%s' must have a value").
    virtual void InternalPost();
    virtual void InternalCancel() {}
    virtual void InternalDelete() = 0;
    virtual void InternalRefresh() {}
    virtual void SetFieldData(TField* field, const void* buffer) = 0;
    virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) { return bfCurrent; }
    virtual void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag value) {}
    virtual void GetBookmarkData(TRecordBuffer buffer, void* data) {}
    virtual void SetBookmarkData(TRecordBuffer buffer, const void* data) {}
    virtual void ClearCalcFields(TRecordBuffer buffer) {}
    virtual void RefreshInternalCalcFields(TRecordBuffer buffer) {}
    virtual int GetRecordCount() { return -1; }
    virtual int GetRecNo() { return -1; }
    virtual bool GetCanModify() { return true; }
    virtual TDataSource* GetDataSource() { return nullptr; }

    // -------------------------------------------- the ring, for descendants
    virtual bool GetNextRecord();
    virtual bool GetPriorRecord();
    virtual int GetNextRecords();
    virtual int GetPriorRecords();
    TRecordBuffer ActiveBuffer() const;
    TRecordBuffer Buffers(int index) const { return FBuffers[static_cast<std::size_t>(index)]; }
    TRecordBuffer TempBuffer() const { return Buffers(FRecordCount); }
    TRecordBuffer CalcBuffer() const { return FCalcBuffer; }
    int BufferCount() const { return FBufferCount; }
    int ActiveRecord() const { return FActiveRecord; }
    int CurrentRecord() const { return FCurrentRecord; }
    int BufferRecordCount() const { return FRecordCount; }
    void SetBookmarkSize(int value) { FBookmarkSize = value; }
    void CursorPosChanged() { FCurrentRecord = -1; }
    void UpdateCursorPos();
    void SetCurrentRecord(int index);
    void ClearBuffers();
    void ActivateBuffers();
    void MoveBuffer(int curIndex, int newIndex);
    void SetBufferCount(int value);
    void UpdateBufferCount();

    // ----------------------------------------------------- states, fields
    // A state change, heard by the sources and links; Modified is reset.
    void SetState(TDataSetState value);
    // A state for the moment (the links hear nothing until RestoreState);
    // Modified is kept, so an edit interrupted by a filter or key lookup
    // still posts.
    TDataSetState SetTempState(TDataSetState value);
    void RestoreState(TDataSetState value);
    void SetModified(bool value) { FModified = value; }
    void SetFound(bool value) { FFound = value; }
    void CheckBiDirectional() {}
    void CheckCanModify(); // "Cannot modify a read-only dataset"
    void CheckRequiredFields();
    // Computes the calculated and lookup fields of a buffer in dsCalcFields.
    void GetCalcFields(TRecordBuffer buffer);
    virtual void CalculateFields(TRecordBuffer buffer);
    void UpdateCalcFields();
    // Default fields (one per visible field definition), owned by the dataset.
    virtual void CreateFields();
    void DestroyFields();
    // Binding gives data fields their FieldNo and calculated fields their
    // Offset; CalcFieldsSize and BlobFieldCount follow.
    virtual void BindFields(bool binding);
    void FreeFieldBuffers();
    virtual void OpenCursor(bool infoQuery);
    virtual void CloseCursor();
    void InitRecord(TRecordBuffer buffer);

    virtual void DoOnNewRecord();
    virtual void DoBeforeOpen() { Fire(BeforeOpen); }
    virtual void DoAfterOpen() { Fire(AfterOpen); }
    virtual void DoBeforeClose() { Fire(BeforeClose); }
    virtual void DoAfterClose() { Fire(AfterClose); }
    virtual void DoBeforeInsert() { Fire(BeforeInsert); }
    virtual void DoAfterInsert() { Fire(AfterInsert); }
    virtual void DoBeforeEdit() { Fire(BeforeEdit); }
    virtual void DoAfterEdit() { Fire(AfterEdit); }
    virtual void DoBeforePost() { Fire(BeforePost); }
    virtual void DoAfterPost() { Fire(AfterPost); }
    virtual void DoBeforeCancel() { Fire(BeforeCancel); }
    virtual void DoAfterCancel() { Fire(AfterCancel); }
    virtual void DoBeforeDelete() { Fire(BeforeDelete); }
    virtual void DoAfterDelete() { Fire(AfterDelete); }
    virtual void DoBeforeScroll() { Fire(BeforeScroll); }
    virtual void DoAfterScroll() { Fire(AfterScroll); }
    virtual void DoBeforeRefresh() { Fire(BeforeRefresh); }
    virtual void DoAfterRefresh() { Fire(AfterRefresh); }
    virtual void DoOnCalcFields() { Fire(OnCalcFields); }

    void Loaded() override;

private:
    friend class TDataSource;
    friend class TDataLink;
    friend class TField;
    friend class TFieldDefs;
    friend class TIndexDefs;

    using TDataOperation = void (TDataSet::*)();
    void CheckOperation(TDataOperation operation, const TDataSetErrorEvent& errorEvent);
    void MoveToEnd(bool first);
    void LeaveSetKey();
    void BeginInsertAppend();
    void EndInsertAppend();
    void SetBufListSize(int value);
    void AdjustFirstRecord(int delta);
    void AddDataSource(TDataSource* dataSource);
    void RemoveDataSource(TDataSource* dataSource);
    void Fire(const TDataSetNotifyEvent& event)
    {
        if (event)
            event(this);
    }

    TFields* FFields;
    TFieldDefs* FFieldDefs;
    std::vector<TDataSource*> FDataSources;
    std::vector<TRecordBuffer> FBuffers;
    int FBufferCount = 0;
    int FRecordCount = 0;
    int FActiveRecord = 0;
    int FCurrentRecord = -1;
    TRecordBuffer FCalcBuffer = nullptr;
    int FBookmarkSize = 0;
    int FCalcFieldsSize = 0;
    int FBlobFieldCount = 0;
    bool FInternalCalcFields = false;
    bool FBOF = true;
    bool FEOF = true;
    bool FModified = false;
    bool FFound = false;
    bool FDefaultFields = false;
    bool FStreamedActive = false;
    TDataSetState FState = dsInactive;
    TDataSetState FDisableState = dsInactive;
    TDataEvent FEnableEvent = deDataSetChange;
    int FDisableCount = 0;
    int FBlockReadSize = 0;
    bool FFiltered = false;
    std::string FFilterText;
    TFilterOptions FFilterOptions = 0;
    TFilterRecordEvent FOnFilterRecord;
};

} // namespace orvex
