#include "vekQueryTestUtil.h"

#include "host/SysUtils.h"
#include "query/vekQueryAnalyser.h"

#include <algorithm>
#include <cstdio>

namespace orvex::querytest {

std::string CanonicalValue(const Variant& Value)
{
    if (Value.IsNull() || Value.IsEmpty())
        return "~";
    if (Value.VType() == varString)
        return "'" + Value.AsString() + "'";
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", Value.AsDouble());
    return text;
}

// ================================================================ fixture

TQueryFixture::TQueryFixture(const std::string& DatabaseFile)
    : FDb(std::make_unique<TVekDataBase>(nullptr)), FMemory(DatabaseFile.empty())
{
    FDb->SetDataBaseName(FMemory ? std::string("MEMORY") : DatabaseFile);
    if (!FMemory)
        FDb->CreateDatabase();
    FDb->Open();
}

TQueryFixture::~TQueryFixture()
{
    FDb->Close();
}

void CreateSpecTable(TVekDataBase& Db, const TTableSpec& Spec, bool Memory,
                     const std::function<void(TVekTable&)>& Filled)
{
    TVekTable table(nullptr);
    table.SetDataBase(&Db);
    table.SetTableName(Spec.Name);
    table.SetMemory(Memory);
    for (const TColumnSpec& column : Spec.Columns)
        table.FieldDefs()->Add(column.Name, column.Type, column.Size);
    for (const TIndexSpec& index : Spec.Indexes) {
        table.IndexDefs()->Add(index.Name, index.Fields, index.Options);
        if (!index.DescFields.empty())
            table.IndexDefs()->Items(table.IndexDefs()->Count() - 1)->SetDescFields(index.DescFields);
    }
    table.CreateTable();
    table.Open();
    for (const auto& row : Spec.Rows) {
        table.Append();
        for (std::size_t c = 0; c < row.size(); ++c)
            table.FieldByName(Spec.Columns[c].Name)->SetValue(row[c]);
        table.Post();
    }
    if (Filled)
        Filled(table);
    table.Close();
}

void TQueryFixture::AddTable(const TTableSpec& Spec)
{
    CreateSpecTable(*FDb, Spec, FMemory, [&](TVekTable& table) {
        TStored stored;
        stored.Name = Spec.Name;
        stored.Fields = std::make_unique<TInternalFields>();
        stored.Fields->Assign(table.GetInternalFields());
        stored.Fields->Open();
        // The rows as stored, read with the engine's own cursor.
        TInternalFields* fields = table.GetInternalFields();
        for (bool ok = table.DataSetFirst(); ok; ok = table.DataSetNext()) {
            std::vector<Variant> values;
            for (int i = 0; i < fields->Count(); ++i)
                values.push_back(table.DataSetGetFieldDataAsVariant(fields->GetIndex(i)->FieldIndex()));
            stored.Rows.push_back(std::move(values));
        }
        FTables.push_back(std::move(stored));
    });
}

const TQueryFixture::TStored* TQueryFixture::Find(const std::string& Name) const
{
    for (const TStored& stored : FTables)
        if (SameText(stored.Name, Name))
            return &stored;
    return nullptr;
}

const std::vector<std::vector<Variant>>& TQueryFixture::StoredRows(const std::string& Table) const
{
    return Find(Table)->Rows;
}

std::string TQueryFixture::Parse(TVekParserEngine& Engine, const std::string& Sql) const
{
    Engine.PreParseSQL(Sql);
    if (!Engine.ParseFromClause())
        return Engine.GetErrorMsg();
    for (int i = 0; i < Engine.TableList()->Count(); ++i) {
        TTableNameItem* item = Engine.TableList()->Items(i);
        const TStored* stored = Find(item->TableName());
        if (!stored)
            return "Table not found - " + item->TableName();
        item->SetTableFields(stored->Fields.get());
        item->SetMemory(FMemory);
    }
    if (!Engine.ParseSelectClause() || !Engine.ParseWhereClause())
        return Engine.GetErrorMsg();
    if (!Engine.CheckNoTokensRemain())
        return "Unrecognized tokens beyond end of statement: " + Engine.GetCurrentPreParserTokenAsErrorFmt();
    return {};
}

TQueryFixture::TOutcome TQueryFixture::Run(const std::string& Sql, TJoinMethod Method)
{
    TOutcome outcome;
    TVekParserEngine engine;
    outcome.Error = Parse(engine, Sql);
    if (!outcome.Error.empty())
        return outcome;
    TTableList* tables = engine.TableList();
    TVekExprNode* where = engine.WhereParser()->Root();
    TVekQueryAnalyser analyser;
    TVekJoins joins;
    TVekSelects selects;
    analyser.Prepare(&joins, &selects, where, tables);
    TVekJoinDataProviderMgr mgr;
    mgr.SetDatabase(FDb.get());
    mgr.SetForcedJoinMethod(Method);
    TVekPlan plan;
    plan.SetTableList(tables);
    plan.SetJoins(&joins);
    plan.SetSelects(&selects);
    plan.SetProviderMgr(&mgr);
    plan.SetFromTrees(engine.FromParser()->Trees());
    plan.SetResidualRoot(analyser.CheckAnalysisComplete() ? nullptr : where);
    try {
        plan.PreparePlan();
        outcome.Residual = plan.ResidualRoot() ? "yes" : "no";
        // Each table instance of the statement, in the table list's order.
        std::vector<TVekNonJoinDataProvider*> leaves;
        for (int i = 0; i < tables->Count(); ++i) {
            TVekNonJoinDataProvider* found = nullptr;
            for (const auto& leaf : mgr.NonJoinProviders())
                if (SameText(leaf->TableName(), tables->Items(i)->TableName()) &&
                    SameText(leaf->CorrelationName(), tables->Items(i)->CorrelationName()))
                    found = leaf.get();
            leaves.push_back(found);
        }
        for (bool ok = mgr.FirstProviderRecord(); ok; ok = mgr.NextProviderRecord()) {
            std::string line;
            for (TVekNonJoinDataProvider* leaf : leaves) {
                TInternalFields* fields = leaf->GetProviderFields();
                for (int f = 0; f < fields->Count(); ++f)
                    line += CanonicalValue(leaf->GetDataAsVariant(fields->GetIndex(f)->FieldNo())) + "|";
                line += "  ";
            }
            outcome.Rows.push_back(line);
        }
        for (const auto& join : mgr.StdProviders())
            outcome.Plans.push_back(join->Evaluator()->Plan());
    } catch (const Exception& e) {
        outcome.Error = e.Message();
    }
    std::sort(outcome.Rows.begin(), outcome.Rows.end());
    return outcome;
}

// ============================================================== reference

namespace {

// One table instance of the reference: the stored rows and the current one
// (-1: NULL on every field).
class TRefInstance : public TVekExprDataProvider {
public:
    std::string TableName;
    std::string CorrelationName;
    const std::vector<std::vector<Variant>>* Rows = nullptr;
    int Current = -1;

