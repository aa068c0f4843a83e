#include "storage/vekCrypt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

namespace orvex {
namespace {

std::string Hex(const void* data, std::size_t size)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        const Byte b = static_cast<const Byte*>(data)[i];
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::vector<Byte> FromHex(const std::string& hex)
{
    std::vector<Byte> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<Byte>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string DigestHex(const TSha1Digest& d)
{
    return Format("%.8x%.8x%.8x%.8x%.8x", {d.H0, d.H1, d.H2, d.H3, d.H4});
}

// ---------------------------------------------------------------------- SHA-1

TEST(VekSha1, MatchesTheStandardVectors)
{
    const struct {
        std::string Message;
        const char* Digest;
    } cases[] = {
        {"", "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
        {"abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
        // Lengths around the padding's block boundary.
        {std::string(55, 'a'), "C1C8BBDC22796E28C0E15163D20899B65621D65A"},
        {std::string(56, 'a'), "C2DB330F6083854C99D4B5BFB6E8F29F201BE699"},
        {std::string(63, 'a'), "03F09F5B158A7A8CDAD920BDDC29B81C18A551F5"},
        {std::string(64, 'a'), "0098BA824B5C16427BD7A1122A5A442A25EC644D"},
        {std::string(65, 'a'), "11655326C708D70319BE2610E8A57D9A5B959D3B"},
        {std::string(119, 'a'), "EE971065AAA017E0632A8CA6C77BB3BF8B1DFC56"},
        {std::string(120, 'a'), "F34C1488385346A55709BA056DDD08280DD4C6D6"},
    };
    TSha1Stream sha;
    for (const auto& c : cases)
        EXPECT_EQ(DigestHex(sha.GetSHA1FromString(c.Message)), c.Digest) << c.Message.size();
}

TEST(VekSha1, DigestsAMillionBytesFedInPieces)
{
    TSha1Stream sha;
    const std::string piece(997, 'a'); // not a multiple of the block size
    int left = 1000000;
    while (left > 0) {
        const int n = std::min<int>(left, piece.size());
        EXPECT_EQ(sha.Write(piece.data(), n), n);
        left -= n;
    }
    EXPECT_EQ(DigestHex(sha.GetDigest()), "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F");
}

TEST(VekSha1, PieceSizesDoNotChangeTheDigest)
{
    std::string message(300, '\0');
    std::iota(message.begin(), message.end(), '\0');
    TSha1Stream whole;
    const TSha1Digest expected = whole.GetSHA1FromString(message);
    for (int step : {1, 3, 63, 64, 65, 128, 299}) {
        TSha1Stream sha;
        for (std::size_t at = 0; at < message.size(); at += step)
            sha.Write(message.data() + at,
                      static_cast<std::int32_t>(std::min<std::size_t>(step, message.size() - at)));
        EXPECT_EQ(sha.GetDigest(), expected) << step;
    }
}

TEST(VekSha1, StoresEachWordLittleEndian)
{
    TSha1Stream sha;
    sha.Write("abc", 3);
    const std::string stored = sha.GetDigestString();
    ASSERT_EQ(stored.size(), 20u);
    EXPECT_EQ(Hex(stored.data(), stored.size()), "363E99A96A81064771253EBA6CC25078"
                                                  "9DD8D09C");
}

TEST(VekSha1, StartsOverAfterADigestAndOnClear)
{
    TSha1Stream sha;
    sha.Write("xyz", 3);
    sha.Clear();
    sha.Write("abc", 3);
    EXPECT_EQ(DigestHex(sha.GetDigest()), "A9993E364706816ABA3E25717850C26C9CD0D89D");
    sha.Write("abc", 3); // after a digest the stream holds nothing
    EXPECT_EQ(DigestHex(sha.GetDigest()), "A9993E364706816ABA3E25717850C26C9CD0D89D");
    sha.Write("xyz", 3); // GetSHA1FromString ignores what was written before
    EXPECT_EQ(DigestHex(sha.GetSHA1FromString("abc")), "A9993E364706816ABA3E25717850C26C9CD0D89D");
}

TEST(VekSha1, OnlyDigests)
{
    TSha1Stream sha;
    char buffer[4] = {'k', 'e', 'p', 't'};
    EXPECT_EQ(sha.Read(buffer, 4), 0);
    EXPECT_EQ(std::string(buffer, 4), "kept");
    EXPECT_EQ(sha.Write(buffer, -1), 0);
    EXPECT_EQ(DigestHex(sha.GetDigest()), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
}

// ------------------------------------------------------------------- Blowfish

TBlowfishData KeyedWith(const std::string& keyHex, const void* iv = nullptr)
{
    const std::vector<Byte> key = FromHex(keyHex);
    TBlowfishData data{};
    BlowfishInit(data, key.data(), static_cast<Integer>(key.size() * 8), iv);
    return data;
}

TEST(VekBlowfish, MatchesThePublishedECBVectors)
{
    const struct {
        const char* Key;
        const char* Plain;
        const char* Cipher;
    } cases[] = {
        {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
        {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
        {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
        {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
        {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
        {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
        // Keys of other lengths, cycled through the P-array.
        {"F0E1D2C3", "FEDCBA9876543210", "BE1E639408640F05"},
        {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677", "FEDCBA9876543210",
         "05044B62FA52D080"},
    };
    for (const auto& c : cases) {
        const TBlowfishData data = KeyedWith(c.Key);
        const std::vector<Byte> plain = FromHex(c.Plain);
        Byte block[8];
        BlowfishEncryptECB(data, plain.data(), block);
        EXPECT_EQ(Hex(block, 8), c.Cipher) << c.Key;
        BlowfishDecryptECB(data, block, block);
        EXPECT_EQ(Hex(block, 8), c.Plain) << c.Key;
    }
}

TEST(VekBlowfish, MatchesThePublishedCBCVector)
{
    const std::vector<Byte> iv = FromHex("FEDCBA9876543210");
    TBlowfishData data = KeyedWith("0123456789ABCDEFF0E1D2C3B4A59687", iv.data());
    const char plain[33] = "7654321 Now is the time for \0\0\0";
    Byte cipher[32];
    BlowfishEncryptCBC(data, plain, cipher, 32);
    EXPECT_EQ(Hex(cipher, 32), "6B77B4D63006DEE605B156E27403979358DEB9E7154616D959F1652BD5FF92CC");
    // The feedback block is the last cipher block; a reset returns to the IV.
    EXPECT_EQ(Hex(data.LastBlock.data(), 8), "59F1652BD5FF92CC");
    BlowfishReset(data);
    EXPECT_EQ(data.LastBlock, data.InitBlock);
    EXPECT_EQ(Hex(data.InitBlock.data(), 8), "FEDCBA9876543210");
    Byte back[32];
    BlowfishDecryptCBC(data, cipher, back, 32);
    EXPECT_EQ(std::memcmp(back, plain, 32), 0);
}

TEST(VekBlowfish, WithoutIVStartsFromEnciphered0xFFBytes)
{
    const TBlowfishData data = KeyedWith("FFFFFFFFFFFFFFFF");
    // E(FFFFFFFFFFFFFFFF) under that key is the published 51866FD5B85ECB8A.
    EXPECT_EQ(Hex(data.InitBlock.data(), 8), "51866FD5B85ECB8A");
    EXPECT_EQ(data.LastBlock, data.InitBlock);
}

std::vector<Byte> Sample(int size)
{
    std::vector<Byte> bytes(size);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<Byte>(i * 37 + 11);
    return bytes;
}

TEST(VekBlowfish, CBCPartialBlockUsesTheEncipheredFeedbackBlock)
{
    const std::vector<Byte> iv = FromHex("0102030405060708");
    TBlowfishData data = KeyedWith("0123456789ABCDEF", iv.data());
    const std::vector<Byte> plain = Sample(13);
    std::vector<Byte> cipher(13);
    BlowfishEncryptCBC(data, plain.data(), cipher.data(), 13);

    // The first block as plain CBC, the last 5 bytes against E(c0).
    Byte first[8], mask[8];
    for (int i = 0; i < 8; ++i)
        first[i] = plain[i] ^ iv[i];
    BlowfishEncryptECB(data, first, first);
    EXPECT_EQ(Hex(cipher.data(), 8), Hex(first, 8));
    BlowfishEncryptECB(data, first, mask);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(cipher[8 + i], plain[8 + i] ^ mask[i]) << i;
    EXPECT_EQ(Hex(data.LastBlock.data(), 8), Hex(first, 8)); // untouched by the tail
}

TEST(VekBlowfish, ChainingModesRoundTrip)
{
    using Mode = void (*)(TBlowfishData&, const void*, void*, Integer);
    const struct {
        const char* Name;
        Mode Encrypt;
        Mode Decrypt;
    } modes[] = {
        {"CBC", BlowfishEncryptCBC, BlowfishDecryptCBC},
        {"CFB", BlowfishEncryptCFB, BlowfishDecryptCFB},
    };
    for (const auto& mode : modes)
        for (int size : {0, 1, 7, 8, 9, 16, 23, 4096}) {
            TBlowfishData data = KeyedWith("F0E1D2C3B4A59687");
            const std::vector<Byte> plain = Sample(size);
            std::vector<Byte> buffer = plain;
            mode.Encrypt(data, buffer.data(), buffer.data(), size); // in place
            if (size >= 8) {
                EXPECT_NE(buffer, plain) << mode.Name << size;
            }
            BlowfishReset(data);
            std::vector<Byte> back(size);
            mode.Decrypt(data, buffer.data(), back.data(), size);
            EXPECT_EQ(back, plain) << mode.Name << " " << size;
        }
}

TEST(VekBlowfish, CFBCarriesTheFeedbackAcrossCalls)
{
    const std::vector<Byte> iv = FromHex("FEDCBA9876543210");
    const std::vector<Byte> plain = Sample(29);

    TBlowfishData once = KeyedWith("0123456789ABCDEF", iv.data());
    std::vector<Byte> whole(29);
    BlowfishEncryptCFB(once, plain.data(), whole.data(), 29);

    // Byte by byte: E(feedback)[0] xor plain, then the cipher byte shifts in.
    TBlowfishData data = KeyedWith("0123456789ABCDEF", iv.data());
    std::vector<Byte> feedback = iv;
    for (int i = 0; i < 29; ++i) {
        Byte mask[8];
        BlowfishEncryptECB(data, feedback.data(), mask);
        Byte out;
        BlowfishEncryptCFB(data, &plain[i], &out, 1);
        EXPECT_EQ(out, plain[i] ^ mask[0]) << i;
        EXPECT_EQ(out, whole[i]) << i;
        feedback.erase(feedback.begin());
        feedback.push_back(out);
        EXPECT_EQ(Hex(data.LastBlock.data(), 8), Hex(feedback.data(), 8)) << i;
    }
}

TEST(VekBlowfish, RefusesKeyLengthsOutsideWholeBytes)
{
    TBlowfishData data;
    std::memset(&data, 0x5A, sizeof data);
    TBlowfishData before = data;
    const Byte key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (Integer bits : {0, -8, 4, 7, 12, 63}) {
        BlowfishInit(data, key, bits, nullptr);
        EXPECT_EQ(std::memcmp(&data, &before, sizeof data), 0) << bits;
    }
    BlowfishInit(data, nullptr, 64, nullptr);
    EXPECT_EQ(std::memcmp(&data, &before, sizeof data), 0);
}

TEST(VekBlowfish, KeysLongerThan56BytesUseTheirFirst56)
{
    std::vector<Byte> key(64);
    std::iota(key.begin(), key.end(), Byte{1});
    const std::vector<Byte> plain = FromHex("0123456789ABCDEF");
    for (Integer bits : {448, 456, 512}) {
        TBlowfishData data{};
        BlowfishInit(data, key.data(), bits, nullptr);
        Byte block[8];
        BlowfishEncryptECB(data, plain.data(), block);
        EXPECT_EQ(Hex(block, 8), "D08F329BFCFD1564") << bits;
    }
}

TEST(VekBlowfish, BurnZeroesTheState)
{
    TBlowfishData data = KeyedWith("0123456789ABCDEF");
    BlowfishBurn(data);
    TBlowfishData zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(std::memcmp(&data, &zero, sizeof data), 0);
}

TEST(VekSecrets, BurningAStringZeroesEveryByteItOwns)
{
    std::string key = "a master key long enough to live on the heap, not in the string";
    key.reserve(200);
    const char* data = key.data();
    const std::size_t capacity = key.capacity();
    BurnString(key);
    EXPECT_TRUE(key.empty());
    // The buffer stays the string's own: nothing was reallocated.
    ASSERT_EQ(key.data(), data);
    EXPECT_EQ(key.capacity(), capacity);
    EXPECT_TRUE(std::all_of(data, data + capacity, [](char C) { return C == 0; }));
    {
        std::string local = "password 1234567890 password 1234567890";
        const char* bytes = local.data();
        const std::size_t size = local.size();
        {
            TBurnOnExit burn(local);
        }
        EXPECT_TRUE(local.empty());
        EXPECT_TRUE(std::all_of(bytes, bytes + size, [](char C) { return C == 0; }));
    }
}

// --------------------------------------------------------------------- CRC-32

TEST(VekCRC, MatchesTheStandardCheckValues)
{
    const struct {
        std::string Data;
        LongWord Crc;
    } cases[] = {
        {"", 0},
        {"abc", 0x352441C2},
        {"123456789", 0xCBF43926},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CalcCRC(c.Data.data(), static_cast<Integer>(c.Data.size())), c.Crc) << c.Data;
    EXPECT_EQ(CalcCRC("abc", -1), 0u);
}

// Eight bytes are folded at a time: every length and start agrees with the
// byte-at-a-time definition.
TEST(VekCRC, EveryLengthAndStartAgreesWithTheBytewiseDefinition)
{
    const auto bytewise = [](const Byte* Data, std::size_t Size) {
        LongWord crc = 0xFFFFFFFF;
        for (std::size_t i = 0; i < Size; ++i) {
            crc ^= Data[i];
            for (int k = 0; k < 8; ++k)
                crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
        }
        return ~crc;
    };
    std::vector<Byte> data(300);
    std::uint32_t state = 12345;
    for (Byte& b : data) {
        state = state * 1103515245u + 12345u;
        b = static_cast<Byte>(state >> 16);
    }
    for (std::size_t start = 0; start < 9; ++start)
        for (std::size_t size = 0; size + start <= data.size(); size += 7)
            ASSERT_EQ(CalcCRC(data.data() + start, static_cast<Integer>(size)), bytewise(data.data() + start, size))
                << start << " " << size;
}

// ----------------------------------------------------------- XOR scramble

TEST(VekXORCrypt, StepsThroughTheKeyBySeed)
{
    std::vector<Byte> key(71);
    std::iota(key.begin(), key.end(), Byte{1}); // key[j] == j + 1
    const std::vector<Byte> zeros(500, 0);
    const struct {
        Integer Seed;
        int Step;
    } cases[] = {
        {0, 1},    {3, 1},    {4, 5},     {32, 33},  {36, 37},  {64, 65},
        {68, 69},  {96, 97},  {100, 101}, {101, 101}, {255, 101}, {-1, 101},
    };
    for (const auto& c : cases) {
        std::vector<Byte> out(zeros.size());
        XORCryptBuf(zeros.data(), out.data(), key.data(), 500, 71, c.Seed);
        for (int i = 0; i < 500; ++i)
            ASSERT_EQ(out[i], key[(i * c.Step) % 71]) << "seed " << c.Seed << " byte " << i;
    }
}

TEST(VekXORCrypt, IsItsOwnInverse)
{
    const std::vector<Byte> plain = Sample(1000);
    for (Integer seed : {0, 7, 100, 12345}) {
        std::vector<Byte> buffer = plain;
        XORCryptBuf(buffer.data(), buffer.data(), CVekXORPageKey, 1000, CVekXORPageKeyLen, seed);
        EXPECT_NE(buffer, plain);
        std::vector<Byte> back(1000);
        XORCryptBuf(buffer.data(), back.data(), CVekXORPageKey, 1000, CVekXORPageKeyLen, seed);
        EXPECT_EQ(back, plain) << seed;
    }
}

TEST(VekXORCrypt, PageKeyIs71PrintableCharacters)
{
    EXPECT_EQ(std::strlen(CVekXORPageKey), 71u);
    for (int i = 0; i < CVekXORPageKeyLen; ++i)
        EXPECT_TRUE(CVekXORPageKey[i] >= 0x20 && CVekXORPageKey[i] < 0x7F) << i;
}

TEST(VekXORCrypt, NeedsAKeyOnlyForBytes)
{
    Byte dest[4] = {9, 9, 9, 9};
    XORCryptBuf("abcd", dest, nullptr, 0, 0, 0); // nothing to do
    EXPECT_EQ(dest[0], 9);
    EXPECT_THROW(XORCryptBuf("abcd", dest, "", 4, 0, 0), EAssertionFailed);
}

} // namespace
} // namespace orvex
