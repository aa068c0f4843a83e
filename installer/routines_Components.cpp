#include "installer/routines_Components.h"

namespace orvex {

std::string ObjectName(const TObject* object)
{
    if (!object)
        return {};
    if (const auto* component = dynamic_cast<const TComponent*>(object))
        return component->Name();
    return object->ClassName();
}

} // namespace orvex
