#pragma once
// Version resources of files, and the decision whether a file about to be
// installed replaces the one already there.

#include "host/Classes.h"

#include <string>

namespace orvex {

enum TOverwriteType { owAlways, owNever, owVersion, owDate, owVersionDate, owAsk };

// The outcomes of the overwrite decision.
enum : Integer {
    ovrNone = 0,    // no decision: a file could not be opened for the date comparison
    ovrSame = 1,
    ovrReplace = 2,
    ovrKeep = 3,
    ovrAsk = 4,
};

// The languages of version resources. (The translator's TLanguage is a class
// of its own, so this enumeration goes by another name.)
enum TVersionLanguage {
    lnArabic, lnBulgarian, lnCatalan, lnTraditionalChinese, lnCzech, lnDanish, lnGerman, lnGreek,
    lnUSEnglish, lnCastilianSpanish, lnFinnish, lnFrench, lnHebrew, lnHungarian, lnIcelandic,
    lnItalian, lnJapanese, lnKorean, lnDutch, lnNorwegianBokmal, lnPolish, lnBrazilianPortuguese,
    lnRhaetoRomanic, lnRomanian, lnRussian, lnCroatoSerbian, lnSlovak, lnAlbanian, lnSwedish,
    lnThai, lnTurkish, lnUrdu, lnBahasa, lnSimplifiedChinese, lnSwissGerman, lnUKEnglish,
    lnMexicanSpanish, lnBelgianFrench, lnSwissItalian, lnBelgianDutch, lnNorwegianNynorsk,
    lnPortuguese, lnSerboCroatian, lnCanadianFrench, lnSwissFrench,
};

enum TCharacterSet {
    csASCII, csJapan, csKorea, csTaiwan, csUnicode, csLatin2, csCyrillic, csMultilingual,
    csGreek, csTurkish, csHebrew, csArabic,
};

// The Windows language identifier and the code page of the values; a value
// outside the enumeration raises.
Word VersionLanguageId(TVersionLanguage language);
Word CharacterSetCodePage(TCharacterSet characterSet);

class TVersionInfo : public TPersistent {
public:
    std::string Comment;
    std::string CompanyName;
    std::string FileDescription;
    std::string FileVersion;
    std::string InternalName;
    std::string LegalCopyright;
    std::string LegalTradeMarks;
    std::string OriginalFileName;
    std::string PrivateBuild;
    std::string ProductName;
    std::string ProductVersion;
    std::string SpecialBuild;
    std::string FileOS;
    std::string FileType;
    std::string FileSubType;
    // The primary language of the file's first translation (not published).
    Word PrimaryLanguage = 0;

    void Clear();
    void Assign(TPersistent* source) override;
};

class TVersionResource : public TComponent {
public:
    explicit TVersionResource(TComponent* owner);
    ~TVersionResource() override;

    // Each setter stores the value and reads the version information again.
    const std::string& FileName() const { return FFileName; } // default: the running program
    void SetFileName(const std::string& value);
    TVersionLanguage Language() const { return FLanguage; }
    void SetLanguage(TVersionLanguage value);
    TCharacterSet CharacterSet() const { return FCharacterSet; }
    void SetCharacterSet(TCharacterSet value);
    TVersionInfo* VersionInfo() const { return FVersionInfo; }

    // The overwrite decision between two files on disk (Windows-form paths).
    static Integer IsFileNewerByName(const std::string& sourceFile, const std::string& destFile,
                                     TOverwriteType overwriteType);

private:
    void ReadVersionInfo();
    std::string FFileName;
    TVersionLanguage FLanguage = lnUSEnglish;
    TCharacterSet FCharacterSet = csMultilingual;
    TVersionInfo* FVersionInfo; // owned
};

// The overwrite decision when the source's version text and date are known
// (from an archive record) and only the destination is a file.
Integer IsFileNewerByInfo(const std::string& sourceVersion, const std::string& destFile,
                          TOverwriteType overwriteType, TDateTime sourceDate);

// 0 when equal, 1 when a is higher, 2 when b is higher.
Integer CompareVersionStrings(const std::string& a, const std::string& b);

// The unit's shared TVersionResource, created at first use.
TVersionResource* SharedVersionResource();

} // namespace orvex
