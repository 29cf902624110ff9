// The tool's window over a stand-in engine that declares failure reporting: a task the engine
// gave up on is said to have failed, and why, in the status line; the other mirror is offered
// and one press tries it.
#include "app/DownloadTexts.h"
#include "app/UnitOfZQX.h"
#include "framework/Application.h"
#include "tests/win/FormOfZQXFixture.h"
#include "tests/win/StandIn.h"
#include "tests/win/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

const char* const Working = "正在下载... ...";

// What the user reads for each reason the engine may give, and whether the other mirror is
// offered for it (not for troubles of this machine).
struct TReasonText {
    uint32_t Error;
    const char* Text;
    bool OtherMirror;
};
const TReasonText ReasonTexts[] = {
    {ErrorHttpStatus, "下载失败：此镜像上没有该文件，可换镜像重试", true},
    {ErrorNetwork, "下载失败：无法连接网络或服务器，可换镜像重试", true},
    {ErrorRedirects, "下载失败：无法连接网络或服务器，可换镜像重试", true},
    {ErrorDiskFull, "下载失败：磁盘空间不足，请清理后重试", false},
    {ErrorVerify, "下载失败：文件损坏，未通过校验，可换镜像重试", true},
    {ErrorUnstable, "下载失败：文件损坏，未通过校验，可换镜像重试", true},
    {ErrorFile, "下载失败：无法保存文件", false},
    {ErrorRename, "下载失败：无法保存文件", false},
    {ErrorBadUrl, "下载失败：无法保存文件", false},
    {ErrorInUse, "下载失败：另一个程序正在下载该文件", false},
    {ErrorTls, "下载失败：无法验证服务器的身份，可换镜像重试", true},
    {ErrorInsecureRedirect, "下载失败：无法验证服务器的身份，可换镜像重试", true},
    {ErrorProxyAuth, "下载失败：代理服务器需要身份验证", false},
    {ErrorProxyUnreachable, "下载失败：无法连接代理服务器，请检查代理设置", false},
    {ErrorSignInPage, "下载失败：网络返回了登录网页，请先登录后重试", false},
    {ErrorNone, "下载失败，可换镜像重试", true},
    {99, "下载失败，可换镜像重试", true},
    {0xFFFFFFFFu, "下载失败，可换镜像重试", true},
};

class FailedDownload : public FormOfZQX {
protected:
    void SetUp() override {
        FormOfZQX::SetUp();
        ASSERT_NE(Engine.SetReportsFailure, nullptr) << "the stand-in that declares failures";
        ASSERT_NE(Engine.QueueQueryWithError, nullptr);
    }
    // The mirror whose radio button is checked, 1 or 2.
    int CheckedMirror() const {
        return Form->RadioButton1->Checked() ? 1 : Form->RadioButton2->Checked() ? 2 : 0;
    }
    // A tick with the task downloading, then one with it failed for `error`.
    void DownloadThenFail(uint32_t error) {
        Engine.QueueQuery(1, StateDownloading, 3670016, 524288);
        Engine.QueueQueryWithError(1, StateFailed, 3670016, 524288, error);
        Form->XLTimeTimer(nullptr);
        Form->XLTimeTimer(nullptr);
    }
};

