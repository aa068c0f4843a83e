#pragma once
// Version resources of Windows programs and libraries, read by ourselves.
//
// A PE file (32-bit PE32 or 64-bit PE32+) may carry a VS_VERSIONINFO block
// among its resources: the fixed file information (version numbers, the
// target system, the file's type) and string tables ("CompanyName", ...) per
// language and code page, besides the list of translations. Any other file
// (an ELF program, a text file, a PE file without such a resource) has none.
//
// The block is a tree of nodes, each with a UTF-16 key, a value and children;
// QueryValue walks it by a path as VerQueryValue does: "\" gives the fixed
// information, "\VarFileInfo\Translation" the translations,
// "\StringFileInfo\040904E4\CompanyName" a string. Keys match without regard
// to case.

#include <cstdint>
#include <string>
#include <vector>

namespace orvex {

struct TVSFixedFileInfo {
    std::uint32_t Signature = 0; // 0xFEEF04BD
    std::uint32_t StrucVersion = 0;
    std::uint32_t FileVersionMS = 0;
    std::uint32_t FileVersionLS = 0;
    std::uint32_t ProductVersionMS = 0;
    std::uint32_t ProductVersionLS = 0;
    std::uint32_t FileFlagsMask = 0;
    std::uint32_t FileFlags = 0;
    std::uint32_t FileOS = 0;
    std::uint32_t FileType = 0;
    std::uint32_t FileSubtype = 0;
    std::uint32_t FileDateMS = 0;
    std::uint32_t FileDateLS = 0;
};
inline constexpr std::uint32_t VS_FFI_SIGNATURE = 0xFEEF04BDu;

class TFileVersionInfo {
public:
    // Reads the version resource of a native file; false (and an empty
    // object) when the file cannot be read or carries none.
    bool LoadFromFile(const std::string& nativePath);
    // Parses a VS_VERSIONINFO block as found in a file's resources.
    bool LoadFromBlock(const std::string& block);
    void Clear();

    bool Empty() const { return FNodes.empty(); }
    // The raw block as it stands in the file.
    const std::string& Block() const { return FBlock; }

    // The value bytes of the node at subBlock; text values come as UTF-16
    // little-endian bytes without the terminating zero. False when no node.
    bool QueryValue(const std::string& subBlock, std::string& value, bool* isText = nullptr) const;
    // "\": false when the block has no valid fixed information.
    bool QueryFixed(TVSFixedFileInfo& info) const;
    // A text value as UTF-16.
    bool QueryString(const std::string& subBlock, std::u16string& text) const;
    // "\VarFileInfo\Translation" as (language, code page) pairs.
    std::vector<std::pair<std::uint16_t, std::uint16_t>> Translations() const;

private:
    struct TNode {
        std::u16string Key;
        std::size_t ValueOffset = 0, ValueSize = 0;
        bool Text = false;
        int Parent = -1;
    };
    bool ParseNode(std::size_t offset, std::size_t limit, int parent, int depth);
    std::string FBlock;
    std::vector<TNode> FNodes; // node 0 is the root, children follow their parent
};

} // namespace orvex
