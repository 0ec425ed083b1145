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
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      // A case given an explicit repetition count is named ".../repeats:N";
      // it is looked up under its plain name.
      std::string name = r.benchmark_name();
      if (const auto at = name.find("/repeats:"); at != std::string::npos) {
        const auto end = name.find('/', at + 1);
        name.erase(at, end == std::string::npos ? std::string::npos : end - at);
      }
      times_[name] = r.GetAdjustedRealTime();
      // The smallest CPU time over the repetitions: on a shared machine the
      // CPU time leaves out the time spent waiting for a core, and the
      // minimum leaves out the repetitions a neighbour disturbed.
      if (r.run_type == Run::RT_Iteration) {
        const double t = r.GetAdjustedCPUTime();
        auto it = cpu_.find(name);
        if (it == cpu_.end() || t < it->second) cpu_[name] = t;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // Real time per iteration of a run by its full name; negative if absent.
  // Runs measured in real time carry a "/real_time" suffix; either form is found.
  double Time(const std::string& name) const { return Find(times_, name); }
  // The smallest CPU time per iteration of a run over its repetitions.
  double Cpu(const std::string& name) const { return Find(cpu_, name); }

 private:
  static double Find(const std::map<std::string, double>& m, const std::string& name) {
    auto it = m.find(name);
    if (it == m.end()) it = m.find(name + "/real_time");
    return it == m.end() ? -1.0 : it->second;
  }
  std::map<std::string, double> times_;
  std::map<std::string, double> cpu_;
};

// One line of a ratio table: how many times faster `ours` ran than `baseline`.
struct TRatio {
  std::string Label;
  std::string Ours;
  std::string Baseline;
  double Goal;  // the ratio the line must reach (0: none)
};

// By default a line compares real times; with ACpu the smallest CPU times
// over the repetitions (steadier on a shared machine).
inline void PrintRatios(const TCollectingReporter& rep, const char* title, const std::vector<TRatio>& rows,
                        const char* ratioName, bool ACpu = false) {
  std::printf("\n%s\n", title);
  std::printf("%-44s %12s %12s %9s %6s\n", "case", "ours", "baseline", ratioName, "goal");
  for (const TRatio& r : rows) {
    const double a = ACpu ? rep.Cpu(r.Ours) : rep.Time(r.Ours);
    const double b = ACpu ? rep.Cpu(r.Baseline) : rep.Time(r.Baseline);
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
