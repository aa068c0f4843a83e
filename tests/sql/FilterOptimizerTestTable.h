#pragma once
// A table for the filter optimiser tests: rows of typed values held here,
// read by the evaluator through the record-source interface, and indexes
// that are real B-trees over memory block interfaces, their keys built from
// record images of the rows (with the hidden record-ID key field last, so
// that equal keys stay apart). A filter is answered the way the filter
// evaluator answers it: the optimiser's lists, complements and candidates,
// or (olNone) every record evaluated.

#include "SqlTestSupport.h"
#include "sql/vekFilterOptimizer.h"
#include "storage/vekByteOrder.h"
#include "storage/vekDataUnit.h"
#include "storage/vekIndexUnit.h"
#include "storage/vekInterfaceUnit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvex::optimtest {

struct TColumn {
    std::string Name;
    TFieldType Type;
    Integer Size = 0; // characters of a string
};

struct TKeySpec {
    std::string Column;
    bool Descending = false;
    bool CaseInsensitive = false;
};

using TAddressSet = std::set<std::uintptr_t>;

class TOptimTable : public TVekExprDataProvider {
public:
    explicit TOptimTable(const std::vector<TColumn>& Columns, TDBStringCompare Compare = DBANSICompareStrings)
        : FCompare(Compare)
    {
        SetDBStringCompare(Compare);
        TTableNameItem* Table = FTables.Add();
        Table->SetTableName("T");
        Integer No = 1;
        for (const TColumn& C : Columns) {
            for (TInternalFields* Fields : {ProviderFields(), Table->TableFields()}) {
                TInternalFieldItem* F = Fields->Add();
                F->SetFieldName(C.Name);
                F->SetDataType(C.Type);
                if (C.Type == ftString)
                    F->SetFieldSize(C.Size + 1);
                F->SetFieldNo(No);
            }
            TInternalFieldItem* Item = FLayout.Add();
            Item->SetFieldName(C.Name);
            Item->SetDataType(C.Type);
            if (C.Type == ftString)
                Item->SetFieldSize(C.Size);
            Item->SetFieldIndex(Item->Index());
            FColumns.push_back(C);
            ++No;
        }
        FLayout.SetDefaultOffsets();
        FLayout.Open();
    }

    // A row of values in column order (Null for NULL); its address is its
    // number from 1.
    void AddRow(const std::vector<Variant>& Values) { FRows.push_back(Values); }
    int RowCount() const { return static_cast<int>(FRows.size()); }

    // An index over the key fields, filled from the rows, registered with
    // the optimiser's registry under Name.
    // Unique: without the record-ID key field (the key values must differ).
    void AddIndex(const std::string& Name, const std::vector<TKeySpec>& Keys, bool Unique = false)
    {
        auto Index = std::make_unique<TIndex>();
        TKeyFields* KeyFields = Index->Tree.KeyFields();
        for (const TKeySpec& Spec : Keys) {
            TKeyFieldItem* Key = KeyFields->Add();
            Key->AssignFromField(FLayout.FindField(Spec.Column));
            Key->SetIndexName(Name);
            Key->SetKeyIndex(Key->Index());
            Key->SetDescending(Spec.Descending);
            Key->SetCaseInsensitive(Spec.CaseInsensitive);
        }
        if (!Unique) {
            TKeyFieldItem* RecordID = KeyFields->Add();
            RecordID->SetIndexName(Name);
            RecordID->SetKeyIndex(RecordID->Index());
            RecordID->SetAsRecordIDKey();
        }
        KeyFields->SetDataOffset(KeyFields->Count() / 8 + 1);
        Index->Tree.SetMaximumKeySize(CalculateMaximumKeySize(KeyFields) + KeyFields->DataOffset());
        Index->Tree.SetDBStringCompare(FCompare);
        Index->Tree.ConnectToIFace(&Index->IO, 4096, &Index->Root, &Index->Depth);
        Index->Tree.CreateTree();
        Index->Tree.Open();
        for (int Row = 0; Row < RowCount(); ++Row) {
            const std::vector<Byte> Image = RecordImage(Row);
            Index->Tree.ConstructKeyBufFromRecBuf(Image.data(), {});
            Index->Tree.SetKeyBufAddr(static_cast<Cardinal>(Row + 1));
            if (Index->Tree.IdxInsert() != 0)
                throw std::runtime_error("duplicate key");
        }
        FRegistry.Add(Name, Index->Tree.KeyFields(), &Index->Tree);
        FIndexes.push_back(std::move(Index));
    }

