#include "app/UnitOfZQX.h"

#include "app/DownloadTexts.h"
#include "app/ProgressScale.h"
#include "app/SaveFolder.h"
#include "app/TaskFields.h"
#include "controls/RzLayoutClasses.h"
#include "framework/Application.h"
#include "framework/Exceptions.h"
#include "framework/FormatSettings.h"
#include "framework/LayoutProperties.h"
#include "framework/ProgramText.h"

#include <algorithm>
#include <cstring>

namespace {

// The module of the engine the program's calls are bound to: the one that holds the bound
// call itself, whatever its file is named.
HMODULE BoundEngineModule() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(reinterpret_cast<void*>(&XL_QueryTaskInfoEx)), &module))
        return nullptr;
    return module;
}

template <class T> T EngineCall(HMODULE module, const char* name) {
    return module ? reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                  : nullptr;
}

} // namespace

TEngineExtras BoundEngineExtras() {
    const HMODULE module = BoundEngineModule();
    TEngineExtras extras;
    const auto reports = EngineCall<TXLReportsFailure>(module, ReportsFailureExport);
    extras.ReportsFailure = reports && reports() != 0;
    extras.AddMirror = EngineCall<TXLAddMirror>(module, AddMirrorExport);
    extras.SetPromptOwner = EngineCall<TXLSetPromptOwner>(module, SetPromptOwnerExport);
    extras.DescribeTask = EngineCall<TXLDescribeTask>(module, DescribeTaskExport);
    return extras;
}

void RegisterFormOfZQXLayoutClasses() {
    RegisterStyledControlsLayoutClasses();
    RegisterLayoutClass("TFormOfZQX", "TForm", nullptr, {});
}

TFormOfZQX::TFormOfZQX() : TFormOfZQX(LayoutResourceText("TFORMOFZQX")) {}

TFormOfZQX::TFormOfZQX(const std::string& layout)
    : TForm(nullptr), FTaskbar(Application().Handle()) {
    Load(layout);
    const TEngineExtras engine = BoundEngineExtras();
    FEngineReportsFailure = engine.ReportsFailure;
    FEngineAddMirror = engine.AddMirror;
    FSetPromptOwner = engine.SetPromptOwner;
}

TFormOfZQX::~TFormOfZQX() {
    // While the handlers can still run: FormDestroy releases the engine.
    Destroying();
}

void TFormOfZQX::Load(const std::string& layout) {
    RegisterFormOfZQXLayoutClasses();
    LoadLayout(this, layout,
               {
                   {"FormShow", [this](TObject* s) { FormShow(s); }},
                   {"FormDestroy", [this](TObject* s) { FormDestroy(s); }},
                   {"RzBitBtn1Click", [this](TObject* s) { RzBitBtn1Click(s); }},
                   {"XLTimeTimer", [this](TObject* s) { XLTimeTimer(s); }},
               });
    const auto find = [this]<class T>(T*& field, const char* name) {
        field = dynamic_cast<T*>(FindComponent(name));
        if (!field) throw EReadError(std::string("The window's layout has no ") + name);
    };
    find(RzLabel4, "RzLabel4");
    find(RzLabel1, "RzLabel1");
    find(RzBitBtn1, "RzBitBtn1");
    find(PB_Cur, "PB_Cur");
    find(RadioButton1, "RadioButton1");
    find(RadioButton2, "RadioButton2");
    find(XLTime, "XLTime");
    FWorkingCaption = RzLabel4->Caption();
    // The status line is read out as it changes.
    SetLiveRegion(RzLabel4);
}

void TFormOfZQX::FormShow(TObject*) {
    if (!EngineTrue(XL_Init()))
        Application().ShowMessageBox("下载初始化失败", "提示信息", MB_OK, Handle());
    // A proxy that asks for a password is asked about in a dialog over this window.
    if (FSetPromptOwner) FSetPromptOwner(Handle());
}

void TFormOfZQX::FormDestroy(TObject*) {
    FTaskbar.Clear();
    if (FSetPromptOwner) FSetPromptOwner(nullptr);
    XL_UnInit();
}

