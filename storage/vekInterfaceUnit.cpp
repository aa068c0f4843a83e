// TBaseIOInterface: the operations every block store offers, with the
// answers of an interface that provides none of them.

#include "storage/vekInterfaceUnit.h"

namespace orvex {

namespace {

constexpr Integer ErrInvalidProcedure = 10065; // "Invalid procedure name"

} // namespace

void TBaseIOInterface::Unsupported(const char* Operation) const
{
    VekDatabaseError(ErrInvalidProcedure, std::string("TBaseIOInterface.") + Operation, "",
                     const_cast<TBaseIOInterface*>(this));
}

void TBaseIOInterface::Open()
{
    FOwner = static_cast<Word>(FTableID * 16 + FUsage);
}

void TBaseIOInterface::Close() {}

void TBaseIOInterface::Empty(bool)
{
    Unsupported("Empty");
}

Cardinal TBaseIOInterface::AllocateNewAddress(Integer, const void*)
{
    Unsupported("AllocateNewAddress");
}

void TBaseIOInterface::ReleaseBlock(Cardinal, Integer)
{
    Unsupported("ReleaseBlock");
}

void TBaseIOInterface::WriteBlock(Cardinal, Integer, const void*)
{
    Unsupported("WriteBlock");
}

void TBaseIOInterface::WriteBlockByRef(Cardinal, Integer, const void*)
{
    Unsupported("WriteBlockByRef");
}

void TBaseIOInterface::ReadBlock(Cardinal, Integer, void*)
{
    Unsupported("ReadBlock");
}

void TBaseIOInterface::ReadBlocks(const Cardinal* Addresses, std::size_t Count, Integer Size, void* Buffer,
                                  const std::function<void(std::size_t)>& Visit)
{
    for (std::size_t I = 0; I < Count; ++I) {
        ReadBlock(Addresses[I], Size, Buffer);
        Visit(I);
    }
}

void TBaseIOInterface::ReadBlockByRef(Cardinal, Integer, void*&)
{
    Unsupported("ReadBlockByRef");
}

void TBaseIOInterface::WriteBlockHeader(Cardinal, Integer, const void*)
{
    Unsupported("WriteBlockHeader");
}

void TBaseIOInterface::ReadBlockHeader(Cardinal, Integer, void*)
{
    Unsupported("ReadBlockHeader");
}

void TBaseIOInterface::ShowBlocks(TStrings*) {}

void TBaseIOInterface::ListBlocks(std::vector<Cardinal>&) {}

bool TBaseIOInterface::CheckPageValid(Cardinal) const
{
    return false;
}

void TBaseIOInterface::ShowStatus(TStrings*) {}

Cardinal TBaseIOInterface::GetNextMemoryBlockAddress(Cardinal) const
{
    return 0;
}

bool TBaseIOInterface::CheckBlockAddressValid(Cardinal) const
{
    return false;
}

void TBaseIOInterface::NotifyPageChange(Integer) {}

Cardinal TBaseIOInterface::ChainLimit()
{
    return 0xFFFFFFFFu;
}

} // namespace orvex
