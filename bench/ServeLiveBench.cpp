// What the live page of `nxflow serve` costs, measured on the filter demo
// in this process over loopback (a plain program, run by hand):
//   1. wall clock, one page: pictures per second of each display as a page
//      fetches them (one at a time, the next once the last arrived), the
//      share of one core the server spent drawing and encoding them, and how
//      late a picture goes out after the samples it shows left their
//      generator (99th percentile, bounded from the server's figures);
//   2. virtual time as fast as it goes: stream seconds per wall second with
//      no page open and with 8 pages open (each an event stream and a
//      picture fetcher, as the page is);
//   3. a client that opens the event stream and never reads it, for
//      --stall S seconds (default 60) beside one page: the server's resident
//      memory before and after, and whether the page still got pictures.
//
//   serve_live [--seconds S] [--stall S] [--spectrum-order N]
//
// S (default 5) is the length of each measurement of 1 and 2. The spectrum
// views can show no more pictures than their spectra come: one per 2^12
// samples in the demo, 11.7 a second at 48 kHz; --spectrum-order N runs the
// demo with 2^N-point spectra instead (11: 23.4 a second).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "nxflow/NXFlowPackages.h"
#include "nxflow/NXFlowServe.h"

namespace fs = std::filesystem;
using namespace nx::flow;