    void SetFields(const TInternalFields* Source)
    {
        TInternalFields* own = GetProviderFields();
        own->Clear();
        for (int i = 0; i < Source->Count(); ++i) {
            TInternalFieldItem* item = own->Add();
            item->Assign(Source->GetIndex(i));
            item->SetFieldNo(i);
        }
    }
    Variant GetDataAsVariant(Integer FieldNo) override
    {
        if (Current < 0)
            return Variant::Null();
        return (*Rows)[static_cast<std::size_t>(Current)][static_cast<std::size_t>(FieldNo)];
    }
};

class TRefRow : public TVekExprDataProvider {
public:
    std::vector<std::unique_ptr<TRefInstance>> Instances;

    TVekExprDataProvider* FindProvider(const std::string& Name) override
    {
        for (auto& instance : Instances)
            if (AnsiSameText(instance->CorrelationName, Name))
                return instance.get();
        for (auto& instance : Instances)
            if (instance->CorrelationName.empty() && AnsiSameText(instance->TableName, Name))
                return instance.get();
        for (auto& instance : Instances)
            if (AnsiSameText(instance->TableName, Name))
                return instance.get();
        return nullptr;
    }
    void SetRow(const std::vector<int>& Row)
    {
        for (std::size_t i = 0; i < Instances.size(); ++i)
            Instances[i]->Current = Row[i];
    }
};

using TRefRows = std::vector<std::vector<int>>;

class TReference {
public:
    explicit TReference(TRefRow& Row) : FRow(Row) {}

    bool Holds(TVekExprNode* Condition, const std::vector<int>& Row)
    {
        if (!Condition)
            return true;
        auto found = FEvaluators.find(Condition);
        if (found == FEvaluators.end()) {
            auto entry = std::make_unique<TEntry>();
            CloneQualified(&entry->Expr, Condition);
            entry->Evaluator.SetExcludeRelopNulls(true);
            entry->Evaluator.SetDBStringCompare(DBANSICompareStrings);
            entry->Evaluator.Prepare(&FRow, entry->Expr.FirstNode());
            found = FEvaluators.emplace(Condition, std::move(entry)).first;
        }
        FRow.SetRow(Row);
        found->second->Evaluator.Reset();
        return found->second->Evaluator.Evaluate();
    }

