#pragma once
// The host framework's runtime routines: exceptions, Format, integer and float
// conversion, string handling with the fixed Windows-1252 "ANSI" collation,
// code-page conversion, assertions, random numbers and the tick counter.

#include "host/System.h"
#include "platform/CodePage.h"

#include <cstddef>
#include <exception>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace orvex {

// ---------------------------------------------------------------- exceptions

class Exception : public TObject, public std::exception {
public:
    explicit Exception(std::string message);
    const char* what() const noexcept override { return FMessage.c_str(); }
    const std::string& Message() const { return FMessage; }
    void SetMessage(std::string message) { FMessage = std::move(message); }

private:
    std::string FMessage;
};

// The silent exception: raised to leave an operation without a message.
class EAbort : public Exception {
public:
    using Exception::Exception;
};
[[noreturn]] void Abort(); // raises EAbort("Operation aborted")

class EConvertError : public Exception {
public:
    using Exception::Exception;
};

class EOutOfMemory : public Exception {
public:
    using Exception::Exception;
};

class EInOutError : public Exception {
public:
    EInOutError(std::string message, int errorCode);
    int ErrorCode;
};

// A failed assertion: the message carries the source unit and line, as
// "Text (unit.cpp, line 42)". Assertions stay on in every build.
class EAssertionFailed : public Exception {
public:
    EAssertionFailed(const std::string& text, const std::string& unit, int line);
    std::string Unit;
    int Line;
};
[[noreturn]] void AssertFailed(const std::string& text, const char* file, int line);

#define ORVEX_ASSERT(cond, text)                                               \
    do {                                                                       \
        if (!(cond))                                                           \
            ::orvex::AssertFailed((text), __FILE__, __LINE__);                 \
    } while (false)

// -------------------------------------------------------------------- Format

// One argument of Format: the framework's "array of const" element.
class TVarRec {
public:
    enum class Kind { Integer, Unsigned, Float, String, Char, Pointer };

    TVarRec(int v) : FKind(Kind::Integer), FInt(v) {}
    TVarRec(long v) : FKind(Kind::Integer), FInt(v) {}
    TVarRec(long long v) : FKind(Kind::Integer), FInt(v) {}
    TVarRec(unsigned v) : FKind(Kind::Unsigned), FUInt(v) {}
    TVarRec(unsigned long v) : FKind(Kind::Unsigned), FUInt(v) {}
    TVarRec(unsigned long long v) : FKind(Kind::Unsigned), FUInt(v) {}
    TVarRec(short v) : FKind(Kind::Integer), FInt(v) {}
    TVarRec(unsigned short v) : FKind(Kind::Unsigned), FUInt(v) {}
    TVarRec(bool v) : FKind(Kind::Integer), FInt(v ? 1 : 0) {}
    TVarRec(double v) : FKind(Kind::Float), FFloat(v) {}
    TVarRec(char v) : FKind(Kind::Char), FChar(v) {}
    TVarRec(const char* v) : FKind(Kind::String), FStr(v ? v : "") {}
    TVarRec(std::string_view v) : FKind(Kind::String), FStr(v) {}
    TVarRec(const std::string& v) : FKind(Kind::String), FStr(v) {}
    TVarRec(const void* v) : FKind(Kind::Pointer), FPtr(v) {}

    Kind VType() const { return FKind; }
    long long AsInt() const { return FInt; }
    unsigned long long AsUInt() const { return FUInt; }
    double AsFloat() const { return FFloat; }
    std::string_view AsString() const { return FStr; }
    char AsChar() const { return FChar; }
    const void* AsPointer() const { return FPtr; }

private:
    Kind FKind;
    union {
        long long FInt;
        unsigned long long FUInt;
        double FFloat;
        char FChar;
        const void* FPtr;
    };
    std::string_view FStr;
};

// The framework's Format: "%" ["-"] [width] ["." prec] type, with the types
// d u x s f g e n m p c and "%%". Widths and precisions may be "*". A
// mismatch between a placeholder and its argument, or a missing argument,
// raises EConvertError ("Format '%s' invalid or incompatible with argument").
std::string Format(std::string_view fmt, std::initializer_list<TVarRec> args);

// ------------------------------------------------- integers, floats, strings

