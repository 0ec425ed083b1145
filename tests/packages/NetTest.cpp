// The network package: the message format against every way a frame can be
// wrong, sequence gaps, PUSH/PULL back-pressure and PUB/SUB losses on real
// sockets, the source's handling of hostile frames with the stream relayed
// through a sink, and a graph split over two nxflow processes writing what
// one process writes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zmq.h>

#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "../components/ComponentTestSupport.h"
#include "buffers/NXSimpleDataBuffer.h"
#include "components/NXClockGen.h"
#include "packages/nxnet/NXNetComponents.h"
#include "packages/nxnet/NXNetMessage.h"
#include "packages/nxnet/NXNetSocket.h"

// libzmq is not built for ThreadSanitizer: the hand-over of a message to its
// I/O thread goes through atomics the tool cannot see, and looks like a race
// on the message's bytes. Only races with a frame inside libzmq are left out.
extern "C" const char* __tsan_default_suppressions() { return "race:libzmq.so\n"; }

namespace nxtest {
namespace {
using namespace nx;
using namespace nx::net;
namespace fs = std::filesystem;

// A folder of this process for ipc endpoints and outputs, removed at the end.
class TNetDir {
 public:
  TNetDir() : FDir(fs::temp_directory_path() / ("nxnet-" + std::to_string(::getpid()))) {
    fs::remove_all(FDir);
    fs::create_directories(FDir);
  }
  ~TNetDir() {
    std::error_code ec;
    fs::remove_all(FDir, ec);
  }
  std::string Endpoint(const std::string& AName) const { return "ipc://" + (FDir / AName).string(); }
  fs::path Path(const std::string& AName) const { return FDir / AName; }

 private:
  fs::path FDir;
};

std::span<const std::byte> BytesOf(const std::string& AText) {
  return {reinterpret_cast<const std::byte*>(AText.data()), AText.size()};
}

std::string Frame(TNXNetKind AKind, TNXNetElement AElement, std::uint64_t ASequence, double ARate,
                  const std::vector<double>& ASamples = {}, std::uint32_t ASender = 77) {
  TNXNetMessage m;
  m.Kind = AKind;
  m.Element = AElement;
  m.Sender = ASender;
  m.Sequence = ASequence;
  m.SampleRate = ARate;
  m.Count = static_cast<std::uint32_t>(ASamples.size());
  m.Payload = {reinterpret_cast<const std::byte*>(ASamples.data()), ASamples.size() * sizeof(double)};
  return NXNetEncodeToString(m);
}

std::string Buffer(std::uint64_t ASequence, const std::vector<double>& ASamples, double ARate = 8000) {
  return Frame(TNXNetKind::Buffer, TNXNetElement::Real64, ASequence, ARate, ASamples);
}

// A buffer of ACount elements of AElement at 8 kHz, its bytes counting up.
std::string Typed(TNXNetElement AElement, std::uint32_t ACount) {
  std::vector<std::byte> bytes(NXNetElementSize(AElement) * ACount);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::byte>(i + 1);
  TNXNetMessage m;
  m.Kind = TNXNetKind::Buffer;
  m.Element = AElement;
  m.Sequence = 1;
  m.SampleRate = 8000;
  m.Count = ACount;
  m.Payload = bytes;
  return NXNetEncodeToString(m);
}

template <class T>
void Put(std::string& AFrame, std::size_t AOffset, T AValue) {
  for (std::size_t i = 0; i < sizeof(T); ++i) AFrame[AOffset + i] = static_cast<char>((AValue >> (8 * i)) & 0xFF);
}

// ---------------------------------------------------------------- format

TEST(NetMessage, EveryKindAndElementTypeReadsBackAsWritten) {
  struct TCase {
    TNXNetKind Kind;
    TNXNetElement Element;
    std::uint32_t Count;
    double Rate;
  };
  const std::vector<TCase> cases = {
      {TNXNetKind::Start, TNXNetElement::Real64, 0, 48000},  {TNXNetKind::Start, TNXNetElement::None, 0, 1},
      {TNXNetKind::Buffer, TNXNetElement::Real64, 5, 44100}, {TNXNetKind::Buffer, TNXNetElement::Real64, 0, 8000},
      {TNXNetKind::Buffer, TNXNetElement::Int32, 3, 1e9},    {TNXNetKind::Buffer, TNXNetElement::UInt32, 1, 2},
      {TNXNetKind::Buffer, TNXNetElement::Complex128, 2, 3}, {TNXNetKind::Buffer, TNXNetElement::Byte, 7, 4},
      {TNXNetKind::Pause, TNXNetElement::Real64, 0, 48000},  {TNXNetKind::Resume, TNXNetElement::None, 0, 0},
      {TNXNetKind::Stop, TNXNetElement::Real64, 0, 48000},  {TNXNetKind::Flush, TNXNetElement::Byte, 100, 0},
  };
  std::uint64_t sequence = std::numeric_limits<std::uint64_t>::max() - 20;
  for (const TCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Kind) * 10 + static_cast<int>(c.Element));
    std::vector<std::byte> payload(NXNetElementSize(c.Element) * c.Count);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::byte>(i * 37 + 11);
    TNXNetMessage in;
    in.Kind = c.Kind;
    in.Element = c.Element;
    in.Sender = 0xCAFEF00D;
    in.Sequence = ++sequence;
    in.SampleRate = c.Rate;
    in.Count = c.Count;
    in.Payload = payload;
    const std::string frame = NXNetEncodeToString(in);
    ASSERT_EQ(frame.size(), kNetHeaderSize + payload.size());
    TNXNetMessage out;
    ASSERT_EQ(NXNetDecode(BytesOf(frame), 16, out), TNXNetError::Ok);
    EXPECT_EQ(out.Kind, c.Kind);
    EXPECT_EQ(out.Element, c.Element);
    EXPECT_EQ(out.Sender, 0xCAFEF00Du);
    EXPECT_EQ(out.Sequence, sequence);
    EXPECT_EQ(out.SampleRate, c.Rate);
    EXPECT_EQ(out.Count, c.Count);
    ASSERT_EQ(out.Payload.size(), payload.size());
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), out.Payload.begin()));
  }
  // The samples come back exactly, whatever the payload's alignment in the frame.
  const std::vector<double> samples = {0.1, -2.5e300, std::numeric_limits<double>::denorm_min(), -0.0};
  const std::string frame = "x" + Buffer(0, samples);
  TNXNetMessage out;
  ASSERT_EQ(NXNetDecode(BytesOf(frame).subspan(1), 4, out), TNXNetError::Ok);
  std::vector<double> back(samples.size());
  NXNetReadReals(out.Payload, back.data(), out.Count);
  for (std::size_t i = 0; i < samples.size(); ++i)
    EXPECT_EQ(std::bit_cast<std::uint64_t>(back[i]), std::bit_cast<std::uint64_t>(samples[i]));
}

