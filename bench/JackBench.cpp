// The JACK output under its device's pace: a sine -> FIR (Order 64, 65
// taps) -> TNXJackOutput graph, made in code, on a JACK server this program
// starts on the dummy driver (`jackd --no-realtime -n NAME -d dummy -r 48000
// -p PERIOD`), for --seconds S of wall time (60 by default) at each period
// size (256, then 64 frames). Not run by CI.
//
//   bench_jack [--seconds S] [--periods 256,64]
//
// For each period size it prints the underruns the output counted, the
// server's own xruns (as the server reports them to the client), the
// callback's own time (p50, p99, max; the target is p99 <= 50 us at 256
// frames) and what the graph made. The sine's buffers are one period long.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "packages/nxaudio/NXJackOutput.h"
#include "packages/nxexamples/NXExampleFilters.h"
#include "packages/nxexamples/NXExampleSources.h"

using namespace nx;
using namespace std::chrono_literals;

namespace {

struct TServer {
  pid_t Pid = -1;
  std::string Name;
  TServer(const std::string& AName, int APeriod) : Name(AName) {
    std::fflush(stdout);  // what is buffered is written once, not by the child too
    Pid = ::fork();
    if (Pid == 0) {
      std::freopen("/dev/null", "w", stdout);
      std::freopen("/dev/null", "w", stderr);
      const std::string period = std::to_string(APeriod);
      ::execlp("jackd", "jackd", "--no-realtime", "-n", AName.c_str(), "-d", "dummy", "-r", "48000", "-p",
               period.c_str(), static_cast<char*>(nullptr));
      std::_Exit(127);
    }
    audio::QuietJackLibrary();
    for (int i = 0; i < 200; ++i) {
      jack_status_t status{};
      if (jack_client_t* c = jack_client_open("bench-probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                                              &status, AName.c_str())) {
        jack_client_close(c);
        return;
      }
      std::this_thread::sleep_for(50ms);
    }
    std::fprintf(stderr, "bench_jack: the JACK server %s did not come up\n", AName.c_str());
    std::exit(1);
  }
  ~TServer() {
    ::kill(Pid, SIGTERM);
    ::waitpid(Pid, nullptr, 0);
  }
};

void RunOne(int APeriod, double ASeconds) {
  // The same name from run to run: JACK's server registry has a few slots,
  // and one a dead server left is taken back only under its own name.
  const std::string name = "nxbench-" + std::to_string(APeriod);
  TServer server(name, APeriod);
  auto* tone = new examples::TNXSineGenerator(nullptr);
  tone->SetSampleRate(48000);
  tone->SetBufferSize(APeriod);
  tone->SetFrequency(440);
  tone->SetAmplitude(0.5);
  auto* fir = new examples::TNXFirFilter(nullptr);
  fir->SetFilterType(fdftLowPass);
  fir->SetOrder(64);
  fir->SetLowFrequency(2000);
  auto* out = new audio::TNXJackOutput(nullptr);
  out->SetServerName(name);
  out->SetClientName("bench");
  out->FlowPrepare({});
  tone->OutputPin().Connect(fir->InputPin());
  fir->OutputPin()->Connect(out->InputPin());
  const auto t0 = std::chrono::steady_clock::now();
  tone->CreateStart();
  if (std::string fault = out->FlowFault(); !fault.empty()) {
    std::fprintf(stderr, "bench_jack: %s\n", fault.c_str());
    std::exit(1);
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(ASeconds));
  tone->Stop();
  out->WaitClosed();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const audio::TJackStats& s = out->Stats();
  std::printf("%5d frames (%5.2f ms)  %7.1f s  %9lld  %9lld  %9lld  %8.0f  %8.0f  %9.1f  %10lld\n", APeriod,
              APeriod * 1000.0 / 48000, wall, static_cast<long long>(s.Periods.load()),
              static_cast<long long>(s.Underruns.load()), static_cast<long long>(s.Xruns.load()),
              s.Timer.Percentile(0.50), s.Timer.Percentile(0.99), s.Timer.MaxMicroseconds(),
              static_cast<long long>(out->Samples()));
  std::fflush(stdout);
  if (const std::string fault = out->FlowFault(); !fault.empty()) std::printf("  fault: %s\n", fault.c_str());
  TComponent::Free(tone);
  TComponent::Free(fir);
  TComponent::Free(out);
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 60;
  std::vector<int> periods = {256, 64};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seconds" && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else if (arg == "--periods" && i + 1 < argc) {
      periods.clear();
      for (const std::string& p : audio::SplitPortList(argv[++i])) periods.push_back(std::atoi(p.c_str()));
    } else {
      std::fprintf(stderr, "usage: bench_jack [--seconds S] [--periods 256,64]\n");
      return 2;
    }
  }
  if (!(seconds > 0) || periods.empty()) {
    std::fprintf(stderr, "usage: bench_jack [--seconds S] [--periods 256,64]\n");
    return 2;
  }
  std::printf("sine -> FIR (65 taps) -> TNXJackOutput at 48 kHz on jackd's dummy driver (--no-realtime), %g s each\n",
              seconds);
  std::printf("%-20s  %7s  %9s  %9s  %9s  %8s  %8s  %9s  %10s\n", "period", "wall", "callbacks", "underruns",
              "srv xruns", "p50 us", "p99 us", "max us", "samples");
  for (int p : periods) RunOne(p, seconds);
  return 0;
}