std::string IntToStr(long long value);
std::string IntToHex(long long value, int digits); // upper-case, at least `digits` digits
int StrToInt(const std::string& s);                // raises EConvertError "'%s' is not a valid integer value"
int StrToIntDef(const std::string& s, int def);
long long StrToInt64(const std::string& s);
long long StrToInt64Def(const std::string& s, long long def);
bool TryStrToInt(const std::string& s, int& value);
// Decimal point from FormatSettings; 15 significant digits as the framework does.
std::string FloatToStr(double value);
double StrToFloat(const std::string& s); // raises EConvertError "'%s' is not a valid floating point value"
bool TryStrToFloat(const std::string& s, double& value);
std::string BoolToStr(bool value); // "True"/"False"

std::string Trim(const std::string& s);      // removes bytes <= ' ' at both ends
std::string TrimLeft(const std::string& s);
std::string TrimRight(const std::string& s);
std::string UpperCase(const std::string& s); // ASCII letters only
std::string LowerCase(const std::string& s);
std::string AnsiUpperCase(const std::string& s); // Windows-1252 letters too
std::string AnsiLowerCase(const std::string& s);
char AnsiUpperChar(char c);
char AnsiLowerChar(char c);

// Byte order; ASCII case folding for the *Text forms. Results are <0, 0, >0.
int CompareStr(const std::string& a, const std::string& b);
int CompareText(const std::string& a, const std::string& b);
bool SameText(const std::string& a, const std::string& b);
// The fixed "ANSI" collation of Windows-1252: a total order, case-insensitive
// at the first level with case as the tie-break (AnsiCompareStr), and the
// case-insensitive comparison alone (AnsiCompareText).
int AnsiCompareStr(const std::string& a, const std::string& b);
int AnsiCompareText(const std::string& a, const std::string& b);
bool AnsiSameText(const std::string& a, const std::string& b);
bool AnsiSameStr(const std::string& a, const std::string& b);
// Zero-terminated comparisons of at most maxLen bytes.
int StrLComp(const char* a, const char* b, std::size_t maxLen);
int StrLIComp(const char* a, const char* b, std::size_t maxLen);
int AnsiStrLComp(const char* a, const char* b, std::size_t maxLen);
int AnsiStrLIComp(const char* a, const char* b, std::size_t maxLen);

enum TReplaceFlag { rfReplaceAll = 1, rfIgnoreCase = 2 };
std::string StringReplace(const std::string& s, const std::string& oldPattern,
                          const std::string& newPattern, int flags);
// 1-based, clamped: Copy("abc", 2, 10) == "bc"; index < 1 counts as 1.
std::string Copy(const std::string& s, long long index, long long count);
// 1-based position of sub in s, 0 when absent.
int Pos(const std::string& sub, const std::string& s);
std::string StringOfChar(char c, int count);
std::string QuotedStr(const std::string& s);                    // 'it''s'
std::string AnsiQuotedStr(const std::string& s, char quote);
std::string AnsiDequotedStr(const std::string& s, char quote);

// Native file-name helpers ('/' separated).
std::string ExtractFilePath(const std::string& fileName); // with trailing '/'
std::string ExtractFileDir(const std::string& fileName);  // without
std::string ExtractFileName(const std::string& fileName);
std::string ExtractFileExt(const std::string& fileName);  // ".vek", "" when none
std::string ChangeFileExt(const std::string& fileName, const std::string& ext);
std::string IncludeTrailingPathDelimiter(const std::string& path);
std::string ExcludeTrailingPathDelimiter(const std::string& path);

// Windows-1252 <-> UTF-16 and UTF-8: see platform/CodePage.h.

// ------------------------------------------------- random numbers and time

void Randomize();                    // seeds from the clock
void RandSeed(std::uint32_t seed);   // fixed seed, for tests
int Random(int range);               // 0 <= result < range; thread-safe
double RandomFloat();                // 0 <= result < 1

// Milliseconds since an arbitrary start, wrapping at 2^32 as the system's
// tick counter does. Tests may replace the source (nullptr restores it).
std::uint32_t GetTickCount();
void SetTickCountSource(std::function<std::uint32_t()> source);
void Sleep(std::uint32_t milliseconds);

} // namespace orvex
