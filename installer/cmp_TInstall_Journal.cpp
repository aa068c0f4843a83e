// The run's journal: what an installation changed, so that a bad end (or the
// next run after a killed one) can put the machine back as it was.
//
// One line per change, written before the change is made; every field is
// hexadecimal so that any byte survives:
//   K root path                          a key the run created
//   V root path name had type data       a value's former state
//   F dest backup                        a destination replaced (backup "" : it was new)
//   P file copy                          a file rewritten in place (copy "" : it was new)

#include "installer/cmp_TInstall.h"

#include "host/SysUtils.h"
#include "installer/routines_API.h"
#include "installer/routines_Registry.h"
#include "installer/routines_Strings.h"
#include "platform/FileIO.h"
#include "platform/Registry.h"
#include "platform/WinPaths.h"

#include <fstream>
#include <stdexcept>
#include <sstream>
#include <vector>

namespace orvex {

namespace {

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

std::string BackupName(const std::string& winPath)
{
    return winPath + ".~bak";
}

bool CopyNative(const std::string& from, const std::string& to)
{
    if (FileExists(to))
        DeleteFile(to);
    return CopyFile(from, to, false);
}

} // namespace

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

void TInstallJournal::Start(const std::string& recordKey)
{
    FRecordKey = recordKey;
    const std::string temp = GetTempDir();
    ForceDirectories(NativePath(temp));
    const std::string name = AddBackSlash(temp) + "DRVN" + Hex(WinExtractFileName(recordKey)).substr(1) + ".JNL";
    FFile = NativePath(name);
    if (FFile.empty())
        return;
    std::ofstream(FFile, std::ios::binary | std::ios::trunc);
    WriteRegString(HKEY_LOCAL_MACHINE, recordKey, "Journal", name);
    SetRegistryChangeObserver(&JournalRegistryChange, this);
}

void TInstallJournal::Append(const std::string& line)
{
    if (FFile.empty())
        return;
    auto file = TPlatformFile::Open(FFile, TFileAccess::Write, TFileShare::DenyNone, TFileCreate::OpenAlways);
    if (!file)
        return;
    const std::string text = line + "\n";
    file->WriteAt(file->Size(), text.data(), static_cast<std::int64_t>(text.size()));
}

bool TInstallJournal::ExistingFile(const char* kind, const std::string& winPath, std::string& native)
{
    if (!Active() || !WinPathToNative(winPath, native))
        return false;
    if (!FileExists(native)) {
        Append(std::string(kind) + " " + Hex(winPath) + " " + Hex(""));
        return false;
    }
    return true;
}

void TInstallJournal::BeforeReplace(const std::string& winPath)
{
    std::string native;
    if (!ExistingFile("F", winPath, native))
        return;
    const std::string backup = BackupName(winPath);
    const std::string nativeBackup = NativePath(backup);
    if (FileExists(nativeBackup))
        DeleteFile(nativeBackup);
    Append("F " + Hex(winPath) + " " + Hex(backup));
    RenameFile(native, nativeBackup);
}

void TInstallJournal::Preserve(const std::string& winPath)
{
    std::string native;
    if (!ExistingFile("P", winPath, native))
        return;
    const std::string copy = BackupName(winPath);
    CopyNative(native, NativePath(copy));
    Append("P " + Hex(winPath) + " " + Hex(copy));
}

void TInstallJournal::Play(const std::string& nativeJournal, bool undo)
{
    std::vector<std::vector<std::string>> lines;
    {
        std::ifstream in(nativeJournal, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::vector<std::string> fields;
            std::string word;
            while (words >> word)
                fields.push_back(word);
            if (!fields.empty())
                lines.push_back(fields);
        }
    }
    auto store = TRegistryStore::Default();
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        try {
            PlayLine(*it, undo, store.get());
        } catch (const std::exception&) {
            // A damaged line (a run killed while writing it) undoes nothing.
        }
    }
    DeleteFile(nativeJournal);
}

void TInstallJournal::PlayLine(const std::vector<std::string>& f, bool undo, TRegistryStore* store)
{
    {
        const std::string& kind = f[0];
        if (kind == "F" && f.size() >= 3) {
            const std::string dest = NativePath(Unhex(f[1]));
            const std::string backup = Unhex(f[2]).empty() ? std::string() : NativePath(Unhex(f[2]));
            if (!undo) {
                if (!backup.empty() && FileExists(backup))
                    DeleteFile(backup);
                return;
            }
            if (!backup.empty() && FileExists(backup)) {
                if (!dest.empty() && FileExists(dest))
                    DeleteFile(dest);
                RenameFile(backup, dest);
            } else if (backup.empty() && !dest.empty() && FileExists(dest)) {
                DeleteFile(dest);
            }
        } else if (kind == "P" && f.size() >= 3) {
            const std::string file = NativePath(Unhex(f[1]));
            const std::string copy = Unhex(f[2]).empty() ? std::string() : NativePath(Unhex(f[2]));
            if (!undo) {
                if (!copy.empty() && FileExists(copy))
                    DeleteFile(copy);
                return;
            }
            if (!copy.empty() && FileExists(copy)) {
                CopyNative(copy, file);
                DeleteFile(copy);
            } else if (copy.empty() && !file.empty() && FileExists(file)) {
                DeleteFile(file);
            }
        } else if (undo && kind == "K" && f.size() >= 3) {
            store->DeleteKey(static_cast<HKEY>(std::stoul(f[1])), Unhex(f[2]));
        } else if (undo && kind == "V" && f.size() >= 7) {
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
    Play(FFile, undo);
    FFile.clear();
    TRegistryStore::Default()->DeleteValue(HKEY_LOCAL_MACHINE, FRecordKey, "Journal");
}

void TInstallJournal::Recover(const std::string& recordKey)
{
    if (recordKey.empty())
        return;
    const std::string name = ReadRegString(HKEY_LOCAL_MACHINE, recordKey, "Journal", "");
    if (name.empty())
        return;
    const std::string native = NativePath(name);
    if (!native.empty() && FileExists(native))
        Play(native, true);
    TRegistryStore::Default()->DeleteValue(HKEY_LOCAL_MACHINE, recordKey, "Journal");
}

} // namespace orvex