TEST(NetMessage, EachMalformedFrameIsRefusedForItsReason) {
  const std::string good = Buffer(3, {1, 2, 3, 4});
  const std::string stop = Frame(TNXNetKind::Stop, TNXNetElement::Real64, 4, 8000);
  using E = TNXNetError;
  struct TCase {
    const char* Name;
    std::function<std::string()> Make;
    std::uint32_t Cap;
    E Expected;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  auto with = [&](const std::string& AFrame, auto AEdit) {
    std::string f = AFrame;
    AEdit(f);
    return f;
  };
  const std::vector<TCase> cases = {
      {"the good frame", [&] { return good; }, 4, E::Ok},
      {"a stop at rate 0", [&] { return Frame(TNXNetKind::Stop, TNXNetElement::None, 0, 0); }, 4, E::Ok},
      {"empty", [] { return std::string(); }, 4, E::Truncated},
      {"half a header", [&] { return good.substr(0, 20); }, 4, E::Truncated},
      {"a header one byte short", [&] { return good.substr(0, kNetHeaderSize - 1); }, 4, E::Truncated},
      {"samples one byte short", [&] { return good.substr(0, good.size() - 1); }, 4, E::Truncated},
      {"the header alone", [&] { return good.substr(0, kNetHeaderSize); }, 4, E::Truncated},
      {"a byte trailing", [&] { return good + "x"; }, 4, E::BadLength},
      {"another magic", [&] { return with(good, [](std::string& f) { f[0] = 'X'; }); }, 4, E::BadMagic},
      {"version 2", [&] { return with(good, [](std::string& f) { Put<std::uint16_t>(f, 4, 2); }); }, 4, E::WrongVersion},
      {"version 0", [&] { return with(good, [](std::string& f) { Put<std::uint16_t>(f, 4, 0); }); }, 4, E::WrongVersion},
      {"kind 0", [&] { return with(good, [](std::string& f) { f[6] = 0; }); }, 4, E::BadKind},
      {"kind 7", [&] { return with(good, [](std::string& f) { f[6] = 7; }); }, 4, E::BadKind},
      {"a flush of doubles", [&] { return with(good, [](std::string& f) { f[6] = 6; }); }, 4, E::WrongType},
      {"a flush above 64 KiB",
       [&] {
         TNXNetMessage m;
         m.Kind = TNXNetKind::Flush;
         m.Element = TNXNetElement::Byte;
         m.Count = kNetMaxFlush + 1;
         const std::vector<std::byte> bytes(m.Count);
         m.Payload = bytes;
         return NXNetEncodeToString(m);
       },
       4, E::Oversized},
      {"kind 255", [&] { return with(good, [](std::string& f) { f[6] = char(255); }); }, 4, E::BadKind},
      {"element 6", [&] { return with(good, [](std::string& f) { f[7] = 6; }); }, 4, E::WrongType},
      {"a buffer of no element type", [&] { return with(good, [](std::string& f) { f[7] = 0; }); }, 4, E::WrongType},
      {"a reserved field set", [&] { return with(good, [](std::string& f) { f[13] = 1; }); }, 4, E::BadReserved},
      {"count above the bytes", [&] { return with(good, [](std::string& f) { Put<std::uint32_t>(f, 32, 3); }); }, 4,
       E::BadLength},
      {"bytes not a whole sample", [&] { return with(good, [](std::string& f) { Put<std::uint32_t>(f, 36, 33); }); },
       4, E::BadLength},
      {"more samples than the cap", [&] { return good; }, 3, E::Oversized},
      {"a count of 2^32 - 1 in a short frame",
       [&] { return with(good, [](std::string& f) { Put<std::uint32_t>(f, 32, 0xFFFFFFFFu); }); }, 1u << 20,
       E::Oversized},
      {"bytes of 2^32 - 1 in a short frame",
       [&] {
         return with(good, [](std::string& f) {
           Put<std::uint32_t>(f, 32, 0x1FFFFFFFu);
           Put<std::uint32_t>(f, 36, 0xFFFFFFF8u);
         });
       },
       0xFFFFFFFFu, E::Truncated},
      {"a stop with a sample", [&] { return with(stop, [](std::string& f) { Put<std::uint32_t>(f, 32, 1); }); }, 4,
       E::BadLength},
      {"a stop with bytes", [&] { return with(stop, [](std::string& f) { Put<std::uint32_t>(f, 36, 8); }); }, 4,
       E::BadLength},
      {"a buffer at rate NaN", [&] { return Buffer(0, {1}, nan); }, 4, E::BadRate},
      {"a buffer at an infinite rate", [&] { return Buffer(0, {1}, inf); }, 4, E::BadRate},
      {"a buffer at rate 0", [&] { return Buffer(0, {1}, 0); }, 4, E::BadRate},
      {"a buffer above 1 GHz", [&] { return Buffer(0, {1}, 2e9); }, 4, E::BadRate},
      {"a start at rate 0", [&] { return Frame(TNXNetKind::Start, TNXNetElement::Real64, 0, 0); }, 4, E::BadRate},
      {"a pause at a negative rate", [&] { return Frame(TNXNetKind::Pause, TNXNetElement::None, 0, -1); }, 4,
       E::BadRate},
      // The other element types: each one's width counts.
      {"integers", [&] { return Typed(TNXNetElement::Int32, 3); }, 4, E::Ok},
      {"unsigned integers", [&] { return Typed(TNXNetElement::UInt32, 4); }, 4, E::Ok},
      {"complex numbers", [&] { return Typed(TNXNetElement::Complex128, 2); }, 4, E::Ok},
      {"bytes", [&] { return Typed(TNXNetElement::Byte, 4); }, 4, E::Ok},
      {"integers counted as doubles",
       [&] { return with(Typed(TNXNetElement::Int32, 2), [](std::string& f) { Put<std::uint32_t>(f, 36, 16); }); }, 4,
       E::BadLength},
      {"complex numbers counted as doubles", [&] { return with(Typed(TNXNetElement::Complex128, 2), [](std::string& f) {
         Put<std::uint32_t>(f, 36, 16);
         f.resize(kNetHeaderSize + 16);
       }); },
       4, E::BadLength},
      {"doubles read as complex numbers", [&] { return with(good, [](std::string& f) { f[7] = 4; }); }, 4,
       E::BadLength},
      {"unsigned integers of an odd byte count",
       [&] { return with(Typed(TNXNetElement::UInt32, 3), [](std::string& f) { Put<std::uint32_t>(f, 36, 13); }); }, 4,
       E::BadLength},
      {"bytes one short", [&] { return Typed(TNXNetElement::Byte, 4).substr(0, kNetHeaderSize + 3); }, 4,
       E::Truncated},
      {"complex numbers above the cap", [&] { return Typed(TNXNetElement::Complex128, 5); }, 4, E::Oversized},
      // 2^28 complex numbers are 2^32 bytes: a 32-bit product would read 0.
      {"complex bytes that wrap at 32 bits", [&] { return with(Typed(TNXNetElement::Complex128, 0), [](std::string& f) {
         Put<std::uint32_t>(f, 32, 1u << 28);
       }); },
       0xFFFFFFFFu, E::BadLength},
      {"integers at rate 0",
       [&] { return with(Typed(TNXNetElement::Int32, 1), [](std::string& f) { Put<std::uint64_t>(f, 24, 0); }); }, 4,
       E::BadRate},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    // A copy of exactly the frame's size: reading past it is the sanitizer's to see.
    const std::string text = c.Make();
    std::vector<std::byte> frame(text.size());
    if (!text.empty()) std::memcpy(frame.data(), text.data(), text.size());
    TNXNetMessage out;
    EXPECT_EQ(NXNetDecode(frame, c.Cap, out), c.Expected) << NXNetErrorText(NXNetDecode(frame, c.Cap, out));
    if (c.Expected != E::Ok) {
      EXPECT_EQ(out.Payload.size(), 0u);
    }
  }
}

TEST(NetSequence, GapsAreCountedAndANewSenderStartsAfresh) {
  struct TStep {
    std::uint32_t Sender;
    std::uint64_t Sequence;
    std::uint64_t Missing;
  };
  const std::vector<TStep> steps = {
      {1, 10, 0},  // the first number seen is where counting starts (a late joiner)
      {1, 11, 0}, {1, 14, 2}, {1, 15, 0}, {1, 20, 4},
      {1, 3, 0},   // numbers going back: the sender began again
      {1, 4, 0},  {2, 0, 0},  // another sender
      {2, 2, 1},  {2, std::numeric_limits<std::uint64_t>::max(), std::numeric_limits<std::uint64_t>::max() - 3},
      {2, std::numeric_limits<std::uint64_t>::max(), 0},
  };
  TNXSequenceTracker tracker;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(tracker.Accept(steps[i].Sender, steps[i].Sequence), steps[i].Missing);
  }
  EXPECT_EQ(tracker.Gaps(), 4u);
  EXPECT_EQ(tracker.Missing(), std::numeric_limits<std::uint64_t>::max());  // saturated, not wrapped
  EXPECT_EQ(tracker.Restarts(), 2u);
}

