// TStream, TMemoryStream, TStringStream and TFileStream.

#include "host/Classes.h"
#include "platform/FileIO.h"

#include <algorithm>
#include <cstring>

namespace orvex {

namespace {

// Reads from bytes held in memory: up to count bytes from position on, never
// past size; advances position and returns the number of bytes moved.
std::int32_t ReadHeld(const void* data, std::int64_t size, std::int64_t& position, void* buffer,
                      std::int32_t count)
{
    if (position < 0 || count <= 0)
        return 0;
    const std::int64_t n = std::min<std::int64_t>(size - position, count);
    if (n <= 0)
        return 0;
    std::memcpy(buffer, static_cast<const std::uint8_t*>(data) + position, static_cast<std::size_t>(n));
    position += n;
    return static_cast<std::int32_t>(n);
}

} // namespace

// ------------------------------------------------------------------- TStream

void TStream::ReadBuffer(void* buffer, std::int32_t count)
{
    if (count != 0 && Read(buffer, count) != count)
        throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, std::int32_t count)
{
    if (count != 0 && Write(buffer, count) != count)
        throw EWriteError("Stream write error");
}

std::int64_t TStream::CopyFrom(TStream* source, std::int64_t count)
{
    if (count == 0) {
        source->SetPosition(0);
        count = source->Size();
    }
    constexpr std::int64_t MaxBufSize = 0xF000;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(count, MaxBufSize)));
    for (std::int64_t left = count; left > 0;) {
        const auto n = static_cast<std::int32_t>(std::min(left, MaxBufSize));
        source->ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        left -= n;
    }
    return count;
}

std::int64_t TStream::Position()
{
    return Seek(0, soCurrent);
}

void TStream::SetPosition(std::int64_t pos)
{
    Seek(pos, soBeginning);
}

std::int64_t TStream::Size()
{
    const std::int64_t pos = Seek(0, soCurrent);
    const std::int64_t size = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return size;
}

void TStream::SetSize(std::int64_t) {}

// ------------------------------------------------------------- TMemoryStream

TMemoryStream::~TMemoryStream() = default;

std::int32_t TMemoryStream::Read(void* buffer, std::int32_t count)
{
    return ReadHeld(FData.data(), FSize, FPosition, buffer, count);
}

std::int32_t TMemoryStream::Write(const void* buffer, std::int32_t count)
{
    if (FPosition < 0 || count <= 0)
        return 0;
    const std::int64_t end = FPosition + count;
    if (end > FSize) {
        if (end > static_cast<std::int64_t>(FData.size()))
            FData.resize(static_cast<std::size_t>(end)); // a gap before FPosition reads as zeros
        FSize = end;
    }
    std::memcpy(FData.data() + FPosition, buffer, static_cast<std::size_t>(count));
    FPosition = end;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    switch (origin) {
    case soBeginning: FPosition = offset; break;
    case soCurrent: FPosition += offset; break;
    case soEnd: FPosition = FSize + offset; break;
    }
    return FPosition;
}

void TMemoryStream::SetSize(std::int64_t newSize)
{
    if (newSize < 0)
        newSize = 0;
    const std::int64_t oldPosition = FPosition;
    // Bytes that come into the stream by growing it read as zeros.
    FData.resize(static_cast<std::size_t>(newSize));
    FSize = newSize;
    if (oldPosition > newSize)
        Seek(0, soEnd);
}

void TMemoryStream::Clear()
{
    std::vector<std::uint8_t>().swap(FData);
    FSize = 0;
    FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream* stream)
{
    stream->SetPosition(0);
    const std::int64_t count = stream->Size();
    SetSize(count);
    if (count != 0)
        stream->ReadBuffer(FData.data(), static_cast<std::int32_t>(count));
}

void TMemoryStream::LoadFromFile(const std::string& fileName)
{
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(&stream);
}

void TMemoryStream::SaveToStream(TStream* stream)
{
    if (FSize != 0)
        stream->WriteBuffer(FData.data(), static_cast<std::int32_t>(FSize));
}

void TMemoryStream::SaveToFile(const std::string& fileName)
{
    TFileStream stream(fileName, fmCreate);
    SaveToStream(&stream);
}

// ------------------------------------------------------------- TStringStream

TStringStream::TStringStream(std::string data) : FData(std::move(data)) {}

std::int32_t TStringStream::Read(void* buffer, std::int32_t count)
{
    return ReadHeld(FData.data(), static_cast<std::int64_t>(FData.size()), FPosition, buffer, count);
}

