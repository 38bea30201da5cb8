// Auto-reset events: kept sets, merged sets, time-outs and one release per set.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/wait_for.h"

namespace {

using Clock = std::chrono::steady_clock;
using testing_support::WaitFor;

struct EventGuard {
  platform::Event* event = platform::CreateAutoResetEvent();
  ~EventGuard() { platform::CloseEvent(event); }
};

// Threads blocked on the event with no release handed to them yet.
int Blocked(platform::Event* event) {
  const platform::EventState state = platform::InspectEvent(event);
  return state.waiting - state.releases;
}

// Waits until `count` threads are blocked on the event; false (with what it
// saw) if they are not by the deadline.
testing::AssertionResult AllBlocked(platform::Event* event, int count) {
  const int seen = WaitFor([&] { return Blocked(event); }, [&](int blocked) { return blocked == count; });
  if (seen == count) return testing::AssertionSuccess();
  return testing::AssertionFailure() << seen << " of " << count << " threads blocked on the event by the deadline";
}

// Sets the event until `released` reaches `count`, so that every waiter can
// be joined; false (with the count seen) if they do not all get out.
testing::AssertionResult ReleaseTheRest(platform::Event* event, const std::atomic<int>& released, int count) {
  const int seen = WaitFor(
      [&] {
        if (released.load() < count) platform::SetEvent(event);
        return released.load();
      },
      [&](int n) { return n >= count; });
  if (seen >= count) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "only " << seen << " of " << count << " waiters got out by the deadline";
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
  bool waiterBlocked = false;
  std::thread setter([&] {
    waiterBlocked = AllBlocked(e.event, 1);  // the set must find the waiter inside its wait
    platform::SetEvent(e.event);
  });
  EXPECT_TRUE(platform::WaitForEvent(e.event, platform::Infinite));
  setter.join();
  EXPECT_TRUE(waiterBlocked) << "the waiter never showed as blocked";
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
  EXPECT_TRUE(AllBlocked(e.event, 3));
  platform::SetEvent(e.event);
  const int first = WaitFor([&] { return released.load(); }, [](int n) { return n >= 1; });
  EXPECT_EQ(first, 1) << "released by one set";
  // The set went to exactly one thread: the other two are still blocked and
  // nothing is kept for a later wait.
  const platform::EventState state = platform::InspectEvent(e.event);
  EXPECT_EQ(state.waiting, 2);
  EXPECT_EQ(state.releases, 0);
  EXPECT_FALSE(state.signalled);
  EXPECT_EQ(released.load(), 1);
  ASSERT_TRUE(ReleaseTheRest(e.event, released, 3));
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
    // Every set below must find all eight inside their waits.
    const bool blocked = AllBlocked(e.event, waiterCount);
    EXPECT_TRUE(blocked) << "round " << round;
    for (int i = 0; i < waiterCount; ++i) platform::SetEvent(e.event);
    const int seen = WaitFor([&] { return released.load(); }, [](int n) { return n == waiterCount; });
    EXPECT_EQ(seen, waiterCount) << "round " << round << ": " << seen << " of " << waiterCount << " released";
    const bool out = ReleaseTheRest(e.event, released, waiterCount);
    EXPECT_TRUE(out) << "round " << round;
    if (!out) {
      for (std::thread& t : waiters) t.detach();  // cannot be joined; the test has failed
      return;
    }
    for (std::thread& t : waiters) t.join();
    if (seen == waiterCount) {
      EXPECT_FALSE(platform::WaitForEvent(e.event, 0)) << "round " << round << ": a set was left over";
    }
    if (!blocked || seen != waiterCount) break;
  }
}

}  // namespace
