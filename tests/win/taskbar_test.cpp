// What the tool's taskbar button shows of a download (recorded in place of the system's
// taskbar): the progress while it downloads, the error state and a flash for the user when it
// fails behind other windows, nothing once it is over or the window closes.
#include "tests/win/FormOfZQXFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Shown;

struct TRecordedTaskbar : TTaskbarButton {
    void Progress(uint64_t done, uint64_t total) override {
        Shown.push_back("progress " + std::to_string(done) + "/" + std::to_string(total));
    }
    void Failed() override { Shown.push_back("failed"); }
    void Clear() override { Shown.push_back("clear"); }
    void Flash() override { Shown.push_back("flash"); }
};

class Taskbar : public FormOfZQX {
protected:
    void SetUp() override {
        FormOfZQX::SetUp();
        Shown.clear();
        Form->FTaskbar = std::make_unique<TRecordedTaskbar>();
        Form->HandleNeeded();
    }
    void Tick(uint8_t state, uint32_t error = 0) {
        Engine.QueueQueryWithError(1, state, 3670016, state == StateFinished ? 3670016 : 524288,
                                   error);
        Form->XLTimeTimer(nullptr);
    }
};

TEST_F(Taskbar, ProgressThenFailureThenAFinishedTaskAndTheWindowClosing) {
    Press();
    Tick(StateDownloading);
    Tick(StateFailed, ErrorNetwork);
    EXPECT_EQ(Shown,
              (std::vector<std::string>{"clear", "progress 524288/3670016", "failed", "flash"}))
        << "the window is not in front: the button asks for the user";

    Shown.clear();
    Press();
    Tick(StateDownloading);
    PutInstaller("good");
    Tick(StateFinished);
    EXPECT_EQ(Shown, (std::vector<std::string>{"clear", "progress 524288/3670016", "clear"}));

    Shown.clear();
    Form.reset();
    EXPECT_EQ(Shown, std::vector<std::string>{"clear"});
}

TEST_F(Taskbar, AFailureInFrontDoesNotFlash) {
    Form->Show();
    SetForegroundWindow(Form->Handle());
    ASSERT_EQ(GetForegroundWindow(), Form->Handle());
    Press();
    Tick(StateFailed, ErrorNetwork);
    EXPECT_EQ(Shown, (std::vector<std::string>{"clear", "failed"}));
}

} // namespace
