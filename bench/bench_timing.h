// CPU-time measurement shared by the side-by-side comparisons: CPU time
// (user + system, every thread) is far less disturbed than wall-clock time
// by the other work on a shared machine.
#pragma once

#include <time.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace lumetra::bench {

inline double ProcessCpu() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

// CPU seconds this process spends on Work.
inline double Seconds(const std::function<void()>& work) {
  const double start = ProcessCpu();
  work();
  return ProcessCpu() - start;
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace lumetra::bench
