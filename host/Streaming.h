#pragma once
// Component streaming in the framework's textual object form.
//
// A class publishes its properties by overriding TPersistent::PublishProperties
// (parent's first, then its own) and adding each property to the list with
// its name, kind and access:
//
//     void TSample::PublishProperties(TPropertyList& List)
//     {
//         TComponent::PublishProperties(List);
//         List.AddInteger("Count", this, &TSample::Count, &TSample::SetCount);
//         List.AddEnumeration("Order", {"soANSI", "soASCII"}, this, &TSample::Order,
//                             &TSample::SetOrder);
//         List.AddCollection("Items", FItems);
//     }
//
// WriteComponentText turns a component into text, ReadComponentText reads
// such text back into an existing component:
//
//     object Sample1: TSample
//       Count = 3
//       Caption = 'It''s'#13#10'done'
//       Ratio = 0.1
//       Visible = True
//       Order = soASCII
//       Options = [opA, opC]
//       Font.Size = 10
//       Items = <
//         item
//           Caption = 'one'
//         end
//         item
//           Caption = 'two'
//         end>
//     end
//
// Lines end with CR LF and indent by two blanks a level. Strings hold any
// bytes: runs of printable ASCII in single quotes (a quote doubled), every
// other byte as #nnn, more than 64 bytes split over lines joined by " +".
// Floats and date-times are the shortest decimal that reads back to the same
// double ("INF", "-INF", "NAN" for the special values), independent of any
// locale. A nested persistent's properties appear under a dotted name. Every
// published property is written.
//
// Reading parses the whole text before it touches the component, so text
// that is not well formed raises EParserError and changes nothing. Then the
// properties are set in text order: a property the text does not name keeps
// its value; a collection is cleared and its items are created one by one
// through the collection's item class. A property the component does not
// publish, or a value that does not fit the property, raises EReadError
// naming the property and the line; properties set before it keep their new
// values. Names of properties, Booleans and enumeration values are matched
// without regard to case; the reader also accepts LF or CR line ends and any
// layout of blanks and line breaks between tokens.

#include "host/Classes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace orvex {

// Text that is not a well-formed object form: the message ends with
// " on line N".
class EParserError : public EReadError {
public:
    using EReadError::EReadError;
};

enum TPropertyKind {
    pkInteger,     // a whole number within [MinValue, MaxValue]
    pkString,      // bytes
    pkBoolean,     // False / True
    pkEnumeration, // one of ValueNames, by ordinal
    pkSet,         // bit i set: ValueNames[i] is a member
    pkFloat,       // a double (date-times too)
    pkCollection,  // a TCollection owned by the object
    pkPersistent,  // a nested persistent owned by the object
};

// One published property. Integers, Booleans (0 or 1), enumerations (the
// ordinal) and sets (the bit mask) go through GetOrdinal and SetOrdinal.
struct TPropertyInfo {
    std::string Name;
    TPropertyKind Kind = pkInteger;
    std::function<Int64()> GetOrdinal;
    std::function<void(Int64)> SetOrdinal;
    Int64 MinValue = 0;
    Int64 MaxValue = 0;
    std::vector<std::string> ValueNames;
    std::function<std::string()> GetString;
    std::function<void(const std::string&)> SetString;
    std::function<double()> GetFloat;
    std::function<void(double)> SetFloat;
    TPersistent* Object = nullptr; // pkCollection, pkPersistent
};

namespace detail {

// The value type a setter takes: the parameter of a member function, or the
// type of a data member.
template <class S>
struct SetterArg;
template <class C, class A>
struct SetterArg<A C::*> {
    using type = A;
};
template <class C, class A>
struct SetterArg<void (C::*)(A)> {
    using type = std::remove_cvref_t<A>;
};
template <class C, class A>
struct SetterArg<void (C::*)(A) noexcept> {
    using type = std::remove_cvref_t<A>;
};

} // namespace detail

