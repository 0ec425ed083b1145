// The network package's throughput: 1,024-sample buffers of doubles over
// ZeroMQ PUSH/PULL on TCP loopback, measured two ways.
//
// Two threads of this process: a producer thread sends without pause; the
// benchmark's thread receives one message per iteration, so the time per
// iteration is that of the slower side, back-pressure keeping the two in
// step.
//
// Two processes: each iteration starts this program again as a receiver
// ("bench_net --net-receiver plain|ours COUNT"), which binds a loopback port,
// tells it on its standard output, takes a warm-up of kWarmup messages and
// then times the next COUNT from the first to the last, and writes that
// time back; this process sends them all. The iteration's time is the
// receiver's, so starting the process is not in it.
//   ours:  a source pin submits each buffer to a TNXNetSink (encoding into
//          the message, numbering, sending), and the receiver takes each
//          frame as TNXNetSource does (receive, check, make the real buffer,
//          copy the samples in);
//   peer:  plain zmq_send / zmq_recv of messages of the same size (the
//          header's 40 bytes and the 8,192 of the samples).
// Goal: ours at least 0.8 of the peer's throughput. The table prints both
// times per message, both throughputs and the ratio.
#include <benchmark/benchmark.h>
#include <zmq.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "buffers/NXSimpleDataBuffer.h"
#include "packages/nxnet/NXNetComponents.h"
#include "packages/nxnet/NXNetMessage.h"
#include "packages/nxnet/NXNetSocket.h"

namespace {

using namespace nx;
using namespace nx::net;

constexpr std::uint32_t kSamples = 1024;
constexpr std::size_t kFrame = kNetHeaderSize + kSamples * sizeof(double);

// A free loopback port, bound by the receiver ("tcp://127.0.0.1:*").
struct TPull {
  void* Context = zmq_ctx_new();
  void* Socket = zmq_socket(Context, ZMQ_PULL);
  std::string Endpoint;
  TPull() {
    zmq_bind(Socket, "tcp://127.0.0.1:*");
    char text[256] = {};
    std::size_t size = sizeof text;
    zmq_getsockopt(Socket, ZMQ_LAST_ENDPOINT, text, &size);
    Endpoint = text;
  }
  ~TPull() {
    zmq_close(Socket);
    zmq_ctx_term(Context);
  }
};

// Receives and drops what is left once the producer stops, then joins it.
void Finish(std::atomic<bool>& AStop, std::thread& AProducer, const std::function<bool()>& ADrainOne) {
  AStop.store(true);
  while (ADrainOne()) {
  }
  AProducer.join();
}

void BM_Plain(benchmark::State& state) {
  TPull pull;
  std::atomic<bool> stop{false};
  std::thread producer([&] {
    void* push = zmq_socket(pull.Context, ZMQ_PUSH);
    int linger = 0, timeout = 100;
    zmq_setsockopt(push, ZMQ_LINGER, &linger, sizeof linger);
    zmq_setsockopt(push, ZMQ_SNDTIMEO, &timeout, sizeof timeout);
    zmq_connect(push, pull.Endpoint.c_str());
    std::vector<char> frame(kFrame, 1);
    while (!stop.load(std::memory_order_relaxed)) zmq_send(push, frame.data(), frame.size(), 0);
    zmq_close(push);
  });
  std::vector<char> in(kFrame);
  for (auto _ : state) benchmark::DoNotOptimize(zmq_recv(pull.Socket, in.data(), in.size(), 0));
  int timeout = 200;
  zmq_setsockopt(pull.Socket, ZMQ_RCVTIMEO, &timeout, sizeof timeout);
  Finish(stop, producer, [&] { return zmq_recv(pull.Socket, in.data(), in.size(), 0) >= 0; });
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFrame));
}

void BM_Ours(benchmark::State& state) {
  TNXNetSocketOptions options;
  options.Endpoint = "tcp://127.0.0.1:*";
  options.Bind = true;
  TNXNetSocket pull(TNXNetRole::Receiver, options);
  const std::string endpoint = pull.BoundEndpoint();
  std::atomic<bool> stop{false};
  std::thread producer([&] {
    TNXNetSink* sink = new TNXNetSink();
    sink->SetEndpoint(endpoint);
    sink->SetBind(false);
    // Long enough for the connection to come up on a loaded machine; the
    // stop below ends the loop, and the receiver drains what is left.
    sink->SetSendTimeout(5000);
    TNXFTRealSourcePin pin("Out");
    pin.Connect(sink->InputPin());
    pin.Notify(TFTStartSampleRateOperation::Make(48000));
    const TIntfPtr<INXData> buffer(TNXRealBuffer::MakeValue(0.25, kSamples));
    while (!stop.load(std::memory_order_relaxed) && sink->FlowFault().empty()) pin.SubmitBuffer(buffer);
    pin.DisconnectAll();
    TComponent::Free(sink);
  });
  const std::atomic<bool> never{false};
  std::uint64_t samples = 0;
  auto receiveOne = [&](std::int32_t ATimeout) {
    TNXNetFrame frame;
    if (pull.Receive(frame, ATimeout, never) != TNXNetReceive::Message) return false;
    TNXNetMessage message;
    if (NXNetDecode(frame.Bytes(), 1u << 20, message) != TNXNetError::Ok) return true;
    if (message.Kind != TNXNetKind::Buffer) return true;
    TIntfPtr<INXRealBuffer> buffer = TNXRealBuffer::MakeSize(message.Count);
    NXNetReadReals(message.Payload, buffer->Write(), message.Count);
    samples += buffer->GetSize();
    return true;
  };
  for (auto _ : state)
    if (!receiveOne(10000)) {
      state.SkipWithError("the sending thread stopped");
      break;
    }
  benchmark::DoNotOptimize(samples);
  Finish(stop, producer, [&] { return receiveOne(200); });
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFrame));
}