// ---------------------------------------------------------------- sockets

TNXNetSocketOptions Options(const std::string& AEndpoint, bool ABind, bool APubSub = false, std::int32_t AHwm = 1000,
                            std::int32_t ATimeout = 0) {
  TNXNetSocketOptions o;
  o.Endpoint = AEndpoint;
  o.Bind = ABind;
  o.PubSub = APubSub;
  o.HighWaterMark = AHwm;
  o.TimeoutMs = ATimeout;
  return o;
}

// The next frame, decoded; false on a time-out (10 s: nothing in these tests waits that long when it works).
bool Next(TNXNetSocket& ASocket, TNXNetFrame& AFrame, TNXNetMessage& AMessage, std::int32_t ATimeout = 10000) {
  static const std::atomic<bool> never{false};
  if (ASocket.Receive(AFrame, ATimeout, never) != TNXNetReceive::Message) return false;
  return NXNetDecode(AFrame.Bytes(), 1u << 20, AMessage) == TNXNetError::Ok;
}

TEST(NetSockets, PushPullLosesNothingUnderASlowConsumerAndHoldsTheSenderBack) {
  TNetDir dir;
  constexpr int kBuffers = 600;  // 4.8 MiB of samples: far more than the queues and the kernel hold
  TNXNetSocket pull(TNXNetRole::Receiver, Options(dir.Endpoint("pp"), true, false, 2));
  std::atomic<int> sent{0};
  std::thread producer([&] {
    TNXNetSocket push(TNXNetRole::Sender, Options(dir.Endpoint("pp"), false, false, 2));
    std::vector<double> samples(1024);
    push.Send(TNXNetKind::Start, TNXNetElement::Real64, 48000, nullptr, 0);
    for (int i = 0; i < kBuffers; ++i) {
      for (std::size_t k = 0; k < samples.size(); ++k) samples[k] = i * 10000.0 + static_cast<double>(k);
      if (!push.Send(TNXNetKind::Buffer, TNXNetElement::Real64, 48000, samples.data(), 1024)) return;
      sent.store(i + 1);
    }
    push.Send(TNXNetKind::Stop, TNXNetElement::Real64, 48000, nullptr, 0);
  });
  // The consumer has not read yet: the producer must be waiting, not done.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_LT(sent.load(), kBuffers);
  TNXSequenceTracker tracker;
  TNXNetFrame frame;
  TNXNetMessage m;
  ASSERT_TRUE(Next(pull, frame, m));
  EXPECT_EQ(m.Kind, TNXNetKind::Start);
  tracker.Accept(m.Sender, m.Sequence);
  std::vector<double> samples(1024);
  for (int i = 0; i < kBuffers; ++i) {
    if (i % 100 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));  // a slow consumer
    ASSERT_TRUE(Next(pull, frame, m)) << i << " sent " << sent.load() << " errno " << zmq_strerror(errno);
    ASSERT_EQ(m.Kind, TNXNetKind::Buffer);
    ASSERT_EQ(m.Count, 1024u);
    tracker.Accept(m.Sender, m.Sequence);
    NXNetReadReals(m.Payload, samples.data(), m.Count);
    ASSERT_EQ(samples[0], i * 10000.0);
    ASSERT_EQ(samples[1023], i * 10000.0 + 1023);
  }
  ASSERT_TRUE(Next(pull, frame, m));
  EXPECT_EQ(m.Kind, TNXNetKind::Stop);
  tracker.Accept(m.Sender, m.Sequence);
  producer.join();
  EXPECT_EQ(tracker.Missing(), 0u);
  EXPECT_EQ(tracker.Gaps(), 0u);
  EXPECT_EQ(m.Sequence, static_cast<std::uint64_t>(kBuffers) + 1);
}

