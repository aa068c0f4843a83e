// SHA-1 stream, CRC-32 and the keyed XOR scramble.

#include "storage/vekCrypt.h"

#include "host/SysUtils.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace orvex {

// ---------------------------------------------------------------------- SHA-1

namespace {

constexpr std::array<LongWord, 5> Sha1InitialHash = {0x67452301, 0xEFCDAB89, 0x98BADCFE,
                                                      0x10325476, 0xC3D2E1F0};

// Bytes of the length field that ends the padded message.
constexpr int Sha1LengthBytes = 8;
constexpr int Sha1BlockBytes = 64;

} // namespace

TSha1Stream::TSha1Stream()
{
    Initialize();
}

void SecureZero(void* Data, std::size_t Size)
{
    if (Data && Size > 0)
        explicit_bzero(Data, Size);
}

void BurnString(std::string& S)
{
    // Writing through data() is defined up to size(): grow to the capacity
    // first, which never reallocates.
    S.resize(S.capacity());
    SecureZero(S.data(), S.size());
    S.clear();
}

void TSha1Stream::Initialize()
{
    FHash = Sha1InitialHash;
    FBlockCount = 0;
    FBufferFill = 0;
    FBuffer.fill(0);
}

std::int32_t TSha1Stream::Write(const void* Buffer, std::int32_t Count)
{
    if (Count <= 0)
        return 0;
    const auto* bytes = static_cast<const Byte*>(Buffer);
    std::int32_t left = Count;
    while (left > 0) {
        if (FBufferFill == 0 && left >= Sha1BlockBytes) {
            // Whole blocks straight from the caller's buffer.
            Transform(bytes);
            bytes += Sha1BlockBytes;
            left -= Sha1BlockBytes;
            continue;
        }
        const int take = std::min<std::int32_t>(left, Sha1BlockBytes - FBufferFill);
        std::memcpy(FBuffer.data() + FBufferFill, bytes, take);
        FBufferFill += take;
        bytes += take;
        left -= take;
        if (FBufferFill == Sha1BlockBytes) {
            Transform(FBuffer.data());
            FBufferFill = 0;
        }
    }
    return Count;
}

std::int32_t TSha1Stream::Read(void* Buffer, std::int32_t Count)
{
    return 0;
}

std::int64_t TSha1Stream::Seek(std::int64_t Offset, TSeekOrigin Origin)
{
    return 0;
}

void TSha1Stream::Transform(const Byte* Block)
{
    std::array<LongWord, 80> w;
    for (int i = 0; i < 16; ++i)
        w[i] = LongWord{Block[4 * i]} << 24 | LongWord{Block[4 * i + 1]} << 16 |
               LongWord{Block[4 * i + 2]} << 8 | LongWord{Block[4 * i + 3]};
    for (int i = 16; i < 80; ++i)
        w[i] = std::rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);

    LongWord a = FHash[0], b = FHash[1], c = FHash[2], d = FHash[3], e = FHash[4];
    for (int i = 0; i < 80; ++i) {
        LongWord f, k;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        const LongWord t = std::rotl(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = std::rotl(b, 30);
        b = a;
        a = t;
    }
    FHash[0] += a;
    FHash[1] += b;
    FHash[2] += c;
    FHash[3] += d;
    FHash[4] += e;
    ++FBlockCount;
}

TSha1Digest TSha1Stream::GetDigest()
{
    const std::uint64_t bitLength = (FBlockCount * Sha1BlockBytes + FBufferFill) * 8;

    // A 0x80 byte, zeros up to the length field (in an extra block when the
    // length no longer fits), then the length in bits, big-endian.
    FBuffer[FBufferFill++] = 0x80;
    if (FBufferFill > Sha1BlockBytes - Sha1LengthBytes) {
        std::memset(FBuffer.data() + FBufferFill, 0, Sha1BlockBytes - FBufferFill);
        Transform(FBuffer.data());
        FBufferFill = 0;
    }
    std::memset(FBuffer.data() + FBufferFill, 0, Sha1BlockBytes - Sha1LengthBytes - FBufferFill);
    for (int i = 0; i < Sha1LengthBytes; ++i)
        FBuffer[Sha1BlockBytes - 1 - i] = static_cast<Byte>(bitLength >> (8 * i));
    Transform(FBuffer.data());

    const TSha1Digest digest{FHash[0], FHash[1], FHash[2], FHash[3], FHash[4]};
    Initialize();
    return digest;
}