BENCHMARK(BM_Plain)->Name("NetLoopback/plain_zmq_send_recv")->UseRealTime()->Repetitions(5);
BENCHMARK(BM_Ours)->Name("NetLoopback/nxnet_sink_to_receiver")->UseRealTime()->Repetitions(5);

// ---------------------------------------------------------------- two processes

constexpr int kWarmup = 256;     // messages the receiver takes before it starts the clock
constexpr int kTimed = 8192;     // messages it times (64 MiB of samples)

// The receiving process: binds, prints its endpoint, receives kWarmup +
// ACount buffers and prints the nanoseconds the last ACount took. With
// AOurs it takes each frame as TNXNetSource does (receive, check, make the
// real buffer, copy the samples in); else zmq_recv into one buffer.
int Receiver(bool AOurs, int ACount) {
  void* context = zmq_ctx_new();
  void* pull = zmq_socket(context, ZMQ_PULL);
  if (zmq_bind(pull, "tcp://127.0.0.1:*") != 0) return 1;
  char endpoint[256] = {};
  std::size_t size = sizeof endpoint;
  zmq_getsockopt(pull, ZMQ_LAST_ENDPOINT, endpoint, &size);
  std::printf("%s\n", endpoint);
  std::fflush(stdout);
  std::vector<char> in(kFrame);
  std::uint64_t samples = 0;
  // One buffer message taken; false when the socket fails.
  auto takeOne = [&]() -> bool {
    if (!AOurs) return zmq_recv(pull, in.data(), in.size(), 0) >= 0;
    for (;;) {
      TNXNetFrame frame;
      if (zmq_msg_recv(frame.Message(), pull, 0) < 0) return false;
      TNXNetMessage message;
      if (NXNetDecode(frame.Bytes(), 1u << 20, message) != TNXNetError::Ok || message.Kind != TNXNetKind::Buffer)
        continue;
      TIntfPtr<INXRealBuffer> buffer = TNXRealBuffer::MakeSize(message.Count);
      NXNetReadReals(message.Payload, buffer->Write(), message.Count);
      samples += buffer->GetSize();
      return true;
    }
  };
  for (int i = 0; i < kWarmup; ++i)
    if (!takeOne()) return 1;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < ACount; ++i)
    if (!takeOne()) return 1;
  const auto ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
  std::printf("%lld %llu\n", static_cast<long long>(ns), static_cast<unsigned long long>(samples));
  std::fflush(stdout);
  zmq_close(pull);
  zmq_ctx_term(context);
  return 0;
}

