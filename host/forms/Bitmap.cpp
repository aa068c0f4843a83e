// Graphics, bitmaps (with the Windows bitmap file format) and pictures.

#include "host/forms/Backend.h"
#include "host/forms/Graphics.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

namespace orvex {

// --------------------------------------------------------------------- TGraphic

void TGraphic::LoadFromFile(const std::string& fileName)
{
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(&stream);
}

void TGraphic::SaveToFile(const std::string& fileName)
{
    TFileStream stream(fileName, fmCreate);
    SaveToStream(&stream);
}

void TGraphic::SetTransparent(bool value)
{
    if (FTransparent != value) {
        FTransparent = value;
        Changed();
    }
}

void TGraphic::Changed()
{
    if (OnChange)
        OnChange(this);
}

// ---------------------------------------------------------------------- TBitmap

TBitmap::TBitmap() = default;

TBitmap::~TBitmap()
{
    ReleaseDevice();
}

void TBitmap::Assign(TPersistent* source)
{
    if (auto* bitmap = dynamic_cast<TBitmap*>(source)) {
        SetTransparent(bitmap->Transparent());
        SetImage(bitmap->FImage);
        return;
    }
    if (source == nullptr) {
        SetImage(TRGBImage());
        return;
    }
    TGraphic::Assign(source);
}

std::unique_ptr<TGraphic> TBitmap::Clone() const
{
    auto copy = std::make_unique<TBitmap>();
    copy->SetTransparent(Transparent());
    copy->FImage = FImage;
    return copy;
}

void TBitmap::ReleaseDevice()
{
    if (FCanvas)
        FCanvas->SetDevice(nullptr);
    FDevice.reset();
}

void TBitmap::SetSize(int width, int height)
{
    if (width == Width() && height == Height())
        return;
    ReleaseDevice();
    TRGBImage image(width, height, clWhite);
    for (int y = 0; y < std::min(height, FImage.Height()); ++y)
        for (int x = 0; x < std::min(width, FImage.Width()); ++x)
            image.SetPixel(x, y, FImage.Pixel(x, y));
    FImage = std::move(image);
    Changed();
}

void TBitmap::SetImage(const TRGBImage& image)
{
    ReleaseDevice();
    FImage = image;
    Changed();
}

TCanvas* TBitmap::Canvas()
{
    if (!FCanvas)
        FCanvas = std::make_unique<TCanvas>();
    if (!FDevice) {
        FDevice = FormsBackend().CreateImageDevice(FImage);
        FCanvas->SetDevice(FDevice.get());
    }
    return FCanvas.get();
}

TColor TBitmap::TransparentColor() const
{
    return FImage.Empty() ? clNone : FImage.Pixel(0, FImage.Height() - 1);
}

void TBitmap::Draw(TCanvas& canvas, const TRect& rect)
{
    if (canvas.Device() != nullptr && !FImage.Empty())
        canvas.Device()->DrawImage(rect, FImage, Transparent() ? TransparentColor() : clNone);
}

namespace {

[[noreturn]] void InvalidBitmap()
{
    throw EInvalidGraphic("Bitmap image is not valid");
}

std::uint32_t U32(const std::uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t U16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void ReadExactly(TStream* stream, void* buffer, std::int32_t count)
{
    if (count > 0 && stream->Read(buffer, count) != count)
        InvalidBitmap();
}

constexpr std::uint32_t FileHeaderSize = 14;
constexpr std::uint32_t InfoHeaderSize = 40;
constexpr long long MaxPixels = 1LL << 26;

} // namespace

void TBitmap::LoadFromStream(TStream* stream)
{
    const std::int64_t start = stream->Position();
    std::uint8_t fileHeader[FileHeaderSize];
    ReadExactly(stream, fileHeader, FileHeaderSize);
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M')
        InvalidBitmap();
    const std::uint32_t pixelOffset = U32(fileHeader + 10);

    std::uint8_t info[InfoHeaderSize];
    ReadExactly(stream, info, 4);
    const std::uint32_t infoSize = U32(info);
    if (infoSize < InfoHeaderSize || infoSize > 1024)
        InvalidBitmap();
    ReadExactly(stream, info + 4, InfoHeaderSize - 4);
    stream->Seek(infoSize - InfoHeaderSize, soCurrent);

    const std::int32_t width = static_cast<std::int32_t>(U32(info + 4));
    const std::int32_t rawHeight = static_cast<std::int32_t>(U32(info + 8));
    const int planes = U16(info + 12);
    const int bits = U16(info + 14);
    const std::uint32_t compression = U32(info + 16);
    const std::uint32_t colorsUsed = U32(info + 32);
    if (width <= 0 || rawHeight == 0 || rawHeight == INT_MIN || planes != 1)
        InvalidBitmap();
    const int height = rawHeight < 0 ? -rawHeight : rawHeight;
    if (static_cast<long long>(width) * height > MaxPixels)
        InvalidBitmap();
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        InvalidBitmap();
    // Uncompressed only; a 32-bit image may name its (usual) channel masks.
    if (!(compression == 0 || (compression == 3 && bits == 32)))
        InvalidBitmap();

    std::vector<TColor> palette;
    if (bits <= 8) {
        const std::uint32_t count = colorsUsed != 0 ? colorsUsed : 1u << bits;
        if (count > 256)
            InvalidBitmap();
        std::vector<std::uint8_t> entries(count * 4);
        ReadExactly(stream, entries.data(), static_cast<std::int32_t>(entries.size()));
        for (std::uint32_t i = 0; i < count; ++i)
            palette.push_back(RGB(entries[i * 4 + 2], entries[i * 4 + 1], entries[i * 4]));
    }

    stream->Seek(start + pixelOffset, soBeginning);
    const std::size_t rowBytes = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
    std::vector<std::uint8_t> row(rowBytes);
    TRGBImage image(width, height);
    for (int r = 0; r < height; ++r) {
        ReadExactly(stream, row.data(), static_cast<std::int32_t>(rowBytes));
        const int y = rawHeight > 0 ? height - 1 - r : r;
        for (int x = 0; x < width; ++x) {
            TColor c = clBlack;
            if (bits >= 24) {
                const std::uint8_t* p = &row[static_cast<std::size_t>(x) * (bits / 8)];
                c = RGB(p[2], p[1], p[0]);
            } else {
                const std::size_t bit = static_cast<std::size_t>(x) * bits;
                const int shift = 8 - bits - static_cast<int>(bit % 8);
                const unsigned index = (row[bit / 8] >> shift) & ((1u << bits) - 1);
                if (index >= palette.size())
                    InvalidBitmap();
                c = palette[index];
            }
            image.SetPixel(x, y, c);
        }
    }
    SetImage(image);
}

void TBitmap::SaveToStream(TStream* stream)
{
    const int width = FImage.Width();
    const int height = FImage.Height();
    const std::size_t rowBytes = ((static_cast<std::size_t>(width) * 24 + 31) / 32) * 4;
    const std::uint32_t imageSize = static_cast<std::uint32_t>(rowBytes * height);
    std::vector<std::uint8_t> out;
    out.reserve(FileHeaderSize + InfoHeaderSize + imageSize);
    out.push_back('B');
    out.push_back('M');
    Put32(out, FileHeaderSize + InfoHeaderSize + imageSize);
    Put32(out, 0);
    Put32(out, FileHeaderSize + InfoHeaderSize);
    Put32(out, InfoHeaderSize);
    Put32(out, static_cast<std::uint32_t>(width));
    Put32(out, static_cast<std::uint32_t>(height));
    Put16(out, 1);
    Put16(out, 24);
    Put32(out, 0);
    Put32(out, imageSize);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const TColor c = FImage.Pixel(x, y);
            out.push_back(static_cast<std::uint8_t>(GetBValue(c)));
            out.push_back(static_cast<std::uint8_t>(GetGValue(c)));
            out.push_back(static_cast<std::uint8_t>(GetRValue(c)));
        }
        for (std::size_t pad = static_cast<std::size_t>(width) * 3; pad < rowBytes; ++pad)
            out.push_back(0);
    }
    stream->WriteBuffer(out.data(), static_cast<std::int32_t>(out.size()));
}

