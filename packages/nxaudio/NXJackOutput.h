// NXJackOutput: a sound card's output through JACK, as the end of a graph.
//
//   TNXJackOutput  Channels input pins ("InputPin" for channel 1, then
//                  "InputPin2" ...), or with Interleaved one pin carrying
//                  frames of Channels samples; each channel is a JACK output
//                  port ("ClientName:out_1" ...) connected to the port of
//                  the same place in Ports (empty: the sound card's playback
//                  ports).
//
// It is the pump master of its graph. It answers the pump request of every
// generator upstream (on any of its inputs) by claiming it, so none
// of them starts a clock of its own; the device's callback then sets the
// pace: every period it takes one period's samples from a ring per channel
// and wakes the component's feeder thread, which pumps the generators
// upstream (one master-pump operation per round, the same through every
// channel pin) until each ring holds BufferPeriods periods again. The graph
// follows the sound card's clock; no 1 ms timer paces it, and nothing drifts.
//
// The real-time callback never blocks, allocates or locks: it reads JACK's
// lock-free single-producer single-consumer ring (jack_ringbuffer_t, see
// NXJackDevice.h) with samples the feeder converted to float. A period the
// rings cannot fill is an underrun: what is there plays, silence fills the
// rest, and it is counted (from the moment the rings were full once: the
// silence before the first buffer is no underrun). Samples that find a ring
// full are an overrun, counted and dropped. Underruns, Overruns and the
// server's Xruns are published read-only and end up in the run's report line.
//
// The stream: InputPin's start opens the client (ServerName, ClientName),
// checks that the stream's rate is the server's, registers the ports and
// starts the feeder, which fills the rings once, activates the client and
// connects the ports; the stream's stop lets the rings play out and closes
// the client. Anything that goes wrong is one line through FlowFault (the
// nxflow run ends with it): no server, a rate the server does not run at, a
// port that does not exist, the server shutting down under the running
// graph.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "components/NXFlowNode.h"
#include "components/NXFlowPacer.h"
#include "components/NXRealSink.h"
#include "packages/nxaudio/NXJackDevice.h"

namespace nx::audio {

class TNXJackOutput : public TNXRealSink, public flow::INXFlowPacer,
                     public flow::INXFlowReadings {
  NX_PERSISTENT(TNXJackOutput, TNXRealSink)
 public:
  explicit TNXJackOutput(TComponent* AOwner = nullptr);
  ~TNXJackOutput() override;
  static void DeclareProperties(TClassBuilder<TNXJackOutput>& P);

  std::string GetServerName() const { return ReadLocked(FServerName); }
  void SetServerName(const std::string& AValue) { SetNotify(FServerName, AValue); }
  std::string GetClientName() const { return ReadLocked(FClientName); }
  void SetClientName(const std::string& AValue) { SetNotify(FClientName, AValue); }
  std::string GetPorts() const { return ReadLocked(FPorts); }
  void SetPorts(const std::string& AValue) { SetNotify(FPorts, AValue); }
  std::int32_t GetChannels() const { return ReadLocked(FChannels); }
  // 1 .. MaxChannels; the pins follow (unless Interleaved).
  void SetChannels(std::int32_t AValue);
  bool GetInterleaved() const { return ReadLocked(FInterleaved); }
  void SetInterleaved(bool AValue);
  std::int32_t GetBufferPeriods() const { return ReadLocked(FBufferPeriods); }
  void SetBufferPeriods(std::int32_t AValue) { SetNotifyMin(FBufferPeriods, AValue, std::int32_t(1)); }

  // The counts (read-only properties), since the run (or the component) began.
  std::int64_t GetUnderruns() const { return FEnd.Stats->Underruns.load(); }
  std::int64_t GetOverruns() const { return FEnd.Stats->Overruns.load(); }
  std::int64_t GetXruns() const { return FEnd.Stats->Xruns.load(); }
  const TJackStats& Stats() const noexcept { return *FEnd.Stats; }

  static constexpr std::int32_t MaxChannels = 64;

  // INXFlowNode and INXFlowPacer.
  void FlowPrepare(const flow::TFlowRunContext& AContext) override;
  void FlowFinish(const flow::TFlowRunContext& AContext, flow::TFlowNodeReport& AReport) override;
  std::string FlowFault() const override;
  double FlowPacedSeconds() const override;
  // The counts above and the callback's time, live.
  void FlowReadings(std::vector<flow::TFlowReading>& AOut) const override { FEnd.Stats->Readings(AOut); }

  // Waits until the stream that ended has played out and its client is
  // closed (the feeder thread joined). Never call it from inside the stream
  // (a hook, or a generator's lock held).
  void WaitClosed();
  // One line: the device and the counts.
  std::string ReportLine() const;

  void BeforeDestruction() override;

 protected:
  void OnStart(double ASampleRate) override;
  void OnProcess(const TBuffer& AInput) override;
  void OnStop() override;
  void OnReset() override;
  void OnFinish(flow::TFlowNodeReport& AReport) override;

 private:
  class TChannelPin;
  void UpdatePins();
  bool ChannelDispatch(std::int32_t AChannel, const TIntfPtr<IFTNotifyOperation>& AOperation);
  // Data lock held: the samples of channel AChannel (or of every channel,
  // interleaved, from AChannel -1) into the rings.
  void Feed(std::int32_t AChannel, const double* ASamples, std::size_t ACount);
  void StartSession(double ASampleRate);
  // Pacing: the pump request of a generator upstream is claimed (this
  // component becomes its master), and each pump round sends one
  // master-pump operation naming this component.
  bool ClaimPump(const TIntfPtr<IFTNotifyOperation>& AOperation);
  void* PumpIdentity() noexcept { return static_cast<void*>(this); }
  static constexpr std::uint32_t PumpPriority = 100;
  static int Process(jack_nframes_t AFrames, void* AArg) noexcept;
  static void FeederLoop(TNXJackOutput* ASelf, std::shared_ptr<TJackSession> ASession);
  // One pump round; false when nothing upstream answered or nothing came.
  bool PumpRound(const std::shared_ptr<TJackSession>& ASession, std::size_t ATarget);
  void RetireSession();

  std::string FServerName;
  std::string FClientName;
  std::string FPorts;
  std::int32_t FChannels = 1;
  bool FInterleaved = false;
  std::int32_t FBufferPeriods = 2;

  std::vector<std::unique_ptr<TNXOwnedPin<TNXFTRealSinkPin>>> FExtraPins;  // main thread, component lock
  TJackEndpoint FEnd;  // the counts, the fault, the sessions to join
  // Data lock: the running session, the channel count it runs with, the
  // partial frame of an interleaved stream.
  std::shared_ptr<TJackSession> FSession;
  std::int32_t FSessionChannels = 0;
  bool FSessionInterleaved = false;
  std::vector<float> FConvert;
  std::vector<double> FCarry;
  std::atomic<std::int64_t> FArrived{0};  // samples fed so far (every channel)
  // The extra pins as the feeder sends through them (a snapshot taken at the start).
  std::vector<TFTBasicPin*> FPumpPins;  // data lock
};

}  // namespace nx::audio
