#pragma once
// Types shared by the whole installer library: sets of enumeration values and
// the Windows version families.

#include "host/System.h"

#include <cstdint>
#include <initializer_list>

namespace orvex {

// A set of values of an enumeration with at most 32 values, as the
// framework's "set of" types.
template <class E>
class TEnumSet {
public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<E> values)
    {
        for (E v : values)
            FBits |= Bit(v);
    }
    constexpr bool Contains(E v) const { return (FBits & Bit(v)) != 0; }
    constexpr TEnumSet& Include(E v)
    {
        FBits |= Bit(v);
        return *this;
    }
    constexpr TEnumSet& Exclude(E v)
    {
        FBits &= ~Bit(v);
        return *this;
    }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr std::uint32_t Bits() const { return FBits; }
    constexpr TEnumSet operator+(TEnumSet other) const { return FromBits(FBits | other.FBits); }
    constexpr TEnumSet operator*(TEnumSet other) const { return FromBits(FBits & other.FBits); }
    constexpr TEnumSet operator-(TEnumSet other) const { return FromBits(FBits & ~other.FBits); }
    constexpr bool operator==(const TEnumSet&) const = default;
    static constexpr TEnumSet FromBits(std::uint32_t bits)
    {
        TEnumSet s;
        s.FBits = bits;
        return s;
    }

private:
    static constexpr std::uint32_t Bit(E v) { return 1u << static_cast<unsigned>(v); }
    std::uint32_t FBits = 0;
};

// The Windows families.
enum TOSVerType {
    os31win32,
    oswin95,
    oswinNT,
    oswinNT351,
    osUnidentified,
    osLinux,
    oswin2K,
    oswin98,
    oswinME,
    oswinXP,
};
using TOSVerTypes = TEnumSet<TOSVerType>;

// The NT family (it chooses the RunOnce root and the shell folders) and the
// 95 family.
inline constexpr TOSVerTypes NTFamily{oswinNT, oswin2K, oswinXP};
inline constexpr TOSVerTypes Win95Family{oswin95, oswin98, oswinME};

} // namespace orvex
