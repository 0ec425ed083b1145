// NXNetSocket: the two ends of a network link over ZeroMQ (libzmq's C API).
//
//   PUSH/PULL  one consumer; a send waits while the consumer's queue and
//              ours are full (back-pressure): nothing is lost;
//   PUB/SUB    any number of consumers; a consumer that falls behind loses
//              messages (its receiver counts them from the sequence numbers).
//
// Either end binds or connects. The sender numbers every message it sends
// (one random sender id per socket, sequence from 0). The receiver caps what
// libzmq may take in (ZMQ_MAXMSGSIZE: twice the largest message the decoder
// accepts, so that a slightly oversized one still arrives to be counted and
// a huge one is refused before anything is allocated for it), refuses
// multi-part messages and decodes each frame (NXNetMessage.h).
//
// Closing a PUSH sender. libzmq may lose the last message or two a PUSH
// socket sent when it closes while its consumer is behind (its queues full),
// whatever the linger time (libzmq issues 1922 and 4660). So a PUSH sender
// that sent anything sends two flush messages of 64 KiB last, which take
// the place of what could be lost, waiting for each at most its send
// timeout (5 s at most); receivers ignore them. It follows its connections
// (a ZeroMQ socket monitor) and sends no flush when no consumer is
// connected any more, so that a sender whose consumer has gone closes at once.
//
// One ZeroMQ context serves the process; it ends with the last socket, and
// ending waits, at most each socket's linger time, for what was queued to
// leave. A socket is used by one thread at a time (the components serialise
// their use of it under a lock of their own).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include <zmq.h>

#include "packages/nxnet/NXNetMessage.h"
#include "runtime/SysUtils.h"

namespace nx::net {

NX_DECLARE_EXCEPTION(ENetError, Exception, "Network error")

enum class TNXNetRole : std::uint8_t { Sender, Receiver };

struct TNXNetSocketOptions {
  bool PubSub = false;           // PUB/SUB, else PUSH/PULL
  std::string Endpoint;          // "tcp://127.0.0.1:5555", "ipc:///tmp/x" ...
  bool Bind = false;             // bind, else connect
  std::int32_t HighWaterMark = 1000;  // messages queued per peer
  std::int32_t TimeoutMs = 0;    // sender: how long a send waits (0: for ever)
  std::uint32_t MaxSamples = 1u << 20;  // receiver: the largest buffer taken
};

// A received frame, held in libzmq's message (no copy).
class TNXNetFrame {
 public:
  TNXNetFrame();
  ~TNXNetFrame();
  TNXNetFrame(const TNXNetFrame&) = delete;
  TNXNetFrame& operator=(const TNXNetFrame&) = delete;
  std::span<const std::byte> Bytes() const noexcept;
  zmq_msg_t* Message() noexcept { return &FMessage; }

 private:
  mutable zmq_msg_t FMessage;
};

enum class TNXNetReceive : std::uint8_t {
  Message,    // a frame arrived
  Multipart,  // a message of several frames arrived and was thrown away
  Timeout,    // nothing within the time given
  Cancelled,  // ACancel turned true while waiting
};

class TNXNetSocket {
 public:
  // Opens, sets the options and binds or connects. ENetError naming the
  // endpoint and libzmq's reason when it cannot.
  TNXNetSocket(TNXNetRole ARole, const TNXNetSocketOptions& AOptions);
  // Closes; what the sender queued may still leave for its linger time
  // (the send timeout, or for ever without one) while the context ends.
  ~TNXNetSocket();
  TNXNetSocket(const TNXNetSocket&) = delete;
  TNXNetSocket& operator=(const TNXNetSocket&) = delete;

  const TNXNetSocketOptions& Options() const noexcept { return FOptions; }
  // The endpoint as bound (a "tcp://...:*" wildcard resolved to its port).
  std::string BoundEndpoint() const;

  // Sends one message of AKind with ACount elements of AElement from
  // APayload (host order), numbered with the next sequence number. False
  // when the send timed out (the message is not sent and its number is not
  // used). PUB never waits: a message a slow subscriber has no room for is
  // dropped for that subscriber.
  bool Send(TNXNetKind AKind, TNXNetElement AElement, double ASampleRate, const void* APayload,
            std::uint32_t ACount);
  std::uint64_t Sent() const noexcept { return FSequence; }
  std::uint32_t SenderId() const noexcept { return FSender; }

  // Waits up to ATimeoutMs (0: for ever) for the next message, looking at
  // ACancel at least every 20 ms.
  TNXNetReceive Receive(TNXNetFrame& AFrame, std::int32_t ATimeoutMs, const std::atomic<bool>& ACancel);

 private:
  std::shared_ptr<void> FContext;
  void* FSocket = nullptr;
  TNXNetSocketOptions FOptions;
  TNXNetRole FRole;
  // PUSH senders: the monitor's end and the consumers connected.
  void* FMonitor = nullptr;
  std::int32_t FPeers = 0;
  void ReadMonitor();
  std::uint32_t FSender = 0;
  std::uint64_t FSequence = 0;
};

// The largest frame a receiver with this sample cap decodes.
std::size_t NXNetMaxFrame(std::uint32_t AMaxSamples) noexcept;

}  // namespace nx::net
