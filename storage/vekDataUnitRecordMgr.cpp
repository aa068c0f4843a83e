// The record manager: record images through the table's record interface.

#include "storage/vekDataUnit.h"

#include "host/SysUtils.h"
#include "storage/vekInterfaceUnit.h"

#include <cstring>

namespace orvex {

TRecordMgr::TRecordMgr() : FBlobMgr(new TBlobMgr), FInternalFields(new TInternalFields) {}

TRecordMgr::~TRecordMgr()
{
    delete FInternalFields;
    delete FBlobMgr;
}

void TRecordMgr::Open(TBaseIOInterface* IOInterface)
{
    if (FRecordSize <= 0)
        VekDatabaseError(8576, "TRecordMgr.Open", "", nullptr);
    // The field list first: a list it refuses leaves the manager closed.
    FInternalFields->Open();
    FInternalFields->SetRecordSize(FRecordSize);
    FInternalBuffer.assign(static_cast<std::size_t>(FRecordSize), 0);
    FIOInterface = IOInterface;
    // One blob state per blob field; a second Open starts the list afresh.
    FBlobMgr->Clear();
    for (int i = 0; i < FInternalFields->Count(); ++i) {
        const TInternalFieldItem* field = FInternalFields->GetIndex(i);
        if (!IsBlobFieldType(field->DataType()))
            continue;
        TBlob* blob = FBlobMgr->Add();
        blob->SetFieldNo(field->FieldIndex());
        blob->SetState(bsInvalid);
    }
}

void TRecordMgr::Close()
{
    FInternalFields->Close();
    FBlobMgr->Clear();
    FInternalBuffer.clear();
    FInternalBuffer.shrink_to_fit();
}

TBaseIOInterface* TRecordMgr::CheckedInterface(const char* Context) const
{
    if (FIOInterface == nullptr || FInternalBuffer.empty())
        VekDatabaseError(8576, Context, "", nullptr);
    return FIOInterface;
}

void TRecordMgr::StoreCopy(const Byte* Buffer)
{
    std::memcpy(FInternalBuffer.data(), Buffer, FInternalBuffer.size());
}

Cardinal TRecordMgr::AddRecord(Byte* Buffer)
{
    TBaseIOInterface* io = CheckedInterface("TRecordMgr.AddRecord");
    // The prefix byte no one uses is stored as 0, never as whatever the
    // caller's buffer held there.
    Buffer[rpoUnused] = 0;
    const Cardinal address = io->AllocateNewAddress(FRecordSize, Buffer);
    StoreCopy(Buffer);
    return address;
}

void TRecordMgr::ReadRecord(Cardinal Address, Byte* Buffer, bool KeepCopy)
{
    CheckedInterface("TRecordMgr.ReadRecord")->ReadBlock(Address, FRecordSize, Buffer);
    if (KeepCopy) {
        StoreCopy(Buffer);
        FBlobMgr->InvalidateStreams();
    }
}

void TRecordMgr::ReadRecords(const Cardinal* Addresses, std::size_t Count, Byte* Buffer,
                             const std::function<void(std::size_t)>& Visit)
{
    CheckedInterface("TRecordMgr.ReadRecords")->ReadBlocks(Addresses, Count, FRecordSize, Buffer, Visit);
}

void TRecordMgr::ReadRecordByRef(Cardinal Address, void*& P)
{
    CheckedInterface("TRecordMgr.ReadRecordByRef")->ReadBlockByRef(Address, FRecordSize, P);
}

void TRecordMgr::UpdateRecord(Cardinal Address, Byte* Buffer)
{
    TBaseIOInterface* io = CheckedInterface("TRecordMgr.UpdateRecord");
    Buffer[rpoUnused] = 0;
    io->WriteBlock(Address, FRecordSize, Buffer);
    StoreCopy(Buffer);
}

void TRecordMgr::DeleteRecord(Cardinal Address)
{
    CheckedInterface("TRecordMgr.DeleteRecord")->ReleaseBlock(Address, FRecordSize);
    FBlobMgr->InvalidateStreams();
}

void TRecordMgr::RestoreBufferFromInternalBuffer(Byte* Buffer) const
{
    if (!FInternalBuffer.empty())
        std::memcpy(Buffer, FInternalBuffer.data(), FInternalBuffer.size());
}

void TRecordMgr::SetRecordSize(Integer Value)
{
    ORVEX_ASSERT(FInternalBuffer.empty(), "Setting record size when buffers set");
    FRecordSize = Value;
}

} // namespace orvex
