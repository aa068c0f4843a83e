#include "vekSqlDiffGenerator.h"

#include "host/SysUtils.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <sstream>

namespace orvex::sqldiff {

// ================================================================== values

std::string TValue::Literal() const
{
    switch (Kind) {
    case Null:
        return "NULL";
    case String:
        return "'" + Str + "'";
    case Number:
        break;
    }
    char text[64];
    if (Integral)
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(Num));
    else
        std::snprintf(text, sizeof text, "%.2f", Num);
    return text;
}

std::string TValue::Text() const
{
    if (Kind == Null)
        return "NULL";
    if (Kind == String)
        return "'" + Str + "'";
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", Num);
    return text;
}

int TTable::ColumnIndex(const std::string& Column) const
{
    for (std::size_t i = 0; i < Columns.size(); ++i)
        if (Columns[i].Name == Column)
            return static_cast<int>(i);
    return -1;
}

const TTable* TSchema::Find(const std::string& Name) const
{
    for (const TTable& table : Tables)
        if (table.Name == Name)
            return &table;
    return nullptr;
}

TTable* TSchema::Find(const std::string& Name)
{
    for (TTable& table : Tables)
        if (table.Name == Name)
            return &table;
    return nullptr;
}

std::string TSchema::Describe() const
{
    std::ostringstream out;
    out << "-- strings: " << (MixedCase ? "mixed case (COLLATE ORVEX)" : "lower case and digits") << "\n";
    for (const TTable& table : Tables) {
        out << "CREATE TABLE " << table.Name << " (";
        for (std::size_t c = 0; c < table.Columns.size(); ++c) {
            const TColumn& column = table.Columns[c];
            out << (c ? ", " : "") << column.Name << " "
                << (column.Kind == TColKind::Int     ? "INTEGER"
                    : column.Kind == TColKind::Float ? "FLOAT"
                                                     : "VARCHAR(" + std::to_string(column.Size) + ")")
                << (column.NotNull ? " NOT NULL" : "");
        }
        out << ");\n";
        for (const TIndex& index : table.Indexes) {
            out << "-- index " << index.Name << " (";
            for (std::size_t f = 0; f < index.Fields.size(); ++f)
                out << (f ? ";" : "") << index.Fields[f];
            out << ")" << (index.Primary ? " primary" : "") << (index.Descending ? " descending" : "")
                << (index.CaseInsensitive ? " case-insensitive" : "") << "\n";
        }
        for (const TRow& row : table.Rows) {
            out << "INSERT INTO " << table.Name << " VALUES (";
            for (std::size_t c = 0; c < row.size(); ++c)
                out << (c ? ", " : "") << row[c].Literal();
            out << ");\n";
        }
    }
    return out.str();
}

TText TSelect::Render() const
{
    TText text;
    auto add = [&](const std::string& o, const std::string& s) {
        text.O += o;
        text.S += s;
    };
    auto list = [&](const std::vector<TText>& items, const char* sep, bool paren) {
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i)
                add(sep, sep);
            add(paren ? "(" + items[i].O + ")" : items[i].O, paren ? "(" + items[i].S + ")" : items[i].S);
        }
    };
    if (!Whole.O.empty()) {
        add(Whole.O, Whole.S);
        RenderOrderBy(text);
        return text;
    }
    add("SELECT ", "SELECT ");
    if (Distinct)
        add("DISTINCT ", "DISTINCT ");
    for (std::size_t i = 0; i < Items.size(); ++i)
        add((i ? ", " : "") + Items[i].Expr.O, (i ? ", " : "") + Items[i].Expr.S);
    add(" FROM " + From.O, " FROM " + From.S);
    if (!Where.empty()) {
        add(" WHERE ", " WHERE ");
        list(Where, " AND ", true);
    }
    if (!GroupBy.empty()) {
        add(" GROUP BY ", " GROUP BY ");
        list(GroupBy, ", ", false);
    }
    if (!Having.empty()) {
        add(" HAVING ", " HAVING ");
        list(Having, " AND ", true);
    }
    for (const TSelect& part : Unions) {
        const TText inner = part.Render();
        const std::string word = UnionAll ? " UNION ALL " : " UNION ";
        add(word + inner.O, word + inner.S);
    }
    RenderOrderBy(text);
    return text;
}

void TSelect::RenderOrderBy(TText& Text) const
{
    for (std::size_t i = 0; i < OrderBy.size(); ++i) {
        const std::string lead = i ? ", " : " ORDER BY ";
        const std::string dir = OrderBy[i].Descending ? " DESC" : "";
        Text.O += lead + OrderBy[i].Text.O + dir;
        Text.S += lead + OrderBy[i].Text.S + dir;
    }
}

// =============================================================== generator

struct TGenerator::TInstance {
    std::string Alias; // empty: columns unqualified (a DML target)
    const TTable* Table = nullptr;
    bool NullExtended = false; // on the null-supplying side of an outer join
};

struct TGenerator::TScope {
    std::vector<TInstance> Instances;
    const TScope* Outer = nullptr;
    bool Correlate = false; // may name the outer statement's columns
    int Nesting = 0;
    // The table an UPDATE changes: SQLite runs a correlated subquery over it
    // again for each row, over the rows already changed (SQL, and the
    // engine, read the table as it was), so no subquery over it correlates.
    const TTable* UpdateTarget = nullptr;
};

namespace {

struct TColRef {
    std::string Text;
    const TColumn* Column = nullptr;
    bool Nullable = true;
};

TText Same(const std::string& Text)
{
    return {Text, Text};
}

std::string Paren(const std::string& Text)
{
    return "(" + Text + ")";
}

} // namespace

namespace {

// A column of the scope (or, now and then, of an outer one) of a kind.
template <class TScopeT, class TPick>
bool PickColumn(const TScopeT& Scope, TPick&& Pick, bool Outer, bool NumericKinds, TColKind Kind, TColRef& Ref)
{
    const TScopeT* scope = &Scope;
    std::string qualifier;
    if (Outer && Scope.Outer) {
        scope = Scope.Outer;
    }
    std::vector<TColRef> candidates;
    for (const auto& instance : scope->Instances)
        for (const TColumn& column : instance.Table->Columns) {
            const bool fits = NumericKinds ? column.Kind != TColKind::Str : column.Kind == Kind;
            if (!fits)
                continue;
            TColRef ref;
            if (!instance.Alias.empty())
                ref.Text = instance.Alias + "." + column.Name;
            else if (scope != &Scope)
                ref.Text = instance.Table->Name + "." + column.Name;
            else
                ref.Text = column.Name;
            ref.Column = &column;
            ref.Nullable = !column.NotNull || instance.NullExtended;
            candidates.push_back(ref);
        }
    if (candidates.empty())
        return false;
    Ref = candidates[static_cast<std::size_t>(Pick(static_cast<int>(candidates.size())))];
    return true;
}

} // namespace

TGenerator::TGenerator(std::uint64_t Seed) : FRandom(Seed) {}

int TGenerator::Int(int Low, int High)
{
    return std::uniform_int_distribution<int>(Low, High)(FRandom);
}