std::int32_t TStringStream::Write(const void* buffer, std::int32_t count)
{
    if (count < 0)
        return 0;
    FData.resize(static_cast<std::size_t>(FPosition + count));
    if (count > 0)
        std::memcpy(FData.data() + FPosition, buffer, static_cast<std::size_t>(count));
    FPosition += count;
    return count;
}

std::int64_t TStringStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    const auto size = static_cast<std::int64_t>(FData.size());
    switch (origin) {
    case soBeginning: FPosition = offset; break;
    case soCurrent: FPosition += offset; break;
    case soEnd: FPosition = size + offset; break;
    }
    FPosition = std::clamp<std::int64_t>(FPosition, 0, size);
    return FPosition;
}

void TStringStream::SetSize(std::int64_t newSize)
{
    FData.resize(static_cast<std::size_t>(std::max<std::int64_t>(newSize, 0)));
    FPosition = std::min<std::int64_t>(FPosition, static_cast<std::int64_t>(FData.size()));
}

std::string TStringStream::ReadString(std::int32_t count)
{
    const std::int64_t left = static_cast<std::int64_t>(FData.size()) - FPosition;
    std::string result(static_cast<std::size_t>(std::clamp<std::int64_t>(count, 0, std::max<std::int64_t>(left, 0))), '\0');
    result.resize(static_cast<std::size_t>(Read(result.data(), static_cast<std::int32_t>(result.size()))));
    return result;
}

void TStringStream::WriteString(const std::string& s)
{
    Write(s.data(), static_cast<std::int32_t>(s.size()));
}

// --------------------------------------------------------------- TFileStream

namespace {

// The open mode's access and share parts; false for a mode outside the table.
bool MapOpenMode(unsigned mode, TFileAccess& access, TFileShare& share)
{
    switch (mode & 0x000F) {
    case fmOpenRead: access = TFileAccess::Read; break;
    case fmOpenWrite: access = TFileAccess::Write; break;
    case fmOpenReadWrite: access = TFileAccess::ReadWrite; break;
    default: return false;
    }
    switch (mode & 0x00F0) {
    case fmShareCompat: // the compatibility mode shares nothing
    case fmShareExclusive: share = TFileShare::Exclusive; break;
    case fmShareDenyWrite: share = TFileShare::DenyWrite; break;
    case fmShareDenyRead: share = TFileShare::DenyRead; break;
    case fmShareDenyNone: share = TFileShare::DenyNone; break;
    default: return false;
    }
    return (mode & ~0x00FFu) == 0;
}

} // namespace

TFileStream::TFileStream(const std::string& fileName, unsigned mode) : FFileName(fileName)
{
    if (mode == fmCreate) {
        // A created file is open for reading and writing, shared with nobody.
        FFile = TPlatformFile::Open(fileName, TFileAccess::ReadWrite, TFileShare::Exclusive,
                                    TFileCreate::CreateAlways);
        if (!FFile)
            throw EFCreateError(Format("Cannot create file %s", {fileName}));
        return;
    }
    TFileAccess access;
    TFileShare share;
    if (MapOpenMode(mode, access, share))
        FFile = TPlatformFile::Open(fileName, access, share, TFileCreate::OpenExisting);
    if (!FFile)
        throw EFOpenError(Format("Cannot open file %s", {fileName}));
}

TFileStream::~TFileStream() = default;

std::int32_t TFileStream::Read(void* buffer, std::int32_t count)
{
    if (count <= 0)
        return 0;
    const std::int64_t n = FFile->ReadAt(FPosition, buffer, count);
    if (n <= 0)
        return 0;
    FPosition += n;
    return static_cast<std::int32_t>(n);
}

std::int32_t TFileStream::Write(const void* buffer, std::int32_t count)
{
    if (count <= 0)
        return 0;
    const std::int64_t n = FFile->WriteAt(FPosition, buffer, count);
    if (n <= 0)
        return 0;
    FPosition += n;
    return static_cast<std::int32_t>(n);
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    std::int64_t target = offset;
    if (origin == soCurrent) {
        target += FPosition;
    } else if (origin == soEnd) {
        const std::int64_t size = FFile->Size();
        if (size < 0)
            return -1;
        target += size;
    }
    // As the system's file pointer: a position before the start is refused
    // and leaves the position where it was.
    if (target < 0)
        return -1;
    FPosition = target;
    return FPosition;
}

void TFileStream::SetSize(std::int64_t newSize)
{
    SetPosition(newSize);
    if (newSize < 0 || !FFile->Truncate(newSize))
        throw EWriteError("Stream write error");
}

} // namespace orvex
