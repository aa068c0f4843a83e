// The emulated machine's in-use files, delayed renames, RunOnce values,
// restart requests and self-registrations.

#include "platform/WinNextStart.h"

#include "platform/FileIO.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/WinPaths.h"
#include "platform/WinSystem.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace orvex {

namespace {

constexpr std::uint32_t ErrorFileNotFound = 2;
constexpr std::uint32_t ErrorAccessDenied = 5;
constexpr std::uint32_t ErrorSharingViolation = 32;

const char* const SessionManagerKey = "\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char* const PendingRenamesValue = "PendingFileRenameOperations";
const char* const RunOnce = "\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

std::atomic<bool> GDelayedRenamesAllowed{true};

void SetError(std::uint32_t* error, std::uint32_t code)
{
    if (error)
        *error = code;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string TrimText(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return "";
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool RecordRegistration(const std::string& winPath, const std::string& kind, std::uint32_t* error)
{
    if (!WinFileExists(winPath)) {
        SetError(error, ErrorFileNotFound);
        return false;
    }
    std::string full = winPath;
    ExpandWinPath(winPath, full);
    auto store = TRegistryStore::Default();
    if (store->CreateKey(HKEY_LOCAL_MACHINE, SelfRegistrationKey) != TRegResult::Ok ||
        store->SetValue(HKEY_LOCAL_MACHINE, SelfRegistrationKey, full, REG_SZ, kind) != TRegResult::Ok) {
        SetError(error, ErrorAccessDenied);
        return false;
    }
    SetError(error, 0);
    return true;
}

// The INI file as lines.
std::vector<std::string> ReadLines(const std::string& nativeFile)
{
    std::vector<std::string> lines;
    std::ifstream in(nativeFile, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool IsSectionLine(const std::string& line, std::string* name)
{
    const std::string t = TrimText(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']')
        return false;
    if (name)
        *name = t.substr(1, t.size() - 2);
    return true;
}

bool SameName(const std::string& a, const std::string& b)
{
    return CompareWinNames(TrimText(a), TrimText(b)) == 0;
}

// Deletes a file or (deltree) a folder with everything under it.
void RemoveTree(const std::string& native)
{
    if (FileExists(native)) {
        DeleteFile(native);
        return;
    }
    if (!DirectoryExists(native))
        return;
    std::error_code ec;
    std::filesystem::remove_all(native, ec);
}

// Carries out the lines of a batch file the installer writes.
void RunBatch(const std::string& nativeBatch)
{
    for (const std::string& raw : ReadLines(nativeBatch)) {
        std::vector<std::string> words = SplitCommandLine(TrimText(raw));
        if (words.empty())
            continue;
        const std::string verb = Lower(words[0]);
        if ((verb == "erase" || verb == "del") && words.size() >= 2) {
            const std::string target = NativePath(words[1]);
            if (!target.empty() && FileExists(target))
                DeleteFile(target);
        } else if (verb == "move" && words.size() >= 3) {
            const std::string from = NativePath(words[1]), to = NativePath(words[2]);
            if (!from.empty() && !to.empty()) {
                if (FileExists(to))
                    DeleteFile(to);
                RenameFile(from, to);
            }
        } else if (verb == "deltree") {
            for (std::size_t i = 1; i < words.size(); ++i)
                if (Lower(words[i]) != "/y") {
                    const std::string target = NativePath(words[i]);
                    if (!target.empty())
                        RemoveTree(target);
                }
        }
    }
}

void ApplyRename(const std::string& from, const std::string& to)
{
    const std::string nativeFrom = NativePath(from);
    if (nativeFrom.empty() || !FileExists(nativeFrom))
        return;
    if (to.empty() || Lower(to) == "nul") {
        DeleteFile(nativeFrom);
        return;
    }
    std::string nativeTo;
    if (!WinPathToNative(to, nativeTo))
        return;
    if (FileExists(nativeTo))
        DeleteFile(nativeTo);
    RenameFile(nativeFrom, nativeTo);
}

void ApplyWinInit(std::vector<std::string>& done)
{
    std::string windows;
    if (!GetWindowsDirectory(windows))
        return;
    const std::string winInit = windows + "\\WININIT.INI";
    const std::string native = NativePath(winInit);
    if (native.empty() || !FileExists(native))
        return;
    for (const std::string& line : GetPrivateProfileSection("Rename", winInit)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string target = TrimText(line.substr(0, eq)), source = TrimText(line.substr(eq + 1));
        ApplyRename(source, Lower(target) == "nul" ? std::string() : target);
        done.push_back("WININIT " + target + "=" + source);
    }
    // Windows renames the file once it has been carried out.
    RenameFile(native, native.substr(0, native.size() - 4) + ".BAK");
}

} // namespace

bool WinFileInUse(const std::string& winPath)
{
    const std::string native = NativePath(winPath);
    if (native.empty() || !FileExists(native))
        return false;
    TFileError error = TFileError::None;
    auto probe = TPlatformFile::Open(native, TFileAccess::Write, TFileShare::DenyNone, TFileCreate::OpenExisting,
                                     &error);
    return !probe && error == TFileError::SharingViolation;
}

bool WinDeleteFile(const std::string& winPath, std::uint32_t* error)
{
    const std::string native = NativePath(winPath);
    if (native.empty() || !FileExists(native)) {
        SetError(error, ErrorFileNotFound);
        return false;
    }
    if (WinFileInUse(winPath)) {
        SetError(error, ErrorSharingViolation);
        return false;
    }
    if (!DeleteFile(native)) {
        SetError(error, ErrorAccessDenied);
        return false;
    }
    SetError(error, 0);
    return true;
}

bool WinReplaceFile(const std::string& from, const std::string& to, std::uint32_t* error)
{
    std::string nativeFrom = NativePath(from), nativeTo;
    if (nativeFrom.empty() || !FileExists(nativeFrom) || !WinPathToNative(to, nativeTo)) {
        SetError(error, ErrorFileNotFound);
        return false;
    }
    if (WinFileInUse(to)) {
        SetError(error, ErrorSharingViolation);
        return false;
    }
    if (!RenameFile(nativeFrom, nativeTo)) {
        SetError(error, ErrorAccessDenied);
        return false;
    }
    SetError(error, 0);
    return true;
}

void SetDelayedRenamesAllowed(bool allowed)
{
    GDelayedRenamesAllowed = allowed;
}

bool MoveFileDelayUntilReboot(const std::string& from, const std::string& to)
{
    if (!GDelayedRenamesAllowed)
        return false;
    auto store = TRegistryStore::Default();
    if (store->CreateKey(HKEY_LOCAL_MACHINE, SessionManagerKey) != TRegResult::Ok)
        return false;
    TRegValue value;
    std::string data;
    if (store->QueryValue(HKEY_LOCAL_MACHINE, SessionManagerKey, PendingRenamesValue, value) == TRegResult::Ok)
        data = value.Data;
    data += from + '\0' + to + '\0';
    return store->SetValue(HKEY_LOCAL_MACHINE, SessionManagerKey, PendingRenamesValue, REG_BINARY, data) ==
           TRegResult::Ok;
}

std::vector<std::pair<std::string, std::string>> PendingDelayedRenames()
{
    std::vector<std::pair<std::string, std::string>> result;
    TRegValue value;
    if (TRegistryStore::Default()->QueryValue(HKEY_LOCAL_MACHINE, SessionManagerKey, PendingRenamesValue, value) !=
        TRegResult::Ok)
        return result;
    std::vector<std::string> parts;
    std::string current;
    for (char c : value.Data) {
        if (c == '\0') {
            parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2)
        result.emplace_back(parts[i], parts[i + 1]);
    return result;
}

bool RequestRestart(TRestartKind kind)
{
    auto store = TRegistryStore::Default();
    if (store->CreateKey(HKEY_LOCAL_MACHINE, RestartKey) == TRegResult::Ok) {
        const std::uint32_t count = static_cast<std::uint32_t>(RestartRequestCount() + 1);
        std::string data(4, '\0');
        for (int i = 0; i < 4; ++i)
            data[i] = static_cast<char>((count >> (8 * i)) & 0xFF);
        store->SetValue(HKEY_LOCAL_MACHINE, RestartKey, "Requests", REG_DWORD, data);
        store->SetValue(HKEY_LOCAL_MACHINE, RestartKey, "Last", REG_SZ,
                        kind == TRestartKind::Reboot ? "Reboot" : "RebootWithShutdownPrivilege");
    }
    return false; // the emulated machine never restarts
}

int RestartRequestCount()
{
    TRegValue value;
    if (TRegistryStore::Default()->QueryValue(HKEY_LOCAL_MACHINE, RestartKey, "Requests", value) != TRegResult::Ok ||
        value.Type != REG_DWORD || value.Data.size() != 4)
        return 0;
    std::uint32_t count = 0;
    for (int i = 3; i >= 0; --i)
        count = (count << 8) | static_cast<std::uint8_t>(value.Data[i]);
    return static_cast<int>(count);
}

bool SelfRegisterLibrary(const std::string& winPath, std::uint32_t* error)
{
    return RecordRegistration(winPath, "DllRegisterServer", error);
}

bool SelfRegisterProgram(const std::string& winPath, std::uint32_t* error)
{
    return RecordRegistration(winPath, "RegServer", error);
}

bool RegisterTypeLibrary(const std::string& winPath, const std::string& helpFolder, std::uint32_t* error)
{
    return RecordRegistration(winPath, "TypeLib;" + helpFolder, error);
}

std::string SelfRegistrationOf(const std::string& winPath)
{
    std::string full = winPath;
    ExpandWinPath(winPath, full);
    TRegValue value;
    if (TRegistryStore::Default()->QueryValue(HKEY_LOCAL_MACHINE, SelfRegistrationKey, full, value) != TRegResult::Ok)
        return "";
    return value.Data;
}

bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& winFile)
{
    std::string native;
    if (!WinPathToNative(winFile, native))
        return false;
    std::vector<std::string> lines = ReadLines(native);
    const std::string entry = key + "=" + value;
    bool inSection = false, done = false;
    std::size_t sectionEnd = std::string::npos;
    for (std::size_t i = 0; i < lines.size() && !done; ++i) {
        std::string name;
        if (IsSectionLine(lines[i], &name)) {
            if (inSection) {
                sectionEnd = i;
                break;
            }
            inSection = SameName(name, section);
            if (inSection)
                sectionEnd = lines.size();
            continue;
        }
        const auto eq = lines[i].find('=');
        if (inSection && eq != std::string::npos && SameName(lines[i].substr(0, eq), key)) {
            lines[i] = entry;
            done = true;
        }
    }
    if (!done) {
        if (sectionEnd == std::string::npos) {
            lines.push_back("[" + section + "]");
            lines.push_back(entry);
        } else {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(sectionEnd), entry);
        }
    }
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    auto file = TPlatformFile::Open(native, TFileAccess::Write, TFileShare::DenyWrite, TFileCreate::CreateAlways);
    return file && file->WriteAt(0, text.data(), static_cast<std::int64_t>(text.size())) ==
                       static_cast<std::int64_t>(text.size());
}

std::vector<std::string> GetPrivateProfileSection(const std::string& section, const std::string& winFile)
{
    std::vector<std::string> result;
    const std::string native = NativePath(winFile);
    if (native.empty())
        return result;
    bool inSection = false;
    for (const std::string& line : ReadLines(native)) {
        std::string name;
        if (IsSectionLine(line, &name)) {
            inSection = SameName(name, section);
            continue;
        }
        if (inSection && !TrimText(line).empty() && TrimText(line)[0] != ';')
            result.push_back(TrimText(line));
    }
    return result;
}

std::vector<std::string> RunNextStart(int timeoutMs)
{
    std::vector<std::string> done;
    ApplyWinInit(done);
    auto store = TRegistryStore::Default();
    for (const auto& [from, to] : PendingDelayedRenames()) {
        ApplyRename(from, to);
        done.push_back("RENAME " + from + " -> " + to);
    }
    store->DeleteValue(HKEY_LOCAL_MACHINE, SessionManagerKey, PendingRenamesValue);
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        std::vector<TRegValue> values;
        if (store->Values(root, RunOnce, values) != TRegResult::Ok)
            continue;
        for (const TRegValue& value : values) {
            store->DeleteValue(root, RunOnce, value.Name);
            // A value that names a file as a whole is that file (its path may
            // hold blanks); otherwise it is a command line.
            std::vector<std::string> words;
            if (WinFileExists(value.Data))
                words.push_back(value.Data);
            else
                words = SplitCommandLine(value.Data);
            if (words.empty())
                continue;
            done.push_back(value.Data);
            std::string program;
            if (!WinPathToNative(words[0], program) || !FileExists(program))
                continue;
            if (Lower(program).size() > 4 && Lower(program).substr(program.size() - 4) == ".bat") {
                RunBatch(program);
                continue;
            }
            TProcessStart start;
            start.Program = program;
            start.Arguments.assign(words.begin() + 1, words.end());
            std::uint32_t error = 0;
            if (auto child = TChildProcess::Start(start, error))
                child->WaitFor(timeoutMs);
        }
    }
    return done;
}

} // namespace orvex
