// Network install locations: FTP and HTTP downloads through libcurl, loaded
// by name at the first connection.

#include "installer/cmp_TNetInstallLocation.h"

#include "host/forms/Forms.h"
#include "platform/DynLib.h"
#include "platform/FileIO.h"
#include "platform/WinPaths.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>
#include <map>
#include <memory>

namespace orvex {

namespace {

// The few parts of libcurl's stable interface this unit uses.
using CURL = void;
using CURLcode = int;
using curl_off_t = long long;
enum : int {
    CURLE_OK = 0,
    CURLE_UNSUPPORTED_PROTOCOL = 1,
    CURLE_URL_MALFORMAT = 3,
    CURLE_COULDNT_RESOLVE_HOST = 6,
    CURLE_COULDNT_CONNECT = 7,
    CURLE_WEIRD_SERVER_REPLY = 8,
    CURLE_REMOTE_ACCESS_DENIED = 9,
    CURLE_FTP_COULDNT_RETR_FILE = 19,
    CURLE_HTTP_RETURNED_ERROR = 22,
    CURLE_WRITE_ERROR = 23,
    CURLE_OPERATION_TIMEDOUT = 28,
    CURLE_ABORTED_BY_CALLBACK = 42,
    CURLE_GOT_NOTHING = 52,
    CURLE_SEND_ERROR = 55,
    CURLE_RECV_ERROR = 56,
    CURLE_LOGIN_DENIED = 67,
    CURLE_REMOTE_FILE_NOT_FOUND = 78,
};
enum : int {
    CURLOPT_WRITEDATA = 10001,
    CURLOPT_URL = 10002,
    CURLOPT_WRITEFUNCTION = 20011,
    CURLOPT_USERAGENT = 10018,
    CURLOPT_HTTPHEADER = 10023,
    CURLOPT_HEADERDATA = 10029,
    CURLOPT_NOBODY = 44,
    CURLOPT_FAILONERROR = 45,
    CURLOPT_FOLLOWLOCATION = 52,
    CURLOPT_CONNECTTIMEOUT = 78,
    CURLOPT_HEADERFUNCTION = 20079,
    CURLOPT_BUFFERSIZE = 98,
    CURLOPT_NOSIGNAL = 99,
    CURLOPT_USERNAME = 10173,
    CURLOPT_PASSWORD = 10174,
    CURLOPT_NOPROXY = 10177,
};
enum : int {
    CURLINFO_RESPONSE_CODE = 0x200000 + 2,
    CURLINFO_CONTENT_LENGTH_DOWNLOAD_T = 0x600000 + 15,
};
using TWriteCallback = std::size_t (*)(char*, std::size_t, std::size_t, void*);

const char* const TransferLibraryName = "libcurl.so.4";

// The kinds of the ENIL family, for RaiseNIL.
enum TNilKind {
    nkOpenSession,
    nkOpenService,
    nkFailDataQuery,
    nkReadFile,
    nkFileNotFound,
    nkFTPSetDir,
    nkFTPOpenFile,
    nkFTPCloseFile,
    nkHTTPOpenFile,
    nkHTTPSendRequest,
};

TCustomNetInstallLocation* GCurrent = nullptr;
bool GDownloadCancel = false;

// The transfer library's error as the nearest Windows internet error code.
int WinInetCodeOf(int curlCode)
{
    switch (curlCode) {
    case CURLE_OK:
        return 0;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return 12006;
    case CURLE_URL_MALFORMAT:
        return 12005;
    case CURLE_COULDNT_RESOLVE_HOST:
        return 12007;
    case CURLE_COULDNT_CONNECT:
        return 12029;
    case CURLE_OPERATION_TIMEDOUT:
        return 12002;
    case CURLE_LOGIN_DENIED:
        return 12015;
    case CURLE_ABORTED_BY_CALLBACK:
        return 12017;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return 12030;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
        return 12152;
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_FTP_COULDNT_RETR_FILE:
    case CURLE_HTTP_RETURNED_ERROR:
        return 12003; // the server said no: its answer tells why
    default:
        return 100000 + curlCode;
    }
}

} // namespace

std::string NetErrorName(int code)
{
    static const std::map<int, const char*> names = {
        {6, "ERROR_INVALID_HANDLE"},
        {12001, "ERROR_INTERNET_OUT_OF_HANDLES"},
        {12002, "ERROR_INTERNET_TIMEOUT"},
        {12003, "ERROR_INTERNET_EXTENDED_ERROR"},
        {12004, "ERROR_INTERNET_INTERNAL_ERROR"},
        {12005, "ERROR_INTERNET_INVALID_URL"},
        {12006, "ERROR_INTERNET_UNRECOGNIZED_SCHEME"},
        {12007, "ERROR_INTERNET_NAME_NOT_RESOLVED"},
        {12008, "ERROR_INTERNET_PROTOCOL_NOT_FOUND"},
        {12009, "ERROR_INTERNET_INVALID_OPTION"},
        {12010, "ERROR_INTERNET_BAD_OPTION_LENGTH"},
        {12011, "ERROR_INTERNET_OPTION_NOT_SETTABLE"},
        {12012, "ERROR_INTERNET_SHUTDOWN"},
        {12013, "ERROR_INTERNET_INCORRECT_USER_NAME"},
        {12014, "ERROR_INTERNET_INCORRECT_PASSWORD"},
        {12015, "ERROR_INTERNET_LOGIN_FAILURE"},
        {12016, "ERROR_INTERNET_INVALID_OPERATION"},
        {12017, "ERROR_INTERNET_OPERATION_CANCELLED"},
        {12018, "ERROR_INTERNET_INCORRECT_HANDLE_TYPE"},
        {12019, "ERROR_INTERNET_INCORRECT_HANDLE_STATE"},
        {12020, "ERROR_INTERNET_NOT_PROXY_REQUEST"},
        {12021, "ERROR_INTERNET_REGISTRY_VALUE_NOT_FOUND"},
        {12022, "ERROR_INTERNET_BAD_REGISTRY_PARAMETER"},
        {12023, "ERROR_INTERNET_NO_DIRECT_ACCESS"},
        {12024, "ERROR_INTERNET_NO_CONTEXT"},
        {12025, "ERROR_INTERNET_NO_CALLBACK"},
        {12026, "ERROR_INTERNET_REQUEST_PENDING"},
        {12027, "ERROR_INTERNET_INCORRECT_FORMAT"},
        {12028, "ERROR_INTERNET_ITEM_NOT_FOUND"},
        {12029, "ERROR_INTERNET_CANNOT_CONNECT"},
        {12030, "ERROR_INTERNET_CONNECTION_ABORTED"},
        {12031, "ERROR_INTERNET_CONNECTION_RESET"},
        {12032, "ERROR_INTERNET_FORCE_RETRY"},
        {12036, "ERROR_INTERNET_HANDLE_EXISTS"},
        {12041, "ERROR_INTERNET_MIXED_SECURITY"},
        {12110, "ERROR_FTP_TRANSFER_IN_PROGRESS"},
        {12111, "ERROR_FTP_DROPPED"},
        {12130, "ERROR_GOPHER_PROTOCOL_ERROR"},
        {12131, "ERROR_GOPHER_NOT_FILE"},
        {12132, "ERROR_GOPHER_DATA_ERROR"},
        {12133, "ERROR_GOPHER_END_OF_DATA"},
        {12134, "ERROR_GOPHER_INVALID_LOCATOR"},
        {12135, "ERROR_GOPHER_INCORRECT_LOCATOR_TYPE"},
        {12136, "ERROR_GOPHER_NOT_GOPHER_PLUS"},
        {12137, "ERROR_GOPHER_ATTRIBUTE_NOT_FOUND"},
        {12138, "ERROR_GOPHER_UNKNOWN_LOCATOR"},
        {12150, "ERROR_HTTP_HEADER_NOT_FOUND"},
        {12151, "ERROR_HTTP_DOWNLEVEL_SERVER"},
        {12152, "ERROR_HTTP_INVALID_SERVER_RESPONSE"},
        {12153, "ERROR_HTTP_INVALID_HEADER"},
        {12154, "ERROR_HTTP_INVALID_QUERY_REQUEST"},
        {12155, "ERROR_HTTP_HEADER_ALREADY_EXISTS"},
        {12156, "ERROR_HTTP_REDIRECT_FAILED"},
        {12160, "ERROR_HTTP_NOT_REDIRECTED"},
        {12161, "ERROR_HTTP_COOKIE_NEEDS_CONFIRMATION"},
    };
    auto it = names.find(code);
    return it == names.end() ? "Unregistered error code" : it->second;
}

// ------------------------------------------------------------- the session

struct TCustomNetInstallLocation::TSession {
    TLibraryHandle Library = nullptr;
    CURL* (*easy_init)() = nullptr;
    CURLcode (*easy_setopt)(CURL*, int, ...) = nullptr;
    CURLcode (*easy_perform)(CURL*) = nullptr;
    CURLcode (*easy_getinfo)(CURL*, int, ...) = nullptr;
    void (*easy_reset)(CURL*) = nullptr;
    void (*easy_cleanup)(CURL*) = nullptr;
    CURL* Easy = nullptr;

