// The read-ahead buffer and its pools of record and key buffers.

#include "storage/vekDataUnit.h"

#include "host/SysUtils.h"

#include <cstring>

namespace orvex {

// ===================================================== TReadAheadBufferItem

TReadAheadBufferItem::TReadAheadBufferItem(TCollection* Collection) : TCollectionItem(Collection) {}

void TReadAheadBufferItem::Initialize(Byte* RecBuf, Byte* KeyBuf)
{
    ORVEX_ASSERT(RecBuf != nullptr, "RecBuf has not been initialized");
    ORVEX_ASSERT(KeyBuf != nullptr, "KeyBuf has not been initialized");
    FRecBuf = RecBuf;
    FKeyBuf = KeyBuf;
}

// ========================================================= TReadAheadBuffer

TReadAheadBuffer::TReadAheadBuffer(TCollectionItemClass ItemClass) : TCollection(std::move(ItemClass)) {}

TReadAheadBuffer::~TReadAheadBuffer()
{
    Close();
}

void TReadAheadBuffer::Open(Integer RecordBufferSize, Integer KeyBufferSize, Cardinal ValidPeriod)
{
    Close();
    FRecordBufferSize = RecordBufferSize;
    FKeyBufferSize = KeyBufferSize;
    FValidPeriod = ValidPeriod;
    FValidTimeStamp = 0;
    FLastRecordCount = 0;
    FRecordCountValid = false;
}

void TReadAheadBuffer::Close()
{
    Clear();
    FRecordPool.clear();
    FKeyPool.clear();
    FPoolInUse = 0;
}

TReadAheadBufferItem* TReadAheadBuffer::Add()
{
    ORVEX_ASSERT(FPoolInUse <= static_cast<int>(FRecordPool.size()), " RecBuf cursor is incorrect");
    ORVEX_ASSERT(FRecordPool.size() == FKeyPool.size(), "Buffer cursors out of sync");
    if (FPoolInUse == static_cast<int>(FRecordPool.size())) {
        FRecordPool.push_back(std::make_unique<Byte[]>(static_cast<std::size_t>(FRecordBufferSize)));
        FKeyPool.push_back(std::make_unique<Byte[]>(static_cast<std::size_t>(FKeyBufferSize)));
    }
    auto* item = static_cast<TReadAheadBufferItem*>(TCollection::Add());
    item->Initialize(FRecordPool[FPoolInUse].get(), FKeyPool[FPoolInUse].get());
    item->SetImageRead(false);
    ++FPoolInUse;
    return item;
}

void TReadAheadBuffer::Invalidate()
{
    Clear();
    FValidTimeStamp = 0;
    FPoolInUse = 0;
}

bool TReadAheadBuffer::IsValid(Cardinal Now)
{
    // Elapsed ticks in unsigned arithmetic stay right across a wrap of the
    // 32-bit tick counter, where comparing Now with ValidTimeStamp +
    // ValidPeriod would not.
    if (Now - FValidTimeStamp <= FValidPeriod && Count() > 0)
        return true;
    Invalidate();
    return false;
}

int TReadAheadBuffer::GetIndexOfBufferItem(Cardinal RecAddr) const
{
    for (int i = Count() - 1; i >= 0; --i)
        if (GetItems(i)->RecAddr() == RecAddr)
            return i;
    return -1;
}

TReadAheadBufferItem* TReadAheadBuffer::GetBufferItem(Cardinal RecAddr) const
{
    const int i = GetIndexOfBufferItem(RecAddr);
    return i < 0 ? nullptr : GetItems(i);
}

TReadAheadBufferItem* TReadAheadBuffer::GetNextBufferItem(Cardinal RecAddr) const
{
    const int i = GetIndexOfBufferItem(RecAddr);
    return i < 0 || i + 1 >= Count() ? nullptr : GetItems(i + 1);
}

TReadAheadBufferItem* TReadAheadBuffer::GetPriorBufferItem(Cardinal RecAddr) const
{
    const int i = GetIndexOfBufferItem(RecAddr);
    return i <= 0 ? nullptr : GetItems(i - 1);
}

TReadAheadBufferItem* TReadAheadBuffer::Last() const
{
    return Count() == 0 ? nullptr : GetItems(Count() - 1);
}

void TReadAheadBuffer::SetItems(int Index, TReadAheadBufferItem* Value)
{
    TReadAheadBufferItem* item = GetItems(Index);
    if (item == Value)
        return;
    const auto* source = dynamic_cast<const TReadAheadBuffer*>(Value->Collection());
    ORVEX_ASSERT(source != nullptr && source->FRecordBufferSize == FRecordBufferSize &&
                     source->FKeyBufferSize == FKeyBufferSize,
                 "Read ahead buffer sizes differ");
    std::memcpy(item->RecBuf(), Value->RecBuf(), static_cast<std::size_t>(FRecordBufferSize));
    std::memcpy(item->KeyBuf(), Value->KeyBuf(), static_cast<std::size_t>(FKeyBufferSize));
    item->SetRecNo(Value->RecNo());
    item->SetRecAddr(Value->RecAddr());
    item->SetImageRead(Value->ImageRead());
}

} // namespace orvex
