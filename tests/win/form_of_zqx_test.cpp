// The download tool's window, built from its layout with the stand-in engine: what it looks
// like when it opens, what a press sends to the engine, and what each poll tick does.
#include "app/UnitOfZQX.h"
#include "framework/Application.h"
#include "tests/win/FormOfZQXFixture.h"
#include "tests/win/MovedDownloads.h"
#include "tests/win/StandIn.h"
#include "tests/win/TestSupport.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

TEST_F(FormOfZQX, OpensAsLaidOut) {
    TFormOfZQX& f = *Form;
    f.HandleNeeded();
    EXPECT_EQ(f.Caption(), ApplicationTitle);
    EXPECT_EQ(f.Width(), 681);
    EXPECT_EQ(f.Height(), 211);
    RECT outer;
    GetWindowRect(f.Handle(), &outer);
    EXPECT_EQ(outer.right - outer.left, 681);
    EXPECT_EQ(outer.bottom - outer.top, 211);
    const LONG_PTR style = GetWindowLongPtrA(f.Handle(), GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_THICKFRAME) << "sizeable";
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_EQ(GetMenu(f.Handle()), nullptr);
    EXPECT_EQ(f.Color(), clBtnFace);
    EXPECT_EQ(f.Font().Name(), "宋体");
    EXPECT_EQ(f.Font().Height(), -12);
    EXPECT_EQ(f.Font().Color(), clWindowText);
    EXPECT_EQ(f.Font().Style(), 0);
    EXPECT_EQ(f.Font().Charset(), 0);

    struct Expected {
        TControl* Control;
        int Left, Top, Width, Height;
    };
    for (const Expected& e :
         {Expected{f.RzLabel1, 336, 24, 241, 12}, Expected{f.RzBitBtn1, 48, 104, 537, 49},
          Expected{f.PB_Cur, 49, 37, 536, 28}, Expected{f.RadioButton1, 56, 80, 241, 17},
          Expected{f.RadioButton2, 312, 80, 241, 17}}) {
        EXPECT_EQ(e.Control->BoundsRect(), Bounds(e.Left, e.Top, e.Width, e.Height))
            << e.Control->Name();
        if (auto* w = dynamic_cast<TWinControl*>(e.Control)) {
            RECT r;
            GetWindowRect(w->Handle(), &r);
            EXPECT_EQ(r.right - r.left, e.Width) << w->Name();
            EXPECT_EQ(r.bottom - r.top, e.Height) << w->Name();
        }
    }
    // RzLabel4 sizes itself to its text in the window's font.
    EXPECT_EQ(f.RzLabel4->Left(), 47);
    EXPECT_EQ(f.RzLabel4->Top(), 16);
    EXPECT_EQ(f.RzLabel4->Caption(), "正在下载... ...");
    EXPECT_TRUE(f.RzLabel4->ParentFont());
    EXPECT_TRUE(f.RzLabel4->Transparent());

    EXPECT_EQ(f.RzLabel1->Caption(), "");
    EXPECT_FALSE(f.RzLabel1->AutoSize());
    EXPECT_EQ(f.RzLabel1->Alignment(), taRightJustify);
    EXPECT_EQ(f.RzLabel1->Font().Color(), clRed);
    EXPECT_EQ(f.RzLabel1->Font().Name(), "宋体");
    EXPECT_EQ(f.RzLabel1->Font().Height(), -12);
    EXPECT_TRUE(f.RzLabel1->Transparent());
    for (TRzLabel* label : {f.RzLabel4, f.RzLabel1}) {
        EXPECT_EQ(label->BlinkIntervalOn(), 1000);
        EXPECT_EQ(label->BlinkIntervalOff(), 1000);
    }

    EXPECT_EQ(f.RzBitBtn1->Caption(), "下载Orlenz软件完整安装包");
    EXPECT_EQ(f.RzBitBtn1->Font().Name(), "微软雅黑");
    EXPECT_EQ(f.RzBitBtn1->Font().Height(), -20);
    EXPECT_EQ(f.RzBitBtn1->Font().Style(), fsBold);
    EXPECT_EQ(f.RzBitBtn1->Font().Color(), clWindowText);
    EXPECT_EQ(RgbText(f.RzBitBtn1->Color()), "244,244,240");
    EXPECT_EQ(RgbText(f.RzBitBtn1->FrameColor()), "0,60,116");
    EXPECT_TRUE(f.RzBitBtn1->HotTrack());
    EXPECT_TRUE(f.RzBitBtn1->Enabled());

    EXPECT_EQ(f.PB_Cur->Min(), 0);
    EXPECT_EQ(f.PB_Cur->Max(), 100);
    EXPECT_EQ(f.PB_Cur->Position(), 0);
    EXPECT_FALSE(GetWindowLongPtrA(f.PB_Cur->Handle(), GWL_STYLE) & (PBS_SMOOTH | PBS_VERTICAL))
        << "horizontal and segmented";
    PBRANGE range{};
    SendMessageA(f.PB_Cur->Handle(), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iHigh, 100);

    EXPECT_EQ(f.RadioButton1->Caption(), std::string("http://") + MirrorHost1);
    EXPECT_EQ(f.RadioButton2->Caption(), std::string("http://") + MirrorHost2);
    for (TRadioButton* radio : {f.RadioButton1, f.RadioButton2}) {
        EXPECT_EQ(radio->Font().Name(), "宋体");
        EXPECT_EQ(radio->Font().Height(), -16);
        EXPECT_EQ(radio->Font().Style(), fsBold);
        EXPECT_EQ(radio->Font().Color(), clRed);
        char text[64] = {};
        GetWindowTextA(radio->Handle(), text, sizeof text);
        EXPECT_EQ(text, radio->Caption());
    }
    EXPECT_TRUE(f.RadioButton1->Checked());
    EXPECT_EQ(SendMessageA(f.RadioButton1->Handle(), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_FALSE(f.RadioButton2->Checked());
    EXPECT_EQ(SendMessageA(f.RadioButton2->Handle(), BM_GETCHECK, 0, 0), BST_UNCHECKED);

    EXPECT_EQ(f.PB_Cur->TabOrder(), 0);
    EXPECT_EQ(f.RzBitBtn1->TabOrder(), 1);
    EXPECT_EQ(f.RadioButton1->TabOrder(), 2);
    EXPECT_EQ(f.RadioButton2->TabOrder(), 3);
    EXPECT_FALSE(f.PB_Cur->TabStop());
    EXPECT_TRUE(f.RzBitBtn1->TabStop());
    EXPECT_TRUE(f.RadioButton1->TabStop());
    EXPECT_FALSE(f.RadioButton2->TabStop());

    EXPECT_EQ(f.XLTime->Interval(), 1000u);
    EXPECT_FALSE(f.XLTime->Enabled());
    EXPECT_FALSE(f.XLTime->Armed());
    EXPECT_EQ(f.FTaskHandle, 0u);
    EXPECT_EQ(f.FFileName, "");
    EXPECT_EQ(Engine.CallCount(), 0) << "nothing reaches the engine before the window shows";
}

TEST_F(FormOfZQX, RadioButtonsFormOneGroupWithOneTabStop) {
    TFormOfZQX& f = *Form;
    f.HandleNeeded();
    // A click as the system delivers it: the button tells its parent, which tells it back.
    SendMessageA(f.RadioButton2->Handle(), BM_CLICK, 0, 0);
    EXPECT_TRUE(f.RadioButton2->Checked());
    EXPECT_FALSE(f.RadioButton1->Checked());
    EXPECT_EQ(SendMessageA(f.RadioButton1->Handle(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(SendMessageA(f.RadioButton2->Handle(), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_FALSE(f.RadioButton1->TabStop());
    EXPECT_TRUE(f.RadioButton2->TabStop());
    EXPECT_TRUE(GetWindowLongPtrA(f.RadioButton2->Handle(), GWL_STYLE) & WS_TABSTOP);
    EXPECT_FALSE(GetWindowLongPtrA(f.RadioButton1->Handle(), GWL_STYLE) & WS_TABSTOP);
    // Checked from code, the group rule holds the same.
    f.RadioButton1->SetChecked(true);
    EXPECT_FALSE(f.RadioButton2->Checked());
    EXPECT_EQ(SendMessageA(f.RadioButton2->Handle(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

TEST_F(FormOfZQX, TabReachesTheCheckedRadioButton) {
    TFormOfZQX& f = *Form;
    f.Show();
    ASSERT_TRUE(PumpUntil([&] { return f.RzBitBtn1->Focused(); }, 3000))
        << "the button takes the focus when the window becomes active";
    f.Perform(CM_DIALOGKEY, VK_TAB);
    EXPECT_TRUE(f.RadioButton1->Focused());
    f.Perform(CM_DIALOGKEY, VK_TAB);
    EXPECT_TRUE(f.RzBitBtn1->Focused()) << "the unchecked radio button and the bar are skipped";
    f.RadioButton2->SetChecked(true);
    f.Perform(CM_DIALOGKEY, VK_TAB);
    EXPECT_TRUE(f.RadioButton2->Focused());
    // The arrows move through the group and check as they go, round at the ends.
    SendMessageA(f.RadioButton2->Handle(), WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_TRUE(f.RadioButton1->Focused());
    EXPECT_TRUE(f.RadioButton1->Checked());
    EXPECT_FALSE(f.RadioButton2->Checked());
    SendMessageA(f.RadioButton1->Handle(), WM_KEYDOWN, VK_UP, 0);
    EXPECT_TRUE(f.RadioButton2->Focused());
    EXPECT_TRUE(f.RadioButton2->Checked());
}

TEST_F(FormOfZQX, PressSendsTheChosenMirrorToTheEngine) {
    for (const bool second : {false, true}) {
        Form.reset();
        Engine.Reset();
        Form = std::make_unique<TFormOfZQX>();
        Engine.SetResults(1, 1, 0x51);
        if (second) Form->RadioButton2->SetChecked(true);
        Press();
        ASSERT_EQ(Engine.CallNames(), (std::vector<std::string>{"XL_CreateTask", "XL_StartTask"}));
        const std::string url = second ? MirrorUrl2 : MirrorUrl1;
        const std::vector<uint8_t> sent = Engine.Record(0);
        ASSERT_EQ(sent.size(), 26564u);
        const std::vector<uint8_t> expected = ExpectedTaskParam(url);
        for (size_t i = 0; i < sent.size(); ++i)
            ASSERT_EQ(sent[i], expected[i]) << url << ": byte " << i;
        EXPECT_EQ(Engine.CallArgument(1), 0x51u) << "the handle goes on to the start";
        EXPECT_EQ(Form->FTaskHandle, 0x51u);
        EXPECT_EQ(Form->FFileName, "setup.exe");
        EXPECT_FALSE(Form->RzBitBtn1->Enabled());
        EXPECT_TRUE(Form->XLTime->Enabled());
        EXPECT_TRUE(Form->XLTime->Armed());
        EXPECT_EQ(GetFileAttributesA("D:\\KORVA") & FILE_ATTRIBUTE_DIRECTORY,
                  static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY))
            << "the folder is made when missing";
    }
}

TEST_F(FormOfZQX, FailedStartLeavesTheButtonDisabledAndTheTimerDisarmed) {
    // Only the low byte counts: 0x100 is a failure. With a file in the folder's place on D:
    // the press saves to the Downloads folder instead (the test's own, not the user's).
    // (What earlier whole-program runs left in the folder goes first.)
    for (const char* left : {"setup.exe", "setup.exe.part", "setup.exe.done", "setup-started.txt"})
        DeleteFileA((std::string("D:\\KORVA\\") + left).c_str());
    RemoveDirectoryA("D:\\KOrva");
    const HANDLE blocker = CreateFileA("D:\\KOrva", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(blocker, INVALID_HANDLE_VALUE);
    CloseHandle(blocker);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring downloads = std::wstring(temp) + L"form-downloads";
    CreateDirectoryW(downloads.c_str(), nullptr);
    {
        TMovedDownloads moved(downloads);
        Engine.SetResults(1, 0x100, 0);
        Press();
    }
    DeleteFileA("D:\\KOrva");
    ASSERT_EQ(Engine.CallNames(), (std::vector<std::string>{"XL_CreateTask", "XL_StartTask"}));
    const std::vector<uint8_t> sent = Engine.Record(0);
    const std::wstring expected = downloads + L"\\KORVA\\";
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(sent.data() + 17572)), expected);
    EXPECT_EQ(Form->FSaveFolder, expected);
    RemoveDirectoryW((downloads + L"\\KORVA").c_str());
    EXPECT_FALSE(Form->RzBitBtn1->Enabled());
    EXPECT_FALSE(Form->XLTime->Enabled());
    EXPECT_FALSE(Form->XLTime->Armed());
}

TEST_F(FormOfZQX, TicksShowProgressOnlyWhileDownloading) {
    TFormOfZQX& f = *Form;
    Press();
    const int before = Engine.CallCount();
    Engine.QueueQuery(0x100, StateDownloading, 1000, 10); // failed query: ignored
    Engine.QueueQuery(1, StateDownloading, 3670016, 524288);
    Engine.QueueQuery(1, 2, 9999, 9999);                // another state
    Engine.QueueQuery(1, StateDownloading, 0, 3072);    // no total yet
    Engine.QueueQuery(1, StateDownloading, 1000, 5000); // more than the total
    Engine.QueueQuery(1, StateDownloading, INT64_C(5) << 30, INT64_C(1) << 30); // beyond 32 bits

    f.XLTimeTimer(nullptr);
    EXPECT_EQ(f.PB_Cur->Max(), 100);
    EXPECT_EQ(f.RzLabel1->Caption(), "");

    f.XLTimeTimer(nullptr);
    EXPECT_EQ(f.PB_Cur->Max(), 3670016);
    EXPECT_EQ(f.PB_Cur->Position(), 524288);
    EXPECT_EQ(f.RzLabel1->Caption(), "512 KB/3.50 MB");

    f.XLTimeTimer(nullptr);
    EXPECT_EQ(f.PB_Cur->Max(), 3670016) << "other states change nothing";
    EXPECT_EQ(f.RzLabel1->Caption(), "512 KB/3.50 MB");
    EXPECT_TRUE(f.XLTime->Armed());

    f.XLTimeTimer(nullptr);
    EXPECT_EQ(f.PB_Cur->Max(), 0);
    EXPECT_EQ(f.PB_Cur->Position(), 0) << "an empty bar";
    EXPECT_EQ(f.RzLabel1->Caption(), "3 KB/0 KB");

    f.XLTimeTimer(nullptr);
    EXPECT_EQ(f.PB_Cur->Position(), 1000) << "a full bar";
    EXPECT_EQ(f.RzLabel1->Caption(), "5 KB/1 KB");

    f.XLTimeTimer(nullptr);
    EXPECT_GT(f.PB_Cur->Max(), 0);
    EXPECT_NEAR(static_cast<double>(f.PB_Cur->Position()) / f.PB_Cur->Max(), 0.2, 1e-6);
    EXPECT_EQ(f.RzLabel1->Caption(), "1024.00 MB/5120.00 MB");

    // Every query went to the task the press made, with a cleared record.
    for (int i = before; i < Engine.CallCount(); ++i) {
        EXPECT_STREQ(Engine.CallName(i), "XL_QueryTaskInfoEx");
        EXPECT_EQ(Engine.CallArgument(i), 1u);
        const std::vector<uint8_t> record = Engine.Record(i);
        ASSERT_EQ(record.size(), 1432u);
        EXPECT_EQ(std::vector<uint8_t>(1432, 0), record) << "query " << i;
    }
    EXPECT_EQ(ShellCalls.size(), 0u);
    EXPECT_FALSE(QuitPosted());
}

// An engine of old may pass through state 5 on its way; without its word that the state
// means failure, the window waits through it as it always did.
TEST_F(FormOfZQX, WithoutTheEnginesWordAFailedStateIsWaitedThrough) {
    TFormOfZQX& f = *Form;
    ASSERT_EQ(Engine.SetReportsFailure, nullptr) << "this stand-in must not declare failures";
    EXPECT_FALSE(f.FEngineReportsFailure);
    EXPECT_EQ(f.FEngineAddMirror, nullptr) << "nor take another mirror: the five calls alone";
    Press();
    ASSERT_EQ(Engine.CallNames(), (std::vector<std::string>{"XL_CreateTask", "XL_StartTask"}));
    EXPECT_TRUE(Engine.Record(0) == ExpectedTaskParam(MirrorUrl1)) << "the same record";

    Engine.QueueQuery(1, StateDownloading, 4096, 1024);
    Engine.QueueQueryWithError(1, StateFailed, 4096, 1024, ErrorHttpStatus);
    Engine.QueueQueryWithError(1, StateFailed, 0, 0, ErrorNetwork);
    f.XLTimeTimer(nullptr);
    for (int tick = 0; tick < 2; ++tick) {
        f.XLTimeTimer(nullptr);
        EXPECT_EQ(f.RzLabel4->Caption(), "正在下载... ...") << tick;
        EXPECT_EQ(f.RzLabel1->Caption(), "1 KB/4 KB") << tick;
        EXPECT_EQ(f.PB_Cur->Position(), 1024) << tick;
        EXPECT_TRUE(f.XLTime->Enabled()) << tick;
        EXPECT_TRUE(f.XLTime->Armed()) << tick;
        EXPECT_FALSE(f.RzBitBtn1->Enabled()) << tick;
        EXPECT_TRUE(f.RadioButton1->Checked()) << tick;
        EXPECT_FALSE(f.RadioButton2->Checked()) << tick;
    }

    // The real timer goes on asking through more of them, to the end of the transfer.
    PutInstaller("good");
    f.XLTime->SetInterval(20);
    Engine.QueueQueryWithError(1, StateFailed, 4096, 2048, ErrorVerify);
    Engine.QueueQuery(1, StateDownloading, 4096, 3072);
    Engine.QueueQuery(1, StateFinished, 4096, 4096);
    EXPECT_TRUE(PumpUntil([] { return !ShellCalls.empty(); }, 5000));
    EXPECT_EQ(f.RzLabel1->Caption(), "3 KB/4 KB");
    EXPECT_EQ(f.RzLabel4->Caption(), "正在下载... ...");
    std::vector<std::string> expected{"XL_CreateTask", "XL_StartTask"};
    expected.insert(expected.end(), 6, "XL_QueryTaskInfoEx");
    EXPECT_EQ(Engine.CallNames(), expected) << "one query a tick and nothing else";
}

TEST_F(FormOfZQX, FinishedTaskStartsTheInstallerAndClosesTheWindow) {
    TFormOfZQX& f = *Form;
    Application().SetMainForm(&f);
    Press();
    PutInstaller("good");
    Engine.QueueQuery(1, StateDownloading, 2048, 1024);
    Engine.QueueQuery(1, StateFinished, 2048, 2048);
    f.XLTimeTimer(nullptr);
    f.XLTimeTimer(nullptr);
    EXPECT_FALSE(f.XLTime->Enabled());
    EXPECT_FALSE(f.XLTime->Armed());
    ASSERT_EQ(ShellCalls.size(), 1u);
    EXPECT_EQ(ShellCalls[0].Owner, f.Handle());
    EXPECT_EQ(ShellCalls[0].Verb, "Open");
    EXPECT_EQ(ShellCalls[0].File, "D:\\KORVA\\setup.exe");
    EXPECT_TRUE(ShellCalls[0].NoParameters);
    EXPECT_TRUE(ShellCalls[0].NoDirectory);
    EXPECT_EQ(ShellCalls[0].Show, SW_SHOWNORMAL);
    EXPECT_TRUE(ShellCalls[0].Mask & SEE_MASK_FLAG_NO_UI) << "the tool says itself what failed";
    EXPECT_FALSE(ShellCalls[0].Writable) << "checked, then swapped before the shell had it";
    EXPECT_FALSE(ShellCalls[0].Deletable);
    EXPECT_TRUE(OpenableFor(L"D:\\KORVA\\setup.exe", GENERIC_WRITE)) << "released after the start";
    EXPECT_TRUE(f.RzBitBtn1->Enabled());
    EXPECT_EQ(f.RzLabel1->Caption(), "1 KB/2 KB") << "the finishing tick shows nothing";
    EXPECT_TRUE(QuitPosted());
}

// What the signature check refuses is never started and never left under the name the user
// would run; the window stays, says so, and offers the other mirror (the file came from this
// one). The finer cases of the check itself: installer_signature_test.
TEST_F(FormOfZQX, AnInstallerThatIsNotTheMakersIsDeletedNotStarted) {
    TFormOfZQX& f = *Form;
    Application().SetMainForm(&f);
    f.HandleNeeded();
    int mirror = 1;
    for (const char* variant :
         {"tampered", "unsigned", "other-publisher", "untrusted-root", "expired"}) {
        SCOPED_TRACE(variant);
        ShellCalls.clear();
        Press();
        PutInstaller(variant);
        Engine.QueueQuery(1, StateFinished, 2048, 2048);
        f.XLTimeTimer(nullptr);
        EXPECT_TRUE(ShellCalls.empty());
        EXPECT_FALSE(Exists("D:\\KORVA\\setup.exe")) << "deleted";
        EXPECT_EQ(f.RzLabel4->Caption(), StartTroubleText(TStartTrouble::NotTheMakers));
        EXPECT_FALSE(f.XLTime->Armed());
        EXPECT_TRUE(f.RzBitBtn1->Enabled());
        mirror = 3 - mirror;
        EXPECT_EQ(f.RadioButton1->Checked(), mirror == 1) << "the other mirror is offered";
        EXPECT_FALSE(QuitPosted()) << "the window stays";
    }
}

// The shell could not start a good installer: the window stays and says why, the file stays
// (nothing is wrong with it), the chosen mirror stays (no mirror made this), and one press
// tries again.
TEST_F(FormOfZQX, AFailedStartSaysWhyAndOnePressTriesAgain) {
    TFormOfZQX& f = *Form;
    Application().SetMainForm(&f);
    f.HandleNeeded();
    struct Case {
        DWORD Error;
        TStartTrouble Trouble;
    };
    for (const Case c : {Case{ERROR_CANCELLED, TStartTrouble::Declined},
                         {ERROR_ACCESS_DENIED, TStartTrouble::Blocked},
                         {225 /* ERROR_VIRUS_INFECTED */, TStartTrouble::Blocked},
                         {ERROR_FILE_NOT_FOUND, TStartTrouble::Missing},
                         {ERROR_SHARING_VIOLATION, TStartTrouble::InUse},
                         {ERROR_BAD_EXE_FORMAT, TStartTrouble::Other}}) {
        SCOPED_TRACE(c.Error);
        ShellCalls.clear();
        ShellError = c.Error;
        f.RadioButton2->SetChecked(true);
        Press();
        PutInstaller("good");
        Engine.QueueQuery(1, StateFinished, 2048, 2048);
        f.XLTimeTimer(nullptr);
        ASSERT_EQ(ShellCalls.size(), 1u);
        EXPECT_EQ(f.RzLabel4->Caption(), StartTroubleText(c.Trouble));
        EXPECT_TRUE(Exists("D:\\KORVA\\setup.exe"));
        EXPECT_TRUE(f.RadioButton2->Checked()) << "the chosen mirror stays";
        EXPECT_TRUE(f.RzBitBtn1->Enabled());
        EXPECT_FALSE(f.XLTime->Armed());
        EXPECT_FALSE(QuitPosted());
    }
    ShellError = 0;
    Engine.Reset();
    Press();
    EXPECT_EQ(f.RzLabel4->Caption(), "正在下载... ...");
    Engine.QueueQuery(1, StateFinished, 2048, 2048);
    f.XLTimeTimer(nullptr);
    EXPECT_EQ(ShellCalls.size(), 2u);
    EXPECT_TRUE(QuitPosted());
}

// Before the shell is asked: a file that is gone, or that another program holds so that it
// could be changed under the check.
TEST_F(FormOfZQX, AFileThatIsGoneOrHeldIsNotStarted) {
    TFormOfZQX& f = *Form;
    Application().SetMainForm(&f);
    Press();
    DeleteFileA("D:\\KORVA\\setup.exe");
    Engine.QueueQuery(1, StateFinished, 2048, 2048);
    f.XLTimeTimer(nullptr);
    EXPECT_EQ(f.RzLabel4->Caption(), StartTroubleText(TStartTrouble::Missing));

    PutInstaller("good");
    const HANDLE other = CreateFileA("D:\\KORVA\\setup.exe", GENERIC_READ | GENERIC_WRITE, 0,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    Press();
    Engine.QueueQuery(1, StateFinished, 2048, 2048);
    f.XLTimeTimer(nullptr);
    CloseHandle(other);
    EXPECT_EQ(f.RzLabel4->Caption(), StartTroubleText(TStartTrouble::InUse));
    EXPECT_TRUE(Exists("D:\\KORVA\\setup.exe")) << "another program's file is left alone";
    EXPECT_TRUE(ShellCalls.empty());
    EXPECT_TRUE(f.RadioButton1->Checked());
    EXPECT_FALSE(QuitPosted());
}

TEST_F(FormOfZQX, OnlyPathsWithALowerCaseExeAreStarted) {
    TFormOfZQX& f = *Form;
    Application().SetMainForm(&f);
    Press();
    struct Case {
        const char* Name;
        bool Started;
    };
    for (const Case c : {Case{"setup.exe.part", true}, Case{"SETUP.EXE", false}, Case{"", false}}) {
        ShellCalls.clear();
        f.RzBitBtn1->SetEnabled(false);
        f.FFileName = c.Name;
        if (*c.Name) PutInstaller("good", c.Name);
        Engine.QueueQuery(1, StateFinished, 1, 1);
        f.XLTimeTimer(nullptr);
        EXPECT_EQ(ShellCalls.size(), c.Started ? 1u : 0u) << c.Name;
        EXPECT_EQ(f.RzBitBtn1->Enabled(), c.Started) << c.Name;
        EXPECT_TRUE(QuitPosted()) << c.Name << ": the window closes all the same";
    }
}

TEST_F(FormOfZQX, AnErrorInATickReachesTheErrorBoxAndTheWindowStays) {
    TFormOfZQX& f = *Form;
    Application().SetMainForm(&f);
    std::vector<std::string> reported;
    Application().OnException = [&](const std::exception& e) { reported.push_back(e.what()); };
    ShellExecuteProc = RefuseShellExecute;
    Press();
    PutInstaller("good");
    f.XLTime->SetInterval(20); // the real timer, sooner
    Engine.QueueQuery(1, StateFinished, 1, 1);
    const bool reportedInTime = PumpUntil([&] { return !reported.empty(); }, 5000);
    Application().OnException = nullptr;
    ASSERT_TRUE(reportedInTime);
    EXPECT_EQ(reported[0], "shell refused");
    EXPECT_FALSE(QuitPosted()) << "the tick was abandoned before the close";
    EXPECT_FALSE(f.RzBitBtn1->Enabled());
}

// On a display of more dots per inch the client area grows with the controls, so that all of
// them stand inside it and the window is centred with its new size. A window that would be
// larger than the screen's work area (the null display's is 1024 x 768) is held to it, and
// the scroll bars show the rest.
TEST_F(FormOfZQX, AtEveryDisplayScaleTheClientAreaHoldsTheControls) {
    Form->HandleNeeded();
    const TRect designed = Form->ClientRect();
    const TSize frame{681 - designed.Width(), 211 - designed.Height()};
    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    int held = 0;
    for (const int ppi : {120, 144, 192}) {
        SCOPED_TRACE(std::to_string(ppi) + " dots per inch");
        TFormOfZQX f;
        f.ScaleForDisplay(ppi);
        f.Show();
        const int zero = TextExtentIn(f.Font(), "0").cy;
        EXPECT_EQ(f.RzBitBtn1->BoundsRect(), Bounds(MulDiv(48, zero, 12), MulDiv(104, zero, 12),
                                                    MulDiv(537, zero, 12), MulDiv(49, zero, 12)));
        const TSize client{MulDiv(designed.Width(), zero, 12), MulDiv(designed.Height(), zero, 12)};
        RECT outer;
        GetWindowRect(f.Handle(), &outer);
        const LONG_PTR style = GetWindowLongPtrA(f.Handle(), GWL_STYLE);
        if (client.cx + frame.cx <= work.right - work.left) {
            EXPECT_EQ(f.ClientRect(), (TRect{0, 0, client.cx, client.cy}));
            EXPECT_FALSE(style & (WS_HSCROLL | WS_VSCROLL));
            for (int i = 0; i < f.ControlCount(); ++i) {
                const TRect r = f.Controls(i)->BoundsRect();
                EXPECT_TRUE(r.Left >= 0 && r.Top >= 0 && r.Right <= client.cx &&
                            r.Bottom <= client.cy)
                    << f.Controls(i)->Name();
            }
        } else {
            ++held;
            EXPECT_EQ(outer.right - outer.left, work.right - work.left);
            int right = 0;
            for (int i = 0; i < f.ControlCount(); ++i)
                right = std::max(right, f.Controls(i)->BoundsRect().Right);
            EXPECT_EQ((style & WS_HSCROLL) != 0, right > work.right - work.left - frame.cx)
                << "a scroll bar only when the controls reach beyond the client area";
            EXPECT_FALSE(style & WS_VSCROLL) << "as high as it needs to be";
        }
        const TPoint centred = DesktopCenteredPosition(
            GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN),
            outer.right - outer.left, outer.bottom - outer.top);
        EXPECT_EQ(outer.left, centred.X);
        EXPECT_EQ(outer.top, centred.Y);
    }
    std::printf("%d of 3 scales held to the work area of %ldx%ld\n", held, work.right - work.left,
                work.bottom - work.top);
}

TEST(FormPlacement, CentredOnTheVirtualDesktop) {
    EXPECT_EQ(DesktopCenteredPosition(1920, 1080, 681, 211), (TPoint{619, 434}));
    EXPECT_EQ(DesktopCenteredPosition(3840, 1080, 681, 211), (TPoint{1579, 434}));
    EXPECT_EQ(DesktopCenteredPosition(600, 200, 681, 211), (TPoint{0, 0}));
    EXPECT_EQ(DesktopCenteredPosition(682, 212, 681, 211), (TPoint{0, 0})) << "halves truncate";

    TStandIn engine;
    engine.Reset();
    TFormOfZQX form;
    form.Show();
    RECT r;
    GetWindowRect(form.Handle(), &r);
    const TPoint expected = DesktopCenteredPosition(GetSystemMetrics(SM_CXVIRTUALSCREEN),
                                                    GetSystemMetrics(SM_CYVIRTUALSCREEN), 681, 211);
    EXPECT_EQ(r.left, expected.X);
    EXPECT_EQ(r.top, expected.Y);
    EXPECT_EQ(r.right - r.left, 681) << "the size stays";
    EXPECT_EQ(engine.CallNames(), std::vector<std::string>{"XL_Init"});
    // Shown again (as after a restore): no second show event.
    ShowWindow(form.Handle(), SW_HIDE);
    form.Show();
    EXPECT_EQ(engine.CallNames(), std::vector<std::string>{"XL_Init"});
}

} // namespace
