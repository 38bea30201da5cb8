// Auto-reset events: kept sets, merged sets, time-outs and one release per set.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

struct EventGuard {
  platform::Event* event = platform::CreateAutoResetEvent();
  ~EventGuard() { platform::CloseEvent(event); }
};

// Polls until pred holds or five seconds pass; a generous bound, not a timing check.
template <typename P>
bool Eventually(P pred) {
  auto deadline = Clock::now() + std::chrono::seconds(5);
  while (!pred()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TEST(EventTest, StartsNotSetAndASetWithoutWaiterIsKeptForOneWait) {
  EventGuard e;
  ASSERT_NE(e.event, nullptr);
  EXPECT_FALSE(platform::WaitForEvent(e.event, 0));
  platform::SetEvent(e.event);
  EXPECT_TRUE(platform::WaitForEvent(e.event, 0));   // kept until this wait...
  EXPECT_FALSE(platform::WaitForEvent(e.event, 0));  // ...which reset it
  platform::SetEvent(e.event);
  EXPECT_TRUE(platform::WaitForEvent(e.event, platform::Infinite));  // returns at once
}

TEST(EventTest, SeveralSetsBeforeAWaitCountAsOne) {
  EventGuard e;
  for (int i = 0; i < 3; ++i) platform::SetEvent(e.event);
  EXPECT_TRUE(platform::WaitForEvent(e.event, 0));
  EXPECT_FALSE(platform::WaitForEvent(e.event, 0));
}

TEST(EventTest, TimedWaitEndsAfterItsTimeOut) {
  EventGuard e;
  auto start = Clock::now();
  EXPECT_FALSE(platform::WaitForEvent(e.event, 100));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100));
}

TEST(EventTest, SetFromAnotherThreadReleasesAWaiter) {
  EventGuard e;
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    platform::SetEvent(e.event);
  });
  EXPECT_TRUE(platform::WaitForEvent(e.event, platform::Infinite));
  setter.join();
  EXPECT_FALSE(platform::WaitForEvent(e.event, 0));  // the release consumed the set
}

TEST(EventTest, OneSetReleasesOneOfSeveralWaiters) {
  EventGuard e;
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      platform::WaitForEvent(e.event, platform::Infinite);
      released.fetch_add(1);
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let all three block
  platform::SetEvent(e.event);
  ASSERT_TRUE(Eventually([&] { return released.load() >= 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(released.load(), 1);
  while (released.load() < 3) {
    platform::SetEvent(e.event);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (std::thread& t : waiters) t.join();
}

// Sets that come faster than the waiters wake must not merge while threads
// are waiting: each releases one. Repeated because a merge needs a race.
TEST(EventTest, BackToBackSetsEachReleaseAWaitingThread) {
  constexpr int waiterCount = 8;
  for (int round = 0; round < 20; ++round) {
    EventGuard e;
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < waiterCount; ++i) {
      waiters.emplace_back([&] {
        platform::WaitForEvent(e.event, platform::Infinite);
        released.fetch_add(1);
      });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let them block
    for (int i = 0; i < waiterCount; ++i) platform::SetEvent(e.event);
    bool all = Eventually([&] { return released.load() == waiterCount; });
    EXPECT_TRUE(all) << "round " << round << ": " << released.load() << " of " << waiterCount << " released";
    while (released.load() < waiterCount) {  // unblock the rest before joining
      platform::SetEvent(e.event);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (std::thread& t : waiters) t.join();
    EXPECT_FALSE(platform::WaitForEvent(e.event, 0)) << "round " << round << ": a set was left over";
    if (!all) break;
  }
}

}  // namespace
