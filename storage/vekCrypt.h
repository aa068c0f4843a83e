#pragma once
// The engine's crypto tools: SHA-1 over a stream of bytes (master-key and
// password digests), Blowfish (strong page encryption), the standard CRC-32
// (header checksums) and the engine's keyed XOR scramble (weak page
// encryption and the key-check value of encrypted tables). None of them keeps
// state outside its arguments.

#include "host/Classes.h"
#include "host/System.h"

#include <array>
#include <cstdint>
#include <string>

namespace orvex {

// ---------------------------------------------------------------------- SHA-1

// A SHA-1 digest: the five words H0 to H4. Where the engine stores a digest it
// writes each word little-endian (the bytes of each word reversed against the
// usual big-endian notation of SHA-1 digests).
struct TSha1Digest {
    LongWord H0, H1, H2, H3, H4;
    friend constexpr bool operator==(const TSha1Digest&, const TSha1Digest&) = default;
};

// SHA-1 of everything written to the stream. Read reads nothing and Seek does
// not move: the stream only digests.
class TSha1Stream : public TStream {
public:
    TSha1Stream();

    // Starts over: the initial chaining words, nothing fed.
    void Initialize();
    // Feeds Count bytes; returns Count (0 for a negative count).
    std::int32_t Write(const void* Buffer, std::int32_t Count) override;
    std::int32_t Read(void* Buffer, std::int32_t Count) override;
    std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;

    // Completes the message (padding and bit length), returns its digest and
    // starts over.
    TSha1Digest GetDigest();
    // GetDigest as 20 bytes: the five words in order, each little-endian.
    std::string GetDigestString();
    void Clear() { Initialize(); }
    // The digest of the bytes of S alone (the stream starts over first).
    TSha1Digest GetSHA1FromString(const std::string& S);

private:
    void Transform(const Byte* Block);

    std::array<LongWord, 5> FHash;
    std::uint64_t FBlockCount; // whole 64-byte blocks processed
    int FBufferFill;           // bytes waiting in FBuffer
    std::array<Byte, 64> FBuffer;
};

// ------------------------------------------------------------------- Blowfish

// The Blowfish state: the initialisation block, the feedback block of the
// chaining modes, the four S-boxes and the P-array.
struct TBlowfishData {
    std::array<Byte, 8> InitBlock;
    std::array<Byte, 8> LastBlock;
    std::array<std::array<LongWord, 256>, 4> SBoxM;
    std::array<LongWord, 18> PBoxM;
};

// Runs the key schedule with the KeyBits / 8 bytes of Key, cycled. KeyBits
// must be a positive multiple of 8, else (or without a key) nothing is done;
// a key longer than 448 bits is cut to its first 56 bytes. The
// initialisation block is the 8 bytes of IV, or without IV (nullptr) eight
// 0xFF bytes enciphered once with the new key; the feedback block starts as
// the initialisation block.
void BlowfishInit(TBlowfishData& Data, const void* Key, Integer KeyBits, const void* IV);
// The feedback block := the initialisation block.
void BlowfishReset(TBlowfishData& Data);
// Zeroes the whole state.
void BlowfishBurn(TBlowfishData& Data);

// One 8-byte block, the 16-round cipher on big-endian halves. In and out may
// be the same block.
void BlowfishEncryptECB(const TBlowfishData& Data, const void* InBlock, void* OutBlock);
void BlowfishDecryptECB(const TBlowfishData& Data, const void* InBlock, void* OutBlock);

// Cipher-block chaining through the feedback block. A final partial block of
// r bytes is combined with the first r bytes of the enciphered feedback block,
// which itself stays as it was. InBuf and OutBuf may be the same buffer.
void BlowfishEncryptCBC(TBlowfishData& Data, const void* InBuf, void* OutBuf, Integer Size);
void BlowfishDecryptCBC(TBlowfishData& Data, const void* InBuf, void* OutBuf, Integer Size);

// 8-bit cipher feedback through the feedback block. InBuf and OutBuf may be
// the same buffer.
void BlowfishEncryptCFB(TBlowfishData& Data, const void* InBuf, void* OutBuf, Integer Size);
void BlowfishDecryptCFB(TBlowfishData& Data, const void* InBuf, void* OutBuf, Integer Size);

// ------------------------------------------------------------------- secrets

// Overwrites Size bytes with zeros in a way the compiler keeps even when the
// memory is about to be released.
void SecureZero(void* Data, std::size_t Size);
// Overwrites every byte S owns (its whole capacity) with zeros, then empties
// it. Keys and passwords go this way, so that released memory holds no copy.
void BurnString(std::string& S);

// Burns the string it watches when the scope ends.
class TBurnOnExit {
public:
    explicit TBurnOnExit(std::string& S) : FString(S) {}
    ~TBurnOnExit() { BurnString(FString); }
    TBurnOnExit(const TBurnOnExit&) = delete;
    TBurnOnExit& operator=(const TBurnOnExit&) = delete;

private:
    std::string& FString;
};

// --------------------------------------------------------------------- CRC-32

// The standard reflected CRC-32 (polynomial 0xEDB88320, initial value
// 0xFFFFFFFF, result inverted) of Len bytes; 0 for no bytes.
LongWord CalcCRC(const void* Buf, Integer Len);

// ----------------------------------------------------------- XOR scramble

// The fixed 71-character key of the engine's page scramble and of the
// key-check value of encrypted tables.
inline constexpr Integer CVekXORPageKeyLen = 71;
extern const char CVekXORPageKey[CVekXORPageKeyLen + 1];

// Dest[i] := Source[i] xor Key[j] for Count bytes, j starting at 0 and
// advancing by (Seed and 100) + 1 (1, 5, 33, 37, 65, 69, 97 or 101), reduced
// below KeyLen after every byte. Its own inverse; Source and Dest may be the
// same buffer. An empty key with bytes to scramble fails an assertion.
void XORCryptBuf(const void* Source, void* Dest, const void* Key, Integer Count, Integer KeyLen,
                 Integer Seed);

} // namespace orvex