std::string TGenerator::StringValue(const TSchema& Schema, int MaxLength)
{
    // A small alphabet, so that joins match and groups repeat.
    static const char Lower[] = "ab1";
    static const char Mixed[] = "aAbB_%1";
    const char* alphabet = Schema.MixedCase ? Mixed : Lower;
    const int letters = Schema.MixedCase ? 7 : 3;
    const int length = Int(1, std::min(MaxLength, 3));
    std::string text;
    for (int i = 0; i < length; ++i)
        text += alphabet[Int(0, letters - 1)];
    return text;
}

TValue TGenerator::Value(const TSchema& Schema, const TColumn& Column)
{
    if (!Column.NotNull && Chance(15))
        return TValue::MakeNull();
    switch (Column.Kind) {
    case TColKind::Int:
        return TValue::MakeInt(Chance(5) ? Int(-2000, 2000) : Int(-50, 50));
    case TColKind::Float:
        return TValue::MakeFloat(Int(-200, 200) / 4.0);
    case TColKind::Str:
        break;
    }
    return TValue::MakeString(StringValue(Schema, Column.Size));
}

TSchema TGenerator::Schema()
{
    TSchema schema;
    schema.MixedCase = Chance(50);
    const int tables = Int(2, 4);
    for (int t = 0; t < tables; ++t) {
        TTable table;
        table.Name = "T" + std::to_string(t + 1);
        const bool primary = Chance(40);
        if (primary)
            table.Columns.push_back({"id", TColKind::Int, 0, true});
        // Names shared between tables carry one kind, so that NATURAL and
        // USING joins compare like with like.
        static const char* const IntNames[] = {"k", "i1", "i2"};
        static const char* const FloatNames[] = {"f1", "f2"};
        static const char* const StrNames[] = {"s1", "s2"};
        const int columns = Int(2, 5);
        std::set<std::string> used;
        for (int c = 0; c < columns; ++c) {
            TColumn column;
            switch (Int(0, 2)) {
            case 0:
                column.Kind = TColKind::Int;
                column.Name = IntNames[Int(0, 2)];
                break;
            case 1:
                column.Kind = TColKind::Float;
                column.Name = FloatNames[Int(0, 1)];
                break;
            default:
                column.Kind = TColKind::Str;
                column.Name = StrNames[Int(0, 1)];
                column.Size = Chance(50) ? 6 : 10;
                break;
            }
            if (!used.insert(column.Name).second)
                continue;
            column.NotNull = Chance(25);
            table.Columns.push_back(column);
        }
        if (primary)
            table.Indexes.push_back({"", {"id"}, true, false, false});
        const int indexes = Int(0, 2);
        for (int i = 0; i < indexes; ++i) {
            TIndex index;
            index.Name = table.Name + "x" + std::to_string(i);
            const int first = Int(primary ? 1 : 0, static_cast<int>(table.Columns.size()) - 1);
            index.Fields.push_back(table.Columns[static_cast<std::size_t>(first)].Name);
            if (Chance(30) && first + 1 < static_cast<int>(table.Columns.size()))
                index.Fields.push_back(table.Columns[static_cast<std::size_t>(first + 1)].Name);
            index.Descending = Chance(30);
            index.CaseInsensitive = Chance(30);
            table.Indexes.push_back(index);
        }
        // Empty tables on purpose; otherwise up to 200 rows.
        const int rows = Chance(15) ? 0 : Chance(50) ? Int(1, 12) : Int(13, 200);
        std::vector<int> keys;
        for (int r = 0; r < rows; ++r)
            keys.push_back(r * 3 - 100);
        std::shuffle(keys.begin(), keys.end(), FRandom);
        for (int r = 0; r < rows; ++r) {
            TRow row;
            for (const TColumn& column : table.Columns)
                row.push_back(column.Name == "id" ? TValue::MakeInt(keys[static_cast<std::size_t>(r)])
                                                  : Value(schema, column));
            table.Rows.push_back(row);
        }
        schema.Tables.push_back(table);
    }
    return schema;
}

// ------------------------------------------------------------------- FROM

TText TGenerator::FromClause(const TSchema& Schema, TScope& Scope)
{
    auto instance = [&](bool& ok) -> TText {
        const TTable& table = Schema.Tables[static_cast<std::size_t>(Int(0, static_cast<int>(Schema.Tables.size()) - 1))];
        TInstance item;
        item.Alias = "a" + std::to_string(++FAliases);
        item.Table = &table;
        Scope.Instances.push_back(item);
        ok = true;
        return Same(table.Name + " " + item.Alias);
    };
    // An equality between a column of instance Right and one of an earlier
    // instance, of one kind; empty when none is found.
    auto joinCondition = [&](std::size_t Right, std::size_t LeftFrom) -> std::string {
        const TInstance& right = Scope.Instances[Right];
        for (int attempt = 0; attempt < 8; ++attempt) {
            const TInstance& left = Scope.Instances[static_cast<std::size_t>(Int(static_cast<int>(LeftFrom), static_cast<int>(Right) - 1))];
            const TColumn& a = left.Table->Columns[static_cast<std::size_t>(Int(0, static_cast<int>(left.Table->Columns.size()) - 1))];
            const TColumn& b = right.Table->Columns[static_cast<std::size_t>(Int(0, static_cast<int>(right.Table->Columns.size()) - 1))];
            const bool numeric = a.Kind != TColKind::Str && b.Kind != TColKind::Str;
            if (numeric || (a.Kind == TColKind::Str && b.Kind == TColKind::Str))
                return left.Alias + "." + a.Name + " = " + right.Alias + "." + b.Name;
        }
        return {};
    };
    auto rowsOf = [&](std::size_t From) {
        double product = 1;
        for (std::size_t i = From; i < Scope.Instances.size(); ++i)
            product *= std::max<std::size_t>(1, Scope.Instances[i].Table->Rows.size());
        return product;
    };

    bool ok = false;
    const std::size_t first = Scope.Instances.size();
    TText from = instance(ok);
    // A subquery reads one table or an inner join, never a product.
    const int shape = Scope.Nesting > 0 ? (Chance(75) ? 0 : 2) : Int(0, 5);
    if (shape == 0)
        return from;
    const int more = Int(1, Scope.Nesting > 0 ? 1 : 2);
    if (shape == 1) {
        // A comma list joined in WHERE (by the caller) or a small cross product.
        for (int i = 0; i < more; ++i) {
            const TText next = instance(ok);
            from.O += ", " + next.O;
            from.S += ", " + next.S;
        }
        return from;
    }
    for (int i = 0; i < more; ++i) {
        const std::size_t before = Scope.Instances.size();
        TText right;
        const bool nested = shape == 5 && i == 0;
        if (nested) {
            // A parenthesised inner join on the right.
            const TText a = instance(ok);
            const TText b = instance(ok);
            std::string on = joinCondition(Scope.Instances.size() - 1, Scope.Instances.size() - 2);
            if (on.empty())
                on = "1 = 1";
            right = Same("(" + a.O + " INNER JOIN " + b.O + " ON " + on + ")");
        } else {
            right = instance(ok);
        }
        std::string on = joinCondition(before, first);
        const char* kind = "INNER JOIN";
        if (on.empty() && rowsOf(first) <= 3000) {
            from.O += " CROSS JOIN " + right.O;
            from.S += " CROSS JOIN " + right.S;
            continue;
        }
        if (on.empty())
            on = "1 = 1"; // rare: no comparable columns
        TText onText = Same(on);
        if (!Scope.Outer && Chance(30)) {
            // A further condition over the joined tables' columns, with
            // arithmetic and || now and then. Never over constants alone:
            // SQLite 3.40 loses the preserved rows of a FULL JOIN that
            // follows an inner join whose ON holds a false constant term.
            static const char* const Ops[] = {"=", "<>", "<", "<=", ">", ">="};
            const std::string op = Ops[Int(0, 5)];
            const bool numeric = Chance(60);
            auto namesColumn = [&](const std::string& Text) {
                for (const TInstance& instance : Scope.Instances)
                    if (Text.find(instance.Alias + ".") != std::string::npos)
                        return true;
                return false;
            };
            TText left;
            for (int attempt = 0; attempt < 8 && !namesColumn(left.O); ++attempt) {
                bool nullable = false;
                int size = 0;
                left = numeric ? NumExpr(Schema, Scope, 1, nullable) : StrExpr(Schema, Scope, 1, nullable, size);
            }
            if (namesColumn(left.O)) {
                const std::string bound = std::to_string(Int(-20, 40));
                const TText more = numeric ? TText{left.O + " " + op + " " + bound, left.S + " " + op + " " + bound}
                                           : StrOrder(Schema, left, op, Same("'" + StringValue(Schema, 2) + "'"));
                onText.O += " AND " + more.O;
                onText.S += " AND " + more.S;
            }
        }
        switch (Int(0, 4)) {
        case 0:
        case 1:
            break;
        case 2:
            kind = "LEFT OUTER JOIN";
            for (std::size_t k = before; k < Scope.Instances.size(); ++k)
                Scope.Instances[k].NullExtended = true;
            break;
        case 3:
            kind = "RIGHT OUTER JOIN";
            for (std::size_t k = first; k < before; ++k)
                Scope.Instances[k].NullExtended = true;
            break;
        default:
            kind = "FULL OUTER JOIN";
            for (std::size_t k = first; k < Scope.Instances.size(); ++k)
                Scope.Instances[k].NullExtended = true;
            break;
        }
        from.O += std::string(" ") + kind + " " + right.O + " ON " + onText.O;
        from.S += std::string(" ") + kind + " " + right.S + " ON " + onText.S;
    }
    return from;
}

