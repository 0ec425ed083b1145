// NXNetComponents: a graph split across processes or machines.
//
//   TNXNetSink    the end of a graph: sends every operation its input gets
//                 (the start with its sample rate, each buffer, pause,
//                 resume, stop) as a network message;
//   TNXNetSource  a generator whose buffers are the ones that arrive: it
//                 replays the operations downstream in the order sent.
//
// Properties shared by both: Endpoint ("tcp://127.0.0.1:5555",
// "ipc:///tmp/name" ...), Pattern (npPushPull: one consumer, a sender waits
// when the consumer falls behind and nothing is lost; npPubSub: any number
// of consumers, a slow one loses messages and counts them), Bind (the sink
// binds and the source connects by default), HighWaterMark (messages queued
// per peer on each side).
//
// How the source keeps pace. Its clock ticks every buffer, as any
// generator's, and each tick takes the next message, waiting for it with the
// component's lock released. On virtual time the master clock steps only
// when every clock has handled its tick, so the receiving graph advances
// exactly as fast as messages arrive; on real time a tick that finds nothing
// waits, and the ticks it missed come in a burst once messages flow again.
//
// Starting. The source's stream starts once the sender's has: starting waits
// (up to ReceiveTimeout) for the first message that names a sample rate (a
// start, or a buffer for a subscriber that joined late) and for the first
// buffer after it, and takes the rate and that buffer's size as SampleRate
// and its clock's buffer size. Pause and resume are replayed as they come;
// while paused there is no time-out. A start arriving mid-stream (the sender
// began again) is announced downstream with its rate.
//
// Ending. A stop message ends the source's stream (as a file player ends at
// the end of its file), so `nxflow run` of the receiving document ends once
// the sender's stream has: the document's Seconds is an upper bound. A
// source that hears nothing for ReceiveTimeout ms (0: it waits for ever)
// ends its stream with a fault, and so does a sink that cannot send for
// SendTimeout ms (0: for ever); `nxflow run` then fails with that line.
//
// Element types. A stream is of one element type, the type of its first
// buffer: doubles, integers, unsigned integers, complex numbers or bytes
// (see the output pin below); a later buffer of another type is refused.
//
// Hostile input. The source drops and counts (by reason) every message that
// is truncated, oversized (more than MaxSamples samples), of another format
// version, of a kind or type it does not know (or a buffer of another
// element type than its stream's), of a bad length or rate, or in several
// parts, and goes on. A gap in the sequence numbers is counted (Gaps,
// Missing) and reported in the run's summary line.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "components/NXFlowNode.h"
#include "components/NXCommonGen.h"
#include "components/NXPinOwner.h"
#include "streams/NXStreamTypes.h"
#include "packages/nxnet/NXNetSocket.h"
#include "runtime/Zandor.TypeInfo.h"

namespace nx::net {

enum TNXNetPattern : std::int32_t { npPushPull, npPubSub };
NX_ENUM_NAMES(TNXNetPattern, "npPushPull", "npPubSub")

inline constexpr const char* kNetDefaultEndpoint = "tcp://127.0.0.1:5555";

class TNXNetSink : public TLockComponent, public INXPinOwner, public flow::INXFlowNode {
  NX_PERSISTENT(TNXNetSink, TLockComponent)
 public:
  explicit TNXNetSink(TComponent* AOwner = nullptr);
  ~TNXNetSink() override;
  static void DeclareProperties(TClassBuilder<TNXNetSink>& P);

  std::string GetEndpoint() const { return ReadLocked(FEndpoint); }
  void SetEndpoint(const std::string& AValue) { SetNotify(FEndpoint, AValue); }
  TNXNetPattern GetPattern() const { return ReadLocked(FPattern); }
  void SetPattern(TNXNetPattern AValue) { SetNotify(FPattern, AValue); }
  bool GetBind() const { return ReadLocked(FBind); }
  void SetBind(bool AValue) { SetNotify(FBind, AValue); }
  std::int32_t GetHighWaterMark() const { return ReadLocked(FHighWaterMark); }
  void SetHighWaterMark(std::int32_t AValue) { SetNotifyMin(FHighWaterMark, AValue, std::int32_t(1)); }
  std::int32_t GetSendTimeout() const { return ReadLocked(FSendTimeout); }
  void SetSendTimeout(std::int32_t AValue) { SetNotifyMin(FSendTimeout, AValue, std::int32_t(0)); }

