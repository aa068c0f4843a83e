// The run's journal: what an installation changed, so that a bad end (or the
// next run after a killed one) can put the machine back as it was.
//
// The journal is "RUN.JNL" in a folder "DRVN" + 8 hexadecimal digits that
// the run creates exclusively (only its user may enter it) under the
// temporary folder; the install record names it as "Journal" before the
// folder exists, so that a run killed at any moment leaves nothing the next
// run cannot find. One line per change, written and flushed to the disk
// before the change is made; every field is hexadecimal so that any byte
// survives:
//   D folder                             a destination folder of the run
//   K root path                          a key the run created
//   V root path name had type data       a value's former state
//   F dest backup                        a destination replaced (backup "x": it was new)
//   P file copy                          a file rewritten in place (copy "x": it was new)
//   T file                               a temporary file of the run
//   M folder outermost                   folders the run made (outermost: the first missing)
//   C                                    the run ended well: keep its changes
// Playback runs backwards. A journal whose last line is "C" is finished by
// dropping the backups (the run was killed while it did so).

#include "installer/cmp_TInstall.h"

#include "host/SysUtils.h"
#include "installer/exceptions_Dorvane.h"
#include "installer/routines_API.h"
#include "installer/routines_Registry.h"
#include "installer/routines_Strings.h"
#include "platform/FileIO.h"
#include "platform/Registry.h"
#include "platform/WinPaths.h"

#include <cctype>
#include <cstdio>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace orvex {

namespace {

const char* const JournalFileName = "RUN.JNL";
const char* const JournalFolderPrefix = "DRVN";
// A journal longer than this is not one this program wrote.
constexpr std::int64_t MaxJournalSize = 256LL * 1024 * 1024;

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out = "x"; // never empty
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Unhex(const std::string& text)
{
    if (text.empty() || text[0] != 'x' || text.size() % 2 == 0)
        throw std::invalid_argument("not a journal field");
    std::string out;
    for (std::size_t i = 1; i + 1 < text.size(); i += 2) {
        auto nibble = [](char c) {
            if (c >= '0' && c <= '9')
                return c - '0';
            if (c >= 'a' && c <= 'f')
                return c - 'a' + 10;
            throw std::invalid_argument("not a journal field");
        };
        out += static_cast<char>(nibble(text[i]) * 16 + nibble(text[i + 1]));
    }
    return out;
}

const char* const RecordRootPath = "SOFTWARE\\Kelm\\Install";

// Changes to the install record itself are not undone (the record is the
// journal's home and is cleaned by the run's ends).
bool IsRecordPath(HKEY root, const std::string& path)
{
    if (root != HKEY_LOCAL_MACHINE)
        return false;
    std::string p = path;
    while (!p.empty() && p.front() == '\\')
        p.erase(0, 1);
    const std::string record = RecordRootPath;
    if (p.size() <= record.size())
        return CompareText(p, record.substr(0, p.size())) == 0 &&
               (p.size() == record.size() || record[p.size()] == '\\');
    return CompareText(p.substr(0, record.size()), record) == 0 && p[record.size()] == '\\';
}

bool Occupied(const std::string& native)
{
    return FileExists(native) || DirectoryExists(native) || IsSymbolicLink(native);
}

// A free name beside winPath for its backup: "name.~bak", else "name.~bak1", ...
std::string FreeBackupName(const std::string& winPath)
{
    for (int n = 0; n < 1000; ++n) {
        const std::string name = winPath + ".~bak" + (n == 0 ? std::string() : std::to_string(n));
        const std::string native = NativePath(name);
        if (!native.empty() && !Occupied(native))
            return name;
    }
    throw IEInstall("Cannot create the file %s", {winPath + ".~bak"});
}

// Whether backup is a backup name the journal gives dest: beside it, named
// after it.
bool IsBackupOf(const std::string& backup, const std::string& dest)
{
    std::string b, d;
    if (!ExpandWinPath(backup, b) || !ExpandWinPath(dest, d))
        return false;
    const std::string prefix = d + ".~bak";
    if (b.size() < prefix.size() || CompareWinNames(b.substr(0, prefix.size()), prefix) != 0)
        return false;
    for (std::size_t i = prefix.size(); i < b.size(); ++i)
        if (b[i] < '0' || b[i] > '9')
            return false;
    return true;
}

// Whether folder (expanded) lies inside a destination folder the journal
// named, or is one.
bool InsideAny(const std::string& path, const std::vector<std::string>& folders)
{
    std::string p;
    if (!ExpandWinPath(path, p))
        return false;
    for (const std::string& folder : folders) {
        const std::string f = AddBackSlash(folder);
        if (p.size() > f.size() && CompareWinNames(p.substr(0, f.size()), f) == 0)
            return true;
    }
    return false;
}

// A destination folder that a journal may name: absolute, on a mapped drive,
// not a drive's root.
bool UsableFolder(const std::string& folder, std::string& expanded)
{
    return ExpandWinPath(folder, expanded) && expanded.size() > 3;
}

// The Windows-form journal path that the record names, checked: the file
// "RUN.JNL" in a folder "DRVN" + 8 hexadecimal digits directly under the
// temporary folder. Empty when the name is anything else.
std::string CheckedJournalName(const std::string& name)
{
    std::string expanded, temp;
    if (!ExpandWinPath(name, expanded) || !ExpandWinPath(GetTempDir(), temp))
        return {};
    if (CompareWinNames(WinExtractFileName(expanded), JournalFileName) != 0)
        return {};
    const std::string folder = RemoveBackSlash(WinExtractFileDir(expanded));
    if (CompareWinNames(RemoveBackSlash(WinExtractFileDir(folder)), RemoveBackSlash(temp)) != 0)
        return {};
    const std::string folderName = WinExtractFileName(folder);
    if (folderName.size() != 12 || folderName.compare(0, 4, JournalFolderPrefix) != 0)
        return {};
    for (std::size_t i = 4; i < folderName.size(); ++i)
        if (!std::isxdigit(static_cast<unsigned char>(folderName[i])))
            return {};
    return expanded;
}

std::string RandomFolderName()
{
    static std::mt19937 random(std::random_device{}());
    char digits[16];
    std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(random()));
    return std::string(JournalFolderPrefix) + digits;
}

} // namespace

