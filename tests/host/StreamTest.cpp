#include "host/Classes.h"
#include "platform/FileIO.h"

#include "ClassesTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace orvex {
namespace {

std::string ReadAll(TStream& stream)
{
    stream.SetPosition(0);
    std::string s(static_cast<std::size_t>(stream.Size()), '\0');
    stream.ReadBuffer(s.data(), static_cast<std::int32_t>(s.size()));
    return s;
}

std::string FileBytes(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

TEST(MemoryStreamTest, ReadWriteSeekAndSize)
{
    TMemoryStream m;
    EXPECT_EQ(m.Size(), 0);
    m.WriteBuffer("hello world", 11);
    EXPECT_EQ(m.Position(), 11);
    EXPECT_EQ(m.Size(), 11);
    EXPECT_EQ(std::memcmp(m.Memory(), "hello world", 11), 0);

    m.Seek(-5, soEnd);
    m.WriteBuffer("there!", 6); // overwrites and grows
    EXPECT_EQ(ReadAll(m), "hello there!");

    char buf[8] = {};
    m.SetPosition(10);
    EXPECT_EQ(m.Read(buf, 8), 2); // short read at the end
    EXPECT_EQ(m.Read(buf, 8), 0);
    EXPECT_RAISES(m.ReadBuffer(buf, 1), EReadError, "Stream read error");

    m.SetPosition(15); // beyond the end: a write leaves zeros in the gap
    m.WriteBuffer("x", 1);
    EXPECT_EQ(ReadAll(m), std::string("hello there!\0\0\0x", 16));

    m.SetSize(5); // the position follows a shrink
    EXPECT_EQ(m.Position(), 5);
    m.SetSize(8);
    EXPECT_EQ(ReadAll(m), std::string("hello\0\0\0", 8));

    EXPECT_EQ(m.Seek(-2, soCurrent), 6);
    m.SetPosition(-1);
    EXPECT_EQ(m.Read(buf, 1), 0); // before the start: nothing to read
    m.Clear();
    EXPECT_EQ(m.Size(), 0);
    EXPECT_EQ(m.Position(), 0);
}

TEST(MemoryStreamTest, CopyFromAndLoadSave)
{
    std::string big(200000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 31 % 251);
    TStringStream source(big);
    source.SetPosition(1234);

    TMemoryStream m;
    EXPECT_EQ(m.CopyFrom(&source, 0), 200000); // 0: everything, from the start
    EXPECT_EQ(ReadAll(m), big);

    source.SetPosition(10);
    TMemoryStream part;
    EXPECT_EQ(part.CopyFrom(&source, 5), 5);
    EXPECT_EQ(ReadAll(part), big.substr(10, 5));
    source.SetPosition(big.size() - 3);
    EXPECT_RAISES(part.CopyFrom(&source, 10), EReadError, "Stream read error");

    testing::ScratchDir dir;
    const std::string name = dir.File("blob.bin");
    m.SaveToFile(name);
    EXPECT_EQ(FileBytes(name), big);
    TMemoryStream loaded;
    loaded.LoadFromFile(name);
    EXPECT_EQ(ReadAll(loaded), big);

    TMemoryStream fromStream;
    TStringStream small("abc");
    small.SetPosition(2);
    fromStream.LoadFromStream(&small); // always from the start of the source
    EXPECT_EQ(ReadAll(fromStream), "abc");
    TStringStream sink;
    fromStream.SaveToStream(&sink);
    EXPECT_EQ(sink.DataString(), "abc");
}

TEST(StringStreamTest, BehavesAsTheFrameworksStringStream)
{
    TStringStream s("abcdef");
    EXPECT_EQ(s.Size(), 6);
    EXPECT_EQ(s.ReadString(4), "abcd");
    EXPECT_EQ(s.ReadString(10), "ef");
    EXPECT_EQ(s.ReadString(1), "");

    // Seeking is clamped to the string.
    EXPECT_EQ(s.Seek(100, soBeginning), 6);
    EXPECT_EQ(s.Seek(-100, soCurrent), 0);
    EXPECT_EQ(s.Seek(-2, soEnd), 4);

    // A write ends the string where the write ends.
    s.SetPosition(2);
    s.WriteString("XY");
    EXPECT_EQ(s.DataString(), "abXY");
    s.WriteString("123");
    EXPECT_EQ(s.DataString(), "abXY123");
    s.SetSize(3);
    EXPECT_EQ(s.DataString(), "abX");
    EXPECT_EQ(s.Position(), 3);
}

TEST(FileStreamTest, CreateWriteReopenRead)
{
    testing::ScratchDir dir;
    const std::string name = dir.File("data.bin");
    {
        TFileStream f(name, fmCreate);
        EXPECT_EQ(f.FileName(), name);
        f.WriteBuffer("0123456789", 10);
        f.SetPosition(4);
        f.WriteBuffer("ab", 2);
        EXPECT_EQ(f.Size(), 10);
        EXPECT_EQ(f.Position(), 6);
    }
    EXPECT_EQ(FileBytes(name), "0123ab6789");
    {
        TFileStream f(name, fmOpenRead | fmShareDenyNone);
        char buf[16] = {};
        EXPECT_EQ(f.Seek(-3, soEnd), 7);
        EXPECT_EQ(f.Read(buf, 16), 3);
        EXPECT_EQ(std::string(buf, 3), "789");
        EXPECT_EQ(f.Seek(-1, soBeginning), -1); // refused; the position stays
        EXPECT_EQ(f.Position(), 10);
        EXPECT_RAISES(f.WriteBuffer("z", 1), EWriteError, "Stream write error"); // opened for reading
    }
    {
        TFileStream f(name, fmOpenReadWrite | fmShareExclusive);
        f.SetSize(4); // the position moves to the new end
        EXPECT_EQ(f.Position(), 4);
        f.WriteBuffer("!", 1);
    }
    EXPECT_EQ(FileBytes(name), "0123!");
    {
        TFileStream f(name, fmCreate); // create empties an existing file
        EXPECT_EQ(f.Size(), 0);
    }
    EXPECT_EQ(FileBytes(name), "");
}

TEST(FileStreamTest, OpenAndCreateErrors)
{
    testing::ScratchDir dir;
    const std::string missing = dir.File("missing.bin");
    EXPECT_RAISES(TFileStream(missing, fmOpenRead), EFOpenError, "Cannot open file " + missing);
    EXPECT_FALSE(FileExists(missing)); // opening never creates
    const std::string noFolder = dir.File("no/such/folder.bin");
    EXPECT_RAISES(TFileStream(noFolder, fmCreate), EFCreateError, "Cannot create file " + noFolder);

    // Both derive from the stream error.
    EXPECT_THROW(TFileStream(missing, fmOpenReadWrite), EStreamError);

    const std::string name = dir.File("x.bin");
    TFileStream(name, fmCreate).WriteBuffer("x", 1);
    EXPECT_RAISES(TFileStream(name, 0x0003), EFOpenError, "Cannot open file " + name); // no such access mode
    EXPECT_RAISES(TFileStream(name, fmOpenRead | 0x0050), EFOpenError, "Cannot open file " + name);
}

} // namespace
} // namespace orvex