// A receiving process of this program, its standard output a pipe to us.
class TReceiverProcess {
 public:
  TReceiverProcess(bool AOurs, int ACount) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    FPid = ::fork();
    if (FPid == 0) {
      ::dup2(fds[1], STDOUT_FILENO);
      ::close(fds[0]);
      ::close(fds[1]);
      const std::string count = std::to_string(ACount);
      ::execl("/proc/self/exe", "bench_net", "--net-receiver", AOurs ? "ours" : "plain", count.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    FOut = ::fdopen(fds[0], "r");
  }
  ~TReceiverProcess() {
    if (FOut) std::fclose(FOut);
    if (FPid > 0) ::waitpid(FPid, nullptr, 0);
  }
  // The next line it writes ("" at its end).
  std::string Line() {
    char text[512];
    if (!FOut || !std::fgets(text, sizeof text, FOut)) return {};
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
  }

 private:
  pid_t FPid = -1;
  std::FILE* FOut = nullptr;
};

// One exchange of kWarmup + kTimed messages with a new receiving process:
// ASend sends them all to the endpoint it is given. The receiver's time, in
// seconds (negative when it failed).
double Exchange(bool AOurs, const std::function<void(const std::string&, int)>& ASend) {
  TReceiverProcess receiver(AOurs, kTimed);
  const std::string endpoint = receiver.Line();
  if (endpoint.empty()) return -1;
  ASend(endpoint, kWarmup + kTimed);
  long long ns = 0;
  unsigned long long samples = 0;
  if (std::sscanf(receiver.Line().c_str(), "%lld %llu", &ns, &samples) < 1 || ns <= 0) return -1;
  if (AOurs && samples != static_cast<unsigned long long>(kWarmup + kTimed) * kSamples) return -1;
  return static_cast<double>(ns) / 1e9;
}

void Report(benchmark::State& AState, double ASeconds) {
  if (ASeconds <= 0) {
    AState.SkipWithError("the receiving process failed");
    return;
  }
  AState.SetIterationTime(ASeconds);
}

void BM_PlainProcesses(benchmark::State& state) {
  std::vector<char> frame(kFrame, 1);
  for (auto _ : state) {
    Report(state, Exchange(false, [&](const std::string& AEndpoint, int ACount) {
      void* context = zmq_ctx_new();
      void* push = zmq_socket(context, ZMQ_PUSH);
      zmq_connect(push, AEndpoint.c_str());
      for (int i = 0; i < ACount; ++i) zmq_send(push, frame.data(), frame.size(), 0);
      // Everything sent has been queued; what is still queued leaves before the close returns.
      zmq_close(push);
      zmq_ctx_term(context);
    }));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kTimed * static_cast<std::int64_t>(kFrame));
}

void BM_OursProcesses(benchmark::State& state) {
  const TIntfPtr<INXData> buffer(TNXRealBuffer::MakeValue(0.25, kSamples));
  for (auto _ : state) {
    Report(state, Exchange(true, [&](const std::string& AEndpoint, int ACount) {
      TNXNetSink* sink = new TNXNetSink();
      sink->SetEndpoint(AEndpoint);
      sink->SetBind(false);
      sink->SetSendTimeout(2000);
      TNXFTRealSourcePin pin("Out");
      pin.Connect(sink->InputPin());
      pin.Notify(TFTStartSampleRateOperation::Make(48000));
      for (int i = 0; i < ACount && sink->FlowFault().empty(); ++i) pin.SubmitBuffer(buffer);
      pin.Notify(TFTStopOperation::Make());
      pin.DisconnectAll();
      TComponent::Free(sink);
    }));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kTimed * static_cast<std::int64_t>(kFrame));
}

// Alternating, so that a neighbour's load falls on both alike.
BENCHMARK(BM_PlainProcesses)->Name("NetProcesses/plain_zmq_send_recv")->UseManualTime()->Repetitions(5);
BENCHMARK(BM_OursProcesses)->Name("NetProcesses/nxnet_sink_to_receiver")->UseManualTime()->Repetitions(5);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--net-receiver") == 0)
    return Receiver(std::strcmp(argv[2], "ours") == 0, std::atoi(argv[3]));
  benchmark::Initialize(&argc, argv);
  nxbench::TCollectingReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  const double plain = rep.Time("NetLoopback/plain_zmq_send_recv/real_time_median");
  const double ours = rep.Time("NetLoopback/nxnet_sink_to_receiver/real_time_median");
  if (plain > 0 && ours > 0) {
    const double mb = static_cast<double>(kFrame) / 1e6;
    std::printf("\nPUSH/PULL over TCP loopback, two threads, %u doubles a message (%zu bytes)\n", kSamples, kFrame);
    std::printf("  plain zmq_send/zmq_recv  %8.2f us a message  %9.1f MB/s\n", plain / 1e3, mb / (plain / 1e9));
    std::printf("  nxnet sink -> receiver   %8.2f us a message  %9.1f MB/s\n", ours / 1e3, mb / (ours / 1e9));
  }
  const double plainProc = rep.Time("NetProcesses/plain_zmq_send_recv/manual_time_median");
  const double oursProc = rep.Time("NetProcesses/nxnet_sink_to_receiver/manual_time_median");
  if (plainProc > 0 && oursProc > 0) {
    // Times per exchange of kTimed messages.
    const double mb = static_cast<double>(kFrame) * kTimed / 1e6;
    std::printf("\nPUSH/PULL over TCP loopback, two processes, %d messages of %u doubles (%zu bytes) timed\n", kTimed,
                kSamples, kFrame);
    std::printf("  plain zmq_send/zmq_recv  %8.2f us a message  %9.1f MB/s\n", plainProc / kTimed / 1e3,
                mb / (plainProc / 1e9));
    std::printf("  nxnet sink -> receiver   %8.2f us a message  %9.1f MB/s\n", oursProc / kTimed / 1e3,
                mb / (oursProc / 1e9));
  }
  nxbench::PrintRatios(rep, "nxnet against plain ZeroMQ (throughput ratio, median time of 5; goal: at least 0.8)",
                       {{"1,024 doubles a message, PUSH/PULL, threads", "NetLoopback/nxnet_sink_to_receiver/real_time_median",
                         "NetLoopback/plain_zmq_send_recv/real_time_median", 0.8},
                        {"1,024 doubles a message, PUSH/PULL, processes",
                         "NetProcesses/nxnet_sink_to_receiver/manual_time_median",
                         "NetProcesses/plain_zmq_send_recv/manual_time_median", 0.8}},
                       "ratio");
  benchmark::Shutdown();
  return 0;
}
