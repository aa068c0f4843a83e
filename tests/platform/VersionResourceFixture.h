#pragma once
// Builds small PE files (32-bit PE32 or 64-bit PE32+) with or without a
// version resource, the way a linker lays them out: a DOS header, the PE
// headers, a code section and a resource section whose file offset differs
// from its virtual address.

#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace orvex {

struct TPeFixture {
    enum TResources { NoResources, ResourcesWithoutVersion, WithVersion };

    TPeFixture() { Translations.emplace_back(0x0409, 1252); }

    bool Pe64 = false;
    TResources Resources = WithVersion;
    std::uint16_t FileVersion[4] = {1, 0, 0, 0};
    std::uint16_t ProductVersion[4] = {1, 0, 0, 0};
    std::uint32_t FileOS = 0x40004; // Windows NT with 32-bit Windows
    std::uint32_t FileType = 1;     // application
    std::uint32_t FileSubtype = 0;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> Translations;
    struct TTable {
        std::string Key; // language and code page, "040904E4"
        std::vector<std::pair<std::string, std::string>> Strings;
    };
    std::vector<TTable> Tables;

    std::string Build() const
    {
        std::string rsrc = ResourceSection(0x3000);
        std::string file(0x600, '\0');
        file[0] = 'M';
        file[1] = 'Z';
        Put32(file, 0x3C, 0x80);
        file.replace(0x80, 4, std::string("PE\0\0", 4));
        const std::size_t coff = 0x84;
        const std::uint32_t optSize = Pe64 ? 240 : 224;
        Put16(file, coff + 0, Pe64 ? 0x8664 : 0x14C);
        Put16(file, coff + 2, 2);
        Put16(file, coff + 16, optSize);
        Put16(file, coff + 18, 0x0102);
        const std::size_t opt = coff + 20;
        Put16(file, opt, Pe64 ? 0x20B : 0x10B);
        const std::size_t dirs = opt + (Pe64 ? 112 : 96);
        Put32(file, dirs - 4, 16);
        if (Resources != NoResources) {
            Put32(file, dirs + 16, 0x3000);
            Put32(file, dirs + 20, static_cast<std::uint32_t>(rsrc.size()));
        }
        const std::size_t sections = opt + optSize;
        Section(file, sections, ".text", 0x1000, 0x200, 0x400);
        Section(file, sections + 40, ".rsrc", 0x3000, static_cast<std::uint32_t>(rsrc.size()), 0x600);
        file.replace(0x400, 4, "\xC3\x90\x90\x90"); // a little code
        rsrc.resize((rsrc.size() + 0x1FF) & ~std::size_t(0x1FF), '\0');
        return file + rsrc;
    }

    void WriteTo(const std::string& nativePath) const
    {
        std::ofstream(nativePath, std::ios::binary) << Build();
    }

    // The VS_VERSIONINFO block alone.
    std::string VersionBlock() const
    {
        std::string fixed;
        const std::uint32_t values[13] = {
            0xFEEF04BDu, 0x00010000u,
            static_cast<std::uint32_t>(FileVersion[0]) << 16 | FileVersion[1],
            static_cast<std::uint32_t>(FileVersion[2]) << 16 | FileVersion[3],
            static_cast<std::uint32_t>(ProductVersion[0]) << 16 | ProductVersion[1],
            static_cast<std::uint32_t>(ProductVersion[2]) << 16 | ProductVersion[3],
            0x3F, 0, FileOS, FileType, FileSubtype, 0, 0};
        for (std::uint32_t v : values)
            Append32(fixed, v);
        std::string children;
        if (!Tables.empty()) {
            std::string tables;
            for (const TTable& t : Tables) {
                std::string strings;
                for (const auto& [key, value] : t.Strings)
                    strings += Pad(Node(key, Utf16z(value), true, static_cast<std::uint16_t>(value.size() + 1), ""));
                tables += Pad(Node(t.Key, "", true, 0, strings));
            }
            children += Pad(Node("StringFileInfo", "", true, 0, tables));
        }
        std::string translation;
        for (const auto& [lang, cp] : Translations) {
            Append16(translation, lang);
            Append16(translation, cp);
        }
        children += Pad(Node("VarFileInfo", "", true, 0,
                             Pad(Node("Translation", translation, false,
                                      static_cast<std::uint16_t>(translation.size()), ""))));
        return Node("VS_VERSION_INFO", fixed, false, 52, children);
    }

private:
    static void Put16(std::string& b, std::size_t at, std::uint32_t v)
    {
        b[at] = static_cast<char>(v & 0xFF);
        b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
    }
    static void Put32(std::string& b, std::size_t at, std::uint32_t v)
    {
        Put16(b, at, v & 0xFFFF);
        Put16(b, at + 2, v >> 16);
    }
    static void Append16(std::string& b, std::uint32_t v)
    {
        b += static_cast<char>(v & 0xFF);
        b += static_cast<char>((v >> 8) & 0xFF);
    }
    static void Append32(std::string& b, std::uint32_t v)
    {
        Append16(b, v & 0xFFFF);
        Append16(b, v >> 16);
    }
    static std::string Pad(std::string s)
    {
        s.resize((s.size() + 3) & ~std::size_t(3), '\0');
        return s;
    }
    // Windows-1252 text (ASCII and Latin-1 in the tests) as UTF-16 with its zero.
    static std::string Utf16z(const std::string& text)
    {
        std::string out;
        for (unsigned char c : text)
            Append16(out, c);
        Append16(out, 0);
        return out;
    }
    static std::string Node(const std::string& key, const std::string& value, bool text,
                            std::uint16_t valueLength, const std::string& children)
    {
        std::string node(6, '\0');
        node += Utf16z(key);
        node = Pad(node);
        node += value;
        if (!children.empty())
            node = Pad(node) + children;
        Put16(node, 0, static_cast<std::uint32_t>(node.size()));
        Put16(node, 2, valueLength);
        Put16(node, 4, text ? 1 : 0);
        return node;
    }
    static void Section(std::string& file, std::size_t at, const char* name, std::uint32_t va,
                        std::uint32_t size, std::uint32_t raw)
    {
        file.replace(at, std::string(name).size(), name);
        Put32(file, at + 8, size);
        Put32(file, at + 12, va);
        Put32(file, at + 16, (size + 0x1FF) & ~0x1FFu);
        Put32(file, at + 20, raw);
    }
    // The resource tree: the version type (16) -> name 1 -> language -> the
    // data, and a manifest type (24) with an empty directory.
    std::string ResourceSection(std::uint32_t rva) const
    {
        std::string r(0x90, '\0');
        auto dir = [&](std::size_t at, std::uint16_t ids) { Put16(r, at + 14, ids); };
        const bool version = Resources == WithVersion;
        dir(0x00, version ? 2 : 1);
        Put32(r, version ? 0x18 : 0x10, 24); // ids in ascending order
        Put32(r, version ? 0x1C : 0x14, 0x80000000u | 0x80);
        if (version) {
            Put32(r, 0x10, 16);
            Put32(r, 0x14, 0x80000000u | 0x20);
            dir(0x20, 1);
            Put32(r, 0x30, 1);
            Put32(r, 0x34, 0x80000000u | 0x38);
            dir(0x38, 1);
            Put32(r, 0x48, 0x0409);
            Put32(r, 0x4C, 0x50);
            const std::string block = VersionBlock();
            Put32(r, 0x50, rva + 0x90);
            Put32(r, 0x54, static_cast<std::uint32_t>(block.size()));
            r += block;
        }
        return r;
    }
};

} // namespace orvex
