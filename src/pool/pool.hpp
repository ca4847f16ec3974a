#pragma once
// The process-wide worker pool of batch validation: sized once from the
// environment and the CPUs the process may use, created on first use and
// never shut down.
#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/task_arena.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace torvane::pool {

// The CPUs this process may run on: the affinity mask, lowered by a cgroup
// CPU quota (v1 or v2) when one is set; 1 when neither can be read.
std::size_t available_cpus();

inline constexpr std::size_t kUnlimited = SIZE_MAX;

// The CPU quota of this process's cgroup in whole CPUs, rounded down (so
// possibly 0), or kUnlimited when none is set or it cannot be read. `root` is
// prepended to every path read ("" for the real files).
std::size_t cgroup_cpu_quota(const std::string& root);

// The most workers a pool gets: a validation pool gains nothing from more,
// and on a 32-bit system their stacks would fill the address space.
inline constexpr std::size_t kMaxPoolSize = 256;

// The pool size: RAYON_NUM_THREADS when it holds a positive number, the
// available CPUs when it holds 0; otherwise RAYON_RS_NUM_CPUS when it holds a
// positive number, else the available CPUs; never more than kMaxPoolSize. A
// variable that is unset (null) or not a plain decimal number counts as absent.
std::size_t pool_size(const char* num_threads, const char* rs_num_cpus, std::size_t available);

// The pool, created and sized on the first call; safe to call from any
// thread.
oneapi::tbb::task_arena& arena();

// Calls f(i) for every i in [0, n) on `workers` and returns when all are
// done. The first exception thrown by f stops the rest and is rethrown here.
template <class F>
void for_each_index(oneapi::tbb::task_arena& workers, std::size_t n, F&& f) {
  workers.execute([&] {
    oneapi::tbb::parallel_for(oneapi::tbb::blocked_range<std::size_t>(0, n),
                              [&](const oneapi::tbb::blocked_range<std::size_t>& r) {
                                for (std::size_t i = r.begin(); i != r.end(); ++i) f(i);
                              });
  });
}

// The same on the pool.
template <class F>
void for_each_index(std::size_t n, F&& f) {
  if (n == 0) {
    arena();  // the pool exists from the first batch on, an empty one included
    return;
  }
  for_each_index(arena(), n, f);
}

}  // namespace torvane::pool
