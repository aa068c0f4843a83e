#include "platform/DynLib.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

namespace orvex {

namespace {

std::mutex GMapLock;
std::map<std::string, std::string>& NameMap()
{
    static std::map<std::string, std::string> map;
    return map;
}

} // namespace

TLibraryHandle LoadLibrary(const std::string& name, std::string* error)
{
    std::string actual = name;
    {
        std::lock_guard<std::mutex> guard(GMapLock);
        auto it = NameMap().find(name);
        if (it != NameMap().end())
            actual = it->second;
    }
    if (actual.empty()) {
        if (error)
            *error = name + ": cannot open shared object file";
        return nullptr;
    }
    void* handle = ::dlopen(actual.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr && error) {
        const char* text = ::dlerror();
        *error = text ? text : "cannot load " + actual;
    }
    return handle;
}

void* GetProcAddress(TLibraryHandle library, const std::string& name)
{
    return library ? ::dlsym(library, name.c_str()) : nullptr;
}

void FreeLibrary(TLibraryHandle library)
{
    if (library)
        ::dlclose(library);
}

void MapLibraryName(const std::string& name, const std::string& replacement)
{
    std::lock_guard<std::mutex> guard(GMapLock);
    NameMap()[name] = replacement;
}

void UnmapLibraryName(const std::string& name)
{
    std::lock_guard<std::mutex> guard(GMapLock);
    NameMap().erase(name);
}

} // namespace orvex
