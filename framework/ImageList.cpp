#include "framework/ImageList.h"

#include "framework/Exceptions.h"
#include "framework/GdiObjects.h"

#include <algorithm>

namespace {

// The system's list copies from a bitmap it selects into a context of its own; ours stays
// selected in the TBitmap's context, so it gets a loose copy of the pixels.
TOwnedBitmap LooseCopy(const TBitmap& image) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = image.Width();
    bi.bmiHeader.biHeight = -image.Height(); // top-down, as the source
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    TOwnedBitmap copy(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!copy) throw EOutOfResources("Cannot copy an image for the image list");
    auto* target = static_cast<uint32_t*>(bits);
    for (int y = 0; y < image.Height(); ++y)
        std::copy_n(image.ScanLine(y), image.Width(),
                    target + static_cast<size_t>(y) * image.Width());
    return copy;
}

uint32_t DibPixel(TColor c) {
    c = ColorToRGB(c);
    return static_cast<uint32_t>(RedOf(c)) << 16 | static_cast<uint32_t>(GreenOf(c)) << 8 |
           static_cast<uint32_t>(BlueOf(c));
}

} // namespace

TChangeLink::~TChangeLink() {
    if (FSender) FSender->UnRegisterChanges(this);
}

TCustomImageList::TCustomImageList(TComponent* owner) : TComponent(owner) {
    CreateList();
}

TCustomImageList::~TCustomImageList() {
    for (TChangeLink* link : FLinks)
        link->FSender = nullptr;
    if (FHandle) ImageList_Destroy(FHandle);
}

void TCustomImageList::CreateList() {
    if (FHandle) ImageList_Destroy(FHandle);
    // 24 bits and a mask: no alpha channel to second-guess which pixels show.
    FHandle = ImageList_Create(FWidth, FHeight, ILC_COLOR24 | ILC_MASK, 0, 4);
    if (!FHandle) throw EOutOfResources("Cannot create an image list");
}

void TCustomImageList::SetSize(int width, int height) {
    if (width == FWidth && height == FHeight) return;
    if (width <= 0 || height <= 0) return;
    FWidth = width;
    FHeight = height;
    CreateList();
    Change();
}

int TCustomImageList::Count() const {
    return ImageList_GetImageCount(FHandle);
}

int TCustomImageList::AddMasked(const TBitmap& image, TColor maskColor) {
    if (image.Width() < FWidth || image.Height() < FHeight) return -1;
    TOwnedBitmap copy = LooseCopy(image);
    const int first = ImageList_AddMasked(FHandle, copy.Get(), ColorToRGB(maskColor));
    if (first >= 0) Change();
    return first;
}

void TCustomImageList::Delete(int index) {
    if (index < 0 || index >= Count())
        throw EListError("Image index " + std::to_string(index) + " is out of bounds");
    ImageList_Remove(FHandle, index);
    Change();
}

void TCustomImageList::Clear() {
    if (Count() == 0) return;
    ImageList_Remove(FHandle, -1);
    Change();
}

void TCustomImageList::Draw(TCanvas& canvas, int x, int y, int index, bool enabled) {
    if (index < 0 || index >= Count()) return;
    if (enabled)
        ImageList_Draw(FHandle, index, canvas.Handle(), x, y, ILD_TRANSPARENT);
    else
        DrawDisabled(canvas, x, y, index);
}

void TCustomImageList::DrawDisabled(TCanvas& canvas, int x, int y, int index) {
    // The image's shape, from its mask: black where the image shows.
    TBitmap mask(FWidth, FHeight);
    mask.Canvas().Brush().SetColor(clWhite);
    mask.Canvas().FillRect({0, 0, FWidth, FHeight});
    ImageList_Draw(FHandle, index, mask.Canvas().Handle(), 0, 0, ILD_MASK);

    // Worked on a copy of what lies under it, one pixel larger for the highlight's offset.
    TBitmap area(FWidth + 1, FHeight + 1);
    const TRect place = Bounds(x, y, FWidth + 1, FHeight + 1);
    area.Canvas().CopyRect({0, 0, FWidth + 1, FHeight + 1}, canvas, place);
    const uint32_t highlight = DibPixel(clBtnHighlight);
    const uint32_t shadow = DibPixel(clBtnShadow);
    auto shows = [&mask](int px, int py) { return (mask.ScanLine(py)[px] & 0xFFFFFF) == 0; };
    for (int py = 0; py < FHeight; ++py)
        for (int px = 0; px < FWidth; ++px)
            if (shows(px, py)) area.ScanLine(py + 1)[px + 1] = highlight;
    for (int py = 0; py < FHeight; ++py)
        for (int px = 0; px < FWidth; ++px)
            if (shows(px, py)) area.ScanLine(py)[px] = shadow;
    canvas.CopyRect(place, area.Canvas(), {0, 0, FWidth + 1, FHeight + 1});
}

void TCustomImageList::RegisterChanges(TChangeLink* link) {
    if (!link || std::find(FLinks.begin(), FLinks.end(), link) != FLinks.end()) return;
    if (link->FSender) link->FSender->UnRegisterChanges(link);
    link->FSender = this;
    FLinks.push_back(link);
}

void TCustomImageList::UnRegisterChanges(TChangeLink* link) {
    if (!link) return;
    FLinks.erase(std::remove(FLinks.begin(), FLinks.end(), link), FLinks.end());
    if (link->FSender == this) link->FSender = nullptr;
}

void TCustomImageList::Change() {
    // A client may unregister while it is told.
    for (TChangeLink* link : std::vector<TChangeLink*>(FLinks))
        if (std::find(FLinks.begin(), FLinks.end(), link) != FLinks.end() && link->OnChange)
            link->OnChange(this);
    if (OnChange) OnChange(this);
}