    int LastCode = 0;         // the last Windows-style error code
    std::string LastResponse; // the server's last answer line

    ~TSession()
    {
        if (Easy && easy_cleanup)
            easy_cleanup(Easy);
        FreeLibrary(Library);
    }
};

namespace {

// The state of one transfer, handed to the callbacks.
struct TTransfer {
    TCustomNetInstallLocation* Location = nullptr;
    std::string* Response = nullptr;
    TPlatformFile* Dest = nullptr;
    std::string SourceFile;
    std::int64_t Total = 0;
    std::int64_t Received = 0;
    bool Cancelled = false;
    std::exception_ptr Error; // raised by a handler inside a callback
    std::function<void(const char*, std::int64_t)> OnBlock;
};

std::size_t HeaderCallback(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* transfer = static_cast<TTransfer*>(user);
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    // The server's answers: an HTTP status line or an FTP reply, not the
    // header fields.
    const bool answer = line.rfind("HTTP/", 0) == 0 || (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])));
    if (answer && transfer->Response)
        *transfer->Response = line;
    return size * count;
}

std::size_t DiscardCallback(char*, std::size_t size, std::size_t count, void*)
{
    return size * count;
}

std::size_t WriteCallback(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* transfer = static_cast<TTransfer*>(user);
    const std::size_t n = size * count;
    try {
        transfer->OnBlock(data, static_cast<std::int64_t>(n));
    } catch (...) {
        transfer->Error = std::current_exception();
        return 0;
    }
    return transfer->Cancelled ? 0 : n;
}

