#include "app/RunController.h"

#include "app/DownloadTexts.h"
#include "app/ExitCodes.h"
#include "app/FileSource.h"
#include "app/InstallerLaunch.h"
#include "app/RunLog.h"
#include "app/SaveFolder.h"
#include "app/SingleInstance.h"
#include "app/TaskFields.h"
#include "app/UnitOfZQX.h"
#include "framework/Application.h"
#include "framework/ProgramText.h"
#include "framework/Timer.h"
#include "xldl/XLEngine.h"

#include <cstring>
#include <memory>
#include <stdexcept>

namespace {

// How long a run with switches waits for another run of the tool to end.
constexpr DWORD AnotherRunPatienceMs = 60000;
// How long a failure stays on the window of a run that ends by itself.
constexpr unsigned FailureShownMs = 5000;
// How often a run without a window looks at its task.
constexpr DWORD QuietTickMs = 250;

std::wstring MirrorUrl(int mirror) {
    return ToWide(mirror == 1 ? MirrorUrl1 : MirrorUrl2);
}

std::wstring WithBackslash(std::wstring folder) {
    if (folder.empty() || folder.back() != L'\\') folder += L'\\';
    return folder;
}

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH * 2];
    const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr);
    return n > 0 && n < MAX_PATH * 2 ? std::wstring(full, n) : path;
}

class TRun {
public:
    TRun(const TSwitches& switches, const std::wstring& layout, TRunLog& log)
        : S(switches), Layout(layout), Log(log), Engine(BoundEngineExtras()),
          Mirror(switches.Mirror) {}

    // The download and what follows, on the window or without one; the exit code.
    int Run() { return S.Mode == TRunMode::Quiet ? RunQuiet() : RunWindow(); }
    // Whether the exit code is the installer's own (/quiet waited for it).
    bool InstallersCode() const { return FromInstaller; }

private:
    int RunQuiet();
    int RunWindow();
    // The window is shown: the engine, and the press itself where none is awaited.
    void Shown();
    void Press();
    void Tick();
    void StopTicking();
    void Finished();
    // The verified installer goes from the save folder into the layout folder.
    void Place();
    void Placed();
    // The task ended without an installer that starts: a retry on the other mirror, the
    // failure shown before the end, or (awaiting a press) the button given back.
    void Failed(TExitCode code, const std::string& text, bool otherMirrorMayHelp);
    // The run is over with `code`: the window closes (after `delayMs`).
    void End(int code, unsigned delayMs = 0);
    void LogSources();
    void LogProgress(const DownloadTaskInfo& info);

    const TSwitches& S;
    const std::wstring Layout; // full path with a backslash; empty without /layout
    TRunLog& Log;
    const TEngineExtras Engine;
    int Mirror; // the chosen one now
    bool Retried = false;
    bool Ended = false;
    bool Working = false;
    bool FromInstaller = false;
    int Code = static_cast<int>(TExitCode::Cancelled); // until an outcome says otherwise
    std::unique_ptr<TFormOfZQX> Form;                  // none under /quiet
    std::unique_ptr<TTimer> EndTimer;
    TaskHandle Task = 0;
    std::unique_ptr<TFileCopy> Copy;
    std::wstring Target; // the installer's full path
    TFolderHold Hold;    // the save folder, held from its check to the installer's start
    // With /layout: the layout folder, held while the verified installer is copied into it.
    TFolderHold LayoutHold;
    bool Placing = false;
    long long LastTenth = -1;
};

int TRun::RunQuiet() {
    if (!EngineTrue(XL_Init())) {
        Log.Say(L"the download engine could not start");
        return static_cast<int>(TExitCode::CannotRun);
    }
    Press();
    while (!Ended) {
        Sleep(QuietTickMs);
        Tick();
    }
    Copy.reset();
    XL_UnInit();
    return Code;
}

int TRun::RunWindow() {
    try {
        Application().SetTitle(ApplicationTitle);
        Form = std::make_unique<TFormOfZQX>();
        // The form's own handlers stay for runs without arguments; its OnDestroy (the engine
        // let go of) serves both.
        Form->OnShow = [this](TObject*) { Shown(); };
        Form->RzBitBtn1->OnClick = [this](TObject*) { Press(); };
        Form->XLTime->SetOnTimer([this](TObject*) { Tick(); });
        if (S.Mirror == 2) Form->RadioButton2->SetChecked(true);
        // A source of the admin's takes the mirrors' place.
        if (S.Source != TSourceKind::Mirrors) {
            Form->RadioButton1->SetEnabled(false);
            Form->RadioButton2->SetEnabled(false);
        }
        Application().SetMainForm(Form.get());
        Application().Run();
        EndTimer.reset();
        Form.reset();
        Copy.reset();
    } catch (const std::exception& e) {
        Log.Say(L"the window could not be made: " + ToWide(e.what()));
        Application().ShowException(e);
        return static_cast<int>(TExitCode::CannotRun);
    }
    return Code;
}

