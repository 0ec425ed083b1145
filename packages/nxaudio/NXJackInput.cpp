// NXJackInput: the JACK input, its device thread and its real-time callback
// (see NXJackInput.h).
#include "packages/nxaudio/NXJackInput.h"
#include "buffers/NXSimpleDataBuffer.h"

#include <algorithm>
#include <cstdio>

namespace nx::audio {

namespace {
std::size_t MinFill(const TJackSession& ASession) {
  std::size_t least = SIZE_MAX;
  for (const auto& ring : ASession.Rings)
    if (ring) least = std::min(least, ring->ReadSpace());
  return least == SIZE_MAX ? 0 : least;
}
}  // namespace

TNXJackInput::TNXJackInput(TComponent* AOwner) : TNXRealGenerator(AOwner) {
  InitProperties(this);
  UpdatePins();
}

TNXJackInput::~TNXJackInput() { FEnd.JoinRetired(true); }

void TNXJackInput::DeclareProperties(TClassBuilder<TNXJackInput>& P) {
  // The server's rate is taken as the stream starts; this is what a
  // document shows before that.
  P.Republish("SampleRate", 48000.0);
  P.Republish("BufferSize", std::int32_t(256));
  P.Prop<&TNXJackInput::FServerName, &TNXJackInput::SetServerName>("ServerName", std::string());
  P.Prop<&TNXJackInput::FClientName, &TNXJackInput::SetClientName>("ClientName", std::string("nxflow-in"));
  P.Prop<&TNXJackInput::FPorts, &TNXJackInput::SetPorts>("Ports", std::string());
  P.Prop<&TNXJackInput::FChannels, &TNXJackInput::SetChannels>("Channels", std::int32_t(1)).Min(1).Max(MaxChannels);
  P.Prop<&TNXJackInput::GetUnderruns>("Underruns");
  P.Prop<&TNXJackInput::GetOverruns>("Overruns");
  P.Prop<&TNXJackInput::GetXruns>("Xruns");
}

void TNXJackInput::SetChannels(std::int32_t AValue) {
  SetNotify(FChannels, std::clamp(AValue, std::int32_t(1), MaxChannels));
  UpdatePins();
}

void TNXJackInput::UpdatePins() {
  const std::size_t wanted = static_cast<std::size_t>(GetChannels() - 1);
  while (FExtraPins.size() > wanted) FExtraPins.pop_back();
  while (FExtraPins.size() < wanted) {
    const std::size_t channel = FExtraPins.size() + 1;
    auto pin = std::make_unique<TNXOwnedPin<TNXFTComboRealSourcePin>>(this, "OutputPin" + std::to_string(channel + 1));
    // What comes back up through it (a pacing sink's pump request and
    // master pumps, a stop) is the generator's business, as on OutputPin.
    (*pin)->SetGenericDispatch([this](TFTBasicPin* AOther, const TGUID& AID,
                                      const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
      return DispatchOperation(AOther, AID, AOperation, AState);
    });
    FExtraPins.push_back(std::move(pin));
  }
}

bool TNXJackInput::NotifyOutputPins(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  // The stream's operations (start, stop, pump requests) go out on every
  // channel; the buffers are sent by OnProcess, one per channel.
  bool handled = TNXRealGenerator::NotifyOutputPins(AOperation);
  for (auto& pin : FExtraPins) handled |= (*pin)->Notify(AOperation);
  return handled;
}

// ---------------------------------------------------------------- the stream

void TNXJackInput::StartStream() {
  // Under the component's lock, before the rate is announced: the client
  // runs before the stream starts, and the stream takes the server's rate.
  TWriteLock guard(GetLock());
  RetireSession();
  FEnd.JoinRetired(false);
  auto s = std::make_shared<TJackSession>(FEnd.Stats, GetNamePath().empty() ? std::string(ClassName()) : GetNamePath());
  try {
    const std::int32_t channels = FChannels;
    s->Server = ResolveJackServer(FServerName);
    s->Client = OpenJackClient(FClientName, FServerName);
    s->Rate = jack_get_sample_rate(s->Client);
    s->Period = jack_get_buffer_size(s->Client);
    for (std::int32_t c = 0; c < channels; ++c) {
      const std::string name = "in_" + std::to_string(c + 1);
      jack_port_t* port = jack_port_register(s->Client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
      if (!port) throw Exception("cannot register the JACK port " + FClientName + ":" + name);
      s->Ports.push_back(port);
    }
    s->Targets = JackTargets(s->Client, FPorts, false, static_cast<std::size_t>(channels));
    // A second of sound, or more when the buffers are long: the graph may
    // lag that much behind the card before samples are lost.
    const std::size_t capacity = std::max<std::size_t>(s->Rate, 8 * static_cast<std::size_t>(FBufferSize) + 8 * s->Period);
    for (std::int32_t c = 0; c < channels; ++c) s->Rings.push_back(std::make_unique<TJackRing>(capacity));
    FEnd.Stats->PeriodSize = s->Period;
    FEnd.Stats->DeviceRate = s->Rate;
    jack_set_process_callback(s->Client, &TNXJackInput::Process, s.get());
    s->InstallCommonCallbacks();
    s->ActivateAndConnect(false);
  } catch (const std::exception& e) {
    FEnd.SetFault(s->Who + ": " + e.what());
    if (!s->CloseClient()) TJackSession::KeepForever(s);
    s = nullptr;
  }
  if (s) {
    FSampleRate = s->Rate;
    FSession = s;
    FSelfPaced.store(false);
    FEnd.Running(s);
    s->Thread = std::thread(&TNXJackInput::DeviceLoop, this, s);
  }
  TNXRealGenerator::StartStream();
}

void TNXJackInput::StartPump() {
  // Instead of a 1 ms clock: when this generator is its own pump, its device
  // thread sends a buffer whenever the rings hold one.
  TWriteLock guard(GetLock());
  FSelfPaced.store(FIsPump && !ClockIsExternal());
  if (FSession) FSession->Wake();
}

void TNXJackInput::OnProcess(TBuffer& AOutput) {
  // Under the component's lock: on the device thread, or on the thread of
  // whatever paces the generator (a sink's pump, an external clock).
  const std::shared_ptr<TJackSession> s = FSession;
  if (!s) {
    AOutput = nullptr;
    return;
  }
  const std::size_t n = static_cast<std::size_t>(AOutput->GetSize());
  if (!FSelfPaced.load() && MinFill(*s) < n) {
    // Paced from outside: the samples may still be on their way from the card.
    const std::int64_t waitUs = std::int64_t(1000000) * (n + 4 * s->Period) / std::max(1u, s->Rate);
    const std::int64_t until = JackNowNs() + waitUs * 1000;
    while (MinFill(*s) < n && JackNowNs() < until && !s->ServerGone.load() && !s->StopRequested.load())
      s->WaitWake(200);
  }
  const std::size_t got = std::min(n, MinFill(*s));
  if (got < n) FEnd.Stats->Underruns.fetch_add(1, std::memory_order_relaxed);
  FRead.resize(n);
  const std::size_t channels = s->Rings.size();
  std::vector<TIntfPtr<INXRealBuffer>> extra;
  for (std::size_t c = 0; c < channels; ++c) {
    const std::size_t read = s->Rings[c]->Read(FRead.data(), got);
    std::fill(FRead.begin() + static_cast<std::ptrdiff_t>(read), FRead.end(), 0.0f);
    TIntfPtr<INXRealBuffer> buffer = c == 0 ? AOutput : TIntfPtr<INXRealBuffer>(TNXRealBuffer::MakeSize(static_cast<std::uint32_t>(n)));
    double* out = buffer->Write();
    for (std::size_t i = 0; i < n; ++i) out[i] = FRead[i];
    if (c > 0) extra.push_back(std::move(buffer));
  }
  FEnd.Stats->Frames.fetch_add(static_cast<std::int64_t>(n), std::memory_order_relaxed);
  // The further channels go out first; OutputPin's buffer follows when this
  // returns.
  for (std::size_t c = 0; c < extra.size() && c < FExtraPins.size(); ++c)
    (*FExtraPins[c])->SubmitBuffer(TIntfPtr<INXData>(extra[c]));
}

void TNXJackInput::OnStop() { RetireSession(); }

void TNXJackInput::RetireSession() {
  // Under the component's lock. The device thread is told to stop and is
  // not waited for: it may be waiting for this very lock.
  if (!FSession) return;
  FSelfPaced.store(false);
  FEnd.Retire(std::exchange(FSession, nullptr));
}

void TNXJackInput::WaitClosed() {
  {
    TWriteLock guard(GetLock());
    if (!IsRunning()) RetireSession();
  }
  FEnd.JoinRetired(true);
}

bool TNXJackInput::PumpOnce(const std::shared_ptr<TJackSession>& ASession) {
  TWriteLock guard(GetLock());
  if (FSession != ASession || !FSelfPaced.load() || !IsRunning()) return false;
  const std::size_t before = MinFill(*ASession);
  IntPump();
  return MinFill(*ASession) < before;
}

void TNXJackInput::DeviceLoop(TNXJackInput* ASelf, std::shared_ptr<TJackSession> ASession) {
  TJackSession& s = *ASession;
  const std::int64_t periodUs = std::max<std::int64_t>(1, std::int64_t(1000000) * s.Period / std::max(1u, s.Rate));
  const std::int64_t pollUs = std::max<std::int64_t>(200, periodUs / 2);
  while (!s.StopRequested.load() && !s.ServerGone.load()) {
    s.WaitWake(pollUs);
    // Every buffer the rings hold goes out now (the component's lock is
    // taken for each, so a stop gets in between).
    while (!s.StopRequested.load() && ASelf->FSelfPaced.load() &&
           MinFill(s) >= static_cast<std::size_t>(ASelf->GetBufferSizeValue()))
      if (!ASelf->PumpOnce(ASession)) break;
  }
  if (!s.CloseClient()) TJackSession::KeepForever(ASession);
  s.Finished.store(true);
}

// ---------------------------------------------------------------- the real-time callback

int TNXJackInput::Process(jack_nframes_t AFrames, void* AArg) noexcept {
  // No lock, no allocation, no wait, no system call: rings and atomics (the
  // device thread looks at the rings every half period; see NXJackOutput).
  const std::int64_t t0 = JackNowNs();
  auto& s = *static_cast<TJackSession*>(AArg);
  if (!s.Connected.load(std::memory_order_acquire)) return 0;
  TJackStats& stats = *s.Stats;
  // Every channel keeps the same frames: when the graph falls behind, a
  // frame that finds one channel's ring full is dropped from all of them.
  // (Overruns count the samples dropped, every channel's.)
  // (A port and a ring per channel, at most MaxChannels of them.)
  std::array<const float*, MaxChannels> in{};
  const std::size_t channels = std::min<std::size_t>(s.Rings.size(), MaxChannels);
  for (std::size_t c = 0; c < channels; ++c) in[c] = static_cast<const float*>(jack_port_get_buffer(s.Ports[c], AFrames));
  const std::size_t kept = WriteFrames({s.Rings.data(), channels}, in.data(), AFrames);
  if (const auto lost = static_cast<std::int64_t>((AFrames - kept) * channels); lost > 0)
    stats.Overruns.fetch_add(lost, std::memory_order_relaxed);
  stats.Periods.fetch_add(1, std::memory_order_relaxed);
  stats.Timer.Record(JackNowNs() - t0);
  return 0;
}

// ---------------------------------------------------------------- the run

void TNXJackInput::FlowPrepare(const flow::TFlowRunContext&) {
  FEnd.Reset();
}

void TNXJackInput::FlowFinish(const flow::TFlowRunContext&, flow::TFlowNodeReport& AReport) {
  WaitClosed();
  AReport.Summary = ReportLine();
}

std::string TNXJackInput::ReportLine() const {
  return FEnd.ReportLine(ResolveJackServer(GetServerName()), true);
}

std::string TNXJackInput::FlowFault() const {
  return FEnd.Fault();
}

double TNXJackInput::FlowPacedSeconds() const {
  return FEnd.PacedSeconds();
}

void TNXJackInput::BeforeDestruction() {
  TNXRealGenerator::BeforeDestruction();  // stops the stream: the session is retired
  {
    TWriteLock guard(GetLock());
    RetireSession();
  }
  FEnd.JoinRetired(true);
  for (auto& pin : FExtraPins) (*pin)->Close();
}

}  // namespace nx::audio