namespace {

int Connect(int APort) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  timeval timeout{2, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(APort));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int AFd, const std::string& AData) {
  for (std::size_t sent = 0; sent < AData.size();) {
    const ssize_t n = ::send(AFd, AData.data() + sent, AData.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads one HTTP answer with a Content-Length from a kept-alive connection.
bool ReadAnswer(int AFd, std::string& ABuffer) {
  char chunk[65536];
  for (;;) {
    const std::size_t head = ABuffer.find("\r\n\r\n");
    if (head != std::string::npos) {
      const std::size_t at = ABuffer.find("Content-Length: ");
      const std::size_t length = at < head ? std::strtoul(ABuffer.c_str() + at + 16, nullptr, 10) : 0;
      if (ABuffer.size() >= head + 4 + length) {
        ABuffer.erase(0, head + 4 + length);
        return true;
      }
    }
    const ssize_t n = ::recv(AFd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    ABuffer.append(chunk, static_cast<std::size_t>(n));
  }
}

// A page: reads the event stream and fetches each display's newest picture
// one at a time over a second connection, as the built-in page does.
class TPage {
 public:
  // AFetch: false for a client that only reads the event stream.
  TPage(int APort, const std::string& AToken, bool AFetch = true) : FPort(APort), FToken(AToken), FFetch(AFetch) {
    FThread = std::thread([this] { Run(); });
  }
  ~TPage() {
    FStop = true;
    FThread.join();
  }
  std::map<std::string, long> Shown() {
    std::lock_guard guard(FLock);
    return FShown;
  }
  // The stream time of the latest figures (-1 before the first).
  double StreamSeconds() {
    std::lock_guard guard(FLock);
    return FStreamSeconds;
  }

 private:
  void Run() {
    const int events = Connect(FPort);
    int pictures = FFetch ? Connect(FPort) : -1;
    if (events < 0 || (FFetch && pictures < 0)) return;
    SendAll(events, "GET /api/events?token=" + FToken + " HTTP/1.1\r\nHost: x\r\n\r\n");
    std::string stream, answers;
    std::map<std::string, bool> wanted;
    char chunk[16384];
    while (!FStop) {
      const ssize_t n = ::recv(events, chunk, sizeof chunk, 0);
      if (n <= 0) continue;
      stream.append(chunk, static_cast<std::size_t>(n));
      static const std::string kFrame = "event: frame\ndata: {\"name\": \"";
      for (std::size_t at; (at = stream.find(kFrame)) != std::string::npos;) {
        const std::size_t end = stream.find("\n\n", at);
        if (end == std::string::npos) break;
        const std::size_t from = at + kFrame.size();
        wanted[stream.substr(from, stream.find('"', from) - from)] = true;
        stream.erase(0, end + 2);
      }
      if (const std::size_t at = stream.rfind("\"streamSeconds\": "); at != std::string::npos) {
        std::lock_guard guard(FLock);
        FStreamSeconds = std::strtod(stream.c_str() + at + 17, nullptr);
      }
      if (const std::size_t at = stream.rfind("\n\n"); at != std::string::npos) stream.erase(0, at + 2);
      if (!FFetch) continue;
      for (auto& [name, want] : wanted) {
        if (!want) continue;
        want = false;
        const std::string request = "GET /api/picture/" + name + "?token=" + FToken + " HTTP/1.1\r\nHost: x\r\n\r\n";
        if (!SendAll(pictures, request) || !ReadAnswer(pictures, answers)) {
          // The server ended the kept-alive connection: a browser opens another.
          ::close(pictures);
          answers.clear();
          pictures = Connect(FPort);
          if (pictures < 0 || !SendAll(pictures, request) || !ReadAnswer(pictures, answers)) break;
        }
        std::lock_guard guard(FLock);
        ++FShown[name];
      }
    }
    ::close(events);
    ::close(pictures);
  }

  int FPort;
  std::string FToken;
  bool FFetch;
  std::atomic<bool> FStop{false};
  std::mutex FLock;
  std::map<std::string, long> FShown;
  double FStreamSeconds = -1;
  std::thread FThread;
};

double Number(const std::string& AText, const std::string& AName) {
  const std::size_t at = AText.rfind("\"" + AName + "\": ");
  return at == std::string::npos ? -1 : std::strtod(AText.c_str() + at + AName.size() + 4, nullptr);
}

// The latest figures of the event stream (read for about a second).
std::string Figures(int APort, const std::string& AToken) {
  const int fd = Connect(APort);
  SendAll(fd, "GET /api/events?token=" + AToken + " HTTP/1.1\r\nHost: x\r\n\r\n");
  std::string data, last;
  char chunk[16384];
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1100);
  while (std::chrono::steady_clock::now() < until) {
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    data.append(chunk, static_cast<std::size_t>(n));
    const std::size_t at = data.rfind("data: {\"state\"");
    const std::size_t end = at == std::string::npos ? at : data.find("\n\n", at);
    if (end != std::string::npos) last = data.substr(at, end - at);
  }
  ::close(fd);
  return last;
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

struct TServer {
  TServer(TPackageLoader& APackages, const fs::path& ADir, double AVirtualRate) {
    TServeOptions options;
    options.Graph = (ADir / "filter-demo.xml").string();
    options.Port = 0;
    options.OutDir = (ADir / "out").string();
    options.VirtualRate = AVirtualRate;
    Server = std::make_unique<TGraphServer>(options, APackages);
    Port = Server->Start();
  }
  std::unique_ptr<TGraphServer> Server;
  int Port = 0;
};

// Pages fetch pictures; with none, one client reads the event stream only.
// Eight pages hold the sixteen connections the server takes.
double StreamSecondsPerSecond(TPackageLoader& APackages, const fs::path& ADir, int APages, double ASeconds) {
  TServer s(APackages, ADir, 1e4);
  std::vector<std::unique_ptr<TPage>> pages;
  for (int i = 0; i < std::max(APages, 1); ++i)
    pages.push_back(std::make_unique<TPage>(s.Port, s.Server->Token(), APages > 0));
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  const double from = pages[0]->StreamSeconds();
  const auto began = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(ASeconds));
  const double to = pages[0]->StreamSeconds();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  pages.clear();
  return (to - from) / wall;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 5, stall = 60;
  int spectrumOrder = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string word = argv[i];
    if (word == "--seconds") seconds = std::atof(argv[i + 1]);
    else if (word == "--stall") stall = std::atof(argv[i + 1]);
    else if (word == "--spectrum-order") spectrumOrder = std::atoi(argv[i + 1]);
    else {
      std::fprintf(stderr, "usage: serve_live [--seconds S] [--stall S] [--spectrum-order N]\n");
      return 2;
    }
  }
  const fs::path dir = fs::temp_directory_path() / ("serve-live-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::copy_file(fs::path(NX_SERVE_GRAPHS) / "filter-demo.xml", dir / "filter-demo.xml");
  if (spectrumOrder > 0) {
    std::ifstream in(dir / "filter-demo.xml");
    std::ostringstream text;
    for (std::string line; std::getline(in, line);) {
      if (const std::size_t at = line.find("Order=\"12\""); at != std::string::npos && line.find("<TNXSpectrum ") != std::string::npos)
        line.replace(at, 10, "Order=\"" + std::to_string(spectrumOrder) + "\"");
      text << line << "\n";
    }
    in.close();
    std::ofstream(dir / "filter-demo.xml") << text.str();
    std::printf("spectra of 2^%d points: %.1f a second at 48 kHz\n", spectrumOrder, 48000.0 / (1 << spectrumOrder));
  }
  TPackageLoader packages({NX_SERVE_PACKAGES}, "");

  {
    std::printf("1. wall clock, one page, %.0f s\n", seconds);
    TServer s(packages, dir, 0);
    TPage page(s.Port, s.Server->Token());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto before = page.Shown();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const auto after = page.Shown();
    const std::string figures = Figures(s.Port, s.Server->Token());
    std::printf("   %-16s %10s %10s\n", "display", "drawn/s", "shown/s");
    for (const auto& [name, count] : after) {
      const long earlier = before.count(name) ? before.at(name) : 0;
      const std::size_t at = figures.find("\"" + name + "\": {\"framesPerSecond\": ");
      const double drawn = at == std::string::npos ? -1 : std::strtod(figures.c_str() + at + name.size() + 23, nullptr);
      std::printf("   %-16s %10.1f %10.1f\n", name.c_str(), drawn, double(count - earlier) / seconds);
    }
    std::printf("   drawing and encoding: %.3f of one core\n", Number(figures, "paintLoad"));
    // From a sample leaving its generator to its picture going out, per
    // display, bounded by its three stages: the clock tick to the display's
    // input pin (99th percentile of the link's figures), at most one look of
    // the painter (10 ms) until it sees the change, and from then until the
    // picture is sent (99th percentile of the server's figure).
    std::printf("   sample to picture sent, 99th percentile (upper bound):\n");
    std::printf("   %-16s %10s %10s %10s %10s\n", "display", "to pin", "painter", "to page", "bound");
    double worst = 0;
    for (const auto& [name, count] : after) {
      const std::size_t link = figures.find("\"to\": \"" + name + ".InputPin\"");
      const std::size_t display = figures.find("\"" + name + "\": {\"framesPerSecond\": ");
      if (link == std::string::npos || display == std::string::npos) continue;
      const std::size_t p99 = figures.find("\"latencyP99\": ", link);
      const std::size_t age = figures.find("\"pictureAgeP99\": ", display);
      const double toPin = std::strtod(figures.c_str() + p99 + 15, nullptr);
      const double toPage = std::strtod(figures.c_str() + age + 18, nullptr);
      const double bound = toPin + 0.010 + toPage;
      worst = std::max(worst, bound);
      std::printf("   %-16s %8.2f ms %8.2f ms %8.2f ms %8.2f ms\n", name.c_str(), toPin * 1e3, 10.0, toPage * 1e3,
                  bound * 1e3);
    }
    std::printf("   worst: %.1f ms (goal: at most 100 ms)\n", worst * 1e3);
  }
  {
    std::printf("2. virtual time as fast as it goes, %.0f s each\n", seconds);
    const double alone = StreamSecondsPerSecond(packages, dir, 0, seconds);
    const double eight = StreamSecondsPerSecond(packages, dir, 8, seconds);
    std::printf("   no page: %.1f x real time; 8 pages: %.1f x real time; ratio %.3f\n", alone, eight, eight / alone);
  }
  {
    std::printf("3. a client that stops reading, %.0f s\n", stall);
    TServer s(packages, dir, 0);
    TPage page(s.Port, s.Server->Token());
    const int stalled = Connect(s.Port);
    int buffer = 4096;
    ::setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    SendAll(stalled, "GET /api/events?token=" + s.Server->Token() + " HTTP/1.1\r\nHost: x\r\n\r\n");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long rss0 = ResidentKiB();
    const auto before = page.Shown();
    std::this_thread::sleep_for(std::chrono::duration<double>(stall));
    const long rss1 = ResidentKiB();
    long shown = 0;
    for (const auto& [name, count] : page.Shown()) shown += count - (before.count(name) ? before.at(name) : 0);
    std::printf("   resident memory %ld KiB -> %ld KiB (%+ld KiB); the other page got %.1f pictures/s\n", rss0, rss1,
                rss1 - rss0, double(shown) / stall);
    ::close(stalled);
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
