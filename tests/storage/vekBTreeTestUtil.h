#pragma once
// Helpers of the B-tree tests: a table of typed columns whose records build
// keys, a tree with its root and depth words over a memory or disk block
// interface, a database with an index-page interface, and a walk over the
// pages of a tree and the free chain of an interface.

#include "storage/vekByteOrder.h"
#include "storage/vekCommon.h"
#include "storage/vekDataUnit.h"
#include "storage/vekDisk.h"
#include "storage/vekIndexUnit.h"
#include "storage/vekInterfaceUnit.h"
#include "vekDiskTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvex::btreetest {

using TRecord = std::vector<Byte>;

// A column of a test table.
struct TColumn {
    std::string Name;
    TFieldType DataType;
    Integer Size = 0; // declared size of strings
};

// A key field: a column by name, or the hidden record-ID field for an empty
// name.
struct TKeySpec {
    std::string Name;
    bool Descending = false;
    bool CaseInsensitive = false;
};

// Records laid out by the field list and keys over their columns.
class TTable {
public:
    explicit TTable(const std::vector<TColumn>& Columns)
    {
        for (const TColumn& column : Columns) {
            TInternalFieldItem* item = FFields.Add();
            item->SetFieldName(column.Name);
            item->SetDataType(column.DataType);
            if (column.DataType == ftString)
                item->SetFieldSize(column.Size);
            item->SetFieldIndex(item->Index());
        }
        FFields.SetDefaultOffsets();
        FFields.Open();
    }

    // A record in use with the record ID; every field null.
    TRecord NewRecord(Cardinal RecordID) const
    {
        TRecord record(static_cast<std::size_t>(FFields.RecordSize()), 0);
        record[rpoStatus] = 1;
        WriteLE32(record.data() + rpoRecordID, RecordID);
        return record;
    }

    void PutNull(TRecord& Record, const std::string& Name) const { Record[Field(Name)->NullFlagOffset()] = 0; }
    void PutString(TRecord& Record, const std::string& Name, const std::string& Value) const
    {
        const TInternalFieldItem* field = Field(Name);
        std::memcpy(Record.data() + field->DataOffset(), Value.data(), Value.size());
        WriteLE16(Record.data() + field->SizeMarkerOffset(), static_cast<Word>(Value.size()));
        Record[field->NullFlagOffset()] = 1;
    }
    void PutInteger(TRecord& Record, const std::string& Name, Integer Value) const
    {
        const TInternalFieldItem* field = Field(Name);
        WriteLE32(Record.data() + field->DataOffset(), static_cast<Cardinal>(Value));
        Record[field->NullFlagOffset()] = 1;
    }
    void PutDouble(TRecord& Record, const std::string& Name, double Value) const
    {
        const TInternalFieldItem* field = Field(Name);
        WriteLEDouble(Record.data() + field->DataOffset(), Value);
        Record[field->NullFlagOffset()] = 1;
    }

    const TInternalFieldItem* Field(const std::string& Name) const
    {
        const TInternalFieldItem* field = FFields.FindField(Name);
        if (field == nullptr)
            throw std::runtime_error("no column " + Name);
        return field;
    }

    // Gives Keys the key fields over Specs, their null-flag bytes, the
    // maximum key size and the ANSI string comparison.
    void IndexOn(TIndexKeys& Keys, const std::vector<TKeySpec>& Specs) const
    {
        TKeyFields* keyFields = Keys.KeyFields();
        keyFields->Clear();
        for (const TKeySpec& spec : Specs) {
            TKeyFieldItem* key = keyFields->Add();
            key->SetIndexName("Idx");
            key->SetKeyIndex(key->Index());
            key->SetDescending(spec.Descending);
            key->SetCaseInsensitive(spec.CaseInsensitive);
            if (spec.Name.empty()) {
                key->SetAsRecordIDKey();
                continue;
            }
            key->AssignFromField(Field(spec.Name));
        }
        keyFields->SetDataOffset(keyFields->Count() / 8 + 1);
        Keys.SetMaximumKeySize(CalculateMaximumKeySize(keyFields) + keyFields->DataOffset());
        Keys.SetDBStringCompare(DBANSICompareStrings);
    }

private:
    TInternalFields FFields;
};

