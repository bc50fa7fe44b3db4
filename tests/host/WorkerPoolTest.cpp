// Per-item work on worker threads, received on the calling thread in item
// order: every item once and in order, a failure where a loop would fail, a
// stop that ends the run, waiting time handed to the calling thread.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/WorkerPool.h"

namespace quilta {
namespace {

struct Item {
  std::size_t index;
  std::thread::id worker;
};

TEST(WorkerPoolTest, EveryItemIsReceivedOnceInOrderOnTheCallingThreadWhateverTheThreadsAndCount) {
  const std::thread::id caller = std::this_thread::get_id();
  for (unsigned threads : {1u, 2u, 3u, 8u})
    for (std::size_t count : {0u, 1u, 7u, 8u, 9u, 100u, 5000u}) {
      SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(count) + " items");
      std::vector<std::size_t> received;
      std::set<std::thread::id> workers;
      const bool complete = runInOrder(
          threads, count, [](std::size_t i) { return Item{i, std::this_thread::get_id()}; },
          [&](std::size_t i, Item&& item) {
            EXPECT_EQ(std::this_thread::get_id(), caller);
            EXPECT_EQ(item.index, i);
            received.push_back(i);
            workers.insert(item.worker);
            return true;
          },
          [] { return true; }, 16);
      EXPECT_TRUE(complete);
      ASSERT_EQ(received.size(), count);
      for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(received[i], i);
      // Enough items are shared: the work was done on other threads.
      if (threads > 1 && count >= kSharedFrom) {
        EXPECT_EQ(workers.count(caller), 0u);
      } else {
        EXPECT_LE(workers.size(), 1u);
      }
    }
}

TEST(WorkerPoolTest, AFailingItemFailsTheRunAfterTheItemsBeforeItWereReceived) {
  for (unsigned threads : {1u, 3u}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    std::size_t received = 0;
    try {
      runInOrder(
          threads, 1000,
          [](std::size_t i) {
            if (i == 617 || i == 900) throw std::runtime_error("item " + std::to_string(i));
            return i;
          },
          [&](std::size_t i, std::size_t) {
            EXPECT_EQ(i, received);
            ++received;
            return true;
          },
          [] { return true; }, 32);
      ADD_FAILURE() << "no failure";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), "item 617");
    }
    EXPECT_EQ(received, 617u);
  }
}

TEST(WorkerPoolTest, AStopEndsTheRunAndTheWorkersSoonAfter) {
  std::atomic<std::size_t> computed{0};
  std::size_t received = 0;
  const bool complete = runInOrder(
      4, 100000,
      [&](std::size_t i) {
        ++computed;
        return i;
      },
      [&](std::size_t, std::size_t) { return ++received < 300; }, [] { return true; }, 16);
  EXPECT_FALSE(complete);
  EXPECT_EQ(received, 300u);
  // The workers stop a few chunks ahead of the calling thread at most.
  EXPECT_LT(computed.load(), 300u + 4 * 4 * 16 + 4 * 16);
}

TEST(WorkerPoolTest, TheCallingThreadIsGivenTheTimeItWaitsAndCanStopTheRunThere) {
  int idles = 0;
  std::size_t received = 0;
  const bool complete = runInOrder(
      2, 50,
      [](std::size_t i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return i;
      },
      [&](std::size_t, std::size_t) {
        ++received;
        return true;
      },
      [&] { return ++idles < 3; }, 4, std::chrono::milliseconds(1));
  EXPECT_FALSE(complete);
  EXPECT_EQ(idles, 3);
  EXPECT_LT(received, 50u);
}

}  // namespace
}  // namespace quilta
