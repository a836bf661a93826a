// The staging ring's hand-over under stress for ten minutes (tests/support/RingStress.h; the
// test suite runs the same for a few seconds): the worker composing and publishing as fast as it
// can, the render thread taking and copying, sizes, devices and restarts changing at random, on
// a fake device whose memory faults at once when touched out of turn. Prints the hand-overs, the
// faults (0) and the longest wait of each side. `--seconds N` runs it for N seconds instead.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/RingStress.h"

int main(int argc, char** argv) {
  zor::stress::Options options;
  options.seconds = 600;
  options.seed = 20261209;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0) options.seconds = std::atof(argv[i + 1]);
    if (std::strcmp(argv[i], "--seed") == 0) options.seed = std::strtoull(argv[i + 1], nullptr, 10);
  }
  std::printf("   the staging ring under stress for %.0f s (seed %llu), a fake device whose memory faults when touched out of turn:\n",
              options.seconds, static_cast<unsigned long long>(options.seed));
  std::fflush(stdout);
  const zor::stress::Report r = zor::stress::run(options);
  std::printf("     hand-overs %llu (published %llu) | faults %llu%s%s | longest wait: render thread %.1f ms, worker %.1f ms\n",
              static_cast<unsigned long long>(r.handovers), static_cast<unsigned long long>(r.published),
              static_cast<unsigned long long>(r.faults), r.faults ? ": " : "", r.faultKinds.c_str(),
              r.longestRenderWaitMs, r.longestWorkerWaitMs);
  std::printf("     size changes %llu, device changes %llu, restarts %llu, failed creations %llu\n",
              static_cast<unsigned long long>(r.sizeChanges), static_cast<unsigned long long>(r.deviceChanges),
              static_cast<unsigned long long>(r.restarts), static_cast<unsigned long long>(r.creationFailures));
  return r.faults == 0 ? 0 : 1;
}
