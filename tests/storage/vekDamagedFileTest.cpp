// Damaged database files: a file with two tables (every accepted field type,
// four indexes, blobs of one to several blocks, trees of more than one
// level) is damaged in many ways, and each damaged copy is opened and read
// completely: every table through every index, forwards and backwards, every
// record, every blob, and a search for every key. Each case must end in an
// engine error or in a complete read; never in a memory fault (the suite
// runs under AddressSanitizer), another exception, an endless walk or
// unbounded growth.
//
// The damage, drawn from a fixed seed: bytes flipped in the header area and
// anywhere in every page, words of every page pointed at the page itself,
// at other pages or at nonsense, small and huge sizes written over size
// words, whole pages zero-filled, the file cut at random places and at page
// boundaries, and random files. ORVEX_DAMAGE_ROUNDS=N runs N times as many
// cases and ORVEX_DAMAGE_SEED=S draws them from another seed (see README).

#include "tabledef/TableScenario.h"
#include "vekDiskTestUtil.h"

#include "host/Classes.h"
#include "storage/vekByteOrder.h"
#include "storage/vekCommon.h"
#include "storage/vekInterfaceUnit.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <unistd.h>

namespace orvex {
namespace {

using namespace tabletest;

constexpr int BaseRows = 150;
constexpr int SecondRows = 40;
const char* const SecondTable = "Second";

std::vector<TFieldSpec> SecondFields()
{
    return {{"Key", ftString, 60}, {"Value", ftInteger}, {"Text", ftMemo}};
}

std::vector<TIndexSpec> SecondIndexes()
{
    return {{"ixKey", {"Key"}, false, true}, {"ixValue", {"Value"}, false, false, true}};
}

struct TTableSpec {
    std::string Name;
    std::vector<TFieldSpec> Fields;
    std::vector<TIndexSpec> Indexes;
    int Rows;
};

std::vector<TTableSpec> Tables()
{
    return {{ScenarioTable, ScenarioFields(false), ScenarioIndexes(false), BaseRows},
            {SecondTable, SecondFields(), SecondIndexes(), SecondRows}};
}

void WriteSecondRows(TTableAccess& Access, int Count)
{
    TInternalFields* fields = Access.Fields();
    const TInternalFieldItem* key = fields->FindField("Key");
    const TInternalFieldItem* value = fields->FindField("Value");
    const TInternalFieldItem* text = fields->FindField("Text");
    for (int n = 1; n <= Count; ++n) {
        std::vector<Byte> image(static_cast<std::size_t>(Access.Def().RecordSize()), 0);
        const std::string k = "key-" + std::string(static_cast<std::size_t>(n % 50), 'x') + std::to_string(n % 17);
        image[static_cast<std::size_t>(key->NullFlagOffset())] = 1;
        WriteLE16(&image[static_cast<std::size_t>(key->SizeMarkerOffset())], static_cast<Word>(k.size()));
        std::memcpy(&image[static_cast<std::size_t>(key->DataOffset())], k.data(), k.size());
        image[static_cast<std::size_t>(value->NullFlagOffset())] = 1;
        WriteLE32(&image[static_cast<std::size_t>(value->DataOffset())], static_cast<Cardinal>(n * 7919 % 1000));
        if (n % 2 == 0) {
            const std::string memo(static_cast<std::size_t>(n * 97 % 1300 + 1), static_cast<char>('a' + n % 26));
            image[static_cast<std::size_t>(text->NullFlagOffset())] = 1;
            WriteLE32(&image[static_cast<std::size_t>(text->DataOffset())], Access.InsertBlob(memo));
            WriteLE32(&image[static_cast<std::size_t>(text->DataOffset()) + 4], static_cast<Cardinal>(memo.size()));
        }
        Access.AddRecord(image);
    }
}

// The master key of a database whose tables are strongly enciphered.
std::string KeyFor(TEncryptionLevel Level)
{
    return Level == encStrong ? "Sesame" : "";
}

// The undamaged file of tables enciphered at Level, made once.
const std::vector<Byte>& BaseFile(TEncryptionLevel Level)
{
    static std::map<TEncryptionLevel, std::vector<Byte>> files;
    if (files.count(Level) == 0) {
        disktest::TTempDir dir;
        const std::string path = dir.File("base.vek");
        TDiskConnection::CreateDatabase(path);
        {
            TDiskConnection connection(path, KeyFor(Level));
            for (const TTableSpec& spec : Tables()) {
                TTableDef def(nullptr);
                BuildTableDef(def, spec.Name, spec.Fields, spec.Indexes, false, Level);
                def.SetDefaultBlobSize(128); // blobs of several blocks
                connection.Tables().CreateTableDef(def.TableName(), &def);
                TTableDef user(nullptr);
                user.Assign(&def);
                connection.Tables().OpenTableDefConnection(def.TableName(), &user);
                {
                    TTableAccess access(user);
                    if (spec.Name == ScenarioTable)
                        WriteScenarioRows(access, spec.Rows);
                    else
                        WriteSecondRows(access, spec.Rows);
                }
                connection.Tables().CloseTableDefConnection(user.TableID());
            }
        }
        files[Level] = disktest::ReadFileBytes(path);
    }
    return files[Level];
}

// ------------------------------------------------------------ the reader

// What a read found: "ok" and a digest of everything read, or the engine
// error that ended it. A failure of the test itself (an exception other than
// an engine error, a walk that does not end) is a problem text.
struct TReadResult {
    bool EngineError = false;
    Integer Code = 0;
    std::string Message;
    std::uint64_t Digest = 0;
    std::string Problem;
};

struct TDigest {
    std::uint64_t Value = 1469598103934665603ull;
    void Add(const void* Data, std::size_t Size)
    {
        const Byte* p = static_cast<const Byte*>(Data);
        for (std::size_t i = 0; i < Size; ++i)
            Value = (Value ^ p[i]) * 1099511628211ull;
    }
    void Add(std::uint64_t N) { Add(&N, sizeof N); }
};

// Runs Body, turning what it raises into an engine error code; a second
// error (from closing after the first) is ignored, as a caller would.
template <class F>
void Guarded(TReadResult& Result, F&& Body)
{
    try {
        Body();
    } catch (const EVekDatabaseError& e) {
        if (!Result.EngineError) {
            Result.EngineError = true;
            Result.Code = e.ErrorCode;
            Result.Message = e.Message();
        }
    } catch (const std::exception& e) {
        if (Result.Problem.empty())
            Result.Problem = std::string("not an engine error: ") + e.what();
    }
}

class TTableReader {
public:
    TTableReader(TTableDef& Def, int Rows, TReadResult& Result, TDigest& Digest)
        : FDef(Def), FRows(Rows), FResult(Result), FDigest(Digest)
    {
    }