TEST(NetSockets, ASlowSubscriberLosesMessagesAndCountsEachOne) {
  TNetDir dir;
  TNXNetSocket pub(TNXNetRole::Sender, Options(dir.Endpoint("ps"), true, true, 4));
  TNXNetSocket sub(TNXNetRole::Receiver, Options(dir.Endpoint("ps"), false, true, 4));
  const std::vector<double> samples(1024, 0.5);
  TNXNetFrame frame;
  TNXNetMessage m;
  // A subscription takes a moment to reach the publisher: publish until one arrives.
  bool joined = false;
  for (int i = 0; i < 1000 && !joined; ++i) {
    pub.Send(TNXNetKind::Start, TNXNetElement::Real64, 48000, nullptr, 0);
    joined = Next(sub, frame, m, 10);
  }
  ASSERT_TRUE(joined);
  TNXSequenceTracker tracker;
  std::uint64_t received = 1;
  const std::uint64_t first = m.Sequence;
  tracker.Accept(m.Sender, m.Sequence);
  // Two thousand buffers while the subscriber reads nothing: its queues overflow.
  for (int i = 0; i < 2000; ++i) pub.Send(TNXNetKind::Buffer, TNXNetElement::Real64, 48000, samples.data(), 1024);
  while (Next(sub, frame, m, 200)) {
    ++received;
    tracker.Accept(m.Sender, m.Sequence);
  }
  // A last message once the subscriber keeps up again shows what was lost at the end.
  bool last = false;
  for (int i = 0; i < 1000 && !last; ++i) {
    pub.Send(TNXNetKind::Stop, TNXNetElement::Real64, 48000, nullptr, 0);
    if (!Next(sub, frame, m, 10)) continue;
    ++received;
    tracker.Accept(m.Sender, m.Sequence);
    last = m.Kind == TNXNetKind::Stop;
  }
  ASSERT_TRUE(last);
  EXPECT_GT(tracker.Missing(), 0u);
  EXPECT_GT(tracker.Gaps(), 0u);
  // Every number from the first to the last was either received or counted missing.
  EXPECT_EQ(received + tracker.Missing(), m.Sequence - first + 1);
}

TEST(NetSockets, OpeningFailuresNameTheEndpointAndASendGivesUpAfterItsTimeout) {
  TNetDir dir;
  TNXNetSocket first(TNXNetRole::Sender, Options("tcp://127.0.0.1:*", true));
  const std::string taken = first.BoundEndpoint();
  ASSERT_NE(taken.find("tcp://127.0.0.1:"), std::string::npos) << taken;
  struct TCase {
    std::string Endpoint;
    bool Bind;
    std::string Expected;
  };
  for (const TCase& c : std::vector<TCase>{{taken, true, taken + ": cannot bind: Address already in use"},
                                           {"nowhere", false, "nowhere: cannot connect: Invalid argument"},
                                           {"tcp://no-such-host-name.invalid:1", true, "cannot bind"}}) {
    SCOPED_TRACE(c.Endpoint);
    try {
      TNXNetSocket s(TNXNetRole::Sender, Options(c.Endpoint, c.Bind));
      ADD_FAILURE() << "opened";
    } catch (const ENetError& e) {
      EXPECT_NE(std::string(e.what()).find(c.Expected), std::string::npos) << e.what();
    }
  }
  // A PUSH bound with no consumer: the send waits its 50 ms, then gives up, using no sequence number.
  TNXNetSocket lonely(TNXNetRole::Sender, Options(dir.Endpoint("lonely"), true, false, 1, 50));
  EXPECT_FALSE(lonely.Send(TNXNetKind::Start, TNXNetElement::Real64, 8000, nullptr, 0));
  EXPECT_EQ(lonely.Sent(), 0u);
}

// ---------------------------------------------------------------- components

template <class T>
using TOwned = nx::test::TComponentPtr<T>;
using TRecorder = nx::test::TRecordingSink<TNXFTRealSinkPin>;