void TRun::Shown() {
    if (!EngineTrue(XL_Init())) {
        Code = static_cast<int>(TExitCode::CannotRun);
        Log.Say(L"the download engine could not start");
        if (!S.Unattended()) {
            Application().ShowMessageBox("下载初始化失败", "提示信息", MB_OK, Form->Handle());
            return;
        }
        Form->ShowFailure("下载初始化失败");
        End(Code, FailureShownMs);
        return;
    }
    if (Engine.SetPromptOwner) Engine.SetPromptOwner(Form->Handle());
    if (S.Unattended()) Press();
}

void TRun::Press() {
    if (Form) {
        Form->RzBitBtn1->SetEnabled(false);
        Form->ShowWorking();
        Mirror = Form->RadioButton2->Checked() ? 2 : 1;
    }
    Code = static_cast<int>(TExitCode::Cancelled);
    LastTenth = -1;
    Placing = false;
    // A layout too is fetched and checked in the save folder, which is the user's alone: the
    // layout folder may be anybody's, and nothing is written, truncated or deleted there by
    // name but the one verified copy.
    const std::wstring folder = ChooseSaveFolder(
        SaveFolderCandidates(), Hold, ReadFolderFacts, [this](const TSaveFolder& c, bool works) {
            Log.Line(L"save folder " + c.Folder +
                     (works ? L": this user's alone and writable, chosen" : L": not usable"));
        });
    if (folder.empty()) { // no folder of the user's alone, not even one made for it
        Failed(ExitCodeOf(ErrorFile), FailureText(ErrorFile), false);
        return;
    }
    if (!Layout.empty()) Log.Line(L"layout folder " + Layout);
    const std::wstring name = ToWide(FileNameFromUrl(MirrorUrl1));
    Target = folder + name;

    bool started = false;
    Task = 0;
    Copy.reset();
    if (S.Source == TSourceKind::Path) {
        Log.Say(L"copying " + S.SourceText);
        Copy = std::make_unique<TFileCopy>(S.SourceText, Target);
        started = Copy->Start();
    } else {
        const std::wstring url = S.Source == TSourceKind::Url ? S.SourceText : MirrorUrl(Mirror);
        DownloadTaskParam param;
        FillTaskParam(param, url, name, folder);
        Task = XL_CreateTask(&param);
        std::wstring asked = L"asking " + LoggableUrl(url);
        if (S.Source == TSourceKind::Mirrors) {
            asked += L" (mirror " + DecimalText(Mirror) + L")";
            char16_t other[2084];
            if (Engine.AddMirror && CopyToUtf16Field(MirrorUrl(3 - Mirror), other) &&
                EngineTrue(Engine.AddMirror(Task, other)))
                asked += L", backed by " + MirrorUrl(3 - Mirror) + L" (mirror " +
                         DecimalText(3 - Mirror) + L")";
        }
        Log.Say(asked);
        started = Task && EngineTrue(XL_StartTask(Task));
    }
    if (!started) {
        Log.Say(L"the download could not be started");
        End(static_cast<int>(TExitCode::CannotRun));
        return;
    }
    Working = true;
    if (Form) Form->XLTime->SetEnabled(true);
}

void TRun::StopTicking() {
    Working = false;
    if (Form) Form->XLTime->SetEnabled(false);
}

