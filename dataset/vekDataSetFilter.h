#pragma once
// The dataset's side of filters by expression: the record source through
// which the filter evaluator reads one table (TVekExprDBDataProvider) and the
// evaluator bound to that table (TVekFilterEvaluator). TFilterMgr
// (vekDataSet.h) owns the evaluator and moves the cursor through its result.

#include "dataset/vekDataSet.h"
#include "sql/vekFilterUnit.h"

#include <vector>

namespace orvex {

// Reads the records of one open dataset for the expression evaluator. Field
// numbers are the table's engine field numbers; a record is read into the
// provider's own buffer, so that evaluating never moves the dataset's cursor.
class TVekExprDBDataProvider : public TVekExprDataProvider {
public:
    // The table (fatal when missing): its fields, string compare and a
    // filter buffer of its record-buffer size.
    void Initialize(TVekDataSet* Table);

    Variant GetDataAsVariant(Integer FieldNo) override;
    bool IsFieldNull(Integer FieldNo) override;
    // The table's records in the order of its current index (inside its
    // range): (address, record number); the base record number is the first.
    void GetDefaultRecordList(TCompoundList* List) override;
    void GetDefaultAddressList(std::vector<Cardinal>& Addresses) override;
    // The table's record slots in file order (TVekDataSet::ListRecordSlots).
    bool GetStorageOrderSlots(std::vector<Cardinal>& Slots, Integer& IndexCount) override;
    // The first Limit addresses of GetDefaultAddressList.
    void GetLeadingAddresses(std::vector<Cardinal>& Addresses, Integer Limit);
    void Open() override;
    void Refresh() override;
    // Reads the record at Address (a record address) into the filter buffer.
    bool MoveToRecord(Integer Address) override;
    // The records read page by page (TVekDataSet::ReadRecordBuffers).
    void ScanRecords(const Cardinal* Addresses, std::size_t Count,
                     const std::function<void(std::size_t)>& Visit) override;
    TInternalFieldItem* FindField(const TParserToken* Token, const std::string& Name) override;
    // Whether the record at Address passes the table's record event (every
    // record without one).
    bool PassFilterEvent(Integer Address) override;
    const Byte* RawRecordBuffer() override { return DataBuffer(); }
    std::size_t RawRecordSize() const override;
    // The table's own layout of a field that is no blob.
    bool RawFieldLayout(Integer FieldNo, TRawFieldLayout& Layout) override;

    TIndexManager* GetIndexMgr() const { return FTable ? FTable->IndexManager() : nullptr; }
    void CopyFilterBufFromRecBuf();
    // Read fields from the table's current buffer instead of the filter buffer.
    void SetReadDataFromRecBuf(bool Value) { FReadDataFromRecBuf = Value; }
    TVekDataSet* Table() const { return FTable; }

private:
    // The record just read into the filter buffer: its extra information set;
    // false when the slot holds no record.
    bool TakeRecordRead(Cardinal Address);
    const Byte* DataBuffer();
    bool IsBlob(Integer FieldNo) const;

    TVekDataSet* FTable = nullptr;
    std::vector<Byte> FFilterBuf;
    std::vector<Byte> FEventBuf;
    bool FReadDataFromRecBuf = false;
    // Per engine field number: a blob field.
    std::vector<bool> FBlobFields;
};

// The filter evaluator of one table: its data provider and its table list
// (one entry: the table's name and fields). The table's indexes are offered
// to the index side (the evaluator's TFilterIndexAnswerer) when one is set.
class TVekFilterEvaluator : public TVekBaseFilterEvaluator {
public:
    explicit TVekFilterEvaluator(TVekDataSet* Table);
    ~TVekFilterEvaluator() override;

    TVekExprDBDataProvider* Provider() const { return FProvider.get(); }

private:
    std::unique_ptr<TVekExprDBDataProvider> FProvider;
    std::unique_ptr<TTableList> FTableList;
};

} // namespace orvex
