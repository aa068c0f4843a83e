#pragma once
// The host framework's basic types: fixed-width integers under the framework's
// names, TObject (the root of every class), TDateTime and FreeAndNil.
//
// Strings throughout the engine are std::string holding bytes with Windows-1252
// meaning; UTF-16 text is std::u16string.

#include <cstdint>
#include <string>

namespace orvex {

using Integer = std::int32_t;
using Cardinal = std::uint32_t;
using LongWord = std::uint32_t;
using Word = std::uint16_t;
using SmallInt = std::int16_t;
using Byte = std::uint8_t;
using ShortInt = std::int8_t;
using Int64 = std::int64_t;

// Days since 1899-12-30; the fraction is the time of day.
using TDateTime = double;

// Root of every framework-style class. Objects are created with new and freed
// with delete (or by their owner); ClassName gives the class's own name
// without namespace, as the engine's error messages and logs show it.
class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;

    std::string ClassName() const;
};

// Sets the variable to nullptr, then frees the object it held.
template <class T>
void FreeAndNil(T*& obj)
{
    T* held = obj;
    obj = nullptr;
    delete held;
}

} // namespace orvex
