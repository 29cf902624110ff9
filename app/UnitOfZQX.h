// The download tool's one window: pick a mirror, press the button, watch the progress; when
// the engine has the installer and it is the maker's, start it and close.
#pragma once

#include "app/InstallerLaunch.h"
#include "runtime/FolderHold.h"
#include "app/TaskbarButton.h"
#include "controls/RzButton.h"
#include "controls/RzLabel.h"
#include "engine/XLDownload.h"
#include "framework/Form.h"
#include "framework/LayoutReader.h"
#include "framework/ProgressBar.h"
#include "framework/RadioButton.h"
#include "framework/Timer.h"

#include <windows.h>

#include <string>

// The two mirrors; each radio button's caption is "http://" and its host.
constexpr const char* MirrorHost1 = "dl1.orlenz.com";
constexpr const char* MirrorHost2 = "dl2.orlenz.com";
constexpr const char* MirrorUrl1 = "http://dl1.orlenz.com/service/setup.exe";
constexpr const char* MirrorUrl2 = "http://dl2.orlenz.com/service/setup.exe";
constexpr const char* ApplicationTitle = "Orlenz软件完整安装包下载专用工具";

class TFormOfZQX : public TForm {
public:
    // Built from the layout compiled into the program.
    TFormOfZQX();
    // Built from the given layout text (tests).
    explicit TFormOfZQX(const std::string& layout);
    ~TFormOfZQX() override;

    TRzLabel* RzLabel4 = nullptr;
    TRzLabel* RzLabel1 = nullptr;
    TRzBitBtn* RzBitBtn1 = nullptr;
    TProgressBar* PB_Cur = nullptr;
    TRadioButton* RadioButton1 = nullptr;
    TRadioButton* RadioButton2 = nullptr;
    TTimer* XLTime = nullptr;

    TaskHandle FTaskHandle = 0;
    std::string FFileName;
    // Where the press saved the download (app/SaveFolder), ending in a backslash, and that
    // folder held in place until the installer in it has started or the task has failed.
    std::wstring FSaveFolder;
    TFolderHold FSaveFolderHold;
    // The mirror's radio button that the task was made from (null before the first press).
    TRadioButton* FTaskMirror = nullptr;
    // Whether the engine keeps failed tasks in StateFailed with their reason; asked once, of
    // the engine the program is bound to.
    bool FEngineReportsFailure = false;
    // The engine's call that gives a task its other mirror; null when it has none.
    TXLAddMirror FEngineAddMirror = nullptr;
    // The engine's call that takes the window owning its credential dialog, where it has one.
    TXLSetPromptOwner FSetPromptOwner = nullptr;
    // The program's taskbar button: the task's progress, its failure, a flash for the user.
    TTaskbarButton FTaskbar;

    void FormShow(TObject* sender);
    void FormDestroy(TObject* sender);
    void RzBitBtn1Click(TObject* sender);
    void XLTimeTimer(TObject* sender);

    // What the handlers show, also for a run that app/RunController drives.
    // The status line as the layout has it, the taskbar cleared: a task is at work.
    void ShowWorking();
    // The task's sizes on the bar, in the size text and on the taskbar.
    void ShowProgress(const DownloadTaskInfo& info);
    // Says `text` in the status line, on the taskbar too, flashing it when behind others.
    void ShowFailure(const std::string& text);
    // ShowFailure, and gives the button back, checking the other mirror first when
    // `otherMirror`.
    void OfferRetry(const std::string& text, bool otherMirror);

private:
    void Load(const std::string& layout);
    // The engine gave up on the task: say why and offer the other mirror where it may help.
    void TaskFailed(uint32_t error);
    // The task has the file: start it if it is the maker's, and close.
    void TaskFinished();

    // RzLabel4's text while a task runs, as the layout has it.
    std::string FWorkingCaption;
};

// The engine's optional calls, as the engine the program is bound to has them (null where it
// has not).
struct TEngineExtras {
    // Whether it keeps failed tasks in StateFailed with their reason.
    bool ReportsFailure = false;
    TXLAddMirror AddMirror = nullptr;
    TXLSetPromptOwner SetPromptOwner = nullptr;
    TXLDescribeTask DescribeTask = nullptr;
};
TEngineExtras BoundEngineExtras();

// The layout classes the window's layout names (idempotent).
void RegisterFormOfZQXLayoutClasses();