std::string TSha1Stream::GetDigestString()
{
    const TSha1Digest digest = GetDigest();
    std::string result;
    result.reserve(20);
    for (LongWord word : {digest.H0, digest.H1, digest.H2, digest.H3, digest.H4})
        for (int i = 0; i < 4; ++i)
            result.push_back(static_cast<char>(word >> (8 * i)));
    return result;
}

TSha1Digest TSha1Stream::GetSHA1FromString(const std::string& S)
{
    Initialize();
    const char* bytes = S.data();
    std::size_t left = S.size();
    // Write takes a 32-bit count; feed longer strings in pieces.
    constexpr std::size_t piece = std::size_t{1} << 30;
    while (left > 0) {
        const std::size_t take = std::min(left, piece);
        Write(bytes, static_cast<std::int32_t>(take));
        bytes += take;
        left -= take;
    }
    return GetDigest();
}

// --------------------------------------------------------------------- CRC-32

namespace {

constexpr std::array<LongWord, 256> MakeCrcTable()
{
    std::array<LongWord, 256> table{};
    for (LongWord n = 0; n < 256; ++n) {
        LongWord c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

// Tables[k][n]: the CRC of byte n followed by k zero bytes, so that eight
// bytes fold in one step (the journal checks every page image it keeps).
constexpr std::array<std::array<LongWord, 256>, 8> MakeCrcTables()
{
    std::array<std::array<LongWord, 256>, 8> tables{};
    tables[0] = MakeCrcTable();
    for (std::size_t k = 1; k < 8; ++k)
        for (std::size_t n = 0; n < 256; ++n) {
            const LongWord previous = tables[k - 1][n];
            tables[k][n] = tables[0][previous & 0xFF] ^ (previous >> 8);
        }
    return tables;
}

constexpr std::array<std::array<LongWord, 256>, 8> CrcTables = MakeCrcTables();

} // namespace

LongWord CalcCRC(const void* Buf, Integer Len)
{
    const auto* bytes = static_cast<const Byte*>(Buf);
    LongWord crc = 0xFFFFFFFF;
    Integer i = 0;
    for (; i + 8 <= Len; i += 8) {
        const LongWord low = crc ^ (LongWord{bytes[i]} | LongWord{bytes[i + 1]} << 8 |
                                    LongWord{bytes[i + 2]} << 16 | LongWord{bytes[i + 3]} << 24);
        crc = CrcTables[7][low & 0xFF] ^ CrcTables[6][(low >> 8) & 0xFF] ^ CrcTables[5][(low >> 16) & 0xFF] ^
              CrcTables[4][low >> 24] ^ CrcTables[3][bytes[i + 4]] ^ CrcTables[2][bytes[i + 5]] ^
              CrcTables[1][bytes[i + 6]] ^ CrcTables[0][bytes[i + 7]];
    }
    for (; i < Len; ++i)
        crc = CrcTables[0][(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

// ----------------------------------------------------------- XOR scramble

const char CVekXORPageKey[CVekXORPageKeyLen + 1] =
    "vekrun page scramble: 7Hq2#Lm9@Xz4%Rw8&Td1*Pb6(Kc3)Ne5+Vf0=Gj!Ys?Ua<Ei>";
static_assert(sizeof(CVekXORPageKey) == CVekXORPageKeyLen + 1);

void XORCryptBuf(const void* Source, void* Dest, const void* Key, Integer Count, Integer KeyLen,
                 Integer Seed)
{
    if (Count <= 0)
        return;
    ORVEX_ASSERT(Key != nullptr && KeyLen > 0, "XOR scramble without a key");
    const auto* src = static_cast<const Byte*>(Source);
    auto* dst = static_cast<Byte*>(Dest);
    const auto* key = static_cast<const Byte*>(Key);
    // The bitwise and with the decimal 100 (bits 64, 32 and 4).
    const Integer step = (Seed & 100) + 1;
    Integer j = 0;
    for (Integer i = 0; i < Count; ++i) {
        dst[i] = src[i] ^ key[j];
        j += step;
        while (j >= KeyLen)
            j -= KeyLen;
    }
}

} // namespace orvex