// ------------------------------------------------------------ expressions


TText TGenerator::NumExpr(const TSchema& Schema, TScope& Scope, int Depth, bool& Nullable)
{
    auto pick = [&](int n) { return Int(0, n - 1); };
    const int choice = Depth <= 0 ? Int(0, 3) : Int(0, 6);
    TColRef ref;
    if (choice <= 2 && PickColumn(Scope, pick, Scope.Correlate && Chance(15), true, TColKind::Int, ref)) {
        Nullable = Nullable || ref.Nullable;
        return Same(ref.Text);
    }
    if (choice <= 3) {
        const std::string literal = Chance(70) ? std::to_string(Int(-10, 60)) : TValue::MakeFloat(Int(-40, 40) / 4.0).Literal();
        return Same(literal);
    }
    if (choice == 4) {
        // The engine's grammar has signed numbers but no unary minus.
        const TText inner = NumExpr(Schema, Scope, Depth - 1, Nullable);
        return {"(0 - " + inner.O + ")", "(0 - " + inner.S + ")"};
    }
    // Products only by a small literal: no overflow of 32-bit integers.
    const TText left = NumExpr(Schema, Scope, Depth - 1, Nullable);
    if (choice == 5) {
        const std::string factor = std::to_string(Int(-3, 5));
        return {Paren(left.O + " * " + factor), Paren(left.S + " * " + factor)};
    }
    const TText right = NumExpr(Schema, Scope, Depth - 1, Nullable);
    const char* op = Chance(50) ? " + " : " - ";
    return {Paren(left.O + op + right.O), Paren(left.S + op + right.S)};
}

TText TGenerator::StrExpr(const TSchema& Schema, TScope& Scope, int Depth, bool& Nullable, int& Size)
{
    auto pick = [&](int n) { return Int(0, n - 1); };
    const int choice = Depth <= 0 ? Int(0, 2) : Int(0, 8);
    TColRef ref;
    if (choice <= 1 && PickColumn(Scope, pick, Scope.Correlate && Chance(15), false, TColKind::Str, ref)) {
        Nullable = Nullable || ref.Nullable;
        Size = ref.Column->Size;
        return Same(ref.Text);
    }
    if (choice <= 2) {
        const std::string text = StringValue(Schema, 3);
        Size = static_cast<int>(text.size());
        return Same("'" + text + "'");
    }
    if (choice <= 5) {
        const TText inner = StrExpr(Schema, Scope, Depth - 1, Nullable, Size);
        const char* fn = choice == 3 ? "UPPER" : choice == 4 ? "LOWER" : "TRIM";
        return {std::string(fn) + "(" + inner.O + ")", std::string(fn) + "(" + inner.S + ")"};
    }
    if (choice == 6) {
        const TText inner = StrExpr(Schema, Scope, Depth - 1, Nullable, Size);
        // From the first character: no empty strings.
        const int from = 1, length = Int(1, 3);
        Size = length;
        return {"SUBSTRING(" + inner.O + " FROM " + std::to_string(from) + " FOR " + std::to_string(length) + ")",
                "substr(" + inner.S + ", " + std::to_string(from) + ", " + std::to_string(length) + ")"};
    }
    if (choice == 7 && PickColumn(Scope, pick, false, false, TColKind::Int, ref)) {
        Nullable = Nullable || ref.Nullable;
        Size = 12;
        return {"CAST(" + ref.Text + " AS VARCHAR(12))", "CAST(" + ref.Text + " AS TEXT)"};
    }
    int leftSize = 0, rightSize = 0;
    const TText left = StrExpr(Schema, Scope, Depth - 1, Nullable, leftSize);
    const TText right = StrExpr(Schema, Scope, Depth - 1, Nullable, rightSize);
    Size = leftSize + rightSize;
    return {Paren(left.O + " || " + right.O), Paren(left.S + " || " + right.S)};
}

// A string comparison: SQLite compares under the engine's collation.
TText TGenerator::StrOrder(const TSchema&, const TText& Left, const std::string& Op, const TText& Right)
{
    return {Left.O + " " + Op + " " + Right.O, Paren(Left.S) + " COLLATE ORVEX " + Op + " " + Right.S};
}

