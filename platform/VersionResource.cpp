#include "platform/VersionResource.h"

#include "platform/FileIO.h"

namespace orvex {

namespace {

constexpr std::uint32_t RT_VERSION = 16;
constexpr std::uint32_t VS_VERSION_INFO = 1;
constexpr std::uint64_t MaxResourceSection = 64u << 20;
constexpr std::uint32_t MaxVersionBlock = 1u << 20;
constexpr int MaxDepth = 16;

std::uint32_t U16(const std::string& b, std::size_t at)
{
    return static_cast<unsigned char>(b[at]) | (static_cast<unsigned char>(b[at + 1]) << 8);
}

std::uint32_t U32(const std::string& b, std::size_t at)
{
    return U16(b, at) | (U16(b, at + 2) << 16);
}

std::size_t Align4(std::size_t n)
{
    return (n + 3) & ~static_cast<std::size_t>(3);
}

char16_t FoldAscii(char16_t c)
{
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

bool SameKey(const std::u16string& key, const std::string& name)
{
    if (key.size() != name.size())
        return false;
    for (std::size_t i = 0; i < key.size(); ++i)
        if (FoldAscii(key[i]) != FoldAscii(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

// Reads count bytes at offset; false on a short read.
bool ReadExact(TPlatformFile& file, std::uint64_t offset, std::uint64_t count, std::string& out)
{
    out.assign(static_cast<std::size_t>(count), '\0');
    return file.ReadAt(static_cast<std::int64_t>(offset), out.data(),
                       static_cast<std::int64_t>(count)) == static_cast<std::int64_t>(count);
}

struct TSection {
    std::uint32_t VirtualSize, VirtualAddress, RawSize, RawOffset;
};

bool RvaToOffset(const std::vector<TSection>& sections, std::uint32_t rva, std::uint64_t& offset)
{
    for (const TSection& s : sections) {
        const std::uint32_t extent = s.VirtualSize > s.RawSize ? s.VirtualSize : s.RawSize;
        if (rva >= s.VirtualAddress && rva - s.VirtualAddress < extent) {
            if (rva - s.VirtualAddress >= s.RawSize)
                return false; // in memory only, not in the file
            offset = static_cast<std::uint64_t>(s.RawOffset) + (rva - s.VirtualAddress);
            return true;
        }
    }
    return false;
}

// The entries of the resource directory at dir inside res: (name or id, offset).
bool DirectoryEntries(const std::string& res, std::uint32_t dir,
                      std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries)
{
    entries.clear();
    if (dir > res.size() || res.size() - dir < 16)
        return false;
    const std::uint32_t count = U16(res, dir + 12) + U16(res, dir + 14);
    if ((res.size() - dir - 16) / 8 < count)
        return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t at = dir + 16 + 8 * i;
        entries.emplace_back(U32(res, at), U32(res, at + 4));
    }
    return true;
}

} // namespace

void TFileVersionInfo::Clear()
{
    FBlock.clear();
    FNodes.clear();
}

bool TFileVersionInfo::LoadFromFile(const std::string& nativePath)
{
    Clear();
    auto file = TPlatformFile::Open(nativePath, TFileAccess::Read, TFileShare::DenyNone,
                                    TFileCreate::OpenExisting);
    if (!file)
        return false;
    const std::int64_t fileSize = file->Size();
    std::string head;
    if (fileSize < 64 || !ReadExact(*file, 0, 64, head) || head[0] != 'M' || head[1] != 'Z')
        return false;
    const std::uint32_t peAt = U32(head, 0x3C);
    std::string pe;
    if (!ReadExact(*file, peAt, 24, pe) || pe.compare(0, 4, std::string("PE\0\0", 4)) != 0)
        return false;
    const std::uint32_t sectionCount = U16(pe, 6);
    const std::uint32_t optionalSize = U16(pe, 20);
    std::string opt;
    if (optionalSize < 2 || !ReadExact(*file, peAt + 24, optionalSize, opt))
        return false;
    std::size_t dirCountAt = 0;
    switch (U16(opt, 0)) {
    case 0x10B: dirCountAt = 92; break;  // PE32
    case 0x20B: dirCountAt = 108; break; // PE32+
    default: return false;
    }
    const std::size_t dirsAt = dirCountAt + 4;
    if (opt.size() < dirsAt + 3 * 8 || U32(opt, dirCountAt) < 3)
        return false;
    const std::uint32_t resRva = U32(opt, dirsAt + 16);
    const std::uint32_t resSize = U32(opt, dirsAt + 20);
    if (resRva == 0 || resSize == 0 || resSize > MaxResourceSection)
        return false;

    std::string table;
    if (!ReadExact(*file, static_cast<std::uint64_t>(peAt) + 24 + optionalSize, 40ull * sectionCount, table))
        return false;
    std::vector<TSection> sections;
    for (std::uint32_t i = 0; i < sectionCount; ++i)
        sections.push_back({U32(table, 40 * i + 8), U32(table, 40 * i + 12), U32(table, 40 * i + 16),
                            U32(table, 40 * i + 20)});
    std::uint64_t resOffset = 0;
    std::string res;
    if (!RvaToOffset(sections, resRva, resOffset) || !ReadExact(*file, resOffset, resSize, res))
        return false;

    // Type RT_VERSION, then the name VS_VERSION_INFO (else the first), then
    // the first language.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;
    std::uint32_t dir = 0;
    bool found = false;
    if (!DirectoryEntries(res, 0, entries))
        return false;
    for (const auto& [name, offset] : entries)
        if (name == RT_VERSION && (offset & 0x80000000u)) {
            dir = offset & 0x7FFFFFFFu;
            found = true;
            break;
        }
    if (!found || !DirectoryEntries(res, dir, entries) || entries.empty())
        return false;
    std::uint32_t chosen = entries.front().second;
    for (const auto& [name, offset] : entries)
        if (name == VS_VERSION_INFO) {
            chosen = offset;
            break;
        }
    if (!(chosen & 0x80000000u) || !DirectoryEntries(res, chosen & 0x7FFFFFFFu, entries))
        return false;
    std::uint32_t dataEntry = 0;
    found = false;
    for (const auto& entry : entries)
        if (!(entry.second & 0x80000000u)) {
            dataEntry = entry.second;
            found = true;
            break;
        }
    if (!found || dataEntry > res.size() || res.size() - dataEntry < 16)
        return false;
    const std::uint32_t dataRva = U32(res, dataEntry);
    const std::uint32_t dataSize = U32(res, dataEntry + 4);
    std::uint64_t dataOffset = 0;
    std::string block;
    if (dataSize == 0 || dataSize > MaxVersionBlock || !RvaToOffset(sections, dataRva, dataOffset) ||
        !ReadExact(*file, dataOffset, dataSize, block))
        return false;
    return LoadFromBlock(block);
}

bool TFileVersionInfo::LoadFromBlock(const std::string& block)
{
    Clear();
    FBlock = block;
    if (FBlock.size() < 6 || !ParseNode(0, FBlock.size(), -1, 0)) {
        Clear();
        return false;
    }
    return true;
}

bool TFileVersionInfo::ParseNode(std::size_t offset, std::size_t limit, int parent, int depth)
{
    if (depth > MaxDepth || limit - offset < 6)
        return false;
    const std::size_t length = U16(FBlock, offset);
    const std::size_t valueLength = U16(FBlock, offset + 2);
    const bool text = U16(FBlock, offset + 4) == 1;
    if (length < 6 || length > limit - offset)
        return false;
    const std::size_t end = offset + length;
    TNode node;
    node.Parent = parent;
    node.Text = text;
    std::size_t at = offset + 6;
    for (;; at += 2) {
        if (end - at < 2)
            return false;
        const char16_t c = static_cast<char16_t>(U16(FBlock, at));
        if (c == 0)
            break;
        node.Key += c;
    }
    at = Align4(at + 2);
    const std::size_t rawValue = text ? 2 * valueLength : valueLength;
    node.ValueOffset = at < end ? at : end;
    if (text) {
        // The text runs to its terminating zero (some writers count its
        // length in bytes rather than in characters).
        std::size_t stop = node.ValueOffset;
        const std::size_t bound = node.ValueOffset + rawValue < end ? node.ValueOffset + rawValue : end;
        while (bound - stop >= 2 && U16(FBlock, stop) != 0)
            stop += 2;
        node.ValueSize = stop - node.ValueOffset;
    } else {
        node.ValueSize = rawValue <= end - node.ValueOffset ? rawValue : end - node.ValueOffset;
    }
    const int index = static_cast<int>(FNodes.size());
    FNodes.push_back(node);
    for (std::size_t child = Align4(node.ValueOffset + rawValue); child < end && end - child >= 6;) {
        const std::size_t childLength = U16(FBlock, child);
        if (childLength == 0 || !ParseNode(child, end, index, depth + 1))
            break;
        child = Align4(child + childLength);
    }
    return true;
}

bool TFileVersionInfo::QueryValue(const std::string& subBlock, std::string& value, bool* isText) const
{
    if (FNodes.empty())
        return false;
    int current = 0;
    std::string part;
    auto descend = [&]() -> bool {
        if (part.empty())
            return true;
        for (std::size_t i = current + 1; i < FNodes.size(); ++i)
            if (FNodes[i].Parent == current && SameKey(FNodes[i].Key, part)) {
                current = static_cast<int>(i);
                part.clear();
                return true;
            }
        return false;
    };
    for (char c : subBlock) {
        if (c == '\\') {
            if (!descend())
                return false;
        } else {
            part += c;
        }
    }
    if (!descend())
        return false;
    const TNode& node = FNodes[current];
    value.assign(FBlock, node.ValueOffset, node.ValueSize);
    if (isText)
        *isText = node.Text;
    return true;
}

bool TFileVersionInfo::QueryFixed(TVSFixedFileInfo& info) const
{
    std::string v;
    if (!QueryValue("\\", v) || v.size() < 52 || U32(v, 0) != VS_FFI_SIGNATURE)
        return false;
    std::uint32_t* fields[] = {&info.Signature,     &info.StrucVersion,     &info.FileVersionMS,
                               &info.FileVersionLS, &info.ProductVersionMS, &info.ProductVersionLS,
                               &info.FileFlagsMask, &info.FileFlags,        &info.FileOS,
                               &info.FileType,      &info.FileSubtype,      &info.FileDateMS,
                               &info.FileDateLS};
    for (std::size_t i = 0; i < 13; ++i)
        *fields[i] = U32(v, 4 * i);
    return true;
}

bool TFileVersionInfo::QueryString(const std::string& subBlock, std::u16string& text) const
{
    std::string v;
    if (!QueryValue(subBlock, v))
        return false;
    text.clear();
    for (std::size_t i = 0; i + 1 < v.size(); i += 2)
        text += static_cast<char16_t>(U16(v, i));
    return true;
}

std::vector<std::pair<std::uint16_t, std::uint16_t>> TFileVersionInfo::Translations() const
{
    std::vector<std::pair<std::uint16_t, std::uint16_t>> result;
    std::string v;
    if (QueryValue("\\VarFileInfo\\Translation", v))
        for (std::size_t i = 0; i + 3 < v.size(); i += 4)
            result.emplace_back(static_cast<std::uint16_t>(U16(v, i)),
                                static_cast<std::uint16_t>(U16(v, i + 2)));
    return result;
}

} // namespace orvex
