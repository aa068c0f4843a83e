#pragma once
// Stock path specifiers of the shell's special folders. Which folder each
// resolves depends on the Windows family: a special folder of its own on the
// NT family, often another (or none) on the 95 family, and "undefined" or
// nothing (the path stays as passed) elsewhere.

#include "installer/cmp_TPathSpecifier.h"

namespace orvex {

ORVEX_STOCK_SPECIFIER(TpsPrinters)
ORVEX_STOCK_SPECIFIER(TpsRecent)
ORVEX_STOCK_SPECIFIER(TpsSendTo)
ORVEX_STOCK_SPECIFIER(TpsStartup)
ORVEX_STOCK_SPECIFIER(TpsControlPanel)
ORVEX_STOCK_SPECIFIER(TpsFavorites)
ORVEX_STOCK_SPECIFIER(TpsBitBucket)
ORVEX_STOCK_SPECIFIER(TpsCookies)
ORVEX_STOCK_SPECIFIER(TpsCommonAltStartup)
ORVEX_STOCK_SPECIFIER(TpsCommonStartup)
ORVEX_STOCK_SPECIFIER(TpsCommonDesktopDirectory)
ORVEX_STOCK_SPECIFIER(TpsCommonFavorites)
ORVEX_STOCK_SPECIFIER(TpsCommonPrograms)
ORVEX_STOCK_SPECIFIER(TpsCommonStartMenu)
ORVEX_STOCK_SPECIFIER(TpsQuickLaunchMenu)

// Registers this unit's classes in their order (the class list does it).
void RegisterWindowsSpecifiers(TPathSpecifierClassList* list);

} // namespace orvex
