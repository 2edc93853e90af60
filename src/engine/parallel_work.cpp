#include "engine/parallel_work.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <thread>
#include <vector>

namespace modrin::engine {

int WorkerCount(int requested, std::size_t items) {
  std::size_t threads = requested > 0 ? static_cast<std::size_t>(requested)
                                      : std::max(1u, std::thread::hardware_concurrency());
  threads = std::min(threads, std::max<std::size_t>(items, 1));
  return static_cast<int>(threads);
}

void RunParallel(std::size_t count, int threads, const std::atomic<bool>& stop,
                 const std::function<void(std::size_t)>& work,
                 const std::function<void(std::size_t)>& collect) {
  std::atomic<std::size_t> next{0};
  const auto done = std::make_unique<std::atomic<bool>[]>(count);
  // The first failure of a worker (out of memory, say): the others stop taking items and the
  // calling thread throws it once they are joined, as a single loop would have thrown it.
  std::atomic<bool> failed{false};
  std::exception_ptr failure;
  // Takes items until none is left or a stop is requested; returns after each item when
  // `oneItem` is set, so the calling thread can collect between its items.
  auto takeItems = [&](bool oneItem) {
    while (!stop.load(std::memory_order_relaxed) && !failed.load(std::memory_order_relaxed)) {
      const std::size_t item = next.fetch_add(1);
      if (item >= count) return false;
      work(item);
      done[item].store(true, std::memory_order_release);
      if (oneItem) return true;
    }
    return false;
  };
  auto workerItems = [&] {
    try {
      takeItems(false);
    } catch (...) {
      if (!failed.exchange(true)) failure = std::current_exception();
    }
  };

  std::vector<std::jthread> workers;
  try {
    for (int t = 1; t < threads; ++t) workers.emplace_back(workerItems);
  } catch (...) {
    // No further thread to be had: those started, the calling thread among them, do the work.
  }

  std::size_t collected = 0;
  auto collectFinishedPrefix = [&] {
    while (collected < count && done[collected].load(std::memory_order_acquire)) {
      collect(collected++);
    }
  };
  try {
    while (takeItems(true)) collectFinishedPrefix();
  } catch (...) {
    failed.store(true);
    workers.clear();  // joins
    throw;
  }
  workers.clear();  // joins
  if (failure) std::rethrow_exception(failure);
  for (; collected < count; ++collected) {
    if (done[collected].load(std::memory_order_acquire)) collect(collected);
  }
}

}  // namespace modrin::engine