bool TInstallJournal::TWinNameLess::operator()(const std::string& a, const std::string& b) const
{
    return CompareWinNames(a, b) < 0;
}

void JournalRegistryChange(const TRegChange& change, void* context)
{
    auto* journal = static_cast<TInstallJournal*>(context);
    if (IsRecordPath(change.Root, change.Path))
        return;
    if (change.Kind == TRegChange::KeyCreated) {
        journal->Append("K " + std::to_string(change.Root) + " " + Hex(change.Path));
        return;
    }
    journal->Append("V " + std::to_string(change.Root) + " " + Hex(change.Path) + " " + Hex(change.Name) + " " +
                    (change.HadValue ? "1" : "0") + " " + std::to_string(change.Former.Type) + " " +
                    Hex(change.Former.Data));
}

TInstallJournal::~TInstallJournal()
{
    if (Active())
        SetRegistryChangeObserver(nullptr, nullptr);
}

std::string TInstallJournal::NewName()
{
    return AddBackSlash(GetTempDir()) + RandomFolderName() + "\\" + JournalFileName;
}

void TInstallJournal::Start(const std::string& recordKey, TPathCheck allowed, std::string name)
{
    FRecordKey = recordKey;
    FAllowed = std::move(allowed);
    FKept.clear();
    FDestinations.clear();
    FSize = 0;
    const std::string temp = GetTempDir();
    ForceDirectories(NativePath(temp));
    DropFinished();
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (name.empty() || CheckedJournalName(name).empty())
            name = NewName();
        const std::string folder = RemoveBackSlash(WinExtractFileDir(name));
        const std::string nativeFolder = NativePath(folder);
        if (nativeFolder.empty())
            break;
        // The record names the journal before its folder exists: a run killed
        // after this leaves a name the next run finds.
        if (CompareWinNames(ReadRegString(HKEY_LOCAL_MACHINE, recordKey, "Journal", ""), name) != 0)
            WriteRegString(HKEY_LOCAL_MACHINE, recordKey, "Journal", name);
        if (!CreatePrivateDir(nativeFolder)) {
            name.clear(); // taken (or not creatable): another name
            continue;
        }
        FFile = nativeFolder + "/" + JournalFileName;
        FHandle = TPlatformFile::Open(FFile, TFileAccess::ReadWrite, TFileShare::DenyWrite, TFileCreate::CreateNew);
        if (!FHandle) {
            RemoveDir(nativeFolder);
            break;
        }
        FlushDirectoryOf(FFile);
        SetRegistryChangeObserver(&JournalRegistryChange, this);
        return;
    }
    TRegistryStore::Default()->DeleteValue(HKEY_LOCAL_MACHINE, recordKey, "Journal");
    FFile.clear();
    throw IEInstall("Cannot create the file %s", {AddBackSlash(temp) + JournalFileName});
}

