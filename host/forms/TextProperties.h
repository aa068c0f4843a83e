#pragma once
// The texts a component shows, class by class, so that a translator can walk a
// form's components and replace them: single texts (Caption, Text, Hint),
// blocks of lines translated as one (a memo's Lines) and lists whose items are
// translated one by one (a radio group's Items).

#include "host/Classes.h"

#include <functional>
#include <string>
#include <vector>

namespace orvex {

enum TTextPropertyKind { tpText, tpLines, tpItems };

struct TTextProperty {
    std::string Name;
    TTextPropertyKind Kind = tpText;
    // For tpText.
    std::function<std::string()> Get;
    std::function<void(const std::string&)> Set;
    // For tpLines and tpItems: the list itself, edited in place.
    TStrings* Strings = nullptr;
};

class TTextPropertyList {
public:
    void AddText(std::string name, std::function<std::string()> get,
                 std::function<void(const std::string&)> set);
    void AddStrings(std::string name, TTextPropertyKind kind, TStrings* strings);
    int Count() const { return static_cast<int>(FItems.size()); }
    const TTextProperty& operator[](int index) const { return FItems.at(index); }
    const TTextProperty* Find(const std::string& name) const; // ignores case
    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    std::vector<TTextProperty> FItems;
};

// Implemented by every control, and by any other component whose texts a
// translator should reach. A class lists its base's texts first, then its own.
class ITextProperties {
public:
    virtual void DefineTextProperties(TTextPropertyList& list) = 0;

protected:
    ~ITextProperties() = default;
};

// The texts of a component; empty when it declares none.
TTextPropertyList TextPropertiesOf(TComponent* component);

} // namespace orvex
