#pragma once
// Helpers of the database-file tests: a scratch folder, whole-file reads,
// engine-error expectations, byte patterns and database set-up.

#include "storage/vekDisk.h"
#include "disk/DiskPattern.h"
#include "vekEngineTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace orvex::disktest {

using enginetest::RaisesVekError;
using enginetest::ReadFileBytes;
using enginetest::VekErrorCode;

class TTempDir : public enginetest::TTempDir {
public:
    TTempDir() : enginetest::TTempDir("vekdisk") {}
};

// Whether Needle occurs anywhere in Haystack.
inline bool Contains(const std::vector<Byte>& Haystack, const std::vector<Byte>& Needle)
{
    return std::search(Haystack.begin(), Haystack.end(), Needle.begin(), Needle.end()) != Haystack.end();
}

// The access flags of plain, weakly and strongly enciphered pages, as test
// parameters, and their names.
inline auto PageAccessFlags()
{
    return ::testing::Values(VekAccessPaged, VekAccessPaged | VekAccessXOR,
                             VekAccessPaged | VekAccessBlowfish);
}
inline std::string PageAccessName(const ::testing::TestParamInfo<Cardinal>& Info)
{
    if (Info.param & VekAccessXOR)
        return "Weak";
    return Info.param & VekAccessBlowfish ? "Strong" : "Plain";
}

// A new, closed database file.
inline void CreateDatabase(const std::string& Path, Integer PageSize = DefaultPageSize)
{
    TDiskMgr creator;
    creator.SetFileName(Path);
    creator.SetPageSize(PageSize);
    creator.CreateNewFile(true);
}

// A connection to an existing database file.
inline std::unique_ptr<TDiskMgr> OpenDatabase(const std::string& Path, Integer PageSize = DefaultPageSize,
                                              unsigned Flags = fmOpenReadWrite | fmShareDenyNone)
{
    auto disk = std::make_unique<TDiskMgr>();
    disk->SetFileName(Path);
    disk->SetPageSize(PageSize);
    disk->SetOpenFlags(Flags);
    disk->Open();
    return disk;
}

} // namespace orvex::disktest
