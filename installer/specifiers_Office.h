#pragma once
// Stock path specifiers of an installed office suite's folders. They follow
// the office version found in the registry (the Word document class's
// current version, when its server program exists); without an office of
// version 7 to 19 each falls back to its default under the program files.

#include "installer/cmp_TPathSpecifier.h"

#include <string>

namespace orvex {

ORVEX_STOCK_SPECIFIER(TpsOfficeUserTemplates)
ORVEX_STOCK_SPECIFIER(TpsOfficeWorkgroupTemplates)
ORVEX_STOCK_SPECIFIER(TpsOfficeClipartDirectory)
ORVEX_STOCK_SPECIFIER(TpsOfficeStartupDirectory)
ORVEX_STOCK_SPECIFIER(TpsOfficeToolsDirectory)
ORVEX_STOCK_SPECIFIER(TpsOfficeFavoritesDirectory)

// The installed office's version number; -1 when none is found.
Integer OfficeVersion();

// Registers this unit's classes in their order (the class list does it).
void RegisterOfficeSpecifiers(TPathSpecifierClassList* list);

} // namespace orvex
