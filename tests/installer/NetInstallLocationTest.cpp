// Downloads from real HTTP and FTP servers that the tests start on loopback
// (python3's http.server and pyftpdlib).

#include "host/forms/Forms.h"
#include "installer/cmp_TInstall.h"
#include "installer/cmp_TNetInstallLocation.h"
#include "platform/DynLib.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace orvex {
namespace {

namespace fs = std::filesystem;

const char* const HttpScript = R"(
import http.server, os, sys
os.chdir(sys.argv[1])
class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
)";

const char* const FtpScript = R"(
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
logging.disable(logging.CRITICAL)
authorizer = DummyAuthorizer()
authorizer.add_user('setup', 'secret', sys.argv[1], perm='elr')
authorizer.add_anonymous(sys.argv[1])
FTPHandler.authorizer = authorizer
server = FTPServer(('127.0.0.1', 0), FTPHandler)
print(server.socket.getsockname()[1], flush=True)
server.serve_forever()
)";

// The Python that has what a script imports, or empty.
std::string PythonWith(const std::string& module)
{
    for (const char* python : {"/usr/bin/python3", "python3"}) {
        const std::string command = std::string(python) + " -c 'import " + module + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) == 0)
            return python;
    }
    return "";
}

// A server process serving a folder; gone with the object.
class TServer {
public:
    TServer(const std::string& python, const char* script, const std::string& folder)
    {
        int pipes[2];
        if (::pipe(pipes) != 0)
            return;
        FPid = ::fork();
        if (FPid == 0) {
            ::dup2(pipes[1], 1);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 2);
            ::close(pipes[0]);
            ::close(pipes[1]);
            ::execlp(python.c_str(), python.c_str(), "-c", script, folder.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(pipes[1]);
        FILE* out = ::fdopen(pipes[0], "r");
        if (out && std::fscanf(out, "%d", &FPort) != 1)
            FPort = 0;
        if (out)
            std::fclose(out);
    }
    ~TServer()
    {
        if (FPid > 0) {
            ::kill(FPid, SIGTERM);
            ::waitpid(FPid, nullptr, 0);
        }
    }
    int Port() const { return FPort; }

private:
    pid_t FPid = -1;
    int FPort = 0;
};

class NetInstallLocationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDownloadCancel(false);
        Served = Root.Path() + "/served";
        fs::create_directories(Served + "/pub/setup");
        std::mt19937 rng(7);
        Archive.resize(3 << 20);
        for (char& c : Archive)
            c = static_cast<char>(rng());
        Write("files.1", Archive);
        Write("pub/setup/files.1", Archive);
        Write("holds404.txt", "HTTP/1.0 404 and more text, but the file is good");
        Write("empty.txt", "");
    }
    void TearDown() override { SetDownloadCancel(false); }

    void Write(const std::string& relative, const std::string& data)
    {
        std::ofstream(Served + "/" + relative, std::ios::binary) << data;
    }
    std::string Read(const std::string& winPath)
    {
        std::ifstream in(NativePath(winPath), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::string ErrorOf(const std::function<void()>& action)
    {
        try {
            action();
        } catch (const Exception& e) {
            return e.ClassName() + ": " + e.Message();
        }
        return "(no error)";
    }

    TTempWindowsRoot Root;
    std::string Served;
    std::string Archive;
};

TEST_F(NetInstallLocationTest, HttpDownloadsByStatusCode)
{
    const std::string python = PythonWith("http.server");
    if (python.empty())
        GTEST_SKIP() << "no python3";
    TServer server(python, HttpScript, Served);
    ASSERT_GT(server.Port(), 0);
    TTempWindowsRoot::MakeFolder("C:\\down");

    TNetInstallLocation location(nullptr);
    location.SetName("Web");
    location.LoginInformation()->Hostname = "127.0.0.1:" + std::to_string(server.Port());
    location.LoginInformation()->Directory = "pub\\setup";
    EXPECT_EQ(location.UrlOf("files.1"), "http://127.0.0.1:" + std::to_string(server.Port()) + "/pub/setup/files.1");
    Integer lastTotal = -1, lastReceived = 0, blocks = 0;
    location.OnProgress = [&](TObject*, const std::string& name, const char*, Integer total, Integer received,
                              Integer block) {
        EXPECT_EQ(name, "files.1");
        EXPECT_LE(block, 16384);
        lastTotal = total;
        lastReceived = received;
        ++blocks;
    };
    bool afterCancelled = true;
    location.OnAfterDownload = [&](TObject*, bool cancelled) { afterCancelled = cancelled; };
    location.Download("files.1", "C:\\down\\files.1");
    EXPECT_EQ(Read("C:\\down\\files.1"), Archive);
    EXPECT_EQ(lastTotal, static_cast<Integer>(Archive.size()));
    EXPECT_EQ(lastReceived, static_cast<Integer>(Archive.size()));
    EXPECT_GT(blocks, 100);
    EXPECT_FALSE(afterCancelled);

    location.OnProgress = nullptr;
    location.LoginInformation()->Directory = "";
    location.Download("holds404.txt", "C:\\down\\good.txt"); // a good file that holds "404"
    EXPECT_EQ(Read("C:\\down\\good.txt"), "HTTP/1.0 404 and more text, but the file is good");

    const std::string host = "127.0.0.1:" + std::to_string(server.Port());
    EXPECT_EQ(ErrorOf([&] { location.Download("missing.1", "C:\\down\\missing.1"); }),
              "ENIL_FileNotFound: Could not find the file missing.1 on the server. Error message "
              "ERROR_INTERNET_EXTENDED_ERROR. Server " +
                  host + ". Response from server HTTP/1.0 404 File not found");
    EXPECT_EQ(ErrorOf([&] { location.Download("empty.txt", "C:\\down\\empty.txt"); }).substr(0, 64),
              "ENIL_FileNotFound: Could not find the file empty.txt on the serv");

    // A cancel mid-transfer stops quietly and tells the after-download event.
    blocks = 0;
    location.OnProgress = [&](TObject*, const std::string&, const char*, Integer, Integer, Integer) {
        if (++blocks == 5)
            SetDownloadCancel(true);
    };
    location.LoginInformation()->Directory = "pub\\setup";
    location.Download("files.1", "C:\\down\\cut.1");
    EXPECT_TRUE(afterCancelled);
    EXPECT_EQ(blocks, 5);
    EXPECT_LT(Read("C:\\down\\cut.1").size(), Archive.size());
}

TEST_F(NetInstallLocationTest, FtpLogsInChangesDirectoryAndTakesTheSize)
{
    const std::string python = PythonWith("pyftpdlib");
    if (python.empty())
        GTEST_SKIP() << "no pyftpdlib";
    TServer server(python, FtpScript, Served);
    ASSERT_GT(server.Port(), 0);
    TTempWindowsRoot::MakeFolder("C:\\down");
    const std::string host = "127.0.0.1:" + std::to_string(server.Port());

    TNetInstallLocation location(nullptr);
    location.SetName("Ftp");
    TCustomLoginInformation* login = location.LoginInformation();
    login->Protocol = ipFTP;
    login->Hostname = host;
    login->Directory = "pub\\setup";
    login->Anonymous = false;
    login->Username = "setup";
    login->Password = "secret";
    EXPECT_EQ(location.UrlOf("files.1"), "ftp://" + host + "/pub/setup/files.1");
    Integer total = 0;
    location.OnDataReceived = [&](TObject*, const std::string&, const char*, Integer t, Integer, Integer) {
        total = t;
    };
    location.Download("files.1", "C:\\down\\files.1");
    EXPECT_EQ(Read("C:\\down\\files.1"), Archive);
    EXPECT_EQ(total, static_cast<Integer>(Archive.size())); // from the SIZE answer

    EXPECT_EQ(ErrorOf([&] { location.Download("missing.1", "C:\\down\\missing.1"); }).substr(0, 58),
              "ENIL_FTPOpenFile: Cannot open file missing.1 on server. Er");

    TNetInstallLocation wrongDir(nullptr);
    wrongDir.AssignLoginInformation(login);
    wrongDir.LoginInformation()->Directory = "no\\such";
    EXPECT_EQ(ErrorOf([&] { wrongDir.Connect(); }).substr(0, 60),
              "ENIL_FTPSetDir: Cannot set directory on server to no/such. E");

    TNetInstallLocation refused(nullptr);
    refused.AssignLoginInformation(login);
    refused.LoginInformation()->Password = "wrong";
    const std::string error = ErrorOf([&] { refused.Download("files.1", "C:\\down\\x.1"); });
    EXPECT_EQ(error.rfind("ENIL_OpenService: Cannot connect to host " + host + ". Error message ", 0), 0u) << error;
    EXPECT_NE(error.find("Response from server 530"), std::string::npos) << error;

    TNetInstallLocation anonymous(nullptr);
    anonymous.LoginInformation()->Protocol = ipFTP;
    anonymous.LoginInformation()->Hostname = host;
    anonymous.Download("holds404.txt", "C:\\down\\anon.txt");
    EXPECT_EQ(Read("C:\\down\\anon.txt"), "HTTP/1.0 404 and more text, but the file is good");
}

TEST_F(NetInstallLocationTest, AContainerDownloadsItsArchiveAndACancelAbortsTheInstall)
{
    const std::string python = PythonWith("http.server");
    if (python.empty())
        GTEST_SKIP() << "no python3";
    TServer server(python, HttpScript, Served);
    ASSERT_GT(server.Port(), 0);
    std::string temp;
    ASSERT_TRUE(GetTempPath(temp));
    TTempWindowsRoot::MakeFolder(temp);
    Write("Dir.1", Archive);

    TForm* form = new TForm(nullptr);
    form->BeginLoading();
    auto* install = new TInstall(form);
    auto* location = new TNetInstallLocation(form);
    location->LoginInformation()->Hostname = "127.0.0.1:" + std::to_string(server.Port());
    auto* dir = new TInstallDirectory(form);
    dir->SetName("Dir");
    dir->SetContainer(install);
    form->EndLoading();
    EXPECT_THROW(install->SetDistributeType(dtWeb), IEInstallNetLocNil);
    install->SetNetLocation(location);
    install->SetDistributeType(dtWeb);

    std::vector<Integer> percents;
    dir->OnDataReceived = [&](TObject*, const std::string&, Integer, Integer, Integer, Integer percent) {
        percents.push_back(percent);
    };
    dir->DownloadArchive();
    EXPECT_TRUE(dir->DownloadedArchiveAvailable());
    EXPECT_EQ(Read(dir->DownloadedArchivePath()), Archive);
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 100);

    auto* other = new TInstallDirectory(form);
    other->SetName("Other");
    other->SetContainer(install);
    Write("Other.1", Archive);
    location->OnProgress = [](TObject*, const std::string&, const char*, Integer, Integer, Integer) {
        SetDownloadCancel(true);
    };
    EXPECT_THROW(other->DownloadArchive(), EAIUserAbort);
    EXPECT_FALSE(other->DownloadedArchiveAvailable());

    location->LoginInformation()->Hostname = "";
    EXPECT_EQ(ErrorOf([&] { other->DownloadArchive(); }),
              "IEFileRelated: Other could not install itself because the LoginInformation property of the TInstall "
              "component has not been properly filled in");
    delete form;
}