// Percent-encodes what a URL path cannot hold as it is.
std::string EscapePath(const std::string& path)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || std::strchr("/-._~!$&'()*+,;=:@", c) != nullptr) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string Slashes(std::string text)
{
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

} // namespace

// --------------------------------------------------------- login information

void TCustomLoginInformation::Assign(TPersistent* source)
{
    auto* other = dynamic_cast<TCustomLoginInformation*>(source);
    if (other == nullptr) {
        TPersistent::Assign(source);
        return;
    }
    Anonymous = other->Anonymous;
    Directory = other->Directory;
    Hostname = other->Hostname;
    Password = other->Password;
    Protocol = other->Protocol;
    Username = other->Username;
}

bool TCustomLoginInformation::IsValid() const
{
    if (Trim(Hostname).empty())
        return false;
    if (Anonymous)
        return true;
    return !Trim(Username).empty() && !Password.empty();
}

// ------------------------------------------------------------------- lists

int TCustomNetInstallLocationList::Add(TCustomNetInstallLocation* location)
{
    if (location == nullptr)
        throw IENetList("Cannot add a blank location to the global net location list");
    return TList::Add(location);
}

TCustomNetInstallLocationList* NetInstallLocationList()
{
    static TCustomNetInstallLocationList* list = new TCustomNetInstallLocationList;
    return list;
}

TCustomNetInstallLocation* CurrentNetLocation()
{
    return GCurrent;
}

bool DownloadCancelled()
{
    return GDownloadCancel;
}

void SetDownloadCancel(bool value)
{
    GDownloadCancel = value;
}

// ---------------------------------------------------------------- location

TCustomNetInstallLocation::TCustomNetInstallLocation(TComponent* owner)
    : TComponent(owner), FLoginInformation(new TLoginInformation(this))
{
    NetInstallLocationList()->Add(this);
}

