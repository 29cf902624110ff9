// The blink scheduler: phase order, who is asked and who is told, phase lengths and the timer,
// the list of registered controls, and the shared scheduler's end.
#include "TestSupport.h"

#include "controls/RzBlinkList.h"
#include "framework/Exceptions.h"

#include <string>
#include <vector>

namespace {

// A control that answers the blink query with `Reply` (or leaves it unhandled) and writes
// what it receives into a log shared by all probes.
class TProbe : public TControl {
public:
    TProbe(std::string name, bool handlesQuery, LRESULT reply, std::vector<std::string>* log)
        : TControl(nullptr), FName(std::move(name)), FHandles(handlesQuery), FReply(reply),
          FLog(log) {}
    int Queries = 0;
    std::vector<WPARAM> Phases;

    void WndProc(TMessage& m) override {
        if (m.Msg == BlinkQueryMessage) {
            ++Queries;
            if (FLog) FLog->push_back(FName + "?");
            if (FHandles) {
                m.Result = FReply;
                return;
            }
        } else if (m.Msg == BlinkPhaseMessage) {
            Phases.push_back(m.WParam);
            if (FLog) FLog->push_back(FName + std::to_string(m.WParam));
            return;
        }
        TControl::WndProc(m);
    }

private:
    std::string FName;
    bool FHandles;
    LRESULT FReply;
    std::vector<std::string>* FLog;
};

TEST(BlinkList, StartsInTheBlinkPhaseWithItsTimerArmed) {
    TRzBlinkingControlsList list;
    EXPECT_EQ(list.BlinkPhase(), 1);
    EXPECT_EQ(list.NormalPhaseMs(), 500);
    EXPECT_EQ(list.BlinkPhaseMs(), 500);
    EXPECT_EQ(list.ControlCount(), 0);
    EXPECT_EQ(list.BlinkTimer().Interval(), 500u);
    EXPECT_TRUE(list.BlinkTimer().Enabled());
    EXPECT_TRUE(list.BlinkTimer().Armed());
}

TEST(BlinkList, FirstTickEntersTheNormalPhaseThenPhasesAlternate) {
    TRzBlinkingControlsList list;
    TProbe blinker("b", true, 1, nullptr);
    list.RegisterControl(&blinker);
    EXPECT_TRUE(blinker.Phases.empty()); // nobody is told at construction
    const std::vector<uint8_t> expected = {0, 1, 0, 1, 0};
    for (uint8_t phase : expected) {
        list.HandleTick(&list.BlinkTimer());
        EXPECT_EQ(list.BlinkPhase(), phase);
    }
    EXPECT_EQ(blinker.Phases, std::vector<WPARAM>(expected.begin(), expected.end()));
}

TEST(BlinkList, OnlyAReplyOfOneIsBlinkingButEveryoneIsAsked) {
    std::vector<std::string> log;
    TProbe c("c", true, 1, &log), two("two", true, 2, &log), silent("silent", false, 0, &log),
        zero("zero", true, 0, &log), a("a", true, 1, &log);
    TRzBlinkingControlsList list;
    for (TProbe* p : {&c, &two, &silent, &zero, &a})
        list.RegisterControl(p);
    list.HandleTick(nullptr);
    // Registration order, each control asked and (if blinking) told before the next.
    EXPECT_EQ(log, (std::vector<std::string>{"c?", "c0", "two?", "silent?", "zero?", "a?", "a0"}));
    list.HandleTick(nullptr);
    EXPECT_EQ(two.Queries, 2);
    EXPECT_EQ(silent.Queries, 2);
    EXPECT_TRUE(two.Phases.empty());
    EXPECT_TRUE(silent.Phases.empty());
    EXPECT_TRUE(zero.Phases.empty());
    EXPECT_EQ(c.Phases, (std::vector<WPARAM>{0, 1}));
}

TEST(BlinkList, RegisteringAndUnregistering) {
    TProbe a("a", true, 1, nullptr), b("b", true, 1, nullptr), stranger("s", true, 1, nullptr);
    TRzBlinkingControlsList list;
    list.RegisterControl(&a);
    list.RegisterControl(&b);
    list.RegisterControl(&a);
    EXPECT_EQ(list.ControlCount(), 3);
    list.HandleTick(nullptr);
    EXPECT_EQ(a.Phases, (std::vector<WPARAM>{0, 0})); // listed twice, told twice
    EXPECT_EQ(b.Phases, (std::vector<WPARAM>{0}));

    list.UnregisterControl(&a);
    EXPECT_EQ(list.RegisteredControls(), (std::vector<TControl*>{&b, &a}));
    try {
        list.UnregisterControl(&stranger);
        FAIL() << "no error raised";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (-1)");
    }
    EXPECT_EQ(list.ControlCount(), 2);
    list.HandleTick(nullptr);
    EXPECT_EQ(a.Phases, (std::vector<WPARAM>{0, 0, 1}));
    EXPECT_TRUE(stranger.Phases.empty());
}

TEST(BlinkList, NewLengthsTakeEffectAtTheNextTick) {
    TRzBlinkingControlsList list;
    list.SetNormalPhaseMs(300);
    list.SetBlinkPhaseMs(700);
    EXPECT_EQ(list.BlinkTimer().Interval(), 500u); // the running period is left alone
    list.HandleTick(nullptr);
    EXPECT_EQ(list.BlinkTimer().Interval(), 300u); // normal phase entered
    list.HandleTick(nullptr);
    EXPECT_EQ(list.BlinkTimer().Interval(), 700u); // blink phase entered
    list.SetBlinkPhaseMs(900);                     // during a blink phase: that phase keeps 700
    EXPECT_EQ(list.BlinkTimer().Interval(), 700u);
    list.HandleTick(nullptr);
    EXPECT_EQ(list.BlinkTimer().Interval(), 300u);
    list.HandleTick(nullptr);
    EXPECT_EQ(list.BlinkTimer().Interval(), 900u);
    EXPECT_TRUE(list.BlinkTimer().Armed());
}

TEST(BlinkList, ZeroLengthStopsTheTimerWhenItsPhaseBegins) {
    TRzBlinkingControlsList list;
    list.SetBlinkPhaseMs(0);
    list.HandleTick(nullptr); // enters the normal phase, 500 ms
    EXPECT_TRUE(list.BlinkTimer().Armed());
    list.HandleTick(nullptr); // enters the blink phase of length 0
    EXPECT_EQ(list.BlinkPhase(), 1);
    EXPECT_FALSE(list.BlinkTimer().Armed());
}

// Tells when the scheduler is destroyed.
class TWatchedList : public TRzBlinkingControlsList {
public:
    explicit TWatchedList(bool* destroyed) : FDestroyed(destroyed) {}
    ~TWatchedList() override { *FDestroyed = true; }

private:
    bool* FDestroyed;
};

TEST(BlinkList, SharedSchedulerGoesWithTheLastControl) {
    ASSERT_EQ(SharedBlinkList, nullptr);
    TProbe label("l", false, 0, nullptr);
    bool destroyed = false;
    SharedBlinkList = new TWatchedList(&destroyed);
    TRzBlinkingControlsList* const created = SharedBlinkList;
    SharedBlinkList->RegisterControl(&label);
    ReleaseBlinkListIfEmpty();
    EXPECT_FALSE(destroyed);
    ASSERT_EQ(SharedBlinkList, created);
    SharedBlinkList->UnregisterControl(&label);
    ReleaseBlinkListIfEmpty();
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(SharedBlinkList, nullptr);
}

TEST(BlinkList, FirstRealTickEntersTheNormalPhase) {
    TRzBlinkingControlsList list;
    TProbe blinker("b", true, 1, nullptr), still("s", false, 0, nullptr);
    list.RegisterControl(&still);
    list.RegisterControl(&blinker);
    ASSERT_TRUE(PumpUntil([&] { return !blinker.Phases.empty(); }, 5000));
    EXPECT_EQ(blinker.Phases.front(), 0u);
    EXPECT_GE(still.Queries, 1);
}

} // namespace