void TRun::Tick() {
    if (!Working) return;
    DownloadTaskInfo info;
    std::memset(&info, 0, sizeof info);
    if (Copy)
        Copy->Query(info);
    else if (!EngineTrue(XL_QueryTaskInfoEx(Task, &info)))
        return;
    switch (info.State) {
    case StateDownloading:
        if (Form) Form->ShowProgress(info);
        LogProgress(info);
        break;
    case StateFinished:
        StopTicking();
        if (Placing) {
            Placed();
            break;
        }
        LogSources();
        Finished();
        break;
    case StateFailed: {
        // Only an engine that declares it means this state for good.
        if (!Copy && !Engine.ReportsFailure) break;
        StopTicking();
        if (!Placing) LogSources();
        const uint32_t error = InfoField(info, InfoErrorOffset);
        Log.Line(L"failed: error " + DecimalText(error) + L", last HTTP status " +
                 DecimalText(InfoField(info, InfoHttpStatusOffset)) + L", system detail " +
                 DecimalText(InfoField(info, InfoDetailOffset)));
        Failed(ExitCodeOf(error), FailureText(error),
               MirrorMayHelp(error) && S.Source == TSourceKind::Mirrors && !Placing);
        break;
    }
    default:
        break; // connecting, waiting to retry: the next tick asks again
    }
}

void TRun::LogProgress(const DownloadTaskInfo& info) {
    if (info.TotalSize <= 0) return;
    const long long tenth = info.DoneSize * 10 / info.TotalSize;
    if (tenth <= LastTenth) return;
    LastTenth = tenth;
    Log.Say(L"downloading: " + DecimalText(tenth * 10) + L"% (" +
            ToWide(FormatSizeText(info.DoneSize) + "/" + FormatSizeText(info.TotalSize)) + L")");
}

