#include "app/TaskbarButton.h"

#include "framework/Accessible.h"

#include <shobjidl.h>

namespace {

constexpr CLSID TaskbarListClass = {
    0x56fdf344, 0xfd6d, 0x11d0, {0x95, 0x8a, 0x00, 0x60, 0x97, 0xc9, 0xa0, 0x90}};

} // namespace

TTaskbarButton::~TTaskbarButton() {
    if (FList) FList->Release();
}

ITaskbarList3* TTaskbarButton::List() {
    // Asked once; Vista and older, or a system without a taskbar, say no.
    if (!FAsked && FWindow) {
        FAsked = true;
        ITaskbarList3* list = nullptr;
        if (EnsureComApartment() &&
            SUCCEEDED(CoCreateInstance(TaskbarListClass, nullptr, CLSCTX_INPROC_SERVER,
                                       __uuidof(ITaskbarList3), reinterpret_cast<void**>(&list)))) {
            if (SUCCEEDED(list->HrInit()))
                FList = list;
            else
                list->Release();
        }
    }
    return FList;
}

void TTaskbarButton::Progress(uint64_t done, uint64_t total) {
    ITaskbarList3* list = List();
    if (!list) return;
    FShowing = true;
    if (total == 0) {
        list->SetProgressState(FWindow, TBPF_INDETERMINATE);
        return;
    }
    list->SetProgressState(FWindow, TBPF_NORMAL);
    list->SetProgressValue(FWindow, done < total ? done : total, total);
}

void TTaskbarButton::Failed() {
    ITaskbarList3* list = List();
    if (!list) return;
    // Failed before any progress: a full bar, so that the colour shows.
    if (!FShowing) list->SetProgressValue(FWindow, 1, 1);
    FShowing = true;
    list->SetProgressState(FWindow, TBPF_ERROR);
}

void TTaskbarButton::Clear() {
    if (!FShowing) return;
    FShowing = false;
    if (ITaskbarList3* list = List()) list->SetProgressState(FWindow, TBPF_NOPROGRESS);
}

void TTaskbarButton::Flash() {
    FLASHWINFO flash{sizeof flash, FWindow, FLASHW_ALL | FLASHW_TIMERNOFG, 0, 0};
    FlashWindowEx(&flash);
}