TCustomNetInstallLocation::~TCustomNetInstallLocation()
{
    CloseSession();
    if (GCurrent == this)
        GCurrent = nullptr;
    NetInstallLocationList()->Remove(this);
    delete FLoginInformation;
}

void TCustomNetInstallLocation::CloseSession()
{
    delete FSession;
    FSession = nullptr;
    FLoaded = false;
    FConnected = false;
}

void TCustomNetInstallLocation::RaiseNIL(int kind, const std::string& message)
{
    const int code = FSession ? FSession->LastCode : 0;
    std::string response = FSession ? FSession->LastResponse : std::string();
    if (response.empty())
        response = "No server response";
    const std::string host = GCurrent ? GCurrent->LoginInformation()->Hostname : std::string();
    const std::string text = Format("%s. Error message %s. Server %s. Response from server %s",
                                    {message, NetErrorName(code), host, response});
    switch (kind) {
    case nkOpenSession:
        throw ENIL_OpenSession(text);
    case nkOpenService:
        throw ENIL_OpenService(text);
    case nkFailDataQuery:
        throw ENIL_FailDataQuery(text);
    case nkReadFile:
        throw ENIL_ReadFile(text);
    case nkFileNotFound:
        throw ENIL_FileNotFound(text);
    case nkFTPSetDir:
        throw ENIL_FTPSetDir(text);
    case nkFTPOpenFile:
        throw ENIL_FTPOpenFile(text);
    case nkFTPCloseFile:
        throw ENIL_FTPCloseFile(text);
    case nkHTTPOpenFile:
        throw ENIL_HTTPOpenFile(text);
    default:
        throw ENIL_HTTPSendRequest(text);
    }
}

void TCustomNetInstallLocation::LoadWinINet()
{
    if (FLoaded)
        return;
    auto session = std::make_unique<TSession>();
    session->Library = LoadLibrary(TransferLibraryName);
    if (session->Library == nullptr)
        throw ENIL_FailLoadWININET("Failed to load the Wininet.dll. If this is a hybrid installation, you might want "
                                   "to include the WININET.DLL file in the PresetupFiles property of the TInstall "
                                   "component");
    auto take = [&](auto& entry, const char* name) {
        entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(GetProcAddress(session->Library, name));
        if (entry == nullptr)
            throw ENIL_FailLoadDLLProc(Format("Failed to load the procedure %s from WININET.DLL", {name}));
    };
    take(session->easy_init, "curl_easy_init");
    take(session->easy_setopt, "curl_easy_setopt");
    take(session->easy_perform, "curl_easy_perform");
    take(session->easy_getinfo, "curl_easy_getinfo");
    take(session->easy_reset, "curl_easy_reset");
    take(session->easy_cleanup, "curl_easy_cleanup");
    FSession = session.release();
    FLoaded = true;
}

void TCustomNetInstallLocation::AssignLoginInformation(TCustomLoginInformation* source)
{
    FLoginInformation->Assign(source);
    CloseSession(); // the next transfer logs in anew
}

std::string TCustomNetInstallLocation::UrlOf(const std::string& sourceFile, bool directoryOnly) const
{
    const TCustomLoginInformation* login = FLoginInformation;
    if (login->Protocol == ipFTP) {
        std::string dir = Slashes(Trim(login->Directory));
        if (dir.empty())
            dir = "/";
        if (dir.front() != '/')
            dir = "/" + dir;
        if (dir.back() != '/')
            dir += '/';
        // "ftp://host/%2F..." would be absolute; the server's directory is
        // taken as the login's, as a change of directory after logging in.
        return "ftp://" + login->Hostname + EscapePath(dir) + (directoryOnly ? "" : EscapePath(sourceFile));
    }
    std::string object = login->Directory;
    if (object.empty() || object.back() != '\\')
        object += '\\';
    object = Slashes(object) + sourceFile;
    if (object.front() != '/')
        object = "/" + object;
    return "http://" + login->Hostname + EscapePath(object);
}

