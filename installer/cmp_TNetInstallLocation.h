#pragma once
// Network install locations: components that download installation files
// from an FTP or HTTP server.
//
// Transfers go through the system's libcurl ("libcurl.so.4"), which the
// location loads by name through the platform layer at its first use, so the
// setup program starts without it; a missing library or entry point raises
// the load errors. The server is given by Hostname (a host name, optionally
// followed by ":port"), Directory and Protocol.
//
// An HTTP download succeeds or fails by the server's status code; an FTP
// download takes its size from the server's SIZE answer. A transfer reports
// every block through the progress events, pumps the application's messages
// and stops quietly when the download-cancel flag is set.

#include "host/Classes.h"
#include "installer/exceptions_Dorvane.h"

#include <functional>
#include <string>

namespace orvex {

enum TInternetProtocol { ipFTP, ipHTTP };

class TCustomNetInstallLocation;

class TCustomLoginInformation : public TPersistent {
public:
    explicit TCustomLoginInformation(TCustomNetInstallLocation* location = nullptr) : Location(location) {}
    bool Anonymous = true;
    std::string Directory;
    std::string Hostname;
    std::string Password;
    TInternetProtocol Protocol = ipHTTP;
    std::string Username;
    TCustomNetInstallLocation* Location;

    // Copies the six properties from another login information.
    void Assign(TPersistent* source) override;
    // Whether the information is filled in: an anonymous login needs a
    // host name; any other needs a host name, a user name and its password.
    bool IsValid() const;
};

class TLoginInformation : public TCustomLoginInformation {
public:
    using TCustomLoginInformation::TCustomLoginInformation;
};

// The ENIL family.
class ENIL : public Exception {
public:
    using Exception::Exception;
};
#define ORVEX_ENIL(Name, Base)                                                                     \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        using Base::Base;                                                                          \
    };
ORVEX_ENIL(ENIL_OpenSession, ENIL)
ORVEX_ENIL(ENIL_OpenService, ENIL)
ORVEX_ENIL(ENIL_FailDataQuery, ENIL)
ORVEX_ENIL(ENIL_ReadFile, ENIL)
ORVEX_ENIL(ENIL_FileNotFound, ENIL)
ORVEX_ENIL(ENIL_FTP, ENIL)
ORVEX_ENIL(ENIL_FTPSetDir, ENIL_FTP)
ORVEX_ENIL(ENIL_FTPOpenFile, ENIL_FTP)
ORVEX_ENIL(ENIL_FTPCloseFile, ENIL_FTP)
ORVEX_ENIL(ENIL_HTTP, ENIL)
ORVEX_ENIL(ENIL_HTTPOpenFile, ENIL_HTTP)
ORVEX_ENIL(ENIL_HTTPSendRequest, ENIL_HTTP)
ORVEX_ENIL(IENetList, ENIL)
ORVEX_ENIL(ENIL_WriteDestFile, Exception)
ORVEX_ENIL(ENIL_FailLoadWININET, Exception)
ORVEX_ENIL(ENIL_FailLoadDLLProc, Exception)
#undef ORVEX_ENIL

using TNetProgressEvent = std::function<void(TObject* sender, const std::string& sourceFile, const char* data,
                                             Integer totalSize, Integer received, Integer blockSize)>;
using TAfterDownloadEvent = std::function<void(TObject* sender, bool cancelled)>;

class TCustomNetInstallLocation : public TComponent {
public:
    explicit TCustomNetInstallLocation(TComponent* owner);
    ~TCustomNetInstallLocation() override;

    TCustomLoginInformation* LoginInformation() const { return FLoginInformation; }

    // Loads the transfer library and takes its entry points; failures raise
    // ENIL_FailLoadWININET and ENIL_FailLoadDLLProc.
    virtual void LoadWinINet();
    virtual void AssignLoginInformation(TCustomLoginInformation* source);
    // Makes this location the current one, loads the library and opens the
    // session; for FTP logs in and changes to Directory.
    virtual void Connect();
    // Downloads SourceFile from the server's directory into DestFile
    // (a Windows-form path).
    virtual void Download(const std::string& sourceFile, const std::string& destFile);

    bool Loaded_() const { return FLoaded; }
    const std::string& SourceFile() const { return FSourceFile; }
    const std::string& DestFile() const { return FDestFile; }

    TNotifyEvent OnBeforeConnect;
    TNotifyEvent OnAfterConnect;
    TNotifyEvent OnBeforeDownload;
    TAfterDownloadEvent OnAfterDownload;
    TNetProgressEvent OnProgress;
    TNetProgressEvent OnDataReceived;

    // The URL of a file of this location (for messages and tests).
    std::string UrlOf(const std::string& sourceFile, bool directoryOnly = false) const;

private:
    struct TSession;
    [[noreturn]] void RaiseNIL(int kind, const std::string& message);
    void Transfer(const std::string& url);
    void CloseSession();

    TCustomLoginInformation* FLoginInformation; // owned
    bool FLoaded = false;
    TSession* FSession = nullptr; // the transfer library's session
    bool FConnected = false;
    std::string FSourceFile;
    std::string FDestFile;
};

class TNetInstallLocation : public TCustomNetInstallLocation {
public:
    using TCustomNetInstallLocation::TCustomNetInstallLocation;
};

// Every location while it exists.
class TCustomNetInstallLocationList : public TList {
public:
    // Nil raises IENetList.
    int Add(TCustomNetInstallLocation* location);
};
TCustomNetInstallLocationList* NetInstallLocationList();
// The location currently connecting (nil when none).
TCustomNetInstallLocation* CurrentNetLocation();
// The download-cancel flag, checked after every block.
bool DownloadCancelled();
void SetDownloadCancel(bool value);

// The name of the transfer library's last error, as the messages show it.
std::string NetErrorName(int code);

} // namespace orvex