    TIndexQueryMgr* Registry() { return &FRegistry; }
    TTableList* Tables() { return &FTables; }

    Variant GetDataAsVariant(Integer FieldNo) override
    {
        const Variant& V = FRows.at(static_cast<std::size_t>(FCurrent)).at(static_cast<std::size_t>(FieldNo - 1));
        return V;
    }
    bool IsFieldNull(Integer FieldNo) override { return VarIsMissing(GetDataAsVariant(FieldNo)); }
    void GetDefaultRecordList(TCompoundList* List) override
    {
        for (int Row = 0; Row < RowCount(); ++Row)
            List->Add(reinterpret_cast<void*>(static_cast<std::uintptr_t>(Row + 1)),
                      reinterpret_cast<void*>(static_cast<std::uintptr_t>(Row + 1)));
    }
    bool MoveToRecord(Integer RecNo) override
    {
        if (RecNo < 1 || RecNo > RowCount())
            return false;
        FCurrent = RecNo - 1;
        return true;
    }

private:
    struct TIndex {
        TMemoryIOInterface IO;
        TBTree Tree;
        Cardinal Root = 0;
        Integer Depth = 0;
    };

    std::vector<Byte> RecordImage(int Row) const
    {
        std::vector<Byte> Image(static_cast<std::size_t>(FLayout.RecordSize()), 0);
        Image[rpoStatus] = 1;
        WriteLE32(Image.data() + rpoRecordID, static_cast<Cardinal>(Row + 1));
        for (std::size_t C = 0; C < FColumns.size(); ++C) {
            const Variant& V = FRows[static_cast<std::size_t>(Row)][C];
            const TInternalFieldItem* F = FLayout.FindField(FColumns[C].Name);
            if (VarIsMissing(V))
                continue;
            Byte* P = Image.data() + F->DataOffset();
            switch (FColumns[C].Type) {
            case ftString: {
                const std::string Text = V.AsString();
                std::memcpy(P, Text.data(), Text.size());
                WriteLE16(Image.data() + F->SizeMarkerOffset(), static_cast<Word>(Text.size()));
                break;
            }
            case ftSmallint:
                WriteLE16(P, static_cast<Word>(V.AsInteger()));
                break;
            case ftInteger:
                WriteLE32(P, static_cast<Cardinal>(V.AsInteger()));
                break;
            default:
                WriteLEDouble(P, V.AsDouble());
                break;
            }
            Image[static_cast<std::size_t>(F->NullFlagOffset())] = 1;
        }
        return Image;
    }

    TDBStringCompare FCompare;
    std::vector<TColumn> FColumns;
    TInternalFields FLayout;
    TTableList FTables;
    std::vector<std::vector<Variant>> FRows;
    std::vector<std::unique_ptr<TIndex>> FIndexes;
    TIndexQueryMgr FRegistry;
    int FCurrent = 0;
};

// How a filter is parsed and answered.
struct TFilterMode {
    bool ExcludeRelopNulls = false;
    bool CaseInsensitive = false;
    bool PartialCompare = false;
    bool ForceNoIndexes = false;
};

// One parsed filter with its optimiser.
class TFilterRun {
public:
    TFilterRun(TOptimTable& Table, const std::string& Text, const TFilterMode& Mode)
        : FTable(Table), FMode(Mode), FOptimizer(Table.Registry())
    {
        FPre.SetParseAsExprOnly(true);
        FPre.SetText(Text);
        FPre.PreParseTokens();
        FParser.SetTableList(Table.Tables());
        FParser.SetCaseInsensitiveMatch(Mode.CaseInsensitive);
        FParser.SetPartialStringComparison(Mode.PartialCompare);
        FParser.Execute({vpoExtSyntax}, FPre.GetSection(vstWhere));
        if (FParser.HasParseError())
            FError = FParser.GetErrorMsg();
    }

