// The framework timer: ticks come through the message loop on the GUI thread; which changes
// arm the system timer again and which leave the running period alone; a refused system timer.
#include "TestSupport.h"

#include "framework/Exceptions.h"
#include "framework/Timer.h"

#include <memory>

namespace {

// Counts the requests for a system timer and can play a system that has none left.
class TCountingTimer : public TTimer {
public:
    TCountingTimer() : TTimer(nullptr) {}
    int Arms = 0;
    bool Refuse = false;

protected:
    bool StartSystemTimer(HWND window, unsigned interval) override {
        ++Arms;
        if (Refuse) return false;
        return TTimer::StartSystemTimer(window, interval);
    }
};

// Pumps until a fast reference timer has ticked `ticks` times, so a negative check has
// given the timer under test many chances to tick.
void PumpReferenceTicks(int ticks) {
    int count = 0;
    TTimer reference(nullptr);
    reference.SetInterval(10);
    reference.SetOnTimer([&](TObject*) { ++count; });
    ASSERT_TRUE(PumpUntil([&] { return count >= ticks; }, 5000));
}

TEST(Timer, TicksOnTheGuiThreadThroughTheMessageLoop) {
    TTimer timer(nullptr);
    int ticks = 0;
    DWORD thread = 0;
    TObject* sender = nullptr;
    timer.SetInterval(15);
    timer.SetOnTimer([&](TObject* s) {
        ++ticks;
        thread = GetCurrentThreadId();
        sender = s;
    });
    EXPECT_TRUE(timer.Armed());
    // Without a message loop nothing arrives, however long the period has passed.
    Sleep(60);
    EXPECT_EQ(ticks, 0);
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }, 5000));
    EXPECT_EQ(thread, GetCurrentThreadId());
    EXPECT_EQ(sender, &timer);
}

TEST(Timer, IntervalZeroNeverTicksAndDisarms) {
    TTimer idle(nullptr);
    int idleTicks = 0;
    idle.SetInterval(0);
    idle.SetOnTimer([&](TObject*) { ++idleTicks; });
    EXPECT_FALSE(idle.Armed());

    TTimer running(nullptr);
    int runningTicks = 0;
    running.SetInterval(10);
    running.SetOnTimer([&](TObject*) { ++runningTicks; });
    ASSERT_TRUE(PumpUntil([&] { return runningTicks >= 1; }, 5000));
    running.SetInterval(0);
    EXPECT_FALSE(running.Armed());
    const int before = runningTicks;
    PumpReferenceTicks(10);
    EXPECT_EQ(idleTicks, 0);
    EXPECT_EQ(runningTicks, before);
}

TEST(Timer, DisablingStopsTicks) {
    TTimer timer(nullptr);
    int ticks = 0;
    timer.SetInterval(10);
    // Disabled from inside its own tick: the ticks that fall due later never come.
    timer.SetOnTimer([&](TObject*) {
        ++ticks;
        timer.SetEnabled(false);
    });
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 1; }, 5000));
    EXPECT_FALSE(timer.Enabled());
    EXPECT_FALSE(timer.Armed());
    PumpReferenceTicks(10);
    EXPECT_EQ(ticks, 1);

    timer.SetEnabled(true);
    EXPECT_TRUE(timer.Armed());
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 2; }, 5000));
}

TEST(Timer, OnlyRealChangesArmAgain) {
    TCountingTimer timer;
    EXPECT_FALSE(timer.Armed()); // no handler yet
    timer.SetOnTimer([](TObject*) {});
    EXPECT_EQ(timer.Arms, 1);
    EXPECT_TRUE(timer.Armed());

    // The values it already has: the running period goes on.
    timer.SetInterval(timer.Interval());
    timer.SetEnabled(true);
    EXPECT_EQ(timer.Arms, 1);

    timer.SetInterval(timer.Interval() + 250);
    EXPECT_EQ(timer.Arms, 2);
    timer.SetInterval(timer.Interval());
    EXPECT_EQ(timer.Arms, 2);

    timer.SetEnabled(false);
    EXPECT_FALSE(timer.Armed());
    EXPECT_EQ(timer.Arms, 2);
    timer.SetInterval(40); // stored, but a disabled timer stays unarmed
    EXPECT_EQ(timer.Arms, 2);
    EXPECT_FALSE(timer.Armed());
    timer.SetEnabled(true);
    EXPECT_EQ(timer.Arms, 3);
    EXPECT_TRUE(timer.Armed());

    timer.SetOnTimer([](TObject*) {});
    EXPECT_EQ(timer.Arms, 4);
    EXPECT_TRUE(timer.Armed());
    timer.SetOnTimer(nullptr);
    EXPECT_FALSE(timer.Armed());
    EXPECT_EQ(timer.Arms, 4);
}

TEST(Timer, RefusedSystemTimerRaisesAndLeavesItUnarmed) {
    TCountingTimer timer;
    int ticks = 0;
    timer.SetInterval(10);
    timer.Refuse = true;
    try {
        timer.SetOnTimer([&](TObject*) { ++ticks; });
        FAIL() << "no error raised";
    } catch (const EOutOfResources& e) {
        EXPECT_EQ(e.Message(), "Not enough timers available");
    }
    EXPECT_FALSE(timer.Armed());

    // Refused while a system timer runs: the old one is gone too, no ticks come.
    timer.Refuse = false;
    timer.SetInterval(15);
    ASSERT_TRUE(timer.Armed());
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 1; }, 5000));
    timer.Refuse = true;
    EXPECT_THROW(timer.SetInterval(20), EOutOfResources);
    EXPECT_FALSE(timer.Armed());
    const int before = ticks;
    PumpReferenceTicks(10);
    EXPECT_EQ(ticks, before);
}

TEST(Timer, DestroyedTimerDeliversNoMoreTicks) {
    int ticks = 0;
    auto timer = std::make_unique<TTimer>(nullptr);
    timer->SetInterval(1);
    timer->SetOnTimer([&](TObject*) { ++ticks; });
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 1; }, 5000));
    Sleep(30); // let a tick fall due before the timer goes
    timer.reset();
    const int before = ticks;
    PumpReferenceTicks(10);
    EXPECT_EQ(ticks, before);
}

} // namespace
