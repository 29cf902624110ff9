// Function-local statics as the engine sets them up (linked with its guards): once, while the
// other threads that reach one wait for it, and again after a set-up that failed.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

constexpr int Threads = 8;
std::atomic<int> Reached{0}, SetUps{0};

int SlowSetUp() {
    ++SetUps;
    // Stay inside the set-up until every thread has reached the static: with no guard, the
    // others would be setting it up too by now.
    for (int i = 0; i < 500 && Reached < Threads; ++i)
        Sleep(10);
    return 42;
}

int Shared() {
    ++Reached;
    static const int value = SlowSetUp();
    return value;
}

int FailsOnce() {
    static int attempts = 0;
    static const int value = ++attempts == 1 ? throw std::runtime_error("first") : attempts;
    return value;
}

} // namespace

TEST(StaticGuard, SetUpOnceWhileTheOthersWait) {
    std::vector<int> seen(Threads);
    std::vector<std::thread> threads;
    for (int i = 0; i < Threads; ++i)
        threads.emplace_back([&seen, i] { seen[i] = Shared(); });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(SetUps, 1);
    EXPECT_EQ(seen, std::vector<int>(Threads, 42));
}

TEST(StaticGuard, AFailedSetUpIsTriedAgain) {
    EXPECT_THROW(FailsOnce(), std::runtime_error);
    EXPECT_EQ(FailsOnce(), 2);
    EXPECT_EQ(FailsOnce(), 2);
}
