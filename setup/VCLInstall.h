#pragma once
// Registration of the engine's design-time package in the development
// environments found on the machine, and the setup log.
//
// TPackageInstaller detects the six environments it knows from their keys
// under HKEY_LOCAL_MACHINE and, after a good installation, registers the
// package in a chosen one: its component palette page, its lists of known
// and disabled packages, its library search path (all under
// HKEY_CURRENT_USER) and the help link in its help configuration file.
//
// The setup log is one list of lines for the whole program, saved whole as
// "instlog.txt" after each step: in the folder last noted as the
// destination while that folder exists, else in the temporary folder.

#include "host/Classes.h"
#include "installer/cmp_TDrvnRegistry.h"

#include <array>
#include <string>

namespace orvex {

// ------------------------------------------------------------ the setup log

// The program's setup log.
TStringList* InstallLog();
// Appends a line (not saved yet).
void AddInstallLog(const std::string& line);
// Notes the folder the log is saved in (a Windows-form path).
void SetInstallLogFolder(const std::string& folder);
std::string InstallLogFolder();
// The file the log is saved as now: "instlog.txt" in the noted folder when
// it exists, else in the temporary folder.
std::string InstallLogFileName();
// Saves the whole log over its file; a failure is ignored.
void SaveInstallLog();

// --------------------------------------------------- the environments known

// The environments by index.
enum TVCLProduct : int { vpDelphi3, vpDelphi4, vpDelphi5, vpDelphi6, vpBuilder6, vpDelphi7 };
inline constexpr int VCLProductCount = 6;

struct TVCLProductInfo {
    const char* Name;          // "Delphi 5"
    const char* Key;           // detection key under HKEY_LOCAL_MACHINE
    const char* HelpFile;      // help configuration file under "RootDir"
    const char* PaletteKey;    // palette key under HKEY_CURRENT_USER
    const char* LibraryValue;  // the search path's value name
    const char* Package;       // the design-time package
    const char* OlderPackages; // earlier packages, removed on registration
};
extern const std::array<TVCLProductInfo, VCLProductCount> VCLProducts;

// The design-time package's name: "dclvek14", the product letter ("d", or
// "b" for C++Builder), the version digit and ".dpl" (the oldest) or ".bpl".
std::string VCLPackageName(int index);
// The names handed to the registration: the older packages, then the new one.
void VCLPackageNames(int index, TStrings* names);

// What detection found of one environment.
struct TProductRecord {
    bool Found = false;
    std::string RootDir;  // its "RootDir" value
    std::string RegKey;   // its detection key
    std::string HelpFile; // "RootDir" and its help configuration file
};

class TPackageInstaller : public TObject {
public:
    // Creates the registry object and detects the environments.
    TPackageInstaller();
    ~TPackageInstaller() override;

    // A copy of an environment's record; an index outside 0..5 raises.
    TProductRecord Product(int index) const;

    // Adds the classes to the palette page of the environment (nothing
    // happens when it has no palette key).
    void InstallIntoPalette(int index, const std::string& page, TStrings* classNames);
    // Registers the package file with its description: removes the package
    // names from the disabled and known packages, adds the package, and
    // brings the library search path up to date. Answers -1.
    int InstallPackage(int index, const std::string& packagePath, TStrings* packageNames,
                       const std::string& description);
    // Links the help file in the environment's help configuration file and
    // removes the environment's help index. Answers 1, or 255 (touching
    // nothing) when the configuration file does not exist.
    int InstallHelp(int index, const std::string& helpFileName);

private:
    void FindProducts();
    const TVCLProductInfo& Info(int index) const;
    std::array<TProductRecord, VCLProductCount> FProducts;
    TdrvnRegistry* FRegistry;
    TStringList* FHelpFiles;
};

} // namespace orvex
