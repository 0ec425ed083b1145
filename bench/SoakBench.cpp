// Soak run of a graph: the filter demo (or another graph) run by the nxflow
// host in this process for a long stretch of virtual stream time (24 hours
// by default), with the process's resident memory, threads and open file
// descriptors sampled every few seconds of wall time. Not a benchmark of
// speed and not part of the test runs: it answers whether a long run grows,
// loses samples or leaves threads and files behind.
//
//   soak_filter_demo [--seconds S] [--graph FILE] [--interval S] [--warmup S] [--out DIR]
//
// Without --out the files go to a temporary folder removed at the end.
//
// Prints one line per sample, then the closing table of the run and the
// verdict:
//   - resident memory after the warm-up (the first sample at --warmup
//     seconds of stream time, default a tenth of the run, at most 600 s)
//     against the last sample of the run: it must grow by less than 1 MiB;
//   - every scope received exactly the buffers its generator's clock paced
//     in the run (seconds x rate, give or take the whole buffers the clock's
//     100 ns grain moves: see `streamed` below), and every spectrum view one
//     spectrum per whole transform of that stream;
//   - threads and descriptors after the run: no more than before it.
// The exit status is 0 when all of these hold, 1 when one does not, 2 for a
// wrong command line.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "components/NXClockGen.h"
#include "nxflow/NXFlowHost.h"

namespace fs = std::filesystem;

namespace {

struct TSample {
  double StreamSeconds = 0;
  double WallSeconds = 0;
  std::int64_t RssKiB = 0;
  int Threads = 0;
  int Fds = 0;
};

int CountEntries(const char* ADir) {
  int n = 0;
  std::error_code ec;
  for (fs::directory_iterator it(ADir, ec), end; !ec && it != end; it.increment(ec)) ++n;
  return n;
}

TSample Sample(double AStreamSeconds, double AWallSeconds) {
  TSample s{AStreamSeconds, AWallSeconds};
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) s.RssKiB = std::strtoll(line.c_str() + 6, nullptr, 10);
  s.Threads = CountEntries("/proc/self/task");
  // The listing itself holds one descriptor while it reads: the same in
  // every sample, so the counts compare.
  s.Fds = CountEntries("/proc/self/fd");
  return s;
}

void Print(const char* ALabel, const TSample& AS) {
  std::printf("%-8s stream %9.0f s  wall %7.1f s  RSS %9.2f MiB  threads %3d  fds %3d\n", ALabel, AS.StreamSeconds,
              AS.WallSeconds, AS.RssKiB / 1024.0, AS.Threads, AS.Fds);
  std::fflush(stdout);
}

// A row of the closing table: sink, class, buffers, samples, rate.
struct TRow {
  std::string Sink, Class;
  std::int64_t Buffers = 0, Samples = 0;
  double Rate = 0;
};

std::int64_t Count(std::string AText) {
  std::string digits;
  for (char c : AText)
    if (c != ',') digits += c;
  return std::strtoll(digits.c_str(), nullptr, 10);
}

std::vector<TRow> ReadTable(const std::string& AReport) {
  std::vector<TRow> rows;
  std::istringstream lines(AReport);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    TRow row;
    std::string buffers, samples, rate;
    if (!(words >> row.Sink >> row.Class >> buffers >> samples >> rate)) continue;
    if (row.Class.rfind("TNX", 0) != 0 || rate == "-") continue;
    row.Buffers = Count(buffers);
    row.Samples = Count(samples);
    row.Rate = std::strtod(rate.c_str(), nullptr);
    rows.push_back(row);
  }
  return rows;
}

