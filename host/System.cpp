#include "host/System.h"

#include <cxxabi.h>
#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace orvex {

std::string TObject::ClassName() const
{
    const char* mangled = typeid(*this).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    std::string name = (status == 0 && demangled) ? demangled.get() : mangled;
    // Drop namespaces and template arguments' qualifiers: "orvex::TDiskMgr" -> "TDiskMgr".
    const auto templ = name.find('<');
    const auto scope = name.rfind("::", templ);
    if (scope != std::string::npos)
        name.erase(0, scope + 2);
    return name;
}

} // namespace orvex