void TCustomNetInstallLocation::Connect()
{
    GCurrent = this;
    if (!FLoaded)
        LoadWinINet();
    if (FSession->Easy == nullptr) {
        FSession->Easy = FSession->easy_init();
        if (FSession->Easy == nullptr)
            RaiseNIL(nkOpenSession, "Cannot open internet connection");
    }
    if (FConnected)
        return;
    if (OnBeforeConnect)
        OnBeforeConnect(this);
    if (FLoginInformation->Protocol == ipFTP) {
        // Log in and change to the directory; nothing is transferred.
        TTransfer transfer;
        transfer.Response = &FSession->LastResponse;
        CURL* easy = FSession->Easy;
        FSession->easy_reset(easy);
        const std::string url = UrlOf("", true);
        FSession->easy_setopt(easy, CURLOPT_URL, url.c_str());
        FSession->easy_setopt(easy, CURLOPT_NOBODY, 1L);
        FSession->easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        FSession->easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 30L);
        FSession->easy_setopt(easy, CURLOPT_NOPROXY, "*");
        FSession->easy_setopt(easy, CURLOPT_HEADERFUNCTION, static_cast<TWriteCallback>(HeaderCallback));
        FSession->easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
        FSession->easy_setopt(easy, CURLOPT_WRITEFUNCTION, static_cast<TWriteCallback>(DiscardCallback));
        if (!FLoginInformation->Anonymous) {
            FSession->easy_setopt(easy, CURLOPT_USERNAME, FLoginInformation->Username.c_str());
            FSession->easy_setopt(easy, CURLOPT_PASSWORD, FLoginInformation->Password.c_str());
        }
        const CURLcode rc = FSession->easy_perform(easy);
        FSession->LastCode = WinInetCodeOf(rc);
        if (rc == CURLE_REMOTE_ACCESS_DENIED || rc == CURLE_REMOTE_FILE_NOT_FOUND) {
            std::string dir = Slashes(FLoginInformation->Directory);
            RaiseNIL(nkFTPSetDir, Format("Cannot set directory on server to %s", {dir.empty() ? "/" : dir}));
        }
        if (rc != CURLE_OK)
            RaiseNIL(nkOpenService, Format("Cannot connect to host %s", {FLoginInformation->Hostname}));
    }
    FConnected = true;
    if (OnAfterConnect)
        OnAfterConnect(this);
}

void TCustomNetInstallLocation::Download(const std::string& sourceFile, const std::string& destFile)
{
    Connect();
    FSourceFile = sourceFile;
    FDestFile = destFile;
    if (OnBeforeDownload)
        OnBeforeDownload(this);
    Transfer(UrlOf(sourceFile));
}