// Sends raw frames (and one message of two parts) as a hostile or buggy peer would.
class TRawPush {
 public:
  explicit TRawPush(const std::string& AEndpoint) : FContext(zmq_ctx_new()), FSocket(zmq_socket(FContext, ZMQ_PUSH)) {
    zmq_connect(FSocket, AEndpoint.c_str());
  }
  ~TRawPush() {
    zmq_close(FSocket);
    zmq_ctx_term(FContext);
  }
  void Send(const std::string& AFrame, bool AMore = false) {
    ASSERT_GE(zmq_send(FSocket, AFrame.data(), AFrame.size(), AMore ? ZMQ_SNDMORE : 0), 0);
  }

 private:
  void* FContext;
  void* FSocket;
};

TEST(NetSource, DropsAndCountsHostileFramesAndRelaysTheStreamInOrderThroughASink) {
  TNetDir dir;
  TNXVirtualClockGuard virtualTime;
  TOwned<TNXNetSource> source(new TNXNetSource());
  source->SetEndpoint(dir.Endpoint("in"));
  source->SetBind(true);
  source->SetMaxSamples(64);
  source->SetReceiveTimeout(10000);
  TNXNetSocket out(TNXNetRole::Receiver, Options(dir.Endpoint("out"), false));
  TOwned<TNXNetSink> sink(new TNXNetSink());
  sink->SetEndpoint(dir.Endpoint("out"));
  TRecorder recorder;
  source->OutputPin().Connect(sink->InputPin());
  source->OutputPin().Connect(&recorder.Pin);
  flow::TFlowRunContext context;
  source->FlowPrepare(context);
  sink->FlowPrepare(context);

  const std::vector<double> a = {1, 2, 3, 4}, b = {5, 6}, c = {7, 8, 9};
  std::string wrongVersion = Buffer(2, a);
  Put<std::uint16_t>(wrongVersion, 4, 2);
  std::string badLength = Buffer(2, a);
  Put<std::uint32_t>(badLength, 32, 5);
  std::string ints = Buffer(2, a);
  ints[7] = static_cast<char>(TNXNetElement::Int32);
  Put<std::uint32_t>(ints, 36, 16);
  ints.resize(kNetHeaderSize + 16);
  {
    TRawPush peer(dir.Endpoint("in"));
    peer.Send(Frame(TNXNetKind::Start, TNXNetElement::Real64, 0, 8000));
    peer.Send(Buffer(1, a));
    peer.Send("garbage");                          // truncated
    peer.Send(wrongVersion);                       // wrong version
    peer.Send(Buffer(2, std::vector<double>(65)));  // oversized
    peer.Send(badLength);                          // bad length
    peer.Send(ints);                               // wrong type for a source of doubles
    peer.Send(Buffer(2, a), true);                 // two parts
    peer.Send(Buffer(2, a));
    peer.Send(Frame(TNXNetKind::Pause, TNXNetElement::Real64, 2, 8000));
    peer.Send(Frame(TNXNetKind::Resume, TNXNetElement::Real64, 3, 8000));
    peer.Send(Buffer(6, b));  // 4 and 5 lost
    peer.Send(Buffer(7, c));
    TNXNetMessage flush;  // a closing sender's: read and dropped
    flush.Kind = TNXNetKind::Flush;
    flush.Element = TNXNetElement::Byte;
    flush.Sender = 77;
    flush.Sequence = 8;
    flush.Count = 3;
    flush.Payload = std::as_bytes(std::span("abc", 3));
    peer.Send(NXNetEncodeToString(flush));
    peer.Send(Frame(TNXNetKind::Stop, TNXNetElement::Real64, 9, 8000));
    source->Start();
    ASSERT_TRUE(recorder.WaitOp("TFTStopOperation"));
  }
  EXPECT_EQ(recorder.CountOf("TFTStopOperation"), 1);
  source->Stop();

  EXPECT_EQ(recorder.Rates(), std::vector<double>{8000});
  EXPECT_EQ(recorder.Samples(), (std::vector<std::vector<double>>{a, b, c}));
  EXPECT_EQ(recorder.BuffersBefore("TFTNXPauseOperation"), 1);
  EXPECT_EQ(recorder.BuffersBefore("TFTNXResumeOperation"), 1);
  const TNXNetSourceStats stats = source->Stats();
  EXPECT_EQ(stats.Messages, 7u);
  EXPECT_EQ(stats.Buffers, 3u);
  EXPECT_EQ(stats.Rejected, 6u);
  for (TNXNetError reason : {TNXNetError::Truncated, TNXNetError::WrongVersion, TNXNetError::Oversized,
                             TNXNetError::BadLength, TNXNetError::WrongType})
    EXPECT_EQ(stats.Reason(reason), 1u) << NXNetErrorText(reason);
  EXPECT_EQ(stats.Multipart, 1u);
  EXPECT_EQ(stats.Gaps, 1u);
  EXPECT_EQ(stats.Missing, 2u);
  flow::TFlowNodeReport report;
  source->FlowFinish(context, report);
  EXPECT_NE(report.Summary.find("1 gaps (2 missing), 6 rejected (1 truncated, 1 wrong version, 1 wrong type, 1 bad "
                                "length, 1 oversized, 1 in several parts)"),
            std::string::npos)
      << report.Summary;

  // The sink sent the stream on as it came, numbered afresh without a gap.
  const std::vector<std::pair<TNXNetKind, std::vector<double>>> expected = {
      {TNXNetKind::Start, {}}, {TNXNetKind::Buffer, a}, {TNXNetKind::Pause, {}}, {TNXNetKind::Resume, {}},
      {TNXNetKind::Buffer, b}, {TNXNetKind::Buffer, c}, {TNXNetKind::Stop, {}}};
  TNXNetFrame frame;
  TNXNetMessage m;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(Next(out, frame, m));
    EXPECT_EQ(m.Kind, expected[i].first);
    EXPECT_EQ(m.Sequence, i);
    EXPECT_EQ(m.SampleRate, 8000);
    std::vector<double> got(m.Count);
    NXNetReadReals(m.Payload, got.data(), m.Count);
    EXPECT_EQ(got, expected[i].second);
  }
  EXPECT_EQ(sink->MessagesSent(), expected.size());
}

