// The temporary sort and its manager; the spill file.

#include "storage/vekIndexUnitSort.h"

#include "platform/FileIO.h"
#include "platform/Process.h"
#include "storage/vekByteOrder.h"
#include "storage/vekConsts.h"
#include "storage/vekDiskErrors.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace orvex {

// =========================================================== TTemporarySort

TTemporarySort::TTemporarySort(TCollection* Collection) : TCollectionItem(Collection) {}

TTemporarySort::~TTemporarySort()
{
    Close();
}

void TTemporarySort::Assign(TPersistent* Source)
{
    auto* src = dynamic_cast<TTemporarySort*>(Source);
    if (src == nullptr) {
        TCollectionItem::Assign(Source);
        return;
    }
    KeyFields()->Assign(src->KeyFields());
    SetDBStringCompare(src->DBStringCompare());
}

void TTemporarySort::Open(Integer Capacity)
{
    if (DBStringCompare() == nullptr)
        VekDatabaseError(8581, "TTemporarySort.Open", "Sort function not assinged", nullptr);
    Close();
    TKeyFields* keyFields = KeyFields();
    // One null-flag bit per key field; key fields filled without a
    // DataOffset get the size every index has.
    if (keyFields->DataOffset() * 8 < keyFields->Count())
        keyFields->SetDataOffset(keyFields->Count() / 8 + 1);
    // The null-flag bytes lie inside the key: a slot without them would be
    // too short for a key whose fields all hold their largest values.
    FKeySize = CalculateMaximumKeySize(keyFields) + keyFields->DataOffset();
    FKeys.SetMaximumKeySize(FKeySize);
    FCapacity = std::max<Integer>(Capacity, 0);
    FKeyArray.assign(static_cast<std::size_t>(FCapacity) * static_cast<std::size_t>(FKeySize), 0);
    FWorkKey.assign(static_cast<std::size_t>(FKeySize), 0);
    FPivotKey.assign(static_cast<std::size_t>(FKeySize), 0);
}

void TTemporarySort::Close()
{
    FKeyArray = {};
    FWorkKey = {};
    FPivotKey = {};
    FCapacity = 0;
    FCount = 0;
    FSorted = false;
}

void TTemporarySort::Grow()
{
    // trunc(Capacity * 1.25) leaves capacities 0 to 3 where they are: those
    // grow by one key at a time.
    const Integer grown = static_cast<Integer>(static_cast<double>(FCapacity) * 1.25);
    FCapacity = std::max(grown, FCapacity + 1);
    FKeyArray.resize(static_cast<std::size_t>(FCapacity) * static_cast<std::size_t>(FKeySize), 0);
}

void TTemporarySort::AppendKey(Cardinal RecordAddress, const Byte* RecBuf)
{
    ORVEX_ASSERT(!FWorkKey.empty(), "TTemporarySort is not open");
    FKeys.ConstructTempKeyBufFromRecBuf(FWorkKey.data(), RecBuf, {});
    WriteLE32(FWorkKey.data() + kioAddress, RecordAddress);
    if (FCount >= FCapacity)
        Grow();
    std::memcpy(Slot(FCount), FWorkKey.data(), static_cast<std::size_t>(FKeySize));
    ++FCount;
    FSorted = false;
}

Integer TTemporarySort::CompareKeys(const Byte* Key1, const Byte* Key2) const
{
    if (ReadLE16(Key1 + kioLength) > FKeySize || ReadLE16(Key2 + kioLength) > FKeySize)
        VekDatabaseError(8581, "TTemporarySort.CompareKeys", "KeySize out of range", nullptr);
    return FKeys.CompareKeys(0, {}, {}, Key1, Key2);
}

void TTemporarySort::Exchange(Integer A, Integer B)
{
    const auto size = static_cast<std::size_t>(FKeySize);
    std::memcpy(FWorkKey.data(), Slot(A), size);
    std::memcpy(Slot(A), Slot(B), size);
    std::memcpy(Slot(B), FWorkKey.data(), size);
}

void TTemporarySort::QuickSort(Integer Low, Integer High)
{
    // Each pass partitions around the middle key, sorts the smaller part by
    // recursion and goes on with the larger one, so the depth stays
    // logarithmic whatever the order of the keys.
    while (Low < High) {
        std::memcpy(FPivotKey.data(), Slot(Low + (High - Low) / 2), static_cast<std::size_t>(FKeySize));
        Integer i = Low;
        Integer j = High;
        while (i <= j) {
            while (CompareKeys(Slot(i), FPivotKey.data()) < 0)
                ++i;
            while (CompareKeys(Slot(j), FPivotKey.data()) > 0)
                --j;
            if (i <= j) {
                if (i != j)
                    Exchange(i, j);
                ++i;
                --j;
            }
        }
        if (j - Low < High - i) {
            QuickSort(Low, j);
            Low = i;
        } else {
            QuickSort(i, High);
            High = j;
        }
    }
}

