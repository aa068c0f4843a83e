// TVekQuery and TVekQueryDataLink: text and parameters, preparing, opening,
// executing under the connection's transaction rule, live write-back.

#include "query/vekSQL.h"

#include "dataset/vekDatabase.h"
#include "host/DBConsts.h"
#include "host/SysUtils.h"
#include "query/vekJoinDataProviderUnit.h"
#include "query/vekQueryDataset.h"
#include "query/vekQueryProvider.h"

namespace orvex {

namespace {

constexpr Integer ErrSQL = 9645;
constexpr Integer ErrNoConnection = 10112;
constexpr Integer ErrInTransaction = 10122;

constexpr const char* RecAddrField = "__RecAddr";
constexpr const char* RecModFlagField = "__RecModFlag";

Integer ElapsedSince(std::uint32_t Start)
{
    return static_cast<Integer>(GetTickCount() - Start);
}

} // namespace

// ======================================================== TVekQueryDataLink

void TVekQueryDataLink::ActiveChanged()
{
    if (FQuery->Active())
        FQuery->RefreshParams();
}

void TVekQueryDataLink::RecordChanged(TField* Field)
{
    if (!Field && FQuery->Active())
        FQuery->RefreshParams();
}

void TVekQueryDataLink::CheckBrowseMode()
{
    if (FQuery->Active())
        FQuery->CheckBrowseMode();
}

TDataSet* TVekQueryDataLink::GetDetailDataSet()
{
    return FQuery;
}

// ================================================================ TVekQuery

TVekQuery::TVekQuery(TComponent* AOwner)
    : TVekBaseTable(AOwner), FSQL(std::make_unique<TStringList>()), FParams(std::make_unique<TParams>(this)),
      FDataLink(std::make_unique<TVekQueryDataLink>(this))
{
    FProvider = std::make_unique<TVekQueryProvider>();
    FProvider->SetParams(FParams.get());
    FSQL->OnChange = [this](TObject* Sender) { QueryChanged(Sender); };
}

TVekQuery::~TVekQuery()
{
    Destroying();
    if (Database())
        Database()->UnRegisterClient(&FConnectionWatch);
    try {
        if (IsCursorOpen())
            InternalClose();
        else
            DropResultTable();
    } catch (...) {
        // A destructor reports nothing; the connection drops its memory
        // tables when it closes.
    }
    FSQL->OnChange = nullptr;
    FDataLink->SetDataSource(nullptr);
    FLiveBridge.reset();
    FProvider.reset();
}

void TVekQuery::SetDataBase(TVekDataBase* Value)
{
    if (Value == FDatabase && Value == DataBase())
        return;
    if (Database())
        Database()->UnRegisterClient(&FConnectionWatch);
    FDatabase = Value;
    TVekBaseTable::SetDataBase(Value);
    if (Value)
        Value->RegisterClient(&FConnectionWatch, [this](TObject*, bool Connecting) {
            if (!Connecting)
                ReleaseStatement();
        });
}

void TVekQuery::ReleaseStatement()
{
    if (FRunning)
        return;
    try {
        if (Active())
            Close();
    } catch (...) {
    }
    UnPrepare();
    FProvider->ClearItems();
}

// ------------------------------------------------------------------- text

void TVekQuery::SetSQL(TStrings* Value)
{
    if (FSQL->Equals(Value))
        return;
    FSQL->BeginUpdate();
    try {
        FSQL->Assign(Value);
    } catch (...) {
        FSQL->EndUpdate();
        throw;
    }
    FSQL->EndUpdate();
}

void TVekQuery::SetSQLText(const std::string& Text)
{
    TStringList list;
    list.SetText(Text);
    SetSQL(&list);
}

void TVekQuery::QueryChanged(TObject*)
{
    if (ComponentState() & csLoading)
        return;
    if (Active())
        Close();
    if (FPrepared)
        UnPrepare();
    if (FParamCheck || (ComponentState() & csDesigning)) {
        if (FProvider->Database() != Database())
            FProvider->SetDatabase(Database());
        if (Database()) {
            if (!Database()->Connected())
                Database()->Open();
            FProvider->SetSQL(FSQL.get());
            FProvider->ResetParams();
        }
    }
    DataEvent(dePropertyChange, 0);
}

void TVekQuery::SetRequestLive(bool Value)
{
    if (Value == FRequestLive)
        return;
    CheckInactive();
    FRequestLive = Value;
}

void TVekQuery::SetDataSource(TDataSource* Value)
{
    if (Value && IsLinkedTo(Value))
        DatabaseError(SCircularDataLink, this);
    FDataLink->SetDataSource(Value);
}

// -------------------------------------------------------------- preparing

void TVekQuery::ConnectDatabase(const char* Context)
{
    if (!Database())
        VekDatabaseError(ErrNoConnection, Context, "", this);
    if (!Database()->Connected())
        Database()->Open();
    if (FProvider->Database() != Database())
        FProvider->SetDatabase(Database());
}

void TVekQuery::RaiseSQLError(const char* Context, const std::string& Custom)
{
    VekDatabaseError(ErrSQL, Context, Custom, this);
}

void TVekQuery::Prepare()
{
    InternalPrepare();
}

void TVekQuery::SetPrepare(bool Value)
{
    if (Value)
        Prepare();
    else
        UnPrepare();
}

void TVekQuery::InternalPrepare()
{
    ConnectDatabase("TVekQuery.InternalConnect");
    const std::uint32_t start = GetTickCount();
    // The text the provider parsed last is parsed again only when it
    // changed or what it names did.
    if (!FProvider->SQL()->Equals(FSQL.get()))
        FProvider->SetSQL(FSQL.get());
    bool ok = FProvider->ValidateSQLOrReuse();
    if (ok) {
        if (FDataLink->DataSource())
            SetParamsFromDataSource();
        ok = FProvider->PreparePlan();
        FProvider->SetMaxRecords(FMaxRecords);
        FPrepareDuration = ElapsedSince(start);
    }
    if (!ok)
        RaiseSQLError("TVekQuery", FProvider->GetErrorsAsText());
    FPrepared = true;
}

void TVekQuery::UnPrepare()
{
    FPrepared = false;
    FLiveBridge.reset();
}

TVekSQLStatementType TVekQuery::GetSQLStatementType() const
{
    return FProvider->GetSQLStatementType();
}

Integer TVekQuery::RowsAffected() const
{
    return FProvider ? FProvider->GetRowsAffected() : 0;
}

// ------------------------------------------- connection and transaction rule

void TVekQuery::InternalConnect()
{
    if (!Database())
        VekDatabaseError(ErrNoConnection, "TVekQuery.InternalConnect", "", this);
    TVekDataBase* db = Database();
    FWasConnected = db->Connected();
    FWasExclusive = db->Exclusive();
    if (!FWasConnected)
        db->Open();
    if (FProvider->Database() != db)
        FProvider->SetDatabase(db);
    db->ActivateQueryMode(GetSQLStatementType() != vsSQLSelect);
    FSuccess = false;
    FStartedTransaction = false;
    if (FOwnTransaction && !db->InTransaction()) {
        db->StartTransaction();
        FStartedTransaction = true;
    }
}

void TVekQuery::InternalDisconnect()
{
    TVekDataBase* db = Database();
    db->SetQueryActive(false);
    const bool started = FStartedTransaction;
    FStartedTransaction = false;
    if (!FSuccess) {
        // The run's own transaction goes; a transaction of the host stays
        // the host's to end.
        if (started && db->InTransaction())
            db->Rollback();
        try {
            if (IsCursorOpen() || DataSetIsOpen())
                TVekBaseTable::InternalClose();
        } catch (...) {
        }
    } else if (started) {
        db->Commit();
    }
    if (!FWasConnected && db->Connected())
        db->Close();
}

// -------------------------------------------------------------- executing

void TVekQuery::ExecSQL()
{
    constexpr const char* Context = "TVekQuery.ExecSQL";
    if (!Database())
        VekDatabaseError(ErrNoConnection, Context, "", this);
    if (Active())
        Close();
    ConnectDatabase(Context);
    if (!FPrepared)
        Prepare();
    const TVekSQLStatementType type = GetSQLStatementType();
    if (type == vsSchemaManipulation && Database()->InTransaction())
        VekDatabaseError(ErrInTransaction, Context, "", this);
    FOwnTransaction =
        !Database()->IsMemory() && (type == vsSQLInsert || type == vsSQLDelete || type == vsSQLUpdate);
    InternalConnect();
    FRunning = true;
    try {
        FSuccess = FProvider->ExecSQL();
        if (!FSuccess)
            RaiseSQLError(Context, FProvider->GetErrorsAsText());
    } catch (...) {
        FRunning = false;
        FSuccess = false;
        InternalDisconnect();
        throw;
    }
    FRunning = false;
    InternalDisconnect();
}

// ---------------------------------------------------------------- opening

void TVekQuery::InternalOpen()
{
    RunSelect(false);
}

void TVekQuery::RunSelect(bool ForDefs)
{
    SetMemory(true);
    if (!Database())
        VekDatabaseError(ErrNoConnection, "TVekQuery.ExecSQL", "", this);
    ConnectDatabase("TVekQuery.ExecSQL");
    // A SELECT the driver parsed before is checked again (and parsed again
    // when what it names changed) inside the run's own transaction, which
    // keeps the definitions it reads locked to the run's end: they are read
    // once for the check and the run.
    const bool prepareInRun = !FPrepared && GetSQLStatementType() == vsSQLSelect;
    if (!FPrepared && !prepareInRun)
        Prepare();
    if (GetSQLStatementType() != vsSQLSelect)
        RaiseSQLError("TVekQuery.InternalOpen", "SQL statement cannot be opened (execute by ExecSQL)");
    FOwnTransaction = !Database()->IsMemory();
    InternalConnect();
    bool live = false;
    try {
        if (prepareInRun) {
            Prepare();
            if (GetSQLStatementType() != vsSQLSelect)
                RaiseSQLError("TVekQuery.InternalOpen", "SQL statement cannot be opened (execute by ExecSQL)");
        }
        const std::uint32_t start = GetTickCount();
        FProvider->SetRequestLive(FRequestLive);
        FProvider->SetCreateDefsOnly(ForDefs);
        FSuccess = FProvider->CreateResultSet();
        FOpenDuration = ElapsedSince(start);
        if (!FSuccess)
            RaiseSQLError("TVekQuery.InternalOpen", FProvider->GetErrorsAsText());
        TVekQueryDataset* result = FProvider->GetResultSet();
        const std::string resultName = result->TableName();
        if (!TableName().empty() && !SameText(TableName(), resultName))
            DropResultTable();
        SetTableName(resultName);
        // The cursor goes where the result table is (the statement's
        // database, or the connection's temporary one).
        SetMemory(result->Memory());
        if (result->DataBase() && result->DataBase() != DataBase())
            TVekBaseTable::SetDataBase(result->DataBase());
        live = !ForDefs && FProvider->GetIsLiveRequest();
        SetReadOnly(!live);
        if (ForDefs) {
            TVekBaseTable::InternalOpenForDefs();
        } else {
            TVekBaseTable::InternalOpen();
            if (live) {
                OpenLiveBridge();
                for (int i = 0; i < FieldCount(); ++i) {
                    TField* field = Fields()->Fields(i);
                    TField* source = result->FindField(field->FieldName());
                    field->SetReadOnly(!source || source->ReadOnly());
                }
            }
        }
        CloseDriverResult();
    } catch (...) {
        FSuccess = false;
        // A statement stopped part-way is parsed afresh next time.
        FProvider->ForgetParse();
        try {
            CloseDriverResult();
            if (FLiveBridge && FLiveBridge->DataSetIsOpen())
                FLiveBridge->Close();
        } catch (...) {
        }
        InternalDisconnect();
        RestoreStatementDatabase();
        throw;
    }
    InternalDisconnect();
    if (live && FLiveBridge && !FLiveBridge->Active())
        FLiveBridge->Open();
}

void TVekQuery::CloseDriverResult()
{
    TVekQueryDataset* result = FProvider->GetResultSet();
    if (!result)
        return;
    if (result->Active())
        result->Close();
    else if (result->DataSetIsOpen())
        result->DataSetClose();
}

void TVekQuery::OpenLiveBridge()
{
    if (!FLiveBridge)
        FLiveBridge = std::make_unique<TVekDatasetBridge>(nullptr);
    FLiveBridge->SetDataBase(Database());
    FProvider->SetLiveResultBridge(FLiveBridge.get());
    if (!FLiveBridge->Active())
        FLiveBridge->Open();
}

void TVekQuery::InternalOpenForDefs()
{
    RunSelect(true);
}

void TVekQuery::InternalCloseForDefs()
{
    TVekBaseTable::InternalCloseForDefs();
    UnPrepare();
    DropResultTable();
}

void TVekQuery::InternalRefresh()
{
    DisableControls();
    try {
        InternalConnect();
        try {
            FProvider->SetRequestLive(FRequestLive);
            FSuccess = FProvider->PreparePlan() && FProvider->CreateResultSet();
            if (!FSuccess)
                RaiseSQLError("TVekQuery.InternalOpen", FProvider->GetErrorsAsText());
            CloseDriverResult();
        } catch (...) {
            FSuccess = false;
            InternalDisconnect();
            throw;
        }
        InternalDisconnect();
        TVekBaseTable::InternalRefresh();
    } catch (...) {
        EnableControls();
        throw;
    }
    EnableControls();
}

// ---------------------------------------------------------------- closing

void TVekQuery::InternalClose()
{
    TVekBaseTable::InternalClose();
    DropResultTable();
    UnPrepare();
    RestoreStatementDatabase();
}

void TVekQuery::RestoreStatementDatabase()
{
    if (DataBase() != FDatabase && !DataSetIsOpen())
        TVekBaseTable::SetDataBase(FDatabase);
}

void TVekQuery::DropResultTable()
{
    // The result table lives where the statement's result store put it:
    // the dataset's own database and memory flag name it.
    TVekDataBase* db = DataBase();
    if (!db || TableName().empty() || !db->Connected())
        return;
    // The driver's statement forgets the table too, so that a later run
    // builds it afresh.
    if (FProvider->Count() > 0 && SameText(FProvider->Items(0)->ResultTableName(), TableName()))
        FProvider->Items(0)->DropResultTable();
    if (db->TableExists(TableName(), Memory()))
        db->DeleteTable(TableName(), Memory());
}

// ------------------------------------------------------------ live results

bool TVekQuery::GetCanModify()
{
    return Active() && FProvider->GetIsLiveRequest() && TVekBaseTable::GetCanModify();
}

Cardinal TVekQuery::HiddenValue(const char* Name)
{
    const Integer fieldNo = GetFieldNo(Name);
    if (fieldNo < 0)
        VekDatabaseError(ErrSQL, "TVekQuery", std::string("The live result has no field ") + Name, this);
    const Variant value = DataSetGetFieldDataFromRecBufAsVariant(ActiveBuffer(), fieldNo);
    return value.IsNull() || value.IsEmpty() ? 0 : static_cast<Cardinal>(value.AsInteger());
}

void TVekQuery::SetHiddenValue(const char* Name, Cardinal Value)
{
    const Integer fieldNo = GetFieldNo(Name);
    DataSetSetFieldDataToRecBufAsVariant(ActiveBuffer(), fieldNo, Variant(static_cast<Integer>(Value)));
}

void TVekQuery::CopyFieldsToBridge()
{
    for (int i = 0; i < FieldCount(); ++i) {
        TField* field = Fields()->Fields(i);
        if (field->FieldKind() != fkData)
            continue;
        TInternalFieldItem* target = FLiveBridge->GetInternalFields()->FindSourceField(field->FieldName());
        if (!target)
            continue;
        FLiveBridge->DataSetSetFieldDataAsVariant(target->FieldIndex(), field->AsVariant());
    }
}

void TVekQuery::InternalPost()
{
    if (!FLiveBridge)
        VekDatabaseError(ErrSQL, "TVekQuery.InternalPost", "LiveResultBridge is not assigned", this);
    if (!FLiveBridge->DataSetIsOpen())
        VekDatabaseError(ErrSQL, "TVekQuery.InternalPost", "LiveResultBridge is not active", this);
    if (State() == dsEdit) {
        const Cardinal address = HiddenValue(RecAddrField);
        const Cardinal modFlag = HiddenValue(RecModFlagField);
        FLiveBridge->MoveToRecAddrAndValidate(address, modFlag);
        FLiveBridge->BeginEditCopy();
        try {
            CopyFieldsToBridge();
            FLiveBridge->UpdateRecord();
        } catch (...) {
            FLiveBridge->EndEditCopy();
            throw;
        }
        FLiveBridge->EndEditCopy();
        SetHiddenValue(RecAddrField, address);
        SetHiddenValue(RecModFlagField, FLiveBridge->GetRecModFlag());
    } else {
        FLiveBridge->ClearRecord(FLiveBridge->CurrentBuffer());
        CopyFieldsToBridge();
        TInternalFields* fields = FLiveBridge->GetInternalFields();
        const bool assignAutoInc =
            fields->AutoIncFieldNo() >= 0 &&
            FLiveBridge->GetIsFieldNullFromRecBuf(fields->AutoIncFieldNo(), FLiveBridge->CurrentBuffer());
        FLiveBridge->AddRecord(assignAutoInc);
        SetHiddenValue(RecAddrField, FLiveBridge->GetRecAddr());
        SetHiddenValue(RecModFlagField, FLiveBridge->GetRecModFlag());
    }
    TVekBaseTable::InternalPost();
}

void TVekQuery::InternalDelete()
{
    if (!FLiveBridge)
        VekDatabaseError(ErrSQL, "TVekQuery.InternalDelete", "LiveResultBridge is not assigned", this);
    if (!FLiveBridge->DataSetIsOpen())
        VekDatabaseError(ErrSQL, "TVekQuery.InternalDelete", "LiveResultBridge is not active", this);
    const Cardinal address = HiddenValue(RecAddrField);
    const Cardinal modFlag = HiddenValue(RecModFlagField);
    FLiveBridge->MoveToRecAddrAndValidate(address, modFlag);
    if (FLiveBridge->DeleteRecord(nullptr) < 0)
        VekDatabaseError(8708, "TVekQuery.InternalDelete", "", this);
    TVekBaseTable::InternalDelete();
}

// ----------------------------------------------------------------- master

void TVekQuery::SetParamsFromDataSource()
{
    TDataSource* source = FDataLink->DataSource();
    TDataSet* master = source ? source->DataSet() : nullptr;
    if (!master)
        return;
    master->FieldDefs()->Update();
    for (int i = 0; i < FParams->Count(); ++i) {
        TParam* param = FParams->Items(i);
        if (param->Bound())
            continue;
        TField* field = master->FindField(param->Name());
        if (!field)
            continue;
        param->AssignField(field);
        param->SetBound(false);
    }
}

void TVekQuery::RefreshParams()
{
    DisableControls();
    try {
        TDataSource* source = FDataLink->DataSource();
        TDataSet* master = source ? source->DataSet() : nullptr;
        if (master && master->Active() && master->State() != dsSetKey) {
            Close();
            Open();
        }
    } catch (...) {
        EnableControls();
        throw;
    }
    EnableControls();
}

} // namespace orvex