TText TGenerator::Comparison(const TSchema& Schema, TScope& Scope)
{
    static const char* const Ops[] = {"=", "<>", "<", "<=", ">", ">="};
    const std::string op = Ops[Int(0, 5)];
    bool nullable = false;
    if (Chance(60)) {
        const TText left = NumExpr(Schema, Scope, 1, nullable);
        const TText right = Chance(50) ? NumExpr(Schema, Scope, 0, nullable) : Same(std::to_string(Int(-20, 40)));
        return {left.O + " " + op + " " + right.O, left.S + " " + op + " " + right.S};
    }
    int size = 0;
    const TText left = StrExpr(Schema, Scope, 1, nullable, size);
    const TText right = StrExpr(Schema, Scope, 0, nullable, size);
    return StrOrder(Schema, left, op, right);
}

TText TGenerator::Condition(const TSchema& Schema, TScope& Scope, int Depth)
{
    auto pick = [&](int n) { return Int(0, n - 1); };
    const int choice = Int(0, Depth > 0 ? 11 : 7);
    bool nullable = false;
    int size = 0;
    switch (choice) {
    case 0:
    case 1:
        return Comparison(Schema, Scope);
    case 2: {
        const TText operand = Chance(50) ? NumExpr(Schema, Scope, 1, nullable) : StrExpr(Schema, Scope, 1, nullable, size);
        const char* test = Chance(50) ? " IS NULL" : " IS NOT NULL";
        return {operand.O + test, operand.S + test};
    }
    case 3: {
        if (Chance(50)) {
            const TText operand = NumExpr(Schema, Scope, 1, nullable);
            const int low = Int(-30, 40);
            const std::string range = " BETWEEN " + std::to_string(low) + " AND " + std::to_string(low + Int(-5, 30));
            return {operand.O + range, operand.S + range};
        }
        const TText operand = StrExpr(Schema, Scope, 1, nullable, size);
        const std::string range = " BETWEEN '" + StringValue(Schema, 2) + "' AND '" + StringValue(Schema, 3) + "'";
        return {operand.O + range, Paren(operand.S) + " COLLATE ORVEX" + range};
    }
    case 4: {
        std::string list;
        const bool numeric = Chance(50);
        const TText operand = numeric ? NumExpr(Schema, Scope, 1, nullable) : StrExpr(Schema, Scope, 1, nullable, size);
        const int count = Int(1, 4);
        for (int i = 0; i < count; ++i)
            list += (i ? ", " : "") + (numeric ? std::to_string(Int(-10, 40)) : "'" + StringValue(Schema, 3) + "'");
        const bool negate = !nullable && Chance(30); // NOT IN only over NOT NULL operands
        const std::string in = negate ? " NOT IN (" : " IN (";
        return {operand.O + in + list + ")", operand.S + in + list + ")"};
    }
    case 5: {
        // LIKE with a pattern from the data's alphabet, % and _, now and
        // then an escaped wildcard.
        const TText operand = StrExpr(Schema, Scope, 1, nullable, size);
        std::string pattern;
        bool escaped = false;
        const int parts = Int(1, 3);
        for (int i = 0; i < parts; ++i) {
            switch (Int(0, 4)) {
            case 0:
                pattern += "%";
                break;
            case 1:
                pattern += "_";
                break;
            case 2:
                if (Schema.MixedCase) {
                    pattern += Chance(50) ? "\\_" : "\\%";
                    escaped = true;
                    break;
                }
                [[fallthrough]];
            default:
                pattern += StringValue(Schema, 2);
                break;
            }
        }
        const std::string like = " LIKE '" + pattern + "'" + (escaped ? " ESCAPE '\\'" : "");
        return {operand.O + like, operand.S + like};
    }
    case 6: {
        // NOT over one comparison, LIKE, BETWEEN or IS NULL.
        TText inner;
        do {
            inner = Condition(Schema, Scope, 0);
        } while (inner.O.find(" IN (") != std::string::npos || inner.O.rfind("NOT", 0) == 0);
        return {"NOT (" + inner.O + ")", "NOT (" + inner.S + ")"};
    }
    case 7: {
        TColRef ref;
        if (PickColumn(Scope, pick, false, true, TColKind::Int, ref))
            return Same(ref.Text + " > " + std::to_string(Int(-20, 20)));
        return Comparison(Schema, Scope);
    }
    case 8:
    case 9: {
        const TText left = Condition(Schema, Scope, Depth - 1);
        const TText right = Condition(Schema, Scope, Depth - 1);
        const char* op = choice == 8 ? " AND " : " OR ";
        return {"(" + left.O + ")" + op + "(" + right.O + ")", "(" + left.S + ")" + op + "(" + right.S + ")"};
    }
    default:
        // Subqueries under one-table statements: the engine runs a
        // subquery again for every outer row, which over a join of 200-row
        // tables takes minutes under the sanitizers (a speed matter, N21).
        if (Scope.Nesting < 2 && Scope.Instances.size() == 1)
            return Subquery(Schema, Scope);
        return Comparison(Schema, Scope);
    }
}