TEST_F(FailedDownload, EachReasonIsToldAndThePressTriesTheOtherMirrorWhereItMayHelp) {
    TFormOfZQX& f = *Form;
    EXPECT_TRUE(f.FEngineReportsFailure);
    f.HandleNeeded();
    int mirror = 1;
    TaskHandle handle = 0x40;
    for (const TReasonText& r : ReasonTexts) {
        SCOPED_TRACE("reason " + std::to_string(r.Error) + " on mirror " + std::to_string(mirror));
        ASSERT_EQ(CheckedMirror(), mirror);
        Engine.Reset();
        Engine.SetResults(1, 1, ++handle);
        Press();
        // Exactly as the first press ever: the chosen mirror's record, the working text back.
        ASSERT_EQ(Engine.CallNames(), (std::vector<std::string>{"XL_CreateTask", "XL_StartTask"}));
        EXPECT_TRUE(Engine.Record(0) == ExpectedTaskParam(mirror == 1 ? MirrorUrl1 : MirrorUrl2));
        // The task was given the mirror not chosen as its other one.
        EXPECT_EQ(Engine.MirrorTask(), handle);
        EXPECT_STREQ(Engine.MirrorUrl(), mirror == 1 ? MirrorUrl2 : MirrorUrl1);
        EXPECT_EQ(f.FTaskHandle, handle);
        EXPECT_EQ(f.RzLabel4->Caption(), Working);
        EXPECT_FALSE(f.RzBitBtn1->Enabled());
        EXPECT_TRUE(f.XLTime->Armed());

        DownloadThenFail(r.Error);
        EXPECT_EQ(f.RzLabel4->Caption(), r.Text);
        EXPECT_EQ(f.RzLabel1->Caption(), "512 KB/3.50 MB") << "the last sizes stay";
        EXPECT_EQ(f.PB_Cur->Position(), 524288);
        EXPECT_FALSE(f.XLTime->Enabled());
        EXPECT_FALSE(f.XLTime->Armed());
        EXPECT_TRUE(f.RzBitBtn1->Enabled());
        if (r.OtherMirror) mirror = 3 - mirror;
        EXPECT_EQ(CheckedMirror(), mirror)
            << (r.OtherMirror ? "the other mirror is offered" : "the chosen mirror stays");
        EXPECT_EQ(SendMessageA((mirror == 1 ? f.RadioButton1 : f.RadioButton2)->Handle(),
                               BM_GETCHECK, 0, 0),
                  BST_CHECKED);
        for (int i = 2; i < Engine.CallCount(); ++i)
            EXPECT_EQ(Engine.CallArgument(i), handle) << "the new task is the one asked after";
        EXPECT_EQ(ShellCalls.size(), 0u);
        EXPECT_FALSE(QuitPosted());
    }
}

TEST_F(FailedDownload, DifferentTroublesReadDifferently) {
    // One text per kind of trouble (the kinds the table tells apart), none of them the
    // working text.
    std::set<std::string> texts, kinds;
    for (const TReasonText& r : ReasonTexts) {
        texts.insert(FailureText(r.Error));
        kinds.insert(r.Text);
    }
    EXPECT_EQ(texts, kinds);
    EXPECT_EQ(texts.count(Working), 0u);
}

TEST_F(FailedDownload, TheMirrorOfTheTaskDecidesNotTheCheckedOne) {
    // The radio buttons stay free while a task runs; the failed task's mirror is the one left.
    TFormOfZQX& f = *Form;
    f.RadioButton2->SetChecked(true);
    Press();
    f.RadioButton1->SetChecked(true);
    DownloadThenFail(ErrorHttpStatus);
    EXPECT_TRUE(f.RadioButton1->Checked());
    EXPECT_FALSE(f.RadioButton2->Checked());

    f.RadioButton1->SetChecked(true);
    Press();
    DownloadThenFail(ErrorNetwork);
    EXPECT_TRUE(f.RadioButton2->Checked());
}

TEST_F(FailedDownload, WaitingToRetryShowsNothingNew) {
    TFormOfZQX& f = *Form;
    Press();
    Engine.QueueQuery(1, StateDownloading, 3670016, 524288);
    Engine.QueueQuery(1, 6, 3670016, 524288);
    Engine.QueueQueryWithError(1, 6, 0, 0, ErrorNetwork);
    Engine.QueueQuery(1, StateDownloading, 3670016, 1048576);
    f.XLTimeTimer(nullptr);
    for (int tick = 0; tick < 2; ++tick) {
        f.XLTimeTimer(nullptr);
        EXPECT_EQ(f.RzLabel4->Caption(), Working);
        EXPECT_EQ(f.RzLabel1->Caption(), "512 KB/3.50 MB");
        EXPECT_TRUE(f.XLTime->Armed());
        EXPECT_FALSE(f.RzBitBtn1->Enabled());
        EXPECT_TRUE(f.RadioButton1->Checked());
    }
    f.XLTimeTimer(nullptr);
    EXPECT_EQ(f.RzLabel1->Caption(), "1.00 MB/3.50 MB");
}

