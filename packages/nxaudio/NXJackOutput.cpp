// NXJackOutput: the JACK output, its feeder and its real-time callback (see
// NXJackOutput.h).
#include "packages/nxaudio/NXJackOutput.h"
#include "buffers/NXSimpleDataBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace nx::audio {

namespace {
std::string Hertz(double AValue) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", AValue);
  return text;
}

// The least any of ASession's fed rings holds.
std::size_t MinFill(const TJackSession& ASession) {
  std::size_t least = SIZE_MAX;
  for (const auto& ring : ASession.Rings)
    if (ring) least = std::min(least, ring->ReadSpace());
  return least == SIZE_MAX ? 0 : least;
}
}  // namespace

TNXJackOutput::TNXJackOutput(TComponent* AOwner) : TNXRealSink(AOwner) {
  InitProperties(this);
  // The device's callback paces the graph: a pump request that reaches
  // InputPin is claimed here; everything else goes to the sink base's own
  // handler (the stream object it installed on the pin, kept alive by this
  // one).
  TIntfPtr<IFTNXGenericStream> base;
  Supports(static_cast<IInterface*>(InputPin()->GetStream()), base);
  InputPin()->SetGenericDispatch([this, base](TFTBasicPin* AOther, const TGUID& AID,
                                              const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
    if (AOperation->IsType<TFTPumpRequestOperation>()) return ClaimPump(AOperation);
    return base ? base->HandleOperation(AOther, AID, AOperation, AState) : false;
  });
  UpdatePins();
}

bool TNXJackOutput::ClaimPump(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  auto* request = AOperation->As<TFTPumpRequestOperation>();
  return request && request->Claim(PumpIdentity(), PumpPriority);
}

TNXJackOutput::~TNXJackOutput() {
  // Normally done in BeforeDestruction; a `delete` without it still must not
  // leave a thread behind.
  WaitClosed();
}

void TNXJackOutput::DeclareProperties(TClassBuilder<TNXJackOutput>& P) {
  P.Prop<&TNXJackOutput::FServerName, &TNXJackOutput::SetServerName>("ServerName", std::string());
  P.Prop<&TNXJackOutput::FClientName, &TNXJackOutput::SetClientName>("ClientName", std::string("nxflow"));
  P.Prop<&TNXJackOutput::FPorts, &TNXJackOutput::SetPorts>("Ports", std::string());
  P.Prop<&TNXJackOutput::FChannels, &TNXJackOutput::SetChannels>("Channels", std::int32_t(1)).Min(1).Max(MaxChannels);
  P.Prop<&TNXJackOutput::FInterleaved, &TNXJackOutput::SetInterleaved>("Interleaved", false);
  P.Prop<&TNXJackOutput::FBufferPeriods, &TNXJackOutput::SetBufferPeriods>("BufferPeriods", std::int32_t(2))
      .Min(1)
      .Max(64);
  P.Prop<&TNXJackOutput::GetUnderruns>("Underruns");
  P.Prop<&TNXJackOutput::GetOverruns>("Overruns");
  P.Prop<&TNXJackOutput::GetXruns>("Xruns");
}

// ---------------------------------------------------------------- pins

void TNXJackOutput::SetChannels(std::int32_t AValue) {
  SetNotify(FChannels, std::clamp(AValue, std::int32_t(1), MaxChannels));
  UpdatePins();
}

void TNXJackOutput::SetInterleaved(bool AValue) {
  SetNotify(FInterleaved, AValue);
  UpdatePins();
}

void TNXJackOutput::UpdatePins() {
  // One pin per channel after the first, unless the channels come
  // interleaved on InputPin. Pins come and go on the main thread, while no
  // stream runs.
  const std::size_t wanted = GetInterleaved() ? 0 : static_cast<std::size_t>(GetChannels() - 1);
  while (FExtraPins.size() > wanted) FExtraPins.pop_back();  // closes and unregisters it
  while (FExtraPins.size() < wanted) {
    const std::int32_t channel = static_cast<std::int32_t>(FExtraPins.size()) + 1;
    auto pin = std::make_unique<TNXOwnedPin<TNXFTRealSinkPin>>(this, "InputPin" + std::to_string(channel + 1));
    (*pin)->SetGenericDispatch(
        [this, channel](TFTBasicPin*, const TGUID&, const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState) {
          return ChannelDispatch(channel, AOperation);
        });
    FExtraPins.push_back(std::move(pin));
  }
}

