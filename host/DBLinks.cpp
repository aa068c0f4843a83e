// Data sources, data links and the master link of detail datasets.

#include "host/DBLinks.h"

#include "host/DBConsts.h"
#include "host/DataSet.h"

#include <algorithm>

namespace orvex {

// ------------------------------------------------------------- TDataSource

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {}

TDataSource::~TDataSource()
{
    Destroying();
    SetDataSet(nullptr);
    while (!FDataLinks.empty())
        FDataLinks.back()->SetDataSource(nullptr);
}

void TDataSource::SetDataSet(TDataSet* dataSet)
{
    if (dataSet == FDataSet)
        return;
    if (IsLinkedTo(dataSet))
        DatabaseError(SCircularDataLink, this);
    if (FDataSet)
        FDataSet->RemoveDataSource(this);
    if (dataSet)
        dataSet->AddDataSource(this);
}

bool TDataSource::IsLinkedTo(TDataSet* dataSet) const
{
    while (dataSet) {
        TDataSource* source = dataSet->DataSource();
        if (!source)
            break;
        if (source == this)
            return true;
        dataSet = source->DataSet();
    }
    return false;
}

void TDataSource::SetEnabled(bool value)
{
    FEnabled = value;
    UpdateState();
}

void TDataSource::Edit()
{
    if (AutoEdit && FState == dsBrowse)
        FDataSet->Edit();
}

void TDataSource::UpdateState()
{
    SetState(FEnabled && FDataSet ? FDataSet->State() : dsInactive);
}

void TDataSource::SetState(TDataSetState value)
{
    if (FState == value)
        return;
    const TDataSetState prior = FState;
    FState = value;
    NotifyDataLinks(deUpdateState, 0);
    if (HasState(csDestroying))
        return;
    if (OnStateChange)
        OnStateChange(this);
    if (prior == dsInactive && OnDataChange)
        OnDataChange(this, nullptr);
}

void TDataSource::NotifyDataLinks(TDataEvent event, std::intptr_t info)
{
    // Single-record links (detail datasets, edit controls) hear first, then
    // the multi-record ones. A link may leave while it is told.
    for (int pass = 0; pass < 2; ++pass)
        for (int i = static_cast<int>(FDataLinks.size()) - 1; i >= 0; --i) {
            if (i >= static_cast<int>(FDataLinks.size()))
                continue;
            TDataLink* link = FDataLinks[static_cast<std::size_t>(i)];
            if ((link->FBufferCount > 1) == (pass == 1))
                link->DataEvent(event, info);
        }
}

void TDataSource::DataEvent(TDataEvent event, std::intptr_t info)
{
    if (event == deUpdateState) {
        UpdateState();
        return;
    }
    if (FState == dsInactive)
        return;
    NotifyDataLinks(event, info);
    switch (event) {
    case deFieldChange:
    case deRecordChange:
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
        if (OnDataChange)
            OnDataChange(this, event == deFieldChange ? reinterpret_cast<TField*>(info) : nullptr);
        break;
    case deUpdateRecord:
        if (OnUpdateData)
            OnUpdateData(this);
        break;
    default: break;
    }
}

void TDataSource::AddDataLink(TDataLink* link)
{
    FDataLinks.push_back(link);
    link->FDataSource = this;
    if (FDataSet)
        FDataSet->UpdateBufferCount();
    link->UpdateState();
}

void TDataSource::RemoveDataLink(TDataLink* link)
{
    link->FDataSource = nullptr;
    FDataLinks.erase(std::remove(FDataLinks.begin(), FDataLinks.end(), link), FDataLinks.end());
    link->UpdateState();
    if (FDataSet)
        FDataSet->UpdateBufferCount();
}

// --------------------------------------------------------------- TDataLink

TDataLink::~TDataLink()
{
    FActive = false;
    FEditing = false;
    DataSourceFixed = false;
    SetDataSource(nullptr);
}

void TDataLink::SetDataSource(TDataSource* value)
{
    if (value == FDataSource)
        return;
    if (DataSourceFixed)
        DatabaseError(SDataSourceChange, FDataSource);
    if (FDataSource)
        FDataSource->RemoveDataLink(this);
    if (value)
        value->AddDataLink(this);
}

TDataSet* TDataLink::DataSet() const
{
    return FDataSource ? FDataSource->DataSet() : nullptr;
}

void TDataLink::SetReadOnly(bool value)
{
    if (FReadOnly == value)
        return;
    FReadOnly = value;
    UpdateState();
}

void TDataLink::SetBufferCount(int value)
{
    if (FBufferCount == value)
        return;
    FBufferCount = value;
    if (!FActive)
        return;
    UpdateRange();
    DataSet()->UpdateBufferCount();
    UpdateRange();
}

int TDataLink::ActiveRecord() const
{
    if (!FActive || FDataSource->State() == dsSetKey)
        return 0;
    return DataSet()->FActiveRecord - FFirstRecord;
}

void TDataLink::SetActiveRecord(int value)
{
    if (FActive && FDataSource->State() != dsSetKey)
        DataSet()->FActiveRecord = value + FFirstRecord;
}

int TDataLink::RecordCount() const
{
    if (!FActive)
        return 0;
    if (FDataSource->State() == dsSetKey)
        return 1;
    return std::min(DataSet()->FRecordCount, FBufferCount);
}

bool TDataLink::Edit()
{
    if (!FReadOnly && FDataSource)
        FDataSource->Edit();
    return FEditing;
}

void TDataLink::UpdateRecord()
{
    FUpdating = true;
    try {
        UpdateData();
    } catch (...) {
        FUpdating = false;
        throw;
    }
    FUpdating = false;
}

void TDataLink::UpdateState()
{
    SetActive(FDataSource && FDataSource->State() != dsInactive);
    SetEditing(FDataSource && StateIn(FDataSource->State(), dsEditModes) && !FReadOnly);
}

void TDataLink::SetActive(bool value)
{
    if (FActive == value)
        return;
    FActive = value;
    if (value)
        UpdateRange();
    else
        FFirstRecord = 0;
    ActiveChanged();
}

void TDataLink::SetEditing(bool value)
{
    if (FEditing == value)
        return;
    FEditing = value;
    EditingChanged();
}

// Keeps the dataset's active record inside the link's window of buffers.
void TDataLink::UpdateRange()
{
    const TDataSet* dataSet = DataSet();
    const int active = dataSet->FActiveRecord;
    const int min = std::max(0, active - FBufferCount + 1);
    const int max = std::min(std::max(0, dataSet->FBufferCount - FBufferCount), active);
    if (FFirstRecord < min)
        FFirstRecord = min;
    if (FFirstRecord > max)
        FFirstRecord = max;
}

void TDataLink::DataEvent(TDataEvent event, std::intptr_t info)
{
    if (event == deUpdateState) {
        UpdateState();
        return;
    }
    if (!FActive)
        return;
    switch (event) {
    case deFieldChange:
    case deRecordChange:
        if (!FUpdating)
            RecordChanged(reinterpret_cast<TField*>(info));
        break;
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange: {
        // The window follows the buffers shifted by a scroll, then moves as
        // little as needed to show the active record.
        int count = 0;
        if (FDataSource->State() != dsSetKey) {
            const int active = DataSet()->FActiveRecord;
            const int first = FFirstRecord + static_cast<int>(info);
            const int last = first + FBufferCount - 1;
            if (active > last)
                count = active - last;
            else if (active < first)
                count = active - first;
            FFirstRecord = first + count;
        }
        if (event == deDataSetChange)
            DataSetChanged();
        else if (event == deDataSetScroll)
            DataSetScrolled(count);
        else
            LayoutChanged();
        break;
    }
    case deUpdateRecord: UpdateRecord(); break;
    case deCheckBrowseMode: CheckBrowseMode(); break;
    case deFocusControl: FocusControl(reinterpret_cast<TField**>(info)); break;
    default: break;
    }
}

// --------------------------------------------------------- TMasterDataLink

void TMasterDataLink::SetFieldNames(const std::string& value)
{
    if (FFieldNames == value)
        return;
    FFieldNames = value;
    ActiveChanged();
}

void TMasterDataLink::ActiveChanged()
{
    FFields.clear();
    if (Active()) {
        try {
            DataSet()->GetFieldList(FFields, FFieldNames);
        } catch (...) {
            FFields.clear();
            throw;
        }
    }
    if (!FDataSet->Active() || FDataSet->HasState(csDestroying))
        return;
    if (Active() && !FFields.empty()) {
        if (OnMasterChange)
            OnMasterChange(this);
    } else if (OnMasterDisable) {
        OnMasterDisable(this);
    }
}

void TMasterDataLink::CheckBrowseMode()
{
    if (FDataSet->Active())
        FDataSet->CheckBrowseMode();
}

void TMasterDataLink::LayoutChanged()
{
    ActiveChanged();
}

void TMasterDataLink::RecordChanged(TField* field)
{
    if (DataSource()->State() == dsSetKey || !FDataSet->Active() || FFields.empty() || !OnMasterChange)
        return;
    if (field && std::find(FFields.begin(), FFields.end(), field) == FFields.end())
        return;
    OnMasterChange(this);
}

} // namespace orvex
