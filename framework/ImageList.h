// TCustomImageList: a list of equally sized images over the system's image list (comctl32),
// each drawn with the colour it was added with left out. Clients register a TChangeLink to
// hear when the images change; one that keeps a pointer to the list asks for FreeNotification
// to hear when it goes.
#pragma once

#include "framework/Bitmap.h"
#include "framework/Component.h"

#include <windows.h>

#include <commctrl.h>

#include <vector>

class TCustomImageList;

// A client's registration with an image list. It unregisters itself when it goes; a list that
// goes first leaves Sender null.
class TChangeLink {
public:
    TChangeLink() = default;
    TChangeLink(const TChangeLink&) = delete;
    TChangeLink& operator=(const TChangeLink&) = delete;
    ~TChangeLink();

    TCustomImageList* Sender() const { return FSender; }
    TNotifyEvent OnChange;

private:
    friend class TCustomImageList;
    TCustomImageList* FSender = nullptr;
};

class TCustomImageList : public TComponent {
public:
    explicit TCustomImageList(TComponent* owner);
    ~TCustomImageList() override;

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // A new size drops every image.
    void SetWidth(int value) { SetSize(value, FHeight); }
    void SetHeight(int value) { SetSize(FWidth, value); }
    void SetSize(int width, int height);
    int Count() const;
    HIMAGELIST Handle() const { return FHandle; }

    // Adds `image` cut into as many images as its width holds, with `maskColor` left out of
    // each (TransparentColor() of the image is the usual choice). Returns the index of the
    // first, or -1 when nothing was added.
    int AddMasked(const TBitmap& image, TColor maskColor);
    void Delete(int index);
    void Clear();

    // Draws image `index` with its top-left corner at (x, y). A disabled image is greyed: its
    // shape in the button shadow colour over a copy in the highlight colour one pixel down and
    // right.
    void Draw(TCanvas& canvas, int x, int y, int index, bool enabled = true);

    void RegisterChanges(TChangeLink* link);
    void UnRegisterChanges(TChangeLink* link);
    TNotifyEvent OnChange;

protected:
    // Tells every registered link, then OnChange.
    virtual void Change();

private:
    void CreateList();
    void DrawDisabled(TCanvas& canvas, int x, int y, int index);

    int FWidth = 16;
    int FHeight = 16;
    HIMAGELIST FHandle = nullptr;
    std::vector<TChangeLink*> FLinks;
};

class TImageList : public TCustomImageList {
public:
    using TCustomImageList::TCustomImageList;
};
