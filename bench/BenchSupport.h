// Shared support of the benchmark programs: a console reporter that also
// keeps every run's time, so that a program can print ratios between runs of
// the same session (ours against a peer or a scalar baseline) as a table.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace nxbench {

class TCollectingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (!r.error_occurred) times_[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  // Real time per iteration of a run by its full name; negative if absent.
  // Runs measured in real time carry a "/real_time" suffix; either form is found.
  double Time(const std::string& name) const {
    auto it = times_.find(name);
    if (it == times_.end()) it = times_.find(name + "/real_time");
    return it == times_.end() ? -1.0 : it->second;
  }

 private:
  std::map<std::string, double> times_;
};

// One line of a ratio table: how many times faster `ours` ran than `baseline`.
struct TRatio {
  std::string Label;
  std::string Ours;
  std::string Baseline;
  double Goal;  // the ratio the line must reach (0: none)
};

inline void PrintRatios(const TCollectingReporter& rep, const char* title, const std::vector<TRatio>& rows,
                        const char* ratioName) {
  std::printf("\n%s\n", title);
  std::printf("%-44s %12s %12s %9s %6s\n", "case", "ours", "baseline", ratioName, "goal");
  for (const TRatio& r : rows) {
    const double a = rep.Time(r.Ours), b = rep.Time(r.Baseline);
    if (a <= 0 || b <= 0) {
      std::printf("%-44s %12s\n", r.Label.c_str(), "(not run)");
      continue;
    }
    const double ratio = b / a;
    std::printf("%-44s %12.4g %12.4g %9.3f %6.2f %s\n", r.Label.c_str(), a, b, ratio, r.Goal,
                r.Goal > 0 ? (ratio >= r.Goal ? "ok" : "BELOW") : "");
  }
}

}  // namespace nxbench