// A buffer's type as this test names it, and its bytes.
struct TTypedBuffer {
  std::string Kind;
  std::vector<std::uint8_t> Bytes;
  bool operator==(const TTypedBuffer&) const = default;
};

TTypedBuffer Describe(const TIntfPtr<INXData>& AData) {
  TTypedBuffer out;
  TIntfPtr<INXRealBuffer> real;
  TIntfPtr<INXIntegerBuffer> ints;
  TIntfPtr<INXUnsignedBuffer> cards;
  TIntfPtr<INXComplexBuffer> complex;
  TIntfPtr<INXBlockBuffer> block;
  out.Kind = Supports(AData, real) ? "real" : Supports(AData, ints) ? "integer" : Supports(AData, cards) ? "unsigned"
           : Supports(AData, complex) ? "complex" : Supports(AData, block) ? "bytes" : "other";
  TIntfPtr<INXDataBuffer> buffer;
  if (Supports(AData, buffer) && buffer->GetByteSize() > 0)
    out.Bytes.assign(buffer->ByteRead(), buffer->ByteRead() + buffer->GetByteSize());
  return out;
}

TEST(NetSource, EachElementTypeCrossesTcpExactlyAndKeepsItsKind) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::int32_t low = std::numeric_limits<std::int32_t>::min(), high = std::numeric_limits<std::int32_t>::max();
  struct TCase {
    const char* Name;
    std::vector<TIntfPtr<INXData>> Buffers;
    const char* Kind;  // as the receiving graph gets it
  };
  const std::vector<TCase> cases = {
      {"doubles",
       {TIntfPtr<INXData>(TNXRealBuffer::MakeArray({0.1, -0.0, 1e-310, nan, -2.5e300})),
        TIntfPtr<INXData>(TNXRealBuffer::MakeArray({7}))},
       "real"},
      {"integers",
       {TIntfPtr<INXData>(TNXIntegerBuffer::MakeArray({low, -1, 0, 1, high})),
        TIntfPtr<INXData>(TNXIntegerBuffer::MakeArray({123456789}))},
       "integer"},
      {"unsigned integers",
       {TIntfPtr<INXData>(TNXUnsignedBuffer::MakeArray({0u, 1u, 0x80000000u, 0xFFFFFFFFu})),
        TIntfPtr<INXData>(TNXUnsignedBuffer::MakeArray({42u, 43u}))},
       "unsigned"},
      {"complex numbers",
       {TIntfPtr<INXData>(TNXComplexBuffer::MakeArray({TComplex{1, -2}, TComplex{-0.0, 1e300}, TComplex{nan, 3}})),
        TIntfPtr<INXData>(TNXComplexBuffer::MakeArray({TComplex{0.5, 0.25}}))},
       "complex"},
      {"bytes",
       {TIntfPtr<INXData>(TNXBlockBuffer::MakeValue(3, 0xFF)),
        TIntfPtr<INXData>(TNXBlockBuffer::MakeValue(1, 0x00))},
       "bytes"},
      // A kind the format has no type for travels as its bytes.
      {"Boolean flags",
       {TIntfPtr<INXData>(TNXBooleanBuffer::MakeArray({true, false, true, true, false, false, false, false, true}))},
       "bytes"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TNXVirtualClockGuard virtualTime;
    TOwned<TNXNetSink> sink(new TNXNetSink());
    sink->SetEndpoint("tcp://127.0.0.1:*");
    TOwned<TNXNetSource> source(new TNXNetSource());
    source->SetReceiveTimeout(10000);
    nx::test::TRecordingSink<TNXFTIntegerRealComplexBinarySinkPin> recorder;
    TNXFTIntegerRealComplexBinarySourcePin upstream("Up");
    ASSERT_TRUE(upstream.Connect(sink->InputPin()));
    source->OutputPin().Connect(&recorder.Pin);
    flow::TFlowRunContext context;
    sink->FlowPrepare(context);
    source->SetEndpoint(sink->BoundEndpoint());
    source->FlowPrepare(context);

    upstream.Notify(TFTStartSampleRateOperation::Make(16000));
    for (const auto& b : c.Buffers) upstream.Notify(TFTSuppliedBufferOperation::Make(b));
    upstream.Notify(TFTStopOperation::Make());
    source->Start();
    ASSERT_TRUE(recorder.WaitOp("TFTStopOperation"));
    source->Stop();

    std::vector<TTypedBuffer> sent, got;
    for (const auto& b : c.Buffers) sent.push_back({c.Kind, Describe(b).Bytes});
    for (const auto& b : recorder.Buffers()) got.push_back(Describe(b));
    EXPECT_EQ(got, sent);
    EXPECT_EQ(recorder.Rates(), std::vector<double>{16000});
    EXPECT_EQ(source->Stats().Rejected, 0u);
    EXPECT_EQ(sink->Buffers(), static_cast<std::int64_t>(c.Buffers.size()));
    upstream.DisconnectAll();
  }
}