// A tree with the words that hold its root and depth.
struct TTreeUnderTest {
    TBTree Tree;
    Cardinal Root = 0;
    Integer Depth = 0;

    // Connects to IO, creates an empty tree and opens it (the key fields
    // must be set already).
    void Create(TBaseIOInterface* IO, Integer PageSize)
    {
        Tree.ConnectToIFace(IO, PageSize, &Root, &Depth);
        Tree.CreateTree();
        Tree.Open();
    }
};

// A scratch database with one connection.
class TDiskDatabase {
public:
    TDiskDatabase()
    {
        disktest::CreateDatabase(Path());
        FDisk = disktest::OpenDatabase(Path());
    }

    std::string Path() const { return FDir.File("btree.vek"); }
    TDiskMgr* Disk() const { return FDisk.get(); }

    // An open index-page interface of the table: blocks of BlockSize bytes
    // and the global free chain of index pages.
    std::unique_ptr<TDiskIOInterface> IndexInterface(Word TableID, Integer BlockSize) const
    {
        auto io = std::make_unique<TDiskIOInterface>();
        io->SetDiskMgr(FDisk.get());
        io->SetBlockSize(BlockSize);
        io->SetUsage(IOUsageIndexPages);
        io->SetTableID(TableID);
        io->SetAccessFlags(VekAccessPaged);
        io->SetGlobalFirstEmptyOffset(TGlobalHdr::OfsIndexesFirstEmpty);
        io->Open();
        return io;
    }

    // The map's own consistency (free chains, marks, header fields).
    bool MapConsistent(TStrings* Problems) const
    {
        FDisk->SetHeaderReadLock();
        const bool ok = FDisk->MapPageMgr()->CheckConsistency(Problems, FDisk->GetFileSize());
        FDisk->ReleaseHeaderLock();
        return ok;
    }

private:
    disktest::TTempDir FDir;
    std::unique_ptr<TDiskMgr> FDisk;
};

// The pages of the tree at Root, each once; a page reached twice fails the
// test.
inline std::set<Cardinal> TreePages(TBaseIOInterface& IO, Integer PageSize, Cardinal Root, Integer Depth)
{
    std::set<Cardinal> pages;
    std::vector<Byte> page(static_cast<std::size_t>(PageSize));
    std::vector<std::pair<Cardinal, Integer>> pending{{Root, 0}};
    while (!pending.empty()) {
        const auto [address, level] = pending.back();
        pending.pop_back();
        if (!pages.insert(address).second) {
            ADD_FAILURE() << "page " << address << " is used twice";
            continue;
        }
        IO.ReadBlock(address, PageSize, page.data());
        if (level + 1 >= Depth)
            continue;
        const Integer size = static_cast<Integer>(ReadLE32(page.data() + nhoSize));
        for (Integer pos = 0; pos < size;) {
            const Byte* entry = page.data() + NodeHeaderSize + pos;
            pending.emplace_back(ReadLE32(entry + kioAddress), level + 1);
            pos += ReadLE16(entry + kioLength);
        }
    }
    return pages;
}

// The blocks of a disk interface's free chain from Head on; a block chained
// twice fails the test.
inline std::set<Cardinal> FreeChainBlocks(TBaseIOInterface& IO, Cardinal Head)
{
    std::set<Cardinal> free;
    const Integer blockSize = IO.BlockSize();
    std::vector<Byte> block(static_cast<std::size_t>(blockSize));
    for (Cardinal run = Head; run != 0;) {
        IO.ReadBlock(run, blockSize, block.data());
        const Cardinal count = ReadLE32(block.data() + FreeRunCountOffset);
        for (Cardinal i = 0; i < count; ++i)
            if (!free.insert(run + i * static_cast<Cardinal>(blockSize)).second) {
                ADD_FAILURE() << "block " << run + i * blockSize << " is chained twice";
                return free;
            }
        run = ReadLE32(block.data() + FreeRunNextOffset);
    }
    return free;
}

} // namespace orvex::btreetest
