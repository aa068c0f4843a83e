#include "installer/specifiers_windows.h"

#include "installer/routines_API.h"

namespace orvex {

namespace {

// What a specifier resolves on a family: a special folder, nothing (the
// path stays as the caller passed it) or the text "undefined".
constexpr int Nothing = -1;
constexpr int Undefined = -2;

void Resolve(int rule, std::string& path)
{
    if (rule == Undefined)
        path = "undefined";
    else if (rule != Nothing)
        path = GetSpecialFolder(rule);
}

// The rule of the running family among the NT family, the 95 family and others.
void ResolveByFamily(int nt, int win95, int others, std::string& path)
{
    const TOSVerType os = GetOSVersionType();
    Resolve(NTFamily.Contains(os) ? nt : Win95Family.Contains(os) ? win95 : others, path);
}

} // namespace

#define ORVEX_FAMILY_RULE(Name, NT, Win95, Others)                                                 \
    void Name::ResolvePath(TObject*, std::string& path) { ResolveByFamily(NT, Win95, Others, path); }

ORVEX_DEFINE_SPECIFIER_CLASS(TpsPrinters, "psPrinters", "virtual folder containing installed printers", "Installed Printers")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsRecent, "psRecent", "Recently Used Documents", "Recently Used")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsSendTo, "psSendTo", "Send To Menu", "Send To")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsStartup, "psStartup", "User Startup", "Startup")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsControlPanel, "psControlPanel", "Control Panel", "Control Panel")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsFavorites, "psFavorites", "Favorites", "Favorites")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsBitBucket, "psBitBucket", "Recycle bin", "Recycle bin")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsCookies, "psCookies", "Cookies", "Cookies")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsCommonAltStartup, "psCommonAltStartup", "Alternate Startup folder for (All Users profile)",
                 "Common Alternate Startup folder")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsCommonStartup, "psCommonStartup", "Common Startup directory", "Common Startup")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsCommonDesktopDirectory, "psCommonDesktopDirectory", "Common Desktop Directory",
                 "Common Desktop")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsCommonFavorites, "psCommonFavorites", "Common Favorites", "Common Favorites")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsCommonPrograms, "psCommonPrograms", "Common Programs", "Common Programs")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsCommonStartMenu, "psCommonStartMenu", "Common Start Menu", "Common Start Menu")
ORVEX_DEFINE_SPECIFIER_CLASS(TpsQuickLaunchMenu, "psQuickLaunchMenu", "Path of the Quick Launch Toolbar Menu",
                 "Quick Launch Toolbar menu")

ORVEX_FAMILY_RULE(TpsRecent, 8, Undefined, Undefined)
ORVEX_FAMILY_RULE(TpsPrinters, 4, Undefined, Undefined)
ORVEX_FAMILY_RULE(TpsCommonDesktopDirectory, 25, 16, Undefined)
ORVEX_FAMILY_RULE(TpsFavorites, 6, Undefined, Undefined)
ORVEX_FAMILY_RULE(TpsControlPanel, 3, Nothing, Nothing)
ORVEX_FAMILY_RULE(TpsBitBucket, 10, Nothing, Nothing)
ORVEX_FAMILY_RULE(TpsCookies, 33, Nothing, Nothing)
ORVEX_FAMILY_RULE(TpsSendTo, 9, Nothing, Nothing)
ORVEX_FAMILY_RULE(TpsStartup, 7, Nothing, Nothing)
ORVEX_FAMILY_RULE(TpsCommonAltStartup, 30, 29, Nothing)
ORVEX_FAMILY_RULE(TpsCommonStartMenu, 22, 11, Nothing)
ORVEX_FAMILY_RULE(TpsCommonPrograms, 23, 2, Nothing)
ORVEX_FAMILY_RULE(TpsCommonFavorites, 31, 6, Nothing)

void TpsCommonStartup::ResolvePath(TObject*, std::string& path)
{
    // XP is left out on purpose: its common startup folder is not asked for.
    ResolveByFamily(GetOSVersionType() == oswinXP ? Nothing : 24, 7, Nothing, path);
}

void TpsQuickLaunchMenu::ResolvePath(TObject*, std::string& path)
{
    const std::string appData = GetSpecialFolder(26);
    path = appData.empty() ? "undefined" : appData + "\\Microsoft\\Internet Explorer\\Quick Launch";
}

void RegisterWindowsSpecifiers(TPathSpecifierClassList* list)
{
    for (TPathSpecifierClass cls :
         {&TpsPrinters::ClassInfo, &TpsRecent::ClassInfo, &TpsSendTo::ClassInfo, &TpsStartup::ClassInfo,
          &TpsControlPanel::ClassInfo, &TpsFavorites::ClassInfo, &TpsBitBucket::ClassInfo, &TpsCookies::ClassInfo,
          &TpsCommonAltStartup::ClassInfo, &TpsCommonStartup::ClassInfo, &TpsCommonDesktopDirectory::ClassInfo,
          &TpsCommonFavorites::ClassInfo, &TpsCommonPrograms::ClassInfo, &TpsCommonStartMenu::ClassInfo,
          &TpsQuickLaunchMenu::ClassInfo})
        list->Add(cls);
}

} // namespace orvex
