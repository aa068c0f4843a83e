// TVekFile: opening, routing, page encryption, failed transfers and the file
// transaction, on real files.

#include "vekDiskTestUtil.h"

#include "platform/FileIO.h"
#include "storage/vekCommon.h"

#include <algorithm>
#include <cstring>

namespace orvex {
namespace {

using disktest::Pattern;
using disktest::ReadFileBytes;

constexpr Integer PageSize = 1024;

class VekFileTest : public ::testing::Test {
protected:
    VekFileTest() : FPath(FDir.File("pages.dat")) {}

    // A file of Pages pages of distinct bytes, opened read-write.
    void OpenWithPages(int Pages, bool Write = true)
    {
        std::vector<Byte> bytes;
        for (int page = 0; page < Pages; ++page) {
            const auto p = Pattern(PageSize, static_cast<Cardinal>(page));
            bytes.insert(bytes.end(), p.begin(), p.end());
        }
        WriteFile(bytes);
        Open(Write);
    }
    void WriteFile(const std::vector<Byte>& Bytes)
    {
        auto file = TPlatformFile::Open(FPath, TFileAccess::ReadWrite, TFileShare::DenyNone,
                                        TFileCreate::CreateAlways);
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(file->WriteAt(0, Bytes.data(), static_cast<std::int64_t>(Bytes.size())),
                  static_cast<std::int64_t>(Bytes.size()));
    }
    void Open(bool Write = true)
    {
        FFile.SetPageSize(PageSize);
        FFile.SetXORKeyBuf(CVekXORPageKey, CVekXORPageKeyLen);
        FFile.SetBlowKeyBuf("a database key", 14);
        FFile.SetOpenRead(true);
        FFile.SetOpenWrite(Write);
        ASSERT_GT(FFile.OpenVekFile(FPath), 0);
        FFile.SetCacheActive(true);
    }
    std::vector<Byte> Read(Cardinal Address, Integer Size, Integer TableID = 1,
                           Cardinal Flags = VekAccessPaged)
    {
        std::vector<Byte> out(static_cast<std::size_t>(Size));
        FFile.SeekAndReadVekFile(out.data(), Address, Size, TableID, Flags);
        return out;
    }
    std::vector<Byte> OnDisk(Cardinal Address, std::size_t Size) const
    {
        const auto bytes = ReadFileBytes(FPath);
        return {bytes.begin() + Address, bytes.begin() + Address + Size};
    }

