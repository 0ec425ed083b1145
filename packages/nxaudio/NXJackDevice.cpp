// NXJackDevice: clients, rings, counters and sessions (see NXJackDevice.h).
#include "packages/nxaudio/NXJackDevice.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "runtime/SysUtils.h"

namespace nx::audio {

std::string ResolveJackServer(const std::string& AServerName) {
  if (!AServerName.empty()) return AServerName;
  if (const char* env = std::getenv("JACK_DEFAULT_SERVER"); env && *env) return env;
  return "default";
}

std::string JackStatusText(jack_status_t AStatus) {
  struct TBit {
    int Bit;
    const char* Text;
  };
  static const TBit bits[] = {
      {JackServerFailed, "server not running or unreachable"},
      {JackServerError, "the server answered with an error"},
      {JackNameNotUnique, "the client name is taken"},
      {JackInitFailure, "the client could not be initialised"},
      {JackShmFailure, "no access to the server's shared memory"},
      {JackVersionError, "the server speaks another protocol version"},
      {JackBackendError, "the server's backend failed"},
      {JackClientZombie, "the client was made a zombie"},
      {JackInvalidOption, "an option was refused"},
      {JackNoSuchClient, "no such client"},
      {JackLoadFailure, "a client could not be loaded"},
  };
  std::string text;
  for (const TBit& b : bits)
    if (AStatus & b.Bit) text += (text.empty() ? "" : ", ") + std::string(b.Text);
  return text.empty() ? "failed" : text;
}

void QuietJackLibrary() {
  // libjack writes its own messages to stderr ("Cannot connect to server
  // socket", "Server is not running" ...); a component says what went wrong
  // in one line of its own instead.
  static std::once_flag once;
  std::call_once(once, [] {
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
  });
}

jack_client_t* OpenJackClient(const std::string& AClientName, const std::string& AServerName) {
  QuietJackLibrary();
  const std::string server = ResolveJackServer(AServerName);
  jack_status_t status{};
  const int options = JackNoStartServer | JackUseExactName | JackServerName;
  jack_client_t* client = jack_client_open(AClientName.c_str(), static_cast<jack_options_t>(options), &status,
                                           server.c_str());
  if (!client)
    throw Exception("cannot reach the JACK server \"" + server + "\" as client \"" + AClientName +
                    "\": " + JackStatusText(status));
  return client;
}

std::vector<std::string> SplitPortList(const std::string& AText) {
  std::vector<std::string> out;
  std::string current;
  auto flush = [&] {
    const auto first = current.find_first_not_of(" \t");
    const auto last = current.find_last_not_of(" \t");
    if (first != std::string::npos) out.push_back(current.substr(first, last - first + 1));
    current.clear();
  };
  for (char c : AText)
    if (c == ',')
      flush();
    else
      current += c;
  flush();
  return out;
}

std::vector<std::string> JackTargets(jack_client_t* AClient, const std::string& AList, bool AForOutput,
                                     std::size_t AChannels) {
  std::vector<std::string> targets;
  if (!AList.empty()) {
    targets = SplitPortList(AList);
    for (const std::string& name : targets)
      if (!jack_port_by_name(AClient, name.c_str()))
        throw Exception("no JACK port \"" + name + "\" to connect to (jack_lsp lists the ports)");
  } else {
    // An output plays into the physical ports that take sound in (playback),
    // an input records from those that give it out (capture).
    const unsigned long flags = JackPortIsPhysical | (AForOutput ? JackPortIsInput : JackPortIsOutput);
    if (const char** ports = jack_get_ports(AClient, nullptr, JACK_DEFAULT_AUDIO_TYPE, flags)) {
      for (const char** p = ports; *p; ++p) targets.emplace_back(*p);
      jack_free(ports);
    }
  }
  if (targets.size() > AChannels) targets.resize(AChannels);
  return targets;
}

// ---------------------------------------------------------------- ring

TJackRing::TJackRing(std::size_t ACapacity) : FRing(jack_ringbuffer_create((ACapacity + 1) * sizeof(float))) {
  if (!FRing) throw Exception("cannot make a ring of " + std::to_string(ACapacity) + " samples");
  // Locked into memory: the callback never takes a page fault on it.
  jack_ringbuffer_mlock(FRing);
}

TJackRing::~TJackRing() { jack_ringbuffer_free(FRing); }

// Whole samples only. The ring counts bytes and keeps one byte free, so a
// ring full of samples still has room for three bytes: a write of what
// fits would put part of a sample in, and every sample read after it would
// be made of the wrong bytes.
std::size_t TJackRing::Write(const float* ASamples, std::size_t ACount) noexcept {
  const std::size_t n = std::min(ACount, WriteSpace());
  jack_ringbuffer_write(FRing, reinterpret_cast<const char*>(ASamples), n * sizeof(float));
  return n;
}

std::size_t TJackRing::Read(float* ASamples, std::size_t ACount) noexcept {
  const std::size_t n = std::min(ACount, ReadSpace());
  jack_ringbuffer_read(FRing, reinterpret_cast<char*>(ASamples), n * sizeof(float));
  return n;
}

std::size_t WriteFrames(std::span<const std::unique_ptr<TJackRing>> ARings, const float* const* AChannels,
                        std::size_t AFrames) noexcept {
  // The reader only ever frees room, so the space read here is there when
  // the frames are written.
  std::size_t frames = AFrames;
  for (const auto& ring : ARings)
    if (ring) frames = std::min(frames, ring->WriteSpace());
  for (std::size_t c = 0; c < ARings.size(); ++c)
    if (ARings[c]) ARings[c]->Write(AChannels[c], frames);
  return frames;
}

// ---------------------------------------------------------------- timer and counts

std::int64_t JackNowNs() noexcept {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void TJackCallbackTimer::Record(std::int64_t ANanoseconds) noexcept {
  const std::size_t bin = std::min<std::size_t>(static_cast<std::size_t>(std::max<std::int64_t>(ANanoseconds, 0) / 1000),
                                                Bins - 1);
  FBins[bin].fetch_add(1, std::memory_order_relaxed);
  std::int64_t max = FMaxNs.load(std::memory_order_relaxed);
  while (ANanoseconds > max && !FMaxNs.compare_exchange_weak(max, ANanoseconds, std::memory_order_relaxed)) {
  }
}

void TJackCallbackTimer::Reset() noexcept {
  for (auto& b : FBins) b.store(0, std::memory_order_relaxed);
  FMaxNs.store(0, std::memory_order_relaxed);
}

std::int64_t TJackCallbackTimer::Count() const noexcept {
  std::int64_t n = 0;
  for (const auto& b : FBins) n += b.load(std::memory_order_relaxed);
  return n;
}

double TJackCallbackTimer::Percentile(double AFraction) const noexcept {
  const std::int64_t total = Count();
  if (total == 0) return 0;
  const double wanted = AFraction * static_cast<double>(total);
  std::int64_t seen = 0;
  for (std::size_t i = 0; i < Bins; ++i) {
    seen += FBins[i].load(std::memory_order_relaxed);
    if (static_cast<double>(seen) >= wanted) return static_cast<double>(i + 1);
  }
  return static_cast<double>(Bins);
}

void TJackStats::Reset() noexcept {
  Underruns = 0;
  Overruns = 0;
  Xruns = 0;
  Frames = 0;
  Periods = 0;
  PeriodSize = 0;
  DeviceRate = 0;
  Timer.Reset();
}

void TJackStats::Readings(std::vector<flow::TFlowReading>& AOut) const {
  AOut.push_back({"Underruns", Underruns.load(std::memory_order_relaxed)});
  AOut.push_back({"Overruns", Overruns.load(std::memory_order_relaxed)});
  AOut.push_back({"Xruns", Xruns.load(std::memory_order_relaxed)});
  AOut.push_back({"Periods", Periods.load(std::memory_order_relaxed)});
  AOut.push_back({"CallbackP99Us", static_cast<std::int64_t>(std::ceil(Timer.Percentile(0.99)))});
}

// ---------------------------------------------------------------- session

TJackSession::TJackSession(std::shared_ptr<TJackStats> AStats, std::string AWho)
    : Stats(std::move(AStats)), Who(std::move(AWho)) {
  sem_init(&WakeSem, 0, 0);
}

TJackSession::~TJackSession() {
  Join();
  CloseClient();
  sem_destroy(&WakeSem);
}

void TJackSession::WaitWake(std::int64_t AMicroseconds) noexcept {
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  const std::int64_t ns = deadline.tv_nsec + AMicroseconds * 1000;
  deadline.tv_sec += static_cast<time_t>(ns / 1000000000);
  deadline.tv_nsec = static_cast<long>(ns % 1000000000);
  while (sem_timedwait(&WakeSem, &deadline) != 0 && errno == EINTR) {
  }
}

namespace {

// How long a close after a shutdown waits for the notification thread: two
// seconds, or $NXAUDIO_NOTIFIER_WAIT_MS (0 to 60000; a test sets 0 to take
// the left-open path every time).
std::int64_t NotifierWaitNs() noexcept {
  static const std::int64_t ns = [] {
    std::int64_t ms = 2000;
    if (const char* env = std::getenv("NXAUDIO_NOTIFIER_WAIT_MS"); env && *env) {
      char* end = nullptr;
      const long v = std::strtol(env, &end, 10);
      if (*end == 0 && v >= 0 && v <= 60000) ms = v;
    }
    return ms * 1000000;
  }();
  return ns;
}

}  // namespace

bool TJackSession::CloseClient() noexcept {
  if (!Client) return true;
  if (ServerGone.load()) {
    // The server is gone: closing only frees what the library keeps for the
    // client. The library stops the client's threads by asynchronous
    // cancellation, and its notification thread holds a lock of the whole
    // library while it handles a notification. A server that shuts down
    // first says so and then sends more (the other clients leaving) before
    // its socket closes; cancelled in one of those, the thread leaves the
    // lock taken, and this close and every later one in the process wait
    // for it for ever. That thread ends by itself once the socket closes:
    // the close waits for that.
    const std::int64_t until = JackNowNs() + NotifierWaitNs();
    while (!NotifierEnded() && JackNowNs() < until) WaitWake(5000);
    if (!NotifierEnded()) {
      Client = nullptr;  // left open: a little memory, not a hang
      return false;
    }
  } else {
    jack_deactivate(Client);
  }
  jack_client_close(Client);
  Client = nullptr;
  return true;
}

void TJackSession::KeepForever(std::shared_ptr<TJackSession> ASession) {
  // Never destroyed, so that no exit-time destructor frees what a callback
  // still reads; reachable, so that the leak checker does not count it.
  static std::mutex lock;
  static auto* kept = new std::vector<std::shared_ptr<TJackSession>>;
  std::lock_guard guard(lock);
  kept->push_back(std::move(ASession));
}

bool TJackSession::NotifierEnded() const noexcept {
  const pid_t tid = NotifierTid.load(std::memory_order_acquire);
  return tid != 0 && ::syscall(SYS_tgkill, ::getpid(), tid, 0) != 0 && errno == ESRCH;
}

std::string TJackSession::ShutdownText() const {
  if (!ServerGone.load(std::memory_order_acquire)) return {};
  std::string text = Who + ": the JACK server \"" + Server + "\" shut down under the running graph";
  if (Reason[0]) text += " (" + std::string(Reason) + ")";
  return text;
}

void TJackSession::Join() {
  if (!Thread.joinable()) return;
  if (Thread.get_id() == std::this_thread::get_id())
    Thread.detach();
  else
    Thread.join();
}

void TJackSession::ActivateAndConnect(bool AOutput) {
  if (const int rc = jack_activate(Client); rc != 0)
    throw Exception("the JACK server \"" + Server + "\" refused to activate the client (error " + std::to_string(rc) +
                    ")");
  ProcessThread.store(jack_client_thread_id(Client), std::memory_order_release);
  for (std::size_t c = 0; c < Targets.size() && c < Ports.size(); ++c) {
    const char* own = jack_port_name(Ports[c]);
    const char* from = AOutput ? own : Targets[c].c_str();
    const char* to = AOutput ? Targets[c].c_str() : own;
    const int rc = jack_connect(Client, from, to);
    if (rc != 0 && rc != EEXIST)
      throw Exception("cannot connect JACK port " + std::string(from) + " to " + to + " (error " + std::to_string(rc) +
                      ")");
  }
  Connected.store(true, std::memory_order_release);
}

void TJackSession::InstallCommonCallbacks() {
  jack_set_xrun_callback(
      Client,
      [](void* AArg) -> int {
        static_cast<TJackSession*>(AArg)->Stats->Xruns.fetch_add(1, std::memory_order_relaxed);
        return 0;
      },
      this);
  // Called on a thread of the library when the server goes (or throws this
  // client out); it may not call back into JACK, and does no more than note
  // it and wake the session's thread. Both the process thread and the
  // notification thread may report it: the first report goes to the
  // callback with the server's words, a second to the plain one.
  jack_on_info_shutdown(
      Client,
      [](jack_status_t, const char* AReason, void* AArg) {
        static_cast<TJackSession*>(AArg)->NoteShutdown(AReason);
      },
      this);
  jack_on_shutdown(
      Client, [](void* AArg) { static_cast<TJackSession*>(AArg)->NoteShutdown(nullptr); }, this);
}

void TJackSession::NoteShutdown(const char* AReason) noexcept {
  if (AReason && !ReasonTaken.exchange(true)) {
    std::strncpy(Reason, AReason, sizeof(Reason) - 1);
    Reason[sizeof(Reason) - 1] = 0;
  }
  // Any thread but the process thread is the notification thread (before
  // activation there is no process thread). Of the two reports the process
  // thread can take one at most, so the notification thread makes one.
  const pthread_t process = ProcessThread.load(std::memory_order_acquire);
  const bool fromProcess = process != 0 && pthread_equal(pthread_self(), process);
  if (!fromProcess) NotifierTid.store(static_cast<pid_t>(::syscall(SYS_gettid)), std::memory_order_release);
  ServerGone.store(true, std::memory_order_release);
  Wake();
}

// ---------------------------------------------------------------- TJackEndpoint

void TJackEndpoint::Reset() {
  Stats->Reset();
  std::lock_guard guard(FFaultLock);
  FFault.clear();
  FFaultSession = nullptr;
}

void TJackEndpoint::SetFault(const std::string& AFault) {
  std::lock_guard guard(FFaultLock);
  if (FFault.empty()) FFault = AFault;
}

void TJackEndpoint::Running(const std::shared_ptr<TJackSession>& ASession) {
  std::lock_guard guard(FFaultLock);
  FFaultSession = ASession;
}

std::string TJackEndpoint::Fault() const {
  std::lock_guard guard(FFaultLock);
  if (!FFault.empty()) return FFault;
  return FFaultSession ? FFaultSession->ShutdownText() : std::string();
}

void TJackEndpoint::Retire(std::shared_ptr<TJackSession> ASession) {
  if (!ASession) return;
  ASession->StopRequested.store(true);
  ASession->Wake();
  std::lock_guard guard(FRetiredLock);
  FRetired.push_back(std::move(ASession));
}

void TJackEndpoint::JoinRetired(bool AAll) {
  std::vector<std::shared_ptr<TJackSession>> join;
  {
    std::lock_guard guard(FRetiredLock);
    for (auto it = FRetired.begin(); it != FRetired.end();)
      if (AAll || (*it)->Finished.load()) {
        join.push_back(std::move(*it));
        it = FRetired.erase(it);
      } else {
        ++it;
      }
  }
  for (auto& s : join) s->Join();
}

double TJackEndpoint::PacedSeconds() const {
  const std::uint32_t rate = Stats->DeviceRate.load();
  return rate ? static_cast<double>(Stats->Frames.load()) / rate : 0.0;
}

std::string TJackEndpoint::ReportLine(const std::string& AServer, bool ACaptured) const {
  const TJackStats& s = *Stats;
  const std::string captured = ACaptured ? Format(", %.2f s captured", PacedSeconds()) : std::string();
  return Format("JACK \"%s\": %u-frame periods at %u Hz%s, underruns %lld, overruns %lld, server xruns %lld, "
                "callback p99 %.0f us (max %.1f us)",
                AServer.c_str(), s.PeriodSize.load(), s.DeviceRate.load(), captured.c_str(),
                static_cast<long long>(s.Underruns.load()), static_cast<long long>(s.Overruns.load()),
                static_cast<long long>(s.Xruns.load()), s.Timer.Percentile(0.99), s.Timer.MaxMicroseconds());
}

}  // namespace nx::audio
