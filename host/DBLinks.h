#pragma once
// Data sources and data links: how controls and detail datasets follow a
// dataset. A TDataSource connects one dataset with any number of TDataLink
// objects and passes the dataset's events on; a link sees a window of
// BufferCount records of the dataset's buffers (the dataset keeps as many
// buffers as its largest link asks for).
//
// TMasterDataLink is the link of a detail dataset on its master's data
// source: it resolves FieldNames (a ";" list) to the master's Fields when the
// master opens, calls OnMasterChange when the master scrolls or one of those
// fields changes (not in the master's set-key state), and OnMasterDisable
// when the master closes or the field list becomes empty.

#include "host/Classes.h"
#include "host/DBTypes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orvex {

class TDataSet;
class TDataLink;
class TField;

using TDataChangeEvent = std::function<void(TObject* sender, TField* field)>;

class TDataSource : public TComponent {
public:
    explicit TDataSource(TComponent* owner);
    ~TDataSource() override;

    TDataSet* DataSet() const { return FDataSet; }
    // Refuses a dataset whose master sources lead back to this source
    // ("Circular datalinks are not allowed").
    void SetDataSet(TDataSet* dataSet);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);
    bool AutoEdit = true;
    // The dataset's state, dsInactive while disabled or without dataset.
    TDataSetState State() const { return FState; }
    // Puts the dataset in edit mode when AutoEdit and browsing.
    void Edit();
    // True when following dataSet's master sources reaches this source.
    bool IsLinkedTo(TDataSet* dataSet) const;
    int DataLinkCount() const { return static_cast<int>(FDataLinks.size()); }

    TNotifyEvent OnStateChange;
    TDataChangeEvent OnDataChange; // field changes (with the field), scrolls and refreshes
    TNotifyEvent OnUpdateData;

private:
    friend class TDataSet;
    friend class TDataLink;
    void DataEvent(TDataEvent event, std::intptr_t info);
    void UpdateState();
    void SetState(TDataSetState value);
    void NotifyDataLinks(TDataEvent event, std::intptr_t info);
    void AddDataLink(TDataLink* link);
    void RemoveDataLink(TDataLink* link);

    TDataSet* FDataSet = nullptr;
    bool FEnabled = true;
    TDataSetState FState = dsInactive;
    std::vector<TDataLink*> FDataLinks;
};

class TDataLink : public TPersistent {
public:
    TDataLink() = default;
    ~TDataLink() override;

    TDataSource* DataSource() const { return FDataSource; }
    void SetDataSource(TDataSource* value); // "DataSource cannot be changed" when fixed
    TDataSet* DataSet() const;
    bool DataSourceFixed = false;
    bool Active() const { return FActive; }
    bool Editing() const { return FEditing; }
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value);
    // Records the link shows; the dataset keeps at least this many buffers.
    int BufferCount() const { return FBufferCount; }
    void SetBufferCount(int value);
    // The dataset's active record relative to the link's window; setting it
    // makes another buffered record the dataset's active one (as a grid does
    // to paint its rows).
    int ActiveRecord() const;
    void SetActiveRecord(int value);
    // Records in the window (1 in set-key state).
    int RecordCount() const;
    bool Edit(); // the data source's Edit; true when editing afterwards
    void UpdateRecord();

protected:
    virtual void ActiveChanged() {}
    virtual void CheckBrowseMode() {}
    virtual void DataSetChanged() { RecordChanged(nullptr); }
    virtual void DataSetScrolled(int distance) { DataSetChanged(); }
    virtual void EditingChanged() {}
    virtual void FocusControl(TField** field) {}
    virtual void LayoutChanged() { DataSetChanged(); }
    virtual void RecordChanged(TField* field) {}
    virtual void UpdateData() {}

private:
    friend class TDataSource;
    friend class TDataSet;
    void DataEvent(TDataEvent event, std::intptr_t info);
    void UpdateState();
    void UpdateRange();
    void SetActive(bool value);
    void SetEditing(bool value);

    TDataSource* FDataSource = nullptr;
    bool FActive = false;
    bool FEditing = false;
    bool FReadOnly = false;
    bool FUpdating = false;
    int FBufferCount = 1;
    int FFirstRecord = 0;
};

// A link through which a dataset follows another as its detail.
class TDetailDataLink : public TDataLink {
public:
    TDataSet* DetailDataSet() { return GetDetailDataSet(); }

protected:
    virtual TDataSet* GetDetailDataSet() { return nullptr; }
};

class TMasterDataLink : public TDetailDataLink {
public:
    explicit TMasterDataLink(TDataSet* dataSet) : FDataSet(dataSet) {}

    const std::string& FieldNames() const { return FFieldNames; }
    void SetFieldNames(const std::string& value);
    const std::vector<TField*>& Fields() const { return FFields; }

    TNotifyEvent OnMasterChange;  // sender: the link
    TNotifyEvent OnMasterDisable; // sender: the link

protected:
    TDataSet* GetDetailDataSet() override { return FDataSet; }
    void ActiveChanged() override;
    void CheckBrowseMode() override;
    void LayoutChanged() override;
    void RecordChanged(TField* field) override;

private:
    TDataSet* FDataSet;
    std::string FFieldNames;
    std::vector<TField*> FFields;
};

} // namespace orvex
