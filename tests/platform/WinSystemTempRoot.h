#pragma once
// A fresh emulated Windows machine for one test: its own temporary root for
// the drives and the registry, and a chosen Windows edition. The folder goes
// when the object does, and the machine before it comes back.

#include "platform/Registry.h"
#include "platform/WinPaths.h"
#include "platform/WinSystem.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace orvex {

class TTempWindowsRoot {
public:
    explicit TTempWindowsRoot(TWinEdition edition = TWinEdition::WinXP)
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/orvex-win-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create a temporary folder");
        FPath = pattern;
        FSavedRoot = WindowsRoot();
        FSavedConfig = WinSystemConfig();
        SetWindowsRoot(FPath);
        SetRegistryFolder("");
        EmulateWindows(edition);
    }
    ~TTempWindowsRoot()
    {
        SetWindowsRoot(FSavedRoot);
        SetWinSystemConfig(FSavedConfig);
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    TTempWindowsRoot(const TTempWindowsRoot&) = delete;
    TTempWindowsRoot& operator=(const TTempWindowsRoot&) = delete;

    const std::string& Path() const { return FPath; }

    // Writes a file at a Windows-form path, creating its folders.
    static std::string WriteFile(const std::string& winPath, const std::string& data)
    {
        const std::string native = NativePath(winPath);
        std::filesystem::create_directories(std::filesystem::path(native).parent_path());
        std::ofstream(native, std::ios::binary) << data;
        return native;
    }
    static void MakeFolder(const std::string& winPath)
    {
        std::filesystem::create_directories(NativePath(winPath));
    }

private:
    std::string FPath;
    std::string FSavedRoot;
    TWinSystemConfig FSavedConfig;
};

} // namespace orvex
