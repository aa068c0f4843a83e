// Demonstration of the engine's foundation: a coded engine error raised and
// caught, the engine log it leaves, and the SHA-1 digest and CRC-32 checksum
// of the text given on the command line (or of a sample text).

#include "host/SysUtils.h"
#include "storage/vekCommon.h"
#include "storage/vekConsts.h"
#include "storage/vekCrypt.h"

#include <cstdio>
#include <string>

using namespace orvex;

namespace {

std::string HexOf(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes)
        out += Format("%.2x", {static_cast<int>(c)});
    return LowerCase(out);
}

void ShowEngineError()
{
    std::puts("== A coded engine error");
    try {
        VekDatabaseError(10249, "TBaseLockMgr.SetReadLock", SvekTableReadLockErr, nullptr);
    } catch (const EVekDatabaseError& e) {
        std::printf("code %d: %s\n", e.ErrorCode, e.Message().c_str());
    }
    try {
        VekDatabaseErrorFmt(9988, "TDiskMgr.Open", "%s", {"/nowhere/sample.vek"}, nullptr);
    } catch (const EVekDatabaseError& e) {
        std::printf("code %d: %s\n", e.ErrorCode, e.Message().c_str());
    }
}

void ShowLog()
{
    std::puts("\n== The engine log");
    for (const std::string& line : GDBLogger->LogLines())
        std::printf("%s\n", line.c_str());
}

void ShowDigests(const std::string& text)
{
    std::printf("\n== Digests of \"%s\"\n", text.c_str());
    TSha1Stream sha;
    sha.WriteBuffer(text.data(), static_cast<std::int32_t>(text.size()));
    const TSha1Digest d = sha.GetDigest();
    std::printf("SHA-1 : %08x%08x%08x%08x%08x\n", d.H0, d.H1, d.H2, d.H3, d.H4);
    sha.WriteBuffer(text.data(), static_cast<std::int32_t>(text.size()));
    std::printf("stored: %s (each word little-endian)\n", HexOf(sha.GetDigestString()).c_str());
    std::printf("CRC-32: %08X\n", CalcCRC(text.data(), static_cast<Integer>(text.size())));
}

} // namespace

int main(int argc, char** argv)
{
    std::string text = "abc";
    if (argc > 1) {
        text = argv[1];
        for (int i = 2; i < argc; ++i)
            text += std::string(" ") + argv[i];
    }
    ShowEngineError();
    ShowLog();
    ShowDigests(text);
    return 0;
}
