// The setup archive (being built).

#include "installer/cmp_TDrvnCompress.h"

#include "installer/exceptions_Dorvane.h"
#include "platform/FileIO.h"

namespace orvex {

TFileHeaders::~TFileHeaders()
{
    Clear();
}
TFileHeader* TFileHeaders::FileHeaders(int index) const
{
    if (index < 0 || index >= Count())
        throw EDrvnCompress(Format("%d is an invalid TFileHeader index in TFileHeaders.GetFileHeaders", {index}));
    return FItems[index];
}
int TFileHeaders::Add(TFileHeader* header)
{
    if (header == nullptr)
        throw EDrvnCompress("Tried to add an invalid file header");
    FItems.push_back(header);
    return Count() - 1;
}
void TFileHeaders::Clear()
{
    for (TFileHeader* h : FItems)
        delete h;
    FItems.clear();
}
int TFileHeaders::IndexOfName(const std::string&) const
{
    return -1;
}

TDrvnCompress::TDrvnCompress(TComponent* owner) : TComponent(owner), FFilesToProcess(new TStringList) {}
TDrvnCompress::~TDrvnCompress()
{
    delete FFilesToProcess;
}
void TDrvnCompress::SetCompressedFile(const std::string& value)
{
    FCompressedFile = value;
}
void TDrvnCompress::Compress(bool, Integer) {}
void TDrvnCompress::Extract() {}
void TDrvnCompress::List() {}
void TDrvnCompress::ReadHeaders() {}
void TDrvnCompress::GetFileStatus(int, TDrvnCompressStatus&) {}
int TDrvnCompress::IndexOfFileID(Integer)
{
    throw EDrvnCompress(CorruptArchiveText);
}
void TDrvnCompress::SplitToDisks(const std::string&, const std::string&) {}
void TDrvnCompress::Copy(const std::string&, const std::string&) {}

} // namespace orvex
