#include "setup/SetupMachine.h"

#include "host/SysUtils.h"
#include "host/forms/Headless.h"
#include "installer/routines_API.h"
#include "installer/routines_Registry.h"
#include "installer/routines_Strings.h"
#include "platform/FileIO.h"
#include "platform/WinPaths.h"
#include "setup/dlgcmp_TBaseContainer.h"
#include "setup/frmMain.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace orvex {

namespace {

void ForceWinFolder(const std::string& winFolder)
{
    const std::string native = NativePath(winFolder);
    if (!native.empty())
        ForceDirectories(native);
}

void WriteWinFile(const std::string& winPath, const std::string& data)
{
    ForceWinFolder(WinExtractFileDir(winPath));
    const std::string native = NativePath(winPath);
    if (native.empty())
        throw Exception("Cannot write " + winPath);
    std::ofstream out(native, std::ios::binary | std::ios::trunc);
    out << data;
    if (!out)
        throw Exception("Cannot write " + winPath);
}

} // namespace

void PrepareMachineFolders()
{
    ForceWinFolder(GetWindowsDir());
    ForceWinFolder(GetSystemDir());
    ForceWinFolder(GetTempDir());
}

std::string EmulateDevelopmentEnvironment(int index)
{
    const TVCLProductInfo& info = VCLProducts.at(static_cast<std::size_t>(index));
    std::string folder = info.Name;
    folder.erase(std::remove(folder.begin(), folder.end(), ' '), folder.end());
    const std::string root = "C:\\Program Files\\Borland\\" + folder;
    WriteRegString(HKEY_LOCAL_MACHINE, info.Key, "RootDir", root);
    WriteRegString(HKEY_CURRENT_USER, std::string(info.Key) + "\\Library", info.LibraryValue,
                   "$(DELPHI)\\Lib;$(DELPHI)\\Bin;$(DELPHI)\\Imports");
    WriteRegString(HKEY_CURRENT_USER, std::string(info.Key) + "\\Known Packages",
                   "$(DELPHI)\\Bin\\dclstd.bpl", "Borland Standard Components");
    TdrvnRegistry reg;
    reg.SetRootKey(HKEY_CURRENT_USER);
    reg.OpenOrCreateKey(std::string(info.Key) + "\\Disabled Packages");
    reg.OpenOrCreateKey(info.PaletteKey);
    reg.CloseKey();
    WriteRegString(HKEY_CURRENT_USER, info.PaletteKey, "Data Access", "TDataSource;TTable;TQuery");
    const std::string help = root + info.HelpFile;
    if (!WinFileExists(help))
        WriteWinFile(help, ":Base " + WinChangeFileExt(WinExtractFileName(help), ".hlp") +
                               "\r\n:Index Borland Help=" + WinChangeFileExt(WinExtractFileName(help), ".hlp") +
                               "\r\n;Third-party Help\r\n");
    ForceWinFolder(root + "\\Bin");
    return root;
}

namespace {

// The native file of the project that stands for an install file, empty
// when none does.
std::string ProjectOutputFor(const std::string& fileName, const std::string& projectDir,
                             const std::string& buildDir)
{
    namespace fs = std::filesystem;
    auto existing = [](const fs::path& p) { return fs::is_regular_file(p) ? p.string() : std::string(); };
    if (SameText(fileName, "vekrun.bpl"))
        return existing(fs::path(buildDir) / "libvekrun.so");
    if (SameText(fileName, "OrvexEditor.exe"))
        return existing(fs::path(buildDir) / "demo" / "orvexdemo");
    if (SameText(fileName, "VekDemo.vek") || SameText(fileName, "SecurityDemo.vek"))
        return existing(fs::path(buildDir) / "orvexsetup" / "demodb" / fileName);
    if (SameText(fileName, "orvex.hlp"))
        return existing(fs::path(projectDir) / "docs" / "architecture.md");
    if (fileName.size() > 4 && SameText(fileName.substr(fileName.size() - 4), ".dcu")) {
        // A compiled unit of the engine: the header of the unit of that name.
        const std::string unit = fileName.substr(0, fileName.size() - 4);
        for (const char* folder : {"storage", "dataset", "sql", "host"}) {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(fs::path(projectDir) / folder, ec)) {
                const fs::path& p = entry.path();
                if (p.extension() == ".h" && SameText(p.stem().string(), unit) && entry.is_regular_file())
                    return p.string();
            }
        }
    }
    return {};
}

} // namespace