TText TGenerator::Subquery(const TSchema& Schema, TScope& Scope)
{
    TScope inner;
    inner.Outer = &Scope;
    inner.Nesting = Scope.Nesting + 1;
    inner.UpdateTarget = Scope.UpdateTarget;
    const TText from = FromClause(Schema, inner);
    bool readsUpdateTarget = false;
    for (const TInstance& instance : inner.Instances)
        readsUpdateTarget = readsUpdateTarget || (inner.UpdateTarget && instance.Table == inner.UpdateTarget);
    std::string whereO, whereS;
    auto addWhere = [&](const TText& c) {
        whereO += (whereO.empty() ? " WHERE (" : " AND (") + c.O + ")";
        whereS += (whereS.empty() ? " WHERE (" : " AND (") + c.S + ")";
    };
    auto pick = [&](int n) { return Int(0, n - 1); };
    // A correlation now and then: an inner column equal to an outer one.
    // Only under a one-table statement: the engine plans a correlated
    // subquery again for every outer row, which over a join of 200-row
    // tables takes minutes under the sanitizers.
    inner.Correlate = Scope.Instances.size() == 1 && inner.Instances.size() == 1 && !readsUpdateTarget;
    if (inner.Correlate && Chance(50)) {
        TColRef innerRef, outerRef;
        const bool numeric = Chance(60);
        if (PickColumn(inner, pick, false, numeric, TColKind::Str, innerRef) &&
            PickColumn(inner, pick, true, numeric, TColKind::Str, outerRef))
            addWhere(Same(innerRef.Text + " = " + outerRef.Text));
    }
    if (Chance(60))
        addWhere(Condition(Schema, inner, 0));
    const std::string rest = " FROM " + from.O;
    const std::string restS = " FROM " + from.S;
    bool nullable = false;
    switch (Int(0, 4)) {
    case 0: {
        const bool negate = Chance(40);
        const std::string word = negate ? "NOT EXISTS" : "EXISTS";
        return {word + " (SELECT *" + rest + whereO + ")", word + " (SELECT *" + restS + whereS + ")"};
    }
    case 1:
    case 2: {
        // IN over one column of the inner statement; NOT IN only when
        // neither side can be NULL.
        const bool numeric = Chance(60);
        TColRef innerRef;
        if (!PickColumn(inner, pick, false, numeric, TColKind::Str, innerRef))
            return Same("1 = 1");
        int size = 0;
        const TText operand = numeric ? NumExpr(Schema, Scope, 0, nullable) : StrExpr(Schema, Scope, 0, nullable, size);
        const bool negate = !nullable && !innerRef.Nullable && Chance(50);
        const std::string in = negate ? " NOT IN (SELECT " : " IN (SELECT ";
        return {operand.O + in + innerRef.Text + rest + whereO + ")",
                operand.S + in + innerRef.Text + restS + whereS + ")"};
    }
    case 3: {
        // ANY/SOME/ALL over NOT NULL operands; SQLite takes EXISTS and NOT
        // EXISTS of the comparison.
        // The outer column is qualified: inside SQLite's EXISTS an
        // unqualified name would be the inner table's column.
        TColRef innerRef, outerRef;
        const bool numeric = Chance(60);
        if (!PickColumn(inner, pick, false, numeric, TColKind::Str, innerRef) || innerRef.Nullable ||
            !PickColumn(inner, pick, true, numeric, TColKind::Str, outerRef) || outerRef.Nullable ||
            readsUpdateTarget)
            return Same("2 > 1");
        static const char* const Ops[] = {"=", "<>", "<", "<=", ">", ">="};
        static const char* const Negated[] = {"<>", "=", ">=", ">", "<=", "<"};
        const int op = Int(0, 5);
        const int quantifier = Int(0, 2);
        const char* word = quantifier == 0 ? "ANY" : quantifier == 1 ? "SOME" : "ALL";
        const std::string collate = numeric ? "" : " COLLATE ORVEX";
        const std::string engine =
            outerRef.Text + " " + Ops[op] + " " + word + " (SELECT " + innerRef.Text + rest + whereO + ")";
        const std::string test = quantifier < 2 ? std::string(Ops[op]) : std::string(Negated[op]);
        const std::string compare = outerRef.Text + collate + " " + test + " " + innerRef.Text;
        const std::string sqlite = std::string(quantifier < 2 ? "EXISTS" : "NOT EXISTS") + " (SELECT *" + restS +
                                   (whereS.empty() ? " WHERE " : whereS + " AND ") + "(" + compare + "))";
        return {engine, sqlite};
    }
    default: {
        // A scalar subquery certain to give one row: an aggregate without
        // GROUP BY.
        TColRef innerRef;
        const TText operand = NumExpr(Schema, Scope, 0, nullable);
        const std::string op = Chance(50) ? " < " : " >= ";
        if (Chance(50) || !PickColumn(inner, pick, false, true, TColKind::Int, innerRef))
            return {operand.O + op + "(SELECT COUNT(*)" + rest + whereO + ")",
                    operand.S + op + "(SELECT COUNT(*)" + restS + whereS + ")"};
        const char* fn = Chance(50) ? "MAX" : "MIN";
        return {operand.O + op + "(SELECT " + fn + "(" + innerRef.Text + ")" + rest + whereO + ")",
                operand.S + op + "(SELECT IFNULL(" + fn + "(" + innerRef.Text + "), 0)" + restS + whereS + ")"};
    }
    }
}

// ---------------------------------------------------------------- SELECT

TSelect TGenerator::Plain(const TSchema& Schema, TScope& Scope)
{
    TSelect select;
    select.From = FromClause(Schema, Scope);
    auto pick = [&](int n) { return Int(0, n - 1); };
    const int items = Int(1, 4);
    for (int i = 0; i < items; ++i) {
        TSelectItem item;
        TColRef ref;
        const int choice = Int(0, 5);
        if (choice <= 3) {
            const bool numeric = Chance(60);
            if (!PickColumn(Scope, pick, false, numeric, TColKind::Str, ref) &&
                !PickColumn(Scope, pick, false, !numeric, TColKind::Str, ref))
                continue;
            item.Expr = Same(ref.Text);
            item.Kind = ref.Column->Kind;
            item.Size = ref.Column->Size;
            item.Column = ref.Text;
        } else if (choice == 4) {
            bool nullable = false;
            item.Kind = TColKind::Float;
            if (Chance(25)) {
                // Real division, NULL on zero in both.
                const TText a = NumExpr(Schema, Scope, 1, nullable);
                const TText b = NumExpr(Schema, Scope, 0, nullable);
                item.Expr = {Paren(a.O + " / " + b.O), Paren("CAST(" + a.S + " AS REAL) / " + b.S)};
            } else {
                item.Expr = NumExpr(Schema, Scope, 2, nullable);
            }
        } else {
            bool nullable = false;
            item.Kind = TColKind::Str;
            item.Expr = StrExpr(Schema, Scope, Int(0, 2), nullable, item.Size);
        }
        select.Items.push_back(item);
    }
    if (select.Items.empty()) {
        TColRef ref;
        PickColumn(Scope, pick, false, true, TColKind::Int, ref);
        select.Items.push_back({Same(ref.Text), ref.Column->Kind, ref.Column->Size, false, ref.Text});
    }
    select.Distinct = Chance(25);
    return select;
}

TSelect TGenerator::Grouped(const TSchema& Schema, TScope& Scope)
{
    TSelect select;
    select.From = FromClause(Schema, Scope);
    auto pick = [&](int n) { return Int(0, n - 1); };
    const int groups = Int(0, 2);
    for (int g = 0; g < groups; ++g) {
        TColRef ref;
        const bool numeric = Chance(50);
        if (!PickColumn(Scope, pick, false, numeric, TColKind::Str, ref))
            continue;
        bool duplicate = false;
        for (const TSelectItem& item : select.Items)
            duplicate = duplicate || item.Column == ref.Text;
        if (duplicate)
            continue;
        select.Items.push_back({Same(ref.Text), ref.Column->Kind, ref.Column->Size, false, ref.Text});
        select.GroupBy.push_back(Same(ref.Text));
    }
    const int aggregates = Int(1, 3);
    for (int a = 0; a < aggregates; ++a) {
        TSelectItem item;
        item.Aggregate = true;
        item.Kind = TColKind::Float;
        TColRef ref;
        bool nullable = false;
        const bool haveNum = PickColumn(Scope, pick, false, true, TColKind::Int, ref);
        // Aggregates of a column or of an expression over columns.
        const TText arg = !haveNum ? Same("1") : Chance(50) ? Same(ref.Text) : NumExpr(Schema, Scope, 1, nullable);
        switch (Int(0, 9)) {
        case 0:
            item.Expr = Same("COUNT(*)");
            break;
        case 1:
            item.Expr = Same("COUNT(" + arg.O + ")");
            if (arg.O != arg.S)
                item.Expr.S = "COUNT(" + arg.S + ")";
            break;
        case 2: {
            TColRef s;
            if (PickColumn(Scope, pick, false, false, TColKind::Str, s))
                item.Expr = Same("COUNT(DISTINCT " + s.Text + ")");
            else
                item.Expr = Same("COUNT(DISTINCT " + arg.O + ")");
            break;
        }
        case 3:
        case 4:
        case 5: {
            static const char* const Fns[] = {"SUM", "AVG", "MIN", "MAX"};
            const char* fn = Fns[Int(0, 3)];
            const std::string distinct = Chance(20) ? "DISTINCT " : "";
            item.Expr = {std::string(fn) + "(" + distinct + arg.O + ")",
                         std::string("IFNULL(") + fn + "(" + distinct + arg.S + "), 0)"};
            break;
        }
        case 6: {
            TColRef s;
            if (!PickColumn(Scope, pick, false, false, TColKind::Str, s)) {
                item.Expr = Same("COUNT(*)");
                break;
            }
            const char* fn = Chance(50) ? "MIN" : "MAX";
            item.Kind = TColKind::Str;
            item.Size = s.Column->Size;
            item.Expr = {std::string(fn) + "(" + s.Text + ")", std::string(fn) + "(" + s.Text + " COLLATE ORVEX)"};
            break;
        }
        case 7:
            // Each aggregate of a column has its own accumulator.
            item.Expr = {"SUM(" + arg.O + ") / COUNT(" + arg.O + ")",
                         "CAST(IFNULL(SUM(" + arg.S + "), 0) AS REAL) / COUNT(" + arg.S + ")"};
            break;
        case 8:
            item.Expr = Same("COUNT(*) + 1");
            break;
        default:
            item.Expr = {"COUNT(DISTINCT " + arg.O + ") + SUM(" + arg.O + ")",
                         "COUNT(DISTINCT " + arg.S + ") + IFNULL(SUM(" + arg.S + "), 0)"};
            break;
        }
        select.Items.push_back(item);
    }
    // HAVING over an aggregate column spelled as in the select list; the
    // engine takes HAVING only with GROUP BY.
    if (!select.GroupBy.empty() && Chance(40)) {
        for (const TSelectItem& item : select.Items)
            if (item.Aggregate && item.Kind != TColKind::Str) {
                const std::string bound = std::to_string(Int(-5, 20));
                const char* op = Chance(50) ? " > " : " <= ";
                select.Having.push_back({item.Expr.O + op + bound, item.Expr.S + op + bound});
                break;
            }
    }
    return select;
}