    void Read()
    {
        FRecords.InternalFields()->Assign(FDef.InternalFields());
        FRecords.SetRecordSize(FDef.RecordSize());
        FRecords.Open(FDef.RecordInterface());
        FRecordsOpen = true;
        FIndexes.Assign(FDef.InternalIndexDefs());
        FIndexes.AssignKeyFields(FDef.KeyFields());
        FIndexes.SetIOInterface(FDef.IndexInterface());
        FIndexes.SetTableHeader(FDef.TableHeader());
        FIndexes.SetDBStringCompare(DBANSICompareStrings);
        FIndexesOpen = true;
        FIndexes.Open();
        if (FDef.UsesBlobs()) {
            FBlobs.SetIOInterface(FDef.BlobInterface());
            FBlobs.SetBlobBlockSize(FDef.DefaultBlobSize());
            FBlobsOpen = true;
            FBlobs.Open();
        }
        for (int i = 0; i < FIndexes.Count() && FResult.Problem.empty(); ++i)
            ReadIndex(FIndexes.GetItems(i));
    }

    // Closes what is open; errors while closing are ignored.
    void Close()
    {
        if (FIndexesOpen)
            Guarded(FResult, [&] { FIndexes.Close(); });
        if (FRecordsOpen)
            Guarded(FResult, [&] { FRecords.Close(); });
        if (FBlobsOpen)
            Guarded(FResult, [&] { FBlobs.Close(); });
        FIndexesOpen = FRecordsOpen = FBlobsOpen = false;
    }

private:
    void ReadIndex(TIndexItem* Index)
    {
        const int limit = 4 * FRows + 16;
        const Integer count = Index->GetRecordCount(true);
        FDigest.Add(static_cast<std::uint64_t>(count));
        std::vector<Cardinal> forwards;
        if (Index->SetRecordNo(1) != 0) {
            do {
                forwards.push_back(Index->GetRecordAddress());
                FDigest.Add(static_cast<std::uint64_t>(Index->GetRecordNo()));
                if (static_cast<int>(forwards.size()) > limit) {
                    FResult.Problem = "a forward scan of " + Index->IndexName() + " does not end";
                    return;
                }
            } while (Index->NextKey());
        }
        int backwards = 0;
        if (count > 0 && Index->SetRecordNo(count) != 0) {
            do {
                FDigest.Add(static_cast<std::uint64_t>(Index->GetRecordAddress()));
                if (++backwards > limit) {
                    FResult.Problem = "a backward scan of " + Index->IndexName() + " does not end";
                    return;
                }
            } while (Index->PriorKey());
        }
        std::vector<Byte> image(static_cast<std::size_t>(FDef.RecordSize()));
        for (Cardinal address : forwards) {
            FDigest.Add(address);
            FRecords.ReadRecord(address, image.data(), false);
            FDigest.Add(image.data(), image.size());
            ReadBlobs(image);
            // The record's key is found again.
            Index->CreateKeyBuffer(image.data(), {});
            FDigest.Add(static_cast<std::uint64_t>(Index->FullIndexSearch(stEQ)));
            FDigest.Add(static_cast<std::uint64_t>(Index->FullIndexSearch(stGT)));
            FDigest.Add(static_cast<std::uint64_t>(Index->FullIndexSearch(stLT)));
        }
    }