TEST_F(FailedDownload, TheWindowOwnsTheEnginesCredentialDialogWhileItLives) {
    ASSERT_NE(Engine.PromptOwner, nullptr);
    TFormOfZQX& f = *Form;
    EXPECT_NE(f.FSetPromptOwner, nullptr);
    f.Show();
    ASSERT_TRUE(PumpUntil([&] { return Engine.PromptOwner(false) != nullptr; }, 3000));
    EXPECT_EQ(Engine.PromptOwner(false), f.Handle());
    Form.reset();
    EXPECT_EQ(Engine.PromptOwner(true), nullptr) << "a window about to go must not own a dialog";
}

TEST_F(FailedDownload, AnEngineThatAnswersNoIsAnEngineOfOld) {
    Engine.SetReportsFailure(0);
    Form = std::make_unique<TFormOfZQX>();
    TFormOfZQX& f = *Form;
    EXPECT_FALSE(f.FEngineReportsFailure);
    Press();
    DownloadThenFail(ErrorHttpStatus);
    EXPECT_EQ(f.RzLabel4->Caption(), Working);
    EXPECT_TRUE(f.XLTime->Armed());
    EXPECT_FALSE(f.RzBitBtn1->Enabled());
    EXPECT_TRUE(f.RadioButton1->Checked());
}

TEST_F(FailedDownload, TheFailureShowsOnTheRealTimer) {
    TFormOfZQX& f = *Form;
    f.Show();
    Press();
    f.XLTime->SetInterval(20);
    Engine.QueueQuery(1, StateDownloading, 3670016, 524288);
    Engine.QueueQueryWithError(1, StateFailed, 3670016, 524288, ErrorDiskFull);
    ASSERT_TRUE(PumpUntil([&] { return f.RzBitBtn1->Enabled(); }, 5000));
    const int calls = Engine.CallCount();
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(Engine.CallCount(), calls) << "no more polling";
    EXPECT_EQ(f.RzLabel4->Caption(), "下载失败：磁盘空间不足，请清理后重试");
    EXPECT_TRUE(IsWindowEnabled(f.RzBitBtn1->Handle()));
}

TEST_F(FailedDownload, TheKeyboardRetriesFromTheButtonUnlessTheFocusMoved) {
    TFormOfZQX& f = *Form;
    f.Show();
    ASSERT_TRUE(PumpUntil([&] { return f.RzBitBtn1->Focused(); }, 3000));
    Press();
    EXPECT_FALSE(f.RzBitBtn1->Focused());
    DownloadThenFail(ErrorHttpStatus);
    EXPECT_TRUE(f.RzBitBtn1->Focused());
    // Space on the button presses it: the next task, on mirror 2.
    Engine.Reset();
    SendMessageA(f.RzBitBtn1->Handle(), WM_KEYDOWN, VK_SPACE, 0);
    SendMessageA(f.RzBitBtn1->Handle(), WM_KEYUP, VK_SPACE, 0);
    ASSERT_EQ(Engine.CallNames(), (std::vector<std::string>{"XL_CreateTask", "XL_StartTask"}));
    EXPECT_TRUE(Engine.Record(0) == ExpectedTaskParam(MirrorUrl2));

    // The user went to the radio buttons while it ran: the focus stays there.
    f.RadioButton2->SetFocus();
    DownloadThenFail(ErrorHttpStatus);
    EXPECT_TRUE(f.RadioButton2->Focused());
    EXPECT_FALSE(f.RzBitBtn1->Focused());
}