// SELECT of plain columns FROM a UNION JOIN b: for SQLite the two sides
// null-padded under UNION ALL.
TSelect TGenerator::UnionJoin(const TSchema& Schema)
{
    TSelect select;
    const TTable& a = Schema.Tables[static_cast<std::size_t>(Int(0, static_cast<int>(Schema.Tables.size()) - 1))];
    const TTable& b = Schema.Tables[static_cast<std::size_t>(Int(0, static_cast<int>(Schema.Tables.size()) - 1))];
    const std::string aa = "a" + std::to_string(++FAliases), ba = "a" + std::to_string(++FAliases);
    std::string engine, left, right;
    const int items = Int(1, 3);
    for (int i = 0; i < items; ++i) {
        const bool fromA = Chance(50);
        const TTable& table = fromA ? a : b;
        const TColumn& column = table.Columns[static_cast<std::size_t>(Int(0, static_cast<int>(table.Columns.size()) - 1))];
        const std::string name = (fromA ? aa : ba) + "." + column.Name;
        const std::string sep = i ? ", " : "";
        engine += sep + name;
        left += sep + (fromA ? name : "NULL");
        right += sep + (fromA ? "NULL" : name);
        select.Items.push_back({Same(name), column.Kind, column.Size, false, {}});
    }
    select.Whole = {"SELECT " + engine + " FROM " + a.Name + " " + aa + " UNION JOIN " + b.Name + " " + ba,
                    "SELECT " + left + " FROM " + a.Name + " " + aa + " UNION ALL SELECT " + right + " FROM " + b.Name +
                        " " + ba};
    return select;
}

// A further UNION part with the first part's column kinds (and string
// sizes); false when the tables drawn offer none.
bool TGenerator::UnionPart(const TSchema& Schema, const TSelect& First, TSelect& Part)
{
    TScope scope;
    Part.From = FromClause(Schema, scope);
    for (const TSelectItem& item : First.Items) {
        std::vector<std::string> fits;
        for (const auto& instance : scope.Instances)
            for (const TColumn& column : instance.Table->Columns)
                if (column.Kind == item.Kind && column.Size == item.Size)
                    fits.push_back(instance.Alias + "." + column.Name);
        if (fits.empty())
            return false;
        const std::string name = fits[static_cast<std::size_t>(Int(0, static_cast<int>(fits.size()) - 1))];
        Part.Items.push_back({Same(name), item.Kind, item.Size, false, name});
    }
    JoinCommaList(scope, Part);
    if (Chance(50))
        Part.Where.push_back(Condition(Schema, scope, 1));
    return true;
}

// A comma list gets its join conditions in WHERE unless its product is
// small.
void TGenerator::JoinCommaList(const TScope& Scope, TSelect& Select)
{
    if (Select.From.O.find(',') == std::string::npos)
        return;
    double product = 1;
    for (const TInstance& instance : Scope.Instances)
        product *= std::max<std::size_t>(1, instance.Table->Rows.size());
    if (product <= 3000 && Chance(30))
        return;
    for (std::size_t right = 1; right < Scope.Instances.size(); ++right) {
        const TInstance& a = Scope.Instances[right - 1];
        const TInstance& b = Scope.Instances[right];
        std::vector<std::string> pairs;
        for (const TColumn& x : a.Table->Columns)
            for (const TColumn& y : b.Table->Columns)
                if ((x.Kind == TColKind::Str) == (y.Kind == TColKind::Str))
                    pairs.push_back(a.Alias + "." + x.Name + " = " + b.Alias + "." + y.Name);
        if (pairs.empty())
            pairs.push_back(a.Alias + "." + a.Table->Columns[0].Name + " = " + a.Alias + "." + a.Table->Columns[0].Name);
        Select.Where.push_back(Same(pairs[static_cast<std::size_t>(Int(0, static_cast<int>(pairs.size()) - 1))]));
    }
}

TSelect TGenerator::Select(const TSchema& Schema)
{
    TScope scope;
    if (Chance(4)) {
        TSelect select = UnionJoin(Schema);
        if (Chance(50))
            select.OrderBy.push_back({0, Chance(50), Same("1")});
        if (select.Items[0].Kind == TColKind::Str && !select.OrderBy.empty())
            select.OrderBy[0].Text.S += " COLLATE ORVEX";
        return select;
    }
    const bool grouped = Chance(30);
    TSelect select = grouped ? Grouped(Schema, scope) : Plain(Schema, scope);
    JoinCommaList(scope, select);
    const int conditions = Int(0, 2);
    for (int i = 0; i < conditions; ++i)
        select.Where.push_back(Condition(Schema, scope, 1));

    // UNION of plain columns with one kind and size per position.
    if (!grouped && Chance(20)) {
        bool plain = true;
        for (const TSelectItem& item : select.Items)
            plain = plain && !item.Column.empty();
        if (plain) {
            select.UnionAll = Chance(50);
            const int parts = Int(1, 2);
            for (int p = 0; p < parts; ++p) {
                TSelect part;
                if (UnionPart(Schema, select, part))
                    select.Unions.push_back(part);
            }
        }
    }
    if (Chance(50)) {
        const int keys = Int(1, static_cast<int>(select.Items.size()));
        std::vector<int> columns(select.Items.size());
        for (std::size_t i = 0; i < columns.size(); ++i)
            columns[i] = static_cast<int>(i);
        std::shuffle(columns.begin(), columns.end(), FRandom);
        for (int k = 0; k < keys; ++k) {
            TOrderKey key;
            key.Column = columns[static_cast<std::size_t>(k)];
            key.Descending = Chance(40);
            const TSelectItem& item = select.Items[static_cast<std::size_t>(key.Column)];
            if (select.Unions.empty() && !item.Column.empty() && Chance(50))
                key.Text = Same(item.Column);
            else
                key.Text = Same(std::to_string(key.Column + 1));
            // SQLite's order is not compared; under ORVEX it is the engine's,
            // which keeps the reference's own order check meaningful.
            if (item.Kind == TColKind::Str)
                key.Text.S += " COLLATE ORVEX";
            select.OrderBy.push_back(key);
        }
    }
    return select;
}

