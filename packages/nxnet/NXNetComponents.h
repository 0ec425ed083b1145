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
// Hostile input. The source drops and counts (by reason) every message that
// is truncated, oversized (more than MaxSamples samples), of another format
// version, of a kind or type it does not know (a buffer of another element
// type than doubles), of a bad length or rate, or in several parts, and goes
// on. A gap in the sequence numbers is counted (Gaps, Missing) and reported
// in the run's summary line.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "components/NXFlowNode.h"
#include "components/NXRealGenerator.h"
#include "components/NXRealSink.h"
#include "packages/nxnet/NXNetSocket.h"
#include "runtime/Zandor.TypeInfo.h"

namespace nx::net {

enum TNXNetPattern : std::int32_t { npPushPull, npPubSub };
NX_ENUM_NAMES(TNXNetPattern, "npPushPull", "npPubSub")

inline constexpr const char* kNetDefaultEndpoint = "tcp://127.0.0.1:5555";

class TNXNetSink : public TNXRealSink {
  NX_PERSISTENT(TNXNetSink, TNXRealSink)
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

  // Opens the socket now with the current properties (a run's FlowPrepare
  // does it, else the first stream); ENetError when it cannot bind or
  // connect. Opening again does nothing.
  void Open();
  // The endpoint bound or connected ("" before Open).
  std::string BoundEndpoint() const;
  // Messages sent; messages given up after SendTimeout.
  std::uint64_t MessagesSent() const;
  std::uint64_t SendTimeouts() const;

  void FlowPrepare(const flow::TFlowRunContext& AContext) override;
  std::string FlowFault() const override;

 protected:
  void OnStart(double ASampleRate) override;
  void OnProcess(const TBuffer& AInput) override;
  void OnStop() override;
  void OnFinish(flow::TFlowNodeReport& AReport) override;

 private:
  // Data lock held.
  void OpenLocked();
  void SendLocked(TNXNetKind AKind, const double* ASamples, std::uint32_t ACount);
  bool Control(const TIntfPtr<IFTNotifyOperation>& AOperation);

  std::string FEndpoint = kNetDefaultEndpoint;
  TNXNetPattern FPattern = npPushPull;
  bool FBind = true;
  std::int32_t FHighWaterMark = 1000;
  std::int32_t FSendTimeout = 30000;

  std::unique_ptr<TNXNetSocket> FSocket;  // data lock
  std::uint64_t FTimeouts = 0;            // data lock
  mutable std::mutex FFaultLock;
  std::string FFault;  // fault lock
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

class TNXNetSource : public TNXRealGenerator, public flow::INXFlowNode {
  NX_PERSISTENT(TNXNetSource, TNXRealGenerator)
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
  void BeforeDestruction() override;

 protected:
  void OnStart(double ASampleRate) override;
  void OnProcess(TBuffer& AOutput) override;
  void StreamStop() override;
  std::int32_t GetBufferSize() const override;
  // One received buffer per pump: no buffer is made beforehand.
  void IntPump() override;

 private:
  // One accepted message, its buffer made.
  struct TItem {
    TNXNetKind Kind = TNXNetKind::Stop;
    double Rate = 0;
    TBuffer Buffer;
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

  // Component lock: the stream as it started and what came before its first
  // tick.
  std::int32_t FStreamBufferSize = 0;
  std::deque<TItem> FPending;
  bool FPaused = false;
  bool FEndNow = false;

  mutable std::mutex FStatsLock;
  TNXNetSourceStats FStats;          // stats lock
  TNXSequenceTracker FSequence;      // stats lock
  std::string FFault;                // stats lock
};

}  // namespace nx::net