void TFormOfZQX::RzBitBtn1Click(TObject*) {
    RzBitBtn1->SetEnabled(false);

    // Chosen again at every press: a drive may have come or gone meanwhile.
    FSaveFolder = ChooseSaveFolder(FSaveFolderHold);
    if (FSaveFolder.empty()) { // no folder of the user's alone, not even one made for it
        OfferRetry(FailureText(ErrorFile), false);
        return;
    }

    std::string url;
    FTaskMirror = nullptr;
    if (RadioButton1->Checked()) {
        url = MirrorUrl1;
        FTaskMirror = RadioButton1;
    }
    if (RadioButton2->Checked()) {
        url = MirrorUrl2;
        FTaskMirror = RadioButton2;
    }
    const std::string fileName = FileNameFromUrl(url);

    DownloadTaskParam param;
    FillTaskParam(param, url, fileName, FSaveFolder);

    // After a failure the status line said why; this task is at work again.
    ShowWorking();
    FFileName = fileName;
    FTaskHandle = XL_CreateTask(&param);
    // The mirror not chosen backs the chosen one up, where the engine can use it: no press
    // is needed when one fails, and both serve at once when both are good.
    if (FEngineAddMirror && FTaskMirror) {
        char16_t other[2084];
        if (CopyToUtf16Field(FTaskMirror == RadioButton1 ? MirrorUrl2 : MirrorUrl1, other))
            FEngineAddMirror(FTaskHandle, other);
    }
    if (EngineTrue(XL_StartTask(FTaskHandle))) XLTime->SetEnabled(true);
}

void TFormOfZQX::XLTimeTimer(TObject*) {
    // Cleared each time: an engine that writes only the low halves of the sizes leaves
    // zeros, not the last tick's bytes, above them.
    DownloadTaskInfo info;
    std::memset(&info, 0, sizeof info);
    if (!EngineTrue(XL_QueryTaskInfoEx(FTaskHandle, &info))) return;

    switch (info.State) {
    case StateDownloading:
        ShowProgress(info);
        break;
    case StateFinished:
        TaskFinished();
        break;
    case StateFailed:
        // Only an engine that declares it means this state for good; from any other it is
        // one more state to wait through.
        if (FEngineReportsFailure) TaskFailed(InfoField(info, InfoErrorOffset));
        break;
    default:
        break; // created, connecting, waiting to retry: the next tick asks again
    }
}

void TFormOfZQX::ShowWorking() {
    RzLabel4->SetCaption(FWorkingCaption);
    FTaskbar.Clear();
}

void TFormOfZQX::ShowProgress(const DownloadTaskInfo& info) {
    const TProgressValues progress = ProgressValues(info.TotalSize, info.DoneSize);
    PB_Cur->SetMax(progress.Max);
    PB_Cur->SetPosition(progress.Position);
    const char separator = DecimalSeparator();
    RzLabel1->SetCaption(FormatSizeText(info.DoneSize, separator) + "/" +
                         FormatSizeText(info.TotalSize, separator));
    FTaskbar.Progress(static_cast<uint64_t>(std::max<int64_t>(info.DoneSize, 0)),
                       static_cast<uint64_t>(std::max<int64_t>(info.TotalSize, 0)));
}

void TFormOfZQX::TaskFinished() {
    XLTime->SetEnabled(false);
    FTaskbar.Clear();
    // Only a program is started; the name comes from the URL, the folder from the press.
    if (FFileName.find(".exe") != std::string::npos) {
        const TLaunch launch =
            LaunchInstaller(Handle(), FSaveFolder + ToWide(FFileName), &FSaveFolderHold);
        FSaveFolderHold.Release();
        if (!launch.Started) {
            // The window stays: the user waited for this, and one press tries again.
            OfferRetry(StartTroubleText(launch.Trouble), MirrorMayHelp(launch.Trouble));
            return;
        }
        RzBitBtn1->SetEnabled(true);
    }
    Close();
}

void TFormOfZQX::TaskFailed(uint32_t error) {
    XLTime->SetEnabled(false);
    FSaveFolderHold.Release();
    // The size text keeps the last sizes: how far the task got.
    OfferRetry(FailureText(error), MirrorMayHelp(error));
}

void TFormOfZQX::ShowFailure(const std::string& text) {
    RzLabel4->SetCaption(text);
    // Seen on the taskbar too; behind other windows the button asks for the user.
    FTaskbar.Failed();
    if (HandleAllocated() && GetForegroundWindow() != Handle()) FTaskbar.Flash();
}

void TFormOfZQX::OfferRetry(const std::string& text, bool otherMirror) {
    ShowFailure(text);
    if (otherMirror) {
        if (FTaskMirror == RadioButton1) RadioButton2->SetChecked(true);
        if (FTaskMirror == RadioButton2) RadioButton1->SetChecked(true);
    }
    RzBitBtn1->SetEnabled(true);
    // Disabling took the focus from the button; give it back, so that Enter or Space retries
    // too, unless the user has put it elsewhere meanwhile.
    const HWND focus = GetFocus();
    if (HandleAllocated() && GetActiveWindow() == Handle() && (!focus || focus == Handle()))
        RzBitBtn1->SetFocus();
}