void TCustomNetInstallLocation::Transfer(const std::string& url)
{
    const bool ftp = FLoginInformation->Protocol == ipFTP;
    CURL* easy = FSession->Easy;
    TTransfer transfer;
    transfer.Location = this;
    transfer.Response = &FSession->LastResponse;
    transfer.SourceFile = FSourceFile;
    auto common = [&]() {
        FSession->easy_reset(easy);
        FSession->easy_setopt(easy, CURLOPT_URL, url.c_str());
        FSession->easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        FSession->easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 30L);
        FSession->easy_setopt(easy, CURLOPT_NOPROXY, "*");
        FSession->easy_setopt(easy, CURLOPT_BUFFERSIZE, 8192L);
        FSession->easy_setopt(easy, CURLOPT_HEADERFUNCTION, static_cast<TWriteCallback>(HeaderCallback));
        FSession->easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
        const std::string agent = Application->Title().empty() ? "Setup" : Application->Title();
        FSession->easy_setopt(easy, CURLOPT_USERAGENT, agent.c_str());
        if (!FLoginInformation->Anonymous) {
            FSession->easy_setopt(easy, CURLOPT_USERNAME, FLoginInformation->Username.c_str());
            FSession->easy_setopt(easy, CURLOPT_PASSWORD, FLoginInformation->Password.c_str());
        }
    };

    // The size: the server's SIZE answer for FTP, the content length for HTTP.
    common();
    FSession->easy_setopt(easy, CURLOPT_NOBODY, 1L);
    FSession->easy_setopt(easy, CURLOPT_WRITEFUNCTION, static_cast<TWriteCallback>(DiscardCallback));
    if (!ftp) {
        FSession->easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        FSession->easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
    }
    CURLcode rc = FSession->easy_perform(easy);
    FSession->LastCode = WinInetCodeOf(rc);
    long status = 0;
    FSession->easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (ftp) {
        if (rc == CURLE_REMOTE_FILE_NOT_FOUND || rc == CURLE_FTP_COULDNT_RETR_FILE || rc == CURLE_REMOTE_ACCESS_DENIED)
            RaiseNIL(nkFTPOpenFile, Format("Cannot open file %s on server", {FSourceFile}));
        if (rc == CURLE_LOGIN_DENIED)
            RaiseNIL(nkOpenService, Format("Cannot connect to host %s", {FLoginInformation->Hostname}));
        if (rc != CURLE_OK)
            RaiseNIL(nkFailDataQuery, Format("Could not query file %s on server", {FSourceFile}));
    } else {
        if (rc == CURLE_HTTP_RETURNED_ERROR && (status == 404 || status == 410))
            RaiseNIL(nkFileNotFound, Format("Could not find the file %s on the server", {FSourceFile}));
        if (rc == CURLE_HTTP_RETURNED_ERROR)
            RaiseNIL(nkHTTPOpenFile, Format("Cannot open file %s on server", {FSourceFile}));
        if (rc != CURLE_OK)
            RaiseNIL(nkHTTPSendRequest, Format("Cannot send request for file %s to the server", {FSourceFile}));
    }
    curl_off_t length = -1;
    FSession->easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    transfer.Total = length > 0 ? length : 0;

    // The local file, replacing one that exists.
    std::string native;
    std::unique_ptr<TPlatformFile> dest;
    if (WinPathToNative(FDestFile, native))
        dest = TPlatformFile::Open(native, TFileAccess::Write, TFileShare::DenyNone, TFileCreate::CreateAlways);
    if (!dest)
        throw ENIL_WriteDestFile(Format("%s could not write to the local dest file %s", {Name(), FDestFile}));
    transfer.Dest = dest.get();
    const Integer total = static_cast<Integer>(std::min<std::int64_t>(transfer.Total, INT32_MAX));
    transfer.OnBlock = [this, &transfer, total](const char* data, std::int64_t n) {
        if (n <= 0)
            return;
        transfer.Received += n;
        const auto received = static_cast<Integer>(std::min<std::int64_t>(transfer.Received, INT32_MAX));
        if (OnProgress)
            OnProgress(this, FSourceFile, data, total, received, static_cast<Integer>(n));
        if (OnDataReceived)
            OnDataReceived(this, FSourceFile, data, total, received, static_cast<Integer>(n));
        Application->ProcessMessages();
        if (GDownloadCancel) {
            transfer.Cancelled = true;
            return;
        }
        if (transfer.Dest->WriteAt(transfer.Received - n, data, n) != n)
            throw ENIL_WriteDestFile(Format("%s could not write to the local dest file %s", {Name(), FDestFile}));
    };

    common();
    FSession->easy_setopt(easy, CURLOPT_WRITEFUNCTION, static_cast<TWriteCallback>(WriteCallback));
    FSession->easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    if (!ftp) {
        FSession->easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        FSession->easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
    }
    rc = FSession->easy_perform(easy);
    FSession->LastCode = WinInetCodeOf(rc);
    dest.reset();
    if (transfer.Error)
        std::rethrow_exception(transfer.Error);
    if (transfer.Cancelled) {
        if (OnAfterDownload)
            OnAfterDownload(this, true);
        return;
    }
    if (rc != CURLE_OK) {
        status = 0;
        FSession->easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        if (!ftp && rc == CURLE_HTTP_RETURNED_ERROR && (status == 404 || status == 410))
            RaiseNIL(nkFileNotFound, Format("Could not find the file %s on the server", {FSourceFile}));
        if (ftp && (rc == CURLE_REMOTE_FILE_NOT_FOUND || rc == CURLE_FTP_COULDNT_RETR_FILE))
            RaiseNIL(nkFTPOpenFile, Format("Cannot open file %s on server", {FSourceFile}));
        RaiseNIL(nkReadFile, Format("Could not read from file %s on the server", {FSourceFile}));
    }
    if (transfer.Received == 0)
        RaiseNIL(nkFileNotFound, Format("Could not find the file %s on the server", {FSourceFile}));
    if (OnAfterDownload)
        OnAfterDownload(this, false);
}

} // namespace orvex