bool TNXJackOutput::ChannelDispatch(std::int32_t AChannel, const TIntfPtr<IFTNotifyOperation>& AOperation) {
  if (const auto* supplied = AOperation->As<TFTTypedSuppliedDataOperation>()) {
    const TIntfPtr<INXData>& data = supplied->GetValue();
    if (!data) return false;
    TBuffer real;
    if (!Supports(data, real)) real = TNXRealBuffer::MakeUniversal(data);
    std::lock_guard guard(FDataLock);
    Feed(AChannel, real->Read(), static_cast<std::size_t>(real->GetSize()));
    return true;
  }
  // The stream's start and stop come through InputPin; a pump request
  // through any input is claimed.
  if (AOperation->IsType<TFTPumpRequestOperation>()) return ClaimPump(AOperation);
  return false;
}

// ---------------------------------------------------------------- the stream

void TNXJackOutput::OnStart(double ASampleRate) { StartSession(ASampleRate); }

void TNXJackOutput::OnProcess(const TBuffer& AInput) {
  Feed(FSessionInterleaved ? -1 : 0, AInput->Read(), static_cast<std::size_t>(AInput->GetSize()));
}

void TNXJackOutput::OnStop() { RetireSession(); }

void TNXJackOutput::Feed(std::int32_t AChannel, const double* ASamples, std::size_t ACount) {
  if (!FSession || ACount == 0) return;
  TJackSession& s = *FSession;
  std::int64_t dropped = 0;
  if (AChannel < 0) {
    // Interleaved frames: a frame cut by the end of a buffer waits for the
    // next one.
    const std::size_t channels = static_cast<std::size_t>(FSessionChannels);
    std::size_t i = 0;
    std::vector<std::vector<float>> split(channels);
    auto put = [&](std::size_t c, double v) { split[c].push_back(static_cast<float>(v)); };
    if (!FCarry.empty()) {
      while (FCarry.size() < channels && i < ACount) FCarry.push_back(ASamples[i++]);
      if (FCarry.size() < channels) return;
      for (std::size_t c = 0; c < channels; ++c) put(c, FCarry[c]);
      FCarry.clear();
    }
    for (; i + channels <= ACount; i += channels)
      for (std::size_t c = 0; c < channels; ++c) put(c, ASamples[i + c]);
    FCarry.assign(ASamples + i, ASamples + ACount);
    for (std::size_t c = 0; c < channels; ++c)
      if (s.Rings[c]) dropped += static_cast<std::int64_t>(split[c].size() - s.Rings[c]->Write(split[c].data(), split[c].size()));
  } else {
    if (static_cast<std::size_t>(AChannel) >= s.Rings.size() || !s.Rings[AChannel]) return;
    FConvert.resize(ACount);
    for (std::size_t i = 0; i < ACount; ++i) FConvert[i] = static_cast<float>(ASamples[i]);
    dropped = static_cast<std::int64_t>(ACount - s.Rings[AChannel]->Write(FConvert.data(), ACount));
  }
  if (dropped) FEnd.Stats->Overruns.fetch_add(dropped, std::memory_order_relaxed);
  FArrived.fetch_add(static_cast<std::int64_t>(ACount), std::memory_order_release);
}