TDistributionSources PrepareDistributionSources(TMainForm* form, const std::string& projectDir,
                                                const std::string& buildDir)
{
    TDistributionSources counts;
    for (const TMainForm::TDefinitionFile& entry : form->DefinitionFiles()) {
        TCustomInstallFile* file = entry.File;
        const std::string target = file->SourcePath();
        if (WinFileExists(target)) {
            ++counts.Kept;
            continue;
        }
        // The licence and the readme are the texts the wizard shows.
        const TStrings* text = nullptr;
        if (SameText(file->FileName, "licence.txt"))
            text = form->LicenseDlg->LicenseAgreement();
        else if (SameText(file->FileName, "readme.txt"))
            text = form->ReadmeDlg1->ReadmeText();
        const std::string output =
            text != nullptr ? std::string() : ProjectOutputFor(file->FileName, projectDir, buildDir);
        if (text != nullptr) {
            WriteWinFile(target, text->Text());
            ++counts.FromProject;
        } else if (!output.empty()) {
            ForceWinFolder(file->IncludeFromDir);
            const std::string native = NativePath(target);
            if (native.empty() || !CopyFile(output, native, false))
                throw Exception("Cannot copy " + output + " to " + target);
            ++counts.FromProject;
        } else {
            WriteWinFile(target, "Orvex Database Engine: placeholder for " + file->FileName +
                                     ", a file of the Windows distribution.\r\n");
            ++counts.Placeholders;
        }
    }
    return counts;
}

// ---------------------------------------------------------------- the script

namespace {

// The page the wizard shows in a waiting form, else the form itself.
TWinControl* ScriptTarget(TCustomForm* form, std::string& pageName)
{
    if (auto* container = dynamic_cast<TBaseFormContainer*>(form)) {
        if (TBaseInstallForm* page = container->CurrentPage()) {
            pageName = page->ClassName();
            return page;
        }
    }
    pageName = FormTitle(form);
    return form;
}

TControl* FindScriptControl(TWinControl* parent, const std::string& name)
{
    for (int i = 0; i < parent->ControlCount(); ++i) {
        TControl* c = parent->Controls(i);
        if (SameText(c->Name(), name))
            return c;
        if (auto* win = dynamic_cast<TWinControl*>(c))
            if (TControl* found = FindScriptControl(win, name))
                return found;
    }
    return nullptr;
}

} // namespace

std::string ShownPageName(TCustomForm* form)
{
    std::string name;
    ScriptTarget(form, name);
    return name;
}

namespace {

bool Reachable(const TControl* control, const TControl* top)
{
    for (const TControl* c = control; c != nullptr && c != top; c = c->Parent())
        if (!c->Visible() || !c->Enabled())
            return false;
    return true;
}

} // namespace

void QueueSetupScript(const std::string& script, std::function<void(const std::string& page)> onPage)
{
    THeadlessBackend* headless = Headless();
    if (headless == nullptr)
        throw EHeadlessScript("A script needs the headless backend");
    TStringList lines;
    lines.SetText(script);
    for (int i = 0; i < lines.Count(); ++i) {
        const std::string line = Trim(lines.Get(i));
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t blank = line.find(' ');
        const std::string verb = LowerCase(line.substr(0, blank));
        const std::string rest = blank == std::string::npos ? std::string() : Trim(line.substr(blank + 1));
        if (verb == "answer") {
            headless->Answer(StrToInt(rest));
        } else if (verb == "folder") {
            headless->ChooseFolder(rest);
        } else if (verb == "cancelfolder") {
            headless->CancelFolder();
        } else if (verb == "click" || verb == "set") {
            std::string target = rest;
            std::string text;
            if (verb == "set") {
                const std::size_t space = rest.find(' ');
                target = rest.substr(0, space);
                text = space == std::string::npos ? std::string() : rest.substr(space + 1);
            }
            std::string page;
            std::string control = target;
            if (const std::size_t dot = target.find('.'); dot != std::string::npos) {
                page = target.substr(0, dot);
                control = target.substr(dot + 1);
            }
            headless->Do([=](TCustomForm* form) {
                std::string shown;
                TWinControl* where = ScriptTarget(form, shown);
                if (onPage)
                    onPage(shown);
                if (!page.empty() && !SameText(page, shown))
                    throw EHeadlessScript("Expected the page " + page + " but " + shown + " is shown");
                TControl* c = FindScriptControl(where, control);
                if (c == nullptr)
                    throw EHeadlessScript(shown + " has no control named " + control);
                if (!Reachable(c, where))
                    throw EHeadlessScript(control + " on " + shown + " is disabled or hidden");
                if (verb == "set") {
                    auto* edit = dynamic_cast<TCustomEdit*>(c);
                    if (edit == nullptr)
                        throw EHeadlessScript(control + " on " + shown + " is not an edit");
                    edit->EditedByUser(text);
                } else if (auto* box = dynamic_cast<TCheckBox*>(c)) {
                    box->SetChecked(!box->Checked());
                } else {
                    c->Click();
                }
            });
        } else {
            throw EHeadlessScript("Unknown step in the setup script: " + line);
        }
    }
}

} // namespace orvex