  // "InputPin": buffers of doubles, 32-bit integers, 32-bit unsigned
  // integers, complex numbers and bytes travel as they are; any other kind
  // a link delivers (Boolean buffers ...) is sent as doubles.
  TNXFTIntegerRealComplexBinarySinkPin* InputPin() const noexcept { return FInputPin.get(); }

  // Opens the socket now with the current properties (a run's FlowPrepare
  // does it, else the first stream); ENetError when it cannot bind or
  // connect. Opening again does nothing.
  void Open();
  // The endpoint bound or connected ("" before Open).
  std::string BoundEndpoint() const;
  // Messages sent; messages given up after SendTimeout.
  std::uint64_t MessagesSent() const;
  std::uint64_t SendTimeouts() const;
  // What arrived since the run began (snapshots).
  std::int64_t Buffers() const;
  std::int64_t Samples() const;
  double StreamRate() const;

  void FlowPrepare(const flow::TFlowRunContext& AContext) override;
  void FlowFinish(const flow::TFlowRunContext& AContext, flow::TFlowNodeReport& AReport) override;
  std::string FlowFault() const override;
  void BeforeDestruction() override;

 private:
  bool Dispatch(const TIntfPtr<IFTNotifyOperation>& AOperation);
  // Data lock held.
  void OpenLocked();
  void SendLocked(TNXNetKind AKind, TNXNetElement AElement, const void* APayload, std::uint32_t ACount);
  std::string Who() const;

  std::string FEndpoint = kNetDefaultEndpoint;
  TNXNetPattern FPattern = npPushPull;
  bool FBind = true;
  std::int32_t FHighWaterMark = 1000;
  std::int32_t FSendTimeout = 30000;