// What the source's output pin hands each kind of sink, for each kind of
// buffer: the buffer itself, a conversion the sink's kind holds exactly, or
// nothing.
TEST(NetOutputPin, EachLinkGetsTheBufferAsItsKindHoldsIt) {
  TNXNetOutputPin out("Out");
  nx::test::TRecordingSink<TNXFTRealSinkPin> reals;
  nx::test::TRecordingSink<TNXFTIntegerSinkPin> ints;
  nx::test::TRecordingSink<TNXFTComplexSinkPin> complexes;
  nx::test::TRecordingSink<TNXFTBinarySinkPin> blocks;
  nx::test::TRecordingSink<TNXFTIntegerRealComplexBinarySinkPin> any;
  const std::initializer_list<TFTSinkPin*> sinks = {&reals.Pin, &ints.Pin, &complexes.Pin, &blocks.Pin, &any.Pin};
  for (TFTSinkPin* pin : sinks) ASSERT_TRUE(out.Connect(pin));
  const std::int32_t i[] = {-7, 1 << 30};
  const std::uint32_t u[] = {0xFFFFFFFFu};
  const double d[] = {0.5, -1};
  const std::uint8_t b[] = {1, 2, 3};
  const TComplex z[] = {{1, 2}};
  auto bytesOf = [](const auto& AArray) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&AArray[0]);
    return std::vector<std::uint8_t>(p, p + sizeof AArray);
  };
  auto realsOf = [](std::initializer_list<double> AValues) {
    std::vector<std::uint8_t> out(AValues.size() * sizeof(double));
    std::memcpy(out.data(), AValues.begin(), out.size());
    return out;
  };
  struct TCase {
    const char* Name;
    TIntfPtr<INXData> Buffer;
    // What the real, integer, complex and byte sinks receive ("" kind: nothing).
    std::array<TTypedBuffer, 4> Expected;
  };
  const TTypedBuffer none{};
  const std::vector<TCase> cases = {
      {"integers", TIntfPtr<INXData>(TNXIntegerBuffer::MakeArray({i[0], i[1]})),
       {TTypedBuffer{"real", realsOf({-7, 1 << 30})}, TTypedBuffer{"integer", bytesOf(i)}, none,
        TTypedBuffer{"bytes", bytesOf(i)}}},
      {"unsigned integers", TIntfPtr<INXData>(TNXUnsignedBuffer::MakeArray({u[0]})),
       {TTypedBuffer{"real", realsOf({4294967295.0})}, none, none, TTypedBuffer{"bytes", bytesOf(u)}}},
      {"doubles", TIntfPtr<INXData>(TNXRealBuffer::MakeArray({d[0], d[1]})),
       {TTypedBuffer{"real", bytesOf(d)}, none, none, TTypedBuffer{"bytes", bytesOf(d)}}},
      {"complex numbers", TIntfPtr<INXData>(TNXComplexBuffer::MakeArray({z[0]})),
       {none, none, TTypedBuffer{"complex", bytesOf(z)}, TTypedBuffer{"bytes", bytesOf(z)}}},
      {"bytes", TIntfPtr<INXData>(TNXBlockBuffer::MakeData(b, 3)),
       {none, none, none, TTypedBuffer{"bytes", bytesOf(b)}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::size_t before[] = {reals.Count(), ints.Count(), complexes.Count(), blocks.Count(), any.Count()};
    out.Notify(TFTSuppliedBufferOperation::Make(c.Buffer));
    const std::vector<TIntfPtr<INXData>> got[] = {reals.Buffers(), ints.Buffers(), complexes.Buffers(),
                                                  blocks.Buffers()};
    for (std::size_t k = 0; k < 4; ++k) {
      SCOPED_TRACE(k);
      const TTypedBuffer received = got[k].size() > before[k] ? Describe(got[k].back()) : none;
      EXPECT_EQ(received, c.Expected[k]);
    }
    // A sink of every kind gets the buffer itself.
    ASSERT_EQ(any.Count(), before[4] + 1);
    EXPECT_EQ(any.Buffers().back().Get(), c.Buffer.Get());
  }
  out.DisconnectAll();
}

// A stream keeps the element type of its first buffer until the next start.
TEST(NetSource, ABufferOfAnotherTypeThanItsStreamsIsRefusedUntilTheNextStart) {
  TNetDir dir;
  TNXVirtualClockGuard virtualTime;
  TOwned<TNXNetSource> source(new TNXNetSource());
  source->SetEndpoint(dir.Endpoint("mixed"));
  source->SetBind(true);
  source->SetReceiveTimeout(10000);
  nx::test::TRecordingSink<TNXFTIntegerRealComplexBinarySinkPin> recorder;
  source->OutputPin().Connect(&recorder.Pin);
  flow::TFlowRunContext context;
  source->FlowPrepare(context);
  const std::vector<std::int32_t> ints = {1, 2};
  auto intFrame = [&](std::uint64_t ASequence) {
    TNXNetMessage m;
    m.Kind = TNXNetKind::Buffer;
    m.Element = TNXNetElement::Int32;
    m.Sender = 77;
    m.Sequence = ASequence;
    m.SampleRate = 8000;
    m.Count = 2;
    m.Payload = std::as_bytes(std::span(ints));
    return NXNetEncodeToString(m);
  };
  {
    TRawPush peer(dir.Endpoint("mixed"));
    peer.Send(Frame(TNXNetKind::Start, TNXNetElement::None, 0, 8000));
    peer.Send(intFrame(1));
    peer.Send(Buffer(2, {1.5}));  // refused: the stream is of integers
    peer.Send(intFrame(3));
    peer.Send(Frame(TNXNetKind::Start, TNXNetElement::None, 4, 8000));
    peer.Send(Buffer(5, {2.5}));  // a new stream, of doubles
    peer.Send(intFrame(6));       // refused
    peer.Send(Frame(TNXNetKind::Stop, TNXNetElement::Real64, 7, 8000));
    source->Start();
    ASSERT_TRUE(recorder.WaitOp("TFTStopOperation"));
  }
  source->Stop();
  std::vector<std::string> kinds;
  for (const auto& b : recorder.Buffers()) kinds.push_back(Describe(b).Kind);
  EXPECT_EQ(kinds, (std::vector<std::string>{"integer", "integer", "real"}));
  EXPECT_EQ(recorder.Samples(), (std::vector<std::vector<double>>{{1, 2}, {1, 2}, {2.5}}));
  EXPECT_EQ(source->Stats().Reason(TNXNetError::WrongType), 2u);
  EXPECT_EQ(source->Stats().Gaps, 0u);
}

TEST(NetSource, AStreamThatNeverComesEndsWithAFaultNamingTheEndpoint) {
  TNetDir dir;
  TNXVirtualClockGuard virtualTime;
  TOwned<TNXNetSource> source(new TNXNetSource());
  source->SetEndpoint(dir.Endpoint("silent"));
  source->SetReceiveTimeout(50);
  source->SetName("Receive");
  TRecorder recorder;
  source->OutputPin().Connect(&recorder.Pin);
  flow::TFlowRunContext context;
  source->FlowPrepare(context);
  source->Start();
  ASSERT_TRUE(recorder.WaitOp("TFTStopOperation"));
  EXPECT_EQ(source->FlowFault(), "Receive: no stream arrived on " + dir.Endpoint("silent") + " within 50 ms");
  EXPECT_EQ(recorder.Count(), 0u);
  source->Stop();
}

TEST(NetSource, AStopFromTheHostEndsAWaitForAMessage) {
  TNetDir dir;
  TNXVirtualClockGuard virtualTime;
  TOwned<TNXNetSource> source(new TNXNetSource());
  source->SetEndpoint(dir.Endpoint("quiet"));
  source->SetBind(true);
  source->SetReceiveTimeout(0);  // for ever
  TRecorder recorder;
  source->OutputPin().Connect(&recorder.Pin);
  flow::TFlowRunContext context;
  source->FlowPrepare(context);
  TRawPush peer(dir.Endpoint("quiet"));
  peer.Send(Frame(TNXNetKind::Start, TNXNetElement::Real64, 0, 1000));
  peer.Send(Buffer(1, {1, 2}));
  source->Start();
  ASSERT_TRUE(recorder.WaitBuffers(1));
  // The clock's next tick waits for a message that never comes; the stop must not.
  source->Stop();
  EXPECT_EQ(recorder.CountOf("TFTStopOperation"), 1);
  EXPECT_EQ(source->FlowFault(), "");
}

// ---------------------------------------------------------------- two processes

std::string ReadAll(const fs::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// nxflow in a child process, its output in ADir / NAME.out and NAME.err.
pid_t Spawn(const fs::path& ADir, const std::string& AName, std::vector<std::string> AArgs) {
  AArgs.insert(AArgs.begin(), {NX_FLOW_PROGRAM, "--packages", NX_FLOW_PACKAGES});
  const std::string out = (ADir / (AName + ".out")).string(), err = (ADir / (AName + ".err")).string();
  std::vector<char*> argv;
  for (std::string& a : AArgs) argv.push_back(a.data());
  argv.push_back(nullptr);
  const char* lsan = std::getenv("LSAN_OPTIONS");
  ::setenv("LSAN_OPTIONS", (std::string(lsan ? lsan : "") + ":print_suppressions=0").c_str(), 1);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// The exit status of APid; -1 after 120 s, the child then killed.
int WaitExit(pid_t APid) {
  for (int i = 0; i < 12000; ++i) {
    int status = 0;
    if (::waitpid(APid, &status, WNOHANG) == APid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(APid, SIGKILL);
  ::waitpid(APid, nullptr, 0);
  return -1;
}

TEST(NetTwoProcesses, TheBundledPairWritesExactlyWhatTheGraphWritesInOneProcess) {
  TNetDir dir;
  const fs::path graphs = NX_FLOW_GRAPHS;
  const fs::path local = dir.Path("local");
  ASSERT_EQ(WaitExit(Spawn(dir.Path(""), "local",
                           {"run", (graphs / "net-local.xml").string(), "--out", local.string()})), 0)
      << ReadAll(dir.Path("local.err"));
  const std::string expected = ReadAll(local / "net-lowpass.csv");
  ASSERT_GT(expected.size(), 1000000u);
  struct TCase {
    const char* Name;
    bool SinkBinds;
    bool ReceiverFirst;
  };
  for (const TCase& c : {TCase{"sink binds, receiver first", true, true},
                         TCase{"source binds, sender first", false, false}}) {
    SCOPED_TRACE(c.Name);
    const std::string name = c.SinkBinds ? "a" : "b";
    const std::string endpoint = dir.Endpoint("link-" + name);
    const std::vector<std::string> receive = {"run", (graphs / "net-receive.xml").string(),
                                              "--out", dir.Path("recv-" + name).string(),
                                              "--set", "Receive.Endpoint=" + endpoint,
                                              "--set", std::string("Receive.Bind=") + (c.SinkBinds ? "false" : "true"),
                                              "--set", "Receive.ReceiveTimeout=60000"};
    const std::vector<std::string> send = {"run", (graphs / "net-send.xml").string(),
                                           "--out", dir.Path("send-" + name).string(),
                                           "--set", "Send.Endpoint=" + endpoint,
                                           "--set", std::string("Send.Bind=") + (c.SinkBinds ? "true" : "false")};
    const pid_t first = Spawn(dir.Path(""), "first-" + name, c.ReceiverFirst ? receive : send);
    const pid_t second = Spawn(dir.Path(""), "second-" + name, c.ReceiverFirst ? send : receive);
    const int firstStatus = WaitExit(first), secondStatus = WaitExit(second);
    EXPECT_EQ(firstStatus, 0) << ReadAll(dir.Path("first-" + name + ".err"));
    EXPECT_EQ(secondStatus, 0) << ReadAll(dir.Path("second-" + name + ".err"));
    const std::string received = ReadAll(dir.Path("recv-" + name) / "net-lowpass.csv");
    EXPECT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected) << "the CSV files differ";
    const std::string report = ReadAll(dir.Path((c.ReceiverFirst ? "first-" : "second-") + name + ".out"));
    EXPECT_NE(report.find("0 gaps (0 missing), 0 rejected"), std::string::npos) << report;
  }
}

}  // namespace
}  // namespace nxtest