int Usage() {
  std::fprintf(stderr,
               "usage: soak_filter_demo [--seconds S] [--graph FILE] [--interval S] [--warmup S] [--out DIR]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 86400, interval = 5, warmup = -1;
  std::string graph = std::string(NX_SOAK_GRAPHS) + "/filter-demo.xml";
  std::string out;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (i + 1 == argc) return Usage();
    const char* value = argv[++i];
    if (word == "--seconds") seconds = std::atof(value);
    else if (word == "--interval") interval = std::atof(value);
    else if (word == "--warmup") warmup = std::atof(value);
    else if (word == "--graph") graph = value;
    else if (word == "--out") out = value;
    else return Usage();
  }
  if (!(seconds > 0) || !(interval > 0)) return Usage();
  if (warmup < 0) warmup = std::min(600.0, seconds / 10);
  // A folder of our own unless one is named (and only ours is removed).
  const bool ownOut = out.empty();
  if (ownOut) out = (fs::temp_directory_path() / ("nxsoak-" + std::to_string(::getpid()))).string();

  std::ostringstream seconds_text;
  seconds_text.precision(17);
  seconds_text << seconds;
  const std::vector<std::string> args = {"run", graph, "--seconds", seconds_text.str(), "--out", out};
  std::printf("soak: %s for %s s of stream time into %s\n", graph.c_str(), seconds_text.str().c_str(), out.c_str());

  const auto t0 = std::chrono::steady_clock::now();
  auto wall = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); };
  const TSample before = Sample(0, 0);
  Print("before", before);

  std::ostringstream report, errors;
  std::atomic<bool> done{false};
  int status = -1;
  std::thread runner([&] {
    status = nx::flow::RunCommandLine(args, report, errors, "/proc/self/exe");
    done = true;
  });
  TSample warm, last;
  bool warmed = false;
  while (!done) {
    for (double slept = 0; slept < interval && !done; slept += 0.05)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (done) break;
    const TSample now = Sample(nx::NXMasterClockSteps() / 1000.0, wall());
    // The clock starts again from 0 once the streams stop: the sinks are
    // writing their files then, and the run's last sample is the one before.
    if (now.StreamSeconds < last.StreamSeconds) {
      Print("writing", now);
      continue;
    }
    last = now;
    Print("run", last);
    if (!warmed && last.StreamSeconds >= warmup) {
      warm = last;
      warmed = true;
    }
  }
  runner.join();
  const TSample after = Sample(seconds, wall());
  Print("after", after);
  std::fflush(stdout);
  std::cout << report.str() << errors.str() << std::flush;

  bool ok = status == 0;
  if (!ok) std::printf("FAIL: the run ended with status %d\n", status);
  if (warmed && last.StreamSeconds > warm.StreamSeconds) {
    const double growth = (last.RssKiB - warm.RssKiB) / 1024.0;
    std::printf("RSS after the warm-up (%.0f s) %.2f MiB, at the end of the run (%.0f s) %.2f MiB: %+.3f MiB\n",
                warm.StreamSeconds, warm.RssKiB / 1024.0, last.StreamSeconds, last.RssKiB / 1024.0, growth);
    if (growth >= 1) {
      std::printf("FAIL: resident memory grew by 1 MiB or more\n");
      ok = false;
    }
  } else {
    std::printf("RSS: the run was too short for two samples after the warm-up (lower --interval or --warmup)\n");
  }
  const std::vector<TRow> rows = ReadTable(report.str());
  // The samples a stream at ARate carries in the run: the whole buffers its
  // generator's clock ticks for (the buffer size: that of the first scope at
  // the rate). The clock's interval is a whole number of 100 ns units, k
  // buffers long (the first k that makes it 1 ms or more), so it runs a
  // little fast where a buffer is not a whole number of units long (1024
  // samples at 48 kHz: 213,333 units for 213,333.3, 1.6 ppm, six buffers in
  // 24 hours); the run takes S x 1000 + 1 steps of 1 ms, a clock ticking
  // each time its accumulated time exceeds its interval.
  auto streamed = [&](double ARate) -> std::int64_t {
    for (const TRow& r : rows)
      if (r.Class == "TNXScopeView" && r.Rate == ARate && r.Buffers > 0 && r.Samples % r.Buffers == 0) {
        const std::int64_t size = r.Samples / r.Buffers;
        const auto rate = static_cast<std::int64_t>(std::nearbyint(ARate));
        if (rate < 1) return -1;
        std::int64_t perTick = 1, interval = 0;
        while ((interval = 10'000'000 * size * perTick / rate) < 10'000) ++perTick;
        const std::int64_t units = (std::llround(seconds * 1000) + 1) * 10'000;
        return (units - 1) / interval * perTick * size;
      }
    return -1;
  };
  for (const TRow& row : rows) {
    std::int64_t expected = -1;
    if (row.Class == "TNXScopeView") {
      expected = streamed(row.Rate);
      std::printf("%-32s %-16s seconds x rate = %.0f samples, %+lld in the table\n", row.Sink.c_str(),
                  row.Class.c_str(), seconds * row.Rate,
                  static_cast<long long>(row.Samples - std::llround(seconds * row.Rate)));
    }
    // One spectrum of N / 2 + 1 bins per whole N-point transform.
    if (row.Class == "TNXSpectrumView" && row.Buffers > 0 && streamed(row.Rate) >= 0) {
      const std::int64_t bins = row.Samples / row.Buffers, points = 2 * (bins - 1);
      expected = points > 0 ? streamed(row.Rate) / points * bins : -1;
    }
    std::printf("%-32s %-16s %14lld samples", row.Sink.c_str(), row.Class.c_str(),
                static_cast<long long>(row.Samples));
    if (expected < 0) {
      std::printf("\n");
      continue;
    }
    std::printf(" (expected %lld)%s\n", static_cast<long long>(expected), row.Samples == expected ? "" : "  FAIL");
    ok = ok && row.Samples == expected;
  }
  std::printf("threads before %d, after %d; descriptors before %d, after %d\n", before.Threads, after.Threads,
              before.Fds, after.Fds);
  if (after.Threads > before.Threads || after.Fds > before.Fds) {
    std::printf("FAIL: the run left threads or descriptors behind\n");
    ok = false;
  }
  std::error_code ec;
  if (ownOut) fs::remove_all(out, ec);
  std::printf("%s\n", ok ? "soak: ok" : "soak: FAILED");
  return ok ? 0 : 1;
}
