// The timing harness the benchmarks share: two variants measured in alternating rounds, each
// figure the median over rounds, printed next to each other with their ratio.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

namespace zor::bench {

inline double nowNs() {
  return static_cast<double>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Alternates rounds of base and other, each of `calls` calls, each round after its `before...`
// step; returns {median base, median other} in ns per call.
inline std::pair<double, double> compare(int rounds, int calls, const std::function<void()>& beforeBase,
                                         const std::function<void()>& base, const std::function<void()>& beforeOther,
                                         const std::function<void()>& other) {
  std::vector<double> a, b;
  for (int r = 0; r < rounds; ++r) {
    beforeBase();
    double t0 = nowNs();
    for (int i = 0; i < calls; ++i) base();
    a.push_back((nowNs() - t0) / calls);
    beforeOther();
    t0 = nowNs();
    for (int i = 0; i < calls; ++i) other();
    b.push_back((nowNs() - t0) / calls);
  }
  return {median(a), median(b)};
}

// One line "what  unhooked ... ns   hooked ... ns   ratio ...x", the label padded to labelWidth
// and the figures to figureWidth.
inline void report(const char* what, std::pair<double, double> r, int labelWidth, int figureWidth) {
  std::printf("   %-*s unhooked %*.1f ns   hooked %*.1f ns   ratio %6.2fx\n", labelWidth, what, figureWidth, r.first,
              figureWidth, r.second, r.second / r.first);
}

}  // namespace zor::bench