void TTemporarySort::Sort()
{
    if (FCount > 1)
        QuickSort(0, FCount - 1);
    FSorted = true;
}

Integer TTemporarySort::LowerBound(const Byte* Key)
{
    if (!FSorted)
        Sort();
    Integer low = 0;
    Integer high = FCount;
    while (low < high) {
        const Integer middle = low + (high - low) / 2;
        if (CompareKeys(Slot(middle), Key) < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

Cardinal TTemporarySort::FindKey(const Byte* Key)
{
    const Integer found = LowerBound(Key);
    if (found >= FCount || CompareKeys(Slot(found), Key) != 0)
        return 0;
    return ReadLE32(Slot(found) + kioAddress);
}

Cardinal TTemporarySort::FindNearest(const Byte* Key)
{
    const Integer found = LowerBound(Key);
    return found < FCount ? ReadLE32(Slot(found) + kioAddress) : 0;
}

const Byte* TTemporarySort::Keys(Integer Index) const
{
    ORVEX_ASSERT(Index >= 0 && Index < FCount, "Temporary sort slot out of range");
    return FKeyArray.data() + static_cast<std::size_t>(Index) * FKeySize;
}

// ==================================================== TTemporarySortManager

TTemporarySortManager::TTemporarySortManager() : TCollection(ItemClassOf<TTemporarySort>()) {}

void TTemporarySortManager::Close()
{
    for (int i = 0; i < Count(); ++i)
        GetItems(i)->Close();
}

// =============================================================== TSpillFile

namespace {

// Serial numbers of this process's spill files, apart from those of its
// temporary databases.
std::atomic<unsigned> GSpillFileSerial{0};

constexpr const char* SpillContext = "TSpillFile";

} // namespace

TSpillFile::TSpillFile(const std::string& Folder, const std::string& Prefix, const std::string& Ext,
                       TObject* Sender)
    : FSender(Sender)
{
    const std::string stem = Folder + Prefix + std::to_string(CurrentProcessId()) + "-";
    for (int attempt = 0; !FFile; ++attempt) {
        const std::string path = stem + std::to_string(1000000000u + GSpillFileSerial.fetch_add(1)) + Ext;
        TFileError error = TFileError::None;
        FFile = TPlatformFile::Open(path, TFileAccess::ReadWrite, TFileShare::Exclusive, TFileCreate::CreateNew,
                                    &error);
        if (FFile)
            DeleteFile(path);
        else if (error != TFileError::AlreadyExists || attempt >= 1000)
            VekDatabaseError(diskerr::NotCreated, SpillContext, "Unable to create a temporary file", FSender);
    }
    FBuffer.reserve(ChunkBytes);
}

TSpillFile::~TSpillFile() = default;

void TSpillFile::Append(const void* Data, std::size_t Size)
{
    const auto* bytes = static_cast<const Byte*>(Data);
    while (Size > 0) {
        const std::size_t take = std::min(Size, ChunkBytes - FBuffer.size());
        FBuffer.insert(FBuffer.end(), bytes, bytes + take);
        bytes += take;
        Size -= take;
        if (FBuffer.size() >= ChunkBytes)
            Flush();
    }
}

void TSpillFile::Flush()
{
    if (FBuffer.empty())
        return;
    const auto bytes = static_cast<std::int64_t>(FBuffer.size());
    if (FFile->WriteAt(FWritten, FBuffer.data(), bytes) != bytes)
        VekDatabaseError(diskerr::DiskWrite, SpillContext, "Unable to complete file write operation", FSender);
    FWritten += bytes;
    FBuffer.clear();
}

void TSpillFile::Read(std::int64_t Offset, void* Data, std::size_t Size)
{
    ORVEX_ASSERT(Offset >= 0 && Offset + static_cast<std::int64_t>(Size) <= this->Size(), "spill file read");
    if (Offset + static_cast<std::int64_t>(Size) > FWritten)
        Flush();
    const auto bytes = static_cast<std::int64_t>(Size);
    if (FFile->ReadAt(Offset, Data, bytes) != bytes)
        VekDatabaseError(diskerr::DiskRead, SpillContext, "Unable to complete file read operation", FSender);
}

} // namespace orvex
