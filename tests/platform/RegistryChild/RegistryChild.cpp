// A second writer of the registry store for the multi-process tests:
//   orvex_registry_child FOLDER NAME COUNT
// writes COUNT keys "Software\Race\NAME\Key<i>" (each with a value) and COUNT
// values "NAME<i>" under the shared key "Software\Race\Shared", one change at
// a time, then exits with 0 when every write succeeded.

#include "platform/Registry.h"

#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    using namespace orvex;
    if (argc != 4)
        return 2;
    TRegistryStore store(argv[1]);
    const std::string name = argv[2];
    const int count = std::atoi(argv[3]);
    for (int i = 0; i < count; ++i) {
        const std::string key = "Software\\Race\\" + name + "\\Key" + std::to_string(i);
        if (store.CreateKey(HKEY_CURRENT_USER, key) != TRegResult::Ok ||
            store.SetValue(HKEY_CURRENT_USER, key, "Index", REG_SZ, std::to_string(i)) != TRegResult::Ok)
            return 1;
        if (store.CreateKey(HKEY_CURRENT_USER, "Software\\Race\\Shared") != TRegResult::Ok ||
            store.SetValue(HKEY_CURRENT_USER, "Software\\Race\\Shared", name + std::to_string(i), REG_DWORD,
                           std::string("\x01\x00\x00\x00", 4)) != TRegResult::Ok)
            return 1;
    }
    return 0;
}
