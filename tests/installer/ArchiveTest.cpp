#include "installer/cmp_TDrvnCompress.h"
#include "installer/exceptions_Dorvane.h"
#include "installer/routines_FileSystem.h"
#include "platform/FileIO.h"
#include "tests/platform/VersionResourceFixture.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

namespace orvex {
namespace {

namespace fs = std::filesystem;

std::string RandomBytes(std::mt19937& rng, std::size_t size, bool compressible = false)
{
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        data[i] = compressible ? static_cast<char>('a' + (rng() % 4)) : static_cast<char>(rng());
    return data;
}

std::string ReadNative(const std::string& native)
{
    std::ifstream in(native, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string ReadWin(const std::string& winPath)
{
    return ReadNative(NativePath(winPath));
}

class ArchiveTest : public ::testing::Test {
protected:
    // Adds each file to the archive under its own ID, as install files do.
    void Build(TDrvnCompress& archive, const std::vector<std::string>& files, int firstID = 0)
    {
        for (std::size_t i = 0; i < files.size(); ++i) {
            archive.FilesToProcess()->Add(files[i]);
            archive.Compress(i > 0 || firstID > 0, firstID + static_cast<int>(i));
        }
    }
    std::string ErrorOf(const std::function<void()>& action)
    {
        try {
            action();
        } catch (const Exception& e) {
            return e.Message();
        }
        return "(no error)";
    }

    TTempWindowsRoot Root;
    std::mt19937 Rng{20261210};
};

TEST_F(ArchiveTest, RecordsHaveTheirLayout)
{
    TFileHeaderRecord r;
    r.OrderNumber = 3;
    r.FileDate = 45000.5;
    r.LastPart = 4;
    r.LastDataByte = 0x01020304;
    r.SourcePath = "C:\\src\\a.txt";
    r.NextRecord = 77;
    r.OriginalSize = 1234;
    r.DataStart = 181;
    r.ArchiveSize = 999;
    r.FirstPart = 2;
    r.FileID = 1999;
    r.Version = "1.2.3.4";
    std::uint8_t b[FileHeaderSize];
    EncodeFileHeader(r, b);
    EXPECT_EQ(b[0], 3);
    EXPECT_EQ(b[16], 4);
    EXPECT_EQ(b[20], 0x04);
    EXPECT_EQ(b[23], 0x01);
    EXPECT_EQ(b[24], r.SourcePath.size());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b + 25), r.SourcePath.size()), r.SourcePath);
    EXPECT_EQ(b[128], 77);
    EXPECT_EQ(b[132] | (b[133] << 8), 1234);
    EXPECT_EQ(b[136], 181);
    EXPECT_EQ(b[144], 2);
    EXPECT_EQ(b[148] | (b[149] << 8), 1999);
    EXPECT_EQ(b[152], 7);
    TFileHeaderRecord back;
    ASSERT_TRUE(DecodeFileHeader(b, back));
    EXPECT_EQ(back.FileDate, 45000.5);
    EXPECT_EQ(back.SourcePath, r.SourcePath);
    EXPECT_EQ(back.Version, r.Version);
    b[24] = 101; // past the field
    EXPECT_FALSE(DecodeFileHeader(b, back));
}

// Three directories with 200 files from 0 bytes to 20 MB, into one archive,
// then split onto a 4 MB removable drive, each extracted byte for byte.
TEST_F(ArchiveTest, TwoHundredFilesRoundTripWholeAndSplit)
{
    std::vector<std::string> files;
    std::map<std::string, std::string> contents;
    const std::vector<std::size_t> big = {6u << 20, 8u << 20, 20u << 20, 1u << 20, 65536, 0};
    for (int i = 0; i < 200; ++i) {
        const std::string path = "C:\\src\\dir" + std::to_string(i % 3) + "\\file" + std::to_string(i) + ".bin";
        const std::size_t size = i < static_cast<int>(big.size()) ? big[i] : Rng() % 40000;
        const std::string data = RandomBytes(Rng, size, i % 2 == 1 && size < 40000);
        TTempWindowsRoot::WriteFile(path, data);
        files.push_back(path);
        contents[path] = data;
    }
    TDrvnCompress archive(nullptr);
    archive.SetCompressedFile("C:\\build\\files.1");
    Build(archive, files);
    ASSERT_EQ(archive.FileCount(), 0); // the records are forgotten after building
    archive.ReadHeaders();
    ASSERT_EQ(archive.FileCount(), 200);
    EXPECT_EQ(archive.IndexOfFileID(150), 150);

    auto extractAll = [&](TDrvnCompress& from, const std::string& destRoot) {
        for (const std::string& path : files) {
            const std::string dir = path.substr(7, 4); // "dir0".."dir2"
            from.ExtractDirectory = destRoot + "\\" + dir;
            from.FilesToProcess()->Add(path);
            from.Extract();
            const std::string out = destRoot + "\\" + dir + "\\" + path.substr(path.rfind('\\') + 1);
            ASSERT_EQ(ReadWin(out), contents[path]) << path;
        }
    };
    extractAll(archive, "C:\\whole");

    // The parts go to a 4 MB drive A:; each full disk is taken out into a box.
    TTempWindowsRoot::MakeFolder("A:\\");
    TTempWindowsRoot::MakeFolder("C:\\box");
    SetDriveCapacity('A', 4 << 20);
    // Each prompt swaps the disk in the drive for the one asked for (a new,
    // empty one while writing further parts).
    int prompts = 0;
    auto swapDisk = [](int part) {
        for (const auto& entry : fs::directory_iterator(NativePath("A:\\")))
            fs::rename(entry.path(), NativePath("C:\\box") + "/" + entry.path().filename().string());
        const std::string boxed = NativePath("C:\\box") + "/files." + std::to_string(part);
        if (fs::exists(boxed))
            fs::rename(boxed, NativePath("A:\\") + "/files." + std::to_string(part));
    };
    archive.OnNewDisk = [&](TObject*, Integer part, std::string& folder) {
        if (part > 1)
            ++prompts;
        swapDisk(part);
        folder = "A:\\";
    };
    archive.SplitToDisks("A:\\", "files.1");
    SetDriveCapacity('A', -1);
    swapDisk(0);
    EXPECT_GE(prompts, 8);

    // Reading: only part 1 is in the drive at first; each prompt swaps disks.
    fs::copy_file(NativePath("C:\\box") + "/files.1", NativePath("A:\\") + "/files.1");
    TDrvnCompress reader(nullptr);
    reader.SetCompressedFile("A:\\files.1");
    std::vector<int> asked;
    reader.OnNewDisk = [&](TObject*, Integer part, std::string& folder) {
        asked.push_back(part);
        for (const auto& entry : fs::directory_iterator(NativePath("A:\\")))
            fs::remove(entry.path());
        const std::string name = "files." + std::to_string(part);
        fs::copy_file(NativePath("C:\\box") + "/" + name, NativePath("A:\\") + "/" + name);
        folder = "A:\\";
    };
    reader.ReadHeaders();
    const TFileHeaderRecord& spanning = reader.Headers().FileHeaders(1)->Record;
    EXPECT_EQ(spanning.FirstPart, 2);
    EXPECT_EQ(spanning.LastPart, 4);
    // The file on parts 2 to 4 reads three parts in order.
    reader.ExtractDirectory = "C:\\one";
    reader.FilesToProcess()->Add(files[1]);
    reader.Extract();
    EXPECT_EQ(ReadWin("C:\\one\\file1.bin"), contents[files[1]]);
    EXPECT_EQ(asked, (std::vector<int>{2, 3, 4}));
    extractAll(reader, "C:\\split");
}

TEST_F(ArchiveTest, EdgeCasesOfExtraction)
{
    // An archive with no records lists and extracts nothing.
    TDrvnCompress archive(nullptr);
    archive.SetCompressedFile("C:\\build\\empty.1");
    archive.Compress(false, 0);
    int listed = 0;
    archive.OnListing = [&](TObject*, const TDrvnCompressStatus&) { ++listed; };
    archive.List();
    EXPECT_EQ(listed, 0);
    EXPECT_EQ(archive.FileCount(), 0);

    // A path without a folder extracts under its bare name.
    TTempWindowsRoot::WriteFile("C:\\bare.txt", "bare");
    ASSERT_TRUE(SetCurrentDirectory("C:\\"));
    archive.SetCompressedFile("C:\\build\\bare.1");
    archive.FilesToProcess()->Add("bare.txt");
    archive.Compress(false, 7);
    archive.ExtractDirectory = "C:\\out";
    archive.FilesToProcess()->Add("BARE.TXT");
    archive.Extract();
    EXPECT_EQ(ReadWin("C:\\out\\bare.txt"), "bare");

    // The same file again under owVersion with equal (blank) versions is
    // skipped and still reported finished.
    TTempWindowsRoot::WriteFile("C:\\out\\bare.txt", "kept");
    archive.Overwrite = owVersion;
    std::vector<bool> finished;
    archive.OnStatus = [&](TObject*, const TDrvnCompressStatus& s) { finished.push_back(s.FileFinished); };
    archive.FilesToProcess()->Add("bare.txt");
    archive.Extract();
    EXPECT_EQ(ReadWin("C:\\out\\bare.txt"), "kept");
    EXPECT_EQ(finished, std::vector<bool>{true});

    // Unknown IDs raise instead of answering another file's record.
    archive.ReadHeaders();
    EXPECT_EQ(archive.IndexOfFileID(7), 0);
    EXPECT_THROW(archive.IndexOfFileID(8), EDrvnCompress);
    EXPECT_THROW(archive.IndexOfFileID(2000), EDrvnCompress);
    EXPECT_EQ(ErrorOf([&] {
                  archive.FilesToProcess()->Add("missing.txt");
                  archive.Extract();
              }),
              "The file <missing.txt> was not found in the archive <C:\\build\\bare.1>");
    EXPECT_EQ(ErrorOf([&] {
                  TDrvnCompressStatus s;
                  archive.GetFileStatus(1, s);
              }),
              "Tried to access the 1th file. This file is not defined");
}

TEST_F(ArchiveTest, BuildingRefusesWhatTheRecordCannotHold)
{
    TDrvnCompress archive(nullptr);
    archive.SetCompressedFile("C:\\build\\x.1");
    const std::string longPath = "C:\\" + std::string(94, 'd') + "\\a.txt"; // 103 characters
    TTempWindowsRoot::WriteFile(longPath, "x");
    archive.FilesToProcess()->Add(longPath);
    EXPECT_EQ(ErrorOf([&] { archive.Compress(false, 0); }),
              "The path " + longPath + " is longer than 100 characters");
    TTempWindowsRoot::WriteFile("C:\\a.txt", "x");
    archive.FilesToProcess()->Add("C:\\a.txt");
    EXPECT_EQ(ErrorOf([&] { archive.Compress(false, 2000); }), "The file ID 2000 is outside 0 to 1999");
    archive.FilesToProcess()->Add("C:\\nothere.txt");
    EXPECT_EQ(ErrorOf([&] { archive.Compress(false, 1); }), "Cannot open the file C:\\nothere.txt");
}

TEST_F(ArchiveTest, VersionsAndSizesMustFitTheRecord)
{
    auto library = [](const std::string& winPath, std::uint16_t part) {
        TPeFixture pe;
        for (auto& p : pe.FileVersion)
            p = part;
        pe.WriteTo(TTempWindowsRoot::WriteFile(winPath, ""));
    };
    library("C:\\src\\ok.dll", 9999);      // "9999.9999.9999.9999": 19 characters
    library("C:\\src\\long.dll", 65535);   // 23 characters
    TDrvnCompress archive(nullptr);
    archive.SetCompressedFile("C:\\build\\v.1");
    archive.FilesToProcess()->Add("C:\\src\\ok.dll");
    archive.Compress(false, 0);
    archive.ReadHeaders();
    EXPECT_EQ(archive.Headers().FileHeaders(0)->Record.Version, "9999.9999.9999.9999");
    archive.FilesToProcess()->Add("C:\\src\\long.dll");
    EXPECT_EQ(ErrorOf([&] { archive.Compress(true, 1); }),
              "The version 65535.65535.65535.65535 of C:\\src\\long.dll is longer than 20 characters");

    // A source past 2 GiB (a sparse file) is refused before anything is read.
    const std::string huge = TTempWindowsRoot::WriteFile("C:\\src\\huge.bin", "");
    fs::resize_file(huge, (std::uintmax_t{1} << 31) + 1);
    archive.FilesToProcess()->Add("C:\\src\\huge.bin");
    EXPECT_EQ(ErrorOf([&] { archive.Compress(true, 2); }), "The file C:\\src\\huge.bin is larger than 2 GiB");
    archive.ReadHeaders();
    EXPECT_EQ(archive.FileCount(), 1); // the archive is as it was
}

TEST_F(ArchiveTest, AStoppedBuildKeepsTheFilesFinishedAndAFullDiskStopsExtraction)
{
    TTempWindowsRoot::WriteFile("C:\\a.bin", RandomBytes(Rng, 300000));
    TTempWindowsRoot::WriteFile("C:\\b.bin", RandomBytes(Rng, 300000));
    TDrvnCompress archive(nullptr);
    archive.SetCompressedFile("C:\\build\\stop.1");
    archive.FilesToProcess()->Add("C:\\a.bin");
    archive.Compress(false, 0);
    int aborted = 0;
    archive.OnAborted = [&](TObject*) { ++aborted; };
    archive.OnStatus = [](TObject* sender, const TDrvnCompressStatus& s) {
        if (s.FileBytesDone > 100000)
            static_cast<TDrvnCompress*>(sender)->Abort = true;
    };
    archive.FilesToProcess()->Add("C:\\b.bin");
    archive.Compress(true, 1);
    EXPECT_EQ(aborted, 1);
    archive.OnStatus = nullptr;
    archive.ReadHeaders();
    EXPECT_EQ(archive.FileCount(), 1); // a.bin, whole
    // Adding again continues behind the last whole file.
    archive.FilesToProcess()->Add("C:\\b.bin");
    archive.Compress(true, 1);
    archive.ReadHeaders();
    ASSERT_EQ(archive.FileCount(), 2);

    // Extracting onto a drive too small: the disk-full error, and the half
    // file is not left behind.
    TTempWindowsRoot::MakeFolder("A:\\");
    SetDriveCapacity('A', 400000);
    archive.ExtractDirectory = "A:\\";
    archive.FilesToProcess()->Add("C:\\a.bin");
    archive.FilesToProcess()->Add("C:\\b.bin");
    EXPECT_THROW(archive.Extract(), EdcDiskFull);
    SetDriveCapacity('A', -1);
    EXPECT_EQ(ReadWin("A:\\a.bin"), ReadWin("C:\\a.bin"));
    EXPECT_FALSE(WinFileExists("A:\\b.bin"));
}

TEST_F(ArchiveTest, CopyFollowsTheOverwriteRuleAndKeepsTheDate)
{
    TTempWindowsRoot::WriteFile("C:\\src\\c.txt", "new");
    TDateTime date = 0;
    ASSERT_TRUE(SetFileDateTime("C:\\src\\c.txt", 40000.25));
    TDrvnCompress archive(nullptr);
    archive.Copy("C:\\src\\c.txt", "C:\\dest\\c.txt");
    EXPECT_EQ(ReadWin("C:\\dest\\c.txt"), "new");
    ASSERT_TRUE(GetFileDateTime("C:\\dest\\c.txt", date));
    EXPECT_DOUBLE_EQ(date, 40000.25);
    TTempWindowsRoot::WriteFile("C:\\dest\\c.txt", "old");
    archive.Overwrite = owNever;
    archive.Copy("C:\\src\\c.txt", "C:\\dest\\c.txt");
    EXPECT_EQ(ReadWin("C:\\dest\\c.txt"), "old");
    archive.Overwrite = owAlways;
    archive.OnBuildStopRequested = [] { return true; };
    EXPECT_THROW(archive.Copy("C:\\src\\c.txt", "C:\\dest\\c.txt"), EUserAbortInstall);
    EXPECT_EQ(ErrorOf([&] { archive.Copy("C:\\src\\none.txt", "C:\\dest\\none.txt"); }),
              "Cannot open the file C:\\src\\none.txt");
}

TEST_F(ArchiveTest, AbortStopsAtTheNextBlock)
{
    TTempWindowsRoot::WriteFile("C:\\big.bin", RandomBytes(Rng, 1 << 20));
    TDrvnCompress archive(nullptr);
    archive.SetCompressedFile("C:\\build\\big.1");
    archive.FilesToProcess()->Add("C:\\big.bin");
    archive.Compress(false, 0);

    int aborted = 0;
    int statuses = 0;
    archive.OnAborted = [&](TObject*) { ++aborted; };
    archive.OnStatus = [&](TObject* sender, const TDrvnCompressStatus&) {
        if (++statuses == 3)
            static_cast<TDrvnCompress*>(sender)->Abort = true;
    };
    archive.ExtractDirectory = "C:\\out";
    archive.FilesToProcess()->Add("C:\\big.bin");
    archive.Extract();
    EXPECT_EQ(aborted, 1);
    EXPECT_EQ(statuses, 3);
    // The partly written file stays.
    EXPECT_EQ(FileSizeOf(NativePath("C:\\out\\big.bin")), 3 * 4096);
}

// Every header field mutated, truncations and unsafe names: each archive
// ends in the corrupt-archive error, and nothing appears outside the
// destination.
TEST_F(ArchiveTest, CorruptArchivesAreRefused)
{
    std::vector<std::string> files;
    for (int i = 0; i < 3; ++i) {
        const std::string path = "C:\\src\\f" + std::to_string(i) + ".txt";
        TTempWindowsRoot::WriteFile(path, RandomBytes(Rng, 3000 + i * 1000, true));
        files.push_back(path);
    }
    TDrvnCompress builder(nullptr);
    builder.SetCompressedFile("C:\\build\\good.1");
    Build(builder, files);
    const std::string good = ReadWin("C:\\build\\good.1");
    // The records' positions in the good archive.
    std::vector<std::size_t> records;
    {
        std::size_t pos = ArchiveHeaderSize;
        for (int i = 0; i < 3; ++i) {
            records.push_back(pos);
            TFileHeaderRecord r;
            ASSERT_TRUE(DecodeFileHeader(reinterpret_cast<const std::uint8_t*>(good.data() + pos), r));
            pos = static_cast<std::size_t>(r.NextRecord);
        }
    }

    std::vector<std::pair<std::string, std::string>> corpus; // name, bytes
    auto put32 = [](std::string& s, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            s[at + i] = static_cast<char>(v >> (8 * i));
    };
    const std::uint32_t values[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0, 1, 5, 180, 181,
                                    static_cast<std::uint32_t>(good.size()), static_cast<std::uint32_t>(good.size() - 1)};
    for (std::uint32_t v : values) {
        std::string s = good;
        put32(s, 0, v);
        if (v > 3) // fewer records is a smaller archive, not a corrupt one
            corpus.emplace_back("count=" + std::to_string(v), s);
    }
    for (int flag : {1, 2, 255}) {
        std::string s = good;
        s[4] = static_cast<char>(flag);
        corpus.emplace_back("flag=" + std::to_string(flag), s);
    }
    const struct {
        const char* Name;
        std::size_t Offset;
    } intFields[] = {{"last data byte", 20}, {"next record", 128}, {"original size", 132}, {"data start", 136}};
    for (std::size_t r = 0; r < records.size(); ++r)
        for (const auto& field : intFields)
            for (std::uint32_t v : values) {
                std::string s = good;
                const std::size_t at = records[r] + field.Offset;
                if (static_cast<std::uint32_t>(static_cast<unsigned char>(s[at]) |
                                               (static_cast<unsigned char>(s[at + 1]) << 8) |
                                               (static_cast<unsigned char>(s[at + 2]) << 16) |
                                               (static_cast<unsigned char>(s[at + 3]) << 24)) == v)
                    continue;
                put32(s, at, v);
                corpus.emplace_back(std::string(field.Name) + "[" + std::to_string(r) + "]=" + std::to_string(v), s);
            }
    for (std::size_t r = 0; r < records.size(); ++r) {
        for (int part : {1, 2, 200}) {
            for (std::size_t at : {records[r] + 16, records[r] + 144}) {
                std::string s = good;
                s[at] = static_cast<char>(part);
                if (part == 1 && at == records[r] + 144)
                    continue; // part 1 is what 0 means
                if (part == 1)
                    continue;
                corpus.emplace_back("part byte " + std::to_string(at) + "=" + std::to_string(part), s);
            }
        }
        for (int len : {101, 255}) {
            std::string s = good;
            s[records[r] + 24] = static_cast<char>(len);
            corpus.emplace_back("path length " + std::to_string(len), s);
        }
        for (int len : {21, 255}) {
            std::string s = good;
            s[records[r] + 152] = static_cast<char>(len);
            corpus.emplace_back("version length " + std::to_string(len), s);
        }
        {
            std::string s = good; // a date no calendar has
            for (int i = 0; i < 8; ++i)
                s[records[r] + 8 + i] = '\xFF';
            corpus.emplace_back("date", s);
        }
        // Unsafe names, kept inside the 100 characters.
        for (const std::string& name : std::vector<std::string>{"..\\..\\evil.txt", "C:\\src\\..", "C:\\src\\", "sub\\..\\..\\x.txt",
                                       std::string("C:\\a\\b\x01.txt")}) {
            std::string s = good;
            s[records[r] + 24] = static_cast<char>(name.size());
            std::copy(name.begin(), name.end(), s.begin() + static_cast<long>(records[r] + 25));
            corpus.emplace_back("name " + name, s);
        }
        // A flipped byte inside the stream.
        std::string s = good;
        s[records[r] + FileHeaderSize + 10] ^= 0x55;
        corpus.emplace_back("stream byte", s);
    }
    for (std::size_t len = 0; len < good.size(); len += len < 400 ? 1 : 97)
        corpus.emplace_back("truncated to " + std::to_string(len), good.substr(0, len));

    const fs::path sandbox = NativePath("C:\\");
    for (const auto& [name, bytes] : corpus) {
        TTempWindowsRoot::WriteFile("C:\\t\\bad.1", bytes);
        TDrvnCompress reader(nullptr);
        reader.SetCompressedFile("C:\\t\\bad.1");
        reader.ExtractDirectory = "C:\\t\\dest\\in";
        for (const std::string& file : files)
            reader.FilesToProcess()->Add(file);
        std::string error = "(no error)";
        try {
            reader.Extract();
        } catch (const EDrvnCompress& e) {
            error = e.Message();
        } catch (const std::exception& e) {
            error = std::string("other: ") + e.what();
        }
        // A mutation that changes nothing the extraction relies on may
        // extract; then every file must come out whole.
        if (error == "(no error)") {
            for (const std::string& file : files)
                EXPECT_EQ(ReadWin("C:\\t\\dest\\in\\" + file.substr(file.rfind('\\') + 1)), ReadWin(file)) << name;
        } else {
            EXPECT_TRUE(error == CorruptArchiveText ||
                        error == "Could not read the file header count for the compressed file")
                << name << ": " << error;
        }
        // Nothing outside the destination: only the source tree, the build
        // folder and the test folder exist.
        std::set<std::string> top;
        for (const auto& entry : fs::directory_iterator(sandbox))
            top.insert(entry.path().filename().string());
        EXPECT_EQ(top, (std::set<std::string>{"build", "src", "t"})) << name;
        std::set<std::string> inT;
        for (const auto& entry : fs::directory_iterator(sandbox / "t"))
            inT.insert(entry.path().filename().string());
        EXPECT_TRUE(inT == std::set<std::string>{"bad.1"} || inT == (std::set<std::string>{"bad.1", "dest"})) << name;
        if (fs::exists(sandbox / "t" / "dest")) {
            for (const auto& entry : fs::recursive_directory_iterator(sandbox / "t" / "dest")) {
                EXPECT_TRUE(entry.path().parent_path() == sandbox / "t" / "dest" / "in" ||
                            entry.path() == sandbox / "t" / "dest" / "in")
                    << name << ": " << entry.path();
            }
        }
        fs::remove_all(sandbox / "t");
    }
}

} // namespace
} // namespace orvex