  // Taken before the component's lock (ReadLocked), never after it.
  mutable std::mutex FDataLock;
  std::unique_ptr<TNXNetSocket> FSocket;  // data lock
  std::uint64_t FTimeouts = 0;            // data lock
  std::int64_t FBuffers = 0;              // data lock
  std::int64_t FSamples = 0;              // data lock
  double FRate = 0;                       // data lock
  bool FStarted = false;                  // data lock: a start was sent, its stop is due
  // Data lock: the element type of the stream's last buffer, named by its
  // pause, resume and stop messages (doubles before the first buffer).
  TNXNetElement FElement = TNXNetElement::Real64;
  mutable std::mutex FFaultLock;
  std::string FFault;  // fault lock
  TNXOwnedPin<TNXFTIntegerRealComplexBinarySinkPin> FInputPin{this, "InputPin"};
};

// What a source received and refused (a snapshot).
struct TNXNetSourceStats {
  std::uint64_t Messages = 0;  // accepted
  std::uint64_t Buffers = 0;   // buffers accepted
  std::uint64_t Rejected = 0;  // refused, in all
  std::array<std::uint64_t, kNetErrorCount> ByReason{};  // indexed by TNXNetError
  std::uint64_t Multipart = 0;  // messages of several parts (counted in Rejected too)
  std::uint64_t Gaps = 0;       // times the sequence jumped
  std::uint64_t Missing = 0;    // messages missing in those jumps
  std::uint64_t Restarts = 0;   // a new sender, or numbers going back
  std::uint64_t Reason(TNXNetError AError) const { return ByReason[static_cast<std::size_t>(AError)]; }
};

// The source's output pin: buffers of doubles, 32-bit integers, 32-bit
// unsigned integers, complex numbers or bytes. A link carries the kind it
// was made for; each buffer goes over each link as that kind: as it is when
// the kinds agree, integers of either sign as doubles (exactly) over a link
// of doubles, any buffer as its bytes over a link of bytes. A buffer the
// link's kind cannot hold (complex numbers to a sink of doubles, doubles to
// a sink of integers) is not sent over that link.
class TNXNetOutputPin : public TNXFTIntegerRealComplexBinarySourcePin {
  NX_FT_PIN_CLASS(TNXNetOutputPin, TNXFTIntegerRealComplexBinarySourcePin)
 public:
  using TNXFTIntegerRealComplexBinarySourcePin::TNXFTIntegerRealComplexBinarySourcePin;
  bool Notify(const TIntfPtr<IFTNotifyOperation>& AOperation) override;
};

// The output pin ("OutputPin") sends each buffer as the kind it arrived as
// (TNXNetOutputPin above).
class TNXNetSource : public TNXGenWithOutput<TNXCommonPinBufferGen, TNXNetOutputPin>,
                     public flow::INXFlowNode,
                     public flow::INXFlowReadings {
  NX_PERSISTENT(TNXNetSource, TNXCommonPinBufferGen)
 public:
  explicit TNXNetSource(TComponent* AOwner = nullptr);
  ~TNXNetSource() override;
  static void DeclareProperties(TClassBuilder<TNXNetSource>& P);

  std::string GetEndpoint() const { return ReadLocked(FEndpoint); }
  void SetEndpoint(const std::string& AValue) { SetNotify(FEndpoint, AValue); }
  TNXNetPattern GetPattern() const { return ReadLocked(FPattern); }
  void SetPattern(TNXNetPattern AValue) { SetNotify(FPattern, AValue); }
  bool GetBind() const { return ReadLocked(FBind); }
  void SetBind(bool AValue) { SetNotify(FBind, AValue); }
  std::int32_t GetHighWaterMark() const { return ReadLocked(FHighWaterMark); }
  void SetHighWaterMark(std::int32_t AValue) { SetNotifyMin(FHighWaterMark, AValue, std::int32_t(1)); }
  std::int32_t GetReceiveTimeout() const { return ReadLocked(FReceiveTimeout); }
  void SetReceiveTimeout(std::int32_t AValue) { SetNotifyMin(FReceiveTimeout, AValue, std::int32_t(0)); }
  std::int32_t GetMaxSamples() const { return ReadLocked(FMaxSamples); }
  void SetMaxSamples(std::int32_t AValue) { SetNotifyMin(FMaxSamples, AValue, std::int32_t(1)); }

  // As the sink's.
  void Open();
  std::string BoundEndpoint() const;
  TNXNetSourceStats Stats() const;

  void FlowPrepare(const flow::TFlowRunContext& AContext) override;
  void FlowFinish(const flow::TFlowRunContext& AContext, flow::TFlowNodeReport& AReport) override;
  std::string FlowFault() const override;
  // Live: Messages, Rejected, Gaps, Missing, Restarts (from Stats()).
  void FlowReadings(std::vector<flow::TFlowReading>& AOut) const override;
  void BeforeDestruction() override;

 protected:
  // Under the component's lock, before the rate is announced: waits for the
  // sender's stream (see the unit's comment).
  void StartStream() override;
  void StreamStop() override;
  std::int32_t GetBufferSize() const override;
  // One received buffer per pump, of the kind it arrived as.
  void IntGenerate(TIntfPtr<INXDataBuffer>& ABuffer, bool& ASendFlag, bool& AStopFlag) override;

 private:
  // One accepted message, its buffer made.
  struct TItem {
    TNXNetKind Kind = TNXNetKind::Stop;
    double Rate = 0;
    TIntfPtr<INXDataBuffer> Buffer;
  };
  enum class TWait : std::uint8_t { Item, Timeout, Cancelled };
  // Receives until a message is accepted (refused ones are counted) or the
  // wait ends; the caller holds the socket lock.
  TWait ReceiveItem(std::int32_t ATimeoutMs, TItem& AItem);
  void Reject(TNXNetError AReason, bool AMultipart = false);
  void SetFault(const std::string& AFault);
  std::string Where() const;

  std::string FEndpoint = kNetDefaultEndpoint;
  TNXNetPattern FPattern = npPushPull;
  bool FBind = false;
  std::int32_t FHighWaterMark = 1000;
  std::int32_t FReceiveTimeout = 30000;
  std::int32_t FMaxSamples = 1 << 20;

  std::mutex FSocketLock;  // taken after the component's lock, or without it
  std::unique_ptr<TNXNetSocket> FSocket;
  std::atomic<bool> FCancel{false};  // a stop or the end asks a wait to end
  // Socket lock: the element type of the stream's buffers, set by its first
  // buffer and cleared by a start (None: not known yet).
  TNXNetElement FStreamElement = TNXNetElement::None;

  // Component lock: the stream as it started and what came before its first
  // tick.
  std::int32_t FStreamBufferSize = 0;
  std::deque<TItem> FPending;
  bool FPaused = false;
  bool FEndNow = false;
  bool FStarted = false;  // StartStream ran; a second call in one stream does nothing

  mutable std::mutex FStatsLock;
  TNXNetSourceStats FStats;          // stats lock
  TNXSequenceTracker FSequence;      // stats lock
  std::string FFault;                // stats lock
};

}  // namespace nx::net
