// The wizard over a real split archive: the files of the definition are
// compressed into one archive, split onto a small removable drive, and each
// part kept in a folder of its own ("disks"). Installing extracts them with
// the archive component; the progress window follows the archive's status
// and the change-disk form asks for every further part.

#include "tests/setup/WizardFixture.h"

#include "platform/FileIO.h"
#include "setup/ordlg_CopyFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace orvex {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

std::string ReadWin(const std::string& winPath)
{
    std::ifstream in(NativePath(winPath), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// An install file that extracts itself from the setup archive, reporting the
// archive's status and its requests for further parts as install files do.
class TArchiveTestFile : public TCustomInstallFile {
public:
    using TCustomInstallFile::TCustomInstallFile;
    static inline std::string Archive;
    static inline std::string Destination;
    static inline std::function<void(TArchiveTestFile*)> AfterStep;
    void ReadInfoFromArchive() override {}
    void Install() override { TInstallObject::Install(); }
    void InstallChildren() override
    {
        TDrvnCompress& archive = *MainDrvnCompress();
        archive.SetCompressedFile(Archive);
        archive.ExtractDirectory = Destination;
        archive.FilesToProcess()->Clear();
        archive.FilesToProcess()->Add(SourcePath());
        archive.OnStatus = [this](TObject*, const TDrvnCompressStatus& status) {
            StatusStep(status);
            if (AfterStep)
                AfterStep(this);
        };
        archive.OnNewDisk = [this](TObject*, Integer part, std::string& folder) {
            TDiskParameter disk;
            disk.PartNumber = part;
            disk.Folder = folder;
            TList list;
            list.Add(static_cast<TObject*>(this));
            list.Add(static_cast<TObject*>(&disk));
            Tag = 0;
            Container()->DoInformationEventControl(this, ieNewDisk, &list);
            folder = disk.Folder;
        };
        bool aborted = false;
        archive.OnAborted = [&aborted](TObject*) { aborted = true; };
        archive.Extract();
        archive.OnStatus = nullptr;
        archive.OnNewDisk = nullptr;
        archive.OnAborted = nullptr;
        if (aborted)
            throw EAIUserAbort();
        TFileRelated::InstallChildren();
    }
};

class SplitArchiveTest : public WizardFixture {
public:
    void SetUp() override
    {
        WizardFixture::SetUp();
        for (TWizardTestFile* file : Files)
            delete file;
        Files.clear();
        // Sources: compressed in the order the directory installs them (the
        // child added last first), so extraction walks the parts upwards.
        std::mt19937 rng(20261210);
        const std::pair<const char*, std::size_t> sources[] = {
            {"demo.exe", 90000}, {"readme.txt", 3000}, {"engine.dll", 150000}};
        std::vector<std::string> paths;
        for (const auto& [name, size] : sources) {
            std::string data(size, '\0');
            for (char& c : data)
                c = static_cast<char>(rng());
            const std::string path = std::string("C:\\src\\") + name;
            TTempWindowsRoot::WriteFile(path, data);
            paths.push_back(path);
            Contents[name] = data;
        }
        TDrvnCompress build(nullptr);
        build.SetCompressedFile("C:\\build\\files.1");
        for (std::size_t i = 0; i < paths.size(); ++i) {
            build.FilesToProcess()->Add(paths[i]);
            build.Compress(i > 0, static_cast<Integer>(i));
        }
        // Split onto a 64 KB drive A:; each full disk goes to D:\Disk<n>.
        TTempWindowsRoot::MakeFolder("A:\\");
        SetDriveCapacity('A', 64 * 1024);
        auto takeOut = [] {
            for (const auto& entry : fs::directory_iterator(NativePath("A:\\"))) {
                const std::string name = entry.path().filename().string();
                const std::string disk = "D:\\Disk" + name.substr(name.rfind('.') + 1);
                TTempWindowsRoot::MakeFolder(disk);
                fs::rename(entry.path(), NativePath(disk) + "/" + name);
            }
        };
        // Each prompt swaps the disk in the drive for the one asked for (a new,
        // empty one while writing further parts).
        build.OnNewDisk = [&](TObject*, Integer part, std::string& folder) {
            takeOut();
            const std::string name = "files." + std::to_string(part);
            const std::string boxed = NativePath("D:\\Disk" + std::to_string(part)) + "/" + name;
            if (fs::exists(boxed))
                fs::rename(boxed, NativePath("A:\\") + "/" + name);
            folder = "A:\\";
        };
        build.SplitToDisks("A:\\", "files.1");
        SetDriveCapacity('A', -1);
        takeOut();
        while (WinDirectoryExists("D:\\Disk" + std::to_string(Parts + 1)))
            ++Parts;
        Insert(1);

        MainDrvnCompress()->SetCompressedFile(""); // forget the headers of an earlier test
        TArchiveTestFile::Archive = "A:\\files.1";
        TArchiveTestFile::Destination = "C:\\Program Files\\Orvex";
        TArchiveTestFile::AfterStep = nullptr;
        for (auto it = paths.rbegin(); it != paths.rend(); ++it) {
            auto* file = new TArchiveTestFile(Main);
            file->FileName = it->substr(it->rfind('\\') + 1);
            file->IncludeFromDir = "C:\\src";
            file->SourceSize = static_cast<std::int64_t>(Contents[file->FileName].size());
            file->SetContainer(Dir);
        }
    }

    // The disk of a part goes into the drive A: (the one there back to its box).
    static void Insert(int part)
    {
        for (const auto& entry : fs::directory_iterator(NativePath("A:\\"))) {
            const std::string name = entry.path().filename().string();
            fs::rename(entry.path(), NativePath("D:\\Disk" + name.substr(name.rfind('.') + 1)) + "/" + name);
        }
        const std::string name = "files." + std::to_string(part);
        fs::rename(NativePath("D:\\Disk" + std::to_string(part)) + "/" + name, NativePath("A:\\") + "/" + name);
    }

    // Answers the change-disk form `count` times: the user puts the disk
    // asked for into the drive (unless told not to) and proceeds.
    void AnswerDisks(int count, bool insert = true)
    {
        THeadlessBackend& script = *Headless();
        script.ForForm("TChangeDiskForm");
        for (int i = 0; i < count; ++i)
            script
                .Do([this, insert](TCustomForm* form) {
                    auto* disk = static_cast<TChangeDiskForm*>(form);
                    Prompts.push_back(disk->lblPrompt->Caption() + " | " + disk->edPath->Text());
                    if (insert)
                        Insert(disk->DiskParameter->PartNumber);
                })
                .Click("btnProceed");
        script.ForForm("");
    }

    std::map<std::string, std::string> Contents;
    int Parts = 0;
    Strings Prompts;
};

TEST_F(SplitArchiveTest, TheRunExtractsEveryFileAskingForEachPart)
{
    ASSERT_GE(Parts, 4);
    std::vector<int> totals;
    TArchiveTestFile::AfterStep = [&](TArchiveTestFile*) {
        auto* window = dynamic_cast<TCopyFileForm*>(Copy->OpenProgressWindows().at(0));
        if (totals.empty() || totals.back() != window->pbTotal->Position())
            totals.push_back(window->pbTotal->Position());
    };
    Press("btnNext");
    Press("btnNext");
    Press("btnNext");
    // Part 2 is asked for first; proceeding without the disk asks again;
    // then every part in turn, each going on once its disk is in the drive.
    AnswerDisks(1, false);
    AnswerDisks(Parts - 1);
    Press("btnNext");
    Press("btnNext");

    EXPECT_EQ(RunInstall(), "good");
    EXPECT_EQ(Headless()->PendingSteps(), 0);
    for (const auto& [name, data] : Contents)
        EXPECT_TRUE(ReadWin("C:\\Program Files\\Orvex\\" + name) == data) << name;
    Strings expected = {"Please insert disk number 2 | A:\\"};
    for (int part = 2; part <= Parts; ++part)
        expected.push_back("Please insert disk number " + std::to_string(part) + " | A:\\");
    EXPECT_EQ(Prompts, expected);
    // The total rose to 100 percent through the run.
    ASSERT_FALSE(totals.empty());
    EXPECT_TRUE(std::is_sorted(totals.begin(), totals.end()));
    EXPECT_EQ(totals.back(), 100);
    EXPECT_TRUE(Copy->OpenProgressWindows().empty());
}

TEST_F(SplitArchiveTest, CancellingTheProgressWindowStopsTheArchive)
{
    TArchiveTestFile::AfterStep = [this](TArchiveTestFile*) {
        auto* window = dynamic_cast<TCopyFileForm*>(Copy->OpenProgressWindows().at(0));
        window->btnCancel->Click();
    };
    Press("btnNext");
    Press("btnNext");
    Press("btnNext");
    Press("btnFinish"); // the bad-install page
    EXPECT_EQ(RunInstall(), "bad");
    EXPECT_EQ(Headless()->PendingSteps(), 0);
    EXPECT_EQ(Visited, (Strings{"TWelcomePage", "TLicenseForm", "TReadyPage", "TBadInstallForm"}));
    // The run stopped at the first file's progress: the other files never came.
    EXPECT_FALSE(WinFileExists("C:\\Program Files\\Orvex\\readme.txt"));
    EXPECT_FALSE(WinFileExists("C:\\Program Files\\Orvex\\engine.dll"));
    Copy->CloseProgressWindows();
}

} // namespace
} // namespace orvex
