#include "installer/routines_Strings.h"

namespace orvex {

std::string AddBackSlash(const std::string& path)
{
    if (path.empty() || path.back() == '\\')
        return path;
    return path + '\\';
}

std::string RemoveBackSlash(const std::string& path)
{
    if (!path.empty() && path.back() == '\\')
        return path.substr(0, path.size() - 1);
    return path;
}

int TokenCount(const std::string& text, char separator)
{
    if (text.empty())
        return 0;
    int count = 0;
    for (char c : text)
        if (c == separator)
            ++count;
    return text.back() == separator ? count : count + 1;
}

std::string GetToken(const std::string& text, char separator, int n)
{
    if (n < 1 || n > TokenCount(text, separator))
        return {};
    std::size_t start = 0;
    for (int i = 1; i < n; ++i)
        start = text.find(separator, start) + 1;
    const std::size_t end = text.find(separator, start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void SplitTokens(const std::string& text, char separator, TStrings* list)
{
    list->Clear();
    const int count = TokenCount(text, separator);
    for (int i = 1; i <= count; ++i)
        list->Add(GetToken(text, separator, i));
}

std::string AfterColon(const std::string& text)
{
    const std::size_t colon = text.find(':');
    return colon == std::string::npos ? std::string() : text.substr(colon + 1);
}

std::string FileNameFilter(const std::string& text)
{
    std::string result;
    for (char c : text) {
        if (c == '/') {
            result += '-';
            continue;
        }
        if (static_cast<unsigned char>(c) < 32)
            continue;
        switch (c) {
        case '\\':
        case ':':
        case '*':
        case '?':
        case '"':
        case '<':
        case '>':
        case '|': continue;
        default: result += c;
        }
    }
    return result;
}

namespace {
std::size_t NameStart(const std::string& path)
{
    const auto sep = path.find_last_of("\\/:");
    return sep == std::string::npos ? 0 : sep + 1;
}
} // namespace

std::string WinExtractFileDir(const std::string& path)
{
    std::size_t start = NameStart(path);
    if (start == 0)
        return "";
    std::string dir = path.substr(0, start);
    if (dir.back() == ':')
        return dir;
    if (dir.size() >= 3 && dir[dir.size() - 2] == ':')
        return dir; // "C:\\"
    if (dir.size() == 1)
        return dir; // "\\"
    return dir.substr(0, dir.size() - 1);
}

std::string WinExtractFileName(const std::string& path)
{
    return path.substr(NameStart(path));
}

std::string WinChangeFileExt(const std::string& path, const std::string& ext)
{
    const std::size_t start = NameStart(path);
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || dot < start)
        return path + ext;
    return path.substr(0, dot) + ext;
}

} // namespace orvex
