// The seam for tests of failing disks: while a hook answers true, writes,
// truncations, flushes and deletes fail as the system would, and leave the
// file alone; without a hook everything works again.

#include "platform/FileIO.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

namespace orvex {
namespace {

TEST(FileFaultHook, FailsTheChosenOperationsAndTouchesNothing)
{
    const std::string folder = (std::filesystem::temp_directory_path() / "orvex_fault_test").string();
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/data.bin";
    auto file = TPlatformFile::Open(path, TFileAccess::ReadWrite, TFileShare::DenyNone, TFileCreate::CreateAlways);
    ASSERT_TRUE(file);
    ASSERT_EQ(file->WriteAt(0, "abcd", 4), 4);

    std::vector<TFileFaultPoint> asked;
    SetFileFaultHook([&](TFileFaultPoint Point, const std::string& Path) {
        asked.push_back(Point);
        return Path == path; // only this file fails
    });
    errno = 0;
    EXPECT_EQ(file->WriteAt(0, "wxyz", 4), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_FALSE(file->Truncate(1));
    EXPECT_FALSE(file->Flush());
    EXPECT_FALSE(DeleteFile(path));
    EXPECT_TRUE(FlushDirectoryOf(path)); // the folder is not the file
    EXPECT_EQ(asked, (std::vector<TFileFaultPoint>{TFileFaultPoint::Write, TFileFaultPoint::Truncate,
                                                   TFileFaultPoint::Flush, TFileFaultPoint::Delete,
                                                   TFileFaultPoint::Flush}));
    char bytes[5] = {};
    EXPECT_EQ(file->ReadAt(0, bytes, 4), 4);
    EXPECT_STREQ(bytes, "abcd");
    EXPECT_EQ(file->Size(), 4);

    SetFileFaultHook({});
    EXPECT_EQ(file->WriteAt(0, "wxyz", 4), 4);
    EXPECT_TRUE(file->Flush());
    file.reset();
    EXPECT_TRUE(DeleteFile(path));
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace orvex