    const std::string& Error() const { return FError; }
    TVekExprNode* Root() const { return FParser.Root(); }
    TFilterOptimizer& Optimizer() { return FOptimizer; }

    // Rewrites and rates the condition.
    TVekFilterOptimisationLevel Analyze()
    {
        FOptimizer.SetExcludeRelopNulls(FMode.ExcludeRelopNulls);
        FOptimizer.SetForceNoIndexes(FMode.ForceNoIndexes);
        FOptimizer.SetExprRoot(FParser.Root());
        FOptimizer.AnalyzeExpr();
        return FOptimizer.GetBaseOptimisationLevel();
    }

    // The addresses that pass, as the filter evaluator finds them; Evaluated
    // counts the records evaluated one by one.
    TAddressSet Answer(int* Evaluated = nullptr)
    {
        const TVekFilterOptimisationLevel Level = Analyze();
        TCompoundList Base;
        FTable.GetDefaultRecordList(&Base);
        TCompoundList Candidates;
        TAddressSet Result;
        if (Level > olNone) {
            FOptimizer.PrepareResultLists();
            if (FOptimizer.HasInvertedLists())
                FOptimizer.ResetInvertedLists(&Base);
            FOptimizer.CombineResultLists();
            // The count (taken from index positions where one index answers)
            // is that of the listed records, each record once.
            const Integer Counted = FOptimizer.GetResultSetCount();
            TCompoundList* List = FOptimizer.GetResultSetList();
            EXPECT_EQ(Counted, List->Count());
            for (int I = 0; I < List->Count(); ++I) {
                if (Level == olFull)
                    Result.insert(reinterpret_cast<std::uintptr_t>(List->Items(I)));
                else
                    Candidates.Add(List->Items(I), List->List2()->Get(I));
            }
            if (Level == olFull) {
                EXPECT_EQ(static_cast<std::size_t>(List->Count()), Result.size());
            }
        } else {
            for (int I = 0; I < Base.Count(); ++I)
                Candidates.Add(Base.Items(I), Base.List2()->Get(I));
        }
        if (Evaluated)
            *Evaluated = Level == olFull ? 0 : Candidates.Count();
        if (Level < olFull) {
            TCompoundList Passing;
            TExprResultListGenerator Generator;
            Generator.CreateResultList(&FTable, FParser.Root(), FMode.ExcludeRelopNulls, &Passing, &Candidates);
            for (int I = 0; I < Passing.Count(); ++I)
                Result.insert(reinterpret_cast<std::uintptr_t>(Passing.Items(I)));
        }
        return Result;
    }

private:
    TOptimTable& FTable;
    TFilterMode FMode;
    TVekPreParser FPre;
    TVekExprParser FParser;
    TFilterOptimizer FOptimizer;
    std::string FError;
};

// Every record evaluated against the condition as parsed, without any
// rewriting.
inline TAddressSet EvaluateEveryRecord(TOptimTable& Table, const std::string& Text, const TFilterMode& Mode)
{
    TVekPreParser Pre;
    Pre.SetParseAsExprOnly(true);
    Pre.SetText(Text);
    Pre.PreParseTokens();
    TVekExprParser Parser;
    Parser.SetTableList(Table.Tables());
    Parser.SetCaseInsensitiveMatch(Mode.CaseInsensitive);
    Parser.SetPartialStringComparison(Mode.PartialCompare);
    Parser.Execute({vpoExtSyntax}, Pre.GetSection(vstWhere));
    TAddressSet Result;
    if (Parser.HasParseError())
        return Result;
    TCompoundList Base, Passing;
    Table.GetDefaultRecordList(&Base);
    TExprResultListGenerator Generator;
    Generator.CreateResultList(&Table, Parser.Root(), Mode.ExcludeRelopNulls, &Passing, &Base);
    for (int I = 0; I < Passing.Count(); ++I)
        Result.insert(reinterpret_cast<std::uintptr_t>(Passing.Items(I)));
    return Result;
}

inline std::string ShowSet(const TAddressSet& Set)
{
    std::string Text = "{";
    for (const std::uintptr_t A : Set)
        Text += (Text.size() > 1 ? "," : "") + std::to_string(A);
    return Text + "}";
}

} // namespace orvex::optimtest
