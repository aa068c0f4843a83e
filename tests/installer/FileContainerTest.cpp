#include "host/forms/Forms.h"
#include "installer/cmp_TInstall.h"
#include "installer/cmp_TInstallContainer.h"
#include "installer/cmp_TNetInstallLocation.h"
#include "installer/exceptions_Dorvane.h"
#include "installer/routines_FileSystem.h"
#include "installer/routines_Registry.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace orvex {
namespace {

std::string ReadWin(const std::string& winPath)
{
    std::ifstream in(NativePath(winPath), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// An install, a directory "Programs" and a group "Docs" holding a directory
// "Manuals", each directory with files from C:\src; built outside loading,
// so every reference takes its stock specifier at once.
class FileContainerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Install = new TInstall(Form);
        Install->SetName("Install");
        Install->SourceDirectory = "C:\\build";
        Programs = Make<TInstallDirectory>("Programs", Install);
        Programs->Description = "Programs";
        Programs->SetDestDir("\\Bin");
        Docs = Make<TInstallGroup>("Docs", Install);
        Manuals = Make<TInstallDirectory>("Manuals", Docs);
        Manuals->SetDestDir("\\Manuals");
        AddFile(Programs, "app.exe", std::string(5000, 'a'));
        AddFile(Programs, "readme.txt", "read me");
        AddFile(Manuals, "guide.txt", std::string(100000, 'g'));
        AddFile(Manuals, "empty.txt", "");
    }
    void TearDown() override { delete Form; }

    template <class T>
    T* Make(const std::string& name, TInstallContainer* container)
    {
        auto* object = new T(Form);
        object->SetName(name);
        object->SetContainer(container);
        return object;
    }
    TInstallFile* AddFile(TFileContainer* container, const std::string& name, const std::string& data)
    {
        TTempWindowsRoot::WriteFile("C:\\src\\" + name, data);
        auto* file = new TInstallFile(Form);
        file->SetName(InstallFileComponentName(Form, name));
        file->FileName = name;
        file->DestName = name;
        file->IncludeFromDir = "C:\\src";
        file->SetContainer(container);
        Files.push_back(file);
        return file;
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
    TForm* Form = new TForm(nullptr);
    TInstall* Install = nullptr;
    TInstallDirectory* Programs = nullptr;
    TInstallGroup* Docs = nullptr;
    TInstallDirectory* Manuals = nullptr;
    std::vector<TInstallFile*> Files;
};

TEST_F(FileContainerTest, TheTreeCompressesIntoTheMainArchiveAndReadsItBack)
{
    EXPECT_EQ(Files[0]->Name(), "IFapp_exe1");
    EXPECT_EQ(Programs->ArchivePath(), "C:\\build\\files.1");
    EXPECT_EQ(Files[2]->ArchivePath(), "C:\\build\\files.1");

    std::vector<std::string> events;
    Install->OnBeforeProcess = [&](TObject*) { events.push_back("before"); };
    Install->Compress(coContainerArchive | coForceNetFilesLocal);
    EXPECT_FALSE(Install->Busy());
    // The children's archive settings come back as they were.
    EXPECT_EQ(Files[0]->ArchiveFile(), "");
    EXPECT_NE(Files[0]->ArchiveFileType(), nullptr);
    EXPECT_EQ(Files[0]->ArchiveState, 2);

    TDrvnCompress archive(nullptr);
    archive.SetCompressedFile("C:\\build\\files.1");
    archive.ReadHeaders();
    ASSERT_EQ(archive.FileCount(), 4);
    for (TInstallFile* file : Files)
        EXPECT_EQ(archive.Headers().FileHeaders(archive.IndexOfFileID(file->UniqueID()))->Record.SourcePath,
                  file->SourcePath());

    for (TInstallFile* file : Files) {
        file->SourceSize = 0;
        file->InfoRead = false;
    }
    Install->ReadInfoFromArchive();
    EXPECT_EQ(Files[2]->SourceSize, 100000);
    EXPECT_EQ(Install->SizeOfFiles(true, true), 5000 + 7 + 100000);
    EXPECT_EQ(Install->SizeOfFiles(true, false), 0);
    EXPECT_EQ(Docs->SizeWithSubContainers(), 100000);
    EXPECT_GT(Install->CompressedSize(), 0);
    EXPECT_LT(Install->CompressedSize(), 5000 + 7 + 100000);
    EXPECT_EQ(events, std::vector<std::string>{"before"});
}

TEST_F(FileContainerTest, AContainerWithItsOwnArchiveBuildsItUnderTheBuildFolder)
{
    Manuals->SetArchiveFileType(StandardPathSpecList()->FindByClass(&TpsWindow::ClassInfo));
    Manuals->SetArchiveFile("manuals.1");
    const std::string own = Manuals->ArchivePath();
    ASSERT_EQ(own.substr(1, 2), ":\\");
    Install->Compress(coContainerArchive | coForceNetFilesLocal);
    EXPECT_EQ(Manuals->ArchivePath(), own);
    TDrvnCompress archive(nullptr);
    archive.SetCompressedFile("C:\\build\\" + own.substr(3));
    archive.ReadHeaders();
    EXPECT_EQ(archive.FileCount(), 2);
    archive.SetCompressedFile("C:\\build\\files.1");
    archive.ReadHeaders();
    EXPECT_EQ(archive.FileCount(), 2);
}

TEST_F(FileContainerTest, CopyInstallsUncompressedIntoTheDestinations)
{
    Install->Copy();
    const std::string main = Install->DestinationDirectory();
    EXPECT_EQ(main, GetProgramFilesFolder() + "\\MyApplication");
    EXPECT_EQ(Programs->DestinationDirectory(), main + "\\Bin");
    EXPECT_EQ(ReadWin(main + "\\Bin\\readme.txt"), "read me");
    EXPECT_EQ(ReadWin(main + "\\Manuals\\guide.txt"), std::string(100000, 'g'));
    EXPECT_TRUE(WinFileExists(main + "\\Manuals\\empty.txt"));
    EXPECT_EQ(Install->TotalSize(), 105007);
    EXPECT_FALSE(Programs->Busy());
}

TEST_F(FileContainerTest, FileEventsAroundCompressAndCopyAndASilentAbortSkipsTheFile)
{
    std::vector<std::string> events;
    for (TInstallFile* file : Files) {
        const std::string name = file->FileName;
        file->OnBeforeCompress = [&events, name](TObject*) {
            events.push_back("before compress " + name);
            if (name == "readme.txt")
                throw EAbort("");
        };
        file->OnAfterCompress = [&events, name](TObject*) { events.push_back("after compress " + name); };
        file->OnBeforeCopy = [&events, name](TObject*) {
            events.push_back("before copy " + name);
            if (name == "guide.txt")
                throw EAbort("");
        };
        file->OnAfterCopy = [&events, name](TObject*) { events.push_back("after copy " + name); };
    }
    Files[0]->SetState(ifsCompress);
    Files[1]->SetState(ifsCompress);
    EXPECT_EQ(events, (std::vector<std::string>{"before compress app.exe", "after compress app.exe",
                                                "before compress readme.txt"}));
    TDrvnCompress archive(nullptr);
    archive.SetCompressedFile(Files[0]->ArchivePath());
    archive.ReadHeaders();
    EXPECT_EQ(archive.FileCount(), 1);
    EXPECT_EQ(Files[1]->ArchiveState, 0);

    events.clear();
    Files[1]->SetState(ifsCopying);
    Files[2]->SetState(ifsCopying);
    EXPECT_EQ(events, (std::vector<std::string>{"before copy readme.txt", "after copy readme.txt",
                                                "before copy guide.txt"}));
    const std::string main = Install->DestinationDirectory();
    EXPECT_TRUE(WinFileExists(main + "\\Bin\\readme.txt"));
    EXPECT_FALSE(WinFileExists(main + "\\Manuals\\guide.txt"));
    EXPECT_EQ(Files[2]->State, ifsNone);
}

TEST_F(FileContainerTest, BuildOptionsAndNetworkArchives)
{
    EXPECT_EQ(ErrorOf([&] { Install->Compress(coForceNetFilesLocal | coForceFilesNet); }),
              "Cannot pass both coForceNetFilesLocal and coForceFilesNet to Compress");
    EXPECT_FALSE(WinFileExists("C:\\build\\files.1"));
    // Network files without a location anywhere.
    EXPECT_EQ(ErrorOf([&] { Install->Compress(coForceFilesNet); }),
              "Could not find a net install location for Manuals");

    auto* location = new TNetInstallLocation(Form);
    location->LoginInformation()->Hostname = "files.example:8080";
    location->LoginInformation()->Directory = "pub/setup";
    Install->SetNetLocation(location);
    EXPECT_EQ(Programs->NetArchivePath("Programs", location), "C:\\build\\files.example8080\\pub-setup\\Programs.1");
    location->LoginInformation()->Directory = "";
    location->LoginInformation()->Protocol = ipFTP;
    EXPECT_EQ(Programs->NetArchivePath("Programs", location), "C:\\build\\FTP\\files.example8080\\Programs.1");

    // Every file into its network archive: the containers' own archive for
    // files without their own location.
    Install->Compress(coForceFilesNet);
    TDrvnCompress archive(nullptr);
    archive.SetCompressedFile("C:\\build\\FTP\\files.example8080\\Programs.1");
    archive.ReadHeaders();
    EXPECT_EQ(archive.FileCount(), 2);
    EXPECT_EQ(Files[0]->ArchiveState, 1);
}

TEST_F(FileContainerTest, TheContainersSpecifier)
{
    TpsFileContainer* specifier = Programs->FileContainerSpecifier();
    ASSERT_NE(specifier, nullptr);
    EXPECT_EQ(specifier->Name(), "psFileContainer");
    EXPECT_EQ(Manuals->FileContainerSpecifier()->Name(), "psFileContainer2");
    EXPECT_EQ(Install->FileContainerSpecifier(), nullptr);
    std::string text;
    specifier->GetDescription(text);
    EXPECT_EQ(text, "Path into which Programs will be installed");
    specifier->GetDisplayName(text);
    EXPECT_EQ(text, "<Programs>");
    EXPECT_EQ(specifier->PathFor(nullptr), Install->DestinationDirectory() + "\\Bin");
    for (TObject* asking : std::vector<TObject*>{Manuals, Docs, Files[2]})
        EXPECT_EQ(ErrorOf([&] { specifier->PathFor(asking); }),
                  "A file container cannot reference another file container or group");

    // A clash while renaming renames the other component.
    auto* other = new TComponent(Form);
    other->SetName("psTaken");
    specifier->SetName("psTaken");
    EXPECT_EQ(specifier->Name(), "psTaken");
    EXPECT_EQ(other->Name().rfind("nameClash", 0), 0u);

    delete Programs;
    EXPECT_EQ(Form->FindComponent("psTaken"), specifier);
    specifier->GetDescription(text);
    EXPECT_EQ(text, "Path specifier for unknown file container");
}

TEST_F(FileContainerTest, FindingFilesCleaningUpAndDownloadedArchives)
{
    EXPECT_EQ(Programs->FindFileBySourcePath("c:\\SRC\\README.TXT"), Files[1]);
    EXPECT_EQ(Programs->FindFileBySourcePath("C:\\src\\guide.txt"), nullptr);

    std::filesystem::remove(NativePath("C:\\src\\readme.txt"));
    Programs->CleanUp();
    EXPECT_EQ(Programs->ChildCount(), 1);
    EXPECT_EQ(Programs->Children(0)->Name(), "IFapp_exe1");

    EXPECT_EQ(ErrorOf([&] { Manuals->DownloadedArchivePath(); }),
              "Manuals has not yet downloaded the archive file and therefore cannot retrieve the path of the "
              "archive file");
    Install->RecordKeyPath = "\\SOFTWARE\\Kelm\\Install\\Install0";
    TTempWindowsRoot::WriteFile("C:\\temp\\dl.1", "x");
    Manuals->RememberDownloadedArchive("C:\\temp\\dl.1");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Kelm\\Install\\Install0\\Manuals", "LocalFile", ""),
              "C:\\temp\\dl.1");
    Manuals->LocalArchive.clear();
    EXPECT_EQ(Manuals->DownloadedArchivePath(), "C:\\temp\\dl.1"); // found again under the record
}

} // namespace
} // namespace orvex
