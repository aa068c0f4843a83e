// The platform file layer: open and create modes, transfers in the direction
// asked for, share modes as on Windows, copies, identities.

#include "platform/FileIO.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace orvex {
namespace {

class FileIOTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/orvex_fileio_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        FDir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(FDir); }

    std::string PathOf(const std::string& name) const { return FDir + "/" + name; }

    // A file holding text.
    std::string MakeFile(const std::string& name, const std::string& text)
    {
        const std::string path = PathOf(name);
        auto file = TPlatformFile::Open(path, TFileAccess::Write, TFileShare::DenyNone,
                                        TFileCreate::CreateAlways);
        EXPECT_NE(file, nullptr);
        EXPECT_EQ(file->WriteAt(0, text.data(), static_cast<std::int64_t>(text.size())),
                  static_cast<std::int64_t>(text.size()));
        return path;
    }

    std::string FDir;
};

std::string ReadAll(TPlatformFile& file)
{
    std::string text(static_cast<std::size_t>(file.Size()), '\0');
    EXPECT_EQ(file.ReadAt(0, text.data(), static_cast<std::int64_t>(text.size())),
              static_cast<std::int64_t>(text.size()));
    return text;
}

TEST_F(FileIOTest, CreateModesDecideBetweenExistingAndNewFiles)
{
    TFileError error = TFileError::None;
    EXPECT_EQ(TPlatformFile::Open(PathOf("none"), TFileAccess::Read, TFileShare::DenyNone,
                                  TFileCreate::OpenExisting, &error),
              nullptr);
    EXPECT_EQ(error, TFileError::NotFound);
    EXPECT_EQ(TPlatformFile::Open(PathOf("no/dir/file"), TFileAccess::Read, TFileShare::DenyNone,
                                  TFileCreate::OpenExisting, &error),
              nullptr);
    EXPECT_EQ(error, TFileError::NotFound);

    const std::string path = MakeFile("a.dat", "hello");
    int osError = 0;
    EXPECT_EQ(TPlatformFile::Open(path, TFileAccess::ReadWrite, TFileShare::DenyNone,
                                  TFileCreate::CreateNew, &error, &osError),
              nullptr);
    EXPECT_EQ(error, TFileError::AlreadyExists);
    EXPECT_EQ(osError, EEXIST);

    {
        auto kept = TPlatformFile::Open(path, TFileAccess::Read, TFileShare::DenyNone,
                                        TFileCreate::OpenAlways, &error);
        ASSERT_NE(kept, nullptr);
        EXPECT_EQ(error, TFileError::None);
        EXPECT_EQ(ReadAll(*kept), "hello");
    }
    {
        auto emptied = TPlatformFile::Open(path, TFileAccess::ReadWrite, TFileShare::DenyNone,
                                           TFileCreate::CreateAlways);
        ASSERT_NE(emptied, nullptr);
        EXPECT_EQ(emptied->Size(), 0);
    }
    EXPECT_EQ(TPlatformFile::Open(FDir, TFileAccess::Read, TFileShare::DenyNone,
                                  TFileCreate::OpenExisting, &error),
              nullptr);
    EXPECT_EQ(error, TFileError::AccessDenied);
}

TEST_F(FileIOTest, TransfersSizeTruncateAndFlush)
{
    auto file = TPlatformFile::Open(PathOf("t.dat"), TFileAccess::ReadWrite, TFileShare::DenyNone,
                                    TFileCreate::CreateNew);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->WriteAt(10, "abc", 3), 3);
    EXPECT_EQ(file->Size(), 13);
    char buffer[8] = {};
    EXPECT_EQ(file->ReadAt(10, buffer, 8), 3); // short read at the end of file
    EXPECT_EQ(std::string(buffer, 3), "abc");
    EXPECT_EQ(file->ReadAt(0, buffer, 1), 1);
    EXPECT_EQ(buffer[0], '\0'); // the gap reads as zeros
    EXPECT_EQ(file->ReadAt(100, buffer, 4), 0);
    EXPECT_TRUE(file->Truncate(11));
    EXPECT_EQ(file->Size(), 11);
    EXPECT_TRUE(file->Flush());
}

