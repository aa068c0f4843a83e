// A hash join's keys kept in the temporary database, and the matched rows of
// a full join as a bitmap of record addresses.

#include "query/vekJoinDataProviderUnit.h"

#include "dataset/vekDatabase.h"
#include "storage/vekByteOrder.h"

#include <atomic>
#include <cstring>

namespace orvex {

namespace {

// The serial number of the next key table of this process.
std::atomic<unsigned> GKeyTableSerial{0};

constexpr const char* HashFieldName = "H";
constexpr const char* AddressFieldName = "A";
constexpr const char* HashIndexName = "ixH";

// The in-memory join hash folded to 32 bits (an Integer field): two keys
// of one hash only add a candidate.
std::int32_t KeyHash(const std::string& Key)
{
    const std::uint64_t h = TJoinHash::HashOf(Key);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(h ^ (h >> 32)));
}

} // namespace

// ========================================================== TJoinKeyStore

TJoinKeyStore::TJoinKeyStore(TVekDataBase* Temporary) : FDataBase(Temporary)
{
    FTableName = "joinkeys_" + std::to_string(GKeyTableSerial.fetch_add(1));
    FTable = std::make_unique<TVekDatasetBridge>(nullptr);
    FTable->SetDataBase(FDataBase);
    FTable->SetTableName(FTableName);
    FTable->FieldDefs()->Add(HashFieldName, ftInteger, 0, true);
    FTable->FieldDefs()->Add(AddressFieldName, ftInteger, 0, true);
    FTable->IndexDefs()->Add(HashIndexName, HashFieldName, 0);
    FTable->CreateTable();
    try {
        FTable->SetInQuery(true);
        FTable->DataSetOpen();
        FHashField = FTable->GetFieldNo(HashFieldName);
        FAddressField = FTable->GetFieldNo(AddressFieldName);
    } catch (...) {
        Drop();
        throw;
    }
}

TJoinKeyStore::~TJoinKeyStore()
{
    try {
        Drop();
    } catch (...) {
        // The table goes with the temporary database at the latest.
    }
}

void TJoinKeyStore::Drop()
{
    DropWorkTable(FDataBase, FTable, FTableName);
}

void TJoinKeyStore::Add(const std::string& Key, Cardinal Address)
{
    const std::int32_t hash = KeyHash(Key);
    Byte hashBytes[4];
    Byte addressBytes[4];
    WriteLE32(hashBytes, static_cast<Cardinal>(hash));
    WriteLE32(addressBytes, Address);
    FTable->ClearRecord(FTable->CurrentBuffer());
    FTable->DataSetSetFieldData(FHashField, 4, false, hashBytes);
    FTable->DataSetSetFieldData(FAddressField, 4, false, addressBytes);
    FTable->AddRecord(false);
    ++FCount;
}

void TJoinKeyStore::Lookup(const std::string& Key, std::vector<Cardinal>& Out)
{
    const Variant hash(static_cast<Integer>(KeyHash(Key)));
    FTable->SetBridgeIndexRange(HashIndexName, hash, hash);
    TDataHolder holder;
    for (bool ok = FTable->FirstBridgeRecord(); ok; ok = FTable->NextBridgeRecord()) {
        FTable->GetRawFieldData(FAddressField, holder);
        if (!holder.IsNull && holder.Data)
            Out.push_back(ReadLE32(holder.Data));
    }
}

// ======================================================== TJoinMatchedSet

namespace {
constexpr unsigned ChunkBits = 16; // 65,536 addresses per chunk of 8 KiB
constexpr std::size_t ChunkWords = (std::size_t{1} << ChunkBits) / 64;
} // namespace

void TJoinMatchedSet::Reset(Cardinal Granularity)
{
    FGranularity = Granularity == 0 ? 1 : Granularity;
    FChunks.clear();
    FCount = 0;
}

void TJoinMatchedSet::Insert(Cardinal Address)
{
    const Cardinal unit = Address / FGranularity;
    const std::size_t chunk = unit >> ChunkBits;
    if (chunk >= FChunks.size())
        FChunks.resize(chunk + 1);
    if (!FChunks[chunk])
        FChunks[chunk] = std::make_unique<std::uint64_t[]>(ChunkWords);
    const Cardinal bit = unit & ((Cardinal{1} << ChunkBits) - 1);
    std::uint64_t& word = FChunks[chunk][bit / 64];
    const std::uint64_t mask = std::uint64_t{1} << (bit % 64);
    if ((word & mask) == 0) {
        word |= mask;
        ++FCount;
    }
}

bool TJoinMatchedSet::Contains(Cardinal Address) const
{
    const Cardinal unit = Address / FGranularity;
    const std::size_t chunk = unit >> ChunkBits;
    if (chunk >= FChunks.size() || !FChunks[chunk])
        return false;
    const Cardinal bit = unit & ((Cardinal{1} << ChunkBits) - 1);
    return (FChunks[chunk][bit / 64] >> (bit % 64)) & 1U;
}

} // namespace orvex
