#pragma once

#include <atomic>
#include <cstddef>
#include <functional>

namespace modrin::engine {

// The number of threads to use when the caller asks for `requested` (0: one per core), never
// more than `items` and never less than 1.
int WorkerCount(int requested, std::size_t items);

// Runs work(i) for every i in [0, count) on `threads` threads, the calling thread among them.
// collect(i) runs on the calling thread for every finished item in ascending order, so the
// caller can merge results deterministically and update a display that belongs to its thread.
// Once `stop` is set no further item starts; items already started finish, and only the
// finished items are collected. When work(i) throws on any thread, no further item starts and
// the exception is thrown on the calling thread once every thread has stopped. Threads that
// cannot be started leave their share to the others.
void RunParallel(std::size_t count, int threads, const std::atomic<bool>& stop,
                 const std::function<void(std::size_t)>& work,
                 const std::function<void(std::size_t)>& collect);

}  // namespace modrin::engine