void TRun::LogSources() {
    if (Copy || !Engine.DescribeTask) return;
    const uint32_t length = Engine.DescribeTask(Task, nullptr, 0);
    std::string text(length + 1, '\0');
    Engine.DescribeTask(Task, text.data(), length + 1);
    text.resize(length);
    for (size_t from = 0, end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
        Log.Line("from " + text.substr(from, end - from));
}

void TRun::Finished() {
    Log.Line(L"finished: " + Target);
    TStartOptions options;
    options.CheckOnly = !Layout.empty();
    options.Parameters = S.InstallerArguments;
    options.KeepProcess = S.Mode == TRunMode::Quiet;
    const TLaunch launch =
        LaunchInstaller(Form ? Form->Handle() : nullptr, Target, &Hold, options);
    Hold.Release();
    std::wstring signature =
        L"signature: " + ToWide(SignatureVerdictName(launch.Signature.Verdict));
    if (launch.Signature.Verdict == TSignatureVerdict::Good)
        signature += std::wstring(L", publisher ") + MakerName;
    if (launch.OtherFile) signature += L", not this product's installer";
    Log.Line(signature + (launch.Signature.Stamped ? L", time-stamped" : L""));
    if (!launch.Verified || (Layout.empty() && !launch.Started)) {
        if (launch.Error) Log.Line(L"system error " + DecimalText(launch.Error));
        Failed(ExitCodeOf(launch.Trouble), StartTroubleText(launch.Trouble),
               MirrorMayHelp(launch.Trouble) && S.Source == TSourceKind::Mirrors);
        return;
    }
    if (!Layout.empty()) {
        Place();
        return;
    }
    if (!launch.Process) {
        Log.Say(L"the installer was started");
        if (Form) Form->RzBitBtn1->SetEnabled(true);
        End(static_cast<int>(TExitCode::Started));
        return;
    }
    Log.Say(L"the installer was started; waiting for it to end");
    WaitForSingleObject(launch.Process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(launch.Process, &code);
    CloseHandle(launch.Process);
    Log.Say(L"the installer ended with exit code " + DecimalText(code));
    FromInstaller = true;
    End(static_cast<int>(code));
}

void TRun::Place() {
    // Names are made from where the held layout folder really is, so that no link on the
    // way to it (which someone else may point elsewhere meanwhile) decides where bytes land.
    LayoutHold = TFolderHold(Layout);
    const std::wstring real = LayoutHold.FinalPath();
    const std::wstring name = Target.substr(Target.find_last_of(L'\\') + 1);
    Placing = true;
    Copy = std::make_unique<TFileCopy>(Target, real + L"\\" + name);
    Log.Say(L"verified; copying it into the layout folder");
    if (real.empty() || !Copy->Start()) {
        LayoutHold.Release();
        Failed(ExitCodeOf(ErrorFile), FailureText(ErrorFile), false);
        return;
    }
    Working = true;
    if (Form) Form->XLTime->SetEnabled(true);
}

void TRun::Placed() {
    LayoutHold.Release();
    Copy.reset();
    DeleteFileW(Target.c_str()); // kept once, where the admin asked
    Log.Say(L"verified and kept: " + Layout + Target.substr(Target.find_last_of(L'\\') + 1));
    End(static_cast<int>(TExitCode::LayoutFinished));
}

void TRun::Failed(TExitCode code, const std::string& text, bool otherMirrorMayHelp) {
    Code = static_cast<int>(code);
    Log.Say(ToWide(text) + L" (" + ToWide(ExitCodeText(code)) + L")");
    if (!S.Unattended()) {
        // A user at the window decides: the button is back, as after any failure.
        Form->OfferRetry(text, otherMirrorMayHelp);
        return;
    }
    if (otherMirrorMayHelp && !Retried) {
        Retried = true;
        if (Form) (Mirror == 1 ? Form->RadioButton2 : Form->RadioButton1)->SetChecked(true);
        Mirror = 3 - Mirror;
        Log.Say(L"trying mirror " + DecimalText(Mirror));
        Press();
        return;
    }
    if (Form) Form->ShowFailure(text);
    End(Code, FailureShownMs);
}

void TRun::End(int code, unsigned delayMs) {
    Code = code;
    Ended = true;
    if (!Form) return;
    if (!delayMs) {
        Form->Close();
        return;
    }
    EndTimer = std::make_unique<TTimer>(nullptr);
    EndTimer->SetInterval(delayMs);
    EndTimer->SetOnTimer([this](TObject*) {
        EndTimer->SetEnabled(false);
        Form->Close();
    });
}

// What a run with bad arguments does: says which and why (in a box unless quiet; in the log
// and on the console always) and ends.
int Refuse(TRunLog& log, const TSwitches& s, TArgumentFault fault, const std::wstring& given) {
    const std::wstring argument = LoggableArgument(fault, given);
    log.Say(L"bad argument \"" + argument + L"\": " + ToWide(ArgumentFaultLogText(fault)));
    if (!log.IsOpen()) log.Open(L""); // the /log given is what is wrong, or it is missing
    if (s.Mode != TRunMode::Quiet)
        MessageBoxW(
            nullptr,
            (ToWide("参数错误：") + argument + L"\n" + ToWide(ArgumentFaultText(fault))).c_str(),
            ToWide(ApplicationTitle).c_str(), MB_OK | MB_ICONERROR);
    return static_cast<int>(TExitCode::BadArguments);
}

int Ending(TRunLog& log, int code, bool installersOwn) {
    log.Say(L"exit code " + DecimalText(static_cast<DWORD>(code)) + L": " +
            (installersOwn ? L"the installer's own"
                           : ToWide(ExitCodeText(static_cast<TExitCode>(code)))));
    return code;
}

} // namespace

int RunWithSwitches(const TCommandLine& command) {
    const TSwitches& s = command.Switches;
    TRunLog log;
    log.Open(s.Log);
    log.Line(L"Orlenz downloader " + ToWide(ORLENZ_VERSION) +
             (command.Fault == TArgumentFault::None ? L", switches: " + DescribeSwitches(s) : L""));
    if (s.Help) {
        log.Say(ToWide(SwitchesHelpText));
        MessageBoxW(nullptr, ToWide(SwitchesHelpText).c_str(), ToWide(ApplicationTitle).c_str(),
                    MB_OK | MB_ICONINFORMATION);
        return static_cast<int>(TExitCode::Started);
    }
    if (command.Fault != TArgumentFault::None)
        return Ending(log, Refuse(log, s, command.Fault, command.Argument), false);
    std::wstring layout;
    if (!s.Layout.empty()) {
        layout = WithBackslash(FullPath(s.Layout));
        if (!PrepareGivenFolder(layout))
            return Ending(log, Refuse(log, s, TArgumentFault::LayoutUnusable, s.Layout), false);
    }
    // One run at a time for this user, whatever each is asked: two would write one partial.
    TInstanceLock instance(InstanceLockName);
    if (!instance.Owned()) {
        log.Say(L"another run of the tool is at work for this user: waiting for it to end");
        if (!instance.Take(AnotherRunPatienceMs))
            return Ending(log, static_cast<int>(TExitCode::AnotherRun), false);
    }
    // The other run may have held the log until now.
    if (!log.Open(s.Log) && !s.Log.empty())
        return Ending(log, Refuse(log, s, TArgumentFault::LogUnusable, s.Log), false);
    TRun run(s, layout, log);
    const int code = run.Run();
    return Ending(log, code, run.InstallersCode());
}
