#pragma once
// Per-patch work of an operation spread over worker threads, its results
// handed back to the calling thread one by one in patch order.
//
// The calling thread is the one that talks to the user and owns the attribute
// table: it receives every result, stores it, shows messages, moves the
// progress bar and polls Cancel. The workers only compute: they read shapes
// and indexes that nobody changes while they run, and fill result records. Because every item is
// computed on its own and received in order, what the calling thread does
// with the results (sums, counts, messages, ties) happens exactly as with one
// thread: the outcome is the same for any number of threads.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace quilta {

// The number of threads this machine runs at once (at least 1).
unsigned allCores();

// Runs `compute(i)` for every item i in [0, count) on `threads` threads and
// calls `receive(i, result)` on the calling thread for i = 0, 1, 2, ... in
// that order, as soon as item i and those before it are done.
//
//   compute(i) -> Result   runs on a worker; it must only read shared data.
//   receive(i, Result&&)   -> bool: false stops the run (the user cancelled).
//   idle()                 -> bool: called on the calling thread at least every
//                          `idleEvery` while it waits for a worker; false
//                          stops the run.
//
// Returns true when every item was received, false when `receive` or `idle`
// stopped the run: no item after that is received, and the workers stop at
// their next item. A compute that throws for item i fails the run on the
// calling thread once items before i have been received: the exception is
// rethrown there, as a loop on one thread would throw it. An exception of
// `receive` or `idle` stops the workers and is passed on.
//
// With one thread, or fewer than kSharedFrom items, every item is computed
// and received in turn on the calling thread (idle() is then never called).
// Workers take at most `chunk` consecutive items at a time (fewer when there
// are few items, so that every thread gets some) and work at most a few
// chunks ahead of the calling thread, so results waiting to be received stay
// few whatever the count.
inline constexpr std::size_t kSharedFrom = 8;

template <class Compute, class Receive, class Idle>
bool runInOrder(unsigned threads, std::size_t count, Compute&& compute, Receive&& receive, Idle&& idle,
                std::size_t chunk = 256, std::chrono::milliseconds idleEvery = std::chrono::milliseconds(20)) {
  using Result = decltype(compute(std::size_t{0}));
  // A few chunks per thread at least, so that a short run is shared too.
  const std::size_t shares = 4 * std::size_t{std::max(threads, 1u)};
  chunk = std::clamp<std::size_t>((count + shares - 1) / shares, 1, std::max<std::size_t>(chunk, 1));
  if (threads <= 1 || count < kSharedFrom) {
    for (std::size_t i = 0; i < count; ++i)
      if (!receive(i, compute(i))) return false;
    return true;
  }

  struct Chunk {
    std::vector<Result> results;
    std::exception_ptr error;  // thrown by the item after the last result
    bool ready = false;
  };
  const std::size_t chunks = (count + chunk - 1) / chunk;
  const std::size_t workers = std::min<std::size_t>(threads, chunks);
  const std::size_t ahead = 4 * workers;  // chunks in work or waiting, at most
  std::vector<Chunk> done(chunks);
  std::mutex mutex;
  std::condition_variable readyChanged, roomChanged;
  std::atomic<std::size_t> nextChunk{0};
  std::atomic<bool> stop{false};
  std::size_t received = 0;  // chunks received so far (under `mutex`)

  auto work = [&] {
    for (;;) {
      const std::size_t k = nextChunk.fetch_add(1);
      if (k >= chunks) return;
      {
        std::unique_lock lock(mutex);
        roomChanged.wait(lock, [&] { return stop.load() || k < received + ahead; });
        if (stop.load()) return;
      }
      Chunk& c = done[k];
      const std::size_t first = k * chunk, last = std::min(count, first + chunk);
      c.results.reserve(last - first);
      try {
        for (std::size_t i = first; i < last && !stop.load(std::memory_order_relaxed); ++i)
          c.results.push_back(compute(i));
      } catch (...) {
        c.error = std::current_exception();
      }
      {
        std::lock_guard lock(mutex);
        c.ready = true;
      }
      readyChanged.notify_all();
    }
  };

  // Stops and joins the workers however the calling thread leaves.
  struct Crew {
    std::vector<std::thread> threads;
    std::atomic<bool>& stop;
    std::mutex& mutex;
    std::condition_variable& roomChanged;
    ~Crew() {
      {
        std::lock_guard lock(mutex);
        stop = true;
      }
      roomChanged.notify_all();
      for (std::thread& t : threads) t.join();
    }
  } crew{{}, stop, mutex, roomChanged};
  crew.threads.reserve(workers);
  for (std::size_t w = 0; w < workers; ++w) crew.threads.emplace_back(work);

  for (std::size_t k = 0; k < chunks; ++k) {
    Chunk& c = done[k];
    for (;;) {
      std::unique_lock lock(mutex);
      if (readyChanged.wait_for(lock, idleEvery, [&] { return c.ready; })) break;
      lock.unlock();
      if (!idle()) return false;
    }
    const std::size_t first = k * chunk;
    for (std::size_t j = 0; j < c.results.size(); ++j)
      if (!receive(first + j, std::move(c.results[j]))) return false;
    if (c.error) std::rethrow_exception(c.error);
    std::vector<Result>().swap(c.results);
    {
      std::lock_guard lock(mutex);
      received = k + 1;
    }
    roomChanged.notify_all();
  }
  return true;
}

}  // namespace quilta