TEST_F(FileIOTest, HandlesMoveDataOnlyInTheDirectionAskedFor)
{
    const std::string path = MakeFile("d.dat", "data");
    char buffer[4];
    auto reader =
        TPlatformFile::Open(path, TFileAccess::Read, TFileShare::DenyNone, TFileCreate::OpenExisting);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->WriteAt(0, "x", 1), -1);
    EXPECT_FALSE(reader->Truncate(0));
    EXPECT_EQ(reader->ReadAt(0, buffer, 4), 4);

    auto writer =
        TPlatformFile::Open(path, TFileAccess::Write, TFileShare::DenyNone, TFileCreate::OpenExisting);
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(writer->ReadAt(0, buffer, 4), -1);
    EXPECT_EQ(writer->WriteAt(0, "D", 1), 1);
    EXPECT_EQ(ReadAll(*reader), "Data");
}

// The Windows share-mode rules: an open is refused when it asks for an access
// that a handle already open denies, or denies an access that a handle already
// open has.
TEST_F(FileIOTest, ShareModesFollowTheWindowsRules)
{
    using A = TFileAccess;
    using S = TFileShare;
    struct Case {
        A firstAccess;
        S firstShare;
        A secondAccess;
        S secondShare;
        bool admitted;
    } const cases[] = {
        {A::ReadWrite, S::DenyNone, A::ReadWrite, S::DenyNone, true},
        {A::ReadWrite, S::DenyNone, A::Read, S::Exclusive, false},
        {A::Read, S::DenyNone, A::Read, S::Exclusive, false},
        {A::Read, S::Exclusive, A::Read, S::DenyNone, false},
        {A::Write, S::Exclusive, A::Read, S::DenyNone, false},
        {A::Read, S::DenyWrite, A::Read, S::DenyNone, true},
        {A::Read, S::DenyWrite, A::Write, S::DenyNone, false},
        {A::Read, S::DenyWrite, A::Read, S::DenyWrite, true},
        {A::ReadWrite, S::DenyNone, A::Read, S::DenyWrite, false}, // the first one writes
        {A::Read, S::DenyRead, A::Write, S::DenyNone, true},
        {A::Read, S::DenyRead, A::Read, S::DenyNone, false},
        {A::Write, S::DenyNone, A::Write, S::DenyRead, true},
        {A::Read, S::DenyNone, A::Write, S::DenyRead, false}, // the first one reads
        {A::Write, S::DenyRead, A::Write, S::DenyWrite, false},
    };
    const std::string path = MakeFile("s.dat", "x");
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("case " + std::to_string(index++));
        auto first = TPlatformFile::Open(path, c.firstAccess, c.firstShare, TFileCreate::OpenExisting);
        ASSERT_NE(first, nullptr);
        TFileError error = TFileError::None;
        auto second = TPlatformFile::Open(path, c.secondAccess, c.secondShare,
                                          TFileCreate::OpenExisting, &error);
        EXPECT_EQ(second != nullptr, c.admitted);
        EXPECT_EQ(error, c.admitted ? TFileError::None : TFileError::SharingViolation);
    }
}

TEST_F(FileIOTest, AClosedHandleNoLongerRefusesOpens)
{
    const std::string path = MakeFile("c.dat", "x");
    auto exclusive =
        TPlatformFile::Open(path, TFileAccess::ReadWrite, TFileShare::Exclusive, TFileCreate::OpenExisting);
    ASSERT_NE(exclusive, nullptr);
    EXPECT_EQ(TPlatformFile::Open(path, TFileAccess::Read, TFileShare::DenyNone, TFileCreate::OpenExisting),
              nullptr);
    exclusive.reset();
    EXPECT_NE(TPlatformFile::Open(path, TFileAccess::Read, TFileShare::DenyNone, TFileCreate::OpenExisting),
              nullptr);
}

TEST_F(FileIOTest, ARefusedCreateAlwaysLeavesTheContentsAlone)
{
    const std::string path = MakeFile("keep.dat", "precious");
    auto holder =
        TPlatformFile::Open(path, TFileAccess::Read, TFileShare::Exclusive, TFileCreate::OpenExisting);
    ASSERT_NE(holder, nullptr);
    TFileError error = TFileError::None;
    EXPECT_EQ(TPlatformFile::Open(path, TFileAccess::Write, TFileShare::DenyNone,
                                  TFileCreate::CreateAlways, &error),
              nullptr);
    EXPECT_EQ(error, TFileError::SharingViolation);
    EXPECT_EQ(ReadAll(*holder), "precious");
}