// --------------------------------------------------------------------- TPicture

TPicture::TPicture() = default;

TPicture::~TPicture() = default;

void TPicture::Assign(TPersistent* source)
{
    if (source == nullptr) {
        SetGraphic(nullptr);
        return;
    }
    if (auto* picture = dynamic_cast<TPicture*>(source)) {
        SetGraphic(picture->Graphic());
        return;
    }
    if (auto* graphic = dynamic_cast<TGraphic*>(source)) {
        SetGraphic(graphic);
        return;
    }
    TPersistent::Assign(source);
}

void TPicture::Changed()
{
    if (OnChange)
        OnChange(this);
}

void TPicture::Adopt(std::unique_ptr<TGraphic> graphic)
{
    FGraphic = std::move(graphic);
    if (FGraphic)
        FGraphic->OnChange = [this](TObject*) { Changed(); };
    Changed();
}

void TPicture::SetGraphic(TGraphic* value)
{
    if (value == FGraphic.get())
        return;
    Adopt(value != nullptr ? value->Clone() : nullptr);
}

TBitmap* TPicture::Bitmap()
{
    if (dynamic_cast<TBitmap*>(FGraphic.get()) == nullptr)
        Adopt(std::make_unique<TBitmap>());
    return static_cast<TBitmap*>(FGraphic.get());
}

void TPicture::LoadFromFile(const std::string& fileName)
{
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->LoadFromFile(fileName);
    Adopt(std::move(bitmap));
}

void TPicture::SaveToFile(const std::string& fileName)
{
    if (FGraphic)
        FGraphic->SaveToFile(fileName);
}

} // namespace orvex