    // The rows of a FROM tree and the instances it covers.
    TRefRows Rows(TVekTableRefNode* Node, std::vector<int>& Covered)
    {
        const std::size_t n = FRow.Instances.size();
        if (Node->JoinType() == trTableName) {
            int index = -1;
            for (std::size_t i = 0; i < n; ++i)
                if (AnsiSameText(FRow.Instances[i]->TableName, Node->Text()) &&
                    AnsiSameText(FRow.Instances[i]->CorrelationName, Node->CorrelationName()))
                    index = static_cast<int>(i);
            Covered.push_back(index);
            TRefRows rows;
            for (std::size_t r = 0; r < FRow.Instances[static_cast<std::size_t>(index)]->Rows->size(); ++r) {
                std::vector<int> row(n, -1);
                row[static_cast<std::size_t>(index)] = static_cast<int>(r);
                rows.push_back(row);
            }
            return rows;
        }
        std::vector<int> leftCovered;
        std::vector<int> rightCovered;
        const TRefRows left = Rows(Node->Left(), leftCovered);
        const TRefRows right = Rows(Node->Right(), rightCovered);
        Covered.insert(Covered.end(), leftCovered.begin(), leftCovered.end());
        Covered.insert(Covered.end(), rightCovered.begin(), rightCovered.end());
        TVekExprNode* on = Node->Expr() ? Node->Expr()->FirstNode() : nullptr;
        auto merge = [](const std::vector<int>& A, const std::vector<int>& B) {
            std::vector<int> row = A;
            for (std::size_t i = 0; i < B.size(); ++i)
                if (B[i] >= 0)
                    row[i] = B[i];
            return row;
        };
        const std::vector<int> none(n, -1);
        TRefRows out;
        const TVekTableRefType type = Node->JoinType();
        if (type == trUnionJoin) {
            for (const auto& l : left)
                out.push_back(l);
            for (const auto& r : right)
                out.push_back(r);
            return out;
        }
        std::vector<bool> rightMatched(right.size(), false);
        for (const auto& l : left) {
            bool matched = false;
            for (std::size_t j = 0; j < right.size(); ++j) {
                const std::vector<int> row = merge(l, right[j]);
                if (type == trCrossJoin || Holds(on, row)) {
                    out.push_back(row);
                    matched = true;
                    rightMatched[j] = true;
                }
            }
            if (!matched && (type == trLeftOuterJoin || type == trFullOuterJoin))
                out.push_back(l);
        }
        if (type == trRightOuterJoin || type == trFullOuterJoin)
            for (std::size_t j = 0; j < right.size(); ++j)
                if (!rightMatched[j])
                    out.push_back(right[j]);
        return out;
    }

private:
    struct TEntry {
        TVekExpr Expr;
        TExprEvaluator Evaluator;
    };
    TRefRow& FRow;
    std::map<TVekExprNode*, std::unique_ptr<TEntry>> FEvaluators;
};

} // namespace

TQueryFixture::TOutcome TQueryFixture::Reference(const std::string& Sql)
{
    TOutcome outcome;
    TVekParserEngine engine;
    outcome.Error = Parse(engine, Sql);
    if (!outcome.Error.empty())
        return outcome;
    TTableList* tables = engine.TableList();
    TRefRow row;
    for (int i = 0; i < tables->Count(); ++i) {
        const TStored* stored = Find(tables->Items(i)->TableName());
        auto instance = std::make_unique<TRefInstance>();
        instance->TableName = tables->Items(i)->TableName();
        instance->CorrelationName = tables->Items(i)->CorrelationName();
        instance->Rows = &stored->Rows;
        instance->SetFields(stored->Fields.get());
        row.Instances.push_back(std::move(instance));
    }
    TReference reference(row);
    // The comma-separated trees cross-joined, then the WHERE condition.
    TRefRows all{std::vector<int>(row.Instances.size(), -1)};
    for (TVekTableRefNode* tree : engine.FromParser()->Trees()) {
        std::vector<int> covered;
        const TRefRows rows = reference.Rows(tree, covered);
        TRefRows next;
        for (const auto& a : all)
            for (const auto& b : rows) {
                std::vector<int> merged = a;
                for (std::size_t i = 0; i < b.size(); ++i)
                    if (b[i] >= 0)
                        merged[i] = b[i];
                next.push_back(merged);
            }
        all = std::move(next);
    }
    TVekExprNode* where = engine.WhereParser()->Root();
    for (const auto& r : all) {
        if (!reference.Holds(where, r))
            continue;
        row.SetRow(r);
        std::string line;
        for (auto& instance : row.Instances) {
            TInternalFields* fields = instance->GetProviderFields();
            for (int f = 0; f < fields->Count(); ++f)
                line += CanonicalValue(instance->GetDataAsVariant(f)) + "|";
            line += "  ";
        }
        outcome.Rows.push_back(line);
    }
    std::sort(outcome.Rows.begin(), outcome.Rows.end());
    return outcome;
}

} // namespace orvex::querytest