void TInstallJournal::DropFinished()
{
    std::string temp;
    if (!ExpandWinPath(GetTempDir(), temp))
        return;
    const std::string nativeTemp = NativePath(temp);
    if (nativeTemp.empty())
        return;
    for (const std::string& entry : FolderEntries(nativeTemp)) {
        const std::string name = AddBackSlash(temp) + Utf8NameToWin1252(entry) + "\\" + JournalFileName;
        if (CheckedJournalName(name).empty())
            continue;
        const std::string folder = nativeTemp + "/" + entry;
        const std::string file = folder + "/" + JournalFileName;
        if (IsSymbolicLink(folder) || IsSymbolicLink(file) || !FileExists(file))
            continue;
        std::string text;
        if (ReadJournal(file, text) && Ended(text))
            Drop(file);
    }
}

void TInstallJournal::Append(const std::string& line)
{
    if (!FHandle)
        return;
    const std::string text = line + "\n";
    const auto size = static_cast<std::int64_t>(text.size());
    if (FHandle->WriteAt(FSize, text.data(), size) != size || !FHandle->Flush()) {
        // What is not journalled must not happen.
        FHandle->Truncate(FSize);
        throw IEInstall("Cannot write the file %s", {NativeToWinPath(FFile)});
    }
    FSize += size;
}

bool TInstallJournal::FirstTime(const std::string& winPath)
{
    std::string expanded;
    if (!ExpandWinPath(winPath, expanded))
        return false;
    return FKept.insert(expanded).second;
}

void TInstallJournal::Destination(const std::string& folder)
{
    std::string expanded;
    if (!Active() || !UsableFolder(folder, expanded) || !FDestinations.insert(expanded).second)
        return;
    Append("D " + Hex(expanded));
}

void TInstallJournal::BeforeReplace(const std::string& winPath)
{
    std::string native;
    if (!Active() || !WinPathToNative(winPath, native) || !FirstTime(winPath))
        return;
    Destination(WinExtractFileDir(winPath));
    if (!FileExists(native)) {
        Append("F " + Hex(winPath) + " " + Hex(""));
        return;
    }
    const std::string backup = FreeBackupName(winPath);
    Append("F " + Hex(winPath) + " " + Hex(backup));
    if (!RenameFileNoReplace(native, NativePath(backup)))
        throw IEInstall("Cannot create the file %s", {backup});
}

void TInstallJournal::Preserve(const std::string& winPath)
{
    std::string native;
    if (!Active() || !WinPathToNative(winPath, native) || !FirstTime(winPath))
        return;
    Destination(WinExtractFileDir(winPath));
    if (!FileExists(native)) {
        Append("P " + Hex(winPath) + " " + Hex(""));
        return;
    }
    const std::string copy = FreeBackupName(winPath);
    Append("P " + Hex(winPath) + " " + Hex(copy));
    if (!CopyFile(native, NativePath(copy), true))
        throw IEInstall("Cannot create the file %s", {copy});
}

void TInstallJournal::Created(const std::string& winPath)
{
    if (!Active() || !FirstTime(winPath))
        return;
    Append("F " + Hex(winPath) + " " + Hex(""));
}

