// TVekBaseHash, the fixed-capacity hash, and THashCollection, a collection
// whose items are found by 8-byte keys through it.

#include "storage/vekCommon.h"

#include <cstring>

namespace orvex {

// --------------------------------------------------------------- TVekBaseHash

TVekBaseHash::TVekBaseHash(Integer HashSize, Integer MaxItems, Integer KeySize)
{
    ORVEX_ASSERT(HashSize >= 0 && MaxItems >= 0 && KeySize >= 0, "Hash sizes must not be negative");
    ORVEX_ASSERT(MaxItems <= HashSize, "Hash key max is greater than hash size");
    FBuckets.assign(static_cast<std::size_t>(HashSize), nullptr);
    // Entry numbers MaxItems - 1 down to 0, so the top of the stack hands out
    // entries 0, 1, 2, ...
    FFreeList.resize(static_cast<std::size_t>(MaxItems));
    FPool.resize(static_cast<std::size_t>(MaxItems));
    for (Integer i = 0; i < MaxItems; ++i) {
        FFreeList[static_cast<std::size_t>(i)] = MaxItems - 1 - i;
        FPool[static_cast<std::size_t>(i)] = TVekHashEntry{nullptr, nullptr, i, 0};
    }
    FFreeTop = MaxItems - 1;
    FMaxItems = MaxItems;
    FKeySize = KeySize;
    FKeyStore.assign(static_cast<std::size_t>(MaxItems) * static_cast<std::size_t>(KeySize), 0);
}

TVekBaseHash::~TVekBaseHash()
{
    Clear();
}

Cardinal TVekBaseHash::HashOf(const void* Key, Integer KeyLen)
{
    const Byte* bytes = static_cast<const Byte*>(Key);
    Cardinal h = 0;
    for (Integer i = 0; i < KeyLen; ++i)
        h = ((h << 2) | (h >> 30)) ^ bytes[i];
    return h;
}

bool TVekBaseHash::KeyMatches(const TVekHashEntry* Entry, const Byte* Key, Integer KeyLen) const
{
    if (KeyLen > FKeySize)
        return false;
    if (KeyLen > 0 && std::memcmp(Entry->Key, Key, static_cast<std::size_t>(KeyLen)) != 0)
        return false;
    // A shorter key must end where the stored one does (stored keys are zero-padded).
    return KeyLen == FKeySize || Entry->Key[KeyLen] == 0;
}

void TVekBaseHash::Add(const void* Key, Integer KeyLen, Integer Value)
{
    ORVEX_ASSERT(FFreeTop >= 0, "BaseHash is full");
    ORVEX_ASSERT(KeyLen >= 0 && KeyLen <= FKeySize, "Hash key is longer than the hash key size");
    TVekHashEntry& entry = FPool[static_cast<std::size_t>(FFreeList[static_cast<std::size_t>(FFreeTop)])];
    // The slot may hold an earlier, longer key: clear it, so the new key is
    // zero-padded as the key match expects.
    entry.Key = FKeyStore.data() + static_cast<std::size_t>(entry.EntryIndex) * static_cast<std::size_t>(FKeySize);
    std::memset(entry.Key, 0, static_cast<std::size_t>(FKeySize));
    if (KeyLen > 0)
        std::memcpy(entry.Key, Key, static_cast<std::size_t>(KeyLen));
    entry.Value = Value;
    PVekHashEntry& head = FBuckets[HashOf(Key, KeyLen) % FBuckets.size()];
    entry.Next = head;
    head = &entry;
    --FFreeTop;
    ++FCount;
}

PVekHashEntry* TVekBaseHash::Find(const void* Key, Integer KeyLen)
{
    if (FBuckets.empty())
        return nullptr;
    const Byte* key = static_cast<const Byte*>(Key);
    PVekHashEntry* link = &FBuckets[HashOf(Key, KeyLen) % FBuckets.size()];
    while (*link && !KeyMatches(*link, key, KeyLen))
        link = &(*link)->Next;
    return link;
}

Integer TVekBaseHash::ValueOf(const void* Key, Integer KeyLen)
{
    PVekHashEntry* link = Find(Key, KeyLen);
    return link && *link ? (*link)->Value : -1;
}

void TVekBaseHash::Delete(const void* Key, Integer KeyLen, Integer Value)
{
    PVekHashEntry* link = Find(Key, KeyLen);
    if (!link || !*link)
        return;
    TVekHashEntry* entry = *link;
    *link = entry->Next;
    entry->Next = nullptr;
    ++FFreeTop;
    FFreeList[static_cast<std::size_t>(FFreeTop)] = entry->EntryIndex;
    --FCount;
}

void TVekBaseHash::GetPossibleMatchList(const void* Key, Integer KeyLen, TList* List)
{
    if (FBuckets.empty())
        return;
    const Byte* key = static_cast<const Byte*>(Key);
    for (TVekHashEntry* entry = FBuckets[HashOf(Key, KeyLen) % FBuckets.size()]; entry; entry = entry->Next) {
        if (KeyMatches(entry, key, KeyLen))
            List->Add(reinterpret_cast<void*>(static_cast<std::uintptr_t>(static_cast<Cardinal>(entry->Value))));
    }
}

void TVekBaseHash::Clear()
{
    FPool.clear();
    FPool.shrink_to_fit();
    FKeyStore.clear();
    FKeyStore.shrink_to_fit();
    FBuckets.clear();
    FBuckets.shrink_to_fit();
    FFreeList.clear();
    FFreeList.shrink_to_fit();
    FMaxItems = 0;
    FKeySize = 0;
    FFreeTop = -1;
    FCount = 0;
}

// -------------------------------------------------------- THashCollectionItem

THashCollectionItem::THashCollectionItem(TCollection* Collection) : TCollectionItem(Collection) {}

void THashCollectionItem::SetHashKey(const void* P)
{
    std::memcpy(HashKey, P, HashKeySize);
}

void THashCollectionItem::SetHashFromInts(Integer A, Integer B)
{
    const Cardinal a = static_cast<Cardinal>(A);
    const Cardinal b = static_cast<Cardinal>(B);
    for (int i = 0; i < 4; ++i) {
        HashKey[i] = static_cast<Byte>(a >> (8 * i));
        HashKey[4 + i] = static_cast<Byte>(b >> (8 * i));
    }
    IsHashed = true;
}

// ------------------------------------------------------------ THashCollection

namespace {
constexpr Integer InitialHashSize = 1000;
}

THashCollection::THashCollection(TCollectionItemClass ItemClass)
    : TCollection(std::move(ItemClass)),
      FHash(std::make_unique<TVekBaseHash>(InitialHashSize, InitialHashSize, THashCollectionItem::HashKeySize))
{
}

THashCollection::~THashCollection() = default;

THashCollectionItem* THashCollection::HashItems(int Index) const
{
    return dynamic_cast<THashCollectionItem*>(Items(Index));
}

void THashCollection::AddHashKey(const void* Key, Integer ID)
{
    if (FHash->CheckHashFull())
        ResetHash();
    FHash->Add(Key, THashCollectionItem::HashKeySize, ID);
}

THashCollectionItem* THashCollection::FindHashKey(const void* Key) const
{
    Integer id = FHash->ValueOf(Key, THashCollectionItem::HashKeySize);
    if (id < 0)
        return nullptr;
    return dynamic_cast<THashCollectionItem*>(FindItemID(id));
}

void THashCollection::DeleteHashKey(THashCollectionItem* Item)
{
    FHash->Delete(Item->HashKey, THashCollectionItem::HashKeySize, Item->ID());
    Item->IsHashed = false;
}

void THashCollection::DeleteHashedItem(int Index)
{
    THashCollectionItem* item = HashItems(Index);
    if (item)
        FHash->Delete(item->HashKey, THashCollectionItem::HashKeySize, item->ID());
    Delete(Index);
}

void THashCollection::ResetHash()
{
    const Integer count = Count();
    const Integer size = count >= 500 ? 2 * count : InitialHashSize;
    // The new table is made before the old one goes, so a failure keeps it.
    FHash = std::make_unique<TVekBaseHash>(size, size, THashCollectionItem::HashKeySize);
    for (int i = 0; i < count; ++i) {
        if (THashCollectionItem* item = HashItems(i))
            FHash->Add(item->HashKey, THashCollectionItem::HashKeySize, item->ID());
    }
}

void THashCollection::Clear()
{
    TCollection::Clear();
    ResetHash();
}

} // namespace orvex