// ------------------------------------------------------------------- DML

TDml TGenerator::Dml(const TSchema& Schema)
{
    TDml dml;
    const TTable& table = Schema.Tables[static_cast<std::size_t>(Int(0, static_cast<int>(Schema.Tables.size()) - 1))];
    dml.Table = table.Name;
    const bool primary = table.ColumnIndex("id") >= 0;
    TScope scope;
    scope.Instances.push_back({"", &table, false});
    auto where = [&]() -> TText {
        if (Chance(20))
            return {};
        const TText condition = Condition(Schema, scope, 1);
        return {" WHERE " + condition.O, " WHERE " + condition.S};
    };
    auto freshKey = [&]() {
        std::int64_t key = 0;
        for (const TRow& row : table.Rows)
            key = std::max<std::int64_t>(key, static_cast<std::int64_t>(row[0].Num));
        return key + Int(1, 5);
    };
    switch (Int(0, 9)) {
    case 0:
    case 1:
    case 2: {
        dml.Kind = TDmlKind::InsertValues;
        std::string columns, values;
        for (const TColumn& column : table.Columns) {
            if (!column.NotNull && Chance(20) && !columns.empty())
                continue; // left out: NULL
            columns += (columns.empty() ? "" : ", ") + column.Name;
            const TValue value =
                column.Name == "id" ? TValue::MakeInt(freshKey()) : Value(Schema, column);
            values += (values.empty() ? "" : ", ") + value.Literal();
        }
        dml.Text = Same("INSERT INTO " + table.Name + " (" + columns + ") VALUES (" + values + ")");
        return dml;
    }
    case 3:
        if (!primary && table.Rows.size() < 400) {
            // INSERT ... SELECT, the table itself now and then as source.
            dml.Kind = TDmlKind::InsertSelect;
            const TTable& source = Chance(40) ? table : Schema.Tables[static_cast<std::size_t>(Int(0, static_cast<int>(Schema.Tables.size()) - 1))];
            std::string columns, items;
            std::set<std::string> taken;
            for (const TColumn& column : table.Columns) {
                const TColumn* from = nullptr;
                for (const TColumn& candidate : source.Columns)
                    if (!from && candidate.Kind == column.Kind && candidate.Size <= column.Size &&
                        (!column.NotNull || candidate.NotNull) && !taken.count(candidate.Name) && Chance(70))
                        from = &candidate;
                if (!from) {
                    if (column.NotNull)
                        return Dml(Schema);
                    continue;
                }
                taken.insert(from->Name);
                columns += (columns.empty() ? "" : ", ") + column.Name;
                items += (items.empty() ? "" : ", ") + std::string("b.") + from->Name;
            }
            if (columns.empty())
                return Dml(Schema);
            TScope inner;
            inner.Instances.push_back({"b", &source, false});
            std::string condition;
            TText c;
            if (Chance(60)) {
                c = Condition(Schema, inner, 1);
                dml.Text = {"INSERT INTO " + table.Name + " (" + columns + ") SELECT " + items + " FROM " + source.Name +
                                " b WHERE " + c.O,
                            "INSERT INTO " + table.Name + " (" + columns + ") SELECT " + items + " FROM " + source.Name +
                                " b WHERE " + c.S};
            } else {
                dml.Text = Same("INSERT INTO " + table.Name + " (" + columns + ") SELECT " + items + " FROM " +
                                source.Name + " b");
            }
            return dml;
        }
        [[fallthrough]];
    case 4:
    case 5:
    case 6: {
        dml.Kind = TDmlKind::Update;
        TText sets;
        auto add = [&](const std::string& o, const std::string& s) {
            sets.O += (sets.O.empty() ? "" : ", ") + o;
            sets.S += (sets.S.empty() ? "" : ", ") + s;
        };
        // A key change that cannot collide, a swap of two columns of one
        // kind, or new values computed from the old row.
        if (primary && Chance(30))
            add("id = id + 100000", "id = id + 100000");
        std::vector<const TColumn*> others;
        for (const TColumn& column : table.Columns)
            if (column.Name != "id")
                others.push_back(&column);
        std::shuffle(others.begin(), others.end(), FRandom);
        bool swapped = false;
        for (std::size_t i = 0; i + 1 < others.size() && !swapped && Chance(40); ++i)
            for (std::size_t j = i + 1; j < others.size() && !swapped; ++j)
                if (others[i]->Kind == others[j]->Kind && others[i]->Size == others[j]->Size &&
                    others[i]->NotNull == others[j]->NotNull) {
                    add(others[i]->Name + " = " + others[j]->Name, others[i]->Name + " = " + others[j]->Name);
                    add(others[j]->Name + " = " + others[i]->Name, others[j]->Name + " = " + others[i]->Name);
                    swapped = true;
                }
        if (!swapped && !others.empty()) {
            const TColumn& column = *others[0];
            if (column.Kind == TColKind::Str) {
                const std::string value = StringValue(Schema, column.Size);
                if (Chance(50) || column.NotNull)
                    add(column.Name + " = '" + value + "'", column.Name + " = '" + value + "'");
                else
                    add(column.Name + " = UPPER(" + column.Name + ")", column.Name + " = UPPER(" + column.Name + ")");
            } else if (column.Kind == TColKind::Int) {
                const std::string step = std::to_string(Int(-3, 3));
                add(column.Name + " = " + step + " - " + column.Name, column.Name + " = " + step + " - " + column.Name);
            } else {
                add(column.Name + " = " + column.Name + " + 0.25", column.Name + " = " + column.Name + " + 0.25");
            }
        }
        if (sets.O.empty())
            return Dml(Schema);
        scope.UpdateTarget = &table;
        const TText condition = where();
        dml.Text = {"UPDATE " + table.Name + " SET " + sets.O + condition.O,
                    "UPDATE " + table.Name + " SET " + sets.S + condition.S};
        return dml;
    }
    default: {
        dml.Kind = TDmlKind::Delete;
        TText condition = where();
        if (Chance(40)) {
            // A subquery over the table itself or another one.
            TColRef ref;
            auto pick = [&](int n) { return Int(0, n - 1); };
            if (PickColumn(scope, pick, false, true, TColKind::Int, ref)) {
                const TTable& source = Schema.Tables[static_cast<std::size_t>(Int(0, static_cast<int>(Schema.Tables.size()) - 1))];
                for (const TColumn& column : source.Columns)
                    if (column.Kind != TColKind::Str) {
                        const std::string bound = std::to_string(Int(-20, 20));
                        condition = Same(" WHERE " + ref.Text + " IN (SELECT b." + column.Name + " FROM " + source.Name +
                                         " b WHERE b." + column.Name + " > " + bound + ")");
                        break;
                    }
            }
        }
        dml.Text = {"DELETE FROM " + table.Name + condition.O, "DELETE FROM " + table.Name + condition.S};
        return dml;
    }
    }
}

