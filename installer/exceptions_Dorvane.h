#pragma once
// The installer library's exceptions.
//
// ECustomDorvaneAbnormal is the common base of the library's own errors; the
// IE family under IException carries messages written in English that are
// translated into the language of the main translator before they are
// formatted. EAIUserAbort is the user's cancel of an installation.

#include "host/SysUtils.h"

#include <initializer_list>
#include <string>

namespace orvex {

class EAI : public Exception {
public:
    using Exception::Exception;
};

// The user's cancel; its message is always the same.
class EAIUserAbort : public EAI {
public:
    EAIUserAbort();
};

// A stop requested while building the setup.
class EUserAbortInstall : public Exception {
public:
    explicit EUserAbortInstall(std::string message = "Creating Install Aborted!");
};

class ECustomDorvaneAbnormal : public Exception {
public:
    using Exception::Exception;
};

class EDorvaneAbnormal : public ECustomDorvaneAbnormal {
public:
    using ECustomDorvaneAbnormal::ECustomDorvaneAbnormal;
};

// Errors of the archive.
class EDrvnCompress : public EDorvaneAbnormal {
public:
    using EDorvaneAbnormal::EDorvaneAbnormal;
};

class EdcDiskFull : public EDrvnCompress {
public:
    explicit EdcDiskFull(std::string message = "The disk is full");
};

class EdcAborted : public EDrvnCompress {
public:
    explicit EdcAborted(std::string message = "Operation aborted by user");
};

// Failures of the Windows routines.
class EAPIRoutines : public EDorvaneAbnormal {
public:
    using EDorvaneAbnormal::EDorvaneAbnormal;
};

class EProgramLauncher : public EDorvaneAbnormal {
public:
    using EDorvaneAbnormal::EDorvaneAbnormal;
};

// A program could not be started; ErrorCode tells why (the launcher's codes).
class EProgramLauncherFailed : public EProgramLauncher {
public:
    EProgramLauncherFailed(std::string message, Integer errorCode);
    Integer ErrorCode;
};

// A registry value could not be written.
class EIRCannotWriteValue : public Exception {
public:
    EIRCannotWriteValue(const std::string& key, const std::string& ident, const std::string& value);
};

// The base of the translated errors: the English text (or format) is
// translated first, then formatted.
class IException : public ECustomDorvaneAbnormal {
public:
    explicit IException(const std::string& message);
    IException(const std::string& format, std::initializer_list<TVarRec> args);
};

#define ORVEX_IEXCEPTION(Name, Base)                                                               \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        using Base::Base;                                                                          \
    };

ORVEX_IEXCEPTION(IEInstall, IException)
ORVEX_IEXCEPTION(IEInstallNetLocNil, IEInstall)
ORVEX_IEXCEPTION(IEPathSpecifier, IException)
ORVEX_IEXCEPTION(IEPathSpecifierList, IException)
ORVEX_IEXCEPTION(IEPathSpecifierClassList, IException)
ORVEX_IEXCEPTION(IEInstallContainer, IException)
ORVEX_IEXCEPTION(IEFileRelated, IException)
ORVEX_IEXCEPTION(IEFileRel_NoNetLocation, IEFileRelated)
ORVEX_IEXCEPTION(IEFileContainer, IException)
ORVEX_IEXCEPTION(IEfcDuplicateFile, IEFileContainer)
ORVEX_IEXCEPTION(IEfcSetAttributes, IEFileContainer)
ORVEX_IEXCEPTION(IENoDorvanePath, IException)
ORVEX_IEXCEPTION(IECustomInstallFile, IException)
ORVEX_IEXCEPTION(IECustomInstallFileList, IException)
ORVEX_IEXCEPTION(IEContainerList, IException)
ORVEX_IEXCEPTION(IEInstallGroup, IException)
ORVEX_IEXCEPTION(IERegistryEntry, IException)
ORVEX_IEXCEPTION(IERegistryEntries, IException)
ORVEX_IEXCEPTION(IEInstallRegistry, IException)
ORVEX_IEXCEPTION(IEInstallRegistryList, IException)
ORVEX_IEXCEPTION(IEUninstallEXE, IException)

#undef ORVEX_IEXCEPTION

} // namespace orvex
