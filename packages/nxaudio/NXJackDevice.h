// NXJackDevice: what the JACK output and input of the nxaudio package share.
// Everything here talks to the JACK C API (libjack, jack/jack.h): there is
// no driver layer of our own; the server (jackd2 on Debian) owns the sound
// card, and these components are ordinary JACK clients.
//
// The real-time rule. A JACK process callback runs on the server's clock, on
// a thread of its own, and must never block, allocate or take a lock that a
// thread of ours could hold for long. So the callbacks touch only what is
// made before the client is activated and stays put until it is closed:
//   - TJackRing: JACK's own lock-free single-producer single-consumer ring
//     (jack_ringbuffer_t from jack/ringbuffer.h), one per channel, of 32-bit
//     float samples (the port's format), locked into memory. The graph's side
//     converts from and to the 64-bit buffers of the library, never the
//     callback;
//   - TJackStats: relaxed atomic counters (underruns, overruns, the server's
//     xruns, frames) and TJackCallbackTimer, a histogram of the callback's
//     own time in 1 us bins, counted with atomic adds;
//   - nothing else: the callback makes no system call either. The graph's
//     thread that feeds (output) or drains (input) the rings looks at them
//     every half period instead of being woken by the callback (a wake-up is
//     a system call, and on a server without real-time priority the woken
//     thread may take the processor from the callback); a POSIX semaphore
//     wakes it early for a stop or the server's shutdown.
//
// Servers. ServerName names the JACK server (jackd -n NAME); empty takes
// $JACK_DEFAULT_SERVER, else "default". No component ever starts a server
// (JackNoStartServer): a missing server is a one-line fault.
#pragma once

#include <jack/jack.h>
#include <jack/ringbuffer.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/types.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "components/NXFlowNode.h"

namespace nx::audio {

// The server a component names: AServerName, else $JACK_DEFAULT_SERVER,
// else "default".
std::string ResolveJackServer(const std::string& AServerName);

// Silences libjack's own messages on stderr (once per process): the
// components report in one line of their own. OpenJackClient calls it.
void QuietJackLibrary();

// Opens a client named AClientName of the server AServerName (see above)
// without starting a server. Throws nx::Exception with one line ("cannot
// reach the JACK server "x": server not running ...") when it fails.
jack_client_t* OpenJackClient(const std::string& AClientName, const std::string& AServerName);

// What JACK's status bits say, as words.
std::string JackStatusText(jack_status_t AStatus);

// "a, b,c" -> {"a", "b", "c"} (blanks around the names dropped).
std::vector<std::string> SplitPortList(const std::string& AText);

// The ports to connect channel by channel: the names in AList, or, when it
// is empty, the server's physical ports of the other direction (playback
// ports for an output, capture ports for an input). Throws nx::Exception when
// a named port does not exist. Entries beyond the channel count are ignored;
// channels beyond the list stay unconnected.
std::vector<std::string> JackTargets(jack_client_t* AClient, const std::string& AList, bool AForOutput,
                                     std::size_t AChannels);

// A lock-free ring of float samples for one producer and one consumer
// (jack_ringbuffer_t), counted in samples.
class TJackRing {
 public:
  explicit TJackRing(std::size_t ACapacity);
  ~TJackRing();
  TJackRing(const TJackRing&) = delete;
  TJackRing& operator=(const TJackRing&) = delete;

  std::size_t ReadSpace() const noexcept { return jack_ringbuffer_read_space(FRing) / sizeof(float); }
  std::size_t WriteSpace() const noexcept { return jack_ringbuffer_write_space(FRing) / sizeof(float); }
  // How many samples went (or came).
  std::size_t Write(const float* ASamples, std::size_t ACount) noexcept;
  std::size_t Read(float* ASamples, std::size_t ACount) noexcept;
  // Drops what is there (consumer side only).
  void Clear() noexcept { jack_ringbuffer_read_advance(FRing, jack_ringbuffer_read_space(FRing)); }

 private:
  jack_ringbuffer_t* FRing;
};

// Appends AFrames frames to the rings, channel c from AChannels[c] (a null
// ring takes nothing): as many frames as every ring has room for, the same
// count in each. A frame that finds one ring full goes into none, so a
// reader that takes the same count from each ring, one ring after another,
// never sees the channels slip apart. Returns the frames appended.
// Wait-free: the real-time callback's.
std::size_t WriteFrames(std::span<const std::unique_ptr<TJackRing>> ARings, const float* const* AChannels,
                        std::size_t AFrames) noexcept;

// The callback's own time, in 1 us bins up to 10 ms (the last bin holds
// everything longer). Record is wait-free.
class TJackCallbackTimer {
 public:
  static constexpr std::size_t Bins = 10001;
  void Record(std::int64_t ANanoseconds) noexcept;
  void Reset() noexcept;
  std::int64_t Count() const noexcept;
  // The time (us) below which AFraction (0 .. 1) of the callbacks finished:
  // the upper edge of the bin that reaches it. 0 when nothing was recorded.
  double Percentile(double AFraction) const noexcept;
  double MaxMicroseconds() const noexcept { return FMaxNs.load(std::memory_order_relaxed) / 1000.0; }