// Every text in the window's own font, measured as the system draws it (the failures of a
// download and of a start alike): the status line starts at RzLabel4's left and must end a
// full character short of the size text's box, and at every other display scale, with the window's
// font and places scaled, still short of it. (A scaled font's characters round to whole pixels
// otherwise than the places do: the replacement of 宋体 here draws its 15-pixel characters 16 wide,
// and at 125 % the longest texts keep only half a character.)
TEST_F(FailedDownload, EveryTextStandsClearOfTheSizeText) {
    std::vector<std::string> texts{Working};
    for (const TReasonText& r : ReasonTexts)
        texts.push_back(r.Text);
    for (const TStartTrouble t :
         {TStartTrouble::NotTheMakers, TStartTrouble::NotTheMakersKept, TStartTrouble::Older,
          TStartTrouble::OlderKept, TStartTrouble::Missing, TStartTrouble::InUse,
          TStartTrouble::Declined, TStartTrouble::Blocked, TStartTrouble::Other})
        texts.push_back(StartTroubleText(t));
    for (const int ppi : {96, 120, 144, 192}) {
        SCOPED_TRACE(std::to_string(ppi) + " dots per inch");
        TFormOfZQX f;
        f.ScaleForDisplay(ppi);
        f.HandleNeeded();
        const int zero = ppi == 96 ? 12 : TextExtentIn(f.Font(), "0").cy;
        const int gap = TextExtentIn(f.Font(), "　").cx;
        EXPECT_GE(gap, MulDiv(11, zero, 12)) << "a full-width character of the window's font";
        EXPECT_EQ(f.RzLabel1->Left(), MulDiv(336, zero, 12));
        for (const std::string& text : texts) {
            const int w = TextExtentIn(f.Font(), text).cx;
            f.RzLabel4->SetCaption(text);
            EXPECT_EQ(f.RzLabel4->Width(), w) << "the label takes its text's width";
            EXPECT_EQ(f.RzLabel4->Left(), MulDiv(47, zero, 12));
            const int spare = ppi == 96 ? gap : 0;
            EXPECT_LE(f.RzLabel4->Left() + w + spare, f.RzLabel1->Left())
                << w << " pixels, " << f.RzLabel4->Left() + w + spare - f.RzLabel1->Left()
                << " too many";
            std::printf("%3d dpi: %4d px, ends at x %3d of %3d: %u\n", ppi, w,
                        f.RzLabel4->Left() + w, f.RzLabel1->Left(),
                        static_cast<unsigned>(text.size()));
        }
    }
}

// The status label is transparent over the form: a shorter text must take the longer one's
// pixels with it. What the window shows after each change is compared with a full paint.
TEST_F(FailedDownload, ShorterTextsLeaveNothingBehind) {
    TFormOfZQX& f = *Form;
    f.Show();
    PumpUntil([] { return false; }, 100);
    const TRect band{40, 10, 340, 34};
    const auto shown = [&] {
        TBitmap screen, painted;
        screen.SetSize(band.Width(), band.Height());
        painted.SetSize(f.ClientRect().Width(), f.ClientRect().Height());
        HDC dc = GetDC(f.Handle());
        BitBlt(screen.Canvas().Handle(), 0, 0, band.Width(), band.Height(), dc, band.Left, band.Top,
               SRCCOPY);
        ReleaseDC(f.Handle(), dc);
        PrintClient(f.Handle(), painted);
        int differing = 0;
        for (int y = 0; y < band.Height(); ++y)
            for (int x = 0; x < band.Width(); ++x)
                differing += screen.Canvas().Pixel(x, y) !=
                             painted.Canvas().Pixel(band.Left + x, band.Top + y);
        return differing;
    };
    Press();
    DownloadThenFail(ErrorNetwork); // one of the longest
    PumpUntil([] { return false; }, 50);
    EXPECT_EQ(shown(), 0);
    Press();
    PumpUntil([] { return false; }, 50);
    EXPECT_EQ(f.RzLabel4->Caption(), Working);
    EXPECT_EQ(shown(), 0) << "remnants of the failure text";
    DownloadThenFail(ErrorFile); // shorter than the one before, longer than the working text
    PumpUntil([] { return false; }, 50);
    EXPECT_EQ(shown(), 0);
}

} // namespace
