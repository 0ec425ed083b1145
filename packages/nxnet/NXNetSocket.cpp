// NXNetSocket: ZeroMQ sockets for the network components.
#include "packages/nxnet/NXNetSocket.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <random>
#include <vector>

namespace nx::net {

namespace {

// The process's context: made with the first socket, ended with the last.
std::shared_ptr<void> SharedContext() {
  static std::mutex lock;
  static std::weak_ptr<void> current;
  std::lock_guard guard(lock);
  if (std::shared_ptr<void> context = current.lock()) return context;
  void* raw = zmq_ctx_new();
  if (!raw) throw ENetError(std::string("cannot make a ZeroMQ context: ") + zmq_strerror(errno));
  std::shared_ptr<void> context(raw, [](void* AContext) {
    // Waits for each closed socket's linger time: what a sender queued leaves first.
    while (zmq_ctx_term(AContext) == -1 && errno == EINTR) {
    }
  });
  current = context;
  return context;
}

std::uint32_t RandomSender() {
  std::random_device device;
  const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  return device() ^ static_cast<std::uint32_t>(now) ^ static_cast<std::uint32_t>(now >> 32);
}

void SetOption(void* ASocket, int AOption, const void* AValue, std::size_t ASize, const std::string& AEndpoint) {
  if (zmq_setsockopt(ASocket, AOption, AValue, ASize) != 0)
    throw ENetError(AEndpoint + ": " + zmq_strerror(errno));
}

}  // namespace

std::size_t NXNetMaxFrame(std::uint32_t AMaxSamples) noexcept {
  // The widest element is 16 bytes.
  return kNetHeaderSize + static_cast<std::size_t>(AMaxSamples) * 16;
}

// ---------------------------------------------------------------- frame

TNXNetFrame::TNXNetFrame() { zmq_msg_init(&FMessage); }
TNXNetFrame::~TNXNetFrame() { zmq_msg_close(&FMessage); }

std::span<const std::byte> TNXNetFrame::Bytes() const noexcept {
  return {static_cast<const std::byte*>(zmq_msg_data(&FMessage)), zmq_msg_size(&FMessage)};
}

// ---------------------------------------------------------------- socket

TNXNetSocket::TNXNetSocket(TNXNetRole ARole, const TNXNetSocketOptions& AOptions)
    : FContext(SharedContext()), FOptions(AOptions), FRole(ARole), FSender(RandomSender()) {
  const bool sender = ARole == TNXNetRole::Sender;
  const int type = FOptions.PubSub ? (sender ? ZMQ_PUB : ZMQ_SUB) : (sender ? ZMQ_PUSH : ZMQ_PULL);
  const std::string& where = FOptions.Endpoint;
  FSocket = zmq_socket(FContext.get(), type);
  if (!FSocket) throw ENetError(where + ": " + zmq_strerror(errno));
  try {
    const int hwm = FOptions.HighWaterMark < 1 ? 1 : FOptions.HighWaterMark;
    if (sender) {
      SetOption(FSocket, ZMQ_SNDHWM, &hwm, sizeof hwm, where);
      const int timeout = FOptions.TimeoutMs > 0 ? FOptions.TimeoutMs : -1;
      SetOption(FSocket, ZMQ_SNDTIMEO, &timeout, sizeof timeout, where);
      // What is queued when the socket closes may take as long to leave as
      // one send may wait.
      SetOption(FSocket, ZMQ_LINGER, &timeout, sizeof timeout, where);
    } else {
      SetOption(FSocket, ZMQ_RCVHWM, &hwm, sizeof hwm, where);
      // A sender's closing flush messages always pass.
      const std::int64_t most = static_cast<std::int64_t>(
          2 * std::max(NXNetMaxFrame(FOptions.MaxSamples), kNetHeaderSize + kNetMaxFlush));
      SetOption(FSocket, ZMQ_MAXMSGSIZE, &most, sizeof most, where);
      const int linger = 0;
      SetOption(FSocket, ZMQ_LINGER, &linger, sizeof linger, where);
      if (FOptions.PubSub) SetOption(FSocket, ZMQ_SUBSCRIBE, "", 0, where);
    }
    if (sender && !FOptions.PubSub) {
      const std::string monitor = Format("inproc://nxnet-monitor-%p-%08x", static_cast<void*>(this), FSender);
      if (zmq_socket_monitor(FSocket, monitor.c_str(),
                             ZMQ_EVENT_CONNECTED | ZMQ_EVENT_ACCEPTED | ZMQ_EVENT_DISCONNECTED) == 0) {
        FMonitor = zmq_socket(FContext.get(), ZMQ_PAIR);
        const int none = 0;
        if (FMonitor) zmq_setsockopt(FMonitor, ZMQ_LINGER, &none, sizeof none);
        if (FMonitor && zmq_connect(FMonitor, monitor.c_str()) != 0) {
          zmq_close(FMonitor);
          FMonitor = nullptr;
        }
      }
    }
    const int rc = FOptions.Bind ? zmq_bind(FSocket, where.c_str()) : zmq_connect(FSocket, where.c_str());
    if (rc != 0)
      throw ENetError(where + ": cannot " + (FOptions.Bind ? "bind" : "connect") + ": " + zmq_strerror(errno));
  } catch (...) {
    if (FMonitor) zmq_close(FMonitor);
    const int linger = 0;
    zmq_setsockopt(FSocket, ZMQ_LINGER, &linger, sizeof linger);
    zmq_close(FSocket);
    throw;
  }
}

void TNXNetSocket::ReadMonitor() {
  if (!FMonitor) return;
  for (;;) {
    zmq_msg_t part;
    zmq_msg_init(&part);
    if (zmq_msg_recv(&part, FMonitor, ZMQ_DONTWAIT) < 0) {
      zmq_msg_close(&part);
      return;
    }
    // An event: 2 bytes of event, 4 of value, then a part with the address.
    if (zmq_msg_size(&part) >= 2) {
      std::uint16_t event = 0;
      std::memcpy(&event, zmq_msg_data(&part), sizeof event);
      if (event == ZMQ_EVENT_CONNECTED || event == ZMQ_EVENT_ACCEPTED) ++FPeers;
      if (event == ZMQ_EVENT_DISCONNECTED && FPeers > 0) --FPeers;
    }
    int more = zmq_msg_more(&part);
    zmq_msg_close(&part);
    while (more) {
      zmq_msg_init(&part);
      if (zmq_msg_recv(&part, FMonitor, ZMQ_DONTWAIT) < 0) more = 0;
      else more = zmq_msg_more(&part);
      zmq_msg_close(&part);
    }
  }
}

TNXNetSocket::~TNXNetSocket() {
  if (!FSocket) return;
  ReadMonitor();
  if (FSequence > 0 && !FOptions.PubSub && FRole == TNXNetRole::Sender && (FPeers > 0 || !FMonitor)) {
    const int timeout = FOptions.TimeoutMs > 0 && FOptions.TimeoutMs < 5000 ? FOptions.TimeoutMs : 5000;
    zmq_setsockopt(FSocket, ZMQ_SNDTIMEO, &timeout, sizeof timeout);
    zmq_setsockopt(FSocket, ZMQ_LINGER, &timeout, sizeof timeout);
    const std::vector<std::byte> padding(kNetMaxFlush);
    for (int i = 0; i < 2; ++i)
      if (!Send(TNXNetKind::Flush, TNXNetElement::Byte, 0, padding.data(), kNetMaxFlush)) break;
  }
  if (FMonitor) {
    zmq_socket_monitor(FSocket, nullptr, 0);
    zmq_close(FMonitor);
  }
  zmq_close(FSocket);
}

std::string TNXNetSocket::BoundEndpoint() const {
  char text[1024] = {};
  std::size_t size = sizeof text;
  if (zmq_getsockopt(FSocket, ZMQ_LAST_ENDPOINT, text, &size) != 0 || text[0] == 0) return FOptions.Endpoint;
  return std::string(text);
}

bool TNXNetSocket::Send(TNXNetKind AKind, TNXNetElement AElement, double ASampleRate, const void* APayload,
                        std::uint32_t ACount) {
  const std::size_t size = NXNetEncodedSize(AElement, ACount);
  zmq_msg_t message;
  if (zmq_msg_init_size(&message, size) != 0) return false;
  TNXNetMessage fields;
  fields.Kind = AKind;
  fields.Element = AElement;
  fields.Sender = FSender;
  fields.Sequence = FSequence;
  fields.SampleRate = ASampleRate;
  fields.Count = ACount;
  fields.Payload = {static_cast<const std::byte*>(APayload), size - kNetHeaderSize};
  NXNetEncode(fields, {static_cast<std::byte*>(zmq_msg_data(&message)), size});
  for (;;) {
    if (zmq_msg_send(&message, FSocket, 0) >= 0) {
      // The monitor's events are read now and then, so that they never pile up.
      if ((++FSequence & 63) == 0) ReadMonitor();
      return true;
    }
    if (errno != EINTR) break;
  }
  zmq_msg_close(&message);
  return false;
}

TNXNetReceive TNXNetSocket::Receive(TNXNetFrame& AFrame, std::int32_t ATimeoutMs, const std::atomic<bool>& ACancel) {
  using TClock = std::chrono::steady_clock;
  const auto deadline = TClock::now() + std::chrono::milliseconds(ATimeoutMs);
  constexpr long kSliceMs = 20;
  for (;;) {
    if (ACancel.load(std::memory_order_acquire)) return TNXNetReceive::Cancelled;
    if (zmq_msg_recv(AFrame.Message(), FSocket, ZMQ_DONTWAIT) >= 0) {
      int more = 0;
      std::size_t size = sizeof more;
      zmq_getsockopt(FSocket, ZMQ_RCVMORE, &more, &size);
      if (!more) return TNXNetReceive::Message;
      // The rest of a message arrives with its first part: read and drop it.
      while (more && zmq_msg_recv(AFrame.Message(), FSocket, ZMQ_DONTWAIT) >= 0) {
        size = sizeof more;
        zmq_getsockopt(FSocket, ZMQ_RCVMORE, &more, &size);
      }
      return TNXNetReceive::Multipart;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return TNXNetReceive::Cancelled;  // the context is ending
    long wait = kSliceMs;
    if (ATimeoutMs > 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
      if (left <= 0) return TNXNetReceive::Timeout;
      wait = std::min<long>(wait, left);
    }
    zmq_pollitem_t item{FSocket, 0, ZMQ_POLLIN, 0};
    zmq_poll(&item, 1, wait);
  }
}

}  // namespace nx::net