 private:
  std::array<std::atomic<std::uint32_t>, Bins> FBins{};
  std::atomic<std::int64_t> FMaxNs{0};
};

// The counts a component publishes; shared by the component, its device
// thread and the real-time callback (relaxed atomics).
struct TJackStats {
  std::atomic<std::int64_t> Underruns{0};  // periods the graph could not fill (output) or pumps it found short (input)
  std::atomic<std::int64_t> Overruns{0};   // samples that found no room in a ring
  std::atomic<std::int64_t> Xruns{0};      // the server's xruns, as its xrun callback tells this client
  std::atomic<std::int64_t> Frames{0};     // frames of the graph's stream the device played or captured
  std::atomic<std::int64_t> Periods{0};    // process callbacks
  std::atomic<std::uint32_t> PeriodSize{0};
  std::atomic<std::uint32_t> DeviceRate{0};
  TJackCallbackTimer Timer;
  void Reset() noexcept;
  // The live readings: Underruns, Overruns, Xruns, Periods and the
  // callback's own time, 99th percentile in whole microseconds (rounded up).
  void Readings(std::vector<flow::TFlowReading>& AOut) const;
};

// A clock_gettime(CLOCK_MONOTONIC) reading in nanoseconds (async-safe).
std::int64_t JackNowNs() noexcept;

// One device stream: a client, its ports and rings, and the thread of the
// graph's side that feeds (output) or drains (input) the rings. Made when a
// stream starts, it lives until its thread has closed the client; the
// component keeps it (and later ones) until it can join the thread without
// holding a lock that the thread may wait for.
struct TJackSession {
  TJackSession(std::shared_ptr<TJackStats> AStats, std::string AWho);
  ~TJackSession();
  TJackSession(const TJackSession&) = delete;
  TJackSession& operator=(const TJackSession&) = delete;

  // Wakes the graph's thread early (a stop, the server's shutdown).
  void Wake() noexcept { sem_post(&WakeSem); }
  // Waits for a wake-up at most AMicroseconds.
  void WaitWake(std::int64_t AMicroseconds) noexcept;
  // Closes the client (the callback does not run any more once this returns).
  // After a shutdown it first waits (two seconds at most) for the library's
  // notification thread to end; a client whose thread does not end is left
  // open rather than risk a close that never returns, and false is returned:
  // its callbacks may still run, so the caller must keep the session alive
  // (KeepForever).
  bool CloseClient() noexcept;
  // Keeps a session whose client was left open alive until the process ends:
  // the library's threads may still call its callbacks with it.
  static void KeepForever(std::shared_ptr<TJackSession> ASession);
  // The notification thread has reported the shutdown and ended.
  bool NotifierEnded() const noexcept;
  // The fault as one line: the server's shutdown, or empty.
  std::string ShutdownText() const;
  // Joins the thread unless it is the calling one (then it is detached).
  void Join();

  const std::shared_ptr<TJackStats> Stats;
  const std::string Who;            // "TNXJackOutput Out": the component in messages
  std::string Server;               // the server's name
  jack_client_t* Client = nullptr;
  std::vector<jack_port_t*> Ports;  // one per channel
  std::vector<std::unique_ptr<TJackRing>> Rings;  // one per channel (null: the channel is not fed)
  std::vector<std::string> Targets;  // the ports to connect, channel by channel
  std::uint32_t Period = 0;         // frames per process callback
  std::uint32_t Rate = 0;           // the server's sample rate
  sem_t WakeSem;

  std::atomic<bool> StopRequested{false};
  // Every port is connected: the callbacks move samples only from then on,
  // so that no channel starts a period before another and nothing plays
  // into a port not yet connected.
  std::atomic<bool> Connected{false};
  std::atomic<bool> Primed{false};    // output: the rings were full once; underruns count from then on
  std::atomic<bool> Draining{false};  // output: the stream ended; the rings play out
  std::atomic<bool> ServerGone{false};
  std::atomic<bool> Finished{false};  // the thread is done with the client
  char Reason[256] = {};              // the server's words at shutdown (written before ServerGone)
  std::atomic<bool> ReasonTaken{false};  // one shutdown callback writes Reason
  // The library's process thread once the client is active, 0 before (for
  // telling which of the library's threads reports the shutdown).
  std::atomic<pthread_t> ProcessThread{0};
  // The library's notification thread (its kernel thread id), known once it
  // has reported the shutdown: the client is closed after it has ended
  // (see CloseClient).
  std::atomic<pid_t> NotifierTid{0};
  std::thread Thread;

  // Activates the client and connects port c to Targets[c] (in the
  // direction AOutput says). Throws nx::Exception with one line.
  void ActivateAndConnect(bool AOutput);

  // The callbacks every session installs besides its process callback:
  // xruns are counted, a shutdown marks the session and wakes its thread.
  void InstallCommonCallbacks();
  // What both shutdown callbacks do (async-safe).
  void NoteShutdown(const char* AReason) noexcept;
};

// What each JACK component keeps beside its running session: the counts,
// the first fault of the run, the last session (whose shutdown line is the
// fault when nothing else went wrong), and the sessions whose threads are
// still to be joined. Safe from any thread.
class TJackEndpoint {
 public:
  const std::shared_ptr<TJackStats> Stats = std::make_shared<TJackStats>();

  // A new run: the counts and the fault start again.
  void Reset();
  // The first fault of a run stays.
  void SetFault(const std::string& AFault);
  // The session whose shutdown is reported as the fault.
  void Running(const std::shared_ptr<TJackSession>& ASession);
  std::string Fault() const;
  // Tells the session's thread to stop and keeps it to be joined later: it
  // is not waited for, since it may be waiting for a lock the caller holds.
  void Retire(std::shared_ptr<TJackSession> ASession);
  // Joins the retired sessions whose threads have finished (AAll: every one).
  void JoinRetired(bool AAll);
  // The stream time the device has paced.
  double PacedSeconds() const;
  // One line for the run's report: the device and the counts (ACaptured:
  // the seconds captured too).
  std::string ReportLine(const std::string& AServer, bool ACaptured) const;

 private:
  mutable std::mutex FFaultLock;
  std::string FFault;
  std::shared_ptr<TJackSession> FFaultSession;
  std::mutex FRetiredLock;
  std::vector<std::shared_ptr<TJackSession>> FRetired;
};

}  // namespace nx::audio
