#include "setup/VCLInstall.h"

#include "host/SysUtils.h"
#include "installer/routines_API.h"
#include "installer/routines_Strings.h"
#include "platform/FileIO.h"
#include "platform/WinPaths.h"

#include <exception>
#include <vector>

namespace orvex {

// ------------------------------------------------------------ the setup log

namespace {

struct TInstallLogState {
    TStringList Lines;
    std::string Folder;
    bool FolderNoted = false;
};

TInstallLogState& LogState()
{
    static TInstallLogState state;
    return state;
}

} // namespace

TStringList* InstallLog()
{
    return &LogState().Lines;
}

void AddInstallLog(const std::string& line)
{
    LogState().Lines.Add(line);
}

void SetInstallLogFolder(const std::string& folder)
{
    LogState().Folder = folder;
    LogState().FolderNoted = true;
}

std::string InstallLogFolder()
{
    TInstallLogState& state = LogState();
    if (!state.FolderNoted) {
        // The temporary folder is the log's folder until a destination is noted.
        try {
            state.Folder = GetTempDir();
            state.FolderNoted = true;
        } catch (const std::exception&) {
        }
    }
    return state.Folder;
}

std::string InstallLogFileName()
{
    std::string folder = InstallLogFolder();
    if (folder.empty() || !WinDirectoryExists(folder))
        folder = GetTempDir();
    return AddBackSlash(folder) + "instlog.txt";
}

void SaveInstallLog()
{
    try {
        const std::string native = NativePath(InstallLogFileName());
        if (!native.empty())
            InstallLog()->SaveToFile(native);
    } catch (const std::exception&) {
        // The log never stops the setup.
    }
}

// --------------------------------------------------- the environments known

const std::array<TVCLProductInfo, VCLProductCount> VCLProducts = {{
    {"Delphi 3", "\\software\\Borland\\Delphi\\3.0", "\\Help\\Delphi3.cfg",
     "\\SOFTWARE\\Borland\\Delphi\\3.0\\Palette", "SearchPath", "dclvek14d3.dpl",
     "dclvek12d3.dpl,dclvek13d3.dpl"},
    {"Delphi 4", "\\software\\Borland\\Delphi\\4.0", "\\Help\\delphi4.ohl",
     "\\SOFTWARE\\Borland\\Delphi\\4.0\\Palette", "Search Path", "dclvek14d4.bpl",
     "dclvek12d4.bpl,dclvek13d4.bpl"},
    {"Delphi 5", "\\software\\Borland\\Delphi\\5.0", "\\Help\\delphi5.ohl",
     "\\SOFTWARE\\Borland\\Delphi\\5.0\\Palette", "Search Path", "dclvek14d5.bpl",
     "dclvek12d5.bpl,dclvek13d5.bpl"},
    {"Delphi 6", "\\software\\Borland\\Delphi\\6.0", "\\Help\\delphi6.ohl",
     "\\SOFTWARE\\Borland\\Delphi\\6.0\\Palette", "Search Path", "dclvek14d6.bpl",
     "dclvek12d6.bpl,dclvek13d6.bpl"},
    {"Builder 6", "\\software\\Borland\\C++Builder\\6.0", "\\Help\\bcb6.ohl",
     "\\SOFTWARE\\Borland\\C++Builder\\6.0\\Palette", "Search Path", "dclvek14b6.bpl",
     "dclvek12b6.bpi"},
    {"Delphi 7", "\\software\\Borland\\Delphi\\7.0", "\\Help\\delphi7.ohl",
     "\\SOFTWARE\\Borland\\Delphi\\7.0\\Palette", "Search Path", "dclvek14d7.bpl",
     "dclvek12d7.bpl,dclvek13d7.bpl"},
}};

std::string VCLPackageName(int index)
{
    static constexpr char Digits[VCLProductCount] = {'3', '4', '5', '6', '6', '7'};
    if (index < 0 || index >= VCLProductCount)
        throw Exception(Format("%d is not a development environment", {index}));
    std::string name = "dclvek14";
    name += index == vpBuilder6 ? 'b' : 'd';
    name += Digits[index];
    name += index == vpDelphi3 ? ".dpl" : ".bpl";
    return name;
}

void VCLPackageNames(int index, TStrings* names)
{
    names->Clear();
    const std::string older = VCLProducts.at(static_cast<std::size_t>(index)).OlderPackages;
    const int count = TokenCount(older, ',');
    for (int i = 1; i <= count; ++i)
        names->Add(GetToken(older, ',', i));
    names->Add(VCLPackageName(index));
}

namespace {

// Whether a name is among the list's, ignoring case as file names do.
bool AmongNames(TStrings* names, const std::string& name)
{
    for (int i = 0; i < names->Count(); ++i)
        if (CompareWinNames(names->Get(i), name) == 0)
            return true;
    return false;
}

// Whether a file exists at a folder joined with a name.
bool FileInFolder(const std::string& folder, const std::string& name)
{
    return WinFileExists(AddBackSlash(folder) + name);
}

} // namespace

TPackageInstaller::TPackageInstaller()
    : FRegistry(new TdrvnRegistry(KEY_READ)), FHelpFiles(new TStringList)
{
    try {
        FindProducts();
    } catch (...) {
        delete FHelpFiles;
        delete FRegistry;
        throw;
    }
}

TPackageInstaller::~TPackageInstaller()
{
    delete FHelpFiles;
    delete FRegistry;
}

const TVCLProductInfo& TPackageInstaller::Info(int index) const
{
    if (index < 0 || index >= VCLProductCount)
        throw Exception(Format("%d is not a development environment", {index}));
    return VCLProducts[static_cast<std::size_t>(index)];
}

TProductRecord TPackageInstaller::Product(int index) const
{
    Info(index);
    return FProducts[static_cast<std::size_t>(index)];
}

void TPackageInstaller::FindProducts()
{
    try {
        FRegistry->CloseKey();
        FRegistry->SetAccess(KEY_READ);
        FRegistry->SetRootKey(HKEY_LOCAL_MACHINE);
        AddInstallLog("Starting find products");
        auto test = [this](int index) {
            const TVCLProductInfo& info = VCLProducts[static_cast<std::size_t>(index)];
            TProductRecord& product = FProducts[static_cast<std::size_t>(index)];
            product = TProductRecord{};
            product.RegKey = info.Key;
            if (!FRegistry->OpenKeyReadOnly(info.Key))
                return;
            AddInstallLog(std::string("Found ") + info.Name + " installation");
            product.Found = true;
            product.RootDir = FRegistry->ReadString("RootDir");
            product.HelpFile = RemoveBackSlash(product.RootDir) + info.HelpFile;
            FRegistry->CloseKey();
        };
        for (int index : {vpDelphi4, vpDelphi5, vpDelphi6, vpDelphi7, vpDelphi3})
            test(index);
        AddInstallLog(std::string("Looking for: ") + VCLProducts[vpBuilder6].Key);
        test(vpBuilder6);
        AddInstallLog("Finished finding products");
        SaveInstallLog();
    } catch (const std::exception& e) {
        FRegistry->CloseKey();
        AddInstallLog(std::string("Find products. Exception ") + e.what());
        SaveInstallLog();
        throw;
    }
}

void TPackageInstaller::InstallIntoPalette(int index, const std::string& page, TStrings* classNames)
{
    const TVCLProductInfo& info = Info(index);
    const std::string prefix = std::string("Install into palette. Product - ") + info.Name;
    try {
        FRegistry->CloseKey();
        FRegistry->SetAccess(KEY_ALL_ACCESS);
        FRegistry->SetRootKey(HKEY_CURRENT_USER);
        if (!FRegistry->OpenKey(info.PaletteKey, false))
            return;
        AddInstallLog(prefix + ". Found Reg Key");
        if (!FRegistry->ValueExists(page)) {
            std::string value;
            for (int i = 0; i < classNames->Count(); ++i) {
                if (i > 0)
                    value += ';';
                value += classNames->Get(i);
            }
            AddInstallLog(prefix + ". Updating Registry");
            FRegistry->WriteString(page, value);
        } else {
            std::string value = FRegistry->ReadString(page);
            AddInstallLog(prefix + ". Existing components: " + value);
            // The page holds class names separated by ";"; a class counts as
            // present when it is one of them (never as part of a longer name).
            TStringList present;
            SplitTokens(value, ';', &present);
            bool added = false;
            for (int i = 0; i < classNames->Count(); ++i) {
                const std::string name = classNames->Get(i);
                bool found = false;
                for (int j = 0; j < present.Count() && !found; ++j)
                    found = SameText(Trim(present.Get(j)), name);
                if (found)
                    continue;
                if (!value.empty() && value.back() != ';')
                    value += ';';
                value += name;
                present.Add(name);
                added = true;
            }
            if (added) {
                AddInstallLog(prefix + ". Updating Registry");
                FRegistry->WriteString(page, value);
            }
        }
        FRegistry->CloseKey();
        AddInstallLog(prefix + ". Completed");
        SaveInstallLog();
    } catch (const std::exception& e) {
        FRegistry->CloseKey();
        AddInstallLog(prefix + ". Exception " + e.what());
        SaveInstallLog();
        throw;
    }
}

int TPackageInstaller::InstallPackage(int index, const std::string& packagePath, TStrings* packageNames,
                                      const std::string& description)
{
    const TVCLProductInfo& info = Info(index);
    const std::string key = RemoveBackSlash(info.Key);
    const std::string product = std::string("Install into VCL. Product - ") + info.Name;
    try {
        FRegistry->CloseKey();
        FRegistry->SetAccess(KEY_ALL_ACCESS);
        FRegistry->SetRootKey(HKEY_CURRENT_USER);
        AddInstallLog(product + ".Installing component: " + packagePath);

        // Values of a package list whose file is one of the package names.
        auto packageValues = [&]() {
            TStringList names;
            FRegistry->GetValueNames(&names);
            std::vector<std::string> matching;
            for (int i = 0; i < names.Count(); ++i)
                if (AmongNames(packageNames, WinExtractFileName(names.Get(i))))
                    matching.push_back(names.Get(i));
            return matching;
        };

        if (FRegistry->OpenKey(key + "\\Disabled Packages", false)) {
            for (const std::string& value : packageValues())
                FRegistry->DeleteValue(value);
            FRegistry->CloseKey();
        }

        const std::string known = key + "\\Known Packages";
        if (!FRegistry->OpenKey(known, false)) {
            AddInstallLog("Error: Unable to open key:" + known);
            SaveInstallLog();
            return -1;
        }
        for (const std::string& value : packageValues()) {
            AddInstallLog("Deleting old package: " + value);
            FRegistry->DeleteValue(value);
        }
        if (!FRegistry->ValueExists(packagePath)) {
            AddInstallLog("Adding package: " + packagePath);
            try {
                FRegistry->WriteString(packagePath, description);
            } catch (const std::exception&) {
                AddInstallLog("Exception: Unable to insert package:" + packagePath);
            }
        }
        FRegistry->CloseKey();

        AddInstallLog("Install into VCL. Updating library path");
        const std::string library = key + "\\Library";
        std::string oldPath;
        if (FRegistry->OpenKey(library, false)) {
            if (FRegistry->ValueExists(info.LibraryValue))
                oldPath = FRegistry->ReadString(info.LibraryValue);
            FRegistry->CloseKey();
        }
        AddInstallLog("Install into VCL. Existing search path: " + oldPath);

        const std::string folder = RemoveBackSlash(WinExtractFileDir(packagePath));
        const std::string newPackage = WinExtractFileName(packagePath);
        std::vector<std::string> items;
        {
            TStringList tokens;
            SplitTokens(oldPath, ';', &tokens);
            for (int i = 0; i < tokens.Count(); ++i) {
                std::string item = Trim(tokens.Get(i));
                if (!item.empty())
                    items.push_back(std::move(item));
            }
        }
        // An item is a folder of an earlier registration when it holds the
        // new package or one of the package names; the package's own folder
        // stays where it is.
        for (std::size_t i = items.size(); i-- > 0;) {
            const std::string& item = items[i];
            if (CompareWinNames(RemoveBackSlash(item), folder) == 0)
                continue;
            bool earlier = FileInFolder(item, newPackage);
            for (int n = 0; n < packageNames->Count() && !earlier; ++n)
                earlier = FileInFolder(item, packageNames->Get(n));
            if (earlier)
                items.erase(items.begin() + static_cast<std::ptrdiff_t>(i));
        }
        bool present = false;
        for (const std::string& item : items)
            present = present || CompareWinNames(RemoveBackSlash(item), folder) == 0;
        if (!present)
            items.push_back(folder);
        std::string newPath;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i > 0)
                newPath += ';';
            newPath += items[i];
        }
        if (newPath != oldPath) {
            if (!FRegistry->OpenKey(library, true))
                throw Exception("Cannot open the key " + library);
            FRegistry->WriteString(info.LibraryValue, newPath);
            FRegistry->CloseKey();
            AddInstallLog("Install into VCL. Updating search path to: " + newPath);
        } else {
            AddInstallLog("Install into VCL. Search path not required to update");
        }
        AddInstallLog(product + ". Completed");
        SaveInstallLog();
        return -1;
    } catch (const std::exception& e) {
        FRegistry->CloseKey();
        AddInstallLog(product + ". Exception " + e.what());
        SaveInstallLog();
        throw;
    }
}

int TPackageInstaller::InstallHelp(int index, const std::string& helpFileName)
{
    Info(index);
    const std::string configFile = FProducts[static_cast<std::size_t>(index)].HelpFile;
    if (configFile.empty() || !WinFileExists(configFile))
        return 255;
    const std::string native = NativePath(configFile);
    FHelpFiles->LoadFromFile(native);
    bool linked = false;
    const std::string wanted = AnsiUpperCase(helpFileName);
    for (int i = FHelpFiles->Count() - 1; i >= 0; --i) {
        const std::string line = AnsiUpperCase(FHelpFiles->Get(i));
        if (Pos(wanted, line) > 0) {
            linked = true;
            break;
        }
        if (Pos("THIRD-PARTY HELP", line) > 0)
            break;
    }
    if (!linked) {
        FHelpFiles->Add(":Link " + helpFileName);
        FHelpFiles->SaveToFile(native);
    }
    // The environment rebuilds its help index from the configuration.
    const std::string gidFile = NativePath(WinChangeFileExt(configFile, ".gid"));
    if (!gidFile.empty() && FileExists(gidFile))
        DeleteFile(gidFile);
    FHelpFiles->Clear();
    return 1;
}

} // namespace orvex