void TInstallJournal::BeforeCreateFolder(const std::string& winFolder)
{
    std::string folder;
    if (!Active() || !ExpandWinPath(winFolder, folder))
        return;
    // The outermost folder that is missing: the run makes it and all below.
    std::string top;
    for (std::string p = folder; p.size() > 3 && !WinDirectoryExists(p);
         p = RemoveBackSlash(WinExtractFileDir(p)))
        top = p;
    if (!top.empty())
        Append("M " + Hex(folder) + " " + Hex(top));
}

void TInstallJournal::Temporary(const std::string& winPath)
{
    if (!Active())
        return;
    Destination(WinExtractFileDir(winPath));
    Append("T " + Hex(winPath));
}

bool TInstallJournal::Play(const std::string& text, bool undo, const TPathCheck& allowed)
{
    std::vector<std::vector<std::string>> lines;
    std::vector<std::string> destinations;
    {
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::vector<std::string> fields;
            std::string word;
            while (words >> word)
                fields.push_back(word);
            if (fields.empty())
                continue;
            if (fields[0] == "D" && fields.size() == 2) {
                try {
                    std::string folder;
                    if (UsableFolder(Unhex(fields[1]), folder))
                        destinations.push_back(folder);
                } catch (const std::exception&) {
                }
                continue;
            }
            lines.push_back(fields);
        }
    }
    // The run's own paths: its destinations and temporary folder.
    const TPathCheck admitted = [&](const std::string& path) {
        return InsideAny(path, destinations) || (allowed && allowed(path));
    };
    // A journal that ended well only drops what it kept aside; one already
    // played back has nothing left to do.
    if (!lines.empty() && lines.back().size() == 1 && lines.back()[0] == "E")
        return false;
    if (!lines.empty() && lines.back().size() == 1 && lines.back()[0] == "C")
        undo = false;
    auto store = TRegistryStore::Default();
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        try {
            PlayLine(*it, undo, store.get(), admitted);
        } catch (const std::exception&) {
            // A damaged line (a run killed while writing it) undoes nothing.
        }
    }
    return undo;
}

void TInstallJournal::PlayLine(const std::vector<std::string>& f, bool undo, TRegistryStore* store,
                               const TPathCheck& allowed)
{
    const std::string& kind = f[0];
    if ((kind == "F" || kind == "P") && f.size() == 3) {
        const std::string path = Unhex(f[1]);
        const std::string backup = Unhex(f[2]);
        if (!allowed(path) || (!backup.empty() && !IsBackupOf(backup, path)))
            return;
        const std::string native = NativePath(path);
        const std::string nativeBackup = backup.empty() ? std::string() : NativePath(backup);
        if (native.empty() || (!backup.empty() && nativeBackup.empty()))
            return;
        if (!undo) {
            if (!nativeBackup.empty() && FileExists(nativeBackup))
                DeleteFile(nativeBackup);
            return;
        }
        if (!nativeBackup.empty()) {
            // A missing backup: the run was stopped before it moved the file.
            if (FileExists(nativeBackup))
                RenameFile(nativeBackup, native);
        } else if (FileExists(native)) {
            DeleteFile(native);
        }
    } else if (kind == "T" && f.size() == 2) {
        const std::string path = Unhex(f[1]);
        const std::string native = NativePath(path);
        if (allowed(path) && !native.empty() && FileExists(native))
            DeleteFile(native);
    } else if (undo && kind == "M" && f.size() == 3) {
        // Folders the run made go again when they are empty, from the deepest
        // up to the outermost it made, as far as they are the run's own.
        std::string folder, top;
        if (!ExpandWinPath(Unhex(f[1]), folder) || !ExpandWinPath(Unhex(f[2]), top))
            return;
        const std::string prefix = AddBackSlash(top);
        if (CompareWinNames(folder, top) != 0 &&
            (folder.size() <= prefix.size() || CompareWinNames(folder.substr(0, prefix.size()), prefix) != 0))
            return;
        for (std::string p = folder; p.size() >= top.size(); p = RemoveBackSlash(WinExtractFileDir(p))) {
            const std::string native = NativePath(p);
            if (!allowed(p + "\\x") || native.empty() || IsSymbolicLink(native) || !RemoveDir(native))
                break;
            if (CompareWinNames(p, top) == 0)
                break;
        }
    } else if (undo && kind == "K" && f.size() == 3) {
        store->DeleteKey(static_cast<HKEY>(std::stoul(f[1])), Unhex(f[2]));
    } else if (undo && kind == "V" && f.size() == 7) {
        const HKEY root = static_cast<HKEY>(std::stoul(f[1]));
        const std::string path = Unhex(f[2]), name = Unhex(f[3]);
        if (f[4] == "1") {
            store->CreateKey(root, path);
            store->SetValue(root, path, name, static_cast<std::uint32_t>(std::stoul(f[5])), Unhex(f[6]));
        } else {
            store->DeleteValue(root, path, name);
        }
    }
}