void TNXJackOutput::StartSession(double ASampleRate) {
  // Data lock held (a hook): a stream that ran before was retired by its stop.
  RetireSession();
  FEnd.JoinRetired(false);
  auto s = std::make_shared<TJackSession>(FEnd.Stats, GetNamePath().empty() ? std::string(ClassName()) : GetNamePath());
  try {
    const std::int32_t channels = GetChannels();
    const bool interleaved = GetInterleaved();
    s->Server = ResolveJackServer(GetServerName());
    s->Client = OpenJackClient(GetClientName(), GetServerName());
    s->Rate = jack_get_sample_rate(s->Client);
    s->Period = jack_get_buffer_size(s->Client);
    if (std::fabs(ASampleRate - s->Rate) > 1e-6 * s->Rate)
      throw Exception("the stream runs at " + Hertz(ASampleRate) + " Hz, the JACK server \"" + s->Server + "\" at " +
                      Hertz(s->Rate) + " Hz (give the generators SampleRate=\"" + Hertz(s->Rate) + "\")");
    for (std::int32_t c = 0; c < channels; ++c) {
      const std::string name = "out_" + std::to_string(c + 1);
      jack_port_t* port = jack_port_register(s->Client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
      if (!port) throw Exception("cannot register the JACK port " + GetClientName() + ":" + name);
      s->Ports.push_back(port);
    }
    s->Targets = JackTargets(s->Client, GetPorts(), true, static_cast<std::size_t>(channels));
    // Room for the periods kept ahead, one buffer of the graph beyond them
    // and some slack: a full ring means overruns.
    const std::size_t capacity = static_cast<std::size_t>(GetBufferPeriods() + 4) * s->Period + (1u << 16);
    FPumpPins.assign(static_cast<std::size_t>(channels), nullptr);
    FPumpPins[0] = InputPin();
    for (std::int32_t c = 0; c < channels; ++c) {
      const bool fed = interleaved || c == 0 || FExtraPins[c - 1]->get()->IsConnected();
      s->Rings.push_back(fed ? std::make_unique<TJackRing>(capacity) : nullptr);
      if (!interleaved && c > 0 && fed) FPumpPins[c] = FExtraPins[c - 1]->get();
    }
    FEnd.Stats->PeriodSize = s->Period;
    FEnd.Stats->DeviceRate = s->Rate;
    jack_set_process_callback(s->Client, &TNXJackOutput::Process, s.get());
    s->InstallCommonCallbacks();
  } catch (const std::exception& e) {
    FEnd.SetFault(s->Who + ": " + e.what());
    if (!s->CloseClient()) TJackSession::KeepForever(s);
    return;
  }
  FSession = s;
  FSessionChannels = GetChannels();
  FSessionInterleaved = GetInterleaved();
  FCarry.clear();
  FEnd.Running(s);
  s->Thread = std::thread(&TNXJackOutput::FeederLoop, this, s);
}

void TNXJackOutput::RetireSession() {
  // Data lock held. The feeder is told to stop, not waited for: it may be
  // waiting for a lock the caller holds (a generator's, while it stops).
  if (!FSession) return;
  FEnd.Retire(std::exchange(FSession, nullptr));
  FCarry.clear();
}

void TNXJackOutput::WaitClosed() {
  {
    std::lock_guard guard(FDataLock);
    RetireSession();
  }
  FEnd.JoinRetired(true);
}

// ---------------------------------------------------------------- the feeder

bool TNXJackOutput::PumpRound(const std::shared_ptr<TJackSession>& ASession, std::size_t ATarget) {
  // One operation through every input whose ring is short: a generator that
  // feeds several of them makes one buffer for it.
  const TIntfPtr<IFTNotifyOperation> op = TFTMasterPumpOperation::Make(PumpIdentity());
  const std::int64_t before = FArrived.load(std::memory_order_acquire);
  bool answered = false;
  std::vector<TFTBasicPin*> pins;
  {
    std::lock_guard guard(FDataLock);
    if (FSession != ASession) return false;
    pins = FPumpPins;
  }
  for (std::size_t c = 0; c < pins.size(); ++c)
    if (pins[c] && ASession->Rings[c] && ASession->Rings[c]->ReadSpace() < ATarget) answered |= pins[c]->Notify(op);
  // Nothing came back at once: nothing upstream runs, or a filter on the
  // way works on a thread of its own (its buffer comes later).
  return answered && FArrived.load(std::memory_order_acquire) != before;
}

void TNXJackOutput::FeederLoop(TNXJackOutput* ASelf, std::shared_ptr<TJackSession> ASession) {
  TJackSession& s = *ASession;
  const std::size_t target = static_cast<std::size_t>(ASelf->GetBufferPeriods()) * s.Period;
  const std::int64_t periodUs = std::max<std::int64_t>(1, std::int64_t(1000000) * s.Period / std::max(1u, s.Rate));
  const std::int64_t pollUs = std::max<std::int64_t>(200, periodUs / 2);
  auto running = [&] { return !s.StopRequested.load() && !s.ServerGone.load(); };
  // Fill the rings once before the device starts asking (a second at most:
  // a graph that makes nothing yet starts silent).
  const std::int64_t primeUntil = JackNowNs() + 1000000000;
  while (running() && MinFill(s) < target && JackNowNs() < primeUntil)
    if (!ASelf->PumpRound(ASession, target)) s.WaitWake(1000);
  if (MinFill(s) >= target) s.Primed.store(true);
  if (running()) {
    try {
      s.ActivateAndConnect(true);
    } catch (const std::exception& e) {
      ASelf->FEnd.SetFault(s.Who + ": " + e.what());
      s.StopRequested.store(true);
    }
  }
  // The device asks: every half period this thread tops the rings up again.
  while (running()) {
    while (running() && MinFill(s) < target && ASelf->PumpRound(ASession, target)) {
    }
    if (!s.Primed.load() && MinFill(s) >= target) s.Primed.store(true);
    s.WaitWake(pollUs);
  }
  // The stream ended: what the rings hold plays out (bounded by what they
  // hold, plus a margin), unless the server went.
  s.Draining.store(true);
  if (!s.ServerGone.load() && s.Client) {
    const std::int64_t until = JackNowNs() + (static_cast<std::int64_t>(MinFill(s)) * 1000000000 / std::max(1u, s.Rate)) +
                               500000000;
    bool empty = false;
    while (!s.ServerGone.load() && JackNowNs() < until) {
      empty = true;
      for (const auto& ring : s.Rings)
        if (ring && ring->ReadSpace() > 0) empty = false;
      if (empty) break;
      s.WaitWake(pollUs);
    }
    // One more period, so that the last samples read have left the port.
    if (empty) s.WaitWake(2 * periodUs);
  }
  if (!s.CloseClient()) TJackSession::KeepForever(ASession);
  s.Finished.store(true);
}

// ---------------------------------------------------------------- the real-time callback

int TNXJackOutput::Process(jack_nframes_t AFrames, void* AArg) noexcept {
  // No lock, no allocation, no wait, no system call: rings and atomics. (The
  // feeder is not woken from here: a wake-up is a system call, and on a
  // server without real-time priority the woken thread may take the
  // processor from the callback. It looks at the rings every half period.)
  const std::int64_t t0 = JackNowNs();
  auto& s = *static_cast<TJackSession*>(AArg);
  if (!s.Connected.load(std::memory_order_acquire)) {
    for (jack_port_t* port : s.Ports) std::memset(jack_port_get_buffer(port, AFrames), 0, AFrames * sizeof(float));
    return 0;
  }
  std::size_t available = AFrames;
  for (const auto& ring : s.Rings)
    if (ring) available = std::min(available, ring->ReadSpace());
  for (std::size_t c = 0; c < s.Ports.size(); ++c) {
    auto* out = static_cast<float*>(jack_port_get_buffer(s.Ports[c], AFrames));
    const std::size_t got = s.Rings[c] ? s.Rings[c]->Read(out, available) : 0;
    if (got < AFrames) std::memset(out + got, 0, (AFrames - got) * sizeof(float));
  }
  TJackStats& stats = *s.Stats;
  if (available < AFrames && s.Primed.load(std::memory_order_relaxed) && !s.Draining.load(std::memory_order_relaxed))
    stats.Underruns.fetch_add(1, std::memory_order_relaxed);
  stats.Frames.fetch_add(static_cast<std::int64_t>(available), std::memory_order_relaxed);
  stats.Periods.fetch_add(1, std::memory_order_relaxed);
  stats.Timer.Record(JackNowNs() - t0);
  return 0;
}

// ---------------------------------------------------------------- the run

void TNXJackOutput::FlowPrepare(const flow::TFlowRunContext&) {
  // No file: FileName is not asked for. The counts start again.
  std::lock_guard guard(FDataLock);
  FBuffers = FSamples = 0;
  FRate = 0;
  OnReset();
}

void TNXJackOutput::OnReset() {
  FEnd.Reset();
}

void TNXJackOutput::FlowFinish(const flow::TFlowRunContext& AContext, flow::TFlowNodeReport& AReport) {
  // The counts are final once the stream has played out.
  WaitClosed();
  TNXRealSink::FlowFinish(AContext, AReport);
}

void TNXJackOutput::OnFinish(flow::TFlowNodeReport& AReport) { AReport.Summary = ReportLine(); }

std::string TNXJackOutput::ReportLine() const {
  return FEnd.ReportLine(ResolveJackServer(GetServerName()), false);
}

std::string TNXJackOutput::FlowFault() const {
  return FEnd.Fault();
}

double TNXJackOutput::FlowPacedSeconds() const {
  return FEnd.PacedSeconds();
}

void TNXJackOutput::BeforeDestruction() {
  WaitClosed();
  for (auto& pin : FExtraPins) (*pin)->Close();
  TNXRealSink::BeforeDestruction();
}

}  // namespace nx::audio