    void ReadBlobs(const std::vector<Byte>& Image)
    {
        TInternalFields* fields = FDef.InternalFields();
        for (int f = 0; f < fields->Count(); ++f) {
            const TInternalFieldItem* field = fields->GetIndex(f);
            if (!IsBlobFieldType(field->DataType()) || Image[static_cast<std::size_t>(field->NullFlagOffset())] != 1)
                continue;
            const Byte* data = &Image[static_cast<std::size_t>(field->DataOffset())];
            TStringStream stream;
            FBlobs.ReadBlob(ReadLE32(data), &stream);
            const std::string& bytes = stream.DataString();
            // No blob of the file is longer than 2,000 bytes: a chain that
            // grows far past that was not stopped.
            if (bytes.size() > 1000000) {
                FResult.Problem = "a blob grew to " + std::to_string(bytes.size()) + " bytes";
                return;
            }
            FDigest.Add(bytes.data(), bytes.size());
        }
    }

    TTableDef& FDef;
    int FRows;
    TReadResult& FResult;
    TDigest& FDigest;
    TRecordMgr FRecords;
    TIndexManager FIndexes;
    TBlobInterface FBlobs;
    bool FRecordsOpen = false;
    bool FIndexesOpen = false;
    bool FBlobsOpen = false;
};

// Opens the file as a connection does, reads every table and closes again,
// whatever happened.
TReadResult ReadDatabase(const std::string& Path, TEncryptionLevel Level)
{
    TReadResult result;
    TDigest digest;
    TDiskMgr disk;
    auto systemHdrs = NewHeaderInterface(&disk, TGlobalHdr::OfsSystemHeadersFirstEmpty);
    auto tableHdrs = NewHeaderInterface(&disk, TGlobalHdr::OfsTableHeadersFirstEmpty);
    TDiskTableDefMgr systemTables;
    TDiskTableDefMgr userTables;
    bool diskOpen = false;
    bool systemOpen = false;
    bool userOpen = false;
    Guarded(result, [&] {
        disk.SetFileName(Path);
        disk.SetPageSize(DefaultPageSize);
        disk.SetOpenFlags(fmOpenReadWrite | fmShareDenyNone);
        disk.SetCryptKey(KeyFor(Level));
        diskOpen = true;
        disk.Open();
        systemHdrs->Open();
        tableHdrs->Open();
        systemTables.SetHdrDiskInterface(systemHdrs.get());
        systemTables.SetBaseDefMgrAddress(DefaultPageSize);
        systemTables.SetSystemTableMgr(true);
        systemOpen = true;
        systemTables.Open();
        userTables.SetHdrDiskInterface(tableHdrs.get());
        userTables.SetBaseDefMgrAddress(3 * DefaultPageSize);
        userOpen = true;
        userTables.Open();
        Integer tableID = 0;
        for (const TTableSpec& spec : Tables()) {
            TTableDef def(nullptr);
            BuildTableDef(def, spec.Name, spec.Fields, spec.Indexes, false, Level);
            def.SetDefaultBlobSize(128);
            def.SetTableID(++tableID); // the tables were made in this order
            userTables.OpenTableDefConnection(def.TableName(), &def);
            TTableReader reader(def, spec.Rows, result, digest);
            Guarded(result, [&] { reader.Read(); });
            reader.Close();
            Guarded(result, [&] { userTables.CloseTableDefConnection(def.TableID()); });
            if (result.EngineError || !result.Problem.empty())
                break;
        }
    });
    if (userOpen)
        Guarded(result, [&] { userTables.Close(); });
    if (systemOpen)
        Guarded(result, [&] { systemTables.Close(); });
    Guarded(result, [&] { tableHdrs->Close(); });
    Guarded(result, [&] { systemHdrs->Close(); });
    if (diskOpen)
        Guarded(result, [&] { disk.Close(); });
    result.Digest = digest.Value;
    return result;
}

// ------------------------------------------------------------- the damage

struct TDamage {
    std::string Name;
    std::vector<Byte> File;
};

// Makes the cases: each kind of damage on every page of the base file, and
// damage to the file as a whole.
std::vector<TDamage> MakeDamage(const std::vector<Byte>& Base, std::uint32_t Seed, int Rounds)
{
    std::mt19937 random(Seed);
    const auto below = [&](std::size_t N) { return N == 0 ? 0 : static_cast<std::size_t>(random() % N); };
    const std::size_t pageSize = static_cast<std::size_t>(DefaultPageSize);
    const std::size_t pages = Base.size() / pageSize;
    std::vector<TDamage> cases;
    const auto add = [&](std::string Name, std::vector<Byte> File) {
        cases.push_back({std::move(Name), std::move(File)});
    };
    // Values a damaged word may take: addresses of pages and blocks (the
    // page itself, another page, inside a page), sizes and nonsense.
    const auto wordValue = [&](std::size_t Page) -> Cardinal {
        switch (random() % 9) {
        case 0:
            return static_cast<Cardinal>(Page * pageSize);
        case 1:
            return static_cast<Cardinal>(below(pages) * pageSize);
        case 2:
            return static_cast<Cardinal>(below(pages) * pageSize + below(pageSize / 16) * 16);
        case 3:
            return 1;
        case 4:
            return 0xFFFFFFFFu;
        case 5:
            return 0x7FFFFFFFu;
        case 6:
            return static_cast<Cardinal>(below(70000));
        case 7:
            return static_cast<Cardinal>(Base.size() + below(3) * pageSize);
        default:
            return 0;
        }
    };
    for (int round = 0; round < Rounds; ++round) {
        for (std::size_t page = 0; page < pages; ++page) {
            const std::size_t start = page * pageSize;
            const std::string where = " page " + std::to_string(page) + " round " + std::to_string(round);
            // Flipped bits in the first bytes (the headers of pages and
            // their first blocks) and anywhere in the page.
            for (int i = 0; i < 2; ++i) {
                std::vector<Byte> file = Base;
                const int flips = 1 + static_cast<int>(below(3));
                for (int f = 0; f < flips; ++f)
                    file[start + below(i == 0 ? 48 : pageSize)] ^= static_cast<Byte>(1u << below(8));
                add((i == 0 ? "header bits" : "bits") + where, std::move(file));
            }
            // A word pointed somewhere, or given a size: at the page's own
            // header words, and at any aligned word of the page.
            for (int i = 0; i < 3; ++i) {
                std::vector<Byte> file = Base;
                const std::size_t offset = i == 0 ? below(8) * 4 : below(pageSize / 2) * 2;
                if (start + offset + 4 <= file.size())
                    WriteLE32(&file[start + offset], wordValue(page));
                add("word " + std::to_string(offset) + where, std::move(file));
            }
            // A 16-bit length word (key entries, string markers, block
            // sizes) made too small or too large.
            {
                std::vector<Byte> file = Base;
                static const Word lengths[] = {0, 1, 9, 10, 11, 255, 4095, 4096, 0x7FFF, 0xFFFF};
                WriteLE16(&file[start + below(pageSize / 2) * 2], lengths[below(std::size(lengths))]);
                add("length" + where, std::move(file));
            }
            if (round == 0) {
                std::vector<Byte> zero = Base;
                std::fill(zero.begin() + static_cast<std::ptrdiff_t>(start),
                          zero.begin() + static_cast<std::ptrdiff_t>(start + pageSize), Byte{0});
                add("zero" + where, std::move(zero));
                add("cut at" + where, std::vector<Byte>(Base.begin(), Base.begin() + static_cast<std::ptrdiff_t>(start)));
            }
        }
        for (int i = 0; i < 4; ++i) {
            const std::size_t length = below(Base.size());
            add("cut at " + std::to_string(length), std::vector<Byte>(Base.begin(), Base.begin() + static_cast<std::ptrdiff_t>(length)));
        }
        // Random files: wholly random, and random after a sound first page.
        for (int i = 0; i < 3; ++i) {
            std::vector<Byte> file(below(12) * pageSize + below(pageSize));
            for (Byte& b : file)
                b = static_cast<Byte>(random());
            add("random " + std::to_string(file.size()), file);
            if (file.size() > pageSize) {
                std::copy(Base.begin(), Base.begin() + static_cast<std::ptrdiff_t>(pageSize), file.begin());
                add("random after page 0", std::move(file));
            }
        }
    }
    return cases;
}

// The case under way, for the watchdog's message.
char GCaseName[256];

void Watchdog(int)
{
    const char text[] = "damaged-file case did not end: ";
    [[maybe_unused]] auto r1 = ::write(2, text, sizeof text - 1);
    [[maybe_unused]] auto r2 = ::write(2, GCaseName, std::strlen(GCaseName));
    [[maybe_unused]] auto r3 = ::write(2, "\n", 1);
    ::_exit(3);
}

int EnvInt(const char* Name, int Default)
{
    const char* value = std::getenv(Name);
    return value != nullptr && *value != '\0' ? std::atoi(value) : Default;
}

// Plain tables, and weakly enciphered ones, whose zero-filled and random
// pages decipher into noise. (Strongly enciphered pages take ten times as
// long to read, for no different paths.)
class DamagedFile : public ::testing::TestWithParam<TEncryptionLevel> {};

TEST_P(DamagedFile, SoundFileReadsCompletely)
{
    const TEncryptionLevel level = GetParam();
    disktest::TTempDir dir;
    const std::string path = dir.File("sound.vek");
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(BaseFile(level).data()),
                  static_cast<std::streamsize>(BaseFile(level).size()));
    }
    const TReadResult first = ReadDatabase(path, level);
    ASSERT_FALSE(first.EngineError) << first.Code << " " << first.Message;
    ASSERT_EQ(first.Problem, "");
    // Reading changed nothing that a second read sees.
    EXPECT_EQ(ReadDatabase(path, level).Digest, first.Digest);
}

