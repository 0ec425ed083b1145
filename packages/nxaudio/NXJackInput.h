// NXJackInput: a sound card's input through JACK, as the source of a graph.
//
//   TNXJackInput  one real output per captured channel ("OutputPin" for
//                 channel 1, then "OutputPin2" ...); each channel is a JACK
//                 input port ("ClientName:in_1" ...) connected from the port
//                 of the same place in Ports (empty: the sound card's
//                 capture ports). Buffers of BufferSize samples, at the
//                 server's sample rate (SampleRate follows the server as the
//                 stream starts).
//
// The device paces the graph: the real-time callback writes each period's
// samples into a lock-free ring per channel (JACK's jack_ringbuffer_t, see
// NXJackDevice.h) and wakes the component's device thread, which sends a
// buffer on every output as soon as each ring holds BufferSize samples. No
// 1 ms clock runs for it. When a sink downstream paces the graph instead (a
// TNXJackOutput of the same server, which claims the pump), each of its pumps
// takes one buffer from the rings, waiting a few periods for the samples if
// they have not come yet, and counts an underrun (and sends what there is,
// silence after it) when they do not come.
//
// The callback never blocks, allocates or locks. Samples that find a ring
// full (the graph fell behind the card) are an overrun, counted and lost.
// Underruns, Overruns and the server's Xruns are published read-only and go
// into the run's report line; a missing server or port, or the server
// shutting down under the running graph, is one line through FlowFault.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "components/NXFlowNode.h"
#include "components/NXFlowPacer.h"
#include "components/NXRealGenerator.h"
#include "packages/nxaudio/NXJackDevice.h"

namespace nx::audio {

class TNXJackInput : public TNXRealGenerator, public flow::INXFlowNode, public flow::INXFlowPacer,
                     public flow::INXFlowReadings {
  NX_PERSISTENT(TNXJackInput, TNXRealGenerator)
 public:
  explicit TNXJackInput(TComponent* AOwner = nullptr);
  ~TNXJackInput() override;
  static void DeclareProperties(TClassBuilder<TNXJackInput>& P);

  std::string GetServerName() const { return ReadLocked(FServerName); }
  void SetServerName(const std::string& AValue) { SetNotify(FServerName, AValue); }
  std::string GetClientName() const { return ReadLocked(FClientName); }
  void SetClientName(const std::string& AValue) { SetNotify(FClientName, AValue); }
  std::string GetPorts() const { return ReadLocked(FPorts); }
  void SetPorts(const std::string& AValue) { SetNotify(FPorts, AValue); }
  std::int32_t GetChannels() const { return ReadLocked(FChannels); }
  void SetChannels(std::int32_t AValue);

  std::int64_t GetUnderruns() const { return FEnd.Stats->Underruns.load(); }
  std::int64_t GetOverruns() const { return FEnd.Stats->Overruns.load(); }
  std::int64_t GetXruns() const { return FEnd.Stats->Xruns.load(); }
  const TJackStats& Stats() const noexcept { return *FEnd.Stats; }

  static constexpr std::int32_t MaxChannels = 64;

  void FlowPrepare(const flow::TFlowRunContext& AContext) override;
  void FlowFinish(const flow::TFlowRunContext& AContext, flow::TFlowNodeReport& AReport) override;
  std::string FlowFault() const override;
  double FlowPacedSeconds() const override;
  // The counts above and the callback's time, live.
  void FlowReadings(std::vector<flow::TFlowReading>& AOut) const override { FEnd.Stats->Readings(AOut); }

  // Waits until a stream that stopped has closed its client (its device
  // thread joined). Never from inside the stream.
  void WaitClosed();
  std::string ReportLine() const;

  void BeforeDestruction() override;

 protected:
  bool NotifyOutputPins(const TIntfPtr<IFTNotifyOperation>& AOperation) override;
  void StartStream() override;
  void StartPump() override;
  void OnProcess(TBuffer& AOutput) override;
  void OnStop() override;

 private:
  void UpdatePins();
  void RetireSession();
  static int Process(jack_nframes_t AFrames, void* AArg) noexcept;
  static void DeviceLoop(TNXJackInput* ASelf, std::shared_ptr<TJackSession> ASession);
  // One buffer from the rings on every output, under the component's lock;
  // false when the stream no longer takes any.
  bool PumpOnce(const std::shared_ptr<TJackSession>& ASession);

  std::string FServerName;
  std::string FClientName;
  std::string FPorts;
  std::int32_t FChannels = 1;

  std::vector<std::unique_ptr<TNXOwnedPin<TNXFTComboRealSourcePin>>> FExtraPins;
  TJackEndpoint FEnd;  // the counts, the fault, the sessions to join
  // Component lock: the running session and whether it paces the graph.
  std::shared_ptr<TJackSession> FSession;
  std::atomic<bool> FSelfPaced{false};
  std::vector<float> FRead;
};

}  // namespace nx::audio