void TInstallJournal::Commit()
{
    Finish(false);
}

void TInstallJournal::Rollback()
{
    Finish(true);
}

void TInstallJournal::Finish(bool undo)
{
    if (!Active())
        return;
    SetRegistryChangeObserver(nullptr, nullptr);
    // A good end is made final first: a run killed while it drops its
    // backups is finished, not undone, by the next one.
    if (!undo) {
        try {
            Append("C");
        } catch (const Exception&) {
        }
    }
    std::string text(static_cast<std::size_t>(FSize), '\0');
    if (FSize > 0 && FHandle->ReadAt(0, text.data(), FSize) != FSize)
        text.clear();
    Play(text, undo, FAllowed);
    // Played: a journal left behind from here on is only dropped.
    if (undo) {
        try {
            Append("E");
        } catch (const Exception&) {
        }
    }
    FHandle.reset();
    TRegistryStore::Default()->DeleteValue(HKEY_LOCAL_MACHINE, FRecordKey, "Journal");
    Drop(FFile);
    FFile.clear();
    FKept.clear();
    FDestinations.clear();
}

bool TInstallJournal::Ended(const std::string& text)
{
    std::size_t end = text.size();
    while (end > 0 && text[end - 1] == '\n')
        --end;
    const std::size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
    const std::string last = text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
    return last == "C" || last == "E";
}

bool TInstallJournal::ReadJournal(const std::string& native, std::string& text)
{
    auto file = TPlatformFile::Open(native, TFileAccess::Read, TFileShare::DenyNone, TFileCreate::OpenExisting);
    const std::int64_t size = file ? file->Size() : -1;
    if (size < 0 || size > MaxJournalSize)
        return false;
    text.assign(static_cast<std::size_t>(size), '\0');
    return size == 0 || file->ReadAt(0, text.data(), size) == size;
}

void TInstallJournal::Drop(const std::string& nativeFile)
{
    if (FileExists(nativeFile) && !IsSymbolicLink(nativeFile))
        DeleteFile(nativeFile);
    const std::string folder = nativeFile.substr(0, nativeFile.rfind('/'));
    if (!IsSymbolicLink(folder))
        RemoveDir(folder);
}

bool TInstallJournal::Recover(const std::string& recordKey, const TPathCheck& allowed)
{
    if (recordKey.empty())
        return false;
    const std::string recorded = ReadRegString(HKEY_LOCAL_MACHINE, recordKey, "Journal", "");
    if (recorded.empty())
        return false;
    // A record that names a journal belongs to a run that has not ended.
    bool interrupted = false;
    const std::string name = CheckedJournalName(recorded);
    if (!name.empty()) {
        interrupted = true;
        const std::string native = NativePath(name);
        const std::string folder = native.substr(0, native.rfind('/'));
        // Neither the folder nor the file is followed through a link.
        if (!native.empty() && !IsSymbolicLink(folder) && DirectoryExists(folder) && !IsSymbolicLink(native)) {
            std::string text;
            if (FileExists(native) && ReadJournal(native, text))
                interrupted = Play(text, true, allowed);
            TRegistryStore::Default()->DeleteValue(HKEY_LOCAL_MACHINE, recordKey, "Journal");
            Drop(native);
            return interrupted;
        }
    }
    TRegistryStore::Default()->DeleteValue(HKEY_LOCAL_MACHINE, recordKey, "Journal");
    return interrupted;
}

} // namespace orvex