    disktest::TTempDir FDir;
    std::string FPath;
    TVekFile FFile;
};

TEST_F(VekFileTest, OpeningNeedsPageSizeKeyAndFile)
{
    WriteFile(std::vector<Byte>(PageSize));
    FFile.SetPageSize(0);
    EXPECT_VEK_ERROR_TEXT(8581, "Database page size not set on opening", FFile.OpenVekFile(FPath));
    FFile.SetPageSize(PageSize);
    EXPECT_VEK_ERROR_TEXT(8581, "Crypt key not set before opening", FFile.OpenVekFile(FPath));
    FFile.SetXORKeyBuf(CVekXORPageKey, CVekXORPageKeyLen);
    FFile.SetOpenRead(true);
    EXPECT_VEK_ERROR_TEXT(8449, "Unable to open file. Error type of: ", FFile.OpenVekFile(FDir.File("none")));
    EXPECT_FALSE(FFile.CheckOpen());
    EXPECT_EQ(FFile.Handle(), -1);
}

TEST_F(VekFileTest, TheCacheIsAQuarterOfTheFileWithinLimits)
{
    const struct {
        Int64 Pages;
        Integer CachePages;
    } cases[] = {{6, 50}, {40, 50}, {203, 50}, {2500, 625}, {10000, 1000}, {40000, 1000}};
    for (const auto& c : cases) {
        {
            auto file = TPlatformFile::Open(FPath, TFileAccess::ReadWrite, TFileShare::DenyNone,
                                            TFileCreate::CreateAlways);
            ASSERT_TRUE(file->Truncate(c.Pages * PageSize));
        }
        Open();
        EXPECT_EQ(FFile.Cache()->Count(), c.CachePages) << c.Pages << " pages";
        FFile.CloseVekFile();
    }
}

TEST_F(VekFileTest, WeakAndStrongPagesRoundTripAndNeverLieInClear)
{
    OpenWithPages(8);
    const auto plain = Pattern(PageSize, 77);
    const struct {
        Cardinal Flags;
        Cardinal Address;
    } cases[] = {
        {VekAccessPaged | VekAccessXOR, 2 * PageSize},
        {VekAccessPaged | VekAccessBlowfish, 3 * PageSize},
        {VekAccessPaged | VekAccessXOR | VekAccessBlowfish, 4 * PageSize},
    };
    for (const auto& c : cases) {
        FFile.SeekAndWriteVekFile(plain.data(), c.Address, PageSize, 9, c.Flags);
        EXPECT_EQ(Read(c.Address, PageSize, 9, c.Flags), plain);
        const auto raw = OnDisk(c.Address, PageSize);
        EXPECT_NE(raw, plain);
        EXPECT_FALSE(disktest::Contains(raw, std::vector<Byte>(plain.begin() + 100, plain.begin() + 116)));
        // A reader that never saw the page deciphers it from the file.
        TVekFile reader;
        reader.SetPageSize(PageSize);
        reader.SetXORKeyBuf(CVekXORPageKey, CVekXORPageKeyLen);
        reader.SetBlowKeyBuf("a database key", 14);
        reader.SetOpenRead(true);
        reader.OpenVekFile(FPath);
        reader.SetCacheActive(true);
        std::vector<Byte> back(PageSize);
        reader.SeekAndReadVekFile(back.data(), c.Address, PageSize, 9, c.Flags);
        EXPECT_EQ(back, plain) << "flags " << c.Flags;
    }
    // With both cipher bits the scramble is used, seeded with the table id.
    std::vector<Byte> scrambled(PageSize);
    XORCryptBuf(plain.data(), scrambled.data(), CVekXORPageKey, PageSize, CVekXORPageKeyLen, 9);
    EXPECT_EQ(OnDisk(4 * PageSize, PageSize), scrambled);
    EXPECT_EQ(OnDisk(2 * PageSize, PageSize), scrambled);
    // Every Blowfish page starts from the same vector: equal pages encipher equally.
    FFile.SeekAndWriteVekFile(plain.data(), 5 * PageSize, PageSize, 9, VekAccessPaged | VekAccessBlowfish);
    EXPECT_EQ(OnDisk(5 * PageSize, PageSize), OnDisk(3 * PageSize, PageSize));
}

TEST_F(VekFileTest, ShortOrFailedTransfersRaiseTheDiskErrors)
{
    OpenWithPages(4, false);
    EXPECT_VEK_ERROR_TEXT(9217, "Unable to complete file read operation", Read(4 * PageSize, 16, 0, 0));
    EXPECT_VEK_ERROR_TEXT(9217, "Unable to complete file read operation", Read(3 * PageSize + 8, PageSize));
    const auto bytes = Pattern(16, 1);
    EXPECT_VEK_ERROR_TEXT(9218, "Unable to complete file write operation",
                          FFile.SeekAndWriteVekFile(bytes.data(), 0, 16, 0, 0));
    // A page write that did not reach the file leaves no cached copy behind.
    const auto before = Read(PageSize, PageSize);
    const auto page = Pattern(PageSize, 2);
    EXPECT_VEK_ERROR(9218, FFile.SeekAndWriteVekFile(page.data(), PageSize, PageSize, 1, VekAccessPaged));
    EXPECT_EQ(Read(PageSize, PageSize), before);
}

TEST_F(VekFileTest, AnInvalidTableIDIsLoggedAndServed)
{
    OpenWithPages(2);
    GDBLogger->Clear();
    EXPECT_EQ(Read(0, 8, MaxVekTableID + 1), OnDisk(0, 8));
    const auto lines = GDBLogger->LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Invalid table id"), std::string::npos);
}

TEST_F(VekFileTest, ByReferenceReadsNeedThePageCache)
{
    OpenWithPages(2);
    void* p = nullptr;
    FFile.SeekAndReadVekFileByRef(p, PageSize + 4, 8, 1, VekAccessPaged);
    EXPECT_EQ(std::memcmp(p, OnDisk(PageSize + 4, 8).data(), 8), 0);
    EXPECT_THROW(FFile.SeekAndReadVekFileByRef(p, 4, 8, 1, 0), EAssertionFailed);
}

TEST_F(VekFileTest, ATransactionHoldsEverythingUntilCommit)
{
    OpenWithPages(4);
    const auto before = ReadFileBytes(FPath);
    FFile.StartTransaction();
    EXPECT_VEK_ERROR(10256, FFile.StartTransaction());
    const auto page = Pattern(PageSize, 5);
    const auto header = Pattern(128, 6);
    FFile.SeekAndWriteVekFile(page.data(), PageSize, PageSize, 1, VekAccessPaged);
    FFile.WriteThroughVekFile(header.data(), 1024 + 2 * PageSize, 128);
    const Cardinal appended = FFile.SeekAndAppendVekFile(page.data(), PageSize, 1, VekAccessPaged);
    EXPECT_EQ(appended, 4u * PageSize);
    EXPECT_EQ(FFile.SeekVekEof(), 5 * PageSize);
    EXPECT_EQ(FFile.RealFileSize(), 4 * PageSize);
    EXPECT_EQ(ReadFileBytes(FPath), before);
    // The transaction reads its own writes.
    EXPECT_EQ(Read(4 * PageSize, PageSize), page);
    std::vector<Byte> back(128);
    FFile.ReadThroughVekFile(back.data(), 1024 + 2 * PageSize, 128);
    EXPECT_EQ(back, header);

    FFile.Commit();
    EXPECT_VEK_ERROR(10257, FFile.Commit());
    EXPECT_EQ(FFile.RealFileSize(), 5 * PageSize);
    EXPECT_EQ(OnDisk(PageSize, PageSize), page);
    EXPECT_EQ(OnDisk(4 * PageSize, PageSize), page);
    EXPECT_EQ(OnDisk(1024 + 2 * PageSize, 128), header);
}

TEST_F(VekFileTest, RollbackLeavesTheFileAndTheCacheAsTheyWere)
{
    OpenWithPages(4);
    const auto before = ReadFileBytes(FPath);
    const auto cached = Read(2 * PageSize, PageSize);
    FFile.StartTransaction();
    const auto page = Pattern(PageSize, 8);
    FFile.SeekAndWriteVekFile(page.data(), 2 * PageSize, PageSize, 1, VekAccessPaged);
    FFile.SeekAndAppendVekFile(page.data(), PageSize, 1, VekAccessPaged);
    FFile.ReleasePage(PageSize, std::vector<Byte>(PageSize).data());
    EXPECT_EQ(Read(PageSize, PageSize), std::vector<Byte>(PageSize)); // the released page reads as zeros
    FFile.Rollback();
    EXPECT_VEK_ERROR(10257, FFile.Rollback());
    EXPECT_EQ(ReadFileBytes(FPath), before);
    EXPECT_EQ(Read(2 * PageSize, PageSize), cached);
    EXPECT_EQ(Read(PageSize, PageSize), OnDisk(PageSize, PageSize));
    EXPECT_VEK_ERROR(9217, Read(4 * PageSize, PageSize));
}

TEST_F(VekFileTest, BlocksScannedPageByPageReadAsTheyWereWrittenUnderEveryCipher)
{
    // Forty pages of plain bytes Pattern(page + 100) written under each
    // cipher; a reader with an empty cache scans blocks over them (two pages
    // without blocks, one block over a page boundary, one twice), inside a
    // transaction that changed page 10: every block is its plain bytes, page
    // 10's the changed ones.
    const Cardinal Ciphers[] = {VekAccessPaged, VekAccessPaged | VekAccessXOR, VekAccessPaged | VekAccessBlowfish};
    constexpr int Pages = 40;
    constexpr Integer Size = 48;
    std::vector<Cardinal> addresses;
    for (Cardinal at = 0; at + Size <= Pages * PageSize; at += 100) {
        const Cardinal page = at / PageSize;
        if (page != 7 && page != 20)
            addresses.push_back(at);
        if (at == 2000)
            addresses.push_back(at);
    }
    addresses.push_back(5 * PageSize - 10);
    for (Cardinal flags : Ciphers) {
        SCOPED_TRACE(flags);
        std::vector<Byte> plain;
        for (int page = 0; page < Pages; ++page) {
            const auto p = Pattern(PageSize, static_cast<Cardinal>(page + 100));
            plain.insert(plain.end(), p.begin(), p.end());
        }
        OpenWithPages(Pages);
        for (int page = 0; page < Pages; ++page)
            FFile.SeekAndWriteVekFile(plain.data() + page * PageSize, static_cast<Cardinal>(page * PageSize), PageSize, 3,
                                      flags);
        FFile.CloseVekFile();
        Open();
        FFile.StartTransaction();
        const auto changed = Pattern(PageSize, 999);
        FFile.SeekAndWriteVekFile(changed.data(), 10 * PageSize, PageSize, 3, flags);
        std::copy(changed.begin(), changed.end(), plain.begin() + 10 * PageSize);

        std::vector<Byte> block(Size);
        std::vector<std::size_t> visited;
        FFile.SeekAndReadVekFileBlocks(addresses.data(), addresses.size(), Size, 3, flags, block.data(),
                                       [&](std::size_t I) {
                                           visited.push_back(I);
                                           const auto from = plain.begin() + addresses[I];
                                           EXPECT_EQ(block, std::vector<Byte>(from, from + Size)) << addresses[I];
                                       });
        EXPECT_EQ(visited.size(), addresses.size());
        EXPECT_TRUE(std::is_sorted(visited.begin(), visited.end()));
        FFile.Rollback();
        FFile.CloseVekFile();
    }
}

TEST_F(VekFileTest, ACommitWritesRunsOfPagesAsEachPageIsWrittenUnderEveryCipher)
{
    // A transaction changes pages 2-6 (6 of another table) and 9; after the
    // commit the file holds each page as a write outside a transaction puts
    // it there, and a reader with an empty cache reads the plain bytes.
    const Cardinal Ciphers[] = {VekAccessPaged, VekAccessPaged | VekAccessXOR, VekAccessPaged | VekAccessBlowfish,
                                VekAccessPaged | VekAccessXOR | VekAccessBlowfish};
    const std::pair<Cardinal, Integer> Changed[] = {{4, 3}, {2, 3}, {6, 5}, {3, 3}, {9, 3}, {5, 3}};
    for (Cardinal flags : Ciphers) {
        SCOPED_TRACE(flags);
        // What each page looks like on disk, written page by page.
        OpenWithPages(12);
        for (auto [page, table] : Changed) {
            const auto plain = Pattern(PageSize, 300 + page);
            FFile.SeekAndWriteVekFile(plain.data(), page * PageSize, PageSize, table, flags);
        }
        FFile.CloseVekFile();
        const auto expected = ReadFileBytes(FPath);

        OpenWithPages(12);
        FFile.StartTransaction();
        for (auto [page, table] : Changed) {
            const auto plain = Pattern(PageSize, 300 + page);
            FFile.SeekAndWriteVekFile(plain.data(), page * PageSize, PageSize, table, flags);
        }
        FFile.Commit();
        FFile.CloseVekFile();
        EXPECT_TRUE(ReadFileBytes(FPath) == expected);
        EXPECT_FALSE(FileExists(GetJournalFileName(FPath)));

        Open(false);
        for (auto [page, table] : Changed)
            EXPECT_EQ(Read(page * PageSize, PageSize, table, flags), Pattern(PageSize, 300 + page)) << page;
        FFile.CloseVekFile();
    }
}

TEST_F(VekFileTest, CopyVekFileCopiesTheWholeFile)
{
    EXPECT_VEK_ERROR(8449, FFile.CopyVekFile(FDir.File("copy.dat")));
    OpenWithPages(5);
    FFile.CopyVekFile(FDir.File("copy.dat"));
    EXPECT_EQ(ReadFileBytes(FDir.File("copy.dat")), ReadFileBytes(FPath));
    FFile.FlushBuffers();
}

} // namespace
} // namespace orvex