// ============================================================== comparison

int CollateOrvex(const std::string& A, const std::string& B)
{
    return AnsiCompareStr(A, B);
}

namespace {

int Rank(const TValue& V)
{
    return V.Kind == TValue::Null ? 0 : V.Kind == TValue::Number ? 1 : 2;
}

double Rounded(double V)
{
    return std::round(V * 1e6) / 1e6;
}

bool CanonicalLess(const TRow& A, const TRow& B)
{
    const std::size_t n = std::min(A.size(), B.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int ra = Rank(A[i]), rb = Rank(B[i]);
        if (ra != rb)
            return ra < rb;
        if (ra == 1 && Rounded(A[i].Num) != Rounded(B[i].Num))
            return Rounded(A[i].Num) < Rounded(B[i].Num);
        if (ra == 2 && A[i].Str != B[i].Str)
            return A[i].Str < B[i].Str;
    }
    return A.size() < B.size();
}

// The order of a key: NULL first; numbers by value; strings by the
// engine's collation.
int KeyCompare(const TValue& A, const TValue& B)
{
    const int ra = Rank(A), rb = Rank(B);
    if (ra != rb)
        return ra < rb ? -1 : 1;
    if (ra == 1) {
        if (SameValue(A, B))
            return 0;
        return A.Num < B.Num ? -1 : 1;
    }
    if (ra == 2)
        return CollateOrvex(A.Str, B.Str);
    return 0;
}

std::string RowText(const TRow& Row)
{
    std::string text;
    for (std::size_t i = 0; i < Row.size(); ++i)
        text += (i ? " | " : "") + Row[i].Text();
    return text;
}

} // namespace

void Canonicalise(std::vector<TRow>& Rows)
{
    std::sort(Rows.begin(), Rows.end(), CanonicalLess);
}

bool SameValue(const TValue& A, const TValue& B)
{
    if (A.Kind != B.Kind)
        return false;
    if (A.Kind == TValue::Null)
        return true;
    if (A.Kind == TValue::String)
        return A.Str == B.Str;
    const double scale = std::max({1.0, std::fabs(A.Num), std::fabs(B.Num)});
    return std::fabs(A.Num - B.Num) <= 1e-9 * scale;
}

std::string RowsText(const std::vector<TRow>& Rows, std::size_t Limit)
{
    std::string text;
    for (std::size_t i = 0; i < Rows.size() && i < Limit; ++i)
        text += "  " + RowText(Rows[i]) + "\n";
    if (Rows.size() > Limit)
        text += "  ... (" + std::to_string(Rows.size()) + " rows)\n";
    if (Rows.empty())
        text += "  (no rows)\n";
    return text;
}

std::string Compare(const TResult& Engine, const TResult& Expected, const std::vector<TOrderKey>& OrderBy)
{
    if (!Engine.Error.empty())
        return "engine error: " + Engine.Error;
    if (!Expected.Error.empty())
        return "SQLite error: " + Expected.Error;
    if (Engine.RowsAffected != Expected.RowsAffected)
        return "rows affected " + std::to_string(Engine.RowsAffected) + " against " +
               std::to_string(Expected.RowsAffected);
    // Under ORDER BY, the engine's rows are in the order of the keys.
    for (std::size_t r = 1; r < Engine.Rows.size() && !OrderBy.empty(); ++r) {
        for (const TOrderKey& key : OrderBy) {
            const std::size_t c = static_cast<std::size_t>(key.Column);
            if (c >= Engine.Rows[r].size())
                return "ORDER BY column out of range";
            int order = KeyCompare(Engine.Rows[r - 1][c], Engine.Rows[r][c]);
            if (key.Descending)
                order = -order;
            if (order < 0)
                break;
            if (order > 0)
                return "rows " + std::to_string(r) + " and " + std::to_string(r + 1) + " out of ORDER BY order: " +
                       RowText(Engine.Rows[r - 1]) + " before " + RowText(Engine.Rows[r]);
        }
    }
    std::vector<TRow> a = Engine.Rows, b = Expected.Rows;
    if (a.size() != b.size())
        return std::to_string(a.size()) + " rows against " + std::to_string(b.size());
    Canonicalise(a);
    Canonicalise(b);
    for (std::size_t r = 0; r < a.size(); ++r) {
        if (a[r].size() != b[r].size())
            return std::to_string(a[r].size()) + " columns against " + std::to_string(b[r].size());
        for (std::size_t c = 0; c < a[r].size(); ++c)
            if (!SameValue(a[r][c], b[r][c]))
                return "row differs: " + RowText(a[r]) + " against " + RowText(b[r]);
    }
    return {};
}

// ================================================================= reducer

void Reduce(TSchema& Schema, TSelect& Select, const std::function<bool(const TSchema&, const TSelect&)>& Fails)
{
    // A bounded number of tries: a slow mismatch still reports in time.
    int budget = 150;
    auto StillFails = [&](const TSchema& S, const TSelect& C) { return --budget >= 0 && Fails(S, C); };
    bool progress = true;
    while (progress) {
        progress = false;
        auto tryDrop = [&](auto& List) {
            for (std::size_t i = 0; i < List.size();) {
                auto saved = List;
                List.erase(List.begin() + static_cast<std::ptrdiff_t>(i));
                if (StillFails(Schema, Select)) {
                    progress = true;
                } else {
                    List = saved;
                    ++i;
                }
            }
        };
        tryDrop(Select.OrderBy);
        tryDrop(Select.Having);
        tryDrop(Select.Where);
        tryDrop(Select.Unions);
        if (Select.Distinct) {
            Select.Distinct = false;
            if (StillFails(Schema, Select))
                progress = true;
            else
                Select.Distinct = true;
        }
        // Rows: halves first, then one by one while tables are small.
        for (TTable& table : Schema.Tables) {
            for (std::size_t chunk = std::max<std::size_t>(1, table.Rows.size() / 2); chunk >= 1; chunk /= 2) {
                for (std::size_t i = 0; i + chunk <= table.Rows.size();) {
                    auto saved = table.Rows;
                    table.Rows.erase(table.Rows.begin() + static_cast<std::ptrdiff_t>(i),
                                     table.Rows.begin() + static_cast<std::ptrdiff_t>(i + chunk));
                    if (StillFails(Schema, Select)) {
                        progress = true;
                    } else {
                        table.Rows = saved;
                        i += chunk;
                    }
                }
                if (chunk == 1)
                    break;
            }
        }
    }
}

} // namespace orvex::sqldiff