// The published properties of one object, in streaming order. Each Add
// comes in two forms: with a getter and a setter as functions, or with the
// object and its getter and setter as member pointers (a member function, or
// a data member for direct access), e.g.
//     List.AddString("TableName", this, &TTableDef::TableName, &TTableDef::SetTableName);
//     List.AddInteger("RecordSize", this, &TTableDef::FRecordSize, &TTableDef::SetRecordSize);
class TPropertyList {
public:
    void AddInteger(std::string Name, std::function<Integer()> Get, std::function<void(Integer)> Set);
    void AddCardinal(std::string Name, std::function<Cardinal()> Get, std::function<void(Cardinal)> Set);
    void AddInt64(std::string Name, std::function<Int64()> Get, std::function<void(Int64)> Set);
    void AddString(std::string Name, std::function<std::string()> Get,
                   std::function<void(const std::string&)> Set);
    void AddBoolean(std::string Name, std::function<bool()> Get, std::function<void(bool)> Set);
    // ValueNames[i] names ordinal i.
    void AddEnumeration(std::string Name, std::vector<std::string> ValueNames, std::function<int()> Get,
                        std::function<void(int)> Set);
    // A set of at most 32 elements: bit i of the mask stands for ElementNames[i].
    void AddSet(std::string Name, std::vector<std::string> ElementNames, std::function<std::uint32_t()> Get,
                std::function<void(std::uint32_t)> Set);
    void AddFloat(std::string Name, std::function<double()> Get, std::function<void(double)> Set);
    void AddDateTime(std::string Name, std::function<TDateTime()> Get, std::function<void(TDateTime)> Set)
    {
        AddFloat(std::move(Name), std::move(Get), std::move(Set));
    }
    // The collection belongs to the object; reading refills it.
    void AddCollection(std::string Name, TCollection* Collection);
    // An owned sub-object whose own published properties are streamed under
    // "Name.".
    void AddPersistent(std::string Name, TPersistent* Object);

    template <class C, class G, class S>
    void AddInteger(std::string Name, C* Obj, G Get, S Set)
    {
        AddInteger(std::move(Name), Getter<Integer>(Obj, Get), Setter<Integer>(Obj, Set));
    }
    template <class C, class G, class S>
    void AddCardinal(std::string Name, C* Obj, G Get, S Set)
    {
        AddCardinal(std::move(Name), Getter<Cardinal>(Obj, Get), Setter<Cardinal>(Obj, Set));
    }
    template <class C, class G, class S>
    void AddInt64(std::string Name, C* Obj, G Get, S Set)
    {
        AddInt64(std::move(Name), Getter<Int64>(Obj, Get), Setter<Int64>(Obj, Set));
    }
    template <class C, class G, class S>
    void AddString(std::string Name, C* Obj, G Get, S Set)
    {
        AddString(std::move(Name), Getter<std::string>(Obj, Get), Setter<const std::string&>(Obj, Set));
    }
    template <class C, class G, class S>
    void AddBoolean(std::string Name, C* Obj, G Get, S Set)
    {
        AddBoolean(std::move(Name), Getter<bool>(Obj, Get), Setter<bool>(Obj, Set));
    }
    template <class C, class G, class S>
    void AddEnumeration(std::string Name, std::vector<std::string> ValueNames, C* Obj, G Get, S Set)
    {
        AddEnumeration(std::move(Name), std::move(ValueNames), Getter<int>(Obj, Get), Setter<int>(Obj, Set));
    }
    template <class C, class G, class S>
    void AddFloat(std::string Name, C* Obj, G Get, S Set)
    {
        AddFloat(std::move(Name), Getter<double>(Obj, Get), Setter<double>(Obj, Set));
    }
    template <class C, class G, class S>
    void AddDateTime(std::string Name, C* Obj, G Get, S Set)
    {
        AddFloat(std::move(Name), Getter<double>(Obj, Get), Setter<double>(Obj, Set));
    }

    int Count() const { return static_cast<int>(FItems.size()); }
    const TPropertyInfo& operator[](int Index) const { return FItems[static_cast<std::size_t>(Index)]; }
    // The property of that name (ignoring case); nullptr when none.
    const TPropertyInfo* Find(std::string_view Name) const;

private:
    TPropertyInfo& Add(std::string Name, TPropertyKind Kind);
    void AddOrdinal(std::string Name, TPropertyKind Kind, Int64 MinValue, Int64 MaxValue,
                    std::function<Int64()> Get, std::function<void(Int64)> Set);

    template <class V, class C, class G>
    static std::function<V()> Getter(C* Obj, G Get)
    {
        return [Obj, Get]() -> V { return static_cast<V>(std::invoke(Get, Obj)); };
    }
    template <class V, class C, class S>
    static std::function<void(V)> Setter(C* Obj, S Set)
    {
        using A = typename detail::SetterArg<S>::type;
        return [Obj, Set](V Value) {
            if constexpr (std::is_member_object_pointer_v<S>)
                Obj->*Set = static_cast<A>(Value);
            else
                (Obj->*Set)(static_cast<A>(Value));
        };
    }

    std::vector<TPropertyInfo> FItems;
};

// The textual object form of Instance: "object Name: TClassName" (or
// "object TClassName" without a name), its published properties, "end".
std::string WriteComponentText(TComponent* Instance);

// Reads the textual object form into Instance: its Name from the header
// (the class name there is not checked), then the properties the text holds.
// Instance is loading (csLoading, csReading) meanwhile and hears Loaded at
// the end, after a failure too, so that it never stays loading.
void ReadComponentText(const std::string& Text, TComponent* Instance);

} // namespace orvex
