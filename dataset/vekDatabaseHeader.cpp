// The database header record: field access over its 254 bytes and its
// checksum; the version numbers of a version text.

#include "dataset/vekDatabase.h"

#include "platform/CodePage.h"
#include "storage/vekByteOrder.h"
#include "storage/vekCrypt.h"

#include <algorithm>
#include <charconv>

namespace orvex {

namespace {

// A zero-terminated field of 16-bit characters: the characters up to the
// first zero (or the field's end).
std::string ReadText(const std::array<Byte, TVekDBDef::Size>& Bytes, Integer Offset, Integer Chars)
{
    std::u16string text;
    for (Integer i = 0; i < Chars; ++i) {
        const Word c = ReadLE16(&Bytes[static_cast<std::size_t>(Offset + i * 2)]);
        if (c == 0)
            break;
        text.push_back(static_cast<char16_t>(c));
    }
    return Utf16ToWin1252(text);
}

// Writes at most Chars - 2 characters and zeroes the rest of the field.
void WriteText(std::array<Byte, TVekDBDef::Size>& Bytes, Integer Offset, Integer Chars,
               const std::string& Value)
{
    std::u16string text = Win1252ToUtf16(Value);
    if (text.size() > static_cast<std::size_t>(Chars - 2))
        text.resize(static_cast<std::size_t>(Chars - 2));
    for (Integer i = 0; i < Chars; ++i) {
        const Word c = i < static_cast<Integer>(text.size()) ? text[static_cast<std::size_t>(i)] : 0;
        WriteLE16(&Bytes[static_cast<std::size_t>(Offset + i * 2)], c);
    }
}

} // namespace

Word TVekDBDef::RecordVersion() const { return ReadLE16(&Bytes[OfsRecordVersion]); }
void TVekDBDef::SetRecordVersion(Word Value) { WriteLE16(&Bytes[OfsRecordVersion], Value); }
std::string TVekDBDef::DatabaseName() const { return ReadText(Bytes, OfsDatabaseName, NameChars); }
void TVekDBDef::SetDatabaseName(const std::string& Value) { WriteText(Bytes, OfsDatabaseName, NameChars, Value); }
std::string TVekDBDef::OSDetails() const { return ReadText(Bytes, OfsOSDetails, NameChars); }
void TVekDBDef::SetOSDetails(const std::string& Value) { WriteText(Bytes, OfsOSDetails, NameChars, Value); }
TDateTime TVekDBDef::DateCreated() const { return ReadLEDouble(&Bytes[OfsDateCreated]); }
void TVekDBDef::SetDateCreated(TDateTime Value) { WriteLEDouble(&Bytes[OfsDateCreated], Value); }
std::string TVekDBDef::DBOwner() const { return ReadText(Bytes, OfsDBOwner, NameChars); }
void TVekDBDef::SetDBOwner(const std::string& Value) { WriteText(Bytes, OfsDBOwner, NameChars, Value); }
Cardinal TVekDBDef::Reserved() const { return ReadLE32(&Bytes[OfsReserved]); }
void TVekDBDef::SetReserved(Cardinal Value) { WriteLE32(&Bytes[OfsReserved], Value); }
Integer TVekDBDef::SortOrder() const { return static_cast<Integer>(ReadLE32(&Bytes[OfsSortOrder])); }
void TVekDBDef::SetSortOrder(Integer Value) { WriteLE32(&Bytes[OfsSortOrder], static_cast<Cardinal>(Value)); }
std::string TVekDBDef::Version() const { return ReadText(Bytes, OfsVersion, VersionChars); }
void TVekDBDef::SetVersion(const std::string& Value) { WriteText(Bytes, OfsVersion, VersionChars, Value); }
Integer TVekDBDef::SecurityLevel() const { return static_cast<Integer>(ReadLE32(&Bytes[OfsSecurityLevel])); }
void TVekDBDef::SetSecurityLevel(Integer Value) { WriteLE32(&Bytes[OfsSecurityLevel], static_cast<Cardinal>(Value)); }
Cardinal TVekDBDef::CRC() const { return ReadLE32(&Bytes[OfsCRC]); }
void TVekDBDef::SetCRC(Cardinal Value) { WriteLE32(&Bytes[OfsCRC], Value); }

Cardinal TVekDBDef::ComputeCRC() const
{
    std::array<Byte, 256 + Size> buffer{};
    for (int i = 0; i < 256; ++i)
        buffer[static_cast<std::size_t>(i)] = static_cast<Byte>(i);
    std::copy(Bytes.begin(), Bytes.end(), buffer.begin() + 256);
    std::fill_n(buffer.begin() + 256 + OfsCRC, 4, Byte{0});
    return CalcCRC(buffer.data(), static_cast<Integer>(buffer.size()));
}

void GetVersionNumbersFromText(const std::string& Text, Integer& Major, Integer& Minor, Integer& Release)
{
    const auto number = [](const std::string& Piece) {
        Integer value = 0;
        const char* end = Piece.data() + Piece.size();
        const auto [ptr, ec] = std::from_chars(Piece.data(), end, value);
        return ec == std::errc() && ptr == end ? value : 0;
    };
    const std::size_t first = Text.find('.');
    const std::size_t second = first == std::string::npos ? std::string::npos : Text.find('.', first + 1);
    Major = number(Text.substr(0, first));
    Minor = first == std::string::npos ? 0 : number(Text.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1));
    Release = second == std::string::npos ? 0 : number(Text.substr(second + 1));
}

} // namespace orvex
