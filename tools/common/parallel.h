// Work on records in parallel with output that does not depend on the number
// of threads: a small pool over std::thread computes items in any order, and
// the calling thread consumes the results strictly in index order. At most
// twice as many results as threads wait to be consumed, so memory stays
// bounded however many items there are.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace datatools {

// --jobs' default: the machine's cores.
inline unsigned DefaultJobs() { return std::max(1u, std::thread::hardware_concurrency()); }

// compute(i) -> Result on up to `jobs` threads; consume(i, Result&) in order
// 0, 1, ... on the caller's thread. With one job, no thread is started.
template <typename Result, typename Compute, typename Consume>
void ForEachInOrder(size_t count, unsigned jobs, Compute compute, Consume consume) {
  if (jobs <= 1 || count <= 1) {
    for (size_t i = 0; i < count; ++i) {
      Result r = compute(i);
      consume(i, r);
    }
    return;
  }
  const size_t window = 2 * static_cast<size_t>(jobs);
  std::mutex lock;
  std::condition_variable ready, room;
  std::map<size_t, Result> done;
  size_t next = 0, consumed = 0;
  auto work = [&] {
    for (;;) {
      size_t i = 0;
      {
        std::unique_lock<std::mutex> hold(lock);
        room.wait(hold, [&] { return next >= count || next < consumed + window; });
        if (next >= count) return;
        i = next++;
      }
      Result r = compute(i);
      {
        std::lock_guard<std::mutex> hold(lock);
        done.emplace(i, std::move(r));
      }
      ready.notify_all();
    }
  };
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < std::min<size_t>(jobs, count); ++t) threads.emplace_back(work);
  for (size_t i = 0; i < count; ++i) {
    Result r;
    {
      std::unique_lock<std::mutex> hold(lock);
      ready.wait(hold, [&] { return done.count(i) > 0; });
      r = std::move(done.at(i));
      done.erase(i);
      consumed = i + 1;
    }
    room.notify_all();
    consume(i, r);
  }
  for (std::thread& t : threads) t.join();
}

}  // namespace datatools