TEST_F(NetInstallLocationTest, LoginNeedsItsPasswordAndAMissingLibraryIsTheLoadError)
{
    TCustomLoginInformation login;
    EXPECT_FALSE(login.IsValid());
    login.Hostname = "server";
    EXPECT_TRUE(login.IsValid());
    login.Anonymous = false;
    login.Username = "user";
    EXPECT_FALSE(login.IsValid()); // a user name needs its password
    login.Password = "pw";
    EXPECT_TRUE(login.IsValid());

    MapLibraryName("libcurl.so.4", "");
    TNetInstallLocation location(nullptr);
    location.LoginInformation()->Hostname = "127.0.0.1";
    const std::string error = ErrorOf([&] { location.Connect(); });
    UnmapLibraryName("libcurl.so.4");
    EXPECT_EQ(error, "ENIL_FailLoadWININET: Failed to load the Wininet.dll. If this is a hybrid installation, you "
                     "might want to include the WININET.DLL file in the PresetupFiles property of the TInstall "
                     "component");
    EXPECT_EQ(CurrentNetLocation(), &location);
    EXPECT_EQ(NetErrorName(12029), "ERROR_INTERNET_CANNOT_CONNECT");
    EXPECT_EQ(NetErrorName(12345), "Unregistered error code");
    EXPECT_THROW(NetInstallLocationList()->Add(nullptr), IENetList);
}

} // namespace
} // namespace orvex