TEST_F(FileIOTest, ReadOnlyFilesOpenForReadingAndRefuseWriting)
{
    const std::string path = MakeFile("ro.dat", "ro");
    EXPECT_FALSE(FileIsReadOnly(path));
    ASSERT_TRUE(FileSetReadOnly(path, true));
    EXPECT_TRUE(FileIsReadOnly(path));
    auto reader =
        TPlatformFile::Open(path, TFileAccess::Read, TFileShare::DenyWrite, TFileCreate::OpenExisting);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->WriteAt(0, "x", 1), -1);
    EXPECT_EQ(ReadAll(*reader), "ro");
    ASSERT_TRUE(FileSetReadOnly(path, false));
    EXPECT_FALSE(FileIsReadOnly(path));
    EXPECT_FALSE(FileIsReadOnly(PathOf("missing")));
}

TEST_F(FileIOTest, CopyKeepsContentsAndModeAndHonoursShareModes)
{
    const std::string from = MakeFile("from.dat", "copied text");
    ::chmod(from.c_str(), 0640);
    const std::string to = PathOf("to.dat");
    ASSERT_TRUE(CopyFile(from, to, true));
    EXPECT_FALSE(CopyFile(from, to, true)); // exists
    struct stat st {};
    ASSERT_EQ(::stat(to.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    auto copy = TPlatformFile::Open(to, TFileAccess::Read, TFileShare::DenyNone, TFileCreate::OpenExisting);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(ReadAll(*copy), "copied text");
    copy.reset();

    EXPECT_FALSE(CopyFile(from, from, false)); // onto itself
    EXPECT_EQ(FileSizeOf(from), 11);
    {
        auto locked = TPlatformFile::Open(from, TFileAccess::ReadWrite, TFileShare::Exclusive,
                                          TFileCreate::OpenExisting);
        ASSERT_NE(locked, nullptr);
        EXPECT_FALSE(CopyFile(from, PathOf("other.dat"), false));
    }
    {
        auto reading = TPlatformFile::Open(to, TFileAccess::Read, TFileShare::DenyNone,
                                           TFileCreate::OpenExisting);
        ASSERT_NE(reading, nullptr);
        EXPECT_FALSE(CopyFile(from, to, false)); // the destination is in use
        EXPECT_EQ(ReadAll(*reading), "copied text");
    }
    EXPECT_FALSE(CopyFile(PathOf("missing"), PathOf("x"), false));
}

TEST_F(FileIOTest, IdentityTellsWhetherAPathStillNamesTheOpenFile)
{
    const std::string path = MakeFile("id.dat", "one");
    auto file = TPlatformFile::Open(path, TFileAccess::ReadWrite, TFileShare::DenyNone,
                                    TFileCreate::OpenExisting);
    ASSERT_NE(file, nullptr);
    TFileIdentity a, b;
    ASSERT_TRUE(file->Identity(a));
    ASSERT_TRUE(FileIdentityOf(path, b));
    EXPECT_EQ(a, b);
    EXPECT_TRUE(file->IsFileAt(path));

    ASSERT_TRUE(DeleteFile(path)); // Linux removes the name while the handle is open
    EXPECT_FALSE(FileExists(path));
    EXPECT_FALSE(file->IsFileAt(path));
    EXPECT_FALSE(FileIdentityOf(path, b));

    MakeFile("id.dat", "two"); // a new file under the old name
    EXPECT_FALSE(file->IsFileAt(path));
    EXPECT_EQ(ReadAll(*file), "one");
}

TEST_F(FileIOTest, FileSystemHelpers)
{
    const std::string dir = PathOf("a/b/c");
    EXPECT_TRUE(ForceDirectories(dir));
    EXPECT_TRUE(DirectoryExists(dir));
    EXPECT_FALSE(FileExists(dir));
    const std::string path = MakeFile("a/b/c/f.dat", "12345");
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(FileSizeOf(path), 5);
    EXPECT_TRUE(RenameFile(path, PathOf("g.dat")));
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(FileSizeOf(PathOf("g.dat")), 5);
    EXPECT_EQ(FileSizeOf(path), -1);
    EXPECT_TRUE(RemoveDir(dir));
    EXPECT_FALSE(RemoveDir(PathOf("a"))); // not empty
    EXPECT_TRUE(CreateDir(dir));
    EXPECT_FALSE(CreateDir(dir));
    EXPECT_FALSE(DeleteFile(path));
}

} // namespace
} // namespace orvex
