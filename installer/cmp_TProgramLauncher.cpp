#include "installer/cmp_TProgramLauncher.h"

#include "installer/exceptions_Dorvane.h"
#include "platform/Process.h"
#include "platform/WinPaths.h"

namespace orvex {

std::string TProgramLauncher::StartErrorText(Integer code)
{
    switch (code) {
    case 0:
    case 8: return "Out of memory";
    case 2: return "File not found";
    case 3: return "Path not found";
    case 5: return "Sharing violation";
    case 6: return "Library/Segment error";
    case 10: return "Incorrect version of windows";
    case 11: return "Invalid file";
    case 12:
    case 13: return "Invalid DOS version";
    case 14:
    case 31: return "File type has no association";
    case 15: return "Cannot load a Real-mode application";
    case 16: return "Invalid attempt to launch second instance";
    case 19: return "Cannot load a compressed executable file";
    case 20: return "Invalid dynamic link library";
    case 21: return "Application requires Win32";
    default: return "Unknown error";
    }
}

void TProgramLauncher::Execute()
{
    auto fail = [](Integer code) { throw EProgramLauncherFailed(StartErrorText(code), code); };
    TProcessStart start;
    if (!WinPathToNative(FileName, start.Program))
        fail(SE_ERR_PNF);
    start.Arguments = SplitCommandLine(Parameters);
    if (!StartDir.empty() && !WinPathToNative(StartDir, start.Directory))
        fail(SE_ERR_PNF);
    std::uint32_t error = 0;
    auto child = TChildProcess::Start(start, error);
    if (!child)
        fail(static_cast<Integer>(error));
    if (Wait)
        child->WaitFor(Timeout);
}

} // namespace orvex