TEST_P(DamagedFile, EveryCaseEndsInAnEngineErrorOrACompleteRead)
{
    const TEncryptionLevel level = GetParam();
    const std::vector<Byte>& base = BaseFile(level);
    disktest::TTempDir dir;
    const std::string soundPath = dir.File("sound.vek");
    {
        std::ofstream out(soundPath, std::ios::binary);
        out.write(reinterpret_cast<const char*>(base.data()), static_cast<std::streamsize>(base.size()));
    }
    const TReadResult sound = ReadDatabase(soundPath, level);
    ASSERT_FALSE(sound.EngineError) << sound.Message;

    const auto seed = static_cast<std::uint32_t>(EnvInt("ORVEX_DAMAGE_SEED", 20261210));
    const int rounds = std::max(1, EnvInt("ORVEX_DAMAGE_ROUNDS", 1));
    const std::vector<TDamage> cases = MakeDamage(base, seed, rounds);
    struct sigaction action {};
    action.sa_handler = Watchdog;
    ::sigaction(SIGALRM, &action, nullptr);
    int failures = 0;
    int errors = 0;
    int intact = 0;
    int changed = 0;
    const std::string path = dir.File("damaged.vek");
    for (const TDamage& damage : cases) {
        std::snprintf(GCaseName, sizeof GCaseName, "%s (seed %u)", damage.Name.c_str(), seed);
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(damage.File.data()), static_cast<std::streamsize>(damage.File.size()));
        }
        ::alarm(60);
        const TReadResult result = ReadDatabase(path, level);
        ::alarm(0);
        if (!result.Problem.empty()) {
            ++failures;
            if (failures <= 40)
                ADD_FAILURE() << GCaseName << ": " << result.Problem;
        } else if (result.EngineError)
            ++errors;
        else if (result.Digest == sound.Digest)
            ++intact;
        else
            ++changed; // damaged data read as data: no check can see it
        std::remove(path.c_str());
    }
    ::signal(SIGALRM, SIG_DFL);
    std::printf("%zu damaged files: %d engine errors, %d read as before, %d read with changed data\n",
                cases.size(), errors, intact, changed);
    EXPECT_GT(errors, 0);
}

INSTANTIATE_TEST_SUITE_P(Levels, DamagedFile, ::testing::Values(encNone, encWeak),
                         [](const ::testing::TestParamInfo<TEncryptionLevel>& Info) {
                             return Info.param == encWeak ? "Weak" : "Plain";
                         });

} // namespace
} // namespace orvex
