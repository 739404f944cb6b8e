// Timing one operation against its baseline in the same benchmark run. Each iteration runs both, in
// alternating order so that a machine that speeds up or slows down during the run favours neither;
// the benchmark's own time is the operation's, and the counter "ratio" is operation time / baseline
// time over the whole run.
#ifndef TOVREL_BENCH_PAIRED_H_
#define TOVREL_BENCH_PAIRED_H_

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>

namespace tovrel {
namespace bench {

// Runs `prepare()` (untimed), then `subject()` and `baseline()` (each timed on its own) once per
// iteration. Requires: the benchmark was registered with UseManualTime().
template <typename Prepare, typename Subject, typename Baseline>
void RunPaired(benchmark::State& state, Prepare prepare, Subject subject, Baseline baseline) {
  using Clock = std::chrono::steady_clock;
  double subjectSeconds = 0;
  double baselineSeconds = 0;
  std::int64_t round = 0;
  for (auto _ : state) {
    prepare();
    double seconds[2] = {0, 0};
    for (int turn = 0; turn < 2; ++turn) {
      const bool subjectTurn = (turn == 0) == (round % 2 == 0);
      const auto start = Clock::now();
      if (subjectTurn) {
        subject();
      } else {
        baseline();
      }
      seconds[subjectTurn ? 0 : 1] = std::chrono::duration<double>(Clock::now() - start).count();
    }
    state.SetIterationTime(seconds[0]);
    subjectSeconds += seconds[0];
    baselineSeconds += seconds[1];
    ++round;
  }
  if (baselineSeconds > 0) state.counters["ratio"] = subjectSeconds / baselineSeconds;
  state.counters["baseline_s"] = benchmark::Counter(baselineSeconds, benchmark::Counter::kAvgIterations);
}

}  // namespace bench
}  // namespace tovrel

#endif  // TOVREL_BENCH_PAIRED_H_
