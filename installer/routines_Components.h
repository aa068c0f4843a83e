#pragma once
// Helpers for trees of components.

#include "host/Classes.h"

#include <string>

namespace orvex {

// The first component of class T among those owner owns; nullptr when none.
template <class T>
T* FindOwnedComponent(const TComponent* owner)
{
    if (!owner)
        return nullptr;
    for (int i = 0; i < owner->ComponentCount(); ++i)
        if (auto* found = dynamic_cast<T*>(owner->Components(i)))
            return found;
    return nullptr;
}

// The name an object goes by in messages: a component's name, else its
// class name; empty for nil.
std::string ObjectName(const TObject* object);

} // namespace orvex
