// The engine error: lookup in the error table, logging and the exception, and
// the constants unit's start-up.

#include "storage/vekConsts.h"

#include "host/Classes.h"
#include "storage/vekCommon.h"

#include <algorithm>

namespace orvex {

std::array<std::string, 2> C_BooleanStr;

namespace {

// The constants unit's start-up: the Boolean names come from the dataset
// layer's texts.
struct TConstsUnitInit {
    TConstsUnitInit()
    {
        C_BooleanStr[false] = STextFalse;
        C_BooleanStr[true] = STextTrue;
    }
} GConstsUnitInit;

// Rows 1 to 316 hold the table's codes; the last row repeats row 0 and is
// never searched.
constexpr int FirstSearchedRow = 1;
constexpr int LastSearchedRow = VekErrorCount - 2;

std::string EngineErrorMessage(Integer code, const std::string& tableMsg,
                               const std::string& customMsg)
{
    if (customMsg.empty())
        return Format(SvekErrorAnonBaseMsg, {code, tableMsg});
    return Format(SvekErrorAnonCustomMsg, {tableMsg, code, customMsg});
}

// The name under which the log shows the raising object: a named component's
// Name, otherwise its class name; empty without an object.
std::string CallerName(const TObject* sender)
{
    if (sender == nullptr)
        return {};
    if (const auto* component = dynamic_cast<const TComponent*>(sender);
        component != nullptr && !component->Name().empty())
        return component->Name();
    return sender->ClassName();
}

} // namespace

int VekErrorIndex(Integer Code)
{
    const Integer key = Code & 0xFFFF;
    for (int row = FirstSearchedRow; row <= LastSearchedRow; ++row)
        if (C_VEKERRORS[row].Code == key)
            return row;
    return 0;
}

const TVekResString* FindVekResString(int Id)
{
    const auto* found = std::ranges::lower_bound(CVekResStrings, Id, {}, &TVekResString::Id);
    return found != CVekResStrings.end() && found->Id == Id ? found : nullptr;
}

EVekDatabaseError::EVekDatabaseError(Integer Code, const std::string& TableMsg,
                                     const std::string& CustomMsg, TObject* Sender)
    : EDatabaseError(EngineErrorMessage(Code, TableMsg, CustomMsg)), ErrorCode(Code),
      TableMessage(TableMsg), Sender(Sender)
{
}

void VekDatabaseError(Integer Code, const std::string& Context, const std::string& CustomMsg,
                      TObject* Sender)
{
    const VekErr& row = C_VEKERRORS[VekErrorIndex(Code)];
    const std::string tableMsg(row.Msg);
    // The log shows the row's code: 65535 for a code the table lacks.
    const std::string line =
        Format("Exception:  Caller %20s ErrCode %5d [ErrContext %s]. CustomMsg %s",
               {CallerName(Sender), row.Code, tableMsg, CustomMsg});
    if (GDBLogger != nullptr)
        GDBLogger->LogItem(Context, line);
    throw EVekDatabaseError(Code, tableMsg, CustomMsg, Sender);
}

void VekDatabaseErrorFmt(Integer Code, const std::string& Context, std::string_view Fmt,
                         std::initializer_list<TVarRec> Args, TObject* Sender)
{
    VekDatabaseError(Code, Context, Format(Fmt, Args), Sender);
}

} // namespace orvex
