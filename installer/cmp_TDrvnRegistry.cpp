#include "installer/cmp_TDrvnRegistry.h"

#include <memory>

namespace orvex {

bool TdrvnRegistry::OpenOrCreateKey(const std::string& path)
{
    return OpenKey(path, true);
}

bool TdrvnRegistry::KeyExistsForRead(const std::string& path)
{
    TRegistry reader(KEY_READ);
    reader.SetRootKey(RootKey());
    return reader.OpenKeyReadOnly(KeyPath(path).insert(0, "\\"));
}

bool TdrvnRegistry::DeleteKeyTree(const std::string& path)
{
    const std::string absolute = "\\" + KeyPath(path);
    TRegistry walker(KEY_READ);
    walker.SetRootKey(RootKey());
    if (!walker.OpenKeyReadOnly(absolute))
        return false;
    TStringList names;
    walker.GetKeyNames(&names);
    for (int i = 0; i < names.Count(); ++i)
        DeleteKeyTree(absolute + "\\" + names[i]);
    return DeleteKey(absolute);
}

} // namespace orvex
