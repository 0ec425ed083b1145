// The network package's throughput: 1,024-sample buffers of doubles over
// ZeroMQ PUSH/PULL on TCP loopback, between two threads of this process (a
// producer thread sends without pause; the benchmark's thread receives one
// message per iteration, so the time per iteration is that of the slower
// side, back-pressure keeping the two in step).
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

#include <atomic>
#include <cstdio>
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
    sink->SetSendTimeout(100);
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
  for (auto _ : state) receiveOne(0);
  benchmark::DoNotOptimize(samples);
  Finish(stop, producer, [&] { return receiveOne(200); });
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFrame));
}

BENCHMARK(BM_Plain)->Name("NetLoopback/plain_zmq_send_recv")->UseRealTime()->Repetitions(5);
BENCHMARK(BM_Ours)->Name("NetLoopback/nxnet_sink_to_receiver")->UseRealTime()->Repetitions(5);

}  // namespace

int main(int argc, char** argv) {
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
  nxbench::PrintRatios(rep, "nxnet against plain ZeroMQ (throughput ratio, median real time of 5; goal: at least 0.8)",
                       {{"1,024 doubles a message, PUSH/PULL", "NetLoopback/nxnet_sink_to_receiver/real_time_median",
                         "NetLoopback/plain_zmq_send_recv/real_time_median", 0.8}},
                       "ratio");
  benchmark::Shutdown();
  return 0;
}
