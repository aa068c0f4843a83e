// A minimal self-extracting loader for the end-to-end tests, kept small (it
// stands on the first removable disk): it reads the 56-byte trailer at the
// end of its own file, inflates every file of the setup archive (one-file
// layout: a 5-byte header, then per file a 176-byte record and its zlib
// stream) into a new folder under the emulated machine's temporary folder,
// and starts the setup program (the archive's first file) with its own
// arguments followed by "-e" (its file name) and "-s" (its folder). Its exit
// code is the setup's. The machine's root and its temporary folder come from
// ORVEX_WINDOWS_ROOT and ORVEX_LOADER_TEMP.

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <ctime>

#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::int32_t Int32(const std::string& data, std::size_t at)
{
    std::uint32_t u = 0;
    for (int i = 3; i >= 0; --i)
        u = (u << 8) | static_cast<std::uint8_t>(data.at(at + i));
    return static_cast<std::int32_t>(u);
}

// The native folder of drive C: and the Windows-form path of a native one.
std::string DriveC()
{
    const char* root = std::getenv("ORVEX_WINDOWS_ROOT");
    return std::string(root ? root : "") + "/c";
}

std::string WinForm(const std::string& native)
{
    const std::string c = DriveC();
    if (native.compare(0, c.size() + 1, c + "/") != 0)
        return native;
    std::string rest = native.substr(c.size() + 1);
    for (char& ch : rest)
        if (ch == '/')
            ch = '\\';
    return "C:\\" + rest;
}

// The machine's temporary folder (native), as the test gives it.
std::string TempFolder()
{
    const char* temp = std::getenv("ORVEX_LOADER_TEMP");
    return temp ? temp : DriveC() + "/temp";
}

} // namespace

int main(int argc, char** argv)
{
    const std::string self = fs::canonical("/proc/self/exe").string();
    std::ifstream in(self, std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < 56 || file[file.size() - 56] != 14) {
        std::fprintf(stderr, "loader: no trailer\n");
        return 20;
    }
    const std::size_t base = static_cast<std::size_t>(Int32(file, file.size() - 40));
    const std::size_t last = static_cast<std::size_t>(Int32(file, file.size() - 36));
    const std::string archive = file.substr(base, last - base + 1);
    const std::string folder = TempFolder() + "/LOADER" + std::to_string(::getpid());
    fs::create_directories(folder);
    const int count = Int32(archive, 0);
    std::size_t at = 5;
    std::string setup;
    for (int i = 0; i < count; ++i) {
        const std::string record = archive.substr(at, 176);
        std::string path = record.substr(25, static_cast<std::uint8_t>(record[24]));
        const std::string name = path.substr(path.find_last_of("\\/") + 1);
        const std::size_t start = static_cast<std::size_t>(Int32(record, 136));
        const std::size_t end = static_cast<std::size_t>(Int32(record, 20)) + 1;
        std::string out(static_cast<std::size_t>(Int32(record, 132)), '\0');
        uLongf size = out.size();
        z_stream z{};
        inflateInit(&z);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(archive.data() + start));
        z.avail_in = static_cast<uInt>(end - start);
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = static_cast<uInt>(size);
        const int rc = inflate(&z, Z_FINISH);
        inflateEnd(&z);
        if (rc != Z_STREAM_END && !(out.empty() && rc == Z_BUF_ERROR)) {
            std::fprintf(stderr, "loader: bad stream for %s\n", name.c_str());
            return 21;
        }
        std::ofstream(folder + "/" + name, std::ios::binary).write(out.data(), static_cast<std::streamsize>(out.size()));
        if (setup.empty())
            setup = folder + "/" + name;
        // The file's date from its record (local time), as extraction gives it.
        double date = 0;
        std::memcpy(&date, record.data() + 8, 8);
        const double seconds = (date - 25569.0) * 86400.0;
        const std::time_t asUtc = static_cast<std::time_t>(seconds >= 0 ? seconds + 0.5 : seconds - 0.5);
        std::tm parts{};
        ::gmtime_r(&asUtc, &parts);
        parts.tm_isdst = -1;
        struct timeval times[2] = {{std::mktime(&parts), 0}, {std::mktime(&parts), 0}};
        ::utimes((folder + "/" + name).c_str(), times);
        at = static_cast<std::size_t>(Int32(record, 128));
    }
    fs::permissions(setup, fs::perms::owner_all);
    std::vector<std::string> args = {setup};
    for (int i = 1; i < argc; ++i)
        args.push_back(argv[i]);
    const std::string winSelf = WinForm(self);
    const auto slash = winSelf.find_last_of('\\');
    args.push_back("-e" + winSelf.substr(slash + 1));
    args.push_back("-s" + winSelf.substr(0, slash));
    std::vector<char*> raw;
    for (std::string& arg : args)
        raw.push_back(arg.data());
    raw.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execv(setup.c_str(), raw.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
