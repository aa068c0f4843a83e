#pragma once
// TVekQuery: the SQL dataset component. It holds a statement's text and
// parameters, drives the statement driver (TVekQueryProvider) to prepare,
// open or execute it, and shows a SELECT's result as a table: the query is
// itself a TVekBaseTable opened over the in-memory result table the driver
// filled.
//
// Transactions. On a disk database every run that is not already inside a
// transaction runs in its own: an INSERT, UPDATE or DELETE that fails part-way
// is rolled back and leaves no trace, and a SELECT reads one consistent state.
// Inside a transaction the host started, the host keeps control: a failing
// statement leaves the transaction to the host. A schema statement (CREATE,
// ALTER, DROP) never runs in a transaction; inside one it fails with 10122
// before anything runs. The "MEMORY" database has no transactions: there a
// statement that fails part-way (a unique violation at the 500th row of an
// UPDATE) keeps the rows it changed before the failure.
//
// Results. Closing the query drops its result table, and so does a reopen
// after the text changed (it validates afresh and fills a new table). A live
// result (RequestLive, a SELECT over one table without subquery, aggregate,
// DISTINCT or UNION) writes edits, inserts and deletions back to the base
// table through a bridge dataset; an edit or deletion of a base record that
// changed since it was read fails with 8708 and writes nothing.
//
// Master-detail. With DataSource set, every parameter the caller has not bound
// takes the value of the master's field of its name, and the query runs again
// whenever the master moves.
//
// Parameters are not streamed with the component (the design-time
// "ParamData" property has no counterpart here): a program sets them in code.

#include "dataset/vekDataSet.h"
#include "host/DBLinks.h"
#include "host/DBParams.h"
#include "storage/vekConsts.h"

#include <memory>
#include <string>

namespace orvex {

class TVekQuery;
class TVekQueryProvider;
class TVekDatasetBridge;

// The query's link to its master data source.
class TVekQueryDataLink : public TDetailDataLink {
public:
    explicit TVekQueryDataLink(TVekQuery* Query) : FQuery(Query) {}

protected:
    // The master opened, closed or moved: the query runs again with the
    // master's values (when it is open).
    void ActiveChanged() override;
    void RecordChanged(TField* Field) override;
    void CheckBrowseMode() override;
    TDataSet* GetDetailDataSet() override;

private:
    TVekQuery* FQuery;
};

class TVekQuery : public TVekBaseTable {
public:
    explicit TVekQuery(TComponent* AOwner);
    ~TVekQuery() override;

    // The statement text. Changing it closes and unprepares the query and,
    // with ParamCheck, rebuilds Params from the new text.
    TStringList* SQL() const { return FSQL.get(); }
    void SetSQL(TStrings* Value);
    // SQL()->SetText(Text), for the common single-string case.
    void SetSQLText(const std::string& Text);

    TParams* Params() const { return FParams.get(); }
    TParam* ParamByName(const std::string& Name) const { return FParams->ParamByName(Name); }
    int ParamCount() const { return FParams->Count(); }
    bool ParamCheck() const { return FParamCheck; }
    void SetParamCheck(bool Value) { FParamCheck = Value; }

    TDataSource* DataSourceLink() const { return FDataLink->DataSource(); }
    // Refuses a data source linked to this query ("Circular datalinks are
    // not allowed").
    void SetDataSource(TDataSource* Value);

    Integer MaxRecords() const { return FMaxRecords; }
    void SetMaxRecords(Integer Value) { FMaxRecords = Value; }
    bool RequestLive() const { return FRequestLive; }
    void SetRequestLive(bool Value);

    bool Prepared() const { return FPrepared; }
    void Prepare();
    void UnPrepare();
    void SetPrepare(bool Value);

    // Runs an INSERT, UPDATE, DELETE or schema statement.
    void ExecSQL();
    TVekSQLStatementType GetSQLStatementType() const;
    // Rows the last statement inserted, changed or deleted; a SELECT's row
    // count while open; 0 for a schema statement.
    Integer RowsAffected() const;

    // The master's values into the unbound parameters.
    void SetParamsFromDataSource();
    // Runs the query again (when the master is open and not in set-key
    // state).
    void RefreshParams();

    // Milliseconds of the last preparation and the last open.
    Integer PrepareDuration() const { return FPrepareDuration; }
    Integer OpenDuration() const { return FOpenDuration; }

    TVekQueryProvider* Provider() const { return FProvider.get(); }

    // The statement's database (the property Database). While the query
    // is open its cursor may stand on another one, where the result store
    // keeps the result table (DataBase() then names that one). Setting it
    // also watches the connection: before it disconnects, the query closes
    // and lets go of its statement (whose table cursors need the connection
    // to close).
    TVekDataBase* Database() const { return FDatabase; }
    void SetDataBase(TVekDataBase* Value) override;

protected:
    bool GetCanModify() override;
    TDataSource* GetDataSource() override { return FDataLink->DataSource(); }
    void InternalRefresh() override;
    void InternalClose() override;
    void InternalDelete() override;
    void InternalOpen() override;
    void InternalPost() override;
    void InternalOpenForDefs() override;
    void InternalCloseForDefs() override;

private:
    friend class TVekQueryDataLink;

    void QueryChanged(TObject* Sender);
    void InternalPrepare();
    // Puts the connection into query mode and, with the own-transaction
    // flag, starts the run's transaction; InternalDisconnect ends both.
    void InternalConnect();
    void InternalDisconnect();
    // Connects the database, gives it to the driver; 10112 without one.
    void ConnectDatabase(const char* Context);
    // Drops the result table the query was opened on (when it exists).
    void DropResultTable();
    [[noreturn]] void RaiseSQLError(const char* Context, const std::string& Custom);
    // Fills the result table and opens the query over it (ForDefs: only its
    // definitions, for the dataset layer's field definitions).
    void RunSelect(bool ForDefs);
    void CloseDriverResult();
    void OpenLiveBridge();
    // The base record's address and modification counter kept in the
    // current result row's hidden fields.
    Cardinal HiddenValue(const char* Name);
    void SetHiddenValue(const char* Name, Cardinal Value);
    // The query's data fields copied into the bridge's current record.
    void CopyFieldsToBridge();

    // Released before the connection closes.
    void ReleaseStatement();
    // The cursor's database back to the statement's once closed.
    void RestoreStatementDatabase();

    TVekDataBase* FDatabase = nullptr;
    std::unique_ptr<TVekQueryProvider> FProvider;
    // The client through which the connection tells of its disconnection.
    TObject FConnectionWatch;
    std::unique_ptr<TVekDatasetBridge> FLiveBridge;
    std::unique_ptr<TStringList> FSQL;
    bool FPrepared = false;
    bool FWasConnected = false;
    bool FWasExclusive = false;
    bool FOwnTransaction = false;
    bool FStartedTransaction = false;
    bool FSuccess = false;
    std::unique_ptr<TParams> FParams;
    Integer FPrepareDuration = 0;
    Integer FOpenDuration = 0;
    bool FParamCheck = true;
    Integer FMaxRecords = 0;
    std::unique_ptr<TVekQueryDataLink> FDataLink;
    bool FRequestLive = false;
    // A statement of this query runs (a schema statement reconnects the
    // database in its middle: the statement stays).
    bool FRunning = false;
};

} // namespace orvex
