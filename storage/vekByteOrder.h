#pragma once
// Little-endian fields of the engine's file formats, read and written byte by
// byte so that no structure layout or host byte order leaks into a file.

#include "host/System.h"

#include <bit>
#include <cstdint>

namespace orvex {

inline Word ReadLE16(const Byte* P)
{
    return static_cast<Word>(P[0] | (P[1] << 8));
}

inline Cardinal ReadLE32(const Byte* P)
{
    return Cardinal{P[0]} | (Cardinal{P[1]} << 8) | (Cardinal{P[2]} << 16) | (Cardinal{P[3]} << 24);
}

inline std::uint64_t ReadLE64(const Byte* P)
{
    return std::uint64_t{ReadLE32(P)} | (std::uint64_t{ReadLE32(P + 4)} << 32);
}

inline double ReadLEDouble(const Byte* P)
{
    return std::bit_cast<double>(ReadLE64(P));
}

inline void WriteLE16(Byte* P, Word Value)
{
    P[0] = static_cast<Byte>(Value);
    P[1] = static_cast<Byte>(Value >> 8);
}

inline void WriteLE32(Byte* P, Cardinal Value)
{
    for (int i = 0; i < 4; ++i)
        P[i] = static_cast<Byte>(Value >> (8 * i));
}

inline void WriteLE64(Byte* P, std::uint64_t Value)
{
    WriteLE32(P, static_cast<Cardinal>(Value));
    WriteLE32(P + 4, static_cast<Cardinal>(Value >> 32));
}

inline void WriteLEDouble(Byte* P, double Value)
{
    WriteLE64(P, std::bit_cast<std::uint64_t>(Value));
}

} // namespace orvex
